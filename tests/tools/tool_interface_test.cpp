// What every tool answers before it does any work, and what the package will say of itself,
// checked in the fast layer rather than only when the package is built.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "scratch_folder.h"
#include "test_files.h"

namespace {

// What this machine's kernel offers, asked of the kernel itself: the tools that read untrusted
// files must say they got all of it.
std::string confinement_line()
{
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, 1U);
    std::string landlock = "no Landlock";
    if (abi > 0)
        landlock = "Landlock ABI " + std::to_string(abi) + " (files" + (abi >= 4 ? ", TCP" : "") +
                   (abi >= 6 ? ", signals, abstract sockets" : "") + ")";
    const std::string capabilities =
        geteuid() == 0 ? "no capabilities (all five sets, secure bits locked)" : "no capabilities";
    return "confinement: no terminal, " + capabilities + ", no new privileges, seccomp allow-list, " + landlock + "\n";
}

TEST(Tools, AnswerVersionAndHelpOnStandardOutput)
{
    const struct {
        const char* name;
        const char* path;
        const char* usage;
        bool confines; // reads files it did not write
    } tools[] = {
        {"olvanta-convert", OLVANTA_CONVERT_PATH, "usage: olvanta-convert [OPTIONS] INPUT OUTPUT\n", true},
        {"olvanta-snapshot", OLVANTA_SNAPSHOT_PATH, "usage: olvanta-snapshot [OPTIONS] MESH OUT.png\n", true},
        {"olvanta-open", OLVANTA_OPEN_PATH, "usage: olvanta-open [--as-is] [GLUT OPTIONS] FILE\n", true},
        {"olvanta-thumbnail", OLVANTA_THUMBNAIL_PATH, "usage: olvanta-thumbnail [-s SIZE] MESH OUT.png\n", true},
        {"olvanta-gen", OLVANTA_GENERATOR_PATH, "usage: olvanta-gen RINGS SIDES", false},
    };
    for (const auto& t : tools) {
        const CommandRun version = run_command(std::string("'") + t.path + "' --version");
        EXPECT_EQ(version.status, 0) << t.name;
        EXPECT_EQ(version.out, std::string(t.name) + " " + OLVANTA_VERSION + "\n" + (t.confines ? confinement_line() : ""));
        EXPECT_EQ(version.err, "") << t.name;
        const CommandRun help = run_command(std::string("'") + t.path + "' --help");
        EXPECT_EQ(help.status, 0) << t.name;
        EXPECT_EQ(help.out.rfind(t.usage, 0), 0u) << t.name << ": " << help.out;
        EXPECT_EQ(help.err, "") << t.name;
    }
}

std::string replaced(std::string text, const std::string& word, const std::string& by)
{
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + by.size()))
        text.replace(at, word.size(), by);
    return text;
}

