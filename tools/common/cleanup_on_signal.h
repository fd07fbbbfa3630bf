// What a tool leaves behind if a signal ends it: nothing. A temporary name it registers is
// removed and a helper process it registers is ended before the signal takes the tool down as
// it would have anyway. SIGKILL runs no handler: what must survive that is made unnamed instead.
#pragma once

#include <sys/types.h>

// Handlers for SIGTERM, SIGINT, SIGHUP and SIGQUIT; call once, early.
void clean_up_on_signals();

// A file name to remove should a signal end the tool, until it is forgotten again.
void remove_on_signal(const char* path);
void forget_on_signal(const char* path);

// A helper process to end (SIGTERM) should a signal end the tool; 0 forgets it.
void end_on_signal(pid_t helper);
