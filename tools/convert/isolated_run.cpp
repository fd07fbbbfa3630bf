// A child process under an address-space limit and a deadline. The parent only reads the child's
// report and waits; past the deadline it ends the child.
#include "isolated_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

// The child speaks only through its report: what a crashing library prints goes nowhere. Built
// with the sanitizers, the child keeps its standard error, where their reports go.
void silence_output()
{
    const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(nowhere, STDOUT_FILENO);
#ifndef OLVANTA_SANITIZED
    dup2(nowhere, STDERR_FILENO);
#endif
}

// A crash in the import library leaves no core file in whatever folder the converter runs in:
// a thumbnail host would collect one for every hostile file.
void leave_no_core()
{
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

// Should the parent be killed before it can end the child, the child ends with it; and it never
// works longer than the deadline allows, whoever watches it.
void end_with_parent(pid_t parent, int seconds)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
    const rlimit work{rlim_t(seconds) + 1, rlim_t(seconds) + 1};
    setrlimit(RLIMIT_CPU, &work);
}

// The address space the child may take. The sanitizers reserve terabytes of it before main, so
// built with them the limit counts from what the child has already taken.
rlim_t address_space_limit(std::uint64_t memory_bytes)
{
    std::uint64_t taken_pages = 0;
#ifdef OLVANTA_SANITIZED
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%" SCNu64, &taken_pages) != 1)
            taken_pages = 0;
        std::fclose(statm);
    }
#endif
    return rlim_t(memory_bytes + taken_pages * std::uint64_t(sysconf(_SC_PAGESIZE)));
}

[[noreturn]] void run_child(IsolatedWork work, void* context, const Limits& limits, int report_fd, pid_t parent)
{
    end_with_parent(parent, limits.seconds);
    leave_no_core();
    silence_output();
    const rlim_t most = address_space_limit(limits.memory_bytes);
    const rlimit memory{most, most};
    setrlimit(RLIMIT_AS, &memory);
    // A full disk or a reader that went away is an error to report, not a reason to die.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    const int status = work(report_fd, context);
    std::fflush(nullptr);
    _exit(status);
}

void read_available(int fd, std::string& into)
{
    char block[4096];
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got > 0)
            into.append(block, std::size_t(got));
        else if (!(got < 0 && errno == EINTR))
            return;
    }
}

ChildEnding ending_of(int status, std::string report)
{
    ChildEnding ending;
    ending.report = std::move(report);
    if (WIFEXITED(status)) {
        ending.how = ChildEnding::exited;
        ending.status = WEXITSTATUS(status);
    } else {
        ending.how = ChildEnding::signalled;
        ending.status = WTERMSIG(status);
    }
    return ending;
}

} // namespace

ChildEnding run_isolated(IsolatedWork work, void* context, const Limits& limits)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return ChildEnding{};
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        return ChildEnding{};
    }
    if (pid == 0) {
        close(report[0]);
        run_child(work, context, limits, report[1], parent);
    }
    close(report[1]);
    fcntl(report[0], F_SETFL, O_NONBLOCK);
    const auto deadline = Clock::now() + std::chrono::seconds(limits.seconds);
    std::string said;
    for (;;) {
        pollfd waiting{report[0], POLLIN, 0};
        poll(&waiting, 1, 100);
        read_available(report[0], said);
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            read_available(report[0], said);
            close(report[0]);
            return ending_of(status, said);
        }
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            close(report[0]);
            ChildEnding ending;
            ending.how = ChildEnding::timed_out;
            ending.report = said;
            return ending;
        }
    }
}
