// Converter benchmark: olvanta-convert on the 2M-triangle torus as OBJ, binary STL and binary
// PLY (the files peer-bench writes), into /dev/null, as olvanta-open asks for it
// (--fit-when-needed).
//
//   build/convert-bench [OTHER-CONVERTER]
//
// Prints for each file the median wall time of five runs, the peak resident memory of the
// converter and its child, and the vertices written against the torus's 1,000,000 distinct
// positions. Given another converter (an earlier build), runs it too, interleaved with ours.
#include <cstdio>
#include <string>
#include <vector>

#include "bench_figures.h"
#include "torus_files.h"

namespace {

const int runs = 5;
const int rings = 1000, sides = 1000;

struct Result {
    std::vector<double> seconds;
    double peak_mib = 0;
    unsigned long vertices = 0;
};

void add(Result& r, const TimedProcess& run)
{
    if (run.seconds >= 0)
        r.seconds.push_back(run.seconds);
    r.peak_mib = std::max(r.peak_mib, run.peak_mib);
    std::sscanf(run.out.c_str(), "olvanta-convert: wrote %lu", &r.vertices);
}

TimedProcess convert(const std::string& converter, const std::string& input)
{
    return run_timed({converter, "--fit-when-needed", input, "/dev/null"}, true);
}

void print(const char* who, const Result& r)
{
    std::printf("  %-22s %.3f s, peak resident %.0f MiB, %lu vertices written for %d distinct positions (%.2f x)\n", who,
                median(r.seconds), r.peak_mib, r.vertices, rings * sides, double(r.vertices) / (rings * sides));
}

} // namespace

int main(int argc, char** argv)
{
    const std::string other = argc > 1 ? argv[1] : "";
    const std::string dir = OLVANTA_BUILD_DIR;
    const struct {
        const char* name;
        std::string path;
        TorusWriter writer;
    } files[] = {{"OBJ with normals", dir + "/peer-torus.obj", write_torus_obj},
                 {"binary STL", dir + "/peer-torus.stl", write_torus_binary_stl},
                 {"binary PLY with normals", dir + "/peer-torus.ply", write_torus_binary_ply}};
    for (const auto& f : files)
        if (!make_torus_file(f.writer, f.path, rings, sides)) {
            std::fprintf(stderr, "convert-bench: cannot write %s\n", f.path.c_str());
            return 1;
        }
    std::vector<Result> ours(3), others(3);
    for (int round = 0; round < runs; ++round)
        for (std::size_t i = 0; i < 3; ++i) {
            add(ours[i], convert(OLVANTA_CONVERTER, files[i].path));
            if (!other.empty())
                add(others[i], convert(other, files[i].path));
        }
    for (std::size_t i = 0; i < 3; ++i) {
        std::printf("%s (%s):\n", files[i].name, files[i].path.c_str());
        print("olvanta-convert", ours[i]);
        if (!other.empty())
            print("the other converter", others[i]);
    }
    return 0;
}
