// Children that confine themselves before they read a byte of a file, and a parent that trusts
// nothing they say: every word it hears from one is bounded in bytes and in time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>

#include "confine/confinement.h"

// The parent's descriptors a child is handed, at input_descriptor, output_descriptor and
// broker_descriptor; -1 hands none. The child keeps nothing else of its parent's: its standard
// input is /dev/null, its standard output and error a pipe its parent drains.
struct Handed {
    int input = -1, output = -1, broker = -1;
};

// What the child does once confined; its exit status is what it returns.
using ConfinedWork = int (*)(void* context);
// What a child must do after giving up its privileges and before it is shut in (a rasteriser that
// opens its own files); false ends the child with status 1.
using Preparation = bool (*)(void* context);

struct ConfinedChild {
    pid_t pid = -1;   // -1: no child could be started
    int report = -1;  // what it says on report_descriptor
    int chatter = -1; // its standard output and error
    std::size_t chatter_passed_on = 0;
};

ConfinedChild start_confined(ConfinedKind kind, const Handed& handed, ConfinedWork work, void* context,
                             Preparation prepare = nullptr);

using Clock = std::chrono::steady_clock;

enum class Heard {
    whole,    // up to the end of the report
    too_much, // more than the bound: the child was ended
    too_late, // the deadline came first: the child was ended
    failed,   // the report could not be read
};

// Another descriptor the parent serves while it hears the child (the child's questions):
// `answer` is called whenever `fd` has something; once it returns false, `fd` is closed (the child
// asking on it hears the end) and set to -1.
struct Serving {
    int fd = -1;
    bool (*answer)(int fd, void* context) = nullptr;
    void* context = nullptr;
};

// Everything the child says on its report up to its end, at most `most` bytes, before the
// deadline; its chatter is drained meanwhile and dropped (passed on to standard error only in the
// test builds whose sanitizers report there), and `serving`, if any, is served. A child that says
// too much or takes too long is ended.
Heard hear(ConfinedChild& child, std::string& said, std::size_t most, Clock::time_point deadline,
           Serving* serving = nullptr);

// Ends the child if it still runs, waits for it and closes its pipes. The exit status, or 128 +
// the signal that ended it.
int end_child(ConfinedChild& child);

// Writes all of `count` bytes to `fd`, through interruptions; false when it cannot.
bool write_all(int fd, const void* bytes, std::size_t count);

// Reads what `fd`, one of the child's pipes, has now (it must not block), at most `room` bytes
// more into `into`; false at its end or on an error. Drains rather than keeps when `into` is null.
bool take_what_is_there(ConfinedChild& child, int fd, std::string* into, std::size_t room);
