// The formats the converter reads without the import library (OBJ, PLY, binary STL), the corner
// join and the crease rule: tables of files and what they must become.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <limits>
#include <string>
#include <vector>

#include "binary_stl.h"
#include "corner_join.h"
#include "crease_normals.h"
#include "obj_file.h"
#include "ply_file.h"
#include "scratch_folder.h"
#include "stl_facets.h"

namespace {

using Triple = std::array<float, 3>;

Triple position_of(const ConvertedMesh& m, std::size_t corner)
{
    const float* p = m.vertices[std::size_t(m.corner_vertices[corner])].position;
    return {p[0], p[1], p[2]};
}

Triple normal_of(const ConvertedMesh& m, std::size_t corner)
{
    const float* n = m.vertices[std::size_t(m.corner_vertices[corner])].normal;
    return {n[0], n[1], n[2]};
}

double angle_between(const Triple& a, const Triple& b)
{
    const double dot = double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2];
    const double la = std::sqrt(double(a[0]) * a[0] + double(a[1]) * a[1] + double(a[2]) * a[2]);
    const double lb = std::sqrt(double(b[0]) * b[0] + double(b[1]) * b[1] + double(b[2]) * b[2]);
    return std::acos(std::max(-1.0, std::min(1.0, dot / (la * lb)))) * 180 / 3.14159265358979323846;
}

