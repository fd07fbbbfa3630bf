// PLY, read without the import library: the header's elements and properties, then the "vertex"
// element's positions (and normals, when it has nx, ny and nz) and the "face" element's lists of
// vertex numbers, in ASCII or binary of either byte order; other elements and properties are
// passed over. The file's vertices are kept as they are, in its order, its faces naming them;
// polygons are cut into triangles in their own plane, keeping their winding.
//
// Memory: the viewer's lists and one block of the file.
#pragma once

#include <string>

#include "convert_mesh.h"

// Whether the file read through `fd` begins as a PLY does: "ply" on a line of its own.
bool is_ply(int fd);

// False with the reason when the file cannot be read, its header is not a PLY header it can
// follow, it ends early, or a face names a vertex it does not have.
bool read_ply(int fd, ConvertedMesh& mesh, std::string& reason);
