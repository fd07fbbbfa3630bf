// The real tools under attack: a library loaded with LD_PRELOAD tries every escape in each of their
// processes at the moment it first opens the input (or the converter's pipe), as an exploited
// parser would. Each attempt is refused in each such process, and the tools still do their job.
// The same library in a plain program shows that the attempts work where nothing confines them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "escape_scene.h"
#include "test_files.h"

namespace {

struct ProbeReport {
    std::string process; // "PID NAME opening PATH"
    std::vector<EscapeOutcome> outcomes;
};

// One report a process: its heading line after "@@ ", then its outcome lines.
std::vector<ProbeReport> reports_in(const std::string& text)
{
    std::vector<ProbeReport> reports;
    for (std::size_t at = text.rfind("@@ ", 0) == 0 ? 0 : text.find("\n@@ "); at != std::string::npos;) {
        at = text.find("@@ ", at);
        const std::size_t heading_end = text.find('\n', at);
        const std::size_t next = text.find("\n@@ ", heading_end == std::string::npos ? at : heading_end);
        ProbeReport report;
        report.process = text.substr(at + 3, heading_end - at - 3);
        if (heading_end != std::string::npos)
            report.outcomes = parse_outcome_lines(text.substr(heading_end + 1, next == std::string::npos ? next : next - heading_end));
        reports.push_back(report);
        at = next;
    }
    return reports;
}

std::string name_of(const ProbeReport& report)
{
    const std::size_t from = report.process.find(' ') + 1;
    return report.process.substr(from, report.process.find(' ', from) - from);
}

class ToolsUnderAttack : public testing::Test {
protected:
    void SetUp() override
    {
        scene = make_escape_scene();
        const std::string& in = scene.input_dir;
        write_bytes(in + "/torus.m", run_command("'" OLVANTA_GENERATOR_PATH "' 24 12").out);
        write_bytes(in + "/raw.m", run_command("sed 's/ {normal=([^)]*)}//' '" + in + "/torus.m'").out);
        write_bytes(in + "/raw.m.gz", run_command("gzip -c '" + in + "/raw.m'").out);
        write_bytes(in + "/cube.obj", "mtllib cube.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\n"
                                      "v 1 1 1\nv 0 1 1\nusemtl red\nf 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\n"
                                      "f 3 4 8 7\nf 4 1 5 8\n");
        write_bytes(in + "/cube.mtl", "newmtl red\nKd 1 0 0\n");
        out_dir = scene.dir + "/out";
        mkdir(out_dir.c_str(), 0755);
        report = scene.dir + "/reports.txt";
    }

    void TearDown() override { take_down(scene); }