// A file in a scratch folder, open for reading as the converter hands it over; removed with it.
struct ScratchFile {
    std::string dir, path;
    int fd = -1;
    explicit ScratchFile(const std::string& bytes, const char* name = "mesh")
        : dir(temporary_directory()), path(dir + "/" + name)
    {
        write_bytes(path, bytes);
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    ~ScratchFile()
    {
        close(fd);
        remove_directory(dir);
    }
};

// ---- OBJ -------------------------------------------------------------------------------------

struct ObjCase {
    const char* name;
    std::string text;
    std::vector<Triple> positions; // of the vertices, in order
    std::vector<bool> with_normal; // per vertex
    std::vector<int> corners;
    std::string reason; // non-empty: the reading fails so
};

const Triple o{0, 0, 0}, x1{1, 0, 0}, y1{0, 1, 0}, z1{0, 0, 1}, xy{1, 1, 0};

const ObjCase obj_cases[] = {
    {"triangle", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", {o, x1, y1}, {false, false, false}, {0, 1, 2}, ""},
    {"vertices_numbered_as_faces_first_use_them", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 4 2 3\n", {xy, x1, y1},
     {false, false, false}, {0, 1, 2}, ""},
    {"negative_numbers_count_back", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf -3 -2 -1\nv 1 1 0\nf -3 -1 -2\n", {o, x1, y1, xy},
     {false, false, false, false}, {0, 1, 2, 1, 3, 2}, ""},
    {"one_position_two_normals_two_vertices", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nvn 0 0 -1\nf 1//1 2//1 3//1\nf 1//2 3//2 2//2\n",
     {o, x1, y1, o, y1, x1}, {true, true, true, true, true, true}, {0, 1, 2, 3, 4, 5}, ""},
    {"texture_numbers_passed_over", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvn 0 0 1\nf 1/1/1 2/1/1 3/1/1\nf 1/1 2/1 3/1\n",
     {o, x1, y1, o, x1, y1}, {true, true, true, false, false, false}, {0, 1, 2, 3, 4, 5}, ""},
    {"a_zero_normal_is_none", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 0\nf 1//1 2//1 3//1\n", {o, x1, y1},
     {false, false, false}, {0, 1, 2}, ""},
    {"quad_cut_in_two", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n", {o, x1, xy, y1},
     {false, false, false, false}, {}, ""},
    {"continued_line_crlf_comments_groups_and_materials",
     "# made by hand\r\nmtllib m.mtl\r\no thing\r\ng part\r\nusemtl red\r\ns 1\r\nv 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\n\r\n"
     "l 1 2\r\np 3\r\nf 1 \\\r\n  2 3\r\n",
     {o, x1, y1}, {false, false, false}, {0, 1, 2}, ""},
    {"faces_before_their_positions", "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\n", {o, x1, y1}, {false, false, false},
     {0, 1, 2}, ""},
    {"a_leading_plus_and_an_exponent", "v +0 0 0\nv 1e0 0 0\nv 0 +1.0E+00 0\nf 1 2 3\n", {o, x1, y1},
     {false, false, false}, {0, 1, 2}, ""},
    {"two_corner_faces_draw_nothing", "v 0 0 0\nv 1 0 0\nf 1 2\n", {}, {}, {}, ""},
    {"a_face_past_the_positions", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n", {}, {}, {},
     "the file is damaged (face 1 names position 4; it has 3)"},
    {"a_face_counting_back_too_far", "v 0 0 0\nf -1 -2 -1\n", {}, {}, {},
     "the file is damaged (face 1 names position -2; it has 1)"},
    {"a_normal_past_the_normals", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//2 3//1\n", {}, {}, {},
     "the file is damaged (face 1 names normal 2; it has 1)"},
    {"position_zero", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n", {}, {}, {},
     "the file is damaged (line 4: a face corner that is not a number, or not one of a/b, a//c or a/b/c)"},
    {"a_word_for_a_corner", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 x\n", {}, {}, {},
     "the file is damaged (line 4: a face corner that is not a number, or not one of a/b, a//c or a/b/c)"},
    {"a_position_with_two_numbers", "v 0 0\n", {}, {}, {}, "the file is damaged (line 1: a position without three numbers)"},
    {"a_normal_with_a_word", "vn 0 0 up\n", {}, {}, {}, "the file is damaged (line 1: a normal without three numbers)"},
    // The longest line there may be, and one a byte longer, across the reading's blocks or filling one.
    {"a_line_of_a_mebibyte", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n#" + std::string((1 << 20) - 1, 'x') + "\n", {o, x1, y1},
     {false, false, false}, {0, 1, 2}, ""},
    {"a_line_a_byte_past_a_mebibyte", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n#" + std::string(1 << 20, 'x') + "\n", {}, {},
     {}, "the file is damaged (line 5: a line runs on past 1 MiB)"},
    {"a_first_line_of_a_mebibyte", "#" + std::string((1 << 20) - 1, 'x') + "\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n",
     {o, x1, y1}, {false, false, false}, {0, 1, 2}, ""},
    {"a_first_line_a_byte_past_a_mebibyte", "#" + std::string(1 << 20, 'x') + "\nv 0 0 0\n", {}, {}, {},
     "the file is damaged (line 1: a line runs on past 1 MiB)"},
};

// A reading's outcome and vertices as a case lists them; false when there is nothing more to see.
bool read_as_listed(const char* name, bool read, const std::string& reason, const std::string& listed_reason,
                    const ConvertedMesh& mesh, const std::vector<Triple>& positions, const std::vector<bool>& with_normal)
{
    EXPECT_EQ(read, listed_reason.empty()) << name << ": " << reason;
    EXPECT_EQ(reason, listed_reason) << name;
    if (!read)
        return false;
    EXPECT_EQ(mesh.vertices.size(), positions.size()) << name;
    if (mesh.vertices.size() != positions.size())
        return false;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const float* p = mesh.vertices[i].position;
        EXPECT_EQ((Triple{p[0], p[1], p[2]}), positions[i]) << name << ": vertex " << i;
        EXPECT_EQ(!lacks_normal(mesh.vertices[i]), with_normal[i]) << name << ": vertex " << i;
    }
    return true;
}

TEST(ObjFile, ReadsPositionsNormalsAndFacesAsTheFileIndexesThem)
{
    for (const ObjCase& c : obj_cases) {
        ScratchFile file(c.text, "m.obj");
        ConvertedMesh mesh;
        std::string reason;
        const bool read = read_obj(file.fd, mesh, reason);
        if (!read_as_listed(c.name, read, reason, c.reason, mesh, c.positions, c.with_normal))
            continue;
        if (!c.corners.empty()) {
            EXPECT_EQ(mesh.corner_vertices, c.corners) << c.name;
        }
    }
}

TEST(ObjFile, CutsAPolygonKeepingItsWinding)
{
    // An L of six corners, wound counter-clockwise seen from +Z: four triangles, all facing +Z.
    ScratchFile file("v 0 0 0\nv 2 0 0\nv 2 1 0\nv 1 1 0\nv 1 2 0\nv 0 2 0\nf 1 2 3 4 5 6\n", "l.obj");
    ConvertedMesh mesh;
    std::string reason;
    ASSERT_TRUE(read_obj(file.fd, mesh, reason)) << reason;
    ASSERT_EQ(mesh.corner_vertices.size(), 12u);
    double area = 0;
    for (std::size_t t = 0; t < 4; ++t) {
        const Triple a = position_of(mesh, 3 * t), b = position_of(mesh, 3 * t + 1), c = position_of(mesh, 3 * t + 2);
        const double z = (double(b[0]) - a[0]) * (double(c[1]) - a[1]) - (double(b[1]) - a[1]) * (double(c[0]) - a[0]);
        EXPECT_GT(z, 0) << "triangle " << t << " keeps the winding";
        area += z / 2;
    }
    EXPECT_DOUBLE_EQ(area, 3.0) << "the triangles cover the L and nothing else";
}

TEST(ObjFile, ReadInPartsTheSameAsAlone)
{
    // Past twice the size that is worth a part: a grid whose every line is a record, with negative
    // numbers, so the parts must count back across their cuts.
    std::string text;
    const int side = 820;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x)
            text += "v " + std::to_string(x) + " " + std::to_string(y) + " 0.5\n";
        if (y > 0)
            for (int x = 0; x + 1 < side; ++x)
                text += "f " + std::to_string(-side - side + x) + " " + std::to_string(-side - side + x + 1) + " " +
                        std::to_string(-side + x) + "\n";
    }
    ASSERT_GT(text.size(), std::size_t(16) << 20) << "two parts of 8 MiB at least";
    ScratchFile file(text, "grid.obj");
    ConvertedMesh mesh;
    std::string reason;
    ASSERT_TRUE(read_obj(file.fd, mesh, reason)) << reason;
    ASSERT_EQ(mesh.corner_vertices.size(), std::size_t(3 * (side - 1) * (side - 1)));
    for (std::size_t t = 0; t < mesh.corner_vertices.size() / 3; ++t) {
        const Triple a = position_of(mesh, 3 * t), b = position_of(mesh, 3 * t + 1), c = position_of(mesh, 3 * t + 2);
        // Row y's faces, read once its vertices are, count back to rows y - 1 and y.
        ASSERT_EQ(a[0], float(t % (side - 1))) << "triangle " << t;
        ASSERT_EQ(a[1], float(t / (side - 1))) << "triangle " << t;
        ASSERT_EQ(b[0], a[0] + 1) << "triangle " << t;
        ASSERT_EQ(c[1], a[1] + 1) << "triangle " << t;
        ASSERT_EQ(c[0], a[0]) << "triangle " << t;
    }
}

