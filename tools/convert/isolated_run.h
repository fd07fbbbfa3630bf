// Running the import in a child process that confines itself first, with limits on its memory
// and its time, so that a crash, a runaway or a hostile file inside it cannot take the caller
// down. The caller listens to it within bounds and opens, on its behalf, the files its input
// names.
#pragma once

#include <cstdint>
#include <string>

#include "companion_files.h"
#include "confine/confined_child.h"

struct Limits {
    std::uint64_t memory_bytes; // address space the child may take
    int seconds;                // wall-clock time before it is stopped
};

struct ChildEnding {
    enum How { exited, signalled, timed_out, said_too_much, not_started } how = not_started;
    int status = 0;     // exit status, or the signal that ended it
    std::string report; // everything the child wrote on its report, up to the bound
};

// The most a child may say on its report: its lines are few and short.
const std::size_t longest_report = 64 * 1024;

// `work` runs in the child, confined, handed `input` and `output`; it writes what it has to say
// on report_descriptor and returns its exit status.
ChildEnding run_isolated(ConfinedWork work, void* context, const Limits& limits, int input, int output,
                         CompanionOpening& companions);
