// A tool run as a program with its own process's peak memory (VmHWM) taken at the very end of
// its life, where nothing of it can still grow: the test traces it, and reads its status when
// the kernel stops it on its way out. Its children are not traced and not counted.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_files.h"

struct MeasuredRun {
    int status = -1;        // exit status, 128 + a signal, -1 when the test had to end it
    std::string out, err;   // its standard output and error
    long peak_kib = -1;     // VmHWM of the tool's own process; -1 when it could not be taken
    double seconds = 0;
};

inline long peak_memory_of(pid_t pid)
{
    const std::string status = read_whole_file("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = status.find("VmHWM:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

inline void take_what_came(int& fd, std::string& into)
{
    char block[65536];
    for (;;) {
        const ssize_t got = fd >= 0 ? read(fd, block, sizeof block) : -1;
        if (got > 0) {
            into.append(block, std::size_t(got));
            continue;
        }
        if (got == 0) {
            close(fd);
            fd = -1;
        }
        return;
    }
}

// `command` with exactly `environment`, its standard input a pipe holding `typed`; ended after
// `limit_seconds`.
inline MeasuredRun run_measured(const std::vector<std::string>& command, const std::vector<std::string>& environment,
                                const std::string& typed = "", int limit_seconds = 60)
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return MeasuredRun{};
    std::vector<std::string> words = {"/usr/bin/env", "-i"};
    words.insert(words.end(), environment.begin(), environment.end());
    words.insert(words.end(), command.begin(), command.end());
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]), close(out[1]), close(err[1]);
    if (!typed.empty() && write(in[1], typed.data(), typed.size()) != ssize_t(typed.size())) {
        // A tool that ended before its prompt says why itself.
    }
    close(in[1]);
    for (const int fd : {out[0], err[0]})
        fcntl(fd, F_SETFL, O_NONBLOCK);
    MeasuredRun run;
    bool env_started = false; // env itself stops once at its exec, then the tool at its own
    for (;;) {
        pollfd waiting[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        poll(waiting, 2, 5);
        take_what_came(out[0], run.out);
        take_what_came(err[0], run.err);
        int status = 0;
        const pid_t changed = waitpid(pid, &status, WNOHANG | __WALL);
        if (changed == pid && WIFSTOPPED(status)) {
            const int event = status >> 16;
            int passed_on = 0;
            if (event == PTRACE_EVENT_EXIT)
                run.peak_kib = peak_memory_of(pid);
            else if (WSTOPSIG(status) == SIGTRAP && !env_started) {
                env_started = true;
                ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
            } else if (WSTOPSIG(status) != SIGTRAP) {
                passed_on = WSTOPSIG(status);
            }
            ptrace(PTRACE_CONT, pid, nullptr, passed_on);
        } else if (changed == pid) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(limit_seconds)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, __WALL);
            break;
        }
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    while (out[0] >= 0 || err[0] >= 0) {
        pollfd waiting[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        if (poll(waiting, 2, 200) <= 0)
            break;
        take_what_came(out[0], run.out);
        take_what_came(err[0], run.err);
    }
    for (const int fd : {out[0], err[0]})
        if (fd >= 0)
            close(fd);
    return run;
}
