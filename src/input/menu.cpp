// The popup menu tree and its one handler. Style, lighting and projection entries set a value;
// guide entries toggle one.
#include "input/menu.h"

#include <GL/glut.h>

#include <cstdlib>

#include "app/viewer_state.h"

namespace {

enum MenuCode {
    quit_code = 0,
    wireframe_code = 2,
    flat_code = 3,
    smooth_code = 4,
    axes_code = 5,
    ground_code = 6,
    bounding_box_code = 7,
    lighting_on_code = 8,
    lighting_off_code = 9,
    perspective_code = 10,
    orthogonal_code = 11,
};

// A flag holding neither 0 nor 1 is left as it is.
void toggle(int& flag)
{
    if (flag == 0)
        flag = 1;
    else if (flag == 1)
        flag = 0;
}

void quit()
{
    glutDestroyWindow(viewer_state.window_id);
    std::exit(0);
}

} // namespace

void build_menus()
{
    ViewerState& v = viewer_state;
    v.display_menu = glutCreateMenu(on_menu);
    glutAddMenuEntry("Wireframe", wireframe_code);
    glutAddMenuEntry("Flat", flat_code);
    glutAddMenuEntry("Smooth", smooth_code);

    v.show_menu = glutCreateMenu(on_menu);
    glutAddMenuEntry("Cordinate Axis", axes_code); // spelled as users have always seen it
    glutAddMenuEntry("Ground", ground_code);
    glutAddMenuEntry("Bounding Box", bounding_box_code);

    v.lighting_menu = glutCreateMenu(on_menu);
    glutAddMenuEntry("On", lighting_on_code);
    glutAddMenuEntry("Off", lighting_off_code);

    v.projection_menu = glutCreateMenu(on_menu);
    glutAddMenuEntry("Perspective", perspective_code);
    glutAddMenuEntry("Orthogonal", orthogonal_code);

    v.main_menu = glutCreateMenu(on_menu);
    glutAddSubMenu("Display Mode", v.display_menu);
    glutAddSubMenu("Show/Hide", v.show_menu);
    glutAddSubMenu("Lighting", v.lighting_menu);
    glutAddSubMenu("Projection", v.projection_menu);
    glutAddMenuEntry("Quit", quit_code);
    glutAttachMenu(GLUT_RIGHT_BUTTON);
}

void on_menu(int code)
{
    ViewerState& v = viewer_state;
    switch (code) {
    case quit_code: quit(); break;
    case wireframe_code: v.display_mode = 0; break;
    case flat_code: v.display_mode = 1; break;
    case smooth_code: v.display_mode = 2; break;
    case axes_code: toggle(v.show_axes); break;
    case ground_code: toggle(v.show_ground); break;
    case bounding_box_code: toggle(v.show_bounding_box); break;
    case lighting_on_code: v.lighting = 1; break;
    case lighting_off_code: v.lighting = 0; break;
    case perspective_code: v.projection = 0; break;
    case orthogonal_code: v.projection = 1; break;
    default: break;
    }
    glutPostRedisplay();
}
