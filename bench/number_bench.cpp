// Number benchmark: the viewer's reader's float conversion against fast_float and the C++
// library's from_chars, on the numbers of the bench mesh (six significant digits, as exporters
// write them) and on the numbers the converter writes (the shortest text that reads back as the
// same float, up to nine digits).
//
//   build/number-bench
//
// Prints nanoseconds a number for each, the best of seven passes; every method must give the same
// bits for every number, or the benchmark says which differ and fails.
#include <fast_float/fast_float.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "mesh/scan.h"

namespace {

struct Numbers {
    std::string text;                 // the numbers, one blank after each
    std::vector<std::size_t> starts;  // where each begins
};

void add(Numbers& numbers, const char* begin, const char* end)
{
    numbers.starts.push_back(numbers.text.size());
    numbers.text.append(begin, end);
    numbers.text += ' ';
}

// Every number of the Vertex lines of a file in the viewer's form.
Numbers numbers_of_file(const std::string& path, std::size_t most)
{
    Numbers numbers;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line) && numbers.starts.size() < most;) {
        if (line.rfind("Vertex ", 0) != 0)
            continue;
        for (char& c : line)
            if (c == '{' || c == '}' || c == '(' || c == ')' || c == '=')
                c = ' ';
        const char* p = line.c_str();
        int field = 0;
        while (*p) {
            while (*p == ' ')
                ++p;
            const char* start = p;
            while (*p && *p != ' ')
                ++p;
            if (p > start && field >= 2 && std::strncmp(start, "normal", 6) != 0)
                add(numbers, start, p);
            if (p > start)
                ++field;
        }
    }
    return numbers;
}

// The converter's text for floats of every kind a binary file holds: shortest round trip.
Numbers shortest_texts(std::size_t count)
{
    Numbers numbers;
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        const float value = float(std::ldexp(double(state >> 8) / double(1u << 24), int(state % 7) - 3)) *
                            ((state & 1) ? -1.0f : 1.0f);
        char text[32];
        const char* end = std::to_chars(text, text + sizeof text, value).ptr;
        add(numbers, text, end);
    }
    return numbers;
}

using Parser = float (*)(const char* begin, const char* end);

float ours(const char* begin, const char* end)
{
    Cursor in{begin, end};
    float value = 0;
    read_float(in, value);
    return value;
}

float with_fast_float(const char* begin, const char* end)
{
    float value = 0;
    fast_float::from_chars(begin, end, value);
    return value;
}

float with_from_chars(const char* begin, const char* end)
{
    float value = 0;
    std::from_chars(begin + (*begin == '+'), end, value);
    return value;
}

double nanoseconds_a_number(const Numbers& numbers, Parser parse, std::vector<float>& values)
{
    double best = 1e9;
    values.assign(numbers.starts.size(), 0);
    for (int pass = 0; pass < 7; ++pass) {
        const auto start = std::chrono::steady_clock::now();
        const char* text = numbers.text.data();
        for (std::size_t i = 0; i < numbers.starts.size(); ++i) {
            const char* begin = text + numbers.starts[i];
            const char* end = static_cast<const char*>(std::memchr(begin, ' ', 64));
            values[i] = parse(begin, end);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds * 1e9 / double(numbers.starts.size()));
    }
    return best;
}

bool compare(const char* title, const Numbers& numbers)
{
    struct Method {
        const char* name;
        Parser parse;
    } methods[] = {{"the viewer's reader", ours}, {"fast_float", with_fast_float}, {"std::from_chars", with_from_chars}};
    std::printf("%s: %zu numbers\n", title, numbers.starts.size());
    std::vector<float> reference;
    bool agree = true;
    for (const Method& m : methods) {
        std::vector<float> values;
        const double ns = nanoseconds_a_number(numbers, m.parse, values);
        std::size_t differing = 0;
        if (reference.empty())
            reference = values;
        for (std::size_t i = 0; i < values.size(); ++i)
            differing += std::memcmp(&values[i], &reference[i], sizeof(float)) != 0;
        std::printf("  %-20s %6.1f ns a number%s\n", m.name, ns,
                    differing ? (" (" + std::to_string(differing) + " differ from the reader's)").c_str() : "");
        agree = agree && differing == 0;
    }
    return agree;
}

} // namespace

int main()
{
    const std::string mesh = std::string(OLVANTA_BUILD_DIR) + "/bench-torus.txt";
    const Numbers from_file = numbers_of_file(mesh, 6000000);
    if (from_file.starts.empty()) {
        std::fprintf(stderr, "number-bench: no numbers in %s (build/load-bench makes it)\n", mesh.c_str());
        return 1;
    }
    const bool agree = compare("the bench mesh's numbers", from_file) &&
                       compare("the converter's numbers (shortest round trip)", shortest_texts(6000000));
    return agree ? 0 : 1;
}
