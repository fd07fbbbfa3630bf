// Each attempt is the plainest call that does it, as injected code would make it; an attempt that
// works undoes what it did where it can (a new file removed, a stopped process continued, a mode,
// an owner, an attribute, a terminal's settings put back). A call that only root may make is made
// with arguments the kernel refuses harmlessly once it is reached, so reaching it counts as done.
#include "escape_attempts.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/reboot.h>
#include <netinet/in.h>
#include <signal.h>
#include <stddef.h>
#include <sys/fanotify.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/klog.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/swap.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <initializer_list>

namespace {

// What a reading attempt keeps of what it read: enough to tell the secret.
const std::size_t kept_bytes = 64;

// Each returns 0 when it worked, else the error that stopped it.

// What became of an opening (fd, or -1 with errno) and of reading from it.
int read_opened(int fd, std::string* got = nullptr)
{
    if (fd < 0)
        return errno;
    char bytes[kept_bytes];
    const ssize_t count = read(fd, bytes, sizeof bytes);
    const int error = count > 0 ? 0 : count < 0 ? errno : ENODATA;
    if (count > 0 && got)
        got->assign(bytes, std::size_t(count));
    close(fd);
    return error;
}

int read_from(const std::string& path, std::string* got = nullptr)
{
    return read_opened(open(path.c_str(), O_RDONLY | O_CLOEXEC), got);
}

int append_to(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat before {};
    const bool sized = syscall(SYS_fstat, fd, &before) == 0;
    const char line[] = "echo escaped\n";
    const int error = write(fd, line, sizeof line - 1) == ssize_t(sizeof line - 1) ? 0 : errno;
    if (error == 0 && sized && ftruncate(fd, before.st_size) != 0) {
        // Left longer: the file's own check afterwards says so.
    }
    close(fd);
    return error;
}

int made(const std::string& path, int error, bool folder = false);

int create_in(const std::string& folder)
{
    const std::string path = folder + "/olvanta-escaped-" + std::to_string(getpid());
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const int error = fd < 0 ? errno : 0;
    if (fd >= 0)
        close(fd);
    return made(path, error);
}

int connect_to(const sockaddr* address, socklen_t length)
{
    const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    const int error = connect(fd, address, length) == 0 ? 0 : errno;
    close(fd);
    return error;
}

// This machine's own address at `port` (0: any port).
sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int connect_over_tcp(int port)
{
    const sockaddr_in address = loopback(port);
    return connect_to(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int connect_locally(const std::string& name, bool abstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t at = abstract ? 1 : 0;
    if (at + name.size() >= sizeof address.sun_path)
        return ENAMETOOLONG;
    std::memcpy(address.sun_path + at, name.data(), name.size());
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + at + name.size() + (abstract ? 0 : 1));
    return connect_to(reinterpret_cast<const sockaddr*>(&address), length);
}

// The shell says it ran by its status; the child says why not by the error as its status.
int start_a_shell()
{
    const int shell_ran = 77;
    const pid_t pid = fork();
    if (pid < 0)
        return errno;
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", "exit 77", static_cast<char*>(nullptr));
        _exit(errno == shell_ran ? EIO : errno);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status))
        return ECHILD;
    return WEXITSTATUS(status) == shell_ran ? 0 : WEXITSTATUS(status);
}

int stop(pid_t victim)
{
    if (victim <= 0)
        return ESRCH; // 0 or less would name a whole group
    if (kill(victim, SIGSTOP) != 0)
        return errno;
    kill(victim, SIGCONT);
    return 0;
}

int trace(pid_t victim)
{
    if (ptrace(PTRACE_SEIZE, victim, nullptr, nullptr) != 0)
        return errno;
    ptrace(PTRACE_INTERRUPT, victim, nullptr, nullptr);
    waitpid(victim, nullptr, __WALL);
    ptrace(PTRACE_DETACH, victim, nullptr, nullptr);
    return 0;
}

int fake_terminal_input(int terminal)
{
    const char key = ' ';
    return ioctl(terminal, TIOCSTI, &key) == 0 ? 0 : errno;
}

EscapeOutcome outcome(const std::string& what, int error, const std::string& got = "")
{
    return EscapeOutcome{what, error == 0, error, "", got};
}

// ---- Through descriptors ----

// By descriptor alone: the C library's fstat asks for the status by an empty name, which a
// filter may refuse where it allows fstat.
bool status_of(int fd, struct stat& status)
{
    return syscall(SYS_fstat, fd, &status) == 0;
}

