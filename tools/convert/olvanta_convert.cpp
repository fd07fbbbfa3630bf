// olvanta-convert [OPTIONS] INPUT OUTPUT: any mesh file the asset import library reads (OBJ, PLY,
// STL, OFF and many more) into the viewer's text format, turned and fitted for its first view
// when asked. The import runs in a child process with limits on memory and time, so no file can
// crash the converter or make it run away; every input ends in success or in one line that
// names the file and the reason.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "convert_mesh.h"
#include "import_scene.h"
#include "isolated_run.h"
#include "olvanta_version.h"
#include "output_target.h"
#include "placement.h"

namespace {

const char* const usage =
    "usage: olvanta-convert [OPTIONS] INPUT OUTPUT\n"
    "Converts a mesh in any format the Open Asset Import Library reads (OBJ, PLY, STL, OFF, glTF,\n"
    "Collada, ...) into the viewer's text format. Options may stand before or after the names.\n"
    "\n"
    "  --up AXIS             the model's up axis: x, y, z, -x, -y or -z (default z). The model is\n"
    "                        turned so that this axis points along +Z, the viewer's up; most\n"
    "                        exporters write y\n"
    "  --fit                 move and scale the model so that its bounding box is centred on the\n"
    "                        origin and its largest side is 2.5 units, as the first view shows best\n"
    "  --memory-limit MIB    memory the import may take (default: 4 GiB + 64 x the file's size)\n"
    "  --time-limit SECONDS  time the import may take (default: 30 s + 1 s per MB)\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "\n"
    "Without --up and --fit, positions are written exactly as the file has them.\n";

// Honest models need a few times their file's size while they are imported (compressed formats
// more); a hostile header that declares billions of vertices fails within seconds.
const std::uint64_t mib = std::uint64_t(1) << 20;
const std::uint64_t base_memory = std::uint64_t(4) << 30;
const std::uint64_t memory_per_file_byte = 64;
const int base_seconds = 30;
const std::uint64_t file_bytes_per_second = 1000000;

int fail(const std::string& message)
{
    std::fprintf(stderr, "olvanta-convert: %s\n", message.c_str());
    return 1;
}

std::uint64_t machine_memory()
{
    const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    return pages > 0 && page_size > 0 ? std::uint64_t(pages) * std::uint64_t(page_size) : UINT64_MAX;
}

Limits limits_for(std::uint64_t file_bytes)
{
    const std::uint64_t wanted = base_memory + memory_per_file_byte * file_bytes;
    return Limits{std::max(base_memory, std::min(wanted, machine_memory())),
                  base_seconds + static_cast<int>(file_bytes / file_bytes_per_second)};
}

struct Options {
    std::string input, output;
    std::uint64_t memory_mib = 0; // 0: from the file's size
    int seconds = 0;              // 0: from the file's size
    UpAxis up = UpAxis::z;
    bool fit = false;
    bool help = false;
    bool version = false;
};

bool positive_number(const char* text, std::uint64_t& value)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long read = std::strtoull(text, &end, 10);
    if (errno || end == text || *end != '\0' || read == 0 || !std::isdigit(static_cast<unsigned char>(*text)))
        return false;
    value = read;
    return true;
}

// Options may stand before or after the file names.
bool parse_options(int argc, char** argv, Options& options)
{
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help") {
            options.help = true;
        } else if (word == "--version") {
            options.version = true;
        } else if (word == "--fit") {
            options.fit = true;
        } else if (word == "--up") {
            if (i + 1 == argc || !parse_up_axis(argv[++i], options.up))
                return false;
        } else if (word == "--memory-limit" || word == "--time-limit") {
            std::uint64_t value = 0;
            if (i + 1 == argc || !positive_number(argv[++i], value) || value >= (std::uint64_t(1) << 31))
                return false;
            if (word == "--memory-limit")
                options.memory_mib = value;
            else
                options.seconds = static_cast<int>(value);
        } else if (word.size() > 1 && word[0] == '-') {
            return false;
        } else {
            names.push_back(word);
        }
    }
    if (options.help || options.version)
        return true;
    if (names.size() != 2)
        return false;
    options.input = names[0];
    options.output = names[1];
    return true;
}

struct Conversion {
    const Options* options;
    const OutputTarget* target;
    int out_fd;
    std::uint64_t memory_bytes;
};

void say(int fd, const std::string& line)
{
    const std::string text = line + "\n";
    if (write(fd, text.data(), text.size()) != ssize_t(text.size()))
        _exit(3);
}

std::string quoted(const std::string& name)
{
    return "'" + name + "'";
}

bool write_output(const ConvertedMesh& mesh, const Conversion& c, std::string& reason)
{
    const StreamWriter text = [](std::FILE* out, const void* converted) {
        return write_viewer_text(*static_cast<const ConvertedMesh*>(converted), out);
    };
    return write_and_close(*c.target, c.out_fd, text, &mesh, reason);
}

