// What a reading notices besides the lists: Vertex lines stopped at their normal part, and the
// first vertex whose number is not its place. The same however the text is cut: whole, in chunks
// of any size, in parts side by side, or as a stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "confined_read.h"
#include "mesh/mesh_reader.h"
#include "mesh_compare.h"

namespace {

std::string strict_vertex(const std::string& number)
{
    return "Vertex " + number + " 1 2 3 {normal=(0 0 1)}\n";
}

// Vertices numbered first, first + 1, ...; `changes` puts other texts in chosen places (from 1).
std::string numbered(int count, int first = 1, const std::vector<std::pair<int, std::string>>& changes = {})
{
    std::string text;
    for (int place = 1; place <= count; ++place) {
        std::string number = std::to_string(first + place - 1);
        for (const auto& [at, other] : changes)
            if (at == place)
                number = other;
        text += strict_vertex(number);
    }
    return text + "Face 1 1 2 3\n";
}

struct FindingsCase {
    const char* name;
    std::string text;
    std::uint64_t unread_normals;
    bool misnumbered;
    std::uint64_t place;
    int number;
};

const FindingsCase cases[] = {
    {"strict", numbered(3), 0, false, 0, 0},
    {"strict_past_the_noted_numbers_and_across_carries", numbered(1205), 0, false, 0, 0},
    {"no_normal_parts", "# by a scanner\nVertex 1 0 0 0\nVertex 2 1 0 0\nVertex 3 0 1 0\nFace 1 1 2 3\n", 3, false, 0, 0},
    {"normal_part_in_another_form", "Vertex 1 0 0 0 {uv=(0 0) normal=(0 0 1)}\nVertex 2 1 0 0 {normal=(0,0,1)}\n", 2,
     false, 0, 0},
    {"some_without", strict_vertex("1") + "Vertex 2 0 0 0\n" + strict_vertex("3"), 1, true, 2, 3},
    {"swapped", strict_vertex("2") + strict_vertex("1") + strict_vertex("3"), 0, true, 1, 2},
    {"names_with_gaps", strict_vertex("10") + strict_vertex("24") + strict_vertex("3"), 0, true, 1, 10},
    {"from_zero", numbered(5, 0), 0, true, 1, 0},
    {"break_among_the_noted", numbered(100, 1, {{40, "999"}}), 0, true, 40, 999},
    {"break_at_the_last_noted", numbered(100, 1, {{65, "7"}}), 0, true, 65, 7},
    {"break_just_past_the_noted", numbered(100, 1, {{66, "7"}}), 0, true, 66, 7},
    {"break_far_on", numbered(3000, 1, {{2500, "17"}}), 0, true, 2500, 17},
    {"same_numbers_written_otherwise", numbered(200, 1, {{70, "070"}, {150, "+150"}}), 0, false, 0, 0},
    {"a_run_shifted_after_a_gap", numbered(200, 1, {{120, "121"}}), 0, true, 120, 121},
};

void expect_findings(const FindingsCase& c, const ReadReport& report, const std::string& how)
{
    const ReadingFindings& f = report.findings;
    EXPECT_EQ(f.unread_normals, c.unread_normals) << c.name << ", " << how;
    EXPECT_EQ(f.misnumbered, c.misnumbered) << c.name << ", " << how;
    if (c.misnumbered) {
        EXPECT_EQ(f.misnumbered_place, c.place) << c.name << ", " << how;
        EXPECT_EQ(f.misnumbered_number, c.number) << c.name << ", " << how;
    }
}

TEST(ReadingFindings, AreTheSameWholeInChunksInPartsAndAsAStream)
{
    for (const FindingsCase& c : cases) {
        MeshStore whole;
        expect_findings(c, read_text_as_file(c.text, whole, ReadingPlan{}), "whole");
        for (const std::size_t chunk : {1, 2, 3, 7, 19, 40, 333}) {
            for (int parts = 1; parts <= 5; ++parts) {
                MeshStore mesh;
                expect_findings(c, read_text_as_file(c.text, mesh, ReadingPlan{parts, parts % 2 == 0, chunk}),
                                std::to_string(parts) + " parts, chunks of " + std::to_string(chunk));
                EXPECT_EQ(mesh.vertices, whole.vertices) << c.name;
            }
            MeshStore streamed;
            expect_findings(c, read_text_as_file(c.text, streamed, ReadingPlan{1, true, chunk, SIZE_MAX, true, 97}),
                            "a stream in chunks of " + std::to_string(chunk));
        }
        for (const ListsTaken way : {ListsTaken::by_copy, ListsTaken::by_pipe}) {
            MeshStore confined;
            const std::string how = way == ListsTaken::by_copy ? "confined, copied" : "confined, by pipe";
            expect_findings(c, read_text_confined(c.text, confined, way), how);
            EXPECT_EQ(confined.vertices, whole.vertices) << c.name << ", " << how;
            EXPECT_EQ(confined.faces, whole.faces) << c.name << ", " << how;
        }
    }
}

} // namespace