TEST(ObjFile, IsKnownByItsFirstRecordAlone)
{
    const struct {
        const char* text;
        bool obj;
    } cases[] = {
        {"v 1 2 3\n", true},         {"# exported\n\n  vn 0 0 1\n", true}, {"o thing\n", true},
        {"mtllib a.mtl\nv 0 0 0\n", true}, {"solid x\nfacet normal 0 0 1\n", false}, {"ply\nformat ascii 1.0\n", false},
        {"Vertex 1 0 0 0\n", false}, {"vertices 3\n", false},  {"OFF\n3 1 0\n", false}, {"", false},
        {"# only a comment\n", false},
    };
    for (const auto& c : cases) {
        ScratchFile file(c.text);
        EXPECT_EQ(is_obj_text(file.fd), c.obj) << c.text;
    }
}

// ---- PLY -------------------------------------------------------------------------------------

template <typename T>
void put(std::string& bytes, T value, bool big_endian = false)
{
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bytes += raw[big_endian ? sizeof(T) - 1 - i : i];
}

std::string ply_header(const char* format, const std::string& elements)
{
    return std::string("ply\nformat ") + format + " 1.0\ncomment made by hand\n" + elements + "end_header\n";
}

const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
const std::string triangle_list = "element face 1\nproperty list uchar int vertex_indices\n";

std::string binary_triangle(bool big_endian)
{
    std::string bytes = ply_header(big_endian ? "binary_big_endian" : "binary_little_endian", "element vertex 3\n" + xyz + triangle_list);
    for (const Triple& p : {o, x1, y1})
        for (float c : p)
            put(bytes, c, big_endian);
    put(bytes, std::uint8_t(3));
    for (int i : {0, 1, 2})
        put(bytes, std::int32_t(i), big_endian);
    return bytes;
}

std::string binary_with_other_kinds()
{
    // Doubles, colours among the coordinates, an edge element before the faces, short indices.
    std::string bytes = ply_header("binary_little_endian",
                                   "element vertex 3\nproperty double x\nproperty uchar red\nproperty double y\n"
                                   "property double z\nelement edge 1\nproperty int vertex1\nproperty int vertex2\n"
                                   "element face 1\nproperty uchar flags\nproperty list uint8 uint16 vertex_index\n");
    for (const Triple& p : {o, x1, y1}) {
        put(bytes, double(p[0]));
        put(bytes, std::uint8_t(200));
        put(bytes, double(p[1]));
        put(bytes, double(p[2]));
    }
    put(bytes, std::int32_t(0));
    put(bytes, std::int32_t(1));
    put(bytes, std::uint8_t(7));
    put(bytes, std::uint8_t(3));
    for (int i : {2, 1, 0})
        put(bytes, std::uint16_t(i));
    return bytes;
}

