// Where the converter writes: files are replaced whole, links stay links, devices and FIFOs are
// written into, directories are refused.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "convert_support.h"

namespace {

const std::string triangle_obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
const std::string old_text = "Vertex 1 0 0 0 {normal=(0 0 1)}\n";

bool is_link(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::string link_target(const std::string& path)
{
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    return length < 0 ? "" : std::string(target, std::size_t(length));
}

struct LinkCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links; // link name, what it points at
    const char* output;                                      // the name given as OUTPUT
    const char* written;                                     // where the text must land
};

// A link keeps being a link: the file at the end of the chain is replaced, or made when the
// chain ends at a name that does not exist yet.
TEST(ConvertOutput, ReplacesTheTargetOfASymbolicLinkAndKeepsTheLink)
{
    const LinkCase cases[] = {
        {"link_to_a_file", {{"out.txt", "real.txt"}}, "out.txt", "real.txt"},
        {"chain_of_links", {{"out.txt", "middle.txt"}, {"middle.txt", "real.txt"}}, "out.txt", "real.txt"},
        {"link_into_a_folder", {{"out.txt", "sub/real.txt"}}, "out.txt", "sub/real.txt"},
        {"dangling_link", {{"out.txt", "new.txt"}}, "out.txt", "new.txt"},
    };
    for (const LinkCase& c : cases) {
        const std::string dir = temporary_directory();
        mkdir((dir + "/sub").c_str(), 0755);
        write_bytes(dir + "/real.txt", old_text);
        write_bytes(dir + "/sub/real.txt", old_text);
        write_bytes(dir + "/in.obj", triangle_obj);
        for (const auto& [name, points_at] : c.links)
            ASSERT_EQ(symlink(points_at.c_str(), (dir + "/" + name).c_str()), 0);
        const CommandRun run = convert(dir + "/in.obj", dir + "/" + c.output);
        EXPECT_EQ(run.status, 0) << c.name << ": " << run.err;
        for (const auto& [name, points_at] : c.links) {
            EXPECT_TRUE(is_link(dir + "/" + name)) << c.name << ": " << name << " is still a link";
            EXPECT_EQ(link_target(dir + "/" + name), points_at) << c.name;
        }
        EXPECT_EQ(read_whole_file(dir + "/" + c.written).rfind("Vertex 1 ", 0), 0u) << c.name;
        EXPECT_EQ(line_count(read_whole_file(dir + "/" + c.written)), 4u) << c.name;
        remove_directory(dir);
    }
}

TEST(ConvertOutput, ReplacingAFileKeepsItsPermissions)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/in.obj", triangle_obj);
    write_bytes(dir + "/out.txt", old_text);
    chmod((dir + "/out.txt").c_str(), 0640);
    EXPECT_EQ(convert(dir + "/in.obj", dir + "/out.txt").status, 0);
    struct stat info {};
    ASSERT_EQ(stat((dir + "/out.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(directory_entries(dir), (std::vector<std::string>{"in.obj", "out.txt"}));
    remove_directory(dir);
}

// A character device is written into, as cp does: /dev/null stays the device it is.
TEST(ConvertOutput, WritesIntoACharacterDevice)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/in.obj", triangle_obj);
    const CommandRun run = convert(dir + "/in.obj", "/dev/null");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "olvanta-convert: wrote 3 vertices and 1 faces to /dev/null\n");
    struct stat info {};
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << "/dev/null is still a character device";
    remove_directory(dir);
}

TEST(ConvertOutput, WritesIntoAFifoForTheProgramReadingIt)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/in.obj", triangle_obj);
    const std::string fifo = dir + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_whole_file(fifo); });
    const CommandRun run = convert(dir + "/in.obj", fifo);
    reader.join();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(line_count(received), 4u) << received;
    struct stat info {};
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    remove_directory(dir);
}

TEST(ConvertOutput, RefusesADirectoryAndNamesWhatCannotBeWritten)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/in.obj", triangle_obj);
    const struct {
        std::string output, message;
    } cases[] = {
        {dir, "cannot write '" + dir + "': Is a directory"},
        {dir + "/missing/out.txt", "cannot write '" + dir + "/missing/out.txt': No such file or directory"},
    };
    for (const auto& c : cases) {
        const CommandRun run = convert(dir + "/in.obj", c.output);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "olvanta-convert: " + c.message + "\n");
    }
    EXPECT_EQ(directory_entries(dir), std::vector<std::string>{"in.obj"});
    remove_directory(dir);
}

// A grid of two triangles per cell: text enough to outgrow a small file-size limit.
std::string grid_obj(int size)
{
    std::string text;
    for (int y = 0; y <= size; ++y)
        for (int x = 0; x <= size; ++x)
            text += "v " + std::to_string(x) + " " + std::to_string(y) + " 0\n";
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int a = y * (size + 1) + x + 1, b = a + 1, c = a + size + 2, d = a + size + 1;
            text += "f " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + "\n";
            text += "f " + std::to_string(a) + " " + std::to_string(c) + " " + std::to_string(d) + "\n";
        }
    return text;
}

