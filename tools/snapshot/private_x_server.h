// A private Xvfb on a display number that no other server uses, for pictures without a screen
// and for the tests of the real viewer; starting and stopping it needs no X library.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

struct XServer {
    pid_t pid = -1;
    std::string display_name; // ":N"
    std::string failure;      // why it did not start
};

// A screen of the given size in 24-bit colour.
XServer start_xvfb(int width = 1024, int height = 768);

// Ends a child process: politely, then for good; nothing when pid is not positive.
void stop_process(pid_t pid);

// Exit status (128 + the signal when a signal ended it), or -1 when the process is still
// running after the timeout.
int wait_for_exit(pid_t pid, int timeout_ms);

void pause_ms(int ms);
bool before_deadline(std::chrono::steady_clock::time_point start, int timeout_ms);
