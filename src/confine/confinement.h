// What a process that reads a file it did not write may still do once it has confined itself:
// work on the descriptors it was handed (read its input, write its report and its output), with
// threads and memory, and nothing else: no file opened, no program or process started, no other
// process reached, no socket, no terminal, no privilege, even as root.
#pragma once

#include <string>

// The kinds of confined process; each has its own list of the calls it is seen to need.
enum class ConfinedKind {
    reading,    // reads its input and says what it found: the viewer's reading, a judgement, a stream's copy
    converting, // the converter's import: reads its input and the files it names (asked of its parent), writes its output
    drawing,    // the thumbnailer's drawing: reads a mesh, draws it in software, sends the pixels
};

// A confined child's descriptors, always at these numbers, so that the rules can name them.
const int report_descriptor = 3; // what it says to its parent
const int input_descriptor = 4;  // what it reads
const int output_descriptor = 5; // what it writes besides its report: the text, a stream's copy
const int broker_descriptor = 6; // where the converter's import asks its parent for the files it names

// What the kernel gave; a kernel too old for a part, or a host sandbox that refuses it, leaves
// that part out and the rest in force.
struct Confinement {
    bool new_session = false;         // no controlling terminal
    bool no_new_privileges = false;   // no program started later could gain rights
    bool capabilities_dropped = false; // effective, permitted, inheritable and ambient sets empty
    bool bounding_set_empty = false;  // and the bounding set (which takes privilege: root's alone)
    bool secure_bits_locked = false;  // root's uid would give no capability back (root's alone)
    bool seccomp_filter = false;      // only the kind's own calls; every other answers EPERM
    int landlock_abi = 0;             // the kernel's Landlock version; 0 none (or refused)
    bool landlock_files = false;      // no file opened by name at all
    bool landlock_tcp = false;        // TCP bind and connect refused (Landlock 4 on)
    bool landlock_scoped = false;     // signals and abstract local sockets kept within (Landlock 6 on)
};

// The part that must come while the process has one thread: a session of its own, capabilities
// and privileges given up. Call it before anything of the file is read.
void confine_privileges(Confinement& got);

// The part that shuts the process in: no file opened by name (Landlock) and only the kind's calls
// (seccomp, on every thread). A process whose preparation opens files (the drawing's software
// rasteriser) calls it once prepared, still before anything of the file is read.
void confine_calls(ConfinedKind kind, Confinement& got);

// Both, in order.
Confinement confine(ConfinedKind kind);

// What a process confined as `kind` gets on this machine, found by confining a child and hearing
// what took; the caller itself stays as it was.
Confinement confinement_on_offer(ConfinedKind kind);

// One line's words, as --version prints them after "confinement: ".
std::string describe_confinement(const Confinement& got);
