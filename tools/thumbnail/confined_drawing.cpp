// The child says first whether it has a picture: 'p' and the pixels, 'r' and why the reading
// failed, or 'd' and why the drawing did. The parent names a reading's failure before the
// converter's, and a drawing's after it.
#include "confined_drawing.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cleanup_on_signal.h"
#include "confine/confined_child.h"
#include "mesh/mesh_reader.h"
#include "mesh/mesh_store.h"
#include "mesh/shown_text.h"
#include "offscreen_context.h"
#include "thumbnail_view.h"

namespace {

// The mesh's lists within the one GiB a thumbnail may take, beside the converter's memory. Lists
// that come from the converter get less, as the converter runs at the same time.
const std::size_t most_list_bytes = std::size_t(384) << 20;
const std::size_t most_converted_list_bytes = std::size_t(192) << 20;
// Every reason the child gives fits in this.
const std::size_t longest_reason = 1024;

struct DrawingJob {
    int size;
    bool converted;
    std::string prepared_failure; // why the rasteriser could not be prepared
};

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

// Before the child is shut in: the rasteriser opens its libraries and settings, and starts its
// threads; nothing of the file is read yet.
bool prepare_rasteriser(void* context)
{
    DrawingJob& job = *static_cast<DrawingJob*>(context);
    if (!open_offscreen_context(job.size * drawing_scale(job.size), job.prepared_failure))
        job.prepared_failure = job.prepared_failure.empty() ? "no context to draw in" : job.prepared_failure;
    return true;
}

std::string read_and_draw(const DrawingJob& job)
{
    struct stat at_start {};
    if (!descriptor_status(input_descriptor, at_start))
        return "r" + std::string(std::strerror(errno));
    const ReadReport report = read_opened_file(input_descriptor, at_start, mesh_store,
                                               job.converted ? most_converted_list_bytes : most_list_bytes);
    close(input_descriptor); // a converter still writing gets no further
    if (const std::string failure = reading_failure(report); !failure.empty())
        return "r" + failure;
    const ThumbnailView view = view_of(mesh_store);
    if (!view.has_area)
        return "dit has no face to draw";
    centre_mesh(mesh_store, view);
    const RgbaPicture picture = draw_thumbnail(view, job.size);
    if (covered_pixels(picture) == 0)
        return "dits faces have no area to be seen";
    return "p" + std::string(reinterpret_cast<const char*>(picture.rgba.data()), picture.rgba.size());
}

int draw_confined(void* context)
{
    const DrawingJob& job = *static_cast<const DrawingJob*>(context);
    end_by_default_on_signals();
    const std::string said = job.prepared_failure.empty() ? read_and_draw(job) : "d" + job.prepared_failure;
    return write_all(report_descriptor, said.data(), said.size()) && said[0] == 'p' ? 0 : 1;
}

std::string reason_in(const std::string& said)
{
    return said.substr(1, longest_reason);
}

} // namespace

DrawingFailure draw_in_a_confined_child(MeshSource& source, const ThumbnailOptions& options, RgbaPicture& picture,
                                        Clock::time_point deadline)
{
    DrawingJob job{options.size, source.converter > 0, ""};
    ConfinedChild child = start_confined(ConfinedKind::drawing, Handed{source.fd, -1, -1}, draw_confined, &job,
                                         prepare_rasteriser);
    const int error = errno;
    if (source.fd >= 0)
        close(source.fd); // the child's alone now: should it end, the converter is not left waiting
    source.fd = -1;
    if (child.pid < 0)
        return {"", std::strerror(error)};
    kill_first_on_signal(child.pid);
    const std::size_t pixels = std::size_t(options.size) * std::size_t(options.size) * 4;
    std::string said;
    const Heard heard = hear(child, said, 1 + std::max(pixels, longest_reason + 1), deadline);
    const int status = end_child(child);
    kill_first_on_signal(0);
    if (heard == Heard::too_late)
        return {"", "it took longer than its time"};
    if (said.size() == 1 + pixels && said[0] == 'p' && status == 0) {
        picture.size = options.size;
        picture.rgba.assign(said.begin() + 1, said.end());
        return {};
    }
    if (said.size() > 1 && said[0] == 'r')
        return {reason_in(said), ""};
    if (said.size() > 1 && said[0] == 'd')
        return {"", reason_in(said)};
    return {"", status >= 128 ? "reading or drawing it ended by signal " + std::to_string(status - 128)
                              : "reading or drawing it failed"};
}
