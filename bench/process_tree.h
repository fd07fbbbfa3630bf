// A started command and everything it starts, watched from outside through /proc: its processor
// time, its resident memory, and its end. The caller is made a subreaper, so a grandchild whose
// parent has gone is still found (and ended) as part of the tree.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts `argv` with standard input from /dev/null and its output thrown away, in a process
// group of its own, with the environment variable DISPLAY set to `display` (when not empty).
pid_t start_command(const std::vector<std::string>& argv, const std::string& display);

// A child of ours that belongs to no command's tree (the X server the commands draw on).
void not_in_any_tree(pid_t pid);

// Every live process descended from `root` (the root included), found through their parents.
std::vector<pid_t> tree_of(pid_t root);

struct TreeSample {
    double cpu_seconds = 0;  // user and system time of the processes now alive
    double resident_mib = 0; // their resident memory, summed
};
TreeSample sample_tree(const std::vector<pid_t>& tree);

// Ends the whole tree: SIGTERM, a second, then SIGKILL; reaps every child of ours.
void end_tree(pid_t root);

// Whether the command has exited, and its status (128 + the signal when a signal ended it).
bool has_exited(pid_t pid, int& status);
