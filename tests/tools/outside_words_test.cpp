// Words from outside as the real programs say them: a file whose name holds terminal escapes
// (a title change, a cleared screen, a clipboard write), a link's markup and a Latin-1 letter;
// a file that names another in the same way; words typed on the command line and a child's own
// messages. Every line reaches standard error as valid UTF-8 with no control character, and the
// desktop notice reaches a service that renders markup as text.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "convert_support.h"
#include "session_bus.h"
#include "shown_checks.h"

namespace {

const std::string open_program = OLVANTA_OPEN_PATH;
const std::string thumbnailer = OLVANTA_THUMBNAIL_PATH;
const std::string recorder = std::string(OLVANTA_SOURCE_DIR) + "/tests/desktop/notification_recorder.py";

// A name cannot hold a slash, so the link's markup is spread over two folders and the file:
// `<a href="https:`, then `x">Security update<`, then `a>...`; the path reads as the link.
const std::string link_path = "/<a href=\"https://x\">Security update</a>";
const std::string escapes = " \x1b]0;owned\x07\x1b[2J\x1b]52;c;aGVsbG8=\x07" "caf\xe9";
const std::string escapes_shown = " \\033]0;owned\\a\\033[2J\\033]52;c;aGVsbG8=\\acaf\\351";

const std::string damaged_obj = "v 0 0 0\nv 1 0 0\nv 0 1\nf 1 2 3\n";
const std::string damage = "the file is damaged (line 3: a position without three numbers)";

std::string in_quotes(const std::string& text)
{
    return "'" + text + "'";
}

void expect_every_line_safe(const std::string& said, const std::string& what)
{
    EXPECT_TRUE(valid_utf8(said)) << what << ": " << said;
    for (const std::string& line : lines_of(said))
        EXPECT_FALSE(holds_control_character(line)) << what << ": " << line;
}

class OutsideWords : public testing::Test {
protected:
    void SetUp() override
    {
        dir = temporary_directory();
        chmod(dir.c_str(), 0755);
        mkdir((dir + "/<a href=\"https:").c_str(), 0755);
        mkdir((dir + "/<a href=\"https://x\">Security update<").c_str(), 0755);
        damaged = dir + link_path + escapes + ".obj";
        damaged_shown = dir + link_path + escapes_shown + ".obj";
        write_bytes(damaged, damaged_obj);
    }

    void TearDown() override { remove_directory(dir); }

    // Without a display, a session bus or a terminal, unless the environment names them.
    CommandRun open_file(const std::string& file, const std::string& environment = "")
    {
        return run_command("env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR " + environment + " " +
                           in_quotes(open_program) + " " + in_quotes(file) + " </dev/null");
    }

    std::string dir, damaged, damaged_shown;
};

TEST_F(OutsideWords, TheConverterShowsTheNamesItIsGivenAndTheNamesAFileHolds)
{
    const CommandRun failed = convert(damaged, dir + "/out.m");
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "olvanta-convert: cannot read '" + damaged_shown + "' as a mesh: " + damage + "\n");
    expect_every_line_safe(failed.err, "a damaged file");

    // The converter's child reports in lines: a name's line end once let the name say a line of its own.
    const std::string forging = dir + "/x\nerror forged.obj";
    write_bytes(forging, damaged_obj);
    const CommandRun forged = convert(forging, dir + "/out.m");
    EXPECT_EQ(forged.status, 1);
    EXPECT_EQ(forged.err, "olvanta-convert: cannot read '" + dir + "/x\\nerror forged.obj' as a mesh: " + damage + "\n");

    const std::string model = dir + "/triangle" + escapes + ".obj", output = dir + "/out" + escapes + ".m";
    write_bytes(model, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const CommandRun written = convert(model, output);
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.out, "olvanta-convert: wrote 3 vertices and 1 faces to " + dir + "/out" + escapes_shown + ".m\n");
    expect_every_line_safe(written.out, "a converted file's summary");

    // The import library asks for a buffer the glTF names; the name came from the file.
    mkdir((dir + "/folder").c_str(), 0755);
    const std::string buffer = "../\\u001b]0;owned\\u0007<b>bold</b>\\u00e9.bin";
    write_bytes(dir + "/folder/m.gltf",
                R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
                R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],"buffers":[{"uri":")" +
                    buffer + R"(","byteLength":36}],"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36}],)"
                R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],)"
                R"("max":[1,1,0]}]})");
    const CommandRun named = convert(dir + "/folder/m.gltf", dir + "/out.m");
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.err, "olvanta-convert: cannot read '" + dir + "/folder/m.gltf' as a mesh: it names '" + dir +
                             "/folder/../\\033]0;owned\\a<b>bold</b>\xc3\xa9.bin', which lies outside its folder; it "
                             "was not opened\n");
    expect_every_line_safe(named.err, "a name in a file");
}

