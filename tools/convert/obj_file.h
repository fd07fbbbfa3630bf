// OBJ, read without the import library: its positions ("v"), normals ("vn") and faces ("f"), in
// parts side by side on every core. Everything else an OBJ may hold (texture coordinates, groups,
// materials and their files, smoothing groups, lines, points, curves) says nothing the viewer
// shows and is passed over; no other file is opened.
//
// The file's own index is kept: a corner is the pair of its position's and its normal's numbers,
// and each pair is one vertex, numbered in the order the faces first use it. Polygons are cut into
// triangles in their own plane, keeping their winding.
//
// Memory: 12 bytes a position and a normal, 8 a corner and 4 a face while reading, then the
// viewer's lists; the file's text is held a block of each part at a time.
#pragma once

#include <string>

#include "convert_mesh.h"

// Whether the file read through `fd` is an OBJ: its first line that is neither blank nor a "#" comment begins with
// one of the format's keywords.
bool is_obj_text(int fd);

// The mesh, vertices without a usable normal ("vn" missing, zero or not finite) left for the
// converter to make. False with the reason when the file cannot be read, a face names a position
// or normal the file does not have, or a line is not in its keyword's form.
bool read_obj(int fd, ConvertedMesh& mesh, std::string& reason);
