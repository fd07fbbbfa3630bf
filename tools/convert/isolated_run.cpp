// The parent only listens, answers requests for companion files and waits: every round of its
// loop looks at the deadline first, however much the child says, and stops listening past the
// report's bound.
#include "isolated_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>

namespace {

struct Preparing {
    ConfinedWork work;
    void* context;
    Limits limits;
};

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

// Before it is shut in: it never works longer than the deadline allows, whoever watches it;
// leaves no core file in whatever folder the converter runs in (a thumbnail host would collect
// one for every hostile file); and a full disk or a reader gone is an error to say, not a death.
bool set_limits(void* context)
{
    const Preparing& p = *static_cast<const Preparing*>(context);
    const rlimit work{rlim_t(p.limits.seconds) + 1, rlim_t(p.limits.seconds) + 1};
    setrlimit(RLIMIT_CPU, &work);
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    const rlim_t most = address_space_limit(p.limits.memory_bytes);
    const rlimit memory{most, most};
    setrlimit(RLIMIT_AS, &memory);
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

int run_work(void* context)
{
    const Preparing& p = *static_cast<const Preparing*>(context);
    return p.work(p.context);
}

ChildEnding ending_of(int status, std::string report)
{
    ChildEnding ending;
    ending.report = std::move(report);
    if (status >= 128) {
        ending.how = ChildEnding::signalled;
        ending.status = status - 128;
    } else {
        ending.how = ChildEnding::exited;
        ending.status = status;
    }
    return ending;
}

bool answer_question(int socket, void* companions)
{
    return answer_companion_request(socket, *static_cast<CompanionOpening*>(companions));
}

ChildEnding cut_short(ConfinedChild& child, ChildEnding::How how, std::string report)
{
    end_child(child);
    ChildEnding ending;
    ending.how = how;
    ending.report = std::move(report);
    return ending;
}

} // namespace

ChildEnding run_isolated(ConfinedWork work, void* context, const Limits& limits, int input, int output,
                         CompanionOpening& companions)
{
    int broker[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, broker) != 0)
        return ChildEnding{};
    std::fflush(nullptr);
    Preparing preparing{work, context, limits};
    ConfinedChild child = start_confined(ConfinedKind::converting, Handed{input, output, broker[1]}, run_work,
                                         &preparing, set_limits);
    close(broker[1]);
    if (child.pid < 0) {
        close(broker[0]);
        return ChildEnding{};
    }
    const auto deadline = Clock::now() + std::chrono::seconds(limits.seconds);
    std::string said;
    Serving questions{broker[0], answer_question, &companions};
    const Heard heard = hear(child, said, longest_report, deadline, &questions);
    if (questions.fd >= 0)
        close(questions.fd);
    if (heard == Heard::too_late)
        return cut_short(child, ChildEnding::timed_out, said);
    if (heard == Heard::too_much)
        return cut_short(child, ChildEnding::said_too_much, said);
    if (heard == Heard::failed)
        return cut_short(child, ChildEnding::not_started, said);
    // The report has ended: the child is ending too, unless it holds on, which the deadline ends.
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(child.pid, &status, WNOHANG);
        if (ended == child.pid) {
            child.pid = -1;
            end_child(child);
            return ending_of(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), said);
        }
        if (Clock::now() >= deadline)
            return cut_short(child, ChildEnding::timed_out, said);
        usleep(2000);
    }
}
