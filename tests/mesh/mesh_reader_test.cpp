// The mesh reader: tables of texts and the lists they must give, grouped by reading rule.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "confined_read.h"
#include "mesh/mesh_reader.h"
#include "mesh_compare.h"
#include "reference_reader.h"
#include "test_files.h"

#include <unistd.h>

namespace {

using namespace std::string_literals;

struct ReadCase {
    const char* name;
    std::string text;
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
};

void PrintTo(const ReadCase& c, std::ostream* out)
{
    *out << c.name;
}

MeshStore read_text(const std::string& text)
{
    MeshStore mesh;
    read_mesh_text(text.data(), text.data() + text.size(), mesh);
    return mesh;
}

class ReadMeshText : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadMeshText, GivesTheListedRecords)
{
    const ReadCase& c = GetParam();
    const MeshStore mesh = read_text(c.text);
    EXPECT_EQ(mesh.vertices, c.vertices);
    EXPECT_EQ(mesh.faces, c.faces);
    // As a file, in chunks down to a byte, in parts, or as a stream in segments of a few bytes,
    // the lists must not change.
    for (int parts = 0; parts <= 4; ++parts)
        for (std::size_t chunk : {std::size_t(1), std::size_t(2), std::size_t(5), std::size_t(1) << 20}) {
            MeshStore as_file;
            read_text_as_file(c.text, as_file, ReadingPlan{parts, true, chunk, SIZE_MAX, parts == 0, 7});
            EXPECT_EQ(as_file.vertices, c.vertices) << parts << " parts (0: a stream), chunks of " << chunk;
            EXPECT_EQ(as_file.faces, c.faces) << parts << " parts (0: a stream), chunks of " << chunk;
        }
    // The viewer's own way: read in a confined child, its lists taken either way.
    for (const ListsTaken way : {ListsTaken::by_copy, ListsTaken::by_pipe}) {
        MeshStore confined;
        EXPECT_EQ(read_text_confined(c.text, confined, way).outcome, ReadOutcome::complete);
        EXPECT_EQ(confined.vertices, c.vertices) << (way == ListsTaken::by_pipe ? "by pipe" : "by copy");
        EXPECT_EQ(confined.faces, c.faces) << (way == ListsTaken::by_pipe ? "by pipe" : "by copy");
    }
    // The oracle must agree with every row, or the row itself is wrong.
    const MeshStore oracle = reference_read(c.text);
    EXPECT_EQ(oracle.vertices, c.vertices);
    EXPECT_EQ(oracle.faces, c.faces);
}

const Vertex unit_z{1, 2, 3, 0, 0, 1};
const std::string unit_z_line = "Vertex 1 1 2 3 {normal=(0 0 1)}\n";
const float inf = HUGE_VALF;

