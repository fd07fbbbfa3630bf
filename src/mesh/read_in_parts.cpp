// Reading a large file on several cores. The file is cut near line starts, and each part is read
// on its own thread, in chunks, as if it began the file. A line start need not begin a record (a
// record's trailing white space can run over line ends), so each later part notes where its
// first steps began; after the threads finish, the reading of the part before it goes on past
// the cut until it steps onto one of those places. From there on both readings are the same, so
// the later part's records from that place on are the true ones. Should the two never meet,
// the earlier reading simply goes on alone to the end.
#include "mesh/read_source.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "mesh/chunk_reader.h"
#include "mesh/list_room.h"

namespace {

struct Part {
    std::uint64_t begin = 0, stop = 0;
    ChunkReader reader;
    MeshStore mesh;
    std::vector<Step> steps;
};

void read_part(Part& part, bool note_steps)
{
    try {
        read_records_before(part.reader, part.mesh, part.stop, note_steps ? &part.steps : nullptr);
    } catch (const std::bad_alloc&) {
        part.reader.outcome = ReadOutcome::out_of_memory;
    }
}

// Work is not spread evenly over a text: a vertex record takes about three times the work of a
// face record. Small samples read along the source show where the work lies, and the cuts share
// it out; for short sources, the cuts share out bytes.
const int samples = 64;
const std::size_t sample_bytes = 4096;

double work_in_sample(const ByteSource& source, std::uint64_t offset)
{
    char text[sample_bytes];
    const std::size_t got = fetch(source, offset, text, sample_bytes).bytes;
    const char* line_start = static_cast<const char*>(std::memchr(text, '\n', got));
    const char* start = line_start ? line_start + 1 : text + got;
    MeshStore sample;
    read_mesh_text(start, text + got, sample);
    return 3.0 * double(sample.vertices.size()) + double(sample.faces.size()) +
           double(text + got - start) / 100.0 + 1e-9;
}

std::vector<double> cumulative_work(const ByteSource& source, std::uint64_t begin, std::uint64_t end)
{
    std::vector<double> work(samples + 1, 0.0);
    for (int i = 0; i < samples; ++i)
        work[i + 1] = work[i] + work_in_sample(source, begin + (end - begin) * std::uint64_t(i) / samples);
    return work;
}

// Where the share of work before the cut reaches `share` of the whole.
std::uint64_t place_of_work(const std::vector<double>& work, std::uint64_t begin, std::uint64_t end,
                            double share)
{
    const double wanted = share * work[samples];
    int i = 0;
    while (i < samples - 1 && work[i + 1] < wanted)
        ++i;
    const double within = (wanted - work[i]) / (work[i + 1] - work[i]);
    const double position = (double(i) + std::min(1.0, std::max(0.0, within))) / samples;
    return begin + static_cast<std::uint64_t>(position * double(end - begin));
}

// Cuts go just past a line end when one is near; the joining is exact wherever they fall.
std::uint64_t next_line_start(const ByteSource& source, std::uint64_t from)
{
    char text[sample_bytes];
    const std::size_t got = fetch(source, from, text, sample_bytes).bytes;
    const char* line_end = static_cast<const char*>(std::memchr(text, '\n', got));
    return line_end ? from + std::uint64_t(line_end - text) + 1 : from + got;
}

std::vector<std::uint64_t> cuts_for(const ByteSource& source, int parts)
{
    const std::uint64_t size = source.size;
    if (parts == 1)
        return {0, size};
    const bool sampled = size >= std::uint64_t(4 * samples) * sample_bytes;
    const std::vector<double> work = sampled ? cumulative_work(source, 0, size) : std::vector<double>();
    std::vector<std::uint64_t> cuts{0};
    for (int i = 1; i < parts; ++i) {
        const std::uint64_t at = sampled ? place_of_work(work, 0, size, double(i) / parts)
                                         : size * std::uint64_t(i) / std::uint64_t(parts);
        const std::uint64_t cut = std::min(size, next_line_start(source, std::max(at, cuts.back())));
        if (cut > cuts.back() && cut < size)
            cuts.push_back(cut);
    }
    cuts.push_back(size);
    return cuts;
}

std::vector<Part> cut_into_parts(const ByteSource& source, int parts, const ReadingLimits& limits)
{
    const std::vector<std::uint64_t> cuts = cuts_for(source, parts);
    std::vector<Part> cut(cuts.size() - 1);
    // Side by side, each part may fill its share of the limit; the join reads on under the whole.
    for (std::size_t i = 0; i < cut.size(); ++i) {
        Part& part = cut[i];
        part.begin = cuts[i];
        part.stop = cuts[i + 1];
        start_reading(part.reader, source, part.begin, limits.chunk_bytes);
        part.reader.most_list_bytes = limits.most_list_bytes / cut.size();
    }
    return cut;
}

// The first part's lists take every record in the end, so they have room for the whole source;
// each later part's lists, room for the records that begin in its own bytes. Every part reserves
// on its own thread, so the pages come in on both cores.
struct Room {
    std::uint64_t source_size;
    std::size_t most_list_bytes; // for all the lists together
};

void reserve_and_read(Part& part, bool first, Room room)
{
    if (first)
        reserve_for_text(part.mesh, room.source_size, room.most_list_bytes);
    else
        reserve_for_text(part.mesh, part.stop - part.begin, part.reader.most_list_bytes);
    read_part(part, !first);
}

// Runs the later parts on threads of their own, or one after another, and the first part here.
void read_all_parts(std::vector<Part>& parts, bool on_threads, Room room)
{
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        bool started = false;
        if (on_threads) {
            try {
                threads.emplace_back(reserve_and_read, std::ref(parts[i]), false, room);
                started = true;
            } catch (const std::system_error&) {
            }
        }
        if (!started)
            reserve_and_read(parts[i], false, room);
    }
    reserve_and_read(parts[0], true, room);
    for (std::thread& thread : threads)
        thread.join();
}

