// The program-wide mesh lists, empty until the reader fills them.
#include "mesh/mesh_store.h"

MeshStore mesh_store;

std::size_t count_undrawable_faces(const MeshStore& mesh)
{
    std::size_t count = 0;
    for (const Face& face : mesh.faces)
        count += face_is_drawable(face, mesh.vertices.size()) ? 0 : 1;
    return count;
}
