// Reading a mesh file in a child process that confined itself first: this process opens the
// file and hands the child its descriptor, the child reads it as read_opened_file does and sends
// back its lists, and this process takes from it nothing but numbers it checks, so whatever the
// file does to the reader stays in the child.
#pragma once

#include <string>

#include "mesh/mesh_reader.h"

// As read_mesh_file, with the lists held to `most_list_bytes`. Should no child be had, or the
// child end without its lists, the report says so (read_failed) and the mesh holds nothing.
ReadReport read_mesh_file_confined(const std::string& path, MeshStore& mesh, std::size_t most_list_bytes);

// Half the machine's memory, as read_mesh_file holds its lists to.
ReadReport read_mesh_file_confined(const std::string& path, MeshStore& mesh);