// Goes on reading into `into` until it steps where `next` stepped. Returns that step, or null
// once it is past all of them or the reading ends: the two readings never met.
const Step* continue_until_in_step(ChunkReader& reader, MeshStore& into, const Part& next)
{
    std::size_t s = 0;
    std::uint64_t at = 0;
    while (next_record_offset(reader, into, at)) {
        while (s < next.steps.size() && next.steps[s].offset < at)
            ++s;
        if (s == next.steps.size())
            return nullptr;
        if (next.steps[s].offset == at)
            return &next.steps[s];
        read_records_before(reader, into, at + 1);
    }
    return nullptr;
}

// A part's list that comes first (nothing before it, none of its records undone) is taken whole,
// without a copy, when it has room for what the later parts bring; exporters write all vertices
// before all faces, so one part's faces are often all the faces there are.
template <typename Record>
void take_records(std::vector<Record>& into, std::vector<Record>& from, std::size_t first, std::size_t later)
{
    if (into.empty() && first == 0 && from.capacity() - from.size() >= later) {
        into.swap(from);
        return;
    }
    move_records(into, from, first);
}

// How many records of one list the parts after part i hold.
template <typename Record>
std::size_t records_after(const std::vector<Part>& parts, std::size_t i, std::vector<Record> MeshStore::*list)
{
    std::size_t count = 0;
    for (++i; i < parts.size(); ++i)
        count += (parts[i].mesh.*list).size();
    return count;
}

// What the reading `reader` noted from `first` on, now that it has ended or handed over.
struct OpenSpan {
    const ChunkReader* reader;
    std::uint64_t place, first, unread_normals_before;
};

void close_span(ReadingFindings& findings, const OpenSpan& span)
{
    const ReadingNotes& notes = span.reader->notes;
    findings.unread_normals += notes.unread_normals - span.unread_normals_before;
    look_for_misnumbered(findings, NotedSpan{&notes, span.place, span.first, notes.stored});
}

// Walks the parts in order, joining each to the one before, and moves their records into mesh.
// When two readings never meet, the rest is read here, alone.
ReadingResult join_parts(std::vector<Part>& parts, MeshStore& mesh, std::size_t most_list_bytes)
{
    ChunkReader* reader = &parts[0].reader;
    reader->most_list_bytes = most_list_bytes;
    bool cut_short = reader->cut_short;
    ReadingFindings findings;
    OpenSpan span{reader, 0, 0, 0};
    for (std::size_t i = 1; i < parts.size() && reader->outcome == ReadOutcome::complete; ++i) {
        const Step* meeting = continue_until_in_step(*reader, mesh, parts[i]);
        cut_short = cut_short || reader->cut_short;
        if (!meeting)
            break;
        close_span(findings, span);
        span = OpenSpan{&parts[i].reader, mesh.vertices.size(), meeting->vertices, meeting->unread_normals};
        take_records(mesh.vertices, parts[i].mesh.vertices, meeting->vertices,
                     records_after(parts, i, &MeshStore::vertices));
        take_records(mesh.faces, parts[i].mesh.faces, meeting->faces, records_after(parts, i, &MeshStore::faces));
        reader = &parts[i].reader;
        reader->most_list_bytes = most_list_bytes;
        cut_short = cut_short || reader->cut_short;
    }
    read_records_before(*reader, mesh, UINT64_MAX);
    close_span(findings, span);
    return {reader->outcome, reader->error, cut_short || reader->cut_short, findings};
}

} // namespace

ReadingResult read_in_parts(const ByteSource& source, MeshStore& mesh, int parts, bool on_threads,
                            const ReadingLimits& limits)
{
    parts = std::max(parts, 1);
    std::vector<Part> cut = cut_into_parts(source, parts, limits);
    cut[0].mesh = std::move(mesh);
    read_all_parts(cut, on_threads, Room{source.size, limits.most_list_bytes});
    mesh = std::move(cut[0].mesh);
    try {
        return join_parts(cut, mesh, limits.most_list_bytes);
    } catch (const std::bad_alloc&) {
        return {ReadOutcome::out_of_memory, 0, false, {}};
    }
}
