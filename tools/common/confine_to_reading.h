// What a process that reads a file it did not write may still do afterwards: read the system's
// libraries and the places it names, write through descriptors it already holds, and nothing else:
// no program started, no process traced or signalled, no socket, no file made, changed or removed.
#pragma once

#include <string>
#include <vector>

// What the kernel gave; a kernel too old for a part, or a host sandbox that refuses it, leaves
// that part out and the rest in force.
struct ReadingConfinement {
    bool no_new_privileges = false; // no program started later could gain rights
    bool seccomp_filter = false;    // the refused calls answer EPERM
    int landlock_abi = 0;           // the kernel's Landlock version; 0 none (or refused)
    bool landlock_files = false;    // files readable only where named, nothing writable
    bool landlock_tcp = false;      // TCP bind and connect refused (Landlock 4 on)
    bool landlock_scoped = false;   // signals and abstract local sockets kept within (Landlock 6 on)
};

// Confines the calling process for good, before it reads its input. `readable` names the files
// and folders (everything beneath) it may read besides the system's read-only folders; a name
// that cannot be opened is left out. Call it before any thread is started.
ReadingConfinement confine_to_reading(const std::vector<std::string>& readable);

// What a process confined on this machine gets, found by confining a child and hearing what
// took; the caller itself stays as it was.
ReadingConfinement confinement_on_offer();

// One line's words, as --version prints them after "confinement: ".
std::string describe_confinement(const ReadingConfinement& got);

// The names the converter's import may read: the input and its folder (companions such as an
// OBJ's material file), but only the input itself when that folder is the root or the home
// folder, whose every file would otherwise be readable.
std::vector<std::string> input_and_its_folder(const std::string& input);
