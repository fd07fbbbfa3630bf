// The real program's start-up and first frame, checked on its console and its pixels.
#include <cmath>

#include "real_viewer.h"

namespace {

struct Pixel {
    int x, y;
};

// Where a model point lands in the first frame: turned 45 degrees about Z, then -65 about X,
// seen in perspective (60 degrees, aspect 1) from 5 units away on a 650 pixel window.
Pixel initial_view_pixel(double x, double y, double z)
{
    const double degree = std::acos(-1.0) / 180;
    const double cz = std::cos(45 * degree), sz = std::sin(45 * degree);
    const double cx = std::cos(-65 * degree), sx = std::sin(-65 * degree);
    const double x1 = cz * x - sz * y, y1 = sz * x + cz * y, z1 = z;
    const double y2 = cx * y1 - sx * z1, z2 = sx * y1 + cx * z1;
    const double distance = 5 - z2;
    const double focal = 1 / std::tan(30 * degree);
    return {int(std::lround((focal * x1 / distance + 1) * 325)),
            int(std::lround((1 - focal * y2 / distance) * 325))};
}

TEST_F(RealViewer, ShowsTheDialogueAndTheMeshAsARedWireframe)
{
    const std::string mesh = make_torus_file(1.0, 0.35, 24, 12);
    open_viewer(mesh);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, window, &attributes);
    EXPECT_EQ(attributes.width, 650);
    EXPECT_EQ(attributes.height, 650);
    EXPECT_EQ(read_whole_file(run.out_path), dialogue);
    EXPECT_EQ(read_whole_file(run.err_path), "");
    for (const Pixel corner : {Pixel{6, 6}, Pixel{643, 6}, Pixel{6, 150}, Pixel{643, 150}})
        EXPECT_TRUE(near_colour(first.at(corner.x, corner.y), background, 2)) << corner.x << "," << corner.y;
    EXPECT_GT(count_colour(first, mesh_red), 5000);
    const Pixel near_rim = initial_view_pixel(-1.35, 0, 0);
    EXPECT_TRUE(colour_near(first, near_rim.x, near_rim.y, mesh_red, 3));
    const Pixel outside = initial_view_pixel(1.5, -1.5, 0);
    EXPECT_FALSE(colour_near(first, outside.x, outside.y, mesh_red, 3)) << "outside the torus";
    if (HasFailure())
        save_ppm(first, "/tmp/olvanta-first-frame.ppm");
    unlink(mesh.c_str());
}

// A small triangle near one corner of the box and a lone vertex at the other, so every
// guide has pixels of its own.
const char* const corner_mesh =
    "Vertex 1 1.1 1.1 1.2 {normal=(0 0 1)}\n"
    "Vertex 2 1.3 1.1 1.2 {normal=(0 0 1)}\n"
    "Vertex 3 1.1 1.3 1.2 {normal=(0 0 1)}\n"
    "Vertex 4 -1.2 -1.2 0.5 {normal=(0 0 1)}\n"
    "Face 1 1 2 3\n";

struct Probe {
    const char* what;
    double x, y, z;
    Rgb colour;
};

TEST_F(RealViewer, DrawsGridAxesAndBoxWhereTheModelPutsThem)
{
    const std::string mesh = write_temporary_file(corner_mesh);
    open_viewer(mesh);
    const Probe probes[] = {
        {"grid line x = 2", 2, 2.25, 0, grid_grey},
        {"grid line y = -2.5", -1.25, -2.5, 0, grid_grey},
        {"X axis", 0.7, 0, 0, axis_blue},
        {"Y axis", 0, 0.7, 0, axis_green},
        {"Z axis", 0, 0, 0.7, axis_yellow},
        {"box edge 1", 0.05, -1.2, 0.5, box_blue},
        {"box edge 5", -1.2, 0.05, 0.5, box_blue},
        {"box edge 6", -1.2, 1.3, 0.85, box_blue},
        {"box edge 8", 0.05, 1.3, 1.2, box_blue},
        {"triangle edge", 1.2, 1.1, 1.2, mesh_red},
    };
    for (const Probe& p : probes) {
        const Pixel at = initial_view_pixel(p.x, p.y, p.z);
        EXPECT_TRUE(colour_near(first, at.x, at.y, p.colour)) << p.what << " at " << at.x << "," << at.y;
    }
    const Pixel open_floor = initial_view_pixel(2.25, 2.75, 0);
    EXPECT_TRUE(near_colour(first.at(open_floor.x, open_floor.y), background, 2))
        << "between grid lines the background shows";
    if (HasFailure())
        save_ppm(first, "/tmp/olvanta-guides.ppm");
    unlink(mesh.c_str());
}

TEST_F(RealViewer, OpensAWindowWithoutMeshWhenTheFileCannotBeOpened)
{
    open_viewer("/nonexistent/mesh.txt");
    EXPECT_EQ(read_whole_file(run.out_path), dialogue);
    EXPECT_EQ(read_whole_file(run.err_path),
              "olvanta: cannot open '/nonexistent/mesh.txt': No such file or directory\n");
    EXPECT_EQ(count_colour(first, mesh_red), 0);
    EXPECT_EQ(count_colour(first, box_blue, 10), 0) << "no box for an empty mesh";
    EXPECT_GT(count_colour(first, grid_grey, 3), 1000);
    EXPECT_GT(count_colour(first, axis_yellow, 10), 20);
}

TEST_F(RealViewer, EndOfInputBeforeAFileNameExitsWithStatusOneAndNoWindow)
{
    run = launch_viewer(server.display_name, "");
    EXPECT_EQ(wait_for_exit(run.pid, 10000), 1);
    run.pid = -1;
    EXPECT_EQ(read_whole_file(run.out_path), banner_and_prompt);
    EXPECT_EQ(read_whole_file(run.err_path), "olvanta: no file name: standard input ended\n");
    EXPECT_EQ(find_window(display, "Olvanta", 200), 0u);
}

} // namespace
