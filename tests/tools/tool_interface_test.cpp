// What every tool answers before it does any work, and what the package will say of itself,
// checked in the fast layer rather than only when the package is built.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <string>

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
