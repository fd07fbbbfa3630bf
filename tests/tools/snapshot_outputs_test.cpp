// olvanta-snapshot's outputs and endings: pictures through open descriptors, never over the mesh,
// and nothing left behind (no X server, no socket, no temporary file) however the tool ends.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "../window/x_harness.h"
#include "png_file.h"
#include "scratch_folder.h"
#include "test_files.h"

namespace {

const std::string tool = OLVANTA_SNAPSHOT_PATH;

std::string quoted(const std::string& word)
{
    return "'" + word + "'";
}

// The processes whose parent is `parent`, by reading each one's stat line.
std::vector<pid_t> children_of(pid_t parent)
{
    std::vector<pid_t> children;
    DIR* processes = opendir("/proc");
    while (dirent* entry = processes ? readdir(processes) : nullptr) {
        const std::string stat_line = read_whole_file("/proc/" + std::string(entry->d_name) + "/stat");
        const std::size_t after_name = stat_line.rfind(')');
        int ppid = 0;
        char state = 0;
        if (after_name != std::string::npos &&
            std::sscanf(stat_line.c_str() + after_name + 1, " %c %d", &state, &ppid) == 2 && ppid == parent)
            children.push_back(pid_t(std::atoi(entry->d_name)));
    }
    if (processes)
        closedir(processes);
    return children;
}

bool alive(pid_t pid)
{
    const std::string stat_line = read_whole_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t after_name = stat_line.rfind(')');
    return after_name != std::string::npos && stat_line.compare(after_name + 2, 1, "Z") != 0;
}

// The paths of the sockets in /tmp/.X11-unix that process `pid` holds open: its own display's,
// whatever other servers on the machine come and go meanwhile.
std::set<std::string> x_sockets_of(pid_t pid)
{
    std::set<std::string> inodes;
    const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    for (const std::string& fd : directory_entries(fd_dir)) {
        char target[64] = {};
        if (readlink((fd_dir + "/" + fd).c_str(), target, sizeof target - 1) > 0 &&
            std::strncmp(target, "socket:[", 8) == 0)
            inodes.insert(std::string(target + 8, std::strlen(target) - 9));
    }
    std::set<std::string> paths;
    const std::string table = read_whole_file("/proc/net/unix");
    for (std::size_t at = 0; at < table.size();) {
        const std::size_t end = std::min(table.find('\n', at), table.size());
        char inode[32] = {}, path[256] = {};
        if (std::sscanf(table.c_str() + at, "%*s %*s %*s %*s %*s %*s %31s %255s", inode, path) == 2 &&
            inodes.count(inode) && std::strncmp(path, "/tmp/.X11-unix/", 15) == 0)
            paths.insert(path);
        at = end + 1;
    }
    return paths;
}

bool exists(const std::string& path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

template <typename Condition>
bool within(int timeout_ms, Condition condition)
{
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (!before_deadline(start, timeout_ms))
            return false;
        pause_ms(20);
    }
    return true;
}

// Killed in the middle of a turntable by any signal, the tool takes its X server with it (the
// server removes its socket as it goes), and leaves only whole pictures.
TEST(SnapshotEndings, KilledItLeavesNoServerNoSocketAndNoTemporaryFile)
{
    const std::string mesh = make_torus_file(1.0, 0.35, 24, 12);
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        const std::string dir = temporary_directory(), base = dir + "/turn.png";
        const pid_t snapshot = fork();
        if (snapshot == 0) {
            execl(tool.c_str(), tool.c_str(), "--turntable", "300", "--size", "300", mesh.c_str(), base.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        std::vector<pid_t> servers;
        ASSERT_TRUE(within(20000, [&] {
            servers = children_of(snapshot);
            return !servers.empty() && !directory_entries(dir).empty();
        })) << "the turntable is under way";
        std::set<std::string> sockets;
        ASSERT_TRUE(within(5000, [&] { return !(sockets = x_sockets_of(servers.front())).empty(); }))
            << "the X server listens on its own socket";
        kill(snapshot, signal_number);
        int status = 0;
        waitpid(snapshot, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << strsignal(signal_number);
        EXPECT_TRUE(within(5000, [&] { return !alive(servers.front()); }))
            << strsignal(signal_number) << ": the X server " << servers.front() << " ended with the tool";
        for (const std::string& socket : sockets)
            EXPECT_TRUE(within(5000, [&] { return !exists(socket); }))
                << strsignal(signal_number) << ": its socket " << socket << " is gone";
        for (const std::string& name : directory_entries(dir))
            EXPECT_EQ(name.rfind("turn-", 0), 0u) << strsignal(signal_number) << ": " << name << " was left";
        remove_directory(dir);
    }
    unlink(mesh.c_str());
}

// An X server that never reports its display cannot hold the tool: it gives up after a few
// seconds, says why, and ends the server.
TEST(SnapshotEndings, AServerThatNeverAnswersIsGivenUpInSeconds)
{
    const std::string mesh = make_torus_file(1.0, 0.35, 8, 6);
    const std::string dir = temporary_directory();
    write_bytes(dir + "/Xvfb", "#!/bin/sh\necho $$ > '" + dir + "/pid'\nexec sleep 600\n");
    chmod((dir + "/Xvfb").c_str(), 0755);
    const auto started = std::chrono::steady_clock::now();
    const CommandRun run =
        run_command("PATH=" + quoted(dir) + ":$PATH " + quoted(tool) + " " + quoted(mesh) + " " + quoted(dir + "/a.png"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "olvanta-snapshot: Xvfb did not report its display within 5 s\n");
    const pid_t server = pid_t(std::atoi(read_whole_file(dir + "/pid").c_str()));
    EXPECT_GT(server, 0);
    EXPECT_TRUE(within(3000, [&] { return !alive(server); })) << "the silent server was ended";
    remove_directory(dir);
    unlink(mesh.c_str());
}

TEST(SnapshotOutputs, RefusesToWriteOverTheMesh)
{
    const std::string dir = temporary_directory();
    const std::string mesh = make_torus_file(1.0, 0.35, 8, 6), kept = read_whole_file(mesh);
    ASSERT_EQ(symlink(mesh.c_str(), (dir + "/link.png").c_str()), 0);
    for (const std::string& picture : {mesh, dir + "/link.png"}) {
        const CommandRun run = run_command(quoted(tool) + " " + quoted(mesh) + " " + quoted(picture));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "olvanta-snapshot: '" + mesh + "' and '" + picture +
                               "' are the same file; the input is left as it is\n");
        EXPECT_EQ(read_whole_file(mesh), kept);
    }
    remove_directory(dir);
    unlink(mesh.c_str());
}

// A picture on standard output goes where the shell put it: down a pipe, or after what a file
// already holds.
TEST(SnapshotOutputs, WritesThePictureThroughStandardOutput)
{
    const std::string mesh = make_torus_file(1.0, 0.35, 8, 6);
    const std::string dir = temporary_directory();
    const std::string run_to = quoted(tool) + " --size 64 " + quoted(mesh) + " ";
    ASSERT_EQ(run_command(run_to + quoted(dir + "/file.png")).status, 0);
    const std::string picture = read_whole_file(dir + "/file.png");
    ASSERT_GT(picture.size(), 100u);
    const CommandRun piped = run_command("{ " + run_to + "/dev/stdout | cat > " + quoted(dir + "/piped.png") + "; }");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(read_whole_file(dir + "/piped.png") == picture) << "the picture alone, byte for byte";
    EXPECT_EQ(piped.err, "olvanta-snapshot: wrote /dev/stdout (64 x 64) of " + mesh + "\n");
    write_bytes(dir + "/kept", "earlier\n");
    const CommandRun appended = run_command("{ " + run_to + "/dev/stdout >> " + quoted(dir + "/kept") + "; }");
    EXPECT_EQ(appended.status, 0) << appended.err;
    EXPECT_TRUE(read_whole_file(dir + "/kept") == "earlier\n" + picture) << "appended after what was there";
    remove_directory(dir);
    unlink(mesh.c_str());
}

// Without a display, scripts/run pictures the bundled torus from a checkout whose path has a
// blank in it: the default name is no longer refused.
TEST(ScriptsRun, WithoutADisplayWorksFromAFolderWithABlankInItsPath)
{
    const std::string dir = temporary_directory(), checkout = dir + "/with blank";
    ASSERT_EQ(symlink(OLVANTA_SOURCE_DIR, checkout.c_str()), 0);
    const std::string picture = std::string(OLVANTA_SOURCE_DIR) + "/build/olvanta-snapshot.png";
    unlink(picture.c_str());
    const CommandRun run = run_command("env -u DISPLAY " + quoted(checkout + "/scripts/run"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("the picture of " + checkout + "/examples/torus.txt is"), std::string::npos) << run.out;
    Image image;
    EXPECT_TRUE(read_png(picture, image));
    EXPECT_EQ(image.width, 650);
    remove_directory(dir);
}

} // namespace
