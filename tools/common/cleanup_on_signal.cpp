// The handler may only use what is safe in a signal handler: kill, waitpid, ftruncate, unlink,
// signal, raise. Names live in fixed slots, filled before they are marked in use, so the handler
// never reads half a name.
#include "cleanup_on_signal.h"

#include <limits.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

const int slots = 4;
char names[slots][PATH_MAX];
volatile sig_atomic_t name_in_use[slots];
volatile pid_t helper_pid;
volatile pid_t writer_pid;
volatile sig_atomic_t filled_fd = -1;

const int ending_signals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

void clean_up_and_end(int signal_number)
{
    clean_up_now();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

} // namespace

void clean_up_now()
{
    if (writer_pid > 0) {
        kill(writer_pid, SIGKILL);
        waitpid(writer_pid, nullptr, 0);
    }
    if (filled_fd >= 0)
        static_cast<void>(ftruncate(filled_fd, 0) == 0);
    for (int slot = 0; slot < slots; ++slot)
        if (name_in_use[slot])
            unlink(names[slot]);
    if (helper_pid > 0)
        kill(helper_pid, SIGTERM);
}

void clean_up_on_signals()
{
    struct sigaction action {};
    action.sa_handler = clean_up_and_end;
    sigfillset(&action.sa_mask);
    for (const int signal_number : ending_signals)
        sigaction(signal_number, &action, nullptr);
}

void remove_on_signal(const char* path)
{
    if (std::strlen(path) >= PATH_MAX)
        return;
    for (int slot = 0; slot < slots; ++slot)
        if (!name_in_use[slot]) {
            std::strcpy(names[slot], path);
            name_in_use[slot] = 1;
            return;
        }
}

void forget_on_signal(const char* path)
{
    for (int slot = 0; slot < slots; ++slot)
        if (name_in_use[slot] && std::strcmp(names[slot], path) == 0)
            name_in_use[slot] = 0;
}

void end_on_signal(pid_t helper)
{
    helper_pid = helper;
}

void kill_first_on_signal(pid_t writer)
{
    writer_pid = writer;
}

void empty_on_signal(int fd)
{
    filled_fd = fd;
}

void end_by_default_on_signals()
{
    for (const int signal_number : ending_signals)
        signal(signal_number, SIG_DFL);
}
