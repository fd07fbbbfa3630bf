// Scanning primitives for the mesh reader. They follow the C library's formatted-input rules for
// white space, literals, "%d" and "%f" (decimal numbers only), working on a byte range.
#pragma once

struct Cursor {
    const char* p;   // next unread byte
    const char* end; // one past the last byte
};

inline bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline void skip_blanks(Cursor& in)
{
    while (in.p < in.end && is_blank(*in.p))
        ++in.p;
}

// Matches text byte by byte; at the first mismatch that byte stays unread.
inline bool match_literal(Cursor& in, const char* text)
{
    for (; *text != '\0'; ++text, ++in.p)
        if (in.p == in.end || *in.p != *text)
            return false;
    return true;
}

void skip_line(Cursor& in);

// Both skip leading white space, then consume the longest run that is or begins a number, even
// when that run turns out incomplete ("-", "1e+"): then they fail, and the byte after stays.
// Integers beyond the int range saturate; floats out of range become what strtof gives.
bool read_int(Cursor& in, int& value);
bool read_float(Cursor& in, float& value);
