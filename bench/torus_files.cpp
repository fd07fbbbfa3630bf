// Positions and normals in single precision, as exporters keep them; OBJ numbers at six
// significant digits, as most exporters write them.
#include "torus_files.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const double pi = 3.14159265358979323846;

struct Torus {
    std::vector<float> positions, normals; // three per vertex
    std::vector<std::uint32_t> corners;    // three per triangle, zero-based
};

Torus make_torus(int rings, int sides)
{
    Torus t;
    for (int i = 0; i < rings; ++i) {
        const double u = 2 * pi * i / rings;
        for (int j = 0; j < sides; ++j) {
            const double w = 2 * pi * j / sides, ring = 1.0 + 0.35 * std::cos(w);
            const float p[3] = {float(ring * std::cos(u)), float(ring * std::sin(u)), float(0.35 * std::sin(w))};
            const float n[3] = {float(std::cos(w) * std::cos(u)), float(std::cos(w) * std::sin(u)), float(std::sin(w))};
            t.positions.insert(t.positions.end(), p, p + 3);
            t.normals.insert(t.normals.end(), n, n + 3);
        }
    }
    auto vertex = [&](int i, int j) { return std::uint32_t((i % rings) * sides + (j % sides)); };
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j) {
            const std::uint32_t a = vertex(i, j), b = vertex(i + 1, j), c = vertex(i + 1, j + 1), d = vertex(i, j + 1);
            const std::uint32_t two[6] = {a, b, c, a, c, d};
            t.corners.insert(t.corners.end(), two, two + 6);
        }
    return t;
}

std::size_t vertex_count(const Torus& t)
{
    return t.positions.size() / 3;
}

std::size_t triangle_count(const Torus& t)
{
    return t.corners.size() / 3;
}

// The facet normal a CAD program writes: the unit normal of the winding.
void facet_normal(const Torus& t, std::size_t triangle, float out[3])
{
    const float* a = &t.positions[3 * t.corners[3 * triangle]];
    const float* b = &t.positions[3 * t.corners[3 * triangle + 1]];
    const float* c = &t.positions[3 * t.corners[3 * triangle + 2]];
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int k = 0; k < 3; ++k)
        out[k] = float(n[k] / length);
}

bool closed(std::FILE* out)
{
    const bool written = !std::ferror(out);
    return std::fclose(out) == 0 && written;
}

} // namespace

bool write_torus_obj(const std::string& path, int rings, int sides)
{
    const Torus t = make_torus(rings, sides);
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (!out)
        return false;
    std::fprintf(out, "# torus, %zu vertices, %zu triangles\n", vertex_count(t), triangle_count(t));
    for (std::size_t i = 0; i < vertex_count(t); ++i)
        std::fprintf(out, "v %g %g %g\n", double(t.positions[3 * i]), double(t.positions[3 * i + 1]),
                     double(t.positions[3 * i + 2]));
    for (std::size_t i = 0; i < vertex_count(t); ++i)
        std::fprintf(out, "vn %g %g %g\n", double(t.normals[3 * i]), double(t.normals[3 * i + 1]),
                     double(t.normals[3 * i + 2]));
    for (std::size_t f = 0; f < triangle_count(t); ++f) {
        const std::uint32_t* c = &t.corners[3 * f];
        std::fprintf(out, "f %u//%u %u//%u %u//%u\n", c[0] + 1, c[0] + 1, c[1] + 1, c[1] + 1, c[2] + 1, c[2] + 1);
    }
    return closed(out);
}

bool write_torus_binary_stl(const std::string& path, int rings, int sides)
{
    const Torus t = make_torus(rings, sides);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    char header[80] = {};
    std::snprintf(header, sizeof header, "torus of %d x %d", rings, sides);
    const std::uint32_t count = std::uint32_t(triangle_count(t));
    std::fwrite(header, 1, sizeof header, out);
    std::fwrite(&count, sizeof count, 1, out);
    for (std::size_t f = 0; f < triangle_count(t); ++f) {
        float record[12];
        facet_normal(t, f, record);
        for (int k = 0; k < 3; ++k)
            std::memcpy(record + 3 + 3 * k, &t.positions[3 * t.corners[3 * f + std::size_t(k)]], 3 * sizeof(float));
        const std::uint16_t attributes = 0;
        std::fwrite(record, sizeof record, 1, out);
        std::fwrite(&attributes, sizeof attributes, 1, out);
    }
    return closed(out);
}

bool write_torus_binary_ply(const std::string& path, int rings, int sides)
{
    const Torus t = make_torus(rings, sides);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    std::fprintf(out,
                 "ply\nformat binary_little_endian 1.0\nelement vertex %zu\nproperty float x\nproperty float y\n"
                 "property float z\nproperty float nx\nproperty float ny\nproperty float nz\nelement face %zu\n"
                 "property list uchar int vertex_indices\nend_header\n",
                 vertex_count(t), triangle_count(t));
    for (std::size_t i = 0; i < vertex_count(t); ++i) {
        std::fwrite(&t.positions[3 * i], sizeof(float), 3, out);
        std::fwrite(&t.normals[3 * i], sizeof(float), 3, out);
    }
    for (std::size_t f = 0; f < triangle_count(t); ++f) {
        const unsigned char corners = 3;
        std::fwrite(&corners, 1, 1, out);
        std::fwrite(&t.corners[3 * f], sizeof(std::uint32_t), 3, out);
    }
    return closed(out);
}

bool make_torus_file(TorusWriter writer, const std::string& path, int rings, int sides)
{
    if (access(path.c_str(), R_OK) == 0)
        return true;
    const std::string part = path + ".part";
    return writer(part, rings, sides) && std::rename(part.c_str(), path.c_str()) == 0;
}
