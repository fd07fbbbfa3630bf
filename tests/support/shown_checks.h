// What must hold of any text a program puts before a person: valid UTF-8, judged by the C
// library's own converter, and no control character but the line ends between lines.
#pragma once

#include <iconv.h>

#include <string>
#include <vector>

inline bool valid_utf8(const std::string& text)
{
    const iconv_t to_code_points = iconv_open("UTF-32LE", "UTF-8");
    if (to_code_points == iconv_t(-1))
        return false;
    std::string in = text;
    std::vector<char> out(4 * text.size() + 4);
    char* from = in.data();
    char* into = out.data();
    std::size_t left = in.size(), room = out.size();
    const bool converted = iconv(to_code_points, &from, &left, &into, &room) != std::size_t(-1) && left == 0;
    iconv_close(to_code_points);
    return converted;
}

// In valid UTF-8 a C1 control is U+0080 to U+009F, the bytes C2 80 to C2 9F.
inline bool holds_control_character(const std::string& line)
{
    for (std::size_t at = 0; at < line.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(line[at]);
        if (c < 0x20 || c == 0x7f)
            return true;
        if (c == 0xc2 && at + 1 < line.size() && static_cast<unsigned char>(line[at + 1]) <= 0x9f)
            return true;
    }
    return false;
}

inline std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    if (at < text.size())
        lines.push_back(text.substr(at));
    return lines;
}
