// olvanta-convert [OPTIONS] INPUT OUTPUT: any mesh file the asset import library reads (OBJ, PLY,
// STL, OFF and many more) into the viewer's text format, turned and fitted for its first view
// when asked. The import runs in a child process with limits on memory and time, so no file can
// crash the converter or make it run away; every input ends in success or in one line that
// names the file and the reason. The child confines itself before it reads a byte of the input;
// this process only looks at names and renames.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cleanup_on_signal.h"
#include "companion_files.h"
#include "confine/confinement.h"
#include "conversion_child.h"
#include "conversion_failure.h"
#include "conversion_limits.h"
#include "convert_options.h"
#include "isolated_run.h"
#include "mesh/shown_text.h"
#include "memory_copy.h"
#include "olvanta_version.h"
#include "output_target.h"

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "olvanta-convert: %s\n", message.c_str());
    return 1;
}

// What must hold before any work: a regular, non-empty INPUT and an OUTPUT that may be written
// and is not INPUT. Empty when it all holds.
std::string unusable_names(const ConvertOptions& options, const struct stat& input, OutputTarget& target)
{
    if (!S_ISREG(input.st_mode) || input.st_size == 0)
        return quoted_name(options.input) + " is " + (S_ISREG(input.st_mode) ? "empty" : "not a regular file");
    std::string reason;
    if (!plan_output(options.output, target, reason))
        return "cannot write " + quoted_name(options.output) + ": " + reason;
    if (output_is_input(target, options.input))
        return same_file_message(options.input, options.output);
    return "";
}

std::string counted(unsigned long count, const char* one, const char* more)
{
    return std::to_string(count) + " " + (count == 1 ? one : more);
}

// Damaged attribute blocks and normals that give no direction, in one line.
std::string attribute_damage(const std::string& input, unsigned long blocks, unsigned long first_line,
                             unsigned long normals)
{
    const std::string of_input = " of " + input;
    std::string said;
    if (blocks)
        said = counted(blocks, "attribute block", "attribute blocks") + of_input +
               (blocks == 1 ? " is damaged and was" : " are damaged and were") + " read only in part (the first is line " +
               std::to_string(first_line) + ")";
    if (normals)
        said += (blocks ? "; " + counted(normals, "normal", "normals") : counted(normals, "normal", "normals") + of_input) +
                (normals == 1 ? " gives" : " give") + " no direction (not three finite numbers, not all zero) and " +
                (normals == 1 ? "was" : "were") + " not used";
    return said;
}

// An STL's facet normals that say nothing of their faces, in one line.
std::string unused_facets(const std::string& input, unsigned long unusable, unsigned long disagreeing)
{
    std::string said = counted(unusable + disagreeing, "facet normal", "facet normals") + " of " + input +
                       (unusable + disagreeing == 1 ? " was" : " were") + " not used: ";
    if (unusable)
        said += std::to_string(unusable) + (unusable == 1 ? " gives" : " give") + " no direction (zero, or not finite)";
    if (unusable && disagreeing)
        said += " and ";
    if (disagreeing)
        said += std::to_string(disagreeing) + (disagreeing == 1 ? " points" : " point") + " against the winding of " +
                (disagreeing == 1 ? "its face" : "their faces");
    return said + "; the faces' normals come from their winding";
}

