// Outside words as a person sees them: each rule of the escapes by a table of its own, the
// bound, the quotes and the markup a desktop notice may render.
#include <gtest/gtest.h>

#include <string>

#include "mesh/shown_text.h"
#include "shown_checks.h"

namespace {

struct ShownCase {
    const char* rule;
    std::string text, shown;
};

template <std::size_t count>
void expect_shown(const ShownCase (&cases)[count])
{
    for (const ShownCase& c : cases) {
        const std::string said = shown(c.text);
        EXPECT_EQ(said, c.shown) << c.rule;
        EXPECT_TRUE(valid_utf8(said)) << c.rule;
        EXPECT_FALSE(holds_control_character(said)) << c.rule;
        EXPECT_EQ(shown(said), said) << c.rule << ": shown again, unchanged";
    }
}

TEST(ShownText, PlainNamesAreKeptAsTheyAre)
{
    const ShownCase cases[] = {
        {"empty", "", ""},
        {"ascii", "torus.m", "torus.m"},
        {"blanks and punctuation", "/tmp/a folder/x (2), 'y' & z.obj", "/tmp/a folder/x (2), 'y' & z.obj"},
        {"two-byte letter", "caf\xc3\xa9.obj", "caf\xc3\xa9.obj"},
        {"no-break space, just past the C1 controls", "a\xc2\xa0" "b", "a\xc2\xa0" "b"},
        {"three-byte letters", "\xe6\xa8\xa1\xe5\x9e\x8b.stl", "\xe6\xa8\xa1\xe5\x9e\x8b.stl"},
        {"four-byte character", "\xf0\x9f\x99\x82.ply", "\xf0\x9f\x99\x82.ply"},
        {"highest code point", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
        {"a backslash stays one", "C:\\models\\033.obj", "C:\\models\\033.obj"},
    };
    expect_shown(cases);
}

TEST(ShownText, ControlCharactersBecomeEscapes)
{
    const ShownCase cases[] = {
        {"clipboard write", "\x1b]52;c;aGVsbG8=\x07.obj", "\\033]52;c;aGVsbG8=\\a.obj"},
        {"title change", "\x1b]0;x\x07", "\\033]0;x\\a"},
        {"clear screen", "\x1b[2Jx.m", "\\033[2Jx.m"},
        {"line end", "a\nolvanta: fake line", "a\\nolvanta: fake line"},
        {"carriage return", "a\rb", "a\\rb"},
        {"tab", "a\tb", "a\\tb"},
        {"backspace, vertical tab, form feed", "\b\v\f", "\\b\\v\\f"},
        {"NUL", std::string("a\0b", 3), "a\\000b"},
        {"last C0 control", "\x1f", "\\037"},
        {"DEL", "a\x7f", "a\\177"},
        {"C1 control sequence introducer", "\xc2\x9b" "2J", "\\302\\2332J"},
        {"first C1 control", "\xc2\x80", "\\302\\200"},
        {"C1 next line", "a\xc2\x85" "b", "a\\302\\205b"},
    };
    expect_shown(cases);
}

TEST(ShownText, BytesThatAreNotUtf8BecomeOctalEscapes)
{
    const ShownCase cases[] = {
        {"Latin-1 name", "caf\xe9.obj", "caf\\351.obj"},
        {"Latin-1 letters in a row", "\xe9t\xe9", "\\351t\\351"},
        {"lone continuation byte", "a\x80" "b", "a\\200b"},
        {"three-byte sequence cut short", "\xe2\x82x", "\\342\\202x"},
        {"three-byte sequence cut by the end", "a\xe2\x82", "a\\342\\202"},
        {"overlong slash in two bytes", "\xc0\xaf", "\\300\\257"},
        {"overlong NUL", "\xc1\x80", "\\301\\200"},
        {"overlong slash in three bytes", "\xe0\x80\xaf", "\\340\\200\\257"},
        {"overlong in four bytes", "\xf0\x80\x80\xaf", "\\360\\200\\200\\257"},
        {"high surrogate", "\xed\xa0\x80", "\\355\\240\\200"},
        {"low surrogate", "\xed\xbf\xbf", "\\355\\277\\277"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "\\364\\220\\200\\200"},
        {"bytes no UTF-8 uses", "\xf8\xfe\xff", "\\370\\376\\377"},
        {"a valid character after a bad byte", "\xff\xc3\xa9", "\\377\xc3\xa9"},
    };
    expect_shown(cases);
}

std::string as(std::size_t count, const char* character = "a")
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += character;
    return text;
}

const std::string ellipsis = "\xe2\x80\xa6";

TEST(ShownText, LongTextIsCutAtAWholeCharacterWithAnEllipsis)
{
    const std::size_t bound = shown_bytes, room = shown_bytes - ellipsis.size();
    const ShownCase cases[] = {
        {"exactly at the bound", as(bound), as(bound)},
        {"one past the bound", as(bound + 1), as(room) + ellipsis},
        {"far past the bound", as(100000), as(room) + ellipsis},
        {"two-byte letter ending at the bound", as(bound - 2) + "\xc3\xa9", as(bound - 2) + "\xc3\xa9"},
        {"two-byte letter across the cut", as(room - 1) + "\xc3\xa9" + as(10), as(room - 1) + ellipsis},
        {"four-byte characters across the cut", as(bound / 4 + 1, "\xf0\x9f\x99\x82"),
         as(room / 4, "\xf0\x9f\x99\x82") + ellipsis},
        {"escape ending at the bound", as(bound - 4) + "\x1b", as(bound - 4) + "\\033"},
        {"escape across the cut", as(room - 2) + "\x1b" + as(10), as(room - 2) + ellipsis},
        {"escape across the bound", as(bound - 2) + "\x1b", as(room) + ellipsis},
        {"short escape across the cut", as(room - 1) + "\n" + as(10), as(room - 1) + ellipsis},
        {"text that became long by its escapes", as(bound / 4 + 1, "\xe9"), as(room / 4, "\\351") + ellipsis},
    };
    expect_shown(cases);
    for (const ShownCase& c : cases)
        EXPECT_LE(shown(c.text).size(), bound) << c.rule;
}

TEST(ShownText, ALineIsBoundedAsALine)
{
    const std::size_t room = shown_line_bytes - ellipsis.size();
    EXPECT_EQ(shown_line(as(shown_line_bytes)), as(shown_line_bytes));
    EXPECT_EQ(shown_line(as(shown_line_bytes + 1)), as(room) + ellipsis);
    EXPECT_EQ(shown_line("olvanta-convert: cannot read 'x\x1b[2J.stl'"), "olvanta-convert: cannot read 'x\\033[2J.stl'");
    // A line that names a file already shown, cut where the name was, passes a second program unchanged.
    const std::string line = "olvanta-convert: cannot read " + quoted_name(as(shown_bytes * 2, "\xe9")) + " as a mesh";
    EXPECT_EQ(shown_line(line), line);
}

TEST(ShownText, ANameIsShownInSingleQuotes)
{
    const ShownCase cases[] = {
        {"plain", "x.obj", "'x.obj'"},
        {"empty", "", "''"},
        {"escapes inside the quotes", "\x1b]0;x\x07" "caf\xe9.obj", "'\\033]0;x\\acaf\\351.obj'"},
        {"cut inside the quotes", as(shown_bytes + 1), "'" + as(shown_bytes - ellipsis.size()) + ellipsis + "'"},
    };
    for (const ShownCase& c : cases)
        EXPECT_EQ(quoted_name(c.text), c.shown) << c.rule;
}

TEST(ShownText, MarkupIsTextInANoticesBody)
{
    const ShownCase cases[] = {
        {"link", "<a href=\"https://x\">Security update</a>", "&lt;a href=\"https://x\"&gt;Security update&lt;/a&gt;"},
        {"ampersand", "R&D.obj", "R&amp;D.obj"},
        {"an entity is text too", "&amp;", "&amp;amp;"},
        {"bold and a clear screen", "<b>\x1b[2J</b>", "&lt;b&gt;\\033[2J&lt;/b&gt;"},
        {"Latin-1 byte", "caf\xe9 <i>", "caf\\351 &lt;i&gt;"},
        {"plain words", "cannot open 'x.m': No such file or directory", "cannot open 'x.m': No such file or directory"},
    };
    for (const ShownCase& c : cases)
        EXPECT_EQ(as_markup_text(c.text), c.shown) << c.rule;
}

// Whatever the bytes, what is shown is valid UTF-8 without a control character: every byte pair,
// and every pair behind every lead byte of a longer sequence.
TEST(ShownText, AnyBytesAreShownAsValidTextWithoutControls)
{
    int failures = 0;
    for (int first = 0; first < 256 && failures < 5; ++first)
        for (int second = 0; second < 256 && failures < 5; ++second) {
            std::string text{char(first), char(second)};
            for (const char* tail : {"", "\x80", "\xbf\x80", "\x9f\xbf"}) {
                const std::string said = shown(text + tail);
                if (!valid_utf8(said) || holds_control_character(said)) {
                    ADD_FAILURE() << "bytes " << first << " " << second << " shown as " << said;
                    ++failures;
                }
            }
        }
}

} // namespace
