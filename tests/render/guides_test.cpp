// The guides: each routine's exact stream, and which of them a frame draws.
#include <gtest/gtest.h>

#include <cmath>

#include "frame_helpers.h"
#include "render/display.h"
#include "render/guides.h"

namespace {

MeshStore mesh_of(std::vector<Vertex> vertices)
{
    MeshStore mesh;
    mesh.vertices = std::move(vertices);
    return mesh;
}

TEST(DrawGround, SendsEightyTwoGreyLinesInTheZZeroPlane)
{
    reset_program_state();
    draw_ground();
    EXPECT_EQ(gl_recorder.calls, ground_calls());
    EXPECT_EQ(calls_named("glVertex2f").size(), 164u);
    EXPECT_EQ(gl_recorder.calls[4], call("glVertex2f", {-9.5, -10}));
    EXPECT_EQ(gl_recorder.calls[85], call("glVertex2f", {10, -10}));
}

TEST(DrawAxes, SendsTheThreeUnitAxesInOnePair)
{
    reset_program_state();
    draw_axes();
    EXPECT_EQ(gl_recorder.calls, axes_calls());
}

struct BoxCase {
    const char* name;
    std::vector<Vertex> vertices;
    Box box;
};

void PrintTo(const BoxCase& c, std::ostream* out)
{
    *out << c.name;
}

class DrawBoundingBox : public testing::TestWithParam<BoxCase> {};

TEST_P(DrawBoundingBox, SpansTheVertexPositions)
{
    reset_program_state(mesh_of(GetParam().vertices));
    draw_bounding_box();
    EXPECT_EQ(gl_recorder.calls, box_calls(GetParam().box));
}

// Normals play no part; the positions are doubles and go out as doubles.
INSTANTIATE_TEST_SUITE_P(Extents, DrawBoundingBox, testing::Values(
    BoxCase{"spread", {{1, -2, 3, 100, 100, 100}, {-0.1, 5, 2.5, -100, 0, 0}, {0.5, 0, 7, 0, 0, 0}},
            {-0.1, -2, 2.5, 1, 5, 7}},
    BoxCase{"one_vertex_collapses", {{0.25, -3, 8, 0, 0, 1}}, {0.25, -3, 8, 0.25, -3, 8}},
    BoxCase{"flat_mesh", {{0, 0, 2, 0, 0, 1}, {4, 1, 2, 0, 0, 1}, {-1, 3, 2, 0, 0, 1}},
            {-1, 0, 2, 4, 3, 2}},
    BoxCase{"huge_values", {{1e300, -1e300, 0, 0, 0, 0}, {-1e300, 1e300, 0, 0, 0, 0}},
            {-1e300, -1e300, 0, 1e300, 1e300, 0}},
    BoxCase{"non_finite_vertices_left_out",
            {{HUGE_VAL, 9, 9, 0, 0, 1}, {1, 2, 3, 0, 0, 1}, {9, -HUGE_VAL, 9, 0, 0, 1}, {-1, -2, -3, 0, 0, 1},
             {9, 9, -HUGE_VAL, 0, 0, 1}},
            {-1, -2, -3, 1, 2, 3}}));

TEST(DrawBoundingBox, FlatMeshHasZeroLengthEdgesAlongZ)
{
    reset_program_state(mesh_of({{0, 0, 2, 0, 0, 1}, {4, 1, 2, 0, 0, 1}}));
    draw_bounding_box();
    const std::vector<GlCall> v = calls_named("glVertex3d");
    ASSERT_EQ(v.size(), 24u);
    for (int edge = 1; edge <= 12; ++edge) {
        const bool zero_length = v[2 * (edge - 1)] == v[2 * (edge - 1) + 1];
        EXPECT_EQ(zero_length, edge == 2 || edge == 4 || edge == 6 || edge == 10) << "edge " << edge;
    }
}

TEST(DrawBoundingBox, DrawsNothingForAnEmptyMesh)
{
    reset_program_state();
    draw_bounding_box();
    EXPECT_TRUE(gl_recorder.calls.empty());
}

TEST(DrawBoundingBox, DrawsNothingWhenNoVertexIsFinite)
{
    reset_program_state(mesh_of({{HUGE_VAL, 0, 0, 0, 0, 1}, {0, 0, -HUGE_VAL, 0, 0, 1}}));
    draw_bounding_box();
    EXPECT_TRUE(gl_recorder.calls.empty());
}

struct FlagCase {
    int show_ground, show_axes, show_bounding_box;
    bool ground, axes, box;
};

class GuideFlags : public testing::TestWithParam<FlagCase> {};

// Each guide appears exactly when its flag is 1; the wireframe always gets width 2.
TEST_P(GuideFlags, DrawOnlyTheGuidesWhoseFlagIsOne)
{
    const FlagCase& c = GetParam();
    MeshStore mesh = mesh_of({{0, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 0, 1}, {0, 1, 0, 0, 0, 1}});
    mesh.faces = {{0, 1, 2}};
    reset_program_state(mesh);
    viewer_state.show_ground = c.show_ground;
    viewer_state.show_axes = c.show_axes;
    viewer_state.show_bounding_box = c.show_bounding_box;
    display();
    EXPECT_EQ(calls_named("glVertex2f").size(), c.ground ? 164u : 0u);
    EXPECT_EQ(calls_named("glVertex3d").size(), c.box ? 24u : 0u);
    EXPECT_EQ(calls_named("glVertex3f").size(), (c.axes ? 6u : 0u) + 6u);
    const std::vector<GlCall>& calls = gl_recorder.calls;
    const auto wireframe = std::find(calls.begin(), calls.end(), call("glColor3f", {1, 0, 0}));
    ASSERT_NE(wireframe, calls.end());
    const auto last_width = std::find_if(std::make_reverse_iterator(wireframe), calls.rend(),
                                         [](const GlCall& g) { return g.name == "glLineWidth"; });
    ASSERT_NE(last_width, calls.rend());
    EXPECT_EQ(*last_width, call("glLineWidth", {2}));
}

INSTANTIATE_TEST_SUITE_P(Flags, GuideFlags, testing::Values(
    FlagCase{1, 1, 1, true, true, true},
    FlagCase{0, 1, 1, false, true, true},
    FlagCase{1, 0, 1, true, false, true},
    FlagCase{1, 1, 0, true, true, false},
    FlagCase{0, 0, 0, false, false, false},
    FlagCase{2, -1, 7, false, false, false}));

TEST(GuideFlags, EmptyMeshStillShowsGridAndAxes)
{
    reset_program_state();
    display();
    EXPECT_EQ(calls_named("glVertex2f").size(), 164u);
    EXPECT_EQ(calls_named("glVertex3f").size(), 6u);
    EXPECT_TRUE(calls_named("glVertex3d").empty());
}

} // namespace