// Positions in integers of each size, signed or not, at the ends of their ranges, in either order.
template <typename X, typename Y, typename Z>
std::string binary_integer_positions(bool big_endian, const char* types)
{
    std::string bytes = ply_header(big_endian ? "binary_big_endian" : "binary_little_endian",
                                   std::string("element vertex 3\n") + types + triangle_list);
    const double ends[3][3] = {{0, 0, 0},
                               {double(std::numeric_limits<X>::min()), double(std::numeric_limits<Y>::min()), double(std::numeric_limits<Z>::min())},
                               {double(std::numeric_limits<X>::max()), double(std::numeric_limits<Y>::max()), double(std::numeric_limits<Z>::max())}};
    for (const auto& p : ends) {
        put(bytes, X(p[0]), big_endian);
        put(bytes, Y(p[1]), big_endian);
        put(bytes, Z(p[2]), big_endian);
    }
    put(bytes, std::uint8_t(3));
    for (int i : {0, 1, 2})
        put(bytes, std::int32_t(i), big_endian);
    return bytes;
}

const char* const signed_xyz = "property char x\nproperty short y\nproperty int z\n";
const char* const unsigned_xyz = "property uchar x\nproperty ushort y\nproperty uint z\n";
const Triple signed_low{-128, -32768, -2147483648.0f}, signed_high{127, 32767, 2147483647.0f};
const Triple unsigned_high{255, 65535, 4294967295.0f};

struct PlyCase {
    const char* name;
    std::string bytes;
    std::vector<Triple> positions;
    bool with_normals;
    std::vector<int> corners;
    std::string reason;
};

const PlyCase ply_cases[] = {
    {"ascii", ply_header("ascii", "element vertex 3\n" + xyz + triangle_list) + "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n",
     {o, x1, y1}, false, {0, 1, 2}, ""},
    {"ascii_with_normals",
     ply_header("ascii", "element vertex 3\n" + xyz + "property float nx\nproperty float ny\nproperty float nz\n" + triangle_list) +
         "0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 0 0 1\n3 0 1 2\n",
     {o, x1, y1}, true, {0, 1, 2}, ""},
    {"binary_little_endian", binary_triangle(false), {o, x1, y1}, false, {0, 1, 2}, ""},
    {"binary_big_endian", binary_triangle(true), {o, x1, y1}, false, {0, 1, 2}, ""},
    {"doubles_colours_edges_and_short_indices", binary_with_other_kinds(), {o, x1, y1}, false, {2, 1, 0}, ""},
    {"signed_integers_little_endian", binary_integer_positions<std::int8_t, std::int16_t, std::int32_t>(false, signed_xyz),
     {o, signed_low, signed_high}, false, {0, 1, 2}, ""},
    {"signed_integers_big_endian", binary_integer_positions<std::int8_t, std::int16_t, std::int32_t>(true, signed_xyz),
     {o, signed_low, signed_high}, false, {0, 1, 2}, ""},
    {"unsigned_integers_little_endian", binary_integer_positions<std::uint8_t, std::uint16_t, std::uint32_t>(false, unsigned_xyz),
     {o, o, unsigned_high}, false, {0, 1, 2}, ""},
    {"unsigned_integers_big_endian", binary_integer_positions<std::uint8_t, std::uint16_t, std::uint32_t>(true, unsigned_xyz),
     {o, o, unsigned_high}, false, {0, 1, 2}, ""},
    {"faces_before_vertices",
     ply_header("ascii", triangle_list + "element vertex 3\n" + xyz) + "3 2 0 1\n0 0 0\n1 0 0\n0 1 0\n", {o, x1, y1},
     false, {2, 0, 1}, ""},
    {"twin_vertices_kept_as_the_file_has_them",
     ply_header("ascii", "element vertex 4\n" + xyz + "element face 2\nproperty list uchar int vertex_indices\n") +
         "0 0 0\n1 0 0\n0 1 0\n0 0 0\n3 0 1 2\n3 3 2 1\n",
     {o, x1, y1, o}, false, {0, 1, 2, 3, 2, 1}, ""},
    {"a_face_past_the_vertices", ply_header("ascii", "element vertex 3\n" + xyz + triangle_list) + "0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n",
     {}, false, {}, "the file is damaged (face 1 names vertex 3; it has 3)"},
    {"a_header_without_its_end", "ply\nformat ascii 1.0\nelement vertex 3\n", {}, false, {},
     "the file is damaged (its header does not end)"},
    {"a_type_no_ply_has", ply_header("ascii", "element vertex 1\nproperty real x\n"), {}, false, {},
     "the file is damaged (its header's line 5 is not PLY's)"},
    {"a_body_that_ends_early", ply_header("ascii", "element vertex 3\n" + xyz + triangle_list) + "0 0 0\n1 0 0\n", {}, false,
     {}, "the file is damaged (it ends within its 3 vertex elements)"},
};

