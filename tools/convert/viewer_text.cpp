// Writing the viewer's text: numbers as the shortest text that reads back as the same float
// (std::to_chars), records formatted in blocks of 64K on two threads a block apart, and written in
// order by a third as they are done. A slow reader (the viewer, through a pipe) holds up only the
// writing: the formatting runs on until four blocks wait.
#include "convert_mesh.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

const std::size_t records_per_block = 1 << 16;
const std::size_t blocks_ahead = 4;
const int formatting_threads = 2;

// The longest lines there can be: every number at its longest.
const std::size_t longest_vertex_line = 200, longest_face_line = 100;

char* put_text(char* at, const char* text)
{
    while (*text)
        *at++ = *text++;
    return at;
}

template <typename Number>
char* put_number(char* at, Number value)
{
    return std::to_chars(at, at + 32, value).ptr;
}

struct Normal {
    float x, y, z;
};

// Every normal the converter writes is one place's work: the file's own, the import's and the
// made ones alike go out at unit length, so that no corner lights too bright or too dark. Made
// and imported normals always have a direction; should one not, it points up.
Normal unit_length(const float n[3])
{
    const double length = std::sqrt(double(n[0]) * n[0] + double(n[1]) * n[1] + double(n[2]) * n[2]);
    if (!(length > 0) || !std::isfinite(length))
        return {0, 0, 1};
    return {float(n[0] / length), float(n[1] / length), float(n[2] / length)};
}

// Room for the longest lines a block can hold, never touched beyond what its lines take.
struct Block {
    std::unique_ptr<char[]> text;
    std::size_t room = 0, used = 0;
};

char* room_for(Block& block, std::size_t bytes)
{
    if (block.room < bytes) {
        block.text.reset(new char[bytes]);
        block.room = bytes;
    }
    return block.text.get();
}

void format_vertices(const ConvertedMesh& mesh, std::size_t first, std::size_t last, Block& out)
{
    char* const start = room_for(out, (last - first) * longest_vertex_line);
    char* at = start;
    for (std::size_t i = first; i < last; ++i) {
        const ConvertedVertex& v = mesh.vertices[i];
        at = put_number(put_text(at, "Vertex "), i + 1);
        *at++ = ' ';
        for (const float p : v.position)
            *at++ = ' ', at = put_number(at, p);
        const Normal n = unit_length(v.normal);
        at = put_text(at, " {normal=(");
        at = put_number(at, n.x);
        *at++ = ' ', at = put_number(at, n.y);
        *at++ = ' ', at = put_number(at, n.z);
        at = put_text(at, ")}\n");
    }
    out.used = std::size_t(at - start);
}

void format_faces(const ConvertedMesh& mesh, std::size_t first, std::size_t last, Block& out)
{
    char* const start = room_for(out, (last - first) * longest_face_line);
    char* at = start;
    for (std::size_t t = first; t < last; ++t) {
        at = put_number(put_text(at, "Face "), t + 1);
        *at++ = ' ';
        for (int k = 0; k < 3; ++k)
            *at++ = ' ', at = put_number(at, mesh.corner_vertices[3 * t + std::size_t(k)] + 1);
        *at++ = '\n';
    }
    out.used = std::size_t(at - start);
}

using Formatter = void (*)(const ConvertedMesh&, std::size_t, std::size_t, Block&);

// A file on disk is synced before it takes its name: its pages start on their way to the disk
// as each block is written, so the sync at the end waits for little more than the last block.
// (A pipe or a device says no, which changes nothing: its answer must not take the place of the
// stream's own error, which the caller reports.)
void start_writing_back(std::FILE* out)
{
    if (std::fflush(out) != 0)
        return;
    const int stream_error = errno;
    sync_file_range(fileno(out), 0, 0, SYNC_FILE_RANGE_WRITE);
    errno = stream_error;
}

// Blocks go round a ring: block b is formatted into ring[b % blocks_ahead] once block
// b - blocks_ahead is written, and written once it is formatted.
struct Writing {
    const ConvertedMesh& mesh;
    Formatter format;
    std::size_t records, blocks;
    std::uint64_t bytes = 0;
    std::vector<Block> ring;
    std::vector<std::size_t> formatted; // per ring place: one past the block it holds, 0 none
    std::mutex lock;
    std::condition_variable changed;
    std::size_t next_to_format = 0, written = 0;
};

void format_blocks(Writing& w)
{
    std::unique_lock<std::mutex> held(w.lock);
    for (;;) {
        const std::size_t b = w.next_to_format;
        if (b >= w.blocks)
            return;
        ++w.next_to_format;
        w.changed.wait(held, [&] { return b < w.written + blocks_ahead; });
        held.unlock();
        Block& block = w.ring[b % blocks_ahead];
        w.format(w.mesh, b * records_per_block, std::min(w.records, (b + 1) * records_per_block), block);
        held.lock();
        w.formatted[b % blocks_ahead] = b + 1;
        w.changed.notify_all();
    }
}

// Errors show in the stream's error flag, which the caller checks once at the end.
void write_blocks(Writing& w, std::FILE* out)
{
    for (std::size_t b = 0; b < w.blocks; ++b) {
        std::unique_lock<std::mutex> held(w.lock);
        w.changed.wait(held, [&] { return w.formatted[b % blocks_ahead] == b + 1; });
        held.unlock();
        const Block& block = w.ring[b % blocks_ahead];
        std::fwrite(block.text.get(), 1, block.used, out);
        w.bytes += block.used;
        start_writing_back(out);
        held.lock();
        w.written = b + 1;
        w.changed.notify_all();
    }
}

std::uint64_t write_records(const ConvertedMesh& mesh, std::size_t records, Formatter format, std::FILE* out)
{
    Writing w{mesh, format, records, (records + records_per_block - 1) / records_per_block, 0,
              std::vector<Block>(blocks_ahead), std::vector<std::size_t>(blocks_ahead, 0), {}, {}, 0, 0};
    std::vector<std::thread> formatters;
    for (int t = 0; t < formatting_threads; ++t) {
        try {
            formatters.emplace_back(format_blocks, std::ref(w));
        } catch (const std::system_error&) {
        }
    }
    if (formatters.empty()) // no thread to be had: one block after another, here
        for (std::size_t b = 0; b < w.blocks; ++b) {
            format(mesh, b * records_per_block, std::min(records, (b + 1) * records_per_block), w.ring[0]);
            std::fwrite(w.ring[0].text.get(), 1, w.ring[0].used, out);
            w.bytes += w.ring[0].used;
        }
    else
        write_blocks(w, out);
    for (std::thread& t : formatters)
        t.join();
    return w.bytes;
}

} // namespace

bool write_viewer_text(const ConvertedMesh& mesh, std::FILE* out, std::uint64_t* bytes)
{
    const std::uint64_t written = write_records(mesh, mesh.vertices.size(), format_vertices, out) +
                                  write_records(mesh, mesh.corner_vertices.size() / 3, format_faces, out);
    if (bytes)
        *bytes = written;
    return !std::ferror(out);
}
