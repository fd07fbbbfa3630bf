// Starting Xvfb with -displayfd, so it picks a free display number and says which.
#include "private_x_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool before_deadline(std::chrono::steady_clock::time_point start, int timeout_ms)
{
    return std::chrono::steady_clock::now() - start < std::chrono::milliseconds(timeout_ms);
}

XServer start_xvfb(int width, int height)
{
    XServer server;
    int ready[2];
    if (pipe(ready) != 0) {
        server.failure = "no pipe";
        return server;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(ready[1], 3);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    std::string number;
    char c;
    while (read(ready[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(ready[0]);
    if (number.empty()) {
        const int status = wait_for_exit(pid, 2000);
        server.failure = status == 127 ? "Xvfb is not installed (Debian package xvfb)"
                                       : "Xvfb did not start (status " + std::to_string(status) + ")";
        return server;
    }
    server.pid = pid;
    server.display_name = ":" + number;
    return server;
}

void stop_process(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    if (wait_for_exit(pid, 3000) == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

int wait_for_exit(pid_t pid, int timeout_ms)
{
    const auto start = std::chrono::steady_clock::now();
    do {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pause_ms(20);
    } while (before_deadline(start, timeout_ms));
    return -1;
}
