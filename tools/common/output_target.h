// Where a tool's output goes. A regular file or a new name is replaced whole, atomically: the new
// text is written beside it and renamed over it only when complete. A symbolic link stays a link
// and its target is replaced; a character device or a FIFO is written into directly, as cp does.
#pragma once

#include <cstdio>
#include <string>

struct OutputTarget {
    std::string named;     // OUTPUT as given
    std::string path;      // the file that is replaced or written into, links followed
    bool direct = false;   // written into as it is: a character device or a FIFO
    bool exists = false;   // a regular file is there now; its permissions carry over
    unsigned mode = 0666;  // the permissions a replacing file gets, before the umask
    std::string temporary; // the whole new file until it takes path's place
};

// False with the system's reason when OUTPUT is nothing the converter may write.
bool plan_output(const std::string& output, OutputTarget& target, std::string& reason);

// The descriptor to write to: a new temporary file beside the target (named after `tool`), or
// the target itself.
int open_output(OutputTarget& target, const std::string& tool, std::string& reason);

// Writes the output through a stream on `fd` with `write` (false when the stream fails, errno
// saying why), then flushes, syncs and closes it: after true, everything written has reached the
// disk (a file) or the reader (a device or FIFO). False with the system's reason.
using StreamWriter = bool (*)(std::FILE* out, const void* what);
bool write_and_close(const OutputTarget& target, int fd, StreamWriter write, const void* what,
                     std::string& reason);

// After a whole, successful write: the temporary file takes the target's place.
bool finish_output(const OutputTarget& target, std::string& reason);

// After a failure: nothing of the attempt stays behind.
void discard_output(const OutputTarget& target);
