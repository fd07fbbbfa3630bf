// The start-up sequence, in the one order that works: the mesh is read before GLUT sees the
// command line, the menus attach to the new window, and the light is placed while the
// model-view matrix is still the identity, so it stays fixed relative to the viewer.
#include "app/startup.h"

#include <GL/glut.h>

#include "app/viewer_state.h"
#include "input/menu.h"
#include "input/mouse.h"
#include "mesh/load_mesh.h"
#include "render/display.h"
#include "render/frame_state.h"

namespace {

const int window_size = 650;
const int window_position = 100;

void open_window(int* argc, char** argv)
{
    glutInit(argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_SINGLE | GLUT_DEPTH);
    glutInitWindowSize(window_size, window_size);
    glutInitWindowPosition(window_position, window_position);
    viewer_state.window_id = glutCreateWindow("Olvanta");
}

void register_handlers()
{
    glutDisplayFunc(display);
    glutMouseFunc(on_mouse);
    glutMotionFunc(on_motion);
}

} // namespace

// Returns 1, never 0: the main loop only returns if GLUT fails, and 0 belongs to Quit.
int run_viewer(int* argc, char** argv)
{
    load_mesh();
    open_window(argc, argv);
    build_menus();
    set_clear_colour();
    register_handlers();
    set_up_light();
    glutMainLoop();
    return 1;
}
