// A seccomp filter built with libseccomp: everything is allowed but what is listed here, which is
// answered with an error rather than a killed process, so a library that tries something the
// filter refuses goes on with its own failure path. The file rules hold on kernels without
// Landlock too, as far as a filter can see into the arguments.
#include "refused_calls.h"

#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace {

struct Refusal {
    int call;
    int error;
};

const Refusal refusals[] = {
    // Starting programs.
    {SCMP_SYS(execve), EPERM}, {SCMP_SYS(execveat), EPERM},
    // Reaching into other processes: their memory, their descriptors, their signals by pidfd.
    {SCMP_SYS(ptrace), EPERM}, {SCMP_SYS(process_vm_readv), EPERM}, {SCMP_SYS(process_vm_writev), EPERM},
    {SCMP_SYS(process_madvise), EPERM}, {SCMP_SYS(pidfd_open), EPERM}, {SCMP_SYS(pidfd_getfd), EPERM},
    {SCMP_SYS(pidfd_send_signal), EPERM}, {SCMP_SYS(tkill), EPERM},
    // Sockets of every kind: the network, the session bus, any local service.
    {SCMP_SYS(socket), EPERM}, {SCMP_SYS(socketpair), EPERM}, {SCMP_SYS(connect), EPERM}, {SCMP_SYS(bind), EPERM},
    {SCMP_SYS(listen), EPERM}, {SCMP_SYS(accept), EPERM}, {SCMP_SYS(accept4), EPERM},
    // Changing the file system by name.
    {SCMP_SYS(creat), EPERM}, {SCMP_SYS(mkdir), EPERM}, {SCMP_SYS(mkdirat), EPERM}, {SCMP_SYS(mknod), EPERM},
    {SCMP_SYS(mknodat), EPERM}, {SCMP_SYS(rmdir), EPERM}, {SCMP_SYS(unlink), EPERM}, {SCMP_SYS(unlinkat), EPERM},
    {SCMP_SYS(rename), EPERM}, {SCMP_SYS(renameat), EPERM}, {SCMP_SYS(renameat2), EPERM}, {SCMP_SYS(link), EPERM},
    {SCMP_SYS(linkat), EPERM}, {SCMP_SYS(symlink), EPERM}, {SCMP_SYS(symlinkat), EPERM}, {SCMP_SYS(truncate), EPERM},
    {SCMP_SYS(chmod), EPERM}, {SCMP_SYS(fchmodat), EPERM}, {SCMP_SYS(chown), EPERM}, {SCMP_SYS(lchown), EPERM},
    {SCMP_SYS(fchownat), EPERM}, {SCMP_SYS(utime), EPERM}, {SCMP_SYS(utimes), EPERM}, {SCMP_SYS(futimesat), EPERM},
    {SCMP_SYS(utimensat), EPERM}, {SCMP_SYS(setxattr), EPERM}, {SCMP_SYS(lsetxattr), EPERM},
    {SCMP_SYS(removexattr), EPERM}, {SCMP_SYS(lremovexattr), EPERM},
    // Namespaces and mounts: new kernel surface, and a way round the file rules.
    {SCMP_SYS(unshare), EPERM}, {SCMP_SYS(setns), EPERM}, {SCMP_SYS(mount), EPERM}, {SCMP_SYS(umount2), EPERM},
    {SCMP_SYS(pivot_root), EPERM}, {SCMP_SYS(chroot), EPERM}, {SCMP_SYS(fsopen), EPERM}, {SCMP_SYS(fsmount), EPERM},
    {SCMP_SYS(fsconfig), EPERM}, {SCMP_SYS(fspick), EPERM}, {SCMP_SYS(move_mount), EPERM},
    {SCMP_SYS(open_tree), EPERM}, {SCMP_SYS(mount_setattr), EPERM},
    // Interfaces no reader needs: io_uring works without passing through this filter at all; the
    // key rings hold the user's secrets.
    {SCMP_SYS(io_uring_setup), EPERM}, {SCMP_SYS(io_uring_enter), EPERM}, {SCMP_SYS(io_uring_register), EPERM},
    {SCMP_SYS(bpf), EPERM}, {SCMP_SYS(perf_event_open), EPERM}, {SCMP_SYS(userfaultfd), EPERM},
    {SCMP_SYS(keyctl), EPERM}, {SCMP_SYS(add_key), EPERM}, {SCMP_SYS(request_key), EPERM},
    {SCMP_SYS(open_by_handle_at), EPERM},
    // Calls whose arguments a filter cannot read: "not there", so the C library falls back to
    // clone and openat, whose arguments it can.
    {SCMP_SYS(clone3), ENOSYS}, {SCMP_SYS(openat2), ENOSYS},
};

// Any of these in open's flags writes, makes or empties a file.
const int writing_flags[] = {O_WRONLY, O_RDWR, O_CREAT, O_TRUNC};
const int namespace_flags[] = {CLONE_NEWUSER, CLONE_NEWNS, CLONE_NEWPID, CLONE_NEWNET,
                               CLONE_NEWIPC,  CLONE_NEWUTS, CLONE_NEWCGROUP};
// A terminal's input faked (the shell would run it after the tool ends), or its selection pasted.
const unsigned long terminal_injections[] = {TIOCSTI, TIOCLINUX};

// A rule the library cannot make here (a call this architecture lacks) is left out; the rest hold.
void refuse(scmp_filter_ctx filter, int call, int error)
{
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(unsigned(error)), call, 0);
}

void refuse_when_flag(scmp_filter_ctx filter, int call, unsigned argument, unsigned long flag)
{
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 1, SCMP_CMP(argument, SCMP_CMP_MASKED_EQ, flag, flag));
}

void refuse_opening_to_write(scmp_filter_ctx filter)
{
    for (const int flag : writing_flags) {
        refuse_when_flag(filter, SCMP_SYS(open), 1, unsigned(flag));
        refuse_when_flag(filter, SCMP_SYS(openat), 2, unsigned(flag));
    }
}

// Signals only to itself: abort and raise still work.
void refuse_signals_to_others(scmp_filter_ctx filter)
{
    const scmp_datum_t self = scmp_datum_t(getpid());
    for (const int call : {SCMP_SYS(kill), SCMP_SYS(tgkill), SCMP_SYS(rt_sigqueueinfo), SCMP_SYS(rt_tgsigqueueinfo)})
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 1, SCMP_A0(SCMP_CMP_NE, self));
}

void refuse_namespaces_and_injection(scmp_filter_ctx filter)
{
    for (const int flag : namespace_flags)
        refuse_when_flag(filter, SCMP_SYS(clone), 0, unsigned(flag));
    for (const unsigned long request : terminal_injections)
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(ioctl), 1,
                         SCMP_A1(SCMP_CMP_MASKED_EQ, 0xffffffffu, request));
}

void add_rules(scmp_filter_ctx filter)
{
    for (const Refusal& refusal : refusals)
        refuse(filter, refusal.call, refusal.error);
    refuse_opening_to_write(filter);
    refuse_signals_to_others(filter);
    refuse_namespaces_and_injection(filter);
}

} // namespace

bool refuse_escaping_calls()
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return false;
    // Another architecture's calls (32-bit ones on a 64-bit system) would slip past the rules.
    seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ERRNO(EPERM));
    add_rules(filter);
    const bool loaded = seccomp_load(filter) == 0;
    seccomp_release(filter);
    return loaded;
}
