// The real tools under attack: a library loaded with LD_PRELOAD tries every escape in each of their
// processes at the moment it first reads the input (or what carries its bytes on: a copy in
// memory, the converter's pipe), as an exploited parser would. In every kind of confined process,
// as root and as the ordinary user nobody, each attempt is refused, nothing of it shows from
// outside, and the tools still do their job. The same library in a plain program shows that every
// attempt works (or reaches the kernel) where nothing confines it, so that each can fail.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "attacked_tools.h"
#include "escape_scene.h"
#include "mesh_inputs.h"
#include "test_files.h"

namespace {

const std::size_t every_attempt_count = 65;
const char* const control_output_text = "the control's own\n";
const char* const rewritten_text = "rewritten by a process left behind\n";

// What an attack on a file or a folder could change and a person would see.
struct FileEvidence {
    std::string content, attribute;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
};

FileEvidence evidence_of(const std::string& path)
{
    FileEvidence e;
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        e.mode = status.st_mode;
        e.owner = status.st_uid;
        e.group = status.st_gid;
        if (S_ISREG(status.st_mode))
            e.content = read_whole_file(path);
    }
    char value[64];
    const ssize_t length = getxattr(path.c_str(), kept_attribute, value, sizeof value);
    e.attribute = length >= 0 ? std::string(value, std::size_t(length)) : "(none)";
    return e;
}

bool same_evidence(const FileEvidence& a, const FileEvidence& b)
{
    return a.content == b.content && a.attribute == b.attribute && a.mode == b.mode && a.owner == b.owner &&
           a.group == b.group;
}

// ---- One tool's run ----

struct ToolCase {
    std::string what;
    std::vector<std::string> command;
    std::string input;                // as the probe names it
    std::multiset<std::string> fired; // "PROGRAM KIND FDS" of each process that must have read it
    std::string output;               // what it writes; empty: nothing
    const char* output_begins;
    int status;
    std::string typed;                // the viewer's standard input
    bool through_a_fifo = false;      // the input is a FIFO a process of the test fills
    std::set<int> handed = {};        // the test's descriptors the tool keeps, for /dev/fd/N
};

// Short names for the tools' processes, for the table.
std::string column_of(const std::string& who)
{
    const std::map<std::string, std::string> names = {
        {"olvanta-convert converting 3,4,5,6", "convert:import"},
        {"olvanta-thumbnail reading 3,4", "thumbnail:judge"},
        {"olvanta-thumbnail drawing 3,4", "thumbnail:draw"},
        {"olvanta-open reading 3,4", "open:judge"},
        {"olvanta-open reading 3,4,5", "open:copy"},
        {"olvanta-snapshot reading 3,4", "snapshot:judge"},
        {"olvanta-snapshot reading 3,4,6", "snapshot:read"},
        {"olvanta reading 3,4,6", "viewer:read"},
    };
    const auto found = names.find(who);
    return found != names.end() ? found->second : who.rfind("wc none", 0) == 0 ? "control" : who;
}

std::string error_name(const std::string& reason)
{
    for (int e = 1; e < 134; ++e)
        if (reason == std::strerror(e))
            return strerrorname_np(e);
    return reason;
}

// A kernel built without kexec or without modules answers every caller ENOSYS, before it looks
// at any privilege. Asked here with the attempts' own harmless arguments.
bool kernel_lacks(const std::string& what)
{
    long answer = 0;
    if (what.rfind("load a kernel", 0) == 0)
        answer = syscall(SYS_kexec_load, 0, 0, nullptr, 0xdead0000UL);
    else if (what.rfind("load a module", 0) == 0)
        answer = syscall(SYS_finit_module, -1, "", 0);
    else if (what.rfind("remove a module", 0) == 0)
        answer = syscall(SYS_delete_module, "olvanta_no_such_module", O_NONBLOCK);
    else
        return false;
    return answer < 0 && errno == ENOSYS;
}

// The attempts that only a privilege can make: the kernel itself refuses nobody, whatever
// confines it or not.
bool needs_a_privilege(const std::string& what)
{
    for (const char* privileged : {"read /etc/shadow", "read the kernel's log", "set the host name", "reboot", "load a kernel",
                                   "load a module", "remove a module", "turn a swap off", "mount a tmpfs", "change the root",
                                   "redirect the console"})
        if (what.rfind(privileged, 0) == 0)
            return !kernel_lacks(what);
    return false;
}