    // Runs `program` with the probe loaded, aimed at `input`; its exit status (128 + a signal).
    int run_attacked(const std::vector<std::string>& program, const std::string& input)
    {
        const int reports = open(report.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
        const pid_t pid = fork();
        if (pid == 0) {
            const EscapeTargets& t = scene.targets;
            setenv("LD_PRELOAD", OLVANTA_ESCAPE_PROBE, 1);
            setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
            setenv("HOME", t.home.c_str(), 1);
            setenv("OLVANTA_PROBE_INPUT", input.c_str(), 1);
            setenv("OLVANTA_PROBE_REPORT_FD", std::to_string(reports).c_str(), 1);
            setenv("OLVANTA_PROBE_BESIDE", t.beside.c_str(), 1);
            setenv("OLVANTA_PROBE_TCP_PORT", std::to_string(t.tcp_port).c_str(), 1);
            setenv("OLVANTA_PROBE_LOCAL_SOCKET", t.local_socket.c_str(), 1);
            setenv("OLVANTA_PROBE_ABSTRACT_SOCKET", t.abstract_socket.c_str(), 1);
            setenv("OLVANTA_PROBE_VICTIM", std::to_string(t.victim).c_str(), 1);
            std::vector<char*> argv;
            for (const std::string& word : program)
                argv.push_back(const_cast<char*>(word.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(reports);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    EscapeScene scene;
    std::string out_dir, report;
};

const std::size_t attempts = 11;

// The five runs a file manager or a shell makes every day on downloaded files: the processes that
// must have opened what they read (by program name), and what the output begins with.
TEST_F(ToolsUnderAttack, EveryEscapeIsRefusedInEveryProcessThatReadsAndTheToolsStillWork)
{
    const std::string convert = OLVANTA_CONVERT_PATH, thumbnail = OLVANTA_THUMBNAIL_PATH;
    const struct {
        const char* what;
        std::string tool;
        const char* input;
        const char* output;
        std::set<std::string> readers;
        const char* output_begins;
    } runs[] = {
        {"the converter on an OBJ", convert, "cube.obj", "cube.m", {"olvanta-convert"}, "Vertex 1 "},
        {"the converter on a gzip family file", convert, "raw.m.gz", "raw.m", {"olvanta-convert"}, "Vertex 1 "},
        {"the thumbnailer on a strict mesh", thumbnail, "torus.m", "torus.png", {"olvanta-thumbnail"}, "\x89PNG"},
        {"the thumbnailer on a raw family file", thumbnail, "raw.m", "raw.png", {"olvanta-convert", "olvanta-thumbnail"},
         "\x89PNG"},
        {"the thumbnailer on an OBJ", thumbnail, "cube.obj", "cube.png", {"olvanta-convert", "olvanta-thumbnail"},
         "\x89PNG"},
    };
    for (const auto& r : runs) {
        unlink(report.c_str());
        const std::string input = scene.input_dir + "/" + r.input, output = out_dir + "/" + r.output;
        const std::string before = read_whole_file(input);
        EXPECT_EQ(run_attacked({r.tool, input, output}, input), 0) << r.what;
        EXPECT_EQ(read_whole_file(output).rfind(r.output_begins, 0), 0u) << r.what << ": the output is whole";
        const std::vector<ProbeReport> reports = reports_in(read_whole_file(report));
        std::set<std::string> readers;
        for (const ProbeReport& p : reports) {
            readers.insert(name_of(p));
            EXPECT_EQ(p.outcomes.size(), attempts) << r.what << ", " << p.process;
            for (const EscapeOutcome& o : p.outcomes)
                EXPECT_FALSE(o.done) << r.what << ", " << p.process << ": " << o.what;
        }
        EXPECT_EQ(readers, r.readers) << r.what << ": the processes that opened what they read";
        EXPECT_EQ(read_whole_file(scene.targets.home + "/.bashrc"), "# the user's own\n") << r.what;
        EXPECT_EQ(read_whole_file(input), before) << r.what << ": the input is as it was";
    }
}

// Inputs named by an open descriptor, as olvanta-open passes them: a memory file and a file opened
// before; the confined readers still reach them.
TEST_F(ToolsUnderAttack, InputsNamedByTheirDescriptorAreStillRead)
{
    const std::string convert = OLVANTA_CONVERT_PATH, thumbnail = OLVANTA_THUMBNAIL_PATH;
    for (const char* input : {"torus.m", "raw.m", "cube.obj"}) {
        const std::string content = read_whole_file(scene.input_dir + "/" + input);
        const int memory = memfd_create("mesh", 0);
        ASSERT_EQ(write(memory, content.data(), content.size()), ssize_t(content.size()));
        const int opened = open((scene.input_dir + "/" + input).c_str(), O_RDONLY);
        for (const int fd : {memory, opened}) {
            const std::string name = "/dev/fd/" + std::to_string(fd);
            const std::string picture = out_dir + "/by-descriptor.png", mesh = out_dir + "/by-descriptor.m";
            EXPECT_EQ(run_attacked({thumbnail, name, picture}, name), 0) << input << " as " << name;
            EXPECT_EQ(read_whole_file(picture).rfind("\x89PNG", 0), 0u) << input << " as " << name;
            EXPECT_EQ(run_attacked({convert, name, mesh}, name), 0) << input << " as " << name;
            EXPECT_EQ(read_whole_file(mesh).rfind("Vertex 1 ", 0), 0u) << input << " as " << name;
            unlink(picture.c_str());
            unlink(mesh.c_str());
        }
        close(memory);
        close(opened);
    }
    for (const ProbeReport& p : reports_in(read_whole_file(report)))
        for (const EscapeOutcome& o : p.outcomes)
            EXPECT_FALSE(o.done) << p.process << ": " << o.what;
}

// A mesh arriving through a FIFO is kept whole in memory to be judged: the child that copies it
// there confines itself before it reads a byte, and only confined children read the copy.
TEST_F(ToolsUnderAttack, AMeshThroughAFifoIsReadConfinedToo)
{
    const std::string fifo = scene.input_dir + "/stream.m", output = out_dir + "/stream.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        const std::string mesh = read_whole_file(scene.input_dir + "/torus.m");
        const int fd = open(fifo.c_str(), O_WRONLY);
        _exit(fd >= 0 && write(fd, mesh.data(), mesh.size()) == ssize_t(mesh.size()) ? 0 : 1);
    }
    EXPECT_EQ(run_attacked({OLVANTA_THUMBNAIL_PATH, fifo, output}, fifo), 0);
    kill(writer, SIGKILL); // should the thumbnailer never have opened the FIFO
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(read_whole_file(output).rfind("\x89PNG", 0), 0u);
    const std::vector<ProbeReport> reports = reports_in(read_whole_file(report));
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_EQ(reports[0].outcomes.size(), attempts);
    for (const EscapeOutcome& o : reports[0].outcomes)
        EXPECT_FALSE(o.done) << o.what;
}

// The control: a program that confines nothing, with the same library on the same input.
TEST_F(ToolsUnderAttack, EveryEscapeWorksInAProgramThatDoesNotConfineItself)
{
    const std::string input = scene.input_dir + "/torus.m";
    EXPECT_EQ(run_attacked({"/usr/bin/wc", "-l", input}, input), 0);
    const std::vector<ProbeReport> reports = reports_in(read_whole_file(report));
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_EQ(reports[0].outcomes.size(), attempts);
    for (const EscapeOutcome& o : reports[0].outcomes)
        EXPECT_TRUE(o.done) << o.what;
}

} // namespace
