// Integer and decimal floating-point conversion with the consumption rules of formatted input.
#include "mesh/scan.h"

#include <fast_float/fast_float.h>

#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstring>

#include "mesh/digit_runs.h"

namespace {

bool is_digit(char c)
{
    return static_cast<unsigned char>(c - '0') < 10;
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

const char* skip_zeros(const char* p, const char* end)
{
    while (p < end && *p == '0')
        ++p;
    return p;
}

std::uint64_t digits_value(const char* p, const char* end, std::uint64_t value = 0)
{
    for (; p < end; ++p)
        value = value * 10 + std::uint64_t(*p - '0');
    return value;
}

const std::uint64_t powers_of_ten[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// Skips a run of digits and accumulates its value; past 19 digits the value wraps, which the
// callers detect from the count.
inline __attribute__((always_inline)) const char* scan_digits(const char* p, const char* end,
                                                              std::uint64_t& value)
{
    while (end - p >= 8) {
        const DigitRun run = eight_byte_digit_run(p);
        value = value * powers_of_ten[run.length] + run.value;
        p += run.length;
        if (run.length < 8)
            return p;
    }
    for (; p < end && is_digit(*p); ++p)
        value = value * 10 + std::uint64_t(*p - '0');
    return p;
}

inline const char* skip_digit_run(const char* p, const char* end)
{
    while (end - p >= 8) {
        const int length = digits_at(p);
        p += length;
        if (length < 8)
            return p;
    }
    return skip_digits(p, end);
}

// Beyond ten significant digits every number is out of the int range, however many there are.
int saturated_int(const char* digits, const char* end, bool negative)
{
    const char* significant = skip_zeros(digits, end);
    const std::uint64_t magnitude =
        end - significant > 10 ? std::uint64_t(INT_MAX) + 2 : digits_value(significant, end);
    if (negative)
        return magnitude > std::uint64_t(INT_MAX) + 1 ? INT_MIN : static_cast<int>(-static_cast<long long>(magnitude));
    return magnitude > std::uint64_t(INT_MAX) ? INT_MAX : static_cast<int>(magnitude);
}

// The string is already known to be a complete decimal number. Out of range, the conversion
// gives strtof's answer: infinity, zero or a denormal.
float decimal_to_float(const char* item, const char* end)
{
    const bool negative = *item == '-';
    float value = 0.0f;
    fast_float::from_chars(skip_sign(item, end), end, value);
    return negative ? -value : value;
}

// Exponents past any float's range only need to stay past it.
int exponent_value(const char* digits, const char* end)
{
    return end - digits > 6 ? 1000000 : static_cast<int>(digits_value(digits, end));
}

const float exact_powers_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                     1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

const double exact_double_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A mantissa up to 2^24 and a power of ten up to 10^10 are both exact floats, so one
// multiplication or division rounds correctly. Nearly every number exporters write fits.
bool exact_float(std::uint64_t mantissa, int exponent, float& value)
{
    if (mantissa > (1u << 24) || exponent < -10 || exponent > 10)
        return false;
    const float m = static_cast<float>(mantissa);
    value = exponent < 0 ? m / exact_powers_of_ten[-exponent] : m * exact_powers_of_ten[exponent];
    return true;
}

// The same in double for the longer mantissas of numbers written to round-trip (up to nine
// digits): the quotient is the double nearest the number, and rounding it to a float gives the
// float nearest the number unless the double lies exactly halfway between two floats, where
// the first rounding may have decided the tie. Those, and numbers outside the normal floats, are
// left to the full conversion.
bool exact_float_through_double(std::uint64_t mantissa, int exponent, float& value)
{
    if (mantissa > (std::uint64_t(1) << 53) || exponent < -22 || exponent > 22)
        return false;
    const double m = static_cast<double>(mantissa);
    const double d = exponent < 0 ? m / exact_double_powers_of_ten[-exponent] : m * exact_double_powers_of_ten[exponent];
    if (d != 0 && (d < double(FLT_MIN) || d > double(FLT_MAX)))
        return false;
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    // A double's 52 fraction bits are a float's 23 and 29 more: halfway is those 29 at 1000...0.
    if ((bits & ((std::uint64_t(1) << 29) - 1)) == (std::uint64_t(1) << 28))
        return false;
    value = static_cast<float>(d);
    return true;
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
    std::uint64_t magnitude = 0;
    in.p = scan_digits(digits, in.end, magnitude);
    if (in.p == digits)
        return false;
    const bool negative = *item == '-';
    if (in.p - digits <= 9)
        value = negative ? -static_cast<int>(magnitude) : static_cast<int>(magnitude);
    else
        value = saturated_int(digits, in.p, negative);
    return true;
}

bool read_int_in_range(Cursor& in, int& value)
{
    skip_blanks(in);
    const char* item = in.p;
    if (!read_int(in, value))
        return false;
    if (value != INT_MAX && value != INT_MIN)
        return true;
    // Saturated or exactly at a bound: only the bound itself is in range.
    const char* significant = skip_zeros(skip_sign(item, in.p), in.p);
    const std::uint64_t bound = value == INT_MAX ? std::uint64_t(INT_MAX) : std::uint64_t(INT_MAX) + 1;
    return in.p - significant <= 10 && digits_value(significant, in.p) <= bound;
}

bool skip_int(Cursor& in)
{
    skip_blanks(in);
    const char* digits = skip_sign(in.p, in.end);
    in.p = skip_digit_run(digits, in.end);
    return in.p != digits;
}

bool skip_int(Cursor& in, const char*& number, std::uint64_t& word, long& length)
{
    skip_blanks(in);
    number = in.p;
    if (in.end - in.p >= 8) {
        std::memcpy(&word, in.p, sizeof word);
        length = eight_byte_digit_count(word);
        if (length > 0 && length < 8) {
            in.p += length;
            return true;
        }
    }
    length = 0;
    const char* digits = skip_sign(in.p, in.end);
    in.p = skip_digit_run(digits, in.end);
    return in.p != digits;
}

bool read_float(Cursor& in, float& value)
{
    skip_blanks(in);
    const char* item = in.p;
    const char* whole = skip_sign(item, in.end);
    std::uint64_t mantissa = 0;
    const char* whole_end = scan_digits(whole, in.end, mantissa);
    const char* fraction = whole_end, *fraction_end = whole_end;
    if (whole_end < in.end && *whole_end == '.') {
        fraction = whole_end + 1;
        fraction_end = scan_digits(fraction, in.end, mantissa);
    }
    in.p = fraction_end;
    if (whole_end == whole && fraction_end == fraction)
        return false;
    int exponent = 0;
    if (in.p < in.end && (*in.p == 'e' || *in.p == 'E')) {
        const char* exponent_sign = in.p + 1;
        const char* exponent_digits = skip_sign(exponent_sign, in.end);
        in.p = skip_digits(exponent_digits, in.end);
        if (in.p == exponent_digits)
            return false;
        exponent = exponent_value(exponent_digits, in.p);
        exponent = *exponent_sign == '-' ? -exponent : exponent;
    }
    const long digit_count = (whole_end - whole) + (fraction_end - fraction);
    const int scale = exponent - static_cast<int>(fraction_end - fraction);
    float exact = 0.0f;
    if (digit_count <= 19 && (exact_float(mantissa, scale, exact) || exact_float_through_double(mantissa, scale, exact)))
        value = *item == '-' ? -exact : exact;
    else
        value = decimal_to_float(item, in.p);
    return true;
}
