// Reading a mesh file: a regular file in parts on every core, anything else (a pipe, a FIFO, a
// device) in order as its bytes arrive; both in bounded chunks, never mapped, so a file that
// shrinks under the reader can only end the reading early.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>

#include "mesh/mesh_reader.h"
#include "mesh/read_source.h"

namespace {

// Below this a second thread costs more than it saves.
const std::uint64_t bytes_worth_a_thread = 4u << 20;

int parts_for(std::uint64_t bytes)
{
    const unsigned cores = std::thread::hardware_concurrency();
    const std::uint64_t most = bytes / bytes_worth_a_thread;
    return static_cast<int>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(cores ? cores : 1, most)));
}

// Lists larger than half the machine's memory would leave nothing to draw them with; reading
// stops there with a message instead of waiting for the system to end the program.
std::size_t half_the_memory()
{
    const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0)
        return SIZE_MAX;
    return static_cast<std::size_t>(pages) / 2 * static_cast<std::size_t>(page_size);
}

ReadReport failure(int error)
{
    ReadReport report;
    report.outcome = ReadOutcome::cannot_open;
    report.error = error;
    report.reason = std::strerror(error);
    return report;
}

bool same_time(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A regular file that is not as it was when reading began was written to meanwhile.
bool changed_since(int fd, const struct stat& at_start)
{
    struct stat now {};
    return !descriptor_status(fd, now) || now.st_size != at_start.st_size ||
           !same_time(now.st_mtim, at_start.st_mtim);
}

// The kernel's own file systems give their files a size that is not their length (sysfs says a
// page, proc says nothing); such a file is read in order to its end like a stream.
bool size_is_length(int fd, const struct stat& at_start)
{
    if (!S_ISREG(at_start.st_mode) || at_start.st_size == 0)
        return false;
    struct statfs system {};
    if (fstatfs(fd, &system) != 0)
        return true;
    switch (system.f_type) {
    case SYSFS_MAGIC:
    case PROC_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC: return false;
    default: return true;
    }
}

} // namespace

std::size_t most_list_bytes_by_default()
{
    return half_the_memory();
}

bool descriptor_status(int fd, struct stat& status)
{
#ifdef SYS_fstat
    return syscall(SYS_fstat, fd, &status) == 0;
#else
    return fstat(fd, &status) == 0;
#endif
}

ReadReport read_opened_file(int fd, const struct stat& at_start, MeshStore& mesh)
{
    return read_opened_file(fd, at_start, mesh, half_the_memory());
}

ReadReport read_opened_file(int fd, const struct stat& at_start, MeshStore& mesh, std::size_t most_list_bytes)
{
    if (S_ISDIR(at_start.st_mode))
        return failure(EISDIR);
    const bool sized = size_is_length(fd, at_start);
    ByteSource source;
    source.fd = fd;
    source.kind = sized ? SourceKind::file : SourceKind::stream;
    if (sized)
        source.size = static_cast<std::uint64_t>(at_start.st_size);
    const ReadingPlan plan;
    const ReadingLimits limits{plan.chunk_bytes, most_list_bytes, plan.segment_bytes};
    const ReadingResult result = sized ? read_in_parts(source, mesh, parts_for(source.size), true, limits)
                                       : read_stream(source, mesh, limits);
    ReadReport report;
    report.outcome = result.outcome;
    if (result.outcome == ReadOutcome::read_failed) {
        report.reason = std::strerror(result.error);
        report.error = result.error;
    }
    report.file_changed = result.cut_short || (sized && changed_since(fd, at_start));
    report.findings = result.findings;
    return report;
}

ReadReport read_mesh_file(const std::string& path, MeshStore& mesh)
{
    return read_mesh_file(path, mesh, half_the_memory());
}

ReadReport read_mesh_file(const std::string& path, MeshStore& mesh, std::size_t most_list_bytes)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failure(errno);
    struct stat at_start {};
    const ReadReport report = descriptor_status(fd, at_start) ? read_opened_file(fd, at_start, mesh, most_list_bytes) : failure(errno);
    close(fd);
    return report;
}

ReadReport read_text_as_file(const std::string& text, MeshStore& mesh, const ReadingPlan& plan)
{
    ByteSource source;
    source.text = text.data();
    source.size = text.size();
    const ReadingLimits limits{plan.chunk_bytes, plan.most_list_bytes, plan.segment_bytes};
    const ReadingResult result = plan.as_stream ? read_stream(source, mesh, limits)
                                                : read_in_parts(source, mesh, plan.parts, plan.on_threads, limits);
    ReadReport report;
    report.outcome = result.outcome;
    report.findings = result.findings;
    return report;
}
