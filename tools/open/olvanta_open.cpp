// olvanta-open [GLUT OPTIONS] FILE: shows any mesh file in the viewer. A file in the viewer's own
// form is typed at its prompt as it is; anything else the converter reads goes through it into a
// pipe, whose name is typed instead, so nothing is written anywhere. GLUT options reach the viewer
// unchanged. The exit status is the viewer's, or 1 when the file could not be shown at all.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mesh_source.h"
#include "olvanta_version.h"

namespace {

const char* const usage =
    "usage: olvanta-open [GLUT OPTIONS] FILE\n"
    "Shows FILE in the viewer: a mesh in the viewer's own form as it is, any other file of the\n"
    "Vertex/Face family (plain or gzip-compressed), OBJ, PLY, STL, OFF, glTF, 3MF and the other\n"
    "formats olvanta-convert reads converted on the way, through a pipe: no file is written.\n"
    "GLUT OPTIONS (-display, -geometry, ...) reach the viewer unchanged.\n"
    "  --help, --version\n";

// The viewer's prompt takes a word; a name with blanks in it reaches it as an open descriptor.
std::string name_to_type(const std::string& name)
{
    if (name.find_first_of(" \t\n\v\f\r") == std::string::npos)
        return name;
    const int fd = open(name.c_str(), O_RDONLY);
    return fd < 0 ? name : "/dev/fd/" + std::to_string(fd);
}

// The viewer with the GLUT options, the name typed at its prompt through a pipe; it inherits the
// converter's pipe, `mesh_fd`, when there is one.
pid_t start_viewer(const std::vector<char*>& glut_options, const std::string& typed, int mesh_fd)
{
    int prompt[2];
    if (pipe(prompt) != 0)
        return -1;
    const std::string viewer = program_beside_this_one("olvanta");
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        dup2(prompt[0], STDIN_FILENO);
        close(prompt[0]);
        close(prompt[1]);
        if (mesh_fd >= 0)
            fcntl(mesh_fd, F_SETFD, 0);
        std::vector<char*> argv{const_cast<char*>(viewer.c_str())};
        argv.insert(argv.end(), glut_options.begin(), glut_options.end());
        argv.push_back(nullptr);
        execv(viewer.c_str(), argv.data());
        std::fprintf(stderr, "olvanta-open: cannot start %s: %s\n", viewer.c_str(), std::strerror(errno));
        _exit(127);
    }
    close(prompt[0]);
    const std::string line = typed + "\n";
    if (write(prompt[1], line.data(), line.size()) < 0) {
        // The viewer ended before its prompt: its own status says why.
    }
    close(prompt[1]);
    return pid;
}

int exit_status(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Whichever ends first decides: a failed conversion ends the viewer, which would only show an
// empty mesh (the converter has said why); a viewer that ends ends the conversion. Otherwise the
// run ends with the viewer.
int wait_for_both(pid_t viewer, MeshSource& source)
{
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(-1, &status, 0);
        if (ended < 0 && errno == EINTR)
            continue;
        if (ended == viewer || ended < 0)
            break;
        if (ended == source.converter) {
            source.converter = -1;
            if (exit_status(status) == 0)
                continue;
            kill(viewer, SIGTERM);
            waitpid(viewer, nullptr, 0);
            return 1;
        }
    }
    close_mesh_source(source);
    return exit_status(status);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string last = argc > 1 ? argv[argc - 1] : "";
    if (argc == 2 && last == "--help") {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && last == "--version") {
        std::printf("olvanta-open %s\n", OLVANTA_VERSION);
        return 0;
    }
    // GLUT's options that take a value: what follows them is that value, not a FILE.
    const std::string before_last = argc > 2 ? argv[argc - 2] : "";
    if (argc < 2 || last.empty() || (last[0] == '-' && last.size() > 1) || before_last == "-display" ||
        before_last == "-geometry") {
        std::fprintf(stderr, "olvanta-open: a FILE to show is needed, after any GLUT options\n%s", usage);
        return 2;
    }
    MeshSource source;
    std::string reason;
    if (!open_mesh_source(last, source, reason)) {
        std::fprintf(stderr, "olvanta-open: cannot show '%s': %s\n", last.c_str(), reason.c_str());
        return 1;
    }
    if (source.converter > 0)
        std::fprintf(stderr, "olvanta-open: '%s' is not in the viewer's own form; it is converted on the way, "
                             "and no file is written\n", last.c_str());
    const std::vector<char*> glut_options(argv + 1, argv + argc - 1);
    const pid_t viewer = start_viewer(glut_options, source.converter > 0 ? source.name : name_to_type(last), source.fd);
    if (viewer < 0) {
        std::fprintf(stderr, "olvanta-open: cannot start the viewer: %s\n", std::strerror(errno));
        close_mesh_source(source);
        return 1;
    }
    // Only the viewer reads the pipe, so that the converter learns when it has gone.
    if (source.fd >= 0)
        close(source.fd);
    source.fd = -1;
    return wait_for_both(viewer, source);
}
