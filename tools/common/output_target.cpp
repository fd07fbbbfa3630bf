// Writing OUTPUT the way a careful copy does: whole or not at all for files, links kept as links.
#include "output_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

// Follows a chain of symbolic links to the name at its end, which need not exist yet.
bool follow_links(std::string& path, struct stat& info, bool& exists, std::string& reason)
{
    for (int hop = 0;; ++hop) {
        if (lstat(path.c_str(), &info) != 0) {
            exists = false;
            return errno == ENOENT ? true : fail(reason, errno);
        }
        exists = true;
        if (!S_ISLNK(info.st_mode))
            return true;
        if (hop == most_links)
            return fail(reason, ELOOP);
        char target[4096];
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length < 0)
            return fail(reason, errno);
        const std::string next(target, std::size_t(length));
        path = next.front() == '/' ? next : directory_of(path) + "/" + next;
    }
}

} // namespace

bool plan_output(const std::string& output, OutputTarget& target, std::string& reason)
{
    target.named = target.path = output;
    struct stat info {};
    bool exists = false;
    if (!follow_links(target.path, info, exists, reason))
        return false;
    if (!exists)
        return true;
    if (S_ISDIR(info.st_mode))
        return fail(reason, EISDIR);
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) {
        target.direct = true;
        return true;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = "it is neither a regular file, a character device nor a FIFO";
        return false;
    }
    target.exists = true;
    target.mode = info.st_mode & 07777;
    return true;
}

int open_output(OutputTarget& target, const std::string& tool, std::string& reason)
{
    if (target.direct) {
        const int fd = open(target.path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0)
            fail(reason, errno);
        return fd;
    }
    std::string temporary = directory_of(target.path) + "/." + tool + "-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        fail(reason, errno);
        return -1;
    }
    target.temporary = temporary;
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, target.exists ? target.mode : target.mode & ~mask);
    return fd;
}

bool write_and_close(const OutputTarget& target, int fd, StreamWriter write, const void* what,
                     std::string& reason)
{
    std::FILE* out = fdopen(fd, "wb");
    if (!out) {
        const bool closed = close(fd) == 0;
        return fail(reason, closed ? EIO : errno);
    }
    errno = 0;
    bool written = write(out, what) && std::fflush(out) == 0;
    if (!written)
        fail(reason, errno ? errno : EIO);
    if (written && !target.direct && fsync(fd) != 0)
        written = fail(reason, errno);
    if (std::fclose(out) != 0 && written)
        written = fail(reason, errno);
    return written;
}

bool finish_output(const OutputTarget& target, std::string& reason)
{
    if (target.direct)
        return true;
    if (std::rename(target.temporary.c_str(), target.path.c_str()) == 0)
        return true;
    fail(reason, errno);
    discard_output(target);
    return false;
}

void discard_output(const OutputTarget& target)
{
    if (!target.temporary.empty())
        unlink(target.temporary.c_str());
}
