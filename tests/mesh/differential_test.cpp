// The reader against its oracles on generated and mutated texts.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "mesh/mesh_reader.h"
#include "mesh_compare.h"
#include "reference_reader.h"

namespace {

using Random = std::mt19937;

int pick(Random& random, int count)
{
    return std::uniform_int_distribution<int>(0, count - 1)(random);
}

template <std::size_t N>
const char* pick_one(Random& random, const char* const (&choices)[N])
{
    return choices[pick(random, static_cast<int>(N))];
}

std::string blanks(Random& random)
{
    static const char* const runs[] = {" ", " ", "  ", "\t", " \t "};
    return pick_one(random, runs);
}

// Numbers in the forms exporters write, all of which every reader converts alike.
std::string plain_number(Random& random)
{
    std::uniform_real_distribution<double> value(-1e3, 1e3);
    static const char* const formats[] = {"%g", "%.9g", "%f", "%e", "%.3E", "%.0f", "%+g", "%.17g"};
    char text[64];
    double v = value(random);
    if (pick(random, 8) == 0)
        v *= std::pow(10.0, pick(random, 80) - 40);
    std::snprintf(text, sizeof text, pick_one(random, formats), v);
    return text;
}

std::string plain_int(Random& random)
{
    return std::to_string(pick(random, 2000) - 20);
}

std::string line_end(Random& random)
{
    static const char* const ends[] = {"\n", "\n", "\n", "\r\n", " \n", "\n\n", "\t\n"};
    return pick_one(random, ends);
}

std::string vertex_line(Random& random)
{
    std::string line = "Vertex" + blanks(random) + plain_int(random);
    for (int i = 0; i < 3; ++i)
        line += blanks(random) + plain_number(random);
    line += blanks(random) + "{normal=(" + plain_number(random);
    for (int i = 0; i < 2; ++i)
        line += blanks(random) + plain_number(random);
    return line + ")}";
}

std::string face_line(Random& random)
{
    std::string line = "Face" + blanks(random) + plain_int(random);
    for (int i = 0; i < 3; ++i)
        line += blanks(random) + std::to_string(pick(random, 40) - 2);
    return line;
}

bool ends_a_number_at(const std::string& line, std::size_t cut)
{
    const std::string number_chars = "0123456789.eE+-";
    return cut == line.size() || number_chars.find(line[cut]) == std::string::npos ||
           cut == 0 || number_chars.find(line[cut - 1]) == std::string::npos;
}

// A record cut off, but never inside a number: an incomplete number is where the C library's
// own reading departs from the rules.
std::string cut_short(const std::string& line, Random& random)
{
    std::size_t cut = static_cast<std::size_t>(pick(random, int(line.size())));
    while (!ends_a_number_at(line, cut))
        ++cut;
    return line.substr(0, cut);
}

// Lines of every kind the format meets: records, damaged records, comments, other formats.
std::string any_line(Random& random)
{
    std::string line;
    switch (pick(random, 12)) {
    case 0: case 1: case 2: line = vertex_line(random); break;
    case 3: case 4: case 5: line = face_line(random); break;
    case 6: line = "# " + vertex_line(random); break;
    case 7: line = ""; break;
    case 8: line = blanks(random) + (pick(random, 2) ? vertex_line(random) : face_line(random)); break;
    case 9: line = cut_short(vertex_line(random), random); break;
    case 10: line = face_line(random) + " " + plain_int(random); break;
    default: line = "v 1.0 2.0 3.0"; break;
    }
    return line + line_end(random);
}

std::string generated_text(Random& random)
{
    std::string text;
    const int lines = pick(random, 40);
    for (int i = 0; i < lines; ++i)
        text += any_line(random);
    return text;
}

// Damage that reaches the corners of the reading rules: incomplete and non-decimal numbers,
// numbers beyond every range, stray letters, bytes dropped or doubled.
std::string mutated(std::string text, Random& random)
{
    static const char* const tokens[] = {"1e", "1e+", "-", ".", "+.", "inf", "nan", "0x1p3",
                                         "99999999999", "-2147483649", "1e50", "-1e-50", "1e-45",
                                         "V", "F", "Vertex", "Face", "{normal=(", ")}", "\r",
                                         "\n", " ", "\0", "1.5.5", "e5", "E", "+", "00"};
    const int edits = 1 + pick(random, 6);
    for (int i = 0; i < edits; ++i) {
        const std::size_t at = text.empty() ? 0 : static_cast<std::size_t>(pick(random, int(text.size())));
        switch (pick(random, 4)) {
        case 0: if (!text.empty()) text.erase(at, 1 + pick(random, 3)); break;
        case 1: { std::string token = pick_one(random, tokens); if (token.empty()) token.assign(1, '\0'); text.insert(at, token); break; }
        case 2: if (!text.empty()) text[at] = static_cast<char>(pick(random, 256)); break;
        default: text.insert(at, text.substr(at, static_cast<std::size_t>(pick(random, 12)))); break;
        }
    }
    return text;
}

MeshStore read_text(const std::string& text)
{
    MeshStore mesh;
    read_mesh_text(text.data(), text.data() + text.size(), mesh);
    return mesh;
}

MeshStore read_as_file(const std::string& text, const ReadingPlan& plan)
{
    MeshStore mesh;
    read_text_as_file(text, mesh, plan);
    return mesh;
}

bool same_mesh(const MeshStore& a, const MeshStore& b)
{
    return a.vertices == b.vertices && a.faces == b.faces;
}

TEST(Differential, GeneratedTextsReadAsTheReferenceAndTheCLibraryReadThem)
{
    Random random(20261208);
    for (int round = 0; round < 1500; ++round) {
        const std::string text = generated_text(random);
        const MeshStore mesh = read_text(text);
        ASSERT_TRUE(same_mesh(mesh, reference_read(text))) << testing::PrintToString(text);
        ASSERT_TRUE(same_mesh(mesh, fscanf_read(text))) << testing::PrintToString(text);
    }
}

TEST(Differential, MutatedTextsReadAsTheReferenceReadsThem)
{
    Random random(8121026);
    for (int round = 0; round < 3000; ++round) {
        const std::string text = mutated(generated_text(random), random);
        const MeshStore mesh = read_text(text);
        const MeshStore expected = reference_read(text);
        ASSERT_EQ(mesh.vertices, expected.vertices) << testing::PrintToString(text);
        ASSERT_EQ(mesh.faces, expected.faces) << testing::PrintToString(text);
    }
}

// Text that makes line starts bad places to cut: records whose trailing white space runs over
// many line ends, failed records that resume mid-line, long skipped lines.
std::string hard_to_cut_text(Random& random)
{
    static const char* const pieces[] = {
        "Vertex 1 1 2 3 {normal=(0 0 1)}", "Face 1 1 2 3", "\n", "\n\n\n", "  ", "\t\n ",
        "Vertex 1 1 2", "Face 1 2", "# a comment line that goes on and on\n", "\r\n", "V", "F"};
    std::string text;
    const int count = pick(random, 200);
    for (int i = 0; i < count; ++i)
        text += pick_one(random, pieces);
    return text;
}

// Chunks of a few bytes cut every record somewhere; parts cut the text at awkward places; a
// stream's segments cut its lists anywhere.
TEST(Differential, ReadingInChunksAndPartsGivesTheSameListsAsReadingAlone)
{
    Random random(5551212);
    for (int round = 0; round < 3000; ++round) {
        const std::string text = round % 3 == 0   ? hard_to_cut_text(random)
                                 : round % 3 == 1 ? generated_text(random)
                                                  : mutated(generated_text(random), random);
        const MeshStore alone = read_text(text);
        for (int parts = 1; parts <= 7; ++parts) {
            const std::size_t chunk = 1 + static_cast<std::size_t>(pick(random, 40));
            const MeshStore in_parts = read_as_file(text, ReadingPlan{parts, true, chunk});
            ASSERT_EQ(in_parts.vertices, alone.vertices) << parts << " parts, chunks of " << chunk << ": " << testing::PrintToString(text);
            ASSERT_EQ(in_parts.faces, alone.faces) << parts << " parts, chunks of " << chunk << ": " << testing::PrintToString(text);
            const MeshStore one_thread = read_as_file(text, ReadingPlan{parts, false, chunk});
            ASSERT_EQ(one_thread.vertices, alone.vertices) << parts << " parts on one thread";
            ASSERT_EQ(one_thread.faces, alone.faces) << parts << " parts on one thread";
        }
        const std::uint64_t segment = 1 + static_cast<std::uint64_t>(pick(random, 200));
        const MeshStore as_stream = read_as_file(text, ReadingPlan{1, true, 1 + std::size_t(segment % 13), SIZE_MAX, true, segment});
        ASSERT_EQ(as_stream.vertices, alone.vertices) << "a stream in segments of " << segment;
        ASSERT_EQ(as_stream.faces, alone.faces) << "a stream in segments of " << segment;
    }
}

// Every rule that depends on where a reading stands (a byte-order mark only at the very start,
// a record's start, the end of a skipped line, a line end after a carriage return) holds with
// the text cut at every offset around the place: the first chunk ends there, for files, parts
// and streams alike.
TEST(Differential, RulesThatDependOnAPositionHoldWhereverAChunkEnds)
{
    const std::string mark = "\xEF\xBB\xBF";
    const std::string vertex = "Vertex 1 0.5 -1 2e-1 {normal=(0 0 1)}\n";
    const struct {
        const char* name;
        std::string text;
        std::size_t place; // the position the rule depends on
    } cases[] = {
        {"mark_at_the_start", mark + vertex + "Face 1 1 1 1\n", 3},
        {"mark_after_a_skipped_line", "# c\n" + mark + vertex, 4},
        {"mark_after_a_record", vertex + mark + vertex, vertex.size()},
        {"mark_after_a_blank_line", "\n" + mark + vertex, 1},
        {"first_byte_of_a_mark_only", "\xEF" + vertex + vertex, 1},
        {"first_two_bytes_of_a_mark_only", "\xEF\xBB" + vertex + vertex, 2},
        {"first_byte_of_a_mark_then_a_line_end", "\xEF\n" + vertex, 1},
        {"record_after_a_skipped_line", "# a comment\n" + vertex, 12},
        {"indented_record_after_a_skipped_line", "# a comment\n  " + vertex, 12},
        {"indented_record_after_a_record", vertex + "   " + vertex, vertex.size() + 3},
        {"skipped_line_ending_in_a_carriage_return", "# c\r\n" + vertex, 5},
        {"record_across_line_ends", "Face 1 1 2\n\n3\n" + vertex, 11},
    };
    for (const auto& c : cases) {
        const MeshStore expected = reference_read_file(c.text);
        for (std::size_t cut = c.place > 4 ? c.place - 4 : 1; cut <= c.place + 4 && cut <= c.text.size(); ++cut) {
            for (int parts = 1; parts <= 3; ++parts) {
                const MeshStore as_file = read_as_file(c.text, ReadingPlan{parts, false, cut});
                EXPECT_TRUE(same_mesh(as_file, expected)) << c.name << ": chunks of " << cut << ", " << parts << " parts";
            }
            const MeshStore as_stream = read_as_file(c.text, ReadingPlan{1, true, cut, SIZE_MAX, true, 64});
            EXPECT_TRUE(same_mesh(as_stream, expected)) << c.name << ": a stream in chunks of " << cut;
        }
    }
}

} // namespace
