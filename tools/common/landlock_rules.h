// The kernel's own file, network and scope rules (Landlock) for a process that only reads: it
// may read beneath the places named, write only through descriptors it held before, bind or
// connect no TCP port, and signal or reach by abstract socket nothing outside itself.
#pragma once

#include <string>
#include <vector>

#include "confine_to_reading.h"

// The kernel's Landlock version: 0 when it has none, or a sandbox refuses to say.
int landlock_version();

// Restricts the calling process for good at the kernel's version `abi`, recording in `got` what
// took. Needs no_new_privs set first.
void restrict_to_reading(int abi, const std::vector<std::string>& readable, ReadingConfinement& got);
