// Coverage-guided fuzzing of the mesh reader: any bytes, read alone, in chunks as small as one
// byte and in parts, must give exactly the reference reader's lists; the family's reader, in
// pieces and parts, exactly its reference reading; the judgement of the viewer's form, of the text
// and of a file in parts, one answer, and of any text it accepts both readers the same mesh; any
// sanitizer report is a finding too.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "../mesh/family_reference_reader.h"
#include "../mesh/mesh_compare.h"
#include "../mesh/reference_reader.h"
#include "mesh/family_reader.h"
#include "mesh/mesh_reader.h"
#include "readers_agree.h"
#include "viewers_form.h"

namespace {

bool same(const MeshStore& a, const MeshStore& b)
{
    return a.vertices == b.vertices && a.faces == b.faces;
}

[[noreturn]] void report(const char* what, const MeshStore& got, const MeshStore& expected)
{
    std::fprintf(stderr, "%s: %zu vertices and %zu faces, the reference has %zu and %zu\n", what,
                 got.vertices.size(), got.faces.size(), expected.vertices.size(),
                 expected.faces.size());
    std::abort();
}

// The family's reader, whole, in pieces and in parts, against the plain reference reading.
void check_family_reading(const std::string& text)
{
    const FamilyMesh expected = family_reference_read(text);
    const std::size_t piece = 1 + text.size() % 13;
    FamilyReading reading;
    for (std::size_t at = 0; at < text.size(); at += piece)
        read_family_bytes(reading, text.data() + at, std::min(piece, text.size() - at));
    finish_family_reading(reading);
    const FamilyMesh in_parts = read_family_text(text.data(), text.data() + text.size(), text.size() % 64 == 0 ? 3 : 1);
    if (!same_family_mesh(reading.mesh, expected) || !same_family_mesh(in_parts, expected)) {
        std::fprintf(stderr, "the family reader differs from its reference: %zu vertices, %zu faces, %llu skipped; "
                             "the reference has %zu, %zu, %llu\n",
                     reading.mesh.vertices.size(), face_count(reading.mesh),
                     (unsigned long long)reading.mesh.skipped_lines, expected.vertices.size(), face_count(expected),
                     (unsigned long long)expected.skipped_lines);
        std::abort();
    }
}

bool same_judgement(const FormJudgement& a, const FormJudgement& b)
{
    if (a.in_viewers_form != b.in_viewers_form || a.read_failed || b.read_failed)
        return false;
    if (!a.in_viewers_form)
        return true;
    bool same_bounds = true;
    for (int k = 0; k < 3; ++k)
        same_bounds = same_bounds && a.bounds.low[k] == b.bounds.low[k] && a.bounds.high[k] == b.bounds.high[k];
    return a.vertices == b.vertices && a.faces == b.faces && same_bounds;
}

// The same text as a file, judged in parts side by side. Its buffers of megabytes and its threads
// cost the sanitizers a hundred times the judging itself: every text in the form, where a part
// cut wrong shows, and one other input in sixty-four.
void check_judgement_of_a_file(const std::string& text, const FormJudgement& whole)
{
    const int fd = memfd_create("judged", MFD_CLOEXEC);
    if (fd < 0 || write(fd, text.data(), text.size()) != ssize_t(text.size()))
        std::abort();
    const int parts = 1 + int(text.size() % 3);
    const FormJudgement in_parts = judge_file(fd, text.size(), parts);
    close(fd);
    if (!same_judgement(whole, in_parts)) {
        std::fprintf(stderr, "the judgement of the text (%d) and of the file in %d parts (%d) differ\n",
                     int(whole.in_viewers_form), parts, int(in_parts.in_viewers_form));
        std::abort();
    }
}

// The text judged whole, and as a file now and then; a text in the form read alike by both readers.
void check_judgement(const std::string& text, const MeshStore& viewers_reading)
{
    const FormJudgement whole = judge_text(text.data(), text.data() + text.size());
    if (whole.in_viewers_form || text.size() % 64 == 0)
        check_judgement_of_a_file(text, whole);
    std::string why;
    if (whole.in_viewers_form && (whole.vertices != viewers_reading.vertices.size() ||
                                  whole.faces != viewers_reading.faces.size()))
        why = "the judgement's counts are not the reading's";
    if (whole.in_viewers_form && (!why.empty() || !both_readers_agree(text, why))) {
        std::fprintf(stderr, "judged in the viewer's form, but the readers differ: %s\n", why.c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    MeshStore alone;
    read_mesh_text(text.data(), text.data() + text.size(), alone);
    const MeshStore expected = reference_read(text);
    if (!same(alone, expected))
        report("read alone", alone, expected);
    // Threads only for one input in 64: the sanitizer's bookkeeping keeps something of every
    // thread that ever ran, and the joining is the same either way.
    ReadingPlan plan;
    plan.parts = 1 + int(size % 4);
    plan.as_stream = size % 5 == 0;
    plan.segment_bytes = 1 + size % 97;
    plan.on_threads = size % 64 == 0;
    // Chunks of a few bytes cut every record somewhere, but cost a refill each: one input in four.
    plan.chunk_bytes = size % 4 == 0 ? 1 + (size * 7) % 23 : 64 + (size * 37) % 4096;
    MeshStore as_file;
    read_text_as_file(text, as_file, plan);
    const MeshStore expected_file = reference_read_file(text);
    if (!same(as_file, expected_file))
        report("read as a file in chunks and parts", as_file, expected_file);
    check_family_reading(text);
    check_judgement(text, as_file);
    return 0;
}
