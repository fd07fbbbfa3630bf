// Reading files and streams as they really behave: a byte-order mark, files that change while
// they are read, streams that never end, records that never end, reads the system fails.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "mesh/mesh_reader.h"
#include "mesh_compare.h"
#include "reference_reader.h"
#include "test_files.h"

namespace {

using namespace std::string_literals;

const std::string bom = "\xEF\xBB\xBF";
const std::string vertex_line = "Vertex 1 1 2 3 {normal=(0 0 1)}\n";
const Vertex unit_z{1, 2, 3, 0, 0, 1};

MeshStore read_as_file(const std::string& text, std::size_t chunk_bytes = std::size_t(1) << 20, int parts = 1)
{
    MeshStore mesh;
    read_text_as_file(text, mesh, ReadingPlan{parts, true, chunk_bytes});
    return mesh;
}

struct MarkCase {
    const char* name;
    std::string text;
    std::size_t vertices;
};

TEST(ByteOrderMark, IsSkippedAtTheStartOfAFileOnly)
{
    const MarkCase cases[] = {
        {"before_the_first_record", bom + vertex_line + vertex_line, 2},
        {"before_a_blank_line", bom + "\n" + vertex_line, 1},
        {"alone", bom, 0},
        {"twice_the_second_is_text", bom + bom + vertex_line + vertex_line, 1},
        {"inside_the_file_is_text", vertex_line + bom + vertex_line + vertex_line, 2},
        {"cut_short_is_text", "\xEF\xBB"s + vertex_line + vertex_line, 1},
        {"first_byte_only_is_text", "\xEF"s + vertex_line + vertex_line, 1},
        {"first_byte_then_a_line_end_is_text", "\xEF\n"s + vertex_line, 1},
        {"first_two_bytes_then_a_line_end_is_text", "\xEF\xBB\n"s + vertex_line, 1},
        {"first_and_last_byte_is_text", "\xEF\xBF"s + vertex_line + vertex_line, 1},
        {"first_byte_alone", "\xEF"s, 0},
        {"none", vertex_line, 1},
    };
    for (const MarkCase& c : cases) {
        EXPECT_EQ(reference_read_file(c.text).vertices.size(), c.vertices) << c.name;
        for (std::size_t chunk : {std::size_t(1), std::size_t(2), std::size_t(4), std::size_t(1) << 20})
            for (int parts = 1; parts <= 3; ++parts)
                EXPECT_EQ(read_as_file(c.text, chunk, parts).vertices, reference_read_file(c.text).vertices)
                    << c.name << ", chunks of " << chunk << ", " << parts << " parts";
    }
}

TEST(ByteOrderMark, IsSkippedInFilesAndPipesAlike)
{
    const std::string text = bom + vertex_line + "Face 1 1 1 1\n";
    const std::string file = write_temporary_file(text);
    MeshStore from_file;
    EXPECT_EQ(read_mesh_file(file, from_file).outcome, ReadOutcome::complete);
    EXPECT_EQ(from_file.vertices, std::vector<Vertex>{unit_z});
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], text.data(), text.size()), ssize_t(text.size()));
    close(ends[1]);
    MeshStore from_pipe;
    EXPECT_EQ(read_mesh_file("/dev/fd/" + std::to_string(ends[0]), from_pipe).outcome, ReadOutcome::complete);
    close(ends[0]);
    EXPECT_EQ(from_pipe.vertices, std::vector<Vertex>{unit_z});
    EXPECT_EQ(from_pipe.faces.size(), 1u);
    unlink(file.c_str());
}

// Vertex i at x = i, so a prefix of the file shows as the first vertices in order.
std::string numbered_vertices(int count)
{
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += "Vertex " + std::to_string(i) + " " + std::to_string(i) + " 0 0 {normal=(0 0 1)}\n";
    return text;
}

// What happens to the file after the reader took its size and time, before it reads a byte.
struct ChangeCase {
    const char* name;
    void (*change)(const std::string& path, const std::string& text);
    bool changed;
};

void shrink_to_a_third(const std::string& path, const std::string& text)
{
    ASSERT_EQ(truncate(path.c_str(), off_t(text.size() / 3)), 0);
}

void empty_it(const std::string& path, const std::string&)
{
    ASSERT_EQ(truncate(path.c_str(), 0), 0);
}

void append_more(const std::string& path, const std::string&)
{
    std::ofstream(path, std::ios::app) << vertex_line;
}

void rewrite_in_place(const std::string& path, const std::string& text)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a later modification time
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void leave_alone(const std::string&, const std::string&) {}

