// Mouse gestures: what a press and its motion events do to the view.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "frame_helpers.h"
#include "input/mouse.h"

namespace {

struct View {
    int drag_mode, ctrl_drag, alt_drag, last_x, last_y;
    float rot_x, rot_y, rot_z, zoom, pan_x, pan_y, pan_z;

    bool operator==(const View& o) const
    {
        return drag_mode == o.drag_mode && ctrl_drag == o.ctrl_drag && alt_drag == o.alt_drag &&
               last_x == o.last_x && last_y == o.last_y && rot_x == o.rot_x && rot_y == o.rot_y &&
               rot_z == o.rot_z && zoom == o.zoom && pan_x == o.pan_x && pan_y == o.pan_y &&
               pan_z == o.pan_z;
    }
};

void PrintTo(const View& v, std::ostream* out)
{
    *out << "drag " << v.drag_mode << " ctrl " << v.ctrl_drag << " alt " << v.alt_drag << " last ("
         << v.last_x << ", " << v.last_y << ") rot (" << v.rot_x << ", " << v.rot_y << ", "
         << v.rot_z << ") zoom " << v.zoom << " pan (" << v.pan_x << ", " << v.pan_y << ", "
         << v.pan_z << ")";
}

View current_view()
{
    const ViewerState& s = viewer_state;
    return {s.drag_mode, s.ctrl_drag, s.alt_drag, s.last_x, s.last_y, s.rot_x,
            s.rot_y,     s.rot_z,     s.zoom,     s.pan_x,  s.pan_y,  s.pan_z};
}

const int shift = GLUT_ACTIVE_SHIFT, ctrl = GLUT_ACTIVE_CTRL, alt = GLUT_ACTIVE_ALT;
const int left = GLUT_LEFT_BUTTON, middle = GLUT_MIDDLE_BUTTON, right = GLUT_RIGHT_BUTTON;

struct Gesture {
    const char* name;
    float start_rot_x, start_rot_y;
    int button, modifiers, press_x, press_y;
    std::vector<std::pair<int, int>> motion;
    View expected;
};

void PrintTo(const Gesture& g, std::ostream* out)
{
    *out << g.name;
}

class MouseGesture : public testing::TestWithParam<Gesture> {};

TEST_P(MouseGesture, ChangesTheViewAsTheGestureSays)
{
    const Gesture& g = GetParam();
    reset_program_state();
    viewer_state.rot_x = g.start_rot_x;
    viewer_state.rot_y = g.start_rot_y;
    gl_recorder.modifiers = g.modifiers;
    on_mouse(g.button, GLUT_DOWN, g.press_x, g.press_y);
    EXPECT_EQ(gl_recorder.calls, std::vector<GlCall>{call("glutGetModifiers")}) << "a press only asks";
    for (const auto& [x, y] : g.motion)
        on_motion(x, y);
    EXPECT_EQ(current_view(), g.expected);
    EXPECT_EQ(calls_named("glutPostRedisplay").size(), g.motion.size());
}

float f(double value)
{
    return static_cast<float>(value);
}

// Rows: press, then the motion events; the whole interaction state afterwards.
INSTANTIATE_TEST_SUITE_P(Gestures, MouseGesture, testing::Values(
    Gesture{"left_pans_in_x_and_y", -65, 0, left, 0, 100, 100, {{110, 95}},
            {3, 0, 0, 110, 95, -65, 0, 45, 1, f(0.1), f(0.05), 0}},
    Gesture{"ctrl_left_pans_in_depth_only", -65, 0, left, ctrl, 100, 100, {{130, 80}},
            {3, 1, 0, 130, 80, -65, 0, 45, 1, 0, 0, f(0.2)}},
    Gesture{"shift_left_turns_about_y_and_x", -65, 0, left, shift, 100, 100, {{110, 105}},
            {1, 0, 0, 110, 105, -64, 2, 45, 1, 0, 0, 0}},
    Gesture{"alt_left_turns_about_z_only", -65, 0, left, alt, 100, 100, {{130, 110}},
            {1, 0, 1, 100, 110, -65, 0, 47, 1, 0, 0, 0}},
    Gesture{"shift_ctrl_left_is_a_plain_pan", -65, 0, left, shift | ctrl, 100, 100, {{90, 100}},
            {3, 0, 0, 90, 100, -65, 0, 45, 1, f(-0.1), 0, 0}},
    Gesture{"ctrl_alt_left_is_a_plain_pan", -65, 0, left, ctrl | alt, 100, 100, {{100, 110}},
            {3, 0, 0, 100, 110, -65, 0, 45, 1, 0, f(-0.1), 0}},
    Gesture{"middle_zooms_down_to_grow", -65, 0, middle, 0, 50, 200, {{60, 230}},
            {2, 0, 0, 50, 230, -65, 0, 45, 1.5f, 0, 0, 0}},
    Gesture{"ctrl_middle_zooms_alike", -65, 0, middle, ctrl, 50, 200, {{60, 230}},
            {2, 1, 0, 50, 230, -65, 0, 45, 1.5f, 0, 0, 0}},
    Gesture{"alt_middle_zooms_alike", -65, 0, middle, alt, 50, 200, {{60, 230}},
            {2, 0, 1, 50, 230, -65, 0, 45, 1.5f, 0, 0, 0}},
    Gesture{"shift_middle_zooms_alike", -65, 0, middle, shift, 50, 200, {{50, 170}},
            {2, 0, 0, 50, 170, -65, 0, 45, 0.5f, 0, 0, 0}},
    Gesture{"zoom_59_up_keeps_a_sixtieth", -65, 0, middle, 0, 0, 100, {{0, 41}},
            {2, 0, 0, 0, 41, -65, 0, 45, f(1.0 / 60.0), 0, 0, 0}},
    Gesture{"zoom_60_up_is_refused", -65, 0, middle, 0, 0, 100, {{0, 40}},
            {2, 0, 0, 0, 40, -65, 0, 45, 1, 0, 0, 0}},
    Gesture{"zoom_61_up_is_refused", -65, 0, middle, 0, 0, 100, {{0, 39}},
            {2, 0, 0, 0, 39, -65, 0, 45, 1, 0, 0, 0}},
    Gesture{"zoom_refused_then_scales_back", -65, 0, middle, 0, 0, 100, {{0, 40}, {0, 70}},
            {2, 0, 0, 0, 70, -65, 0, 45, 1.5f, 0, 0, 0}},
    Gesture{"fold_past_180", -65, 179, left, shift, 0, 0, {{10, 0}},
            {1, 0, 0, 10, 0, -65, -179, 45, 1, 0, 0, 0}},
    Gesture{"exact_180_stays", -170, 178, left, shift, 0, 0, {{10, -50}},
            {1, 0, 0, 10, -50, -180, 180, 45, 1, 0, 0, 0}},
    Gesture{"fold_below_minus_180", -175, 0, left, shift, 0, 0, {{0, -50}},
            {1, 0, 0, 0, -50, 175, 0, 45, 1, 0, 0, 0}},
    Gesture{"steps_accumulate", -65, 0, left, shift, 0, 0, {{5, 0}, {10, 0}, {15, 5}},
            {1, 0, 0, 15, 5, -64, 3, 45, 1, 0, 0, 0}},
    Gesture{"right_press_starts_no_drag", -65, 0, right, 0, 7, 9, {{50, 50}},
            {0, 0, 0, 7, 9, -65, 0, 45, 1, 0, 0, 0}}));

TEST(Mouse, WorkedExampleTurnsTwoDegreesAboutYAndOneAboutX)
{
    reset_program_state();
    viewer_state.rot_x = 10;
    viewer_state.rot_y = 20;
    gl_recorder.modifiers = GLUT_ACTIVE_SHIFT;
    on_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 300, 300);
    on_motion(310, 305);
    EXPECT_EQ(viewer_state.rot_y, 22.0f);
    EXPECT_EQ(viewer_state.rot_x, 11.0f);
}

