// Whether a whole file is in the form the viewer reads exactly: every record a plain
// "Vertex N x y z {normal=(a b c)}" whose N is its place, or "Face N a b c", with blank lines and
// "#" comments between them. Of such a file the viewer's reading and the converter's are the same
// mesh; of any other file only the converter's reading is whole.
#pragma once

#include <cstdint>

#include "first_view.h"

struct FormJudgement {
    bool in_viewers_form = true;
    std::uint64_t vertices = 0, faces = 0;
    ModelBounds bounds = no_bounds(); // of every vertex, in the file's units
    bool read_failed = false;         // the system failed a read: not judged
    int error = 0;                    // its errno
};

// A whole text, as a file holding it would be judged.
FormJudgement judge_text(const char* begin, const char* end);

// A regular file (or memory file) from its start, in `parts` pieces side by side on threads of
// their own, read with pread so its offset stays where it is. It stops at the first line that is
// not in the form.
FormJudgement judge_file(int fd, std::uint64_t size, int parts);
