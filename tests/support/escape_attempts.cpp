// Each attempt is the plainest call that does it, as injected code would make it; an attempt that
// works undoes what it did where it can (a new file removed, a stopped process continued).
#include "escape_attempts.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Each returns 0 when it worked, else the error that stopped it.
int read_from(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char byte = 0;
    const ssize_t got = read(fd, &byte, 1);
    const int error = got == 1 ? 0 : got < 0 ? errno : ENODATA;
    close(fd);
    return error;
}

int append_to(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const char line[] = "echo escaped\n";
    const int error = write(fd, line, sizeof line - 1) == ssize_t(sizeof line - 1) ? 0 : errno;
    close(fd);
    return error;
}

int create_in(const std::string& folder)
{
    const std::string path = folder + "/olvanta-escaped-" + std::to_string(getpid());
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    close(fd);
    unlink(path.c_str());
    return 0;
}

int connect_to(const sockaddr* address, socklen_t length)
{
    const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    const int error = connect(fd, address, length) == 0 ? 0 : errno;
    close(fd);
    return error;
}

int connect_over_tcp(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connect_to(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int connect_locally(const std::string& name, bool abstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t at = abstract ? 1 : 0;
    if (at + name.size() >= sizeof address.sun_path)
        return ENAMETOOLONG;
    std::memcpy(address.sun_path + at, name.data(), name.size());
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + at + name.size() + (abstract ? 0 : 1));
    return connect_to(reinterpret_cast<const sockaddr*>(&address), length);
}

// The shell says it ran by its status; the child says why not by the error as its status.
int start_a_shell()
{
    const int shell_ran = 77;
    const pid_t pid = fork();
    if (pid < 0)
        return errno;
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", "exit 77", static_cast<char*>(nullptr));
        _exit(errno == shell_ran ? EIO : errno);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status))
        return ECHILD;
    return WEXITSTATUS(status) == shell_ran ? 0 : WEXITSTATUS(status);
}

int stop(pid_t victim)
{
    if (kill(victim, SIGSTOP) != 0)
        return errno;
    kill(victim, SIGCONT);
    return 0;
}

int trace(pid_t victim)
{
    if (ptrace(PTRACE_SEIZE, victim, nullptr, nullptr) != 0)
        return errno;
    ptrace(PTRACE_INTERRUPT, victim, nullptr, nullptr);
    waitpid(victim, nullptr, __WALL);
    ptrace(PTRACE_DETACH, victim, nullptr, nullptr);
    return 0;
}

int fake_terminal_input(int terminal)
{
    const char key = ' ';
    return ioctl(terminal, TIOCSTI, &key) == 0 ? 0 : errno;
}

EscapeOutcome outcome(const char* what, int error)
{
    return EscapeOutcome{what, error == 0, error};
}

} // namespace

std::vector<EscapeOutcome> try_to_escape(const EscapeTargets& t)
{
    std::vector<EscapeOutcome> outcomes = {
        outcome("read ~/.ssh/id_rsa", read_from(t.home + "/.ssh/id_rsa")),
        outcome("read a file in a folder beside the input's", read_from(t.beside)),
        outcome("append to ~/.bashrc", append_to(t.home + "/.bashrc")),
        outcome("append to the input itself", append_to(t.input)),
        outcome("create a file in /tmp", create_in(t.temporary_folder)),
        outcome("connect over TCP to a port on this machine", connect_over_tcp(t.tcp_port)),
        outcome("connect to a local socket by name", connect_locally(t.local_socket, false)),
        outcome("connect to an abstract local socket", connect_locally(t.abstract_socket, true)),
        outcome("start /bin/sh", start_a_shell()),
        outcome("stop another process of the same user", stop(t.victim)),
        outcome("trace another process of the same user", trace(t.victim)),
    };
    if (t.terminal >= 0)
        outcomes.push_back(outcome("fake input on the terminal", fake_terminal_input(t.terminal)));
    return outcomes;
}

std::string outcome_lines(const std::vector<EscapeOutcome>& outcomes)
{
    std::string lines;
    for (const EscapeOutcome& o : outcomes)
        lines += o.what + ": " + (o.done ? std::string("done") : "refused (" + std::string(std::strerror(o.error)) + ")") +
                 "\n";
    return lines;
}

std::vector<EscapeOutcome> parse_outcome_lines(const std::string& lines)
{
    std::vector<EscapeOutcome> outcomes;
    for (std::size_t at = 0, end; at < lines.size(); at = end + 1) {
        end = lines.find('\n', at);
        if (end == std::string::npos)
            end = lines.size();
        const std::string line = lines.substr(at, end - at);
        const std::size_t colon = line.rfind(": ");
        if (colon != std::string::npos)
            outcomes.push_back(EscapeOutcome{line.substr(0, colon), line.substr(colon + 2) == "done", 0});
    }
    return outcomes;
}
