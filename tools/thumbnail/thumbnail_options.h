// The thumbnailer's command line, as file managers fill it in: -s SIZE INPUT OUTPUT.
#pragma once

#include <string>

struct ThumbnailOptions {
    int size = 256; // pixels, width and height
    std::string input, output;
    bool help = false, version = false;
};

extern const char* const thumbnail_usage;

const int smallest_thumbnail = 16;
const int largest_thumbnail = 2048;

// False with the first line to show above the usage.
bool parse_thumbnail_options(int argc, char** argv, ThumbnailOptions& options, std::string& complaint);
