// The child sends a fixed header of numbers, then its lists' bytes, on its report pipe. Every
// number is checked here before it is used: the outcome is one of the known ones, the counts fit
// the file and the memory allowed, and the lists are exactly as long as said. A record's values
// (doubles, vertex numbers) are only data: the drawing already guards against any of them.
#include "mesh/confined_reading.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "confine/confined_child.h"
#include "mesh/list_room.h"

namespace {

struct ListsHeader {
    int outcome;
    int error;
    int file_changed;
    int misnumbered;
    std::uint64_t unread_normals;
    std::uint64_t misnumbered_place;
    int misnumbered_number;
    std::uint64_t vertices, faces;
    std::uint64_t vertices_at, faces_at; // where the lists lie in the child, for this process to copy
};

struct ReadingJob {
    struct stat at_start;
    std::size_t most_list_bytes;
};

// The shortest texts that hold a record, as the reader reserves for them.
const std::uint64_t shortest_vertex_record = 26, shortest_face_record = 11;
// What an unprivileged process may ask of a pipe (/proc/sys/fs/pipe-max-size).
const int pipe_bytes = 1 << 20;

// The header; then the child waits, its lists where it said, until this process has copied them
// straight out of its memory and closes the line it waits on, or asks for them on the pipe.
int read_and_send(void* context)
{
    const ReadingJob& job = *static_cast<const ReadingJob*>(context);
    MeshStore mesh;
    const ReadReport report = read_opened_file(input_descriptor, job.at_start, mesh, job.most_list_bytes);
    const ReadingFindings& f = report.findings;
    const ListsHeader header{int(report.outcome),
                             report.error,
                             report.file_changed,
                             f.misnumbered,
                             f.unread_normals,
                             f.misnumbered_place,
                             f.misnumbered_number,
                             mesh.vertices.size(),
                             mesh.faces.size(),
                             std::uint64_t(reinterpret_cast<std::uintptr_t>(mesh.vertices.data())),
                             std::uint64_t(reinterpret_cast<std::uintptr_t>(mesh.faces.data()))};
    if (!write_all(report_descriptor, &header, sizeof header))
        return 1;
    char asked = 0;
    ssize_t got;
    while ((got = read(broker_descriptor, &asked, 1)) < 0 && errno == EINTR) {
    }
    if (got == 1 && asked == 'p' && !(write_all(report_descriptor, mesh.vertices.data(), mesh.vertices.size() * sizeof(Vertex)) &&
                                        write_all(report_descriptor, mesh.faces.data(), mesh.faces.size() * sizeof(Face))))
        return 1;
    return 0;
}

// Exactly `count` bytes of the child's report, its chatter drained meanwhile; false when it ends
// first. A reading has no deadline: a stream may take as long as its writer does.
bool receive(ConfinedChild& child, void* into, std::size_t count)
{
    char* at = static_cast<char*>(into);
    while (count > 0) {
        const ssize_t got = read(child.report, at, count);
        if (got > 0) {
            at += got;
            count -= std::size_t(got);
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EINTR))
            return false;
        pollfd waiting[2] = {{child.report, POLLIN, 0}, {child.chatter, POLLIN, 0}};
        poll(waiting, child.chatter >= 0 ? 2 : 1, -1);
        if (child.chatter >= 0 && waiting[1].revents && !take_what_is_there(child, child.chatter, nullptr, 0)) {
            close(child.chatter);
            child.chatter = -1;
        }
    }
    return true;
}

ReadReport failed(ReadOutcome outcome, int error)
{
    ReadReport report;
    report.outcome = outcome;
    report.error = error;
    report.reason = std::strerror(error);
    return report;
}

// The most records of a kind the lists may hold, and the file's text can begin.
std::uint64_t most_records(const ReadingJob& job, std::size_t record_bytes, std::uint64_t shortest_text)
{
    const std::uint64_t by_memory = job.most_list_bytes / record_bytes + 1;
    if (!S_ISREG(job.at_start.st_mode) || job.at_start.st_size <= 0)
        return by_memory;
    return std::min(by_memory, std::uint64_t(job.at_start.st_size) / shortest_text + 2);
}

