// Files of the Vertex/Face family, plain or gzip-compressed, known by what they hold rather than
// by their names.
#pragma once

#include <string>

#include "mesh/family_reader.h"

enum class FileLook {
    other,              // not of the family, for the import library
    family,             // its first record is a Vertex, Face, Corner or Edge line
    damaged_compression // gzip-compressed, but not one byte of it inflates
};

// What the file (read through `fd`, from its start) holds first, after blank lines and "#" comments; a gzip-compressed file
// is looked into as far as it inflates, so damage further on does not hide what it is. The
// reason is set for damaged_compression.
FileLook look_into_file(int fd, std::string& reason);

// False with the reason when the file cannot be read or inflated to its end; a damaged
// compressed text is named as such, with zlib's reason.
bool read_family_file(int fd, FamilyMesh& mesh, std::string& reason);
