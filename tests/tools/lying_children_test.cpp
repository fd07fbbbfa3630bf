// Confined children taken over by a hostile file lie to their parents: a flood on the report, a
// hang, a forged judgement, a forged conversion, forged pixels, words that would work a terminal.
// Each parent answers within its bounds, in bytes, time and memory, and believes nothing it cannot
// check; its own peak memory and its time under each lie are printed for the record.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "attacked_tools.h"
#include "measured_run.h"
#include "mesh_inputs.h"
#include "scratch_folder.h"
#include "test_files.h"

namespace {

const long most_parent_kib = 256 * 1024;
const int thumbnail_size = 128;
const std::size_t thumbnail_pixels = std::size_t(thumbnail_size) * thumbnail_size * 4;

const char* const import = "olvanta-convert converting 3,4,5,6";
const char* const thumbnail_judge = "olvanta-thumbnail reading 3,4";
const char* const thumbnail_draw = "olvanta-thumbnail drawing 3,4";
const char* const open_judge = "olvanta-open reading 3,4";
const char* const open_copy = "olvanta-open reading 3,4,5";
const char* const snapshot_judge = "olvanta-snapshot reading 3,4";
const char* const snapshot_read = "olvanta-snapshot reading 3,4,6";
const char* const viewer_read = "olvanta reading 3,4,6";

enum class Answer {
    refusal,  // status 1, one line of the tool's own that holds `words`, no output
    fallback, // the lie is not believed and the tool does its job another way: the output whole
    shown,    // the viewer's own end (no display): status 1, the tool's own lines hold `words`
};

struct LyingCase {
    const char* lie;
    const char* liar;    // which process lies, as role_of_this_process names it
    const char* parent;  // in words, for the record
    const char* tool;    // its program name: its own lines begin "TOOL: "
    std::vector<std::string> words_after_tool; // INPUT and OUTPUT stand for the case's files
    const char* input;
    const char* output;  // empty: the tool writes none
    Answer answer;
    const char* words;   // in the tool's own line, or in what reached standard error
    double most_seconds;
    bool through_a_fifo = false;
    std::string typed = "";
};

bool is_a_control_character(char c)
{
    return (static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f;
}

std::vector<std::string> lines_of(const std::string& text, const std::string& beginning)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        if (text.compare(at, beginning.size(), beginning) == 0)
            lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

// Whether the process `liar` said it told `lie` ("@@ PID ROLE lies: LIE").
bool lie_told(const std::string& said, const std::string& liar, const std::string& lie)
{
    const std::string ending = " lies: " + lie;
    for (const std::string& line : lines_of(said, "@@ ")) {
        const std::size_t role_at = line.find(' ', 3) + 1;
        if (line.size() > ending.size() && line.compare(line.size() - ending.size(), ending.size(), ending) == 0 &&
            who_in(line.substr(role_at, line.size() - ending.size() - role_at)) == liar)
            return true;
    }
    return false;
}

class LyingChildren : public testing::Test {
protected:
    void SetUp() override
    {
        dir = temporary_directory();
        write_inputs(dir);
        mkdir((dir + "/home").c_str(), 0700);
        display = refused_display();
        ASSERT_FALSE(display.empty()) << "no loopback port for an X display refused connections";
    }

    void TearDown() override { remove_directory(dir); }

    std::vector<std::string> command_for(const LyingCase& c, int index) const
    {
        const std::string tools = OLVANTA_CONVERT_PATH;
        const std::string folder = tools.substr(0, tools.rfind('/') + 1);
        std::vector<std::string> words = {folder + c.tool};
        for (const std::string& word : c.words_after_tool)
            words.push_back(word == "INPUT" ? input_of(c) : word == "OUTPUT" ? output_of(c, index) : word);
        return words;
    }

    std::string input_of(const LyingCase& c) const { return dir + "/" + c.input; }
    std::string output_of(const LyingCase& c, int index) const
    {
        return *c.output ? dir + "/" + std::to_string(index) + "-" + c.output : "";
    }
    std::string memory_of(int index) const { return dir + "/memory-" + std::to_string(index); }

    MeasuredRun run(const LyingCase& c, int index) const
    {
        const std::string memory = memory_of(index);
        make_probe_memory(memory, as_root());
        const std::vector<std::string> environment = {
            "PATH=/usr/bin:/bin", "HOME=" + dir + "/home", "DISPLAY=" + display, "LD_PRELOAD=" OLVANTA_LYING_CHILD,
            "ASAN_OPTIONS=verify_asan_link_order=0", "OLVANTA_PROBE_MEMORY=" + memory, "OLVANTA_PROBE_INPUT=" + input_of(c),
            std::string("OLVANTA_LIE=") + c.lie, std::string("OLVANTA_LIE_IN=") + c.liar,
            "OLVANTA_LIE_PIXELS=" + std::to_string(thumbnail_pixels)};
        pid_t writer = 0;
        if (c.through_a_fifo) {
            const std::string mesh = read_whole_file(dir + "/torus.m");
            mkfifo(input_of(c).c_str(), 0644);
            writer = fork();
            if (writer == 0) {
                const int fd = open(input_of(c).c_str(), O_WRONLY | O_CLOEXEC);
                _exit(fd >= 0 && write(fd, mesh.data(), mesh.size()) == ssize_t(mesh.size()) ? 0 : 1);
            }
        }
        const MeasuredRun measured = run_measured(command_for(c, index), environment, c.typed);
        if (writer > 0) {
            kill(writer, SIGKILL);
            waitpid(writer, nullptr, 0);
        }
        return measured;
    }

    // Each case run and checked in turn, each in its own place.
    template <std::size_t N>
    void check_each(const LyingCase (&cases)[N])
    {
        for (std::size_t i = 0; i < N; ++i)
            check(cases[i], int(i), run(cases[i], int(i)));
    }

    void check(const LyingCase& c, int index, const MeasuredRun& m)
    {
        const std::string label = std::string(c.lie) + " from " + c.liar + " to " + c.parent;
        const std::vector<std::string> own = lines_of(m.err, std::string(c.tool) + ": ");
        std::printf("%-22s | %-32s | %-26s | status %3d | VmHWM %7.1f MiB | %6.2f s | %s\n", c.lie, c.liar, c.parent,
                    m.status, double(m.peak_kib) / 1024, m.seconds, own.empty() ? "(no line of its own)" : own.back().c_str());
        const std::string said = probe_text(memory_of(index));
        EXPECT_TRUE(lie_told(said, c.liar, c.lie)) << label << ": the lie was never told; the processes that read:\n" << said;
        EXPECT_GT(m.peak_kib, 0) << label << ": no peak memory taken";
        EXPECT_LT(m.peak_kib, most_parent_kib) << label;
        EXPECT_LT(m.seconds, c.most_seconds) << label;
        EXPECT_EQ(std::find_if(m.err.begin(), m.err.end(), is_a_control_character), m.err.end())
            << label << ": a control character reached standard error:\n" << m.err;
        const std::string output = output_of(c, index);
        switch (c.answer) {
        case Answer::refusal:
            EXPECT_EQ(m.status, 1) << label << ":\n" << m.err;
            ASSERT_EQ(own.size(), 1u) << label << ":\n" << m.err;
            EXPECT_NE(own[0].find(c.words), std::string::npos) << label << ": " << own[0];
            if (!output.empty()) {
                EXPECT_NE(access(output.c_str(), F_OK), 0) << label << ": an output was left";
            }
            break;
        case Answer::fallback:
            EXPECT_EQ(m.status, 0) << label << ":\n" << m.err;
            EXPECT_EQ(read_whole_file(output).rfind(c.words, 0), 0u) << label << ": the output is whole";
            break;
        case Answer::shown:
            EXPECT_EQ(m.status, 1) << label << ":\n" << m.err;
            EXPECT_NE(m.err.find(c.words), std::string::npos) << label << ":\n" << m.err;
            break;
        }
    }

    std::string dir, display;
};

const char* const picture = "\x89PNG";

TEST_F(LyingChildren, AFloodIsCutAtTheReportsBoundAndTheParentStaysSmall)
{
    const LyingCase cases[] = {
        {"flood", import, "the converter", "olvanta-convert", {"INPUT", "OUTPUT"}, "cube.obj", "out.m", Answer::refusal,
         "said more than a conversion says", 10},
        {"flood", thumbnail_judge, "the thumbnailer", "olvanta-thumbnail", {"-s", "128", "INPUT", "OUTPUT"}, "torus.m",
         "out.png", Answer::fallback, picture, 10},
        {"flood", thumbnail_draw, "the thumbnailer", "olvanta-thumbnail", {"-s", "128", "INPUT", "OUTPUT"}, "torus.m",
         "out.png", Answer::refusal, "reading or drawing it failed", 10},
        {"flood", open_judge, "olvanta-open (then the viewer)", "olvanta-open", {"INPUT"}, "torus.m", "", Answer::shown,
         "failed to open display", 10},
        {"flood", open_copy, "olvanta-open", "olvanta-open", {"INPUT"}, "stream.m", "", Answer::refusal,
         "cannot read", 10, true},
        {"flood", snapshot_read, "olvanta-snapshot", "olvanta-snapshot", {"INPUT", "OUTPUT"}, "torus.m", "out.png",
         Answer::refusal, "failed: Protocol error", 10},
        {"flood", viewer_read, "the viewer", "olvanta", {}, "torus.m", "", Answer::shown, "failed: Protocol error", 10,
         false, dir + "/torus.m\n"},
    };
    check_each(cases);
}

// Each parent's deadline, side by side: a hang costs no processor.
TEST_F(LyingChildren, AHangEndsAtTheParentsDeadline)
{
    const LyingCase cases[] = {
        {"hang", import, "the converter (--time-limit 2)", "olvanta-convert", {"--time-limit", "2", "INPUT", "OUTPUT"},
         "cube.obj", "out.m", Answer::refusal, "gave up on", 4},
        {"hang", thumbnail_draw, "the thumbnailer (9 s)", "olvanta-thumbnail", {"-s", "128", "INPUT", "OUTPUT"}, "torus.m",
         "out.png", Answer::refusal, "it took longer than its time", 11},
        {"hang", snapshot_read, "olvanta-snapshot (--time-limit 2)", "olvanta-snapshot",
         {"--time-limit", "2", "INPUT", "OUTPUT"}, "torus.m", "out.png", Answer::refusal, "time limit ended (2 s)", 4},
    };
    std::vector<MeasuredRun> runs(std::size(cases));
    std::vector<std::thread> waiting;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        waiting.emplace_back([&, i] { runs[i] = run(cases[i], int(i)); });
    for (std::thread& t : waiting)
        t.join();
    for (std::size_t i = 0; i < std::size(cases); ++i)
        check(cases[i], int(i), runs[i]);
}

// A judgement that says "the viewer's own form" of an OBJ makes the file go to the viewer's reader
// as it is, in a confined child, which finds no record of its form in it; nothing else follows.
TEST_F(LyingChildren, AForgedJudgementOnlyMakesTheConfinedReaderReadTheFileAsItsOwnForm)
{
    const LyingCase cases[] = {
        {"judgement", open_judge, "olvanta-open (then the viewer)", "olvanta-open", {"INPUT"}, "cube.obj", "",
         Answer::shown, "failed to open display", 10},
        {"judgement", thumbnail_judge, "the thumbnailer", "olvanta-thumbnail", {"-s", "128", "INPUT", "OUTPUT"}, "cube.obj",
         "out.png", Answer::refusal, "it has no face to draw", 10},
        {"judgement", snapshot_judge, "olvanta-snapshot", "olvanta-snapshot", {"INPUT", "OUTPUT"}, "cube.obj", "out.png",
         Answer::fallback, picture, 10},
    };
    // Numbers no judgement can hold are not believed: the converter reads the file instead.
    int unbelievable_index = 10;
    for (const char* lie : {"judgement-error", "judgement-nan"})
        for (const char* parent : {thumbnail_judge, snapshot_judge}) {
            const bool thumbnail = parent == thumbnail_judge;
            const LyingCase unbelievable{lie, parent, thumbnail ? "the thumbnailer" : "olvanta-snapshot",
                                         thumbnail ? "olvanta-thumbnail" : "olvanta-snapshot",
                                         thumbnail ? std::vector<std::string>{"-s", "128", "INPUT", "OUTPUT"}
                                                   : std::vector<std::string>{"INPUT", "OUTPUT"},
                                         "cube.obj", "out.png", Answer::fallback, picture, 10};
            check(unbelievable, unbelievable_index, run(unbelievable, unbelievable_index));
            ++unbelievable_index;
        }
    int index = 0;
    for (const LyingCase& c : cases) {
        const MeasuredRun m = run(c, index);
        check(c, index, m);
        // The OBJ was read by the confined reader alone: no converter, no process unconfined.
        const std::string said = probe_text(memory_of(index));
        EXPECT_EQ(said.find(import), std::string::npos) << c.parent << ": the converter read it:\n" << said;
        EXPECT_EQ(said.find(" none "), std::string::npos) << c.parent << ": an unconfined process read it:\n" << said;
        EXPECT_EQ(lines_of(m.err, std::string(c.tool) + ": ").size(), c.answer == Answer::refusal ? 1u : 0u)
            << c.parent << ":\n" << m.err;
        ++index;
    }
}

// Counts no file of this size could give are refused before any memory is taken for them.
TEST_F(LyingChildren, ForgedCountsAreRefusedBeforeAnyListIsMade)
{
    const LyingCase cases[] = {
        {"counts", viewer_read, "the viewer", "olvanta", {}, "torus.m", "", Answer::shown, "failed: Protocol error", 10,
         false, dir + "/torus.m\n"},
        {"counts", snapshot_read, "olvanta-snapshot", "olvanta-snapshot", {"INPUT", "OUTPUT"}, "torus.m", "out.png",
         Answer::refusal, "failed: Protocol error", 10},
    };
    check_each(cases);
}

// A child may ask its parent for the files its input names; ten thousand are answered, no more.
TEST_F(LyingChildren, AChildIsAnsweredTenThousandNamesAtMost)
{
    const LyingCase c{"names", import, "the converter", "olvanta-convert", {"INPUT", "OUTPUT"}, "cube.obj", "out.m",
                      Answer::refusal, "asked for too many files", 20};
    check(c, 0, run(c, 0));
    EXPECT_NE(probe_text(memory_of(0)).find("@@ answered 10000\n"), std::string::npos) << probe_text(memory_of(0));
}

// Success needs proof: a file that grew by exactly the bytes said. Into a pipe no length can be
// seen, and the reader downstream finds nothing to draw.
TEST_F(LyingChildren, AForgedConversionIsNeverASuccess)
{
    const LyingCase cases[] = {
        {"done-miscounted", import, "the converter", "olvanta-convert", {"INPUT", "OUTPUT"}, "cube.obj", "out.m",
         Answer::refusal, "gave no proof of its work", 10},
        {"done-unwritten", import, "the converter", "olvanta-convert", {"INPUT", "OUTPUT"}, "cube.obj", "out.m",
         Answer::refusal, "gave no proof of its work", 10},
        {"done-unwritten", import, "the thumbnailer (through a pipe)", "olvanta-thumbnail", {"-s", "128", "INPUT", "OUTPUT"},
         "cube.obj", "out.png", Answer::refusal, "it has no face to draw", 10},
    };
    check_each(cases);
}

// The parent takes exactly the pixels it asked for and encodes the picture itself.
TEST_F(LyingChildren, ForgedPixelsAreRefusedOrOnlyEverPixels)
{
    const LyingCase miscounted{"pixels-miscounted", thumbnail_draw, "the thumbnailer", "olvanta-thumbnail",
                               {"-s", "128", "INPUT", "OUTPUT"}, "torus.m", "out.png", Answer::refusal,
                               "reading or drawing it failed", 10};
    check(miscounted, 0, run(miscounted, 0));
    const LyingCase not_a_picture{"pixels-not-a-picture", thumbnail_draw, "the thumbnailer", "olvanta-thumbnail",
                                  {"-s", "128", "INPUT", "OUTPUT"}, "torus.m", "out.png", Answer::fallback, picture, 10};
    check(not_a_picture, 1, run(not_a_picture, 1));
    const std::string png = read_whole_file(output_of(not_a_picture, 1));
    ASSERT_GE(png.size(), 24u);
    // IHDR's width and height, big-endian, right after the signature and the chunk's head.
    const auto number_at = [&](std::size_t at) {
        return (unsigned(static_cast<unsigned char>(png[at])) << 24) | (unsigned(static_cast<unsigned char>(png[at + 1])) << 16) |
               (unsigned(static_cast<unsigned char>(png[at + 2])) << 8) | unsigned(static_cast<unsigned char>(png[at + 3]));
    };
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(number_at(16), unsigned(thumbnail_size));
    EXPECT_EQ(number_at(20), unsigned(thumbnail_size));
    EXPECT_EQ(png.find("<script>"), std::string::npos) << "the child's bytes went out as they were";
}

// A failure's words that would retitle, clear and write the clipboard of a terminal reach it as
// text, in one line.
TEST_F(LyingChildren, ControlCharactersInAReportReachNobodyAsThemselves)
{
    const LyingCase cases[] = {
        {"control-characters", import, "the converter", "olvanta-convert", {"INPUT", "OUTPUT"}, "cube.obj", "out.m",
         Answer::refusal, "\\033]0;owned", 10},
        {"control-characters", thumbnail_draw, "the thumbnailer", "olvanta-thumbnail", {"-s", "128", "INPUT", "OUTPUT"},
         "torus.m", "out.png", Answer::refusal, "\\033]0;owned", 10},
    };
    check_each(cases);
}

} // namespace
