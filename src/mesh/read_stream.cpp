// Reading a stream, whose length nobody knows until it ends. Its lists are kept in segments, each
// with room for the records of its own stretch of text (64 MiB), so no list ever copies while it grows;
// once the stream ends they are joined into lists of the exact size, each segment giving up its
// pages as it is copied, so the peak stays near the lists themselves.
#include <new>
#include <vector>

#include "mesh/chunk_reader.h"
#include "mesh/list_room.h"
#include "mesh/read_source.h"

namespace {

// The segments in order, into the first. With one segment there is nothing to copy.
void join_segments(std::vector<MeshStore>& segments, MeshStore& mesh)
{
    if (segments.size() == 1) {
        mesh = std::move(segments[0]);
        return;
    }
    std::size_t vertices = 0, faces = 0;
    for (const MeshStore& segment : segments) {
        vertices += segment.vertices.size();
        faces += segment.faces.size();
    }
    mesh = MeshStore{};
    mesh.vertices.reserve(vertices);
    mesh.faces.reserve(faces);
    for (MeshStore& segment : segments) {
        move_records(mesh.vertices, segment.vertices, 0);
        move_records(mesh.faces, segment.faces, 0);
    }
}

bool stream_ended(const ChunkReader& reader)
{
    return reader.ended && reader.next == reader.filled;
}

} // namespace

ReadingResult read_stream(const ByteSource& source, MeshStore& mesh, const ReadingLimits& limits)
{
    ChunkReader reader;
    start_reading(reader, source, 0, limits.chunk_bytes);
    reader.most_list_bytes = limits.most_list_bytes;
    std::vector<MeshStore> segments(1);
    segments[0] = std::move(mesh);
    try {
        reserve_for_text(segments[0], limits.segment_bytes, limits.most_list_bytes);
        for (std::uint64_t stop = limits.segment_bytes;; stop += limits.segment_bytes) {
            read_records_before(reader, segments.back(), stop);
            if (reader.outcome != ReadOutcome::complete || stream_ended(reader))
                break;
            if (has_room_for_text(segments.back(), limits.segment_bytes))
                continue;
            reader.earlier_list_bytes += list_bytes(segments.back());
            segments.emplace_back();
            reserve_for_text(segments.back(), limits.segment_bytes, limits.most_list_bytes);
        }
        join_segments(segments, mesh);
    } catch (const std::bad_alloc&) {
        reader.outcome = ReadOutcome::out_of_memory;
        join_segments(segments, mesh);
    }
    ReadingFindings findings;
    findings.unread_normals = reader.notes.unread_normals;
    look_for_misnumbered(findings, NotedSpan{&reader.notes, 0, 0, reader.notes.stored});
    return {reader.outcome, reader.error, false, findings};
}
