// Turning triangles from any mesh file into the viewer's lists: vertices joined, normals made
// where the file has none, and the text written so that it reads back as the same floats.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct Corner {
    float position[3];
    float normal[3];
    bool has_normal; // the file gave a usable normal (finite, not of zero length)
};

struct Triangle {
    Corner corners[3];
};

struct ConvertedVertex {
    float position[3];
    float normal[3];
};

struct ConvertedMesh {
    std::vector<ConvertedVertex> vertices;
    std::vector<int> corner_vertices; // three zero-based vertex indices per triangle
};

// Corners with the same position and the same file normal (or none) become one vertex; a vertex
// without a file normal gets the area-weighted mean of its triangles' normals.
ConvertedMesh join_and_complete(const std::vector<Triangle>& triangles);

// Normals are written at unit length.
bool write_viewer_text(const ConvertedMesh& mesh, std::FILE* out);
