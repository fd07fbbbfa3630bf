// The thumbnailer's parts without a GL context: its command line, the view that fits a mesh into
// the square, and the shrinking of the picture drawn at twice the size.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "thumbnail_options.h"
#include "thumbnail_picture.h"
#include "thumbnail_view.h"
#include "app/viewer_state.h"

namespace {

bool parse(std::vector<std::string> words, ThumbnailOptions& options, std::string& complaint)
{
    words.insert(words.begin(), "olvanta-thumbnail");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    return parse_thumbnail_options(int(argv.size()), argv.data(), options, complaint);
}

TEST(ThumbnailOptions, TakeWhatHostsWriteAndNameWhatIsWrong)
{
    const struct {
        std::vector<std::string> words;
        int size;          // 0: refused
        const char* input; // or the complaint
    } cases[] = {
        {{"-s", "128", "in.m", "out.png"}, 128, "in.m"},
        {{"--size", "1024", "in.m", "out.png"}, 1024, "in.m"},
        {{"--size=16", "in.m", "out.png"}, 16, "in.m"},
        {{"-s", "2048", "in.m", "out.png"}, 2048, "in.m"},
        {{"in.m", "out.png"}, 256, "in.m"},
        {{"-s", "256", "--", "-odd.m", "out.png"}, 256, "-odd.m"},
        {{"-s", "15", "in.m", "out.png"}, 0, "--size: '15' is not a whole number of pixels from 16 to 2048"},
        {{"-s", "2049", "in.m", "out.png"}, 0, "--size: '2049' is not a whole number of pixels from 16 to 2048"},
        {{"-s", "12x", "in.m", "out.png"}, 0, "--size: '12x' is not a whole number of pixels from 16 to 2048"},
        {{"-s", "99999999999999999999", "in.m", "out.png"}, 0,
         "--size: '99999999999999999999' is not a whole number of pixels from 16 to 2048"},
        {{"in.m", "out.png", "-s"}, 0, "-s needs a value"},
        {{"in.m"}, 0, "MESH and OUT.png are both needed"},
        {{"a.m", "b.png", "c"}, 0, "too many names: 'c'"},
        {{"-x", "a.m", "b.png"}, 0, "unknown option '-x'"},
    };
    for (const auto& c : cases) {
        ThumbnailOptions options;
        std::string complaint;
        const bool taken = parse(c.words, options, complaint);
        EXPECT_EQ(taken, c.size != 0) << c.input;
        if (taken) {
            EXPECT_EQ(options.size, c.size);
            EXPECT_EQ(options.input, c.input);
            EXPECT_EQ(options.output, "out.png");
        } else {
            EXPECT_EQ(complaint, c.input);
        }
    }
}

MeshStore mesh_of(const std::vector<std::vector<double>>& points, const std::vector<Face>& faces)
{
    MeshStore mesh;
    for (const std::vector<double>& p : points)
        mesh.vertices.push_back({p[0], p[1], p[2], 0, 0, 1});
    mesh.faces = faces;
    return mesh;
}

// Where a point lands in the picture, from -1 to 1 across, after the mesh is centred.
void seen_at(const ThumbnailView& view, const Vertex& v, double out[3])
{
    const double p[3] = {v.x - view.centre[0], v.y - view.centre[1], v.z - view.centre[2]};
    for (int i = 0; i < 3; ++i)
        out[i] = view.turn[i * 3] * p[0] + view.turn[i * 3 + 1] * p[1] + view.turn[i * 3 + 2] * p[2];
    out[0] /= view.half_width;
    out[1] /= view.half_width;
}

// Every drawn corner inside the square and the depth range; the wider side reaching the margin.
void expect_fills_the_square(const MeshStore& mesh, const ThumbnailView& view, const char* what)
{
    double widest = 0;
    for (const Face& face : mesh.faces) {
        if (!face_is_drawable(face, mesh.vertices))
            continue;
        for (int corner : {face.v1, face.v2, face.v3}) {
            double p[3];
            seen_at(view, mesh.vertices[std::size_t(corner)], p);
            EXPECT_LE(std::fabs(p[0]), 0.9 + 1e-6) << what;
            EXPECT_LE(std::fabs(p[1]), 0.9 + 1e-6) << what;
            EXPECT_GE(-p[2], view.near_plane) << what;
            EXPECT_LE(-p[2], view.far_plane) << what;
            widest = std::max({widest, std::fabs(p[0]), std::fabs(p[1])});
        }
    }
    EXPECT_NEAR(widest, 0.9, 1e-6) << what;
}

TEST(ThumbnailView, FitsWhatIsDrawnWhateverItsSizeAndPlace)
{
    const std::vector<Face> two = {{0, 1, 2}, {0, 2, 3}};
    const struct {
        const char* what;
        MeshStore mesh;
    } cases[] = {
        {"a unit square", mesh_of({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, two)},
        {"millimetres far from the origin",
         mesh_of({{25000, 25000, 3}, {25000.002, 25000, 3}, {25000.002, 25000.001, 3.001}, {25000, 25000.001, 3}}, two)},
        {"a long thin rod", mesh_of({{0, 0, 0}, {1000, 0, 0}, {1000, 1, 1}, {0, 1, 1}}, two)},
        {"a far vertex no face uses", mesh_of({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1e9, 1e9, 1e9}}, two)},
        {"a face through a missing vertex", mesh_of({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 9}})},
        {"a non-finite vertex", mesh_of({{0, 0, 0}, {1, 0, 1}, {0, 1, 0}, {INFINITY, 0, 0}}, {{0, 1, 2}, {0, 1, 3}})},
    };
    for (const auto& c : cases) {
        const ThumbnailView view = view_of(c.mesh);
        ASSERT_TRUE(view.has_area) << c.what;
        expect_fills_the_square(c.mesh, view, c.what);
    }
}

