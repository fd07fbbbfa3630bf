// Files of the Vertex/Face family, plain or gzip-compressed, known by what they hold rather than
// by their names.
#pragma once

#include <string>

#include "mesh/family_reader.h"

// Whether the file's first record, after blank lines and "#" comments, is a Vertex, Face, Corner
// or Edge line; a gzip-compressed file is looked into.
bool is_family_file(const std::string& path);

// False with the reason when the file cannot be read or inflated to its end.
bool read_family_file(const std::string& path, FamilyMesh& mesh, std::string& reason);
