// The real converter and thumbnailer inside a host sandbox (bubblewrap) whose own seccomp filter
// takes one of the kernel's means away: Landlock (ENOSYS), or seccomp itself. The other layer still
// keeps an injected payload from the key, /etc/shadow and the parent's environment, the tools still
// work, and --version says what is in force. What else a payload could do there is printed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "attacked_tools.h"
#include "escape_scene.h"
#include "mesh_inputs.h"
#include "test_files.h"

namespace {

// A host's filter as bubblewrap takes it: the program's bytes in a descriptor the tool inherits.
int exported(scmp_filter_ctx filter)
{
    const int fd = memfd_create("host-filter", 0);
    const bool written = fd >= 0 && seccomp_export_bpf(filter, fd) == 0 && lseek(fd, 0, SEEK_SET) == 0;
    seccomp_release(filter);
    if (!written && fd >= 0)
        close(fd);
    return written ? fd : -1;
}

int filter_without_landlock()
{
    scmp_filter_ctx host = seccomp_init(SCMP_ACT_ALLOW);
    for (const int call : {SCMP_SYS(landlock_create_ruleset), SCMP_SYS(landlock_add_rule), SCMP_SYS(landlock_restrict_self)})
        seccomp_rule_add(host, SCMP_ACT_ERRNO(ENOSYS), call, 0);
    return exported(host);
}

int filter_without_seccomp()
{
    scmp_filter_ctx host = seccomp_init(SCMP_ACT_ALLOW);
    seccomp_rule_add(host, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(seccomp), 0);
    seccomp_rule_add(host, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP));
    return exported(host);
}

struct Host {
    const char* name;
    int (*filter)();
    const char* in_force;  // in the tools' --version line
    const char* left_out;
};

const Host hosts[] = {
    {"a host without Landlock", filter_without_landlock, "seccomp allow-list", "no Landlock"},
    {"a host without seccomp", filter_without_seccomp, "Landlock ABI", "no seccomp filter"},
};

// The reading attempts a single layer must still refuse.
const char* const kept_secrets[] = {"read ~/.ssh/id_rsa", "read /etc/shadow", "read the parent's environment"};

class InAHostSandbox : public testing::Test {
protected:
    void SetUp() override
    {
        prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
        ASSERT_EQ(access("/usr/bin/bwrap", X_OK), 0) << "bubblewrap is not installed (Debian package bubblewrap)";
        ASSERT_EQ(geteuid(), 0u) << "bubblewrap makes its namespaces here as root";
        scene = make_escape_scene();
        write_inputs(scene.input_dir);
        out = scene.dir + "/out";
        mount_point = scene.dir + "/mount-point";
        for (const std::string& folder : {out, mount_point})
            mkdir(folder.c_str(), 0755);
        memory = scene.dir + "/probe-memory";
        terminal = open_terminal();
        ASSERT_GE(terminal.controller, 0) << "no terminal could be made";
        shadow_start = read_whole_file("/etc/shadow").substr(0, 16);
    }

    void TearDown() override
    {
        end_processes(processes_left({scene.targets.victim}));
        close_terminal(terminal);
        take_down(scene);
    }

    ToolRun in_host(int filter, const std::vector<std::string>& command, const std::vector<std::string>& environment)
    {
        std::vector<std::string> words = {"/usr/bin/bwrap", "--dev-bind", "/", "/", "--seccomp", std::to_string(filter), "--"};
        words.insert(words.end(), command.begin(), command.end());
        return run_in_terminal(words, environment, as_root(), terminal, scene.dir, "", {filter});
    }

    EscapeScene scene;
    Terminal terminal;
    std::string out, mount_point, memory, shadow_start;
};

