// Wording the end of a failed conversion from how the child ended and what it said before.
#include "conversion_failure.h"

#include <signal.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "conversion_limits.h"
#include "mesh/shown_text.h"

namespace {

std::string signal_name(int signal_number)
{
    std::string name = strsignal(signal_number);
    if (!name.empty())
        name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
    return name;
}

bool said_line(const std::string& report, const std::string& line)
{
    return report.rfind(line + "\n", 0) == 0 || report.find("\n" + line + "\n") != std::string::npos;
}

std::string gave_up(const std::string& input, const Limits& limits, bool imported)
{
    return "gave up on " + input + " after " + std::to_string(limits.seconds) + " s" +
           (imported ? "" : " (--time-limit allows more)");
}

} // namespace

std::string last_line_starting(const std::string& report, const std::string& start)
{
    std::string found;
    std::size_t at = 0;
    while (at < report.size()) {
        const std::size_t end = report.find('\n', at);
        const std::string line = report.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.rfind(start, 0) == 0)
            found = line.substr(start.size());
        at = end == std::string::npos ? report.size() : end + 1;
    }
    return found;
}

std::string ran_out_of_memory(const std::string& input, bool converting, std::uint64_t memory_bytes)
{
    return "ran out of memory " + std::string(converting ? "converting " : "reading ") + quoted_name(input) +
           " (the limit is " + std::to_string(memory_bytes / mib) + " MiB; --memory-limit raises it)";
}

std::string failure_of(const ChildEnding& ending, const ConvertOptions& options, const Limits& limits)
{
    const std::string input = quoted_name(options.input);
    // The child read the file: its words are outside words.
    const std::string error = shown_line(last_line_starting(ending.report, "error "));
    const bool imported = said_line(ending.report, "converting");
    const bool out_of_memory = said_line(ending.report, "out of memory");
    if (ending.how == ChildEnding::timed_out || (ending.how == ChildEnding::signalled && ending.status == SIGXCPU))
        return gave_up(input, limits, imported);
    if (ending.how == ChildEnding::not_started)
        return std::string("cannot start the conversion: ") + std::strerror(errno);
    if (ending.how == ChildEnding::said_too_much)
        return "converting " + input + " failed: it said more than a conversion says (" +
               std::to_string(longest_report / 1024) + " KiB)";
    if (out_of_memory && (ending.how == ChildEnding::signalled || error.empty()))
        return ran_out_of_memory(options.input, imported, limits.memory_bytes);
    if (ending.how == ChildEnding::signalled)
        return (imported ? "converting " + input + " crashed (" : "the import library crashed on " + input + " (") +
               signal_name(ending.status) + ")";
    return error.empty() ? "converting " + input + " failed (status " + std::to_string(ending.status) + ")" : error;
}
