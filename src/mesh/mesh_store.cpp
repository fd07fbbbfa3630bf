// The program-wide mesh lists, empty until the reader fills them, and what is wrong with them.
#include "mesh/mesh_store.h"

MeshStore mesh_store;

std::size_t count_faces_naming_missing_vertices(const MeshStore& mesh)
{
    std::size_t count = 0;
    for (const Face& face : mesh.faces)
        count += names_existing_vertices(face, mesh.vertices.size()) ? 0 : 1;
    return count;
}

std::size_t count_non_finite_vertices(const MeshStore& mesh)
{
    std::size_t count = 0;
    for (const Vertex& vertex : mesh.vertices)
        count += has_finite_position(vertex) ? 0 : 1;
    return count;
}
