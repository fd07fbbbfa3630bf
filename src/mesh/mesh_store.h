// The mesh as the viewer holds it: vertices and triangles, read once at start-up, then only read.
#pragma once

#include <cstddef>
#include <vector>

struct Vertex {
    double x, y, z;    // position, in the file's units; single-precision values widened
    double nx, ny, nz; // normal, exactly as the file gives it: neither normalised nor checked
};

struct Face {
    int v1, v2, v3; // zero-based indices into vertices, in the file's order (winding kept)
};

struct MeshStore {
    std::vector<Vertex> vertices; // in file order; a vertex's index is its place here
    std::vector<Face> faces;      // in file order; indices may name vertices that do not exist
};

extern MeshStore mesh_store;

// A face may name vertices that the file never gave; such a face is never drawn.
inline bool face_is_drawable(const Face& face, std::size_t vertex_count)
{
    auto names_vertex = [vertex_count](int index) {
        return index >= 0 && static_cast<std::size_t>(index) < vertex_count;
    };
    return names_vertex(face.v1) && names_vertex(face.v2) && names_vertex(face.v3);
}

std::size_t count_undrawable_faces(const MeshStore& mesh);
