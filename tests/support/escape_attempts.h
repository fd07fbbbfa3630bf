// What an exploited reader of a mesh file would try first, each attempt on a target a test set up
// for it: read the user's secrets, change the user's files (the one it reads too), reach the
// network, the session bus or another process, start a shell. Used inside a test's own child and inside the real tools.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

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
};

struct EscapeOutcome {
    std::string what;
    bool done = false; // the attempt worked
    int error = 0;     // why it did not
};

std::vector<EscapeOutcome> try_to_escape(const EscapeTargets& targets);

// One line an attempt: "WHAT: done" or "WHAT: refused (REASON)".
std::string outcome_lines(const std::vector<EscapeOutcome>& outcomes);

// The outcomes back from outcome_lines (the reasons only as words: `error` stays 0).
std::vector<EscapeOutcome> parse_outcome_lines(const std::string& lines);
