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
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/swap.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

// What a reading attempt keeps of what it read: enough to tell the secret.
const std::size_t kept_bytes = 64;

// Each returns 0 when it worked, else the error that stopped it.
int read_from(const std::string& path, std::string* got = nullptr)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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

int create_in(const std::string& folder)
{
    const std::string path = folder + "/olvanta-escaped-" + std::to_string(getpid());
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    close(fd);
    unlink(path.c_str());
    return 0;
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

int connect_over_tcp(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
