// Reads the text mesh format. Each record is read the way the C library's formatted input reads
// "Vertex %d %f %f %f {normal=(%f %f %f)}\n" and "Face %d %d %d %d\n": whatever a record fails
// on stays unread and is judged afresh as if it began a line.
#include "mesh/mesh_reader.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mesh/scan.h"

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
    int face_number = 0, a = 0, b = 0, c = 0;
    if (!match_literal(in, "ace") || !read_int(in, face_number) || !read_int(in, a) ||
        !read_int(in, b) || !read_int(in, c))
        return;
    faces.push_back(Face{vertex_index(a), vertex_index(b), vertex_index(c)});
    skip_blanks(in);
}

// After the leading "V". The vertex counts once all seven numbers have converted, whether or
// not the closing ")}" follows.
void read_vertex(Cursor& in, std::vector<Vertex>& vertices)
{
    int vertex_number = 0;
    float x = 0, y = 0, z = 0, nx = 0, ny = 0, nz = 0;
    if (!match_literal(in, "ertex") || !read_int(in, vertex_number) || !read_float(in, x) ||
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

std::string system_reason()
{
    return std::strerror(errno);
}

// Pipes and other streams have no size to map; they are read to their end instead.
bool read_stream(int fd, MeshStore& mesh, std::string& error)
{
    std::string text;
    char block[1 << 16];
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = system_reason();
            return false;
        }
        text.append(block, static_cast<std::size_t>(got));
    }
    read_mesh_text(text.data(), text.data() + text.size(), mesh);
    return true;
}

bool read_mapped(int fd, std::size_t size, MeshStore& mesh, std::string& error)
{
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (text == MAP_FAILED) {
        error = system_reason();
        return false;
    }
    madvise(text, size, MADV_SEQUENTIAL);
    const char* begin = static_cast<const char*>(text);
    read_mesh_text(begin, begin + size, mesh);
    munmap(text, size);
    return true;
}

bool read_open_file(int fd, MeshStore& mesh, std::string& error)
{
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = system_reason();
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = std::strerror(EISDIR);
        return false;
    }
    if (S_ISREG(info.st_mode) && info.st_size > 0)
        return read_mapped(fd, static_cast<std::size_t>(info.st_size), mesh, error);
    return read_stream(fd, mesh, error);
}

} // namespace

void read_mesh_text(const char* begin, const char* end, MeshStore& mesh)
{
    Cursor in{begin, end};
    while (in.p < in.end) {
        const char first = *in.p++;
        if (first == 'F')
            read_face(in, mesh.faces);
        else if (first == 'V')
            read_vertex(in, mesh.vertices);
        else if (first != '\n')
            skip_line(in);
    }
}

bool read_mesh_file(const std::string& path, MeshStore& mesh, std::string& error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = system_reason();
        return false;
    }
    const bool read_whole = read_open_file(fd, mesh, error);
    close(fd);
    return read_whole;
}
