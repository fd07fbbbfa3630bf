// olvanta-snapshot [OPTIONS] MESH OUT.png: pictures of MESH as the viewer shows it, from any
// angle and in any style, made where there is no screen. The mesh is read once with the viewer's
// own reader; each picture is the viewer's own frame, drawn by its display function with its
// state set from the options, in a window like the viewer's on a private Xvfb, and read back.
// A turntable is one program, one window: each further picture costs a frame and a PNG.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/viewer_state.h"
#include "mesh/mesh_reader.h"
#include "cleanup_on_signal.h"
#include "fitting_words.h"
#include "mesh/reading_report.h"
#include "confine/confinement.h"
#include "mesh/confined_reading.h"
#include "mesh/shown_text.h"
#include "olvanta_version.h"
#include "mesh_source.h"
#include "output_target.h"
#include "picture_window.h"
#include "png_file.h"
#include "private_x_server.h"
#include "snapshot_options.h"

namespace {

const char* const usage =
    "usage: olvanta-snapshot [OPTIONS] MESH OUT.png\n"
    "       olvanta-snapshot --can-open-display\n"
    "Pictures MESH as the viewer shows it, without a screen. Options set what the viewer's menu\n"
    "and mouse set; without them the picture is the viewer's first frame.\n"
    "  --style wireframe|flat|smooth        drawing style (wireframe)\n"
    "  --lighting on|off                    lighting (off)\n"
    "  --projection perspective|orthogonal  projection (perspective)\n"
    "  --hide ground,axes,box               guides to leave out, any of the three\n"
    "  --turn X,Y,Z                         degrees about X, Y and Z, as the viewer holds them\n"
    "                                       (-65,0,45)\n"
    "  --zoom F                             scale, above 0 (1)\n"
    "  --pan X,Y,Z                          move, in model units (0,0,0)\n"
    "  --turntable N                        N pictures turning about Z through 360 degrees,\n"
    "                                       written as OUT-001.png, OUT-002.png, ...\n"
    "  --size N                             pictures of N x N pixels, 16 to 4096 (650)\n"
    "  --time-limit SECONDS                 for reading MESH (30)\n"
    "  --fit                                a model the first view would not show as it lies\n"
    "                                       (too large, too small, too far away) moved and\n"
    "                                       scaled into view, as olvanta-open shows it\n"
    "  --can-open-display                   status 0 when a window could open on $DISPLAY\n"
    "  --help, --version\n";

int fail(const std::string& message)
{
    std::fprintf(stderr, "olvanta-snapshot: %s\n", message.c_str());
    return 1;
}

void say_how_it_is_shown(const std::string& mesh, const MeshSource& source)
{
    if (holds_no_mesh(source))
        std::fprintf(stderr, "olvanta-snapshot: %s holds no mesh; the picture shows an empty scene\n",
                     quoted_name(mesh).c_str());
    if (!source.fitted.empty())
        std::fprintf(stderr, "olvanta-snapshot: %s\n", fitted_line(mesh, source.fitted).c_str());
}

// The converter says, once it has written the mesh, whether it fitted it.
void say_what_the_converter_fitted(const std::string& mesh, MeshSource& source)
{
    char block[4096];
    std::string said;
    for (ssize_t got; source.converter_says >= 0 && (got = read(source.converter_says, block, sizeof block)) > 0;)
        said.append(block, std::size_t(got));
    for (std::size_t at = 0, end; (end = said.find('\n', at)) != std::string::npos; at = end + 1)
        if (const std::string fitted = converter_fitted(said.substr(at, end - at)); !fitted.empty())
            std::fprintf(stderr, "olvanta-snapshot: %s\n", fitted_line(mesh, fitted).c_str());
}

// Whether a window could open on the display the environment names; scripts ask before they
// start the viewer, which would otherwise end with the toolkit's bare error.
int can_open_display()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    XCloseDisplay(display);
    return 0;
}

struct Reading {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    ReadReport report;
};

