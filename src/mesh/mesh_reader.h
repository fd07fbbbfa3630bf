// The text mesh format: "Vertex N x y z {normal=(nx ny nz)}" and "Face N a b c" records.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "mesh/mesh_store.h"
#include "mesh/reading_notes.h"

enum class ReadOutcome {
    complete,        // everything was read
    cannot_open,     // nothing was read; the reason says why
    read_failed,     // the system failed a read part way; the mesh holds what came before
    out_of_memory,   // the lists could grow no further; the mesh holds what was read before
    overlong_record, // a record ran on past longest_record bytes; the mesh holds what came before
};

// No record an exporter writes comes near this. A record longer than this (blanks inside it do
// not count) may stop the reading, depending on where the chunks fall; one longer than twice
// this always does, so no record can hold more memory than that.
const std::size_t longest_record = std::size_t(1) << 20;

struct ReadReport {
    ReadOutcome outcome = ReadOutcome::complete;
    bool file_changed = false; // the file shrank, grew or was rewritten while it was read
    std::string reason;        // the system's reason, for cannot_open and read_failed
    int error = 0;             // its errno
    ReadingFindings findings;  // Vertex lines without the normal part, numbers that are not places
};

// How a file's bytes are read: in chunks of chunk_bytes, by `parts` readers side by side, or in
// order as a stream whose lists are kept in segments of segment_bytes of text.
struct ReadingPlan {
    int parts = 1;
    bool on_threads = true; // false: the parts one after another on this thread, joined the same way
    std::size_t chunk_bytes = std::size_t(1) << 20;
    std::size_t most_list_bytes = SIZE_MAX; // reading stops, out of memory, before the lists pass this
    bool as_stream = false;
    std::uint64_t segment_bytes = std::uint64_t(64) << 20;
};

// Appends every record of the text to the mesh; lines that match no record are skipped.
ReadOutcome read_mesh_text(const char* begin, const char* end, MeshStore& mesh);

// Reads text the way a file holding it is read: a byte-order mark at its start is skipped, and
// it is read in chunks and parts as the plan says. The lists come out as for one reading alone.
ReadReport read_text_as_file(const std::string& text, MeshStore& mesh, const ReadingPlan& plan);

// What the lists are held to unless told otherwise: half the machine's memory.
std::size_t most_list_bytes_by_default();

// The descriptor's state, asked by descriptor alone (a confined reader may ask no name).
bool descriptor_status(int fd, struct stat& status);

// Reads a file, a FIFO or a device: regular files in parts on every core when they are large,
// anything else in order as its bytes arrive. Memory stays bounded by the lists.
ReadReport read_mesh_file(const std::string& path, MeshStore& mesh);

// The same with the lists held to `most_list_bytes` instead of half the machine's memory.
ReadReport read_mesh_file(const std::string& path, MeshStore& mesh, std::size_t most_list_bytes);

// The same for a file already open, whose state when reading began was `at_start`.
ReadReport read_opened_file(int fd, const struct stat& at_start, MeshStore& mesh);
ReadReport read_opened_file(int fd, const struct stat& at_start, MeshStore& mesh, std::size_t most_list_bytes);
