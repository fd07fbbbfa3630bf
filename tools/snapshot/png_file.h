// Pictures to and from PNG files.
#pragma once

#include <cstdio>
#include <string>

#include "image.h"

// False when the stream fails; errno then says why.
bool write_png(const Image& image, std::FILE* out);
bool read_png(const std::string& path, Image& image);

// Four bytes a pixel, red, green, blue and alpha, row by row from the top left.
bool write_rgba_png(int width, int height, const unsigned char* rgba, std::FILE* out);
