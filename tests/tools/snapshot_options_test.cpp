// The snapshot tool's command line turned into the viewer's state and the pictures' names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "snapshot_options.h"

namespace {

SnapshotOptions parsed(std::vector<std::string> words)
{
    words.insert(words.begin(), "olvanta-snapshot");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    SnapshotOptions options;
    std::string reason;
    EXPECT_TRUE(parse_snapshot_options(int(argv.size()), argv.data(), options, reason)) << reason;
    return options;
}

// Every number an option takes, at each end of its range and one step past it.
TEST(SnapshotOptions, EveryLimitHoldsAtItsValueAndRefusesOnePast)
{
    const struct {
        const char* option;
        const char* value;
        bool taken;
    } cases[] = {
        {"--size", "16", true},          {"--size", "15", false},         {"--size", "4096", true},
        {"--size", "4097", false},       {"--turntable", "1", true},      {"--turntable", "0", false},
        {"--turntable", "3600", true},   {"--turntable", "3601", false},  {"--time-limit", "1", true},
        {"--time-limit", "0", false},    {"--time-limit", "86400", true}, {"--time-limit", "86401", false},
        {"--turn", "360,-360,0", true},  {"--turn", "0,360.001,0", false}, {"--turn", "0,0,-360.001", false},
        {"--pan", "1e6,-1e6,0", true},   {"--pan", "0,1000001,0", false}, {"--pan", "0,0,-1000001", false},
        {"--zoom", "1e-6", true},        {"--zoom", "0", false},          {"--zoom", "1e6", true},
        {"--zoom", "1000001", false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words{"olvanta-snapshot", c.option, c.value, "m.txt", "out.png"};
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        SnapshotOptions options;
        std::string reason;
        EXPECT_EQ(parse_snapshot_options(int(argv.size()), argv.data(), options, reason), c.taken)
            << c.option << " " << c.value << ": " << reason;
    }
}

TEST(SnapshotOptions, WithoutOptionsTheStateIsTheViewersFirst)
{
    const ViewerState state = state_for_frame(parsed({"mesh.txt", "out.png"}), 0);
    const ViewerState first;
    EXPECT_EQ(state.display_mode, first.display_mode);
    EXPECT_EQ(state.lighting, first.lighting);
    EXPECT_EQ(state.projection, first.projection);
    EXPECT_EQ(state.show_ground + state.show_axes + state.show_bounding_box, 3);
    EXPECT_EQ(state.rot_x, first.rot_x);
    EXPECT_EQ(state.rot_y, first.rot_y);
    EXPECT_EQ(state.rot_z, first.rot_z);
    EXPECT_EQ(state.zoom, first.zoom);
    EXPECT_EQ(state.pan_x + state.pan_y + state.pan_z, 0);
}

TEST(SnapshotOptions, OptionsSetTheViewersCodesAndNumbers)
{
    const ViewerState state = state_for_frame(parsed({"--style", "smooth", "mesh.txt", "--lighting", "on",
                                                      "--projection", "orthogonal", "--hide", "box,ground",
                                                      "--turn", "-45,10.5,52", "--zoom", "1.5", "--pan",
                                                      "0.5,0.25,-2", "out.png"}),
                                               0);
    EXPECT_EQ(state.display_mode, 2);
    EXPECT_EQ(state.lighting, 1);
    EXPECT_EQ(state.projection, 1);
    EXPECT_EQ(state.show_ground, 0);
    EXPECT_EQ(state.show_axes, 1);
    EXPECT_EQ(state.show_bounding_box, 0);
    EXPECT_EQ(state.rot_x, -45.0f);
    EXPECT_EQ(state.rot_y, 10.5f);
    EXPECT_EQ(state.rot_z, 52.0f);
    EXPECT_EQ(state.zoom, 1.5f);
    EXPECT_EQ(state.pan_x, 0.5f);
    EXPECT_EQ(state.pan_y, 0.25f);
    EXPECT_EQ(state.pan_z, -2.0f);
}

struct TurntableCase {
    std::string turn;
    int pictures;
    std::vector<float> angles_about_z; // one per picture, in the viewer's -180 to 180
};

TEST(SnapshotOptions, TurntableTurnsAboutZInEqualStepsWithinTheViewersRange)
{
    const TurntableCase cases[] = {
        {"-65,0,30", 4, {30, 120, -150, -60}},
        {"0,0,170", 2, {170, -10}},
        {"0,0,-180", 3, {-180, -60, 60}},
        {"0,0,0", 1, {0}},
    };
    for (const TurntableCase& c : cases) {
        const SnapshotOptions options =
            parsed({"--turn", c.turn, "--turntable", std::to_string(c.pictures), "m.txt", "out.png"});
        ASSERT_EQ(picture_count(options), c.pictures);
        for (int frame = 0; frame < c.pictures; ++frame) {
            const ViewerState state = state_for_frame(options, frame);
            EXPECT_FLOAT_EQ(state.rot_z, c.angles_about_z[std::size_t(frame)]) << c.turn << ", picture " << frame;
            EXPECT_EQ(state.rot_x, options.turn[0]);
        }
    }
}

TEST(SnapshotOptions, TurntablePicturesAreNumberedBeforeThePngEnding)
{
    const struct {
        std::string out;
        int pictures, frame;
        std::string path;
    } cases[] = {
        {"out.png", 0, 0, "out.png"},
        {"turn/torus.png", 36, 0, "turn/torus-001.png"},
        {"turn/torus.png", 36, 35, "turn/torus-036.png"},
        {"many.png", 1200, 41, "many-0042.png"},
        {"picture", 3, 2, "picture-003"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words{"m.txt", c.out};
        if (c.pictures)
            words.insert(words.begin(), {"--turntable", std::to_string(c.pictures)});
        EXPECT_EQ(picture_path(parsed(words), c.frame), c.path);
    }
}

} // namespace
