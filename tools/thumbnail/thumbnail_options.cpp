#include "thumbnail_options.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "mesh/shown_text.h"

const char* const thumbnail_usage =
    "usage: olvanta-thumbnail [-s SIZE] MESH OUT.png\n"
    "Writes a SIZE x SIZE picture of MESH (256) for a file manager: the whole model, lit, on a\n"
    "transparent ground. Any file olvanta-open opens can be shown. Without a picture within 10 s and\n"
    "1 GiB, the status is 1 and nothing is written.\n"
    "  -s, --size SIZE   16 to 2048 pixels\n"
    "  --help, --version\n";

namespace {

bool read_size(const std::string& text, int& size)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno != 0 || value < smallest_thumbnail || value > largest_thumbnail)
        return false;
    size = int(value);
    return true;
}

} // namespace

bool parse_thumbnail_options(int argc, char** argv, ThumbnailOptions& options, std::string& complaint)
{
    std::vector<std::string> names;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (options_end || word == "-" || word.empty() || word[0] != '-') {
            names.push_back(word);
        } else if (word == "--") {
            options_end = true;
        } else if (word == "--help") {
            options.help = true;
        } else if (word == "--version") {
            options.version = true;
        } else if (word == "-s" || word == "--size" || word.rfind("--size=", 0) == 0) {
            const bool joined = word.size() > 6;
            if (!joined && i + 1 == argc) {
                complaint = word + " needs a value";
                return false;
            }
            const std::string value = joined ? word.substr(7) : argv[++i];
            if (!read_size(value, options.size)) {
                complaint = "--size: " + quoted_name(value) + " is not a whole number of pixels from 16 to 2048";
                return false;
            }
        } else {
            complaint = "unknown option " + quoted_name(word);
            return false;
        }
    }
    if (options.help || options.version)
        return true;
    if (names.size() != 2) {
        complaint = names.size() < 2 ? "MESH and OUT.png are both needed" : "too many names: " + quoted_name(names[2]);
        return false;
    }
    options.input = names[0];
    options.output = names[1];
    return true;
}