// What the family's reading passed over, left out or read in part: one warning line each, also
// before a failure, since it may be why nothing was left to write. The child's words are shown as
// any outside words are: it read the file.
void say_what_was_lost(const ChildEnding& ending, const ConvertOptions& options)
{
    const std::string input = quoted_name(options.input);
    unsigned long count = 0, line = 0, normals = 0;
    const std::string left_out = last_line_starting(ending.report, "left out: ");
    char first[512] = "";
    if (std::sscanf(left_out.c_str(), "%lu %511[^\n]", &count, first) == 2)
        std::fprintf(stderr, "olvanta-convert: warning: %lu %s of %s %s left out: %s\n", count,
                     count == 1 ? "face" : "faces", input.c_str(), count == 1 ? "was" : "were", shown(first).c_str());
    if (std::sscanf(last_line_starting(ending.report, "skipped: ").c_str(), "%lu %lu", &count, &line) == 2)
        std::fprintf(stderr, "olvanta-convert: warning: %lu %s of %s %s no record of the format and %s skipped "
                     "(the first is line %lu)\n", count, count == 1 ? "line" : "lines", input.c_str(),
                     count == 1 ? "is" : "are", count == 1 ? "was" : "were", line);
    if (std::sscanf(last_line_starting(ending.report, "attributes: ").c_str(), "%lu %lu %lu", &count, &line, &normals) == 3)
        std::fprintf(stderr, "olvanta-convert: warning: %s\n", attribute_damage(input, count, line, normals).c_str());
    unsigned long unusable = 0, disagreeing = 0;
    if (std::sscanf(last_line_starting(ending.report, "facets: ").c_str(), "%lu %lu", &unusable, &disagreeing) == 2)
        std::fprintf(stderr, "olvanta-convert: warning: %s\n", unused_facets(input, unusable, disagreeing).c_str());
}

// The counts and the hint go to standard output, unless the mesh itself went there.
void say_success(const ChildEnding& ending, const ConvertOptions& options, const OutputTarget& target,
                 const std::string& refused)
{
    std::FILE* const to = output_is_open_as(target, STDOUT_FILENO) ? stderr : stdout;
    unsigned long vertices = 0, faces = 0;
    std::sscanf(last_line_starting(ending.report, "done ").c_str(), "%lu %lu", &vertices, &faces);
    std::fprintf(to, "olvanta-convert: wrote %lu vertices and %lu faces to %s\n", vertices, faces,
                 shown(options.output).c_str());
    const std::string hint = last_line_starting(ending.report, "hint: ");
    if (!hint.empty())
        std::fprintf(to, "olvanta-convert: hint: %s\n", shown_line(hint).c_str());
    const std::string fitted = last_line_starting(ending.report, "fitted: ");
    if (!fitted.empty())
        std::fprintf(to, "olvanta-convert: fitted: %s, so it was moved and scaled into view\n", shown(fitted).c_str());
    say_what_was_lost(ending, options);
    if (!refused.empty())
        std::fprintf(stderr, "olvanta-convert: warning: %s names %s; it was not opened\n",
                     quoted_name(options.input).c_str(), shown_line(refused).c_str());
}

// The size of a regular file the text goes into, before; -1 for anything else.
long long size_of_regular(int fd)
{
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? (long long)info.st_size : -1;
}

// Success needs proof: the child says how many bytes it wrote, and a file must have grown by
// exactly those, no more (a file made sparse, or padded) and no fewer (nothing written at all).
// The count must also fit the counts of vertices and faces, every line between its shortest
// and its longest. Into a pipe or a device nothing can be seen from here: the reader downstream
// reads whatever comes, within its own bounds.
std::string unproven(const ChildEnding& ending, int out_fd, long long size_before)
{
    unsigned long long vertices = 0, faces = 0, bytes = 0;
    if (std::sscanf(last_line_starting(ending.report, "done ").c_str(), "%llu %llu %llu", &vertices, &faces, &bytes) != 3)
        return "its count of what it wrote";
    const unsigned long long shortest = 33 * vertices + 13 * faces, longest = 200 * vertices + 100 * faces;
    if (vertices > (1ull << 40) || faces > (1ull << 40) || bytes < shortest || bytes > longest)
        return "a count of what it wrote that its vertices and faces cannot have made";
    if (size_before >= 0 && size_of_regular(out_fd) != size_before + (long long)bytes)
        return "the output, which is not as long as what it says it wrote";
    return "";
}

// A conversion that failed because a file the input names was not opened says so.
std::string failure_with_refusal(const ChildEnding& ending, const ConvertOptions& options, const Limits& limits,
                                 const std::string& refused)
{
    const std::string failure = failure_of(ending, options, limits);
    const std::string unreadable = "cannot read " + quoted_name(options.input) + " as a mesh: ";
    if (!refused.empty() && failure.rfind(unreadable, 0) == 0)
        return unreadable + "it names " + refused + "; it was not opened";
    return failure;
}

