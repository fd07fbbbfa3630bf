// olvanta-snapshot, run as a program: a PNG of the first frame, or a clear refusal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "../window/x_harness.h"
#include "png_file.h"
#include "test_files.h"

namespace {

CommandRun snapshot(const std::string& mesh, const std::string& picture)
{
    return run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' '" + mesh + "' '" + picture + "'");
}

bool exists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

TEST(Snapshot, WritesTheFirstFrameAsA650By650Png)
{
    const std::string mesh = make_torus_file(1.0, 0.35, 24, 12);
    const std::string base = write_temporary_file(""), picture = base + ".png";
    const CommandRun run = snapshot(mesh, picture);
    ASSERT_EQ(run.status, 0) << run.err;
    Image image;
    ASSERT_TRUE(read_png(picture, image));
    EXPECT_EQ(image.width, 650);
    EXPECT_EQ(image.height, 650);
    const Rgb background{230, 230, 230};
    for (const auto& [x, y] : {std::pair{2, 2}, std::pair{647, 2}})
        EXPECT_TRUE(near_colour(image.at(x, y), background, 2)) << x << "," << y;
    EXPECT_GT(count_colour(image, {255, 0, 0}), 5000) << "the mesh shows in red";
    unlink(picture.c_str());
    unlink(base.c_str());
    unlink(mesh.c_str());
}

TEST(Snapshot, RefusesAMissingMeshFileAndWritesNoPicture)
{
    const std::string base = write_temporary_file(""), picture = base + ".png";
    const CommandRun run = snapshot("/nonexistent/mesh.txt", picture);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "olvanta-snapshot: cannot open '/nonexistent/mesh.txt': No such file or directory\n");
    EXPECT_FALSE(exists(picture));
    unlink(base.c_str());
}

// A disk that fills up half way: the earlier picture stays, nothing is left behind, and the
// message gives the system's reason.
TEST(Snapshot, AFailedWriteKeepsTheEarlierPictureAndSaysWhy)
{
    const std::string mesh = make_torus_file(1.0, 0.35, 24, 12);
    char dir_template[] = "/tmp/olvanta-snapshot-test-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    const std::string picture = dir + "/keep.png";
    const std::string earlier = "an earlier picture";
    std::FILE* out = std::fopen(picture.c_str(), "w");
    std::fputs(earlier.c_str(), out);
    std::fclose(out);
    // 40 blocks of 512 bytes: room for what the private X server writes, not for the picture.
    const CommandRun run = run_command("ulimit -f 40; '" + std::string(OLVANTA_SNAPSHOT_PATH) + "' '" + mesh +
                                       "' '" + picture + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "olvanta-snapshot: cannot write '" + picture + "': File too large\n");
    EXPECT_EQ(read_whole_file(picture), earlier);
    EXPECT_EQ(std::system(("test \"$(ls -A '" + dir + "')\" = keep.png").c_str()), 0) << "no temporary file";
    std::system(("rm -rf '" + dir + "'").c_str());
    unlink(mesh.c_str());
}

// A FIFO whose writer never closes: the mesh is still being read when the time runs out.
TEST(Snapshot, SaysWhenTheMeshIsStillBeingRead)
{
    const std::string fifo = write_temporary_file("");
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        signal(SIGPIPE, SIG_IGN);
        const int fd = open(fifo.c_str(), O_WRONLY);
        const std::string start = "Vertex 1 0 0 0 {normal=(0 0 1)}\n";
        if (write(fd, start.data(), start.size()) < 0)
            _exit(1);
        pause();
        _exit(0);
    }
    const std::string base = write_temporary_file(""), picture = base + ".png";
    const CommandRun run = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' --time-limit 3 '" + fifo +
                                       "' '" + picture + "'");
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "olvanta-snapshot: '" + fifo + "' was still being read when the time limit ended (3 s)\n");
    EXPECT_FALSE(exists(picture));
    unlink(fifo.c_str());
    unlink(base.c_str());
}

struct WrongCase {
    std::string words;
    std::string reason; // the line before the usage
};

