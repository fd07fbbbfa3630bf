// The converter's work, done in a confined child process: import, place, join, write. It reads
// its input on input_descriptor and writes the text on output_descriptor. What it has to say goes
// up its report, one line each: the stage it reached ("importing", "converting"), then
// "done VERTICES FACES BYTES" or "error MESSAGE"; besides those "hint: ...", "fitted: ...",
// "facets: UNUSABLE DISAGREEING", "out of memory", and for the family "skipped: COUNT
// FIRST-LINE", "left out: COUNT WORDS" and "attributes: DAMAGED-BLOCKS FIRST-LINE
// UNUSABLE-NORMALS".
#pragma once

#include <cstdint>

#include "convert_options.h"
#include "output_target.h"

struct Conversion {
    const ConvertOptions* options;
    const OutputTarget* target;
    std::uint64_t memory_bytes;
};

// For run_isolated: `context` is a Conversion.
int convert_in_child(void* context);
