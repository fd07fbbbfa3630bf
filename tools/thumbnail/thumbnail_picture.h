// The thumbnail itself: the mesh drawn lit and smooth on a transparent ground, drawn at twice the
// size and shrunk, so its edges look the same at every size a file manager asks for.
#pragma once

#include <cstddef>
#include <vector>

#include "thumbnail_view.h"

struct RgbaPicture {
    int size = 0;                    // width and height
    std::vector<unsigned char> rgba; // row by row from the top left, alpha not premultiplied
};

// How many times larger than `size` the picture is drawn before it is shrunk.
int drawing_scale(int size);

// Draws the centred mesh_store into the current context, which is size x drawing_scale(size)
// pixels square, and reads it back at `size`.
RgbaPicture draw_thumbnail(const ThumbnailView& view, int size);

// Each `factor` x `factor` block of a picture made one pixel: colours weighted by their cover.
RgbaPicture shrink(const RgbaPicture& large, int factor);

// How many pixels anything at all was drawn on.
std::size_t covered_pixels(const RgbaPicture& picture);
