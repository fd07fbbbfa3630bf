// Everything the libraries need is taken when they are loaded, before the tool confines anything:
// the shared memory mapped, the input's identity taken, the next definitions of the calls found.
// A confined child inherits all of it through fork, and looks at a descriptor only with the fstat
// call itself, which every kind may make.
#include "first_read.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "probe_memory.h"

namespace {

ProbeMemory* memory = nullptr;
pid_t loaded_in = 0, parent_at_load = 0;
std::atomic<pid_t> fired_in{0};
char host_name[65] = "";

using Read = ssize_t (*)(int, void*, size_t);
using Pread = ssize_t (*)(int, void*, size_t, off_t);
using Pread64 = ssize_t (*)(int, void*, size_t, off64_t);
using Readv = ssize_t (*)(int, const struct iovec*, int);
using Fread = size_t (*)(void*, size_t, size_t, FILE*);
using Fgets = char* (*)(char*, int, FILE*);

Read next_read;
Pread next_pread;
Pread64 next_pread64;
Readv next_readv;
Fread next_fread;
Fgets next_fgets;

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Another library's constructor may read before this one's has run.
template <typename Function>
Function found(Function& kept, const char* name)
{
    if (!kept)
        kept = next<Function>(name);
    return kept;
}

bool status_of(int fd, struct stat& status)
{
    return syscall(SYS_fstat, fd, &status) == 0;
}

void remember_identity(const struct stat& status, bool only_the_first)
{
    std::uint32_t at = 0;
    if (only_the_first) {
        if (!memory->identities.compare_exchange_strong(at, 1))
            return;
    } else {
        at = memory->identities.fetch_add(1);
    }
    if (at >= sizeof memory->identity / sizeof memory->identity[0])
        return;
    memory->identity[at].device = status.st_dev;
    memory->identity[at].inode = status.st_ino;
    memory->identity[at].ready.store(1);
}

void remember_process(pid_t pid, pid_t parent)
{
    const std::uint32_t at = memory->processes.fetch_add(1);
    if (at >= sizeof memory->process / sizeof memory->process[0])
        return;
    memory->process[at].pid = pid;
    memory->process[at].parent = parent;
    memory->process[at].ready.store(1);
}

bool holds_the_input(int fd)
{
    struct stat status {};
    if (!status_of(fd, status))
        return false;
    const std::uint32_t count = std::min<std::uint32_t>(memory->identities.load(), 32);
    for (std::uint32_t i = 0; i < count; ++i)
        if (memory->identity[i].ready.load() && memory->identity[i].device == status.st_dev &&
            memory->identity[i].inode == status.st_ino)
            return true;
    return false;
}

// A confined child writes what it made of the input on its output descriptor: that carries the
// input's bytes on to whoever reads it next (the judging child, the drawing child, the viewer).
void take_the_output_as_input()
{
    const int output_descriptor = 5;
    struct stat status {};
    if (status_of(output_descriptor, status))
        remember_identity(status, false);
}

void look_at(int fd)
{
    if (!memory)
        return;
    const pid_t self = getpid();
    pid_t before = fired_in.load();
    if (before == self || !holds_the_input(fd) || !fired_in.compare_exchange_strong(before, self))
        return;
    const int saved = errno;
    remember_process(self, parent_of_this_process());
    take_the_output_as_input();
    on_first_read_of_input(fd);
    errno = saved;
}

__attribute__((constructor)) void load()
{
    next_read = next<Read>("read");
    next_pread = next<Pread>("pread");
    next_pread64 = next<Pread64>("pread64");
    next_readv = next<Readv>("readv");
    next_fread = next<Fread>("fread");
    next_fgets = next<Fgets>("fgets");
    const char* const path = getenv("OLVANTA_PROBE_MEMORY");
    const int fd = path ? open(path, O_RDWR | O_CLOEXEC) : -1;
    if (fd < 0)
        return;
    void* const mapped = mmap(nullptr, probe_memory_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (mapped == MAP_FAILED)
        return;
    memory = static_cast<ProbeMemory*>(mapped);
    loaded_in = getpid();
    parent_at_load = getppid();
    remember_process(loaded_in, parent_at_load);
    utsname names {};
    if (uname(&names) == 0)
        std::snprintf(host_name, sizeof host_name, "%s", names.nodename);
    // The first process of the tool names the input; later ones (a viewer whose standard input
    // is another pipe) must not name theirs.
    struct stat input {};
    const char* const input_path = getenv("OLVANTA_PROBE_INPUT");
    if (input_path && stat(input_path, &input) == 0)
        remember_identity(input, true);
}

} // namespace

void tell(const std::string& text)
{
    if (!memory)
        return;
    const std::uint64_t at = memory->said.fetch_add(text.size());
    if (at + text.size() <= probe_text_room)
        std::memcpy(memory->text + at, text.data(), text.size());
}

std::string role_of_this_process(int fd)
{
    char folder[4096];
    unsigned char random = 0;
    const bool polls = poll(nullptr, 0, 0) == 0;
    const bool asks_its_folder = getcwd(folder, sizeof folder) != nullptr;
    const bool asks_for_random = getrandom(&random, 1, GRND_NONBLOCK) == 1;
    const char* kind = polls && asks_its_folder && asks_for_random ? "none"
                       : polls && !asks_its_folder && !asks_for_random ? "reading"
                       : !polls && asks_its_folder && !asks_for_random ? "converting"
                       : !polls && !asks_its_folder && asks_for_random ? "drawing"
                                                                       : "other";
    struct stat status {};
    const char* reads = !status_of(fd, status)                         ? "other"
                        : S_ISFIFO(status.st_mode)                     ? "pipe"
                        : S_ISREG(status.st_mode) && status.st_nlink == 0 ? "memory"
                        : S_ISREG(status.st_mode)                      ? "file"
                                                                       : "other";
    std::string open_descriptors;
    for (int d = 3; d <= 6; ++d)
        if (status_of(d, status))
            open_descriptors += (open_descriptors.empty() ? "" : ",") + std::to_string(d);
    return std::string(program_invocation_short_name) + " " + kind + " " + reads + " " + open_descriptors;
}

pid_t parent_of_this_process()
{
    return getpid() != loaded_in ? loaded_in : parent_at_load;
}

pid_t sibling_of_this_process()
{
    if (!memory)
        return 0;
    const pid_t self = getpid(), parent = parent_of_this_process();
    const std::uint32_t count = std::min<std::uint32_t>(memory->processes.load(), 256);
    for (std::uint32_t i = count; i-- > 0;)
        if (memory->process[i].ready.load() && memory->process[i].parent == parent && memory->process[i].pid != self)
            return memory->process[i].pid;
    return 0;
}

std::string host_name_at_load()
{
    return host_name;
}

extern "C" {

ssize_t read(int fd, void* into, size_t count)
{
    look_at(fd);
    const ssize_t got = found(next_read, "read")(fd, into, count);
    if (got > 0)
        look_at(fd);
    return got;
}

ssize_t pread(int fd, void* into, size_t count, off_t at)
{
    look_at(fd);
    const ssize_t got = found(next_pread, "pread")(fd, into, count, at);
    if (got > 0)
        look_at(fd);
    return got;
}

ssize_t pread64(int fd, void* into, size_t count, off64_t at)
{
    look_at(fd);
    const ssize_t got = found(next_pread64, "pread64")(fd, into, count, at);
    if (got > 0)
        look_at(fd);
    return got;
}

ssize_t readv(int fd, const struct iovec* parts, int count)
{
    look_at(fd);
    const ssize_t got = found(next_readv, "readv")(fd, parts, count);
    if (got > 0)
        look_at(fd);
    return got;
}

size_t fread(void* into, size_t size, size_t count, FILE* stream)
{
    look_at(fileno(stream));
    const size_t got = found(next_fread, "fread")(into, size, count, stream);
    if (got > 0)
        look_at(fileno(stream));
    return got;
}

char* fgets(char* into, int size, FILE* stream)
{
    look_at(fileno(stream));
    char* const got = found(next_fgets, "fgets")(into, size, stream);
    if (got)
        look_at(fileno(stream));
    return got;
}

} // extern "C"
