// olvanta-thumbnail [-s SIZE] MESH OUT.png: a file manager's picture of a mesh. It runs where file
// managers run thumbnailers, in sandboxes without a display, a home or a network, so it draws
// with no window system at all. Whatever the file, it ends within its time and memory: a picture
// written whole, or status 1 with nothing written, which the host records as a failure.
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cleanup_on_signal.h"
#include "filled_output.h"
#include "mesh/mesh_reader.h"
#include "mesh/mesh_store.h"
#include "mesh_source.h"
#include "offscreen_context.h"
#include "olvanta_version.h"
#include "output_target.h"
#include "png_file.h"
#include "thumbnail_options.h"
#include "thumbnail_picture.h"
#include "thumbnail_view.h"

namespace {

// Hosts give a thumbnailer about ten seconds; this leaves room to end cleanly within them.
const int seconds_allowed = 9;
// The mesh's lists, and the converter's address space (its resident memory is far less), within
// the one GiB a thumbnail may take. Lists that come from the converter are smaller than the
// converter's own memory, so they get less.
const std::size_t most_list_bytes = std::size_t(384) << 20;
const std::size_t most_converted_list_bytes = std::size_t(192) << 20;
const char* const converter_memory_mib = "768";
// Larger files would not be read within the time, or not fit the lists: they are refused unread.
const std::uint64_t largest_file = std::uint64_t(1) << 30;

const char* shown_input = "";
char deadline_message[4096];

int refuse(const std::string& why)
{
    std::fprintf(stderr, "olvanta-thumbnail: no thumbnail of '%s': %s\n", shown_input, why.c_str());
    return 1;
}

void on_deadline(int)
{
    const ssize_t ignored = write(STDERR_FILENO, deadline_message, std::strlen(deadline_message));
    (void)ignored;
    _exit(1); // a converter still running gets SIGTERM from the kernel as this process ends
}

void start_deadline()
{
    std::snprintf(deadline_message, sizeof deadline_message,
                  "olvanta-thumbnail: no thumbnail of '%s': it took longer than %d s\n", shown_input, seconds_allowed);
    signal(SIGALRM, on_deadline);
    itimerval timer{};
    timer.it_value.tv_sec = seconds_allowed;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

// What went wrong in reading, in the words of a refusal; empty when the whole mesh was read.
std::string reading_failure(const ReadReport& report)
{
    switch (report.outcome) {
    case ReadOutcome::complete: return "";
    case ReadOutcome::cannot_open: return report.reason;
    case ReadOutcome::read_failed: return "reading failed: " + report.reason;
    case ReadOutcome::out_of_memory: return "the mesh is larger than a thumbnail may take";
    case ReadOutcome::overlong_record: return "it is not a mesh file, or it is damaged: a line runs on past 1 MiB";
    }
    return "";
}

std::string read_mesh(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && std::uint64_t(info.st_size) > largest_file)
        return "at " + std::to_string(std::uint64_t(info.st_size) >> 20) + " MiB it is larger than a thumbnail reads (" +
               std::to_string(largest_file >> 20) + " MiB)";
    MeshSource source;
    std::string reason;
    if (!open_mesh_source(path, source, reason,
                          {"--memory-limit", converter_memory_mib, "--time-limit", std::to_string(seconds_allowed)}))
        return reason;
    end_on_signal(source.converter);
    const ReadReport report =
        read_mesh_file(source.name, mesh_store, source.converter > 0 ? most_converted_list_bytes : most_list_bytes);
    close(source.fd); // a converter still writing gets no further
    source.fd = -1;
    const int converter_status = wait_for_converter(source);
    end_on_signal(0);
    // A reading given up first ends the converter by a broken pipe; the reading's cause is the cause.
    const std::string failure = reading_failure(report);
    if (failure.empty() && converter_status != 0)
        return "it could not be converted (the converter said why)";
    return failure;
}

bool write_picture(std::FILE* out, const void* what)
{
    const RgbaPicture& picture = *static_cast<const RgbaPicture*>(what);
    return write_rgba_png(picture.size, picture.size, picture.rgba.data(), out);
}

// The picture, or the one line that says why there is none.
int make_thumbnail(const ThumbnailOptions& options)
{
    OutputTarget target;
    std::string reason;
    if (!plan_output(options.output, target, reason))
        return refuse("'" + options.output + "': " + reason);
    if (output_is_input(target, options.input))
        return refuse(same_file_message(options.input, options.output));
    fill_if_empty(target);

    const std::string failure = read_mesh(options.input);
    if (!failure.empty())
        return refuse(failure);
    const ThumbnailView view = view_of(mesh_store);
    if (!view.has_area)
        return refuse("it has no face to draw");
    centre_mesh(mesh_store, view);

    if (!open_offscreen_context(options.size * drawing_scale(options.size), reason))
        return refuse(reason);
    const RgbaPicture picture = draw_thumbnail(view, options.size);
    close_offscreen_context();
    if (covered_pixels(picture) == 0)
        return refuse("its faces have no area to be seen");

    if (!write_planned_output(target, "olvanta-thumbnail", write_picture, &picture, reason))
        return refuse("'" + options.output + "': " + reason);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    ThumbnailOptions options;
    std::string complaint;
    if (!parse_thumbnail_options(argc, argv, options, complaint)) {
        std::fprintf(stderr, "olvanta-thumbnail: %s\n%s", complaint.c_str(), thumbnail_usage);
        return 2;
    }
    if (options.help) {
        std::fputs(thumbnail_usage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("olvanta-thumbnail %s\n", OLVANTA_VERSION);
        return 0;
    }
    shown_input = options.input.c_str();
    clean_up_on_signals();
    start_deadline();
    return make_thumbnail(options);
}
