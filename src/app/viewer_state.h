// The viewer's one program-wide state record: display settings, view transform and drag state.
// The display handler reads it; the mouse and menu handlers write it. Settings are plain int
// codes, compared exactly: a value outside the listed codes selects nothing.
#pragma once

struct ViewerState {
    int display_mode = 0;      // 0 wireframe, 1 flat-shaded, 2 smooth-shaded
    int projection = 0;        // 0 perspective, 1 orthogonal
    int lighting = 0;          // 0 off, 1 on
    int show_ground = 1;       // 1 shows the ground grid
    int show_bounding_box = 1; // 1 shows the bounding box
    int show_axes = 1;         // 1 shows the coordinate axes
    float rot_x = -65.0f;      // degrees about the model's X axis
    float rot_y = 0.0f;        // degrees about the model's Y axis
    float rot_z = 45.0f;       // degrees about the model's Z axis
    float zoom = 1.0f;         // uniform scale factor, always above 0
    float pan_x = 0.0f;        // model units
    float pan_y = 0.0f;        // model units
    float pan_z = 0.0f;        // model units
    int drag_mode = 0;         // 0 none, 1 rotate, 2 zoom, 3 pan
    int ctrl_drag = 0;         // 1 when the last button event was a press with Ctrl alone
    int alt_drag = 0;          // 1 when the last button event was a press with Alt alone
    int last_x = 0;            // window pixels, at the last press or drag step
    int last_y = 0;            // window pixels, y grows downward
    int window_id = 0;         // GLUT's identifier of the window
    int display_menu = 0;      // GLUT's identifiers of the five popup menus
    int show_menu = 0;
    int lighting_menu = 0;
    int projection_menu = 0;
    int main_menu = 0;
};

extern ViewerState viewer_state;
