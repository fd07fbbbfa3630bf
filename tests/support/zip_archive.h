// Zip archives made in the tests (3MF models are zips): each member is a head, a filler repeated
// to any length, and a tail, deflated as it is made, so a member of gigabytes costs little memory.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

struct ZipMember {
    std::string name;
    std::string head;
    std::string filler;          // repeated filler_bytes long after the head
    std::uint64_t filler_bytes = 0;
    std::string tail;
};

namespace zip_detail {

inline void put(std::string& out, std::uint64_t value, int bytes)
{
    for (int k = 0; k < bytes; ++k)
        out += static_cast<char>(value >> (8 * k) & 0xff);
}

struct Deflated {
    std::string data;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
};

inline void deflate_piece(z_stream& stream, Deflated& d, const std::string& piece, int flush)
{
    d.crc = static_cast<std::uint32_t>(crc32(d.crc, reinterpret_cast<const Bytef*>(piece.data()), uInt(piece.size())));
    d.size += piece.size();
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    stream.avail_in = uInt(piece.size());
    char block[1 << 16];
    do {
        stream.next_out = reinterpret_cast<Bytef*>(block);
        stream.avail_out = sizeof block;
        deflate(&stream, flush);
        d.data.append(block, sizeof block - stream.avail_out);
    } while (stream.avail_out == 0);
}

inline Deflated deflate_member(const ZipMember& m)
{
    Deflated d;
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    deflate_piece(stream, d, m.head, Z_NO_FLUSH);
    std::string chunk;
    while (!m.filler.empty() && chunk.size() < (1u << 20))
        chunk += m.filler;
    for (std::uint64_t left = m.filler_bytes; left > 0;) {
        const std::size_t take = std::size_t(std::min<std::uint64_t>(left, chunk.size()));
        deflate_piece(stream, d, chunk.substr(0, take), Z_NO_FLUSH);
        left -= take;
    }
    deflate_piece(stream, d, m.tail, Z_FINISH);
    deflateEnd(&stream);
    return d;
}

} // namespace zip_detail

// Members over 4 GiB are not supported: the tests stay far below.
inline std::string zip_archive(const std::vector<ZipMember>& members)
{
    using zip_detail::put;
    std::string archive, directory;
    for (const ZipMember& m : members) {
        const zip_detail::Deflated d = zip_detail::deflate_member(m);
        const std::uint64_t offset = archive.size();
        std::string fields; // version, flags, method, time, date, crc, sizes, name length
        put(fields, 20, 2), put(fields, 0, 2), put(fields, 8, 2), put(fields, 0, 2), put(fields, 0x21, 2);
        put(fields, d.crc, 4), put(fields, d.data.size(), 4), put(fields, d.size, 4), put(fields, m.name.size(), 2);
        put(archive, 0x04034b50, 4), archive += fields, put(archive, 0, 2), archive += m.name, archive += d.data;
        put(directory, 0x02014b50, 4), put(directory, 20, 2), directory += fields;
        put(directory, 0, 2), put(directory, 0, 2), put(directory, 0, 2), put(directory, 0, 2), put(directory, 0, 4);
        put(directory, offset, 4), directory += m.name;
    }
    const std::uint64_t directory_offset = archive.size();
    archive += directory;
    put(archive, 0x06054b50, 4), put(archive, 0, 2), put(archive, 0, 2), put(archive, members.size(), 2);
    put(archive, members.size(), 2), put(archive, directory.size(), 4), put(archive, directory_offset, 4);
    put(archive, 0, 2);
    return archive;
}
