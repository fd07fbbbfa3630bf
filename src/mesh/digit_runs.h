// Runs of decimal digits, eight bytes at a time: the number readers' fast path, shared by the
// viewer's reader and the tools that judge a file before it is read.
#pragma once

#include <cstdint>
#include <cstring>

// SWAR (SIMD within a register): how many leading bytes are digits, and the value of those digits.
// Bytes past the first non-digit may be disturbed by carries, but they are never looked at. The
// first byte must be the lowest: little-endian only.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the eight-byte digit scan reads bytes little-endian");
struct DigitRun {
    int length;
    std::uint64_t value;
};

inline __attribute__((always_inline)) int eight_byte_digit_count(std::uint64_t bytes)
{
    const std::uint64_t high_nibbles = 0xF0F0F0F0F0F0F0F0ull;
    const std::uint64_t threes = 0x0303030303030303ull; // a digit's high nibble, moved down
    const std::uint64_t not_digit = (((bytes & high_nibbles) >> 4) ^ threes) |
                                    ((((bytes + 0x0606060606060606ull) & high_nibbles) >> 4) ^ threes);
    // The top bit of each byte that is not zero in not_digit; no carry crosses a byte.
    const std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t nonzero = (((not_digit & low7) + low7) | not_digit) & 0x8080808080808080ull;
    return nonzero ? __builtin_ctzll(nonzero) / 8 : 8;
}

// How many of the eight bytes at p, which must be readable, are digits before any other byte.
inline __attribute__((always_inline)) int digits_at(const char* p)
{
    std::uint64_t bytes;
    std::memcpy(&bytes, p, 8);
    return eight_byte_digit_count(bytes);
}

// The eight bytes at p must be readable, whatever follows the run.
inline __attribute__((always_inline)) DigitRun eight_byte_digit_run(const char* p)
{
    std::uint64_t bytes;
    std::memcpy(&bytes, p, 8);
    const int length = eight_byte_digit_count(bytes);
    if (length == 0)
        return {0, 0};
    std::uint64_t digits = (bytes - 0x3030303030303030ull) << (8 * (8 - length));
    digits = (digits * 10) + (digits >> 8);
    digits = (((digits & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
              (((digits >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >> 32;
    return {length, digits};
}
