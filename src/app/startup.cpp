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

namespace {

const int window_size = 650;
const int window_position = 100;

const GLfloat light_position[4] = {1.0f, 1.0f, 1.0f, 0.0f}; // directional, from (1, 1, 1)
const GLfloat white_light[4] = {1.0f, 1.0f, 1.0f, 1.0f};
// The name is odd, but it is the one the lighting set-up has always been known by.
const GLfloat Imodel_ambient[4] = {1.0f, 0.1f, 0.1f, 1.0f}; // a strongly red ambient

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

void set_clear_colour()
{
    glClearColor(0.9f, 0.9f, 0.9f, 1.0f);
}

void set_up_light()
{
    glLightfv(GL_LIGHT0, GL_POSITION, light_position);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white_light);
    glLightfv(GL_LIGHT0, GL_SPECULAR, white_light);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, Imodel_ambient);
}

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
