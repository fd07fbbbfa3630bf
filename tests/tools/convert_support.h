// What the converter's tests share: the converter run as a program, and counting lines.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "scratch_folder.h"
#include "test_files.h"

// The converter with its words, each quoted for the shell.
inline CommandRun convert(const std::vector<std::string>& words)
{
    std::string command = "'" + std::string(OLVANTA_CONVERT_PATH) + "'";
    for (const std::string& word : words)
        command += " '" + word + "'";
    return run_command(command);
}

inline CommandRun convert(const std::string& input, const std::string& output)
{
    return convert(std::vector<std::string>{input, output});
}

inline std::size_t line_count(const std::string& text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}