TEST(Mouse, AnyReleaseEndsTheDragEvenWithAnotherButtonHeld)
{
    reset_program_state();
    on_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 10, 10);
    gl_recorder.modifiers = GLUT_ACTIVE_CTRL;
    on_mouse(GLUT_MIDDLE_BUTTON, GLUT_DOWN, 20, 20);
    EXPECT_EQ(viewer_state.ctrl_drag, 1);
    on_mouse(GLUT_MIDDLE_BUTTON, GLUT_UP, 20, 20);
    const View released = current_view();
    EXPECT_EQ(released.drag_mode, 0);
    EXPECT_EQ(released.ctrl_drag, 0) << "every button event clears the flags";
    reset_gl_recorder();
    on_motion(200, 300);
    on_motion(250, 100);
    EXPECT_EQ(current_view(), released) << "motion after the release changes nothing";
    EXPECT_EQ(gl_recorder.calls,
              (std::vector<GlCall>{call("glutPostRedisplay"), call("glutPostRedisplay")}));
}

TEST(Mouse, ZoomNeverReachesZeroOrInfinity)
{
    reset_program_state();
    on_mouse(GLUT_MIDDLE_BUTTON, GLUT_DOWN, 0, 0);
    for (int step = 0; step < 100; ++step) {
        on_motion(0, 6000);
        on_motion(0, 0);
    }
    EXPECT_TRUE(std::isfinite(viewer_state.zoom));
    EXPECT_GT(viewer_state.zoom, 0.0f);
    for (int step = 0; step < 200; ++step)
        on_motion(0, -59 * (step + 1));
    EXPECT_GT(viewer_state.zoom, 0.0f);
}

TEST(FoldAngle, FoldsOnceAndKeepsTheEnds)
{
    const std::pair<float, float> cases[] = {{181, -179}, {-181, 179}, {180, 180}, {-180, -180},
                                             {540, 180},  {-540, -180}, {0, 0},   {359.5f, -0.5f}};
    for (const auto& [angle, folded] : cases)
        EXPECT_EQ(fold_angle(angle), folded) << angle;
}

} // namespace
