// Both lines are our own programs' words, so the converter's is taken apart exactly.
#include "fitting_words.h"

#include "mesh/shown_text.h"

namespace {

const std::string converter_start = "olvanta-convert: fitted: ";
const std::string converter_end = ", so it was moved and scaled into view";

} // namespace

std::string fitted_line(const std::string& file, const std::string& trouble)
{
    return quoted_name(file) + ": " + shown(trouble) + "; it is shown moved and scaled into view";
}

std::string converter_fitted(const std::string& line)
{
    if (line.size() <= converter_start.size() + converter_end.size() || line.rfind(converter_start, 0) != 0 ||
        line.compare(line.size() - converter_end.size(), converter_end.size(), converter_end) != 0)
        return "";
    return line.substr(converter_start.size(), line.size() - converter_start.size() - converter_end.size());
}
