// Outside words escaped and bounded, one UTF-8 character (or one stray byte) at a time.
#include "mesh/shown_text.h"

namespace {

const std::string ellipsis = "\xe2\x80\xa6";

unsigned char byte_at(const std::string& text, std::size_t at)
{
    return static_cast<unsigned char>(text[at]);
}

bool continuation_between(const std::string& text, std::size_t at, unsigned char low, unsigned char high)
{
    return at < text.size() && byte_at(text, at) >= low && byte_at(text, at) <= high;
}

// The length of the valid UTF-8 character that starts at `at`, or 0 when none does. The second
// byte's range is what rules out overlong forms, surrogates and code points past U+10FFFF.
std::size_t character_length(const std::string& text, std::size_t at)
{
    const unsigned char first = byte_at(text, at);
    if (first < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xbf;
    if (first >= 0xc2 && first <= 0xdf)
        length = 2;
    else if (first >= 0xe0 && first <= 0xef)
        length = 3, low = first == 0xe0 ? 0xa0 : 0x80, high = first == 0xed ? 0x9f : 0xbf;
    else if (first >= 0xf0 && first <= 0xf4)
        length = 4, low = first == 0xf0 ? 0x90 : 0x80, high = first == 0xf4 ? 0x8f : 0xbf;
    else
        return 0;
    if (!continuation_between(text, at + 1, low, high))
        return 0;
    for (std::size_t next = at + 2; next < at + length; ++next)
        if (!continuation_between(text, next, 0x80, 0xbf))
            return 0;
    return length;
}

std::string octal(unsigned char byte)
{
    return {'\\', char('0' + (byte >> 6)), char('0' + ((byte >> 3) & 7)), char('0' + (byte & 7))};
}

std::string escaped_control(unsigned char control)
{
    switch (control) {
    case '\a': return "\\a";
    case '\b': return "\\b";
    case '\t': return "\\t";
    case '\n': return "\\n";
    case '\v': return "\\v";
    case '\f': return "\\f";
    case '\r': return "\\r";
    default: return octal(control);
    }
}

// One character as it is shown; `length` 0 stands for a byte that starts no character.
std::string shown_piece(const std::string& text, std::size_t at, std::size_t length)
{
    const unsigned char first = byte_at(text, at);
    if (length == 0)
        return octal(first);
    if (length == 1)
        return first < 0x20 || first == 0x7f ? escaped_control(first) : std::string(1, char(first));
    if (length == 2 && first == 0xc2 && byte_at(text, at + 1) <= 0x9f)
        return octal(first) + octal(byte_at(text, at + 1));
    return text.substr(at, length);
}

std::string with_markup_escaped(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '&')
            escaped += "&amp;";
        else if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

std::string shown(const std::string& text, std::size_t limit)
{
    std::string out;
    // Where the text would end if it had to be cut: the last place that leaves room for "…".
    std::size_t cut = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = character_length(text, at);
        const std::string piece = shown_piece(text, at, length);
        if (out.size() + piece.size() > limit) {
            out.resize(cut);
            return out + ellipsis;
        }
        out += piece;
        if (out.size() + ellipsis.size() <= limit)
            cut = out.size();
        at += length == 0 ? 1 : length;
    }
    return out;
}

std::string shown_line(const std::string& line)
{
    return shown(line, shown_line_bytes);
}

std::string quoted_name(const std::string& name)
{
    return "'" + shown(name) + "'";
}

std::string as_markup_text(const std::string& text)
{
    return with_markup_escaped(shown_line(text));
}
