// The console dialogue that asks for the mesh file and reads it into mesh_store.
#pragma once

#include <cstdio>
#include <string>

// Reads one white-space-delimited word of any length; false when the stream ends before one.
bool read_word(std::FILE* in, std::string& word);

// Runs the dialogue on standard input and output. Ends the process with status 1 when standard
// input ends before a file name; a file that cannot be read leaves the mesh empty.
void load_mesh();
