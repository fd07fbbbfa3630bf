// Load benchmark: our reader against the plain fgetc/fscanf reading loop, on a generated mesh of
// 1,000,000 vertices and 2,000,000 faces written the way exporters write it.
//
//   build/load-bench [--other VIEWER] [MESH]     (default: generates build/bench-torus.txt once)
//
// Prints, each from seven runs interleaved with the baseline's:
// - the median load time of each in this process, their ratio, MB/s, and the peak anonymous
//   resident memory of a process that only loads;
// - the same file read through a pipe: time and peak anonymous resident memory;
// - the whole programs, timed from outside: the viewer from the typed file name to its request
//   for a window, less the same for an empty file, against the baseline's whole process; on every
//   core and held to one; with the viewer's page faults. Given another viewer (an earlier build),
//   it is timed the same way, interleaved, so a before and an after come from one run.
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

#include "bench_figures.h"
#include "fscanf_reader.h"
#include "mesh/mesh_reader.h"
#include "whole_process.h"

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
    const ReadReport report = read_mesh_file(path, mesh);
    if (report.outcome != ReadOutcome::complete)
        std::fprintf(stderr, "load-bench: %s: %s\n", path, report.reason.c_str());
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
// second thread samples RssAnon, then print the largest value, the bytes of the lists and the
// seconds the load took.
int report_memory_of_a_load(const char* path)
{
    const auto start = std::chrono::steady_clock::now();
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
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peak = std::max(peak, rss_anon_kib());
    std::printf("%ld %zu %.6f\n", peak, mesh.vertices.size() * sizeof(Vertex) + mesh.faces.size() * sizeof(Face), seconds);
    return 0;
}

std::string this_program()
{
    return "/proc/" + std::to_string(getpid()) + "/exe";
}

struct LoadInAProcess {
    long peak_kib = -1;
    std::size_t list_bytes = 0;
    double seconds = -1;
};

// `source` is a shell command whose output is read through a pipe, or empty to read the file.
LoadInAProcess load_in_a_fresh_process(const std::string& path, bool through_a_pipe)
{
    const std::string command = through_a_pipe
        ? "cat '" + path + "' | " + this_program() + " --memory-of-a-load /dev/stdin"
        : this_program() + " --memory-of-a-load '" + path + "'";
    LoadInAProcess load;
    FILE* child = popen(command.c_str(), "r");
    if (!child || std::fscanf(child, "%ld %zu %lf", &load.peak_kib, &load.list_bytes, &load.seconds) != 3)
        load.peak_kib = -1;
    if (child)
        pclose(child);
    return load;
}

