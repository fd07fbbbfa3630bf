// Mouse handlers. Left drags pan (along depth with Ctrl), Shift- or Alt-left drags turn, middle
// drags scale. Modifier masks compare whole, so Shift with Ctrl is a plain pan.
#include "input/mouse.h"

#include <GL/glut.h>

#include <cmath>

#include "app/viewer_state.h"

namespace {

enum DragMode { drag_none = 0, drag_rotate = 1, drag_zoom = 2, drag_pan = 3 };

const double pixels_per_degree = 5.0;
const double pixels_per_zoom_step = 60.0; // 60 pixels down doubles the scale
const double pixels_per_unit = 100.0;

// Pixel differences are exact in int; the step is taken in double and stored back as float.
float stepped(float value, int pixels, double divisor)
{
    return static_cast<float>(value + pixels / divisor);
}

void choose_drag(int button, int modifiers)
{
    if (button == GLUT_LEFT_BUTTON &&
        (modifiers == GLUT_ACTIVE_SHIFT || modifiers == GLUT_ACTIVE_ALT))
        viewer_state.drag_mode = drag_rotate;
    else if (button == GLUT_LEFT_BUTTON)
        viewer_state.drag_mode = drag_pan;
    else if (button == GLUT_MIDDLE_BUTTON)
        viewer_state.drag_mode = drag_zoom;
}

void rotate_drag(int x, int y)
{
    ViewerState& v = viewer_state;
    if (v.alt_drag == 1) {
        v.rot_z = fold_angle(stepped(v.rot_z, y - v.last_y, pixels_per_degree));
        v.last_y = y;
    } else if (v.alt_drag == 0) {
        v.rot_y = fold_angle(stepped(v.rot_y, x - v.last_x, pixels_per_degree));
        v.last_x = x;
        v.rot_x = fold_angle(stepped(v.rot_x, y - v.last_y, pixels_per_degree));
        v.last_y = y;
    }
}

// A step that would leave the scale at zero, below it or infinite is refused: from there no
// later drag could ever bring the model back.
void zoom_drag(int y)
{
    ViewerState& v = viewer_state;
    const float scaled = static_cast<float>(((y - v.last_y) / pixels_per_zoom_step + 1.0) * v.zoom);
    if (scaled > 0.0f && std::isfinite(scaled))
        v.zoom = scaled;
    v.last_y = y;
}

void pan_drag(int x, int y)
{
    ViewerState& v = viewer_state;
    if (v.ctrl_drag == 1) {
        v.pan_z = stepped(v.pan_z, v.last_y - y, pixels_per_unit);
    } else if (v.ctrl_drag == 0) {
        v.pan_x = stepped(v.pan_x, x - v.last_x, pixels_per_unit);
        v.pan_y = stepped(v.pan_y, v.last_y - y, pixels_per_unit);
    }
    v.last_x = x;
    v.last_y = y;
}

} // namespace

float fold_angle(float degrees)
{
    if (degrees > 180)
        return degrees - 360;
    if (degrees < -180)
        return degrees + 360;
    return degrees;
}

void on_mouse(int button, int state, int x, int y)
{
    viewer_state.ctrl_drag = 0;
    viewer_state.alt_drag = 0;
    if (state == GLUT_DOWN) {
        const int modifiers = glutGetModifiers();
        viewer_state.last_x = x;
        viewer_state.last_y = y;
        if (modifiers == GLUT_ACTIVE_CTRL)
            viewer_state.ctrl_drag = 1;
        if (modifiers == GLUT_ACTIVE_ALT)
            viewer_state.alt_drag = 1;
        choose_drag(button, modifiers);
    } else if (state == GLUT_UP) {
        viewer_state.drag_mode = drag_none;
    }
}

void on_motion(int x, int y)
{
    switch (viewer_state.drag_mode) {
    case drag_rotate: rotate_drag(x, y); break;
    case drag_zoom: zoom_drag(y); break;
    case drag_pan: pan_drag(x, y); break;
    default: break;
    }
    glutPostRedisplay();
}
