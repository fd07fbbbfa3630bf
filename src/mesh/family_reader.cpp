// One dispatch on the line's first word, one function per record kind; the numbers are read with
// the viewer's own scanning primitives, so they round exactly as the viewer's reader rounds them.
#include "mesh/family_reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>

#include "mesh/scan.h"

namespace {

const char byte_order_mark[] = "\xEF\xBB\xBF";

struct Attributes {
    float normal[3] = {0, 0, 0};
    bool has_normal = false;
    bool sharp = false;
    bool damaged = false;          // some of the block could not be read
    std::uint32_t unusable_normals = 0;
};

// A number in a record ends at a blank, at its attribute block or at the line's end.
bool at_record_boundary(const Cursor& in)
{
    return in.p == in.end || is_blank(*in.p) || *in.p == '{';
}

bool at_list_boundary(const Cursor& in)
{
    return in.p == in.end || is_blank(*in.p) || *in.p == ',' || *in.p == ')';
}

// A record's numbers are names and counts: one the reader cannot hold is not in the record's form.
bool record_int(Cursor& in, int& value)
{
    return read_int_in_range(in, value) && at_record_boundary(in);
}

bool record_float(Cursor& in, float& value)
{
    return read_float(in, value) && at_record_boundary(in);
}

bool usable_normal(const float n[3])
{
    return std::isfinite(n[0]) && std::isfinite(n[1]) && std::isfinite(n[2]) && (n[0] != 0 || n[1] != 0 || n[2] != 0);
}

bool same_letters(const char* text, const char* word, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i])
            return false;
    return true;
}

// Not-a-number and infinity as the C library writes and reads them: "nan", "-nan", "inf",
// "infinity", in any case, signed or not. Writers print them for normals they could not make.
bool read_number_word(Cursor& in, float& value)
{
    const char* p = in.p < in.end && (*in.p == '+' || *in.p == '-') ? in.p + 1 : in.p;
    const bool negative = p != in.p && *in.p == '-';
    for (const char* word : {"infinity", "inf", "nan"}) {
        const std::size_t length = std::strlen(word);
        if (std::size_t(in.end - p) < length || !same_letters(p, word, length))
            continue;
        Cursor after{p + length, in.end};
        if (!at_list_boundary(after))
            return false;
        value = word[0] == 'n' ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
        value = negative ? -value : value;
        in = after;
        return true;
    }
    return false;
}

bool read_list_number(Cursor& in, float& value)
{
    const Cursor start = in;
    if (read_float(in, value) && at_list_boundary(in))
        return true;
    in = start;
    return read_number_word(in, value);
}

// "(numbers)" after a key, apart by blanks or commas, at the "(". A list with a word that is no
// number is damaged and passed over to its ")"; without a ")" the rest of the line is lost.
// Only a normal of exactly three numbers, finite and not all zero, is kept.
void read_number_list(Cursor& in, std::string_view key, Attributes& a)
{
    const void* closing = std::memchr(in.p, ')', std::size_t(in.end - in.p));
    if (!closing) {
        a.damaged = true;
        in.p = in.end;
        return;
    }
    Cursor list{in.p + 1, static_cast<const char*>(closing)};
    in.p = list.end + 1;
    float numbers[3] = {0, 0, 0};
    int count = 0;
    for (;;) {
        while (list.p < list.end && (is_blank(*list.p) || *list.p == ','))
            ++list.p;
        if (list.p == list.end)
            break;
        float value = 0;
        if (!read_list_number(list, value)) {
            a.damaged = true;
            return;
        }
        if (count < 3)
            numbers[count] = value;
        ++count;
    }
    if (key != "normal")
        return;
    a.has_normal = count == 3 && usable_normal(numbers);
    if (a.has_normal)
        std::memcpy(a.normal, numbers, sizeof numbers);
    else
        ++a.unusable_normals;
}

