// olvanta-thumbnail [-s SIZE] MESH OUT.png: a file manager's picture of a mesh. It runs where file
// managers run thumbnailers, in sandboxes without a display, a home or a network, so it draws
// with no window system at all. Whatever the file, it ends within its time and memory: a picture
// written whole, or status 1 with nothing written, which the host records as a failure. This
// process opens the output and starts the converter but reads nothing of the file; a child
// confined to reading reads it, draws and writes the picture into the output opened for it.
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cleanup_on_signal.h"
#include "confine/confined_child.h"
#include "confine/confinement.h"
#include "confined_drawing.h"
#include "filled_output.h"
#include "mesh/shown_text.h"
#include "mesh_source.h"
#include "olvanta_version.h"
#include "output_target.h"
#include "png_file.h"
#include "thumbnail_options.h"

namespace {

// Hosts give a thumbnailer about ten seconds; this leaves room to end cleanly within them.
const int seconds_allowed = 9;
// The converter's address space (its resident memory is far less), within the one GiB a
// thumbnail may take with the lists the drawing child reads.
const char* const converter_memory_mib = "768";
// Larger files would not be read within the time, or not fit the lists: they are refused unread.
const std::uint64_t largest_file = std::uint64_t(1) << 30;
// A stream is kept whole in memory to be judged; its lists must still fit beside it.
const std::uint64_t largest_stream = std::uint64_t(256) << 20;

std::string quoted_input;
char deadline_message[4096];
// A little before the deadline's signal: the drawing child is ended and the refusal said in time.
Clock::time_point drawing_deadline;

// The reason may hold what the drawing child said, which read the file: it is shown as a line.
int refuse(const std::string& why)
{
    std::fprintf(stderr, "olvanta-thumbnail: no thumbnail of %s: %s\n", quoted_input.c_str(), shown_line(why).c_str());
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
                  "olvanta-thumbnail: no thumbnail of %s: it took longer than %d s\n", quoted_input.c_str(),
                  seconds_allowed);
    signal(SIGALRM, on_deadline);
    itimerval timer{};
    timer.it_value.tv_sec = seconds_allowed;
    setitimer(ITIMER_REAL, &timer, nullptr);
    drawing_deadline = Clock::now() + std::chrono::milliseconds(seconds_allowed * 1000 - 250);
}

std::string too_large_to_read(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && std::uint64_t(info.st_size) > largest_file)
        return "at " + std::to_string(std::uint64_t(info.st_size) >> 20) + " MiB it is larger than a thumbnail reads (" +
               std::to_string(largest_file >> 20) + " MiB)";
    return "";
}

// The output, planned and opened before any reading: a file named only once it is whole, or the
// empty file of this user's that its maker reads back.
int open_thumbnail_output(const ThumbnailOptions& options, OutputTarget& target, std::string& failure)
{
    std::string reason;
    if (!plan_output(options.output, target, reason)) {
        failure = quoted_name(options.output) + ": " + reason;
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
        failure = quoted_name(options.output) + ": " + reason;
    else if (target.kind == OutputKind::filled)
        empty_on_signal(fd);
    return fd;
}

bool write_picture(std::FILE* out, const void* what)
{
    const RgbaPicture& picture = *static_cast<const RgbaPicture*>(what);
    return write_rgba_png(picture.size, picture.size, picture.rgba.data(), out);
}

// The picture, encoded here from the child's pixels, takes OUT's place, or fills the host's file;
// after a failure nothing of it does.
int finish_thumbnail(const ThumbnailOptions& options, OutputTarget& target, int out_fd, const RgbaPicture* picture,
                     std::string failure)
{
    std::string reason;
    if (failure.empty() && !write_output(target, out_fd, write_picture, picture, reason))
        failure = quoted_name(options.output) + ": " + reason;
    if (!failure.empty()) {
        discard_output(target, out_fd);
        empty_on_signal(-1);
        return refuse(failure);
    }
    empty_on_signal(-1);
    if (!finish_output(target, out_fd, reason))
        return refuse(quoted_name(options.output) + ": " + reason);
    return 0;
}

// The converter's lines, passed on once it has ended, each shown as a line. It says a few at its
// end, far less than a pipe holds, so it never waits for us to read them.
void pass_on_what_the_converter_said(MeshSource& source)
{
    std::string said;
    char block[4096];
    for (ssize_t got; source.converter_errors >= 0 && (got = read(source.converter_errors, block, sizeof block)) != 0;)
        if (got > 0)
            said.append(block, std::size_t(got));
        else if (errno != EINTR)
            break;
    for (std::size_t at = 0, end; at < said.size(); at = end + 1) {
        end = std::min(said.find('\n', at), said.size());
        std::fprintf(stderr, "%s\n", shown_line(said.substr(at, end - at)).c_str());
    }
    if (source.converter_errors >= 0)
        close(source.converter_errors);
    source.converter_errors = -1;
}

// The picture, or the one line that says why there is none.
int make_thumbnail(const ThumbnailOptions& options)
{
    OutputTarget target;
    std::string failure;
    const int out_fd = open_thumbnail_output(options, target, failure);
    if (out_fd < 0)
        return refuse(failure);
    SourceOptions way_in;
    way_in.converter_options = {"--memory-limit", converter_memory_mib, "--time-limit", std::to_string(seconds_allowed)};
    way_in.largest_stream = largest_stream;
    way_in.capture_converter = true;
    MeshSource source;
    std::string reason;
    if (!open_mesh_source(options.input, way_in, source, reason))
        return finish_thumbnail(options, target, out_fd, nullptr, source_failure_line(options.input, source, reason, way_in));
    end_on_signal(source.converter);
    RgbaPicture picture;
    const DrawingFailure child = draw_in_a_confined_child(source, options, picture, drawing_deadline);
    const int converter_status = wait_for_converter(source);
    end_on_signal(0);
    pass_on_what_the_converter_said(source);
    // A reading given up first ends the converter by a broken pipe; the reading's cause is the cause.
    failure = child.reading;
    if (failure.empty() && converter_status != 0)
        failure = "it could not be converted (the converter said why)";
    if (failure.empty())
        failure = child.drawing;
    return finish_thumbnail(options, target, out_fd, &picture, failure);
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
                    describe_confinement(confinement_on_offer(ConfinedKind::drawing)).c_str());
        return 0;
    }
    quoted_input = quoted_name(options.input);
    clean_up_on_signals();
    start_deadline();
    return make_thumbnail(options);
}
