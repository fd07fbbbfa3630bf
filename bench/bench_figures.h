// What the benchmarks share: the middle of a set of runs, and a program run timed to its end.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// The middle value (the upper of the two middles for an even count); -1 for no runs at all.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

struct TimedProcess {
    double seconds = -1; // -1: it did not end with status 0
    double peak_mib = 0; // its peak resident memory
    std::string out;     // its standard output, when asked for
};

// Runs `arguments` (the program first) to its end, from fork to wait.
inline TimedProcess run_timed(const std::vector<std::string>& arguments, bool keep_output = false)
{
    TimedProcess run;
    int said[2] = {-1, -1};
    if (keep_output && pipe(said) != 0)
        return run;
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (keep_output) {
            close(said[0]);
            dup2(said[1], 1);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (keep_output) {
        close(said[1]);
        char block[512];
        for (ssize_t got; (got = read(said[0], block, sizeof block)) > 0;)
            run.out.append(block, std::size_t(got));
        close(said[0]);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peak_mib = double(usage.ru_maxrss) / 1024.0;
    return run;
}
