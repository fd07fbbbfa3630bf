// Two independent oracles for the mesh reader.
#pragma once

#include <string>

#include "mesh/mesh_store.h"

// Deliberately plain: one character at a time through a stream with one-character pushback,
// interpreting the two record formats directive by directive as the C standard defines
// formatted input (decimal numbers only). Slow and obviously right.
MeshStore reference_read(const std::string& text);

// The same text as a file: a UTF-8 byte-order mark at its very start is no part of the mesh.
MeshStore reference_read_file(const std::string& text);

// The C library's own fscanf over the same formats. It differs from the rules above on
// "inf", "nan", hexadecimal numbers, incomplete numbers ("1e", "-") and integers beyond the
// int range, so it serves as an oracle only for text free of those.
MeshStore fscanf_read(const std::string& text);
