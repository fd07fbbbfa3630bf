// Pictures to and from PNG files.
#pragma once

#include <string>

#include "x_session.h"

bool write_png(const Image& image, const std::string& path);
bool read_png(const std::string& path, Image& image);
