// Completing normals where the file gave none.
#include "convert_mesh.h"

#include <cmath>
#include <vector>

#include "corner_join.h"

namespace {

struct Sum {
    double x = 0, y = 0, z = 0;
};

// Twice the triangle's area times its unit normal: larger triangles weigh more.
Sum area_weighted_normal(const ConvertedMesh& mesh, const int* corners)
{
    const float* a = mesh.vertices[corners[0]].position;
    const float* b = mesh.vertices[corners[1]].position;
    const float* c = mesh.vertices[corners[2]].position;
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

} // namespace

void complete_normals(ConvertedMesh& mesh)
{
    std::vector<bool> needs_normal(mesh.vertices.size());
    bool any = false;
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        needs_normal[i] = lacks_normal(mesh.vertices[i]);
        any = any || needs_normal[i];
    }
    if (!any)
        return;
    std::vector<Sum> sums(mesh.vertices.size());
    for (std::size_t t = 0; t + 2 < mesh.corner_vertices.size(); t += 3) {
        const Sum n = area_weighted_normal(mesh, &mesh.corner_vertices[t]);
        for (int k = 0; k < 3; ++k) {
            Sum& s = sums[mesh.corner_vertices[t + k]];
            s.x += n.x, s.y += n.y, s.z += n.z;
        }
    }
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        if (!needs_normal[i])
            continue;
        const Sum& s = sums[i];
        const double length = std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
        float* n = mesh.vertices[i].normal;
        // Only degenerate triangles meet here: any direction is as good as another.
        if (!(length > 0) || !std::isfinite(length)) {
            n[0] = 0, n[1] = 0, n[2] = 1;
            continue;
        }
        n[0] = float(s.x / length), n[1] = float(s.y / length), n[2] = float(s.z / length);
    }
}
