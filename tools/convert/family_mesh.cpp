// From names to places, polygons to triangles, and corners to normals. Only vertices at a sharp
// edge need their faces grouped; every other vertex has one normal, made or given.
#include "family_mesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "triangulate.h"
#include "vertex_names.h"

namespace {

std::uint64_t pair_key(int a, int b)
{
    return std::uint64_t(std::uint32_t(a)) << 32 | std::uint32_t(b);
}

struct Normal {
    float n[3];
};

bool same_bits(const float* a, const float* b)
{
    return std::memcmp(a, b, 3 * sizeof(float)) == 0;
}

Normal unit(const Point& sum)
{
    const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
    // Only faces without area meet here: any direction is as good as another.
    if (!(length > 0) || !std::isfinite(length))
        return {{0, 0, 1}};
    return {{float(sum[0] / length), float(sum[1] / length), float(sum[2] / length)}};
}

// A face's numbers as places, appended to `places`; false, with nothing appended, when one names
// a number that no Vertex line has or that two have.
struct Unnamed {
    int number = 0;
    int why = 0; // missing_vertex or twice_named_vertex
};

bool resolve(const FamilyMesh& family, const VertexNames& names, std::size_t face, std::vector<int>& places, Unnamed& bad)
{
    const std::size_t first = places.size();
    for (std::uint32_t k = family.face_starts[face]; k < family.face_starts[face + 1]; ++k) {
        const int place = place_of(names, family.face_vertices[k]);
        if (place < 0) {
            places.resize(first);
            bad = {family.face_vertices[k], place};
            return false;
        }
        places.push_back(place);
    }
    return true;
}

void polygon_of(const FamilyMesh& family, const int* places, int count, std::vector<Point>& polygon)
{
    polygon.clear();
    for (int k = 0; k < count; ++k) {
        const float* p = family.vertices[std::size_t(places[k])].position;
        polygon.push_back({p[0], p[1], p[2]});
    }
}

// Twice the area times the unit normal, as polygon_normal gives it, without a polygon for triangles.
Point face_normal(const FamilyMesh& family, const int* places, int count, std::vector<Point>& polygon)
{
    if (count != 3) {
        polygon_of(family, places, count, polygon);
        return polygon_normal(polygon);
    }
    const float* a = family.vertices[std::size_t(places[0])].position;
    const float* b = family.vertices[std::size_t(places[1])].position;
    const float* c = family.vertices[std::size_t(places[2])].position;
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

// The corners of the faces around a vertex at a sharp edge; the faces that reach each other
// across edges that are not sharp share one normal there.
struct CreaseCorner {
    int vertex, before, after; // places: the vertex and its two neighbours in the face
    std::uint32_t kept_corner; // the corner's place among the kept faces' corners
    Point face_normal;
    int group;
};

struct Conversion {
    const FamilyMesh& family;
    VertexNames names;
    std::vector<std::size_t> kept_faces;
    std::vector<int> kept_places;           // the kept faces' vertices, as places, one face after another
    std::vector<std::uint32_t> kept_starts; // where each kept face's places begin, and one past the last
    std::vector<Point> vertex_sums;
    std::vector<char> at_crease;
    std::unordered_set<std::uint64_t> sharp;                // (smaller place, larger place)
    std::unordered_map<std::uint64_t, Normal> corner_normals; // (vertex number, face number)
    std::vector<int> crease_corner_at;                        // kept corner to its crease corner, or -1; empty without creases
    std::vector<Normal> crease_normals;                       // by crease corner
    std::unordered_map<int, Normal> crease_firsts;            // place: its first face's group
};

bool is_sharp(const Conversion& c, int a, int b)
{
    return c.sharp.count(pair_key(std::min(a, b), std::max(a, b))) != 0;
}

void note_sharp_edges(Conversion& c)
{
    c.at_crease.assign(c.family.vertices.size(), 0);
    for (const auto& [a, b] : c.family.sharp_edges) {
        const int pa = place_of(c.names, a), pb = place_of(c.names, b);
        if (pa < 0 || pb < 0)
            continue;
        c.sharp.insert(pair_key(std::min(pa, pb), std::max(pa, pb)));
        c.at_crease[std::size_t(pa)] = c.at_crease[std::size_t(pb)] = 1;
    }
}

int root(std::vector<CreaseCorner>& corners, int i)
{
    while (corners[std::size_t(i)].group != i)
        i = corners[std::size_t(i)].group = corners[std::size_t(corners[std::size_t(i)].group)].group;
    return i;
}

// The corners around a vertex whose faces reach each other across an edge that is not sharp
// join one group: each corner joins the first corner seen with the same edge from the vertex,
// so the grouping takes one look-up per edge, however many faces meet at the vertex.
void group_crease_corners(Conversion& c, std::vector<CreaseCorner>& corners)
{
    for (std::size_t i = 0; i < corners.size(); ++i)
        corners[i].group = int(i);
    std::unordered_map<std::uint64_t, int> first_with_edge; // (vertex, neighbour) -> corner
    first_with_edge.reserve(2 * corners.size());
    for (std::size_t i = 0; i < corners.size(); ++i)
        for (const int w : {corners[i].before, corners[i].after}) {
            if (is_sharp(c, corners[i].vertex, w))
                continue;
            const auto [first, is_new] = first_with_edge.emplace(pair_key(corners[i].vertex, w), int(i));
            if (!is_new)
                corners[std::size_t(root(corners, int(i)))].group = root(corners, first->second);
        }
    std::vector<Point> sums(corners.size(), Point{0, 0, 0});
    for (std::size_t i = 0; i < corners.size(); ++i) {
        Point& sum = sums[std::size_t(root(corners, int(i)))];
        for (int k = 0; k < 3; ++k)
            sum[k] += corners[i].face_normal[k];
    }
    if (!corners.empty())
        c.crease_corner_at.assign(c.kept_places.size(), -1);
    c.crease_normals.resize(corners.size());
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const Normal n = unit(sums[std::size_t(root(corners, int(i)))]);
        c.crease_corner_at[corners[i].kept_corner] = int(i);
        c.crease_normals[i] = n;
        // The vertex's own normal is that of its first face's group, so that group needs no copy.
        c.crease_firsts.emplace(corners[i].vertex, n);
    }
}

// Every face that names its vertices well is kept; the sums of the faces' normals around each
// vertex are taken, and the corners at creases grouped.
FamilyOutcome gather_faces(Conversion& c)
{
    FamilyOutcome outcome;
    c.vertex_sums.assign(c.family.vertices.size(), Point{0, 0, 0});
    c.kept_places.reserve(c.family.face_vertices.size());
    c.kept_starts.reserve(face_count(c.family) + 1);
    c.kept_starts.push_back(0);
    std::vector<CreaseCorner> crease_corners;
    std::vector<Point> polygon;
    Unnamed bad;
    for (std::size_t f = 0; f < face_count(c.family); ++f) {
        if (!resolve(c.family, c.names, f, c.kept_places, bad)) {
            if (outcome.faces_left_out++ == 0)
                outcome.first_left_out = "face " + std::to_string(c.family.face_numbers[f]) + " names vertex " +
                                         std::to_string(bad.number) + ", which " +
                                         (bad.why == missing_vertex ? "no Vertex line has" : "two Vertex lines have");
            continue;
        }
        c.kept_faces.push_back(f);
        const int* places = c.kept_places.data() + c.kept_starts.back();
        const int corners = int(c.kept_places.size() - c.kept_starts.back());
        c.kept_starts.push_back(std::uint32_t(c.kept_places.size()));
        const Point n = face_normal(c.family, places, corners, polygon);
        for (int j = 0; j < corners; ++j) {
            const int v = places[j];
            Point& sum = c.vertex_sums[std::size_t(v)];
            sum[0] += n[0], sum[1] += n[1], sum[2] += n[2];
            if (c.at_crease[std::size_t(v)])
                crease_corners.push_back({v, places[(j + corners - 1) % corners], places[(j + 1) % corners],
                                          c.kept_starts[c.kept_starts.size() - 2] + std::uint32_t(j), n, 0});
        }
    }
    group_crease_corners(c, crease_corners);
    return outcome;
}

// Each vertex in file order, with its own normal or the one made for it; corners that need
// another normal get further vertices after these.
void primary_vertices(const Conversion& c, ConvertedMesh& mesh)
{
    mesh.vertices.resize(c.family.vertices.size());
    for (std::size_t i = 0; i < c.family.vertices.size(); ++i) {
        const FamilyVertex& v = c.family.vertices[i];
        ConvertedVertex& out = mesh.vertices[i];
        std::memcpy(out.position, v.position, sizeof out.position);
        Normal n = v.has_normal ? Normal{{v.normal[0], v.normal[1], v.normal[2]}} : unit(c.vertex_sums[i]);
        if (!v.has_normal && c.at_crease[i]) {
            const auto first = c.crease_firsts.find(int(i));
            if (first != c.crease_firsts.end())
                n = first->second;
        }
        std::memcpy(out.normal, n.n, sizeof out.normal);
    }
}

// The normal a corner has when it is not simply its vertex's: the Corner line's, or, at a
// crease, its group's. False when the vertex's own normal is the corner's.
bool corner_normal(const Conversion& c, std::size_t face, std::uint32_t kept_corner, int place, Normal& n)
{
    const FamilyVertex& v = c.family.vertices[std::size_t(place)];
    if (!c.corner_normals.empty()) {
        const auto given = c.corner_normals.find(pair_key(v.number, c.family.face_numbers[face]));
        if (given != c.corner_normals.end()) {
            n = given->second;
            return true;
        }
    }
    if (v.has_normal || !c.at_crease[std::size_t(place)])
        return false;
    n = c.crease_normals[std::size_t(c.crease_corner_at[kept_corner])];
    return true;
}

struct NormalKey {
    int place;
    std::uint32_t bits[3];
    bool operator==(const NormalKey& o) const { return place == o.place && std::memcmp(bits, o.bits, sizeof bits) == 0; }
};

struct NormalKeyHash {
    std::size_t operator()(const NormalKey& k) const
    {
        std::size_t h = std::size_t(k.place) * 1099511628211ull;
        for (const std::uint32_t b : k.bits)
            h = (h ^ b) * 1099511628211ull;
        return h;
    }
};

// The vertex a corner uses: the vertex's own, or the one for its place and its other normal.
int vertex_for(const Conversion& c, ConvertedMesh& mesh, std::unordered_map<NormalKey, int, NormalKeyHash>& others,
               std::size_t face, std::uint32_t kept_corner, int place)
{
    Normal n;
    if (!corner_normal(c, face, kept_corner, place, n) || same_bits(n.n, mesh.vertices[std::size_t(place)].normal))
        return place;
    NormalKey key{place, {}};
    std::memcpy(key.bits, n.n, sizeof key.bits);
    const auto [found, is_new] = others.emplace(key, int(mesh.vertices.size()));
    if (is_new) {
        ConvertedVertex extra{};
        std::memcpy(extra.position, c.family.vertices[std::size_t(place)].position, sizeof extra.position);
        std::memcpy(extra.normal, n.n, sizeof extra.normal);
        mesh.vertices.push_back(extra);
    }
    return found->second;
}

void emit_triangles(const Conversion& c, ConvertedMesh& mesh)
{
    std::unordered_map<NormalKey, int, NormalKeyHash> others;
    std::vector<Point> polygon;
    std::vector<int> triangles;
    mesh.corner_vertices.reserve(c.kept_places.size());
    for (std::size_t k = 0; k < c.kept_faces.size(); ++k) {
        const std::size_t f = c.kept_faces[k];
        const int* places = c.kept_places.data() + c.kept_starts[k];
        const int corners = int(c.kept_starts[k + 1] - c.kept_starts[k]);
        triangles.clear();
        if (corners == 3) {
            triangles = {0, 1, 2};
        } else {
            polygon_of(c.family, places, corners, polygon);
            triangulate(polygon, triangles);
        }
        for (const int position : triangles)
            mesh.corner_vertices.push_back(
                vertex_for(c, mesh, others, f, c.kept_starts[k] + std::uint32_t(position), places[position]));
    }
}

} // namespace

FamilyOutcome complete_family_mesh(const FamilyMesh& family, ConvertedMesh& mesh)
{
    Conversion c{family, names_of(family.vertices), {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
    for (const FamilyCorner& corner : family.corners)
        c.corner_normals[pair_key(corner.vertex, corner.face)] = Normal{{corner.normal[0], corner.normal[1], corner.normal[2]}};
    note_sharp_edges(c);
    const FamilyOutcome outcome = gather_faces(c);
    mesh = ConvertedMesh{};
    primary_vertices(c, mesh);
    emit_triangles(c, mesh);
    return outcome;
}

bool has_infinite_position(const FamilyMesh& family)
{
    for (const FamilyVertex& v : family.vertices)
        if (!std::isfinite(v.position[0]) || !std::isfinite(v.position[1]) || !std::isfinite(v.position[2]))
            return true;
    return false;
}
