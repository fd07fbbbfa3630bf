// The first read of the input in each process of a tool, seen from inside it by a library loaded
// with LD_PRELOAD: whatever the process, confined or not, and whatever it reads by (read, pread,
// readv, stdio). Each library that uses it says what happens then.
//   OLVANTA_PROBE_MEMORY  the file of ProbeMemory the test made (see probe_memory.h)
//   OLVANTA_PROBE_INPUT   the input, by any name; the first process of the tool takes its identity
#pragma once

#include <sys/types.h>

#include <string>

// Defined by each library: called once a process, in the thread that first read `fd`, which holds
// the input (or what carries its bytes on).
void on_first_read_of_input(int fd);

// Appends to the text the test reads back.
void tell(const std::string& text);

// What the process is, as the test tells the tools' processes apart: "PROGRAM KIND READS FDS",
// KIND the call filter in force (reading, converting, drawing; none; other), READS what `fd` is
// (file, memory, pipe, other) and FDS which of the descriptors 3 to 6 are open.
std::string role_of_this_process(int fd);

// The process that started this one, and another child of it that the libraries have seen (0
// when there is none).
pid_t parent_of_this_process();
pid_t sibling_of_this_process();

// This machine's name, taken before anything was confined.
std::string host_name_at_load();
