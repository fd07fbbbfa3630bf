// A GL context drawing into memory, with no window system at all: no display, no server, no
// files. Mesa's software rasteriser draws; so it works where nothing else is, in a sandbox too.
#pragma once

#include <string>

// A current context with a size x size RGBA buffer and a depth buffer. False with the reason.
bool open_offscreen_context(int size, std::string& reason);

void close_offscreen_context();
