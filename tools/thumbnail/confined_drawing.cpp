// The child that read the file's start for the converter's decision, kept confined, is the one
// that draws; only where no decision was made is a new child confined for it. It says why it
// made no picture, after 'r' for the reading and 'd' for the rest: the parent names a reading's
// failure before the converter's, and a drawing's after it.
#include "confined_drawing.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cleanup_on_signal.h"
#include "confined_child.h"
#include "mesh/mesh_reader.h"
#include "mesh/mesh_store.h"
#include "mesh/shown_text.h"
#include "offscreen_context.h"
#include "png_file.h"
#include "thumbnail_picture.h"
#include "thumbnail_view.h"

namespace {

// The mesh's lists within the one GiB a thumbnail may take, beside the converter's memory. Lists
// that come from the converter get less, as the converter runs at the same time.
const std::size_t most_list_bytes = std::size_t(384) << 20;
const std::size_t most_converted_list_bytes = std::size_t(192) << 20;

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

bool write_picture(std::FILE* out, const void* what)
{
    const RgbaPicture& picture = *static_cast<const RgbaPicture*>(what);
    return write_rgba_png(picture.size, picture.size, picture.rgba.data(), out);
}

std::string read_mesh(const std::string& name, int fd, bool converted)
{
    const ReadReport report = read_mesh_file(name, mesh_store, converted ? most_converted_list_bytes : most_list_bytes);
    if (fd >= 0)
        close(fd); // a converter still writing gets no further
    return reading_failure(report);
}

std::string draw_and_write(const ThumbnailOptions& options, const OutputTarget& target, int out_fd)
{
    const ThumbnailView view = view_of(mesh_store);
    if (!view.has_area)
        return "it has no face to draw";
    centre_mesh(mesh_store, view);
    std::string reason;
    const RgbaPicture picture = draw_thumbnail(view, options.size);
    if (covered_pixels(picture) == 0)
        return "its faces have no area to be seen";
    if (!write_output(target, out_fd, write_picture, &picture, reason))
        return quoted_name(options.output) + ": " + reason;
    return "";
}

// What the drawing child needs from before it was started: set before the converter's decision,
// whose confined child may be the one that draws.
struct DrawingJob {
    const ThumbnailOptions* options = nullptr;
    const OutputTarget* target = nullptr;
    int out_fd = -1;
};

DrawingJob job;

// The only process that reads the input's bytes (or the converter's, on `converters_fd`): it was
// confined before it read anything, so whatever the file does to the reader or to Mesa stays
// within the picture it writes. On `report_fd` it says why there is no picture, after 'r' for
// the reading and 'd' for the rest.
int read_and_draw(int converters_fd, int converted, int report_fd)
{
    end_by_default_on_signals();
    const std::string name = converters_fd >= 0 ? "/dev/fd/" + std::to_string(converters_fd) : job.options->input;
    // The context is made before the mesh is read: the software rasteriser's start overlaps the
    // converter's work, which the reading of a converted file waits for anyway.
    std::string failure;
    const bool context = open_offscreen_context(job.options->size * drawing_scale(job.options->size), failure);
    if (context)
        failure = read_mesh(name, converters_fd, converted != 0);
    else if (converters_fd >= 0)
        close(converters_fd);
    if (!context)
        failure = "d" + failure;
    else if (!failure.empty())
        failure = "r" + failure;
    else if (failure = draw_and_write(*job.options, *job.target, job.out_fd); !failure.empty())
        failure = "d" + failure;
    if (context)
        close_offscreen_context();
    const ssize_t said = write(report_fd, failure.data(), failure.size());
    return failure.empty() && said == 0 ? 0 : 1;
}

std::string read_available(int fd)
{
    std::string said;
    char block[4096];
    for (ssize_t got; (got = read(fd, block, sizeof block)) != 0;)
        if (got > 0)
            said.append(block, std::size_t(got));
        else if (errno != EINTR)
            break;
    return said;
}

DrawingFailure failure_of(const std::string& said, int status)
{
    if (said.size() > 1 && said[0] == 'r')
        return {said.substr(1), ""};
    if (said.size() > 1)
        return {"", said.substr(1)};
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    return {"", WIFSIGNALED(status) ? "reading or drawing it ended by signal " + std::to_string(WTERMSIG(status))
                                    : "reading or drawing it failed"};
}

} // namespace

void prepare_confined_drawing(const ThumbnailOptions& options, const OutputTarget& target, int out_fd)
{
    job = DrawingJob{&options, &target, out_fd};
    keep_next_confined_child_for(read_and_draw);
}

DrawingFailure draw_in_a_confined_child(MeshSource& source)
{
    const ConfinedReader reader =
        start_confined_reading(read_and_draw, {job.options->input}, source.fd, source.converter > 0 ? 1 : 0);
    if (source.fd >= 0)
        close(source.fd); // the child's alone now: should it end, the converter is not left waiting
    source.fd = -1;
    if (reader.pid < 0)
        return {"", std::strerror(errno)};
    kill_first_on_signal(reader.pid);
    const std::string said = read_available(reader.report_fd);
    close(reader.report_fd);
    int status = 0;
    while (waitpid(reader.pid, &status, 0) < 0 && errno == EINTR) {
    }
    kill_first_on_signal(0);
    return failure_of(said, status);
}
