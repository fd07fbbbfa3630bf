// The confinement of a reading process, in a child of the test's own: once confined as the tools
// confine themselves, every escape is refused, by each layer its share of them; without it every
// escape works, so the attempts can fail; and what a reader needs still works under it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <seccomp.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "confine_to_reading.h"
#include "confined_child.h"
#include "escape_scene.h"
#include "landlock_rules.h"
#include "refused_calls.h"
#include "test_files.h"

namespace {

// What `work` writes in a child process, which ends after it.
std::string written_by_child(const std::function<std::string()>& work)
{
    int ends[2];
    if (pipe(ends) != 0)
        return "";
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        const std::string said = work();
        _exit(write(ends[1], said.data(), said.size()) == ssize_t(said.size()) ? 0 : 1);
    }
    close(ends[1]);
    std::string said;
    char block[4096];
    for (ssize_t got; (got = read(ends[0], block, sizeof block)) > 0;)
        said.append(block, std::size_t(got));
    close(ends[0]);
    waitpid(pid, nullptr, 0);
    return said;
}

long kernels_landlock()
{
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, 1U);
    return abi > 0 ? abi : 0;
}

// A terminal to fake input on, where the kernel still lets anyone try (legacy_tiocsti).
int terminal_to_try()
{
    const std::string legacy = read_whole_file("/proc/sys/dev/tty/legacy_tiocsti");
    if (!legacy.empty() && legacy[0] == '0')
        return -1;
    int controller = -1, terminal = -1;
    if (openpty(&controller, &terminal, nullptr, nullptr, nullptr) != 0)
        return -1;
    return terminal;
}

const std::string model = "mtllib model.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

class ConfinedChild : public testing::Test {
protected:
    void SetUp() override
    {
        scene = make_escape_scene();
        scene.targets.terminal = terminal_to_try();
        input = scene.targets.input = scene.input_dir + "/model.obj";
        write_bytes(input, model);
        write_bytes(scene.input_dir + "/model.mtl", "newmtl a\n");
    }

    void TearDown() override { take_down(scene); }

    // The attempts in a child that first runs `confine`.
    std::vector<EscapeOutcome> attempts_after(const std::function<void()>& confine)
    {
        return parse_outcome_lines(written_by_child([&] {
            confine();
            return outcome_lines(try_to_escape(scene.targets));
        }));
    }

    EscapeScene scene;
    std::string input;
};

const std::size_t attempts_without_terminal = 11;

TEST_F(ConfinedChild, EveryEscapeIsRefusedOnceConfinedAsTheConverterConfinesItself)
{
    const std::vector<EscapeOutcome> outcomes =
        attempts_after([&] { confine_to_reading(input_and_its_folder(input)); });
    ASSERT_EQ(outcomes.size(), attempts_without_terminal + (scene.targets.terminal >= 0 ? 1 : 0));
    for (const EscapeOutcome& o : outcomes)
        EXPECT_FALSE(o.done) << o.what;
    EXPECT_EQ(read_whole_file(scene.targets.home + "/.bashrc"), "# the user's own\n");
    EXPECT_EQ(read_whole_file(input), model);
}

TEST_F(ConfinedChild, EveryEscapeWorksWithoutConfinement)
{
    const std::vector<EscapeOutcome> outcomes = attempts_after([] {});
    ASSERT_EQ(outcomes.size(), attempts_without_terminal + (scene.targets.terminal >= 0 ? 1 : 0));
    for (const EscapeOutcome& o : outcomes)
        EXPECT_TRUE(o.done) << o.what;
}