class ToolsUnderAttack : public testing::Test {
protected:
    void SetUp() override { prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }

    void TearDown() override
    {
        end_processes(processes_left({scene.targets.victim}));
        close_terminal(terminal);
        take_down(scene);
        // Should the control's redirection of the console not have been taken back.
        if (geteuid() == 0) {
            const int console = open("/dev/console", O_WRONLY | O_NOCTTY | O_CLOEXEC);
            if (console >= 0) {
                ioctl(console, TIOCCONS);
                close(console);
            }
        }
    }

    void set_up_for(const RunAs& as)
    {
        user = as;
        scene = make_escape_scene(user.uid, user.gid);
        in = scene.input_dir;
        write_inputs(in);
        out = scene.dir + "/out";
        mount_point = scene.dir + "/mount-point";
        for (const std::string& folder : {out, mount_point})
            mkdir(folder.c_str(), 0755);
        memory = scene.dir + "/probe-memory";
        // The inputs and the folder beside them are nobody's whoever reads them, so an owner that
        // stays is seen; their attribute too.
        for (const std::string& name : directory_entries(in))
            setxattr((in + "/" + name).c_str(), kept_attribute, kept_value, std::strlen(kept_value), 0);
        setxattr(folder_beside().c_str(), kept_attribute, kept_value, std::strlen(kept_value), 0);
        const RunAs nobody = as_nobody();
        ASSERT_EQ(run_command("chown -R " + std::to_string(nobody.uid) + ":" + std::to_string(nobody.gid) + " '" +
                              scene.dir + "'").status, 0);
        ASSERT_EQ(chown(out.c_str(), user.uid, user.gid), 0);
        terminal = open_terminal();
        ASSERT_GE(terminal.controller, 0) << "no terminal could be made";
        display = refused_display();
        ASSERT_FALSE(display.empty()) << "no loopback port for an X display refused connections";
        shadow_start = read_whole_file("/etc/shadow").substr(0, 16);
    }

    std::string folder_beside() const { return scene.dir + "/beside"; }

    std::vector<std::string> watched_paths() const
    {
        std::vector<std::string> paths = {folder_beside(), scene.targets.beside, scene.targets.home + "/.bashrc",
                                          scene.targets.home + "/.ssh/id_rsa"};
        for (const std::string& name : directory_entries(in))
            paths.push_back(in + "/" + name);
        return paths;
    }

    std::vector<std::string> environment_for(const std::string& input, const std::string& output) const
    {
        return probe_environment(scene.targets, memory, input, output, mount_point, display);
    }

    // A process of the test that fills the FIFO, should the tool open it.
    pid_t fill_fifo(const std::string& fifo, const std::string& content)
    {
        const pid_t writer = fork();
        if (writer == 0) {
            const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
            _exit(fd >= 0 && write(fd, content.data(), content.size()) == ssize_t(content.size()) ? 0 : 1);
        }
        return writer;
    }

