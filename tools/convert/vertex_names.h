// Vertex numbers to places in the file: a table by number when the numbers are dense, as nearly
// every writer makes them, else a sorted list, so that numbers spread far apart cost no more
// memory than the vertices themselves.
#pragma once

#include <utility>
#include <vector>

#include "mesh/family_reader.h"

const int missing_vertex = -1, twice_named_vertex = -2;

struct VertexNames {
    long long lowest = 0;
    std::vector<int> table;                 // place, missing_vertex or twice_named_vertex, by number - lowest
    std::vector<std::pair<int, int>> pairs; // (number, place), sorted, when the numbers are sparse
};

VertexNames names_of(const std::vector<FamilyVertex>& vertices);

// The place of the Vertex line with this number, or missing_vertex, or twice_named_vertex.
int place_of(const VertexNames& names, int number);