// Each layer on its own, so that neither hides a gap in the other: what it must refuse, by the
// kernel's Landlock version where that matters; the rest it leaves to the other layer.
TEST_F(ConfinedChild, EachLayerAloneRefusesItsShare)
{
    const long abi = kernels_landlock();
    ASSERT_GE(abi, 1) << "this kernel has no Landlock; the tools' file rules cannot be checked here";
    const std::set<std::string> landlock_refuses = {
        "read ~/.ssh/id_rsa", "read a file in a folder beside the input's", "append to ~/.bashrc", "append to the input itself",
        "create a file in /tmp", "start /bin/sh", "trace another process of the same user"};
    const std::set<std::string> landlock_from_4 = {"connect over TCP to a port on this machine"};
    const std::set<std::string> landlock_from_6 = {"connect to an abstract local socket",
                                                   "stop another process of the same user"};
    const std::set<std::string> seccomp_leaves = {"read ~/.ssh/id_rsa", "read a file in a folder beside the input's"};
    const std::vector<EscapeOutcome> landlock = attempts_after([&] {
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
        ReadingConfinement got;
        restrict_to_reading(int(abi), input_and_its_folder(input), got);
    });
    const std::vector<EscapeOutcome> seccomp = attempts_after([] {
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
        refuse_escaping_calls();
    });
    ASSERT_EQ(landlock.size(), seccomp.size());
    for (const EscapeOutcome& o : landlock) {
        const bool refused = landlock_refuses.count(o.what) || (abi >= 4 && landlock_from_4.count(o.what)) ||
                             (abi >= 6 && landlock_from_6.count(o.what));
        EXPECT_EQ(o.done, !refused) << "Landlock alone: " << o.what;
    }
    for (const EscapeOutcome& o : seccomp)
        EXPECT_EQ(o.done, seccomp_leaves.count(o.what) == 1) << "seccomp alone: " << o.what;
}

// A host sandbox of its own that refuses one of the kernel's means: the tools keep the rest, say
// what they got, and still read. Each host filter answers as such sandboxes do.
void load_as_the_host(scmp_filter_ctx host)
{
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    seccomp_load(host);
    seccomp_release(host);
}

void refuse_landlock_as_a_host_would()
{
    scmp_filter_ctx host = seccomp_init(SCMP_ACT_ALLOW);
    for (const int call : {SCMP_SYS(landlock_create_ruleset), SCMP_SYS(landlock_add_rule), SCMP_SYS(landlock_restrict_self)})
        seccomp_rule_add(host, SCMP_ACT_ERRNO(ENOSYS), call, 0);
    load_as_the_host(host);
}

void refuse_restricting_as_a_host_would()
{
    scmp_filter_ctx host = seccomp_init(SCMP_ACT_ALLOW);
    seccomp_rule_add(host, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(landlock_restrict_self), 0);
    load_as_the_host(host);
}

void refuse_seccomp_as_a_host_would()
{
    scmp_filter_ctx host = seccomp_init(SCMP_ACT_ALLOW);
    seccomp_rule_add(host, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(seccomp), 0);
    seccomp_rule_add(host, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP));
    load_as_the_host(host);
}

TEST_F(ConfinedChild, UnderAHostThatRefusesAPartItKeepsTheRestAndStillReads)
{
    const long abi = kernels_landlock();
    ASSERT_GE(abi, 6) << "the rest of the set is checked where the kernel has it all";
    const struct {
        const char* host;
        void (*refuse)();
        const char* words;
        std::set<std::string> still_done; // the part's own escapes, now open
    } hosts[] = {
        {"no Landlock", refuse_landlock_as_a_host_would, "no new privileges, seccomp filter, no Landlock",
         {"read ~/.ssh/id_rsa", "read a file in a folder beside the input's"}},
        {"a ruleset, but no restriction", refuse_restricting_as_a_host_would,
         "no new privileges, seccomp filter, no Landlock", {"read ~/.ssh/id_rsa", "read a file in a folder beside the input's"}},
        {"no seccomp", refuse_seccomp_as_a_host_would, "", {"connect to a local socket by name", "fake input on the terminal"}},
    };
    for (const auto& h : hosts) {
        const std::string said = written_by_child([&] {
            h.refuse();
            const ReadingConfinement got = confine_to_reading(input_and_its_folder(input));
            const std::string input_read = read_whole_file(input) == model ? "input read\n" : "input unread\n";
            return describe_confinement(got) + "\n" + input_read + outcome_lines(try_to_escape(scene.targets));
        });
        const std::size_t first_end = said.find('\n');
        const std::string words = said.substr(0, first_end);
        EXPECT_EQ(words, *h.words ? h.words
                                  : "no new privileges, no seccomp filter, Landlock ABI " + std::to_string(abi) +
                                        " (files, TCP, signals, abstract sockets)")
            << h.host;
        EXPECT_NE(said.find("input read\n"), std::string::npos) << h.host;
        for (const EscapeOutcome& o : parse_outcome_lines(said.substr(said.find('\n', first_end + 1) + 1)))
            EXPECT_EQ(o.done, h.still_done.count(o.what) == 1) << h.host << ": " << o.what;
    }
}

