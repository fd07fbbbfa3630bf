// The real tools run as a person runs them, in a terminal the test owns, as root or as the
// ordinary user nobody, with a library loaded by LD_PRELOAD that shares a memory file with the
// test; and what could betray an escape looked at from outside afterwards: the terminal's
// settings and what reached it, the processes left behind, the time taken.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "escape_attempts.h"
#include "escape_scene.h"
#include "probe_memory.h"
#include "test_files.h"

// ---- Who runs the tools ----

struct RunAs {
    bool nobody = false; // as root when false
    uid_t uid = 0;
    gid_t gid = 0;
};

inline RunAs as_root()
{
    return RunAs{false, 0, 0};
}

inline RunAs as_nobody()
{
    const passwd* const entry = getpwnam("nobody");
    return entry ? RunAs{true, entry->pw_uid, entry->pw_gid} : RunAs{true, 65534, 65534};
}

inline const char* name_of(const RunAs& user)
{
    return user.nobody ? "nobody" : "root";
}

// ---- The memory the libraries share with the test ----

// A new, empty memory file that `user` may map.
inline bool make_probe_memory(const std::string& path, const RunAs& user)
{
    unlink(path.c_str());
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool made = fd >= 0 && ftruncate(fd, off_t(probe_memory_bytes)) == 0 && fchown(fd, user.uid, user.gid) == 0;
    if (fd >= 0)
        close(fd);
    return made;
}

// Everything the processes said there.
inline std::string probe_text(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    void* const mapped = mmap(nullptr, probe_memory_bytes, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (mapped == MAP_FAILED)
        return "";
    const ProbeMemory* const memory = static_cast<const ProbeMemory*>(mapped);
    const std::string text(memory->text, std::min<std::size_t>(memory->said.load(), probe_text_room));
    munmap(mapped, probe_memory_bytes);
    return text;
}

struct ProbeReport {
    std::string heading; // "PID ROLE", ROLE "PROGRAM KIND READS FDS"
    std::string who;     // "PROGRAM KIND FDS": what the process is, whatever it read
    std::string kind;    // the call filter in force
    std::vector<EscapeOutcome> outcomes;
};

// "PROGRAM KIND READS FDS" without READS.
inline std::string who_in(const std::string& role)
{
    const std::size_t kind_end = role.find(' ', role.find(' ') + 1);
    const std::size_t reads_end = role.find(' ', kind_end + 1);
    return role.substr(0, kind_end) + (reads_end == std::string::npos ? "" : role.substr(reads_end));
}

// One report a process: its heading after "@@ ", then its lines.
inline std::vector<ProbeReport> reports_in(const std::string& text)
{
    std::vector<ProbeReport> reports;
    std::size_t at = text.rfind("@@ ", 0) == 0 ? 0 : text.find("\n@@ ");
    while (at != std::string::npos) {
        at = text.find("@@ ", at);
        const std::size_t heading_end = std::min(text.find('\n', at), text.size());
        const std::size_t next = text.find("\n@@ ", heading_end);
        ProbeReport report;
        report.heading = text.substr(at + 3, heading_end - at - 3);
        const std::string role = report.heading.substr(report.heading.find(' ') + 1);
        report.who = who_in(role);
        const std::size_t kind_at = role.find(' ') + 1;
        report.kind = role.substr(kind_at, role.find(' ', kind_at) - kind_at);
        if (heading_end < text.size())
            report.outcomes = parse_outcome_lines(text.substr(heading_end + 1, next == std::string::npos ? next : next - heading_end));
        reports.push_back(report);
        at = next;
    }
    return reports;
}

// ---- The terminal ----

struct Terminal {
    int controller = -1, terminal = -1; // the test keeps both ends for the whole run
};

inline Terminal open_terminal()
{
    Terminal t;
    if (openpty(&t.controller, &t.terminal, nullptr, nullptr, nullptr) != 0)
        return Terminal{};
    fcntl(t.controller, F_SETFL, O_NONBLOCK);
    fcntl(t.controller, F_SETFD, FD_CLOEXEC);
    fcntl(t.terminal, F_SETFD, FD_CLOEXEC);
    return t;
}

inline void close_terminal(Terminal& t)
{
    for (int* fd : {&t.controller, &t.terminal})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
}

// What a program could change of a terminal and a person would notice.
struct TerminalState {
    termios settings{};
    int discipline = -1;
};

inline TerminalState state_of(const Terminal& t)
{
    TerminalState state;
    tcgetattr(t.terminal, &state.settings);
    ioctl(t.terminal, TIOCGETD, &state.discipline);
    return state;
}

inline bool same_state(const TerminalState& a, const TerminalState& b)
{
    return a.settings.c_iflag == b.settings.c_iflag && a.settings.c_oflag == b.settings.c_oflag &&
           a.settings.c_cflag == b.settings.c_cflag && a.settings.c_lflag == b.settings.c_lflag &&
           std::memcmp(a.settings.c_cc, b.settings.c_cc, sizeof a.settings.c_cc) == 0 && a.discipline == b.discipline;
}

// ---- Processes ----

// Processes whose parent is this one (the test is their subreaper: whatever a tool leaves behind
// ends up here), other than `known`; the ended ones are reaped.
inline std::vector<pid_t> processes_left(const std::set<pid_t>& known)
{
    while (true) {
        siginfo_t ended{};
        if (waitid(P_ALL, 0, &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid == 0 || known.count(ended.si_pid))
            break;
        waitpid(ended.si_pid, nullptr, 0);
    }
    std::vector<pid_t> left;
    const std::string self = std::to_string(getpid());
    DIR* const proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        const pid_t pid = pid_t(std::atoi(entry->d_name));
        if (pid <= 0 || known.count(pid))
            continue;
        const std::string stat = read_whole_file("/proc/" + std::string(entry->d_name) + "/stat");
        const std::size_t after_name = stat.rfind(") ");
        if (after_name == std::string::npos)
            continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(stat.c_str() + after_name + 2, "%c %d", &state, &parent) == 2 && parent == getpid() && state != 'Z')
            left.push_back(pid);
    }
    if (proc)
        closedir(proc);
    return left;
}