    // One run with every check from outside; the probe's reports for the table.
    std::vector<ProbeReport> run_attacked(const ToolCase& r)
    {
        EXPECT_TRUE(make_probe_memory(memory, user));
        std::map<std::string, FileEvidence> before;
        for (const std::string& path : watched_paths())
            before[path] = evidence_of(path);
        const TerminalState terminal_before = state_of(terminal);
        std::set<pid_t> known = control_left;
        known.insert(scene.targets.victim);
        pid_t writer = 0;
        if (r.through_a_fifo) {
            unlink(r.input.c_str());
            EXPECT_EQ(mkfifo(r.input.c_str(), 0644), 0);
            EXPECT_EQ(chown(r.input.c_str(), user.uid, user.gid), 0);
            known.insert(writer = fill_fifo(r.input, read_whole_file(in + "/torus.m")));
        }
        const ToolRun run = run_in_terminal(r.command, environment_for(r.input, r.output), user, terminal, scene.dir, r.typed,
                                            r.handed);
        if (writer > 0) {
            kill(writer, SIGKILL); // should the tool never have opened the FIFO
            waitpid(writer, nullptr, 0);
            unlink(r.input.c_str());
        }
        last_end = std::chrono::steady_clock::now();
        const std::string label = std::string(name_of(user)) + ", " + r.what;
        std::printf("%s: status %d in %.2f s\n", label.c_str(), run.status, run.seconds);
        EXPECT_EQ(run.status, r.status) << label << "; the terminal showed:\n" << run.seen;
        if (!r.output.empty()) {
            const std::string written = read_whole_file(r.output);
            EXPECT_EQ(written.rfind(r.output_begins, 0), 0u) << label << ": the output is whole";
            outputs[r.output] = written;
        }
        // Nothing of an attack shows from outside.
        EXPECT_TRUE(same_state(terminal_before, state_of(terminal))) << label << ": the terminal's settings";
        EXPECT_EQ(run.seen.find_first_of("\033\007"), std::string::npos) << label << ": what reached the terminal:\n"
                                                                        << run.seen;
        EXPECT_TRUE(processes_left(known).empty()) << label << ": a process of the tool outlived it";
        for (const auto& [path, evidence] : before)
            EXPECT_TRUE(same_evidence(evidence, evidence_of(path))) << label << ": " << path << " changed";
        EXPECT_EQ(read_whole_file("/proc/" + std::to_string(scene.targets.victim) + "/stat").find(") T"), std::string::npos)
            << label << ": the victim was left stopped";
        const std::string said = probe_text(memory);
        for (const char* leaked : {secret_words, key_words})
            EXPECT_EQ(said.find(leaked), std::string::npos) << label << ": '" << leaked << "' was carried away";
        if (!shadow_start.empty()) {
            EXPECT_EQ(said.find(shadow_start), std::string::npos) << label << ": /etc/shadow was carried away";
        }
        const std::vector<ProbeReport> reports = reports_in(said);
        std::multiset<std::string> fired;
        for (const ProbeReport& p : reports) {
            fired.insert(p.who);
            kinds.insert(p.kind);
            EXPECT_EQ(p.outcomes.size(), every_attempt_count) << label << ", " << p.heading;
            for (const EscapeOutcome& o : p.outcomes) {
                EXPECT_FALSE(o.done) << label << ", " << p.heading << ": " << o.what;
                EXPECT_TRUE(o.got.empty()) << label << ", " << p.heading << ": " << o.what << " got " << o.got;
                table[o.what][column_of(p.who)].insert(o.done ? "done" : error_name(o.reason));
            }
        }
        EXPECT_EQ(fired, r.fired) << label << ": the processes that read the input";
        return reports;
    }

    // The plain program: every attempt works, or reaches the kernel; as nobody, those that need a
    // privilege are the kernel's own to refuse.
    void run_the_control()
    {
        const std::string input = in + "/torus.m", output = out + "/control.txt";
        write_bytes(output, control_output_text);
        ASSERT_EQ(chown(output.c_str(), user.uid, user.gid), 0);
        ASSERT_TRUE(make_probe_memory(memory, user));
        const TerminalState terminal_before = state_of(terminal);
        const ToolRun run = run_in_terminal({"/bin/sh", "-c", "wc -l \"$1\"; exit $?", "sh", input},
                                            environment_for(input, output), user, terminal, scene.dir);
        control_output = output;
        const std::string label = std::string(name_of(user)) + ", the control";
        std::printf("%s: status %d in %.2f s\n", label.c_str(), run.status, run.seconds);
        EXPECT_EQ(run.status, 0) << label;
        const std::string said = probe_text(memory);
        const std::vector<ProbeReport> reports = reports_in(said);
        ASSERT_EQ(reports.size(), 1u) << label << ":\n" << said;
        EXPECT_EQ(reports[0].kind, "none") << label;
        ASSERT_EQ(reports[0].outcomes.size(), every_attempt_count) << label;
        for (const EscapeOutcome& o : reports[0].outcomes) {
            const bool applies = !(user.nobody && needs_a_privilege(o.what));
            EXPECT_EQ(o.done, applies) << label << ": " << o.what << " (" << o.reason << ")";
            table[o.what]["control"].insert(!applies ? "n/a: " + error_name(o.reason) : o.done ? "done" : error_name(o.reason));
        }
        // What the attacks carried away and showed, seen from outside.
        EXPECT_NE(said.find(secret_words), std::string::npos) << label << ": the parent's environment";
        EXPECT_NE(said.find(key_words), std::string::npos) << label << ": the key";
        for (const char* sequence : {"\033]0;olvanta escaped\007", "\033[2J", "\033]52;c;"})
            EXPECT_NE(run.seen.find(sequence), std::string::npos) << label << ": an escape sequence on the terminal";
        EXPECT_TRUE(same_state(terminal_before, state_of(terminal))) << label << ": the attempts undo what they did";
        tcflush(terminal.terminal, TCIFLUSH); // the faked input
        const std::vector<pid_t> left = processes_left({scene.targets.victim});
        EXPECT_EQ(left.size(), 1u) << label << ": the process it left behind";
        control_left.insert(left.begin(), left.end());
    }