// An octahedron as a binary STL, which only the converter reads.
std::string octahedron_stl()
{
    const float corners[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    const int faces[8][3] = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
    std::string bytes(80, ' ');
    const std::uint32_t count = 8;
    bytes.append(reinterpret_cast<const char*>(&count), 4);
    for (const auto& f : faces) {
        bytes.append(12, '\0');
        for (const int k : f)
            bytes.append(reinterpret_cast<const char*>(corners[k]), 12);
        bytes.append(2, '\0');
    }
    return bytes;
}

// In the sanitized build, what the snapshot tool's GL driver still holds when the driver is
// unloaded at exit looks leaked to LeakSanitizer (with unloading stopped, nothing is): the other
// sanitizer checks stay on.
std::string quiet_about_unloaded_drivers(const std::string& tool)
{
#ifdef OLVANTA_SANITIZED
    if (tool == OLVANTA_SNAPSHOT_PATH)
        return "export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1; ";
#endif
    (void)tool;
    return "";
}

// Each tool reads a mesh however it comes (a file, a FIFO, a pipe, standard input, an open
// descriptor) in each form: what it makes of it is what it makes of the file itself.
TEST(Tools, ReadEveryKindOfInputInEveryForm)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/mesh.obj", "v 1 0 0\nv -1 0 0\nv 0 1 0\nv 0 -1 0\nv 0 0 1\nv 0 0 -1\nf 1 3 5\nf 3 2 5\n"
                                   "f 2 4 5\nf 4 1 5\nf 3 1 6\nf 2 3 6\nf 4 2 6\nf 1 4 6\n");
    write_bytes(dir + "/mesh.stl", octahedron_stl());
    write_bytes(dir + "/mesh.m", "Vertex 1 1 0 0 {normal=(1 0 0)}\nVertex 2 0 1 0 {normal=(0 1 0)}\n"
                                 "Vertex 3 0 0 1 {normal=(0 0 1)}\nFace 1 1 2 3\n");
    const struct {
        const char* name;
        const char* path;
        const char* output;
    } tools[] = {{"olvanta-convert", OLVANTA_CONVERT_PATH, "out.txt"},
                 {"olvanta-thumbnail", OLVANTA_THUMBNAIL_PATH, "out.png"},
                 {"olvanta-snapshot", OLVANTA_SNAPSHOT_PATH, "out.png"}};
    const struct {
        const char* name;
        const char* command; // {tool}, {mesh} and {out}
    } kinds[] = {
        {"a file", "exec {tool} '{mesh}' '{out}'"},
        {"a FIFO", "mkfifo '{mesh}.fifo' && { cat '{mesh}' > '{mesh}.fifo' & } && {tool} '{mesh}.fifo' '{out}'; s=$?; rm '{mesh}.fifo'; exit $s"},
        {"a pipe", "cat '{mesh}' | {tool} /dev/stdin '{out}'"},
        {"standard input from the file", "exec {tool} /dev/stdin '{out}' < '{mesh}'"},
        {"a descriptor of a pipe", "cat '{mesh}' | {tool} /dev/fd/7 '{out}' 7<&0 0</dev/null"},
    };
    for (const auto& tool : tools)
        for (const char* form : {"mesh.obj", "mesh.stl", "mesh.m"}) {
            std::string first;
            for (const auto& kind : kinds) {
                const std::string where = std::string(tool.name) + ", " + form + " through " + kind.name;
                const std::string out = dir + "/" + tool.output;
                const std::string command = replaced(replaced(replaced(kind.command, "{tool}", std::string("'") + tool.path + "'"),
                                                              "{mesh}", dir + "/" + form),
                                                     "{out}", out);
                const CommandRun run = run_command(quiet_about_unloaded_drivers(tool.path) + "{ " + command + "; }");
                EXPECT_EQ(run.status, 0) << where << ": " << run.err;
                const std::string made = read_whole_file(out);
                EXPECT_FALSE(made.empty()) << where;
                if (first.empty())
                    first = made;
                EXPECT_TRUE(made == first) << where << " makes what the file itself makes";
                unlink(out.c_str());
            }
        }
    remove_directory(dir);
}

std::string cpack_field(const std::string& config, const std::string& name)
{
    std::smatch match;
    const std::regex field("set\\(" + name + " \"([^\"]*)\"\\)");
    return std::regex_search(config, match, field) ? match[1].str() : "<missing>";
}

// The control file's fields as the build configured them: name, version, section, what it
// recommends, and dependencies read off the programs rather than kept by hand.
TEST(PackageConfiguration, ItsControlFieldsComeFromTheProject)
{
    std::ifstream in(std::string(OLVANTA_BINARY_DIR) + "/CPackConfig.cmake");
    const std::string config((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(config.empty());
    EXPECT_EQ(cpack_field(config, "CPACK_PACKAGE_NAME"), "olvanta");
    EXPECT_EQ(cpack_field(config, "CPACK_PACKAGE_VERSION"), OLVANTA_VERSION);
    EXPECT_EQ(cpack_field(config, "CPACK_DEBIAN_PACKAGE_SECTION"), "graphics");
    EXPECT_EQ(cpack_field(config, "CPACK_DEBIAN_PACKAGE_RECOMMENDS"), "xvfb");
    EXPECT_EQ(cpack_field(config, "CPACK_DEBIAN_PACKAGE_SHLIBDEPS"), "ON");
    EXPECT_EQ(cpack_field(config, "CPACK_DEBIAN_PACKAGE_DEPENDS"), "libgl1-mesa-dri") << "loaded at run time";
    EXPECT_NE(cpack_field(config, "CPACK_DEBIAN_PACKAGE_MAINTAINER").find('@'), std::string::npos);
    const std::string description = cpack_field(config, "CPACK_PACKAGE_DESCRIPTION");
    for (const char* program : {"olvanta-open", "olvanta-convert", "olvanta-snapshot", "olvanta-thumbnail", "olvanta-gen"})
        EXPECT_NE(description.find(program), std::string::npos) << program << " in the description";
}

} // namespace