INSTANTIATE_TEST_SUITE_P(VertexRecords, ReadMeshText, testing::Values(
    ReadCase{"single_precision_widened", "Vertex 1 0.5 -1 2e-1 {normal=(0 0 1)}\n",
             {{0.5, -1, double(0.2f), 0, 0, 1}}, {}},
    ReadCase{"exporter_spacing", "Vertex 12  1.35 0 -0.0905867 {normal=(0.965926 0 -0.258819)}\n",
             {{double(1.35f), 0, double(-0.0905867f), double(0.965926f), 0, double(-0.258819f)}}, {}},
    ReadCase{"missing_normal_then_vertex", "Vertex 1 9 9 9\n" + unit_z_line, {unit_z}, {}},
    ReadCase{"blank_before_closing_is_kept", "Vertex 1 1 2 3 {normal=(0 0 1 )}\n" + unit_z_line,
             {unit_z, unit_z}, {}},
    ReadCase{"blanks_inside_normal", "Vertex 1 1 2 3 {normal=(  0\t0 1)}\n", {unit_z}, {}},
    ReadCase{"no_blank_before_brace", "Vertex 1 1 2 3{normal=(0 0 1)}\n", {unit_z}, {}},
    ReadCase{"blank_inside_brace", "Vertex 1 1 2 3 { normal=(0 0 1)}\n" + unit_z_line, {unit_z}, {}},
    ReadCase{"lower_case", "vertex 1 1 2 3 {normal=(0 0 1)}\n", {}, {}},
    ReadCase{"fractional_number", "Vertex 1.5 1 2 3 {normal=(0 0 1)}\n", {}, {}},
    ReadCase{"words_do_not_convert", "Vertex 1 inf 0 0 {normal=(0 0 1)}\nVertex 1 0 nan 0 {normal=(0 0 1)}\n", {}, {}},
    ReadCase{"hexadecimal_stops_at_x", "Vertex 1 0x1p3 0 0 {normal=(0 0 1)}\n", {}, {}},
    ReadCase{"incomplete_exponent", "Vertex 1 1e 2 3 {normal=(0 0 1)}\n" + unit_z_line, {unit_z}, {}},
    ReadCase{"out_of_range", "Vertex 1 1e50 -1e50 1e-50 {normal=(-1e-50 1e39 0)}\n",
             {{inf, -inf, 0, -0.0, inf, 0}}, {}},
    ReadCase{"vertex_number_of_any_length", "Vertex 99999999999999999999999 1 2 3 {normal=(0 0 1)}\n",
             {unit_z}, {}},
    ReadCase{"ends_without_line_end", "Vertex 1 1 2 3 {normal=(0 0 1)}", {unit_z}, {}},
    ReadCase{"ends_after_seven_numbers", "Vertex 1 1 2 3 {normal=(0 0 1", {unit_z}, {}},
    ReadCase{"ends_after_six_numbers", "Vertex 1 1 2 3 {normal=(0 0", {}, {}},
    ReadCase{"two_records_on_one_line", "Vertex 1 1 2 3 {normal=(0 0 1)} Face 1 1 1 1\n",
             {unit_z}, {{0, 0, 0}}}));

INSTANTIATE_TEST_SUITE_P(FaceRecords, ReadMeshText, testing::Values(
    ReadCase{"one_based_numbers", "Face 7 1 2 3\n", {}, {{0, 1, 2}}},
    ReadCase{"four_numbers_keep_three", "Face 1 1 2 3 4\nFace 2 4 5 6\n", {}, {{0, 1, 2}, {3, 4, 5}}},
    ReadCase{"two_numbers_then_face", "Face 1 1 2\nFace 2 4 5 6\n", {}, {{3, 4, 5}}},
    ReadCase{"missing_vertices_are_stored", "Face 1 0 -1 5\n", {}, {{-1, -2, 4}}},
    ReadCase{"beyond_int_saturates", "Face 1 99999999999 -99999999999 2147483648\n", {},
             {{INT_MAX - 1, INT_MIN, INT_MAX - 1}}},
    ReadCase{"int_min_does_not_overflow", "Face 1 -2147483648 1 1\n", {}, {{INT_MIN, 0, 0}}},
    ReadCase{"face_number_of_any_length", "Face 1234567890123456789012345678901234567890 1 2 3\n",
             {}, {{0, 1, 2}}},
    ReadCase{"no_blank_after_word", "Face1 1 2 3\n", {}, {{0, 1, 2}}},
    ReadCase{"fraction_after_last_number", "Face 1 1 2 3.7\nFace 2 1 2 3\n", {}, {{0, 1, 2}, {0, 1, 2}}},
    ReadCase{"upper_case_word", "FACE 1 1 2 3\n", {}, {}},
    ReadCase{"lower_case", "face 1 1 2 3\n", {}, {}},
    ReadCase{"signed_numbers", "Face -1 +1 +2 +3\n", {}, {{0, 1, 2}}},
    ReadCase{"lone_sign", "Face 1 - 2 3\nFace 1 1 2 3\n", {}, {{0, 1, 2}}},
    ReadCase{"cut_short_at_end", "Face 1 1 2", {}, {}},
    ReadCase{"only_the_letter", "F", {}, {}}));

