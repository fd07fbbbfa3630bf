// The square is fitted to the drawn corners after the turn, not to a bounding sphere, so a long
// thin model fills the picture as much as a round one does.
#include "thumbnail_view.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/viewer_state.h"

namespace {

const double margin = 0.05; // of the square, on every side
const double pi = 3.14159265358979323846;

struct Bounds {
    double low[3], high[3];
};

// Turns by degrees about one axis, as glRotate does: `a` and `b` are the two other axes in order.
void rotate(double m[9], double degrees, int a, int b)
{
    const double c = std::cos(degrees * pi / 180), s = std::sin(degrees * pi / 180);
    double r[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    r[a * 3 + a] = c;
    r[a * 3 + b] = -s;
    r[b * 3 + a] = s;
    r[b * 3 + b] = c;
    double product[9];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            product[i * 3 + j] = m[i * 3] * r[j] + m[i * 3 + 1] * r[3 + j] + m[i * 3 + 2] * r[6 + j];
    std::copy(product, product + 9, m);
}

// The display handler's order: about Y, then X, then Z, each in the frame the one before left.
void viewers_first_turn(double m[9])
{
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::copy(identity, identity + 9, m);
    const ViewerState first;
    rotate(m, first.rot_y, 2, 0);
    rotate(m, first.rot_x, 1, 2);
    rotate(m, first.rot_z, 0, 1);
}

void turned(const double m[9], const Vertex& v, double out[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = m[i * 3] * v.x + m[i * 3 + 1] * v.y + m[i * 3 + 2] * v.z;
}

void take(Bounds& bounds, const double p[3])
{
    for (int i = 0; i < 3; ++i) {
        bounds.low[i] = std::min(bounds.low[i], p[i]);
        bounds.high[i] = std::max(bounds.high[i], p[i]);
    }
}

} // namespace

ThumbnailView view_of(const MeshStore& mesh)
{
    ThumbnailView view;
    viewers_first_turn(view.turn);
    const double inf = std::numeric_limits<double>::infinity();
    Bounds seen{{inf, inf, inf}, {-inf, -inf, -inf}};
    for (const Face& face : mesh.faces) {
        if (!face_is_drawable(face, mesh.vertices))
            continue;
        for (int corner : {face.v1, face.v2, face.v3}) {
            double q[3];
            turned(view.turn, mesh.vertices[static_cast<std::size_t>(corner)], q);
            take(seen, q);
        }
    }
    const double width = seen.high[0] - seen.low[0], height = seen.high[1] - seen.low[1];
    const double depth = seen.high[2] - seen.low[2];
    view.has_area = width > 0 && height > 0 && std::isfinite(width) && std::isfinite(height) && std::isfinite(depth);
    if (!view.has_area)
        return view;
    // The middle of the turned box, turned back: the turn's inverse is its transpose.
    const double* m = view.turn;
    double middle[3];
    for (int i = 0; i < 3; ++i)
        middle[i] = seen.low[i] / 2 + seen.high[i] / 2;
    for (int i = 0; i < 3; ++i)
        view.centre[i] = m[i] * middle[0] + m[3 + i] * middle[1] + m[6 + i] * middle[2];
    view.half_width = std::max(width, height) / 2 / (1 - 2 * margin);
    const double reach = depth / 2 * 1.01 + view.half_width * 1e-3; // a flat model still has depth to be drawn in
    view.near_plane = -reach;
    view.far_plane = reach;
    return view;
}

void centre_mesh(MeshStore& mesh, const ThumbnailView& view)
{
    for (Vertex& v : mesh.vertices) {
        v.x -= view.centre[0];
        v.y -= view.centre[1];
        v.z -= view.centre[2];
    }
}

void set_thumbnail_matrices(const ThumbnailView& view)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-view.half_width, view.half_width, -view.half_width, view.half_width, view.near_plane, view.far_plane);
    glMatrixMode(GL_MODELVIEW);
    const double* m = view.turn;
    const GLdouble by_columns[16] = {m[0], m[3], m[6], 0, m[1], m[4], m[7], 0, m[2], m[5], m[8], 0, 0, 0, 0, 1};
    glLoadMatrixd(by_columns);
}
