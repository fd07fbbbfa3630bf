// A window of the viewer's own kind (RGB, single-buffered, with a depth buffer) on an X display,
// in which the viewer's own display function draws pictures that are read back.
#pragma once

#include <string>

#include "image.h"

// A window of size x size pixels, with the clear colour and the light set as the viewer's
// start-up sets them; it returns once the window is on the screen.
void open_picture_window(const std::string& display_name, int size);

// A frame leaves state for the next (the shade model, the current normal), so the viewer's
// picture of a state, once it stands still, is a frame drawn after another in that state. This
// draws that first frame; pictures drawn after it, in the same style, are the viewer's own.
void settle_frame();

// The viewer's frame for the current viewer state and mesh, read back from the window.
Image draw_picture(int size);

void close_picture_window();
