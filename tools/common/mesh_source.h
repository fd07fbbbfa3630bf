// Any mesh file, made readable by the viewer's reader: a file in the viewer's own form is read as
// it is; anything else (the rest of the Vertex/Face family, OBJ, PLY, STL, ...) goes through
// olvanta-convert, which writes into a pipe, so no converted copy is ever left on disk.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct MeshSource {
    std::string name;     // the name the viewer's reader opens: the file, or /dev/fd/N for the pipe
    int fd = -1;          // the pipe's reading end; -1 when the file is read as it is
    pid_t converter = -1; // the converter writing into the pipe
};

// Whether the file's start is in the form the viewer reads exactly: uncompressed, every record a
// "Vertex N x y z {normal=(a b c)}" or "Face N a b c" line, vertex numbers equal to their places.
bool in_the_viewers_form(const std::string& path);

// The path of the program `name` installed beside the running one, as the tools are.
std::string program_beside_this_one(const char* name);

// Ready to read `path` through `source.name`. The converter is the one installed beside the
// running program. False with the reason when it cannot start.
bool open_mesh_source(const std::string& path, MeshSource& source, std::string& reason);

// The same with options for the converter, put before its INPUT and OUTPUT.
bool open_mesh_source(const std::string& path, MeshSource& source, std::string& reason,
                      const std::vector<std::string>& converter_options);

// The converter's exit status once it has ended (0 for a file read as it is), 128 + the signal
// when a signal ended it.
int wait_for_converter(MeshSource& source);

// Ends the converter if it still runs, and closes the pipe.
void close_mesh_source(MeshSource& source);