// A disk that fills up half way: the earlier output stays, nothing else is left, and the
// message says why.
TEST(ConvertOutput, AFailedWriteKeepsTheEarlierOutputAndSaysWhy)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/in.obj", grid_obj(60));
    write_bytes(dir + "/out.txt", old_text);
    const CommandRun run = run_command("ulimit -f 16; '" + std::string(OLVANTA_CONVERT_PATH) + "' '" + dir +
                                       "/in.obj' '" + dir + "/out.txt'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "olvanta-convert: cannot write '" + dir + "/out.txt': File too large\n");
    EXPECT_EQ(read_whole_file(dir + "/out.txt"), old_text);
    EXPECT_EQ(directory_entries(dir), (std::vector<std::string>{"in.obj", "out.txt"}));
    remove_directory(dir);
}

// The input by any other name is still the input: refused in one line, as cp does, and left as
// it was.
TEST(ConvertOutput, RefusesToWriteOverItsInputByAnyPath)
{
    const std::string dir = temporary_directory(), input = dir + "/model.obj";
    write_bytes(input, triangle_obj);
    ASSERT_EQ(symlink("model.obj", (dir + "/link.txt").c_str()), 0);
    ASSERT_EQ(link(input.c_str(), (dir + "/hard.txt").c_str()), 0);
    const struct {
        std::string output;
        std::string shell; // how the output is reached, when through a descriptor
    } cases[] = {
        {input, ""},
        {dir + "/link.txt", ""},
        {dir + "/hard.txt", ""},
        {dir + "/./model.obj", ""},
        {"/dev/stdout", " >> '" + input + "'"},
    };
    for (const auto& c : cases) {
        const CommandRun run = run_command("{ '" + std::string(OLVANTA_CONVERT_PATH) + "' '" + input + "' '" +
                                           c.output + "'" + c.shell + "; }");
        EXPECT_EQ(run.status, 1) << c.output;
        EXPECT_EQ(run.err, "olvanta-convert: '" + input + "' and '" + c.output +
                               "' are the same file; the input is left as it is\n")
            << c.output;
        EXPECT_EQ(read_whole_file(input), triangle_obj) << c.output;
    }
    EXPECT_EQ(directory_entries(dir), (std::vector<std::string>{"hard.txt", "link.txt", "model.obj"}));
    remove_directory(dir);
}

// Standard output as OUTPUT, as the shell hands it over: a pipe is written into, an append
// appends, and a group's output stays in order. The counts go to standard error then.
TEST(ConvertOutput, WritesThroughStandardOutputWhereTheShellPutIt)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/cube.obj", triangle_obj);
    write_bytes(dir + "/log.txt", "earlier line\n");
    const std::string tool = "'" + std::string(OLVANTA_CONVERT_PATH) + "' '" + dir + "/cube.obj' ";
    const std::string mesh = "Vertex 1  0 0 0 {normal=(0 0 1)}\nVertex 2  1 0 0 {normal=(0 0 1)}\n"
                             "Vertex 3  0 1 0 {normal=(0 0 1)}\nFace 1  1 2 3\n";
    const std::string counts = "olvanta-convert: wrote 3 vertices and 1 faces to /dev/stdout\n";
    // As the README writes it, with cat for the pager.
    const CommandRun piped = run_command("{ " + tool + "/dev/stdout | cat; }");
    EXPECT_EQ(piped.out, mesh);
    EXPECT_EQ(piped.err, counts);
    const CommandRun appended = run_command("{ " + tool + "/dev/stdout >> '" + dir + "/log.txt'; }");
    EXPECT_EQ(appended.status, 0) << appended.err;
    EXPECT_EQ(read_whole_file(dir + "/log.txt"), "earlier line\n" + mesh);
    const CommandRun grouped = run_command("{ { echo head; " + tool + "/dev/stdout; echo tail; } > '" + dir + "/f'; }");
    EXPECT_EQ(grouped.status, 0) << grouped.err;
    EXPECT_EQ(read_whole_file(dir + "/f"), "head\n" + mesh + "tail\n");
    const CommandRun numbered = run_command("{ " + tool + "/dev/fd/7 7>> '" + dir + "/log.txt'; }");
    EXPECT_EQ(numbered.status, 0) << numbered.err;
    EXPECT_EQ(numbered.out, "olvanta-convert: wrote 3 vertices and 1 faces to /dev/fd/7\n");
    EXPECT_EQ(read_whole_file(dir + "/log.txt"), "earlier line\n" + mesh + mesh);
    // A reader that stops early: the pipe's own error is the reason, whatever came after it.
    write_bytes(dir + "/grid.obj", grid_obj(60));
    const CommandRun cut_short = run_command("{ { '" + std::string(OLVANTA_CONVERT_PATH) + "' '" + dir +
                                             "/grid.obj' /dev/stdout; echo status $? >&2; } | head -c 10 >/dev/null; }");
    EXPECT_EQ(cut_short.err, "olvanta-convert: cannot write '/dev/stdout': Broken pipe\nstatus 1\n");
    unlink((dir + "/grid.obj").c_str());
    EXPECT_EQ(directory_entries(dir), (std::vector<std::string>{"cube.obj", "f", "log.txt"}));
    remove_directory(dir);
}

} // namespace
