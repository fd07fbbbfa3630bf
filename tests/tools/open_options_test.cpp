// olvanta-open's command line: the FILE last, GLUT's options and their values before it, --as-is
// anywhere; and the line it gives for a model it fits, taken from the converter's own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fitting_words.h"
#include "first_view.h"
#include "open_options.h"

namespace {

struct CommandLineCase {
    std::vector<const char*> words;
    bool accepted;
    std::string file;
    std::vector<std::string> glut;
    bool as_is;
};

TEST(OpenOptions, TakeTheLastWordAsTheFile)
{
    const CommandLineCase cases[] = {
        {{"m.obj"}, true, "m.obj", {}, false},
        {{"--as-is", "m.obj"}, true, "m.obj", {}, true},
        {{"-display", ":1", "--as-is", "my mesh.m"}, true, "my mesh.m", {"-display", ":1"}, true},
        {{"-geometry", "800x800", "-iconic", "-"}, true, "-", {"-geometry", "800x800", "-iconic"}, false},
        {{}, false, "", {}, false},
        {{"--as-is"}, false, "", {}, false},
        {{"-display", ":1"}, false, "", {}, false},
        {{"-geometry", "800x800"}, false, "", {}, false},
        {{"m.obj", "-iconic"}, false, "", {}, false},
    };
    for (const CommandLineCase& c : cases) {
        std::vector<const char*> argv{"olvanta-open"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        OpenOptions options;
        std::string reason;
        const bool accepted = parse_open_options(int(argv.size()), argv.data(), options, reason);
        EXPECT_EQ(accepted, c.accepted) << c.file << " " << reason;
        if (!accepted) {
            EXPECT_EQ(reason, "a FILE to show is needed, after any GLUT options");
            continue;
        }
        EXPECT_EQ(options.file, c.file);
        EXPECT_EQ(options.glut_options, c.glut) << c.file;
        EXPECT_EQ(options.as_is, c.as_is) << c.file;
    }
}

TEST(FittingWords, TakeTheConvertersLineApart)
{
    const struct {
        std::string line, trouble;
    } cases[] = {
        {"olvanta-convert: fitted: the model is 160 units across, so it was moved and scaled into view",
         "the model is 160 units across"},
        {"olvanta-convert: fitted: the model's centre lies 12 units from the origin, so it was moved and scaled into view",
         "the model's centre lies 12 units from the origin"},
        {"olvanta-convert: wrote 3 vertices and 1 faces to /dev/fd/5", ""},
        {"olvanta-convert: hint: the model is 56.5 units across", ""},
        {"olvanta-convert: fitted: , so it was moved and scaled into view", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(converter_fitted(c.line), c.trouble) << c.line;
    EXPECT_EQ(fitted_line("x.obj", "the model is 160 units across"),
              "'x.obj': the model is 160 units across; it is shown moved and scaled into view");
}

TEST(FirstView, NoVertexIsNothingToFit)
{
    EXPECT_EQ(out_of_first_view(no_bounds()), "");
    ModelBounds one = no_bounds();
    const float far[3] = {0, 0, 11};
    take_point(one, far);
    EXPECT_EQ(out_of_first_view(one), "the model is only 0 units across and its centre lies 11 units from the origin");
}

} // namespace
