// Peer benchmark: how long a person waits for a big mesh to show, in olvanta-open and in other
// viewers (f3d and fstl, where Debian's packages are installed), and what it costs in memory.
//
//   build/peer-bench [--rounds N] [--other OLVANTA-OPEN] [--formats obj,stl,ply] [--no-thumbnails] [--pictures]
//
// The mesh is the bench torus of 1,000,000 vertices and 2,000,000 triangles, written as OBJ (with
// normals), binary STL and binary PLY (with normals), and in the viewer's own form for reference
// ("own", which only olvanta-open reads). Every program draws on one private Xvfb,
// one at a time, in rounds whose order turns from round to round. A run's time is from the
// command's start to its first complete frame, found the same way for every program: the screen
// is read every 30 ms, and the frame is complete at the last change after which the screen stays
// the same for a second while the program's processes use no processor. Its memory is the peak
// of the resident memory of all its processes together, sampled at the same times. Then the
// thumbnailer against f3d's offscreen rendering of the same files, from start to exit.
// Prints medians, ranges and ratios against the fastest peer; nothing judges them.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_figures.h"
#include "png_file.h"
#include "private_x_server.h"
#include "process_tree.h"
#include "torus_files.h"

namespace {

using Clock = std::chrono::steady_clock;

const int screen_width = 1024, screen_height = 768;
const int poll_ms = 30;
const double quiet_seconds = 1.0;
const double idle_share = 0.05; // of one core, over the quiet second
const double longest_wait = 180;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The screen's hash; and, when `picture` is given, the screen itself.
std::uint64_t screen_hash(Display* display, Image* picture = nullptr)
{
    XImage* image = XGetImage(display, DefaultRootWindow(display), 0, 0, screen_width, screen_height, AllPlanes, ZPixmap);
    if (!image)
        return 0;
    std::uint64_t hash = 1469598103934665603ull;
    const std::size_t bytes = std::size_t(image->bytes_per_line) * std::size_t(image->height);
    const auto* data = reinterpret_cast<const std::uint64_t*>(image->data);
    for (std::size_t i = 0; i < bytes / 8; ++i)
        hash = (hash ^ data[i]) * 1099511628211ull;
    if (picture) {
        picture->width = screen_width, picture->height = screen_height;
        picture->pixels.clear();
        for (int y = 0; y < screen_height; ++y)
            for (int x = 0; x < screen_width; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                picture->pixels.push_back({int(pixel >> 16 & 255), int(pixel >> 8 & 255), int(pixel & 255)});
            }
    }
    XDestroyImage(image);
    return hash;
}

// The frame a run was judged complete at, kept to be looked at.
void save_screen(Display* display, const std::string& path)
{
    Image picture;
    screen_hash(display, &picture);
    if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
        write_png(picture, out);
        std::fclose(out);
    }
}

struct Run {
    double seconds = -1; // -1: no frame, or the program failed
    double peak_mib = 0;
};

// The first complete frame of a viewer that keeps running.
Run first_frame(Display* display, const std::string& display_name, const std::vector<std::string>& command,
               const std::string& picture)
{
    const std::uint64_t blank = screen_hash(display);
    const auto start = Clock::now();
    const pid_t root = start_command(command, display_name);
    Run run;
    std::uint64_t shown = blank;
    double changed_at = -1, cpu_at_change = 0;
    std::vector<std::pair<double, double>> cpu_history; // (time, processor seconds)
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
        const TreeSample sample = sample_tree(tree_of(root));
        run.peak_mib = std::max(run.peak_mib, sample.resident_mib);
        const double now = since(start);
        cpu_history.emplace_back(now, sample.cpu_seconds);
        const std::uint64_t hash = screen_hash(display);
        if (hash != shown) {
            shown = hash;
            changed_at = now;
            cpu_at_change = sample.cpu_seconds;
        }
        int status = 0;
        if (has_exited(root, status) || now > longest_wait)
            break;
        if (changed_at < 0 || shown == blank || now - changed_at < quiet_seconds)
            continue;
        // The processor time over the last quiet second; the tree's processes may come and go.
        double earlier = cpu_at_change;
        for (const auto& [t, cpu] : cpu_history)
            if (t <= now - quiet_seconds)
                earlier = cpu;
        if (sample.cpu_seconds - earlier <= idle_share * quiet_seconds) {
            run.seconds = changed_at;
            if (!picture.empty())
                save_screen(display, picture);
            break;
        }
    }
    end_tree(root);
    return run;
}

// A command that ends by itself, such as a thumbnailer.
Run whole_command(const std::vector<std::string>& command, const std::string& display_name, const std::string& output)
{
    unlink(output.c_str());
    const auto start = Clock::now();
    const pid_t root = start_command(command, display_name);
    Run run;
    int status = -1;
    while (!has_exited(root, status) && since(start) < longest_wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        run.peak_mib = std::max(run.peak_mib, sample_tree(tree_of(root)).resident_mib);
    }
    const double seconds = since(start);
    end_tree(root);
    if (status == 0 && access(output.c_str(), R_OK) == 0)
        run.seconds = seconds;
    return run;
}

