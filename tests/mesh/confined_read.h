// The viewer's own way of reading a file: in a confined child, its lists taken out of the child's
// memory by the kernel, or through a pipe on a host where the kernel will not copy between
// processes (here: a filter that refuses process_vm_readv, as such a host does).
#pragma once

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

#include "mesh/confined_reading.h"
#include "test_files.h"

enum class ListsTaken { by_copy, by_pipe };

namespace confined_read_detail {

inline void refuse_copies_between_processes()
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_process_vm_readv, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        _exit(3);
}

inline bool put(int fd, const void* bytes, std::size_t count)
{
    for (const char* p = static_cast<const char*>(bytes); count > 0;) {
        const ssize_t done = write(fd, p, count);
        if (done <= 0)
            return false;
        p += done, count -= std::size_t(done);
    }
    return true;
}

inline bool take(int fd, void* bytes, std::size_t count)
{
    for (char* p = static_cast<char*>(bytes); count > 0;) {
        const ssize_t done = read(fd, p, count);
        if (done <= 0)
            return false;
        p += done, count -= std::size_t(done);
    }
    return true;
}

} // namespace confined_read_detail

// The text as a file read confined; the report's outcome and findings, and the lists. A reading
// that could not be had at all is a read_failed report with the reason "no reading".
inline ReadReport read_text_confined(const std::string& text, MeshStore& mesh, ListsTaken way)
{
    using namespace confined_read_detail;
    const std::string path = write_temporary_file(text);
    mesh = MeshStore{};
    ReadReport report;
    if (way == ListsTaken::by_copy) {
        report = read_mesh_file_confined(path, mesh);
        unlink(path.c_str());
        return report;
    }
    int ends[2];
    if (pipe(ends) != 0)
        return report.outcome = ReadOutcome::read_failed, report.reason = "no reading", report;
    const pid_t reader = fork();
    if (reader == 0) {
        close(ends[0]);
        refuse_copies_between_processes();
        MeshStore read;
        const ReadReport said = read_mesh_file_confined(path, read);
        const std::size_t counts[2] = {read.vertices.size(), read.faces.size()};
        const bool sent = put(ends[1], &said.outcome, sizeof said.outcome) &&
                          put(ends[1], &said.findings, sizeof said.findings) && put(ends[1], counts, sizeof counts) &&
                          put(ends[1], read.vertices.data(), counts[0] * sizeof(Vertex)) &&
                          put(ends[1], read.faces.data(), counts[1] * sizeof(Face));
        _exit(sent ? 0 : 1);
    }
    close(ends[1]);
    std::size_t counts[2] = {};
    bool taken = take(ends[0], &report.outcome, sizeof report.outcome) &&
                 take(ends[0], &report.findings, sizeof report.findings) && take(ends[0], counts, sizeof counts);
    if (taken) {
        mesh.vertices.resize(counts[0]);
        mesh.faces.resize(counts[1]);
        taken = take(ends[0], mesh.vertices.data(), counts[0] * sizeof(Vertex)) &&
                take(ends[0], mesh.faces.data(), counts[1] * sizeof(Face));
    }
    close(ends[0]);
    int status = 0;
    waitpid(reader, &status, 0);
    unlink(path.c_str());
    if (!taken || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        mesh = MeshStore{};
        report = ReadReport{};
        report.outcome = ReadOutcome::read_failed;
        report.reason = "no reading";
    }
    return report;
}
