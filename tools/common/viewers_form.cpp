// The judgement runs at the speed of reading: one pass over each line, numbers checked where they
// lie and converted only where their value matters (vertex numbers, positions for the bounds,
// normals for being usable). Anything unusual is simply not in the form: the converter then reads
// the file, which is slower but never wrong.
#include "viewers_form.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>
#include <string>
#include <vector>

#include "mesh/digit_runs.h"

namespace {

const char byte_order_mark[] = "\xEF\xBB\xBF";
const std::size_t chunk_bytes = std::size_t(1) << 20;
// No line in the form comes near this; the viewer itself stops at a record past 1 MiB.
const std::size_t longest_line = std::size_t(1) << 20;
// The digit scans read eight bytes at once, past a line's end: every buffer keeps this behind its text.
const std::size_t tail_room = 8;
// Numbers the viewer and the converter both hold exactly: beyond nine digits an int may not.
const long most_int_digits = 9;

// What one piece of the file holds; its vertices must be numbered on from the pieces before it.
struct PieceJudgement {
    bool in_form = true;
    std::uint64_t first_number = 0; // the number of the piece's first vertex
    std::uint64_t vertices = 0, faces = 0;
    ModelBounds bounds = no_bounds();
    int error = 0;
};

// Inside a line every scan below stops at its '\n', which is no digit, blank or literal: the line
// end is the sentinel, and no scan needs to check for the end of the text.
inline bool is_line_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// At least one blank, and all of them; most often there is just one.
inline const char* past_blanks(const char* p)
{
    if (*p == ' ' && !is_line_blank(p[1]))
        return p + 1;
    if (!is_line_blank(*p))
        return nullptr;
    while (is_line_blank(*++p)) {
    }
    return p;
}

// Up to eight bytes of text as one little-endian word, for comparing a literal in one step.
constexpr std::uint64_t word_of(const char* text)
{
    std::uint64_t word = 0;
    for (int i = 0; i < 8 && text[i]; ++i)
        word |= std::uint64_t(static_cast<unsigned char>(text[i])) << (8 * i);
    return word;
}

// The literal's first bytes, up to eight, in one comparison: `word` is word_of(text), made once
// at compile time, and `length` the text's length.
inline const char* past_literal(const char* p, std::uint64_t word, int length)
{
    const std::uint64_t mask = length == 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * length)) - 1;
    std::uint64_t bytes;
    std::memcpy(&bytes, p, 8);
    return (bytes & mask) == word ? p + length : nullptr;
}

constexpr std::uint64_t rest_of_vertex = word_of("ertex"), rest_of_face = word_of("ace"),
                        normal_opening = word_of("{normal=");

const std::uint64_t powers_of_ten_int[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// Eight bytes at a time; the bytes after a line's end are always there to be read (the buffers
// keep room behind their last line), though never used.
inline const char* past_digits(const char* p, std::uint64_t& value, int& count)
{
    for (;;) {
        const DigitRun run = eight_byte_digit_run(p);
        value = value * powers_of_ten_int[run.length] + run.value;
        count += run.length;
        p += run.length;
        if (run.length < 8)
            return p;
    }
}

inline const char* past_digit_run(const char* p)
{
    for (;;) {
        const int length = digits_at(p);
        p += length;
        if (length < 8)
            return p;
    }
}

const double powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10,
                                1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21};
const double inverse_powers_of_ten[] = {1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,  1e-8,  1e-9,  1e-10,
                                        1e-11, 1e-12, 1e-13, 1e-14, 1e-15, 1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21};

// A decimal number as the viewer's reader takes one ("-1", "2.5", ".5", "3.", "1e-7"), its value
// near enough to judge bounds and usable normals by. Null when it is no such number, or one too
// long or too far out of range to judge without converting it exactly: every number taken lies
// below 1e38, so it is finite as a float too.
const char* past_any_float(const char* p, double& value)
{
    const bool negative = *p == '-';
    p += *p == '-' || *p == '+';
    std::uint64_t mantissa = 0;
    int digits = 0, fraction = 0;
    p = past_digits(p, mantissa, digits);
    if (*p == '.') {
        const int whole = digits;
        p = past_digits(p + 1, mantissa, digits);
        fraction = digits - whole;
    }
    if (digits == 0 || digits > 19)
        return nullptr;
    int exponent = 0;
    if (*p == 'e' || *p == 'E') {
        const bool below = p[1] == '-';
        p += 1 + (p[1] == '-' || p[1] == '+');
        std::uint64_t magnitude = 0;
        int exponent_digits = 0;
        p = past_digits(p, magnitude, exponent_digits);
        if (exponent_digits == 0 || exponent_digits > 3)
            return nullptr;
        exponent = below ? -int(magnitude) : int(magnitude);
    }
    const int scale = exponent - fraction;
    if (scale < -40 || scale > 21 || (mantissa != 0 && scale + digits > 38))
        return nullptr;
    // Multiplying by a rounded power is off by an ulp or two: near enough to judge by.
    const double magnitude = scale >= 0    ? double(mantissa) * powers_of_ten[scale]
                             : scale >= -21 ? double(mantissa) * inverse_powers_of_ten[-scale]
                                            : double(mantissa) * 1e-21 * inverse_powers_of_ten[-scale - 21];
    value = negative ? -magnitude : magnitude;
    return p;
}

