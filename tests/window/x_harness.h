// Runs the real viewer under a private Xvfb, drives it with XTest input and reads its pixels.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstdint>
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
// Whether any pixel within radius of (x, y) has the colour; for lines one to three pixels wide.
bool colour_near(const Image& image, int x, int y, Rgb wanted, int radius = 2, int tolerance = 6);
int count_colour(const Image& image, Rgb wanted, int tolerance = 40);
double mean_x_of_colour(const Image& image, Rgb wanted, int tolerance = 40);
double mean_y_of_colour(const Image& image, Rgb wanted, int tolerance = 40);

struct XServer {
    pid_t pid = -1;
    std::string display_name; // ":N"
    std::string failure;      // why it did not start
};

XServer start_xvfb();
void stop_process(pid_t pid);

struct ViewerRun {
    pid_t pid = -1;
    std::string out_path, err_path;
};

// Starts the built viewer with the given text on its standard input, which is then closed.
ViewerRun launch_viewer(const std::string& display_name, const std::string& typed);
// Exit status, or -1 when the process is still running after the timeout.
int wait_for_exit(pid_t pid, int timeout_ms);
std::string read_file(const std::string& path);

// The top-level window with that title, or 0 when none appears in time.
Window find_window(Display* display, const std::string& title, int timeout_ms);
Image capture(Display* display, Window window);
// Waits until the picture stops changing (and, if given, differs from before).
Image settled_picture(Display* display, Window window, const Image* before = nullptr,
                      int timeout_ms = 5000);

void move_pointer(Display* display, int root_x, int root_y); // in small steps, as a hand would
void press_button(Display* display, unsigned button);
void release_button(Display* display, unsigned button);
void hold_key(Display* display, unsigned long keysym, bool down);
void drag(Display* display, unsigned button, int x0, int y0, int x1, int y1);

// Opens the popup menu with a right click at (x, y), goes to entry main_index of the main menu,
// then entry sub_index of its sub-menu (none when negative), and clicks there.
bool choose_menu_entry(Display* display, int x, int y, int main_index, int sub_index);

// Where the built program and the generator are; the build passes their paths in.
std::string viewer_path();
std::string generator_path();
std::string make_torus_file(double major_radius, double minor_radius, int rings, int sides);
std::string make_text_file(const std::string& content);
// Keeps a picture for a person to look at when a probe fails.
bool save_ppm(const Image& image, const std::string& path);
