// One frame: projection, camera, model transform, the guides unlit, then the mesh in its style.
#include "render/display.h"

#include <GL/glut.h>

#include "app/viewer_state.h"
#include "render/draw_mesh.h"
#include "render/guides.h"

namespace {

const GLdouble field_of_view = 60.0; // degrees, vertical
const GLdouble aspect_ratio = 1.0;   // fixed, whatever the window's shape
const GLdouble near_plane = 0.1;
const GLdouble far_plane = 100.0;
const GLdouble ortho_half_size = 2.0; // the orthogonal view shows a 4 x 4 unit box
const GLdouble eye_distance = 5.0;

const GLfloat grid_line_width = 1.0f;
const GLfloat axis_line_width = 3.0f;
const GLfloat wireframe_line_width = 2.0f;

void clear_frame()
{
    glEnable(GL_DEPTH_TEST);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void set_projection()
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (viewer_state.projection == 0)
        gluPerspective(field_of_view, aspect_ratio, near_plane, far_plane);
    else if (viewer_state.projection == 1)
        glOrtho(-ortho_half_size, ortho_half_size, -ortho_half_size, ortho_half_size, near_plane,
                far_plane);
}

// The pan goes on last, so it moves the model along its own turned and scaled axes.
void set_camera_and_model_transform()
{
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(0, 0, eye_distance, 0, 0, 0, 0, 1, 0);
    glRotatef(viewer_state.rot_y, 0, 1, 0);
    glRotatef(viewer_state.rot_x, 1, 0, 0);
    glRotatef(viewer_state.rot_z, 0, 0, 1);
    glScalef(viewer_state.zoom, viewer_state.zoom, viewer_state.zoom);
    glTranslatef(viewer_state.pan_x, viewer_state.pan_y, viewer_state.pan_z);
}

void draw_guides()
{
    glDisable(GL_LIGHTING);
    glDisable(GL_LIGHT0);
    glLineWidth(grid_line_width);
    if (viewer_state.show_ground == 1)
        draw_ground();
    glLineWidth(axis_line_width);
    if (viewer_state.show_axes == 1)
        draw_axes();
    if (viewer_state.show_bounding_box == 1)
        draw_bounding_box();
}

void set_lighting()
{
    if (viewer_state.lighting == 1) {
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
    } else if (viewer_state.lighting == 0) {
        glDisable(GL_LIGHTING);
        glDisable(GL_LIGHT0);
    }
}

void draw_mesh()
{
    if (viewer_state.display_mode == 0)
        draw_wireframe();
    else if (viewer_state.display_mode == 1 || viewer_state.display_mode == 2)
        draw_shaded();
}

} // namespace

void display()
{
    clear_frame();
    set_projection();
    set_camera_and_model_transform();
    draw_guides();
    glLineWidth(wireframe_line_width);
    set_lighting();
    draw_mesh();
    glFlush();
    glutSwapBuffers(); // no effect on the single-buffered window, kept for a double-buffered one
}
