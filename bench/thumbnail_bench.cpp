// Thumbnail benchmark: olvanta-thumbnail as a file manager runs it, on a small model and on the
// bench mesh (1,000,000 vertices, 2,000,000 faces, 151 MB), in the viewer's form and without
// normal parts (through the converter), at the sizes file managers ask for; runs interleaved.
//
//   build/thumbnail-bench [OTHER-THUMBNAILER]
//
// Prints for each the median wall time of five runs, from start to the picture written, and the
// peak resident memory of the thumbnailer and of its converter. Given another build of the
// thumbnailer (an earlier one, say), runs it too, interleaved with ours, and prints its median
// and the difference beside ours: the machine's noise falls on both alike.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_figures.h"

namespace {

const int runs = 5;

std::string built(const char* name)
{
    return std::string(OLVANTA_BUILD_DIR) + "/" + name;
}

bool make_mesh(const std::string& path, const char* rings_and_sides)
{
    return access(path.c_str(), R_OK) == 0 ||
           std::system((std::string(OLVANTA_GENERATOR) + " " + rings_and_sides + " > '" + path + "'").c_str()) == 0;
}

bool make_raw(const std::string& original, const std::string& raw)
{
    if (access(raw.c_str(), R_OK) == 0)
        return true;
    std::ifstream in(original);
    std::ofstream out(raw);
    for (std::string line; std::getline(in, line);)
        out << line.substr(0, line.find(" {normal=(")) << '\n';
    return bool(out);
}

TimedProcess thumbnail(const char* thumbnailer, const std::string& mesh, int size)
{
    return run_timed({thumbnailer, "-s", std::to_string(size), mesh, built("bench-thumbnail.png")});
}

struct Case {
    std::string label, mesh;
    int size;
    double limit;
    std::vector<double> seconds, others_seconds;
    double peak_mib = 0;
};

bool run_into(std::vector<double>& seconds, double& peak_mib, const char* thumbnailer, const Case& c)
{
    const TimedProcess run = thumbnail(thumbnailer, c.mesh, c.size);
    if (run.seconds < 0) {
        std::fprintf(stderr, "thumbnail-bench: %s made no picture of %s\n", thumbnailer, c.mesh.c_str());
        return false;
    }
    seconds.push_back(run.seconds);
    peak_mib = std::max(peak_mib, run.peak_mib);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const char* other = argc > 1 ? argv[1] : nullptr;
    const std::string small = built("bench-small.m"), large = built("bench-torus.txt"), raw = built("bench-raw.m");
    if (!make_mesh(small, "48 24") || !make_mesh(large, "1000 1000") || !make_raw(large, raw)) {
        std::fprintf(stderr, "thumbnail-bench: cannot make the bench meshes in %s\n", OLVANTA_BUILD_DIR);
        return 1;
    }
    std::vector<Case> cases = {
        {"small torus (1,152 vertices, 2,304 faces)", small, 256, 0.5, {}, {}},
        {"small torus (1,152 vertices, 2,304 faces)", small, 1024, 0.5, {}, {}},
        {"bench mesh, 151 MB", large, 256, 2.0, {}, {}},
        {"bench mesh, 151 MB", large, 1024, 2.0, {}, {}},
        {"bench mesh without normals, 111 MB, converted", raw, 256, 0, {}, {}},
    };
    double others_peak_mib = 0;
    for (int round = 0; round < runs; ++round)
        for (Case& c : cases) {
            if (!run_into(c.seconds, c.peak_mib, OLVANTA_THUMBNAILER, c) ||
                (other && !run_into(c.others_seconds, others_peak_mib, other, c)))
                return 1;
        }
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    for (const Case& c : cases) {
        std::printf("olvanta-thumbnail -s %d, %s: %.3f s", c.size, c.label.c_str(), median(c.seconds));
        if (c.limit > 0)
            std::printf(" (at most %.1f s)", c.limit);
        std::printf(", peak resident %.0f MiB\n", c.peak_mib);
        if (other)
            std::printf("  %s: %.3f s; ours %+.0f ms\n", other, median(c.others_seconds),
                        1000.0 * (median(c.seconds) - median(c.others_seconds)));
    }
    std::printf("largest peak resident of any process, converter included%s: %.0f MiB\n",
                other ? ", of either thumbnailer" : "", double(children.ru_maxrss) / 1024.0);
    return 0;
}
