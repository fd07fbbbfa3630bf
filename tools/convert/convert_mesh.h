// The viewer's lists as the converter makes them from any mesh file: normals made where the file
// has none, and the text written so that it reads back as the same floats.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ConvertedVertex {
    float position[3];
    float normal[3]; // three zero bits while the vertex still needs a normal made
};

struct ConvertedMesh {
    std::vector<ConvertedVertex> vertices;
    std::vector<int> corner_vertices; // three zero-based vertex indices per triangle
};

// A vertex without a normal gets the area-weighted mean of its triangles' normals.
void complete_normals(ConvertedMesh& mesh);

// Normals are written at unit length. `bytes`, when given, counts what was written.
bool write_viewer_text(const ConvertedMesh& mesh, std::FILE* out, std::uint64_t* bytes = nullptr);