TEST(Snapshot, AnswersAWrongCommandLineWithTheReasonTheUsageAndStatusTwo)
{
    const WrongCase cases[] = {
        {"", "a mesh and a picture to write are needed"},
        {"mesh.txt", "a mesh and a picture to write are needed"},
        {"mesh.txt a.png b.png", "a mesh and a picture to write are needed"},
        {"--colour red mesh.txt a.png", "unknown option --colour"},
        {"mesh.txt a.png --style", "--style needs a value"},
        {"--style shaded mesh.txt a.png", "wrong value 'shaded' for --style"},
        {"--lighting yes mesh.txt a.png", "wrong value 'yes' for --lighting"},
        {"--projection parallel mesh.txt a.png", "wrong value 'parallel' for --projection"},
        {"--hide grid mesh.txt a.png", "wrong value 'grid' for --hide"},
        {"--hide ground,,box mesh.txt a.png", "wrong value 'ground,,box' for --hide"},
        {"--turn 10,20 mesh.txt a.png", "wrong value '10,20' for --turn"},
        {"--turn 10,20,nan mesh.txt a.png", "wrong value '10,20,nan' for --turn"},
        {"--turn 0,0,361 mesh.txt a.png", "wrong value '0,0,361' for --turn"},
        {"--zoom 0 mesh.txt a.png", "wrong value '0' for --zoom"},
        {"--zoom -2 mesh.txt a.png", "wrong value '-2' for --zoom"},
        {"--zoom 1e-50 mesh.txt a.png", "wrong value '1e-50' for --zoom"},
        {"--pan 1,2,x mesh.txt a.png", "wrong value '1,2,x' for --pan"},
        {"--turntable 0 mesh.txt a.png", "wrong value '0' for --turntable"},
        {"--turntable 2.5 mesh.txt a.png", "wrong value '2.5' for --turntable"},
        {"--size 8 mesh.txt a.png", "wrong value '8' for --size"},
        {"--size 5000 mesh.txt a.png", "wrong value '5000' for --size"},
        {"--time-limit 0 mesh.txt a.png", "wrong value '0' for --time-limit"},
    };
    for (const WrongCase& c : cases) {
        const CommandRun run = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' " + c.words);
        EXPECT_EQ(run.status, 2) << c.words;
        const std::string first_line = "olvanta-snapshot: " + c.reason + "\n";
        EXPECT_EQ(run.err.substr(0, first_line.size()), first_line) << c.words;
        EXPECT_NE(run.err.find("usage: olvanta-snapshot "), std::string::npos) << c.words;
        EXPECT_EQ(run.out, "") << c.words;
    }
}

TEST(Snapshot, HelpAndVersionGoToStandardOutput)
{
    const CommandRun help = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' --help");
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--style", "--lighting", "--projection", "--hide", "--turn", "--zoom", "--pan",
                               "--turntable", "--size", "--time-limit"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    const CommandRun version = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("olvanta-snapshot ", 0), 0u);
}

// The turntable turns about Z in equal steps from the given angles, one picture each; its first
// picture is the plain picture at those angles.
TEST(Snapshot, TurntableStartsWithThePlainPictureAndTurnsOn)
{
    const std::string mesh = make_torus_file(1.0, 0.35, 24, 12);
    char dir_template[] = "/tmp/olvanta-snapshot-test-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    const std::string options = "--size 200 --turn -60,0,30 --style flat ";
    const CommandRun plain = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' " + options + "'" + mesh +
                                         "' '" + dir + "/plain.png'");
    const CommandRun turntable = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' " + options +
                                             "--turntable 4 '" + mesh + "' '" + dir + "/turn.png'");
    const CommandRun quarter = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' --size 200 --turn -60,0,120 "
                                           "--style flat '" + mesh + "' '" + dir + "/quarter.png'");
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(turntable.status, 0) << turntable.err;
    ASSERT_EQ(quarter.status, 0) << quarter.err;
    EXPECT_EQ(turntable.out, "olvanta-snapshot: wrote " + dir + "/turn-001.png to " + dir +
                                 "/turn-004.png (4 pictures of 200 x 200) of " + mesh + "\n");
    Image first, second, fourth, plain_image, quarter_image;
    ASSERT_TRUE(read_png(dir + "/turn-001.png", first));
    ASSERT_TRUE(read_png(dir + "/turn-002.png", second));
    ASSERT_TRUE(read_png(dir + "/turn-004.png", fourth));
    ASSERT_TRUE(read_png(dir + "/plain.png", plain_image));
    ASSERT_TRUE(read_png(dir + "/quarter.png", quarter_image));
    EXPECT_EQ(first.width, 200);
    EXPECT_TRUE(first == plain_image) << "the first picture is the plain one";
    EXPECT_TRUE(second == quarter_image) << "the second has turned a quarter about Z";
    EXPECT_FALSE(fourth == first);
    std::system(("rm -rf '" + dir + "'").c_str());
    unlink(mesh.c_str());
}

