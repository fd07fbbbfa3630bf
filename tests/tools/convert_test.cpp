// olvanta-convert, run as a program: meshes the tests write in other formats come out in the
// viewer's format and read back through the viewer's own reader.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "convert_options.h"
#include "convert_support.h"
#include "mesh/mesh_reader.h"

namespace {

using Point = std::array<float, 3>;

// A closed convex octahedron, wound counter-clockwise seen from outside, moved off the origin by
// offsets and scaled by a step that no short decimal writes exactly.
struct Octahedron {
    float step, dx, dy, dz;

    Point corner(int i) const
    {
        static const int axes[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
        return {dx + step * float(axes[i][0]), dy + step * float(axes[i][1]), dz + step * float(axes[i][2])};
    }
    Point centre() const { return {dx, dy, dz}; }
};

const int faces[8][3] = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};

const Octahedron plain{1.0f, 0.5f, -1.25f, 2.75f};                  // short decimals, any parser is exact
const Octahedron awkward{1.0f / 3.0f, 0.1f, -1e-7f, 12345.678f};     // only binary files carry these exactly

Point facet_normal(const Octahedron& o, int f)
{
    const Point a = o.corner(faces[f][0]), b = o.corner(faces[f][1]), c = o.corner(faces[f][2]);
    const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    return {float(n[0] / length), float(n[1] / length), float(n[2] / length)};
}

std::string decimal(float v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", double(v));
    return text;
}

std::string point_text(const Point& p)
{
    return decimal(p[0]) + " " + decimal(p[1]) + " " + decimal(p[2]);
}

// File normals given on purpose with a length of 2, so that writing them at unit length shows.
Point given_normal(int i)
{
    static const float axes[6][3] = {{2, 0, 0}, {-2, 0, 0}, {0, 2, 0}, {0, -2, 0}, {0, 0, 2}, {0, 0, -2}};
    return {axes[i][0], axes[i][1], axes[i][2]};
}

std::string obj_text(const Octahedron& o, bool with_normals)
{
    std::string text = "# octahedron\n";
    for (int i = 0; i < 6; ++i)
        text += "v " + point_text(o.corner(i)) + "\n";
    for (int i = 0; with_normals && i < 6; ++i)
        text += "vn " + point_text(given_normal(i)) + "\n";
    for (const auto& f : faces) {
        text += "f";
        for (int k : f)
            text += " " + std::to_string(k + 1) + (with_normals ? "//" + std::to_string(k + 1) : "");
        text += "\n";
    }
    return text;
}

std::string ply_ascii_text(const Octahedron& o)
{
    std::string text = "ply\nformat ascii 1.0\nelement vertex 6\nproperty float x\nproperty float y\n"
                       "property float z\nproperty float nx\nproperty float ny\nproperty float nz\n"
                       "element face 8\nproperty list uchar int vertex_indices\nend_header\n";
    for (int i = 0; i < 6; ++i)
        text += point_text(o.corner(i)) + " " + point_text(given_normal(i)) + "\n";
    for (const auto& f : faces)
        text += "3 " + std::to_string(f[0]) + " " + std::to_string(f[1]) + " " + std::to_string(f[2]) + "\n";
    return text;
}

template <typename T>
void put(std::string& bytes, T value)
{
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string ply_binary_bytes(const Octahedron& o)
{
    std::string bytes = "ply\nformat binary_little_endian 1.0\nelement vertex 6\nproperty float x\n"
                        "property float y\nproperty float z\nelement face 8\n"
                        "property list uchar int vertex_indices\nend_header\n";
    for (int i = 0; i < 6; ++i)
        for (float c : o.corner(i))
            put(bytes, c);
    for (const auto& f : faces) {
        put(bytes, std::uint8_t(3));
        for (int k : f)
            put(bytes, std::int32_t(k));
    }
    return bytes;
}

std::string stl_ascii_text(const Octahedron& o)
{
    std::string text = "solid octahedron\n";
    for (int f = 0; f < 8; ++f) {
        text += "facet normal " + point_text(facet_normal(o, f)) + "\nouter loop\n";
        for (int k : faces[f])
            text += "vertex " + point_text(o.corner(k)) + "\n";
        text += "endloop\nendfacet\n";
    }
    return text + "endsolid octahedron\n";
}

// Binary STL as many exporters write it: every facet normal left at zero.
std::string stl_binary_bytes(const Octahedron& o)
{
    std::string bytes(80, ' ');
    put(bytes, std::uint32_t(8));
    for (const auto& f : faces) {
        for (int k = 0; k < 3; ++k)
            put(bytes, 0.0f);
        for (int k : f)
            for (float c : o.corner(k))
                put(bytes, c);
        put(bytes, std::uint16_t(0));
    }
    return bytes;
}

std::string off_text(const Octahedron& o)
{
    std::string text = "OFF\n6 8 0\n";
    for (int i = 0; i < 6; ++i)
        text += point_text(o.corner(i)) + "\n";
    for (const auto& f : faces)
        text += "3 " + std::to_string(f[0]) + " " + std::to_string(f[1]) + " " + std::to_string(f[2]) + "\n";
    return text;
}

Point position_of(const Vertex& v)
{
    return {float(v.x), float(v.y), float(v.z)};
}

// A triangle as its corners' positions, turned so the smallest comes first; winding is kept.
std::array<Point, 3> canonical(std::array<Point, 3> t)
{
    while (!(t[0] <= t[1] && t[0] <= t[2]))
        t = {t[1], t[2], t[0]};
    return t;
}

struct FormatCase {
    const char* name;
    const char* file_name;
    std::string (*write)(const Octahedron&);
    const Octahedron* shape;
    std::size_t vertices;
    enum { computed, given_per_vertex, facet } normals;
};

void PrintTo(const FormatCase& c, std::ostream* out)
{
    *out << c.name;
}

class Convert : public testing::TestWithParam<FormatCase> {};

void expect_the_octahedrons_corners_and_triangles(const MeshStore& mesh, const Octahedron& o)
{
    std::set<Point> expected_positions, positions;
    for (int i = 0; i < 6; ++i)
        expected_positions.insert(o.corner(i));
    for (const Vertex& v : mesh.vertices)
        positions.insert(position_of(v));
    EXPECT_EQ(positions, expected_positions) << "positions are the file's, as floats";

    std::set<std::array<Point, 3>> expected_triangles, triangles;
    for (const auto& f : faces)
        expected_triangles.insert(canonical({o.corner(f[0]), o.corner(f[1]), o.corner(f[2])}));
    for (const Face& f : mesh.faces) {
        ASSERT_TRUE(face_is_drawable(f, mesh.vertices));
        triangles.insert(canonical({position_of(mesh.vertices[f.v1]), position_of(mesh.vertices[f.v2]),
                                    position_of(mesh.vertices[f.v3])}));
    }
    EXPECT_EQ(triangles, expected_triangles) << "each face names the right corners, in order";
}

void expect_outward_normals(const MeshStore& mesh, const Octahedron& o, bool given_by_the_file)
{
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        const Vertex& v = mesh.vertices[i];
        const Point p = position_of(v), centre = o.centre();
        const double outward = (v.nx * (p[0] - centre[0]) + v.ny * (p[1] - centre[1]) + v.nz * (p[2] - centre[2]));
        const double length = std::sqrt(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz);
        EXPECT_GT(outward, 0) << "vertex " << i << " normal points outward";
        EXPECT_NEAR(length, 1.0, 1e-6) << "vertex " << i << (given_by_the_file ? ", the file's normal at unit length" : "");
        if (given_by_the_file) {
            const Point d{p[0] - centre[0], p[1] - centre[1], p[2] - centre[2]};
            EXPECT_NEAR(outward, std::sqrt(double(d[0]) * d[0] + double(d[1]) * d[1] + double(d[2]) * d[2]), 1e-5)
                << "vertex " << i << ": the file's normal keeps its direction, along the corner's axis";
        }
    }
}

// Around each corner the four faces are alike: the mean normal is the corner's axis.
void expect_corner_axes_as_normals(const MeshStore& mesh, const Octahedron& o)
{
    for (const Vertex& v : mesh.vertices) {
        const Point p = position_of(v), centre = o.centre();
        const double d[3] = {double(p[0]) - centre[0], double(p[1]) - centre[1], double(p[2]) - centre[2]};
        const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        EXPECT_NEAR(v.nx, d[0] / length, 1e-5);
        EXPECT_NEAR(v.ny, d[1] / length, 1e-5);
        EXPECT_NEAR(v.nz, d[2] / length, 1e-5);
    }
}

TEST_P(Convert, RoundTripsThroughTheViewersReader)
{
    const FormatCase& c = GetParam();
    const Octahedron& o = *c.shape;
    const std::string dir = temporary_directory();
    const std::string input = dir + "/" + c.file_name, output = dir + "/octahedron.txt";
    write_bytes(input, c.write(o));

    const CommandRun run = convert(input, output);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string wrote = "olvanta-convert: wrote " + std::to_string(c.vertices) + " vertices and 8 faces to " + output + "\n";
    EXPECT_EQ(run.out.substr(0, wrote.size()), wrote);
    const bool far_away = std::abs(o.dz) > 10;
    EXPECT_EQ(run.out.find("olvanta-convert: hint: ") == wrote.size(), far_away) << run.out;

    MeshStore mesh;
    ASSERT_EQ(read_mesh_file(output, mesh).outcome, ReadOutcome::complete);
    ASSERT_EQ(mesh.vertices.size(), c.vertices);
    ASSERT_EQ(mesh.faces.size(), 8u);
    expect_the_octahedrons_corners_and_triangles(mesh, o);
    expect_outward_normals(mesh, o, c.normals == FormatCase::given_per_vertex);
    if (c.normals == FormatCase::computed)
        expect_corner_axes_as_normals(mesh, o);
    remove_directory(dir);
}

std::string obj_without_normals(const Octahedron& o) { return obj_text(o, false); }
std::string obj_with_normals(const Octahedron& o) { return obj_text(o, true); }

// An STL's facets describe faces: the octahedron's faces meet at 109 degrees, sharper than a
// crease, so every corner keeps its face's normal and each corner of the solid is 4 vertices.
INSTANTIATE_TEST_SUITE_P(Formats, Convert, testing::Values(
    FormatCase{"obj", "octahedron.obj", obj_without_normals, &plain, 6, FormatCase::computed},
    FormatCase{"obj_with_normals", "octahedron.obj", obj_with_normals, &plain, 6, FormatCase::given_per_vertex},
    FormatCase{"ply_ascii_with_normals", "octahedron.ply", ply_ascii_text, &plain, 6, FormatCase::given_per_vertex},
    FormatCase{"ply_binary", "octahedron.ply", ply_binary_bytes, &awkward, 6, FormatCase::computed},
    FormatCase{"stl_ascii_facet_normals", "octahedron.stl", stl_ascii_text, &plain, 24, FormatCase::facet},
    FormatCase{"stl_binary_zero_normals", "octahedron.stl", stl_binary_bytes, &awkward, 24, FormatCase::facet},
    FormatCase{"off", "octahedron.off", off_text, &plain, 6, FormatCase::computed}));

// Small hand-made files for every way an input has been seen to go wrong, the import library's
// crashes and runaways among them.
const char* const self_instancing_collada = R"(<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
  <library_geometries><geometry id="tri"><mesh>
    <source id="pos"><float_array id="pos-array" count="9">0 0 0 1 0 0 0 1 0</float_array>
      <technique_common><accessor source="#pos-array" count="3" stride="3">
        <param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/>
      </accessor></technique_common></source>
    <vertices id="verts"><input semantic="POSITION" source="#pos"/></vertices>
    <triangles count="1"><input semantic="VERTEX" source="#verts" offset="0"/><p>0 1 2</p></triangles>
  </mesh></geometry></library_geometries>
  <library_nodes><node id="loop"><instance_geometry url="#tri"/><instance_node url="#loop"/></node></library_nodes>
  <library_visual_scenes><visual_scene id="scene"><node id="root"><instance_node url="#loop"/></node></visual_scene></library_visual_scenes>
  <scene><instance_visual_scene url="#scene"/></scene>
</COLLADA>
)";