bool believable(const ListsHeader& h, const ReadingJob& job)
{
    return h.outcome >= int(ReadOutcome::complete) && h.outcome <= int(ReadOutcome::overlong_record) &&
           h.outcome != int(ReadOutcome::cannot_open) && h.error >= 0 && h.error < 4096 &&
           h.vertices <= most_records(job, sizeof(Vertex), shortest_vertex_record) &&
           h.faces <= most_records(job, sizeof(Face), shortest_face_record) && h.unread_normals <= h.vertices + (1u << 30);
}

ReadReport report_of(const ListsHeader& h)
{
    ReadReport report;
    report.outcome = ReadOutcome(h.outcome);
    report.error = h.error;
    if (report.outcome == ReadOutcome::read_failed)
        report.reason = std::strerror(h.error);
    report.file_changed = h.file_changed != 0;
    report.findings.unread_normals = h.unread_normals;
    report.findings.misnumbered = h.misnumbered != 0;
    report.findings.misnumbered_place = h.misnumbered_place;
    report.findings.misnumbered_number = h.misnumbered_number;
    return report;
}

// One copy, by the kernel, from the child's memory into the lists; false when the kernel will
// not (a host that forbids it), or the child's memory is not what it said.
template <typename Record>
bool copy_out_of(pid_t child, std::uint64_t at, std::vector<Record>& list)
{
    std::size_t done = 0;
    const std::size_t bytes = list.size() * sizeof(Record);
    while (done < bytes) {
        iovec local{reinterpret_cast<char*>(list.data()) + done, bytes - done};
        iovec remote{reinterpret_cast<void*>(std::uintptr_t(at + done)), bytes - done};
        const ssize_t got = process_vm_readv(child, &local, 1, &remote, 1, 0);
        if (got <= 0)
            return false;
        done += std::size_t(got);
    }
    return true;
}

ReadReport take_lists(ConfinedChild& child, int go_on, const ReadingJob& job, MeshStore& mesh)
{
    ListsHeader header{};
    if (!receive(child, &header, sizeof header) || !believable(header, job))
        return failed(ReadOutcome::read_failed, EPROTO);
    reserve_lists(mesh, header.vertices, header.faces);
    mesh.vertices.resize(header.vertices);
    mesh.faces.resize(header.faces);
    bool taken = copy_out_of(child.pid, header.vertices_at, mesh.vertices) && copy_out_of(child.pid, header.faces_at, mesh.faces);
    if (!taken) {
        const char by_pipe = 'p';
        taken = write(go_on, &by_pipe, 1) == 1 && receive(child, mesh.vertices.data(), mesh.vertices.size() * sizeof(Vertex)) &&
                receive(child, mesh.faces.data(), mesh.faces.size() * sizeof(Face));
    }
    if (!taken) {
        mesh = MeshStore{};
        return failed(ReadOutcome::read_failed, EPROTO);
    }
    return report_of(header);
}

} // namespace

ReadReport read_mesh_file_confined(const std::string& path, MeshStore& mesh, std::size_t most_list_bytes)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    ReadingJob job{};
    job.most_list_bytes = most_list_bytes;
    if (fd < 0 || fstat(fd, &job.at_start) != 0) {
        const ReadReport report = failed(ReadOutcome::cannot_open, errno);
        if (fd >= 0)
            close(fd);
        return report;
    }
    if (S_ISDIR(job.at_start.st_mode)) {
        close(fd);
        return failed(ReadOutcome::cannot_open, EISDIR);
    }
    int go_on[2];
    if (pipe2(go_on, O_CLOEXEC) != 0) {
        const ReadReport report = failed(ReadOutcome::read_failed, errno);
        close(fd);
        return report;
    }
    ConfinedChild child = start_confined(ConfinedKind::reading, Handed{fd, -1, go_on[0]}, read_and_send, &job);
    const int error = errno;
    close(fd);
    close(go_on[0]);
    if (child.pid < 0) {
        close(go_on[1]);
        return failed(ReadOutcome::read_failed, error);
    }
    fcntl(child.report, F_SETPIPE_SZ, pipe_bytes);
    mesh = MeshStore{};
    const ReadReport report = take_lists(child, go_on[1], job, mesh);
    close(go_on[1]);
    end_child(child);
    return report;
}

ReadReport read_mesh_file_confined(const std::string& path, MeshStore& mesh)
{
    return read_mesh_file_confined(path, mesh, most_list_bytes_by_default());
}