// What a confined reader still needs: its input by every name it comes by, its companions, the
// system's files, its threads, and the descriptors it was given.
TEST_F(ConfinedChild, ReadingAndWritingThroughGivenDescriptorsStillWork)
{
    write_bytes(scene.input_dir + "/sub.bin", "buffer\n");
    const int memory = memfd_create("mesh", 0);
    ASSERT_EQ(write(memory, "v 0 0 0\n", 8), 8);
    const int named_open = open(scene.targets.beside.c_str(), O_RDONLY);
    const int unnamed_open = open((scene.targets.home + "/.bashrc").c_str(), O_RDONLY);
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    ASSERT_EQ(write(pipe_ends[1], "Vertex 1 0 0 0\n", 15), 15);
    close(pipe_ends[1]);
    const std::string output = scene.dir + "/beside/out.png";
    const int out = open(output.c_str(), O_WRONLY | O_CREAT, 0644);
    const auto fd_name = [](int fd) { return "/dev/fd/" + std::to_string(fd); };
    const struct {
        std::string name;
        bool readable;
    } reads[] = {
        {input, true},
        {scene.input_dir + "/model.mtl", true},
        {scene.input_dir + "/sub.bin", true},
        {"/usr/share/drirc.d/00-mesa-defaults.conf", true},
        {"/proc/self/status", true},
        {fd_name(memory), true},
        {fd_name(named_open), true},
        {fd_name(pipe_ends[0]), true},
        {fd_name(unnamed_open), false},
        {scene.targets.home + "/.bashrc", false},
    };
    const std::string said = written_by_child([&] {
        confine_to_reading({input, scene.input_dir, fd_name(memory), fd_name(named_open), fd_name(pipe_ends[0])});
        std::string seen;
        for (const auto& r : reads) {
            const int fd = open(r.name.c_str(), O_RDONLY);
            char byte = 0;
            seen += fd >= 0 && read(fd, &byte, 1) == 1 ? 'r' : '-';
        }
        std::thread worker([&] { seen += write(out, "picture", 7) == 7 && ftruncate(out, 7) == 0 ? 'w' : '-'; });
        worker.join();
        return seen;
    });
    ASSERT_EQ(said.size(), std::size(reads) + 1);
    for (std::size_t i = 0; i < std::size(reads); ++i)
        EXPECT_EQ(said[i] == 'r', reads[i].readable) << reads[i].name;
    EXPECT_EQ(said.back(), 'w') << "a thread writes through the descriptor opened before";
    EXPECT_EQ(read_whole_file(output), "picture");
    for (const int fd : {memory, named_open, unnamed_open, pipe_ends[0], out})
        close(fd);
}

TEST(ConfinementRecord, SaysAllThatThisKernelOffers)
{
    const long abi = kernels_landlock();
    const ReadingConfinement got = confinement_on_offer();
    EXPECT_TRUE(got.no_new_privileges);
    EXPECT_TRUE(got.seccomp_filter);
    EXPECT_EQ(got.landlock_abi, abi);
    EXPECT_EQ(got.landlock_files, abi >= 1);
    EXPECT_EQ(got.landlock_tcp, abi >= 4);
    EXPECT_EQ(got.landlock_scoped, abi >= 6);
}

