// olvanta-snapshot, run as a program: a PNG of the first frame, or a clear refusal.
#include <gtest/gtest.h>

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