// Options change the picture as the menu would: a few probes of what each one does.
TEST(Snapshot, OptionsSetWhatTheMenuAndMouseSet)
{
    const std::string mesh = make_torus_file(1.0, 0.35, 10, 6); // a sparse wireframe
    auto picture = [&](const std::string& options) {
        const std::string path = write_temporary_file("") + ".png";
        const CommandRun run =
            run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' " + options + " '" + mesh + "' '" + path + "'");
        Image image;
        EXPECT_EQ(run.status, 0) << options << ": " << run.err;
        EXPECT_TRUE(read_png(path, image)) << options;
        unlink(path.c_str());
        return image;
    };
    const Image plain = picture("");
    EXPECT_GT(count_colour(plain, grid_grey, 3), 1000);
    EXPECT_EQ(count_colour(picture("--hide ground"), grid_grey, 3), 0);
    EXPECT_EQ(count_colour(picture("--hide box"), box_blue, 10), 0);
    EXPECT_EQ(count_colour(picture("--hide axes"), axis_yellow, 10), 0);
    EXPECT_GT(count_colour(picture("--style flat"), mesh_red), 2 * count_colour(plain, mesh_red));
    EXPECT_LT(count_colour(picture("--zoom 0.5"), mesh_red), count_colour(plain, mesh_red) / 2);
    EXPECT_LT(count_colour(picture("--style smooth --lighting on"), mesh_red, 10), 100) << "lit, not plain red";
    const Image small = picture("--size 100");
    EXPECT_EQ(small.width, 100);
    EXPECT_EQ(small.height, 100);
    unlink(mesh.c_str());
}

TEST(Snapshot, TellsWhetherTheNamedDisplayCanOpenAWindow)
{
    const XServer server = start_xvfb();
    ASSERT_GT(server.pid, 0) << server.failure;
    const std::string check = "'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' --can-open-display";
    const int reachable = std::system(("DISPLAY=" + server.display_name + " " + check).c_str());
    const int unreachable = std::system(("DISPLAY=:32767 " + check + " 2>/dev/null").c_str());
    stop_process(server.pid);
    EXPECT_EQ(WEXITSTATUS(reachable), 0);
    EXPECT_EQ(WEXITSTATUS(unreachable), 1);
}

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};

Box box_of_colour(const Image& image, Rgb colour)
{
    Box b;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (near_colour(image.at(x, y), colour, 40)) {
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
            }
    return b;
}

// --size scales what is drawn, in both directions alike: the model's extent in a small picture
// is its extent in the window's, scaled.
TEST(Snapshot, SizeScalesTheDrawingInBothDirections)
{
    const std::string mesh = make_torus_file(1.0, 0.35, 24, 12);
    const std::string base = write_temporary_file("");
    const std::string large = base + "-650.png", small = base + "-200.png";
    const std::string tool = "'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' --style flat --hide ground,axes,box ";
    ASSERT_EQ(run_command(tool + "'" + mesh + "' '" + large + "'").status, 0);
    ASSERT_EQ(run_command(tool + "--size 200 '" + mesh + "' '" + small + "'").status, 0);
    Image a, b;
    ASSERT_TRUE(read_png(large, a));
    ASSERT_TRUE(read_png(small, b));
    const Box big = box_of_colour(a, {255, 0, 0}), little = box_of_colour(b, {255, 0, 0});
    ASSERT_GE(big.right, 0);
    ASSERT_GE(little.right, 0);
    const double scale = 200.0 / 650.0;
    EXPECT_NEAR(little.left, big.left * scale, 3);
    EXPECT_NEAR(little.right, big.right * scale, 3);
    EXPECT_NEAR(little.top, big.top * scale, 3);
    EXPECT_NEAR(little.bottom, big.bottom * scale, 3);
    for (const std::string& path : {large, small, base})
        unlink(path.c_str());
    unlink(mesh.c_str());
}

} // namespace
