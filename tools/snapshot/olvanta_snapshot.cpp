// olvanta-snapshot MESH OUT.png: the viewer's first frame of MESH as a picture, made where there
// is no screen. It starts a private Xvfb, runs the real viewer there with MESH typed at its
// prompt, reads the window back once the first frame stands still, then ends both. OUT.png is
// written whole or not at all.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "olvanta_version.h"
#include "output_target.h"
#include "png_file.h"
#include "x_session.h"

namespace {

const Rgb background{230, 230, 230};
const char* const usage =
    "usage: olvanta-snapshot [--time-limit SECONDS] MESH OUT.png\n"
    "       olvanta-snapshot --can-open-display\n"
    "Pictures the viewer's first frame of MESH in OUT.png, on a private X server: no screen needed.\n"
    "  --time-limit SECONDS  how long the viewer may take to read MESH and open its window (30)\n"
    "  --can-open-display    status 0 when a window could open on $DISPLAY, 1 otherwise\n"
    "  --help                this text\n"
    "  --version             the version\n";

int fail(const std::string& message)
{
    std::fprintf(stderr, "olvanta-snapshot: %s\n", message.c_str());
    return 1;
}

std::string quoted(const std::string& name)
{
    return "'" + name + "'";
}

// The viewer is built beside this program.
std::string viewer_beside_me()
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return "olvanta";
    const std::string path(self, std::size_t(length));
    return path.substr(0, path.rfind('/') + 1) + "olvanta";
}

struct Session {
    XServer server;
    Display* display = nullptr;
    ViewerRun viewer;

    ~Session()
    {
        stop_process(viewer.pid);
        if (display)
            XCloseDisplay(display);
        stop_process(server.pid);
        unlink(viewer.out_path.c_str());
        unlink(viewer.err_path.c_str());
    }
};

// The dialogue ends with "Loading file..." when the viewer has the name and goes for the mesh;
// the window follows at once when the reading is done.
bool still_reading(const Session& session)
{
    const std::string said = read_file(session.viewer.out_path);
    const std::string loading = "Loading file...";
    return said.size() >= loading.size() && said.compare(said.size() - loading.size(), loading.size(), loading) == 0;
}

std::string why_no_window(Session& session, const std::string& mesh, int seconds)
{
    int status = 0;
    if (waitpid(session.viewer.pid, &status, WNOHANG) == session.viewer.pid) {
        session.viewer.pid = -1;
        return WIFEXITED(status) ? "the viewer ended with status " + std::to_string(WEXITSTATUS(status)) +
                                       " before it opened a window"
                                 : "the viewer died of " + std::string(strsignal(WTERMSIG(status))) +
                                       " before it opened a window";
    }
    if (still_reading(session))
        return "the viewer was still reading " + quoted(mesh) + " when the time limit ended (" +
               std::to_string(seconds) + " s)";
    return "the viewer opened no window within " + std::to_string(seconds) + " s";
}

bool write_picture(const Image& frame, const std::string& picture, std::string& reason)
{
    OutputTarget target;
    if (!plan_output(picture, target, reason))
        return false;
    const int fd = open_output(target, "olvanta-snapshot", reason);
    if (fd < 0)
        return false;
    std::FILE* out = fdopen(fd, "wb");
    errno = 0;
    bool written = out && write_png(frame, out) && std::fflush(out) == 0;
    if (!written)
        reason = std::strerror(errno ? errno : EIO);
    written = written && sync_output(target, fd, reason);
    if ((out ? std::fclose(out) : close(fd)) != 0 && written) {
        written = false;
        reason = std::strerror(errno);
    }
    if (!written) {
        discard_output(target);
        return false;
    }
    return finish_output(target, reason);
}

int snapshot(const std::string& mesh, const std::string& picture, int seconds)
{
    Session session;
    session.server = start_xvfb();
    if (session.server.pid <= 0)
        return fail(session.server.failure);
    session.display = XOpenDisplay(session.server.display_name.c_str());
    if (!session.display)
        return fail("cannot connect to the private X server " + session.server.display_name);
    session.viewer = launch_viewer_program(session.server.display_name, mesh + "\n", viewer_beside_me());
    const Window window = find_window(session.display, "Olvanta", seconds * 1000);
    if (!window) {
        const std::string why = why_no_window(session, mesh, seconds);
        std::fputs(read_file(session.viewer.err_path).c_str(), stderr);
        return fail(why);
    }
    std::fputs(read_file(session.viewer.err_path).c_str(), stderr);
    const Image frame = wait_for_first_frame(session.display, window, background);
    if (frame.width == 0)
        return fail("the viewer drew no frame");
    std::string reason;
    if (!write_picture(frame, picture, reason))
        return fail("cannot write " + quoted(picture) + ": " + reason);
    std::printf("olvanta-snapshot: wrote %s (%d x %d), the first frame of %s\n", picture.c_str(),
                frame.width, frame.height, mesh.c_str());
    return 0;
}

// Whether a window could open on the display the environment names; scripts ask before they
// start the viewer, which would otherwise end with the toolkit's bare error.
int can_open_display()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    XCloseDisplay(display);
    return 0;
}

struct Options {
    std::string mesh, picture;
    int seconds = 30; // for the window to appear: reading the mesh and starting the viewer
};

bool parse_options(int argc, char** argv, Options& options)
{
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--time-limit") {
            char* end = nullptr;
            const long seconds = i + 1 < argc ? std::strtol(argv[++i], &end, 10) : 0;
            if (!end || *end != '\0' || seconds < 1 || seconds > 86400)
                return false;
            options.seconds = static_cast<int>(seconds);
        } else if (word.size() > 1 && word[0] == '-') {
            return false;
        } else {
            names.push_back(word);
        }
    }
    if (names.size() != 2)
        return false;
    options.mesh = names[0];
    options.picture = names[1];
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--can-open-display")
        return can_open_display();
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("olvanta-snapshot %s\n", OLVANTA_VERSION);
        return 0;
    }
    Options options;
    if (!parse_options(argc, argv, options)) {
        std::fputs(usage, stderr);
        return 2;
    }
    // A full disk is an error to report, not a reason to die.
    signal(SIGXFSZ, SIG_IGN);
    const std::string& mesh = options.mesh;
    if (mesh.find_first_of(" \t\n\r\v\f") != std::string::npos)
        return fail(quoted(mesh) + ": the viewer's prompt takes a file name without blanks");
    // Without blocking: a FIFO with no writer yet is a mesh still to come.
    const int fd = open(mesh.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return fail("cannot open " + quoted(mesh) + ": " + std::strerror(errno));
    close(fd);
    OutputTarget target;
    std::string reason;
    if (!plan_output(options.picture, target, reason))
        return fail("cannot write " + quoted(options.picture) + ": " + reason);
    return snapshot(mesh, options.picture, options.seconds);
}