TEST(PlyFile, ReadsTheVertexAndFaceElementsKeepingTheFilesIndex)
{
    for (const PlyCase& c : ply_cases) {
        ScratchFile file(c.bytes, "m.ply");
        EXPECT_TRUE(is_ply(file.fd)) << c.name;
        ConvertedMesh mesh;
        std::string reason;
        const bool read = read_ply(file.fd, mesh, reason);
        if (!read_as_listed(c.name, read, reason, c.reason, mesh, c.positions,
                            std::vector<bool>(c.positions.size(), c.with_normals)))
            continue;
        EXPECT_EQ(mesh.corner_vertices, c.corners) << c.name;
    }
}

// ---- Binary STL and its facets ---------------------------------------------------------------

struct Facet {
    Triple normal, a, b, c;
};

std::string binary_stl(const std::vector<Facet>& facets)
{
    std::string bytes(80, ' ');
    put(bytes, std::uint32_t(facets.size()));
    for (const Facet& f : facets) {
        for (const Triple* t : {&f.normal, &f.a, &f.b, &f.c})
            for (float c : *t)
                put(bytes, c);
        put(bytes, std::uint16_t(0));
    }
    return bytes;
}

Triple winding_normal(const Triple& a, const Triple& b, const Triple& c)
{
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    return {float(n[0] / l), float(n[1] / l), float(n[2] / l)};
}

// A unit cube, two triangles a side, wound outward, with its facet normals.
std::vector<Facet> cube_facets()
{
    const Triple corners[8] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    const int quads[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
    std::vector<Facet> facets;
    for (const auto& q : quads)
        for (const auto& t : {std::array<int, 3>{q[0], q[1], q[2]}, std::array<int, 3>{q[0], q[2], q[3]}}) {
            const Triple &a = corners[t[0]], &b = corners[t[1]], &c = corners[t[2]];
            facets.push_back({winding_normal(a, b, c), a, b, c});
        }
    return facets;
}

// A sphere of radius 1 in rings and sides, wound outward.
std::vector<Facet> sphere_facets(int rings, int sides)
{
    const double pi = 3.14159265358979323846;
    auto at = [&](int i, int j) {
        const double u = pi * i / rings, w = 2 * pi * (j % sides) / sides;
        if (i == 0 || i == rings) // the poles, one position each
            return Triple{0, 0, i == 0 ? 1.0f : -1.0f};
        return Triple{float(std::sin(u) * std::cos(w)), float(std::sin(u) * std::sin(w)), float(std::cos(u))};
    };
    std::vector<Facet> facets;
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j) {
            const Triple a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
            if (i + 1 < rings)
                facets.push_back({winding_normal(a, b, c), a, b, c});
            if (i > 0)
                facets.push_back({winding_normal(a, c, d), a, c, d});
        }
    return facets;
}

ConvertedMesh read_stl(const std::vector<Facet>& facets, FacetCounts& counts)
{
    ScratchFile file(binary_stl(facets), "m.stl");
    EXPECT_TRUE(is_binary_stl(file.fd));
    ConvertedMesh mesh;
    std::string reason;
    EXPECT_TRUE(read_binary_stl(file.fd, mesh, counts, reason)) << reason;
    make_crease_normals(mesh);
    return mesh;
}

TEST(BinaryStl, ACubeKeepsItsEdgesSharp)
{
    FacetCounts counts;
    const ConvertedMesh cube = read_stl(cube_facets(), counts);
    EXPECT_EQ(counts.facets, 12u);
    EXPECT_EQ(counts.unusable + counts.disagreeing, 0u);
    EXPECT_EQ(cube.vertices.size(), 24u) << "each of the 8 corners once for each of its 3 sides";
    ASSERT_EQ(cube.corner_vertices.size(), 36u);
    const std::vector<Facet> facets = cube_facets();
    for (std::size_t c = 0; c < 36; ++c)
        EXPECT_LT(angle_between(normal_of(cube, c), facets[c / 3].normal), 1e-4) << "corner " << c << " has its side's normal";
}

