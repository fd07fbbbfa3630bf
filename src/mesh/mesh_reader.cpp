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
// not the closing ")}" follows.
void read_vertex(Cursor& in, std::vector<Vertex>& vertices)
{
    float x = 0, y = 0, z = 0, nx = 0, ny = 0, nz = 0;
    if (!match_literal(in, "ertex") || !skip_int(in) || !read_float(in, x) ||
        !read_float(in, y) || !read_float(in, z))
        return;
    skip_blanks(in);
    if (!match_literal(in, "{normal=(") || !read_float(in, nx) || !read_float(in, ny) ||
        !read_float(in, nz))
        return;
    vertices.push_back(Vertex{x, y, z, nx, ny, nz});
    if (match_literal(in, ")}"))
        skip_blanks(in);
}

} // namespace

void read_record(Cursor& in, MeshStore& mesh)
{
    const char first = *in.p++;
    if (first == 'F')
        read_face(in, mesh.faces);
    else if (first == 'V')
        read_vertex(in, mesh.vertices);
    else if (first != '\n')
        skip_line(in);
}

ReadOutcome read_mesh_text(const char* begin, const char* end, MeshStore& mesh)
{
    Cursor in{begin, end};
    try {
        while (in.p < in.end)
            read_record(in, mesh);
    } catch (const std::bad_alloc&) {
        return ReadOutcome::out_of_memory;
    }
    return ReadOutcome::complete;
}
