// Corners are grouped vertex by vertex with a small union-find: two corners of a vertex join when
// their faces share an edge from it (a neighbour in common) and meet within the crease angle.
#include "crease_normals.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace {

const double pi = 3.14159265358979323846;
// Below this many corners a vertex's pairs are all looked at; above, its edges are sorted.
const std::size_t most_corners_scanned = 24;

struct FaceNormal {
    float n[3]; // twice the area times the unit normal
};

FaceNormal face_normal(const ConvertedMesh& mesh, std::size_t face)
{
    const float* a = mesh.vertices[std::size_t(mesh.corner_vertices[3 * face])].position;
    const float* b = mesh.vertices[std::size_t(mesh.corner_vertices[3 * face + 1])].position;
    const float* c = mesh.vertices[std::size_t(mesh.corner_vertices[3 * face + 2])].position;
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    return {{float(u[1] * v[2] - u[2] * v[1]), float(u[2] * v[0] - u[0] * v[2]), float(u[0] * v[1] - u[1] * v[0])}};
}

double length_of(const float n[3])
{
    return std::sqrt(double(n[0]) * n[0] + double(n[1]) * n[1] + double(n[2]) * n[2]);
}

// The corners of each vertex, in corner order: vertex v's are corners[starts[v]] up to
// corners[starts[v + 1]].
struct CornersByVertex {
    std::vector<std::uint32_t> starts, corners;
};

CornersByVertex corners_by_vertex(const ConvertedMesh& mesh)
{
    CornersByVertex by;
    by.starts.assign(mesh.vertices.size() + 1, 0);
    for (const int v : mesh.corner_vertices)
        ++by.starts[std::size_t(v) + 1];
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v)
        by.starts[v + 1] += by.starts[v];
    by.corners.resize(mesh.corner_vertices.size());
    std::vector<std::uint32_t> next(by.starts.begin(), by.starts.end() - 1);
    for (std::size_t c = 0; c < mesh.corner_vertices.size(); ++c)
        by.corners[next[std::size_t(mesh.corner_vertices[c])]++] = std::uint32_t(c);
    return by;
}

struct NormalSum {
    double n[3] = {0, 0, 0};
};

// One thread's share: the vertices of a range. It writes their normals in place; their further
// copies and the corners that move to them wait until every thread is done, so the faces the
// others look at stay as they were, and the copies are numbered in vertex order.
struct Grouping {
    const ConvertedMesh& mesh;
    const std::vector<FaceNormal>& faces;
    double cos_crease;
    std::vector<ConvertedVertex> copies;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> moved; // (corner, copy in `copies`)
    std::vector<std::uint32_t> group;                           // per corner of the vertex at hand
    std::vector<std::pair<int, std::uint32_t>> edges;           // (neighbour, corner) for the sort
    std::vector<NormalSum> sums;                                // per group root
    std::vector<int> copy_of_group;                             // per group root: -1 the vertex, -2 none yet
};

std::uint32_t root(std::vector<std::uint32_t>& group, std::uint32_t i)
{
    while (group[i] != i)
        i = group[i] = group[group[i]];
    return i;
}

// Whether two faces meet within the crease angle; a face without area meets none.
bool smooth_between(const Grouping& g, std::uint32_t corner_a, std::uint32_t corner_b)
{
    const float* a = g.faces[corner_a / 3].n;
    const float* b = g.faces[corner_b / 3].n;
    const double la = length_of(a), lb = length_of(b);
    if (!(la > 0) || !(lb > 0) || !std::isfinite(la * lb))
        return false;
    const double dot = double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2];
    return dot >= g.cos_crease * la * lb;
}

// The vertex a corner's face has `step` places on.
int neighbour(const Grouping& g, std::uint32_t corner, int step)
{
    const std::uint32_t face = corner / 3, within = corner % 3;
    return g.mesh.corner_vertices[3 * face + (within + std::uint32_t(step)) % 3];
}

void join(Grouping& g, std::size_t i, std::size_t j, const std::uint32_t* corners)
{
    if (smooth_between(g, corners[i], corners[j]))
        g.group[root(g.group, std::uint32_t(i))] = root(g.group, std::uint32_t(j));
}

// Corners i and j of a vertex share an edge from it when a neighbour of one is a neighbour of
// the other, whichever way their faces are wound.
void group_by_pairs(Grouping& g, const std::uint32_t* corners, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const int next_i = neighbour(g, corners[i], 1), previous_i = neighbour(g, corners[i], 2);
        for (std::size_t j = i + 1; j < count; ++j) {
            const int next_j = neighbour(g, corners[j], 1), previous_j = neighbour(g, corners[j], 2);
            if (next_i == next_j || next_i == previous_j || previous_i == next_j || previous_i == previous_j)
                join(g, i, j, corners);
        }
    }
}

