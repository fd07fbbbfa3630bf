// What a tool leaves behind if a signal ends it: nothing. A child writing its output is killed
// and waited for, a file being filled in place is emptied again, a temporary name is removed and
// a helper process is ended, before the signal takes the tool down as it would have anyway.
// SIGKILL runs no handler: what must survive that is made unnamed instead.
#pragma once

#include <sys/types.h>

// Handlers for SIGTERM, SIGINT, SIGHUP and SIGQUIT; call once, early.
void clean_up_on_signals();

// A file name to remove should a signal end the tool, until it is forgotten again.
void remove_on_signal(const char* path);
void forget_on_signal(const char* path);

// A helper process to end (SIGTERM) should a signal end the tool; 0 forgets it.
void end_on_signal(pid_t helper);

// A child writing the output: killed (SIGKILL) and waited for before anything else is cleaned
// up, so it writes nothing after; 0 forgets it.
void kill_first_on_signal(pid_t writer);

// The descriptor of an output file being filled in place, emptied again should a signal end the
// tool; -1 forgets it.
void empty_on_signal(int fd);

// The same cleaning up, at once, for a tool that ends itself from a handler of its own (a
// deadline). Safe in a signal handler.
void clean_up_now();

// A child process of the tool takes the system's own ending again: the cleaning up is the
// parent's.
void end_by_default_on_signals();
