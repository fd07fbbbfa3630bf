// Found by tracing the real programs over the suite's files and a wide set of other meshes
// (strace -f, the calls each confined process made after its filter was loaded).
#include "confine/allowed_calls.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>

namespace {

using T = ArgumentTest;

const T on_report = {0, T::is, std::uint64_t(report_descriptor)};
const T on_output = {0, T::is, std::uint64_t(output_descriptor)};
const T on_broker = {0, T::is, std::uint64_t(broker_descriptor)};
const T not_on_output = {0, T::is_not, std::uint64_t(output_descriptor)};
const T on_standard_output = {0, T::is, 1};
const T on_standard_error = {0, T::is, 2};
const T to_itself = {0, T::is, own_process};
const T no_execution = {2, T::lacks_bits, PROT_EXEC};
const T no_writing = {2, T::lacks_bits, PROT_WRITE};
const T a_thread = {0, T::has_bits, CLONE_THREAD};

const std::vector<AllowedCall> every_kind = {
    {"read", {}, "its input, its own pipes"},
    {"pread64", {}, "its input, in parts on several threads"},
    {"write", {on_report}, "its report"},
    {"write", {on_standard_output}, "what a library prints, which its parent takes"},
    {"write", {on_standard_error}, "what a library prints, which its parent takes"},
    {"writev", {on_standard_error}, "the C library's own failure messages"},
    {"close", {}, "descriptors it is done with"},
    {"lseek", {not_on_output}, "its input; never its output, which it may only append to"},
    {"fstat", {}, "its input's size, by descriptor alone"},
    {"fstatfs", {}, "whether its input's size is its length"},
    {"mmap", {no_execution}, "memory, never executable"},
    {"mprotect", {no_execution}, "the memory allocator's arenas and the threads' stacks"},
    {"munmap", {}, "memory given back"},
    {"mremap", {}, "memory grown"},
    {"madvise", {}, "huge pages for the lists, pages given back"},
    {"brk", {}, "memory"},
    {"clone", {a_thread}, "threads, and nothing else: no process outlives its parent"},
    {"futex", {}, "threads waiting for one another"},
    {"set_robust_list", {}, "a new thread's start"},
    {"rseq", {}, "a new thread's start"},
    {"sched_yield", {}, "threads waiting for one another"},
    {"sched_getaffinity", {}, "how many cores to read on"},
    {"rt_sigprocmask", {}, "a new thread's start, and its end"},
    {"rt_sigaction", {}, "the C library's own signal set-up"},
    {"rt_sigreturn", {}, "the end of a signal"},
    {"sigaltstack", {}, "a thread's own stack for signals, which the checking builds set up in every thread"},
    {"getpid", {}, "its own id"},
    {"gettid", {}, "its own id"},
    {"tgkill", {to_itself}, "abort() and raise(), to itself alone"},
    {"nanosleep", {}, "a pause"},
    {"clock_nanosleep", {}, "a pause"},
    {"clock_gettime", {}, "the time, where the kernel's page does not give it"},
    {"exit", {}, "a thread's end"},
    {"exit_group", {}, "its end"},
};

const std::vector<AllowedCall> reading = {
    {"write", {on_output}, "a stream's copy, into the memory file it was handed"},
    {"poll", {}, "a stream's bytes as they come, within its time"},
    {"ppoll", {}, "a stream's bytes as they come, within its time"},
};

const std::vector<AllowedCall> converting = {
    {"write", {on_output}, "the converted text"},
    {"fsync", {on_output}, "the output on the disk before it takes its name"},
    {"fdatasync", {on_output}, "the output on the disk before it takes its name"},
    {"sync_file_range", {on_output}, "the output on its way to the disk as it is written"},
    {"fcntl", {{1, T::is, F_GETFL}}, "stdio on the output"},
    {"fcntl", {{1, T::is, F_GETFD}}, "stdio on the output"},
    {"fcntl", {{1, T::is, F_DUPFD_CLOEXEC}}, "a stream of its own on the output and on the input"},
    {"sendmsg", {on_broker}, "asking its parent for a file the input names"},
    {"recvmsg", {on_broker}, "the file its parent opened, or why not"},
    {"getcwd", {}, "the import library makes its names whole"},
};

const std::vector<AllowedCall> drawing = {
    {"mmap", {no_writing}, "the software rasteriser's compiled shaders: executable, never writable too"},
    {"mprotect", {no_writing}, "the software rasteriser's compiled shaders: executable, never writable too"},
    {"sched_setaffinity", {}, "the software rasteriser's threads on their cores"},
    {"getrandom", {}, "the shader compiler's hash tables"},
    {"sysinfo", {}, "the shader compiler asks how much memory there is"},
};

const std::vector<const char*> not_there = {"clone3"};

} // namespace

const std::vector<AllowedCall>& calls_of_every_kind()
{
    return every_kind;
}

const std::vector<AllowedCall>& calls_of(ConfinedKind kind)
{
    switch (kind) {
    case ConfinedKind::reading: return reading;
    case ConfinedKind::converting: return converting;
    case ConfinedKind::drawing: return drawing;
    }
    return reading;
}

const std::vector<const char*>& calls_not_there()
{
    return not_there;
}
