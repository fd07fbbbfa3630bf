// Completing normals, and writing the viewer's text.
#include "convert_mesh.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "corner_join.h"

namespace {

struct Sum {
    double x = 0, y = 0, z = 0;
};

// Twice the triangle's area times its unit normal: larger triangles weigh more.
Sum area_weighted_normal(const ConvertedMesh& mesh, const int* corners)
{
    const float* a = mesh.vertices[corners[0]].position;
    const float* b = mesh.vertices[corners[1]].position;
    const float* c = mesh.vertices[corners[2]].position;
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

} // namespace

void complete_normals(ConvertedMesh& mesh)
{
    std::vector<bool> needs_normal(mesh.vertices.size());
    bool any = false;
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        needs_normal[i] = lacks_normal(mesh.vertices[i]);
        any = any || needs_normal[i];
    }
    if (!any)
        return;
    std::vector<Sum> sums(mesh.vertices.size());
    for (std::size_t t = 0; t + 2 < mesh.corner_vertices.size(); t += 3) {
        const Sum n = area_weighted_normal(mesh, &mesh.corner_vertices[t]);
        for (int k = 0; k < 3; ++k) {
            Sum& s = sums[mesh.corner_vertices[t + k]];
            s.x += n.x, s.y += n.y, s.z += n.z;
        }
    }
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        if (!needs_normal[i])
            continue;
        const Sum& s = sums[i];
        const double length = std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
        float* n = mesh.vertices[i].normal;
        // Only degenerate triangles meet here: any direction is as good as another.
        if (!(length > 0) || !std::isfinite(length)) {
            n[0] = 0, n[1] = 0, n[2] = 1;
            continue;
        }
        n[0] = float(s.x / length), n[1] = float(s.y / length), n[2] = float(s.z / length);
    }
}

namespace {

// Records are formatted in blocks, two at a time on two cores, and written in order.
const std::size_t records_per_block = 1 << 16;

// The longest lines there can be: every number at its longest.
const std::size_t longest_vertex_line = 200, longest_face_line = 100;

char* put_text(char* at, const char* text)
{
    while (*text)
        *at++ = *text++;
    return at;
}

template <typename Number>
char* put_number(char* at, Number value)
{
    return std::to_chars(at, at + 32, value).ptr;
}

struct Normal {
    float x, y, z;
};

// Each formatter fills a block buffer with room for its longest lines, and says how much it used.
struct Block {
    std::vector<char> text;
    std::size_t used = 0;
};

// Every normal the converter writes is one place's work: the file's own, the import's and the
// made ones alike go out at unit length, so that no corner lights too bright or too dark. Made
// and imported normals always have a direction; should one not, it points up.
Normal unit_length(const float n[3])
{
    const double length = std::sqrt(double(n[0]) * n[0] + double(n[1]) * n[1] + double(n[2]) * n[2]);
    if (!(length > 0) || !std::isfinite(length))
        return {0, 0, 1};
    return {float(n[0] / length), float(n[1] / length), float(n[2] / length)};
}

void format_vertices(const ConvertedMesh& mesh, std::size_t first, std::size_t last, Block& out)
{
    out.text.resize(std::max(out.text.size(), (last - first) * longest_vertex_line));
    char* at = out.text.data();
    for (std::size_t i = first; i < last; ++i) {
        const ConvertedVertex& v = mesh.vertices[i];
        at = put_number(put_text(at, "Vertex "), i + 1);
        *at++ = ' ';
        for (const float p : v.position)
            *at++ = ' ', at = put_number(at, p);
        const Normal n = unit_length(v.normal);
        at = put_text(at, " {normal=(");
        at = put_number(at, n.x);
        *at++ = ' ', at = put_number(at, n.y);
        *at++ = ' ', at = put_number(at, n.z);
        at = put_text(at, ")}\n");
    }
    out.used = std::size_t(at - out.text.data());
}

void format_faces(const ConvertedMesh& mesh, std::size_t first, std::size_t last, Block& out)
{
    out.text.resize(std::max(out.text.size(), (last - first) * longest_face_line));
    char* at = out.text.data();
    for (std::size_t t = first; t < last; ++t) {
        at = put_number(put_text(at, "Face "), t + 1);
        *at++ = ' ';
        for (int k = 0; k < 3; ++k)
            *at++ = ' ', at = put_number(at, mesh.corner_vertices[3 * t + std::size_t(k)] + 1);
        *at++ = '\n';
    }
    out.used = std::size_t(at - out.text.data());
}

using Formatter = void (*)(const ConvertedMesh&, std::size_t, std::size_t, Block&);

// Errors show in the stream's error flag, which the caller checks once at the end.
void write_records(const ConvertedMesh& mesh, std::size_t count, Formatter format, std::FILE* out)
{
    Block first, second;
    for (std::size_t at = 0; at < count; at += 2 * records_per_block) {
        const std::size_t middle = std::min(count, at + records_per_block);
        const std::size_t end = std::min(count, middle + records_per_block);
        std::thread other;
        if (middle < end) {
            try {
                other = std::thread(format, std::cref(mesh), middle, end, std::ref(second));
            } catch (const std::system_error&) {
                format(mesh, middle, end, second);
            }
        } else {
            second.used = 0;
        }
        format(mesh, at, middle, first);
        if (other.joinable())
            other.join();
        for (const Block* block : {&first, &second})
            if (block->used > 0) // an unused block may have no buffer at all
                std::fwrite(block->text.data(), 1, block->used, out);
    }
}

} // namespace

bool write_viewer_text(const ConvertedMesh& mesh, std::FILE* out)
{
    write_records(mesh, mesh.vertices.size(), format_vertices, out);
    write_records(mesh, mesh.corner_vertices.size() / 3, format_faces, out);
    return !std::ferror(out);
}
