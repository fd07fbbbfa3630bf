// The viewer's start-up: console dialogue, window, handlers, light, then GLUT's event loop.
#pragma once

// Returns only if GLUT's main loop ever does, with status 1.
int run_viewer(int* argc, char** argv);

