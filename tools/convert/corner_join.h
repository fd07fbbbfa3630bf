// Joining the corners of triangles into vertices: corners with the same position and the same
// normal (or none) become one vertex, numbered in the order they first come.
//
// Cost: one hash of the corner's 24 bytes and, at the table's load of at most a half, about one
// and a half probes per corner, each a compare of a stored 32-bit tag before any vertex is looked
// at. The table holds 8 bytes a slot and is sized once from the count the caller expects; it
// doubles only when that count was too low. Nothing is allocated per vertex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert_mesh.h"

struct VertexJoin {
    ConvertedMesh* mesh = nullptr;    // vertices are appended to its list
    std::vector<std::uint64_t> slots; // tag << 32 | (vertex + 1); 0 is an empty slot
    std::uint64_t mask = 0;           // slots.size() - 1
};

// A join that appends to `mesh.vertices`, with room for `expected_vertices` without growing.
VertexJoin start_join(ConvertedMesh& mesh, std::size_t expected_vertices);

// The vertex of this position and normal: the one already made, or a new one. A normal of three
// zero bits is no normal: such vertices get theirs made from their faces later.
int join_vertex(VertexJoin& join, const float position[3], const float normal[3]);

// The table's memory given back once the corners are all in.
void end_join(VertexJoin& join);

// The same join for corners whose normals play no part, on several threads: each thread reads
// every corner's position but takes only those whose hash falls to it, noting for each corner the
// first corner of its position; then one pass in corner order numbers the vertices as the corners
// first come, exactly as the join above would. `read(context, thread, first, count, out)` puts the
// positions of corners [first, first + count) into `out` (three floats each) and may be called on
// every thread at once; it asks for blocks of corners_per_read, the last shorter. Memory: 4 bytes
// a corner (the corner list itself), and the tables' 8 bytes a slot.
const std::size_t corners_per_read = 3 << 14;
using CornerPositions = bool (*)(void* context, int thread, std::size_t first, std::size_t count, float* out);
bool join_by_position(std::size_t corners, CornerPositions read, void* context, int threads, ConvertedMesh& mesh);

// Whether the vertex still needs a normal made for it.
bool lacks_normal(const ConvertedVertex& vertex);