    // Past three seconds after the last run: the control's output rewritten by what it left
    // behind, every tool's output as it was.
    void check_outputs_later()
    {
        std::this_thread::sleep_until(last_end + std::chrono::milliseconds(3500));
        for (const pid_t pid : control_left)
            waitpid(pid, nullptr, 0);
        EXPECT_EQ(read_whole_file(control_output), rewritten_text) << name_of(user) << ": the control's process left behind";
        for (const auto& [path, written] : outputs)
            EXPECT_EQ(read_whole_file(path), written) << name_of(user) << ": " << path << " was rewritten after the tool ended";
        EXPECT_TRUE(processes_left({scene.targets.victim}).empty());
    }

    std::vector<ToolCase> runs() const
    {
        const std::string convert = OLVANTA_CONVERT_PATH, thumbnail = OLVANTA_THUMBNAIL_PATH, open = OLVANTA_OPEN_PATH,
                          snapshot = OLVANTA_SNAPSHOT_PATH, viewer = OLVANTA_VIEWER_PATH;
        const std::string import = "olvanta-convert converting 3,4,5,6", viewer_reads = "olvanta reading 3,4,6";
        const auto converter_on = [&](const char* what, const char* file, const char* output) {
            return ToolCase{what, {convert, in + "/" + file, out + "/" + output}, in + "/" + file, {import}, out + "/" + output,
                       "Vertex 1 ", 0, "", false};
        };
        return {
            converter_on("the converter on an OBJ", "cube.obj", "obj.m"),
            converter_on("the converter on a PLY", "tetra.ply", "ply.m"),
            converter_on("the converter on a binary STL", "tetra.stl", "stl.m"),
            converter_on("the converter on a family file", "raw.m", "raw.m"),
            converter_on("the converter on a gzip family file", "raw.m.gz", "gz.m"),
            converter_on("the converter on a glTF with its buffer", "tri.gltf", "gltf.m"),
            converter_on("the converter on an OFF", "tetra.off", "off.m"),
            {"the thumbnailer on a mesh in the viewer's form", {thumbnail, in + "/torus.m", out + "/torus.png"}, in + "/torus.m",
             {"olvanta-thumbnail reading 3,4", "olvanta-thumbnail drawing 3,4"}, out + "/torus.png", "\x89PNG", 0, "", false},
            {"the thumbnailer on an OBJ", {thumbnail, in + "/cube.obj", out + "/cube.png"}, in + "/cube.obj",
             {"olvanta-thumbnail reading 3,4", import, "olvanta-thumbnail drawing 3,4"}, out + "/cube.png", "\x89PNG", 0, "", false},
            {"olvanta-open on a mesh in the viewer's form", {open, in + "/torus.m"}, in + "/torus.m",
             {"olvanta-open reading 3,4", viewer_reads}, "", "", 1, "", false},
            {"olvanta-open on an OBJ", {open, in + "/cube.obj"}, in + "/cube.obj",
             {"olvanta-open reading 3,4", import, viewer_reads}, "", "", 1, "", false},
            {"olvanta-open on a FIFO", {open, in + "/stream.m"}, in + "/stream.m",
             {"olvanta-open reading 3,4,5", "olvanta-open reading 3,4", viewer_reads}, "", "", 1, "", true},
            {"olvanta-snapshot on a mesh in the viewer's form", {snapshot, in + "/torus.m", out + "/snapshot.png"},
             in + "/torus.m", {"olvanta-snapshot reading 3,4", "olvanta-snapshot reading 3,4,6"}, out + "/snapshot.png",
             "\x89PNG", 0, "", false},
            {"the viewer", {viewer}, in + "/torus.m", {viewer_reads}, "", "", 1, in + "/torus.m\n", false},
        };
    }