// The numbers exporters write ("-0.206940", "12", "3.5") in two eight-byte steps: the whole part
// of up to seven digits, and the fraction, whose first eight digits are near enough for the value.
inline const char* past_float(const char* p, double& value)
{
    const char* const start = p;
    const bool negative = *p == '-';
    p += (*p == '-') | (*p == '+');
    const DigitRun whole = eight_byte_digit_run(p);
    if (whole.length == 8)
        return past_any_float(start, value);
    p += whole.length;
    double magnitude = double(whole.value);
    int digits = whole.length;
    if (*p == '.') {
        const DigitRun fraction = eight_byte_digit_run(p + 1);
        p += 1 + fraction.length;
        digits += fraction.length;
        magnitude += double(fraction.value) * inverse_powers_of_ten[fraction.length];
        // Its first eight digits all zero: only its later ones tell zero from a tiny number.
        if (fraction.length == 8 && magnitude == 0)
            return past_any_float(start, value);
        if (fraction.length == 8)
            p = past_digit_run(p);
    }
    if (digits == 0 || *p == 'e' || *p == 'E')
        return past_any_float(start, value);
    value = negative ? -magnitude : magnitude;
    return p;
}

// A face's number or vertex: what both readers hold exactly.
inline const char* past_small_int(const char* p)
{
    p += *p == '-' || *p == '+';
    const char* digits = p;
    p = past_digit_run(p);
    return p > digits && p - digits <= most_int_digits ? p : nullptr;
}

inline bool only_blanks_after(const char* p)
{
    while (is_line_blank(*p))
        ++p;
    return *p == '\n';
}

// Not zero once rounded to a float (the smallest is about 1.4e-45); every number taken is finite.
bool usable(const double n[3])
{
    const double smallest = 1e-44;
    return std::fabs(n[0]) > smallest || std::fabs(n[1]) > smallest || std::fabs(n[2]) > smallest;
}

bool numbered_on(PieceJudgement& piece, std::uint64_t number)
{
    if (piece.vertices == 0)
        piece.first_number = number;
    return number == piece.first_number + piece.vertices;
}

// "ertex N x y z {normal=(a b c)}", after the "V".
bool judge_vertex(const char* p, PieceJudgement& piece)
{
    if (!(p = past_literal(p, rest_of_vertex, 5)) || !(p = past_blanks(p)))
        return false;
    std::uint64_t number = 0;
    int digits = 0;
    p = past_digits(p, number, digits);
    if (digits == 0 || digits > 18 || !numbered_on(piece, number))
        return false;
    double position[3], normal[3];
    for (int k = 0; k < 3; ++k)
        if (!(p = past_blanks(p)) || !(p = past_float(p, position[k])))
            return false;
    while (is_line_blank(*p))
        ++p;
    if (!(p = past_literal(p, normal_opening, 8)) || *p++ != '(')
        return false;
    while (is_line_blank(*p))
        ++p;
    if (!(p = past_float(p, normal[0])) || !(p = past_blanks(p)) || !(p = past_float(p, normal[1])) ||
        !(p = past_blanks(p)) || !(p = past_float(p, normal[2])) || p[0] != ')' || p[1] != '}' ||
        !only_blanks_after(p + 2) || !usable(normal))
        return false;
    const float point[3] = {float(position[0]), float(position[1]), float(position[2])};
    take_point(piece.bounds, point);
    ++piece.vertices;
    return true;
}

// "ace N a b c", after the "F".
bool judge_face(const char* p, PieceJudgement& piece)
{
    if (!(p = past_literal(p, rest_of_face, 3)))
        return false;
    for (int k = 0; k < 4; ++k)
        if (!(p = past_blanks(p)) || !(p = past_small_int(p)))
            return false;
    ++piece.faces;
    return only_blanks_after(p);
}

// A record must begin its line: an indented one is read differently by the viewer, which judges
// the first character of a line after one it skipped. The line ends in '\n'.
bool judge_line(const char* begin, PieceJudgement& piece)
{
    switch (*begin) {
    case 'V': return judge_vertex(begin + 1, piece);
    case 'F': return judge_face(begin + 1, piece);
    case '#':
    case '\n': return true;
    default: break;
    }
    const char* p = begin;
    while (is_line_blank(*p))
        ++p;
    return p > begin && (*p == '\n' || *p == '#');
}

// The last line of a text that does not end in a line end, judged with one.
bool judge_last_line(const char* begin, const char* end, PieceJudgement& piece)
{
    std::string line(begin, end);
    line.append(1 + tail_room, '\n');
    return judge_line(line.data(), piece);
}

