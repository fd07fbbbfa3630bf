// A stream (a pipe, a FIFO, a device) kept whole in memory as a file with no name, so that it can
// be judged whole and then read again, as a regular file is.
#pragma once

#include <cstdint>

enum class CopyEnd { whole, too_large, timed_out, failed };

struct MemoryCopy {
    int fd = -1;                 // the copy, from its start; -1 unless whole
    CopyEnd end = CopyEnd::failed;
    int error = 0;               // errno, when failed
};

// How much of a stream is kept at most: half the machine's memory, and never more than 4 GiB.
std::uint64_t largest_stream_in_memory();

// Reads `from` to its end, at most `most_bytes`, within `seconds` (0: no limit).
MemoryCopy copy_into_memory(int from, std::uint64_t most_bytes, int seconds);
