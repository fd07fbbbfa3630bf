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

// The next number a run of consecutive numbers expects, as its decimal text: up to seven
// characters in one little-endian word, so that a vertex's number is checked by comparing its
// text, without converting it. Its value is the run's first number plus the vertices since.
struct ExpectedText {
    std::uint64_t text = 0;
    std::uint64_t mask = 0;      // the bytes of the text within the word
    int last_shift = 0;          // where the last digit's byte lies
    long length = -1;            // -1: too long to compare this way (more than seven characters)
};

inline void expect_text(ExpectedText& e, long long value)
{
    char text[24] = {};
    const long length = long(std::to_chars(text, text + sizeof text, value).ptr - text);
    e = ExpectedText{};
    if (length > 7)
        return;
    std::memcpy(&e.text, text, sizeof e.text);
    e.length = length;
    e.mask = length == 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * length)) - 1;
    e.last_shift = int(8 * (length - 1));
}

struct ReadingNotes {
    std::uint64_t stored = 0;         // vertices this reading stored, whatever list they went to
    bool run_broken = false;          // past the noted ones, a number broke the run of consecutive numbers
    ExpectedText next;                // past the noted ones, the text of the number the run expects
    std::uint64_t unread_normals = 0; // Vertex lines whose normal part is missing or not in the form
    const char* last_unread = nullptr; // where the last of them began, should it be taken back
    int first_numbers[noted_numbers] = {};
    std::uint64_t break_index = 0;    // which of this reading's vertices broke the run
    int break_number = 0;
};

// The number the run expects for this reading's vertex `index`.
inline long long expected_number(const ReadingNotes& notes, std::uint64_t index)
{
    return (long long)notes.first_numbers[noted_numbers - 1] + (long long)(index - (noted_numbers - 1));
}

// A vertex number's text, from the record: "%d" as the reader took it.
int number_of(const char* begin, const char* end);

// A vertex number as the record gave it: its text, and, for a plain run of up to seven digits,
// that text as one word, as the scan already loaded it (length 0 otherwise).
struct NumberText {
    const char* begin;
    const char* end;
    std::uint64_t word;
    long length;
};

// The first vertices, and any number that is not the one the run expects as text.
void note_vertex_number_slowly(ReadingNotes& notes, std::uint64_t index, const NumberText& number);

// Every vertex of every file passes here: the usual case, a number that continues the run, is
// one masked comparison of the word the scan loaded, and the next text is the last digit one up.
inline __attribute__((always_inline)) void note_vertex_number(ReadingNotes& notes, const NumberText& number)
{
    const std::uint64_t index = notes.stored++;
    ExpectedText& e = notes.next;
    if (__builtin_expect(number.length == e.length && ((number.word ^ e.text) & e.mask) == 0 && !notes.run_broken &&
                             index >= std::uint64_t(noted_numbers), 1)) {
        // One up: nines at the end turn to zeros, the digit before them goes up.
        for (int shift = e.last_shift; shift >= 0; shift -= 8) {
            if (((e.text >> shift) & 0xff) != '9') {
                e.text += std::uint64_t(1) << shift;
                return;
            }
            e.text -= std::uint64_t('9' - '0') << shift;
        }
        // All nines: the text grows a digit.
    }
    note_vertex_number_slowly(notes, index, number);
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
        expect_text(notes.next, expected_number(notes, stored));
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
