// The viewer's start-up: console dialogue, window, handlers, light, then GLUT's event loop.
#pragma once

// Returns only if GLUT's main loop ever does, with status 1.
int run_viewer(int* argc, char** argv);

// The GL state that every frame relies on but does not set itself, for any window that shows
// the viewer's frames (the snapshot tool's too). The light must be placed while the
// model-view matrix is still the identity, so that it stays fixed relative to the viewer.
void set_clear_colour();
void set_up_light();
