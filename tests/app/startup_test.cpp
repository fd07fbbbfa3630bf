// Start-up: the console dialogue, then window, menus, handlers and light, in that order.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "app/startup.h"
#include "frame_helpers.h"
#include "input/menu.h"
#include "input/mouse.h"
#include "mesh/load_mesh.h"
#include "render/display.h"
#include "test_files.h"
#include "viewer_texts.h"

namespace {

// Points standard input at a file and standard output into one for the length of a call.
template <typename Run>
std::string with_console(const std::string& typed, Run run)
{
    const std::string input = write_temporary_file(typed), output = write_temporary_file("");
    std::fflush(stdout);
    const int saved_in = dup(0), saved_out = dup(1);
    dup2(open(input.c_str(), O_RDONLY), 0);
    dup2(open(output.c_str(), O_WRONLY), 1);
    std::clearerr(stdin);
    run();
    std::fflush(stdout);
    dup2(saved_in, 0);
    dup2(saved_out, 1);
    std::clearerr(stdin);
    const std::string shown = read_whole_file(output);
    unlink(input.c_str());
    unlink(output.c_str());
    return shown;
}

TEST(RunViewer, ReadsTheMeshThenSetsUpWindowMenusHandlersAndLight)
{
    reset_program_state();
    gl_recorder.next_window_id = 7;
    const std::string mesh = write_temporary_file("Vertex 1 1 2 3 {normal=(0 0 1)}\nFace 1 1 1 1\n");
    char program[] = "olvanta", option[] = "-sync";
    char* argv[] = {program, option, nullptr};
    int argc = 2;
    int status = 0;
    const std::string shown = with_console("  " + mesh + "\n", [&] { status = run_viewer(&argc, argv); });

    EXPECT_EQ(shown, dialogue);
    EXPECT_EQ(status, 1) << "only a main loop that returns gets here";
    EXPECT_EQ(mesh_store.vertices.size(), 1u);
    EXPECT_EQ(mesh_store.faces.size(), 1u);
    EXPECT_EQ(viewer_state.window_id, 7);

    const std::vector<GlCall>& calls = gl_recorder.calls;
    const std::vector<GlCall> window{
        call("glutInit", {2}, "olvanta -sync"),
        call("glutInitDisplayMode", {GLUT_RGB | GLUT_SINGLE | GLUT_DEPTH}),
        call("glutInitWindowSize", {650, 650}), call("glutInitWindowPosition", {100, 100}),
        call("glutCreateWindow", {}, "Olvanta")};
    const std::vector<GlCall> after_menus{
        call("glClearColor", {double(0.9f), double(0.9f), double(0.9f), 1}),
        call("glutDisplayFunc", {}, callback_text(display)),
        call("glutMouseFunc", {}, callback_text(on_mouse)),
        call("glutMotionFunc", {}, callback_text(on_motion)),
        call("glLightfv", {GL_LIGHT0, GL_POSITION, 1, 1, 1, 0}),
        call("glLightfv", {GL_LIGHT0, GL_DIFFUSE, 1, 1, 1, 1}),
        call("glLightfv", {GL_LIGHT0, GL_SPECULAR, 1, 1, 1, 1}),
        call("glLightModelfv", {GL_LIGHT_MODEL_AMBIENT, 1, double(0.1f), double(0.1f), 1}),
        call("glutMainLoop")};
    const std::size_t menu_calls = 21;
    ASSERT_EQ(calls.size(), window.size() + menu_calls + after_menus.size());
    EXPECT_EQ(std::vector<GlCall>(calls.begin(), calls.begin() + 5), window);
    EXPECT_EQ(calls[5], call("glutCreateMenu", {}, callback_text(on_menu)));
    EXPECT_EQ(calls[5 + menu_calls - 1], call("glutAttachMenu", {GLUT_RIGHT_BUTTON}));
    EXPECT_EQ(std::vector<GlCall>(calls.begin() + 5 + menu_calls, calls.end()), after_menus);
    unlink(mesh.c_str());
}

TEST(LoadMeshDeathTest, EndOfInputBeforeAFileNameEndsWithStatusOne)
{
    const std::string empty = write_temporary_file(" \n\t\n");
    EXPECT_EXIT(
        {
            dup2(open(empty.c_str(), O_RDONLY), 0);
            load_mesh();
        },
        testing::ExitedWithCode(1), "^olvanta: no file name: standard input ended\n$");
    unlink(empty.c_str());
}

TEST(LoadMeshDeathTest, UnopenableFileNamesTheFileAndTheReasonThenCarriesOn)
{
    const std::string typed = write_temporary_file("/nonexistent/a.m\n");
    EXPECT_EXIT(
        {
            dup2(open(typed.c_str(), O_RDONLY), 0);
            load_mesh();
            std::exit(mesh_store.vertices.empty() ? 3 : 4);
        },
        testing::ExitedWithCode(3), "^olvanta: cannot open '/nonexistent/a.m': No such file or directory\n$");
    unlink(typed.c_str());
}

TEST(LoadMeshDeathTest, WarnsOnceAboutFacesNamingMissingVertices)
{
    const std::string mesh = write_temporary_file(
        "Vertex 1 0 0 0 {normal=(0 0 1)}\nFace 1 1 1 1\nFace 2 1 1 2\nFace 3 0 1 1\nFace 4 99999999999 1 1\n");
    const std::string typed = write_temporary_file(mesh + "\n");
    EXPECT_EXIT(
        {
            dup2(open(typed.c_str(), O_RDONLY), 0);
            load_mesh();
            std::exit(0);
        },
        testing::ExitedWithCode(0),
        "^olvanta: warning: 3 of 4 faces name vertices that the file does not have; they are not drawn\n$");
    unlink(mesh.c_str());
    unlink(typed.c_str());
}

TEST(LoadMeshDeathTest, WarnsOnceAboutVerticesBeyondSinglePrecision)
{
    const std::string mesh = write_temporary_file(
        "Vertex 1 0 0 0 {normal=(0 0 1)}\nVertex 2 1e39 0 0 {normal=(0 0 1)}\n"
        "Vertex 3 0 -1e40 0 {normal=(0 0 1)}\nVertex 4 0 0 1 {normal=(1e39 0 1)}\nFace 1 1 2 3\n");
    const std::string typed = write_temporary_file(mesh + "\n");
    EXPECT_EXIT(
        {
            dup2(open(typed.c_str(), O_RDONLY), 0);
            load_mesh();
            std::exit(mesh_store.vertices.size() == 4 ? 0 : 3);
        },
        testing::ExitedWithCode(0),
        "^olvanta: warning: 2 of 4 vertices lie beyond single precision \\(infinite\\); the faces "
        "through them are not drawn\n$");
    unlink(mesh.c_str());
    unlink(typed.c_str());
}

// What the dialogue writes on standard error, in a child process of its own.
std::string standard_error_of_loading(const std::string& typed)
{
    const std::string err = write_temporary_file("");
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(open(typed.c_str(), O_RDONLY), 0);
        dup2(open(err.c_str(), O_WRONLY), 2);
        dup2(open("/dev/null", O_WRONLY), 1);
        load_mesh();
        std::fflush(nullptr);
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    const std::string said = read_whole_file(err);
    unlink(err.c_str());
    return said;
}

// A file not in the form the viewer reads gets one line that names the cause, in place of the
// damage it does; a strict file gets none.
TEST(LoadMeshDeathTest, NamesTheCauseWhenTheFileIsNotInTheViewersForm)
{
    const struct {
        const char* name;
        std::string mesh;
        std::string message; // FILE stands for the file's name
    } cases[] = {
        {"strict", "Vertex 1 0 0 0 {normal=(0 0 1)}\nVertex 2 1 0 0 {normal=(0 0 1)}\nFace 1 1 2 2\n", ""},
        {"no_normal_parts", "Vertex 1 0 0 0\nVertex 2 1 0 0\nVertex 3 0 1 0\nFace 1 1 2 3\n",
         "olvanta: warning: 3 Vertex lines have no normal part in the form this viewer reads, \"Vertex N x y z "
         "{normal=(nx ny nz)}\", and were skipped; 'olvanta-open FILE' shows the file, and 'olvanta-convert FILE "
         "COPY' writes a copy in that form\n"},
        {"numbers_that_are_names", "Vertex 10 0 0 0 {normal=(0 0 1)}\nVertex 24 1 0 0 {normal=(0 0 1)}\n"
                                   "Vertex 3 0 1 0 {normal=(0 0 1)}\nFace 1 3 1 2\n",
         "olvanta: warning: the vertices' numbers are not their places (vertex 1 in the file is numbered 10), but "
         "faces count vertices by place; 'olvanta-open FILE' shows the file as its numbers mean it\n"},
    };
    for (const auto& c : cases) {
        const std::string mesh = write_temporary_file(c.mesh);
        const std::string typed = write_temporary_file(mesh + "\n");
        std::string expected = c.message;
        for (std::size_t at; (at = expected.find("FILE")) != std::string::npos;)
            expected.replace(at, 4, mesh);
        EXPECT_EQ(standard_error_of_loading(typed), expected) << c.name;
        unlink(mesh.c_str());
        unlink(typed.c_str());
    }
}

// The name and the mesh on one pipe: the mesh after the name is read whole.
TEST(LoadMeshDeathTest, ReadsAMeshThatFollowsItsNameOnStandardInput)
{
    std::string mesh;
    for (int v = 1; v <= 300; ++v)
        mesh += "Vertex " + std::to_string(v) + " " + std::to_string(v) + " 0 0 {normal=(0 0 1)}\n";
    for (int f = 1; f <= 298; ++f)
        mesh += "Face " + std::to_string(f) + " " + std::to_string(f) + " " + std::to_string(f + 1) + " " +
                std::to_string(f + 2) + "\n";
    const std::string typed = "/dev/stdin\n" + mesh;
    EXPECT_EXIT(
        {
            int pipe_ends[2];
            if (pipe(pipe_ends) != 0 || write(pipe_ends[1], typed.data(), typed.size()) != ssize_t(typed.size()))
                std::exit(5);
            close(pipe_ends[1]);
            dup2(pipe_ends[0], 0);
            load_mesh();
            std::exit(mesh_store.vertices.size() == 300 && mesh_store.faces.size() == 298 ? 0 : 3);
        },
        testing::ExitedWithCode(0), "^$");
}

struct WordCase {
    std::string input;
    bool found;
    std::string word;
    std::string left; // what the input still holds after the word
};

std::string rest_of(int fd)
{
    std::string rest;
    char block[256];
    for (ssize_t got; (got = read(fd, block, sizeof block)) > 0;)
        rest.append(block, std::size_t(got));
    return rest;
}

// The name is taken with the one blank that ends it and nothing more, so that whatever follows
// on the same stream (a mesh behind its name on a pipe) is still there to be read.
TEST(ReadWord, TakesOneWordOfAnyLengthAndNothingAfterItsBlank)
{
    const std::string long_name = std::string(300, 'm') + ".txt";
    const WordCase cases[] = {
        {"mesh.txt\n", true, "mesh.txt", ""},
        {"  \n\t mesh.txt  other\n", true, "mesh.txt", " other\n"},
        {"\r\nmesh.txt\r\n", true, "mesh.txt", "\n"},
        {"/dev/stdin\nVertex 1 0 0 0 {normal=(0 0 1)}\n", true, "/dev/stdin", "Vertex 1 0 0 0 {normal=(0 0 1)}\n"},
        {long_name, true, long_name, ""},
        {"a", true, "a", ""},
        {"", false, "", ""},
        {" \n\t\r\n", false, "", ""},
    };
    for (const WordCase& c : cases) {
        int pipe_ends[2];
        ASSERT_EQ(pipe(pipe_ends), 0);
        ASSERT_EQ(write(pipe_ends[1], c.input.data(), c.input.size()), ssize_t(c.input.size()));
        close(pipe_ends[1]);
        std::string word = "untouched";
        EXPECT_EQ(read_word(pipe_ends[0], word), c.found) << c.input;
        if (c.found) {
            EXPECT_EQ(word, c.word);
        }
        EXPECT_EQ(rest_of(pipe_ends[0]), c.left) << c.input;
        close(pipe_ends[0]);
    }
}

} // namespace
