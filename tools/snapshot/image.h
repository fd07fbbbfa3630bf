// A picture: rows of RGB pixels from the top left. Nothing here needs X.
#pragma once

#include <cstddef>
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

// How many pixels differ; every pixel when the sizes differ.
std::size_t differing_pixels(const Image& a, const Image& b);
