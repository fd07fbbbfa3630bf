// One reading through a byte source, in bounded chunks. Records may run over a chunk's end; such
// a record is taken back and read again once more bytes have come, so the lists come out exactly
// as if the whole text were in memory. Only a record's own text is ever kept between chunks:
// a skipped line runs on without being kept, and the blanks inside a long record shrink to one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mesh/byte_source.h"
#include "mesh/mesh_reader.h"
#include "mesh/reading_notes.h"

// Where a reading began a record, and how long its lists were then.
struct Step {
    std::uint64_t offset;
    std::size_t vertices, faces;
    std::uint64_t unread_normals; // the reading's count of them then
};

struct ChunkReader {
    const ByteSource* source = nullptr;
    std::size_t chunk_bytes = 0;
    std::size_t most_list_bytes = SIZE_MAX; // the lists stop growing here, short of the machine's memory
    std::size_t earlier_list_bytes = 0;     // records this reading put into lists before the current one
    std::vector<char> buffer;
    std::size_t filled = 0;          // bytes in the buffer
    std::size_t next = 0;            // where the next record begins
    std::uint64_t start_offset = 0;  // source offset of buffer[0]
    std::uint64_t collapsed = 0;     // blanks taken out of the record at buffer[0]: every later byte sits this much further on
    std::uint64_t fetch_offset = 0;  // where the next fetch reads
    bool at_file_start = false;      // a byte-order mark may come first
    bool ended = false;              // the source has given its last byte
    bool skipping_line = false;      // a skipped line runs on past the buffer
    bool cut_short = false;          // the file ended before the size it had at the start
    ReadOutcome outcome = ReadOutcome::complete; // anything else stops the reading
    int error = 0;                   // errno, for read_failed
    ReadingNotes notes;
};

void start_reading(ChunkReader& reader, const ByteSource& source, std::uint64_t offset,
                   std::size_t chunk_bytes);

// Reads the records that begin before the source offset `stop`; the last may run on past it.
// When `steps` is given, the first noted_steps record starts are noted there.
void read_records_before(ChunkReader& reader, MeshStore& mesh, std::uint64_t stop,
                         std::vector<Step>* steps = nullptr);

const std::size_t noted_steps = 64;
static_assert(noted_steps < std::size_t(noted_numbers), "a joining step falls among the noted vertex numbers");

// The source offset where the next record begins; false when the reading has nothing more.
bool next_record_offset(ChunkReader& reader, const MeshStore& mesh, std::uint64_t& offset);
