// olvanta-thumbnail [-s SIZE] MESH OUT.png: a file manager's picture of a mesh. It runs where file
// managers run thumbnailers, in sandboxes without a display, a home or a network, so it draws
// with no window system at all. Whatever the file, it ends within its time and memory: a picture
// written whole, or status 1 with nothing written, which the host records as a failure. This
// process opens the output and starts the converter but reads nothing of the file; a child
// confined to reading reads it, draws and writes the picture into the output opened for it.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cleanup_on_signal.h"
#include "confine_to_reading.h"
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
    clean_up_now(); // the drawing child ended first, a filled OUT emptied, the converter ended
    _exit(1);
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

std::string too_large_to_read(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && std::uint64_t(info.st_size) > largest_file)
        return "at " + std::to_string(std::uint64_t(info.st_size) >> 20) + " MiB it is larger than a thumbnail reads (" +
               std::to_string(largest_file >> 20) + " MiB)";
    return "";
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

bool write_picture(std::FILE* out, const void* what)
{
    const RgbaPicture& picture = *static_cast<const RgbaPicture*>(what);
    return write_rgba_png(picture.size, picture.size, picture.rgba.data(), out);
}

// The output, planned and opened before any reading: a file named only once it is whole, or the
// empty file of this user's that its maker reads back.
int open_thumbnail_output(const ThumbnailOptions& options, OutputTarget& target, std::string& failure)
{
    std::string reason;
    if (!plan_output(options.output, target, reason)) {
        failure = "'" + options.output + "': " + reason;
        return -1;
    }
    if (output_is_input(target, options.input)) {
        failure = same_file_message(options.input, options.output);
        return -1;
    }
    if (failure = too_large_to_read(options.input); !failure.empty())
        return -1;
    fill_if_empty(target);
    const int fd = open_output(target, "olvanta-thumbnail", reason);
    if (fd < 0)
        failure = "'" + options.output + "': " + reason;
    else if (target.kind == OutputKind::filled)
        empty_on_signal(fd);
    return fd;
}

// Why the child made no picture: the reading's cause, which goes before the converter's failure,
// or what came after the reading. Both empty when the picture was written whole.
struct ChildsFailure {
    std::string reading;
    std::string drawing;
};

std::string read_mesh(MeshSource& source)
{
    const ReadReport report =
        read_mesh_file(source.name, mesh_store, source.converter > 0 ? most_converted_list_bytes : most_list_bytes);
    close(source.fd); // a converter still writing gets no further
    return reading_failure(report);
}

std::string draw_and_write(const ThumbnailOptions& options, const OutputTarget& target, int out_fd)
{
    const ThumbnailView view = view_of(mesh_store);
    if (!view.has_area)
        return "it has no face to draw";
    centre_mesh(mesh_store, view);
    std::string reason;
    if (!open_offscreen_context(options.size * drawing_scale(options.size), reason))
        return reason;
    const RgbaPicture picture = draw_thumbnail(view, options.size);
    close_offscreen_context();
    if (covered_pixels(picture) == 0)
        return "its faces have no area to be seen";
    if (!write_output(target, out_fd, write_picture, &picture, reason))
        return "'" + options.output + "': " + reason;
    return "";
}

// The only process that reads the input's bytes (or the converter's): confined before it reads,
// so whatever the file does to the reader or to Mesa stays within the picture it writes. On
// `report_fd` it says why there is no picture, after 'r' for the reading and 'd' for the rest.
[[noreturn]] void draw_confined(const ThumbnailOptions& options, MeshSource source, const OutputTarget& target,
                                int out_fd, int report_fd, pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
    end_by_default_on_signals();
    confine_to_reading({source.name});
    std::string failure = read_mesh(source);
    if (!failure.empty())
        failure = "r" + failure;
    else if (failure = draw_and_write(options, target, out_fd); !failure.empty())
        failure = "d" + failure;
    const ssize_t said = write(report_fd, failure.data(), failure.size());
    _exit(failure.empty() && said == 0 ? 0 : 1);
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

ChildsFailure failure_of(const std::string& said, int status)
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

ChildsFailure draw_in_a_confined_child(const ThumbnailOptions& options, MeshSource& source,
                                       const OutputTarget& target, int out_fd)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return {"", std::strerror(errno)};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        draw_confined(options, source, target, out_fd, report[1], parent);
    }
    close(report[1]);
    if (source.fd >= 0)
        close(source.fd); // the child's alone now: should it end, the converter is not left waiting
    source.fd = -1;
    if (pid < 0) {
        close(report[0]);
        return {"", std::strerror(errno)};
    }
    kill_first_on_signal(pid);
    const std::string said = read_available(report[0]);
    close(report[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    kill_first_on_signal(0);
    return failure_of(said, status);
}

// The picture takes OUT's place, or stays in the filled file; after a failure nothing of it does.
int finish_thumbnail(const ThumbnailOptions& options, OutputTarget& target, int out_fd, const std::string& failure)
{
    if (!failure.empty()) {
        discard_output(target, out_fd);
        empty_on_signal(-1);
        return refuse(failure);
    }
    empty_on_signal(-1);
    std::string reason;
    if (!finish_output(target, out_fd, reason))
        return refuse("'" + options.output + "': " + reason);
    return 0;
}

// The picture, or the one line that says why there is none.
int make_thumbnail(const ThumbnailOptions& options)
{
    OutputTarget target;
    std::string failure;
    const int out_fd = open_thumbnail_output(options, target, failure);
    if (out_fd < 0)
        return refuse(failure);
    MeshSource source;
    if (!open_mesh_source(options.input, source, failure,
                          {"--memory-limit", converter_memory_mib, "--time-limit", std::to_string(seconds_allowed)}))
        return finish_thumbnail(options, target, out_fd, failure);
    end_on_signal(source.converter);
    const ChildsFailure child = draw_in_a_confined_child(options, source, target, out_fd);
    const int converter_status = wait_for_converter(source);
    end_on_signal(0);
    // A reading given up first ends the converter by a broken pipe; the reading's cause is the cause.
    failure = child.reading;
    if (failure.empty() && converter_status != 0)
        failure = "it could not be converted (the converter said why)";
    if (failure.empty())
        failure = child.drawing;
    return finish_thumbnail(options, target, out_fd, failure);
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
        std::printf("olvanta-thumbnail %s\nconfinement: %s\n", OLVANTA_VERSION,
                    describe_confinement(confinement_on_offer()).c_str());
        return 0;
    }
    shown_input = options.input.c_str();
    clean_up_on_signals();
    start_deadline();
    return make_thumbnail(options);
}