bool installed(const char* program)
{
    return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string built(const char* name)
{
    return std::string(OLVANTA_BUILD_DIR) + "/" + name;
}

struct Format {
    std::string name, path;
    TorusWriter writer;
};

struct Viewer {
    std::string name;
    std::vector<std::string> command; // the file is added last
    std::vector<std::string> reads;   // the formats it reads; empty: all
};

bool reads(const Viewer& v, const Format& f)
{
    return v.reads.empty() || std::find(v.reads.begin(), v.reads.end(), f.name) != v.reads.end();
}

struct Results {
    std::map<std::string, std::vector<double>> seconds, peaks; // by "format/program"
};

void record(Results& results, const std::string& key, const Run& run)
{
    if (run.seconds >= 0)
        results.seconds[key].push_back(run.seconds);
    results.peaks[key].push_back(run.peak_mib);
}

std::string range_of(const std::vector<double>& values)
{
    if (values.empty())
        return "no frame";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f-%.2f", *std::min_element(values.begin(), values.end()),
                  *std::max_element(values.begin(), values.end()));
    return text;
}

// One table row per program: median, range, runs, peak memory, and its time over the fastest
// peer's and its memory over the leanest peer's.
void print_table(const char* title, const Results& results, const std::vector<Format>& formats,
                 const std::vector<Viewer>& programs, const std::vector<std::string>& peers)
{
    std::printf("\n%s\n", title);
    std::printf("| file | program | median s | range s | frames | peak MiB | time / fastest peer | memory / leanest peer |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const Format& f : formats) {
        double fastest = -1, leanest = -1;
        for (const std::string& peer : peers) {
            const auto s = results.seconds.find(f.name + "/" + peer);
            const auto p = results.peaks.find(f.name + "/" + peer);
            if (s != results.seconds.end() && !s->second.empty() && (fastest < 0 || median(s->second) < fastest))
                fastest = median(s->second);
            if (p != results.peaks.end() && (leanest < 0 || median(p->second) < leanest))
                leanest = median(p->second);
        }
        for (const Viewer& v : programs) {
            if (!reads(v, f))
                continue;
            const std::string key = f.name + "/" + v.name;
            const auto s = results.seconds.find(key);
            const std::vector<double> seconds = s == results.seconds.end() ? std::vector<double>() : s->second;
            const auto p = results.peaks.find(key);
            const double peak = p == results.peaks.end() ? 0 : *std::max_element(p->second.begin(), p->second.end());
            const double m = median(seconds);
            std::printf("| %s | %s | %.2f | %s | %zu | %.0f |", f.name.c_str(), v.name.c_str(), m, range_of(seconds).c_str(),
                        seconds.size(), peak);
            if (fastest > 0 && m > 0)
                std::printf(" %.2f × |", m / fastest);
            else
                std::printf(" |");
            if (leanest > 0)
                std::printf(" %.2f × |\n", peak / leanest);
            else
                std::printf(" |\n");
        }
    }
}

struct Options {
    int rounds = 5;
    std::string other;
    std::vector<std::string> formats = {"own", "obj", "stl", "ply"};
    bool thumbnails = true;
    bool pictures = false; // the first round's frames kept as build/peer-frame-*.png
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--rounds" && i + 1 < argc)
            options.rounds = std::max(1, std::atoi(argv[++i]));
        else if (word == "--other" && i + 1 < argc)
            options.other = argv[++i];
        else if (word == "--formats" && i + 1 < argc) {
            options.formats.clear();
            std::string list = argv[++i];
            for (std::size_t at = 0; at <= list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                options.formats.push_back(list.substr(at, comma - at));
                at = comma + 1;
            }
        } else if (word == "--no-thumbnails")
            options.thumbnails = false;
        else if (word == "--pictures")
            options.pictures = true;
        else
            return false;
    }
    return true;
}

// The viewer's own form as olvanta-gen writes it, the bench mesh of load-bench.
bool write_torus_in_viewers_form(const std::string& path, int rings, int sides)
{
    const std::string command = std::string(OLVANTA_GENERATOR) + " " + std::to_string(rings) + " " + std::to_string(sides) + " > '" + path + "'";
    return std::system(command.c_str()) == 0;
}

std::vector<Format> formats_asked(const Options& options)
{
    const std::vector<Format> all = {{"own", built("bench-torus.txt"), write_torus_in_viewers_form},
                                     {"obj", built("peer-torus.obj"), write_torus_obj},
                                     {"stl", built("peer-torus.stl"), write_torus_binary_stl},
                                     {"ply", built("peer-torus.ply"), write_torus_binary_ply}};
    std::vector<Format> chosen;
    for (const Format& f : all)
        if (std::find(options.formats.begin(), options.formats.end(), f.name) != options.formats.end())
            chosen.push_back(f);
    return chosen;
}

