// The converter on the Vertex/Face family as its writers write it: known by content, read with
// our reader, written in the form the viewer reads.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cmath>
#include <string>
#include <vector>

#include "convert_support.h"
#include "mesh/mesh_reader.h"

namespace {

const std::string tetrahedron_without_normals = "# Created by a scanner\n# 4 vertices, 4 faces\n\n"
                                                "Vertex 1  0 0 0\nVertex 2  1 0 0\nVertex 3  0 1 0\nVertex 4  0 0 1\n"
                                                "Face 1  1 3 2\nFace 2  1 2 4\nFace 3  2 3 4\nFace 4  3 1 4\n";

struct FamilyFile {
    const char* name;
    const char* file_name;
    std::string content;
    bool gzipped;
    std::size_t vertices, faces;
    std::vector<std::string> warnings; // lines on standard error after "olvanta-convert: warning: ", FILE for the input
};

const std::string tetrahedron_with_unusable_normals = "Vertex 1 0 0 0 {normal=(-nan -nan -nan)}\n"
                                                      "Vertex 2 1 0 0 {normal=(nan, nan, nan)}\nVertex 3 0 1 0 {normal=(inf 0 0)}\n"
                                                      "Vertex 4 0 0 1 {normal=(1e39 0 0)}\n"
                                                      "Face 1  1 3 2\nFace 2  1 2 4\nFace 3  2 3 4\nFace 4  3 1 4\n";

// As one writer writes every Vertex line: the uv pair run together, the block in double braces.
const std::string tetrahedron_with_damaged_blocks =
    "Vertex 1 0 0 0 {{uv=(-0.206940.43) target=(5 3 -0.20694)}}\nVertex 2 1 0 0 {{uv=(0.50.5) target=(5 3 1)}}\n"
    "Vertex 3 0 1 0 {{uv=(0.1 0.2) normal=(0 0 -1)}}\nVertex 4  0 0 1\n"
    "Face 1  1 3 2\nFace 2  1 2 4\nFace 3  2 3 4\nFace 4  3 1 4\n";

const FamilyFile family_files[] = {
    {"no_normals_after_comments", "bunny.m", tetrahedron_without_normals, false, 4, 4, {}},
    {"no_suffix", "bunny", tetrahedron_without_normals, false, 4, 4, {}},
    {"gzip_compressed", "bunny.m.gz", tetrahedron_without_normals, true, 4, 4, {}},
    {"names_with_gaps_out_of_order", "gaps.m",
     "Vertex 24 1 0 0\nVertex 10 0 0 0\nVertex 3 0 1 0\nVertex 7 0 0 1\nFace 1 10 3 24\nFace 2 10 24 7\n"
     "Face 3 24 3 7\nFace 4 3 10 7\n", false, 4, 4, {}},
    {"some_vertex_normals_and_corner_normals", "club.m",
     "Vertex 1 0 0 0 {normal=(0.923471 -0.311198 -0.224405)}\nVertex 2 1 0 0\nVertex 3 0 1 0\nVertex 4 1 1 0\n"
     "Face 1 1 2 3\nFace 2 2 4 3\nCorner 2 2 {normal=(0 0 -1)}\n", false, 5, 2, {}},
    {"attributes_commas_crlf_face_zero", "attributes.m",
     "Vertex 1 0 0 0 {uv=(0.196696 0.43) normal=(0,0,1)}\r\nVertex 2 1 0 0 {normal=(0 0 1) uv=(1 0)}\r\n"
     "Vertex 3 1 1 0 {rgb=(1 0 0)}\r\nVertex 4 0 1 0 {wid=2}\r\nFace 0  1 2 3 4 {mat=\"Material.007\" "
     "groups=\"default\" rgb=(1 0 0)}\r\nEdge 1 2 {sharp}\r\n", false, 4, 2, {}},
    {"concave_polygon", "l.m",
     "Vertex 1 0 0 0\nVertex 2 2 0 0\nVertex 3 2 1 0\nVertex 4 1 1 0\nVertex 5 1 2 0\nVertex 6 0 2 0\n"
     "Face 1 1 2 3 4 5 6\n", false, 6, 4, {}},
    {"crease_on_a_folded_strip", "strip.m",
     "Vertex 1 0 0 0\nVertex 2 1 0 0\nVertex 3 1 0 1\nVertex 4 0 1 0\nVertex 5 1 1 0\nVertex 6 1 1 1\n"
     "Face 1 1 2 5 4\nFace 2 2 3 6 5\nEdge 2 5 {sharp}\n", false, 8, 4, {}},
    {"face_naming_a_missing_vertex", "missing.m", tetrahedron_without_normals + "Face 5  1 2 99\n", false, 4, 4,
     {"1 face of 'FILE' was left out: face 5 names vertex 99, which no Vertex line has"}},
    {"duplicate_vertex_number", "twice.m", tetrahedron_without_normals + "Vertex 4  5 5 5\n", false, 5, 1,
     {"3 faces of 'FILE' were left out: face 2 names vertex 4, which two Vertex lines have"}},
    {"lines_of_no_record", "noise.m", tetrahedron_without_normals + "Property 1\nFace 9 1 2\n", false, 4, 4,
     {"2 lines of 'FILE' are no record of the format and were skipped (the first is line 12)"}},
    {"damaged_attribute_blocks", "uv.m", tetrahedron_with_damaged_blocks, false, 4, 4,
     {"3 attribute blocks of 'FILE' are damaged and were read only in part (the first is line 1)"}},
    {"numbers_beyond_an_int", "big.m",
     tetrahedron_without_normals + "Vertex 4611686018427387904 0 0 0\nFace 5 1 1099511627776 2\n", false, 4, 4,
     {"2 lines of 'FILE' are no record of the format and were skipped (the first is line 12)"}},
    {"normals_that_are_no_numbers", "nan.m", tetrahedron_with_unusable_normals, false, 4, 4,
     {"4 normals of 'FILE' give no direction (not three finite numbers, not all zero) and were not used"}},
    {"every_kind_of_loss", "all.m",
     tetrahedron_with_damaged_blocks + "Vertex 9 0 0 0 {normal=(nan 0 0)}\nFace 9 1 2 99\nProperty 1\n", false, 5, 4,
     {"1 face of 'FILE' was left out: face 9 names vertex 99, which no Vertex line has",
      "1 line of 'FILE' is no record of the format and was skipped (the first is line 11)",
      "3 attribute blocks of 'FILE' are damaged and were read only in part (the first is line 1); 1 normal gives no "
      "direction (not three finite numbers, not all zero) and was not used"}},
    {"corner_normal_in_face_zero", "zero.m",
     "Vertex 1 0 0 0\nVertex 2 1 0 0\nVertex 3 0 1 0\nFace 0 1 2 3\nCorner 1 0 {normal=(1 0 0)}\n", false, 4, 1, {}},
};

void write_gzipped(const std::string& path, const std::string& text)
{
    gzFile file = gzopen(path.c_str(), "wb");
    gzwrite(file, text.data(), unsigned(text.size()));
    gzclose(file);
}

std::string replaced_file(std::string text, const std::string& path)
{
    for (std::size_t at = text.find("FILE"); at != std::string::npos; at = text.find("FILE", at + path.size()))
        text.replace(at, 4, path);
    return text;
}

std::string warning_lines(const std::vector<std::string>& warnings, const std::string& path)
{
    std::string lines;
    for (const std::string& warning : warnings)
        lines += "olvanta-convert: warning: " + replaced_file(warning, path) + "\n";
    return lines;
}

// Each file converts, says what it left out in one line, and reads back in the viewer whole.
TEST(ConvertFamily, ConvertsEveryFormTheFamilyIsWrittenIn)
{
    for (const FamilyFile& f : family_files) {
        const std::string dir = temporary_directory(), input = dir + "/" + f.file_name, output = dir + "/out.txt";
        if (f.gzipped)
            write_gzipped(input, f.content);
        else
            write_bytes(input, f.content);
        const CommandRun run = convert(input, output);
        EXPECT_EQ(run.status, 0) << f.name << ": " << run.err;
        EXPECT_EQ(run.out, "olvanta-convert: wrote " + std::to_string(f.vertices) + " vertices and " +
                               std::to_string(f.faces) + " faces to " + output + "\n")
            << f.name;
        EXPECT_EQ(run.err, warning_lines(f.warnings, input)) << f.name;
        MeshStore mesh;
        read_mesh_file(output, mesh);
        EXPECT_EQ(mesh.vertices.size(), f.vertices) << f.name;
        EXPECT_EQ(mesh.faces.size(), f.faces) << f.name;
        EXPECT_EQ(count_faces_naming_missing_vertices(mesh), 0u) << f.name;
        remove_directory(dir);
    }
}

// Positions are written so that the viewer reads back the very floats the file gave.
TEST(ConvertFamily, WritesPositionsThatReadBackAsTheSameFloats)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/in.m", "Vertex 5 0.1 -3.4028235e38 1e-45\nVertex 6 123456.789 7e-8 0.333333343\n"
                               "Vertex 7 -0 1 2\nFace 1 5 6 7\n");
    ASSERT_EQ(convert(dir + "/in.m", dir + "/out.txt").status, 0);
    MeshStore mesh;
    read_mesh_file(dir + "/out.txt", mesh);
    ASSERT_EQ(mesh.vertices.size(), 3u);
    EXPECT_EQ(mesh.vertices[0].x, double(0.1f));
    EXPECT_EQ(mesh.vertices[0].y, double(-3.4028235e38f));
    EXPECT_EQ(mesh.vertices[0].z, double(1e-45f));
    EXPECT_EQ(mesh.vertices[1].x, double(123456.789f));
    EXPECT_EQ(mesh.vertices[1].y, double(7e-8f));
    EXPECT_EQ(mesh.vertices[1].z, double(0.333333343f));
    EXPECT_TRUE(std::signbit(mesh.vertices[2].x));
    remove_directory(dir);
}

