// Reading bytes from files, streams and text, with the end and any failure said plainly.
#include "mesh/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// A regular file gives what was asked for unless it ends first; when it ends before the size it
// had at the start, something shrank or rewrote it while it was being read.
Fetched fetch_from_file(const ByteSource& source, std::uint64_t offset, char* into, std::size_t wanted)
{
    Fetched got;
    const std::uint64_t left = offset < source.size ? source.size - offset : 0;
    wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, left));
    while (got.bytes < wanted) {
        const ssize_t n = pread(source.fd, into + got.bytes, wanted - got.bytes,
                                static_cast<off_t>(offset + got.bytes));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            got.error = errno;
            return got;
        }
        if (n == 0) {
            got.ended = got.cut_short = true;
            return got;
        }
        got.bytes += static_cast<std::size_t>(n);
    }
    got.ended = offset + got.bytes >= source.size;
    return got;
}

Fetched fetch_from_stream(const ByteSource& source, char* into, std::size_t wanted)
{
    Fetched got;
    for (;;) {
        const ssize_t n = read(source.fd, into, wanted);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            got.error = errno;
        else
            got.bytes = static_cast<std::size_t>(n);
        got.ended = n == 0;
        return got;
    }
}

Fetched fetch_from_text(const ByteSource& source, std::uint64_t offset, char* into, std::size_t wanted)
{
    Fetched got;
    const std::uint64_t left = offset < source.size ? source.size - offset : 0;
    got.bytes = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, left));
    if (got.bytes > 0)
        std::memcpy(into, source.text + offset, got.bytes);
    got.ended = offset + got.bytes >= source.size;
    return got;
}

} // namespace

Fetched fetch(const ByteSource& source, std::uint64_t offset, char* into, std::size_t wanted)
{
    switch (source.kind) {
    case SourceKind::file: return fetch_from_file(source, offset, into, wanted);
    case SourceKind::stream: return fetch_from_stream(source, into, wanted);
    case SourceKind::text: break;
    }
    return fetch_from_text(source, offset, into, wanted);
}
