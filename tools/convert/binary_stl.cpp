// Little-endian floats and counts, as the format has them on every machine that writes it.
#include "binary_stl.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "corner_join.h"
#include "mesh/mesh_reader.h"

namespace {

const std::size_t header_bytes = 84, record_bytes = 50;

// Reads up to `size` bytes from the file's start; fewer only at its end.
ssize_t read_fully(int fd, char* into, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = pread(fd, into + got, size - got, off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return ssize_t(got);
}

std::uint32_t count_in(const char* header)
{
    const auto* b = reinterpret_cast<const unsigned char*>(header + 80);
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}

void floats_of(const char* record, float out[12])
{
    std::memcpy(out, record, 12 * sizeof(float));
}

struct Opened {
    int fd = -1;
    std::uint64_t size = 0;
    std::uint32_t count = 0;
};

// The header read; fd is -1 when the file is no binary STL or cannot be read.
Opened look_at_binary_stl(int fd)
{
    Opened file;
    struct stat info {};
    char header[header_bytes];
    if (!descriptor_status(fd, info) || !S_ISREG(info.st_mode) || read_fully(fd, header, header_bytes) != ssize_t(header_bytes))
        return file;
    file.count = count_in(header);
    file.size = std::uint64_t(info.st_size);
    if (file.size == header_bytes + record_bytes * std::uint64_t(file.count))
        file.fd = fd;
    return file;
}

// What every joining thread reads from: the file, and each thread's count of the facets it
// judged (a thread judges every `threads`-th block, so each facet is judged once).
struct Records {
    int fd;
    int threads;
    std::vector<FacetCounts> facets;
    std::vector<std::vector<char>> blocks; // one a thread
    int error = 0;
};

bool read_corner_positions(void* context, int thread, std::size_t first, std::size_t count, float* out)
{
    Records& r = *static_cast<Records*>(context);
    std::vector<char>& block = r.blocks[std::size_t(thread)];
    const std::size_t records = count / 3;
    block.resize(records * record_bytes);
    const off_t offset = off_t(header_bytes + first / 3 * record_bytes);
    std::size_t got = 0;
    while (got < block.size()) {
        const ssize_t n = pread(r.fd, block.data() + got, block.size() - got, offset + off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n < 0)
                r.error = errno;
            return false;
        }
        got += std::size_t(n);
    }
    const bool judges = first / corners_per_read % std::size_t(r.threads) == std::size_t(thread);
    for (std::size_t i = 0; i < records; ++i) {
        float f[12];
        floats_of(block.data() + i * record_bytes, f);
        std::memcpy(out + 9 * i, f + 3, 9 * sizeof(float));
        if (judges)
            judge_facet(f, f + 3, f + 6, f + 9, r.facets[std::size_t(thread)]);
    }
    return true;
}

} // namespace

bool is_binary_stl(int fd)
{
    return look_at_binary_stl(fd).fd >= 0;
}

bool read_binary_stl(int fd, ConvertedMesh& mesh, FacetCounts& facets, std::string& reason)
{
    const Opened file = look_at_binary_stl(fd);
    if (file.fd < 0) {
        reason = "it is no longer a binary STL";
        return false;
    }
    const int threads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    Records records{file.fd, threads, std::vector<FacetCounts>(static_cast<std::size_t>(threads)),
                    std::vector<std::vector<char>>(static_cast<std::size_t>(threads)), 0};
    const bool read = join_by_position(3 * std::size_t(file.count), read_corner_positions, &records, threads, mesh);
    if (!read) {
        reason = records.error ? std::strerror(records.error)
                               : "the file is damaged (it ends within its " + std::to_string(file.count) + " triangles)";
        return false;
    }
    for (const FacetCounts& counted : records.facets) {
        facets.facets += counted.facets;
        facets.unusable += counted.unusable;
        facets.disagreeing += counted.disagreeing;
    }
    return true;
}
