// Two steps. Each part of the file is read on its own thread into its own lists, its faces'
// numbers as written; a negative number counts back from the positions read so far, which a part
// knows only within itself, so it notes the count beside such a corner. Then, in order, the parts'
// numbers become places in the whole file, and each (position, normal) pair becomes a vertex.
#include "obj_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "mesh/mesh_reader.h"
#include "triangulate.h"

namespace {

const std::size_t block_bytes = std::size_t(1) << 20;
// No OBJ line is this long; a file with one is damaged, or no OBJ, and is not held in memory.
const std::size_t longest_line = std::size_t(1) << 20;
// Below this a second thread costs more than it saves.
const std::uint64_t bytes_worth_a_part = std::uint64_t(8) << 20;

const char* const keywords[] = {"v",       "vn",     "vt",     "vp",   "f",    "l",     "p",    "o",    "g",
                                "s",       "mtllib", "usemtl", "cstype", "deg", "curv", "curv2", "surf", "parm",
                                "trim",    "hole",   "scrv",   "sp",   "end",  "con",   "mg",   "bevel", "c_interp",
                                "d_interp", "lod",   "maplib", "usemap", "shadow_obj", "trace_obj", "ctech", "stech", "bmat",
                                "step",    "call",   "csh"};

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// A corner as the file wrote it: numbers counted from 1, or back from -1; 0 for no normal.
struct WrittenCorner {
    int position, normal;
};

// Beside a corner with a negative number: how many positions and normals its part had read.
struct CountsBefore {
    std::uint32_t corner;
    std::uint32_t positions, normals;
};

struct Part {
    std::uint64_t begin = 0, end = 0;
    std::vector<float> positions, normals; // three each
    std::vector<WrittenCorner> corners;
    std::vector<std::uint32_t> face_sizes;
    std::vector<CountsBefore> counted_back;
    std::uint64_t lines = 0;
    std::string damage;        // the first line not in its keyword's form, and how
    std::uint64_t damage_line = 0; // within the part, from 1
    int error = 0;             // errno of a failed read
};

const char* skip_blanks(const char* at, const char* end)
{
    while (at < end && blank(*at))
        ++at;
    return at;
}

const char* word_end(const char* at, const char* end)
{
    while (at < end && !blank(*at))
        ++at;
    return at;
}

bool read_float(const char*& at, const char* end, float& value)
{
    at = skip_blanks(at, end);
    if (at < end && *at == '+')
        ++at;
    const std::from_chars_result got = std::from_chars(at, end, value);
    if (got.ec == std::errc::result_out_of_range) {
        // Beyond single precision: infinity or zero, as the C library reads it.
        const char* digits = at;
        value = std::strtof(std::string(digits, std::size_t(got.ptr - digits)).c_str(), nullptr);
    } else if (got.ec != std::errc()) {
        return false;
    }
    at = got.ptr;
    return true;
}

bool read_three(const char* at, const char* end, std::vector<float>& into)
{
    float xyz[3];
    for (float& c : xyz)
        if (!read_float(at, end, c))
            return false;
    into.insert(into.end(), xyz, xyz + 3);
    return true;
}

bool read_index(const char*& at, const char* end, int& value)
{
    const std::from_chars_result got = std::from_chars(at, end, value);
    if (got.ec != std::errc() || value == 0)
        return false;
    at = got.ptr;
    return true;
}

// "a", "a/b", "a//c" or "a/b/c": the position's number and the normal's (0: none).
bool read_corner(const char* at, const char* end, WrittenCorner& corner)
{
    corner = {0, 0};
    if (!read_index(at, end, corner.position))
        return false;
    if (at == end)
        return true;
    if (*at++ != '/')
        return false;
    if (at < end && *at != '/') {
        int texture = 0;
        if (!read_index(at, end, texture))
            return false;
    }
    if (at == end)
        return true;
    if (*at++ != '/')
        return false;
    return read_index(at, end, corner.normal) && at == end;
}

bool read_face(const char* at, const char* end, Part& part)
{
    std::uint32_t size = 0;
    for (at = skip_blanks(at, end); at < end; at = skip_blanks(at, end)) {
        const char* const stop = word_end(at, end);
        WrittenCorner corner;
        if (!read_corner(at, stop, corner))
            return false;
        if (corner.position < 0 || corner.normal < 0)
            part.counted_back.push_back({std::uint32_t(part.corners.size()), std::uint32_t(part.positions.size() / 3),
                                         std::uint32_t(part.normals.size() / 3)});
        part.corners.push_back(corner);
        ++size;
        at = stop;
    }
    part.face_sizes.push_back(size);
    return true;
}

bool is(const char* word, std::size_t length, const char* keyword)
{
    return std::strlen(keyword) == length && std::memcmp(word, keyword, length) == 0;
}

// One logical line, its continuations joined: the keyword says what it holds.
void take_line(const char* at, const char* end, Part& part)
{
    at = skip_blanks(at, end);
    const char* const word = at;
    at = word_end(at, end);
    const std::size_t length = std::size_t(at - word);
    bool well_formed = true;
    const char* what = "";
    if (is(word, length, "v")) {
        well_formed = read_three(at, end, part.positions);
        what = "a position without three numbers";
    } else if (is(word, length, "vn")) {
        well_formed = read_three(at, end, part.normals);
        what = "a normal without three numbers";
    } else if (is(word, length, "f")) {
        well_formed = read_face(at, end, part);
        what = "a face corner that is not a number, or not one of a/b, a//c or a/b/c";
    }
    if (!well_formed && part.damage.empty()) {
        part.damage = what;
        part.damage_line = part.lines;
    }
}

// A whole physical line, its '\r's gone: taken, or kept to be continued when it ends in a
// backslash. `held` gathers a line that ran past a block or goes on into the next line.
void end_of_line(const char* begin, const char* end, std::string& held, Part& part)
{
    ++part.lines;
    if (!held.empty()) {
        held.append(begin, end);
        if (held.size() > longest_line && part.damage.empty()) {
            part.damage = "a line runs on past 1 MiB";
            part.damage_line = part.lines;
            return;
        }
        begin = held.data(), end = held.data() + held.size();
    }
    while (end > begin && end[-1] == '\r')
        --end;
    if (end > begin && end[-1] == '\\') {
        const std::string continued(begin, end - 1);
        held = continued + ' ';
        if (held.size() > longest_line && part.damage.empty()) {
            part.damage = "a line runs on past 1 MiB";
            part.damage_line = part.lines;
        }
        return;
    }
    take_line(begin, end, part);
    held.clear();
}

// Lines of [begin, end) read a block at a time.
void read_part(int fd, Part& part)
{
    std::vector<char> block(block_bytes);
    std::string held;
    for (std::uint64_t at = part.begin; at < part.end;) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(block_bytes, part.end - at));
        const ssize_t got = pread(fd, block.data(), want, off_t(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            part.error = got < 0 ? errno : 0;
            break;
        }
        at += std::uint64_t(got);
        const char* text = block.data();
        const char* const stop = text + got;
        while (text < stop) {
            const char* newline = static_cast<const char*>(std::memchr(text, '\n', std::size_t(stop - text)));
            if (!newline) {
                held.append(text, stop);
                if (held.size() > longest_line && part.damage.empty()) {
                    part.damage = "a line runs on past 1 MiB";
                    part.damage_line = part.lines + 1;
                }
                if (!part.damage.empty())
                    return;
                break;
            }
            end_of_line(text, newline, held, part);
            if (!part.damage.empty())
                return;
            text = newline + 1;
        }
    }
    if (!held.empty())
        end_of_line(held.data(), held.data(), held, part);
}

