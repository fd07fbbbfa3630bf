// Family benchmark: olvanta-convert on the bench mesh written the way most of the family's files
// are, without normal parts (1,000,000 vertices, 2,000,000 faces), against the plain fgetc/fscanf
// loop reading the original file, in one run, interleaved; then on big polygons and a crease,
// each beside its twin of plain triangles over the same vertices.
//
//   build/family-bench [CONVERTER]     (default: the olvanta-convert built beside it)
//
// Prints for each: the median wall time of five runs (three for the polygons and the crease);
// for the converter on the bench mesh also the peak resident memory of its processes, and the
// ratio of the baseline's time to the converter's. The converter writes the bench mesh twice:
// into /dev/null, which is its own work, and into a file beside the mesh, which adds the disk's
// time for 151 MB and the sync that makes replacing a file safe. The polygons and the crease go
// into /dev/null; a conversion that fails is timed once and said to fail.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_figures.h"
#include "fscanf_reader.h"

namespace {

const int runs = 5;

std::string built(const char* name)
{
    return std::string(OLVANTA_BUILD_DIR) + "/" + name;
}

// The bench mesh as load-bench makes it, and the same without its normal parts.
bool make_meshes(const std::string& original, const std::string& raw)
{
    if (access(original.c_str(), R_OK) != 0 &&
        std::system((std::string(OLVANTA_GENERATOR) + " 1000 1000 > '" + original + "'").c_str()) != 0)
        return false;
    if (access(raw.c_str(), R_OK) == 0)
        return true;
    std::ifstream in(original);
    std::ofstream out(raw);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t normal = line.find(" {normal=(");
        out << line.substr(0, normal) << '\n';
    }
    return bool(out);
}

