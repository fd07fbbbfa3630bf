// Where a tool's output goes. A regular file or a new name is replaced whole, atomically: the new
// text is written to an unnamed file beside it that takes its name only when complete. A symbolic
// link stays a link and its target is replaced; a character device or a FIFO is written into, as
// cp does; a socket is connected to; a name for an open descriptor (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N) is written through that descriptor at its position, so appends append.
#pragma once

#include <cstdio>
#include <string>

enum class OutputKind {
    replaced,   // a regular file or a new name: written beside, then renamed over it
    direct,     // a character device or a FIFO: opened and written into
    socket,     // a listening local socket: connected to and written into
    descriptor, // a descriptor the tool was given: written through a copy of it
    filled,     // an empty file of this user's that its maker reads back by descriptor: written into
};

struct OutputTarget {
    std::string named;     // OUTPUT as given
    std::string path;      // the file that is replaced or written into, links followed
    OutputKind kind = OutputKind::replaced;
    int descriptor = -1;   // for OutputKind::descriptor: the number the name gives
    bool exists = false;   // a regular file is there now; its permissions carry over
    unsigned mode = 0666;  // the permissions a replacing file gets, before the umask
    bool unnamed = false;  // the new file has no name until it is complete
    std::string temporary; // the new file's name beside the target while it has one
    std::string temporary_prefix; // what that name begins with: the folder and the tool's name
};

// False with the system's reason when OUTPUT is nothing the tool may write.
bool plan_output(const std::string& output, OutputTarget& target, std::string& reason);

// Whether the target is the file `input` names (by any path: a link, a hard link, a descriptor):
// writing it would destroy what is being read.
bool output_is_input(const OutputTarget& target, const std::string& input);

// Whether the target is the file that descriptor `fd` holds open (standard output, say).
bool output_is_open_as(const OutputTarget& target, int fd);

// The one line a tool gives when OUTPUT is its input, as cp words it.
std::string same_file_message(const std::string& input, const std::string& output);

// The descriptor to write to: a new file beside the target (named after `tool` if it must have a
// name at all), or the target itself. -1 with the system's reason.
int open_output(OutputTarget& target, const std::string& tool, std::string& reason);

// Writes the output through a stream on a copy of `fd` with `write` (false when the stream fails,
// errno saying why), then flushes and, for a file, syncs it: after true, everything written has
// reached the disk (a file) or the reader. `fd` stays open. False with the system's reason.
using StreamWriter = bool (*)(std::FILE* out, const void* what);
bool write_output(const OutputTarget& target, int fd, StreamWriter write, const void* what,
                  std::string& reason);

// After a whole, successful write: the new file takes the target's place. Closes `fd`.
bool finish_output(OutputTarget& target, int fd, std::string& reason);

// After a failure: nothing of the attempt stays behind. Closes `fd`.
void discard_output(OutputTarget& target, int fd);

// Open, write, finish or discard, for a target already planned.
bool write_planned_output(OutputTarget& target, const std::string& tool, StreamWriter write, const void* what,
                          std::string& reason);

// The whole round for output made in this process: plan, open, write, finish or discard.
bool write_whole_output(const std::string& output, const std::string& tool, StreamWriter write,
                        const void* what, std::string& reason);
