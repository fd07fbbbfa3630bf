// The kernel's own file, network and scope rules (Landlock) for a confined process: it may open
// no file by name at all (it works on descriptors it was handed), bind or connect no TCP port,
// and signal or reach by abstract socket nothing outside itself.
#pragma once

#include "confine/confinement.h"

// The kernel's Landlock version: 0 when it has none, or a sandbox refuses to say.
int landlock_version();

// Restricts the calling thread for good at the kernel's version `abi`, recording in `got` what
// took. Needs no_new_privs set first.
void shut_out_of_files(int abi, Confinement& got);
