// A private X server, a program started on it with text on its standard input, and pictures
// read back from its window. Shared by the snapshot tool and the tests of the real viewer.
#include "x_session.h"

#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

bool before_deadline(Clock::time_point start, int timeout_ms)
{
    return Clock::now() - start < std::chrono::milliseconds(timeout_ms);
}

int x_errors = 0;

// A window can vanish between two requests; the caller sees an empty picture and tries again.
int count_x_error(Display*, XErrorEvent*)
{
    ++x_errors;
    return 0;
}

} // namespace

void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string window_name(Display* display, Window window)
{
    char* name = nullptr;
    std::string result;
    if (XFetchName(display, window, &name) && name) {
        result = name;
        XFree(name);
    }
    return result;
}

bool Image::operator==(const Image& o) const
{
    if (width != o.width || height != o.height)
        return false;
    for (std::size_t i = 0; i < pixels.size(); ++i)
        if (pixels[i].r != o.pixels[i].r || pixels[i].g != o.pixels[i].g || pixels[i].b != o.pixels[i].b)
            return false;
    return true;
}

bool near_colour(Rgb p, Rgb w, int tolerance)
{
    return std::abs(p.r - w.r) <= tolerance && std::abs(p.g - w.g) <= tolerance &&
           std::abs(p.b - w.b) <= tolerance;
}

XServer start_xvfb()
{
    XServer server;
    int ready[2];
    if (pipe(ready) != 0) {
        server.failure = "no pipe";
        return server;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(ready[1], 3);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten",
               "tcp", "-noreset", static_cast<char*>(nullptr));
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

ViewerRun launch_viewer_program(const std::string& display_name, const std::string& typed,
                                const std::string& program)
{
    ViewerRun run;
    run.out_path = make_text_file("");
    run.err_path = make_text_file("");
    const std::string input = make_text_file(typed);
    const int input_fd = open(input.c_str(), O_RDONLY);
    unlink(input.c_str());
    run.pid = fork();
    if (run.pid == 0) {
        dup2(input_fd, 0);
        dup2(open(run.out_path.c_str(), O_WRONLY), 1);
        dup2(open(run.err_path.c_str(), O_WRONLY), 2);
        setenv("DISPLAY", display_name.c_str(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input_fd);
    return run;
}

int wait_for_exit(pid_t pid, int timeout_ms)
{
    const auto start = Clock::now();
    do {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pause_ms(20);
    } while (before_deadline(start, timeout_ms));
    return -1;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

Window find_window(Display* display, const std::string& title, int timeout_ms)
{
    const auto start = Clock::now();
    do {
        Window root_return, parent;
        Window* children = nullptr;
        unsigned count = 0;
        Window found = 0;
        XQueryTree(display, DefaultRootWindow(display), &root_return, &parent, &children, &count);
        for (unsigned i = 0; i < count && !found; ++i) {
            XWindowAttributes a;
            if (window_name(display, children[i]) == title &&
                XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable)
                found = children[i];
        }
        if (children)
            XFree(children);
        if (found)
            return found;
        pause_ms(50);
    } while (before_deadline(start, timeout_ms));
    return 0;
}

Image capture(Display* display, Window window)
{
    XSetErrorHandler(count_x_error);
    XWindowAttributes a;
    Image image;
    if (!XGetWindowAttributes(display, window, &a) || a.map_state != IsViewable)
        return image;
    XImage* x_image = XGetImage(display, window, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
    if (!x_image)
        return image;
    image.width = a.width;
    image.height = a.height;
    image.pixels.reserve(std::size_t(a.width) * std::size_t(a.height));
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const unsigned long p = XGetPixel(x_image, x, y);
            image.pixels.push_back({int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff)});
        }
    XDestroyImage(x_image);
    return image;
}

Image settled_picture(Display* display, Window window, const Image* before, int timeout_ms)
{
    const auto start = Clock::now();
    Image last = capture(display, window);
    while (before_deadline(start, timeout_ms)) {
        pause_ms(150);
        Image now = capture(display, window);
        const bool changed_from_before = !before || !(now == *before);
        if (now == last && changed_from_before && now.width > 0)
            return now;
        last = std::move(now);
    }
    return last;
}

std::string make_text_file(const std::string& content)
{
    char path[] = "/tmp/olvanta-window-XXXXXX";
    const int fd = mkstemp(path);
    if (fd >= 0) {
        if (write(fd, content.data(), content.size()) != ssize_t(content.size()))
            std::fprintf(stderr, "short write to %s\n", path);
        close(fd);
    }
    return path;
}

Image wait_for_first_frame(Display* display, Window window, Rgb background)
{
    for (int attempt = 0; attempt < 40; ++attempt) {
        Image image = settled_picture(display, window);
        if (image.width > 0 && near_colour(image.at(2, 2), background, 2))
            return image;
    }
    return Image{};
}
