// The file is checked by name when planned and again by descriptor once open, so a name swapped
// in between (for a link to someone else's file, say) is replaced rather than written into.
#include "filled_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool fillable(const struct stat& info)
{
    return S_ISREG(info.st_mode) && info.st_size == 0 && info.st_uid == geteuid() && info.st_nlink == 1;
}

} // namespace

void fill_if_empty(OutputTarget& target)
{
    struct stat info {};
    if (target.kind == OutputKind::replaced && target.exists && stat(target.path.c_str(), &info) == 0 &&
        fillable(info))
        target.kind = OutputKind::filled;
}

int open_filled(OutputTarget& target)
{
    // Without waiting, should the name lead to a FIFO by now.
    const int fd = open(target.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (fstat(fd, &info) == 0 && fillable(info)) {
        fcntl(fd, F_SETFL, 0);
        return fd;
    }
    close(fd);
    target.kind = OutputKind::replaced;
    errno = 0;
    return -1;
}

void empty_filled(int fd)
{
    static_cast<void>(ftruncate(fd, 0) == 0);
}
