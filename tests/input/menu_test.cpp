// The popup menu: its tree, and what each code does to the state.
#include <gtest/gtest.h>

#include "frame_helpers.h"
#include "input/menu.h"

namespace {

TEST(BuildMenus, CreatesTheFiveMenusInOrderAndAttachesTheMainOne)
{
    reset_program_state();
    gl_recorder.next_menu_id = 11;
    build_menus();
    const std::string handler = callback_text(on_menu);
    const std::vector<GlCall> expected{
        call("glutCreateMenu", {}, handler),
        call("glutAddMenuEntry", {2}, "Wireframe"), call("glutAddMenuEntry", {3}, "Flat"),
        call("glutAddMenuEntry", {4}, "Smooth"),
        call("glutCreateMenu", {}, handler),
        call("glutAddMenuEntry", {5}, "Cordinate Axis"), call("glutAddMenuEntry", {6}, "Ground"),
        call("glutAddMenuEntry", {7}, "Bounding Box"),
        call("glutCreateMenu", {}, handler),
        call("glutAddMenuEntry", {8}, "On"), call("glutAddMenuEntry", {9}, "Off"),
        call("glutCreateMenu", {}, handler),
        call("glutAddMenuEntry", {10}, "Perspective"), call("glutAddMenuEntry", {11}, "Orthogonal"),
        call("glutCreateMenu", {}, handler),
        call("glutAddSubMenu", {11}, "Display Mode"), call("glutAddSubMenu", {12}, "Show/Hide"),
        call("glutAddSubMenu", {13}, "Lighting"), call("glutAddSubMenu", {14}, "Projection"),
        call("glutAddMenuEntry", {0}, "Quit"),
        call("glutAttachMenu", {GLUT_RIGHT_BUTTON})};
    EXPECT_EQ(gl_recorder.calls, expected);
    const ViewerState& v = viewer_state;
    EXPECT_EQ((std::vector<int>{v.display_menu, v.show_menu, v.lighting_menu, v.projection_menu, v.main_menu}),
              (std::vector<int>{11, 12, 13, 14, 15}));
}

struct Settings {
    int display_mode, projection, lighting, show_ground, show_bounding_box, show_axes;

    bool operator==(const Settings& o) const
    {
        return display_mode == o.display_mode && projection == o.projection &&
               lighting == o.lighting && show_ground == o.show_ground &&
               show_bounding_box == o.show_bounding_box && show_axes == o.show_axes;
    }
};

void PrintTo(const Settings& s, std::ostream* out)
{
    *out << "style " << s.display_mode << " projection " << s.projection << " lighting "
         << s.lighting << " ground " << s.show_ground << " box " << s.show_bounding_box
         << " axes " << s.show_axes;
}

Settings current_settings()
{
    const ViewerState& v = viewer_state;
    return {v.display_mode, v.projection, v.lighting, v.show_ground, v.show_bounding_box, v.show_axes};
}

void apply(const Settings& s)
{
    ViewerState& v = viewer_state;
    v.display_mode = s.display_mode;
    v.projection = s.projection;
    v.lighting = s.lighting;
    v.show_ground = s.show_ground;
    v.show_bounding_box = s.show_bounding_box;
    v.show_axes = s.show_axes;
}

struct MenuCase {
    int code;
    Settings before, after;
};

class OnMenu : public testing::TestWithParam<MenuCase> {};

TEST_P(OnMenu, SetsOrTogglesThenAsksForARedraw)
{
    const MenuCase& c = GetParam();
    reset_program_state();
    apply(c.before);
    on_menu(c.code);
    EXPECT_EQ(current_settings(), c.after) << "code " << c.code;
    EXPECT_EQ(gl_recorder.calls, std::vector<GlCall>{call("glutPostRedisplay")});
}

const Settings initial{0, 0, 0, 1, 1, 1};
const Settings odd{7, 5, 3, 2, -1, 9}; // values outside the codes: toggles leave them be

INSTANTIATE_TEST_SUITE_P(Codes, OnMenu, testing::Values(
    MenuCase{2, {2, 0, 0, 1, 1, 1}, initial},
    MenuCase{2, initial, initial},
    MenuCase{3, initial, {1, 0, 0, 1, 1, 1}},
    MenuCase{4, initial, {2, 0, 0, 1, 1, 1}},
    MenuCase{4, {2, 0, 0, 1, 1, 1}, {2, 0, 0, 1, 1, 1}},
    MenuCase{5, initial, {0, 0, 0, 1, 1, 0}},
    MenuCase{5, {0, 0, 0, 1, 1, 0}, initial},
    MenuCase{6, initial, {0, 0, 0, 0, 1, 1}},
    MenuCase{6, {0, 0, 0, 0, 1, 1}, initial},
    MenuCase{7, initial, {0, 0, 0, 1, 0, 1}},
    MenuCase{7, {0, 0, 0, 1, 0, 1}, initial},
    MenuCase{8, initial, {0, 0, 1, 1, 1, 1}},
    MenuCase{8, {0, 0, 1, 1, 1, 1}, {0, 0, 1, 1, 1, 1}},
    MenuCase{9, {0, 0, 1, 1, 1, 1}, initial},
    MenuCase{10, {0, 1, 0, 1, 1, 1}, initial},
    MenuCase{11, initial, {0, 1, 0, 1, 1, 1}},
    MenuCase{5, odd, odd},
    MenuCase{6, odd, odd},
    MenuCase{7, odd, odd},
    MenuCase{3, odd, {1, 5, 3, 2, -1, 9}},
    MenuCase{1, initial, initial},
    MenuCase{12, initial, initial},
    MenuCase{-1, initial, initial},
    MenuCase{1000, odd, odd}));

// Runs in the dying child: shows on standard error what the double saw before the exit.
void print_recorded_calls()
{
    for (const GlCall& c : gl_recorder.calls)
        std::fprintf(stderr, "%s(%g);", c.name.c_str(), c.args.empty() ? 0.0 : c.args[0]);
}

TEST(OnMenuDeathTest, QuitDestroysTheWindowThenExitsWithStatusZero)
{
    reset_program_state();
    viewer_state.window_id = 42;
    EXPECT_EXIT(
        {
            std::atexit(print_recorded_calls);
            on_menu(0);
            std::fprintf(stderr, "on_menu returned;");
        },
        testing::ExitedWithCode(0), "^glutDestroyWindow\\(42\\);$");
}

} // namespace
