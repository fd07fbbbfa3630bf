// A plain reading of the Vertex/Face family for the tests to compare against: lines split first,
// then words, each number checked against the decimal form and converted by the C library.
#pragma once

#include <string>

#include "mesh/family_reader.h"

FamilyMesh family_reference_read(const std::string& text);

// Whether two readings hold the same records, bit for bit.
bool same_family_mesh(const FamilyMesh& a, const FamilyMesh& b);
