// Writing OUTPUT the way a careful copy does: whole or not at all for files, links kept as links,
// open descriptors written through where they stand, and never the file being read.
#include "output_target.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cleanup_on_signal.h"
#include "filled_output.h"
#include "mesh/shown_text.h"

namespace {

// As the system itself allows before it gives ELOOP.
const int most_links = 40;

std::string directory_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool fail(std::string& reason, int error)
{
    reason = std::strerror(error);
    return false;
}

bool whole_number(const std::string& text, int& value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::atoi(text.c_str());
    return true;
}

// The descriptor a name stands for, or -1: these names are links to whatever the descriptor
// holds (a pipe, a socket, a file at some position), which only the descriptor itself can reach.
int descriptor_named(const std::string& path)
{
    if (path == "/dev/stdin")
        return 0;
    if (path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
    int number = -1;
    for (const std::string& folder : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                      std::string("/proc/thread-self/fd/"), own})
        if (path.rfind(folder, 0) == 0 && whole_number(path.substr(folder.size()), number))
            return number;
    return -1;
}

bool writable_descriptor(int fd, std::string& reason)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return fail(reason, errno);
    if ((flags & O_ACCMODE) == O_RDONLY)
        return fail(reason, EBADF);
    return true;
}

// Follows a chain of symbolic links to the name at its end, which need not exist yet, or to a
// name that stands for an open descriptor.
bool follow_links(OutputTarget& target, struct stat& info, bool& exists, std::string& reason)
{
    for (int hop = 0;; ++hop) {
        target.descriptor = descriptor_named(target.path);
        if (target.descriptor >= 0) {
            target.kind = OutputKind::descriptor;
            return writable_descriptor(target.descriptor, reason);
        }
        if (lstat(target.path.c_str(), &info) != 0) {
            exists = false;
            return errno == ENOENT ? true : fail(reason, errno);
        }
        exists = true;
        if (!S_ISLNK(info.st_mode))
            return true;
        if (hop == most_links)
            return fail(reason, ELOOP);
        char next[4096];
        const ssize_t length = readlink(target.path.c_str(), next, sizeof next - 1);
        if (length < 0)
            return fail(reason, errno);
        const std::string step(next, std::size_t(length));
        target.path = step.front() == '/' ? step : directory_of(target.path) + "/" + step;
    }
}

int connect_to_socket(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::string descriptor_path(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

void set_mode(const OutputTarget& target, int fd)
{
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, target.exists ? target.mode : target.mode & ~mask);
}

// A file with no name yet: if the tool dies before it is complete, even by SIGKILL, nothing is
// left. It gets a name through /proc, so it is used only where that works.
int open_unnamed(const OutputTarget& target)
{
    const int fd = open(directory_of(target.path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0 && access(descriptor_path(fd).c_str(), F_OK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string random_suffix()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static unsigned counter = 0;
    unsigned char bytes[6] = {};
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes))
        for (unsigned k = 0; k < sizeof bytes; ++k)
            bytes[k] = static_cast<unsigned char>((unsigned(getpid()) >> (4 * k)) + 7 * counter++);
    std::string suffix;
    for (const unsigned char b : bytes)
        suffix += letters[b % (sizeof letters - 1)];
    return suffix;
}

// The complete unnamed file gets a temporary name beside the target, for the rename.
bool name_unnamed(OutputTarget& target, int fd, const std::string& prefix, std::string& reason)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        target.temporary = prefix + random_suffix();
        remove_on_signal(target.temporary.c_str());
        if (linkat(AT_FDCWD, descriptor_path(fd).c_str(), AT_FDCWD, target.temporary.c_str(),
                   AT_SYMLINK_FOLLOW) == 0)
            return true;
        const int error = errno;
        forget_on_signal(target.temporary.c_str());
        target.temporary.clear();
        if (error != EEXIST)
            return fail(reason, error);
    }
    return fail(reason, EEXIST);
}

std::string temporary_prefix(const OutputTarget& target, const std::string& tool)
{
    return directory_of(target.path) + "/." + tool + "-";
}

// A new file beside the target: unnamed where the system allows, else under a temporary name.
int open_replacement(OutputTarget& target, const std::string& tool)
{
    int fd = open_unnamed(target);
    target.unnamed = fd >= 0;
    if (fd < 0) {
        std::string temporary = temporary_prefix(target, tool) + "XXXXXX";
        fd = mkostemp(temporary.data(), O_CLOEXEC);
        if (fd >= 0) {
            target.temporary = temporary;
            remove_on_signal(temporary.c_str());
        }
    }
    if (fd >= 0)
        set_mode(target, fd);
    target.temporary_prefix = temporary_prefix(target, tool);
    return fd;
}

} // namespace