int baseline_process(const char* path)
{
    const MeshStore mesh = baseline_load(path);
    return mesh.vertices.empty() && mesh.faces.empty() ? 1 : 0;
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

std::string empty_mesh()
{
    const std::string path = std::string(OLVANTA_BUILD_DIR) + "/bench-empty.txt";
    std::ofstream{path};
    return path;
}

double mib(long kib)
{
    return double(kib) / 1024.0;
}

void report_pipe(const std::string& path, double megabytes)
{
    std::vector<double> times;
    long peak = 0;
    std::size_t list_bytes = 0;
    for (int run = 0; run < 3; ++run) {
        const LoadInAProcess load = load_in_a_fresh_process(path, true);
        times.push_back(load.seconds);
        peak = std::max(peak, load.peak_kib);
        list_bytes = load.list_bytes;
    }
    const double lists_mib = double(list_bytes) / 1048576.0;
    std::printf("through a pipe      %.3f s  (%.0f MB/s), median of 3; peak RssAnon %.1f MiB for %.1f MiB of lists (goal: at most %.1f MiB)\n",
                median(times), megabytes / median(times), mib(peak), lists_mib, 1.25 * lists_mib + 16);
}

// A viewer timed from outside: from the typed name to its window request, less the same for an
// empty file; and its page faults, less an empty file's.
struct Viewer {
    std::string name, program;
    std::vector<double> seconds, empty_seconds, one_core, empty_one_core;
    std::vector<long> faults, empty_faults;
};

double seconds_of(const std::vector<double>& full, const std::vector<double>& empty)
{
    return median(full) - median(empty);
}

void time_viewer(Viewer& v, const std::string& path, const std::string& empty, const StandInDisplay& display)
{
    const ProcessRun run = from_name_to_window_request(v.program, path, display);
    const ProcessRun empty_run = from_name_to_window_request(v.program, empty, display);
    v.seconds.push_back(run.seconds), v.empty_seconds.push_back(empty_run.seconds);
    v.faults.push_back(run.page_faults), v.empty_faults.push_back(empty_run.page_faults);
    v.one_core.push_back(from_name_to_window_request(v.program, path, display, Placement{true}).seconds);
    v.empty_one_core.push_back(from_name_to_window_request(v.program, empty, display, Placement{true}).seconds);
}

long median_faults(std::vector<long> faults)
{
    std::sort(faults.begin(), faults.end());
    return faults[faults.size() / 2];
}

// The whole programs, timed side by side from outside, on every core and held to one (so that a
// machine whose cores are not whole cores shows for what it is).
void report_whole_programs(const std::string& path, const std::string& other)
{
    StandInDisplay display = open_stand_in_display();
    if (display.listener < 0) {
        std::printf("whole programs      not measured: no free loopback port for a stand-in display\n");
        return;
    }
    const std::string empty = empty_mesh();
    std::vector<Viewer> viewers = {{"viewer", OLVANTA_VIEWER, {}, {}, {}, {}, {}, {}}};
    if (!other.empty())
        viewers.push_back({"other viewer", other, {}, {}, {}, {}, {}, {}});
    std::vector<double> baseline, baseline_one_core, open, open_empty;
    for (int run = 0; run < runs; ++run) {
        baseline.push_back(seconds_of_process(this_program(), "--baseline-process", path));
        baseline_one_core.push_back(seconds_of_process(this_program(), "--baseline-process", path, Placement{true}));
        for (Viewer& v : viewers)
            time_viewer(v, path, empty, display);
        open.push_back(seconds_from_start_to_window_request(OLVANTA_OPEN, path, display));
        open_empty.push_back(seconds_from_start_to_window_request(OLVANTA_OPEN, empty, display));
    }
    close_stand_in_display(display);
    std::printf("whole programs      baseline process %.3f s, on one core %.3f s\n", median(baseline), median(baseline_one_core));
    for (const Viewer& v : viewers) {
        const double ours = seconds_of(v.seconds, v.empty_seconds), one = seconds_of(v.one_core, v.empty_one_core);
        std::printf("%-19s from typed name to window request %.3f s (%.3f s for an empty file), %ld page faults "
                    "(%ld for an empty file)\n",
                    v.name.c_str(), median(v.seconds), median(v.empty_seconds), median_faults(v.faults),
                    median_faults(v.empty_faults));
        std::printf("speed-up, outside   %.2f x (goal: at least 8); held to one core %.2f x (%.3f s against %.3f s)\n",
                    median(baseline) / ours, median(baseline_one_core) / one, one, median(baseline_one_core));
    }
    // olvanta-open judges the whole file before the viewer reads it: what that adds.
    const double ours = seconds_of(viewers[0].seconds, viewers[0].empty_seconds);
    const double through_open = median(open) - median(open_empty);
    std::printf("olvanta-open        from start to window request %.3f s, %.3f s for an empty file: %.3f s, "
                "%.2f x the viewer's own %.3f s (goal: at most 1.3)\n",
                median(open), median(open_empty), through_open, through_open / ours, ours);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--memory-of-a-load") == 0)
        return report_memory_of_a_load(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--baseline-process") == 0)
        return baseline_process(argv[2]);
    std::string other;
    if (argc > 2 && std::strcmp(argv[1], "--other") == 0) {
        other = argv[2];
        argc -= 2, argv += 2;
    }
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
    const LoadInAProcess fresh = load_in_a_fresh_process(path, false);
    const std::size_t list_bytes = fresh.list_bytes;
    const long peak_kib = fresh.peak_kib;
    const double limit_mib = 1.25 * double(list_bytes) / 1048576.0 + 16;

    std::printf("file                %s (%.1f MB, %zu vertices, %zu faces)\n", path.c_str(), megabytes,
                ours.vertices.size(), ours.faces.size());
    std::printf("identical lists     %s\n", same_lists(baseline, ours) ? "yes" : "NO");
    std::printf("baseline fscanf     %.3f s  (%.0f MB/s), median of %d\n", baseline_s, megabytes / baseline_s, runs);
    std::printf("olvanta reader      %.3f s  (%.0f MB/s), median of %d\n", ours_s, megabytes / ours_s, runs);
    std::printf("speed-up            %.2f x (goal: at least 8)\n", baseline_s / ours_s);
    std::printf("peak RssAnon        %.1f MiB for %.1f MiB of lists (goal: at most %.1f MiB)\n",
                double(peak_kib) / 1024.0, double(list_bytes) / 1048576.0, limit_mib);
    std::fflush(stdout);
    report_pipe(path, megabytes);
    std::fflush(stdout);
    report_whole_programs(path, other);
    return same_lists(baseline, ours) ? 0 : 1;
}