// A place to cut near `from`: just past a line end that ends no continued line. No line is
// longer than longest_line; with no cut within that, there is none.
std::uint64_t cut_near(int fd, std::uint64_t from, std::uint64_t size)
{
    char text[4096];
    for (std::uint64_t at = from; at < size && at - from <= longest_line;) {
        const ssize_t got = pread(fd, text, sizeof text, off_t(at));
        if (got <= 0)
            return size;
        for (ssize_t i = 0; i < got; ++i) {
            if (text[i] != '\n')
                continue;
            std::uint64_t before = at + std::uint64_t(i);
            char previous = '\n';
            while (before > 0) {
                if (pread(fd, &previous, 1, off_t(--before)) != 1 || previous != '\r')
                    break;
            }
            if (previous != '\\')
                return at + std::uint64_t(i) + 1;
        }
        at += std::uint64_t(got);
    }
    return size;
}

std::vector<Part> parts_of(int fd, std::uint64_t size)
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::uint64_t count = std::max<std::uint64_t>(1, std::min<std::uint64_t>(cores, size / bytes_worth_a_part));
    std::vector<Part> parts;
    std::uint64_t begin = 0;
    for (std::uint64_t i = 1; i <= count; ++i) {
        const std::uint64_t end = i == count ? size : std::max(begin, cut_near(fd, size * i / count, size));
        if (end > begin || i == count) {
            parts.emplace_back();
            parts.back().begin = begin;
            parts.back().end = end;
        }
        begin = end;
    }
    return parts;
}

