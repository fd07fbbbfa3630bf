// The console dialogue that asks for the mesh file and reads it into mesh_store.
#pragma once

#include <string>

// Reads one white-space-delimited word of any length from `fd`, taking nothing beyond the word
// and the one blank that ends it; false when the input ends before a word.
bool read_word(int fd, std::string& word);

// Runs the dialogue on standard input and output. Ends the process with status 1 when standard
// input ends before a file name; a file that cannot be read leaves the mesh empty.
void load_mesh();