// After "key=": numbers, "text" (without a closing quote the rest of the line is lost) or a word.
void read_value(Cursor& in, std::string_view key, Attributes& a)
{
    if (in.p < in.end && *in.p == '(')
        return read_number_list(in, key, a);
    if (in.p < in.end && *in.p == '"') {
        const void* closing = std::memchr(in.p + 1, '"', std::size_t(in.end - in.p - 1));
        a.damaged = a.damaged || !closing;
        in.p = closing ? static_cast<const char*>(closing) + 1 : in.end;
        return;
    }
    while (in.p < in.end && !is_blank(*in.p) && *in.p != '}')
        ++in.p;
}

// The bytes that are the block's own punctuation: none begins an entry.
bool is_punctuation(char c)
{
    return c == '{' || c == '}' || c == '(' || c == ')' || c == '=' || c == '"' || c == ',';
}

// One "key=value" or bare "key"; a byte that cannot begin one is damage, passed over alone.
void read_entry(Cursor& in, Attributes& a)
{
    if (is_punctuation(*in.p)) {
        a.damaged = true;
        ++in.p;
        return;
    }
    const char* key = in.p;
    while (in.p < in.end && !is_blank(*in.p) && !is_punctuation(*in.p))
        ++in.p;
    const std::string_view name(key, std::size_t(in.p - key));
    if (in.p < in.end && *in.p == '=') {
        ++in.p;
        read_value(in, name, a);
    } else if (name == "sharp") {
        a.sharp = true;
    }
}

// "{key=(numbers) key="text" key=word key ...}" to the line's end, at the "{", read entry by
// entry: damage costs only what it touches. A block that is not closed, or is followed by more
// than blanks, is damaged too, but what it held is kept.
void read_attributes(Cursor& in, Attributes& a)
{
    ++in.p;
    for (;;) {
        skip_blanks(in);
        if (in.p == in.end) {
            a.damaged = true;
            return;
        }
        if (*in.p == '}')
            break;
        read_entry(in, a);
    }
    ++in.p;
    skip_blanks(in);
    a.damaged = a.damaged || in.p != in.end;
    in.p = in.end;
}

// What may end a record: an attribute block, or nothing but blanks.
bool read_record_end(Cursor& in, Attributes& a)
{
    skip_blanks(in);
    if (in.p < in.end && *in.p == '{')
        read_attributes(in, a);
    return in.p == in.end;
}

bool read_vertex(Cursor& in, FamilyMesh& mesh, Attributes& a)
{
    FamilyVertex v{};
    if (!record_int(in, v.number) || !record_float(in, v.position[0]) || !record_float(in, v.position[1]) ||
        !record_float(in, v.position[2]) || !read_record_end(in, a))
        return false;
    std::memcpy(v.normal, a.normal, sizeof v.normal);
    v.has_normal = a.has_normal;
    mesh.vertices.push_back(v);
    return true;
}

bool read_face(Cursor& in, FamilyMesh& mesh, Attributes& a)
{
    const std::size_t first = mesh.face_vertices.size();
    int number = 0;
    bool read = record_int(in, number);
    for (skip_blanks(in); read && in.p < in.end && *in.p != '{'; skip_blanks(in)) {
        int vertex = 0;
        read = record_int(in, vertex);
        mesh.face_vertices.push_back(vertex);
    }
    if (!read || mesh.face_vertices.size() - first < 3 || !read_record_end(in, a)) {
        mesh.face_vertices.resize(first);
        return false;
    }
    if (mesh.face_starts.empty())
        mesh.face_starts.push_back(0);
    mesh.face_numbers.push_back(number);
    mesh.face_starts.push_back(static_cast<std::uint32_t>(mesh.face_vertices.size()));
    return true;
}

bool read_corner(Cursor& in, FamilyMesh& mesh, Attributes& a)
{
    FamilyCorner c{};
    if (!record_int(in, c.vertex) || !record_int(in, c.face) || !read_record_end(in, a))
        return false;
    std::memcpy(c.normal, a.normal, sizeof c.normal);
    if (a.has_normal)
        mesh.corners.push_back(c);
    return true;
}