TEST_F(OutsideWords, CommandLinesAreShownAsTheyWereTyped)
{
    const struct {
        const char* tool;
        std::string command, first_line;
    } cases[] = {
        {"converter's unknown option", in_quotes(OLVANTA_CONVERT_PATH) + " '--\x1b[2J' a b",
         "olvanta-convert: unknown option '--\\033[2J'"},
        {"converter's limit", in_quotes(OLVANTA_CONVERT_PATH) + " --time-limit '\x1b]0;x\x07' a b",
         "olvanta-convert: --time-limit: '\\033]0;x\\a' is not a whole number of seconds from 1 to 2147483647"},
        {"thumbnailer's size", in_quotes(thumbnailer) + " --size '9\xe9' a b",
         "olvanta-thumbnail: --size: '9\\351' is not a whole number of pixels from 16 to 2048"},
        {"thumbnailer's third name", in_quotes(thumbnailer) + " a b 'c\x7f'",
         "olvanta-thumbnail: too many names: 'c\\177'"},
        {"snapshot's value", in_quotes(OLVANTA_SNAPSHOT_PATH) + " --style '\xc2\x9b" "2J' a b",
         "olvanta-snapshot: wrong value '\\302\\2332J' for --style"},
        {"snapshot's unknown option", in_quotes(OLVANTA_SNAPSHOT_PATH) + " '-\x1b[2J' a b",
         "olvanta-snapshot: unknown option -\\033[2J"},
    };
    for (const auto& c : cases) {
        const CommandRun run = run_command(c.command);
        EXPECT_EQ(run.status, 2) << c.tool;
        EXPECT_EQ(first_line(run.err), c.first_line) << c.tool;
        expect_every_line_safe(run.err, c.tool);
    }
}

TEST_F(OutsideWords, OlvantaOpenShowsTheNameAndWhatItsChildrenSay)
{
    const CommandRun failed = open_file(damaged);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "olvanta-open: '" + damaged_shown +
                              "' is not in the viewer's own form; it is converted on the way, and no file is "
                              "written\nolvanta-convert: cannot read '" + damaged_shown + "' as a mesh: " + damage +
                              "\n");
    expect_every_line_safe(failed.err, "a damaged file");

    const std::string missing = dir + link_path + escapes + ".m";
    const CommandRun not_there = open_file(missing);
    EXPECT_EQ(not_there.status, 1);
    EXPECT_EQ(not_there.err, "olvanta-open: cannot open '" + dir + link_path + escapes_shown +
                                 ".m': No such file or directory\n");

    // The toolkit in the viewer names the display as the environment gave it; olvanta-open passes
    // the viewer's lines on, shown.
    write_bytes(dir + "/torus.m", read_whole_file(std::string(OLVANTA_SOURCE_DIR) + "/examples/torus.txt"));
    const CommandRun no_display = open_file(dir + "/torus.m", "DISPLAY='\x1b]0;owned\x07:9'");
    EXPECT_NE(no_display.status, 0);
    EXPECT_NE(no_display.err.find("'\\033]0;owned\\a:9'"), std::string::npos) << no_display.err;
    expect_every_line_safe(no_display.err, "the viewer's own words");
}

TEST_F(OutsideWords, TheThumbnailerShowsTheNameAndTheConvertersLines)
{
    const CommandRun run =
        run_command(in_quotes(thumbnailer) + " " + in_quotes(damaged) + " " + in_quotes(dir + "/out.png"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "olvanta-convert: cannot read '" + damaged_shown + "' as a mesh: " + damage +
                           "\nolvanta-thumbnail: no thumbnail of '" + damaged_shown +
                           "': it could not be converted (the converter said why)\n");
    expect_every_line_safe(run.err, "a damaged file");

    const CommandRun unwritable = run_command(in_quotes(thumbnailer) + " " + in_quotes(damaged) + " " +
                                              in_quotes(dir + "/no folder" + escapes + "/out.png"));
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err, "olvanta-thumbnail: no thumbnail of '" + damaged_shown + "': '" + dir + "/no folder" +
                                  escapes_shown + "/out.png': No such file or directory\n");
}

// The service renders the body as markup: the link must arrive as text, and so must the escapes.
TEST_F(OutsideWords, ADesktopNoticeThatRendersMarkupGetsTheNameAsText)
{
    SessionBus bus = start_session_bus(dir, recorder, {"body", "body-markup"});
    const SessionBusStopper stopper{bus};
    ASSERT_FALSE(bus.address.empty()) << bus.failure;
    const CommandRun run = open_file(damaged, "DBUS_SESSION_BUS_ADDRESS=" + in_quotes(bus.address));
    EXPECT_EQ(run.status, 1) << run.err;
    const std::string summary = "Olvanta cannot show a>" + escapes_shown + ".obj";
    const std::string body = "cannot read '" + dir +
                             "/&lt;a href=\"https://x\"&gt;Security update&lt;/a&gt;" + escapes_shown +
                             ".obj' as a mesh: " + damage;
    const std::string record = read_whole_file(bus.record);
    ASSERT_EQ(std::count(record.begin(), record.end(), '\n'), 1) << record;
    const Notice notice = notice_from(record.substr(0, record.size() - 1));
    EXPECT_EQ(unlike_our_notices(notice), "") << record;
    EXPECT_EQ(notice.summary(), summary);
    EXPECT_EQ(notice.body(), body);
}

} // namespace