bool plan_output(const std::string& output, OutputTarget& target, std::string& reason)
{
    target = OutputTarget{};
    target.named = target.path = output;
    struct stat info {};
    bool exists = false;
    if (!follow_links(target, info, exists, reason))
        return false;
    if (target.kind == OutputKind::descriptor || !exists)
        return true;
    if (S_ISDIR(info.st_mode))
        return fail(reason, EISDIR);
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) {
        target.kind = OutputKind::direct;
        return true;
    }
    if (S_ISSOCK(info.st_mode)) {
        target.kind = OutputKind::socket;
        return true;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = "it is neither a regular file, a character device, a FIFO nor a socket";
        return false;
    }
    target.exists = true;
    target.mode = info.st_mode & 07777;
    return true;
}

namespace {

bool target_is(const OutputTarget& target, const struct stat& file)
{
    struct stat out {};
    const int got = target.kind == OutputKind::descriptor ? fstat(target.descriptor, &out)
                                                          : stat(target.path.c_str(), &out);
    return got == 0 && file.st_dev == out.st_dev && file.st_ino == out.st_ino;
}

} // namespace

bool output_is_input(const OutputTarget& target, const std::string& input)
{
    struct stat in {};
    return stat(input.c_str(), &in) == 0 && target_is(target, in);
}

bool output_is_open_as(const OutputTarget& target, int fd)
{
    struct stat open_file {};
    return fstat(fd, &open_file) == 0 && target_is(target, open_file);
}

std::string same_file_message(const std::string& input, const std::string& output)
{
    return quoted_name(input) + " and " + quoted_name(output) + " are the same file; the input is left as it is";
}

int open_output(OutputTarget& target, const std::string& tool, std::string& reason)
{
    int fd = target.kind == OutputKind::filled ? open_filled(target) : -1;
    switch (target.kind) {
    case OutputKind::descriptor: fd = fcntl(target.descriptor, F_DUPFD_CLOEXEC, 3); break;
    case OutputKind::direct: fd = open(target.path.c_str(), O_WRONLY | O_CLOEXEC); break;
    case OutputKind::filled: break;
    case OutputKind::socket: fd = connect_to_socket(target.path); break;
    case OutputKind::replaced: fd = open_replacement(target, tool); break;
    }
    if (fd < 0)
        fail(reason, errno);
    return fd;
}

bool write_output(const OutputTarget& target, int fd, StreamWriter write, const void* what,
                  std::string& reason)
{
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    std::FILE* out = copy < 0 ? nullptr : fdopen(copy, "wb");
    if (!out) {
        const int error = errno;
        if (copy >= 0)
            close(copy);
        return fail(reason, error);
    }
    errno = 0;
    bool written = write(out, what) && std::fflush(out) == 0;
    if (!written)
        fail(reason, errno ? errno : EIO);
    if (written && (target.kind == OutputKind::replaced || target.kind == OutputKind::filled) && fsync(fd) != 0)
        written = fail(reason, errno);
    if (std::fclose(out) != 0 && written)
        written = fail(reason, errno);
    return written;
}

bool finish_output(OutputTarget& target, int fd, std::string& reason)
{
    if (target.kind != OutputKind::replaced)
        return close(fd) == 0 || errno == EINTR || fail(reason, errno);
    if (target.unnamed && !name_unnamed(target, fd, target.temporary_prefix, reason)) {
        discard_output(target, fd);
        return false;
    }
    close(fd);
    if (std::rename(target.temporary.c_str(), target.path.c_str()) != 0) {
        fail(reason, errno);
        discard_output(target, -1);
        return false;
    }
    forget_on_signal(target.temporary.c_str());
    target.temporary.clear();
    return true;
}

void discard_output(OutputTarget& target, int fd)
{
    if (fd >= 0 && target.kind == OutputKind::filled)
        empty_filled(fd);
    if (fd >= 0)
        close(fd);
    if (target.temporary.empty())
        return;
    unlink(target.temporary.c_str());
    forget_on_signal(target.temporary.c_str());
    target.temporary.clear();
}

bool write_whole_output(const std::string& output, const std::string& tool, StreamWriter write,
                        const void* what, std::string& reason)
{
    OutputTarget target;
    return plan_output(output, target, reason) && write_planned_output(target, tool, write, what, reason);
}

bool write_planned_output(OutputTarget& target, const std::string& tool, StreamWriter write, const void* what,
                          std::string& reason)
{
    const int fd = open_output(target, tool, reason);
    if (fd < 0)
        return false;
    if (!write_output(target, fd, write, what, reason)) {
        discard_output(target, fd);
        return false;
    }
    return finish_output(target, fd, reason);
}
