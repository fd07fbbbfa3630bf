// The text mesh format: "Vertex N x y z {normal=(nx ny nz)}" and "Face N a b c" records.
#pragma once

#include <string>

#include "mesh/mesh_store.h"

// Appends every record of the text to the mesh; lines that match no record are skipped.
void read_mesh_text(const char* begin, const char* end, MeshStore& mesh);

// Reads a whole file. On failure returns false with the system's reason in error; the mesh then
// holds nothing from that file.
bool read_mesh_file(const std::string& path, MeshStore& mesh, std::string& error);
