// The Vertex/Face family: what each line holds, that pieces and parts read as the whole, how
// polygons are cut, and which normal each corner gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "../mesh/family_reference_reader.h"
#include "family_mesh.h"
#include "mesh/family_reader.h"
#include "triangulate.h"
#include "vertex_names.h"

namespace {

FamilyMesh read_whole(const std::string& text)
{
    FamilyReading reading;
    read_family_bytes(reading, text.data(), text.size());
    finish_family_reading(reading);
    return reading.mesh;
}

struct LineCase {
    const char* name;
    std::string line;
    std::size_t vertices, faces, corners, sharp_edges, skipped;
    std::size_t damaged_blocks, unusable_normals;
    bool has_normal; // of the vertex, when there is one
};

const LineCase lines[] = {
    {"vertex_without_normal", "Vertex 1  -0.0378297 0.12794 0.00447467", 1, 0, 0, 0, 0, 0, 0, false},
    {"vertex_in_the_strict_form", "Vertex 1 0 0 0 {normal=(0 0 1)}", 1, 0, 0, 0, 0, 0, 0, true},
    {"normal_then_uv", "Vertex 2 1 0 0 {normal=(0 0 1) uv=(0.19 0.43)}", 1, 0, 0, 0, 0, 0, 0, true},
    {"uv_then_normal", "Vertex 2 1 0 0 {uv=(0.19 0.43) normal=(0 0 1)}", 1, 0, 0, 0, 0, 0, 0, true},
    {"normal_with_commas", "Vertex 3 1 0 0 {normal=(0,1,0)}", 1, 0, 0, 0, 0, 0, 0, true},
    {"uv_alone", "Vertex 3 1 0 0 {uv=(0.5 0.5)}", 1, 0, 0, 0, 0, 0, 0, false},
    {"other_keys", "Vertex 3 1 0 0 {rgb=(1 0 0) target=\"a b\" wid=3 normal=(1 0 0)}", 1, 0, 0, 0, 0, 0, 0, true},
    {"carriage_return", "Vertex 4 1 2 3 {normal=(0 0 1)}\r", 1, 0, 0, 0, 0, 0, 0, true},
    {"indented", "   Vertex 4 1 2 3", 1, 0, 0, 0, 0, 0, 0, false},
    {"triangle", "Face 1 1 2 3", 0, 1, 0, 0, 0, 0, 0, false},
    {"quad", "Face 2  2 3 4 5", 0, 1, 0, 0, 0, 0, 0, false},
    {"face_number_zero", "Face 0 1 2 3", 0, 1, 0, 0, 0, 0, 0, false},
    {"face_with_attributes", "Face 3  686 1429 687 {mat=\"Material.007\" groups=\"default\" rgb=(1 0 0)}", 0, 1, 0, 0, 0, 0, 0, false},
    {"corner_with_normal", "Corner 999 114 {normal=(0.923471 -0.311198 -0.224405)}", 0, 0, 1, 0, 0, 0, 0, false},
    {"corner_without_normal", "Corner 999 114 {uv=(0 1)}", 0, 0, 0, 0, 0, 0, 0, false},
    {"sharp_edge", "Edge 5366 7925 {sharp}", 0, 0, 0, 1, 0, 0, 0, false},
    {"plain_edge", "Edge 5366 7925", 0, 0, 0, 0, 0, 0, 0, false},
    {"comment", "# Vertex 1 0 0 0", 0, 0, 0, 0, 0, 0, 0, false},
    {"comment_indented_by_blanks", "   # Vertex 1 0 0 0", 0, 0, 0, 0, 0, 0, 0, false},
    {"comment_indented_by_a_tab", "\t# Face 1 1 2 3", 0, 0, 0, 0, 0, 0, 0, false},
    {"blank", "  \t ", 0, 0, 0, 0, 0, 0, 0, false},
    {"other_kind", "Property 1 2", 0, 0, 0, 0, 1, 0, 0, false},
    {"lower_case", "vertex 1 0 0 0", 0, 0, 0, 0, 1, 0, 0, false},
    {"two_vertex_numbers", "Face 1 1 2", 0, 0, 0, 0, 1, 0, 0, false},
    {"too_few_coordinates", "Vertex 1 0 0", 0, 0, 0, 0, 1, 0, 0, false},
    {"number_running_into_text", "Vertex 1 0 0 0x", 0, 0, 0, 0, 1, 0, 0, false},
    {"text_between_the_numbers_and_the_block", "Vertex 1 0 0 0 x {normal=(0 0 1)}", 0, 0, 0, 0, 1, 0, 0, false},
    {"keyword_alone", "Vertex", 0, 0, 0, 0, 1, 0, 0, false},
};

// Numbers are names: one beyond what an int holds would be some other vertex's name.
const LineCase numbers[] = {
    {"largest_vertex_number", "Vertex 2147483647 0 0 0", 1, 0, 0, 0, 0, 0, 0, false},
    {"smallest_vertex_number", "Vertex -2147483648 0 0 0", 1, 0, 0, 0, 0, 0, 0, false},
    {"largest_with_leading_zeros", "Vertex +0002147483647 0 0 0", 1, 0, 0, 0, 0, 0, 0, false},
    {"vertex_number_one_past", "Vertex 2147483648 0 0 0", 0, 0, 0, 0, 1, 0, 0, false},
    {"vertex_number_one_below", "Vertex -2147483649 0 0 0", 0, 0, 0, 0, 1, 0, 0, false},
    {"vertex_number_of_a_writer_gone_wrong", "Vertex 4611686018427387904 0 0 0", 0, 0, 0, 0, 1, 0, 0, false},
    {"face_naming_a_number_too_large", "Face 1 1099511627776 2 3", 0, 0, 0, 0, 1, 0, 0, false},
    {"face_number_too_large", "Face 99999999999 1 2 3", 0, 0, 0, 0, 1, 0, 0, false},
    {"corner_of_a_face_too_large", "Corner 1 3000000000 {normal=(0 0 1)}", 0, 0, 0, 0, 1, 0, 0, false},
    {"edge_to_a_vertex_too_small", "Edge 1 -3000000000 {sharp}", 0, 0, 0, 0, 1, 0, 0, false},
};

// A normal that gives no direction leaves its vertex without one, and is counted.
const LineCase normals[] = {
    {"normal_of_zero_length", "Vertex 3 1 0 0 {normal=(0 0 0)}", 1, 0, 0, 0, 0, 0, 1, false},
    {"normal_of_two_numbers", "Vertex 3 1 0 0 {normal=(0 1)}", 1, 0, 0, 0, 0, 0, 1, false},
    {"normal_of_four_numbers", "Vertex 3 1 0 0 {normal=(0 1 0 0)}", 1, 0, 0, 0, 0, 0, 1, false},
    {"infinite_normal", "Vertex 3 1 0 0 {normal=(0 1e39 0)}", 1, 0, 0, 0, 0, 0, 1, false},
    {"not_a_number_as_printf_writes_it", "Vertex 1 0 0 0 {normal=(-nan -nan -nan)}", 1, 0, 0, 0, 0, 0, 1, false},
    {"not_a_number_in_capitals_with_commas", "Vertex 1 0 0 0 {normal=(NAN,0,1)}", 1, 0, 0, 0, 0, 0, 1, false},
    {"not_a_number_signed", "Vertex 1 0 0 0 {normal=(+nan 0 1)}", 1, 0, 0, 0, 0, 0, 1, false},
    {"infinity_as_printf_writes_it", "Vertex 1 0 0 0 {normal=(inf 0 -inf)}", 1, 0, 0, 0, 0, 0, 1, false},
    {"infinity_spelled_out", "Vertex 1 0 0 0 {normal=(0 Infinity 0)}", 1, 0, 0, 0, 0, 0, 1, false},
    {"unusable_corner_normal", "Corner 1 2 {normal=(nan nan nan)}", 0, 0, 0, 0, 0, 0, 1, false},
    {"unusable_normal_on_a_face", "Face 1 1 2 3 {normal=(0 0 0)}", 0, 1, 0, 0, 0, 0, 1, false},
    {"word_only_like_not_a_number", "Vertex 1 0 0 0 {normal=(nano 0 1)}", 1, 0, 0, 0, 0, 1, 0, false},
    {"unusable_normal_after_a_usable_one", "Vertex 1 0 0 0 {normal=(0 0 1) normal=(0 0 0)}", 1, 0, 0, 0, 0, 0, 1, false},
};

// A damaged attribute block costs only what cannot be read; the record stays.
const LineCase blocks[] = {
    {"damaged_uv_and_doubled_braces", "Vertex 1 170.165 183.873 197.096 {{uv=(-0.206940.43) target=(5 3 -0.20694)}}",
     1, 0, 0, 0, 0, 1, 0, false},
    {"damaged_key_before_the_normal", "Vertex 1 0 0 0 {uv=(0.1.2) normal=(0 0 1)}", 1, 0, 0, 0, 0, 1, 0, true},
    {"damaged_key_after_the_normal", "Vertex 1 0 0 0 {normal=(0 0 1) uv=(0.1 x)}", 1, 0, 0, 0, 0, 1, 0, true},
    {"damaged_normal_keeps_an_earlier_one", "Vertex 1 0 0 0 {normal=(0 0 1) normal=(0 0 1q)}", 1, 0, 0, 0, 0, 1, 0, true},
    {"doubled_braces_around_the_normal", "Vertex 1 0 0 0 {{normal=(0 0 1)}}", 1, 0, 0, 0, 0, 1, 0, true},
    {"stray_parenthesis", "Vertex 1 0 0 0 {) normal=(0 0 1)}", 1, 0, 0, 0, 0, 1, 0, true},
    {"unclosed_block", "Vertex 1 0 0 0 {normal=(0 0 1)", 1, 0, 0, 0, 0, 1, 0, true},
    {"unclosed_list", "Vertex 1 0 0 0 {normal=(0 0 1}", 1, 0, 0, 0, 0, 1, 0, false},
    {"list_running_into_the_next_key", "Vertex 1 0 0 0 {uv=(0 1 normal=(0 0 1)}", 1, 0, 0, 0, 0, 1, 0, false},
    {"unclosed_quote", "Face 1 1 2 3 {mat=\"x}", 0, 1, 0, 0, 0, 1, 0, false},
    {"text_after_the_block", "Vertex 1 0 0 0 {normal=(0 0 1)} extra", 1, 0, 0, 0, 0, 1, 0, true},
    {"damaged_corner_block_keeps_its_normal", "Corner 3 7 {normal=(1 0 0) uv=(0..5 1)}", 0, 0, 1, 0, 0, 1, 0, false},
    {"damaged_edge_block_keeps_sharp", "Edge 1 2 {sharp crease=(2x)}", 0, 0, 0, 1, 0, 1, 0, false},
    {"empty_block", "Vertex 1 0 0 0 {}", 1, 0, 0, 0, 0, 0, 0, false},
    {"empty_word_value", "Vertex 1 0 0 0 {wid= normal=(0 0 1)}", 1, 0, 0, 0, 0, 0, 0, true},
    {"damaged_block_on_a_skipped_line_is_not_counted", "Vertex 1 0 0 {uv=(x)}", 0, 0, 0, 0, 1, 0, 0, false},
};

void expect_read_as(const LineCase& c)
{
    const FamilyMesh mesh = read_whole(c.line + "\n");
    EXPECT_EQ(mesh.vertices.size(), c.vertices) << c.name;
    EXPECT_EQ(face_count(mesh), c.faces) << c.name;
    EXPECT_EQ(mesh.corners.size(), c.corners) << c.name;
    EXPECT_EQ(mesh.sharp_edges.size(), c.sharp_edges) << c.name;
    EXPECT_EQ(mesh.skipped_lines, c.skipped) << c.name;
    EXPECT_EQ(mesh.damaged_blocks, c.damaged_blocks) << c.name;
    EXPECT_EQ(mesh.first_damaged_line, c.damaged_blocks ? 1u : 0u) << c.name;
    EXPECT_EQ(mesh.unusable_normals, c.unusable_normals) << c.name;
    if (!mesh.vertices.empty()) {
        EXPECT_EQ(mesh.vertices[0].has_normal, c.has_normal) << c.name;
    }
    EXPECT_TRUE(same_family_mesh(mesh, family_reference_read(c.line + "\n"))) << c.name << ": the reference differs";
}

TEST(FamilyReader, ReadsEachLineAsItsKindOrCountsItSkipped)
{
    for (const LineCase& c : lines)
        expect_read_as(c);
}

TEST(FamilyReader, ANumberBeyondTheIntRangeIsNotInTheRecordsForm)
{
    for (const LineCase& c : numbers)
        expect_read_as(c);
}

TEST(FamilyReader, KeepsTheVertexOfAnUnusableNormalAndCountsTheNormal)
{
    for (const LineCase& c : normals)
        expect_read_as(c);
}

TEST(FamilyReader, ReadsAttributeBlocksEntryByEntry)
{
    for (const LineCase& c : blocks)
        expect_read_as(c);
}

TEST(FamilyReader, KeepsTheNormalAndTheVertexNumberAsGiven)
{
    const FamilyMesh mesh = read_whole("Vertex -2147483648 0 0 0 {{normal=(0.5,0,-2)}} x\nVertex 7 0 0 0 {normal=(0 0 1)}\n"
                                       "Vertex 8 0 0 0 {uv=(x) normal=(-0 1e-45 0)}\n");
    ASSERT_EQ(mesh.vertices.size(), 3u);
    EXPECT_EQ(mesh.vertices[0].number, -2147483648);
    EXPECT_EQ(std::vector<float>(mesh.vertices[0].normal, mesh.vertices[0].normal + 3), (std::vector<float>{0.5f, 0, -2}));
    EXPECT_EQ(mesh.vertices[2].normal[1], 1e-45f);
    EXPECT_EQ(mesh.damaged_blocks, 2u);
    EXPECT_EQ(mesh.first_damaged_line, 1u);
    const FamilyMesh later = read_whole("Vertex 1 0 0 0\n\nVertex 2 0 0 0 {uv=(1 2 3 x)}\nVertex 3 0 0 0 {uv=(}\n");
    EXPECT_EQ(later.damaged_blocks, 2u);
    EXPECT_EQ(later.first_damaged_line, 3u);
}

TEST(FamilyReader, KeepsNumbersPositionsAndFaceVerticesAsWritten)
{
    const FamilyMesh mesh = read_whole("\xEF\xBB\xBF# a comment\nVertex 24 0.5 -1 2e-1 {normal=(0,0,1)}\n"
                                       "Face 7  24 3 10 11\nCorner 3 7 {normal=(1 0 0)}\nbad line\n");
    ASSERT_EQ(mesh.vertices.size(), 1u);
    EXPECT_EQ(mesh.vertices[0].number, 24);
    EXPECT_EQ(mesh.vertices[0].position[0], 0.5f);
    EXPECT_EQ(mesh.vertices[0].position[2], 0.2f);
    EXPECT_EQ(mesh.face_numbers, std::vector<int>{7});
    EXPECT_EQ(mesh.face_vertices, (std::vector<int>{24, 3, 10, 11}));
    EXPECT_EQ(mesh.face_starts, (std::vector<std::uint32_t>{0, 4}));
    ASSERT_EQ(mesh.corners.size(), 1u);
    EXPECT_EQ(mesh.corners[0].vertex, 3);
    EXPECT_EQ(mesh.corners[0].face, 7);
    EXPECT_EQ(mesh.first_skipped_line, 5u);
}

bool same_mesh(const FamilyMesh& a, const FamilyMesh& b)
{
    if (a.vertices.size() != b.vertices.size())
        return false;
    for (std::size_t i = 0; i < a.vertices.size(); ++i)
        if (std::memcmp(&a.vertices[i], &b.vertices[i], sizeof(FamilyVertex)) != 0)
            return false;
    return a.face_numbers == b.face_numbers && a.face_starts == b.face_starts && a.face_vertices == b.face_vertices &&
           a.corners.size() == b.corners.size() && a.sharp_edges == b.sharp_edges &&
           a.skipped_lines == b.skipped_lines && a.first_skipped_line == b.first_skipped_line;
}

const std::string sample = "\xEF\xBB\xBF# made by hand\r\nVertex 10 0 0 0\r\nVertex 24 1 0 0 {normal=(0 0 1)}\r\n"
                           "Vertex 3 0 1 0 {uv=(0 1)}\nnoise\nFace 1 10 24 3\nFace 0 3 24 10 {rgb=(1 0 0)}\n"
                           "Corner 3 1 {normal=(0,0,1)}\nEdge 10 24 {sharp}\nVertex 5 1 1 0\nFace 2 24 5 3";

// Cut anywhere, in any number of pieces or parts, the text reads as it does whole.
TEST(FamilyReader, PiecesAndPartsReadAsTheWhole)
{
    const FamilyMesh whole = read_whole(sample);
    ASSERT_EQ(whole.vertices.size(), 4u);
    ASSERT_EQ(face_count(whole), 3u);
    for (std::size_t cut = 0; cut <= sample.size(); ++cut) {
        FamilyReading reading;
        read_family_bytes(reading, sample.data(), cut);
        read_family_bytes(reading, sample.data() + cut, sample.size() - cut);
        finish_family_reading(reading);
        EXPECT_TRUE(same_mesh(reading.mesh, whole)) << "cut at " << cut;
    }
    for (std::size_t piece = 1; piece <= 7; ++piece) {
        FamilyReading reading;
        for (std::size_t at = 0; at < sample.size(); at += piece)
            read_family_bytes(reading, sample.data() + at, std::min(piece, sample.size() - at));
        finish_family_reading(reading);
        EXPECT_TRUE(same_mesh(reading.mesh, whole)) << "pieces of " << piece;
    }
    for (int parts = 1; parts <= 6; ++parts)
        EXPECT_TRUE(same_mesh(read_family_text(sample.data(), sample.data() + sample.size(), parts), whole)) << parts;
}

TEST(FamilyReader, KnowsTheFamilyByItsFirstRecord)
{
    const struct {
        std::string start;
        bool family;
    } cases[] = {
        {"# comment\n\n# more\nVertex 1 0 0 0\n", true},
        {"\xEF\xBB\xBFVertex 1 0 0 0 {normal=(0 0 1)}\n", true},
        {"Face 1 1 2 3\n", true},
        {"  Corner 1 1 {normal=(0 0 1)}\n", true},
        {"Edge 1 2 {sharp}\n", true},
        {"#import <Foundation/Foundation.h>\n@interface A\n", false},
        {"function y = f(x)\n", false},
        {"v 0 0 0\nf 1 2 3\n", false},
        {"ply\nformat ascii 1.0\n", false},
        {"# only comments\n", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(begins_family_text(c.start.data(), c.start.data() + c.start.size()), c.family) << c.start;
}

struct Flat2 {
    double u, v;
};

// Twice the signed area of the triangle abc.
double twice_area(const Flat2& a, const Flat2& b, const Flat2& c)
{
    return (b.u - a.u) * (c.v - a.v) - (b.v - a.v) * (c.u - a.u);
}

// Whether a point lies inside a polygon (even-odd rule).
bool inside(const std::vector<Flat2>& polygon, double u, double v)
{
    bool in = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const Flat2& a = polygon[i];
        const Flat2& b = polygon[j];
        if ((a.v > v) != (b.v > v) && u < (b.u - a.u) * (v - a.v) / (b.v - a.v) + a.u)
            in = !in;
    }
    return in;
}

// A plane that a flat outline is laid into: the outline's anticlockwise winding is seen
// anticlockwise from `facing`, since across(u, v) = facing.
struct Plane {
    const char* name;
    Point across_u, across_v, facing;
};

const Plane planes[] = {
    {"facing_+z", {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
    {"facing_-z", {-1, 0, 0}, {0, 1, 0}, {0, 0, -1}},
    {"facing_+x", {0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
    {"facing_-x", {0, -1, 0}, {0, 0, 1}, {-1, 0, 0}},
    {"facing_+y", {0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
    {"facing_-y", {0, 0, -1}, {1, 0, 0}, {0, -1, 0}},
    {"tilted_towards_-x_-y", {0.6, -0.8, 0}, {-0.48, -0.36, 0.8}, {-0.64, -0.48, -0.6}},
};

std::vector<Point> laid_into(const std::vector<Flat2>& outline, const Plane& plane)
{
    std::vector<Point> polygon;
    for (const Flat2& p : outline)
        polygon.push_back({p.u * plane.across_u[0] + p.v * plane.across_v[0] + 7,
                           p.u * plane.across_u[1] + p.v * plane.across_v[1] - 3,
                           p.u * plane.across_u[2] + p.v * plane.across_v[2] + 5});
    return polygon;
}

double dot(const Point& a, const Point& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Point normal_of_triangle(const Point& a, const Point& b, const Point& c)
{
    const Point u{b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

std::vector<Flat2> star(int points)
{
    std::vector<Flat2> outline;
    for (int i = 0; i < 2 * points; ++i) {
        const double angle = M_PI * i / points, radius = i % 2 ? 1.0 : 3.0;
        outline.push_back({radius * std::cos(angle), radius * std::sin(angle)});
    }
    return outline;
}

std::vector<Flat2> circle(int corners)
{
    std::vector<Flat2> outline;
    for (int i = 0; i < corners; ++i)
        outline.push_back({float(100 * std::cos(2 * M_PI * i / corners)), float(100 * std::sin(2 * M_PI * i / corners))});
    return outline;
}

std::vector<Flat2> comb(int teeth)
{
    std::vector<Flat2> outline{{0, 0}, {2.0 * teeth - 1, 0}};
    for (int t = teeth - 1; t >= 0; --t) {
        outline.push_back({2.0 * t + 1, 3});
        outline.push_back({2.0 * t, 3});
        if (t > 0) {
            outline.push_back({2.0 * t, 1});
            outline.push_back({2.0 * t - 1, 1});
        }
    }
    return outline;
}

// A band wound twice about the centre, a unit wide: many reflex corners far apart along the
// polygon but near in the plane.
std::vector<Flat2> spiral(int steps)
{
    std::vector<Flat2> outer, inner;
    for (int i = 0; i <= steps; ++i) {
        const double angle = 4 * M_PI * i / steps, radius = 2 + 2 * angle / M_PI;
        outer.push_back({(radius + 1) * std::cos(angle), (radius + 1) * std::sin(angle)});
        inner.push_back({radius * std::cos(angle), radius * std::sin(angle)});
    }
    std::vector<Flat2> outline(outer.begin(), outer.end());
    outline.insert(outline.end(), inner.rbegin(), inner.rend());
    return outline;
}

double area_of(const std::vector<Flat2>& outline)
{
    double twice = 0;
    for (std::size_t i = 0; i < outline.size(); ++i)
        twice += twice_area({0, 0}, outline[i], outline[(i + 1) % outline.size()]);
    return twice / 2;
}

// Polygons anticlockwise in their own plane, laid into planes facing every way: their
// triangles cover exactly their area, turn the way the polygon faces, and each lies inside.
TEST(Triangulate, CutsConvexAndConcavePolygonsInsideThemWithTheirWinding)
{
    const struct {
        const char* name;
        std::vector<Flat2> outline;
        double area;
    } cases[] = {
        {"square", {{0, 0}, {1, 0}, {1, 1}, {0, 1}}, 1},
        {"l_shape", {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}, 3},
        {"l_shape_from_its_inner_corner", {{1, 1}, {1, 2}, {0, 2}, {0, 0}, {2, 0}, {2, 1}}, 3},
        {"arrow", {{0, 0}, {4, 2}, {0, 4}, {1, 2}}, 6},
        {"comb", {{0, 0}, {5, 0}, {5, 3}, {4, 3}, {4, 1}, {3, 1}, {3, 3}, {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}}, 11},
        {"c_shape", {{0, 0}, {3, 0}, {3, 1}, {1, 1}, {1, 2}, {3, 2}, {3, 3}, {0, 3}}, 7},
        {"star", star(5), 5 * 3 * std::sin(M_PI / 5)},
        {"with_a_straight_corner", {{0, 0}, {1, 0}, {2, 0}, {2, 2}, {1, 1}, {0, 2}}, 3},
        {"with_straight_runs", {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 1}, {3, 2}, {2, 2}, {2, 1}, {1, 1}, {0, 1}}, 4},
        {"comb_of_40_teeth", comb(40), 4 * 40 - 1},
        {"star_of_100_points", star(100), 100 * 3 * std::sin(M_PI / 100)},
        {"spiral", spiral(60), area_of(spiral(60))},
    };
    for (const auto& c : cases)
        for (const Plane& plane : planes) {
            const std::string name = std::string(c.name) + " " + plane.name;
            const std::vector<Point> polygon = laid_into(c.outline, plane);
            std::vector<int> corners;
            triangulate(polygon, corners);
            ASSERT_EQ(corners.size(), 3 * (polygon.size() - 2)) << name;
            for (int corner = 0; corner < int(polygon.size()); ++corner)
                EXPECT_NE(std::find(corners.begin(), corners.end(), corner), corners.end()) << name << ": corner " << corner;
            double total = 0;
            for (std::size_t t = 0; t < corners.size(); t += 3) {
                const std::size_t i = std::size_t(corners[t]), j = std::size_t(corners[t + 1]), k = std::size_t(corners[t + 2]);
                const double area = twice_area(c.outline[i], c.outline[j], c.outline[k]) / 2;
                EXPECT_GT(dot(normal_of_triangle(polygon[i], polygon[j], polygon[k]), plane.facing), 0)
                    << name << ": triangle " << t / 3 << " faces the polygon's way";
                total += area;
                EXPECT_TRUE(inside(c.outline, (c.outline[i].u + c.outline[j].u + c.outline[k].u) / 3,
                                   (c.outline[i].v + c.outline[j].v + c.outline[k].v) / 3))
                    << name << ": triangle " << t / 3 << " lies inside";
            }
            EXPECT_NEAR(total, c.area, 1e-9) << name;
        }
}

// The work grows with the corners, not with their square: a bound per corner, on polygons of
// 2,000 and 20,000 corners alike.
TEST(Triangulate, TestsAFewEarsPerCorner)
{
    const struct {
        const char* name;
        std::vector<Flat2> outline;
        double ear_tests_per_corner, looks_per_corner;
    } cases[] = {
        {"circle_2000", circle(2000), 3, 16},
        {"circle_20000", circle(20000), 3, 16},
        {"comb_2000", comb(500), 3, 16},
        {"comb_20000", comb(5000), 3, 16},
        {"star_2000", star(1000), 3, 16},
        {"star_20000", star(10000), 3, 16},
    };
    for (const auto& c : cases) {
        std::vector<int> corners;
        EarWork work;
        triangulate(laid_into(c.outline, planes[3]), corners, &work);
        const double n = double(c.outline.size());
        ASSERT_EQ(corners.size(), 3 * (c.outline.size() - 2)) << c.name;
        EXPECT_LE(double(work.ear_tests), c.ear_tests_per_corner * n) << c.name;
        EXPECT_LE(double(work.corners_looked_at), c.looks_per_corner * n) << c.name;
    }
}

ConvertedMesh completed(const std::string& text, FamilyOutcome* outcome = nullptr)
{
    ConvertedMesh mesh;
    const FamilyOutcome got = complete_family_mesh(read_whole(text), mesh);
    if (outcome)
        *outcome = got;
    return mesh;
}

std::vector<float> position_of(const ConvertedMesh& mesh, int vertex)
{
    const float* p = mesh.vertices[std::size_t(vertex)].position;
    return {p[0], p[1], p[2]};
}

std::vector<float> normal_of(const ConvertedMesh& mesh, int vertex)
{
    const float* n = mesh.vertices[std::size_t(vertex)].normal;
    return {n[0], n[1], n[2]};
}

// Faces name vertices by number, whatever the order or the gaps.
TEST(FamilyMesh, FacesNameVerticesByTheirNumbers)
{
    const ConvertedMesh mesh = completed("Vertex 10 0 0 0\nVertex 24 1 0 0\nVertex 3 0 1 0\nFace 1 24 3 10\n");
    ASSERT_EQ(mesh.corner_vertices.size(), 3u);
    EXPECT_EQ(position_of(mesh, mesh.corner_vertices[0]), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(position_of(mesh, mesh.corner_vertices[1]), (std::vector<float>{0, 1, 0}));
    EXPECT_EQ(position_of(mesh, mesh.corner_vertices[2]), (std::vector<float>{0, 0, 0}));
    EXPECT_EQ(normal_of(mesh, 0), (std::vector<float>{0, 0, 1})) << "made from the face";
}

TEST(FamilyMesh, LeavesOutFacesNamingAMissingOrTwiceGivenNumber)
{
    const struct {
        std::string text;
        std::size_t triangles, left_out;
        std::string first;
    } cases[] = {
        {"Vertex 1 0 0 0\nVertex 2 1 0 0\nVertex 3 0 1 0\nFace 1 1 2 3\nFace 5 1 2 99\n", 1, 1,
         "face 5 names vertex 99, which no Vertex line has"},
        {"Vertex 1 0 0 0\nVertex 2 1 0 0\nVertex 2 5 5 5\nVertex 3 0 1 0\nFace 4 1 2 3\nFace 6 3 1 1\n", 1, 1,
         "face 4 names vertex 2, which two Vertex lines have"},
        {"Vertex 1 0 0 0\nVertex 1000000 1 0 0\nVertex 3 0 1 0\nFace 4 1 1000000 3\nFace 5 1 3 7\n", 1, 1,
         "face 5 names vertex 7, which no Vertex line has"},
        {"Vertex 1 0 0 0\nVertex 1000000 1 0 0\nVertex 3 0 1 0\nVertex 1000000 5 5 5\nFace 4 1 3 1000000\n"
         "Face 5 3 1 1\n", 1, 1, "face 4 names vertex 1000000, which two Vertex lines have"},
        {"Vertex 1000000 0 0 0\nVertex 1000000 1 0 0\nVertex 3 0 1 0\nVertex 4 1 1 0\nFace 1 3 4 1000000\n"
         "Face 2 4 3 4\n", 1, 1, "face 1 names vertex 1000000, which two Vertex lines have"},
    };
    for (const auto& c : cases) {
        FamilyOutcome outcome;
        const ConvertedMesh mesh = completed(c.text, &outcome);
        EXPECT_EQ(mesh.corner_vertices.size(), 3 * c.triangles) << c.text;
        EXPECT_EQ(outcome.faces_left_out, c.left_out) << c.text;
        EXPECT_EQ(outcome.first_left_out, c.first) << c.text;
    }
}

// Numbers to places: by a table when they are dense, by a sorted list when a table would take
// far more than the vertices do, up to gigabytes when they spread over the whole int range.
TEST(VertexNames, FindsEveryNumberAndNeverTakesMoreThanTwiceTheVertices)
{
    const struct {
        const char* name;
        std::vector<int> numbers; // of the Vertex lines, in file order
        std::vector<std::pair<int, int>> looked_up; // number, place
    } cases[] = {
        {"dense", {3, 1, 2}, {{1, 1}, {2, 2}, {3, 0}, {0, missing_vertex}, {4, missing_vertex}}},
        {"dense_twice", {1, 2, 2, 3}, {{2, twice_named_vertex}, {3, 3}}},
        {"gaps_still_dense", {10, 2000, 24}, {{10, 0}, {2000, 1}, {24, 2}, {11, missing_vertex}}},
        {"spread_far", {0, 50000000, 7}, {{0, 0}, {50000000, 1}, {7, 2}, {8, missing_vertex}}},
        {"spread_far_twice_first", {50000000, 0, 50000000}, {{50000000, twice_named_vertex}, {0, 1}}},
        {"spread_far_twice_last", {0, 50000000, 0, 9}, {{0, twice_named_vertex}, {9, 3}, {50000000, 1}}},
        {"spread_over_every_int", {-2147483647 - 1, 0, 2147483647},
         {{-2147483647 - 1, 0}, {0, 1}, {2147483647, 2}, {-2147483647, missing_vertex}, {2147483646, missing_vertex}}},
    };
    for (const auto& c : cases) {
        std::vector<FamilyVertex> vertices;
        for (const int number : c.numbers)
            vertices.push_back({number, {0, 0, 0}, {0, 0, 0}, false});
        const VertexNames names = names_of(vertices);
        ASSERT_LE(names.table.size(), 2 * vertices.size() + 1024) << c.name;
        for (const auto& [number, place] : c.looked_up)
            EXPECT_EQ(place_of(names, number), place) << c.name << ": number " << number;
    }
}

// A Corner line's normal wins over the Vertex line's, in its face only; that vertex is written
// once for each normal.
TEST(FamilyMesh, CornerNormalsWinOverVertexNormalsInTheirFace)
{
    const ConvertedMesh mesh = completed("Vertex 1 0 0 0 {normal=(0 0 1)}\nVertex 2 1 0 0 {normal=(0 0 1)}\n"
                                         "Vertex 3 0 1 0 {normal=(0 0 1)}\nVertex 4 1 1 0 {normal=(0 0 1)}\n"
                                         "Face 7 1 2 3\nFace 8 2 4 3\nCorner 2 8 {normal=(1 0 0)}\n");
    ASSERT_EQ(mesh.vertices.size(), 5u);
    EXPECT_EQ(normal_of(mesh, mesh.corner_vertices[1]), (std::vector<float>{0, 0, 1})) << "vertex 2 in face 7";
    EXPECT_EQ(normal_of(mesh, mesh.corner_vertices[3]), (std::vector<float>{1, 0, 0})) << "vertex 2 in face 8";
    EXPECT_EQ(position_of(mesh, mesh.corner_vertices[3]), (std::vector<float>{1, 0, 0}));
}

// A strip folded at a right angle along the edge 2-5: with the edge sharp, each side keeps its
// own normal there; without, the two sides share the mean.
TEST(FamilyMesh, ASharpEdgeKeepsTheCreaseAndAPlainOneSmoothsIt)
{
    const std::string strip = "Vertex 1 0 0 0\nVertex 2 1 0 0\nVertex 3 1 0 1\nVertex 4 0 1 0\nVertex 5 1 1 0\n"
                              "Vertex 6 1 1 1\nFace 1 1 2 5 4\nFace 2 2 3 6 5\n";
    const ConvertedMesh smooth = completed(strip);
    const ConvertedMesh creased = completed(strip + "Edge 2 5 {sharp}\n");
    EXPECT_EQ(smooth.vertices.size(), 6u);
    const float half = float(1 / std::sqrt(2.0));
    EXPECT_NEAR(normal_of(smooth, 1)[0], -half, 1e-6);
    EXPECT_NEAR(normal_of(smooth, 1)[2], half, 1e-6);
    ASSERT_EQ(creased.vertices.size(), 8u) << "vertices 2 and 5 twice each";
    // Face 1 lies in Z = 0 facing +Z; face 2 in X = 1 facing -X.
    for (std::size_t corner = 0; corner < creased.corner_vertices.size(); ++corner) {
        const std::vector<float> n = normal_of(creased, creased.corner_vertices[corner]);
        const bool first_face = corner < 6;
        EXPECT_EQ(n, first_face ? (std::vector<float>{0, 0, 1}) : (std::vector<float>{-1, 0, 0})) << corner;
    }
}

// At a sharp edge too, a vertex whose own line gives a normal keeps it at every corner; the
// crease parts only the corners whose normals are made.
TEST(FamilyMesh, AVertexLinesOwnNormalHoldsAtASharpEdge)
{
    const ConvertedMesh mesh = completed("Vertex 1 0 0 0\nVertex 2 1 0 0 {normal=(0 1 0)}\nVertex 3 1 0 1\nVertex 4 0 1 0\n"
                                         "Vertex 5 1 1 0\nVertex 6 1 1 1\nFace 1 1 2 5 4\nFace 2 2 3 6 5\nEdge 2 5 {sharp}\n");
    ASSERT_EQ(mesh.vertices.size(), 7u) << "vertex 5 twice, vertex 2 once";
    std::size_t corners_of_vertex_2 = 0;
    for (std::size_t corner = 0; corner < mesh.corner_vertices.size(); ++corner) {
        const int v = mesh.corner_vertices[corner];
        if (position_of(mesh, v) != std::vector<float>{1, 0, 0})
            continue;
        ++corners_of_vertex_2;
        EXPECT_EQ(normal_of(mesh, v), (std::vector<float>{0, 1, 0})) << corner;
    }
    EXPECT_GE(corners_of_vertex_2, 2u);
}

Point unit_point(const Point& p)
{
    const double length = std::sqrt(dot(p, p));
    return {p[0] / length, p[1] / length, p[2] / length};
}

Point sum_of(const Point& a, const Point& b)
{
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

// A peak at vertex 1 with a ridge along Y through it, sharp on both sides of the peak: the two
// faces east of the ridge share one normal at vertex 1, the two west of it another, whatever
// order the faces come in. No two faces lie in one plane, so a face left out of its group shows.
TEST(FamilyMesh, CreaseGroupsDoNotDependOnTheOrderOfTheFaces)
{
    const std::vector<Point> at = {{0, 0, 0}, {0, 1, -0.5}, {0, -1, -0.5}, {1, 0, -1}, {-1, 0, -1}};
    const std::string vertices = "Vertex 1 0 0 0\nVertex 2 0 1 -0.5\nVertex 3 0 -1 -0.5\nVertex 4 1 0 -1\nVertex 5 -1 0 -1\n"
                                 "Edge 1 2 {sharp}\nEdge 3 1 {sharp}\n";
    const int faces[4][3] = {{1, 3, 4}, {1, 4, 2}, {1, 2, 5}, {1, 5, 3}}; // east south, east north, west north, west south
    std::vector<Point> face_normals;
    for (const auto& f : faces)
        face_normals.push_back(normal_of_triangle(at[std::size_t(f[0] - 1)], at[std::size_t(f[1] - 1)], at[std::size_t(f[2] - 1)]));
    const Point east = unit_point(sum_of(face_normals[0], face_normals[1]));
    const Point west = unit_point(sum_of(face_normals[2], face_normals[3]));
    const struct {
        const char* name;
        std::vector<int> order; // of the four faces in the file
    } cases[] = {
        {"along_the_winding", {0, 1, 2, 3}},
        {"against_the_winding", {3, 2, 1, 0}},
        {"each_side_apart", {1, 3, 0, 2}},
        {"each_side_apart_against", {2, 0, 3, 1}},
    };
    for (const auto& c : cases) {
        std::string text = vertices;
        for (const int f : c.order)
            text += "Face " + std::to_string(f + 1) + " " + std::to_string(faces[f][0]) + " " + std::to_string(faces[f][1]) +
                    " " + std::to_string(faces[f][2]) + "\n";
        const ConvertedMesh mesh = completed(text);
        EXPECT_EQ(mesh.vertices.size(), 8u) << c.name << ": vertex 1 once for each side, 2 and 3 once for each face";
        for (std::size_t corner = 0; corner < mesh.corner_vertices.size(); ++corner) {
            const int f = c.order[corner / 3], vertex = faces[f][corner % 3];
            // At the peak, and away from the ridge, a side's faces share their normal; where a
            // sharp edge ends, each face has its own.
            const Point expected = vertex == 2 || vertex == 3 ? unit_point(face_normals[std::size_t(f)]) : f < 2 ? east : west;
            const std::vector<float> n = normal_of(mesh, mesh.corner_vertices[corner]);
            for (std::size_t k = 0; k < 3; ++k)
                EXPECT_NEAR(n[k], expected[k], 1e-6) << c.name << ": face " << f + 1 << ", vertex " << vertex;
        }
    }
}

// A Corner line names its face by the face's number, whatever the number is.
TEST(FamilyMesh, ACornerLineNamesAFaceByAnyNumber)
{
    for (const std::string number : {"0", "-3", "2147483647", "12"}) {
        const ConvertedMesh mesh = completed("Vertex 1 0 0 0\nVertex 2 1 0 0\nVertex 3 0 1 0\nFace " + number +
                                             " 1 2 3\nCorner 1 " + number + " {normal=(1 0 0)}\n");
        ASSERT_EQ(mesh.corner_vertices.size(), 3u) << number;
        EXPECT_EQ(normal_of(mesh, mesh.corner_vertices[0]), (std::vector<float>{1, 0, 0})) << "face " << number;
        EXPECT_EQ(normal_of(mesh, mesh.corner_vertices[1]), (std::vector<float>{0, 0, 1})) << "face " << number;
    }
}

// Every single-byte change to texts that use every rule: the reader agrees with the plain
// reference reading, whole and in parts.
TEST(FamilyReader, AgreesWithTheReferenceReadingOnEveryOneByteChange)
{
    const std::string texts[] = {sample,
                                 "Vertex 1 0.5 -1 2e-1 {normal=(0 0 1) uv=(0.1,0.2) mat=\"a}b\" sharp}\n"
                                 "Face 3 1 2 3 4 {rgb=(1 0 0) wid=2}\nEdge 1 2 {sharp}\nCorner 1 3 {normal=(1,0,0)}\n"
                                 "Vertex 2 1 1 1 {normal=(0 1 0 2)}\nVertex 3 1 1 1 {normal=(0 1)}\n",
                                 "Vertex 2147483647 0 0 0 {{normal=(-nan inf 1)}} x\nFace 1 -2147483648 2 3 {uv=(1.2.3) n=(NaN)}\n"
                                 "Corner 2 1 {normal=(1 0 0) q=\"z}\n  # Vertex 9 0 0 0\nEdge 1 2 {sharp w=}\n"};
    const char replacements[] = {' ', '\n', '{', '}', '(', ')', ',', '=', '"', '#', '-', '.', 'e', '1', '9', 'x', 'n', 'i', '\r', '\0'};
    std::size_t compared = 0;
    for (const std::string& text : texts)
        for (std::size_t at = 0; at < text.size(); ++at)
            for (const char c : replacements) {
                std::string changed = text;
                changed[at] = c;
                const FamilyMesh expected = family_reference_read(changed);
                ASSERT_TRUE(same_family_mesh(read_whole(changed), expected)) << testing::PrintToString(changed);
                ASSERT_TRUE(same_family_mesh(read_family_text(changed.data(), changed.data() + changed.size(), 3), expected))
                    << testing::PrintToString(changed);
                std::string shorter = text;
                shorter.erase(at, 1);
                ASSERT_TRUE(same_family_mesh(read_whole(shorter), family_reference_read(shorter)))
                    << testing::PrintToString(shorter);
                ++compared;
            }
    EXPECT_GT(compared, 5000u);
}

} // namespace
