// A child's descriptors are moved to their fixed numbers through numbers above them all, so that
// no move overwrites another; then every other descriptor is closed, before anything is read.
#include "confine/confined_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

const int first_free_descriptor = broker_descriptor + 1;
const std::size_t block = 64 * 1024;

void close_from(int first)
{
    if (syscall(SYS_close_range, unsigned(first), ~0U, 0U) == 0)
        return;
    for (int fd = first; fd < 65536; ++fd)
        close(fd);
}

// Each handed descriptor (-1: none) to its place; the rest closed.
void keep_only(int report, int chatter, const Handed& handed)
{
    const int from[] = {report, handed.input, handed.output, handed.broker};
    const int to[] = {report_descriptor, input_descriptor, output_descriptor, broker_descriptor};
    int moved[4];
    for (int i = 0; i < 4; ++i)
        moved[i] = from[i] < 0 ? -1 : fcntl(from[i], F_DUPFD, 64);
    const int nothing = open("/dev/null", O_RDONLY);
    dup2(nothing, STDIN_FILENO);
    dup2(chatter, STDOUT_FILENO);
    dup2(chatter, STDERR_FILENO);
    // A number not handed is closed too: whatever the parent held there (its output, a pipe) is
    // not the child's, and the filter lets a child write on the output's number.
    for (int i = 0; i < 4; ++i)
        if (moved[i] >= 0)
            dup2(moved[i], to[i]);
        else
            close(to[i]);
    close_from(first_free_descriptor);
}

[[noreturn]] void run_child(ConfinedKind kind, int report, int chatter, const Handed& handed, ConfinedWork work,
                            void* context, Preparation prepare, pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
    keep_only(report, chatter, handed);
    Confinement got;
    confine_privileges(got);
    if (prepare && !prepare(context))
        _exit(1);
    confine_calls(kind, got);
    _exit(work(context));
}

bool before(Clock::time_point deadline)
{
    return Clock::now() < deadline;
}

int milliseconds_until(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, 1000));
}

// Sanitized test builds pass a child's chatter on, for the sanitizers' reports in it; only so
// much, so that a child that floods it holds neither the deadline nor the log.
void pass_on_chatter(ConfinedChild& child, const char* bytes, std::size_t count)
{
#ifdef OLVANTA_SANITIZED
    constexpr std::size_t chatter_passed_at_most = 1 << 20;
    count = std::min(count, chatter_passed_at_most - std::min(chatter_passed_at_most, child.chatter_passed_on));
    child.chatter_passed_on += count;
    const ssize_t ignored = write(STDERR_FILENO, bytes, count);
    (void)ignored;
#else
    (void)child, (void)bytes, (void)count;
#endif
}

} // namespace

ConfinedChild start_confined(ConfinedKind kind, const Handed& handed, ConfinedWork work, void* context, Preparation prepare)
{
    ConfinedChild child;
    int report[2], chatter[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return child;
    if (pipe2(chatter, O_CLOEXEC) != 0) {
        close(report[0]), close(report[1]);
        return child;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        run_child(kind, report[1], chatter[1], handed, work, context, prepare, parent);
    close(report[1]);
    close(chatter[1]);
    if (pid < 0) {
        close(report[0]), close(chatter[0]);
        return child;
    }
    fcntl(report[0], F_SETFL, O_NONBLOCK);
    fcntl(chatter[0], F_SETFL, O_NONBLOCK);
    return ConfinedChild{pid, report[0], chatter[0]};
}

bool write_all(int fd, const void* bytes, std::size_t count)
{
    const char* at = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t put = write(fd, at, count);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        at += put;
        count -= std::size_t(put);
    }
    return true;
}

bool take_what_is_there(ConfinedChild& child, int fd, std::string* into, std::size_t room)
{
    char bytes[block];
    for (std::size_t taken = 0; taken < 16 * block;) {
        const ssize_t got = read(fd, bytes, into ? std::min(sizeof bytes, room + 1) : sizeof bytes);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno == EAGAIN;
        if (got == 0)
            return false;
        taken += std::size_t(got);
        if (into) {
            into->append(bytes, std::size_t(got));
            if (std::size_t(got) > room)
                return true; // past the bound: the caller sees it
            room -= std::size_t(got);
        } else {
            pass_on_chatter(child, bytes, std::size_t(got));
        }
    }
    return true; // more may be there: the caller looks at its deadline first
}

Heard hear(ConfinedChild& child, std::string& said, std::size_t most, Clock::time_point deadline, Serving* serving)
{
    said.clear();
    while (child.report >= 0) {
        if (!before(deadline)) {
            end_child(child);
            return Heard::too_late;
        }
        // poll passes over the descriptors that are -1: a chatter ended, nothing served.
        pollfd waiting[3] = {{child.report, POLLIN, 0}, {child.chatter, POLLIN, 0}, {serving ? serving->fd : -1, POLLIN, 0}};
        if (poll(waiting, 3, milliseconds_until(deadline)) < 0 && errno != EINTR) {
            end_child(child);
            return Heard::failed;
        }
        if (waiting[1].revents && !take_what_is_there(child, child.chatter, nullptr, 0)) {
            close(child.chatter);
            child.chatter = -1;
        }
        if (waiting[2].revents && !serving->answer(serving->fd, serving->context)) {
            close(serving->fd);
            serving->fd = -1;
        }
        if (!waiting[0].revents)
            continue;
        const bool more = take_what_is_there(child, child.report, &said, most - std::min(most, said.size()));
        if (said.size() > most) {
            end_child(child);
            said.resize(most);
            return Heard::too_much;
        }
        if (!more) {
            close(child.report);
            child.report = -1;
        }
    }
    return Heard::whole;
}

int end_child(ConfinedChild& child)
{
    for (int* fd : {&child.report, &child.chatter})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    if (child.pid <= 0)
        return -1;
    int status = 0;
    if (waitpid(child.pid, &status, WNOHANG) == 0) {
        kill(child.pid, SIGKILL);
        while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    child.pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