TEST(ConfinementRecord, SaysInWordsWhatWasGot)
{
    const struct {
        ReadingConfinement got;
        const char* words;
    } cases[] = {
        {{true, true, 7, true, true, true},
         "no new privileges, seccomp filter, Landlock ABI 7 (files, TCP, signals, abstract sockets)"},
        {{true, true, 4, true, true, false}, "no new privileges, seccomp filter, Landlock ABI 4 (files, TCP)"},
        {{true, true, 1, true, false, false}, "no new privileges, seccomp filter, Landlock ABI 1 (files)"},
        {{true, false, 0, false, false, false}, "no new privileges, no seccomp filter, no Landlock"},
        {{}, "no seccomp filter, no Landlock"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe_confinement(c.got), c.words);
}

// The import reads companions beside its input, but a home or root folder would open every file
// of the user's: there only the input itself is readable.
TEST(ConfinementPlaces, TheInputsFolderUnlessItIsTheHomeOrTheRoot)
{
    const std::string dir = temporary_directory(), home = dir + "/home";
    mkdir(home.c_str(), 0755);
    mkdir((home + "/models").c_str(), 0755);
    const char* const old_home = getenv("HOME");
    const std::string kept = old_home ? old_home : "";
    setenv("HOME", (dir + "/./home").c_str(), 1);
    const struct {
        std::string input;
        std::vector<std::string> readable;
    } cases[] = {
        {home + "/models/a.obj", {home + "/models/a.obj", home + "/models"}},
        {home + "/a.obj", {home + "/a.obj"}},
        {home + "/models/../a.obj", {home + "/models/../a.obj"}},
        {"/a.obj", {"/a.obj"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(input_and_its_folder(c.input), c.readable) << c.input;
    if (old_home)
        setenv("HOME", kept.c_str(), 1);
    remove_directory(dir);
}

} // namespace

namespace {

int question_pid_fd = -1; // where the question's child says its pid

bool say_pid_and_yes(const std::string&)
{
    const pid_t pid = getpid();
    return write(question_pid_fd, &pid, sizeof pid) == ssize_t(sizeof pid);
}

// The reading: its pid, the number it was handed, what it read through the handed descriptor,
// and whether the file it was not named could be read.
std::string unnamed_file;

int report_reading(int handed_fd, int number, int report_fd)
{
    char got[16] = {};
    const ssize_t n = handed_fd >= 0 ? read(handed_fd, got, sizeof got - 1) : 0;
    const int unnamed = open(unnamed_file.c_str(), O_RDONLY);
    const std::string said = std::to_string(getpid()) + " " + std::to_string(number) + " " +
                             std::string(got, n > 0 ? std::size_t(n) : 0) + " " + (unnamed >= 0 ? "read" : "refused");
    return write(report_fd, said.data(), said.size()) == ssize_t(said.size()) ? 0 : 1;
}

std::string everything_from(int fd)
{
    std::string all;
    char block[256];
    for (ssize_t got; (got = read(fd, block, sizeof block)) > 0;)
        all.append(block, std::size_t(got));
    return all;
}

bool no_child_left()
{
    return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

class ConfinedChildren : public testing::Test {
protected:
    void SetUp() override
    {
        dir = temporary_directory();
        named = dir + "/named.m";
        unnamed_file = dir + "/unnamed.m";
        write_bytes(named, "Vertex 1 0 0 0\n");
        write_bytes(unnamed_file, "secret\n");
        ASSERT_EQ(pipe(pids), 0);
        question_pid_fd = pids[1];
        ASSERT_EQ(pipe(handed), 0);
        ASSERT_EQ(write(handed[1], "mesh", 4), 4);
        close(handed[1]);
    }

    void TearDown() override
    {
        for (const int fd : {pids[0], pids[1], handed[0]})
            close(fd);
        remove_directory(dir);
    }

    std::string dir, named;
    int pids[2] = {-1, -1}, handed[2] = {-1, -1};
};

// The file is looked at and read by one confined process: the one that answered reads.
TEST_F(ConfinedChildren, TheChildThatAnsweredIsTheOneThatReads)
{
    keep_next_confined_child_for(report_reading);
    ASSERT_TRUE(ask_confined(say_pid_and_yes, named));
    pid_t asked = 0;
    ASSERT_EQ(read(pids[0], &asked, sizeof asked), ssize_t(sizeof asked));
    const ConfinedReader reader = start_confined_reading(report_reading, {named}, handed[0], 7);
    ASSERT_GT(reader.pid, 0);
    EXPECT_EQ(everything_from(reader.report_fd), std::to_string(asked) + " 7 mesh refused");
    close(reader.report_fd);
    waitpid(reader.pid, nullptr, 0);
    EXPECT_TRUE(no_child_left());
}

// Where nothing was asked, a new child confines itself to what it is named before it reads.
TEST_F(ConfinedChildren, WithoutAQuestionANewChildConfinesItselfToReading)
{
    const ConfinedReader reader = start_confined_reading(report_reading, {named}, handed[0], 3);
    ASSERT_GT(reader.pid, 0);
    EXPECT_EQ(everything_from(reader.report_fd), std::to_string(reader.pid) + " 3 mesh refused");
    close(reader.report_fd);
    waitpid(reader.pid, nullptr, 0);
}

// A child kept but never handed its reading ends when the next question is asked; a question
// asked without keeping leaves no child behind.
TEST_F(ConfinedChildren, NoChildIsLeftBehind)
{
    keep_next_confined_child_for(report_reading);
    EXPECT_TRUE(ask_confined(say_pid_and_yes, named));
    EXPECT_FALSE(no_child_left()) << "the kept child waits for its reading";
    EXPECT_TRUE(ask_confined(say_pid_and_yes, named));
    EXPECT_TRUE(no_child_left());
}

} // namespace
