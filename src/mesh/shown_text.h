// Words that came from outside (a file's name or bytes, the command line, another process) made
// safe to put before a person: on a terminal, in a log, in a desktop notice.
#pragma once

#include <cstddef>
#include <string>

// How words are shown, in the manner of a shell's escaped file names:
//   - valid UTF-8 is kept as it is, control characters apart;
//   - a C0 control or DEL is a C escape: \a \b \t \n \v \f \r by their letters, the others by
//     three octal digits (ESC is \033, DEL \177);
//   - a C1 control (U+0080 to U+009F) is its two UTF-8 bytes in octal: U+009B is \302\233;
//   - a byte that is not part of valid UTF-8 (a Latin-1 letter, a lone continuation byte, a
//     sequence cut short, an overlong form, a surrogate, a code point past U+10FFFF) is that one
//     byte in octal: "caf\xe9.obj" is shown caf\351.obj.
// A backslash stays as it is, so words shown are shown again unchanged: a line may pass through
// two of our programs and reach the person as the first one wrote it. The escapes are for reading,
// not for turning back into the bytes.
// What is shown is valid UTF-8 without a control character, and at most `limit` bytes long: when
// the words are longer they end at a whole character or escape and "…" follows, within the limit.

// Enough for a long path; a name or a reason is cut here.
const std::size_t shown_bytes = 300;
// A whole line another program said, with a name or two in it.
const std::size_t shown_line_bytes = 1200;

std::string shown(const std::string& text, std::size_t limit = shown_bytes);

// A line from another process (or one of ours holding names already shown), bounded as a line.
std::string shown_line(const std::string& line);

// The name shown and between single quotes, as every message names a file: 'x.obj'.
std::string quoted_name(const std::string& name);

// A line shown, then with &, < and > as &amp;, &lt; and &gt;: for a desktop notice's body, which
// a notification service may render as markup.
std::string as_markup_text(const std::string& text);