TEST(BinaryStl, ASmoothSphereReadsSmooth)
{
    FacetCounts counts;
    const std::vector<Facet> facets = sphere_facets(24, 48);
    const ConvertedMesh sphere = read_stl(facets, counts);
    EXPECT_EQ(counts.unusable + counts.disagreeing, 0u);
    EXPECT_EQ(sphere.vertices.size(), std::size_t(23 * 48 + 2)) << "every position one vertex";
    for (std::size_t c = 0; c < sphere.corner_vertices.size(); ++c)
        EXPECT_LT(angle_between(normal_of(sphere, c), position_of(sphere, c)), 2.0) << "corner " << c << " points outward";
}

TEST(BinaryStl, FacetNormalsThatAreZeroOrAgainstTheWindingAreCounted)
{
    std::vector<Facet> facets = cube_facets();
    facets[0].normal = {0, 0, 0};
    facets[1].normal = {NAN, 0, 1};
    for (float& c : facets[2].normal)
        c = -c;
    facets[3].normal = {facets[3].normal[0], facets[3].normal[1] + 0.5f, facets[3].normal[2]}; // about 27 degrees off
    FacetCounts counts;
    const ConvertedMesh cube = read_stl(facets, counts);
    EXPECT_EQ(counts.unusable, 2u);
    EXPECT_EQ(counts.disagreeing, 2u);
    const std::vector<Facet> right = cube_facets();
    for (std::size_t c = 0; c < 36; ++c)
        EXPECT_LT(angle_between(normal_of(cube, c), right[c / 3].normal), 1e-4) << "corner " << c << ": from the winding";
}

TEST(BinaryStl, IsKnownByItsLengthAsItsCountSaysIt)
{
    const std::string cube = binary_stl(cube_facets());
    const struct {
        const char* name;
        std::string bytes;
        bool binary;
    } cases[] = {
        {"as_written", cube, true},
        {"a_byte_short", cube.substr(0, cube.size() - 1), false},
        {"a_byte_long", cube + " ", false},
        {"text", "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n", false},
        {"no_triangles", std::string(80, ' ') + std::string(4, '\0'), true},
    };
    for (const auto& c : cases) {
        ScratchFile file(c.bytes);
        EXPECT_EQ(is_binary_stl(file.fd), c.binary) << c.name;
    }
}

struct JudgedFacet {
    const char* name;
    Triple normal, a, b, c;
    bool unusable, disagreeing;
};

TEST(StlFacets, AFacetAgreesWithinTenDegreesOrWhatRoundingExplains)
{
    const JudgedFacet cases[] = {
        {"along_the_winding", {0, 0, 1}, o, x1, y1, false, false},
        {"not_at_unit_length", {0, 0, 7}, o, x1, y1, false, false},
        {"five_degrees_off", {0.0871557f, 0, 0.9961947f}, o, x1, y1, false, false},
        {"just_within_ten_degrees", {0.1733903f, 0, 0.9848532f}, o, x1, y1, false, false},  // 9.985 degrees
        {"just_past_ten_degrees", {0.1762258f, 0, 0.9843498f}, o, x1, y1, false, true},     // 10.15 degrees
        {"twenty_degrees_off", {0.3420201f, 0, 0.9396926f}, o, x1, y1, false, true},
        {"turned_round", {0, 0, -1}, o, x1, y1, false, true},
        {"zero", {0, 0, 0}, o, x1, y1, true, false},
        {"not_finite", {0, INFINITY, 1}, o, x1, y1, true, false},
        {"a_face_without_area", {1, 0, 0}, o, x1, {2, 0, 0}, false, false},
        // A sliver a millionth wide far from the origin: rounding turns its winding by degrees.
        {"a_far_sliver", {0, 0.2588190f, 0.9659258f}, {1000, 1000, 0}, {1001, 1000, 0}, {1000.5f, 1000.0001f, 0}, false, false},
    };
    for (const JudgedFacet& c : cases) {
        FacetCounts counts;
        judge_facet(c.normal.data(), c.a.data(), c.b.data(), c.c.data(), counts);
        EXPECT_EQ(counts.facets, 1u) << c.name;
        EXPECT_EQ(counts.unusable, c.unusable ? 1u : 0u) << c.name;
        EXPECT_EQ(counts.disagreeing, c.disagreeing ? 1u : 0u) << c.name;
    }
}

