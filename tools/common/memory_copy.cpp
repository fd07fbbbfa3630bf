// memfd_create gives a file that lives in memory only: nothing is written to any disk, and it is
// gone with its last descriptor.
#include "memory_copy.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "confine_to_reading.h"

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

namespace {

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
// it only copies them into the memory file opened before it.
[[noreturn]] void copy_confined(int from, int into, std::uint64_t most_bytes, int seconds, int outcome_fd, pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
    confine_to_reading({});
    const CopyOutcome outcome = copy_stream(from, into, most_bytes, seconds);
    _exit(write(outcome_fd, &outcome, sizeof outcome) == ssize_t(sizeof outcome) ? 0 : 1);
}

} // namespace

MemoryCopy copy_into_memory(int from, std::uint64_t most_bytes, int seconds)
{
    MemoryCopy copy;
    copy.fd = memfd_create("olvanta-stream", MFD_CLOEXEC);
    int outcome[2];
    if (copy.fd < 0 || pipe2(outcome, O_CLOEXEC) != 0)
        return ended(copy, CopyEnd::failed, errno);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(outcome[0]);
        copy_confined(from, copy.fd, most_bytes, seconds, outcome[1], parent);
    }
    const int error = errno;
    close(outcome[1]);
    CopyOutcome told{CopyEnd::failed, pid < 0 ? error : EIO};
    if (pid > 0 && read(outcome[0], &told, sizeof told) != ssize_t(sizeof told))
        told = {CopyEnd::failed, EIO};
    close(outcome[0]);
    if (pid > 0)
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    return ended(copy, told.end, told.error);
}
