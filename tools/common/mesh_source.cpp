// Opened once, judged whole, then handed over: the descriptor itself when the file is in the
// viewer's form, else a pipe from the converter, which reads the file by its name (so an OBJ
// finds its material file beside it) or, for a copy in memory, by the descriptor.
#include "mesh_source.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <thread>

#include "confine/confined_child.h"
#include "memory_copy.h"
#include "mesh/mesh_reader.h"
#include "mesh/shown_text.h"

namespace {

const std::uint64_t mib = std::uint64_t(1) << 20;
// Below this a second thread costs more than it saves.
const std::uint64_t worth_parts = 8 * mib;
// What an unprivileged process may ask of a pipe (/proc/sys/fs/pipe-max-size).
const int mesh_pipe_bytes = 1 << 20;

std::string descriptor_name(int fd)
{
    return "/dev/fd/" + std::to_string(fd);
}

bool names_a_descriptor(const std::string& path)
{
    return path.rfind("/dev/fd/", 0) == 0 || path.rfind("/proc/self/fd/", 0) == 0 || path == "/dev/stdin";
}

std::uint64_t largest_stream(const SourceOptions& options)
{
    return options.largest_stream ? options.largest_stream : largest_stream_in_memory();
}

bool fail(MeshSource& source, SourceFailure failure, int error, std::string& reason)
{
    source.failure = failure;
    reason = error ? std::strerror(error) : "";
    return false;
}

// The file as a descriptor to read from its start with pread: a regular file as it is, anything
// else copied whole into memory first. -1 on failure.
int open_input(const std::string& path, const SourceOptions& options, MeshSource& source, bool& copied,
               std::string& reason)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        const int error = fd < 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : errno;
        if (fd >= 0)
            close(fd);
        return fail(source, SourceFailure::opening, error, reason), -1;
    }
    if (S_ISREG(info.st_mode))
        return fd;
    const MemoryCopy copy = copy_into_memory(fd, largest_stream(options), options.stream_seconds);
    close(fd);
    copied = true;
    switch (copy.end) {
    case CopyEnd::whole: return copy.fd;
    case CopyEnd::too_large: fail(source, SourceFailure::too_large, 0, reason); break;
    case CopyEnd::timed_out: fail(source, SourceFailure::timed_out, 0, reason); break;
    case CopyEnd::failed: fail(source, SourceFailure::reading, copy.error, reason); break;
    }
    return -1;
}

// In a child confined to reading the input: the file's bytes are parsed nowhere else. The
// judgement comes back as the record's own bytes.
int judge_confined(void*)
{
    FormJudgement judgement;
    judgement.in_viewers_form = false;
    struct stat info {};
    if (descriptor_status(input_descriptor, info)) {
        const std::uint64_t size = std::uint64_t(std::max<off_t>(info.st_size, 0));
        const int parts = size < worth_parts ? 1 : int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
        judgement = judge_file(input_descriptor, size, parts);
    }
    return write(report_descriptor, &judgement, sizeof judgement) == ssize_t(sizeof judgement) ? 0 : 1;
}

// A judgement is read at a gigabyte a second or so; a child that takes far longer is stuck.
Clock::time_point judgement_deadline(int fd)
{
    struct stat info {};
    const std::uint64_t size = fstat(fd, &info) == 0 ? std::uint64_t(std::max<off_t>(info.st_size, 0)) : 0;
    return Clock::now() + std::chrono::seconds(30 + size / (20 * mib));
}

// Only what a judgement can be: counts and bounds that fit the file, flags that are flags. A
// judgement that claims the viewer's form wrongly can at most make the (confined) viewer read a
// file in another form: warning lines, never more.
bool believable(const FormJudgement& j)
{
    for (int k = 0; k < 3; ++k)
        if (std::isnan(j.bounds.low[k]) || std::isnan(j.bounds.high[k]))
            return false;
    return j.error >= 0 && j.error < 4096;
}

// Not in the form when no confined child could judge: the converter, confined itself, reads it.
FormJudgement judge_input(int fd)
{
    FormJudgement judgement;
    judgement.in_viewers_form = false;
    ConfinedChild child = start_confined(ConfinedKind::reading, Handed{fd, -1, -1}, judge_confined, nullptr);
    if (child.pid < 0)
        return judgement;
    std::string said;
    const Heard heard = hear(child, said, sizeof judgement, judgement_deadline(fd));
    end_child(child);
    FormJudgement told;
    if (heard != Heard::whole || said.size() != sizeof told)
        return judgement;
    std::memcpy(&told, said.data(), sizeof told);
    told.in_viewers_form = said[offsetof(FormJudgement, in_viewers_form)] == 1;
    told.read_failed = said[offsetof(FormJudgement, read_failed)] == 1;
    return believable(told) ? told : judgement;
}

} // namespace

SourceWay way_for(const FormJudgement& judgement, Fitting fitting)
{
    const std::string trouble = out_of_first_view(judgement.bounds);
    if (judgement.in_viewers_form && (fitting == Fitting::as_it_lies || (fitting == Fitting::when_out_of_view && trouble.empty())))
        return {true, "", ""};
    if (fitting == Fitting::always)
        return {false, "--fit", ""};
    if (fitting == Fitting::when_out_of_view && !judgement.in_viewers_form)
        return {false, "--fit-when-needed", ""};
    if (fitting == Fitting::when_out_of_view)
        return {false, "--fit", trouble};
    return {false, "", ""};
}

