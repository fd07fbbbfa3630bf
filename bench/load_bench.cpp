// Load benchmark: our reader against the plain fgetc/fscanf reading loop, on a generated mesh of
// 1,000,000 vertices and 2,000,000 faces written the way exporters write it.
//
//   build/load-bench [MESH]     (default: generates build/bench-torus.txt once)
//
// Prints the median load time of each (seven runs each, interleaved), their ratio, MB/s, and the peak
// anonymous resident memory of a process that only loads.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fscanf_reader.h"
#include "mesh/mesh_reader.h"

namespace {

const int runs = 7;

MeshStore baseline_load(const char* path)
{
    std::FILE* in = std::fopen(path, "r");
    if (!in)
        return MeshStore{};
    MeshStore mesh = fscanf_read_stream(in);
    std::fclose(in);
    return mesh;
}

MeshStore our_load(const char* path)
{
    MeshStore mesh;
    std::string reason;
    if (read_mesh_file(path, mesh, reason) == ReadOutcome::cannot_open)
        std::fprintf(stderr, "load-bench: %s: %s\n", path, reason.c_str());
    return mesh;
}

// Times the load alone: the previous run's lists are released before the clock starts.
double seconds_to_load(MeshStore (*load)(const char*), const char* path, MeshStore& mesh)
{
    mesh = MeshStore{};
    const auto start = std::chrono::steady_clock::now();
    MeshStore loaded = load(path);
    const auto stop = std::chrono::steady_clock::now();
    mesh = std::move(loaded);
    return std::chrono::duration<double>(stop - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long rss_anon_kib()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("RssAnon:", 0) == 0)
            return std::atol(line.c_str() + 8);
    return -1;
}

// Run in a freshly started copy of this program, so nothing else is resident: load once while a
// second thread samples RssAnon, then print the largest value and the bytes of the lists.
int report_memory_of_a_load(const char* path)
{
    std::atomic<bool> loading{true};
    long peak = rss_anon_kib();
    std::thread sampler([&] {
        while (loading) {
            peak = std::max(peak, rss_anon_kib());
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const MeshStore mesh = our_load(path);
    loading = false;
    sampler.join();
    peak = std::max(peak, rss_anon_kib());
    std::printf("%ld %zu\n", peak, mesh.vertices.size() * sizeof(Vertex) + mesh.faces.size() * sizeof(Face));
    return 0;
}

long peak_rss_anon_of_a_load(const char* path, std::size_t& list_bytes)
{
    const std::string command = "/proc/" + std::to_string(getpid()) + "/exe --memory-of-a-load '" + path + "'";
    FILE* child = popen(command.c_str(), "r");
    long peak = -1;
    if (!child || std::fscanf(child, "%ld %zu", &peak, &list_bytes) != 2)
        peak = -1;
    if (child)
        pclose(child);
    return peak;
}

bool same_lists(const MeshStore& a, const MeshStore& b)
{
    return a.vertices.size() == b.vertices.size() && a.faces.size() == b.faces.size() &&
           std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(Vertex)) == 0 &&
           std::memcmp(a.faces.data(), b.faces.data(), a.faces.size() * sizeof(Face)) == 0;
}

std::string generated_mesh()
{
    const std::string path = std::string(OLVANTA_BUILD_DIR) + "/bench-torus.txt";
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && info.st_size > 0)
        return path;
    std::fprintf(stderr, "load-bench: writing %s (1,000,000 vertices, 2,000,000 faces)\n", path.c_str());
    const std::string command = std::string(OLVANTA_GENERATOR) + " 1000 1000 > " + path;
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "load-bench: could not write %s\n", path.c_str());
        std::exit(1);
    }
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--memory-of-a-load") == 0)
        return report_memory_of_a_load(argv[2]);
    const std::string path = argc > 1 ? argv[1] : generated_mesh();
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    const double megabytes = double(info.st_size) / 1e6;
    std::vector<double> baseline_times, our_times;
    MeshStore baseline, ours;
    seconds_to_load(our_load, path.c_str(), ours); // warms the page cache
    for (int run = 0; run < runs; ++run) {
        baseline_times.push_back(seconds_to_load(baseline_load, path.c_str(), baseline));
        our_times.push_back(seconds_to_load(our_load, path.c_str(), ours));
    }
    const double baseline_s = median(baseline_times), ours_s = median(our_times);
    std::size_t list_bytes = 0;
    const long peak_kib = peak_rss_anon_of_a_load(path.c_str(), list_bytes);
    const double limit_mib = 1.25 * double(list_bytes) / 1048576.0 + 16;

    std::printf("file                %s (%.1f MB, %zu vertices, %zu faces)\n", path.c_str(), megabytes,
                ours.vertices.size(), ours.faces.size());
    std::printf("identical lists     %s\n", same_lists(baseline, ours) ? "yes" : "NO");
    std::printf("baseline fscanf     %.3f s  (%.0f MB/s), median of %d\n", baseline_s, megabytes / baseline_s, runs);
    std::printf("olvanta reader      %.3f s  (%.0f MB/s), median of %d\n", ours_s, megabytes / ours_s, runs);
    std::printf("speed-up            %.2f x (goal: at least 8)\n", baseline_s / ours_s);
    std::printf("peak RssAnon        %.1f MiB for %.1f MiB of lists (goal: at most %.1f MiB)\n",
                double(peak_kib) / 1024.0, double(list_bytes) / 1048576.0, limit_mib);
    return same_lists(baseline, ours) ? 0 : 1;
}
