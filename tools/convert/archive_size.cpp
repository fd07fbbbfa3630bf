// Reading a zip archive's central directory: the end record at the file's end points to it, and
// each entry gives a member's inflated size, in a zip64 extra field when it is too large for 32 bits.
#include "archive_size.h"

#include "mesh/mesh_reader.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

const std::uint32_t local_header = 0x04034b50, end_record = 0x06054b50, directory_entry = 0x02014b50;
const std::uint32_t zip64_locator = 0x07064b50;
const std::size_t end_record_size = 22, entry_size = 46, longest_comment = 65535;

std::uint64_t little_endian(const unsigned char* at, int bytes)
{
    std::uint64_t value = 0;
    for (int k = bytes - 1; k >= 0; --k)
        value = value << 8 | at[k];
    return value;
}

bool read_at(int fd, std::uint64_t offset, std::vector<unsigned char>& into, std::size_t bytes)
{
    into.resize(bytes);
    return pread(fd, into.data(), bytes, off_t(offset)) == ssize_t(bytes);
}

// The inflated size of one entry: from its zip64 extra field when the 32-bit field is full.
std::uint64_t entry_inflated_size(const unsigned char* entry, const unsigned char* extra, std::size_t extra_bytes)
{
    const std::uint64_t size = little_endian(entry + 24, 4);
    if (size != 0xffffffff)
        return size;
    for (std::size_t at = 0; at + 4 <= extra_bytes;) {
        const std::uint64_t id = little_endian(extra + at, 2), length = little_endian(extra + at + 2, 2);
        if (id == 1 && length >= 8 && at + 12 <= extra_bytes)
            return little_endian(extra + at + 4, 8);
        at += 4 + length;
    }
    return UINT64_MAX / 4; // says it is large and does not say how large
}

std::uint64_t sum_of_entries(const std::vector<unsigned char>& directory, std::uint64_t entries)
{
    std::uint64_t total = 0;
    std::size_t at = 0;
    for (std::uint64_t e = 0; e < entries && at + entry_size <= directory.size(); ++e) {
        const unsigned char* entry = directory.data() + at;
        if (little_endian(entry, 4) != directory_entry)
            break;
        const std::size_t name = little_endian(entry + 28, 2), extra = little_endian(entry + 30, 2),
                          comment = little_endian(entry + 32, 2);
        const std::size_t extra_bytes = std::min(extra, directory.size() - std::min(directory.size(), at + entry_size + name));
        total += std::min(entry_inflated_size(entry, entry + entry_size + name, extra_bytes), UINT64_MAX / 4);
        at += entry_size + name + extra + comment;
    }
    return total;
}

std::uint64_t archive_total(int fd, std::uint64_t file_size)
{
    std::vector<unsigned char> tail;
    const std::size_t tail_bytes = std::size_t(std::min<std::uint64_t>(file_size, end_record_size + longest_comment));
    if (!read_at(fd, file_size - tail_bytes, tail, tail_bytes))
        return 0;
    for (std::size_t at = tail_bytes - end_record_size + 1; at-- > 0;) {
        if (little_endian(tail.data() + at, 4) != end_record)
            continue;
        const std::uint64_t entries = little_endian(tail.data() + at + 10, 2);
        const std::uint64_t directory_bytes = little_endian(tail.data() + at + 12, 4);
        const std::uint64_t directory_offset = little_endian(tail.data() + at + 16, 4);
        std::vector<unsigned char> directory;
        if (directory_offset + directory_bytes > file_size || directory_bytes > (std::uint64_t(64) << 20) ||
            !read_at(fd, directory_offset, directory, std::size_t(directory_bytes)))
            return 0;
        const bool zip64 = at >= 20 && little_endian(tail.data() + at - 20, 4) == zip64_locator;
        return sum_of_entries(directory, zip64 ? UINT64_MAX : entries);
    }
    return 0;
}

} // namespace

std::uint64_t inflated_size_of_archive(int fd)
{
    struct stat info {};
    std::vector<unsigned char> start;
    std::uint64_t total = 0;
    if (descriptor_status(fd, info) && info.st_size >= off_t(end_record_size) && read_at(fd, 0, start, 4) &&
        little_endian(start.data(), 4) == local_header)
        total = archive_total(fd, std::uint64_t(info.st_size));
    return total;
}
