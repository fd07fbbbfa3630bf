// Reading a large text on several cores. The text is cut at line starts, and each part is read
// on its own thread as if it began the file. A line start need not begin a record (a record's
// trailing white space can run over line ends), so each later part notes where its first steps
// began; after the threads finish, the reading of the part before it goes on past the cut until
// it steps onto one of those places. From there on both readings are the same, so the later
// part's records from that place on are the true ones. Should the two never meet, the earlier
// reading simply goes on alone to the end.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "mesh/mesh_reader.h"

namespace {

const int noted_steps = 64;

// The shortest texts that still hold a whole record: "Vertex1 1 1 1{normal=(1 1 1" and
// "Face1 1 1 1". A part can hold no more records than its bytes allow for.
const std::size_t shortest_vertex_record = 26;
const std::size_t shortest_face_record = 11;

struct Step {
    const char* at;
    std::size_t vertices, faces; // how many the part had read before this step
};

struct Part {
    Cursor in;
    const char* stop = nullptr; // reading ends at the first step at or past here
    MeshStore mesh;
    std::vector<Step> steps;
    bool out_of_memory = false;
};

// Room for every record the part could hold, so its lists never move while they grow: no
// copies, and no moment with two copies alive. Pages that no record reaches stay unused address
// space, not memory. When even the address space is not to be had, the lists grow as usual.
void reserve_for(Part& part)
{
    const std::size_t bytes = static_cast<std::size_t>(part.stop - part.in.p);
    try {
        part.mesh.vertices.reserve(part.mesh.vertices.size() + bytes / shortest_vertex_record + 1);
        part.mesh.faces.reserve(part.mesh.faces.size() + bytes / shortest_face_record + 1);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

// A mapped file's pages come in on first touch; asking for a part's pages at once, from the
// thread that reads it, brings them in faster and on every core at the same time. Where the
// kernel does not offer this, the pages simply come in as they are touched.
void bring_in_pages(const Part& part)
{
#ifdef MADV_POPULATE_READ
    const std::uintptr_t page = 4096;
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(part.in.p) & ~(page - 1);
    const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(part.stop);
    madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_READ);
#else
    (void)part;
#endif
}

void read_part(Part& part, bool note_steps)
{
    bring_in_pages(part);
    reserve_for(part);
    try {
        if (note_steps)
            part.steps.reserve(noted_steps);
        while (part.in.p < part.stop) {
            if (note_steps && part.steps.size() < noted_steps)
                part.steps.push_back({part.in.p, part.mesh.vertices.size(), part.mesh.faces.size()});
            read_record(part.in, part.mesh);
        }
    } catch (const std::bad_alloc&) {
        part.out_of_memory = true;
    }
}

const char* next_line_start(const char* from, const char* end)
{
    const void* line_end = std::memchr(from, '\n', static_cast<std::size_t>(end - from));
    return line_end ? static_cast<const char*>(line_end) + 1 : end;
}

// Work is not spread evenly over a text: a vertex record takes about three times the work of a
// face record. Small samples read along the text show where the work lies, and the cuts share
// it out; for short texts, the cuts share out bytes.
const int samples = 64;
const std::size_t sample_bytes = 4096;

double work_in_sample(const char* from, const char* end)
{
    MeshStore sample;
    read_mesh_text(from, end, sample);
    return 3.0 * double(sample.vertices.size()) + double(sample.faces.size()) +
           double(end - from) / 100.0 + 1e-9;
}

std::vector<double> cumulative_work(const char* begin, const char* end)
{
    std::vector<double> work(samples + 1, 0.0);
    for (int i = 0; i < samples; ++i) {
        const char* start = begin + (end - begin) * i / samples;
        const char* sample_end = std::min(start + sample_bytes, end);
        work[i + 1] = work[i] + work_in_sample(next_line_start(start, sample_end), sample_end);
    }
    return work;
}

// Where the share of work before the cut reaches `share` of the whole.
const char* place_of_work(const std::vector<double>& work, const char* begin, const char* end, double share)
{
    const double wanted = share * work[samples];
    int i = 0;
    while (i < samples - 1 && work[i + 1] < wanted)
        ++i;
    const double within = (wanted - work[i]) / (work[i + 1] - work[i]);
    const double position = (double(i) + std::min(1.0, std::max(0.0, within))) / samples;
    return begin + static_cast<std::ptrdiff_t>(position * double(end - begin));
}

std::vector<Part> cut_into_parts(const char* begin, const char* end, int parts)
{
    const bool sampled = static_cast<std::size_t>(end - begin) >= std::size_t(4 * samples) * sample_bytes;
    const std::vector<double> work = sampled ? cumulative_work(begin, end) : std::vector<double>();
    std::vector<Part> cut;
    const char* start = begin;
    for (int i = 1; i <= parts && start < end; ++i) {
        const char* at = sampled ? place_of_work(work, begin, end, double(i) / parts)
                                 : begin + (end - begin) * i / parts;
        const char* stop = i == parts ? end : next_line_start(std::max(at, start), end);
        if (stop <= start)
            continue;
        Part part;
        part.in = Cursor{start, end};
        part.stop = stop;
        cut.push_back(std::move(part));
        start = stop;
    }
    return cut;
}

// False when no thread is to be had; the caller then reads the part itself.
bool start_reading(std::vector<std::thread>& threads, Part& part)
{
    try {
        threads.emplace_back(read_part, std::ref(part), true);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// Runs the later parts on threads of their own, or one after another, and the first part here.
void read_all_parts(std::vector<Part>& parts, bool on_threads)
{
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < parts.size(); ++i)
        if (!on_threads || !start_reading(threads, parts[i]))
            read_part(parts[i], true);
    read_part(parts[0], false);
    for (std::thread& thread : threads)
        thread.join();
}

// Goes on reading into `into` from where the cursor stands until it steps where `next` stepped.
// Returns that step, or null once it is past all of them: the two readings never met.
const Step* continue_until_in_step(Cursor& in, MeshStore& into, const Part& next)
{
    std::size_t s = 0;
    while (in.p < in.end) {
        while (s < next.steps.size() && next.steps[s].at < in.p)
            ++s;
        if (s == next.steps.size())
            return nullptr;
        if (next.steps[s].at == in.p)
            return &next.steps[s];
        read_record(in, into);
    }
    return nullptr;
}

template <typename Record>
void append_from(std::vector<Record>& into, std::vector<Record>& from, std::size_t first)
{
    if (into.empty() && first == 0) {
        into.swap(from);
    } else {
        into.insert(into.end(), from.begin() + static_cast<long>(first), from.end());
        std::vector<Record>().swap(from);
    }
}

// Walks the parts in order, joining each to the one before, and moves their records into mesh.
// When two readings never meet, the rest is read here, alone.
ReadOutcome join_parts(std::vector<Part>& parts, MeshStore& mesh)
{
    Cursor in = parts[0].in;
    bool out_of_memory = parts[0].out_of_memory;
    for (std::size_t i = 1; i < parts.size() && !out_of_memory && in.p < in.end; ++i) {
        const Step* meeting = continue_until_in_step(in, mesh, parts[i]);
        if (!meeting)
            break;
        append_from(mesh.vertices, parts[i].mesh.vertices, meeting->vertices);
        append_from(mesh.faces, parts[i].mesh.faces, meeting->faces);
        in = parts[i].in;
        out_of_memory = parts[i].out_of_memory;
    }
    if (!out_of_memory) {
        while (in.p < in.end)
            read_record(in, mesh);
    }
    return out_of_memory ? ReadOutcome::out_of_memory : ReadOutcome::complete;
}

} // namespace

ReadOutcome read_mesh_text_in_parts(const char* begin, const char* end, MeshStore& mesh, int parts,
                                    bool on_threads)
{
    if (parts <= 1 || end - begin < parts)
        return read_mesh_text(begin, end, mesh);
    std::vector<Part> cut = cut_into_parts(begin, end, parts);
    if (cut.empty())
        return ReadOutcome::complete;
    cut[0].mesh = std::move(mesh);
    read_all_parts(cut, on_threads);
    mesh = std::move(cut[0].mesh);
    try {
        return join_parts(cut, mesh);
    } catch (const std::bad_alloc&) {
        return ReadOutcome::out_of_memory;
    }
}
