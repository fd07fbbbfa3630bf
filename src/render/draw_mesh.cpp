// Immediate-mode drawing of every face, one begin-end pair per face, in the mesh's own order.
#include "render/draw_mesh.h"

#include <GL/glut.h>

#include "app/viewer_state.h"
#include "mesh/mesh_store.h"

namespace {

void send_position(const Vertex& v)
{
    glVertex3f(static_cast<GLfloat>(v.x), static_cast<GLfloat>(v.y), static_cast<GLfloat>(v.z));
}

void send_normal(const Vertex& v)
{
    glNormal3f(static_cast<GLfloat>(v.nx), static_cast<GLfloat>(v.ny),
               static_cast<GLfloat>(v.nz));
}

void set_shade_model()
{
    if (viewer_state.display_mode == 1)
        glShadeModel(GL_FLAT);
    else if (viewer_state.display_mode == 2)
        glShadeModel(GL_SMOOTH);
}

} // namespace

// Three separate segments per face: an edge that two faces share is drawn twice.
void draw_wireframe()
{
    const std::vector<Vertex>& vertices = mesh_store.vertices;
    for (const Face& face : mesh_store.faces) {
        if (!face_is_drawable(face, vertices))
            continue;
        const Vertex& a = vertices[face.v1];
        const Vertex& b = vertices[face.v2];
        const Vertex& c = vertices[face.v3];
        glBegin(GL_LINES);
        glColor3f(1, 0, 0);
        send_position(a);
        send_position(b);
        send_position(b);
        send_position(c);
        send_position(c);
        send_position(a);
        glEnd();
    }
}

void draw_shaded()
{
    set_shade_model();
    const std::vector<Vertex>& vertices = mesh_store.vertices;
    for (const Face& face : mesh_store.faces) {
        if (!face_is_drawable(face, vertices))
            continue;
        glBegin(GL_TRIANGLES);
        glColor3f(1, 0, 0);
        for (int corner : {face.v1, face.v2, face.v3}) {
            send_normal(vertices[corner]);
            send_position(vertices[corner]);
        }
        glEnd();
    }
}