const char* after_byte_order_mark(const char* begin, const char* end)
{
    return end - begin >= 3 && std::memcmp(begin, byte_order_mark, 3) == 0 ? begin + 3 : begin;
}

// Every whole line of [begin, end); the rest, a line not yet ended, is left. False at the first line
// not in the form.
bool judge_lines(const char*& begin, const char* end, PieceJudgement& piece)
{
    for (const char* line_end; (line_end = static_cast<const char*>(std::memchr(begin, '\n', std::size_t(end - begin))));
         begin = line_end + 1)
        if (!judge_line(begin, piece))
            return false;
    return true;
}

FormJudgement judged(const std::vector<PieceJudgement>& pieces)
{
    FormJudgement whole;
    std::uint64_t next_number = 1;
    for (const PieceJudgement& piece : pieces) {
        if (piece.error) {
            whole.read_failed = true;
            whole.error = piece.error;
        }
        whole.in_viewers_form = whole.in_viewers_form && piece.in_form &&
                                (piece.vertices == 0 || piece.first_number == next_number);
        next_number += piece.vertices;
        whole.vertices += piece.vertices;
        whole.faces += piece.faces;
        take_bounds(whole.bounds, piece.bounds);
    }
    whole.in_viewers_form = whole.in_viewers_form && !whole.read_failed;
    return whole;
}

ssize_t read_at(int fd, char* into, std::size_t count, std::uint64_t at)
{
    for (;;) {
        const ssize_t got = pread(fd, into, count, off_t(at));
        if (!(got < 0 && errno == EINTR))
            return got;
    }
}

// Where the first line that begins at or after `at` begins: past the next line end from at - 1.
std::uint64_t line_start_from(int fd, std::uint64_t at)
{
    if (at == 0)
        return 0;
    std::vector<char> buffer(chunk_bytes);
    for (std::uint64_t from = at - 1;;) {
        const ssize_t got = read_at(fd, buffer.data(), buffer.size(), from);
        if (got <= 0)
            return from;
        const void* line_end = std::memchr(buffer.data(), '\n', std::size_t(got));
        if (line_end)
            return from + std::uint64_t(static_cast<const char*>(line_end) - buffer.data()) + 1;
        from += std::uint64_t(got);
    }
}

// The whole lines of [from, to), read in chunks; a line over a chunk's end waits for the next.
void judge_range(int fd, std::uint64_t from, std::uint64_t to, PieceJudgement& piece, std::atomic<bool>& stop)
{
    std::vector<char> buffer(chunk_bytes + longest_line + tail_room);
    std::size_t kept = 0;
    for (std::uint64_t at = from; piece.in_form && !stop && at < to;) {
        const ssize_t got = read_at(fd, buffer.data() + kept, std::size_t(std::min<std::uint64_t>(chunk_bytes, to - at)), at);
        if (got <= 0) {
            piece.error = got < 0 ? errno : 0;
            break;
        }
        const char* p = buffer.data();
        const char* const end = p + kept + std::size_t(got);
        if (at == 0)
            p = after_byte_order_mark(p, end);
        at += std::uint64_t(got);
        piece.in_form = judge_lines(p, end, piece);
        kept = std::size_t(end - p);
        if (kept > longest_line)
            piece.in_form = false;
        std::memmove(buffer.data(), p, kept);
    }
    if (piece.in_form && kept > 0)
        piece.in_form = judge_last_line(buffer.data(), buffer.data() + kept, piece);
    if (!piece.in_form || piece.error)
        stop = true;
}

} // namespace

FormJudgement judge_text(const char* begin, const char* end)
{
    std::vector<char> text(begin, end);
    text.resize(text.size() + tail_room);
    const char* const text_end = text.data() + (end - begin);
    const char* p = after_byte_order_mark(text.data(), text_end);
    std::vector<PieceJudgement> pieces(1);
    pieces[0].in_form = judge_lines(p, text_end, pieces[0]) && (p == text_end || judge_last_line(p, text_end, pieces[0]));
    return judged(pieces);
}

FormJudgement judge_file(int fd, std::uint64_t size, int parts)
{
    parts = std::max(1, parts);
    std::vector<std::uint64_t> starts{0};
    for (int i = 1; i < parts; ++i)
        starts.push_back(std::max(starts.back(), line_start_from(fd, size * std::uint64_t(i) / std::uint64_t(parts))));
    starts.push_back(UINT64_MAX);
    std::vector<PieceJudgement> pieces(static_cast<std::size_t>(parts));
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        try {
            threads.emplace_back(judge_range, fd, starts[i], starts[i + 1], std::ref(pieces[i]), std::ref(stop));
        } catch (const std::system_error&) {
            judge_range(fd, starts[i], starts[i + 1], pieces[i], stop);
        }
    }
    judge_range(fd, starts[0], starts[1], pieces[0], stop);
    for (std::thread& thread : threads)
        thread.join();
    return judged(pieces);
}
