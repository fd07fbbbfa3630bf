// olvanta-snapshot MESH OUT.png: the viewer's first frame of MESH as a picture, made where there
// is no screen. It starts a private Xvfb, runs the real viewer there with MESH typed at its
// prompt, reads the window back once the first frame stands still, then ends both.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "png_file.h"
#include "x_session.h"

namespace {

const Rgb background{230, 230, 230};

int fail(const std::string& message)
{
    std::fprintf(stderr, "olvanta-snapshot: %s\n", message.c_str());
    return 1;
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

int snapshot(const std::string& mesh, const std::string& picture)
{
    Session session;
    session.server = start_xvfb();
    if (session.server.pid <= 0)
        return fail(session.server.failure);
    session.display = XOpenDisplay(session.server.display_name.c_str());
    if (!session.display)
        return fail("cannot connect to the private X server " + session.server.display_name);
    session.viewer = launch_viewer_program(session.server.display_name, mesh + "\n", viewer_beside_me());
    const Window window = find_window(session.display, "Olvanta", 30000);
    const std::string viewer_said = read_file(session.viewer.err_path);
    std::fputs(viewer_said.c_str(), stderr);
    if (!window)
        return fail("the viewer opened no window");
    const Image frame = wait_for_first_frame(session.display, window, background);
    if (frame.width == 0)
        return fail("the viewer drew no frame");
    if (!write_png(frame, picture))
        return fail("cannot write '" + picture + "'");
    std::printf("olvanta-snapshot: wrote %s (%d x %d), the first frame of %s\n", picture.c_str(),
                frame.width, frame.height, mesh.c_str());
    return 0;
}

} // namespace

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

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--can-open-display")
        return can_open_display();
    if (argc != 3) {
        std::fputs("usage: olvanta-snapshot MESH OUT.png\n       olvanta-snapshot --can-open-display\n", stderr);
        return 2;
    }
    const std::string mesh = argv[1], picture = argv[2];
    if (mesh.find_first_of(" \t\n\r\v\f") != std::string::npos)
        return fail("'" + mesh + "': the viewer's prompt takes a file name without blanks");
    const int fd = open(mesh.c_str(), O_RDONLY);
    if (fd < 0)
        return fail("cannot open '" + mesh + "': " + std::strerror(errno));
    close(fd);
    return snapshot(mesh, picture);
}