int change_mode(int fd)
{
    struct stat status {};
    if (!status_of(fd, status))
        return errno;
    if (fchmod(fd, 0777) != 0)
        return errno;
    fchmod(fd, status.st_mode & 07777);
    return 0;
}

int change_owner(int fd)
{
    struct stat status {};
    if (!status_of(fd, status))
        return errno;
    if (fchown(fd, geteuid(), getegid()) != 0)
        return errno;
    fchown(fd, status.st_uid, status.st_gid);
    fchmod(fd, status.st_mode & 07777); // a change of owner clears the set-id bits
    return 0;
}

int set_attribute(int fd)
{
    const char* const name = "user.olvanta.escaped";
    if (fsetxattr(fd, name, "1", 1, 0) != 0)
        return errno;
    fremovexattr(fd, name);
    return 0;
}

int remove_attribute(int fd)
{
    if (fremovexattr(fd, kept_attribute) != 0)
        return errno;
    fsetxattr(fd, kept_attribute, kept_value, std::strlen(kept_value), 0);
    return 0;
}

int lock(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno;
    flock(fd, LOCK_UN);
    return 0;
}

int take_a_lease(int fd)
{
    if (fcntl(fd, F_SETLEASE, F_RDLCK) != 0)
        return errno;
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return 0;
}

void through_a_descriptor(std::vector<EscapeOutcome>& outcomes, const std::string& of, int fd, int opening_error,
                          bool locks)
{
    const auto attempt = [&](const char* what, int (*call)(int)) {
        outcomes.push_back(outcome(std::string(what) + " of " + of, fd < 0 ? opening_error : call(fd)));
    };
    attempt("change the mode", change_mode);
    attempt("change the owner", change_owner);
    attempt("set an extended attribute", set_attribute);
    attempt("remove an extended attribute", remove_attribute);
    if (locks) {
        attempt("lock", lock);
        attempt("take a lease", take_a_lease);
    }
}

