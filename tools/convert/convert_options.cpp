// Reading olvanta-convert's command line; every refusal says which word is wrong and why.
#include "convert_options.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "mesh/shown_text.h"

const char* const convert_usage =
    "usage: olvanta-convert [OPTIONS] INPUT OUTPUT\n"
    "Converts a mesh in any format the Open Asset Import Library reads (OBJ, PLY, STL, OFF, glTF,\n"
    "Collada, ...) into the viewer's text format. Options may stand before or after the names.\n"
    "INPUT may be a pipe, a FIFO or /dev/stdin too: it is kept whole in memory and read from there.\n"
    "OUTPUT may be a file (replaced whole), a device, a FIFO, or an open descriptor such as\n"
    "/dev/stdout (written where it stands, so appends append); never INPUT itself.\n"
    "\n"
    "  --up AXIS             the model's up axis: x, y, z, -x, -y or -z (default z). The model is\n"
    "                        turned so that this axis points along +Z, the viewer's up; most\n"
    "                        exporters write y\n"
    "  --fit                 move and scale the model so that its bounding box is centred on the\n"
    "                        origin and its largest side is 2.5 units, as the first view shows best\n"
    "  --fit-when-needed     the same, only for a model that would not show in the first view as it\n"
    "                        lies (larger than 50 units, smaller than 0.05, or centred more than 10\n"
    "                        units away); a line after the counts says so\n"
    "  --memory-limit MIB    memory the import may take (default: 4 GiB + 64 x the file's size)\n"
    "  --time-limit SECONDS  time the import may take (default: 30 s + 1 s per MB)\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "\n"
    "Without --up and --fit, positions are written exactly as the file has them.\n";

namespace {

// Below 2^31, so that any limit fits the system's types.
const std::uint64_t largest_limit = (std::uint64_t(1) << 31) - 1;

bool whole_number_above_zero(const std::string& text, std::uint64_t& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const unsigned long long read = std::strtoull(text.c_str(), nullptr, 10);
    if (errno || read == 0 || read > largest_limit)
        return false;
    value = read;
    return true;
}

bool wrong_value(const std::string& option, const std::string& value, const std::string& wanted,
                 std::string& reason)
{
    reason = option + ": " + quoted_name(value) + " is not " + wanted;
    return false;
}

bool take_limit(const std::string& option, const std::string& value, ConvertOptions& options, std::string& reason)
{
    std::uint64_t number = 0;
    if (!whole_number_above_zero(value, number))
        return wrong_value(option, value,
                           option == "--memory-limit" ? "a whole number of MiB from 1 to 2147483647"
                                                      : "a whole number of seconds from 1 to 2147483647",
                           reason);
    if (option == "--memory-limit")
        options.memory_mib = number;
    else
        options.seconds = static_cast<int>(number);
    return true;
}

bool take_option(const std::string& option, const std::string& value, ConvertOptions& options, std::string& reason)
{
    if (option == "--up")
        return parse_up_axis(value, options.up) || wrong_value(option, value, "one of x, y, z, -x, -y, -z", reason);
    return take_limit(option, value, options, reason);
}

bool names_are_two(const std::vector<std::string>& names, std::string& reason)
{
    if (names.size() == 2)
        return true;
    reason = names.size() < 2 ? "an INPUT and an OUTPUT are needed"
                              : "only one INPUT and one OUTPUT, not " + quoted_name(names[2]);
    return false;
}

} // namespace

bool parse_convert_options(int argc, const char* const* argv, ConvertOptions& options, std::string& reason)
{
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help") {
            options.help = true;
        } else if (word == "--version") {
            options.version = true;
        } else if (word == "--fit") {
            options.fit = true;
        } else if (word == "--fit-when-needed") {
            options.fit_when_needed = true;
        } else if (word == "--up" || word == "--memory-limit" || word == "--time-limit") {
            if (i + 1 == argc) {
                reason = word + " needs a value";
                return false;
            }
            if (!take_option(word, argv[++i], options, reason))
                return false;
        } else if (word.size() > 1 && word[0] == '-') {
            reason = "unknown option " + quoted_name(word);
            return false;
        } else {
            names.push_back(word);
        }
    }
    if (options.help || options.version)
        return true;
    if (!names_are_two(names, reason))
        return false;
    options.input = names[0];
    options.output = names[1];
    return true;
}
