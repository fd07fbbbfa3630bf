// olvanta-open when it cannot show a file: one line that names the file and the reason, status 1,
// and, when nobody sees its standard error (a file manager started it), a desktop notice that
// says the same; none when standard error is a terminal.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "scratch_folder.h"
#include "session_bus.h"
#include "test_files.h"

namespace {

const std::string open_program = OLVANTA_OPEN_PATH;
const std::string recorder = std::string(OLVANTA_SOURCE_DIR) + "/tests/desktop/notification_recorder.py";

std::string in_quotes(const std::string& text)
{
    return "'" + text + "'";
}

class OpenFailure : public testing::Test {
protected:
    void SetUp() override
    {
        dir = temporary_directory();
        chmod(dir.c_str(), 0755);
        mkdir((dir + "/a folder").c_str(), 0755);
        write_bytes(dir + "/damaged.stl", "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0");
        write_bytes(dir + "/private.m", "Vertex 1 0 0 0 {normal=(0 0 1)}\n");
        chmod((dir + "/private.m").c_str(), 0600);
        write_bytes(dir + "/torus.m", read_whole_file(std::string(OLVANTA_SOURCE_DIR) + "/examples/torus.txt"));
    }

    void TearDown() override { remove_directory(dir); }

    // Without a display, a session bus or a terminal, unless the environment names them.
    CommandRun open_file(const std::string& file, const std::string& environment = "")
    {
        return run_command("env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR " + environment + " " +
                           in_quotes(open_program) + " " + in_quotes(file) + " </dev/null");
    }

    std::string dir;
};

TEST_F(OpenFailure, OneLineNamesTheFileAndTheReason)
{
    const struct {
        std::string file, line;
    } cases[] = {
        {dir + "/no such file.m", "olvanta-open: cannot open '" + dir + "/no such file.m': No such file or directory\n"},
        {dir + "/a folder", "olvanta-open: cannot open '" + dir + "/a folder': Is a directory\n"},
    };
    for (const auto& c : cases) {
        const CommandRun run = open_file(c.file);
        EXPECT_EQ(run.status, 1) << c.file;
        EXPECT_EQ(run.err, c.line);
        EXPECT_EQ(run.out, "");
    }
    const CommandRun damaged = open_file(dir + "/damaged.stl");
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("olvanta-convert: cannot read '" + dir + "/damaged.stl' as a mesh: "), std::string::npos)
        << damaged.err;
}

// Another user, to whom the file is closed: the system's reason, not a conversion that fails.
TEST_F(OpenFailure, AFileClosedToThisUserIsNamedWithTheSystemsReason)
{
    const std::string copy = dir + "/olvanta-open";
    ASSERT_EQ(run_command("cp " + in_quotes(open_program) + " " + in_quotes(copy)).status, 0);
    const CommandRun run = run_command("runuser -u nobody -- env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS " +
                                       in_quotes(copy) + " " + in_quotes(dir + "/private.m"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "olvanta-open: cannot open '" + dir + "/private.m': Permission denied\n");
}

std::vector<std::string> notices(const SessionBus& bus)
{
    std::vector<std::string> lines;
    const std::string all = read_whole_file(bus.record);
    for (std::size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(all.substr(at, end - at));
    return lines;
}

TEST_F(OpenFailure, ADesktopNoticeSaysWhyWhenNobodySeesStandardError)
{
    SessionBus bus = start_session_bus(dir, recorder);
    const SessionBusStopper stopper{bus};
    ASSERT_FALSE(bus.address.empty()) << "no private session bus with the notification recorder";
    const std::string on_bus = "DBUS_SESSION_BUS_ADDRESS=" + in_quotes(bus.address);
    const struct {
        std::string file, summary, body_begins;
    } cases[] = {
        {dir + "/damaged.stl", "Olvanta cannot show damaged.stl", "cannot read '" + dir + "/damaged.stl' as a mesh: "},
        {dir + "/no such file.m", "Olvanta cannot show no such file.m",
         "cannot open '" + dir + "/no such file.m': No such file or directory"},
        // Shown as it is, but the viewer cannot open its window: the toolkit's own words.
        {dir + "/torus.m", "Olvanta cannot show torus.m", "freeglut"},
    };
    std::size_t expected = 0;
    for (const auto& c : cases) {
        const CommandRun run = open_file(c.file, on_bus);
        EXPECT_NE(run.status, 0) << c.file;
        const std::vector<std::string> said = notices(bus);
        ASSERT_EQ(said.size(), ++expected) << c.file << ": " << run.err;
        const Notice notice = notice_from(said.back());
        EXPECT_EQ(unlike_our_notices(notice), "") << said.back();
        EXPECT_EQ(notice.summary(), c.summary);
        EXPECT_EQ(notice.body().rfind(c.body_begins, 0), 0u) << notice.body();
    }
    // On a terminal, the person reads the line there.
    const CommandRun on_terminal = run_command("env -u DISPLAY " + on_bus + " script -qec " +
                                               in_quotes(in_quotes(open_program) + " " + in_quotes(dir + "/damaged.stl")) +
                                               " /dev/null");
    EXPECT_NE(on_terminal.out.find("cannot read '" + dir + "/damaged.stl' as a mesh"), std::string::npos)
        << on_terminal.out;
    EXPECT_EQ(notices(bus).size(), expected) << "no notice when standard error is a terminal";
}

} // namespace