TEST(FileChangingWhileRead, KeepsWhatWasReadAndSaysSo)
{
    // 12 MB: large enough to be read in parts on two cores.
    const int count = 200000;
    const std::string text = numbered_vertices(count);
    const ChangeCase cases[] = {
        {"shrunk", shrink_to_a_third, true},
        {"emptied", empty_it, true},
        {"grown", append_more, true},
        {"rewritten", rewrite_in_place, true},
        {"untouched", leave_alone, false},
    };
    for (const ChangeCase& c : cases) {
        const std::string path = write_temporary_file(text);
        const int fd = open(path.c_str(), O_RDONLY);
        struct stat at_start {};
        ASSERT_EQ(fstat(fd, &at_start), 0);
        c.change(path, text);
        MeshStore mesh;
        const ReadReport report = read_opened_file(fd, at_start, mesh);
        close(fd);
        EXPECT_EQ(report.outcome, ReadOutcome::complete) << c.name;
        EXPECT_EQ(report.file_changed, c.changed) << c.name;
        const std::string now = read_whole_file(path);
        const std::string read_part = now.substr(0, std::min(now.size(), text.size()));
        EXPECT_EQ(mesh.vertices, reference_read(read_part).vertices) << c.name << ": what the file held up to its old size";
        unlink(path.c_str());
    }
}

// The kernel's files claim a size that is not their length (sysfs: a page); reading one to its
// real end is no change.
TEST(FileChangingWhileRead, AKernelFileShorterThanItsSizeHasNotChanged)
{
    const std::string path = "/sys/devices/system/cpu/online";
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    ASSERT_GT(std::uint64_t(info.st_size), read_whole_file(path).size()) << "the size claims more than the text";
    MeshStore mesh;
    const ReadReport report = read_mesh_file(path, mesh);
    EXPECT_EQ(report.outcome, ReadOutcome::complete);
    EXPECT_FALSE(report.file_changed);
}

TEST(LongRecords, BlanksInsideARecordNeverCountAndNeverChangeTheLists)
{
    const std::string blanks = std::string(3 << 20, ' ') + std::string(1 << 20, '\n');
    const std::string text = "Face 1 1" + blanks + "2" + blanks + "3" + blanks + "Face 2 4 5 6\n" +
                             "Vertex 7" + blanks + "1 2 3" + blanks + "{normal=(0 0" + blanks + "1)}\n";
    for (std::size_t chunk : {std::size_t(4096), std::size_t(1) << 20}) {
        MeshStore mesh;
        const ReadReport report = read_text_as_file(text, mesh, ReadingPlan{2, true, chunk});
        EXPECT_EQ(report.outcome, ReadOutcome::complete);
        EXPECT_EQ(mesh.faces, (std::vector<Face>{{0, 1, 2}, {3, 4, 5}})) << "chunks of " << chunk;
        EXPECT_EQ(mesh.vertices, std::vector<Vertex>{unit_z});
    }
}

// Whether a record just past the limit stops the reading depends on where the chunks fall; one
// past twice the limit always does.
TEST(LongRecords, ANumberRunningOnPastTheLimitStopsTheReadingThere)
{
    const std::string text = vertex_line + "Face 1 1 2 3\nFace 2 " + std::string(2 * longest_record + 10, '7') +
                             " 2 3\n" + vertex_line;
    MeshStore mesh;
    const ReadReport report = read_text_as_file(text, mesh, ReadingPlan{});
    EXPECT_EQ(report.outcome, ReadOutcome::overlong_record);
    EXPECT_EQ(mesh.vertices, std::vector<Vertex>{unit_z});
    EXPECT_EQ(mesh.faces, (std::vector<Face>{{0, 1, 2}}));
}

// 50,000 vertices make 2.4 MB of lists. Under a limit of 2 MiB each of two parts could read its
// own half, but together they would pass it.
TEST(ListLimit, ReadingStopsBeforeTheListsPassItAndKeepsTheFirstRecords)
{
    const std::string text = numbered_vertices(50000);
    for (std::size_t limit : {std::size_t(1) << 20, std::size_t(2) << 20})
        for (int parts = 0; parts <= 2; ++parts) {
            MeshStore mesh;
            const ReadReport report =
                read_text_as_file(text, mesh, ReadingPlan{parts, true, 4096, limit, parts == 0, 100000});
            EXPECT_EQ(report.outcome, ReadOutcome::out_of_memory);
            EXPECT_LE(mesh.vertices.size() * sizeof(Vertex), limit) << parts << " parts";
            EXPECT_GT(mesh.vertices.size(), 10000u);
            for (std::size_t i = 0; i < mesh.vertices.size(); ++i)
                ASSERT_EQ(mesh.vertices[i].x, double(i + 1)) << parts << " parts (0: a stream in segments)";
        }
}

