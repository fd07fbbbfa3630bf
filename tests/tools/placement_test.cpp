// Turning a model up, fitting it into the first view, and the hint for models that show badly.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "placement.h"

namespace {

using Vec = std::array<double, 3>;

Vec sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec cross(const Vec& a, const Vec& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// The meshes here give every corner a vertex of its own: corner i of the list is vertex i.
Vec position(const ConvertedMesh& m, std::size_t corner)
{
    const float* p = m.vertices[std::size_t(m.corner_vertices[corner])].position;
    return {p[0], p[1], p[2]};
}

Vec normal(const ConvertedMesh& m, std::size_t corner)
{
    const float* n = m.vertices[std::size_t(m.corner_vertices[corner])].normal;
    return {n[0], n[1], n[2]};
}

void add_corner(ConvertedMesh& m, const Vec& p, const Vec& n)
{
    ConvertedVertex v{};
    for (int k = 0; k < 3; ++k) {
        v.position[k] = float(p[k]);
        v.normal[k] = float(n[k]);
    }
    m.corner_vertices.push_back(int(m.vertices.size()));
    m.vertices.push_back(v);
}

std::size_t triangle_count(const ConvertedMesh& m)
{
    return m.corner_vertices.size() / 3;
}

// A tetrahedron with arms of three lengths along X, Y and Z, so no turn can pass for another;
// every face wound counter-clockwise seen from outside. Each corner's normal is its own
// direction from the centre, so the normals turn visibly too.
const Vec origin{0, 0, 0}, arm_x{1, 0, 0}, arm_y{0, 2, 0}, arm_z{0, 0, 3};

ConvertedMesh tetrahedron()
{
    const Vec centre{0.25, 0.5, 0.75};
    ConvertedMesh m;
    for (const Vec& p : {origin, arm_y, arm_x, origin, arm_x, arm_z, origin, arm_z, arm_y, arm_x, arm_y, arm_z})
        add_corner(m, p, sub(p, centre));
    return m;
}

// Each face's normal by its winding points away from the model's centre: seen from outside.
bool wound_outward(const ConvertedMesh& m)
{
    Vec centre{0, 0, 0};
    for (std::size_t c = 0; c < m.corner_vertices.size(); ++c)
        for (int k = 0; k < 3; ++k)
            centre[k] += position(m, c)[k] / double(m.corner_vertices.size());
    for (std::size_t t = 0; t < triangle_count(m); ++t) {
        const Vec a = position(m, 3 * t), b = position(m, 3 * t + 1), c = position(m, 3 * t + 2);
        if (dot(cross(sub(b, a), sub(c, a)), sub(a, centre)) <= 0)
            return false;
    }
    return true;
}

struct TurnCase {
    const char* axis;
    Vec x_goes_to, y_goes_to, z_goes_to; // where the three arms end up
};

Vec image_of(const ConvertedMesh& turned, const ConvertedMesh& original, const Vec& p)
{
    for (std::size_t c = 0; c < original.corner_vertices.size(); ++c)
        if (position(original, c) == p)
            return position(turned, c);
    return {NAN, NAN, NAN};
}

TEST(TurnUp, TakesTheNamedAxisUpByARotationThatKeepsWindingAndTurnsNormals)
{
    // The named axis's arm ends up along +Z; the turn is a rotation, never a mirror.
    const TurnCase cases[] = {
        {"z", {1, 0, 0}, {0, 2, 0}, {0, 0, 3}},  {"y", {1, 0, 0}, {0, 0, 2}, {0, -3, 0}},
        {"-y", {1, 0, 0}, {0, 0, -2}, {0, 3, 0}}, {"-z", {1, 0, 0}, {0, -2, 0}, {0, 0, -3}},
        {"x", {0, 0, 1}, {0, 2, 0}, {-3, 0, 0}},  {"-x", {0, 0, -1}, {0, 2, 0}, {3, 0, 0}},
    };
    for (const TurnCase& c : cases) {
        UpAxis up;
        ASSERT_TRUE(parse_up_axis(c.axis, up)) << c.axis;
        const ConvertedMesh original = tetrahedron();
        ConvertedMesh turned = original;
        turn_up(turned, up);
        EXPECT_EQ(image_of(turned, original, arm_x), c.x_goes_to) << c.axis;
        EXPECT_EQ(image_of(turned, original, arm_y), c.y_goes_to) << c.axis;
        EXPECT_EQ(image_of(turned, original, arm_z), c.z_goes_to) << c.axis;
        EXPECT_EQ(image_of(turned, original, origin), origin) << c.axis;
        EXPECT_TRUE(wound_outward(turned)) << c.axis << ": winding seen from outside is kept";
        // A normal keeps its angle to every edge: it turned with the positions.
        for (std::size_t t = 0; t < triangle_count(turned); ++t)
            for (std::size_t k = 0; k < 3; ++k) {
                const std::size_t here = 3 * t + k, next = 3 * t + (k + 1) % 3;
                const Vec edge_before = sub(position(original, next), position(original, here));
                const Vec edge_after = sub(position(turned, next), position(turned, here));
                EXPECT_EQ(dot(normal(turned, here), edge_after), dot(normal(original, here), edge_before)) << c.axis;
                EXPECT_EQ(dot(normal(turned, here), normal(turned, here)), dot(normal(original, here), normal(original, here)));
            }
    }
}

TEST(TurnUp, ReadsOnlyTheSixAxes)
{
    UpAxis up;
    for (const char* wrong : {"", "X", "+y", "yz", "-", "up", "z "})
        EXPECT_FALSE(parse_up_axis(wrong, up)) << "'" << wrong << "'";
}

ConvertedMesh triangles_through(const std::vector<Vec>& points)
{
    ConvertedMesh m;
    for (const Vec& p : points)
        add_corner(m, p, {0, 0, 1});
    return m;
}

struct FitCase {
    const char* name;
    std::vector<Vec> points;
    Vec size; // of the fitted bounding box
};

TEST(FitIntoView, CentresTheBoxOnTheOriginWithItsLargestSideTwoAndAHalf)
{
    const FitCase cases[] = {
        {"millimetres_far_away", {{500, 0, 300}, {540, 120, 300}, {500, 0, 320}}, {40 / 48.0, 2.5, 20 / 48.0}},
        {"tiny", {{0.001, 0.002, 0}, {0.003, 0.002, 0.004}, {0.001, 0.010, 0.002}}, {0.625, 2.5, 1.25}},
        {"flat", {{-7, 3, 2}, {13, 3, 2}, {-7, 8, 2}}, {2.5, 0.625, 0}},
        {"one_point", {{4, -5, 6}, {4, -5, 6}, {4, -5, 6}}, {0, 0, 0}},
    };
    for (const FitCase& c : cases) {
        ConvertedMesh triangles = triangles_through(c.points);
        fit_into_view(triangles);
        const Bounds b = bounds_of(triangles);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(b.min[k] + b.max[k], 0, 1e-6) << c.name << ": centred on axis " << k;
            EXPECT_NEAR(b.max[k] - b.min[k], c.size[k], 1e-6) << c.name << ": side " << k;
        }
        for (std::size_t corner = 0; corner < triangles.corner_vertices.size(); ++corner)
            EXPECT_EQ(normal(triangles, corner), (Vec{0, 0, 1})) << c.name << ": normals stay";
    }
}

struct HintCase {
    const char* name;
    Bounds bounds;
    bool hinted;
};

TEST(ViewHint, NamesFitForModelsTooLargeTooSmallOrTooFarAway)
{
    const HintCase cases[] = {
        {"like_the_torus", {{-1.35, -1.35, -0.35}, {1.35, 1.35, 0.35}}, false},
        {"fifty_across", {{-25, 0, 0}, {25, 1, 1}}, false},
        {"more_than_fifty", {{-25.5, 0, 0}, {25.5, 1, 1}}, true},
        {"a_twentieth_across", {{0, 0, 0}, {0.05, 0.01, 0.01}}, false},
        {"less_than_a_twentieth", {{0, 0, 0}, {0.049, 0.01, 0.01}}, true},
        {"one_point", {{1, 1, 1}, {1, 1, 1}}, true},
        {"centre_ten_away", {{5, 7, 0}, {7, 9, 0}}, false},
        {"centre_beyond_ten", {{9, 0, 0}, {11.2, 1, 0}}, true},
        {"centre_beyond_ten_below", {{-1, -1, -12}, {1, 1, -10}}, true},
    };
    for (const HintCase& c : cases) {
        const std::string hint = view_hint(c.bounds);
        EXPECT_EQ(!hint.empty(), c.hinted) << c.name << ": " << hint;
        if (c.hinted) {
            EXPECT_EQ(hint.rfind("hint: ", 0), 0u) << hint;
            EXPECT_NE(hint.find("--fit"), std::string::npos) << hint;
        }
    }
}

} // namespace
