// Reading a mesh file: mapped into memory when it is a regular file, read to its end otherwise.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "mesh/mesh_reader.h"

namespace {

// Below this a second thread costs more than it saves.
const std::size_t bytes_worth_a_thread = 4u << 20;

int parts_for(std::size_t bytes)
{
    const unsigned cores = std::thread::hardware_concurrency();
    const std::size_t most = bytes / bytes_worth_a_thread;
    return static_cast<int>(std::max<std::size_t>(1, std::min<std::size_t>(cores ? cores : 1, most)));
}

ReadOutcome read_text(const char* begin, std::size_t size, MeshStore& mesh)
{
    return read_mesh_text_in_parts(begin, begin + size, mesh, parts_for(size));
}

ReadOutcome failure(std::string& reason, int error)
{
    reason = std::strerror(error);
    return ReadOutcome::cannot_open;
}

// Pipes and other streams have no size to map. Should memory run out while the text is still
// coming, what has arrived is read.
ReadOutcome read_stream(int fd, MeshStore& mesh, std::string& reason)
{
    std::string text;
    char block[1 << 16];
    bool memory_ran_out = false;
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got == 0)
            break;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failure(reason, errno);
        try {
            text.append(block, static_cast<std::size_t>(got));
        } catch (const std::bad_alloc&) {
            memory_ran_out = true;
            break;
        }
    }
    const ReadOutcome outcome = read_text(text.data(), text.size(), mesh);
    return memory_ran_out ? ReadOutcome::out_of_memory : outcome;
}

// Tearing down a large mapping takes the kernel a while; nobody need wait for it.
void release_in_background(void* text, std::size_t size)
{
    try {
        std::thread([text, size] { munmap(text, size); }).detach();
    } catch (const std::system_error&) {
        munmap(text, size);
    }
}

ReadOutcome read_mapped(int fd, std::size_t size, MeshStore& mesh, std::string& reason)
{
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (text == MAP_FAILED)
        return failure(reason, errno);
    const ReadOutcome outcome = read_text(static_cast<const char*>(text), size, mesh);
    release_in_background(text, size);
    return outcome;
}

ReadOutcome read_open_file(int fd, MeshStore& mesh, std::string& reason)
{
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return failure(reason, errno);
    if (S_ISDIR(info.st_mode))
        return failure(reason, EISDIR);
    if (S_ISREG(info.st_mode) && info.st_size > 0)
        return read_mapped(fd, static_cast<std::size_t>(info.st_size), mesh, reason);
    return read_stream(fd, mesh, reason);
}

} // namespace

ReadOutcome read_mesh_file(const std::string& path, MeshStore& mesh, std::string& reason)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failure(reason, errno);
    const ReadOutcome outcome = read_open_file(fd, mesh, reason);
    close(fd);
    return outcome;
}
