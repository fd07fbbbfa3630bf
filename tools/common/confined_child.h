// Children of a tool that confine themselves to reading before they read: one that answers a
// question about a file for the tool, and one that reads the file. A tool that both asks and
// reads can keep the child that answered for the reading: each child costs a fork and a
// confinement, a few milliseconds that a thumbnail cannot spare twice.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Whether `question` holds of the file `path`, asked of a child that confines itself to reading
// that file first: the caller itself reads nothing of it. False too when no child could be
// started, or it died.
using FileQuestion = bool (*)(const std::string& path);
bool ask_confined(FileQuestion question, const std::string& path);

// The same for a question whose answer is more than yes or no: its bytes, in `answer`. False, with
// no answer, when no child could be started or it died before it answered.
using FileInquiry = std::string (*)(const std::string& path);
bool inquire_confined(FileInquiry inquiry, const std::string& path, std::string& answer);

// What a confined child reads once it is handed a descriptor (-1: none) and a number: it says on
// `report_fd` why it failed, or nothing, and returns the child's exit status.
using ConfinedReading = int (*)(int handed_fd, int handed_number, int report_fd);

// The next child asked a question stays after its answer, confined as it is, to do `reading`.
void keep_next_confined_child_for(ConfinedReading reading);

struct ConfinedReader {
    pid_t pid = -1;     // -1: no child could be started
    int report_fd = -1; // what it says, up to the end of file when it ends
};

// `reading` in the child kept after its answer, handed a copy of `fd` and `number`; without one,
// in a new child that first confines itself to reading `readable`.
ConfinedReader start_confined_reading(ConfinedReading reading, const std::vector<std::string>& readable, int fd,
                                      int number);