// ---- The crease rule -------------------------------------------------------------------------

// Two triangles sharing the edge (0,0,0)-(1,0,0), the second folded up by `degrees`.
ConvertedMesh folded_pair(double degrees)
{
    const double r = degrees * 3.14159265358979323846 / 180;
    ConvertedMesh m;
    const Triple points[4] = {o, x1, {0.5f, 1, 0}, {0.5f, -float(std::cos(r)), float(std::sin(r))}};
    for (const Triple& p : points) {
        ConvertedVertex v{};
        std::memcpy(v.position, p.data(), sizeof v.position);
        m.vertices.push_back(v);
    }
    m.corner_vertices = {0, 1, 2, 1, 0, 3};
    return m;
}

TEST(CreaseNormals, FacesMeetingAtMoreThanThirtyDegreesKeepTheirEdge)
{
    const struct {
        double degrees;
        std::size_t vertices;
    } cases[] = {{0, 4}, {20, 4}, {29.99, 4}, {30.01, 6}, {45, 6}, {90, 6}, {170, 6}};
    for (const auto& c : cases) {
        ConvertedMesh m = folded_pair(c.degrees);
        make_crease_normals(m);
        EXPECT_EQ(m.vertices.size(), c.vertices) << c.degrees << " degrees";
        const double between = angle_between(normal_of(m, 0), normal_of(m, 4));
        if (c.vertices == 4)
            EXPECT_LT(between, 1e-4) << c.degrees << " degrees: the edge's ends have one normal";
        else
            EXPECT_NEAR(between, c.degrees, 1e-3) << c.degrees << " degrees: each face its own";
    }
}

TEST(CreaseNormals, FacesJoinAcrossAnEdgeWhicheverWayTheyAreWound)
{
    // Two faces on the edge (0,0,0)-(1,0,0), both wound from the edge's first end to its second,
    // the second turned 10 degrees about the edge from the first: a fin folded over, not a crease.
    ConvertedMesh m = folded_pair(170);
    m.corner_vertices = {0, 1, 2, 0, 1, 3};
    make_crease_normals(m);
    EXPECT_EQ(m.vertices.size(), 4u);
    EXPECT_LT(angle_between(normal_of(m, 0), normal_of(m, 3)), 1e-4);
}

TEST(CreaseNormals, AFaceWithoutAreaBridgesNothing)
{
    // Two faces at right angles, and between them a face of no area that touches both edges.
    ConvertedMesh m;
    for (const Triple& p : {o, x1, y1, Triple{0, 0, 1}, Triple{0.5f, 0, 0}}) {
        ConvertedVertex v{};
        std::memcpy(v.position, p.data(), sizeof v.position);
        m.vertices.push_back(v);
    }
    m.corner_vertices = {0, 1, 2, 1, 0, 3, 0, 4, 1};
    make_crease_normals(m);
    EXPECT_GT(angle_between(normal_of(m, 0), normal_of(m, 4)), 89.0) << "the right angle stays sharp at the shared corner";
}

TEST(CreaseNormals, AFanOfManyFacesWithOneSharpEdgeHasTwoNormalsAtItsHub)
{
    // 60 faces around a hub, more than are compared pair by pair: the first 30 flat, the other
    // 30 folded up by 60 degrees about the spoke between them. The fan is open after the last.
    const int faces = 60;
    const double pi = 3.14159265358979323846, fold = 60 * pi / 180;
    ConvertedMesh m;
    m.vertices.push_back(ConvertedVertex{});
    const double axis_angle = 2 * pi * (faces / 2) / (faces + 1);
    const double u[3] = {std::cos(axis_angle), std::sin(axis_angle), 0};
    for (int k = 0; k <= faces; ++k) {
        const double a = 2 * pi * k / (faces + 1);
        double p[3] = {std::cos(a), std::sin(a), 0};
        if (k > faces / 2) { // turned about the axis u (Rodrigues)
            const double along = p[0] * u[0] + p[1] * u[1];
            const double across[3] = {u[1] * p[2] - u[2] * p[1], u[2] * p[0] - u[0] * p[2], u[0] * p[1] - u[1] * p[0]};
            for (int i = 0; i < 3; ++i)
                p[i] = p[i] * std::cos(fold) + across[i] * std::sin(fold) + u[i] * along * (1 - std::cos(fold));
        }
        ConvertedVertex v{};
        for (int i = 0; i < 3; ++i)
            v.position[i] = float(p[i]);
        m.vertices.push_back(v);
    }
    for (int k = 0; k < faces; ++k)
        m.corner_vertices.insert(m.corner_vertices.end(), {0, k + 1, k + 2});
    make_crease_normals(m);
    std::map<Triple, int> hub_normals;
    for (int k = 0; k < faces; ++k)
        ++hub_normals[normal_of(m, 3 * std::size_t(k))];
    ASSERT_EQ(hub_normals.size(), 2u) << "one normal each side of the fold";
    EXPECT_NEAR(angle_between(hub_normals.begin()->first, std::next(hub_normals.begin())->first), 60, 1e-3);
}