bool read_edge(Cursor& in, FamilyMesh& mesh, Attributes& attributes)
{
    int a = 0, b = 0;
    if (!record_int(in, a) || !record_int(in, b) || !read_record_end(in, attributes))
        return false;
    if (attributes.sharp)
        mesh.sharp_edges.emplace_back(a, b);
    return true;
}

enum class Kind { none, vertex, face, corner, edge };

// The record kind a line's first word names; the cursor then stands after the word.
Kind kind_of(Cursor& in)
{
    skip_blanks(in);
    const char* word = in.p;
    while (in.p < in.end && !is_blank(*in.p))
        ++in.p;
    const std::string_view name(word, std::size_t(in.p - word));
    if (in.p == in.end)
        return Kind::none;
    if (name == "Vertex")
        return Kind::vertex;
    if (name == "Face")
        return Kind::face;
    if (name == "Corner")
        return Kind::corner;
    if (name == "Edge")
        return Kind::edge;
    return Kind::none;
}

bool blank_or_comment(const char* begin, const char* end)
{
    Cursor in{begin, end};
    skip_blanks(in);
    return in.p == in.end || *in.p == '#';
}

} // namespace

void read_family_line(const char* begin, const char* end, FamilyMesh& mesh)
{
    if (blank_or_comment(begin, end))
        return;
    Cursor in{begin, end};
    Attributes a;
    bool read = false;
    switch (kind_of(in)) {
    case Kind::vertex: read = read_vertex(in, mesh, a); break;
    case Kind::face: read = read_face(in, mesh, a); break;
    case Kind::corner: read = read_corner(in, mesh, a); break;
    case Kind::edge: read = read_edge(in, mesh, a); break;
    case Kind::none: break;
    }
    if (!read) {
        ++mesh.skipped_lines;
        return;
    }
    mesh.damaged_blocks += a.damaged ? 1 : 0;
    mesh.unusable_normals += a.unusable_normals;
}

namespace {

void read_numbered_line(FamilyReading& reading, const char* begin, const char* end)
{
    ++reading.lines;
    if (reading.at_text_start && end - begin >= 3 && std::memcmp(begin, byte_order_mark, 3) == 0)
        begin += 3;
    reading.at_text_start = false;
    FamilyMesh& mesh = reading.mesh;
    const std::uint64_t skipped = mesh.skipped_lines, damaged = mesh.damaged_blocks;
    read_family_line(begin, end, mesh);
    if (mesh.skipped_lines != skipped && mesh.first_skipped_line == 0)
        mesh.first_skipped_line = reading.lines;
    if (mesh.damaged_blocks != damaged && mesh.first_damaged_line == 0)
        mesh.first_damaged_line = reading.lines;
}

} // namespace

void read_family_bytes(FamilyReading& reading, const char* bytes, std::size_t count)
{
    const char* p = bytes;
    const char* const end = bytes + count;
    if (!reading.unfinished_line.empty()) {
        const char* line_end = static_cast<const char*>(std::memchr(p, '\n', count));
        if (!line_end) {
            reading.unfinished_line.append(p, end);
            return;
        }
        reading.unfinished_line.append(p, line_end);
        read_numbered_line(reading, reading.unfinished_line.data(),
                           reading.unfinished_line.data() + reading.unfinished_line.size());
        reading.unfinished_line.clear();
        p = line_end + 1;
    }
    while (p < end) {
        const char* line_end = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!line_end) {
            reading.unfinished_line.assign(p, end);
            return;
        }
        read_numbered_line(reading, p, line_end);
        p = line_end + 1;
    }
}

void finish_family_reading(FamilyReading& reading)
{
    if (reading.unfinished_line.empty())
        return;
    read_numbered_line(reading, reading.unfinished_line.data(),
                       reading.unfinished_line.data() + reading.unfinished_line.size());
    reading.unfinished_line.clear();
}

bool begins_family_text(const char* begin, const char* end)
{
    if (end - begin >= 3 && std::memcmp(begin, byte_order_mark, 3) == 0)
        begin += 3;
    for (const char* line = begin; line < end;) {
        const char* line_end = static_cast<const char*>(std::memchr(line, '\n', std::size_t(end - line)));
        if (!line_end)
            line_end = end;
        if (!blank_or_comment(line, line_end)) {
            Cursor in{line, line_end};
            return kind_of(in) != Kind::none;
        }
        line = line_end + 1;
    }
    return false;
}

