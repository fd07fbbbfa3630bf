// Drives the real viewer under a private Xvfb with XTest input and judges its pixels.
#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

#include "image.h"
#include "private_x_server.h"
#include "viewer_texts.h"

// The viewer's own colours, as its window shows them.
const Rgb background{230, 230, 230}; // the clear colour 0.9
const Rgb mesh_red{255, 0, 0};
const Rgb grid_grey{150, 150, 150};
const Rgb axis_blue{0, 0, 255};
const Rgb axis_green{0, 255, 0};
const Rgb axis_yellow{255, 255, 0};
const Rgb box_blue{128, 128, 255};


struct ViewerRun {
    pid_t pid = -1;
    std::string out_path, err_path; // where its standard output and error go
};

// Starts a viewer program on the display with the given text on its standard input, which is
// then closed: the built viewer unless another program is named.
ViewerRun launch_viewer(const std::string& display_name, const std::string& typed,
                        const std::string& program = "");

std::string window_name(Display* display, Window window);
// The viewable top-level windows with that title.
std::vector<Window> viewable_windows_named(Display* display, const std::string& title);
// The viewable top-level window with that title, or 0 when none appears in time.
Window find_window(Display* display, const std::string& title, int timeout_ms);
Image capture(Display* display, Window window);
// Waits until the picture stops changing (and, if given, differs from before).
Image settled_picture(Display* display, Window window, const Image* before = nullptr, int timeout_ms = 5000);
// The first whole frame: the window shows the background at its corner and stands still. An
// empty picture when none comes.
Image wait_for_first_frame(Display* display, Window window, Rgb background_colour);

// Whether any pixel within radius of (x, y) has the colour; for lines one to three pixels wide.
bool colour_near(const Image& image, int x, int y, Rgb wanted, int radius = 2, int tolerance = 6);
int count_colour(const Image& image, Rgb wanted, int tolerance = 40);
double mean_x_of_colour(const Image& image, Rgb wanted, int tolerance = 40);
double mean_y_of_colour(const Image& image, Rgb wanted, int tolerance = 40);

void move_pointer(Display* display, int root_x, int root_y); // in small steps, as a hand would
void press_button(Display* display, unsigned button);
void release_button(Display* display, unsigned button);
void hold_key(Display* display, unsigned long keysym, bool down);
void drag(Display* display, unsigned button, int x0, int y0, int x1, int y1);
// A drag whose whole movement arrives as one motion event, so the viewer takes it in one step.
void drag_in_one_motion(Display* display, unsigned button, int x0, int y0, int x1, int y1);

// Opens the popup menu with a right click at (x, y), goes to entry main_index of the main menu,
// then entry sub_index of its sub-menu (none when negative), and clicks there.
bool choose_menu_entry(Display* display, int x, int y, int main_index, int sub_index);

// Where the built programs are; the build passes their paths in.
std::string viewer_path();
std::string generator_path();
std::string make_torus_file(double major_radius, double minor_radius, int rings, int sides);
// Keeps a picture for a person to look at when a probe fails.
bool save_ppm(const Image& image, const std::string& path);