// glRotate's matrix, by rows, for `degrees` about the unit axis (x, y, z), as its manual page
// writes it: worked out apart from the thumbnailer's own turning, so the check does not share it.
std::vector<double> gl_rotation(double degrees, double x, double y, double z)
{
    const double a = degrees * std::acos(-1.0) / 180, c = std::cos(a), s = std::sin(a), t = 1 - c;
    return {x * x * t + c,     x * y * t - z * s, x * z * t + y * s, y * x * t + z * s, y * y * t + c,
            y * z * t - x * s, x * z * t - y * s, y * z * t + x * s, z * z * t + c};
}

std::vector<double> product(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> p(9, 0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                p[std::size_t(i * 3 + j)] += a[std::size_t(i * 3 + k)] * b[std::size_t(k * 3 + j)];
    return p;
}

// The viewer's display turns about Y, then X, then Z (glRotate each, by its first angles): the
// thumbnail shows the model from the same side.
TEST(ThumbnailView, TurnsTheModelAsTheViewersFirstFrameDoes)
{
    const ViewerState first;
    const std::vector<double> expected =
        product(product(gl_rotation(first.rot_y, 0, 1, 0), gl_rotation(first.rot_x, 1, 0, 0)),
                gl_rotation(first.rot_z, 0, 0, 1));
    const ThumbnailView view = view_of(mesh_of({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}));
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_NEAR(view.turn[i], expected[i], 1e-6) << "row " << i / 3 << ", column " << i % 3;
}

TEST(ThumbnailView, FindsNothingToDrawWithoutAFaceOfArea)
{
    const struct {
        const char* what;
        MeshStore mesh;
    } cases[] = {
        {"no faces", mesh_of({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {})},
        {"faces through missing vertices only", mesh_of({{0, 0, 0}}, {{0, 1, 2}})},
        {"every corner one point", mesh_of({{2, 3, 4}, {2, 3, 4}, {2, 3, 4}}, {{0, 1, 2}})},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(view_of(c.mesh).has_area) << c.what;
}

TEST(ThumbnailView, CentringKeepsTheDetailOfASmallModelFarAway)
{
    MeshStore mesh = mesh_of({{1e6, 1e6, 0}, {1e6 + 0.001, 1e6, 0}, {1e6, 1e6 + 0.001, 0.001}}, {{0, 1, 2}});
    const ThumbnailView view = view_of(mesh);
    centre_mesh(mesh, view);
    for (const Vertex& v : mesh.vertices)
        for (double coordinate : {v.x, v.y, v.z})
            EXPECT_LT(std::fabs(coordinate), 0.001);
    // In single precision, the difference of two corners is still the model's own.
    EXPECT_NEAR(double(float(mesh.vertices[1].x) - float(mesh.vertices[0].x)), 0.001, 1e-9);
}

TEST(ThumbnailPicture, ShrinkingWeighsColoursByTheirCover)
{
    // 4 x 4 pixels into 2 x 2: a full red block, a quarter-covered green one, an empty one, and
    // one half white, half grey.
    RgbaPicture large;
    large.size = 4;
    large.rgba.assign(4 * 4 * 4, 0);
    auto set = [&](int x, int y, unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
        unsigned char* p = &large.rgba[std::size_t(y * 4 + x) * 4];
        p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    };
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            set(x, y, 255, 0, 0, 255);
    set(2, 0, 0, 255, 0, 255);
    set(0, 2, 255, 255, 255, 255), set(1, 2, 255, 255, 255, 255), set(0, 3, 101, 101, 101, 255),
        set(1, 3, 101, 101, 101, 255);
    const RgbaPicture small = shrink(large, 2);
    ASSERT_EQ(small.size, 2);
    const std::vector<unsigned char> expected = {255, 0, 0, 255, 0, 255, 0, 64, 178, 178, 178, 255, 0, 0, 0, 0};
    EXPECT_EQ(small.rgba, expected);
    EXPECT_EQ(covered_pixels(small), 3u);
}

} // namespace