namespace {

template <typename Item>
void append(std::vector<Item>& into, const std::vector<Item>& from)
{
    into.insert(into.end(), from.begin(), from.end());
}

// The later part's records after the earlier part's; its face starts and line numbers move on.
void join_family(FamilyReading& into, const FamilyReading& later)
{
    FamilyMesh& mesh = into.mesh;
    const FamilyMesh& more = later.mesh;
    const std::uint32_t shift = std::uint32_t(mesh.face_vertices.size());
    if (mesh.face_starts.empty() && !more.face_starts.empty())
        mesh.face_starts.push_back(0);
    for (std::size_t i = 1; i < more.face_starts.size(); ++i)
        mesh.face_starts.push_back(more.face_starts[i] + shift);
    append(mesh.vertices, more.vertices);
    append(mesh.face_numbers, more.face_numbers);
    append(mesh.face_vertices, more.face_vertices);
    append(mesh.corners, more.corners);
    append(mesh.sharp_edges, more.sharp_edges);
    if (mesh.first_skipped_line == 0 && more.first_skipped_line != 0)
        mesh.first_skipped_line = into.lines + more.first_skipped_line;
    if (mesh.first_damaged_line == 0 && more.first_damaged_line != 0)
        mesh.first_damaged_line = into.lines + more.first_damaged_line;
    mesh.skipped_lines += more.skipped_lines;
    mesh.damaged_blocks += more.damaged_blocks;
    mesh.unusable_normals += more.unusable_normals;
    into.lines += later.lines;
}

const char* next_line_start(const char* at, const char* end)
{
    const void* line_end = std::memchr(at, '\n', std::size_t(end - at));
    return line_end ? static_cast<const char*>(line_end) + 1 : end;
}

// Room for every record the piece could hold, so that no list copies itself while it grows:
// pages that no record reaches stay address space, not memory.
void reserve_for(FamilyMesh& mesh, std::size_t bytes)
{
    const std::size_t shortest_vertex = 15, shortest_face = 13; // "Vertex 1 0 0 0\n", "Face 1 1 2 3\n"
    mesh.vertices.reserve(bytes / shortest_vertex);
    mesh.face_numbers.reserve(bytes / shortest_face);
    mesh.face_starts.reserve(bytes / shortest_face + 1);
    mesh.face_vertices.reserve(bytes / 2);
}

// The first piece's lists take the later pieces' records in the end, so they have room for all.
void read_piece(FamilyReading& reading, const char* begin, const char* end, std::size_t room)
{
    try {
        reserve_for(reading.mesh, room);
    } catch (const std::bad_alloc&) {
        // The lists grow as they must instead.
    }
    read_family_bytes(reading, begin, std::size_t(end - begin));
    finish_family_reading(reading);
}

} // namespace

FamilyMesh read_family_text(const char* begin, const char* end, int parts)
{
    std::vector<const char*> cuts{begin};
    for (int i = 1; i < parts; ++i)
        cuts.push_back(std::max(cuts.back(), next_line_start(begin + (end - begin) * i / parts, end)));
    cuts.push_back(end);
    std::vector<FamilyReading> readings(cuts.size() - 1);
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < readings.size(); ++i) {
        readings[i].at_text_start = false;
        try {
            threads.emplace_back(read_piece, std::ref(readings[i]), cuts[i], cuts[i + 1], std::size_t(cuts[i + 1] - cuts[i]));
        } catch (const std::system_error&) {
            read_piece(readings[i], cuts[i], cuts[i + 1], std::size_t(cuts[i + 1] - cuts[i]));
        }
    }
    read_piece(readings[0], cuts[0], cuts[1], std::size_t(end - begin));
    for (std::thread& thread : threads)
        thread.join();
    for (std::size_t i = 1; i < readings.size(); ++i)
        join_family(readings[0], readings[i]);
    return std::move(readings[0].mesh);
}
