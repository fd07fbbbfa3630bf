// Ground grid, coordinate axes and bounding box.
#include "render/guides.h"

#include <GL/glut.h>

#include "mesh/mesh_store.h"

namespace {

const int grid_steps = 40; // 41 lines each way
const double grid_spacing = 0.5;
const double grid_half_size = 10.0;
const GLubyte grid_grey = 150;
const GLfloat box_line_width = 1.0f;

GLfloat grid_coordinate(int step)
{
    return static_cast<GLfloat>(step * grid_spacing - grid_half_size);
}

struct Extents {
    double min_x, min_y, min_z;
    double max_x, max_y, max_z;
};

// A vertex beyond single precision has no place, so it cannot widen the box.
bool finite_extents(const std::vector<Vertex>& vertices, Extents& e)
{
    e = Extents{1e100, 1e100, 1e100, -1e100, -1e100, -1e100};
    bool any = false;
    for (const Vertex& v : vertices) {
        if (!has_finite_position(v))
            continue;
        any = true;
        if (e.min_x > v.x) e.min_x = v.x;
        if (e.max_x < v.x) e.max_x = v.x;
        if (e.min_y > v.y) e.min_y = v.y;
        if (e.max_y < v.y) e.max_y = v.y;
        if (e.min_z > v.z) e.min_z = v.z;
        if (e.max_z < v.z) e.max_z = v.z;
    }
    return any;
}

void send_edge(double x1, double y1, double z1, double x2, double y2, double z2)
{
    glVertex3d(x1, y1, z1);
    glVertex3d(x2, y2, z2);
}

} // namespace

void draw_ground()
{
    glColor3ub(grid_grey, grid_grey, grid_grey);
    glBegin(GL_LINES);
    for (int i = 0; i <= grid_steps; ++i) {
        glVertex2f(grid_coordinate(i), -10);
        glVertex2f(grid_coordinate(i), 10);
    }
    for (int i = 0; i <= grid_steps; ++i) {
        glVertex2f(-10, grid_coordinate(i));
        glVertex2f(10, grid_coordinate(i));
    }
    glEnd();
}

void draw_axes()
{
    glBegin(GL_LINES);
    glColor3f(0, 0, 1);
    glVertex3f(0, 0, 0);
    glVertex3f(1, 0, 0);
    glColor3f(0, 1, 0);
    glVertex3f(0, 0, 0);
    glVertex3f(0, 1, 0);
    glColor3f(1, 1, 0);
    glVertex3f(0, 0, 0);
    glVertex3f(0, 0, 1);
    glEnd();
}

// Recomputed on every frame it is shown: the mesh is small enough, and nothing goes stale.
void draw_bounding_box()
{
    Extents e;
    if (!finite_extents(mesh_store.vertices, e))
        return;
    glLineWidth(box_line_width);
    glBegin(GL_LINES);
    glColor3f(0.5f, 0.5f, 1.0f);
    send_edge(e.min_x, e.min_y, e.min_z, e.max_x, e.min_y, e.min_z);
    send_edge(e.max_x, e.min_y, e.min_z, e.max_x, e.min_y, e.max_z);
    send_edge(e.max_x, e.min_y, e.max_z, e.min_x, e.min_y, e.max_z);
    send_edge(e.min_x, e.min_y, e.max_z, e.min_x, e.min_y, e.min_z);
    send_edge(e.min_x, e.min_y, e.min_z, e.min_x, e.max_y, e.min_z);
    send_edge(e.min_x, e.max_y, e.min_z, e.min_x, e.max_y, e.max_z);
    send_edge(e.min_x, e.max_y, e.max_z, e.min_x, e.min_y, e.max_z);
    send_edge(e.min_x, e.max_y, e.max_z, e.max_x, e.max_y, e.max_z);
    send_edge(e.max_x, e.max_y, e.max_z, e.max_x, e.min_y, e.max_z);
    send_edge(e.max_x, e.max_y, e.max_z, e.max_x, e.max_y, e.min_z);
    send_edge(e.max_x, e.max_y, e.min_z, e.max_x, e.min_y, e.min_z);
    send_edge(e.min_x, e.max_y, e.min_z, e.max_x, e.max_y, e.min_z);
    glEnd();
}
