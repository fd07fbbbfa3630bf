// olvanta-open, run as a person runs it: a file of the family that the viewer cannot read as it is
// reaches the window all the same, GLUT options reach the viewer, and nothing is left behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "png_file.h"
#include "scratch_folder.h"
#include "test_files.h"
#include "x_harness.h"

namespace {

// The torus as most of the family's writers write it: no normal parts, vertices named 10 i + 3.
std::string raw_family_torus()
{
    std::istringstream strict(read_whole_file(make_torus_file(1.0, 0.35, 24, 12)));
    std::string raw = "# written without normals\n", word;
    for (std::string line; std::getline(strict, line);) {
        std::istringstream fields(line);
        fields >> word;
        if (word == "Vertex") {
            long number;
            std::string x, y, z;
            fields >> number >> x >> y >> z;
            raw += "Vertex " + std::to_string(10 * number + 3) + " " + x + " " + y + " " + z + "\n";
        } else if (word == "Face") {
            long number, a, b, c;
            fields >> number >> a >> b >> c;
            raw += "Face " + std::to_string(number) + " " + std::to_string(10 * a + 3) + " " + std::to_string(10 * b + 3) +
                   " " + std::to_string(10 * c + 3) + "\n";
        }
    }
    return raw;
}

TEST(OlvantaOpen, ShowsARawFamilyFileAndLeavesNothingBehind)
{
    const XServer server = start_xvfb();
    ASSERT_GT(server.pid, 0) << server.failure;
    Display* display = XOpenDisplay(server.display_name.c_str());
    ASSERT_NE(display, nullptr);
    const std::string dir = temporary_directory(), scratch = temporary_directory();
    write_bytes(dir + "/torus.m", raw_family_torus());
    const std::string err = dir + "/err.txt";
    const pid_t open = fork();
    if (open == 0) {
        setenv("TMPDIR", scratch.c_str(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        unsetenv("DISPLAY");
        freopen(err.c_str(), "w", stderr);
        freopen("/dev/null", "w", stdout);
        // The display comes as a GLUT option, which must reach the viewer.
        execl(OLVANTA_OPEN_PATH, OLVANTA_OPEN_PATH, "-display", server.display_name.c_str(),
              (dir + "/torus.m").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const Window window = find_window(display, "Olvanta", 20000);
    ASSERT_NE(window, 0u) << read_whole_file(err);
    const Image frame = wait_for_first_frame(display, window, background);
    EXPECT_GT(count_colour(frame, mesh_red), 3000) << "the torus shows";
    EXPECT_EQ(read_whole_file(err), "olvanta-open: '" + dir + "/torus.m' is not in the viewer's own form; it is "
                                     "converted on the way, and no file is written\n");
    kill(open, SIGTERM);
    int status = 0;
    waitpid(open, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) || WIFEXITED(status));
    bool gone = false;
    for (int waited = 0; waited < 5000 && !gone; waited += 50) {
        gone = viewable_windows_named(display, "Olvanta").empty();
        pause_ms(50);
    }
    EXPECT_TRUE(gone) << "the viewer ended with it";
    EXPECT_EQ(directory_entries(scratch), std::vector<std::string>{}) << "nothing in TMPDIR";
    EXPECT_EQ(directory_entries(dir), (std::vector<std::string>{"err.txt", "torus.m"}));
    XCloseDisplay(display);
    stop_process(server.pid);
    remove_directory(dir);
    remove_directory(scratch);
}

// A raw family file and an OBJ give the very picture of their converted copies.
TEST(OlvantaOpen, SnapshotsOfAnyFormEqualThoseOfTheConvertedCopy)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/torus.m", raw_family_torus());
    write_bytes(dir + "/cube.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
                                   "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n");
    for (const std::string name : {"torus.m", "cube.obj"}) {
        const std::string input = dir + "/" + name, copy = dir + "/copy.txt";
        ASSERT_EQ(run_command("'" + std::string(OLVANTA_CONVERT_PATH) + "' '" + input + "' '" + copy + "'").status, 0);
        const std::string tool = "'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' --style smooth --lighting on ";
        const CommandRun raw = run_command(tool + "'" + input + "' '" + dir + "/raw.png'");
        const CommandRun converted = run_command(tool + "'" + copy + "' '" + dir + "/converted.png'");
        ASSERT_EQ(raw.status, 0) << raw.err;
        ASSERT_EQ(converted.status, 0) << converted.err;
        Image a, b;
        ASSERT_TRUE(read_png(dir + "/raw.png", a));
        ASSERT_TRUE(read_png(dir + "/converted.png", b));
        EXPECT_TRUE(a == b) << name << ": pixel for pixel";
        EXPECT_GT(count_colour(a, background, 3), 1000) << name;
        EXPECT_LT(count_colour(a, background, 3), 650 * 650 - 2000) << name << ": the model shows";
    }
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
