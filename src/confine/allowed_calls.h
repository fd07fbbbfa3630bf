// The system calls a confined process may make, one table for each kind of process: one row per
// allowed call with the arguments it may take and why it is needed. Every other call is answered
// EPERM, so a library that tries something else goes on with its own failure path.
#pragma once

#include <cstdint>
#include <vector>

#include "confine/confinement.h"

struct ArgumentTest {
    enum Test { is, is_not, has_bits, lacks_bits };
    unsigned argument; // 0 to 5
    Test test;
    std::uint64_t value; // own_process stands for the calling process's id
};

const std::uint64_t own_process = ~std::uint64_t(0);

struct AllowedCall {
    const char* call;                 // as the kernel's headers name it
    std::vector<ArgumentTest> tests;  // all must hold; a call of several rows is allowed when one row holds
    const char* why;
};

// The calls every kind makes, then each kind's own.
const std::vector<AllowedCall>& calls_of_every_kind();
const std::vector<AllowedCall>& calls_of(ConfinedKind kind);

// Calls whose arguments a filter cannot read are answered "not there", so that the C library
// falls back to the calls it can read (clone3 to clone).
const std::vector<const char*>& calls_not_there();
