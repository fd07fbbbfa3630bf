// The one line for every way a conversion's child can end but in success.
#pragma once

#include <string>

#include "convert_options.h"
#include "isolated_run.h"

// The text after the last report line that starts with `start`; empty when there is none.
std::string last_line_starting(const std::string& report, const std::string& start);

std::string failure_of(const ChildEnding& ending, const ConvertOptions& options, const Limits& limits);