inline void end_processes(const std::vector<pid_t>& pids)
{
    for (const pid_t pid : pids) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// ---- The escape probe's environment ----

// The tool's parent keeps this in its environment; the key's file holds key_words.
const char* const secret = "OLVANTA_SECRET=the-parent-keeps-this";
const char* const secret_words = "the-parent-keeps-this";
const char* const key_words = "BEGIN KEY";

// All a tool gets under the probe, the secret first: the first bytes of the environment hold it.
inline std::vector<std::string> probe_environment(const EscapeTargets& t, const std::string& memory,
                                                  const std::string& input, const std::string& output,
                                                  const std::string& mount_point, const std::string& display)
{
    return {secret,
            "PATH=/usr/bin:/bin",
            "HOME=" + t.home,
            "DISPLAY=" + display,
            "LD_PRELOAD=" OLVANTA_ESCAPE_PROBE,
            "ASAN_OPTIONS=verify_asan_link_order=0",
            "OLVANTA_PROBE_MEMORY=" + memory,
            "OLVANTA_PROBE_INPUT=" + input,
            "OLVANTA_PROBE_BESIDE=" + t.beside,
            "OLVANTA_PROBE_TCP_PORT=" + std::to_string(t.tcp_port),
            "OLVANTA_PROBE_LOCAL_SOCKET=" + t.local_socket,
            "OLVANTA_PROBE_ABSTRACT_SOCKET=" + t.abstract_socket,
            "OLVANTA_PROBE_VICTIM=" + std::to_string(t.victim),
            "OLVANTA_PROBE_OUTPUT=" + output,
            "OLVANTA_PROBE_MOUNT_POINT=" + mount_point};
}

// ---- Running a tool ----

struct ToolRun {
    int status = -1;       // exit status, 128 + a signal, -1 when it had to be killed
    std::string seen;      // everything that reached the terminal
    double seconds = 0;
};

// `command` as `user`, in a session of its own whose controlling terminal is `t`, with exactly
// `environment`; its standard input is the terminal, or a pipe holding `typed` when that is not
// empty; of the test's other descriptors it keeps `handed`. Ended after `limit_seconds`.
inline ToolRun run_in_terminal(const std::vector<std::string>& command, const std::vector<std::string>& environment,
                               const RunAs& user, Terminal& t, const std::string& folder, const std::string& typed = "",
                               const std::set<int>& handed = {}, int limit_seconds = 60)
{
    std::vector<std::string> words;
    if (user.nobody)
        words = {"/usr/sbin/runuser", "-u", "nobody", "--"};
    words.push_back("/usr/bin/env");
    words.push_back("-i");
    words.insert(words.end(), environment.begin(), environment.end());
    words.insert(words.end(), command.begin(), command.end());
    int typing[2] = {-1, -1};
    if (!typed.empty() && pipe2(typing, O_CLOEXEC) != 0)
        return ToolRun{};
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        ioctl(t.terminal, TIOCSCTTY, 0);
        dup2(typed.empty() ? t.terminal : typing[0], STDIN_FILENO);
        dup2(t.terminal, STDOUT_FILENO);
        dup2(t.terminal, STDERR_FILENO);
        for (int fd = 3; fd < 1024; ++fd)
            if (!handed.count(fd))
                close(fd);
        for (const int fd : handed)
            fcntl(fd, F_SETFD, 0);
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (typing[0] >= 0) {
        close(typing[0]);
        const ssize_t put = write(typing[1], typed.data(), typed.size());
        (void)put;
        close(typing[1]);
    }
    ToolRun run;
    char block[4096];
    for (;;) {
        pollfd waiting{t.controller, POLLIN, 0};
        poll(&waiting, 1, 20);
        for (ssize_t got; (got = read(t.controller, block, sizeof block)) > 0;)
            run.seen.append(block, std::size_t(got));
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(limit_seconds)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            break;
        }
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    usleep(20000);
    for (ssize_t got; (got = read(t.controller, block, sizeof block)) > 0;)
        run.seen.append(block, std::size_t(got));
    return run;
}

// ---- A display that refuses ----

// An X display on the loopback whose port nobody listens on: a viewer asked to open a window there
// ends once it has read its file.
inline std::string refused_display()
{
    for (int display = 150; display < 250; ++display) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(6000 + display));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool refused = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno == ECONNREFUSED;
        close(fd);
        if (refused)
            return "127.0.0.1:" + std::to_string(display);
    }
    return "";
}
