// The real viewer opening a mesh that another program keeps truncating and rewriting, as an
// exporter does while it saves: every start must reach its window, whatever it read.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "real_viewer.h"

namespace {

// Rewrites the file for ever: emptied, written back in pieces, now and then cut to a random size.
pid_t start_rewriting(const std::string& path, const std::string& content)
{
    const pid_t pid = fork();
    if (pid == 0) {
        std::mt19937 random(4242);
        const int fd = open(path.c_str(), O_WRONLY);
        const std::size_t piece = 1 << 16;
        for (;;) {
            if (ftruncate(fd, 0) != 0)
                _exit(1);
            for (std::size_t at = 0; at < content.size(); at += piece) {
                const std::size_t length = std::min(piece, content.size() - at);
                if (pwrite(fd, content.data() + at, length, off_t(at)) != ssize_t(length))
                    _exit(1);
            }
            if (random() % 2 == 0 && ftruncate(fd, off_t(random() % content.size())) != 0)
                _exit(1);
        }
    }
    return pid;
}

TEST_F(RealViewer, EveryStartOnAFileRewrittenMeanwhileOpensItsWindow)
{
    const std::string mesh = make_torus_file(1.0, 0.35, 300, 300); // 13 MB: read in parts
    const std::string content = read_whole_file(mesh);
    ASSERT_GT(content.size(), 8u << 20);
    const pid_t writer = start_rewriting(mesh, content);
    const int starts = 12;
    int windows = 0, told_of_change = 0;
    for (int i = 0; i < starts; ++i) {
        const ViewerRun viewer = launch_viewer(server.display_name, mesh + "\n");
        const Window opened = find_window(display, "Olvanta", 20000);
        int status = 0;
        const bool still_running = waitpid(viewer.pid, &status, WNOHANG) == 0;
        EXPECT_TRUE(still_running) << "start " << i << " ended"
                                   << (WIFSIGNALED(status) ? " by signal " + std::to_string(WTERMSIG(status)) : "");
        windows += opened && still_running ? 1 : 0;
        stop_process(viewer.pid);
        const std::string said = read_whole_file(viewer.err_path);
        told_of_change += said.find("changed while it was read") != std::string::npos ? 1 : 0;
        EXPECT_EQ(said.find("failed"), std::string::npos) << said;
        unlink(viewer.out_path.c_str());
        unlink(viewer.err_path.c_str());
        XSync(display, False);
        pause_ms(100); // the window has gone before the next start looks for one
    }
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(windows, starts);
    EXPECT_GT(told_of_change, 0) << "the file changed under some of the readings, and they said so";
    unlink(mesh.c_str());
}

} // namespace