std::vector<std::string> with_file(std::vector<std::string> command, const std::string& file)
{
    command.push_back(file);
    return command;
}

void time_first_frames(Display* display, const std::string& display_name, const Options& options,
                       const std::vector<Format>& formats, const std::vector<Viewer>& viewers, Results& results)
{
    for (int round = 0; round < options.rounds; ++round)
        for (const Format& f : formats)
            for (std::size_t k = 0; k < viewers.size(); ++k) {
                const Viewer& v = viewers[(k + std::size_t(round)) % viewers.size()];
                if (!reads(v, f))
                    continue;
                const std::string picture =
                    options.pictures && round == 0 ? built(("peer-frame-" + f.name + "-" + v.name + ".png").c_str()) : "";
                const Run run = first_frame(display, display_name, with_file(v.command, f.path), picture);
                record(results, f.name + "/" + v.name, run);
                std::fprintf(stderr, "peer-bench: round %d, %s, %s: %.2f s, %.0f MiB\n", round + 1, f.name.c_str(),
                             v.name.c_str(), run.seconds, run.peak_mib);
            }
}

void time_thumbnails(const std::string& display_name, const Options& options, const std::vector<Format>& formats,
                     const std::vector<Viewer>& makers, Results& results)
{
    const std::string out = built("peer-thumbnail.png");
    for (int round = 0; round < options.rounds; ++round)
        for (const Format& f : formats)
            for (std::size_t k = 0; k < makers.size(); ++k) {
                const Viewer& v = makers[(k + std::size_t(round)) % makers.size()];
                if (!reads(v, f))
                    continue;
                std::vector<std::string> command = with_file(v.command, f.path);
                command.push_back(out);
                if (v.name == "f3d --output")
                    command = {"f3d", "--resolution=256,256", "--output=" + out, f.path};
                const Run run = whole_command(command, display_name, out);
                record(results, f.name + "/" + v.name, run);
                std::fprintf(stderr, "peer-bench: thumbnail round %d, %s, %s: %.2f s, %.0f MiB\n", round + 1,
                             f.name.c_str(), v.name.c_str(), run.seconds, run.peak_mib);
            }
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fputs("usage: peer-bench [--rounds N] [--other OLVANTA-OPEN] [--formats obj,stl,ply] [--no-thumbnails] [--pictures]\n", stderr);
        return 2;
    }
    const std::vector<Format> formats = formats_asked(options);
    for (const Format& f : formats)
        if (!make_torus_file(f.writer, f.path, 1000, 1000)) {
            std::fprintf(stderr, "peer-bench: cannot write %s\n", f.path.c_str());
            return 1;
        }
    std::vector<Viewer> viewers = {{"olvanta-open", {OLVANTA_OPEN}, {}}};
    if (!options.other.empty())
        viewers.push_back({"other olvanta-open", {options.other}, {}});
    std::vector<std::string> peers;
    const std::vector<Viewer> others = {{"f3d", {"f3d", "--resolution=650,650"}, {"obj", "stl", "ply"}},
                                        {"fstl", {"fstl"}, {"stl"}}};
    for (const Viewer& peer : others) {
        if (installed(peer.name.c_str())) {
            viewers.push_back(peer);
            peers.push_back(peer.name);
        } else {
            std::printf("%s is not installed: it is left out (apt install %s)\n", peer.name.c_str(), peer.name.c_str());
        }
    }
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    XServer server = start_xvfb(screen_width, screen_height);
    if (server.pid < 0) {
        std::fprintf(stderr, "peer-bench: no Xvfb: %s\n", server.failure.c_str());
        return 1;
    }
    not_in_any_tree(server.pid);
    Display* display = XOpenDisplay(server.display_name.c_str());
    if (!display) {
        std::fprintf(stderr, "peer-bench: cannot reach the private X server\n");
        stop_process(server.pid);
        return 1;
    }
    Results frames;
    time_first_frames(display, server.display_name, options, formats, viewers, frames);
    print_table("From the command's start to the first complete frame:", frames, formats, viewers, peers);
    if (options.thumbnails) {
        std::vector<Viewer> makers = {{"olvanta-thumbnail -s 256", {OLVANTA_THUMBNAILER, "-s", "256"}, {}}};
        std::vector<std::string> thumbnail_peers;
        if (installed("f3d")) {
            makers.push_back({"f3d --output", {}, {"obj", "stl", "ply"}});
            thumbnail_peers.push_back("f3d --output");
        }
        Results pictures;
        time_thumbnails(server.display_name, options, formats, makers, pictures);
        print_table("Thumbnails of 256 pixels, from start to the picture written:", pictures, formats, makers,
                    thumbnail_peers);
    }
    XCloseDisplay(display);
    stop_process(server.pid);
    return 0;
}