// Reads the mesh into the viewer's lists on a thread of its own, so that a stream which never
// ends (a FIFO whose writer never closes) meets the time limit. False when time ran out.
bool read_within(const std::string& path, int seconds, ReadReport& report)
{
    const auto reading = std::make_shared<Reading>();
    std::thread([reading, path] {
        ReadReport read = read_mesh_file_confined(path, mesh_store);
        const std::lock_guard<std::mutex> lock(reading->mutex);
        reading->report = read;
        reading->done = true;
        reading->finished.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(reading->mutex);
    if (!reading->finished.wait_for(lock, std::chrono::seconds(seconds), [&] { return reading->done; }))
        return false;
    report = reading->report;
    return true;
}

bool write_picture(const Image& frame, const std::string& picture, std::string& reason)
{
    const StreamWriter png = [](std::FILE* out, const void* image) {
        return write_png(*static_cast<const Image*>(image), out);
    };
    return write_whole_output(picture, "olvanta-snapshot", png, &frame, reason);
}

// Every picture, drawn in one window; false with the failing picture's path and reason.
bool draw_and_write(const SnapshotOptions& options, std::string& failed, std::string& reason)
{
    viewer_state = state_for_frame(options, 0);
    settle_frame();
    for (int frame = 0; frame < picture_count(options); ++frame) {
        viewer_state = state_for_frame(options, frame);
        const std::string path = picture_path(options, frame);
        if (!write_picture(draw_picture(options.size), path, reason)) {
            failed = path;
            return false;
        }
    }
    return true;
}

// Every picture's name must be writable, and none may be the mesh, before anything is drawn.
// Empty when they all are; else the line that says why not.
std::string unwritable_output(const SnapshotOptions& options)
{
    for (int frame = 0; frame < picture_count(options); ++frame) {
        OutputTarget target;
        std::string reason;
        const std::string picture = picture_path(options, frame);
        if (!plan_output(picture, target, reason))
            return "cannot write " + quoted_name(picture) + ": " + reason;
        if (output_is_input(target, options.mesh))
            return same_file_message(options.mesh, picture);
    }
    return "";
}

// The tool's own line goes to standard output, unless a picture went there.
std::FILE* stream_for_the_summary(const SnapshotOptions& options)
{
    OutputTarget target;
    std::string reason;
    for (int frame = 0; frame < picture_count(options); ++frame)
        if (plan_output(picture_path(options, frame), target, reason) && output_is_open_as(target, STDOUT_FILENO))
            return stderr;
    return stdout;
}

int snapshot(const SnapshotOptions& options)
{
    std::string failed, reason;
    if (const std::string unwritable = unwritable_output(options); !unwritable.empty())
        return fail(unwritable);
    SourceOptions way_in;
    way_in.fitting = options.fit ? Fitting::when_out_of_view : Fitting::as_it_lies;
    way_in.stream_seconds = options.seconds;
    MeshSource source;
    if (!open_mesh_source(options.mesh, way_in, source, reason))
        return fail(source_failure_line(options.mesh, source, reason, way_in));
    say_how_it_is_shown(options.mesh, source);
    ReadReport report;
    if (!read_within(source.name, options.seconds, report)) {
        fail(quoted_name(options.mesh) + " was still being read when the time limit ended (" +
             std::to_string(options.seconds) + " s)");
        std::fflush(stderr);
        std::_Exit(1); // the reading thread is still writing the lists; the converter ends with us
    }
    // A failed conversion has said why; an empty picture would say nothing.
    if (wait_for_converter(source) != 0)
        return 1;
    say_what_the_converter_fitted(options.mesh, source);
    close_mesh_source(source);
    // A reading child that broke off (it died, or sent what no reading makes) gave nothing to
    // trust: an empty picture would pass for the mesh's.
    if (report.outcome == ReadOutcome::read_failed && report.error == EPROTO)
        return fail("reading " + quoted_name(options.mesh) + " failed: " + report.reason +
                    " (the process that read it broke off); no picture was written");
    if (!report_reading("olvanta-snapshot", false, options.mesh, report, mesh_store))
        return 1;
    const int screen = std::max(1024, options.size + 64);
    const XServer server = start_xvfb(screen, screen);
    if (server.pid <= 0)
        return fail(server.failure);
    end_on_signal(server.pid);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1); // the renderer the viewer's tests and pictures use
    open_picture_window(server.display_name, options.size);
    const bool written = draw_and_write(options, failed, reason);
    close_picture_window();
    stop_process(server.pid);
    end_on_signal(0);
    if (!written)
        return fail("cannot write " + quoted_name(failed) + ": " + reason);
    const int count = picture_count(options);
    std::FILE* const to = stream_for_the_summary(options);
    const std::string size = std::to_string(options.size) + " x " + std::to_string(options.size);
    if (count == 1)
        std::fprintf(to, "olvanta-snapshot: wrote %s (%s) of %s\n", shown(options.picture).c_str(), size.c_str(),
                     shown(options.mesh).c_str());
    else
        std::fprintf(to, "olvanta-snapshot: wrote %s to %s (%d pictures of %s) of %s\n",
                     shown(picture_path(options, 0)).c_str(), shown(picture_path(options, count - 1)).c_str(), count,
                     size.c_str(), shown(options.mesh).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    SnapshotOptions options;
    std::string reason;
    if (!parse_snapshot_options(argc, argv, options, reason)) {
        std::fprintf(stderr, "olvanta-snapshot: %s\n%s", reason.c_str(), usage);
        return 2;
    }
    if (options.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("olvanta-snapshot %s\nconfinement: %s\n", OLVANTA_VERSION,
                    describe_confinement(confinement_on_offer(ConfinedKind::reading)).c_str());
        return 0;
    }
    if (options.can_open_display)
        return can_open_display();
    // A full disk or a reader that went away is an error to report, not a reason to die; any
    // other end leaves no temporary file and no X server behind.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    clean_up_on_signals();
    return snapshot(options);
}
