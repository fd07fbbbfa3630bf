// Reading a whole byte source into the lists: a stream in order, a file or text in parts read
// side by side and joined so that the lists are exactly those of one reading from the start.
#pragma once

#include <cstddef>

#include "mesh/byte_source.h"
#include "mesh/mesh_reader.h"

struct ReadingLimits {
    std::size_t chunk_bytes;     // each reading holds a chunk and at most one record besides
    std::size_t most_list_bytes; // the lists stop growing here, short of the machine's memory
};

struct ReadingResult {
    ReadOutcome outcome;
    int error;      // errno, for read_failed
    bool cut_short; // the file ended before the size it had when reading began
};

ReadingResult read_source(const ByteSource& source, MeshStore& mesh, int parts, bool on_threads,
                          const ReadingLimits& limits);