void read_parts(int fd, std::vector<Part>& parts)
{
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        try {
            threads.emplace_back(read_part, fd, std::ref(parts[i]));
        } catch (const std::system_error&) {
            read_part(fd, parts[i]);
        }
    }
    read_part(fd, parts[0]);
    for (std::thread& thread : threads)
        thread.join();
}

// The whole file's positions and normals, and its faces' corners as places in them (-1: no normal).
struct WholeFile {
    std::vector<float> positions, normals;
    std::vector<std::uint32_t> face_sizes;
    std::vector<int> corner_positions, corner_normals;
};

bool resolve(int written, std::uint64_t before_part, std::uint64_t counted_before, std::uint64_t total, int& place)
{
    const std::int64_t index = written > 0 ? std::int64_t(written) - 1
                                           : std::int64_t(before_part + counted_before) + std::int64_t(written);
    if (index < 0 || std::uint64_t(index) >= total)
        return false;
    place = int(index);
    return true;
}

std::string missing(const char* what, int written, std::uint64_t total, std::size_t face)
{
    return "the file is damaged (face " + std::to_string(face + 1) + " names " + what + " " + std::to_string(written) +
           "; it has " + std::to_string(total) + ")";
}

bool gather(std::vector<Part>& parts, WholeFile& whole, std::string& reason)
{
    std::uint64_t positions = 0, normals = 0, corners = 0;
    for (const Part& p : parts)
        positions += p.positions.size() / 3, normals += p.normals.size() / 3, corners += p.corners.size();
    whole.corner_positions.reserve(corners);
    whole.corner_normals.reserve(corners);
    std::uint64_t positions_before = 0, normals_before = 0;
    for (Part& p : parts) {
        std::size_t corner = 0, next_back = 0;
        for (const std::uint32_t size : p.face_sizes) {
            const std::size_t face = whole.face_sizes.size();
            for (std::uint32_t k = 0; k < size; ++k, ++corner) {
                CountsBefore counts{std::uint32_t(corner), 0, 0};
                if (next_back < p.counted_back.size() && p.counted_back[next_back].corner == corner)
                    counts = p.counted_back[next_back++];
                const WrittenCorner& w = p.corners[corner];
                int position = 0, normal = -1;
                if (!resolve(w.position, positions_before, counts.positions, positions, position)) {
                    reason = missing("position", w.position, positions, face);
                    return false;
                }
                if (w.normal != 0 && !resolve(w.normal, normals_before, counts.normals, normals, normal)) {
                    reason = missing("normal", w.normal, normals, face);
                    return false;
                }
                whole.corner_positions.push_back(position);
                whole.corner_normals.push_back(normal);
            }
            whole.face_sizes.push_back(size);
        }
        whole.positions.insert(whole.positions.end(), p.positions.begin(), p.positions.end());
        whole.normals.insert(whole.normals.end(), p.normals.begin(), p.normals.end());
        positions_before += p.positions.size() / 3, normals_before += p.normals.size() / 3;
        p = Part{};
    }
    return true;
}

bool usable(const float* n)
{
    return std::isfinite(n[0]) && std::isfinite(n[1]) && std::isfinite(n[2]) && (n[0] != 0 || n[1] != 0 || n[2] != 0);
}

// Each (position, normal) pair is one vertex, in the order faces first use it: a chain per
// position of the normals it has been paired with, most positions having one.
struct PairVertices {
    std::vector<int> first; // by position: its first pair's vertex, -1 none
    std::vector<int> next;  // by vertex: the next vertex of the same position, -1 none
    std::vector<int> normal_of; // by vertex
};