double seconds_of_fscanf_loop(const std::string& path, std::size_t& vertices)
{
    const auto start = std::chrono::steady_clock::now();
    std::FILE* in = std::fopen(path.c_str(), "r");
    if (!in)
        return -1;
    const MeshStore mesh = fscanf_read_stream(in);
    std::fclose(in);
    vertices = mesh.vertices.size();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Wall time of the converter, and the peak resident memory of it and its child, in MiB.
double seconds_of_conversion(const std::string& converter, const std::string& raw, const char* out, double& peak_mib)
{
    std::fflush(nullptr); // the child would write out what is waiting in the buffers again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execl(converter.c_str(), converter.c_str(), raw.c_str(), out, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peak_mib = double(usage.ru_maxrss) / 1024.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

// The family's big shapes: each file beside its twin, the same vertices cut into plain triangles.
struct Shape {
    std::string description, file, twin_file;
};

void write_vertices(std::FILE* out, const std::vector<std::array<double, 3>>& points)
{
    for (std::size_t i = 0; i < points.size(); ++i)
        std::fprintf(out, "Vertex %zu %.9g %.9g %.9g\n", i + 1, points[i][0], points[i][1], points[i][2]);
}

// One face of all the points in order, and its twin: a fan of triangles from the first point.
bool write_polygon_and_twin(const std::vector<std::array<double, 3>>& points, const std::string& file,
                            const std::string& twin_file)
{
    std::FILE* polygon = std::fopen(file.c_str(), "w");
    std::FILE* twin = std::fopen(twin_file.c_str(), "w");
    if (!polygon || !twin)
        return false;
    write_vertices(polygon, points);
    write_vertices(twin, points);
    std::fprintf(polygon, "Face 1");
    for (std::size_t i = 1; i <= points.size(); ++i)
        std::fprintf(polygon, " %zu", i);
    std::fprintf(polygon, "\n");
    for (std::size_t i = 2; i < points.size(); ++i)
        std::fprintf(twin, "Face %zu 1 %zu %zu\n", i - 1, i, i + 1);
    return std::fclose(polygon) == 0 && std::fclose(twin) == 0;
}

std::vector<std::array<double, 3>> convex(int corners)
{
    std::vector<std::array<double, 3>> points;
    for (int i = 0; i < corners; ++i)
        points.push_back({1000 * std::cos(2 * M_PI * i / corners), 1000 * std::sin(2 * M_PI * i / corners), 0});
    return points;
}

// Teeth one unit wide and two deep, every other gap between them.
std::vector<std::array<double, 3>> comb(int teeth)
{
    std::vector<std::array<double, 3>> points{{0, 0, 0}, {2.0 * teeth - 1, 0, 0}};
    for (int t = teeth - 1; t >= 0; --t) {
        points.push_back({2.0 * t + 1, 3, 0});
        points.push_back({2.0 * t, 3, 0});
        if (t > 0) {
            points.push_back({2.0 * t, 1, 0});
            points.push_back({2.0 * t - 1, 1, 0});
        }
    }
    return points;
}

std::vector<std::array<double, 3>> star(int spikes)
{
    std::vector<std::array<double, 3>> points;
    for (int i = 0; i < 2 * spikes; ++i) {
        const double angle = M_PI * i / spikes, radius = i % 2 ? 1000.0 : 3000.0;
        points.push_back({radius * std::cos(angle), radius * std::sin(angle), 0});
    }
    return points;
}

// A low cone of triangles around vertex 1, and its twin: the same with one sharp edge at the tip.
bool write_fan_and_crease(int triangles, const std::string& crease_file, const std::string& fan_file)
{
    std::FILE* crease = std::fopen(crease_file.c_str(), "w");
    std::FILE* fan = std::fopen(fan_file.c_str(), "w");
    if (!crease || !fan)
        return false;
    for (std::FILE* out : {crease, fan}) {
        std::fprintf(out, "Vertex 1 0 0 100\n");
        for (int i = 0; i < triangles; ++i)
            std::fprintf(out, "Vertex %d %.9g %.9g 0\n", i + 2, 1000 * std::cos(2 * M_PI * i / triangles),
                         1000 * std::sin(2 * M_PI * i / triangles));
        for (int i = 0; i < triangles; ++i)
            std::fprintf(out, "Face %d 1 %d %d\n", i + 1, i + 2, (i + 1) % triangles + 2);
    }
    std::fprintf(crease, "Edge 1 2 {sharp}\n");
    return std::fclose(crease) == 0 && std::fclose(fan) == 0;
}

bool make_shapes(std::vector<Shape>& shapes)
{
    const std::string dir = std::string(OLVANTA_BUILD_DIR) + "/";
    shapes = {{"a convex polygon of 1,000,000 corners", dir + "bench-convex.m", dir + "bench-convex-triangles.m"},
              {"a comb of 100,000 corners", dir + "bench-comb.m", dir + "bench-comb-triangles.m"},
              {"a star of 100,000 corners", dir + "bench-star.m", dir + "bench-star-triangles.m"},
              {"a fan of 1,000,000 triangles with one sharp edge", dir + "bench-crease.m", dir + "bench-fan.m"}};
    const auto missing = [](const Shape& shape) {
        return access(shape.file.c_str(), R_OK) != 0 || access(shape.twin_file.c_str(), R_OK) != 0;
    };
    return (!missing(shapes[0]) || write_polygon_and_twin(convex(1000000), shapes[0].file, shapes[0].twin_file)) &&
           (!missing(shapes[1]) || write_polygon_and_twin(comb(25000), shapes[1].file, shapes[1].twin_file)) &&
           (!missing(shapes[2]) || write_polygon_and_twin(star(50000), shapes[2].file, shapes[2].twin_file)) &&
           (!missing(shapes[3]) || write_fan_and_crease(1000000, shapes[3].file, shapes[3].twin_file));
}

// The median of three conversions into /dev/null, or the one that failed, negated.
double seconds_of_shape(const std::string& converter, const std::string& file)
{
    std::vector<double> times;
    for (int run = 0; run < 3; ++run) {
        double peak = 0;
        const auto start = std::chrono::steady_clock::now();
        const double seconds = seconds_of_conversion(converter, file, "/dev/null", peak);
        if (seconds < 0)
            return -std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        times.push_back(seconds);
    }
    return median(times);
}

void measure_shapes(const std::string& converter, const std::vector<Shape>& shapes)
{
    std::printf("olvanta-convert into /dev/null, each shape beside the same vertices as plain triangles:\n");
    for (const Shape& shape : shapes) {
        const double twin = seconds_of_shape(converter, shape.twin_file);
        const double seconds = seconds_of_shape(converter, shape.file);
        if (seconds < 0 || twin < 0) {
            std::printf("  %s: %s after %.3f s; as triangles: %s after %.3f s\n", shape.description.c_str(),
                        seconds < 0 ? "failed" : "done", std::fabs(seconds), twin < 0 ? "failed" : "done", std::fabs(twin));
            continue;
        }
        std::printf("  %s: %.3f s; as triangles: %.3f s; %.2f x the triangles' time\n", shape.description.c_str(),
                    seconds, twin, seconds / twin);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::string converter = argc > 1 ? argv[1] : OLVANTA_CONVERTER;
    const std::string original = built("bench-torus.txt"), raw = built("bench-raw.m"), out = built("bench-raw.txt");
    if (!make_meshes(original, raw)) {
        std::fprintf(stderr, "family-bench: cannot make the bench meshes in %s\n", OLVANTA_BUILD_DIR);
        return 1;
    }
    std::vector<double> baseline, to_null, to_file, peaks;
    std::size_t vertices = 0;
    for (int run = 0; run < runs; ++run) {
        baseline.push_back(seconds_of_fscanf_loop(original, vertices));
        double peak = 0;
        to_null.push_back(seconds_of_conversion(converter, raw, "/dev/null", peak));
        peaks.push_back(peak);
        to_file.push_back(seconds_of_conversion(converter, raw, out.c_str(), peak));
        peaks.push_back(peak);
    }
    if (std::min(*std::min_element(to_null.begin(), to_null.end()), *std::min_element(to_file.begin(), to_file.end())) < 0) {
        std::fprintf(stderr, "family-bench: the converter failed on %s\n", raw.c_str());
        return 1;
    }
    const double fscanf_loop = median(baseline);
    std::printf("fscanf loop reading %s (%zu vertices): %.3f s\n", original.c_str(), vertices, fscanf_loop);
    std::printf("olvanta-convert %s (no normal parts), peak resident %.1f MiB:\n", raw.c_str(),
                *std::max_element(peaks.begin(), peaks.end()));
    std::printf("  into /dev/null: %.3f s, %.2f x faster than the fscanf loop\n", median(to_null),
                fscanf_loop / median(to_null));
    std::printf("  into %s, synced: %.3f s, %.2f x faster than the fscanf loop\n", out.c_str(), median(to_file),
                fscanf_loop / median(to_file));
    std::vector<Shape> shapes;
    if (!make_shapes(shapes)) {
        std::fprintf(stderr, "family-bench: cannot make the big shapes in %s\n", OLVANTA_BUILD_DIR);
        return 1;
    }
    measure_shapes(converter, shapes);
    return 0;
}
