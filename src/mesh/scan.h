// Scanning primitives for the mesh reader. They follow the C library's formatted-input rules for
// white space, literals, "%d" and "%f" (decimal numbers only), working on a byte range.
#pragma once

struct Cursor {
    const char* p;   // next unread byte
    const char* end; // one past the last byte
};

// The C locale's white space: the blank, and the run from tab to carriage return.
inline bool is_blank(char c)
{
    return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t';
}

inline void skip_blanks(Cursor& in)
{
    while (in.p < in.end && is_blank(*in.p))
        ++in.p;
}

#include <cstdint>
#include <cstring>

// Matches text; at the first mismatch that byte stays unread.
template <std::size_t N>
inline bool match_literal(Cursor& in, const char (&text)[N])
{
    const std::size_t length = N - 1;
    if (static_cast<std::size_t>(in.end - in.p) >= length && std::memcmp(in.p, text, length) == 0) {
        in.p += length;
        return true;
    }
    for (const char* t = text; *t != '\0'; ++t, ++in.p)
        if (in.p == in.end || *in.p != *t)
            return false;
    return true;
}

void skip_line(Cursor& in);

// Both skip leading white space, then consume the longest run that is or begins a number, even
// when that run turns out incomplete ("-", "1e+"): then they fail, and the byte after stays.
// Integers beyond the int range saturate; floats out of range become what strtof gives.
bool read_int(Cursor& in, int& value);
// The same, except that a number beyond the int range does not convert (false), rather than
// saturate: for readers to whom such a number is a fault, not a value.
bool read_int_in_range(Cursor& in, int& value);
bool skip_int(Cursor& in); // a "%d" whose value is not wanted
// The same, saying where its text begins, and, when it is a plain run of one to seven digits, its
// text as one little-endian word (the bytes past it undefined) and its length; else length 0.
bool skip_int(Cursor& in, const char*& number, std::uint64_t& word, long& length);
bool read_float(Cursor& in, float& value);
