// olvanta-snapshot, run as a program: a PNG of the first frame, or a clear refusal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    const std::string base = make_text_file(""), picture = base + ".png";
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
    const std::string base = make_text_file(""), picture = base + ".png";
    const CommandRun run = snapshot("/nonexistent/mesh.txt", picture);
    EXPECT_NE(run.status, 0);
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

// A FIFO whose writer never closes: the viewer is still reading it when the time runs out.
TEST(Snapshot, SaysWhenTheViewerIsStillReadingTheMesh)
{
    const std::string fifo = make_text_file("");
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
    const std::string base = make_text_file(""), picture = base + ".png";
    const CommandRun run = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' --time-limit 3 '" + fifo +
                                       "' '" + picture + "'");
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "olvanta-snapshot: the viewer was still reading '" + fifo +
                           "' when the time limit ended (3 s)\n");
    EXPECT_FALSE(exists(picture));
    unlink(fifo.c_str());
    unlink(base.c_str());
}

TEST(Snapshot, AnswersAWrongCommandLineWithTheUsageAndStatusTwo)
{
    const std::string wrong[] = {"", "mesh.txt", "mesh.txt a.png b.png", "--style mesh.txt a.png",
                                 "--time-limit 0 mesh.txt a.png", "mesh.txt a.png --time-limit"};
    for (const std::string& words : wrong) {
        const CommandRun run = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' " + words);
        EXPECT_EQ(run.status, 2) << words;
        EXPECT_EQ(run.err.rfind("usage: olvanta-snapshot ", 0), 0u) << words << ": " << run.err;
    }
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

} // namespace
