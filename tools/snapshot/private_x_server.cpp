// Starting Xvfb with -displayfd, so it picks a free display number and says which. The server
// ends with the process that started it, however that ends: on a kill it gets SIGTERM, which
// it answers by removing its socket and lock file.
#include "private_x_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
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

namespace {

// Xvfb reports its display within a fraction of a second; one that has not after this much
// time is hung, and waiting on it would hang the caller.
const int start_timeout_ms = 5000;

// The display number Xvfb writes on `fd`, read until its line end or the deadline.
std::string display_number(int fd)
{
    const auto start = std::chrono::steady_clock::now();
    std::string number;
    while (before_deadline(start, start_timeout_ms)) {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, 100) <= 0)
            continue;
        char c;
        if (read(fd, &c, 1) != 1 || c == '\n')
            return number;
        number += c;
    }
    return "";
}

[[noreturn]] void exec_xvfb(int ready_fd, pid_t parent, const std::string& screen)
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(1);
    if (ready_fd == 3)
        fcntl(3, F_SETFD, 0);
    else
        dup2(ready_fd, 3);
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    dup2(quiet, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-noreset",
           static_cast<char*>(nullptr));
    _exit(127);
}

} // namespace

XServer start_xvfb(int width, int height)
{
    XServer server;
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        server.failure = "no pipe";
        return server;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        exec_xvfb(ready[1], parent, screen);
    close(ready[1]);
    const std::string number = display_number(ready[0]);
    close(ready[0]);
    if (number.empty()) {
        const int status = wait_for_exit(pid, 2000);
        if (status == -1)
            stop_process(pid);
        server.failure = status == 127 ? "Xvfb is not installed (Debian package xvfb)"
                         : status == -1 ? "Xvfb did not report its display within " +
                                              std::to_string(start_timeout_ms / 1000) + " s"
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
