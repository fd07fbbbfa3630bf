// The one line olvanta-open gives when it shows a model moved and scaled into the first view, and
// how it learns that from the converter's own line.
#pragma once

#include <string>

// "'x.obj': the model is 160 units across ...; it is shown moved and scaled into view"
std::string fitted_line(const std::string& file, const std::string& trouble);

// From the converter's "olvanta-convert: fitted: TROUBLE, so it was moved and scaled into view",
// the TROUBLE; empty for any other line.
std::string converter_fitted(const std::string& line);