bool is_stream(const struct stat& info)
{
    return S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode) || S_ISSOCK(info.st_mode);
}

// A stream (a pipe, a FIFO, standard input, a device) is kept whole in memory first, as olvanta-open
// keeps it, and read from there as a regular file is: from its start, in parts, by its size.
// Empty when it was; else why not.
std::string keep_stream_whole(const ConvertOptions& options, int& input, struct stat& info)
{
    const std::uint64_t largest = largest_stream_in_memory();
    const MemoryCopy copy = copy_into_memory(input, largest, 0);
    close(input);
    input = copy.fd;
    if (copy.end == CopyEnd::too_large)
        return quoted_name(options.input) + " is a stream of more than " + std::to_string(largest >> 20) +
               " MiB, more than is kept in memory to be read whole; save it to a file first";
    if (copy.end != CopyEnd::whole || fstat(input, &info) != 0)
        return "cannot read " + quoted_name(options.input) + ": " + std::strerror(copy.error ? copy.error : errno);
    return "";
}

int convert(const ConvertOptions& options)
{
    int input = open(options.input.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    struct stat info {};
    if (input < 0 || fstat(input, &info) != 0) {
        const std::string failure = "cannot read " + quoted_name(options.input) + ": " + std::strerror(errno);
        if (input >= 0)
            close(input);
        return fail(failure);
    }
    if (is_stream(info))
        if (const std::string failure = keep_stream_whole(options, input, info); !failure.empty()) {
            if (input >= 0)
                close(input);
            return fail(failure);
        }
    OutputTarget target;
    if (const std::string unusable = unusable_names(options, info, target); !unusable.empty()) {
        close(input);
        return fail(unusable);
    }
    std::string reason;
    const int out_fd = open_output(target, "olvanta-convert", reason);
    if (out_fd < 0) {
        close(input);
        return fail("cannot write " + quoted_name(options.output) + ": " + reason);
    }
    const Limits limits = limits_for(std::uint64_t(info.st_size), options);
    Conversion conversion{&options, &target, limits.memory_bytes};
    CompanionOpening companions = companion_opening_for(options.input);
    const long long size_before = size_of_regular(out_fd);
    const ChildEnding ending = run_isolated(convert_in_child, &conversion, limits, input, out_fd, companions);
    close(input);
    close_companion_opening(companions);
    if (ending.how != ChildEnding::exited || ending.status != 0 || last_line_starting(ending.report, "done ").empty()) {
        discard_output(target, out_fd);
        say_what_was_lost(ending, options);
        return fail(failure_with_refusal(ending, options, limits, companions.refused));
    }
    if (const std::string missing = unproven(ending, out_fd, size_before); !missing.empty()) {
        discard_output(target, out_fd);
        return fail("converting " + quoted_name(options.input) + " failed: the conversion gave no proof of its work (" + missing + ")");
    }
    if ((target.kind == OutputKind::replaced || target.kind == OutputKind::filled) && fsync(out_fd) != 0) {
        reason = std::strerror(errno);
        discard_output(target, out_fd);
        return fail("cannot write " + quoted_name(options.output) + ": " + reason);
    }
    if (!finish_output(target, out_fd, reason))
        return fail("cannot write " + quoted_name(options.output) + ": " + reason);
    say_success(ending, options, target, companions.refused);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    ConvertOptions options;
    std::string reason;
    if (!parse_convert_options(argc, argv, options, reason)) {
        std::fprintf(stderr, "olvanta-convert: %s\n%s", reason.c_str(), convert_usage);
        return 2;
    }
    if (options.help) {
        std::fputs(convert_usage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("olvanta-convert %s\nconfinement: %s\n", OLVANTA_VERSION,
                    describe_confinement(confinement_on_offer(ConfinedKind::converting)).c_str());
        return 0;
    }
    clean_up_on_signals();
    return convert(options);
}