    void sweep(const RunAs& as)
    {
        set_up_for(as);
        if (HasFatalFailure())
            return;
        run_the_control();
        for (const ToolCase& r : runs())
            run_attacked(r);
        for (const char* kind : {"reading", "converting", "drawing"})
            EXPECT_TRUE(kinds.count(kind)) << name_of(user) << ": no " << kind << " process fired";
        check_outputs_later();
        print_table();
    }

    // Attempt by process, as the lead copies it: each cell the outcomes seen there.
    void print_table() const
    {
        const std::vector<std::string> columns = {"control",        "convert:import", "thumbnail:judge", "thumbnail:draw",
                                                  "open:judge",     "open:copy",      "snapshot:judge",  "snapshot:read",
                                                  "viewer:read"};
        std::string text = "\nattempt (as " + std::string(name_of(user)) + ")";
        for (const std::string& c : columns)
            text += " | " + c;
        text += "\n";
        for (const auto& [what, cells] : table) {
            text += what;
            for (const std::string& c : columns) {
                std::string cell;
                const auto found = cells.find(c);
                for (const std::string& seen : found == cells.end() ? std::set<std::string>{"-"} : found->second)
                    cell += (cell.empty() ? "" : "/") + seen;
                text += " | " + cell;
            }
            text += "\n";
        }
        std::printf("%s\n", text.c_str());
    }

    RunAs user;
    EscapeScene scene;
    Terminal terminal;
    std::string in, out, mount_point, memory, display, shadow_start, control_output;
    std::set<std::string> kinds;
    std::set<pid_t> control_left;
    std::map<std::string, std::string> outputs;
    std::map<std::string, std::map<std::string, std::set<std::string>>> table;
    std::chrono::steady_clock::time_point last_end = std::chrono::steady_clock::now();
};

TEST_F(ToolsUnderAttack, AsRootEveryEscapeIsRefusedInEveryConfinedProcessAndTheToolsStillWork)
{
    ASSERT_EQ(geteuid(), 0u) << "these runs are root's; the suite runs as root";
    sweep(as_root());
}

TEST_F(ToolsUnderAttack, AsAnOrdinaryUserEveryEscapeIsRefusedInEveryConfinedProcessAndTheToolsStillWork)
{
    ASSERT_EQ(geteuid(), 0u) << "runuser needs root to run the tools as nobody";
    sweep(as_nobody());
}

// Inputs named by an open descriptor, as olvanta-open passes them: a memory file and a file opened
// before; the confined readers still reach them, and are still the only ones that read them.
TEST_F(ToolsUnderAttack, InputsNamedByTheirDescriptorAreReadConfinedToo)
{
    ASSERT_EQ(geteuid(), 0u) << "the suite runs as root";
    set_up_for(as_root());
    ASSERT_FALSE(HasFatalFailure());
    const std::string convert = OLVANTA_CONVERT_PATH, thumbnail = OLVANTA_THUMBNAIL_PATH;
    const std::string judge = "olvanta-thumbnail reading 3,4", draw = "olvanta-thumbnail drawing 3,4",
                      import = "olvanta-convert converting 3,4,5,6";
    for (const char* input : {"torus.m", "cube.obj"}) {
        const std::string content = read_whole_file(in + "/" + input);
        const int memory_file = memfd_create("mesh", 0);
        ASSERT_EQ(write(memory_file, content.data(), content.size()), ssize_t(content.size()));
        const int opened = open((in + "/" + input).c_str(), O_RDONLY);
        const bool in_the_form = std::string(input) == "torus.m";
        for (const int fd : {memory_file, opened}) {
            const std::string name = "/dev/fd/" + std::to_string(fd), what = std::string(input) + " as " + name;
            std::multiset<std::string> drawn = {judge, draw};
            if (!in_the_form)
                drawn.insert(import);
            run_attacked({"the thumbnailer on " + what, {thumbnail, name, out + "/by-descriptor.png"}, name, drawn,
                          out + "/by-descriptor.png", "\x89PNG", 0, "", false, {fd}});
            run_attacked({"the converter on " + what, {convert, name, out + "/by-descriptor.m"}, name, {import},
                          out + "/by-descriptor.m", "Vertex 1 ", 0, "", false, {fd}});
        }
        close(memory_file);
        close(opened);
    }
}

} // namespace
