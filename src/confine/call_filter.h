// The seccomp filter made from a kind's table of allowed calls.
#pragma once

#include "confine/confinement.h"

// Loads the kind's filter for every thread of the calling process, for good. False when the
// kernel or a host sandbox would not take it.
bool allow_only_calls_of(ConfinedKind kind);
