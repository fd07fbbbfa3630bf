// Drives the real viewer under a private Xvfb with XTest input and judges its pixels.
#pragma once

#include "x_session.h"

// Whether any pixel within radius of (x, y) has the colour; for lines one to three pixels wide.
bool colour_near(const Image& image, int x, int y, Rgb wanted, int radius = 2, int tolerance = 6);
int count_colour(const Image& image, Rgb wanted, int tolerance = 40);
double mean_x_of_colour(const Image& image, Rgb wanted, int tolerance = 40);
double mean_y_of_colour(const Image& image, Rgb wanted, int tolerance = 40);

// Starts the built viewer with the given text on its standard input, which is then closed.
ViewerRun launch_viewer(const std::string& display_name, const std::string& typed);

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
// Keeps a picture for a person to look at when a probe fails.
bool save_ppm(const Image& image, const std::string& path);
