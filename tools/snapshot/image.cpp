// Comparing pictures pixel by pixel.
#include "image.h"

#include <algorithm>
#include <cstdlib>

bool Image::operator==(const Image& o) const
{
    return differing_pixels(*this, o) == 0;
}

bool near_colour(Rgb p, Rgb w, int tolerance)
{
    return std::abs(p.r - w.r) <= tolerance && std::abs(p.g - w.g) <= tolerance &&
           std::abs(p.b - w.b) <= tolerance;
}

std::size_t differing_pixels(const Image& a, const Image& b)
{
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size())
        return std::max(a.pixels.size(), b.pixels.size());
    std::size_t count = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i)
        count += near_colour(a.pixels[i], b.pixels[i], 0) ? 0 : 1;
    return count;
}
