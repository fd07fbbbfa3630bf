// The reference reader: the reading rules spelled out one character at a time, kept apart from
// the program's own reader so that the two can be compared on any text.
#include "reference_reader.h"

#include "fscanf_reader.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
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

// Reading a number one character at a time. A string is the beginning of a number while no
// character has led to `dead`; it is a whole number when it stops in an accepting state.
enum class NumberState {
    start, sign, whole, lone_point, fraction, exponent_mark, exponent_sign, exponent, dead
};

bool is_digit_char(char c)
{
    return c >= '0' && c <= '9';
}

NumberState next_float_state(NumberState s, char c)
{
    using S = NumberState;
    const bool digit = is_digit_char(c), sign = c == '+' || c == '-', point = c == '.';
    const bool mark = c == 'e' || c == 'E';
    switch (s) {
    case S::start: return sign ? S::sign : digit ? S::whole : point ? S::lone_point : S::dead;
    case S::sign: return digit ? S::whole : point ? S::lone_point : S::dead;
    case S::whole: return digit ? S::whole : point ? S::fraction : mark ? S::exponent_mark : S::dead;
    case S::lone_point: return digit ? S::fraction : S::dead;
    case S::fraction: return digit ? S::fraction : mark ? S::exponent_mark : S::dead;
    case S::exponent_mark: return sign ? S::exponent_sign : digit ? S::exponent : S::dead;
    case S::exponent_sign: return digit ? S::exponent : S::dead;
    case S::exponent: return digit ? S::exponent : S::dead;
    default: return S::dead;
    }
}

NumberState next_int_state(NumberState s, char c)
{
    using S = NumberState;
    const bool digit = is_digit_char(c), sign = c == '+' || c == '-';
    switch (s) {
    case S::start: return sign ? S::sign : digit ? S::whole : S::dead;
    case S::sign: case S::whole: return digit ? S::whole : S::dead;
    default: return S::dead;
    }
}

struct Item {
    std::string text;
    NumberState state = NumberState::start;
};

bool is_complete_float(const Item& item)
{
    using S = NumberState;
    return item.state == S::whole || item.state == S::fraction || item.state == S::exponent;
}

bool is_complete_int(const Item& item)
{
    return item.state == NumberState::whole;
}

void skip_space(CharStream& in)
{
    int c = in.get();
    while (c != EOF && std::isspace(c))
        c = in.get();
    in.unget(c);
}

// The longest run of characters that is, or is the beginning of, a number.
Item input_item(CharStream& in, NumberState (*next)(NumberState, char))
{
    Item item;
    for (int c = in.get();; c = in.get()) {
        const NumberState after = c == EOF ? NumberState::dead : next(item.state, char(c));
        if (after == NumberState::dead) {
            in.unget(c);
            return item;
        }
        item.text += char(c);
        item.state = after;
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
            const Item item = input_item(in, next_int_state);
            if (!is_complete_int(item))
                return converted;
            const long long value = std::strtoll(item.text.c_str(), nullptr, 10);
            out.ints.push_back(value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value);
            ++converted;
        } else if (f[0] == '%' && f[1] == 'f') {
            ++f;
            skip_space(in);
            const Item item = input_item(in, next_float_state);
            if (!is_complete_float(item))
                return converted;
            out.floats.push_back(std::strtof(item.text.c_str(), nullptr));
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

MeshStore reference_read_file(const std::string& text)
{
    const bool marked = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    return reference_read(marked ? text.substr(3) : text);
}

MeshStore fscanf_read(const std::string& text)
{
    std::string copy = text;
    FILE* in = fmemopen(copy.data(), copy.size(), "r");
    if (!in)
        return MeshStore{};
    MeshStore mesh = fscanf_read_stream(in);
    std::fclose(in);
    return mesh;
}
