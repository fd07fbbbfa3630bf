// olvanta-open, run as a person runs it: every file, however it comes, reaches the window whole
// and in view; GLUT options reach the viewer, and nothing is left behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "png_file.h"
#include "scratch_folder.h"
#include "test_files.h"
#include "torus_texts.h"
#include "x_harness.h"

namespace {

// olvanta-open run as a person runs it, from a shell (a command line of its own, in a session of
// its own so that every process of a pipe can be ended), with the display of the test's Xvfb.
pid_t start_in_shell(const std::string& display, const std::string& command, const std::string& err)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        setenv("DISPLAY", display.c_str(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS"); // no desktop notices from these runs
        unsetenv("XDG_RUNTIME_DIR");
        freopen(err.c_str(), "w", stderr);
        freopen("/dev/null", "w", stdout);
        execl("/bin/bash", "bash", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void end_session(pid_t pid)
{
    kill(-pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

std::string replaced(std::string text, const std::string& word, const std::string& by)
{
    for (std::size_t at; (at = text.find(word)) != std::string::npos;)
        text.replace(at, word.size(), by);
    return text;
}

std::string quoted(const std::string& path)
{
    return "'" + path + "'";
}

class OpenedFile : public testing::Test {
protected:
    void SetUp() override
    {
        server = start_xvfb();
        ASSERT_GT(server.pid, 0) << server.failure;
        display = XOpenDisplay(server.display_name.c_str());
        ASSERT_NE(display, nullptr);
        dir = temporary_directory();
    }

    void TearDown() override
    {
        if (display)
            XCloseDisplay(display);
        stop_process(server.pid);
        remove_directory(dir);
    }

    // The picture the snapshot tool makes of a mesh file: the viewer's first frame of it.
    Image snapshot_of(const std::string& mesh)
    {
        const std::string picture = dir + "/expected.png";
        const CommandRun run = run_command(quoted(OLVANTA_SNAPSHOT_PATH) + " " + quoted(mesh) + " " + quoted(picture));
        Image image;
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(read_png(picture, image)) << mesh;
        return image;
    }

    // The converter's reading of a file, as a copy in the viewer's form.
    std::string converted(const std::string& file, const std::string& options)
    {
        const std::string copy = dir + "/copy-" + std::to_string(++copies) + ".txt";
        const CommandRun run = run_command(quoted(OLVANTA_CONVERT_PATH) + " " + options + " " + quoted(file) + " " + quoted(copy));
        EXPECT_EQ(run.status, 0) << run.err;
        return copy;
    }

    void wait_until_no_window()
    {
        for (int waited = 0; waited < 5000 && !viewable_windows_named(display, "Olvanta").empty(); waited += 50)
            pause_ms(50);
        EXPECT_TRUE(viewable_windows_named(display, "Olvanta").empty()) << "the viewer ended with olvanta-open";
    }

    XServer server;
    Display* display = nullptr;
    std::string dir;
    int copies = 0;
};

// Every way a person opens a file shows the whole file, in view: the window is, pixel for pixel,
// the first frame of the converter's reading of it (fitted where the file lies out of view).
TEST_F(OpenedFile, ShowsTheWholeFileInViewWhateverWayItComes)
{
    TorusPlace here, far_obj, far_strict, far_raw;
    far_obj.across = 160, far_obj.centre[0] = 380;
    far_strict.across = 160, far_strict.centre[1] = -380;
    far_raw.across = 179, far_raw.centre[0] = 200, far_raw.centre[2] = 188;
    write_bytes(dir + "/torus.m", torus_text(TorusForm::strict, here));
    write_bytes(dir + "/raw.m", torus_text(TorusForm::raw_family, here));
    write_bytes(dir + "/far.obj", torus_text(TorusForm::obj, far_obj));
    write_bytes(dir + "/far.m", torus_text(TorusForm::strict, far_strict));
    write_bytes(dir + "/far-raw.m", torus_text(TorusForm::raw_family, far_raw));
    write_bytes(dir + "/quads.m", strict_megabyte_then("quads"));
    write_bytes(dir + "/late-raw.m", strict_megabyte_then("no normals"));
    write_bytes(dir + "/empty.m", "");
    ASSERT_EQ(mkfifo((dir + "/a fifo.m").c_str(), 0600), 0);
    const std::string fitted = "it is shown moved and scaled into view (--as-is shows it as it lies)";
    const std::string converted_line = "is not in the viewer's own form; it is converted on the way";
    const struct {
        const char* name;
        std::string command; // {open} is olvanta-open, {dir} the folder
        std::string expected; // the mesh whose first frame the window shows
        std::vector<std::string> said; // on standard error; none at all when empty
    } cases[] = {
        {"strict_in_view", "exec {open} '{dir}/torus.m'", dir + "/torus.m", {}},
        {"obj_far_away", "exec {open} '{dir}/far.obj'", converted(dir + "/far.obj", "--fit"),
         {converted_line, "'" + dir + "/far.obj': the model is 160 units across and its centre lies 380 units", fitted}},
        {"strict_far_away", "exec {open} '{dir}/far.m'", converted(dir + "/far.m", "--fit"), {fitted}},
        {"another_writers_far_away", "exec {open} '{dir}/far-raw.m'", converted(dir + "/far-raw.m", "--fit"),
         {converted_line, "179 units across", fitted}},
        {"as_is", "exec {open} --as-is '{dir}/far.obj'", converted(dir + "/far.obj", ""), {converted_line}},
        {"quads_after_a_megabyte", "exec {open} '{dir}/quads.m'", converted(dir + "/quads.m", ""), {converted_line}},
        {"vertices_without_normals_after_a_megabyte", "exec {open} '{dir}/late-raw.m'", converted(dir + "/late-raw.m", ""),
         {converted_line}},
        {"standard_input_from_a_file", "exec {open} /dev/stdin < '{dir}/torus.m'", dir + "/torus.m", {}},
        {"standard_input_from_a_pipe", "cat '{dir}/far.obj' | {open} /dev/stdin", converted(dir + "/far.obj", "--fit"),
         {"'/dev/stdin' " + converted_line, fitted}},
        {"process_substitution", "exec {open} <(cat '{dir}/raw.m')", converted(dir + "/raw.m", ""), {converted_line}},
        {"fifo_with_a_blank", "cat '{dir}/torus.m' > '{dir}/a fifo.m' & exec {open} '{dir}/a fifo.m'", dir + "/torus.m", {}},
        {"obj_through_a_fifo", "cat '{dir}/far.obj' > '{dir}/a fifo.m' & exec {open} '{dir}/a fifo.m'",
         converted(dir + "/far.obj", "--fit"), {"'" + dir + "/a fifo.m' " + converted_line, fitted}},
        {"obj_through_a_descriptor", "exec {open} /dev/fd/7 7< '{dir}/far.obj'", converted(dir + "/far.obj", "--fit"),
         {"'/dev/fd/7' " + converted_line, fitted}},
        {"empty_file", "exec {open} '{dir}/empty.m'", dir + "/empty.m", {"'" + dir + "/empty.m' holds no mesh"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Image expected = snapshot_of(c.expected);
        const std::string err = dir + "/err.txt";
        const std::string command = replaced(replaced(c.command, "{open}", quoted(OLVANTA_OPEN_PATH)), "{dir}", dir);
        const pid_t run = start_in_shell(server.display_name, command, err);
        const Window window = find_window(display, "Olvanta", 30000);
        ASSERT_NE(window, 0u) << read_whole_file(err);
        const Image shown = wait_for_first_frame(display, window, background);
        const std::size_t differing = differing_pixels(shown, expected);
        EXPECT_EQ(differing, 0u) << "pixels that differ from the converter's reading";
        if (differing)
            save_ppm(shown, std::string("/tmp/olvanta-open-") + c.name + ".ppm");
        const std::string said = read_whole_file(err);
        for (const std::string& words : c.said)
            EXPECT_NE(said.find(words), std::string::npos) << "'" << words << "' in:\n" << said;
        EXPECT_TRUE(!c.said.empty() || said.empty()) << said;
        end_session(run);
        wait_until_no_window();
    }
}

// Converted on the way, nothing is written anywhere: not in TMPDIR, not beside the file; and GLUT
// options reach the viewer.
TEST_F(OpenedFile, ConvertsThroughAPipeAndLeavesNothingBehind)
{
    const std::string scratch = temporary_directory();
    write_bytes(dir + "/torus.m", torus_text(TorusForm::raw_family, TorusPlace{}));
    const std::string err = dir + "/err.txt";
    const pid_t run = start_in_shell(":0", "TMPDIR='" + scratch + "' exec " + quoted(OLVANTA_OPEN_PATH) + " -display " +
                                               server.display_name + " '" + dir + "/torus.m'", err);
    const Window window = find_window(display, "Olvanta", 20000);
    ASSERT_NE(window, 0u) << read_whole_file(err);
    const Image frame = wait_for_first_frame(display, window, background);
    EXPECT_GT(count_colour(frame, mesh_red), 3000) << "the torus shows";
    EXPECT_EQ(read_whole_file(err), "olvanta-open: '" + dir + "/torus.m' is not in the viewer's own form; it is "
                                    "converted on the way, and no file is written\n");
    end_session(run);
    wait_until_no_window();
    EXPECT_EQ(directory_entries(scratch), std::vector<std::string>{}) << "nothing in TMPDIR";
    EXPECT_EQ(directory_entries(dir), (std::vector<std::string>{"err.txt", "torus.m"}));
    remove_directory(scratch);
}

// A raw family file and an OBJ give the very picture of their converted copies.
// The snapshot tool pictures the whole file, as the converter reads it, of any form; with --fit, a
// model out of view as olvanta-open shows it; an empty file, as the empty scene the viewer shows.
TEST(OlvantaOpen, SnapshotsOfAnyFormEqualThoseOfTheConvertedCopy)
{
    const std::string dir = temporary_directory();
    TorusPlace far;
    far.across = 160, far.centre[0] = 380;
    write_bytes(dir + "/torus.m", torus_text(TorusForm::raw_family, TorusPlace{}));
    write_bytes(dir + "/cube.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
                                   "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n");
    write_bytes(dir + "/quads.m", strict_megabyte_then("quads"));
    write_bytes(dir + "/late-raw.m", strict_megabyte_then("no normals"));
    write_bytes(dir + "/far.obj", torus_text(TorusForm::obj, far));
    const struct {
        const char* name;
        const char* options; // for both the snapshot and the converter
        const char* said;    // the line about the model, when there is one
    } cases[] = {
        {"torus.m", "", ""},
        {"cube.obj", "", ""},
        {"quads.m", "", ""},
        {"late-raw.m", "", ""},
        {"far.obj", "--fit", "it is shown moved and scaled into view"},
    };
    for (const auto& c : cases) {
        const std::string input = dir + "/" + c.name, copy = dir + "/copy.txt";
        ASSERT_EQ(run_command("'" + std::string(OLVANTA_CONVERT_PATH) + "' " + c.options + " '" + input + "' '" + copy +
                              "'").status, 0);
        const std::string tool = "'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' --style smooth --lighting on ";
        const CommandRun raw = run_command(tool + c.options + " '" + input + "' '" + dir + "/raw.png'");
        const CommandRun converted = run_command(tool + "'" + copy + "' '" + dir + "/converted.png'");
        ASSERT_EQ(raw.status, 0) << raw.err;
        ASSERT_EQ(converted.status, 0) << converted.err;
        EXPECT_NE(raw.err.find(c.said), std::string::npos) << c.name << ": " << raw.err;
        Image a, b;
        ASSERT_TRUE(read_png(dir + "/raw.png", a));
        ASSERT_TRUE(read_png(dir + "/converted.png", b));
        EXPECT_TRUE(a == b) << c.name << ": pixel for pixel";
        EXPECT_GT(count_colour(a, background, 3), 1000) << c.name;
        EXPECT_LT(count_colour(a, background, 3), 650 * 650 - 2000) << c.name << ": the model shows";
    }
    write_bytes(dir + "/empty.m", "");
    const CommandRun empty = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' '" + dir + "/empty.m' '" + dir +
                                         "/empty.png'");
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(empty.err, "olvanta-snapshot: '" + dir + "/empty.m' holds no mesh; the picture shows an empty scene\n");
    Image scene;
    ASSERT_TRUE(read_png(dir + "/empty.png", scene));
    EXPECT_EQ(count_colour(scene, mesh_red, 40), 0) << "no mesh";
    EXPECT_GT(count_colour(scene, grid_grey, 10), 1000) << "the grid";
    remove_directory(dir);
}

TEST(OlvantaOpen, AnswersHelpVersionAndAMissingFile)
{
    const std::string tool = "'" + std::string(OLVANTA_OPEN_PATH) + "'";
    const CommandRun help = run_command(tool + " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: olvanta-open [--as-is] [GLUT OPTIONS] FILE\n", 0), 0u);
    const CommandRun version = run_command(tool + " --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("olvanta-open ", 0), 0u);
    for (const char* wrong : {"", " -display :1"}) {
        const CommandRun run = run_command(tool + wrong);
        EXPECT_EQ(run.status, 2) << wrong;
        EXPECT_EQ(run.err.rfind("olvanta-open: a FILE to show is needed, after any GLUT options\nusage: ", 0), 0u) << run.err;
    }
}

} // namespace
