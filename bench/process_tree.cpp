// Walking /proc: each process's parent is the fourth field of its stat line, after the name in
// parentheses (which may itself hold blanks and parentheses).
#include "process_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

namespace {

struct StatLine {
    pid_t parent = 0;
    unsigned long long cpu_ticks = 0;
    long resident_pages = 0;
};

bool read_stat(pid_t pid, StatLine& line)
{
    char path[64], text[1024];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0)
        return false;
    text[got] = '\0';
    const char* after_name = std::strrchr(text, ')');
    if (!after_name)
        return false;
    char state = 0;
    int parent = 0;
    unsigned long long user = 0, system = 0;
    long resident = 0;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime cutime
    // cstime priority nice threads itrealvalue starttime vsize rss
    if (std::sscanf(after_name + 1,
                    " %c %d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %*d %*d %*d %*d %*d %*d %*u %*u %ld",
                    &state, &parent, &user, &system, &resident) != 5)
        return false;
    line.parent = parent;
    line.cpu_ticks = user + system;
    line.resident_pages = state == 'Z' ? 0 : resident;
    return true;
}

std::multimap<pid_t, pid_t> children_by_parent()
{
    std::multimap<pid_t, pid_t> children;
    DIR* proc = opendir("/proc");
    if (!proc)
        return children;
    while (const dirent* entry = readdir(proc)) {
        const pid_t pid = pid_t(std::atoi(entry->d_name));
        StatLine line;
        if (pid > 0 && read_stat(pid, line))
            children.emplace(line.parent, pid);
    }
    closedir(proc);
    return children;
}

std::vector<pid_t> outsiders;

bool is_outsider(pid_t pid)
{
    for (const pid_t outsider : outsiders)
        if (outsider == pid)
            return true;
    return false;
}

} // namespace

void not_in_any_tree(pid_t pid)
{
    outsiders.push_back(pid);
}

pid_t start_command(const std::vector<std::string>& argv, const std::string& display)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    setpgid(0, 0);
    const int nowhere = open("/dev/null", O_RDWR);
    dup2(nowhere, 0);
    dup2(nowhere, 1);
    dup2(nowhere, 2);
    if (!display.empty())
        setenv("DISPLAY", display.c_str(), 1);
    std::vector<char*> words;
    for (const std::string& word : argv)
        words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    execvp(words[0], words.data());
    _exit(127);
}

std::vector<pid_t> tree_of(pid_t root)
{
    const std::multimap<pid_t, pid_t> children = children_by_parent();
    std::vector<pid_t> tree{root};
    // Orphans that were handed to us as the subreaper belong to the tree as well.
    const auto [first, last] = children.equal_range(getpid());
    for (auto it = first; it != last; ++it)
        if (it->second != root && !is_outsider(it->second))
            tree.push_back(it->second);
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const auto [a, b] = children.equal_range(tree[i]);
        for (auto it = a; it != b; ++it)
            tree.push_back(it->second);
    }
    return tree;
}

TreeSample sample_tree(const std::vector<pid_t>& tree)
{
    static const double tick = double(sysconf(_SC_CLK_TCK));
    static const double page_mib = double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
    TreeSample sample;
    for (const pid_t pid : tree) {
        StatLine line;
        if (!read_stat(pid, line))
            continue;
        sample.cpu_seconds += double(line.cpu_ticks) / tick;
        sample.resident_mib += double(line.resident_pages) * page_mib;
    }
    return sample;
}

namespace {

// Every ended child of ours but the outsiders, which are waited for by whoever started them.
void reap_tree_children()
{
    for (pid_t pid; (pid = waitpid(-1, nullptr, WNOHANG)) > 0;) {
    }
}

} // namespace

void end_tree(pid_t root)
{
    for (const int signal_number : {SIGTERM, SIGKILL}) {
        for (const pid_t pid : tree_of(root))
            kill(pid, signal_number);
        for (int i = 0; i < 100; ++i) {
            reap_tree_children();
            if (tree_of(root).size() <= 1 && kill(root, 0) != 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    reap_tree_children();
}

bool has_exited(pid_t pid, int& status)
{
    int raw = 0;
    if (waitpid(pid, &raw, WNOHANG) != pid)
        return false;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
}
