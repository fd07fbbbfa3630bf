// Reads the text mesh format. Each record is read the way the C library's formatted input reads
// "Vertex %d %f %f %f {normal=(%f %f %f)}\n" and "Face %d %d %d %d\n": whatever a record fails
// on stays unread and is judged afresh as if it began a line.
#include "mesh/mesh_reader.h"

#include <climits>
#include <new>

#include "mesh/read_record.h"

namespace {

// File vertex numbers count from 1; the widening keeps INT_MIN - 1 from overflowing.
int vertex_index(int vertex_number)
{
    const long long index = static_cast<long long>(vertex_number) - 1;
    return index < INT_MIN ? INT_MIN : static_cast<int>(index);
}

// After the leading "F".
void read_face(Cursor& in, std::vector<Face>& faces)
{
    int a = 0, b = 0, c = 0;
    if (!match_literal(in, "ace") || !skip_int(in) || !read_int(in, a) ||
        !read_int(in, b) || !read_int(in, c))
        return;
    faces.push_back(Face{vertex_index(a), vertex_index(b), vertex_index(c)});
    skip_blanks(in);
}

// After the leading "V". The vertex counts once all seven numbers have converted, whether or
// not the closing ")}" follows. A line whose position reads but whose normal part does not is
// noted: most of the family's files are written so.
void read_vertex(Cursor& in, std::vector<Vertex>& vertices, ReadingNotes& notes, const char* record)
{
    float x = 0, y = 0, z = 0, nx = 0, ny = 0, nz = 0;
    const char* number = nullptr;
    std::uint64_t number_text = 0;
    long number_length = 0;
    if (!match_literal(in, "ertex") || !skip_int(in, number, number_text, number_length))
        return;
    const char* const number_end = in.p;
    if (!read_float(in, x) || !read_float(in, y) || !read_float(in, z))
        return;
    skip_blanks(in);
    if (!match_literal(in, "{normal=(") || !read_float(in, nx) || !read_float(in, ny) ||
        !read_float(in, nz)) {
        ++notes.unread_normals;
        notes.last_unread = record;
        return;
    }
    vertices.push_back(Vertex{x, y, z, nx, ny, nz});
    note_vertex_number(notes, NumberText{number, number_end, number_text, number_length});
    if (match_literal(in, ")}"))
        skip_blanks(in);
}

} // namespace

int number_of(const char* begin, const char* end)
{
    Cursor in{begin, end};
    int value = 0;
    read_int(in, value);
    return value;
}

void note_vertex_number_slowly(ReadingNotes& notes, std::uint64_t index, const NumberText& number_text)
{
    const char* const begin = number_text.begin;
    const char* const end = number_text.end;
    if (index < std::uint64_t(noted_numbers)) {
        notes.first_numbers[index] = number_of(begin, end);
        if (index == std::uint64_t(noted_numbers - 1))
            expect_text(notes.next, expected_number(notes, index + 1));
        return;
    }
    if (notes.run_broken)
        return;
    // Past all nines, written otherwise ("+7", "007"), longer than a word, or another number.
    const int number = number_of(begin, end);
    if (number == expected_number(notes, index)) {
        expect_text(notes.next, expected_number(notes, index + 1));
        return;
    }
    notes.run_broken = true;
    notes.break_index = index;
    notes.break_number = number;
}

void read_record(Cursor& in, MeshStore& mesh, ReadingNotes& notes)
{
    const char* const record = in.p;
    const char first = *in.p++;
    if (first == 'F')
        read_face(in, mesh.faces);
    else if (first == 'V')
        read_vertex(in, mesh.vertices, notes, record);
    else if (first != '\n')
        skip_line(in);
}

ReadOutcome read_mesh_text(const char* begin, const char* end, MeshStore& mesh)
{
    Cursor in{begin, end};
    ReadingNotes notes;
    try {
        while (in.p < in.end)
            read_record(in, mesh, notes);
    } catch (const std::bad_alloc&) {
        return ReadOutcome::out_of_memory;
    }
    return ReadOutcome::complete;
}
