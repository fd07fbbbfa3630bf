// Which files the viewer is given as they are: judged whole, line by line, so that a file judged in
// its form reads the same in the viewer's reader as in the converter's; and the way in itself,
// which hands over the very file it judged.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "mesh/mesh_reader.h"
#include "mesh_source.h"
#include "readers_agree.h"
#include "scratch_folder.h"
#include "viewers_form.h"

namespace {

const std::string strict = "Vertex 1 0 0 0 {normal=(0 0 1)}\nVertex 2 1 0 0 {normal=(0 0 1)}\n"
                           "Vertex 3 0 1 0 {normal=(0 0 1)}\nFace 1 1 2 3\n";

bool in_form(const std::string& text)
{
    return judge_text(text.data(), text.data() + text.size()).in_viewers_form;
}

// The same text as a file judged in `parts` pieces: every rule holds through both ways in.
bool file_in_form(const std::string& text, int parts)
{
    const int fd = memfd_create("judged", MFD_CLOEXEC);
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    const bool judged = written && judge_file(fd, text.size(), parts).in_viewers_form;
    close(fd);
    return judged;
}

TEST(ViewersForm, JudgesEveryLine)
{
    const struct {
        const char* name;
        std::string text;
        bool in_form;
    } cases[] = {
        {"strict", strict, true},
        {"empty", "", true},
        {"comments_and_blank_lines", "# by hand\n\n  \t\n   # indented comment\n" + strict, true},
        {"crlf", "Vertex 1 0 0 0 {normal=(0 0 1)}\r\nFace 1 1 1 1\r\n", true},
        {"byte_order_mark", "\xEF\xBB\xBF" + strict, true},
        {"two_bytes_of_a_byte_order_mark", "\xEF\xBB" + strict, false},
        {"first_byte_of_a_byte_order_mark", "\xEF" "ab" + strict, false},
        {"tabs_and_runs_of_blanks", "Vertex\t1  0\t0 0  {normal=(  0 0\t1)}  \nFace 1\t1 1  1 \n", true},
        {"no_blank_before_the_block", "Vertex 1 0 0 0{normal=(0 0 1)}\n", true},
        {"last_line_without_line_end", "Vertex 1 0 0 0 {normal=(0 0 1)}", true},
        {"numbers_of_every_shape", "Vertex 1 -1 +2.5 .5 {normal=(3. -0.0 1e-3)}\nVertex 2 1E2 2.5e+1 0 {normal=(1 0 0)}\n", true},
        {"a_long_fraction", "Vertex 1 0.123456789012 0 0 {normal=(0 0 0.000000000001)}\n", true},
        {"leading_zeros_in_the_number", "Vertex 01 0 0 0 {normal=(0 0 1)}\n", true},
        {"negative_face_vertices", "Face 1 -1 0 2\n", true},
        {"vertex_without_normal", strict + "Vertex 4 1 1 0\n", false},
        {"numbers_that_are_not_places", "Vertex 2 0 0 0 {normal=(0 0 1)}\nVertex 1 1 0 0 {normal=(0 0 1)}\n", false},
        {"a_number_skipped", "Vertex 1 0 0 0 {normal=(0 0 1)}\nVertex 3 1 0 0 {normal=(0 0 1)}\n", false},
        {"a_quad", strict + "Face 2 1 2 3 3\n", false},
        {"two_vertices_of_a_face", "Face 1 1 2\n", false},
        {"uv_before_normal", "Vertex 1 0 0 0 {uv=(0 0) normal=(0 0 1)}\n", false},
        {"normal_with_commas", "Vertex 1 0 0 0 {normal=(0,0,1)}\n", false},
        {"blank_before_closing", "Vertex 1 0 0 0 {normal=(0 0 1 )}\n", false},
        {"something_after_the_block", "Vertex 1 0 0 0 {normal=(0 0 1)} x\n", false},
        {"face_with_attributes", "Face 1 1 1 1 {mat=\"a\"}\n", false},
        {"corner_line", strict + "Corner 1 1 {normal=(1 0 0)}\n", false},
        {"sharp_edge", strict + "Edge 1 2 {sharp}\n", false},
        {"indented_record", "Vertex 1 0 0 0 {normal=(0 0 1)}\n  Face 1 1 1 1\n", false},
        {"other_record_kind", strict + "Property 1 2\n", false},
        {"word_running_on", "Vertexx 1 0 0 0 {normal=(0 0 1)}\n", false},
        {"zero_normal", "Vertex 1 0 0 0 {normal=(0 0 0)}\n", false},
        {"normal_underflowing_to_zero", "Vertex 1 0 0 0 {normal=(1e-50 0 0)}\n", false},
        {"nan_normal", "Vertex 1 0 0 0 {normal=(nan 0 1)}\n", false},
        {"position_beyond_single_precision", "Vertex 1 1e39 0 0 {normal=(0 0 1)}\n", false},
        {"incomplete_exponent", "Vertex 1 1e 0 0 {normal=(0 0 1)}\n", false},
        {"two_signs", "Vertex 1 --1 0 0 {normal=(0 0 1)}\n", false},
        {"numbers_run_together", "Vertex 1 0 0 0 {normal=(0 0-1)}\n", false},
        {"face_vertex_of_ten_digits", "Face 1 1 2 1234567890\n", false},
        {"vertex_number_with_sign", "Vertex +1 0 0 0 {normal=(0 0 1)}\n", false},
        {"nul_byte", std::string("Vertex 1 0 0 0 {normal=(0 0 1)}\0\n", 33), false},
        {"carriage_returns_only", "Vertex 1 0 0 0 {normal=(0 0 1)}\rFace 1 1 1 1\r", false},
        {"obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", false},
        {"gzip", "\x1f\x8b\x08\x00", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(in_form(c.text), c.in_form) << c.name;
        for (int parts = 1; parts <= 3; ++parts)
            EXPECT_EQ(file_in_form(c.text, parts), c.in_form) << c.name << ", a file in " << parts << " parts";
    }
}

// A number that is no finite value, in each component of the position and of the normal in turn.
TEST(ViewersForm, NoComponentOfAVectorMayBeOtherThanFinite)
{
    for (const char* value : {"nan", "inf", "-inf", "1e39", "-1e39"})
        for (int k = 0; k < 6; ++k) {
            std::string numbers[6] = {"0", "0", "0", "0", "0", "1"};
            numbers[k] = value;
            const std::string text = "Vertex 1 " + numbers[0] + " " + numbers[1] + " " + numbers[2] + " {normal=(" +
                                     numbers[3] + " " + numbers[4] + " " + numbers[5] + ")}\nFace 1 1 1 1\n";
            EXPECT_FALSE(in_form(text)) << text;
            EXPECT_FALSE(file_in_form(text, 2)) << text;
        }
}

TEST(ViewersForm, CountsAndBoundsTheWholeFile)
{
    const std::string text = "Vertex 1 -2 0.5 3 {normal=(0 0 1)}\nVertex 2 4 -1.25 0 {normal=(0 1 0)}\nFace 1 1 2 2\n"
                             "Face 2 2 1 1\n";
    const FormJudgement j = judge_text(text.data(), text.data() + text.size());
    EXPECT_TRUE(j.in_viewers_form);
    EXPECT_EQ(j.vertices, 2u);
    EXPECT_EQ(j.faces, 2u);
    const double low[3] = {-2, -1.25, 0}, high[3] = {4, 0.5, 3};
    for (int k = 0; k < 3; ++k) {
        EXPECT_DOUBLE_EQ(j.bounds.low[k], low[k]) << k;
        EXPECT_DOUBLE_EQ(j.bounds.high[k], high[k]) << k;
    }
}

// Every text judged in the form, however it was damaged, must be one mesh to both readers.
// Every text one byte away from the start (a byte gone, replaced or added) that is judged in the
// form; counts the texts tried and accepted.
void expect_mutations_read_alike(const std::string& start, int& accepted, int& mutations)
{
    const std::string replacements = " \t\r\n-+.eE0159{}()#VFx,";
    for (std::size_t at = 0; at < start.size(); ++at) {
        std::vector<std::string> texts = {start.substr(0, at) + start.substr(at + 1)};
        for (const char c : replacements)
            texts.push_back(start.substr(0, at) + c + start.substr(at + 1));
        for (const char c : replacements)
            texts.push_back(start.substr(0, at) + c + start.substr(at));
        for (const std::string& text : texts) {
            ++mutations;
            std::string why;
            if (!in_form(text))
                continue;
            ++accepted;
            EXPECT_TRUE(both_readers_agree(text, why)) << why << " in:\n" << text;
        }
    }
}

TEST(ViewersForm, WhatItAcceptsBothReadersReadAlike)
{
    const std::string made = "# made by hand\n" + strict + "Vertex 4 -1.5e-3 2.25 .5 {normal=(0.6 -0.8 0)}\n"
                             "Face 2 4 1 2\n\n";
    int accepted = 0, mutations = 0;
    expect_mutations_read_alike(made, accepted, mutations);
    expect_mutations_read_alike("\xEF\xBB\xBF" + strict, accepted, mutations);
    EXPECT_GT(accepted, mutations / 10) << "the mutations reach texts in the form too";
}

std::string numbered_text(int vertices, int misnumbered_at)
{
    std::string text;
    for (int i = 1; i <= vertices; ++i)
        text += "Vertex " + std::to_string(i == misnumbered_at ? i + 1 : i) + " " + std::to_string(i % 7) +
                ".25 0 -1 {normal=(0 1 0)}\nFace " + std::to_string(i) + " 1 2 " + std::to_string(i) + "\n";
    return text;
}

TEST(ViewersForm, AFileInPiecesIsJudgedAsTheWhole)
{
    const std::string dir = temporary_directory();
    const int vertices = 4000;
    for (const int misnumbered_at : {0, 1, 1333, 2000, 2001, 3999, 4000}) {
        const std::string text = numbered_text(vertices, misnumbered_at);
        write_bytes(dir + "/mesh", text);
        const int fd = open((dir + "/mesh").c_str(), O_RDONLY);
        for (int parts = 1; parts <= 5; ++parts) {
            const FormJudgement j = judge_file(fd, text.size(), parts);
            EXPECT_EQ(j.in_viewers_form, misnumbered_at == 0) << misnumbered_at << " in " << parts;
            if (misnumbered_at == 0) {
                EXPECT_EQ(j.vertices, std::uint64_t(vertices)) << parts;
                EXPECT_EQ(j.faces, std::uint64_t(vertices)) << parts;
                EXPECT_DOUBLE_EQ(j.bounds.high[0], 6.25) << parts;
            }
        }
        close(fd);
    }
    // A line not in the form anywhere, in any piece, and a file that grew since its size was taken.
    const std::string text = numbered_text(3000, 0);
    for (const std::size_t at : {std::size_t(0), text.size() / 3, text.size() / 2 + 1, text.size()}) {
        const std::size_t line = text.rfind('\n', at == 0 ? 0 : at - 1);
        const std::string damaged = text.substr(0, line == std::string::npos ? 0 : line + 1) + "Corner 1 1\n" +
                                    text.substr(line == std::string::npos ? 0 : line + 1);
        write_bytes(dir + "/mesh", damaged);
        const int fd = open((dir + "/mesh").c_str(), O_RDONLY);
        for (int parts = 1; parts <= 4; ++parts)
            EXPECT_FALSE(judge_file(fd, damaged.size() / 2, parts).in_viewers_form) << at << " in " << parts;
        close(fd);
    }
    remove_directory(dir);
}

FormJudgement judged_as(bool in_form, double low, double high)
{
    FormJudgement j;
    j.in_viewers_form = in_form;
    const float a[3] = {float(low), float(low), float(low)}, b[3] = {float(high), float(high), float(high)};
    take_point(j.bounds, a);
    take_point(j.bounds, b);
    return j;
}

// The way in's decision: a file in the form and in view as it is; one out of view fitted, for
// the reason it shows badly; any other converted, fitted by the converter when it must be.
TEST(MeshSource, ChoosesTheWayByTheFormAndTheFirstView)
{
    const struct {
        const char* name;
        FormJudgement judgement;
        Fitting fitting;
        bool as_it_is;
        const char* option;
        bool says_why;
    } cases[] = {
        {"strict_in_view", judged_as(true, -1, 1), Fitting::when_out_of_view, true, "", false},
        {"strict_far", judged_as(true, 370, 390), Fitting::when_out_of_view, false, "--fit", true},
        {"strict_huge", judged_as(true, -80, 80), Fitting::when_out_of_view, false, "--fit", true},
        {"strict_far_as_it_lies", judged_as(true, 370, 390), Fitting::as_it_lies, true, "", false},
        {"strict_always_fitted", judged_as(true, -1, 1), Fitting::always, false, "--fit", false},
        {"converted_in_view_or_not", judged_as(false, -1, 1), Fitting::when_out_of_view, false, "--fit-when-needed", false},
        {"converted_as_it_lies", judged_as(false, 370, 390), Fitting::as_it_lies, false, "", false},
        {"empty", FormJudgement{}, Fitting::when_out_of_view, true, "", false},
    };
    for (const auto& c : cases) {
        const SourceWay way = way_for(c.judgement, c.fitting);
        EXPECT_EQ(way.as_it_is, c.as_it_is) << c.name;
        EXPECT_EQ(way.fit_option, c.option) << c.name;
        EXPECT_EQ(!way.fitted.empty(), c.says_why) << c.name << ": " << way.fitted;
    }
}

MeshStore read_through(const std::string& name)
{
    MeshStore mesh;
    read_mesh_file(name, mesh);
    return mesh;
}

TEST(MeshSource, HandsOverTheVeryFileItJudged)
{
    const std::string dir = temporary_directory(), path = dir + "/mesh.m";
    write_bytes(path, strict);
    MeshSource source;
    std::string reason;
    ASSERT_TRUE(open_mesh_source(path, SourceOptions{}, source, reason)) << reason;
    EXPECT_EQ(source.converter, -1);
    EXPECT_EQ(source.name, "/dev/fd/" + std::to_string(source.fd));
    // Replaced by an OBJ before the viewer reads it: what was judged is what is read.
    write_bytes(dir + "/other", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    ASSERT_EQ(rename((dir + "/other").c_str(), path.c_str()), 0);
    const MeshStore read = read_through(source.name);
    EXPECT_EQ(read.vertices.size(), 3u);
    EXPECT_EQ(read.faces.size(), 1u);
    close_mesh_source(source);
    remove_directory(dir);
}

TEST(MeshSource, KeepsAStreamWholeAndJudgesIt)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        close(ends[0]);
        for (const char* piece : {"Vertex 1 0 0 0 {normal=(0 0 1)}\nVertex 2 1 0 0 {normal=(0 0 1)}\n",
                                  "Vertex 3 0 1 0 {normal=(0 0 1)}\n", "Face 1 1 2 3\n"}) {
            if (write(ends[1], piece, strlen(piece)) < 0)
                _exit(1);
            usleep(20000);
        }
        _exit(0);
    }
    close(ends[1]);
    MeshSource source;
    std::string reason;
    ASSERT_TRUE(open_mesh_source("/dev/fd/" + std::to_string(ends[0]), SourceOptions{}, source, reason)) << reason;
    waitpid(writer, nullptr, 0);
    close(ends[0]);
    EXPECT_TRUE(source.judgement.in_viewers_form);
    EXPECT_EQ(source.converter, -1);
    const MeshStore read = read_through(source.name);
    EXPECT_EQ(read.vertices.size(), 3u);
    EXPECT_EQ(read.faces.size(), 1u);
    close_mesh_source(source);
}

// A stream of exactly the largest size kept is kept; one byte more is refused.
TEST(MeshSource, AStreamOfTheLargestSizeIsKeptAndOneByteMoreIsNot)
{
    signal(SIGPIPE, SIG_IGN);
    SourceOptions bounded;
    bounded.largest_stream = 200000;
    for (const std::size_t size : {bounded.largest_stream, bounded.largest_stream + 1}) {
        std::string text = strict + "#";
        text += std::string(size - text.size() - 1, 'x') + "\n";
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread writer([&] {
            const ssize_t put = write(ends[1], text.data(), text.size()); // may stop where the reading does
            (void)put;
            close(ends[1]);
        });
        MeshSource source;
        std::string reason;
        const std::string name = "/dev/fd/" + std::to_string(ends[0]);
        const bool kept = open_mesh_source(name, bounded, source, reason);
        writer.join();
        close(ends[0]);
        EXPECT_EQ(kept, size == bounded.largest_stream) << size << ": " << source_failure_line(name, source, reason, bounded);
        if (kept) {
            EXPECT_TRUE(source.judgement.in_viewers_form);
            EXPECT_EQ(read_through(source.name).faces.size(), 1u);
            close_mesh_source(source);
        }
    }
}

TEST(MeshSource, FailuresNameTheFileAndTheSystemsReason)
{
    const std::string dir = temporary_directory();
    mkdir((dir + "/a folder").c_str(), 0700);
    int endless[2], silent[2];
    ASSERT_EQ(pipe(endless), 0);
    ASSERT_EQ(pipe(silent), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        const std::string line(4096, '#');
        for (;;)
            if (write(endless[1], line.data(), line.size()) < 0)
                _exit(0);
    }
    close(endless[1]);
    SourceOptions bounded;
    bounded.largest_stream = 1 << 20;
    bounded.stream_seconds = 1;
    const struct {
        std::string path, line;
    } cases[] = {
        {dir + "/no such file.m", "cannot open '" + dir + "/no such file.m': No such file or directory"},
        {dir + "/a folder", "cannot open '" + dir + "/a folder': Is a directory"},
        {"/dev/fd/" + std::to_string(endless[0]),
         "'/dev/fd/" + std::to_string(endless[0]) +
             "' is a stream of more than 1 MiB, more than is kept in memory to be read whole; save it to a file first"},
        {"/dev/fd/" + std::to_string(silent[0]),
         "'/dev/fd/" + std::to_string(silent[0]) + "' was still being read when the time limit ended (1 s)"},
    };
    for (const auto& c : cases) {
        MeshSource source;
        std::string reason;
        EXPECT_FALSE(open_mesh_source(c.path, bounded, source, reason)) << c.path;
        EXPECT_EQ(source_failure_line(c.path, source, reason, bounded), c.line);
        EXPECT_EQ(source.fd, -1);
    }
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    for (const int fd : {endless[0], silent[0], silent[1]})
        close(fd);
    remove_directory(dir);
}

TEST(MeshSource, AnEmptyFileIsShownAsTheEmptyMeshItIs)
{
    const std::string dir = temporary_directory();
    for (const char* text : {"", "# nothing yet\n\n"}) {
        write_bytes(dir + "/empty.m", text);
        MeshSource source;
        std::string reason;
        ASSERT_TRUE(open_mesh_source(dir + "/empty.m", SourceOptions{}, source, reason)) << reason;
        EXPECT_TRUE(holds_no_mesh(source)) << text;
        EXPECT_EQ(source.converter, -1);
        close_mesh_source(source);
    }
    write_bytes(dir + "/points.m", "Vertex 1 0 0 0 {normal=(0 0 1)}\n");
    MeshSource source;
    std::string reason;
    ASSERT_TRUE(open_mesh_source(dir + "/points.m", SourceOptions{}, source, reason));
    EXPECT_TRUE(holds_no_mesh(source)) << "points alone draw nothing";
    close_mesh_source(source);
    remove_directory(dir);
}

} // namespace
