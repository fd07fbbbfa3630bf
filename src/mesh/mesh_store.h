// The mesh as the viewer holds it: vertices and triangles, read once at start-up, then only read.
#pragma once

#include <cmath>
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

// A number beyond single precision reads as infinity; such a vertex has no place to be drawn.
inline bool has_finite_position(const Vertex& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

inline bool names_vertex(int index, std::size_t vertex_count)
{
    return index >= 0 && static_cast<std::size_t>(index) < vertex_count;
}

inline bool names_existing_vertices(const Face& face, std::size_t vertex_count)
{
    return names_vertex(face.v1, vertex_count) && names_vertex(face.v2, vertex_count) &&
           names_vertex(face.v3, vertex_count);
}

// A face is drawn only through three vertices that exist and have finite positions.
inline bool face_is_drawable(const Face& face, const std::vector<Vertex>& vertices)
{
    return names_existing_vertices(face, vertices.size()) &&
           has_finite_position(vertices[static_cast<std::size_t>(face.v1)]) &&
           has_finite_position(vertices[static_cast<std::size_t>(face.v2)]) &&
           has_finite_position(vertices[static_cast<std::size_t>(face.v3)]);
}

std::size_t count_faces_naming_missing_vertices(const MeshStore& mesh);
std::size_t count_non_finite_vertices(const MeshStore& mesh);
