// Real mouse gestures and menu choices on the real window, judged by the pictures they leave.
#include <X11/keysym.h>

#include <cmath>

#include "real_viewer.h"

namespace {

const unsigned left_button = 1, middle_button = 2;

class Interaction : public ViewerOnTorus {
protected:
    void drag_in_window(unsigned button, int x0, int y0, int x1, int y1)
    {
        drag(display, button, root_x(x0), root_y(y0), root_x(x1), root_y(y1));
    }
};

TEST_F(Interaction, MiddleDragDownwardScalesTheMeshUp)
{
    drag_in_window(middle_button, 600, 300, 600, 360);
    const Image after = next_frame(first);
    EXPECT_GT(count_colour(after, mesh_red), 1.5 * count_colour(first, mesh_red));
}

TEST_F(Interaction, MiddleDragUpwardScalesTheMeshDown)
{
    drag_in_window(middle_button, 600, 300, 600, 270);
    const Image after = next_frame(first);
    EXPECT_LT(count_colour(after, mesh_red), 0.8 * count_colour(first, mesh_red));
}

TEST_F(Interaction, ShiftLeftDragTurnsTheModel)
{
    hold_key(display, XK_Shift_L, true);
    drag_in_window(left_button, 600, 300, 600, 400);
    hold_key(display, XK_Shift_L, false);
    const Image after = next_frame(first);
    EXPECT_FALSE(after == first);
    // Twenty degrees more about X shows the torus more from above: a taller outline.
    EXPECT_GT(count_colour(after, mesh_red), 1.1 * count_colour(first, mesh_red));
}

TEST_F(Interaction, AltLeftDragTurnsTheModelAboutItsAxis)
{
    hold_key(display, XK_Alt_L, true);
    drag_in_window(left_button, 600, 300, 600, 400);
    hold_key(display, XK_Alt_L, false);
    const Image after = next_frame(first);
    EXPECT_FALSE(after == first);
    // The torus is round about its own axis: turning it there keeps its outline.
    EXPECT_NEAR(mean_y_of_colour(after, mesh_red), mean_y_of_colour(first, mesh_red), 3);
}

TEST_F(Interaction, PlainLeftDragMovesTheModel)
{
    drag_in_window(left_button, 600, 400, 600, 340);
    const Image after = next_frame(first);
    // Sixty pixels up moves the model 0.6 units along its own Y axis, which the turn about Z
    // points away, up and to the left on screen.
    EXPECT_LT(mean_y_of_colour(after, mesh_red), mean_y_of_colour(first, mesh_red) - 15);
    EXPECT_LT(mean_x_of_colour(after, mesh_red), mean_x_of_colour(first, mesh_red) - 15);
}

TEST_F(Interaction, MenuFlatFillsTheTriangles)
{
    choose(0, 1);
    const Image after = next_frame(first);
    EXPECT_GT(count_colour(after, mesh_red), 1.5 * count_colour(first, mesh_red));
}

TEST_F(Interaction, MenuBoundingBoxHidesTheBoxAndShowsItAgain)
{
    EXPECT_GT(count_colour(first, box_blue, 10), 200);
    choose(1, 2);
    const Image hidden = next_frame(first);
    EXPECT_EQ(count_colour(hidden, box_blue, 10), 0);
    choose(1, 2);
    const Image shown = next_frame(hidden);
    EXPECT_GT(count_colour(shown, box_blue, 10), 200);
}

TEST_F(Interaction, MenuOrthogonalChangesThePictureAndPerspectiveRestoresIt)
{
    choose(3, 1);
    const Image orthogonal = next_frame(first);
    EXPECT_FALSE(orthogonal == first);
    EXPECT_NE(count_colour(orthogonal, grid_grey, 3), count_colour(first, grid_grey, 3));
    choose(3, 0);
    const Image perspective = next_frame(orthogonal);
    EXPECT_TRUE(perspective == first) << "the same settings give the same picture";
}

TEST_F(Interaction, MenuQuitEndsTheProgramWithStatusZero)
{
    choose(4, -1);
    EXPECT_EQ(wait_for_exit(run.pid, 5000), 0);
    run.pid = -1;
}

} // namespace
