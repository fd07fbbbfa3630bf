// The memory the LD_PRELOAD libraries of the confinement tests share with the test, and with one
// another across every process of a tool: a file the test made, mapped shared before anything is
// confined, so that a confined child says what it did without a descriptor or a name.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// What counts as the input: the file itself, and what carries its bytes on (a copy in memory,
// the converter's output) once a process that read it holds it.
struct ProbeIdentity {
    std::atomic<std::uint32_t> ready;
    std::uint64_t device, inode;
};

// Every process the libraries were loaded in or fired in, for finding a sibling.
struct ProbeProcess {
    std::atomic<std::uint32_t> ready;
    std::int32_t pid, parent;
};

struct ProbeMemory {
    std::atomic<std::uint64_t> said; // bytes of `text` taken
    std::atomic<std::uint32_t> identities, processes;
    ProbeIdentity identity[32];
    ProbeProcess process[256];
    char text[8];                    // runs on to the end of the file
};

const std::size_t probe_memory_bytes = std::size_t(8) << 20;
const std::size_t probe_text_room = probe_memory_bytes - sizeof(ProbeMemory) + sizeof(ProbeMemory::text);