int vertex_of(PairVertices& pairs, const WholeFile& whole, int position, int normal, ConvertedMesh& mesh)
{
    int last = -1; // the chain's last vertex; -1 while the chain is empty
    for (int v = pairs.first[std::size_t(position)]; v >= 0; v = pairs.next[std::size_t(v)]) {
        if (pairs.normal_of[std::size_t(v)] == normal)
            return v;
        last = v;
    }
    ConvertedVertex v{};
    std::memcpy(v.position, &whole.positions[3 * std::size_t(position)], sizeof v.position);
    if (normal >= 0 && usable(&whole.normals[3 * std::size_t(normal)]))
        std::memcpy(v.normal, &whole.normals[3 * std::size_t(normal)], sizeof v.normal);
    const int vertex = int(mesh.vertices.size());
    mesh.vertices.push_back(v);
    pairs.next.push_back(-1);
    pairs.normal_of.push_back(normal);
    (last < 0 ? pairs.first[std::size_t(position)] : pairs.next[std::size_t(last)]) = vertex;
    return vertex;
}

void emit_face(const int* vertices, std::uint32_t size, ConvertedMesh& mesh, std::vector<Point>& polygon,
               std::vector<int>& cut)
{
    if (size < 3)
        return;
    if (size == 3) {
        mesh.corner_vertices.insert(mesh.corner_vertices.end(), vertices, vertices + 3);
        return;
    }
    polygon.clear();
    for (std::uint32_t k = 0; k < size; ++k) {
        const float* p = mesh.vertices[std::size_t(vertices[k])].position;
        polygon.push_back({p[0], p[1], p[2]});
    }
    cut.clear();
    triangulate(polygon, cut);
    for (const int k : cut)
        mesh.corner_vertices.push_back(vertices[k]);
}

void make_mesh(const WholeFile& whole, ConvertedMesh& mesh)
{
    PairVertices pairs;
    pairs.first.assign(whole.positions.size() / 3, -1);
    mesh.vertices.reserve(whole.positions.size() / 3);
    mesh.corner_vertices.reserve(whole.corner_positions.size());
    std::vector<int> face;
    std::vector<Point> polygon;
    std::vector<int> cut;
    std::size_t corner = 0;
    for (const std::uint32_t size : whole.face_sizes) {
        if (size < 3) { // a point or a line: no triangle, and no vertex for it
            corner += size;
            continue;
        }
        face.clear();
        for (std::uint32_t k = 0; k < size; ++k, ++corner)
            face.push_back(vertex_of(pairs, whole, whole.corner_positions[corner], whole.corner_normals[corner], mesh));
        emit_face(face.data(), size, mesh, polygon, cut);
    }
}

} // namespace

bool is_obj_text(int fd)
{
    char text[4096];
    const ssize_t got = pread(fd, text, sizeof text, 0);
    const char* at = text;
    const char* const end = text + std::max<ssize_t>(got, 0);
    for (;;) {
        at = skip_blanks(at, end);
        if (at < end && *at == '\n') {
            ++at;
            continue;
        }
        if (at < end && *at == '#') {
            const char* newline = static_cast<const char*>(std::memchr(at, '\n', std::size_t(end - at)));
            if (!newline)
                return false;
            at = newline + 1;
            continue;
        }
        break;
    }
    const char* const word = at;
    at = word_end(at, end);
    if (at == end || *at == '\n')
        return false;
    for (const char* keyword : keywords)
        if (is(word, std::size_t(at - word), keyword))
            return true;
    return false;
}

bool read_obj(int fd, ConvertedMesh& mesh, std::string& reason)
{
    struct stat info {};
    if (!descriptor_status(fd, info)) {
        reason = std::strerror(errno);
        return false;
    }
    std::vector<Part> parts = parts_of(fd, std::uint64_t(std::max<off_t>(info.st_size, 0)));
    read_parts(fd, parts);
    std::uint64_t lines_before = 0;
    for (const Part& p : parts) {
        if (p.error) {
            reason = std::strerror(p.error);
            return false;
        }
        if (!p.damage.empty()) {
            reason = "the file is damaged (line " + std::to_string(lines_before + p.damage_line) + ": " + p.damage + ")";
            return false;
        }
        lines_before += p.lines;
    }
    WholeFile whole;
    if (!gather(parts, whole, reason))
        return false;
    make_mesh(whole, mesh);
    return true;
}
