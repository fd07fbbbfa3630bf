// The snapshot tool's pictures are the viewer's: the real viewer is driven to a state through
// real menu choices and drags, and its window must equal, pixel for pixel, the snapshot of the
// same state set by options.
#include <X11/keysym.h>

#include <functional>

#include "png_file.h"
#include "real_viewer.h"

namespace {

const unsigned left_button = 1, middle_button = 2;

// Menu places: main entry, then sub-entry.
struct MenuChoice {
    int main_index, sub_index;
};
const MenuChoice flat{0, 1}, smooth{0, 2}, show_hide_axes{1, 0}, show_hide_ground{1, 1},
    show_hide_box{1, 2}, lighting_on{2, 0}, orthogonal{3, 1};

class SnapshotMatchesViewer : public ViewerOnTorus {
protected:
    void SetUp() override
    {
        ViewerOnTorus::SetUp();
        shown = first;
    }

    void choose_and_wait(const MenuChoice& choice)
    {
        choose(choice.main_index, choice.sub_index);
        shown = next_frame(shown);
    }

    // Drags whose whole movement arrives in one motion event, so every step is exact: 5 pixels
    // turn 1 degree, 100 pixels move 1 unit, 60 pixels down double the scale.
    void drag_once(unsigned button, int dx, int dy, unsigned long modifier = 0)
    {
        if (modifier)
            hold_key(display, modifier, true);
        drag_in_one_motion(display, button, root_x(400), root_y(300), root_x(400 + dx), root_y(300 + dy));
        if (modifier)
            hold_key(display, modifier, false);
        shown = next_frame(shown);
    }

    // The viewer's window against the snapshot tool's picture of the same mesh.
    void expect_same_picture_as_snapshot(const std::string& options)
    {
        const std::string picture = write_temporary_file("") + ".png";
        const CommandRun snapshot_run = run_command("'" + std::string(OLVANTA_SNAPSHOT_PATH) + "' " + options + " '" +
                                           mesh + "' '" + picture + "'");
        ASSERT_EQ(snapshot_run.status, 0) << snapshot_run.err;
        Image snapshot;
        ASSERT_TRUE(read_png(picture, snapshot));
        const std::size_t differing = differing_pixels(shown, snapshot);
        EXPECT_EQ(differing, 0u) << "pixels that differ between the viewer's window and the snapshot with " << options;
        if (differing) {
            save_ppm(shown, "/tmp/olvanta-viewer-state.ppm");
            save_ppm(snapshot, "/tmp/olvanta-snapshot-state.ppm");
        }
        unlink(picture.c_str());
    }

    Image shown;
};

TEST_F(SnapshotMatchesViewer, FirstFrame)
{
    expect_same_picture_as_snapshot("");
}

TEST_F(SnapshotMatchesViewer, FlatAndLit)
{
    choose_and_wait(flat);
    choose_and_wait(lighting_on);
    expect_same_picture_as_snapshot("--style flat --lighting on");
}

TEST_F(SnapshotMatchesViewer, SmoothAndLit)
{
    choose_and_wait(smooth);
    choose_and_wait(lighting_on);
    expect_same_picture_as_snapshot("--style smooth --lighting on");
}

TEST_F(SnapshotMatchesViewer, OrthogonalWithoutGuides)
{
    choose_and_wait(orthogonal);
    choose_and_wait(show_hide_ground);
    choose_and_wait(show_hide_axes);
    choose_and_wait(show_hide_box);
    expect_same_picture_as_snapshot("--projection orthogonal --hide ground,axes,box");
}

TEST_F(SnapshotMatchesViewer, TurnedScaledAndMoved)
{
    drag_once(left_button, 50, 100, XK_Shift_L); // 10 degrees more about Y, 20 more about X
    drag_once(left_button, 0, 35, XK_Alt_L);     // 7 degrees more about Z
    drag_once(middle_button, 0, 30);             // half as large again
    drag_once(left_button, 50, -25);             // half a unit along X, a quarter along Y
    expect_same_picture_as_snapshot("--turn -45,10,52 --zoom 1.5 --pan 0.5,0.25,0");
}

} // namespace
