// Confinement benchmark: what confining a reading process costs, beside the fork it happens in.
//
//   cmake --build build --target confinement-bench && build/confinement-bench
//
// Prints the median and the slowest tenth of 200 runs each: a child forked and waited for that
// does nothing, then for each kind of confined process (reading, converting, drawing) a child
// started as the tools start it (descriptors moved, privileges given up, files shut out, its
// calls filtered) that says one word, heard by its parent; the difference is the confinement's
// own cost.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "confine/confined_child.h"
#include "confine/confinement.h"

namespace {

const int runs = 200;

void in_a_child(const std::function<void()>& work)
{
    const pid_t pid = fork();
    if (pid == 0) {
        work();
        _exit(0);
    }
    waitpid(pid, nullptr, 0);
}

void report(const std::string& label, std::vector<double> milliseconds)
{
    std::sort(milliseconds.begin(), milliseconds.end());
    std::printf("%-52s median %.3f ms, 90th percentile %.3f ms\n", label.c_str(), milliseconds[milliseconds.size() / 2],
                milliseconds[milliseconds.size() * 9 / 10]);
}

std::vector<double> timed(const std::function<void()>& once)
{
    std::vector<double> milliseconds;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        once();
        milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return milliseconds;
}

int say_a_word(void*)
{
    return write(report_descriptor, "y", 1) == 1 ? 0 : 1;
}

void ask_a_confined_child(ConfinedKind kind)
{
    ConfinedChild child = start_confined(kind, Handed{}, say_a_word, nullptr);
    std::string said;
    hear(child, said, 16, Clock::now() + std::chrono::seconds(10));
    end_child(child);
}

} // namespace

int main()
{
    report("fork, exit and wait", timed([] { in_a_child([] {}); }));
    const struct {
        ConfinedKind kind;
        const char* name;
    } kinds[] = {{ConfinedKind::reading, "reading"}, {ConfinedKind::converting, "converting"}, {ConfinedKind::drawing, "drawing"}};
    for (const auto& k : kinds)
        report(std::string("a confined child (") + k.name + ") started, heard and ended",
               timed([&] { ask_a_confined_child(k.kind); }));
    report("the confinement on offer (--version)", timed([] { confinement_on_offer(ConfinedKind::reading); }));
    return 0;
}
