// Joining corners into vertices, completing normals, and writing the viewer's text.
#include "convert_mesh.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace {

// Bits, not values: 0 and -0 are different vertices, as in the file.
struct CornerKey {
    std::uint32_t bits[7];
    bool operator==(const CornerKey& o) const { return std::memcmp(bits, o.bits, sizeof bits) == 0; }
};

struct CornerKeyHash {
    std::size_t operator()(const CornerKey& k) const
    {
        std::size_t h = 1469598103934665603ull;
        for (std::uint32_t b : k.bits)
            h = (h ^ b) * 1099511628211ull;
        return h;
    }
};

CornerKey key_of(const Corner& c)
{
    CornerKey key{};
    std::memcpy(key.bits, c.position, sizeof c.position);
    if (c.has_normal)
        std::memcpy(key.bits + 3, c.normal, sizeof c.normal);
    key.bits[6] = c.has_normal ? 1 : 0;
    return key;
}

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

void complete_normals(ConvertedMesh& mesh, const std::vector<bool>& needs_normal)
{
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

// Errors show in the stream's error flag, which the caller checks once at the end.
void write_number(std::FILE* out, float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    std::fwrite(text, 1, std::size_t(result.ptr - text), out);
}

} // namespace

ConvertedMesh join_and_complete(const std::vector<Triangle>& triangles)
{
    ConvertedMesh mesh;
    std::vector<bool> needs_normal;
    std::unordered_map<CornerKey, int, CornerKeyHash> index_of;
    index_of.reserve(triangles.size() * 2);
    mesh.corner_vertices.reserve(triangles.size() * 3);
    for (const Triangle& t : triangles)
        for (const Corner& c : t.corners) {
            const auto [place, is_new] = index_of.emplace(key_of(c), int(mesh.vertices.size()));
            if (is_new) {
                ConvertedVertex v{};
                std::memcpy(v.position, c.position, sizeof v.position);
                if (c.has_normal)
                    std::memcpy(v.normal, c.normal, sizeof v.normal);
                mesh.vertices.push_back(v);
                needs_normal.push_back(!c.has_normal);
            }
            mesh.corner_vertices.push_back(place->second);
        }
    complete_normals(mesh, needs_normal);
    return mesh;
}

bool write_viewer_text(const ConvertedMesh& mesh, std::FILE* out)
{
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        const ConvertedVertex& v = mesh.vertices[i];
        std::fprintf(out, "Vertex %zu ", i + 1);
        for (float p : v.position)
            std::fputc(' ', out), write_number(out, p);
        std::fputs(" {normal=(", out);
        for (int k = 0; k < 3; ++k) {
            if (k)
                std::fputc(' ', out);
            write_number(out, v.normal[k]);
        }
        std::fputs(")}\n", out);
    }
    for (std::size_t t = 0; t + 2 < mesh.corner_vertices.size(); t += 3)
        std::fprintf(out, "Face %zu  %d %d %d\n", t / 3 + 1, mesh.corner_vertices[t] + 1,
                     mesh.corner_vertices[t + 1] + 1, mesh.corner_vertices[t + 2] + 1);
    return !std::ferror(out);
}
