// The one line for every way a conversion's child can end but in success.
#pragma once

#include <cstdint>
#include <string>

#include "convert_options.h"
#include "isolated_run.h"

// The text after the last report line that starts with `start`; empty when there is none.
std::string last_line_starting(const std::string& report, const std::string& start);

std::string failure_of(const ChildEnding& ending, const ConvertOptions& options, const Limits& limits);

// "ran out of memory reading 'x' (the limit is N MiB; --memory-limit raises it)", or "converting".
std::string ran_out_of_memory(const std::string& input, bool converting, std::uint64_t memory_bytes);