// In the child: the import, the joining and the writing. What it says goes up the report pipe:
// the stage it has reached, then "done V F" or the message of its failure.
int convert_in_child(int report_fd, void* context)
{
    const Conversion& c = *static_cast<const Conversion*>(context);
    const std::string& input = c.options->input;
    say(report_fd, "importing");
    std::vector<Triangle> triangles;
    std::string reason;
    if (!import_triangles(input, triangles, reason)) {
        if (reason.find("std::bad_alloc") != std::string::npos)
            reason = "ran out of memory reading " + quoted(input) + " (the limit is " +
                     std::to_string(c.memory_bytes / mib) + " MiB; --memory-limit raises it)";
        say(report_fd, "error " + reason);
        return 1;
    }
    say(report_fd, "converting");
    try {
        turn_up(triangles, c.options->up);
        if (c.options->fit)
            fit_into_view(triangles);
        else if (const std::string hint = view_hint(bounds_of(triangles)); !hint.empty())
            say(report_fd, hint);
        const ConvertedMesh mesh = join_and_complete(triangles);
        std::vector<Triangle>().swap(triangles);
        if (!write_output(mesh, c, reason)) {
            say(report_fd, "error cannot write " + quoted(c.target->named) + ": " + reason);
            return 1;
        }
        say(report_fd, "done " + std::to_string(mesh.vertices.size()) + " " +
                           std::to_string(mesh.corner_vertices.size() / 3));
    } catch (const std::bad_alloc&) {
        say(report_fd, "error ran out of memory converting " + quoted(input));
        return 1;
    }
    return 0;
}

std::string last_line_starting(const std::string& report, const std::string& start)
{
    std::string found;
    std::size_t at = 0;
    while (at < report.size()) {
        const std::size_t end = report.find('\n', at);
        const std::string line = report.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.rfind(start, 0) == 0)
            found = line.substr(start.size());
        at = end == std::string::npos ? report.size() : end + 1;
    }
    return found;
}

std::string signal_name(int signal)
{
    std::string name = strsignal(signal);
    if (!name.empty())
        name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
    return name;
}

// One line for every way the child can end but success.
std::string failure_of(const ChildEnding& ending, const Options& options, const Limits& limits)
{
    const std::string input = quoted(options.input);
    const std::string error = last_line_starting(ending.report, "error ");
    const bool imported = ending.report.find("converting\n") != std::string::npos;
    const bool out_of_time = ending.how == ChildEnding::timed_out ||
                             (ending.how == ChildEnding::signalled && ending.status == SIGXCPU);
    if (out_of_time)
        return "gave up on " + input + " after " + std::to_string(limits.seconds) + " s" +
               (imported ? "" : " (--time-limit allows more)");
    switch (ending.how) {
    case ChildEnding::not_started:
        return std::string("cannot start the conversion: ") + std::strerror(errno);
    case ChildEnding::timed_out:
        return "gave up on " + input + " after " + std::to_string(limits.seconds) + " s" +
               (imported ? "" : " (--time-limit allows more)");
    case ChildEnding::signalled:
        return (imported ? "converting " + input + " crashed (" : "the import library crashed on " + input + " (") +
               signal_name(ending.status) + ")";
    case ChildEnding::exited:
        break;
    }
    return error.empty() ? "converting " + input + " failed (status " + std::to_string(ending.status) + ")" : error;
}

int convert(const Options& options)
{
    struct stat info {};
    if (stat(options.input.c_str(), &info) != 0)
        return fail("cannot read " + quoted(options.input) + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode) || info.st_size == 0)
        return fail(quoted(options.input) + " is " + (S_ISREG(info.st_mode) ? "empty" : "not a regular file"));
    OutputTarget target;
    std::string reason;
    if (!plan_output(options.output, target, reason))
        return fail("cannot write " + quoted(options.output) + ": " + reason);
    const int out_fd = open_output(target, "olvanta-convert", reason);
    if (out_fd < 0)
        return fail("cannot write " + quoted(options.output) + ": " + reason);

    Limits limits = limits_for(std::uint64_t(info.st_size));
    if (options.memory_mib)
        limits.memory_bytes = options.memory_mib * mib;
    if (options.seconds)
        limits.seconds = options.seconds;
    Conversion conversion{&options, &target, out_fd, limits.memory_bytes};
    const ChildEnding ending = run_isolated(convert_in_child, &conversion, limits);
    close(out_fd);
    const std::string done = last_line_starting(ending.report, "done ");
    if (ending.how != ChildEnding::exited || ending.status != 0 || done.empty()) {
        discard_output(target);
        return fail(failure_of(ending, options, limits));
    }
    if (!finish_output(target, reason))
        return fail("cannot write " + quoted(options.output) + ": " + reason);
    unsigned long vertices = 0, faces = 0;
    std::sscanf(done.c_str(), "%lu %lu", &vertices, &faces);
    std::printf("olvanta-convert: wrote %lu vertices and %lu faces to %s\n", vertices, faces, options.output.c_str());
    const std::string hint = last_line_starting(ending.report, "hint: ");
    if (!hint.empty())
        std::printf("olvanta-convert: hint: %s\n", hint.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse_options(argc, argv, options)) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("olvanta-convert %s\n", OLVANTA_VERSION);
        return 0;
    }
    return convert(options);
}
