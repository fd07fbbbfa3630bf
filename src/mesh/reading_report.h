// What a program says about reading a mesh file: why it could not, why it stopped early, and
// what is wrong with the mesh it read. One line each on standard error, after the program's name.
#pragma once

#include <string>

#include "mesh/mesh_reader.h"

// False when nothing could be read: the file could not be opened. `after_dialogue`: the console
// dialogue ends without a line end, so on a terminal a message starts on a line of its own.
bool report_reading(const char* program, bool after_dialogue, const std::string& filename,
                    const ReadReport& report, const MeshStore& mesh);
