// What the desktop makes of the files: the format's MIME type as the desktop's own database
// answers for it (gio, with our definition added), and a desktop entry its validator accepts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "scratch_folder.h"
#include "test_files.h"

namespace {

const std::string source = OLVANTA_SOURCE_DIR;

std::string content_type(const std::string& data_home, const std::string& file)
{
    const std::string home = data_home.empty() ? "" : "XDG_DATA_HOME='" + data_home + "' ";
    const CommandRun run = run_command(home + "gio info -a standard::content-type '" + file + "'");
    const std::string key = "standard::content-type: ";
    const std::size_t at = run.out.find(key);
    return at == std::string::npos ? "(none: " + run.err + ")" : run.out.substr(at + key.size(), run.out.find('\n', at) - at - key.size());
}

std::string comment_lines(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "# line " + std::to_string(i) + " of the header a scanner writes\n";
    return lines;
}

// Meshes are meshes by their content, whatever their names, and other texts stay what the
// desktop's own database calls them: "stays" is that database's answer without ours.
TEST(Desktop, TheDatabaseKnowsMeshesByTheirContentAndLeavesOtherTextsAlone)
{
    const std::string dir = temporary_directory();
    mkdir((dir + "/mime").c_str(), 0755);
    mkdir((dir + "/mime/packages").c_str(), 0755);
    write_bytes(dir + "/mime/packages/olvanta.xml", read_whole_file(source + "/docs/desktop/olvanta-mesh.xml"));
    ASSERT_EQ(run_command("update-mime-database '" + dir + "/mime'").status, 0);
    const std::string mesh = "model/x-vertex-face-mesh", stays = "";
    const std::string torus = read_whole_file(source + "/examples/torus.txt");
    const struct {
        const char* name;
        std::string text;
        std::string type;
    } cases[] = {
        {"bunny.m", "# Created by a scanner\n# 34817 vertices\nVertex 1  -0.0378297 0.12794 0.00447467\n", mesh},
        {"strict.m", torus, mesh},
        {"strict", torus, mesh},
        {"faces_first.m", "Face 1 1 2 3\nVertex 1 0 0 0\n", mesh},
        {"one_strict_vertex.m", "Vertex 1 0 0 0 {normal=(0 0 1)}\n", mesh},
        {"three_kilobytes_of_comments.m", comment_lines(80) + torus, mesh},
        {"three_kilobytes_of_comments", comment_lines(80) + torus, mesh},
        {"blank_lines_first.m", "\n\n\n" + torus, mesh},
        {"blanks_first.m", "   " + torus, mesh},
        {"crlf.m", "# made\r\nVertex 1 0 0 0\r\nVertex 2 1 0 0\r\n", mesh},
        {"tabs.m", "Vertex\t1 0 0 0\nVertex\t2 1 0 0\nFace\t1 1 2 2\n", mesh},
        {"byte_order_mark.m", "\xEF\xBB\xBF" "Face 1 1 2 3\nVertex 1 0 0 0\n", mesh},
        {"corner_first.m", "Corner 1 1 {normal=(0 0 1)}\nVertex 1 0 0 0\n", mesh},
        {"edge_first.m", "Edge 1 2 {sharp}\nVertex 1 0 0 0\n", mesh},
        {"main.m", "#import <Foundation/Foundation.h>\n@interface A : NSObject\n@end\n", "text/x-objcsrc"},
        {"f.m", "function y = f(x)\n  y = 2 * x;\nend\n", "text/x-matlab"},
        {"shaders", "Vertex shaders transform each vertex.\nFace culling removes the rest.\n", stays},
        {"matlab_line.m", "Face 1 2 3 4\ndisp(x)\ny = x + 1;\n", stays},
        {"script.m", "x = linspace(0, 1);\nplot(x, x .^ 2);\n", stays},
        {"notes", "# Notes\nVertex shaders are fun\n", stays},
    };
    for (const auto& c : cases) {
        const std::string file = dir + "/" + c.name;
        write_bytes(file, c.text);
        if (!c.type.empty()) {
            EXPECT_EQ(content_type(dir, file), c.type) << c.name;
            continue;
        }
        const std::string alone = content_type("", file);
        EXPECT_EQ(alone.rfind("(none", 0), std::string::npos) << alone;
        EXPECT_NE(alone, mesh) << c.name;
        EXPECT_EQ(content_type(dir, file), alone) << c.name << ": as the desktop's own database alone says";
    }
    remove_directory(dir);
}

// Each rule of the definition, with a file that it alone matches: a first record, or what may
// stand before one, and the line that makes it a mesh. Without the rule, the file is no mesh.
TEST(Desktop, EachRuleOfTheDefinitionHasAFileOnlyItMatches)
{
    const std::string dir = temporary_directory();
    mkdir((dir + "/mime").c_str(), 0755);
    mkdir((dir + "/mime/packages").c_str(), 0755);
    write_bytes(dir + "/mime/packages/olvanta.xml", read_whole_file(source + "/docs/desktop/olvanta-mesh.xml"));
    ASSERT_EQ(run_command("update-mime-database '" + dir + "/mime'").status, 0);
    const std::string bom = "\xEF\xBB\xBF", vertex = "Vertex 1 0 0 0", face = "Face 1 1 2 3";
    const std::string texts[] = {
        vertex + " {normal=(0 0 1)}", vertex + "\nVertex 2 1 0 0", vertex + "\nFace 1 1 1 1",
        vertex + "\nCorner 1 1", vertex + "\nEdge 1 1",
        "Vertex\t1 0 0 0\nVertex 2 1 0 0", "Vertex\t1 0 0 0\nFace 1 1 1 1",
        face + "\nVertex 1 0 0 0", face + "\nFace 2 1 2 3", face + "\nCorner 1 1", face + "\nEdge 1 2",
        "Face\t1 1 2 3\nVertex 1 0 0 0", "Face\t1 1 2 3\nFace 2 1 2 3",
        "Corner 1 1\nVertex 1 0 0 0", "Corner 1 1\nFace 1 1 1 1",
        "Edge 1 2\nVertex 1 0 0 0", "Edge 1 2\nFace 1 1 2 1",
        bom + vertex, bom + face, bom + "# made\n" + vertex, bom + "# made\n" + face,
        "# made\n" + vertex, "# made\nVertex\t1 0 0 0", "# made\n" + face, "# made\nCorner 1 1", "# made\nEdge 1 2",
        "\n" + vertex, "\n" + face, "\r\n" + vertex, "\r\n" + face,
        "  " + vertex, "  " + face, "\t" + vertex, "\t" + face,
    };
    int n = 0;
    for (const std::string& text : texts) {
        const std::string file = dir + "/rule-" + std::to_string(++n);
        write_bytes(file, text + "\n");
        EXPECT_EQ(content_type(dir, file), "model/x-vertex-face-mesh") << "rule " << n << ": " << text;
    }
    remove_directory(dir);
}

// Defined in a person's own database beside the system's, as a per-user install puts it, a
// compressed mesh is still a mesh, not just any gzip file.
TEST(Desktop, ACompressedMeshIsAMeshAlsoFromASecondDatabase)
{
    const std::string dir = temporary_directory();
    mkdir((dir + "/mime").c_str(), 0755);
    mkdir((dir + "/mime/packages").c_str(), 0755);
    write_bytes(dir + "/mime/packages/olvanta.xml", read_whole_file(source + "/docs/desktop/olvanta-mesh.xml"));
    ASSERT_EQ(run_command("update-mime-database '" + dir + "/mime'").status, 0);
    ASSERT_EQ(run_command("(gzip -c '" + source + "/examples/torus.txt' > '" + dir + "/torus.m.gz')").status, 0);
    ASSERT_EQ(run_command("(gzip -c '" + source + "/README.md' > '" + dir + "/notes.gz')").status, 0);
    EXPECT_EQ(content_type("", dir + "/torus.m.gz"), "application/gzip") << "the system's database alone";
    EXPECT_EQ(content_type(dir, dir + "/torus.m.gz"), "model/x-vertex-face-mesh-compressed");
    EXPECT_EQ(content_type(dir, dir + "/notes.gz"), "application/gzip");
    remove_directory(dir);
}

// Installed for one person, as `cmake --install --prefix ~/.local` puts it, with that person's
// database brought up to date: the desktop knows the compressed mesh beside the system's gzip.
TEST(Desktop, APerUserInstallKnowsCompressedMeshes)
{
    const std::string home = temporary_directory(), local = home + "/.local";
    const CommandRun install = run_command("cmake --install '" + std::string(OLVANTA_BINARY_DIR) + "' --prefix '" + local + "'");
    ASSERT_EQ(install.status, 0) << install.err;
    ASSERT_EQ(run_command("update-mime-database '" + local + "/share/mime'").status, 0);
    ASSERT_EQ(run_command("(gzip -c '" + source + "/examples/torus.txt' > '" + home + "/torus.m.gz')").status, 0);
    write_bytes(home + "/torus.m", read_whole_file(source + "/examples/torus.txt"));
    EXPECT_EQ(content_type(local + "/share", home + "/torus.m.gz"), "model/x-vertex-face-mesh-compressed");
    EXPECT_EQ(content_type(local + "/share", home + "/torus.m"), "model/x-vertex-face-mesh");
    remove_directory(home);
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
    EXPECT_NE(text.find("MimeType=model/x-vertex-face-mesh;model/x-vertex-face-mesh-compressed;"), std::string::npos);
}

} // namespace
