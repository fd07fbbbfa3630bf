// Reading a whole byte source into the lists: a file or text in parts read side by side, a
// stream in order as it arrives; either way the lists are exactly those of one reading from the
// start, and never copied while they grow.
#pragma once

#include <cstddef>

#include "mesh/byte_source.h"
#include "mesh/mesh_reader.h"
#include "mesh/reading_notes.h"

struct ReadingLimits {
    std::size_t chunk_bytes;     // each reading holds a chunk and at most one record besides
    std::size_t most_list_bytes; // the lists stop growing here, short of the machine's memory
    std::uint64_t segment_bytes; // a stream's text per segment of its lists
};

struct ReadingResult {
    ReadOutcome outcome;
    int error;      // errno, for read_failed
    bool cut_short; // the file ended before the size it had when reading began
    ReadingFindings findings;
};

// A source with a size (a regular file, text): cut into `parts` read on threads of their own.
ReadingResult read_in_parts(const ByteSource& source, MeshStore& mesh, int parts, bool on_threads,
                            const ReadingLimits& limits);

// A stream: read in order, in segments, each with room for its own stretch of text.
ReadingResult read_stream(const ByteSource& source, MeshStore& mesh, const ReadingLimits& limits);