void attempts_through_descriptors(std::vector<EscapeOutcome>& outcomes, const EscapeTargets& t)
{
    through_a_descriptor(outcomes, "the input through its descriptor", t.input_descriptor, EBADF, true);
    const int folder = open(t.beside_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    through_a_descriptor(outcomes, "a folder beside the input's", folder, errno, false);
    if (folder >= 0)
        close(folder);
}

// ---- Watching ----

int watch_with_inotify(const std::string& path)
{
    const int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = inotify_add_watch(fd, path.c_str(), IN_ACCESS | IN_OPEN | IN_MODIFY) >= 0 ? 0 : errno;
    close(fd);
    return error;
}

// The unprivileged form: events by file handle, on one folder and its files.
int watch_with_fanotify(const std::string& path)
{
    const int fd = fanotify_init(FAN_CLASS_NOTIF | FAN_REPORT_FID | FAN_CLOEXEC, O_RDONLY);
    if (fd < 0)
        return errno;
    const int error =
        fanotify_mark(fd, FAN_MARK_ADD, FAN_ACCESS | FAN_OPEN | FAN_EVENT_ON_CHILD, AT_FDCWD, path.c_str()) == 0 ? 0 : errno;
    close(fd);
    return error;
}

int take_a_file_handle(const std::string& path)
{
    alignas(file_handle) char space[sizeof(file_handle) + MAX_HANDLE_SZ] = {};
    file_handle* const handle = reinterpret_cast<file_handle*>(space);
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mount_id = 0;
    return name_to_handle_at(AT_FDCWD, path.c_str(), handle, &mount_id, 0) == 0 ? 0 : errno;
}

void attempts_watching(std::vector<EscapeOutcome>& outcomes, const EscapeTargets& t)
{
    outcomes.push_back(outcome("watch ~/.ssh with inotify", watch_with_inotify(t.home + "/.ssh")));
    outcomes.push_back(outcome("watch ~/.ssh with fanotify", watch_with_fanotify(t.home + "/.ssh")));
    outcomes.push_back(outcome("take a file handle of ~/.ssh/id_rsa", take_a_file_handle(t.home + "/.ssh/id_rsa")));
}

// ---- Secrets ----

int take_descriptors_of(pid_t process)
{
    const int pidfd = int(syscall(SYS_pidfd_open, process, 0));
    if (pidfd < 0)
        return errno;
    int error = EBADF;
    for (int wanted = 0; wanted < 3 && error; ++wanted) {
        const int taken = int(syscall(SYS_pidfd_getfd, pidfd, wanted, 0));
        error = taken >= 0 ? 0 : errno;
        if (taken >= 0)
            close(taken);
    }
    close(pidfd);
    return error;
}

void attempts_on_secrets(std::vector<EscapeOutcome>& outcomes, const EscapeTargets& t)
{
    std::string shadow, environment;
    const int shadow_error = read_from("/etc/shadow", &shadow);
    outcomes.push_back(outcome("read /etc/shadow", shadow_error, shadow));
    const int environment_error = read_from("/proc/" + std::to_string(t.parent) + "/environ", &environment);
    outcomes.push_back(outcome("read the parent's environment", environment_error, environment));
    outcomes.push_back(outcome("take the parent's descriptors (pidfd_getfd)", take_descriptors_of(t.parent)));
}

// ---- The system ----

// 0 when the call worked or the kernel gave one of its own answers to the harmless arguments.
int reached(long result, std::initializer_list<int> kernel_answers)
{
    if (result >= 0)
        return 0;
    const int error = errno;
    for (const int answer : kernel_answers)
        if (error == answer)
            return 0;
    return error;
}

int read_the_kernel_log()
{
    char bytes[256];
    return klogctl(3 /* SYSLOG_ACTION_READ_ALL: the log left in place */, bytes, sizeof bytes) >= 0 ? 0 : errno;
}

int set_the_host_name(const std::string& name)
{
    return sethostname(name.data(), name.size()) == 0 ? 0 : errno;
}

int mount_a_tmpfs(const std::string& at)
{
    if (mount("olvanta", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=64k") != 0)
        return errno;
    umount2(at.c_str(), MNT_DETACH);
    return 0;
}

bool go_to(int folder)
{
    return folder >= 0 && fchdir(folder) == 0;
}

// Back out through the old root and the old working folder, held open across the change.
int change_the_root(const std::string& to)
{
    const int old_root = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int old_folder = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int error = chroot(to.c_str()) == 0 ? 0 : errno;
    if (error == 0 && go_to(old_root) && chroot(".") == 0)
        go_to(old_folder);
    for (const int fd : {old_root, old_folder})
        if (fd >= 0)
            close(fd);
    return error;
}

void attempts_on_the_system(std::vector<EscapeOutcome>& outcomes, const EscapeTargets& t)
{
    const unsigned long no_such_kexec_flags = 0xdead0000UL;
    outcomes.push_back(outcome("read the kernel's log (syslog)", read_the_kernel_log()));
    outcomes.push_back(outcome("set the host name", set_the_host_name(t.host_name)));
    outcomes.push_back(outcome("reboot (a wrong magic number)", reached(syscall(SYS_reboot, 0x1234, 0x5678, 0, nullptr), {EINVAL})));
    // A kernel built without kexec or modules answers ENOSYS: reached too.
    outcomes.push_back(outcome("load a kernel (kexec_load, wrong flags)",
                               reached(syscall(SYS_kexec_load, 0, 0, nullptr, no_such_kexec_flags), {EINVAL, ENOSYS})));
    outcomes.push_back(outcome("load a module (finit_module, no file)", reached(syscall(SYS_finit_module, -1, "", 0), {EBADF, ENOSYS})));
    outcomes.push_back(outcome("remove a module (delete_module, none such)",
                               reached(syscall(SYS_delete_module, "olvanta_no_such_module", O_NONBLOCK), {ENOENT, ENOSYS})));
    outcomes.push_back(outcome("turn a swap off (swapoff, none such)",
                               reached(swapoff((t.mount_point + "/no-such-swap").c_str()), {ENOENT})));
    outcomes.push_back(outcome("mount a tmpfs", mount_a_tmpfs(t.mount_point)));
    outcomes.push_back(outcome("change the root (chroot)", change_the_root(t.mount_point)));
}

// ---- The terminal ----

int turn_echo_off(int fd)
{
    termios before {};
    if (ioctl(fd, TCGETS, &before) != 0)
        return errno;
    termios silent = before;
    silent.c_lflag &= ~tcflag_t(ECHO);
    if (ioctl(fd, TCSETS, &silent) != 0)
        return errno;
    ioctl(fd, TCSETS, &before);
    return 0;
}

int take_the_foreground(int fd)
{
    pid_t before = 0;
    if (ioctl(fd, TIOCGPGRP, &before) != 0)
        return errno;
    const pid_t own = getpgrp();
    if (ioctl(fd, TIOCSPGRP, &own) != 0)
        return errno;
    ioctl(fd, TIOCSPGRP, &before);
    return 0;
}

int set_the_line_discipline(int fd)
{
    int discipline = 0; // N_TTY
    if (ioctl(fd, TIOCGETD, &discipline) != 0)
        return errno;
    return ioctl(fd, TIOCSETD, &discipline) == 0 ? 0 : errno;
}

// Only the console itself takes the redirection back.
int redirect_the_console(int fd)
{
    if (ioctl(fd, TIOCCONS) != 0)
        return errno;
    const int console = open("/dev/console", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (console >= 0) {
        ioctl(console, TIOCCONS);
        close(console);
    }
    return 0;
}

bool is_a_terminal(int fd)
{
    struct stat status {};
    if (!status_of(fd, status) || !S_ISCHR(status.st_mode))
        return false;
    const unsigned kind = major(status.st_rdev);
    return kind == 4 || kind == 5 || (kind >= 136 && kind <= 143);
}

// Written is not enough: the sequence must have gone to a terminal, not to a pipe its parent drops.
int write_to_the_terminal(int fd, const char* sequence)
{
    const std::size_t length = std::strlen(sequence);
    const ssize_t put = write(fd, sequence, length);
    if (put != ssize_t(length))
        return put < 0 ? errno : EIO;
    return is_a_terminal(fd) ? 0 : ENOTTY;
}

void attempts_on_the_terminal(std::vector<EscapeOutcome>& outcomes)
{
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int tty_error = errno;
    const struct {
        const char* name;
        int fd;
    } terminals[] = {{"descriptor 0", 0}, {"descriptor 1", 1}, {"descriptor 2", 2}, {"/dev/tty", tty}};
    const struct {
        const char* what;
        int (*call)(int);
    } ioctls[] = {
        {"turn echo off on", turn_echo_off},
        {"take the foreground group of", take_the_foreground},
        {"set the line discipline of", set_the_line_discipline},
        {"redirect the console to", redirect_the_console},
        {"fake input on", fake_terminal_input},
    };
    for (const auto& terminal : terminals)
        for (const auto& call : ioctls)
            outcomes.push_back(outcome(std::string(call.what) + " " + terminal.name,
                                       terminal.fd < 0 ? tty_error : call.call(terminal.fd)));
    if (tty >= 0)
        close(tty);
    const struct {
        const char* what;
        const char* sequence;
    } sequences[] = {
        {"a title change", "\033]0;olvanta escaped\007"},
        {"a screen clear", "\033[2J"},
        {"a clipboard write (OSC 52)", "\033]52;c;ZXNjYXBlZA==\007"},
    };
    for (const int fd : {1, 2})
        for (const auto& s : sequences)
            outcomes.push_back(outcome("write " + std::string(s.what) + " to descriptor " + std::to_string(fd),
                                       write_to_the_terminal(fd, s.sequence)));
}

// ---- Processes ----

int open_a_socket()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

// A process in a session of its own that the tool's end does not reach: it waits three
// seconds, then rewrites the output the tool has finished.
int leave_a_process_behind(const std::string& output)
{
    const pid_t pid = fork();
    if (pid < 0)
        return errno;
    if (pid == 0) {
        setsid();
        if (fork() == 0) {
            sleep(3);
            const int fd = open(output.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            const char words[] = "rewritten by a process left behind\n";
            _exit(fd >= 0 && write(fd, words, sizeof words - 1) == ssize_t(sizeof words - 1) ? 0 : 1);
        }
        _exit(0);
    }
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return 0;
}

void attempts_on_processes(std::vector<EscapeOutcome>& outcomes, const EscapeTargets& t)
{
    outcomes.push_back(outcome("open a socket", open_a_socket()));
    outcomes.push_back(outcome("stop a sibling", stop(t.sibling)));
    outcomes.push_back(outcome("leave a process behind that rewrites the output", leave_a_process_behind(t.output)));
}

// Bytes as a person may read them in a report line: printable ASCII as it is, the rest escaped.
std::string escaped(const std::string& bytes)
{
    std::string shown;
    for (const unsigned char c : bytes)
        if (c >= 0x20 && c < 0x7f && c != '\\')
            shown += char(c);
        else {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            shown += code;
        }
    return shown;
}

// ---- The same effects by other routes ----

void write_file(const std::string& path, const char* text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const ssize_t put = write(fd, text, std::strlen(text));
    (void)put;
    close(fd);
}

int read_through_openat2(const std::string& path)
{
    struct {
        std::uint64_t flags, mode, resolve;
    } how{O_RDONLY | O_CLOEXEC, 0, 0};
    return read_opened(int(syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how)));
}

int read_through_open(const std::string& path)
{
    return read_opened(int(syscall(SYS_open, path.c_str(), O_RDONLY | O_CLOEXEC)));
}

int list_folder(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char entries[4096];
    const int error = syscall(SYS_getdents64, fd, entries, sizeof entries) > 0 ? 0 : errno ? errno : ENODATA;
    close(fd);
    return error;
}

// A started program says so by its status, as start_a_shell's does; `how` execs in the child.
int started_by(void (*how)())
{
    const int shell_ran = 77;
    const pid_t pid = fork();
    if (pid < 0)
        return errno;
    if (pid == 0) {
        how();
        _exit(errno == shell_ran ? EIO : errno);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status))
        return ECHILD;
    return WEXITSTATUS(status) == shell_ran ? 0 : WEXITSTATUS(status);
}

char* const shell_words[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>("exit 77"), nullptr};

void exec_through_execveat()
{
    syscall(SYS_execveat, AT_FDCWD, "/bin/sh", shell_words, environ, 0);
}

void exec_from_a_descriptor()
{
    const int fd = open("/bin/sh", O_PATH | O_CLOEXEC);
    if (fd >= 0)
        syscall(SYS_execveat, fd, "", shell_words, environ, AT_EMPTY_PATH);
}

// Where the program to start lies, for the routes below, which take no argument.
std::string lone_program_path;

void exec_the_lone_program()
{
    char* const words[] = {const_cast<char*>("lone"), nullptr};
    execve(lone_program_path.c_str(), words, environ);
}

// The kernel finds and opens the program before it copies the arguments: with arguments it
// cannot read, an exec that was let through fails there (EFAULT) and this process goes on, so
// the exec itself is tried without a process of its own to try it in.
int reach_exec_of(const std::string& path, bool through_execveat)
{
    char** const unreadable = reinterpret_cast<char**>(std::uintptr_t(8));
    const long result = through_execveat ? syscall(SYS_execveat, AT_FDCWD, path.c_str(), unreadable, unreadable, 0)
                                         : syscall(SYS_execve, path.c_str(), unreadable, unreadable);
    return result == 0 || errno == EFAULT ? 0 : errno;
}

void exec_the_lone_program_from_a_descriptor()
{
    char* const words[] = {const_cast<char*>("lone"), nullptr};
    const int fd = open(lone_program_path.c_str(), O_PATH | O_CLOEXEC);
    if (fd >= 0)
        syscall(SYS_execveat, fd, "", words, environ, AT_EMPTY_PATH);
}

// vfork and exec, as posix_spawn does it, with no fork of the whole process first.
int start_through_vfork()
{
    const pid_t pid = vfork();
    if (pid < 0)
        return errno;
    if (pid == 0) {
        execve("/bin/sh", shell_words, environ);
        _exit(errno == 77 ? EIO : errno);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status))
        return ECHILD;
    return WEXITSTATUS(status) == 77 ? 0 : WEXITSTATUS(status);
}

std::string new_name_in(const std::string& folder, const char* kind)
{
    return folder + "/olvanta-escaped-" + std::to_string(getpid()) + "-" + kind;
}

// Judged by what is there afterwards, not by the call's answer: a call that makes a file and then
// fails to open it has made it all the same. What was made is removed again.
int made(const std::string& path, int error, bool folder)
{
    struct stat status {};
    if (error != 0 && lstat(path.c_str(), &status) != 0)
        return error;
    if (folder)
        rmdir(path.c_str());
    else
        unlink(path.c_str());
    return 0;
}

int create_through_creat(const std::string& folder)
{
    const std::string path = new_name_in(folder, "creat");
    const int fd = int(syscall(SYS_creat, path.c_str(), 0600));
    const int error = fd < 0 ? errno : 0;
    if (fd >= 0)
        close(fd);
    return made(path, error);
}

int create_through_openat2(const std::string& folder)
{
    const std::string path = new_name_in(folder, "openat2");
    struct {
        std::uint64_t flags, mode, resolve;
    } how{O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600, 0};
    const int fd = int(syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
    const int error = fd < 0 ? errno : 0;
    if (fd >= 0)
        close(fd);
    return made(path, error);
}

// A file with no name yet, which linkat could name later.
int create_unnamed(const std::string& folder)
{
    const int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

int make_node(const std::string& folder, mode_t kind, dev_t device = 0)
{
    const std::string path = new_name_in(folder, S_ISREG(kind) ? "file" : S_ISFIFO(kind) ? "fifo" : "device");
    const int error = mknod(path.c_str(), kind | 0600, device) == 0 ? 0 : errno;
    return made(path, error);
}

int make_folder(const std::string& folder)
{
    const std::string path = new_name_in(folder, "folder");
    const int error = mkdir(path.c_str(), 0700) == 0 ? 0 : errno;
    return made(path, error, true);
}

int make_symbolic_link(const std::string& folder)
{
    const std::string path = new_name_in(folder, "link");
    const int error = symlink("/etc/passwd", path.c_str()) == 0 ? 0 : errno;
    return made(path, error);
}

// The same makings through the calls the C library does not use for them here.
int make_through_at_calls(const std::string& folder, const char* kind)
{
    const std::string path = new_name_in(folder, kind), what = kind;
    long result = -1;
    if (what == "mkdirat")
        result = syscall(SYS_mkdirat, AT_FDCWD, path.c_str(), 0700);
    else if (what == "symlinkat")
        result = syscall(SYS_symlinkat, "/etc/passwd", AT_FDCWD, path.c_str());
    else if (what == "mknod")
        result = syscall(SYS_mknod, path.c_str(), S_IFIFO | 0600, 0);
    return made(path, result == 0 ? 0 : errno, what == "mkdirat");
}

int bind_a_local_socket(const std::string& folder)
{
    const std::string path = new_name_in(folder, "socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return ENAMETOOLONG;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    const int error = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    close(fd);
    return made(path, error);
}

int link_into(const std::string& file, const std::string& folder)
{
    const std::string path = new_name_in(folder, "hard-link");
    const int error = link(file.c_str(), path.c_str()) == 0 ? 0 : errno;
    return made(path, error);
}

int link_through_linkat(const std::string& file, const std::string& folder)
{
    const std::string path = new_name_in(folder, "linkat");
    const int error = syscall(SYS_linkat, AT_FDCWD, file.c_str(), AT_FDCWD, path.c_str(), 0) == 0 ? 0 : errno;
    return made(path, error);
}

int remove_through_unlinkat(const std::string& path, bool folder)
{
    if (syscall(SYS_unlinkat, AT_FDCWD, path.c_str(), folder ? AT_REMOVEDIR : 0) != 0)
        return errno;
    if (folder)
        mkdir(path.c_str(), 0755);
    else
        write_file(path, "mine\n");
    return 0;
}

int rename_through_renameat2(const std::string& path)
{
    const std::string renamed = path + "-renamed";
    if (syscall(SYS_renameat2, AT_FDCWD, path.c_str(), AT_FDCWD, renamed.c_str(), 0) != 0)
        return errno;
    rename(renamed.c_str(), path.c_str());
    return 0;
}

int remove_file(const std::string& path)
{
    if (unlink(path.c_str()) != 0)
        return errno;
    write_file(path, "mine\n");
    return 0;
}

int rename_file(const std::string& path)
{
    const std::string renamed = path + "-renamed";
    if (rename(path.c_str(), renamed.c_str()) != 0)
        return errno;
    rename(renamed.c_str(), path.c_str());
    return 0;
}

int remove_folder(const std::string& path)
{
    if (rmdir(path.c_str()) != 0)
        return errno;
    mkdir(path.c_str(), 0755);
    return 0;
}

int empty_by_name(const std::string& path)
{
    if (truncate(path.c_str(), 0) != 0)
        return errno;
    write_file(path, kept_text);
    return 0;
}

int empty_by_opening(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return errno;
    close(fd);
    write_file(path, kept_text);
    return 0;
}

int listen_on_tcp()
{
    const sockaddr_in address = loopback(0);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    const int error = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    close(fd);
    return error;
}

int send_a_datagram(int port)
{
    const sockaddr_in address = loopback(port);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    const int error = sendto(fd, "x", 1, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 1 ? 0 : errno;
    close(fd);
    return error;
}

int stop_through_tgkill(pid_t victim)
{
    if (victim <= 0)
        return ESRCH;
    if (syscall(SYS_tgkill, victim, victim, SIGSTOP) != 0)
        return errno;
    kill(victim, SIGCONT);
    return 0;
}

int stop_through_a_pidfd(pid_t victim)
{
    const int fd = int(syscall(SYS_pidfd_open, victim, 0));
    if (fd < 0)
        return errno;
    const int error = syscall(SYS_pidfd_send_signal, fd, SIGSTOP, nullptr, 0) == 0 ? 0 : errno;
    if (error == 0)
        kill(victim, SIGCONT);
    close(fd);
    return error;
}

int write_into_another_process(pid_t victim)
{
    long word = 0;
    iovec local{&word, sizeof word};
    iovec remote{reinterpret_cast<void*>(std::uintptr_t(0x10000)), sizeof word};
    // An address the victim has not mapped: reaching the victim's memory at all is the escape.
    const ssize_t written = syscall(SYS_process_vm_writev, victim, &local, 1, &remote, 1, 0);
    return written >= 0 || errno == EFAULT ? 0 : errno;
}

// Memory both writable and executable: code written and run at once.
int map_writable_and_executable()
{
    void* const memory = mmap(nullptr, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return errno;
    munmap(memory, 4096);
    return 0;
}

int make_written_memory_executable_too()
{
    void* const memory = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return errno;
    const int error = mprotect(memory, 4096, PROT_READ | PROT_WRITE | PROT_EXEC) == 0 ? 0 : errno;
    munmap(memory, 4096);
    return error;
}

// Back over what the output held before this process wrote: a log it appends to, say.
int seek_back_over_the_output(int output)
{
    return lseek(output, 0, SEEK_SET) == 0 ? 0 : errno;
}

int start_a_process()
{
    const pid_t pid = fork();
    if (pid < 0)
        return errno;
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return 0;
}

void attempts_by_other_routes(std::vector<EscapeOutcome>& outcomes, const EscapeTargets& t)
{
    const std::string key = t.home + "/.ssh/id_rsa", tmp = t.temporary_folder;
    const auto add = [&](const char* what, int error) { outcomes.push_back(outcome(what, error)); };
    add("read ~/.ssh/id_rsa through openat2", read_through_openat2(key));
    add("read ~/.ssh/id_rsa through open", read_through_open(key));
    add("list ~/.ssh", list_folder(t.home + "/.ssh"));
    add("start /bin/sh through execveat", started_by(exec_through_execveat));
    add("start /bin/sh from a descriptor of its path", started_by(exec_from_a_descriptor));
    add("start /bin/sh through vfork", start_through_vfork());
    if (!t.lone_program.empty()) {
        lone_program_path = t.lone_program;
        add("start a program that needs no library", started_by(exec_the_lone_program));
        add("start a program that needs no library from a descriptor", started_by(exec_the_lone_program_from_a_descriptor));
        add("start a program in this very process", reach_exec_of(t.lone_program, false));
        add("start a program in this very process through execveat", reach_exec_of(t.lone_program, true));
    }
    add("create a file in /tmp through creat", create_through_creat(tmp));
    add("create a file in /tmp through openat2", create_through_openat2(tmp));
    add("create an unnamed file in /tmp", create_unnamed(tmp));
    add("make a file in /tmp through mknod", make_node(tmp, S_IFREG));
    add("make a FIFO in /tmp", make_node(tmp, S_IFIFO));
    add("make a folder in /tmp", make_folder(tmp));
    if (t.as_root) {
        add("make a character device in /tmp", make_node(tmp, S_IFCHR, makedev(1, 3)));
        add("make a block device in /tmp", make_node(tmp, S_IFBLK, makedev(7, 0)));
    }
    add("make a symbolic link in /tmp", make_symbolic_link(tmp));
    add("make a folder in /tmp through mkdirat", make_through_at_calls(tmp, "mkdirat"));
    add("make a symbolic link in /tmp through symlinkat", make_through_at_calls(tmp, "symlinkat"));
    add("make a FIFO in /tmp through the old mknod", make_through_at_calls(tmp, "mknod"));
    add("bind a local socket in /tmp", bind_a_local_socket(tmp));
    add("listen on a TCP port", listen_on_tcp());
    add("send a UDP datagram to this machine", send_a_datagram(t.tcp_port));
    add("stop another process through tgkill", stop_through_tgkill(t.victim));
    add("stop another process through a pidfd", stop_through_a_pidfd(t.victim));
    add("write into another process's memory", write_into_another_process(t.victim));
    add("start a process", start_a_process());
    add("map memory writable and executable", map_writable_and_executable());
    add("make written memory executable too", make_written_memory_executable_too());
    if (t.output_descriptor >= 0)
        add("seek back over what the output held", seek_back_over_the_output(t.output_descriptor));
    if (t.spare_folder.empty())
        return;
    add("link a file of the user's into /tmp", link_into(t.spare_folder + "/keep-me", tmp));
    add("link a file of the user's into /tmp through linkat", link_through_linkat(t.spare_folder + "/keep-me", tmp));
    add("remove a file of the user's", remove_file(t.spare_folder + "/remove-me"));
    add("remove a file of the user's through unlinkat", remove_through_unlinkat(t.spare_folder + "/remove-me", false));
    add("remove a folder of the user's through unlinkat", remove_through_unlinkat(t.spare_folder + "/empty", true));
    add("rename a file of the user's through renameat2", rename_through_renameat2(t.spare_folder + "/rename-me"));
    add("rename a file of the user's", rename_file(t.spare_folder + "/rename-me"));
    add("remove a folder of the user's", remove_folder(t.spare_folder + "/empty"));
    add("empty a file of the user's by its name", empty_by_name(t.spare_folder + "/keep-me"));
    add("empty a file of the user's by opening it", empty_by_opening(t.spare_folder + "/keep-me"));
}

} // namespace

std::vector<EscapeOutcome> try_to_escape(const EscapeTargets& t)
{
    std::vector<EscapeOutcome> outcomes;
    if (t.sets & first_attempts) {
        std::string key, beside;
        const int key_error = read_from(t.home + "/.ssh/id_rsa", &key);
        outcomes.push_back(outcome("read ~/.ssh/id_rsa", key_error, key));
        const int beside_error = read_from(t.beside, &beside);
        outcomes.push_back(outcome("read a file in a folder beside the input's", beside_error, beside));
        outcomes.push_back(outcome("append to ~/.bashrc", append_to(t.home + "/.bashrc")));
        outcomes.push_back(outcome("append to the input itself", append_to(t.input)));
        outcomes.push_back(outcome("create a file in /tmp", create_in(t.temporary_folder)));
        outcomes.push_back(outcome("connect over TCP to a port on this machine", connect_over_tcp(t.tcp_port)));
        outcomes.push_back(outcome("connect to a local socket by name", connect_locally(t.local_socket, false)));
        outcomes.push_back(outcome("connect to an abstract local socket", connect_locally(t.abstract_socket, true)));
        outcomes.push_back(outcome("start /bin/sh", start_a_shell()));
        outcomes.push_back(outcome("stop another process of the same user", stop(t.victim)));
        outcomes.push_back(outcome("trace another process of the same user", trace(t.victim)));
        if (t.terminal >= 0)
            outcomes.push_back(outcome("fake input on the terminal", fake_terminal_input(t.terminal)));
    }
    if (t.sets & through_descriptors)
        attempts_through_descriptors(outcomes, t);
    if (t.sets & watching)
        attempts_watching(outcomes, t);
    if (t.sets & secrets)
        attempts_on_secrets(outcomes, t);
    if (t.sets & system_calls)
        attempts_on_the_system(outcomes, t);
    if (t.sets & terminal_calls)
        attempts_on_the_terminal(outcomes);
    if (t.sets & processes)
        attempts_on_processes(outcomes, t);
    if (t.sets & other_routes)
        attempts_by_other_routes(outcomes, t);
    return outcomes;
}

std::string outcome_lines(const std::vector<EscapeOutcome>& outcomes)
{
    std::string lines;
    for (const EscapeOutcome& o : outcomes) {
        lines += o.what + ": " + (o.done ? std::string("done") : "refused (" + std::string(std::strerror(o.error)) + ")") +
                 "\n";
        if (!o.got.empty())
            lines += "  got: " + escaped(o.got) + "\n";
    }
    return lines;
}

std::vector<EscapeOutcome> parse_outcome_lines(const std::string& lines)
{
    std::vector<EscapeOutcome> outcomes;
    for (std::size_t at = 0, end; at < lines.size(); at = end + 1) {
        end = lines.find('\n', at);
        if (end == std::string::npos)
            end = lines.size();
        const std::string line = lines.substr(at, end - at);
        if (line.rfind("  got: ", 0) == 0) {
            if (!outcomes.empty())
                outcomes.back().got = line.substr(7);
            continue;
        }
        const std::size_t colon = line.rfind(": ");
        if (colon == std::string::npos)
            continue;
        EscapeOutcome o{line.substr(0, colon), line.substr(colon + 2) == "done", 0, "", ""};
        const std::string refused = "refused (";
        if (line.compare(colon + 2, refused.size(), refused) == 0 && line.back() == ')')
            o.reason = line.substr(colon + 2 + refused.size(), line.size() - colon - 3 - refused.size());
        outcomes.push_back(o);
    }
    return outcomes;
}