const std::string kept_text = "Vertex 1 0 0 0 {normal=(0 0 1)}\n";

struct RefusalCase {
    const char* name;
    const char* file_name;
    std::string content;
    std::vector<std::string> options;
    std::string message; // after "olvanta-convert: ", with FILE for the input's path
};

std::string with_path(std::string message, const std::string& path)
{
    for (std::size_t at = message.find("FILE"); at != std::string::npos; at = message.find("FILE", at + path.size()))
        message.replace(at, 4, path);
    return message;
}

// Built with AddressSanitizer, a crash in the import library is the sanitizer's to report first,
// before the converter's line, and so is running out of memory, which then ends as a crash: its
// operator new aborts before the child can say so.
bool sanitizer_reports_first(const RefusalCase& c)
{
#ifdef OLVANTA_SANITIZED
    return c.message.rfind("ran out of memory", 0) == 0 || c.message.find(" crashed ") != std::string::npos;
#else
    (void)c;
    return false;
#endif
}

// Every refusal is one line that names the file and the reason, with status 1; OUTPUT, new or
// already there, is left as it was, and nothing else is left behind.
void expect_refusal(const RefusalCase& c)
{
    const std::string dir = temporary_directory();
    const std::string input = dir + "/" + c.file_name, fresh = dir + "/fresh.txt", kept = dir + "/kept.txt";
    if (std::string(c.name) != "missing")
        write_bytes(input, c.content);
    write_bytes(kept, kept_text);
    for (const std::string& output : {fresh, kept}) {
        std::vector<std::string> words = c.options;
        words.insert(words.end(), {input, output});
        const CommandRun run = convert(words);
        EXPECT_EQ(run.status, 1) << c.name;
        if (sanitizer_reports_first(c)) {
            EXPECT_NE(run.err.find("AddressSanitizer"), std::string::npos) << c.name;
            const std::string last_line = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
            EXPECT_EQ(last_line.rfind("olvanta-convert: the import library crashed on '" + input + "' (", 0), 0u) << last_line;
        } else {
            EXPECT_EQ(run.err, "olvanta-convert: " + with_path(c.message, input) + "\n") << c.name;
        }
        EXPECT_EQ(run.out, "") << c.name;
    }
    EXPECT_EQ(read_whole_file(kept), kept_text) << c.name << ": an existing output stays";
    std::vector<std::string> expected{"kept.txt"};
    if (std::string(c.name) != "missing")
        expected.push_back(c.file_name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(directory_entries(dir), expected) << c.name << ": no output and no temporary file";
    remove_directory(dir);
}

const RefusalCase refusals[] = {
    {"missing", "missing.obj", "", {}, "cannot read 'FILE': No such file or directory"},
    {"empty", "empty.obj", "", {}, "'FILE' is empty"},
    {"text", "notes.txt", "These are notes about a mesh, not a mesh.\n", {},
     "cannot read 'FILE' as a mesh: No suitable reader found for the file format of file \"FILE\"."},
    {"point_cloud", "points.ply",
     "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
     "end_header\n0 0 0\n1 0 0\n0 1 0\n",
     {}, "'FILE' holds no triangles (only points or lines, or nothing)"},
    {"face_naming_a_missing_vertex", "bad.ply",
     "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
     "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 99\n",
     {}, "cannot read 'FILE' as a mesh: the file is damaged (face 1 names vertex 99; it has 3)"},
    // Once an assertion in the library's triangulation, which aborted the converter.
    {"fewer_faces_than_declared", "short.off", "OFF\n3 2 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n", {},
     "cannot read 'FILE' as a mesh: the file is damaged (mesh 0 has an empty face)"},
    {"scene_graph_holding_itself", "loop.dae", self_instancing_collada, {},
     "the import library crashed on 'FILE' (segmentation fault)"},
    // Once memory grew by hundreds of MB a second without end.
    {"header_declaring_billions_of_vertices", "huge.off",
     "OFF\n353535235358 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n", {},
     "ran out of memory reading 'FILE' (the limit is 4096 MiB; --memory-limit raises it)"},
    {"header_declaring_billions_under_a_lower_limit", "huge.off",
     "OFF\n353535235358 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n", {"--memory-limit", "200"},
     "ran out of memory reading 'FILE' (the limit is 200 MiB; --memory-limit raises it)"},
    // Once the import library read for ever.
    {"header_without_its_end", "endless.ply", "ply\nformat ascii 1.0", {},
     "cannot read 'FILE' as a mesh: the file is damaged (its header does not end)"},
};

// The first line names the word that is wrong and why; the usage follows, and nothing is done.
TEST(Convert, AnswersAWrongCommandLineWithTheReasonTheUsageAndStatusTwo)
{
    const std::string seconds = "is not a whole number of seconds from 1 to 2147483647";
    const std::string mebibytes = "is not a whole number of MiB from 1 to 2147483647";
    const struct {
        std::vector<std::string> words;
        std::string first_line;
    } wrong[] = {
        {{}, "an INPUT and an OUTPUT are needed"},
        {{"in.obj"}, "an INPUT and an OUTPUT are needed"},
        {{"in.obj", "out.txt", "more.txt"}, "only one INPUT and one OUTPUT, not 'more.txt'"},
        {{"--unknown", "in.obj", "out.txt"}, "unknown option '--unknown'"},
        {{"-f", "in.obj", "out.txt"}, "unknown option '-f'"},
        {{"in.obj", "out.txt", "--time-limit"}, "--time-limit needs a value"},
        {{"in.obj", "out.txt", "--up"}, "--up needs a value"},
        {{"--time-limit", "0", "in.obj", "out.txt"}, "--time-limit: '0' " + seconds},
        {{"--time-limit", "-1", "in.obj", "out.txt"}, "--time-limit: '-1' " + seconds},
        {{"--time-limit", "1.5", "in.obj", "out.txt"}, "--time-limit: '1.5' " + seconds},
        {{"--time-limit", "nan", "in.obj", "out.txt"}, "--time-limit: 'nan' " + seconds},
        {{"--time-limit", "2147483648", "in.obj", "out.txt"}, "--time-limit: '2147483648' " + seconds},
        {{"--memory-limit", "abc", "in.obj", "out.txt"}, "--memory-limit: 'abc' " + mebibytes},
        {{"--memory-limit", "-5", "in.obj", "out.txt"}, "--memory-limit: '-5' " + mebibytes},
        {{"--memory-limit", "+5", "in.obj", "out.txt"}, "--memory-limit: '+5' " + mebibytes},
        {{"--memory-limit", "", "in.obj", "out.txt"}, "--memory-limit: '' " + mebibytes},
        {{"--up", "w", "in.obj", "out.txt"}, "--up: 'w' is not one of x, y, z, -x, -y, -z"},
        {{"--fit", "in.obj"}, "an INPUT and an OUTPUT are needed"},
    };
    for (const auto& c : wrong) {
        const CommandRun run = convert(c.words);
        EXPECT_EQ(run.status, 2) << testing::PrintToString(c.words);
        EXPECT_EQ(run.err.rfind("olvanta-convert: " + c.first_line + "\nusage: olvanta-convert ", 0), 0u) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

// The limits' own limits, at each end and one past.
TEST(Convert, EveryLimitOptionHoldsAtItsValueAndRefusesOnePast)
{
    const struct {
        const char* option;
        const char* value;
        bool taken;
    } cases[] = {
        {"--time-limit", "1", true},           {"--time-limit", "0", false},
        {"--time-limit", "2147483647", true},  {"--time-limit", "2147483648", false},
        {"--memory-limit", "1", true},         {"--memory-limit", "0", false},
        {"--memory-limit", "2147483647", true}, {"--memory-limit", "2147483648", false},
    };
    for (const auto& c : cases) {
        const char* const argv[] = {"olvanta-convert", c.option, c.value, "in.obj", "out.txt"};
        ConvertOptions options;
        std::string reason;
        EXPECT_EQ(parse_convert_options(5, argv, options, reason), c.taken) << c.option << " " << c.value << ": " << reason;
    }
}

TEST(Convert, HelpListsEveryOptionOnStandardOutput)
{
    const CommandRun run = convert(std::vector<std::string>{"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    for (const char* option : {"--up AXIS", "--fit", "--memory-limit MIB", "--time-limit SECONDS", "--help"})
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
}

// A column 40 mm wide, 120 mm tall along Y and 20 mm deep, half a metre from the origin, as a
// Y-up exporter in millimetres writes it.
std::string column_in_millimetres()
{
    std::string text;
    for (int i = 0; i < 8; ++i)
        text += "v " + std::to_string(500 + 40 * (i & 1)) + " " + std::to_string(120 * (i >> 1 & 1)) + " " +
                std::to_string(300 + 20 * (i >> 2 & 1)) + "\n";
    for (const char* face : {"1 3 4 2", "5 6 8 7", "1 2 6 5", "3 7 8 4", "1 5 7 3", "2 4 8 6"})
        text += std::string("f ") + face + "\n";
    return text;
}

MeshStore read_back(const std::string& path)
{
    MeshStore mesh;
    read_mesh_file(path, mesh);
    return mesh;
}

std::array<double, 6> box_of(const MeshStore& mesh)
{
    std::array<double, 6> box{HUGE_VAL, HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const Vertex& v : mesh.vertices) {
        const double p[3] = {v.x, v.y, v.z};
        for (int k = 0; k < 3; ++k) {
            box[k] = std::min(box[k], p[k]);
            box[k + 3] = std::max(box[k + 3], p[k]);
        }
    }
    return box;
}

TEST(Convert, UpAndFitStandAYUpModelInMillimetresUprightInTheFirstView)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/column.obj", column_in_millimetres());
    // Options after the names work as well as before them.
    const CommandRun run = convert({dir + "/column.obj", dir + "/column.txt", "--fit", "--up", "y"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "olvanta-convert: wrote 8 vertices and 12 faces to " + dir + "/column.txt\n");
    const std::array<double, 6> box = box_of(read_back(dir + "/column.txt"));
    // 40 x 20 x 120 mm scaled by 2.5 / 120.
    const double expected[6] = {-20 / 48.0, -10 / 48.0, -1.25, 20 / 48.0, 10 / 48.0, 1.25};
    for (int k = 0; k < 6; ++k)
        EXPECT_NEAR(box[k], expected[k], 1e-6) << "tall along Z, centred, 2.5 units high: " << k;
    remove_directory(dir);
}

TEST(Convert, HintsAtFitWhenTheModelWouldShowBadlyAndWritesItAsItIs)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/column.obj", column_in_millimetres());
    const CommandRun run = convert(dir + "/column.obj", dir + "/column.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "olvanta-convert: wrote 8 vertices and 12 faces to " + dir +
                           "/column.txt\nolvanta-convert: hint: the model is 120 units across and its centre lies "
                           "608 units from the origin, but the first view shows about 5 units around the origin; "
                           "--fit moves and scales it into view\n");
    const std::array<double, 6> box = box_of(read_back(dir + "/column.txt"));
    EXPECT_EQ(box, (std::array<double, 6>{500, 0, 300, 540, 120, 320})) << "positions exactly as the file has them";
    remove_directory(dir);
}

TEST(Convert, RefusesEveryInputItCannotConvertWithOneLineAndStatusOne)
{
    for (const RefusalCase& c : refusals)
        expect_refusal(c);
}

// A mesh of many blocks of the writer's records, each record where it belongs: the grid's faces in
// the file's order, each through the positions the file gave its corners.
TEST(Convert, ABigMeshComesOutWholeThroughEveryBlockOfTheWriter)
{
    const int side = 600; // 360,000 vertices and 718,802 grid_faces: blocks of 65,536 records, many rings round
    std::string text;
    text.reserve(std::size_t(side) * side * 40);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            text += "v " + std::to_string(x) + " " + std::to_string(y) + " 0\n";
    std::vector<std::array<int, 3>> grid_faces;
    for (int y = 0; y + 1 < side; ++y)
        for (int x = 0; x + 1 < side; ++x) {
            const int a = y * side + x + 1;
            grid_faces.push_back({a, a + 1, a + side + 1});
            grid_faces.push_back({a, a + side + 1, a + side});
        }
    for (const auto& f : grid_faces)
        text += "f " + std::to_string(f[0]) + " " + std::to_string(f[1]) + " " + std::to_string(f[2]) + "\n";
    const std::string dir = temporary_directory();
    write_bytes(dir + "/grid.obj", text);
    const CommandRun run = convert(dir + "/grid.obj", dir + "/grid.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    MeshStore mesh;
    ASSERT_EQ(read_mesh_file(dir + "/grid.txt", mesh).outcome, ReadOutcome::complete);
    ASSERT_EQ(mesh.vertices.size(), std::size_t(side) * side);
    ASSERT_EQ(mesh.faces.size(), grid_faces.size());
    std::size_t wrong = 0;
    for (std::size_t f = 0; f < grid_faces.size(); ++f) {
        const int written[3] = {mesh.faces[f].v1, mesh.faces[f].v2, mesh.faces[f].v3};
        for (int k = 0; k < 3; ++k) {
            const Vertex& v = mesh.vertices[std::size_t(written[k])];
            const int given = grid_faces[f][std::size_t(k)] - 1;
            wrong += v.x != given % side || v.y != given / side || v.z != 0 || v.nz != 1;
        }
    }
    EXPECT_EQ(wrong, 0u) << "corners whose position is not the one the file gave";
    remove_directory(dir);
}

// One triangle whose second vertex's position and normal are the six words given, in each format
// that can carry both (STL: the facet's normal).
using TriangleWriter = std::string (*)(const std::string (&)[6]);

std::string family_triangle(const std::string (&w)[6])
{
    return "Vertex 1 0 0 0 {normal=(0 0 1)}\nVertex 2 " + w[0] + " " + w[1] + " " + w[2] + " {normal=(" + w[3] + " " +
           w[4] + " " + w[5] + ")}\nVertex 3 0 1 0 {normal=(0 0 1)}\nFace 1 1 2 3\n";
}

std::string obj_triangle(const std::string (&w)[6])
{
    return "v 0 0 0\nv " + w[0] + " " + w[1] + " " + w[2] + "\nv 0 1 0\nvn 0 0 1\nvn " + w[3] + " " + w[4] + " " +
           w[5] + "\nf 1//1 2//2 3//1\n";
}

std::string ply_triangle(const std::string (&w)[6])
{
    return "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
           "property float nx\nproperty float ny\nproperty float nz\nelement face 1\n"
           "property list uchar int vertex_indices\nend_header\n0 0 0 0 0 1\n" +
           w[0] + " " + w[1] + " " + w[2] + " " + w[3] + " " + w[4] + " " + w[5] + "\n0 1 0 0 0 1\n3 0 1 2\n";
}

std::string stl_triangle(const std::string (&w)[6])
{
    return "solid t\nfacet normal " + w[3] + " " + w[4] + " " + w[5] + "\nouter loop\nvertex 0 0 0\nvertex " + w[0] +
           " " + w[1] + " " + w[2] + "\nvertex 0 1 0\nendloop\nendfacet\nendsolid t\n";
}

float binary_value(const std::string& word)
{
    return word == "nan" ? NAN : word == "inf" ? INFINITY : word == "-inf" ? -INFINITY : std::stof(word);
}

std::string binary_stl_triangle(const std::string (&w)[6])
{
    std::string bytes(80, ' ');
    put(bytes, std::uint32_t(1));
    const std::string corners[9] = {"0", "0", "0", w[0], w[1], w[2], "0", "1", "0"};
    for (int k = 3; k < 6; ++k)
        put(bytes, binary_value(w[k]));
    for (const std::string& word : corners)
        put(bytes, binary_value(word));
    put(bytes, std::uint16_t(0));
    return bytes;
}

// A value that is no finite number, in each component of a position and of a normal in turn, in
// every format: a position is refused, a normal is not used, and neither reaches the output.
TEST(Convert, NoComponentOfAVectorThatIsNotFiniteReachesTheOutput)
{
    const std::vector<const char*> any_spelling = {"nan", "inf", "-inf"}, overflowing = {"1e39", "-1e39"};
    const struct {
        const char* file_name;
        TriangleWriter write;
        const std::vector<const char*>& values; // the family writes no "nan" for a position
    } formats[] = {{"t.m", family_triangle, overflowing}, {"t.obj", obj_triangle, any_spelling},
                   {"t.ply", ply_triangle, any_spelling}, {"t.stl", stl_triangle, any_spelling},
                   {"b.stl", binary_stl_triangle, any_spelling}};
    const std::string dir = temporary_directory(), output = dir + "/out.txt";
    for (const auto& format : formats)
        for (const char* value : format.values)
            for (int k = 0; k < 6; ++k) {
                std::string words[6] = {"1", "0", "0", "0", "0", "1"};
                words[k] = value;
                const std::string input = dir + "/" + format.file_name;
                write_bytes(input, format.write(words));
                const CommandRun run = convert(input, output);
                const std::string where = std::string(format.file_name) + ": " + value + " in component " + std::to_string(k);
                if (k < 3) {
                    EXPECT_EQ(run.status, 1) << where;
                    EXPECT_EQ(run.err, "olvanta-convert: '" + input + "' has vertex positions that are not finite numbers\n")
                        << where;
                    EXPECT_NE(access(output.c_str(), F_OK), 0) << where;
                    continue;
                }
                ASSERT_EQ(run.status, 0) << where << ": " << run.err;
                const std::string text = read_whole_file(output);
                EXPECT_EQ(text.find("nan"), std::string::npos) << where << ":\n" << text;
                EXPECT_EQ(text.find("inf"), std::string::npos) << where << ":\n" << text;
                MeshStore mesh;
                ASSERT_EQ(read_mesh_file(output, mesh).outcome, ReadOutcome::complete) << where;
                for (const Vertex& v : mesh.vertices)
                    EXPECT_TRUE(std::isfinite(v.nx) && std::isfinite(v.ny) && std::isfinite(v.nz) && v.nz > 0.99) << where;
                unlink(output.c_str());
            }
    remove_directory(dir);
}

// Whether any process's command line holds the word.
bool a_process_names(const std::string& word)
{
    DIR* processes = opendir("/proc");
    bool found = false;
    while (dirent* entry = processes ? readdir(processes) : nullptr)
        if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9')
            found = found || read_whole_file("/proc/" + std::string(entry->d_name) + "/cmdline").find(word) != std::string::npos;
    if (processes)
        closedir(processes);
    return found;
}

// Killed while the import library runs for ever, by any signal, the converter takes its import
// down with it and leaves no file beside OUTPUT.
std::string core_pattern()
{
    std::string pattern = read_whole_file("/proc/sys/kernel/core_pattern");
    while (!pattern.empty() && pattern.back() == '\n')
        pattern.pop_back();
    return pattern;
}

// With core dumps allowed, as on many a desktop, an import that crashes leaves no core file in
// the folder the converter runs in: a thumbnail host would collect one for every hostile file.
TEST(Convert, ACrashingImportLeavesNoCoreFile)
{
    if (core_pattern().empty() || core_pattern()[0] == '|' || core_pattern()[0] == '/')
        GTEST_SKIP() << "this machine writes core files elsewhere (" << core_pattern() << ")";
    const std::string dir = temporary_directory();
    write_bytes(dir + "/loop.dae", self_instancing_collada);
    const CommandRun run = run_command("cd '" + dir + "' && ulimit -c unlimited && '" + OLVANTA_CONVERT_PATH +
                                       "' loop.dae out.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("crashed"), std::string::npos) << run.err;
    EXPECT_EQ(directory_entries(dir), std::vector<std::string>{"loop.dae"});
    remove_directory(dir);
}

// A grid whose text is far more than a pipe holds, and an output FIFO that is open for reading
// but never read: the conversion stalls in its writing, as with a reader that went to sleep.
struct StalledOutput {
    std::string dir, input, fifo;
    int reader = -1;
};

StalledOutput stalled_output()
{
    StalledOutput s;
    s.dir = temporary_directory();
    s.input = s.dir + "/grid.obj";
    s.fifo = s.dir + "/out.fifo";
    std::string text;
    for (int y = 0; y <= 80; ++y)
        for (int x = 0; x <= 80; ++x)
            text += "v " + std::to_string(x) + " " + std::to_string(y) + " 0\n";
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x) {
            const int a = y * 81 + x + 1;
            text += "f " + std::to_string(a) + " " + std::to_string(a + 1) + " " + std::to_string(a + 82) + "\n";
        }
    write_bytes(s.input, text);
    mkfifo(s.fifo.c_str(), 0600);
    s.reader = open(s.fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return s;
}

void remove_stalled_output(StalledOutput& s)
{
    close(s.reader);
    remove_directory(s.dir);
}

TEST(Convert, GivesUpWithinItsTimeLimitWhenItsOutputIsNotRead)
{
    StalledOutput s = stalled_output();
    const auto started = std::chrono::steady_clock::now();
    const CommandRun run = convert({"--time-limit", "2", s.input, s.fifo});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "olvanta-convert: gave up on '" + s.input + "' after 2 s\n");
    EXPECT_GE(seconds, 2.0);
    EXPECT_LT(seconds, 4.0);
    remove_stalled_output(s);
}

// Killed while its conversion is held up, by any signal, the converter takes its child down with
// it and leaves no file behind.
TEST(Convert, KilledItLeavesNoConversionRunningAndNoFileBehind)
{
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        StalledOutput s = stalled_output();
        const pid_t converter = fork();
        if (converter == 0) {
            execl(OLVANTA_CONVERT_PATH, OLVANTA_CONVERT_PATH, s.input.c_str(), s.fifo.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        usleep(500000);
        EXPECT_TRUE(a_process_names(s.input)) << "the conversion is running";
        kill(converter, signal_number);
        int status = 0;
        waitpid(converter, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << strsignal(signal_number);
        usleep(300000);
        EXPECT_FALSE(a_process_names(s.input)) << strsignal(signal_number) << ": no conversion is left running";
        EXPECT_EQ(directory_entries(s.dir), (std::vector<std::string>{"grid.obj", "out.fifo"})) << strsignal(signal_number);
        remove_stalled_output(s);
    }
}

} // namespace
