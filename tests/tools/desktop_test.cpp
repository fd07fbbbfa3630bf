// What the desktop makes of the files: the format's MIME type as the desktop's own database
// answers for it (gio, with our definition added), and a desktop entry its validator accepts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "scratch_folder.h"
#include "test_files.h"

namespace {

const std::string source = OLVANTA_SOURCE_DIR;

// Files named .m of three kinds: only meshes are meshes, Objective-C and MATLAB stay theirs.
TEST(Desktop, TheDatabaseKnowsMeshesNamedDotMByTheirContent)
{
    const std::string dir = temporary_directory();
    mkdir((dir + "/mime").c_str(), 0755);
    mkdir((dir + "/mime/packages").c_str(), 0755);
    write_bytes(dir + "/mime/packages/olvanta.xml", read_whole_file(source + "/docs/desktop/olvanta-mesh.xml"));
    ASSERT_EQ(run_command("update-mime-database '" + dir + "/mime'").status, 0);
    const struct {
        const char* name;
        std::string text;
        const char* type;
    } cases[] = {
        {"bunny.m", "# Created by a scanner\n# 34817 vertices\nVertex 1  -0.0378297 0.12794 0.00447467\n",
         "model/x-vertex-face-mesh"},
        {"strict.m", read_whole_file(source + "/examples/torus.txt"), "model/x-vertex-face-mesh"},
        {"faces_first.m", "Face 1 1 2 3\nVertex 1 0 0 0\n", "model/x-vertex-face-mesh"},
        {"main.m", "#import <Foundation/Foundation.h>\n@interface A : NSObject\n@end\n", "text/x-objcsrc"},
        {"f.m", "function y = f(x)\n  y = 2 * x;\nend\n", "text/x-matlab"},
    };
    for (const auto& c : cases) {
        write_bytes(dir + "/" + c.name, c.text);
        const CommandRun run = run_command("XDG_DATA_HOME='" + dir + "' gio info -a standard::content-type '" + dir +
                                           "/" + c.name + "'");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(std::string("standard::content-type: ") + c.type + "\n"), std::string::npos)
            << c.name << ": " << run.out;
    }
    remove_directory(dir);
}

TEST(Desktop, TheEntryIsValidAndOpensFilesThroughOlvantaOpen)
{
    const std::string entry = source + "/docs/desktop/olvanta.desktop";
    const CommandRun run = run_command("desktop-file-validate '" + entry + "'");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out + run.err, "");
    const std::string text = read_whole_file(entry);
    for (const char* line : {"Exec=olvanta-open %f\n", "Terminal=false\n", "Categories=Graphics;3DGraphics;Viewer;\n",
                             "Icon=olvanta\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_NE(text.find("MimeType=model/x-vertex-face-mesh;"), std::string::npos);
}

} // namespace