void group_by_sorted_edges(Grouping& g, const std::uint32_t* corners, std::size_t count)
{
    g.edges.clear();
    for (std::size_t i = 0; i < count; ++i) {
        g.edges.emplace_back(neighbour(g, corners[i], 1), std::uint32_t(i));
        g.edges.emplace_back(neighbour(g, corners[i], 2), std::uint32_t(i));
    }
    std::sort(g.edges.begin(), g.edges.end());
    for (std::size_t e = 1; e < g.edges.size(); ++e)
        if (g.edges[e].first == g.edges[e - 1].first)
            join(g, g.edges[e - 1].second, g.edges[e].second, corners);
}

void unit_into(const NormalSum& sum, const NormalSum& fallback, float out[3])
{
    for (const NormalSum* s : {&sum, &fallback}) {
        const double length = std::sqrt(s->n[0] * s->n[0] + s->n[1] * s->n[1] + s->n[2] * s->n[2]);
        if (length > 0 && std::isfinite(length)) {
            for (int k = 0; k < 3; ++k)
                out[k] = float(s->n[k] / length);
            return;
        }
    }
    // Only faces without area meet here: any direction is as good as another.
    out[0] = 0, out[1] = 0, out[2] = 1;
}

// The vertex's first group keeps the vertex; each further group gets a copy of it.
void give_normals(Grouping& g, ConvertedVertex& vertex, const std::uint32_t* corners, std::size_t count)
{
    g.sums.assign(count, NormalSum{});
    NormalSum all;
    for (std::size_t i = 0; i < count; ++i) {
        const float* n = g.faces[corners[i] / 3].n;
        NormalSum& s = g.sums[root(g.group, std::uint32_t(i))];
        for (int k = 0; k < 3; ++k)
            s.n[k] += n[k], all.n[k] += n[k];
    }
    g.copy_of_group.assign(count, -2);
    g.copy_of_group[root(g.group, 0)] = -1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t r = root(g.group, std::uint32_t(i));
        if (g.copy_of_group[r] == -2) {
            ConvertedVertex copy = vertex;
            unit_into(g.sums[r], all, copy.normal);
            g.copy_of_group[r] = int(g.copies.size());
            g.copies.push_back(copy);
        }
        if (g.copy_of_group[r] >= 0)
            g.moved.emplace_back(corners[i], std::uint32_t(g.copy_of_group[r]));
    }
    unit_into(g.sums[root(g.group, 0)], all, vertex.normal);
}

void group_vertices(Grouping& g, ConvertedMesh& mesh, const CornersByVertex& by, std::size_t first, std::size_t last)
{
    for (std::size_t v = first; v < last; ++v) {
        const std::uint32_t* corners = by.corners.data() + by.starts[v];
        const std::size_t count = by.starts[v + 1] - by.starts[v];
        if (count == 0) {
            mesh.vertices[v].normal[2] = 1; // no face: any direction
            continue;
        }
        g.group.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            g.group[i] = std::uint32_t(i);
        if (count <= most_corners_scanned)
            group_by_pairs(g, corners, count);
        else
            group_by_sorted_edges(g, corners, count);
        give_normals(g, mesh.vertices[v], corners, count);
    }
}

void face_normals(const ConvertedMesh& mesh, std::vector<FaceNormal>& faces, std::size_t first, std::size_t last)
{
    for (std::size_t f = first; f < last; ++f)
        faces[f] = face_normal(mesh, f);
}

// Runs work(first, last) over [0, count) cut into one range a thread.
template <typename Work>
void on_every_core(std::size_t count, int threads, Work work)
{
    std::vector<std::thread> running;
    for (int t = 1; t < threads; ++t) {
        const std::size_t first = count * std::size_t(t) / std::size_t(threads), last = count * std::size_t(t + 1) / std::size_t(threads);
        try {
            running.emplace_back(work, t, first, last);
        } catch (const std::system_error&) {
            work(t, first, last);
        }
    }
    work(0, 0, count / std::size_t(threads));
    for (std::thread& thread : running)
        thread.join();
}

} // namespace

void make_crease_normals(ConvertedMesh& mesh)
{
    const int threads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    const std::size_t face_count = mesh.corner_vertices.size() / 3;
    std::vector<FaceNormal> faces(face_count);
    on_every_core(face_count, threads, [&](int, std::size_t first, std::size_t last) { face_normals(mesh, faces, first, last); });
    const CornersByVertex by = corners_by_vertex(mesh);
    std::vector<Grouping> shares(std::size_t(threads),
                                 Grouping{mesh, faces, std::cos(crease_angle_degrees * pi / 180), {}, {}, {}, {}, {}, {}});
    on_every_core(mesh.vertices.size(), threads, [&](int t, std::size_t first, std::size_t last) {
        group_vertices(shares[std::size_t(t)], mesh, by, first, last);
    });
    for (const Grouping& g : shares) {
        const std::size_t first_copy = mesh.vertices.size();
        mesh.vertices.insert(mesh.vertices.end(), g.copies.begin(), g.copies.end());
        for (const auto& [corner, copy] : g.moved)
            mesh.corner_vertices[corner] = int(first_copy + copy);
    }
}
