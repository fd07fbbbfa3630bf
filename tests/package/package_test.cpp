// The Debian package as a user gets it: built by scripts/package, its control fields and files,
// the programs run from it unpacked, lintian's verdict and the manual pages as man renders them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>
#include <sstream>
#include <string>

#include "test_files.h"
#include "../window/x_harness.h"

namespace {

const std::string source_dir = OLVANTA_SOURCE_DIR;
const std::string version = OLVANTA_VERSION;

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

class Package : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        built = run_command("'" + source_dir + "/scripts/package'");
        architecture = trimmed(run_command("dpkg --print-architecture").out);
        deb = source_dir + "/build/olvanta_" + version + "_" + architecture + ".deb";
        char dir[] = "/tmp/olvanta-package-test-XXXXXX";
        unpacked = mkdtemp(dir);
        run_command("dpkg-deb -x '" + deb + "' '" + unpacked + "'");
    }

    static void TearDownTestSuite() { std::system(("rm -rf '" + unpacked + "'").c_str()); }

    void SetUp() override { ASSERT_EQ(built.status, 0) << "scripts/package failed:\n" << built.err; }

    static std::string field(const std::string& name)
    {
        return trimmed(run_command("dpkg-deb -f '" + deb + "' " + name).out);
    }

    static CommandRun built;
    static std::string architecture, deb, unpacked;
};

CommandRun Package::built;
std::string Package::architecture, Package::deb, Package::unpacked;

TEST_F(Package, HasTheControlFieldsOfTheProject)
{
    EXPECT_EQ(field("Package"), "olvanta");
    EXPECT_EQ(field("Version"), version) << "the version of project() in CMakeLists.txt";
    EXPECT_EQ(field("Architecture"), architecture);
    EXPECT_EQ(field("Section"), "graphics");
    EXPECT_EQ(field("Recommends"), "xvfb");
    EXPECT_NE(field("Maintainer").find('@'), std::string::npos);
    // Read off the programs' shared libraries: the viewer's GLUT and GLU, the converter's
    // import library, the snapshot tool's libpng and Xlib, the thumbnailer's EGL.
    const std::string depends = field("Depends");
    for (const char* library : {"libglut", "libglu1", "libassimp", "libpng", "libx11-6", "libegl1", "libgl1-mesa-dri", "libstdc++6"})
        EXPECT_NE(depends.find(library), std::string::npos) << library << " in " << depends;
}

TEST_F(Package, HoldsTheProgramsTheirPagesAndTheDocuments)
{
    std::set<std::string> files;
    std::istringstream listing(run_command("cd '" + unpacked + "' && find . -type f | sort").out);
    for (std::string line; std::getline(listing, line);)
        files.insert(line);
    const std::set<std::string> expected{
        "./usr/bin/olvanta",
        "./usr/bin/olvanta-convert",
        "./usr/bin/olvanta-snapshot",
        "./usr/bin/olvanta-gen",
        "./usr/bin/olvanta-open",
        "./usr/bin/olvanta-thumbnail",
        "./usr/share/man/man1/olvanta.1.gz",
        "./usr/share/man/man1/olvanta-convert.1.gz",
        "./usr/share/man/man1/olvanta-snapshot.1.gz",
        "./usr/share/man/man1/olvanta-gen.1.gz",
        "./usr/share/man/man1/olvanta-open.1.gz",
        "./usr/share/man/man1/olvanta-thumbnail.1.gz",
        "./usr/share/doc/olvanta/README.md.gz",
        "./usr/share/doc/olvanta/changelog.gz",
        "./usr/share/doc/olvanta/copyright",
        "./usr/share/mime/packages/olvanta.xml",
        "./usr/share/applications/olvanta.desktop",
        "./usr/share/icons/hicolor/scalable/apps/olvanta.svg",
        "./usr/share/thumbnailers/olvanta.thumbnailer",
    };
    EXPECT_EQ(files, expected);
}

TEST_F(Package, ItsProgramsRunUnpacked)
{
    const std::string bin = unpacked + "/usr/bin/";
    // Every tool that reads files it did not write says what confinement it gets.
    const std::string confined = "\nconfinement: no terminal, no capabilities (all five sets, secure bits locked), "
                                 "no new privileges, seccomp allow-list, ";
    for (const char *tool : {"olvanta-convert", "olvanta-snapshot", "olvanta-open", "olvanta-thumbnail"})
        EXPECT_EQ(run_command("'" + bin + tool + "' --version").out.rfind(tool + (" " + version) + confined, 0), 0u)
            << tool;
    const CommandRun generated = run_command("'" + bin + "olvanta-gen' 4 3");
    EXPECT_EQ(generated.status, 0);
    const std::string& text = generated.out;
    const std::string torus = write_temporary_file(text);
    EXPECT_EQ(text.rfind("Vertex 1 ", 0), 0u);
    EXPECT_NE(text.find("\nVertex 12 "), std::string::npos);
    EXPECT_NE(text.find("\nFace 24 "), std::string::npos);

    // The unpacked viewer, its file name on standard input, in a window on the test's own Xvfb.
    const XServer server = start_xvfb();
    ASSERT_GT(server.pid, 0) << server.failure;
    Display* display = XOpenDisplay(server.display_name.c_str());
    ASSERT_NE(display, nullptr);
    const ViewerRun viewer = launch_viewer(server.display_name, torus + "\n", bin + "olvanta");
    const Window window = find_window(display, "Olvanta", 20000);
    EXPECT_NE(window, 0u) << read_whole_file(viewer.err_path);
    EXPECT_EQ(read_whole_file(viewer.out_path), dialogue);
    stop_process(viewer.pid);
    XCloseDisplay(display);
    stop_process(server.pid);
    for (const std::string& path : {torus, viewer.out_path, viewer.err_path})
        unlink(path.c_str());
}

TEST_F(Package, LintianFindsNoErrors)
{
    const CommandRun lint = run_command("lintian --fail-on error '" + deb + "'");
    EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
    EXPECT_EQ(lint.out.find("E: "), std::string::npos) << lint.out;
}

TEST_F(Package, ManualPagesRenderWithoutWarnings)
{
    for (const char* page : {"olvanta", "olvanta-convert", "olvanta-snapshot", "olvanta-open", "olvanta-thumbnail", "olvanta-gen"}) {
        const std::string path = unpacked + "/usr/share/man/man1/" + page + ".1.gz";
        const CommandRun rendered = run_command("MANWIDTH=80 man --warnings -l '" + path + "'");
        EXPECT_EQ(rendered.status, 0) << page;
        EXPECT_EQ(rendered.err, "") << page;
        EXPECT_NE(rendered.out.find("SEE ALSO"), std::string::npos) << page;
        EXPECT_NE(rendered.out.find(version), std::string::npos) << page << ": the version is filled in";
    }
}

} // namespace
