// The bench torus in the formats other programs write: OBJ with normals, binary STL and binary PLY
// with normals, so that the viewer's way in and other viewers can be timed on the same model.
#pragma once

#include <string>

// RINGS x SIDES vertices, twice as many triangles, radii 1 and 0.35, as olvanta-gen lays it out,
// wound counter-clockwise seen from outside. False when the file cannot be written.
bool write_torus_obj(const std::string& path, int rings, int sides);
bool write_torus_binary_stl(const std::string& path, int rings, int sides);
bool write_torus_binary_ply(const std::string& path, int rings, int sides);

// Writes the file only when it is not there yet; false when it cannot be made.
using TorusWriter = bool (*)(const std::string&, int, int);
bool make_torus_file(TorusWriter writer, const std::string& path, int rings, int sides);
