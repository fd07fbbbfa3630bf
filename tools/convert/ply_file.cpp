// The header is read as text; the body through a block reader that hands out bytes (binary) or
// words (ASCII) across block ends. Faces are kept as written until every element is read, since
// the format lets them come before the vertices they name.
#include "ply_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "mesh/mesh_reader.h"
#include "triangulate.h"

namespace {

const std::size_t block_bytes = std::size_t(1) << 20;
const std::size_t longest_header = std::size_t(1) << 20;

enum class Type { int8, uint8, int16, uint16, int32, uint32, float32, float64, none };

struct Property {
    std::string name;
    Type type = Type::none;       // of the value, or of a list's items
    Type count_type = Type::none; // of a list's count; none for a single value
};

struct Element {
    std::string name;
    std::uint64_t count = 0;
    std::vector<Property> properties;
};

enum class Encoding { ascii, little_endian, big_endian };

struct Header {
    Encoding encoding = Encoding::ascii;
    std::vector<Element> elements;
    std::uint64_t body_start = 0;
};

bool type_named(const std::string& word, Type& type)
{
    static const struct {
        const char* name;
        Type type;
    } names[] = {{"char", Type::int8},     {"int8", Type::int8},       {"uchar", Type::uint8},   {"uint8", Type::uint8},
                 {"short", Type::int16},   {"int16", Type::int16},     {"ushort", Type::uint16}, {"uint16", Type::uint16},
                 {"int", Type::int32},     {"int32", Type::int32},     {"uint", Type::uint32},   {"uint32", Type::uint32},
                 {"float", Type::float32}, {"float32", Type::float32}, {"double", Type::float64}, {"float64", Type::float64}};
    for (const auto& n : names)
        if (word == n.name) {
            type = n.type;
            return true;
        }
    return false;
}

std::size_t size_of(Type type)
{
    switch (type) {
    case Type::int8:
    case Type::uint8: return 1;
    case Type::int16:
    case Type::uint16: return 2;
    case Type::int32:
    case Type::uint32:
    case Type::float32: return 4;
    case Type::float64: return 8;
    case Type::none: break;
    }
    return 0;
}

bool parse_property(std::istringstream& words, Element& element)
{
    Property p;
    std::string first;
    words >> first;
    if (first == "list") {
        std::string count, item;
        words >> count >> item;
        if (!type_named(count, p.count_type) || !type_named(item, p.type) || p.count_type == Type::float32 ||
            p.count_type == Type::float64)
            return false;
    } else if (!type_named(first, p.type)) {
        return false;
    }
    words >> p.name;
    element.properties.push_back(p);
    return !p.name.empty();
}

bool parse_format(std::istringstream& words, Header& header)
{
    std::string encoding;
    words >> encoding;
    if (encoding == "ascii")
        header.encoding = Encoding::ascii;
    else if (encoding == "binary_little_endian")
        header.encoding = Encoding::little_endian;
    else if (encoding == "binary_big_endian")
        header.encoding = Encoding::big_endian;
    else
        return false;
    return true;
}

// One header line; false when it is not one a PLY header may hold.
bool parse_header_line(const std::string& line, Header& header)
{
    std::istringstream words(line);
    std::string keyword;
    words >> keyword;
    if (keyword.empty() || keyword == "comment" || keyword == "obj_info")
        return true;
    if (keyword == "format")
        return parse_format(words, header);
    if (keyword == "element") {
        Element e;
        words >> e.name >> e.count;
        header.elements.push_back(e);
        return !words.fail();
    }
    if (keyword == "property")
        return !header.elements.empty() && parse_property(words, header.elements.back());
    return false;
}

bool read_header(int fd, Header& header, std::string& reason)
{
    std::string text(longest_header, '\0');
    const ssize_t got = pread(fd, &text[0], text.size(), 0);
    if (got < 0) {
        reason = std::strerror(errno);
        return false;
    }
    text.resize(std::size_t(got));
    std::size_t at = 0, line_number = 0;
    while (at < text.size()) {
        const std::size_t newline = text.find('\n', at);
        if (newline == std::string::npos)
            break;
        std::string line = text.substr(at, newline - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        at = newline + 1;
        if (line_number++ == 0) {
            if (line != "ply")
                break;
            continue;
        }
        if (line == "end_header") {
            header.body_start = at;
            return true;
        }
        if (!parse_header_line(line, header)) {
            reason = "the file is damaged (its header's line " + std::to_string(line_number) + " is not PLY's)";
            return false;
        }
    }
    reason = "the file is damaged (its header does not end)";
    return false;
}

// The body, a block at a time: bytes for a binary body, words for an ASCII one.
struct Body {
    int fd = -1;
    std::uint64_t offset = 0; // of the byte after the block
    std::vector<char> block;
    std::size_t next = 0, filled = 0;
    bool failed = false;
    int error = 0;
};

bool refill(Body& body)
{
    if (body.next < body.filled)
        return true;
    for (;;) {
        const ssize_t got = pread(body.fd, body.block.data(), body.block.size(), off_t(body.offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            body.failed = true;
            body.error = got < 0 ? errno : 0;
            return false;
        }
        body.offset += std::uint64_t(got);
        body.next = 0;
        body.filled = std::size_t(got);
        return true;
    }
}

// `size` bytes in a row (at most eight), moving what is left of the block to its start when they
// run past its end; null at the body's end.
const char* take_bytes(Body& body, std::size_t size)
{
    if (body.filled - body.next < size) {
        const std::size_t left = body.filled - body.next;
        std::memmove(body.block.data(), body.block.data() + body.next, left);
        body.next = 0, body.filled = left;
        while (body.filled < size) {
            const ssize_t got = pread(body.fd, body.block.data() + body.filled, body.block.size() - body.filled, off_t(body.offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                body.failed = true;
                body.error = got < 0 ? errno : 0;
                return nullptr;
            }
            body.offset += std::uint64_t(got);
            body.filled += std::size_t(got);
        }
    }
    const char* bytes = body.block.data() + body.next;
    body.next += size;
    return bytes;
}

// The next word; at the body's end, the word it ends with.
bool take_word(Body& body, std::string& word)
{
    word.clear();
    for (;;) {
        if (!refill(body))
            return !word.empty() && body.error == 0;
        const char c = body.block[body.next];
        const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
        if (blank && !word.empty())
            return true;
        ++body.next;
        if (!blank)
            word += c;
    }
}

template <typename T>
T from_bytes(const char* bytes, bool swap)
{
    T value;
    if (!swap) {
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    char ordered[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i)
        ordered[i] = bytes[sizeof(T) - 1 - i];
    std::memcpy(&value, ordered, sizeof value);
    return value;
}

// One value as a double (every PLY type fits one exactly) and, for the float types, as the float
// it was written as, so positions keep their single-precision bits.
struct Value {
    double number = 0;
    float as_float = 0;
};

bool host_is_little_endian()
{
    const std::uint16_t one = 1;
    char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

bool read_binary_value(Body& body, Type type, bool swap, Value& value)
{
    const char* bytes = take_bytes(body, size_of(type));
    if (!bytes)
        return false;
    switch (type) {
    case Type::int8: value.number = from_bytes<std::int8_t>(bytes, swap); break;
    case Type::uint8: value.number = from_bytes<std::uint8_t>(bytes, swap); break;
    case Type::int16: value.number = from_bytes<std::int16_t>(bytes, swap); break;
    case Type::uint16: value.number = from_bytes<std::uint16_t>(bytes, swap); break;
    case Type::int32: value.number = from_bytes<std::int32_t>(bytes, swap); break;
    case Type::uint32: value.number = from_bytes<std::uint32_t>(bytes, swap); break;
    case Type::float32: value.as_float = from_bytes<float>(bytes, swap), value.number = value.as_float; return true;
    case Type::float64: value.number = from_bytes<double>(bytes, swap); break;
    case Type::none: return false;
    }
    value.as_float = float(value.number);
    return true;
}

bool read_ascii_value(Body& body, Type type, Value& value, std::string& word)
{
    if (!take_word(body, word))
        return false;
    const char* begin = word.data() + (word[0] == '+');
    const char* const end = word.data() + word.size();
    if (type == Type::float32) {
        if (std::from_chars(begin, end, value.as_float).ptr != end)
            value.as_float = std::strtof(word.c_str(), nullptr);
        value.number = value.as_float;
        return true;
    }
    if (std::from_chars(begin, end, value.number).ptr != end)
        value.number = std::strtod(word.c_str(), nullptr);
    value.as_float = float(value.number);
    return true;
}

struct Reading {
    const Header& header;
    Body body;
    std::uint64_t body_bytes; // no element has more instances than this
    bool swap;
    std::string word;
    std::vector<float> positions, normals; // three a vertex; normals empty without nx, ny and nz
    std::vector<std::uint32_t> face_sizes;
    std::vector<std::int64_t> face_corners;
    std::uint64_t vertices = 0;
};

bool read_value(Reading& r, Type type, Value& value)
{
    return r.header.encoding == Encoding::ascii ? read_ascii_value(r.body, type, value, r.word)
                                                : read_binary_value(r.body, type, r.swap, value);
}

int place_of(const Element& e, const char* name)
{
    for (std::size_t i = 0; i < e.properties.size(); ++i)
        if (e.properties[i].name == name && e.properties[i].count_type == Type::none)
            return int(i);
    return -1;
}

int list_place(const Element& e)
{
    for (std::size_t i = 0; i < e.properties.size(); ++i)
        if ((e.properties[i].name == "vertex_indices" || e.properties[i].name == "vertex_index") &&
            e.properties[i].count_type != Type::none)
            return int(i);
    return -1;
}

// One instance of an element: each value in turn, handed to `keep` with its property's place
// (and, for a list's items, their place in the list).
template <typename Keep>
bool read_instance(Reading& r, const Element& e, Keep keep)
{
    for (std::size_t p = 0; p < e.properties.size(); ++p) {
        const Property& property = e.properties[p];
        Value value;
        if (property.count_type == Type::none) {
            if (!read_value(r, property.type, value))
                return false;
            keep(p, -1, value);
            continue;
        }
        Value count;
        if (!read_value(r, property.count_type, count) || count.number < 0)
            return false;
        keep(p, -2, count);
        for (std::int64_t i = 0; i < std::int64_t(count.number); ++i) {
            if (!read_value(r, property.type, value))
                return false;
            keep(p, int(std::min<std::int64_t>(i, INT32_MAX)), value);
        }
    }
    return true;
}

bool read_vertices(Reading& r, const Element& e)
{
    const int xyz[3] = {place_of(e, "x"), place_of(e, "y"), place_of(e, "z")};
    const int n[3] = {place_of(e, "nx"), place_of(e, "ny"), place_of(e, "nz")};
    const bool with_normals = n[0] >= 0 && n[1] >= 0 && n[2] >= 0;
    r.positions.reserve(r.positions.size() + 3 * std::min(e.count, r.body_bytes));
    if (with_normals)
        r.normals.resize(r.positions.size());
    float position[3], normal[3];
    for (std::uint64_t i = 0; i < e.count; ++i) {
        position[0] = position[1] = position[2] = 0;
        normal[0] = normal[1] = normal[2] = 0;
        const bool read = read_instance(r, e, [&](std::size_t p, int, const Value& v) {
            for (int k = 0; k < 3; ++k) {
                if (int(p) == xyz[k])
                    position[k] = v.as_float;
                if (int(p) == n[k])
                    normal[k] = v.as_float;
            }
        });
        if (!read)
            return false;
        r.positions.insert(r.positions.end(), position, position + 3);
        if (with_normals || !r.normals.empty())
            r.normals.insert(r.normals.end(), normal, normal + 3);
    }
    r.vertices += e.count;
    return true;
}

bool read_faces(Reading& r, const Element& e)
{
    const int list = list_place(e);
    for (std::uint64_t i = 0; i < e.count; ++i) {
        std::uint32_t size = 0;
        const bool read = read_instance(r, e, [&](std::size_t p, int item, const Value& v) {
            if (int(p) != list || item == -2)
                return;
            r.face_corners.push_back(std::int64_t(v.number));
            ++size;
        });
        if (!read)
            return false;
        if (list >= 0)
            r.face_sizes.push_back(size);
    }
    return true;
}

bool skip_element(Reading& r, const Element& e)
{
    for (std::uint64_t i = 0; i < e.count; ++i)
        if (!read_instance(r, e, [](std::size_t, int, const Value&) {}))
            return false;
    return true;
}

bool usable(const float* n)
{
    return std::isfinite(n[0]) && std::isfinite(n[1]) && std::isfinite(n[2]) && (n[0] != 0 || n[1] != 0 || n[2] != 0);
}

void make_vertices(const Reading& r, ConvertedMesh& mesh)
{
    mesh.vertices.resize(r.vertices);
    for (std::size_t i = 0; i < r.vertices; ++i) {
        ConvertedVertex& v = mesh.vertices[i];
        std::memcpy(v.position, &r.positions[3 * i], sizeof v.position);
        if (!r.normals.empty() && usable(&r.normals[3 * i]))
            std::memcpy(v.normal, &r.normals[3 * i], sizeof v.normal);
    }
}

bool make_triangles(const Reading& r, ConvertedMesh& mesh, std::string& reason)
{
    mesh.corner_vertices.reserve(r.face_corners.size());
    std::vector<Point> polygon;
    std::vector<int> cut;
    std::size_t at = 0;
    for (std::size_t f = 0; f < r.face_sizes.size(); ++f) {
        const std::uint32_t size = r.face_sizes[f];
        for (std::uint32_t k = 0; k < size; ++k)
            if (r.face_corners[at + k] < 0 || std::uint64_t(r.face_corners[at + k]) >= r.vertices) {
                reason = "the file is damaged (face " + std::to_string(f + 1) + " names vertex " +
                         std::to_string(r.face_corners[at + k]) + "; it has " + std::to_string(r.vertices) + ")";
                return false;
            }
        if (size == 3) {
            for (std::uint32_t k = 0; k < 3; ++k)
                mesh.corner_vertices.push_back(int(r.face_corners[at + k]));
        } else if (size > 3) {
            polygon.clear();
            for (std::uint32_t k = 0; k < size; ++k) {
                const float* p = mesh.vertices[std::size_t(r.face_corners[at + k])].position;
                polygon.push_back({p[0], p[1], p[2]});
            }
            cut.clear();
            triangulate(polygon, cut);
            for (const int k : cut)
                mesh.corner_vertices.push_back(int(r.face_corners[at + std::size_t(k)]));
        }
        at += size;
    }
    return true;
}

bool read_body(Reading& r, std::string& reason)
{
    for (const Element& e : r.header.elements) {
        const bool read = e.name == "vertex" ? read_vertices(r, e) : e.name == "face" ? read_faces(r, e) : skip_element(r, e);
        if (!read) {
            reason = r.body.error ? std::strerror(r.body.error)
                                  : "the file is damaged (it ends within its " + std::to_string(e.count) + " " + e.name +
                                        " elements)";
            return false;
        }
    }
    return true;
}

} // namespace

bool is_ply(int fd)
{
    char start[5] = {};
    const ssize_t got = pread(fd, start, sizeof start, 0);
    return got >= 4 && std::memcmp(start, "ply", 3) == 0 && (start[3] == '\n' || (got == 5 && start[3] == '\r' && start[4] == '\n'));
}

bool read_ply(int fd, ConvertedMesh& mesh, std::string& reason)
{
    Header header;
    bool read = read_header(fd, header, reason);
    if (read) {
        struct stat info {};
        const std::uint64_t size = descriptor_status(fd, info) ? std::uint64_t(std::max<off_t>(info.st_size, 0)) : 0;
        Reading r{header, Body{}, size > header.body_start ? size - header.body_start : 0,
                  (header.encoding == Encoding::big_endian) == host_is_little_endian(), {}, {}, {}, {}, {}, 0};
        r.body.fd = fd;
        r.body.offset = header.body_start;
        r.body.block.resize(block_bytes);
        read = read_body(r, reason);
        if (read) {
            make_vertices(r, mesh);
            read = make_triangles(r, mesh, reason);
        }
    }
    return read;
}
