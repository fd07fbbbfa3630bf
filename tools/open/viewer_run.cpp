// One poll loop over process descriptors and pipes: no signal handler, no thread. The converter's
// pipe is held open here until it has succeeded, so the viewer never sees the end of an empty
// mesh from a conversion that failed.
#include "viewer_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fitting_words.h"
#include "mesh/shown_text.h"

namespace {

// A line that never ends is passed on in parts of this size, so a child cannot make us hold it all.
const std::size_t longest_line_held = 4 * shown_line_bytes;

// What a pipe said so far: the lines, passed on as they come when asked, and the last whole one,
// shown as a person may see it.
struct Listening {
    int fd = -1;
    bool pass_on = false;
    std::string unfinished, last_line;
};

// A child's words reach the terminal a line at a time, shown: whatever a converter or a viewer
// that read a hostile file writes, no control character of it reaches the terminal.
void take_line(Listening& from, const std::string& line, const std::string& file)
{
    const std::string seen = shown_line(line);
    if (from.pass_on)
        std::fprintf(stderr, "%s\n", seen.c_str());
    if (!line.empty())
        from.last_line = seen;
    const std::string fitted = converter_fitted(line);
    if (!from.pass_on && !fitted.empty())
        std::fprintf(stderr, "olvanta-open: %s\n", open_fitted_line(file, fitted).c_str());
}

// Reads what is there; false at its end.
bool listen(Listening& from, const std::string& file)
{
    char block[4096];
    const ssize_t got = read(from.fd, block, sizeof block);
    if (got < 0 && errno == EINTR)
        return true;
    if (got <= 0) {
        if (!from.unfinished.empty())
            take_line(from, from.unfinished, file);
        from.unfinished.clear();
        close(from.fd);
        from.fd = -1;
        return false;
    }
    from.unfinished.append(block, std::size_t(got));
    for (std::size_t end; (end = from.unfinished.find('\n')) != std::string::npos;) {
        take_line(from, from.unfinished.substr(0, end), file);
        from.unfinished.erase(0, end + 1);
    }
    if (from.unfinished.size() > longest_line_held) {
        take_line(from, from.unfinished, file);
        from.unfinished.clear();
    }
    return true;
}

void listen_to_the_end(Listening& from, const std::string& file)
{
    while (from.fd >= 0 && listen(from, file)) {
    }
}

// A descriptor that poll sees ready when the process has ended.
int ending_of(pid_t pid)
{
    return int(syscall(SYS_pidfd_open, pid, 0));
}

int ended_status(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string without_program(const std::string& line)
{
    for (const char* program : {"olvanta-convert: ", "olvanta: "})
        if (line.rfind(program, 0) == 0)
            return line.substr(std::strlen(program));
    return line;
}

struct Watch {
    ViewerRun& run;
    MeshSource& source;
    const std::string& file;
    int viewer_ending = -1, converter_ending = -1;
    Listening says, converter_errors, viewer_errors;
};

RunEnding conversion_failed(Watch& w, int status)
{
    kill(w.run.viewer, SIGTERM);
    ended_status(w.run.viewer);
    listen_to_the_end(w.converter_errors, w.file);
    const std::string said = w.converter_errors.last_line;
    return {1, said.empty() ? "it could not be converted (the converter ended with status " + std::to_string(status) + ")"
                            : without_program(said)};
}

RunEnding viewer_ended(Watch& w)
{
    const int status = ended_status(w.run.viewer);
    close_mesh_source(w.source);
    listen_to_the_end(w.viewer_errors, w.file);
    if (status == 0)
        return {0, ""};
    const std::string said = w.viewer_errors.last_line;
    return {status, said.empty() ? "the viewer ended with status " + std::to_string(status) : without_program(said)};
}

void add(std::vector<pollfd>& set, int fd)
{
    if (fd >= 0)
        set.push_back({fd, POLLIN, 0});
}

bool ready(const std::vector<pollfd>& set, int fd)
{
    for (const pollfd& p : set)
        if (p.fd == fd && fd >= 0)
            return p.revents != 0;
    return false;
}

} // namespace

std::string open_fitted_line(const std::string& file, const std::string& trouble)
{
    return fitted_line(file, trouble) + " (--as-is shows it as it lies)";
}

ViewerRun start_viewer(const std::vector<std::string>& glut_options, const std::string& typed, int mesh_fd,
                       bool capture_errors)
{
    ViewerRun run;
    int prompt[2], errors[2] = {-1, -1};
    if (pipe2(prompt, O_CLOEXEC) != 0 || (capture_errors && pipe2(errors, O_CLOEXEC) != 0))
        return run;
    const std::string viewer = program_beside_this_one("olvanta");
    const pid_t parent = getpid();
    run.viewer = fork();
    if (run.viewer == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        dup2(prompt[0], STDIN_FILENO);
        if (errors[1] >= 0)
            dup2(errors[1], STDERR_FILENO);
        fcntl(mesh_fd, F_SETFD, 0);
        std::vector<char*> argv{const_cast<char*>(viewer.c_str())};
        for (const std::string& option : glut_options)
            argv.push_back(const_cast<char*>(option.c_str()));
        argv.push_back(nullptr);
        execv(viewer.c_str(), argv.data());
        std::fprintf(stderr, "olvanta-open: cannot start %s: %s\n", shown(viewer).c_str(), std::strerror(errno));
        _exit(127);
    }
    close(prompt[0]);
    if (errors[1] >= 0)
        close(errors[1]);
    run.errors = errors[0];
    const std::string line = typed + "\n";
    if (run.viewer > 0 && write(prompt[1], line.data(), line.size()) < 0) {
        // The viewer ended before its prompt: its own status says why.
    }
    close(prompt[1]);
    return run;
}

RunEnding follow_run(ViewerRun& run, MeshSource& source, const std::string& file)
{
    Watch w{run,
            source,
            file,
            ending_of(run.viewer),
            source.converter > 0 ? ending_of(source.converter) : -1,
            {source.converter_says, false, "", ""},
            {source.converter_errors, true, "", ""},
            {run.errors, true, "", ""}};
    source.converter_says = source.converter_errors = run.errors = -1;
    RunEnding ending;
    for (;;) {
        std::vector<pollfd> set;
        for (const int fd : {w.viewer_ending, w.converter_ending, w.says.fd, w.converter_errors.fd, w.viewer_errors.fd})
            add(set, fd);
        if (poll(set.data(), set.size(), -1) < 0 && errno != EINTR)
            break;
        for (Listening* from : {&w.says, &w.converter_errors, &w.viewer_errors})
            if (ready(set, from->fd))
                listen(*from, file);
        if (ready(set, w.converter_ending)) {
            close(w.converter_ending);
            w.converter_ending = -1;
            const int status = wait_for_converter(source);
            if (status != 0) {
                ending = conversion_failed(w, status);
                break;
            }
            release_pipe(source);
        }
        if (ready(set, w.viewer_ending)) {
            ending = viewer_ended(w);
            break;
        }
    }
    for (int* fd : {&w.viewer_ending, &w.converter_ending, &w.says.fd, &w.converter_errors.fd, &w.viewer_errors.fd})
        if (*fd >= 0)
            close(*fd);
    close_mesh_source(source);
    return ending;
}
