// A private X server, a program started on it with text on its standard input, and pictures
// read back from its window.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <string>
#include <vector>

struct Rgb {
    int r, g, b;
};

struct Image {
    int width = 0, height = 0;
    std::vector<Rgb> pixels; // row by row from the top left

    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    bool operator==(const Image& o) const;
};

bool near_colour(Rgb pixel, Rgb wanted, int tolerance);

struct XServer {
    pid_t pid = -1;
    std::string display_name; // ":N"
    std::string failure;      // why it did not start
};

// An Xvfb on a display number that no other server uses.
XServer start_xvfb();
void stop_process(pid_t pid);
// Exit status, or -1 when the process is still running after the timeout.
int wait_for_exit(pid_t pid, int timeout_ms);
void pause_ms(int ms);

struct ViewerRun {
    pid_t pid = -1;
    std::string out_path, err_path; // where its standard output and error go
};

// Starts the program on the display with the given text on its standard input, then closed.
ViewerRun launch_viewer_program(const std::string& display_name, const std::string& typed,
                                const std::string& program);
std::string read_file(const std::string& path);
std::string make_text_file(const std::string& content); // a new temporary file

std::string window_name(Display* display, Window window);
// The viewable top-level window with that title, or 0 when none appears in time.
Window find_window(Display* display, const std::string& title, int timeout_ms);
Image capture(Display* display, Window window);
// The first whole frame: the window shows the background at its corner and stands still.
// An empty picture when none comes.
Image wait_for_first_frame(Display* display, Window window, Rgb background);
// Waits until the picture stops changing (and, if given, differs from before).
Image settled_picture(Display* display, Window window, const Image* before = nullptr,
                      int timeout_ms = 5000);