INSTANTIATE_TEST_SUITE_P(LinesAndResumption, ReadMeshText, testing::Values(
    ReadCase{"empty", "", {}, {}},
    ReadCase{"nothing_matches", "# a comment\nsolid\n\n  \nvertex 1 2 3\n", {}, {}},
    ReadCase{"blank_line_then_record", "\n\n" + unit_z_line, {unit_z}, {}},
    ReadCase{"comment_mentioning_a_record", "# Vertex 1 1 2 3 {normal=(0 0 1)}\n", {}, {}},
    ReadCase{"indented_after_skipped_line", "# c\n  " + unit_z_line, {}, {}},
    ReadCase{"indented_after_read_record", unit_z_line + "  " + unit_z_line, {unit_z, unit_z}, {}},
    ReadCase{"indented_after_blank_line", "\n  " + unit_z_line, {}, {}},
    ReadCase{"failed_record_resumes_at_next_line", "Vertex 1 1 2 3\n  " + unit_z_line, {unit_z}, {}},
    ReadCase{"crlf_lines", "Vertex 1 1 2 3 {normal=(0 0 1)}\r\n\r\nFace 1 1 1 1\r\n",
             {unit_z}, {{0, 0, 0}}},
    ReadCase{"crlf_blank_line_then_record", "\r\n" + unit_z_line, {unit_z}, {}},
    ReadCase{"faces_before_vertices", "Face 1 1 2 1\n" + unit_z_line + unit_z_line, {unit_z, unit_z},
             {{0, 1, 0}}},
    ReadCase{"numbering_ignored", "Vertex 5 1 2 3 {normal=(0 0 1)}\nVertex 2 4 5 6 {normal=(1 0 0)}\n",
             {unit_z, {4, 5, 6, 1, 0, 0}}, {}},
    ReadCase{"nul_bytes", "Vertex 1 1\0 2 3 {normal=(0 0 1)}\n\0\n"s + unit_z_line, {unit_z}, {}},
    ReadCase{"nul_starts_a_line", "\0"s + unit_z_line + unit_z_line, {unit_z}, {}}));

// The file wrapper: what it reports when it cannot read, and that it reads what it can.
TEST(ReadMeshFile, ReportsTheSystemsReasonAndLeavesTheMeshEmpty)
{
    struct Case {
        std::string path;
        std::string reason;
    } cases[] = {
        {"/nonexistent/mesh.txt", "No such file or directory"},
        {"/", "Is a directory"},
        {"", "No such file or directory"},
    };
    for (const Case& c : cases) {
        MeshStore mesh;
        const ReadReport report = read_mesh_file(c.path, mesh);
        EXPECT_EQ(report.outcome, ReadOutcome::cannot_open) << c.path;
        EXPECT_EQ(report.reason, c.reason) << c.path;
        EXPECT_TRUE(mesh.vertices.empty() && mesh.faces.empty()) << c.path;
    }
}

TEST(ReadMeshFile, ReadsRegularFilesEmptyFilesAndPipes)
{
    const std::string text = unit_z_line + "Face 1 1 1 1\n";
    const std::string file = write_temporary_file(text);
    const std::string empty = write_temporary_file("");
    MeshStore mesh;
    EXPECT_EQ(read_mesh_file(file, mesh).outcome, ReadOutcome::complete);
    EXPECT_EQ(read_mesh_file(empty, mesh).outcome, ReadOutcome::complete);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(ends[1]);
    const ReadReport from_pipe = read_mesh_file("/dev/fd/" + std::to_string(ends[0]), mesh);
    EXPECT_EQ(from_pipe.outcome, ReadOutcome::complete) << from_pipe.reason;
    close(ends[0]);
    EXPECT_EQ(mesh.vertices, (std::vector<Vertex>{unit_z, unit_z}));
    EXPECT_EQ(mesh.faces, (std::vector<Face>{{0, 0, 0}, {0, 0, 0}}));
    unlink(file.c_str());
    unlink(empty.c_str());
}

TEST(CountFacesNamingMissingVertices, CountsFacesNamingAnyMissingVertex)
{
    MeshStore mesh;
    mesh.vertices = {unit_z, unit_z};
    mesh.faces = {{0, 1, 1}, {0, 1, 2}, {-1, 0, 0}, {0, INT_MAX - 1, 0}, {INT_MIN, 0, 1}, {1, 0, 0}};
    EXPECT_EQ(count_faces_naming_missing_vertices(mesh), 4u);
}

} // namespace
