// The number scanners: what each consumes, and what it converts to.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

#include "mesh/scan.h"

namespace {

struct FloatCase {
    std::string input;
    bool converts;
    float value;
    std::size_t consumed;
};

class ReadFloat : public testing::TestWithParam<FloatCase> {};

TEST_P(ReadFloat, ConsumesTheNumberPrefixAndConvertsOnlyCompleteDecimals)
{
    const FloatCase& c = GetParam();
    Cursor in{c.input.data(), c.input.data() + c.input.size()};
    float value = 12345.0f;
    EXPECT_EQ(read_float(in, value), c.converts);
    EXPECT_EQ(static_cast<std::size_t>(in.p - c.input.data()), c.consumed);
    if (c.converts) {
        EXPECT_EQ(std::signbit(value), std::signbit(c.value));
        EXPECT_EQ(value, c.value);
    }
}

const float inf = HUGE_VALF;

INSTANTIATE_TEST_SUITE_P(Decimal, ReadFloat, testing::Values(
    FloatCase{"1.5 ", true, 1.5f, 3},
    FloatCase{"  -2e-1x", true, -0.2f, 7},
    FloatCase{"\r\n\t7", true, 7.0f, 4},
    FloatCase{".5", true, 0.5f, 2},
    FloatCase{"5.", true, 5.0f, 2},
    FloatCase{"1.e5", true, 1e5f, 4},
    FloatCase{"+3", true, 3.0f, 2},
    FloatCase{"-0", true, -0.0f, 2},
    FloatCase{"0.1", true, 0.1f, 3},
    FloatCase{"007.250", true, 7.25f, 7},
    FloatCase{"1.5.3", true, 1.5f, 3},
    FloatCase{"2E+2", true, 200.0f, 4},
    FloatCase{"3.4028235e38", true, FLT_MAX, 12},
    FloatCase{"123456789012345678901234567890", true, 1.23456789e29f, 30},
    FloatCase{"0.333333333333333333333333333333333", true, 1.0f / 3.0f, 35}));

// A whole decimal as the C library converts it, correctly rounded.
FloatCase as_strtof(const char* text)
{
    return FloatCase{text, true, std::strtof(text, nullptr), std::string(text).size()};
}

// At the ends of each exact path and one past: a mantissa of 2^24 (floats) and 2^53 (doubles),
// powers of ten up to 10^10 and 10^22; and decimals whose nearest double lies exactly halfway
// between two floats, or whose 17 digits a double cannot hold, where a second rounding goes wrong.
INSTANTIATE_TEST_SUITE_P(AtTheEndsOfEachExactPath, ReadFloat, testing::Values(
    as_strtof("16777216"), as_strtof("16777217"), as_strtof("1677721.7"), as_strtof("1e10"), as_strtof("1e11"),
    as_strtof("3e-10"), as_strtof("3e-11"), as_strtof("9007199254740992e-15"), as_strtof("9007199254740993e-15"),
    as_strtof("1e22"), as_strtof("1e23"), as_strtof("7e-22"), as_strtof("7e-23"),
    as_strtof("8.927982807159424"), as_strtof("0.000004830740408579004"), as_strtof("0.00001811511265259469"),
    as_strtof("116.38307571411133"), as_strtof("0.010958231519907713")));

INSTANTIATE_TEST_SUITE_P(OutOfRangeAsStrtof, ReadFloat, testing::Values(
    FloatCase{"1e50", true, inf, 4},
    FloatCase{"-1e50", true, -inf, 5},
    FloatCase{"1e-50", true, 0.0f, 5},
    FloatCase{"-1e-50", true, -0.0f, 6},
    FloatCase{"1e-40", true, std::strtof("1e-40", nullptr), 5},
    FloatCase{"1.4e-45", true, std::strtof("1.4e-45", nullptr), 7},
    FloatCase{"340282356779733661637539395458142568448", true, inf, 39}));

// An incomplete number is consumed and fails; the character after it stays unread.
INSTANTIATE_TEST_SUITE_P(Incomplete, ReadFloat, testing::Values(
    FloatCase{"1e", false, 0, 2},
    FloatCase{"1e+", false, 0, 3},
    FloatCase{"1e-x", false, 0, 3},
    FloatCase{"-", false, 0, 1},
    FloatCase{".", false, 0, 1},
    FloatCase{"+.e5", false, 0, 2},
    FloatCase{"-.", false, 0, 2},
    FloatCase{"  \n", false, 0, 3},
    FloatCase{"", false, 0, 0}));

// Words and hexadecimal forms are not decimal numbers.
INSTANTIATE_TEST_SUITE_P(NotDecimal, ReadFloat, testing::Values(
    FloatCase{"inf", false, 0, 0},
    FloatCase{"nan", false, 0, 0},
    FloatCase{"INFINITY", false, 0, 0},
    FloatCase{"-inf", false, 0, 1},
    FloatCase{"0x1p3", true, 0.0f, 1},
    FloatCase{"{", false, 0, 0}));

struct IntCase {
    std::string input;
    bool converts;
    int value;
    std::size_t consumed;
};

class ReadInt : public testing::TestWithParam<IntCase> {};

TEST_P(ReadInt, ConsumesSignAndDigitsAndSaturates)
{
    const IntCase& c = GetParam();
    Cursor in{c.input.data(), c.input.data() + c.input.size()};
    int value = -777;
    EXPECT_EQ(read_int(in, value), c.converts);
    EXPECT_EQ(static_cast<std::size_t>(in.p - c.input.data()), c.consumed);
    if (c.converts) {
        EXPECT_EQ(value, c.value);
    }
    Cursor skipping{c.input.data(), c.input.data() + c.input.size()};
    EXPECT_EQ(skip_int(skipping), c.converts) << "skipping a number consumes what reading does";
    EXPECT_EQ(skipping.p, in.p);
}

INSTANTIATE_TEST_SUITE_P(Integers, ReadInt, testing::Values(
    IntCase{"7", true, 7, 1},
    IntCase{"  -12 ", true, -12, 5},
    IntCase{"+5", true, 5, 2},
    IntCase{"007", true, 7, 3},
    IntCase{"12abc", true, 12, 2},
    IntCase{"1.5", true, 1, 1},
    IntCase{"2147483647", true, INT_MAX, 10},
    IntCase{"2147483648", true, INT_MAX, 10},
    IntCase{"-2147483648", true, INT_MIN, 11},
    IntCase{"-2147483649", true, INT_MIN, 11},
    IntCase{"99999999999", true, INT_MAX, 11},
    IntCase{"12345678901234567890123", true, INT_MAX, 23},
    IntCase{"-00000000000000000042x", true, -42, 21},
    IntCase{"1234567 ", true, 1234567, 7},
    IntCase{std::string(100, '9'), true, INT_MAX, 100},
    IntCase{"-" + std::string(100, '9'), true, INT_MIN, 101},
    IntCase{"-", false, 0, 1},
    IntCase{"+-5", false, 0, 1},
    IntCase{"x", false, 0, 0},
    IntCase{"", false, 0, 0}));

TEST(MatchLiteral, StopsAtTheFirstMismatchLeavingItUnread)
{
    const std::string text = "{normal=[";
    Cursor in{text.data(), text.data() + text.size()};
    EXPECT_FALSE(match_literal(in, "{normal=("));
    EXPECT_EQ(*in.p, '[');

    Cursor at_end{text.data(), text.data() + 3};
    EXPECT_FALSE(match_literal(at_end, "{normal"));
    EXPECT_EQ(at_end.p, at_end.end);
}

} // namespace
