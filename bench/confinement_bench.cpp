// Confinement benchmark: what confining a reading process costs, beside the fork it happens in.
//
//   cmake --build build --target confinement-bench && build/confinement-bench
//
// Prints the median and the slowest tenth of 200 runs each: a child forked and waited for that
// does nothing, one that confines itself as the converter's child does, and the confined question
// the tools ask of a file's start; the difference between the first two is the confinement's own
// cost.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "confine_to_reading.h"
#include "confined_child.h"

namespace {

const int runs = 200;

using Clock = std::chrono::steady_clock;

void in_a_child(const std::function<void()>& work)
{
    const pid_t pid = fork();
    if (pid == 0) {
        work();
        _exit(0);
    }
    waitpid(pid, nullptr, 0);
}

void report(const char* label, std::vector<double> milliseconds)
{
    std::sort(milliseconds.begin(), milliseconds.end());
    std::printf("%-44s median %.3f ms, 90th percentile %.3f ms\n", label, milliseconds[milliseconds.size() / 2],
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

bool file_is_there(const std::string& path)
{
    return access(path.c_str(), R_OK) == 0;
}

} // namespace

int main(int, char** argv)
{
    const std::string self = argv[0];
    const std::vector<std::string> readable = input_and_its_folder(self);
    report("fork, exit and wait", timed([] { in_a_child([] {}); }));
    report("fork, confine as the converter, exit and wait",
           timed([&] { in_a_child([&] { confine_to_reading(readable); }); }));
    report("a question asked of a confined child", timed([&] { ask_confined(file_is_there, self); }));
    report("the confinement on offer (--version)", timed([] { confinement_on_offer(); }));
    return 0;
}
