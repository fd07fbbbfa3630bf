// The confinement of a reading process, in a confined child of the test's own: once confined as
// each kind of process confines itself, every escape is refused, by each layer its share of them;
// without it every escape works, so the attempts can fail; what a reader needs still works under
// it; and a parent hears a child only within its bounds.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <linux/securebits.h>
#include <seccomp.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

#include "confine/call_filter.h"
#include "confine/confined_child.h"
#include "confine/confinement.h"
#include "confine/landlock_rules.h"
#include "escape_scene.h"
#include "test_files.h"

namespace {

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

const std::string model = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

// What a confined child's work does: whatever the test gives it, its words sent on its report.
std::function<std::string()> child_work;

int run_child_work(void*)
{
    const std::string said = child_work();
    return write(report_descriptor, said.data(), said.size()) == ssize_t(said.size()) ? 0 : 1;
}

// What `work` says in a child confined as `kind`, handed `input`.
std::string said_by_confined_child(ConfinedKind kind, int input, const std::function<std::string()>& work, int output = -1)
{
    child_work = work;
    ConfinedChild child = start_confined(kind, Handed{input, output, -1}, run_child_work, nullptr);
    std::string said;
    hear(child, said, 1 << 20, Clock::now() + std::chrono::seconds(30));
    end_child(child);
    return said;
}

// What `work` says in a plain child, after `setup` (a layer or none), on the report's descriptor.
std::string said_by_child(const std::function<void()>& setup, const std::function<std::string()>& work)
{
    int ends[2];
    if (pipe(ends) != 0)
        return "";
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        dup2(ends[1], report_descriptor);
        setup();
        const std::string said = work();
        _exit(write(report_descriptor, said.data(), said.size()) == ssize_t(said.size()) ? 0 : 1);
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

const ConfinedKind every_kind[] = {ConfinedKind::reading, ConfinedKind::converting, ConfinedKind::drawing};

const char* name_of(ConfinedKind kind)
{
    return kind == ConfinedKind::reading ? "reading" : kind == ConfinedKind::converting ? "converting" : "drawing";
}

class Confined : public testing::Test {
protected:
    void SetUp() override
    {
        scene = make_escape_scene();
        scene.targets.terminal = terminal_to_try();
        scene.targets.sets = first_attempts | other_routes;
        input = scene.targets.input = scene.input_dir + "/model.obj";
        write_bytes(input, model);
        input_fd = open(input.c_str(), O_RDONLY | O_CLOEXEC);
        write_bytes(scene.dir + "/output", "what the output held before\n");
        output_fd = open((scene.dir + "/output").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }

    void TearDown() override
    {
        close(input_fd);
        close(output_fd);
        take_down(scene);
    }

    std::vector<EscapeOutcome> attempts_confined_as(ConfinedKind kind)
    {
        EscapeTargets targets = scene.targets;
        targets.output_descriptor = output_descriptor;
        return parse_outcome_lines(
            said_by_confined_child(kind, input_fd, [&] { return outcome_lines(try_to_escape(targets)); }, output_fd));
    }

    std::vector<EscapeOutcome> attempts_after(const std::function<void()>& setup)
    {
        // The output where a confined child holds it, for the filter's rules on that number.
        EscapeTargets targets = scene.targets;
        targets.output_descriptor = output_descriptor;
        const int output = output_fd;
        return parse_outcome_lines(said_by_child(
            [&] {
                dup2(output, output_descriptor);
                setup();
            },
            [&] { return outcome_lines(try_to_escape(targets)); }));
    }

    EscapeScene scene;
    std::string input;
    int input_fd = -1, output_fd = -1;
};

#if defined(__x86_64__)
const std::size_t lone_program_attempts = 4;
#else
const std::size_t lone_program_attempts = 0;
#endif
const std::size_t attempts_without_terminal = 11 + 36 + (geteuid() == 0 ? 2 : 0) + lone_program_attempts;

TEST_F(Confined, EveryEscapeIsRefusedInEveryKind)
{
    for (const ConfinedKind kind : every_kind) {
        const std::vector<EscapeOutcome> outcomes = attempts_confined_as(kind);
        ASSERT_EQ(outcomes.size(), attempts_without_terminal + (scene.targets.terminal >= 0 ? 1 : 0)) << name_of(kind);
        for (const EscapeOutcome& o : outcomes)
            EXPECT_FALSE(o.done) << name_of(kind) << ": " << o.what;
    }
    EXPECT_EQ(read_whole_file(scene.targets.home + "/.bashrc"), "# the user's own\n");
    EXPECT_EQ(read_whole_file(input), model);
}

TEST_F(Confined, EveryEscapeWorksWithoutConfinement)
{
    const std::vector<EscapeOutcome> outcomes = attempts_after([] {});
    ASSERT_EQ(outcomes.size(), attempts_without_terminal + (scene.targets.terminal >= 0 ? 1 : 0));
    for (const EscapeOutcome& o : outcomes)
        EXPECT_TRUE(o.done) << o.what;
}

// Each layer on its own, so that neither hides a gap in the other: what it must refuse, by the
// kernel's Landlock version where that matters; the rest it leaves to the other layer.
TEST_F(Confined, EachLayerAloneRefusesItsShare)
{
    const long abi = kernels_landlock();
    ASSERT_GE(abi, 1) << "this kernel has no Landlock; the file rules cannot be checked here";
    // By every route: Landlock's rights are on what is reached (a file by any call that opens,
    // makes, links, renames, removes or starts it; another process however it is reached), never
    // on the call itself. A datagram and a process of its own are the filter's alone to refuse.
    const std::set<std::string> landlock_refuses = {
        "read ~/.ssh/id_rsa", "read a file in a folder beside the input's", "append to ~/.bashrc", "append to the input itself",
        "create a file in /tmp", "start /bin/sh", "trace another process of the same user",
        "read ~/.ssh/id_rsa through openat2", "read ~/.ssh/id_rsa through open", "list ~/.ssh",
        "start /bin/sh through execveat", "start /bin/sh from a descriptor of its path", "start /bin/sh through vfork",
        "start a program that needs no library", "start a program that needs no library from a descriptor",
        "start a program in this very process", "start a program in this very process through execveat",
        "make a folder in /tmp through mkdirat", "make a symbolic link in /tmp through symlinkat",
        "make a FIFO in /tmp through the old mknod", "link a file of the user's into /tmp through linkat",
        "remove a file of the user's through unlinkat", "remove a folder of the user's through unlinkat",
        "rename a file of the user's through renameat2",
        "create a file in /tmp through creat", "create a file in /tmp through openat2", "create an unnamed file in /tmp",
        "make a file in /tmp through mknod", "make a FIFO in /tmp", "make a folder in /tmp", "make a symbolic link in /tmp",
        "make a character device in /tmp", "make a block device in /tmp",
        "bind a local socket in /tmp", "write into another process's memory", "link a file of the user's into /tmp",
        "remove a file of the user's", "rename a file of the user's", "remove a folder of the user's",
        "empty a file of the user's by opening it"};
    const std::set<std::string> landlock_from_3 = {"empty a file of the user's by its name"};
    const std::set<std::string> landlock_from_4 = {"connect over TCP to a port on this machine", "listen on a TCP port"};
    const std::set<std::string> landlock_from_6 = {"connect to an abstract local socket",
                                                   "stop another process of the same user",
                                                   "stop another process through tgkill",
                                                   "stop another process through a pidfd"};
    const std::vector<EscapeOutcome> landlock = attempts_after([&] {
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
        Confinement got;
        shut_out_of_files(int(abi), got);
    });
    for (const EscapeOutcome& o : landlock) {
        const bool refused = landlock_refuses.count(o.what) || (abi >= 3 && landlock_from_3.count(o.what)) ||
                             (abi >= 4 && landlock_from_4.count(o.what)) || (abi >= 6 && landlock_from_6.count(o.what));
        EXPECT_EQ(o.done, !refused) << "Landlock alone: " << o.what;
    }
    for (const ConfinedKind kind : every_kind) {
        const std::vector<EscapeOutcome> seccomp = attempts_after([kind] {
            prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
            allow_only_calls_of(kind);
        });
        ASSERT_EQ(seccomp.size(), landlock.size());
        for (const EscapeOutcome& o : seccomp)
            EXPECT_FALSE(o.done) << "seccomp alone, " << name_of(kind) << ": " << o.what;
    }
}

// A host sandbox of its own that refuses one of the kernel's means: the child keeps the rest,
// says what it got, and still reads. Each host filter answers as such sandboxes do.
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

void refuse_seccomp_as_a_host_would()
{
    scmp_filter_ctx host = seccomp_init(SCMP_ACT_ALLOW);
    seccomp_rule_add(host, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(seccomp), 0);
    seccomp_rule_add(host, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP));
    load_as_the_host(host);
}

TEST_F(Confined, UnderAHostThatRefusesAPartItKeepsTheRestAndStillReads)
{
    const long abi = kernels_landlock();
    ASSERT_GE(abi, 6) << "the rest of the set is checked where the kernel has it all";
    const struct {
        const char* host;
        void (*refuse)();
        bool seccomp, landlock;
    } hosts[] = {
        {"no Landlock", refuse_landlock_as_a_host_would, true, false},
        {"no seccomp", refuse_seccomp_as_a_host_would, false, true},
    };
    for (const auto& h : hosts) {
        const std::string said = said_by_child(h.refuse, [&] {
            const Confinement got = confine(ConfinedKind::reading);
            char byte = 0;
            const std::string input_read = pread(input_fd, &byte, 1, 0) == 1 ? "input read\n" : "input unread\n";
            return std::string(got.seccomp_filter ? "s" : "-") + (got.landlock_files ? "l" : "-") + "\n" + input_read +
                   outcome_lines(try_to_escape(scene.targets));
        });
        ASSERT_GE(said.size(), 3u) << h.host;
        EXPECT_EQ(said.substr(0, 2), std::string(h.seccomp ? "s" : "-") + (h.landlock ? "l" : "-")) << h.host;
        EXPECT_NE(said.find("input read\n"), std::string::npos) << h.host;
        // Either layer alone keeps every file out of reach: nothing is opened by name.
        for (const EscapeOutcome& o : parse_outcome_lines(said.substr(said.find('\n', 3) + 1))) {
            const bool a_file = o.what.rfind("read ", 0) == 0 || o.what.rfind("append ", 0) == 0 || o.what.rfind("create ", 0) == 0;
            EXPECT_FALSE(a_file && o.done) << h.host << ": " << o.what;
        }
    }
}

// What a confined reader still needs: its input through the descriptor it was handed, threads,
// memory, and its report; and nothing opened by name, not even the system's own files.
TEST_F(Confined, ReadingThroughHandedDescriptorsStillWorks)
{
    for (const ConfinedKind kind : every_kind) {
        const std::string said = said_by_confined_child(kind, input_fd, [] {
            std::string seen;
            char bytes[8] = {};
            seen += pread(input_descriptor, bytes, 7, 0) == 7 && std::string(bytes) == "v 0 0 0" ? 'r' : '-';
            std::thread worker([&] { seen += pread(input_descriptor, bytes, 1, 2) == 1 ? 't' : '-'; });
            worker.join();
            std::vector<char> memory(64 << 20, 'm');
            seen += memory.back() == 'm' ? 'm' : '-';
            seen += open("/usr/share/drirc.d/00-mesa-defaults.conf", O_RDONLY) < 0 ? 'n' : 'o';
            seen += open("/proc/self/status", O_RDONLY) < 0 ? 'n' : 'o';
            return seen;
        });
        EXPECT_EQ(said, "rtmnn") << name_of(kind);
    }
}

// Only what it was handed: a file of the parent's at one of the fixed numbers that it did not
// hand (an output, a socket) is not the child's to write to.
TEST_F(Confined, HoldsNoDescriptorItWasNotHanded)
{
    const int fixed[] = {output_descriptor, broker_descriptor};
    int kept[2];
    const int parents_own = open(scene.targets.beside.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(parents_own, 0);
    for (int i = 0; i < 2; ++i) {
        kept[i] = fcntl(fixed[i], F_DUPFD_CLOEXEC, 100);
        ASSERT_EQ(dup2(parents_own, fixed[i]), fixed[i]);
    }
    for (const ConfinedKind kind : every_kind) {
        const std::string said = said_by_confined_child(kind, input_fd, [&] {
            std::string open_ones;
            for (const int fd : fixed) {
                struct stat status {};
                open_ones += syscall(SYS_fstat, fd, &status) == 0 ? std::to_string(fd) + " open " : "";
            }
            return open_ones.empty() ? "none" : open_ones;
        });
        EXPECT_EQ(said, "none") << name_of(kind);
    }
    for (int i = 0; i < 2; ++i)
        kept[i] >= 0 ? dup2(kept[i], fixed[i]) : close(fixed[i]);
    for (const int fd : {kept[0], kept[1], parents_own})
        if (fd >= 0)
            close(fd);
}

// A call nobody listed gets an error, and the library takes its own way round: the C library
// counts the cores from /sys, then /proc, both refused, then asks the scheduler, which is allowed.
TEST_F(Confined, ALibraryRefusedACallTakesItsOwnWayRound)
{
    const unsigned outside = std::thread::hardware_concurrency();
    const std::string said = said_by_confined_child(ConfinedKind::reading, input_fd, [] {
        const int refused = open("/sys/devices/system/cpu/online", O_RDONLY | O_CLOEXEC);
        return std::to_string(refused < 0 ? errno : 0) + " " + std::to_string(std::thread::hardware_concurrency());
    });
    EXPECT_EQ(said, std::to_string(EPERM) + " " + std::to_string(outside));
}

// No terminal, no privilege: a confined child has /dev/null for input, a session of its own, and
// as root no capability in any of the five sets.
TEST_F(Confined, NoTerminalAndNoCapabilities)
{
    const std::string said = said_by_confined_child(ConfinedKind::reading, input_fd, [] {
        char byte = 0;
        std::string seen = read(0, &byte, 1) == 0 ? "null " : "input ";
        struct stat out {}, errors {};
        seen += syscall(SYS_fstat, 1, &out) == 0 && syscall(SYS_fstat, 2, &errors) == 0 && S_ISFIFO(out.st_mode) &&
                        S_ISFIFO(errors.st_mode)
                    ? "pipes"
                    : "other";
        return seen;
    });
    EXPECT_EQ(said, "null pipes");
    const std::string session = said_by_child([] { confine_privileges(*new Confinement); },
                                              [] { return std::string(getsid(0) == getpid() ? "its own" : "shared"); });
    EXPECT_EQ(session, "its own");
    if (geteuid() != 0)
        GTEST_SKIP() << "the sets are root's to give up";
    const std::string status = said_by_child([] { confine_privileges(*new Confinement); }, [] {
        std::string lines;
        const std::string all = read_whole_file("/proc/self/status");
        for (const char* set : {"CapInh:", "CapPrm:", "CapEff:", "CapBnd:", "CapAmb:"})
            lines += all.substr(all.find(set), all.find('\n', all.find(set)) - all.find(set)) + "\n";
        return lines;
    });
    for (const char* set : {"CapInh:", "CapPrm:", "CapEff:", "CapBnd:", "CapAmb:"})
        EXPECT_NE(status.find(std::string(set) + "\t0000000000000000"), std::string::npos) << status;
    // Root gains nothing by any exec, and none of it can be undone: every bit set and locked.
    const std::string bits = said_by_child([] { confine_privileges(*new Confinement); },
                                           [] { return std::to_string(prctl(PR_GET_SECUREBITS)); });
    EXPECT_EQ(bits, std::to_string(SECBIT_NOROOT | SECBIT_NOROOT_LOCKED | SECBIT_NO_SETUID_FIXUP |
                                   SECBIT_NO_SETUID_FIXUP_LOCKED | SECBIT_KEEP_CAPS_LOCKED | SECBIT_NO_CAP_AMBIENT_RAISE |
                                   SECBIT_NO_CAP_AMBIENT_RAISE_LOCKED));
}

TEST(ConfinementRecord, SaysAllThatThisKernelOffers)
{
    const long abi = kernels_landlock();
    for (const ConfinedKind kind : every_kind) {
        const Confinement got = confinement_on_offer(kind);
        EXPECT_TRUE(got.new_session) << name_of(kind);
        EXPECT_TRUE(got.capabilities_dropped) << name_of(kind);
        EXPECT_EQ(got.bounding_set_empty, geteuid() == 0) << name_of(kind);
        EXPECT_EQ(got.secure_bits_locked, geteuid() == 0) << name_of(kind);
        EXPECT_TRUE(got.no_new_privileges) << name_of(kind);
        EXPECT_TRUE(got.seccomp_filter) << name_of(kind);
        EXPECT_EQ(got.landlock_abi, abi) << name_of(kind);
        EXPECT_EQ(got.landlock_files, abi >= 1) << name_of(kind);
        EXPECT_EQ(got.landlock_tcp, abi >= 4) << name_of(kind);
        EXPECT_EQ(got.landlock_scoped, abi >= 6) << name_of(kind);
    }
}

TEST(ConfinementRecord, SaysInWordsWhatWasGot)
{
    const struct {
        Confinement got;
        const char* words;
    } cases[] = {
        {{true, true, true, true, true, true, 7, true, true, true},
         "no terminal, no capabilities (all five sets, secure bits locked), no new privileges, seccomp allow-list, "
         "Landlock ABI 7 (files, TCP, signals, abstract sockets)"},
        {{true, true, true, false, false, true, 4, true, true, false},
         "no terminal, no capabilities, no new privileges, seccomp allow-list, Landlock ABI 4 (files, TCP)"},
        {{true, true, true, false, false, true, 1, true, false, false},
         "no terminal, no capabilities, no new privileges, seccomp allow-list, Landlock ABI 1 (files)"},
        {{false, true, false, false, false, false, 0, false, false, false}, "no new privileges, no seccomp filter, no Landlock"},
        {{}, "no seccomp filter, no Landlock"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe_confinement(c.got), c.words);
}

// ---- The parent's side: it hears a child only within its bounds ----

bool no_child_left()
{
    return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

int say_forever(void*)
{
    const std::string block(64 * 1024, 'x');
    for (;;)
        if (write(report_descriptor, block.data(), block.size()) < 0)
            return 1;
}

int say_nothing_for_ever(void*)
{
    for (;;)
        pause();
}

int chatter_forever(void*)
{
    const std::string block(64 * 1024, 'c');
    for (;;)
        if (write(STDERR_FILENO, block.data(), block.size()) < 0)
            return 1;
}

int say_a_little(void*)
{
    return write(report_descriptor, "a little", 8) == 8 ? 0 : 1;
}

const std::size_t heard_at_most = 1 << 20;

int say_bytes(std::size_t count)
{
    const std::string words(count, 'w');
    for (std::size_t at = 0; at < count;) {
        const ssize_t put = write(report_descriptor, words.data() + at, count - at);
        if (put <= 0)
            return 1;
        at += std::size_t(put);
    }
    return 0;
}

int say_as_much_as_is_heard(void*)
{
    return say_bytes(heard_at_most);
}

int say_one_byte_more(void*)
{
    return say_bytes(heard_at_most + 1);
}

long resident_kib()
{
    const std::string status = read_whole_file("/proc/self/status");
    const std::size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

TEST(HearingAChild, NothingBeyondItsBoundsInBytesOrInTime)
{
    const struct {
        const char* name;
        ConfinedWork work;
        Heard heard;
        std::size_t said;
    } cases[] = {
        {"a flood", say_forever, Heard::too_much, heard_at_most},
        {"a hang", say_nothing_for_ever, Heard::too_late, 0},
        {"a flood of chatter", chatter_forever, Heard::too_late, 0},
        {"a few words", say_a_little, Heard::whole, 8},
        {"as much as is heard", say_as_much_as_is_heard, Heard::whole, heard_at_most},
        {"one byte more", say_one_byte_more, Heard::too_much, heard_at_most},
    };
    for (const auto& c : cases) {
        const long before = resident_kib();
        ConfinedChild child = start_confined(ConfinedKind::reading, Handed{}, c.work, nullptr);
        ASSERT_GT(child.pid, 0);
        std::string said;
        const auto started = Clock::now();
        const Heard heard = hear(child, said, heard_at_most, started + std::chrono::milliseconds(1500));
        end_child(child);
        EXPECT_EQ(heard, c.heard) << c.name;
        EXPECT_EQ(said.size(), c.said) << c.name;
        EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(2500)) << c.name << ": the deadline holds";
        EXPECT_LT(resident_kib() - before, 8 * 1024) << c.name << ": the parent keeps no more than the bound";
        EXPECT_TRUE(no_child_left()) << c.name;
    }
}

// A confined child cannot start a process that would outlive it: threads only.
TEST_F(Confined, StartsNoProcessThatCouldOutliveIt)
{
    for (const ConfinedKind kind : every_kind) {
        const std::string said = said_by_confined_child(kind, input_fd, [] {
            const pid_t pid = fork();
            if (pid == 0)
                _exit(0);
            return pid < 0 ? std::to_string(errno) : "forked";
        });
        EXPECT_EQ(said, std::to_string(EPERM)) << name_of(kind);
    }
}

} // namespace
