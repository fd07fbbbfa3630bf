// Running a piece of work in a child process with limits on its memory and its time, so that a
// crash or a runaway inside it cannot take the caller down.
#pragma once

#include <cstdint>
#include <string>

struct Limits {
    std::uint64_t memory_bytes; // address space the child may take
    int seconds;                // wall-clock time before it is stopped
};

struct ChildEnding {
    enum How { exited, signalled, timed_out, not_started } how = not_started;
    int status = 0;     // exit status, or the signal that ended it
    std::string report; // everything the child wrote on its report pipe
};

// `work` runs in the child; it writes what it has to say to `report_fd` and returns the child's
// exit status.
using IsolatedWork = int (*)(int report_fd, void* context);

ChildEnding run_isolated(IsolatedWork work, void* context, const Limits& limits);
