// The default limits grow with the file: 4 GiB + 64 x its size (at most the machine's memory),
// and 30 s + 1 s per MB.
#include "conversion_limits.h"

#include <unistd.h>

#include <algorithm>

namespace {

const std::uint64_t base_memory = std::uint64_t(4) << 30;
const std::uint64_t memory_per_file_byte = 64;
const int base_seconds = 30;
const std::uint64_t file_bytes_per_second = 1000000;

std::uint64_t machine_memory()
{
    const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    return pages > 0 && page_size > 0 ? std::uint64_t(pages) * std::uint64_t(page_size) : UINT64_MAX;
}

} // namespace

Limits limits_for(std::uint64_t file_bytes, const ConvertOptions& options)
{
    const std::uint64_t wanted = base_memory + memory_per_file_byte * file_bytes;
    Limits limits{std::max(base_memory, std::min(wanted, machine_memory())),
                  base_seconds + static_cast<int>(file_bytes / file_bytes_per_second)};
    if (options.memory_mib)
        limits.memory_bytes = options.memory_mib * mib;
    if (options.seconds)
        limits.seconds = options.seconds;
    return limits;
}