// --up and --fit place a family file as they place any other.
TEST(ConvertFamily, UpAndFitWorkAsForEveryFormat)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/tall.m", "Vertex 1 500 0 300\nVertex 2 540 0 300\nVertex 3 500 120 300\nFace 1 1 2 3\n");
    const CommandRun run = convert({"--up", "y", "--fit", dir + "/tall.m", dir + "/out.txt"});
    ASSERT_EQ(run.status, 0) << run.err;
    MeshStore mesh;
    read_mesh_file(dir + "/out.txt", mesh);
    ASSERT_EQ(mesh.vertices.size(), 3u);
    EXPECT_NEAR(mesh.vertices[2].z - mesh.vertices[0].z, 2.5, 1e-6) << "120 along Y is now 2.5 along Z";
    const CommandRun hinted = convert(dir + "/tall.m", dir + "/out.txt");
    EXPECT_NE(hinted.out.find("hint: "), std::string::npos) << hinted.out;
    remove_directory(dir);
}

// A failure is one line; when the reading passed over or left out anything, the warning lines
// that say so come first, since that may be why nothing was left to write.
TEST(ConvertFamily, RefusesWhatCannotBeConvertedSayingWhy)
{
    const struct {
        const char* name;
        std::string content;
        bool gzipped;
        std::vector<std::string> warnings;
        std::string message;
    } cases[] = {
        {"only_vertices", "Vertex 1 0 0 0\nVertex 2 1 0 0\n", false, {}, "'FILE' holds no triangles (only points or lines, or nothing)"},
        {"infinite_position", "Vertex 1 1e39 0 0\nVertex 2 1 0 0\nVertex 3 0 1 0\nFace 1 1 2 3\n", false, {},
         "'FILE' has vertex positions that are not finite numbers"},
        {"truncated_gzip", tetrahedron_without_normals, true, {}, "cannot read 'FILE': the compressed text ends early"},
        {"faces_naming_only_missing_vertices", "Vertex 1 0 0 0\nFace 1 1 2 3\nFace 2 4 5 6\n", false,
         {"2 faces of 'FILE' were left out: face 1 names vertex 2, which no Vertex line has"},
         "'FILE' holds no triangles (only points or lines, or nothing)"},
        {"carriage_returns_only", "Vertex 1 0 0 0\rVertex 2 1 0 0\rVertex 3 0 1 0\rFace 1 1 2 3\r", false,
         {"1 line of 'FILE' is no record of the format and was skipped (the first is line 1)"},
         "'FILE' holds no triangles (only points or lines, or nothing)"},
        {"every_vertex_number_beyond_an_int", "Vertex 3000000000 0 0 0\nVertex 3000000001 1 0 0\n"
         "Vertex 3000000002 0 1 0\nFace 1 3000000000 3000000001 3000000002\n", false,
         {"4 lines of 'FILE' are no record of the format and were skipped (the first is line 1)"},
         "'FILE' holds no triangles (only points or lines, or nothing)"},
        {"skipped_and_left_out", "Vertex 1 0 0 0 {normal=(nan nan nan)}\nVertex 2 1 0 0 {uv=(1.2.3)}\nFace 1 1 2 3\nnoise\n", false,
         {"1 face of 'FILE' was left out: face 1 names vertex 3, which no Vertex line has",
          "1 line of 'FILE' is no record of the format and was skipped (the first is line 4)",
          "1 attribute block of 'FILE' is damaged and was read only in part (the first is line 2); 1 normal gives "
          "no direction (not three finite numbers, not all zero) and was not used"},
         "'FILE' holds no triangles (only points or lines, or nothing)"},
    };
    for (const auto& c : cases) {
        const std::string dir = temporary_directory(), input = dir + "/in.m";
        if (c.gzipped) {
            write_gzipped(input, c.content);
            const std::string whole = read_whole_file(input);
            write_bytes(input, whole.substr(0, whole.size() - 12));
        } else {
            write_bytes(input, c.content);
        }
        const CommandRun run = convert(input, dir + "/out.txt");
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(run.err, warning_lines(c.warnings, input) + "olvanta-convert: " + replaced_file(c.message, input) + "\n")
            << c.name;
        EXPECT_EQ(directory_entries(dir), std::vector<std::string>{"in.m"}) << c.name;
        remove_directory(dir);
    }
}

