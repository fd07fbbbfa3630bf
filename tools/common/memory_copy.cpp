// memfd_create gives a file that lives in memory only: nothing is written to any disk, and it is
// gone with its last descriptor.
#include "memory_copy.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "confine/confined_child.h"

namespace {

const std::size_t block_bytes = std::size_t(1) << 20;

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

struct CopyOutcome {
    CopyEnd end;
    int error;
};

CopyOutcome copy_stream(int from, int into, std::uint64_t most_bytes, int seconds)
{
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    std::vector<char> block(block_bytes);
    for (std::uint64_t total = 0;;) {
        pollfd waiting{from, POLLIN, 0};
        const int ready = poll(&waiting, 1, wait_left(seconds > 0, deadline));
        if (ready < 0 && errno != EINTR)
            return {CopyEnd::failed, errno};
        if (ready == 0)
            return {CopyEnd::timed_out, 0};
        const ssize_t got = read(from, block.data(), block.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got < 0)
            return {CopyEnd::failed, errno};
        if (got == 0)
            return {CopyEnd::whole, 0};
        total += std::uint64_t(got);
        if (total > most_bytes)
            return {CopyEnd::too_large, 0};
        if (!write_all(into, block.data(), std::size_t(got)))
            return {CopyEnd::failed, errno ? errno : ENOSPC};
    }
}

// The stream's bytes are the input's: the process that reads them confines itself first, though
// it only copies them into the memory file handed to it.
struct CopyJob {
    std::uint64_t most_bytes;
    int seconds;
};

int copy_confined(void* context)
{
    const CopyJob& job = *static_cast<const CopyJob*>(context);
    const CopyOutcome outcome = copy_stream(input_descriptor, output_descriptor, job.most_bytes, job.seconds);
    return write(report_descriptor, &outcome, sizeof outcome) == ssize_t(sizeof outcome) ? 0 : 1;
}

// What the copying child said, if it is an outcome at all.
CopyOutcome outcome_of(const std::string& said, Heard heard)
{
    CopyOutcome told{CopyEnd::failed, EIO};
    if (heard != Heard::whole || said.size() != sizeof told)
        return {heard == Heard::too_late ? CopyEnd::timed_out : CopyEnd::failed, EIO};
    std::memcpy(&told, said.data(), sizeof told);
    if (told.end != CopyEnd::whole && told.end != CopyEnd::too_large && told.end != CopyEnd::timed_out)
        told = {CopyEnd::failed, told.error > 0 && told.error < 4096 ? told.error : EIO};
    return told;
}

} // namespace

std::uint64_t largest_stream_in_memory()
{
    const std::uint64_t most_stream_bytes = std::uint64_t(4) << 30;
    const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0)
        return most_stream_bytes;
    return std::min(std::uint64_t(pages) * std::uint64_t(page_size) / 2, most_stream_bytes);
}

MemoryCopy copy_into_memory(int from, std::uint64_t most_bytes, int seconds)
{
    MemoryCopy copy;
    copy.fd = memfd_create("olvanta-stream", MFD_CLOEXEC);
    if (copy.fd < 0)
        return ended(copy, CopyEnd::failed, errno);
    CopyJob job{most_bytes, seconds};
    ConfinedChild child = start_confined(ConfinedKind::reading, Handed{from, copy.fd, -1}, copy_confined, &job);
    if (child.pid < 0)
        return ended(copy, CopyEnd::failed, errno);
    // The child keeps its own time; this one only makes sure a child that stops answering ends too.
    const auto deadline = seconds > 0 ? Clock::now() + std::chrono::seconds(seconds + 5) : Clock::time_point::max();
    std::string said;
    const Heard heard = hear(child, said, sizeof(CopyOutcome), deadline);
    end_child(child);
    const CopyOutcome told = outcome_of(said, heard);
    return ended(copy, told.end, told.error);
}
