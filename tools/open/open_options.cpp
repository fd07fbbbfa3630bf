// The FILE is the last word; before it stand GLUT's options, whose values never count as a FILE.
#include "open_options.h"

const char* const open_usage =
    "usage: olvanta-open [--as-is] [GLUT OPTIONS] FILE\n"
    "Shows FILE in the viewer: a mesh in the viewer's own form as it is, any other file of the\n"
    "Vertex/Face family (plain or gzip-compressed), OBJ, PLY, STL, OFF, glTF, 3MF and the other\n"
    "formats olvanta-convert reads converted on the way, through a pipe: no file is written. FILE may\n"
    "be a pipe, a FIFO or /dev/stdin too. A model that would not show in the viewer's first view (too\n"
    "large, too small or too far from the origin) is moved and scaled into view, and a line says so.\n"
    "  --as-is             keep the file's coordinates, even where the first view does not show them\n"
    "  --help, --version\n"
    "GLUT OPTIONS (-display, -geometry, ...) reach the viewer unchanged.\n";

namespace {

// GLUT's options that take a value: what follows them is that value, not a FILE.
bool takes_a_value(const std::string& option)
{
    return option == "-display" || option == "-geometry";
}

} // namespace

bool parse_open_options(int argc, const char* const* argv, OpenOptions& options, std::string& reason)
{
    options = OpenOptions{};
    const std::string only = argc == 2 ? argv[1] : "";
    if (only == "--help" || only == "--version") {
        options.help = only == "--help";
        options.version = only == "--version";
        return true;
    }
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--as-is")
            options.as_is = true;
        else
            words.emplace_back(argv[i]);
    }
    const std::string last = words.empty() ? "" : words.back();
    if (last.empty() || (last[0] == '-' && last.size() > 1) || (words.size() > 1 && takes_a_value(words[words.size() - 2]))) {
        reason = "a FILE to show is needed, after any GLUT options";
        return false;
    }
    options.file = last;
    options.glut_options.assign(words.begin(), words.end() - 1);
    return true;
}
