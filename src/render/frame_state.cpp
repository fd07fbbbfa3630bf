// The clear colour and the one light, apart from the window, so a context without one can share them.
#include "render/frame_state.h"

#include <GL/gl.h>

namespace {

const GLfloat light_position[4] = {1.0f, 1.0f, 1.0f, 0.0f}; // directional, from (1, 1, 1)
const GLfloat white_light[4] = {1.0f, 1.0f, 1.0f, 1.0f};
// The name is odd, but it is the one the lighting set-up has always been known by.
const GLfloat Imodel_ambient[4] = {1.0f, 0.1f, 0.1f, 1.0f}; // a strongly red ambient

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