std::string many_vertices(int count)
{
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += "Vertex " + std::to_string(i) + " " + std::to_string(i % 17) + " " + std::to_string(i % 5) + " 0.5\n";
    return text + "Face 1 1 2 3\n";
}

// A damaged gzip file is named as such, with zlib's reason, wherever the damage lies: in its
// header (nothing inflates), its middle or its check sum (the start inflates and is of the family).
TEST(ConvertFamily, NamesADamagedCompressedText)
{
    const struct {
        const char* name;
        std::string text;
        long damaged_byte; // from the start, or from the end when negative
        unsigned char damage; // xor'ed into it
        std::string reason;   // empty: any reason zlib gives
    } cases[] = {
        {"check_sum", tetrahedron_without_normals, -6, 0x40, "incorrect data check"},
        {"length", tetrahedron_without_normals, -3, 0x01, "incorrect length check"},
        {"header_flags", tetrahedron_without_normals, 3, 0xE0, "unknown header flags set"},
        {"compression_method", tetrahedron_without_normals, 2, 0x01, "unknown compression method"},
        {"middle", many_vertices(4000), 4000, 0xFF, ""},
    };
    for (const auto& c : cases) {
        const std::string dir = temporary_directory(), input = dir + "/in.m.gz";
        write_gzipped(input, c.text);
        std::string bytes = read_whole_file(input);
        bytes[std::size_t(c.damaged_byte < 0 ? long(bytes.size()) + c.damaged_byte : c.damaged_byte)] ^= char(c.damage);
        write_bytes(input, bytes);
        const CommandRun run = convert(input, dir + "/out.txt");
        EXPECT_EQ(run.status, 1) << c.name;
        const std::string start = "olvanta-convert: cannot read '" + input + "': the compressed text is damaged (";
        if (c.reason.empty()) {
            EXPECT_EQ(run.err.substr(0, start.size()), start) << c.name;
            EXPECT_EQ(run.err.substr(run.err.size() - 2), ")\n") << c.name;
            EXPECT_EQ(line_count(run.err), 1u) << c.name;
        } else {
            EXPECT_EQ(run.err, start + c.reason + ")\n") << c.name;
        }
        remove_directory(dir);
    }
}