TEST_F(InAHostSandbox, VersionSaysWhatIsInForce)
{
    for (const Host& host : hosts)
        for (const char* tool : {OLVANTA_CONVERT_PATH, OLVANTA_THUMBNAIL_PATH}) {
            const int filter = host.filter();
            ASSERT_GE(filter, 0) << host.name << ": no filter could be made";
            const ToolRun run = in_host(filter, {tool, "--version"}, {"PATH=/usr/bin:/bin"});
            close(filter);
            EXPECT_EQ(run.status, 0) << host.name << ", " << tool << ":\n" << run.seen;
            const std::size_t at = run.seen.find("confinement: ");
            ASSERT_NE(at, std::string::npos) << host.name << ", " << tool << ":\n" << run.seen;
            const std::string line = run.seen.substr(at, run.seen.find('\n', at) - at);
            std::printf("%s, %s: %s\n", host.name, tool, line.c_str());
            EXPECT_NE(line.find(host.in_force), std::string::npos) << host.name << ": " << line;
            EXPECT_NE(line.find(host.left_out), std::string::npos) << host.name << ": " << line;
            EXPECT_NE(line.find("no new privileges"), std::string::npos) << host.name << ": " << line;
        }
}

TEST_F(InAHostSandbox, ASingleLayerStillKeepsTheSecretsAndTheToolsStillWork)
{
    const std::string convert = OLVANTA_CONVERT_PATH, thumbnail = OLVANTA_THUMBNAIL_PATH, in = scene.input_dir;
    const struct {
        const char* what;
        std::vector<std::string> command;
        std::string output;
        const char* output_begins;
        std::size_t readers; // the confined processes that read the input
    } runs[] = {
        {"the converter on an OBJ", {convert, in + "/cube.obj", out + "/cube.m"}, out + "/cube.m", "Vertex 1 ", 1},
        {"the thumbnailer on an OBJ", {thumbnail, in + "/cube.obj", out + "/cube.png"}, out + "/cube.png", "\x89PNG", 3},
    };
    for (const Host& host : hosts) {
        std::map<std::string, std::set<std::string>> through; // what else a payload did there
        for (const auto& r : runs) {
            const std::string label = std::string(host.name) + ", " + r.what;
            ASSERT_TRUE(make_probe_memory(memory, as_root()));
            const int filter = host.filter();
            ASSERT_GE(filter, 0) << label << ": no filter could be made";
            const ToolRun run = in_host(filter, r.command,
                                        probe_environment(scene.targets, memory, in + "/cube.obj", r.output, mount_point,
                                                          "127.0.0.1:1"));
            close(filter);
            std::printf("%s: status %d in %.2f s\n", label.c_str(), run.status, run.seconds);
            EXPECT_EQ(run.status, 0) << label << ":\n" << run.seen;
            EXPECT_EQ(read_whole_file(r.output).rfind(r.output_begins, 0), 0u) << label << ": the output is whole";
            const std::string said = probe_text(memory);
            for (const std::string& leaked : {std::string(secret_words), std::string(key_words), shadow_start})
                EXPECT_TRUE(leaked.empty() || said.find(leaked) == std::string::npos) << label << ": '" << leaked << "' was carried away";
            const std::vector<ProbeReport> reports = reports_in(said);
            EXPECT_EQ(reports.size(), r.readers) << label << ":\n" << said;
            for (const ProbeReport& p : reports)
                for (const EscapeOutcome& o : p.outcomes) {
                    for (const char* kept : kept_secrets) {
                        if (o.what == kept) {
                            EXPECT_FALSE(o.done) << label << ", " << p.heading << ": " << o.what;
                        }
                    }
                    if (o.done)
                        through[o.what].insert(p.heading.substr(p.heading.find(' ') + 1));
                }
            unlink(r.output.c_str());
        }
        std::printf("%s: what a payload still did in a confined child:\n", host.name);
        for (const auto& [what, where] : through)
            std::printf("  %s (%zu kinds of process)\n", what.c_str(), where.size());
        // Whatever it left behind is the test's to end, after the tools have.
        end_processes(processes_left({scene.targets.victim}));
    }
}

} // namespace
