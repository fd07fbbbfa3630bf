// Whole frames: the exact stream of GL calls that display sends for a state and a mesh.
#include <gtest/gtest.h>

#include <cmath>

#include "frame_helpers.h"
#include "render/display.h"

namespace {

// Two good faces around one that names a vertex the mesh lacks.
MeshStore small_mesh()
{
    MeshStore mesh;
    mesh.vertices = {{0.1, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 1, 0}, {0, 1, 0.3, 1, 0, 0}};
    mesh.faces = {{0, 1, 2}, {0, 1, 3}, {2, 1, 0}};
    return mesh;
}

const Box small_mesh_box{0, 0, 0, 1, 1, 0.3};

const double f01 = double(0.1f), f03 = double(0.3f);

std::vector<GlCall> camera_and_model(float rot_x, float rot_y, float rot_z, float zoom)
{
    return {call("glMatrixMode", {GL_MODELVIEW}), call("glLoadIdentity"),
            call("gluLookAt", {0, 0, 5, 0, 0, 0, 0, 1, 0}),
            call("glRotatef", {rot_y, 0, 1, 0}), call("glRotatef", {rot_x, 1, 0, 0}),
            call("glRotatef", {rot_z, 0, 0, 1}), call("glScalef", {zoom, zoom, zoom})};
}

std::vector<GlCall> frame_start(const GlCall& projection)
{
    std::vector<GlCall> calls{call("glEnable", {GL_DEPTH_TEST}),
                              call("glClear", {GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT}),
                              call("glMatrixMode", {GL_PROJECTION}), call("glLoadIdentity")};
    if (!projection.name.empty())
        calls.push_back(projection);
    return calls + camera_and_model(-65, 0, 45, 1) +
           std::vector<GlCall>{call("glTranslatef", {0, 0, 0})};
}

const GlCall perspective = call("gluPerspective", {60, 1, 0.1, 100});
const GlCall orthogonal = call("glOrtho", {-2, 2, -2, 2, 0.1, 100});

std::vector<GlCall> all_guides()
{
    return std::vector<GlCall>{call("glDisable", {GL_LIGHTING}), call("glDisable", {GL_LIGHT0}),
                               call("glLineWidth", {1})} +
           ground_calls() + std::vector<GlCall>{call("glLineWidth", {3})} + axes_calls() +
           box_calls(small_mesh_box) + std::vector<GlCall>{call("glLineWidth", {2})};
}

const std::vector<GlCall> lighting_off{call("glDisable", {GL_LIGHTING}), call("glDisable", {GL_LIGHT0})};
const std::vector<GlCall> lighting_on{call("glEnable", {GL_LIGHTING}), call("glEnable", {GL_LIGHT0})};
const std::vector<GlCall> frame_end{call("glFlush"), call("glutSwapBuffers")};

std::vector<GlCall> wireframe_of_small_mesh()
{
    const GlCall a = call("glVertex3f", {f01, 0, 0}), b = call("glVertex3f", {1, 0, 0}),
                 c = call("glVertex3f", {0, 1, f03});
    const GlCall begin = call("glBegin", {GL_LINES}), red = call("glColor3f", {1, 0, 0});
    return {begin, red, a, b, b, c, c, a, call("glEnd"),
            begin, red, c, b, b, a, a, c, call("glEnd")};
}

std::vector<GlCall> shaded_small_mesh(GLenum shade_model)
{
    const std::vector<GlCall> a{call("glNormal3f", {0, 0, 1}), call("glVertex3f", {f01, 0, 0})};
    const std::vector<GlCall> b{call("glNormal3f", {0, 1, 0}), call("glVertex3f", {1, 0, 0})};
    const std::vector<GlCall> c{call("glNormal3f", {1, 0, 0}), call("glVertex3f", {0, 1, f03})};
    const std::vector<GlCall> begin{call("glBegin", {GL_TRIANGLES}), call("glColor3f", {1, 0, 0})};
    const std::vector<GlCall> end{call("glEnd")};
    return std::vector<GlCall>{call("glShadeModel", {double(shade_model)})} + begin + a + b + c +
           end + begin + c + b + a + end;
}

struct FrameCase {
    const char* name;
    int display_mode, projection, lighting;
    std::vector<GlCall> expected;
};

void PrintTo(const FrameCase& c, std::ostream* out)
{
    *out << c.name;
}

class Display : public testing::TestWithParam<FrameCase> {};

TEST_P(Display, SendsTheWholeFrameInOrder)
{
    const FrameCase& c = GetParam();
    reset_program_state(small_mesh());
    viewer_state.display_mode = c.display_mode;
    viewer_state.projection = c.projection;
    viewer_state.lighting = c.lighting;
    display();
    EXPECT_EQ(gl_recorder.calls, c.expected);
}

const GlCall no_projection{};

INSTANTIATE_TEST_SUITE_P(Frames, Display, testing::Values(
    FrameCase{"initial_state", 0, 0, 0,
              frame_start(perspective) + all_guides() + lighting_off + wireframe_of_small_mesh() + frame_end},
    FrameCase{"flat", 1, 0, 0,
              frame_start(perspective) + all_guides() + lighting_off + shaded_small_mesh(GL_FLAT) + frame_end},
    FrameCase{"smooth", 2, 0, 0,
              frame_start(perspective) + all_guides() + lighting_off + shaded_small_mesh(GL_SMOOTH) + frame_end},
    FrameCase{"orthogonal", 0, 1, 0,
              frame_start(orthogonal) + all_guides() + lighting_off + wireframe_of_small_mesh() + frame_end},
    FrameCase{"lit_smooth", 2, 0, 1,
              frame_start(perspective) + all_guides() + lighting_on + shaded_small_mesh(GL_SMOOTH) + frame_end},
    FrameCase{"lit_wireframe", 0, 0, 1,
              frame_start(perspective) + all_guides() + lighting_on + wireframe_of_small_mesh() + frame_end},
    // Codes outside the listed ones select nothing.
    FrameCase{"unknown_codes", 3, 2, 2,
              frame_start(no_projection) + all_guides() + frame_end}));

TEST(Display, SendsTheViewTransformFromTheState)
{
    reset_program_state();
    viewer_state.rot_x = 12.5f;
    viewer_state.rot_y = -170.25f;
    viewer_state.rot_z = 3;
    viewer_state.zoom = 0.75f;
    viewer_state.pan_x = 0.5f;
    viewer_state.pan_y = -2;
    viewer_state.pan_z = 0.01f;
    display();
    const std::vector<GlCall> expected =
        camera_and_model(12.5f, -170.25f, 3, 0.75f) +
        std::vector<GlCall>{call("glTranslatef", {0.5, -2, double(0.01f)})};
    const std::vector<GlCall>& calls = gl_recorder.calls;
    ASSERT_GE(calls.size(), 5 + expected.size());
    EXPECT_EQ(std::vector<GlCall>(calls.begin() + 5, calls.begin() + 5 + long(expected.size())), expected);
}

TEST(Display, DrawsNoMeshFromFacesThatAllNameMissingVertices)
{
    MeshStore mesh;
    mesh.vertices = {{0, 0, 0, 0, 0, 1}};
    mesh.faces = {{0, 0, 1}, {-1, 0, 0}, {0, 2147483646, 0}, {-2147483647 - 1, 0, 0}};
    for (int style : {0, 1, 2}) {
        reset_program_state(mesh);
        viewer_state.display_mode = style;
        display();
        EXPECT_TRUE(calls_named("glVertex3f").size() == 6) << "only the axes' vertices, style " << style;
        EXPECT_TRUE(calls_named("glNormal3f").empty()) << style;
    }
}

// A number beyond single precision reads as infinity: a face through such a vertex is left out
// like one through a missing vertex, and the box spans the finite vertices alone.
TEST(Display, LeavesOutFacesThroughNonFiniteVerticesAndKeepsThemOutOfTheBox)
{
    const double inf = HUGE_VAL;
    MeshStore mesh = small_mesh();
    mesh.vertices.push_back({inf, 0, 0, 0, 0, 1});
    mesh.vertices.push_back({0, -inf, 5, 0, 0, 1});
    mesh.faces = {{0, 1, 2}, {0, 1, 3}, {4, 1, 0}, {2, 1, 0}};
    const struct {
        int style;
        std::vector<GlCall> mesh_calls;
    } cases[] = {{0, wireframe_of_small_mesh()}, {1, shaded_small_mesh(GL_FLAT)}, {2, shaded_small_mesh(GL_SMOOTH)}};
    for (const auto& c : cases) {
        reset_program_state(mesh);
        viewer_state.display_mode = c.style;
        display();
        EXPECT_EQ(gl_recorder.calls, frame_start(perspective) + all_guides() + lighting_off + c.mesh_calls + frame_end)
            << "style " << c.style;
    }
}

} // namespace
