// The text mesh format: "Vertex N x y z {normal=(nx ny nz)}" and "Face N a b c" records.
#pragma once

#include <string>

#include "mesh/mesh_store.h"
#include "mesh/scan.h"

enum class ReadOutcome {
    complete,      // the whole text was read
    out_of_memory, // reading stopped when memory ran out; the mesh holds what was read before
    cannot_open,   // nothing was read; the reason says why
};

// Appends every record of the text to the mesh; lines that match no record are skipped.
ReadOutcome read_mesh_text(const char* begin, const char* end, MeshStore& mesh);

// The same, with the text cut into parts read side by side; the lists come out identical.
// Without on_threads the parts are read one after another on this thread, joined the same way.
ReadOutcome read_mesh_text_in_parts(const char* begin, const char* end, MeshStore& mesh, int parts,
                                    bool on_threads = true);

// One step of reading: the byte at the cursor is judged as if it began a line. May throw
// std::bad_alloc when a list cannot grow.
void read_record(Cursor& in, MeshStore& mesh);

// Reads a whole file, in parts on every core when it is large.
ReadOutcome read_mesh_file(const std::string& path, MeshStore& mesh, std::string& reason);
