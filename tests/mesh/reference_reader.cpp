#include "reference_reader.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <vector>

namespace {

struct CharStream {
    const std::string& text;
    std::size_t position = 0;

    int get() { return position < text.size() ? static_cast<unsigned char>(text[position++]) : EOF; }
    void unget(int c)
    {
        if (c != EOF)
            --position;
    }
};

// Any string that can still grow into a decimal floating-point number.
bool is_float_prefix(const std::string& item)
{
    static const std::regex prefix(
        R"([+-]?\.?|[+-]?[0-9]+\.?[0-9]*|[+-]?\.[0-9]+|[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)[eE][+-]?[0-9]*)");
    return std::regex_match(item, prefix);
}

bool is_complete_float(const std::string& item)
{
    static const std::regex number(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    return std::regex_match(item, number);
}

bool is_int_prefix(const std::string& item)
{
    static const std::regex prefix(R"([+-]?[0-9]*)");
    return std::regex_match(item, prefix);
}

void skip_space(CharStream& in)
{
    int c = in.get();
    while (c != EOF && std::isspace(c))
        c = in.get();
    in.unget(c);
}

// The longest run of characters that is, or is the beginning of, a number.
std::string input_item(CharStream& in, bool (*is_prefix)(const std::string&))
{
    std::string item;
    for (int c = in.get();; c = in.get()) {
        if (c == EOF || !is_prefix(item + char(c))) {
            in.unget(c);
            return item;
        }
        item += char(c);
    }
}

// Converts with the C library; ints beyond the range saturate.
struct Scanned {
    std::vector<long long> ints;
    std::vector<float> floats;
};

int scan(CharStream& in, const char* format, Scanned& out)
{
    int converted = 0;
    for (const char* f = format; *f; ++f) {
        if (std::isspace(static_cast<unsigned char>(*f))) {
            skip_space(in);
        } else if (f[0] == '%' && f[1] == 'd') {
            ++f;
            skip_space(in);
            const std::string item = input_item(in, is_int_prefix);
            if (item.find_first_of("0123456789") == std::string::npos)
                return converted;
            const long long value = std::strtoll(item.c_str(), nullptr, 10);
            out.ints.push_back(value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value);
            ++converted;
        } else if (f[0] == '%' && f[1] == 'f') {
            ++f;
            skip_space(in);
            const std::string item = input_item(in, is_float_prefix);
            if (!is_complete_float(item))
                return converted;
            out.floats.push_back(std::strtof(item.c_str(), nullptr));
            ++converted;
        } else {
            const int c = in.get();
            if (c != static_cast<unsigned char>(*f)) {
                in.unget(c);
                return converted;
            }
        }
    }
    return converted;
}

int index_of(long long vertex_number)
{
    return static_cast<int>(vertex_number - 1 < INT_MIN ? INT_MIN : vertex_number - 1);
}

} // namespace

MeshStore reference_read(const std::string& text)
{
    MeshStore mesh;
    CharStream in{text};
    for (int c = in.get(); c != EOF; c = in.get()) {
        Scanned s;
        if (c == 'F') {
            if (scan(in, "ace %d %d %d %d\n", s) == 4)
                mesh.faces.push_back({index_of(s.ints[1]), index_of(s.ints[2]), index_of(s.ints[3])});
        } else if (c == 'V') {
            if (scan(in, "ertex %d %f %f %f {normal=(%f %f %f)}\n", s) == 7) {
                const std::vector<float>& v = s.floats;
                mesh.vertices.push_back({v[0], v[1], v[2], v[3], v[4], v[5]});
            }
        } else if (c != '\n') {
            while (c != EOF && c != '\n')
                c = in.get();
        }
    }
    return mesh;
}

MeshStore fscanf_read(const std::string& text)
{
    MeshStore mesh;
    std::string copy = text;
    FILE* in = fmemopen(copy.data(), copy.size(), "r");
    if (!in)
        return mesh;
    for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) {
        if (c == 'F') {
            int id, a, b, cc;
            if (std::fscanf(in, "ace %d %d %d %d\n", &id, &a, &b, &cc) == 4)
                mesh.faces.push_back({a - 1, b - 1, cc - 1});
        } else if (c == 'V') {
            int id;
            float x, y, z, nx, ny, nz;
            if (std::fscanf(in, "ertex %d %f %f %f {normal=(%f %f %f)}\n", &id, &x, &y, &z, &nx,
                            &ny, &nz) == 7)
                mesh.vertices.push_back({x, y, z, nx, ny, nz});
        } else if (c != '\n') {
            while (c != EOF && c != '\n')
                c = std::fgetc(in);
        }
    }
    std::fclose(in);
    return mesh;
}
