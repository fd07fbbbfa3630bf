// Loaded into a real tool with LD_PRELOAD, it does what an exploited parser would: the first time
// a process of the tool reads the input's bytes (through any descriptor of the input's file, or a
// pipe it opens by /dev/fd/N, as the thumbnailer reads the converter's output), it tries every
// escape and reports how each went on the descriptor the test passed in, then lets the reading go
// on, so the tool can still do its job. A process that only opens the file and hands its
// descriptor on reads nothing of it.
//   OLVANTA_PROBE_INPUT       the input, by any name
//   OLVANTA_PROBE_REPORT_FD   where the reports go, one block a process
//   OLVANTA_PROBE_BESIDE, _TCP_PORT, _LOCAL_SOCKET, _ABSTRACT_SOCKET, _VICTIM: the targets;
//   HOME holds the key and the start-up file.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <string>

#include "escape_attempts.h"

namespace {

bool probing = false;
pid_t probed_in = 0;

std::string from_environment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

EscapeTargets targets_from_environment()
{
    EscapeTargets t;
    t.input = from_environment("OLVANTA_PROBE_INPUT");
    t.home = from_environment("HOME");
    t.beside = from_environment("OLVANTA_PROBE_BESIDE");
    t.temporary_folder = "/tmp";
    t.tcp_port = atoi(from_environment("OLVANTA_PROBE_TCP_PORT").c_str());
    t.local_socket = from_environment("OLVANTA_PROBE_LOCAL_SOCKET");
    t.abstract_socket = from_environment("OLVANTA_PROBE_ABSTRACT_SOCKET");
    t.victim = pid_t(atoi(from_environment("OLVANTA_PROBE_VICTIM").c_str()));
    return t;
}

bool is_a_pipe_by_descriptor(const char* path)
{
    struct stat opened {};
    return std::string(path).rfind("/dev/fd/", 0) == 0 && stat(path, &opened) == 0 && S_ISFIFO(opened.st_mode);
}

bool reads_the_input(int fd)
{
    struct stat input {}, reading {};
    return stat(from_environment("OLVANTA_PROBE_INPUT").c_str(), &input) == 0 && fstat(fd, &reading) == 0 &&
           input.st_dev == reading.st_dev && input.st_ino == reading.st_ino;
}

void try_every_escape(const std::string& what)
{
    const int saved = errno;
    probing = true;
    probed_in = getpid();
    const std::string report = "@@ " + std::to_string(getpid()) + " " + program_invocation_short_name + " " + what +
                               "\n" + outcome_lines(try_to_escape(targets_from_environment()));
    const ssize_t written = write(atoi(from_environment("OLVANTA_PROBE_REPORT_FD").c_str()), report.data(), report.size());
    (void)written;
    probing = false;
    errno = saved;
}

void probe_reading(int fd)
{
    if (!probing && probed_in != getpid() && reads_the_input(fd))
        try_every_escape("reading the input");
}

// Only an opening that can read counts: the confinement itself names places with O_PATH.
void probe(const char* path, int flags = O_RDONLY)
{
    if ((flags & O_PATH) || probing || probed_in == getpid() || !is_a_pipe_by_descriptor(path))
        return;
    try_every_escape(std::string("opening ") + path);
}

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

mode_t mode_of(int flags, va_list arguments)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(arguments, int)) : 0;
}

// A path relative to another folder than the working one is no name the probe can judge.
int probed_openat(const char* name, int folder, const char* path, int flags, mode_t mode)
{
    if (folder == AT_FDCWD || path[0] == '/')
        probe(path, flags);
    return next<int (*)(int, const char*, int, ...)>(name)(folder, path, flags, mode);
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_of(flags, arguments);
    va_end(arguments);
    probe(path, flags);
    return next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_of(flags, arguments);
    va_end(arguments);
    probe(path, flags);
    return next<int (*)(const char*, int, ...)>("open64")(path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_of(flags, arguments);
    va_end(arguments);
    return probed_openat("openat", folder, path, flags, mode);
}

int openat64(int folder, const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_of(flags, arguments);
    va_end(arguments);
    return probed_openat("openat64", folder, path, flags, mode);
}

FILE* fopen(const char* path, const char* mode)
{
    probe(path);
    return next<FILE* (*)(const char*, const char*)>("fopen")(path, mode);
}

FILE* fopen64(const char* path, const char* mode)
{
    probe(path);
    return next<FILE* (*)(const char*, const char*)>("fopen64")(path, mode);
}

ssize_t read(int fd, void* into, size_t count)
{
    probe_reading(fd);
    return next<ssize_t (*)(int, void*, size_t)>("read")(fd, into, count);
}

ssize_t pread(int fd, void* into, size_t count, off_t at)
{
    probe_reading(fd);
    return next<ssize_t (*)(int, void*, size_t, off_t)>("pread")(fd, into, count, at);
}

ssize_t pread64(int fd, void* into, size_t count, off64_t at)
{
    probe_reading(fd);
    return next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64")(fd, into, count, at);
}

ssize_t readv(int fd, const struct iovec* parts, int count)
{
    probe_reading(fd);
    return next<ssize_t (*)(int, const struct iovec*, int)>("readv")(fd, parts, count);
}

size_t fread(void* into, size_t size, size_t count, FILE* stream)
{
    probe_reading(fileno(stream));
    return next<size_t (*)(void*, size_t, size_t, FILE*)>("fread")(into, size, count, stream);
}

char* fgets(char* into, int size, FILE* stream)
{
    probe_reading(fileno(stream));
    return next<char* (*)(char*, int, FILE*)>("fgets")(into, size, stream);
}

} // extern "C"
