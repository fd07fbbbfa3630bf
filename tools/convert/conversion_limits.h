// How much memory and time an import may take: enough for honest models a few times their
// file's size (compressed formats more), little enough that a hostile file fails within seconds.
#pragma once

#include <cstdint>

#include "convert_options.h"
#include "isolated_run.h"

const std::uint64_t mib = std::uint64_t(1) << 20;

// From the file's size, unless the options set them.
Limits limits_for(std::uint64_t file_bytes, const ConvertOptions& options);
