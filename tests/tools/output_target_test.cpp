// Where a tool's output lands: names for open descriptors are written through them where they
// stand, the input is never the output by any path, and a replaced file leaves nothing beside it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "filled_output.h"
#include "output_target.h"
#include "scratch_folder.h"
#include "test_files.h"

namespace {

const StreamWriter write_text = [](std::FILE* out, const void* text) {
    return std::fputs(static_cast<const std::string*>(text)->c_str(), out) >= 0;
};

bool write_through(const std::string& output, const std::string& text, std::string& reason)
{
    return write_whole_output(output, "olvanta-test", write_text, &text, reason);
}

std::string fd_name(const char* pattern, int fd)
{
    char name[64];
    std::snprintf(name, sizeof name, pattern, fd);
    return name;
}

// Each name for an open descriptor, each way a shell opens one: the text goes where the
// descriptor stands, after what is already there, and the file stays the same file.
TEST(OutputTarget, WritesThroughANamedDescriptorWhereItStands)
{
    const char* const patterns[] = {"/dev/fd/%d", "/proc/self/fd/%d", "/proc/thread-self/fd/%d"};
    const struct {
        const char* name;
        int flags;
    } openings[] = {{"append (>>)", O_WRONLY | O_APPEND}, {"grouped (> with earlier output)", O_WRONLY}};
    for (const char* pattern : patterns)
        for (const auto& opening : openings) {
            const std::string dir = temporary_directory(), path = dir + "/log.txt";
            write_bytes(path, "head\n");
            struct stat before {};
            ASSERT_EQ(stat(path.c_str(), &before), 0);
            const int fd = open(path.c_str(), opening.flags);
            ASSERT_GE(fd, 0);
            lseek(fd, 0, SEEK_END);
            std::string reason;
            EXPECT_TRUE(write_through(fd_name(pattern, fd), "mesh\n", reason)) << pattern << ": " << reason;
            EXPECT_EQ(write(fd, "tail\n", 5), 5);
            close(fd);
            EXPECT_EQ(read_whole_file(path), "head\nmesh\ntail\n") << pattern << ", " << opening.name;
            struct stat after {};
            ASSERT_EQ(stat(path.c_str(), &after), 0);
            EXPECT_EQ(after.st_ino, before.st_ino) << "the same file, not a replacement";
            EXPECT_EQ(directory_entries(dir), std::vector<std::string>{"log.txt"});
            remove_directory(dir);
        }
}

// A pipe and a socket have no file to replace: only the descriptor reaches them.
TEST(OutputTarget, WritesIntoAPipeAndASocketThroughTheirDescriptors)
{
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    int socket_ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, socket_ends), 0);
    for (const auto& [writing, reading] : {std::pair{pipe_ends[1], pipe_ends[0]}, std::pair{socket_ends[0], socket_ends[1]}}) {
        std::string reason;
        EXPECT_TRUE(write_through(fd_name("/dev/fd/%d", writing), "mesh\n", reason)) << reason;
        char got[16] = {};
        EXPECT_EQ(read(reading, got, sizeof got - 1), 5);
        EXPECT_STREQ(got, "mesh\n");
    }
    for (const int fd : {pipe_ends[0], pipe_ends[1], socket_ends[0], socket_ends[1]})
        close(fd);
}

TEST(OutputTarget, ConnectsToAListeningSocketNamedAsOutput)
{
    const std::string dir = temporary_directory(), path = dir + "/listening";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    std::string reason;
    EXPECT_TRUE(write_through(path, "mesh\n", reason)) << reason;
    const int accepted = accept(listener, nullptr, nullptr);
    char got[16] = {};
    EXPECT_EQ(read(accepted, got, sizeof got - 1), 5);
    EXPECT_STREQ(got, "mesh\n");
    close(accepted);
    close(listener);
    remove_directory(dir);
}

TEST(OutputTarget, RefusesADescriptorThatIsClosedOrOnlyForReading)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/in.txt", "text\n");
    const int reading = open((dir + "/in.txt").c_str(), O_RDONLY);
    const int closed = dup(reading);
    close(closed);
    for (const int fd : {reading, closed}) {
        std::string reason;
        EXPECT_FALSE(write_through(fd_name("/dev/fd/%d", fd), "mesh\n", reason)) << fd;
        EXPECT_EQ(reason, std::strerror(EBADF));
    }
    close(reading);
    EXPECT_EQ(read_whole_file(dir + "/in.txt"), "text\n");
    remove_directory(dir);
}

