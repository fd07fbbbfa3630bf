// The lines a program says about a reading, at the reader's level: each outcome and each
// finding, word for word, so that none of them is only seen by the slow window tests.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "mesh/reading_report.h"
#include "test_files.h"

namespace {

std::string said_about(const ReadReport& report, const MeshStore& mesh, bool& readable, const std::string& name = "x.m")
{
    const std::string err = write_temporary_file("");
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(open(err.c_str(), O_WRONLY), 2);
    readable = report_reading("olvanta", false, name, report, mesh);
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    const std::string said = read_whole_file(err);
    unlink(err.c_str());
    return said;
}

MeshStore triangle(int third_vertex = 2, double x = 0)
{
    MeshStore mesh;
    mesh.vertices = {{x, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 0, 1}, {0, 1, 0, 0, 0, 1}};
    mesh.faces = {{0, 1, third_vertex}};
    return mesh;
}

ReadReport with_outcome(ReadOutcome outcome, const char* reason = "")
{
    ReadReport report;
    report.outcome = outcome;
    report.reason = reason;
    return report;
}

TEST(ReadingReport, SaysEachOutcomeAndFindingInItsOwnLine)
{
    ReadReport changed;
    changed.file_changed = true;
    ReadReport unread;
    unread.findings.unread_normals = 2;
    ReadReport misnumbered;
    misnumbered.findings.misnumbered = true;
    misnumbered.findings.misnumbered_place = 4;
    misnumbered.findings.misnumbered_number = 17;
    const struct {
        const char* name;
        ReadReport report;
        MeshStore mesh;
        bool readable;
        std::string said;
    } cases[] = {
        {"complete", ReadReport{}, triangle(), true, ""},
        {"cannot_open", with_outcome(ReadOutcome::cannot_open, "No such file or directory"), MeshStore{}, false,
         "olvanta: cannot open 'x.m': No such file or directory\n"},
        {"read_failed", with_outcome(ReadOutcome::read_failed, "Input/output error"), triangle(), true,
         "olvanta: reading 'x.m' failed: Input/output error; showing the 3 vertices and 1 faces read before\n"},
        {"out_of_memory", with_outcome(ReadOutcome::out_of_memory), triangle(), true,
         "olvanta: memory ran out while reading 'x.m'; showing the 3 vertices and 1 faces read before\n"},
        {"overlong_record", with_outcome(ReadOutcome::overlong_record), triangle(), true,
         "olvanta: 'x.m' has a record that runs on for more than 1048576 bytes; reading stopped there, showing the 3 "
         "vertices and 1 faces read before\n"},
        {"changed", changed, triangle(), true,
         "olvanta: warning: 'x.m' changed while it was read; showing the 3 vertices and 1 faces read\n"},
        {"missing_vertex", ReadReport{}, triangle(7), true,
         "olvanta: warning: 1 of 1 faces name vertices that the file does not have; they are not drawn\n"},
        {"unread_normals_in_place_of_missing_vertices", unread, triangle(7), true,
         "olvanta: warning: 2 Vertex lines have no normal part in the form this viewer reads, \"Vertex N x y z "
         "{normal=(nx ny nz)}\", and were skipped; 'olvanta-open x.m' shows the file, and 'olvanta-convert x.m COPY' "
         "writes a copy in that form\n"},
        {"misnumbered_in_place_of_missing_vertices", misnumbered, triangle(7), true,
         "olvanta: warning: the vertices' numbers are not their places (vertex 4 in the file is numbered 17), but faces "
         "count vertices by place; 'olvanta-open x.m' shows the file as its numbers mean it\n"},
        {"infinite_position", ReadReport{}, triangle(2, HUGE_VAL), true,
         "olvanta: warning: 1 of 3 vertices lie beyond single precision (infinite); the faces through them are not "
         "drawn\n"},
    };
    for (const auto& c : cases) {
        bool readable = false;
        EXPECT_EQ(said_about(c.report, c.mesh, readable), c.said) << c.name;
        EXPECT_EQ(readable, c.readable) << c.name;
    }
}

// The name came from the person or from a file: the terminal gets it escaped, never its controls.
TEST(ReadingReport, SaysAnOutsideNameEscaped)
{
    const std::string name = "\x1b]0;owned\x07\x1b[2Jcaf\xe9.m", seen = "\\033]0;owned\\a\\033[2Jcaf\\351.m";
    ReadReport changed;
    changed.file_changed = true;
    ReadReport unread;
    unread.findings.unread_normals = 1;
    const struct {
        const char* name;
        ReadReport report;
        MeshStore mesh;
        std::string said;
    } cases[] = {
        {"cannot_open", with_outcome(ReadOutcome::cannot_open, "No such file or directory"), MeshStore{},
         "olvanta: cannot open '" + seen + "': No such file or directory\n"},
        {"read_failed", with_outcome(ReadOutcome::read_failed, "Input/output error"), triangle(),
         "olvanta: reading '" + seen + "' failed: Input/output error; showing the 3 vertices and 1 faces read before\n"},
        {"changed", changed, triangle(),
         "olvanta: warning: '" + seen + "' changed while it was read; showing the 3 vertices and 1 faces read\n"},
        {"unread_normals", unread, triangle(),
         "olvanta: warning: 1 Vertex line has no normal part in the form this viewer reads, \"Vertex N x y z "
         "{normal=(nx ny nz)}\", and was skipped; 'olvanta-open " + seen + "' shows the file, and 'olvanta-convert " +
             seen + " COPY' writes a copy in that form\n"},
    };
    for (const auto& c : cases) {
        bool readable = false;
        EXPECT_EQ(said_about(c.report, c.mesh, readable, name), c.said) << c.name;
    }
}

} // namespace
