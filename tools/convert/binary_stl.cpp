// Little-endian floats and counts, as the format has them on every machine that writes it.
#include "binary_stl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "corner_join.h"

namespace {

const std::size_t header_bytes = 84, record_bytes = 50;
const std::size_t records_per_block = 1 << 15;

// Reads up to `size` bytes at the file's offset; fewer only at its end.
ssize_t read_fully(int fd, char* into, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, into + got, size - got);
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

// The file opened and its header read; fd is -1 when it is no binary STL or cannot be read.
Opened open_binary_stl(const std::string& path)
{
    Opened file;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    char header[header_bytes];
    if (fd < 0)
        return file;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || read_fully(fd, header, header_bytes) != ssize_t(header_bytes)) {
        close(fd);
        return file;
    }
    file.count = count_in(header);
    file.size = std::uint64_t(info.st_size);
    if (file.size != header_bytes + record_bytes * std::uint64_t(file.count)) {
        close(fd);
        return file;
    }
    file.fd = fd;
    return file;
}

void take_records(const char* block, std::size_t records, VertexJoin& join, ConvertedMesh& mesh, FacetCounts& facets)
{
    for (std::size_t r = 0; r < records; ++r) {
        float f[12];
        floats_of(block + r * record_bytes, f);
        for (int k = 1; k <= 3; ++k)
            mesh.corner_vertices.push_back(join_vertex(join, f + 3 * k, nullptr));
        judge_facet(f, f + 3, f + 6, f + 9, facets);
    }
}

} // namespace

bool is_binary_stl(const std::string& path)
{
    const Opened file = open_binary_stl(path);
    if (file.fd >= 0)
        close(file.fd);
    return file.fd >= 0;
}

bool read_binary_stl(const std::string& path, ConvertedMesh& mesh, FacetCounts& facets, std::string& reason)
{
    const Opened file = open_binary_stl(path);
    if (file.fd < 0) {
        reason = "it is no longer a binary STL";
        return false;
    }
    // A closed surface has about half as many vertices as triangles.
    VertexJoin join = start_join(mesh, file.count / 2 + 16);
    mesh.corner_vertices.reserve(3 * std::size_t(file.count));
    std::vector<char> block(records_per_block * record_bytes);
    bool read_well = true;
    for (std::uint32_t done = 0; done < file.count && read_well;) {
        const std::size_t records = std::min<std::size_t>(records_per_block, file.count - done);
        const ssize_t got = read_fully(file.fd, block.data(), records * record_bytes);
        if (got != ssize_t(records * record_bytes)) {
            reason = got < 0 ? std::strerror(errno) : "the file is damaged (it ends within its " + std::to_string(file.count) + " triangles)";
            read_well = false;
        } else {
            take_records(block.data(), records, join, mesh, facets);
        }
        done += std::uint32_t(records);
    }
    close(file.fd);
    end_join(join);
    return read_well;
}