// The input by any other path is still the input.
TEST(OutputTarget, KnowsTheInputByAnyPath)
{
    const std::string dir = temporary_directory(), input = dir + "/model.obj";
    write_bytes(input, "v 0 0 0\n");
    ASSERT_EQ(symlink("model.obj", (dir + "/link.obj").c_str()), 0);
    ASSERT_EQ(link(input.c_str(), (dir + "/hard.obj").c_str()), 0);
    mkdir((dir + "/sub").c_str(), 0755);
    write_bytes(dir + "/other.obj", "v 0 0 0\n");
    const int appending = open(input.c_str(), O_WRONLY | O_APPEND);
    const struct {
        std::string output;
        bool same;
    } cases[] = {
        {input, true},
        {dir + "/link.obj", true},
        {dir + "/hard.obj", true},
        {dir + "/sub/../model.obj", true},
        {fd_name("/dev/fd/%d", appending), true},
        {dir + "/other.obj", false},
        {dir + "/new.obj", false},
    };
    for (const auto& c : cases) {
        OutputTarget target;
        std::string reason;
        ASSERT_TRUE(plan_output(c.output, target, reason)) << c.output << ": " << reason;
        EXPECT_EQ(output_is_input(target, input), c.same) << c.output;
    }
    close(appending);
    remove_directory(dir);
}

// The new file has no name until it is whole: a tool killed at any moment before leaves nothing.
TEST(OutputTarget, AFileInTheMakingHasNoNameBesideTheTarget)
{
    const std::string dir = temporary_directory(), path = dir + "/out.txt";
    OutputTarget target;
    std::string reason;
    ASSERT_TRUE(plan_output(path, target, reason));
    const int fd = open_output(target, "olvanta-test", reason);
    ASSERT_GE(fd, 0) << reason;
    EXPECT_EQ(write(fd, "mesh\n", 5), 5);
    EXPECT_EQ(directory_entries(dir), std::vector<std::string>{}) << "nothing named while it is written";
    ASSERT_TRUE(finish_output(target, fd, reason)) << reason;
    EXPECT_EQ(read_whole_file(path), "mesh\n");
    EXPECT_EQ(directory_entries(dir), std::vector<std::string>{"out.txt"});
    remove_directory(dir);
}

} // namespace

namespace {

// As a thumbnail host does it: it makes the file empty, keeps it open, and reads it back through
// that descriptor. Only a file with nothing in it is taken for such a file; any other is replaced.
TEST(OutputTarget, FillsAnEmptyFileWhoseMakerReadsItBackAndReplacesAnyOther)
{
    const std::string dir = temporary_directory();
    const struct {
        std::string before;
        OutputKind kind;
        std::string seen_by_maker;
    } cases[] = {
        {"", OutputKind::filled, "picture"},
        {"old", OutputKind::replaced, "old"},
    };
    for (const auto& c : cases) {
        const std::string path = dir + "/thumbnail.png";
        write_bytes(path, c.before);
        const int maker = open(path.c_str(), O_RDONLY);
        OutputTarget target;
        std::string reason;
        ASSERT_TRUE(plan_output(path, target, reason)) << reason;
        fill_if_empty(target);
        EXPECT_EQ(target.kind, c.kind);
        const std::string text = "picture";
        ASSERT_TRUE(write_planned_output(target, "olvanta-test", write_text, &text, reason)) << reason;
        char seen[64] = {};
        const ssize_t got = pread(maker, seen, sizeof seen, 0);
        EXPECT_EQ(std::string(seen, got > 0 ? std::size_t(got) : 0), c.seen_by_maker);
        EXPECT_EQ(read_whole_file(path), "picture");
        EXPECT_EQ(directory_entries(dir), std::vector<std::string>{"thumbnail.png"});
        close(maker);
    }
    remove_directory(dir);
}

TEST(OutputTarget, AFilledFileIsEmptiedAgainWhenTheWritingFails)
{
    const std::string dir = temporary_directory();
    const std::string path = dir + "/thumbnail.png";
    write_bytes(path, "");
    OutputTarget target;
    std::string reason;
    ASSERT_TRUE(plan_output(path, target, reason)) << reason;
    fill_if_empty(target);
    const StreamWriter half_then_fail = [](std::FILE* out, const void*) {
        std::fputs("half a picture", out);
        std::fflush(out);
        errno = ENOSPC;
        return false;
    };
    EXPECT_FALSE(write_planned_output(target, "olvanta-test", half_then_fail, nullptr, reason));
    EXPECT_EQ(reason, std::strerror(ENOSPC));
    EXPECT_EQ(read_whole_file(path), "");
    remove_directory(dir);
}

} // namespace

