// The family's rules, one at a time, in the most direct code: no shared scanning, no chunks. It is
// slow and obviously right, which is all a reference needs to be.
#include "family_reference_reader.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool digit(char c)
{
    return c >= '0' && c <= '9';
}

// [+-]digits, within the int range
bool integer_word(const std::string& w, int& value)
{
    std::size_t i = (!w.empty() && (w[0] == '+' || w[0] == '-')) ? 1 : 0;
    if (i == w.size())
        return false;
    for (std::size_t k = i; k < w.size(); ++k)
        if (!digit(w[k]))
            return false;
    errno = 0;
    const long long v = std::strtoll(w.c_str(), nullptr, 10);
    if (errno == ERANGE || v > INT_MAX || v < INT_MIN)
        return false;
    value = int(v);
    return true;
}

// [+-](digits[.digits]|.digits)[(e|E)[+-]digits]
bool float_word(const std::string& w, float& value)
{
    std::size_t i = (!w.empty() && (w[0] == '+' || w[0] == '-')) ? 1 : 0;
    std::size_t digits = 0;
    while (i < w.size() && digit(w[i]))
        ++i, ++digits;
    if (i < w.size() && w[i] == '.') {
        ++i;
        while (i < w.size() && digit(w[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
        ++i;
        if (i < w.size() && (w[i] == '+' || w[i] == '-'))
            ++i;
        std::size_t exponent_digits = 0;
        while (i < w.size() && digit(w[i]))
            ++i, ++exponent_digits;
        if (exponent_digits == 0)
            return false;
    }
    if (i != w.size())
        return false;
    value = std::strtof(w.c_str(), nullptr);
    return true;
}

// [+-](nan|inf|infinity), in any case
bool not_finite_word(const std::string& w, float& value)
{
    const bool signed_word = !w.empty() && (w[0] == '+' || w[0] == '-');
    std::string rest;
    for (std::size_t i = signed_word ? 1 : 0; i < w.size(); ++i)
        rest += char(std::tolower(static_cast<unsigned char>(w[i])));
    if (rest != "nan" && rest != "inf" && rest != "infinity")
        return false;
    value = rest == "nan" ? NAN : INFINITY;
    if (signed_word && w[0] == '-')
        value = -value;
    return true;
}

struct Block {
    bool damaged = false;
    float normal[3] = {0, 0, 0};
    bool has_normal = false;
    bool sharp = false;
    std::uint64_t unusable_normals = 0;
};

// The list inside "(...)": words apart by blanks or commas; false when one is no number.
bool number_list(const std::string& inside, std::vector<float>& numbers)
{
    std::string word;
    for (std::size_t i = 0; i <= inside.size(); ++i) {
        const bool apart = i == inside.size() || blank(inside[i]) || inside[i] == ',';
        if (!apart) {
            word += inside[i];
            continue;
        }
        if (word.empty())
            continue;
        float v = 0;
        if (!float_word(word, v) && !not_finite_word(word, v))
            return false;
        numbers.push_back(v);
        word.clear();
    }
    return true;
}

bool punctuation(char c)
{
    return std::strchr("{}()=\",", c) != nullptr && c != '\0';
}

void take_normal(const std::vector<float>& numbers, Block& b)
{
    const bool usable = numbers.size() == 3 && std::isfinite(numbers[0]) && std::isfinite(numbers[1]) &&
                        std::isfinite(numbers[2]) && (numbers[0] != 0 || numbers[1] != 0 || numbers[2] != 0);
    b.has_normal = usable;
    if (usable)
        for (std::size_t k = 0; k < 3; ++k)
            b.normal[k] = numbers[k];
    else
        ++b.unusable_normals;
}

// The text from "{" to the line's end, entry by entry. Damage loses what it touches: a list with
// a word that is no number, a byte no entry can begin with; an unclosed list or quote loses the
// rest; a missing "}" or text after it is damage too.
Block parse_block(const std::string& line, std::size_t open)
{
    Block b;
    std::size_t i = open + 1;
    for (;;) {
        while (i < line.size() && blank(line[i]))
            ++i;
        if (i == line.size()) {
            b.damaged = true;
            return b;
        }
        if (line[i] == '}') {
            for (std::size_t k = i + 1; k < line.size(); ++k)
                if (!blank(line[k]))
                    b.damaged = true;
            return b;
        }
        if (punctuation(line[i])) {
            b.damaged = true;
            ++i;
            continue;
        }
        std::string key;
        while (i < line.size() && !blank(line[i]) && !punctuation(line[i]))
            key += line[i++];
        if (i == line.size() || line[i] != '=') {
            if (key == "sharp")
                b.sharp = true;
            continue;
        }
        ++i;
        if (i < line.size() && line[i] == '(') {
            const std::size_t close = line.find(')', i);
            if (close == std::string::npos) {
                b.damaged = true;
                return b;
            }
            std::vector<float> numbers;
            if (!number_list(line.substr(i + 1, close - i - 1), numbers))
                b.damaged = true;
            else if (key == "normal")
                take_normal(numbers, b);
            i = close + 1;
        } else if (i < line.size() && line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                b.damaged = true;
                return b;
            }
            i = close + 1;
        } else {
            while (i < line.size() && !blank(line[i]) && line[i] != '}')
                ++i;
        }
    }
}

std::vector<std::string> words_of(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    for (const char c : text + " ") {
        if (blank(c)) {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

bool read_record(const std::vector<std::string>& w, const Block& block, FamilyMesh& mesh)
{
    if (w.empty())
        return false;
    if (w[0] == "Vertex" && w.size() == 5) {
        FamilyVertex v{};
        if (!integer_word(w[1], v.number) || !float_word(w[2], v.position[0]) || !float_word(w[3], v.position[1]) ||
            !float_word(w[4], v.position[2]))
            return false;
        std::memcpy(v.normal, block.normal, sizeof v.normal);
        v.has_normal = block.has_normal;
        mesh.vertices.push_back(v);
        return true;
    }
    if (w[0] == "Face" && w.size() >= 5) {
        int number = 0;
        std::vector<int> vertices(w.size() - 2);
        if (!integer_word(w[1], number))
            return false;
        for (std::size_t k = 2; k < w.size(); ++k)
            if (!integer_word(w[k], vertices[k - 2]))
                return false;
        if (mesh.face_starts.empty())
            mesh.face_starts.push_back(0);
        mesh.face_numbers.push_back(number);
        mesh.face_vertices.insert(mesh.face_vertices.end(), vertices.begin(), vertices.end());
        mesh.face_starts.push_back(std::uint32_t(mesh.face_vertices.size()));
        return true;
    }
    if ((w[0] == "Corner" || w[0] == "Edge") && w.size() == 3) {
        int a = 0, b = 0;
        if (!integer_word(w[1], a) || !integer_word(w[2], b))
            return false;
        if (w[0] == "Corner" && block.has_normal)
            mesh.corners.push_back({a, b, {block.normal[0], block.normal[1], block.normal[2]}});
        if (w[0] == "Edge" && block.sharp)
            mesh.sharp_edges.emplace_back(a, b);
        return true;
    }
    return false;
}

// The record's words before the first "{", the block from there on.
bool read_line(const std::string& line, FamilyMesh& mesh, bool& damaged)
{
    const std::size_t open = line.find('{');
    const Block block = open == std::string::npos ? Block{} : parse_block(line, open);
    if (!read_record(words_of(line.substr(0, open)), block, mesh))
        return false;
    damaged = block.damaged;
    mesh.unusable_normals += block.unusable_normals;
    return true;
}

bool ignored(const std::string& line)
{
    for (const char c : line) {
        if (c == '#')
            return true;
        if (!blank(c))
            return false;
    }
    return true;
}

} // namespace

FamilyMesh family_reference_read(const std::string& text)
{
    FamilyMesh mesh;
    std::vector<std::string> lines{""};
    for (const char c : text)
        if (c == '\n')
            lines.emplace_back();
        else
            lines.back() += c;
    if (lines.front().compare(0, 3, "\xEF\xBB\xBF") == 0)
        lines.front().erase(0, 3);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        if (ignored(lines[n]))
            continue;
        bool damaged = false;
        if (!read_line(lines[n], mesh, damaged) && mesh.skipped_lines++ == 0)
            mesh.first_skipped_line = n + 1;
        if (damaged && mesh.damaged_blocks++ == 0)
            mesh.first_damaged_line = n + 1;
    }
    return mesh;
}

namespace {

bool same_bits(const float (&a)[3], const float (&b)[3])
{
    return std::memcmp(a, b, sizeof a) == 0;
}

} // namespace

bool same_family_mesh(const FamilyMesh& a, const FamilyMesh& b)
{
    if (a.vertices.size() != b.vertices.size() || a.corners.size() != b.corners.size())
        return false;
    for (std::size_t i = 0; i < a.vertices.size(); ++i) {
        const FamilyVertex &u = a.vertices[i], &v = b.vertices[i];
        if (u.number != v.number || !same_bits(u.position, v.position) || u.has_normal != v.has_normal ||
            (u.has_normal && !same_bits(u.normal, v.normal)))
            return false;
    }
    for (std::size_t i = 0; i < a.corners.size(); ++i) {
        const FamilyCorner &u = a.corners[i], &v = b.corners[i];
        if (u.vertex != v.vertex || u.face != v.face || !same_bits(u.normal, v.normal))
            return false;
    }
    return a.face_numbers == b.face_numbers && a.face_starts == b.face_starts && a.face_vertices == b.face_vertices &&
           a.sharp_edges == b.sharp_edges && a.skipped_lines == b.skipped_lines &&
           a.first_skipped_line == b.first_skipped_line && a.damaged_blocks == b.damaged_blocks &&
           a.first_damaged_line == b.first_damaged_line && a.unusable_normals == b.unusable_normals;
}
