// olvanta-convert's command line: the two names, the placing options and the import's limits.
#pragma once

#include <cstdint>
#include <string>

#include "placement.h"

extern const char* const convert_usage;

struct ConvertOptions {
    std::string input, output;
    std::uint64_t memory_mib = 0; // 0: from the file's size
    int seconds = 0;              // 0: from the file's size
    UpAxis up = UpAxis::z;
    bool fit = false;
    bool fit_when_needed = false; // fit only a model that would not show in the first view
    bool help = false;
    bool version = false;
};

// Options may stand before or after the file names. False with one line that names what is
// wrong: the option and the value it was given, or the names.
bool parse_convert_options(int argc, const char* const* argv, ConvertOptions& options, std::string& reason);
