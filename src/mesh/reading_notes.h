// What a reading notices about its records besides the lists, for the viewer to name the cause
// when a file is not in the form it reads: Vertex lines that stopped at their normal part, and
// whether the vertices' own numbers are their places. Cheap enough to keep on every record.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>

// A reading keeps the numbers of its first vertices, and after those only the first one that
// breaks their run; a part read side by side is joined from one of its first records on, so
// that is all the joining needs to find the first vertex whose number is not its place.
const int noted_numbers = 65;

// The next number a run of consecutive numbers expects, kept as its decimal text as well (the
// first eight characters as one little-endian word), so that a vertex's number is checked by
// comparing its text, without converting it.
struct ExpectedNumber {
    long long value = 0;
    std::uint64_t text = 0;
    int length = 0; // of the whole text; only up to eight are compared this way
};

inline void expect(ExpectedNumber& e, long long value)
{
    char text[24] = {};
    e.value = value;
    e.length = int(std::to_chars(text, text + sizeof text, value).ptr - text);
    std::memcpy(&e.text, text, sizeof e.text);
}

inline __attribute__((always_inline)) void expect_next(ExpectedNumber& e)
{
    ++e.value;
    const int shift = 8 * (e.length - 1);
    const unsigned last = e.length <= 8 ? unsigned(e.text >> shift) & 0xff : 0;
    if (last >= '0' && last < '9')
        e.text += std::uint64_t(1) << shift;
    else
        expect(e, e.value); // past a 9: one number in ten, written out again
}

struct ReadingNotes {
    std::uint64_t unread_normals = 0; // Vertex lines whose normal part is missing or not in the form
    const char* last_unread = nullptr; // where the last of them began, should it be taken back
    std::uint64_t stored = 0;         // vertices this reading stored, whatever list they went to
    int first_numbers[noted_numbers] = {};
    ExpectedNumber next;              // past the noted ones, what the run expects next
    bool run_broken = false;          // past the noted ones, a number broke the run of consecutive numbers
    std::uint64_t break_index = 0;    // which of this reading's vertices did
    int break_number = 0;
};

// A vertex number's text, from the record: "%d" as the reader took it.
int number_of(const char* begin, const char* end);

// The first vertices, and any number that is not the one the run expects.
void note_vertex_number_slowly(ReadingNotes& notes, std::uint64_t index, const char* begin, const char* end);

// Every vertex of every file passes here: the usual case, a number that continues the run, is
// one masked comparison of a word. The record read on for at least nine bytes past the number
// ("{normal=(" and more), so the word lies within it.
inline __attribute__((always_inline)) void note_vertex_number(ReadingNotes& notes, const char* begin, const char* end)
{
    const std::uint64_t index = notes.stored++;
    ExpectedNumber& e = notes.next;
    const long length = end - begin;
    if (__builtin_expect(index >= std::uint64_t(noted_numbers) && !notes.run_broken && length == e.length &&
                             length <= 8, 1)) {
        std::uint64_t word;
        std::memcpy(&word, begin, sizeof word);
        const std::uint64_t mask = length == 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * length)) - 1;
        if (__builtin_expect(((word ^ e.text) & mask) == 0, 1)) {
            expect_next(e);
            return;
        }
    }
    note_vertex_number_slowly(notes, index, begin, end);
}

// After the record that began at `record` was taken back, with the vertex it stored, if any.
inline void take_back_notes(ReadingNotes& notes, const char* record, bool stored_a_vertex)
{
    if (notes.last_unread == record) {
        --notes.unread_normals;
        notes.last_unread = nullptr;
    }
    if (!stored_a_vertex)
        return;
    const std::uint64_t stored = --notes.stored;
    if (notes.run_broken && notes.break_index >= stored)
        notes.run_broken = false;
    if (stored >= std::uint64_t(noted_numbers))
        expect(notes.next, (long long)notes.first_numbers[noted_numbers - 1] + (long long)(stored - (noted_numbers - 1)));
}

// The stretch of a reading's vertices that the joined lists kept: its vertices from `first` to
// `end` became the lists' vertices from `place` on (counting from 0).
struct NotedSpan {
    const ReadingNotes* notes;
    std::uint64_t place, first, end;
};

// The first vertex in the span whose number is not its place (from 1); false when there is none.
inline bool first_misnumbered(const NotedSpan& span, std::uint64_t& place, int& number)
{
    const ReadingNotes& n = *span.notes;
    for (std::uint64_t i = span.first; i < span.end && i < std::uint64_t(noted_numbers); ++i)
        if ((long long)n.first_numbers[i] != (long long)(span.place + (i - span.first) + 1)) {
            place = span.place + (i - span.first) + 1;
            number = n.first_numbers[i];
            return true;
        }
    if (n.run_broken && n.break_index < span.end) {
        place = span.place + (n.break_index - span.first) + 1;
        number = n.break_number;
        return true;
    }
    return false;
}

// What a whole reading found, joined over its spans.
struct ReadingFindings {
    std::uint64_t unread_normals = 0;
    bool misnumbered = false;        // a vertex's number is not its place
    std::uint64_t misnumbered_place = 0; // the first such vertex's place, from 1
    int misnumbered_number = 0;          // and its number
};

inline void look_for_misnumbered(ReadingFindings& findings, const NotedSpan& span)
{
    if (!findings.misnumbered)
        findings.misnumbered = first_misnumbered(span, findings.misnumbered_place, findings.misnumbered_number);
}
