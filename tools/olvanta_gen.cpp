// Writes a torus in the viewer's text format, with exact unit normals, the way exporters write
// it: six significant digits. Used for the bundled examples and for load benchmarks.
//
//   olvanta-gen RINGS SIDES [MAJOR_RADIUS MINOR_RADIUS] > torus.txt
//
// RINGS x SIDES vertices and 2 x RINGS x SIDES faces, lying around the Z axis.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "olvanta_version.h"

namespace {

const double pi = 3.14159265358979323846;

struct Torus {
    long rings, sides;
    double major_radius, minor_radius;
};

void write_vertices(const Torus& t)
{
    long number = 1;
    for (long i = 0; i < t.rings; ++i) {
        const double u = 2 * pi * static_cast<double>(i) / static_cast<double>(t.rings);
        for (long j = 0; j < t.sides; ++j, ++number) {
            const double w = 2 * pi * static_cast<double>(j) / static_cast<double>(t.sides);
            const double nx = std::cos(w) * std::cos(u), ny = std::cos(w) * std::sin(u);
            const double nz = std::sin(w);
            const double ring = t.major_radius + t.minor_radius * std::cos(w);
            std::printf("Vertex %ld  %g %g %g {normal=(%g %g %g)}\n", number, ring * std::cos(u),
                        ring * std::sin(u), t.minor_radius * nz, nx, ny, nz);
        }
    }
}

// Two triangles per grid cell, wound counter-clockwise seen from outside.
void write_faces(const Torus& t)
{
    long number = 1;
    auto vertex = [&t](long i, long j) { return (i % t.rings) * t.sides + (j % t.sides) + 1; };
    for (long i = 0; i < t.rings; ++i)
        for (long j = 0; j < t.sides; ++j) {
            const long a = vertex(i, j), b = vertex(i + 1, j);
            const long c = vertex(i + 1, j + 1), d = vertex(i, j + 1);
            std::printf("Face %ld  %ld %ld %ld\n", number++, a, b, c);
            std::printf("Face %ld  %ld %ld %ld\n", number++, a, c, d);
        }
}

} // namespace

const char* const usage =
    "usage: olvanta-gen RINGS SIDES [MAJOR_RADIUS MINOR_RADIUS]\n"
    "Writes a torus of RINGS x SIDES vertices and twice as many triangles in the viewer's format\n"
    "to standard output (radii 1 and 0.35 unless given).\n"
    "  --help     this text\n"
    "  --version  the version\n";

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("olvanta-gen %s\n", OLVANTA_VERSION);
        return 0;
    }
    if (argc != 3 && argc != 5) {
        std::fputs(usage, stderr);
        return 2;
    }
    Torus t{std::atol(argv[1]), std::atol(argv[2]), 1.0, 0.35};
    if (argc == 5) {
        t.major_radius = std::atof(argv[3]);
        t.minor_radius = std::atof(argv[4]);
    }
    if (t.rings < 3 || t.sides < 3) {
        std::fputs("olvanta-gen: RINGS and SIDES must be at least 3\n", stderr);
        return 2;
    }
    write_vertices(t);
    write_faces(t);
    return std::ferror(stdout) ? 1 : 0;
}
