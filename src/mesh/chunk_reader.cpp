// Reading a source chunk by chunk. A record that runs into the end of the buffer while the source
// has more is undone and kept; the next chunk is appended behind it and it is read again. Only
// the last record can run into the end, and it examined no byte beyond it, so every other
// record reads exactly as it would with the whole text in memory.
#include "mesh/chunk_reader.h"

#include <algorithm>
#include <cstring>

#include "mesh/read_record.h"

namespace {

// The shortest texts that still hold a whole record: "Vertex1 1 1 1{normal=(1 1 1" and
// "Face1 1 1 1". No chunk can add more records than its bytes allow for.
const std::size_t shortest_vertex_record = 26;
const std::size_t shortest_face_record = 11;

const char byte_order_mark[] = "\xEF\xBB\xBF";

std::uint64_t offset_at(const ChunkReader& r, std::size_t position)
{
    return r.start_offset + position + (position > 0 ? r.collapsed : 0);
}

// The first buffer position whose source offset is at or past `stop`. A record kept at
// buffer[0] reads on past every collapsed blank, so the next one begins beyond them.
std::size_t position_of(const ChunkReader& r, std::uint64_t stop)
{
    if (stop <= r.start_offset)
        return 0;
    const std::uint64_t past = stop - r.start_offset;
    const std::uint64_t position = past > r.collapsed ? past - r.collapsed : 1;
    return static_cast<std::size_t>(std::min<std::uint64_t>(position, r.filled));
}

bool is_record_start(char c)
{
    return c == 'V' || c == 'F' || c == '\n';
}

// The record that began at `start` ran into the end of the buffer. A skipped line goes on being
// skipped unless its line end was the last byte; anything else is undone, to be read again
// with more bytes behind it.
void take_back(ChunkReader& r, MeshStore& mesh, const char* start, std::size_t vertices, std::size_t faces)
{
    if (!is_record_start(*start)) {
        r.skipping_line = r.buffer[r.filled - 1] != '\n';
        r.next = r.filled;
        return;
    }
    take_back_notes(r.notes, start, mesh.vertices.size() > vertices);
    mesh.vertices.resize(vertices);
    mesh.faces.resize(faces);
    r.next = static_cast<std::size_t>(start - r.buffer.data());
}

void note_step(std::vector<Step>& steps, std::uint64_t offset, const MeshStore& mesh, const ReadingNotes& notes)
{
    if (steps.empty() || steps.back().offset < offset)
        steps.push_back({offset, mesh.vertices.size(), mesh.faces.size(), notes.unread_normals});
}

// Reads one buffered record. False when it ran into the end of the buffer while the source has
// more, and was taken back.
inline bool read_one(ChunkReader& r, MeshStore& mesh, Cursor& in, bool more_to_come)
{
    const char* const start = in.p;
    const std::size_t vertices = mesh.vertices.size(), faces = mesh.faces.size();
    read_record(in, mesh, r.notes);
    if (in.p == in.end && more_to_come) {
        take_back(r, mesh, start, vertices, faces);
        return false;
    }
    return true;
}

// Reads the buffered records that begin before `limit`. False when one was taken back.
bool read_buffered_records(ChunkReader& r, MeshStore& mesh, std::size_t limit, std::vector<Step>* steps)
{
    char* const buffer = r.buffer.data();
    Cursor in{buffer + r.next, buffer + r.filled};
    const char* const stop_at = buffer + limit;
    const bool more_to_come = !r.ended;
    while (steps && steps->size() < noted_steps && in.p < stop_at) {
        note_step(*steps, offset_at(r, static_cast<std::size_t>(in.p - buffer)), mesh, r.notes);
        if (!read_one(r, mesh, in, more_to_come))
            return false;
    }
    while (in.p < stop_at)
        if (!read_one(r, mesh, in, more_to_come))
            return false;
    r.next = static_cast<std::size_t>(in.p - buffer);
    return true;
}

// Moves the kept record, if any, to the front of the buffer.
void keep_pending(ChunkReader& r)
{
    if (r.next == 0)
        return;
    r.start_offset = offset_at(r, r.next);
    r.collapsed = 0;
    std::memmove(r.buffer.data(), r.buffer.data() + r.next, r.filled - r.next);
    r.filled -= r.next;
    r.next = 0;
}

// Inside a kept record every run of blanks was read by one skip, which a single blank serves as
// well; a record that stays too long after that is no record any exporter writes.
bool shorten_pending(ChunkReader& r)
{
    if (r.filled <= r.chunk_bytes)
        return true;
    char* const text = r.buffer.data();
    std::size_t kept = 1; // the record's first byte, V or F, stays as it is
    for (std::size_t i = 1; i < r.filled; ++i)
        if (!(is_blank(text[i]) && kept > 1 && text[kept - 1] == ' '))
            text[kept++] = is_blank(text[i]) ? ' ' : text[i];
    r.collapsed += r.filled - kept;
    r.filled = kept;
    if (r.filled <= longest_record)
        return true;
    r.outcome = ReadOutcome::overlong_record;
    return false;
}

bool lists_have_room(const ChunkReader& r, const MeshStore& mesh)
{
    const std::size_t vertices = mesh.vertices.size() + r.chunk_bytes / shortest_vertex_record + 1;
    const std::size_t faces = mesh.faces.size() + r.chunk_bytes / shortest_face_record + 1;
    return r.earlier_list_bytes + vertices * sizeof(Vertex) + faces * sizeof(Face) <= r.most_list_bytes;
}

bool fetch_more(ChunkReader& r)
{
    if (r.buffer.size() < r.filled + r.chunk_bytes)
        r.buffer.resize(r.filled + r.chunk_bytes);
    const Fetched got = fetch(*r.source, r.fetch_offset, r.buffer.data() + r.filled, r.chunk_bytes);
    if (got.error) {
        r.outcome = ReadOutcome::read_failed;
        r.error = got.error;
        return false;
    }
    r.filled += got.bytes;
    r.fetch_offset += got.bytes;
    r.ended = got.ended;
    r.cut_short = r.cut_short || got.cut_short;
    return true;
}

// A skipped line ends at the next line end, wherever in the stream that comes.
bool finish_skipped_line(ChunkReader& r)
{
    const void* line_end = std::memchr(r.buffer.data(), '\n', r.filled);
    if (line_end) {
        r.skipping_line = false;
        r.next = static_cast<std::size_t>(static_cast<const char*>(line_end) - r.buffer.data()) + 1;
        return true;
    }
    r.start_offset += r.filled;
    r.filled = 0;
    return false;
}

void skip_byte_order_mark(ChunkReader& r)
{
    r.at_file_start = false;
    if (r.filled >= 3 && std::memcmp(r.buffer.data(), byte_order_mark, 3) == 0)
        r.next = 3;
}

// Brings the next chunk in behind the kept record. False when the reading has nothing more.
bool refill(ChunkReader& r, const MeshStore& mesh)
{
    if (r.ended)
        return r.next < r.filled;
    r.notes.last_unread = nullptr; // the buffer's bytes move: it named a place in the old ones
    keep_pending(r);
    if (!shorten_pending(r))
        return false;
    if (!lists_have_room(r, mesh)) {
        r.outcome = ReadOutcome::out_of_memory;
        return false;
    }
    while (!r.ended) {
        if (!fetch_more(r))
            return false;
        if (r.at_file_start && r.filled < 3 && !r.ended)
            continue;
        if (r.at_file_start)
            skip_byte_order_mark(r);
        if (r.skipping_line && !finish_skipped_line(r))
            continue;
        if (r.next < r.filled)
            return true;
    }
    return r.next < r.filled;
}

} // namespace

void start_reading(ChunkReader& reader, const ByteSource& source, std::uint64_t offset,
                   std::size_t chunk_bytes)
{
    reader.source = &source;
    reader.chunk_bytes = std::max<std::size_t>(chunk_bytes, 1);
    reader.start_offset = reader.fetch_offset = offset;
    reader.at_file_start = offset == 0;
}

void read_records_before(ChunkReader& r, MeshStore& mesh, std::uint64_t stop, std::vector<Step>* steps)
{
    while (r.outcome == ReadOutcome::complete) {
        if (r.next == r.filled && !refill(r, mesh))
            return;
        const std::size_t limit = position_of(r, stop);
        if (r.next >= limit)
            return;
        if (read_buffered_records(r, mesh, limit, steps) && limit < r.filled)
            return;
        if (r.next < r.filled && !refill(r, mesh))
            return;
    }
}

bool next_record_offset(ChunkReader& r, const MeshStore& mesh, std::uint64_t& offset)
{
    if (r.outcome != ReadOutcome::complete || (r.next == r.filled && !refill(r, mesh)))
        return false;
    offset = offset_at(r, r.next);
    return true;
}