TEST(ReadFailures, AReadTheSystemFailsIsReportedWithItsReason)
{
    // Reading this process's own memory at address zero fails with EIO.
    MeshStore mesh;
    const ReadReport report = read_mesh_file("/proc/self/mem", mesh);
    EXPECT_EQ(report.outcome, ReadOutcome::read_failed);
    EXPECT_EQ(report.reason, "Input/output error");
    EXPECT_TRUE(mesh.vertices.empty() && mesh.faces.empty());
}

long rss_anon_kib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("RssAnon:", 0) == 0)
            return std::atol(line.c_str() + 8);
    return -1;
}

// A child that reads the named file or device until it ends, then leaves with the count of
// vertices it read.
pid_t start_reading_in_a_child(const std::string& path)
{
    const pid_t pid = fork();
    if (pid == 0) {
        MeshStore mesh;
        read_mesh_file(path, mesh);
        _exit(static_cast<int>(mesh.vertices.size() % 256));
    }
    return pid;
}

void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Feeds a FIFO with `head` and then `filler` for ever, until the reader goes away.
pid_t start_endless_writer(const std::string& fifo, const std::string& head, char filler)
{
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        const int fd = open(fifo.c_str(), O_WRONLY);
        const std::string block(1 << 16, filler);
        if (write(fd, head.data(), head.size()) != ssize_t(head.size()))
            _exit(1);
        while (write(fd, block.data(), block.size()) > 0) {
        }
        _exit(0);
    }
    return pid;
}

std::string make_fifo()
{
    const std::string path = write_temporary_file("");
    unlink(path.c_str());
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    return path;
}

struct EndlessCase {
    const char* name;
    const char* device; // read directly when set, otherwise a FIFO fed with head and filler
    std::string head;
    char filler;
};

// Endless streams without a record end: reading goes on, as a line reader's would, with memory
// that stays where it was.
TEST(EndlessStreams, AreReadOnWithFlatMemory)
{
    const EndlessCase cases[] = {
        {"zeros", "/dev/zero", "", 0},
        {"random_bytes", "/dev/urandom", "", 0},
        {"one_endless_line", nullptr, "# a comment that never ends", 'x'},
        {"blanks_after_a_record", nullptr, "Face 1 1 2 3", ' '},
        {"blank_lines_inside_a_record", nullptr, "Vertex 1 1 2", '\n'},
    };
    for (const EndlessCase& c : cases) {
        const std::string fifo = c.device ? "" : make_fifo();
        const pid_t writer = c.device ? -1 : start_endless_writer(fifo, c.head, c.filler);
        const pid_t reader = start_reading_in_a_child(c.device ? c.device : fifo);
        pause_ms(500);
        const long settled = rss_anon_kib(reader);
        pause_ms(1500);
        const long later = rss_anon_kib(reader);
        EXPECT_EQ(waitpid(reader, nullptr, WNOHANG), 0) << c.name << ": still reading";
        EXPECT_GT(settled, 0) << c.name;
        EXPECT_LT(later - settled, 64) << c.name << ": RssAnon went from " << settled << " to " << later << " KiB";
        kill(reader, SIGKILL);
        waitpid(reader, nullptr, 0);
        if (writer > 0) {
            kill(writer, SIGKILL);
            waitpid(writer, nullptr, 0);
            unlink(fifo.c_str());
        }
    }
}

// A long finite stream: the text is never kept, only the lists.
TEST(Streams, AreReadAsTheyArriveWithoutKeepingTheText)
{
    const std::string fifo = make_fifo();
    const pid_t reader = start_reading_in_a_child(fifo);
    const int fd = open(fifo.c_str(), O_WRONLY);
    const std::string comments(1 << 20, '#');
    const std::string block = comments.substr(0, comments.size() - 1) + "\n";
    long first = -1, most = 0;
    for (int i = 0; i < 192; ++i) {
        ASSERT_EQ(write(fd, block.data(), block.size()), ssize_t(block.size()));
        const long now = rss_anon_kib(reader);
        if (i == 8)
            first = now;
        most = std::max(most, now);
    }
    const std::string last = vertex_line + vertex_line + vertex_line;
    ASSERT_EQ(write(fd, last.data(), last.size()), ssize_t(last.size()));
    close(fd);
    int status = 0;
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << "the three vertices at the end were read";
    EXPECT_LT(most - first, 8192) << "192 MiB passed through; RssAnon rose from " << first << " to " << most << " KiB";
    unlink(fifo.c_str());
}

} // namespace
