// Integer and decimal floating-point conversion with the consumption rules of formatted input.
#include "mesh/scan.h"

#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

const char* skip_digits(const char* p, const char* end)
{
    while (p < end && is_digit(*p))
        ++p;
    return p;
}

const char* skip_sign(const char* p, const char* end)
{
    return p < end && (*p == '+' || *p == '-') ? p + 1 : p;
}

// Digits accumulate into a magnitude capped just past the int range, so no digit count overflows.
int saturated_int(const char* digits, const char* end, bool negative)
{
    const long long cap = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (const char* p = digits; p < end && magnitude <= cap; ++p)
        magnitude = magnitude * 10 + (*p - '0');
    if (negative)
        return magnitude >= cap ? INT_MIN : static_cast<int>(-magnitude);
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

// The string is already known to be a complete decimal number; out-of-range values take
// strtof's answer (infinity, zero or a denormal), which from_chars does not give.
float decimal_to_float(const char* item, const char* end)
{
    const bool negative = *item == '-';
    const char* unsigned_part = skip_sign(item, end);
    float value = 0.0f;
    if (std::from_chars(unsigned_part, end, value).ec == std::errc())
        return negative ? -value : value;
    return std::strtof(std::string(item, end).c_str(), nullptr);
}

} // namespace

void skip_line(Cursor& in)
{
    const void* line_end = std::memchr(in.p, '\n', static_cast<std::size_t>(in.end - in.p));
    in.p = line_end ? static_cast<const char*>(line_end) + 1 : in.end;
}

bool read_int(Cursor& in, int& value)
{
    skip_blanks(in);
    const char* item = in.p;
    const char* digits = skip_sign(item, in.end);
    in.p = skip_digits(digits, in.end);
    if (in.p == digits)
        return false;
    value = saturated_int(digits, in.p, *item == '-');
    return true;
}

bool read_float(Cursor& in, float& value)
{
    skip_blanks(in);
    const char* item = in.p;
    const char* mantissa = skip_sign(item, in.end);
    const char* p = skip_digits(mantissa, in.end);
    bool has_digits = p != mantissa;
    if (p < in.end && *p == '.') {
        const char* fraction = p + 1;
        p = skip_digits(fraction, in.end);
        has_digits = has_digits || p != fraction;
    }
    bool complete = has_digits;
    if (has_digits && p < in.end && (*p == 'e' || *p == 'E')) {
        const char* exponent = skip_sign(p + 1, in.end);
        p = skip_digits(exponent, in.end);
        complete = p != exponent;
    }
    in.p = p;
    if (complete)
        value = decimal_to_float(item, p);
    return complete;
}
