// The viewer measured as a person waits for it: from the typed name to the window's request.
#include "whole_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_between(Clock::time_point start, Clock::time_point stop)
{
    return std::chrono::duration<double>(stop - start).count();
}

// X displays listen on TCP port 6000 + their number.
const int first_port = 6000;

bool read_until_prompt(int from)
{
    const std::string prompt = "Enter File name: ";
    std::string seen;
    char block[256];
    while (seen.size() < prompt.size() || seen.compare(seen.size() - prompt.size(), prompt.size(), prompt) != 0) {
        const ssize_t got = read(from, block, sizeof block);
        if (got <= 0)
            return false;
        seen.append(block, std::size_t(got));
    }
    return true;
}

// Held to the first core, as `taskset -c 0` would hold it.
void place(const Placement& placement)
{
    if (!placement.one_core)
        return;
    cpu_set_t first;
    CPU_ZERO(&first);
    CPU_SET(0, &first);
    sched_setaffinity(0, sizeof first, &first);
}

pid_t start_viewer(const std::string& viewer, int input, int output, const StandInDisplay& display, Placement placement)
{
    const pid_t pid = fork();
    if (pid == 0) {
        place(placement);
        dup2(input, 0);
        dup2(output, 1);
        dup2(open("/dev/null", O_WRONLY), 2);
        setenv("DISPLAY", ("127.0.0.1:" + std::to_string(display.number)).c_str(), 1);
        execl(viewer.c_str(), viewer.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

} // namespace

StandInDisplay open_stand_in_display()
{
    StandInDisplay display;
    for (int number = 40; number < 400 && display.listener < 0; ++number) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(first_port + number));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 4) == 0) {
            display.listener = fd;
            display.number = number;
        } else {
            close(fd);
        }
    }
    return display;
}

void close_stand_in_display(StandInDisplay& display)
{
    if (display.listener >= 0)
        close(display.listener);
    display.listener = -1;
}

ProcessRun from_name_to_window_request(const std::string& viewer, const std::string& mesh, const StandInDisplay& display,
                                       Placement placement)
{
    ProcessRun run;
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
        return run;
    const pid_t pid = start_viewer(viewer, input[0], output[1], display, placement);
    close(input[0]);
    close(output[1]);
    if (read_until_prompt(output[0])) {
        const std::string typed = mesh + "\n";
        const auto typed_at = Clock::now();
        pollfd waiting{display.listener, POLLIN, 0};
        if (write(input[1], typed.data(), typed.size()) == ssize_t(typed.size()) && poll(&waiting, 1, 120000) == 1) {
            const int connection = accept(display.listener, nullptr, nullptr);
            run.seconds = seconds_between(typed_at, Clock::now());
            close(connection);
        }
    }
    close(input[1]);
    close(output[0]);
    rusage usage{};
    wait4(pid, nullptr, 0, &usage);
    run.page_faults = usage.ru_minflt;
    return run;
}

double seconds_from_start_to_window_request(const std::string& program, const std::string& mesh,
                                            const StandInDisplay& display)
{
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int nowhere = open("/dev/null", O_RDWR);
        dup2(nowhere, 0);
        dup2(nowhere, 1);
        dup2(nowhere, 2);
        setenv("DISPLAY", ("127.0.0.1:" + std::to_string(display.number)).c_str(), 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS"); // no desktop notice about the refused display
        unsetenv("XDG_RUNTIME_DIR");
        execl(program.c_str(), program.c_str(), mesh.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    double seconds = -1;
    pollfd waiting{display.listener, POLLIN, 0};
    if (poll(&waiting, 1, 120000) == 1) {
        const int connection = accept(display.listener, nullptr, nullptr);
        seconds = seconds_between(start, Clock::now());
        close(connection);
    }
    waitpid(pid, nullptr, 0);
    return seconds;
}

double seconds_of_process(const std::string& program, const std::string& argument1,
                          const std::string& argument2, Placement placement)
{
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        place(placement);
        execl(program.c_str(), program.c_str(), argument1.c_str(), argument2.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const auto stop = Clock::now();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds_between(start, stop) : -1;
}
