// The order is the kernel's: a new session and the capabilities first (giving up the bounding set
// and locking the secure bits take the capability that is given up last), then no new privileges
// (Landlock and an unprivileged seccomp filter both need it), then the file rules, then the filter.
#include "confine/confinement.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/securebits.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "confine/call_filter.h"
#include "confine/landlock_rules.h"

namespace {

// Every capability the kernel may know; asking for one past its last is answered EINVAL.
const int highest_capability = 63;

bool give_up_bounding_set()
{
    bool all = true;
    for (int cap = 0; cap <= highest_capability; ++cap)
        if (prctl(PR_CAPBSET_READ, cap, 0, 0, 0) == 1 && prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0)
            all = false;
    return all;
}

bool lock_secure_bits()
{
    const unsigned long bits = SECBIT_NOROOT | SECBIT_NOROOT_LOCKED | SECBIT_NO_SETUID_FIXUP |
                               SECBIT_NO_SETUID_FIXUP_LOCKED | SECBIT_KEEP_CAPS_LOCKED | SECBIT_NO_CAP_AMBIENT_RAISE |
                               SECBIT_NO_CAP_AMBIENT_RAISE_LOCKED;
    return prctl(PR_SET_SECUREBITS, bits, 0, 0, 0) == 0;
}

bool empty_capability_sets()
{
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    return syscall(SYS_capset, &header, none) == 0;
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

std::string landlock_words(const Confinement& got)
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

void confine_privileges(Confinement& got)
{
    got.new_session = setsid() >= 0 || getsid(0) == getpid();
    got.bounding_set_empty = give_up_bounding_set();
    got.secure_bits_locked = lock_secure_bits();
    got.capabilities_dropped = empty_capability_sets();
    got.no_new_privileges = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

void confine_calls(ConfinedKind kind, Confinement& got)
{
    if (!got.no_new_privileges)
        return;
    shut_out_of_files(landlock_version(), got);
    got.seccomp_filter = allow_only_calls_of(kind);
}

Confinement confine(ConfinedKind kind)
{
    Confinement got;
    confine_privileges(got);
    confine_calls(kind, got);
    return got;
}

Confinement confinement_on_offer(ConfinedKind kind)
{
    Confinement got;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return got;
    const pid_t pid = fork();
    if (pid == 0) {
        // The child says what it got on its report's descriptor, the only one it may write on.
        dup2(ends[1], report_descriptor);
        const Confinement child = confine(kind);
        _exit(write(report_descriptor, &child, sizeof child) == ssize_t(sizeof child) ? 0 : 1);
    }
    close(ends[1]);
    if (pid > 0 && !read_whole(ends[0], &got, sizeof got))
        got = Confinement{};
    close(ends[0]);
    if (pid > 0)
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    return got;
}

std::string describe_confinement(const Confinement& got)
{
    std::string words;
    if (got.new_session)
        words += "no terminal, ";
    if (got.capabilities_dropped)
        words += got.bounding_set_empty && got.secure_bits_locked ? "no capabilities (all five sets, secure bits locked), "
                                                                  : "no capabilities, ";
    if (got.no_new_privileges)
        words += "no new privileges, ";
    words += got.seccomp_filter ? "seccomp allow-list, " : "no seccomp filter, ";
    return words + landlock_words(got);
}
