// Where the reader's bytes come from: a regular file read at any offset, a stream (pipe, FIFO,
// character device) read in order as its bytes arrive, or text that is already in memory.
#pragma once

#include <cstddef>
#include <cstdint>

enum class SourceKind {
    file,   // pread at any offset, up to the size it had when reading began
    stream, // read in order; its length is known only when it ends
    text,   // bytes in memory, for tests and tools
};

struct ByteSource {
    SourceKind kind = SourceKind::text;
    int fd = -1;                    // file and stream
    const char* text = nullptr;     // text
    std::uint64_t size = UINT64_MAX; // file: its size when reading began; text: its length
};

struct Fetched {
    std::size_t bytes = 0; // how many arrived
    bool ended = false;    // nothing lies beyond them
    bool cut_short = false; // the file ended before the size it had when reading began
    int error = 0;          // errno of a failed read
};

// Up to `wanted` bytes from `offset`; a stream ignores the offset and gives what comes next,
// which may be fewer bytes than wanted without being the end.
Fetched fetch(const ByteSource& source, std::uint64_t offset, char* into, std::size_t wanted);
