// What an exploited reader of a mesh file would try first, each attempt on a target a test set up
// for it: read the user's secrets, change the user's files (the one it reads too), reach the
// network, the session bus, the terminal, the kernel or another process, start a shell, leave a
// process behind. Used inside a test's own child and inside the real tools.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Groups of attempts; a test asks for those whose targets it has set up.
enum AttemptSet : unsigned {
    first_attempts = 1,       // files by name, sockets, a shell, another process, the terminal given
    through_descriptors = 2,  // the input's and a folder's mode, owner and attributes; a lock, a lease
    watching = 4,             // inotify, fanotify and a file handle on the user's secrets
    secrets = 8,              // /etc/shadow, the parent's environment and descriptors
    system_calls = 16,        // the kernel's log, the host name, reboot, kexec, modules, swap, mount, chroot
    terminal_calls = 32,      // ioctls on 0, 1, 2 and /dev/tty; escape sequences written on 1 and 2
    processes = 64,           // a socket, a sibling signalled, a process left behind
    every_attempt = 127,
    // The same effects as the first attempts by every other route a payload may take: other
    // calls to open, create, start or signal, and each kind of file a name can make.
    other_routes = 128,
};

// The extended attribute the tests put on the input and on the folder beside it, which an
// attempt removes (and puts back when it could).
const char* const kept_attribute = "user.olvanta.kept";
const char* const kept_value = "kept";

struct EscapeTargets {
    std::string input;             // the file being read, which must stay as it is
    std::string home;              // holds .ssh/id_rsa and .bashrc
    std::string beside;            // a file in a folder beside the input's
    std::string temporary_folder;  // where a new file is tried: /tmp
    int tcp_port = 0;              // listening on 127.0.0.1
    std::string local_socket;      // a listening local socket's name
    std::string abstract_socket;   // a listening abstract local socket's name, without its leading 0
    pid_t victim = 0;              // a process of the same user
    int terminal = -1;             // a terminal to fake input on; -1 leaves that attempt out
    unsigned sets = first_attempts;
    int input_descriptor = -1;     // the descriptor the reader holds the input by
    int output_descriptor = -1;    // the output it writes, which it may only append to; -1: none
    std::string beside_folder;     // the folder that holds `beside`
    std::string output;            // what a process left behind would rewrite 3 s later
    pid_t parent = 0;              // whose environment and descriptors must stay its own
    pid_t sibling = 0;             // another child of the same parent
    std::string host_name;         // this machine's, set again unchanged
    std::string mount_point;       // an empty folder to mount on and to change the root to
    bool as_root = false;          // the attempts run as root: devices may be made
    std::string lone_program;      // a program that needs no library and exits with 77; empty
                                   // where there is none for this machine
    std::string spare_folder;      // the user's files to remove, rename and empty: "remove-me",
                                   // "rename-me", "keep-me" (holding kept_text) and the folder "empty"
};

const char* const kept_text = "kept\n";

// The whole of a program for x86-64 Linux that needs no library, no loader and no file: it exits
// with status 77. Started, it shows the start itself was allowed, whatever else is refused.
const unsigned char lone_program_bytes[] = {
    0x7f, 0x45, 0x4c, 0x46, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x02, 0x00, 0x3e, 0x00, 0x01, 0x00, 0x00, 0x00, 0x78, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x38, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x84, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xbf, 0x4d, 0x00, 0x00, 0x00, 0xb8, 0x3c, 0x00,
    0x00, 0x00, 0x0f, 0x05,
};

struct EscapeOutcome {
    std::string what;
    bool done = false; // it worked, or reached the kernel with arguments the kernel refuses harmlessly
    int error = 0;     // why it did not
    std::string reason; // the same in words, as parse_outcome_lines finds it
    std::string got;   // what a reading attempt read: what an attacker would carry away
};

std::vector<EscapeOutcome> try_to_escape(const EscapeTargets& targets);

// One line an attempt: "WHAT: done" or "WHAT: refused (REASON)", then "  got: BYTES" (escaped)
// for a reading that read something.
std::string outcome_lines(const std::vector<EscapeOutcome>& outcomes);

// The outcomes back from outcome_lines (the reasons only as words: `error` stays 0).
std::vector<EscapeOutcome> parse_outcome_lines(const std::string& lines);
