// Thumbnail hosts make the output file empty and read it back through the descriptor they made it
// with, so a picture put in its place would go unseen: such a file is written into instead. Only
// this user's own file with one name is; another's file, or one with a second name elsewhere, is
// replaced, so nothing written reaches a file someone else can read or change.
#pragma once

#include "output_target.h"

// Turns a planned replacement of an empty regular file that this user owns, with a single link,
// into a filling. Any other target stays as it was planned.
void fill_if_empty(OutputTarget& target);

// The file to fill, opened for writing, or -1 with errno. Should the name lead to another file by
// now, or to one that no longer qualifies, the target goes back to being replaced (and -1 is
// returned with errno 0).
int open_filled(OutputTarget& target);

// After a failure: its maker reads what is left, so it is better left with nothing than with part
// of the output.
void empty_filled(int fd);
