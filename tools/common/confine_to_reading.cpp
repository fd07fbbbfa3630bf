// The order is the kernel's: no new privileges first (Landlock and an unprivileged seccomp filter
// both need it), then the file rules while the places can still be opened, then the filter.
#include "confine_to_reading.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "landlock_rules.h"
#include "refused_calls.h"

namespace {

// What the C library, the import library and Mesa's software rasteriser read once the input is
// open: libraries and their data, the loader's cache, EGL's vendor files, Mesa's settings, the
// processor count, the process's own /proc entries and the harmless devices.
const char* const system_readable[] = {
    "/usr", "/lib", "/lib64", "/lib32", "/libx32", "/etc/ld.so.cache", "/etc/glvnd", "/etc/drirc",
    "/sys/devices/system/cpu", "/proc/self", "/dev/null", "/dev/zero", "/dev/urandom",
};

std::string resolved(const std::string& path)
{
    char full[PATH_MAX];
    return realpath(path.c_str(), full) ? std::string(full) : std::string();
}

std::string folder_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool read_whole(int fd, void* into, std::size_t size)
{
    char* const bytes = static_cast<char*>(into);
    for (std::size_t got = 0; got < size;) {
        const ssize_t n = read(fd, bytes + got, size - got);
        if (n > 0)
            got += std::size_t(n);
        else if (!(n < 0 && errno == EINTR))
            return false;
    }
    return true;
}

std::string landlock_words(const ReadingConfinement& got)
{
    if (!got.landlock_files)
        return "no Landlock";
    std::string parts = "files";
    if (got.landlock_tcp)
        parts += ", TCP";
    if (got.landlock_scoped)
        parts += ", signals, abstract sockets";
    return "Landlock ABI " + std::to_string(got.landlock_abi) + " (" + parts + ")";
}

} // namespace

ReadingConfinement confine_to_reading(const std::vector<std::string>& readable)
{
    ReadingConfinement got;
    got.no_new_privileges = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    if (!got.no_new_privileges)
        return got;
    std::vector<std::string> places(std::begin(system_readable), std::end(system_readable));
    places.insert(places.end(), readable.begin(), readable.end());
    restrict_to_reading(landlock_version(), places, got);
    got.seccomp_filter = refuse_escaping_calls();
    return got;
}

ReadingConfinement confinement_on_offer()
{
    ReadingConfinement got;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return got;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        const ReadingConfinement child = confine_to_reading({});
        _exit(write(ends[1], &child, sizeof child) == ssize_t(sizeof child) ? 0 : 1);
    }
    close(ends[1]);
    if (pid > 0 && !read_whole(ends[0], &got, sizeof got))
        got = ReadingConfinement{};
    close(ends[0]);
    if (pid > 0)
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    return got;
}

std::string describe_confinement(const ReadingConfinement& got)
{
    std::string words;
    if (got.no_new_privileges)
        words += "no new privileges, ";
    words += got.seccomp_filter ? "seccomp filter, " : "no seccomp filter, ";
    return words + landlock_words(got);
}

std::vector<std::string> input_and_its_folder(const std::string& input)
{
    const std::string folder = resolved(folder_of(input));
    const char* const home = std::getenv("HOME");
    if (folder.empty() || folder == "/" || (home && *home && folder == resolved(home)))
        return {input};
    return {input, folder};
}
