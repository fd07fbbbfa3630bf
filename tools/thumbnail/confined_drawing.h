// The thumbnailer's only reader of the file's bytes: a child process that prepares Mesa's
// software rasteriser, confines itself, then reads the mesh (the file, or the converter's pipe),
// draws it and sends back nothing but the picture's pixels. This process checks their number,
// encodes the PNG and writes it, so whatever the file does to the reader or to Mesa can at most
// change those pixels.
#pragma once

#include <string>

#include "confine/confined_child.h"
#include "mesh_source.h"
#include "thumbnail_options.h"
#include "thumbnail_picture.h"

// Why there is no picture: the reading's cause, which goes before a failed converter's, or what
// came after the reading. Both empty when the picture came whole.
struct DrawingFailure {
    std::string reading;
    std::string drawing;
};

// Hands the source to a new confined child and waits for its pixels, until `deadline`. The
// converter's pipe, `source.fd`, is the child's alone after (closed here). A signal that ends
// this process kills the child first.
DrawingFailure draw_in_a_confined_child(MeshSource& source, const ThumbnailOptions& options, RgbaPicture& picture,
                                        Clock::time_point deadline);
