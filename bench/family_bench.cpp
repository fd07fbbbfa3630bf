// Family benchmark: olvanta-convert on the bench mesh written the way most of the family's files
// are, without normal parts (1,000,000 vertices, 2,000,000 faces), against the plain fgetc/fscanf
// loop reading the original file, in one run, interleaved.
//
//   build/family-bench
//
// Prints for each: the median wall time of five runs; for the converter also the peak resident
// memory of its processes, and the ratio of the baseline's time to the converter's. The converter
// writes twice: into /dev/null, which is its own work, and into a file beside the mesh, which adds
// the disk's time for 151 MB and the sync that makes replacing a file safe.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
double seconds_of_conversion(const std::string& raw, const char* out, double& peak_mib)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        execl(OLVANTA_CONVERTER, OLVANTA_CONVERTER, raw.c_str(), out, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peak_mib = double(usage.ru_maxrss) / 1024.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
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
        to_null.push_back(seconds_of_conversion(raw, "/dev/null", peak));
        peaks.push_back(peak);
        to_file.push_back(seconds_of_conversion(raw, out.c_str(), peak));
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
    return 0;
}
