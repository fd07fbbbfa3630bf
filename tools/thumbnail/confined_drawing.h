// The thumbnailer's only reader of the file's bytes: a child process confined before it reads,
// which reads the mesh (the file, or the converter's pipe), draws it with Mesa's software
// rasteriser and writes the picture into the output its parent opened for it. Whatever the file
// does to the reader or to Mesa stays within that picture.
#pragma once

#include <string>

#include "mesh_source.h"
#include "output_target.h"
#include "thumbnail_options.h"

// Why the child made no picture: the reading's cause, which goes before a failed converter's, or
// what came after the reading. Both empty when the picture was written whole.
struct DrawingFailure {
    std::string reading;
    std::string drawing;
};

// Before the mesh source is opened: the child that looks at the file's start for it stays to
// read, draw and write into `out_fd`. `options` and `target` must outlive the drawing.
void prepare_confined_drawing(const ThumbnailOptions& options, const OutputTarget& target, int out_fd);

// Hands the source to that child (or to a new one, confined to reading the input, when the
// source was opened without looking) and waits for it. The converter's pipe, `source.fd`, is the
// child's alone after (closed here). A signal that ends this process kills the child first.
DrawingFailure draw_in_a_confined_child(MeshSource& source);