namespace {

// Only this user's own empty file with a single name is filled in place; any other is replaced.
TEST(OutputTarget, FillsOnlyAnEmptyFileOfThisUsersWithASingleName)
{
    ASSERT_EQ(geteuid(), 0u) << "files of another user are made here by root";
    const std::string dir = temporary_directory(), path = dir + "/thumbnail.png";
    const struct {
        const char* what;
        std::string content;
        uid_t owner;
        bool second_name;
        OutputKind kind;
    } cases[] = {
        {"empty, this user's, one name", "", 0, false, OutputKind::filled},
        {"empty, this user's, a second name", "", 0, true, OutputKind::replaced},
        {"empty, another user's", "", 65534, false, OutputKind::replaced},
        {"not empty, this user's", "old", 0, false, OutputKind::replaced},
    };
    for (const auto& c : cases) {
        write_bytes(path, c.content);
        ASSERT_EQ(chown(path.c_str(), c.owner, c.owner), 0);
        if (c.second_name) {
            ASSERT_EQ(link(path.c_str(), (dir + "/second.png").c_str()), 0);
        }
        OutputTarget target;
        std::string reason;
        ASSERT_TRUE(plan_output(path, target, reason)) << reason;
        fill_if_empty(target);
        EXPECT_EQ(target.kind, c.kind) << c.what;
        unlink(path.c_str());
        unlink((dir + "/second.png").c_str());
    }
    remove_directory(dir);
}

// Between the plan and the opening the name may come to lead elsewhere: the file then opened is
// checked again, and one that no longer qualifies is replaced instead.
TEST(OutputTarget, AFileThatStopsQualifyingBeforeItIsOpenedIsReplaced)
{
    const std::string dir = temporary_directory(), path = dir + "/thumbnail.png";
    write_bytes(path, "");
    OutputTarget target;
    std::string reason;
    ASSERT_TRUE(plan_output(path, target, reason)) << reason;
    fill_if_empty(target);
    ASSERT_EQ(target.kind, OutputKind::filled);
    ASSERT_EQ(link(path.c_str(), (dir + "/second.png").c_str()), 0);
    const std::string text = "picture";
    ASSERT_TRUE(write_planned_output(target, "olvanta-test", write_text, &text, reason)) << reason;
    EXPECT_EQ(target.kind, OutputKind::replaced);
    EXPECT_EQ(read_whole_file(path), "picture");
    EXPECT_EQ(read_whole_file(dir + "/second.png"), "");
    remove_directory(dir);
}

// A new file gets what the umask leaves of 0666, as any program's new file does; a replaced file
// keeps its own permissions, whatever the umask.
TEST(OutputTarget, ANewFileTakesTheUmaskAndAReplacedOneKeepsItsPermissions)
{
    const std::string dir = temporary_directory();
    const mode_t old_mask = umask(022);
    const struct {
        const char* what;
        int existing_mode; // -1: no file yet
        mode_t mask;
        unsigned expected;
    } cases[] = {
        {"new, usual umask", -1, 022, 0644},
        {"new, private umask", -1, 077, 0600},
        {"existing 0600, usual umask", 0600, 022, 0600},
        {"existing 0664, usual umask", 0664, 022, 0664},
        {"existing 0640, private umask", 0640, 077, 0640},
    };
    for (const auto& c : cases) {
        const std::string path = dir + "/out.m";
        unlink(path.c_str());
        if (c.existing_mode >= 0) {
            write_bytes(path, "old\n");
            chmod(path.c_str(), mode_t(c.existing_mode));
        }
        umask(c.mask);
        std::string reason;
        ASSERT_TRUE(write_through(path, "mesh\n", reason)) << c.what << ": " << reason;
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.expected) << c.what;
    }
    umask(old_mask);
    remove_directory(dir);
}

} // namespace