// ---- The join at scale -----------------------------------------------------------------------

// A grid of n x n positions, two triangles a cell, each corner its own: as an STL has it.
std::vector<float> grid_corners(int n)
{
    std::vector<float> corners;
    auto put_point = [&](int x, int y) { corners.insert(corners.end(), {float(x), float(y), float((x * 7 + y * 3) % 5)}); };
    for (int y = 0; y + 1 < n; ++y)
        for (int x = 0; x + 1 < n; ++x) {
            put_point(x, y), put_point(x + 1, y), put_point(x + 1, y + 1);
            put_point(x, y), put_point(x + 1, y + 1), put_point(x, y + 1);
        }
    return corners;
}

bool from_memory(void* context, int, std::size_t first, std::size_t count, float* out)
{
    const std::vector<float>& corners = *static_cast<const std::vector<float>*>(context);
    std::memcpy(out, &corners[3 * first], 3 * count * sizeof(float));
    return true;
}

TEST(CornerJoin, OnEveryCoreTheSameAsOneAtATimeAtScale)
{
    std::vector<float> corners = grid_corners(420); // 1,052,676 corners on 176,400 positions
    const std::size_t count = corners.size() / 3;
    ConvertedMesh alone;
    VertexJoin join = start_join(alone, 1000);
    for (std::size_t c = 0; c < count; ++c)
        alone.corner_vertices.push_back(join_vertex(join, &corners[3 * c], nullptr));
    end_join(join);
    EXPECT_EQ(alone.vertices.size(), std::size_t(420 * 420));
    // The first corners' positions, in the order they first come.
    std::map<Triple, int> seen;
    for (std::size_t c = 0; c < count; ++c) {
        const Triple p{corners[3 * c], corners[3 * c + 1], corners[3 * c + 2]};
        const auto [place, is_new] = seen.emplace(p, int(seen.size()));
        ASSERT_EQ(alone.corner_vertices[c], place->second) << "corner " << c;
    }
    for (const int threads : {1, 2, 3, 8}) {
        ConvertedMesh shared;
        ASSERT_TRUE(join_by_position(count, from_memory, &corners, threads, shared));
        EXPECT_EQ(shared.corner_vertices, alone.corner_vertices) << threads << " threads";
        ASSERT_EQ(shared.vertices.size(), alone.vertices.size()) << threads << " threads";
        EXPECT_EQ(std::memcmp(shared.vertices.data(), alone.vertices.data(), alone.vertices.size() * sizeof(ConvertedVertex)), 0)
            << threads << " threads";
    }
}

TEST(CornerJoin, BitsNotValuesMakeAVertex)
{
    const float zero[3] = {0, 0, 0}, minus_zero[3] = {-0.0f, 0, 0}, up[3] = {0, 0, 1}, down[3] = {0, 0, -1};
    ConvertedMesh m;
    VertexJoin join = start_join(m, 4);
    EXPECT_EQ(join_vertex(join, zero, nullptr), 0);
    EXPECT_EQ(join_vertex(join, minus_zero, nullptr), 1) << "-0 is another position, as in the file";
    EXPECT_EQ(join_vertex(join, zero, up), 2) << "another normal, another vertex";
    EXPECT_EQ(join_vertex(join, zero, down), 3);
    EXPECT_EQ(join_vertex(join, zero, up), 2);
    EXPECT_EQ(join_vertex(join, zero, nullptr), 0);
    for (int i = 0; i < 5000; ++i) { // past its room: the table grows and keeps every vertex
        const float p[3] = {float(i), 1, 2};
        EXPECT_EQ(join_vertex(join, p, nullptr), 4 + i);
    }
    const float again[3] = {17, 1, 2};
    EXPECT_EQ(join_vertex(join, again, nullptr), 4 + 17);
}

} // namespace
