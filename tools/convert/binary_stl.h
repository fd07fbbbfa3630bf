// Binary STL, read without the import library: an 80-byte header, a count, then one 50-byte
// record a triangle (facet normal, three corners, two bytes of attributes). The records are read
// a block at a time on every core and their corners joined by position as they come, so the
// converter holds the lists and a block a thread, never the whole file nor every corner at once.
#pragma once

#include <string>

#include "convert_mesh.h"
#include "stl_facets.h"

// Whether the file read through `fd` is a binary STL: exactly as long as its count says (as the
// import library decides it too).
bool is_binary_stl(int fd);

// The triangles, their corners joined by position, without normals; the facet normals counted.
// False with the reason when the file cannot be read or ends early.
bool read_binary_stl(int fd, ConvertedMesh& mesh, FacetCounts& facets, std::string& reason);
