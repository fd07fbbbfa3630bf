// The converter's work, done in a child process: import, place, join, write. What it has to say
// goes up its report, one line each: the stage it reached ("importing", "converting"), then
// "done V F" or "error MESSAGE"; besides those "hint: ...", "refused: ...", "out of memory", and
// for the family "skipped: COUNT FIRST-LINE", "left out: COUNT WORDS" and
// "attributes: DAMAGED-BLOCKS FIRST-LINE UNUSABLE-NORMALS".
#pragma once

#include <cstdint>

#include "convert_options.h"
#include "output_target.h"

struct Conversion {
    const ConvertOptions* options;
    const OutputTarget* target;
    int out_fd;
    std::uint64_t memory_bytes;
};

// For run_isolated: `context` is a Conversion.
int convert_in_child(int report_fd, void* context);