namespace {

struct ConverterRun {
    std::string program, input;
    std::vector<std::string> options;
    int input_fd, mesh_writer, says_writer, errors_writer;
};

void keep_across_exec(int fd)
{
    if (fd >= 0)
        fcntl(fd, F_SETFD, 0);
}

[[noreturn]] void run_converter(const ConverterRun& run, pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(1);
    // Its counts go nowhere unless asked for: the viewer says what it shows.
    dup2(run.says_writer >= 0 ? run.says_writer : open("/dev/null", O_WRONLY | O_CLOEXEC), STDOUT_FILENO);
    if (run.errors_writer >= 0)
        dup2(run.errors_writer, STDERR_FILENO);
    keep_across_exec(run.input_fd);
    keep_across_exec(run.mesh_writer);
    const std::string output = descriptor_name(run.mesh_writer);
    std::vector<char*> arguments{const_cast<char*>(run.program.c_str())};
    for (const std::string& option : run.options)
        arguments.push_back(const_cast<char*>(option.c_str()));
    arguments.push_back(const_cast<char*>(run.input.c_str()));
    arguments.push_back(const_cast<char*>(output.c_str()));
    arguments.push_back(nullptr);
    execv(run.program.c_str(), arguments.data());
    _exit(127);
}

struct Pipe {
    int read = -1, write = -1;
};

bool open_pipe(Pipe& p, bool wanted)
{
    int ends[2];
    if (!wanted)
        return true;
    if (pipe2(ends, O_CLOEXEC) != 0)
        return false;
    p = {ends[0], ends[1]};
    return true;
}

void close_end(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

bool start_converter(const std::string& path, int input, bool copied, const SourceOptions& options,
                     MeshSource& source, std::string& reason)
{
    // Only a file that is not in the form is read by its name: its companions lie beside it.
    const bool by_name = !source.judgement.in_viewers_form && !copied && !names_a_descriptor(path);
    const SourceWay way = way_for(source.judgement, options.fitting);
    std::vector<std::string> words = options.converter_options;
    if (!way.fit_option.empty())
        words.push_back(way.fit_option);
    source.fitted = way.fitted;
    ConverterRun run{program_beside_this_one("olvanta-convert"), by_name ? path : descriptor_name(input), words, input,
                     -1, -1, -1};
    Pipe mesh, says, errors;
    if (!open_pipe(mesh, true) || !open_pipe(says, options.fitting == Fitting::when_out_of_view) ||
        !open_pipe(errors, options.capture_converter)) {
        const int error = errno;
        for (int* fd : {&mesh.read, &mesh.write, &says.read, &says.write, &errors.read, &errors.write})
            close_end(*fd);
        return fail(source, SourceFailure::starting, error, reason);
    }
    // The text of a big mesh passes in fewer, larger steps: each a wake-up of the reader.
    fcntl(mesh.write, F_SETPIPE_SZ, mesh_pipe_bytes);
    run.mesh_writer = mesh.write, run.says_writer = says.write, run.errors_writer = errors.write;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        run_converter(run, parent);
    const int error = errno;
    close_end(says.write);
    close_end(errors.write);
    if (options.hold_pipe && pid > 0)
        source.pipe_writer = mesh.write;
    else
        close_end(mesh.write);
    source.fd = mesh.read, source.converter = pid;
    source.converter_says = says.read, source.converter_errors = errors.read;
    source.name = descriptor_name(mesh.read);
    if (pid < 0) {
        close_mesh_source(source);
        return fail(source, SourceFailure::starting, error, reason);
    }
    return true;
}

} // namespace

std::string program_beside_this_one(const char* name)
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return name;
    const std::string program(self, std::size_t(length));
    return program.substr(0, program.rfind('/') + 1) + name;
}

bool open_mesh_source(const std::string& path, const SourceOptions& options, MeshSource& source, std::string& reason)
{
    source = MeshSource{};
    bool copied = false;
    const int input = open_input(path, options, source, copied, reason);
    if (input < 0)
        return false;
    source.judgement = judge_input(input);
    if (source.judgement.read_failed) {
        close(input);
        return fail(source, SourceFailure::reading, source.judgement.error, reason);
    }
    if (way_for(source.judgement, options.fitting).as_it_is) {
        source.fd = input;
        source.name = descriptor_name(input);
        return true;
    }
    const bool started = start_converter(path, input, copied, options, source, reason);
    close(input);
    return started;
}

std::string source_failure_line(const std::string& path, const MeshSource& source, const std::string& reason,
                                const SourceOptions& options)
{
    const std::string name = quoted_name(path);
    switch (source.failure) {
    case SourceFailure::opening: return "cannot open " + name + ": " + reason;
    case SourceFailure::reading: return "cannot read " + name + ": " + reason;
    case SourceFailure::too_large:
        return name + " is a stream of more than " + std::to_string(largest_stream(options) / mib) +
               " MiB, more than is kept in memory to be read whole; save it to a file first";
    case SourceFailure::timed_out:
        return name + " was still being read when the time limit ended (" + std::to_string(options.stream_seconds) + " s)";
    case SourceFailure::starting: return "cannot start the converter for " + name + ": " + reason;
    case SourceFailure::none: break;
    }
    return name + ": " + reason;
}

bool holds_no_mesh(const MeshSource& source)
{
    return source.converter < 0 && source.judgement.in_viewers_form && source.judgement.faces == 0;
}

void release_pipe(MeshSource& source)
{
    close_end(source.pipe_writer);
}

int wait_for_converter(MeshSource& source)
{
    if (source.converter <= 0)
        return 0;
    int status = 0;
    while (waitpid(source.converter, &status, 0) < 0 && errno == EINTR) {
    }
    source.converter = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void close_mesh_source(MeshSource& source)
{
    if (source.converter > 0) {
        kill(source.converter, SIGTERM);
        wait_for_converter(source);
    }
    for (int* fd : {&source.fd, &source.pipe_writer, &source.converter_says, &source.converter_errors})
        close_end(*fd);
}
