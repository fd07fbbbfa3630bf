// memfd_create gives a file that lives in memory only: nothing is written to any disk, and it is
// gone with its last descriptor.
#include "memory_copy.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const std::size_t block_bytes = std::size_t(1) << 20;

bool write_all(int fd, const char* bytes, std::size_t count)
{
    while (count > 0) {
        const ssize_t put = write(fd, bytes, count);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes += put;
        count -= std::size_t(put);
    }
    return true;
}

// Milliseconds left before the deadline for poll; -1 waits for ever.
int wait_left(bool limited, Clock::time_point deadline)
{
    if (!limited)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

MemoryCopy ended(MemoryCopy copy, CopyEnd end, int error = 0)
{
    if (end != CopyEnd::whole && copy.fd >= 0) {
        close(copy.fd);
        copy.fd = -1;
    }
    copy.end = end;
    copy.error = error;
    return copy;
}

} // namespace

MemoryCopy copy_into_memory(int from, std::uint64_t most_bytes, int seconds)
{
    MemoryCopy copy;
    copy.fd = memfd_create("olvanta-stream", MFD_CLOEXEC);
    if (copy.fd < 0)
        return ended(copy, CopyEnd::failed, errno);
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    std::vector<char> block(block_bytes);
    for (std::uint64_t total = 0;;) {
        pollfd waiting{from, POLLIN, 0};
        const int ready = poll(&waiting, 1, wait_left(seconds > 0, deadline));
        if (ready < 0 && errno != EINTR)
            return ended(copy, CopyEnd::failed, errno);
        if (ready == 0)
            return ended(copy, CopyEnd::timed_out);
        const ssize_t got = read(from, block.data(), block.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got < 0)
            return ended(copy, CopyEnd::failed, errno);
        if (got == 0)
            return ended(copy, CopyEnd::whole);
        total += std::uint64_t(got);
        if (total > most_bytes)
            return ended(copy, CopyEnd::too_large);
        if (!write_all(copy.fd, block.data(), std::size_t(got)))
            return ended(copy, CopyEnd::failed, errno ? errno : ENOSPC);
    }
}