// Whatever length the file gives a normal, it is written at unit length, in its direction.
TEST(ConvertFamily, WritesEveryNormalAtUnitLength)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/in.m", "Vertex 1 0 0 0 {normal=(0 0 2)}\nVertex 2 1 0 0 {normal=(0 0 0.68)}\n"
                               "Vertex 3 0 1 0 {normal=(3e-30 0 4e-30)}\nVertex 4 1 1 0\n"
                               "Face 1 1 2 3\nFace 2 2 4 3\nCorner 4 2 {normal=(-5 0 0)}\n");
    ASSERT_EQ(convert(dir + "/in.m", dir + "/out.txt").status, 0);
    MeshStore mesh;
    read_mesh_file(dir + "/out.txt", mesh);
    ASSERT_EQ(mesh.vertices.size(), 5u);
    const double directions[5][3] = {{0, 0, 1}, {0, 0, 1}, {0.6, 0, 0.8}, {0, 0, 1}, {-1, 0, 0}};
    for (std::size_t i = 0; i < 5; ++i) {
        const Vertex& v = mesh.vertices[i];
        EXPECT_NEAR(v.nx, directions[i][0], 1e-6) << "vertex " << i + 1;
        EXPECT_NEAR(v.ny, directions[i][1], 1e-6) << "vertex " << i + 1;
        EXPECT_NEAR(v.nz, directions[i][2], 1e-6) << "vertex " << i + 1;
    }
    remove_directory(dir);
}

} // namespace
