// What the converter's tests share: scratch folders that are removed again, files written
// byte for byte, and the converter run as a program.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "test_files.h"

inline std::string temporary_directory()
{
    char path[] = "/tmp/olvanta-convert-test-XXXXXX";
    return mkdtemp(path);
}

// Everything the test put there goes, links and special files included.
inline void remove_directory(const std::string& dir)
{
    if (dir.rfind("/tmp/olvanta-convert-test-", 0) == 0)
        std::system(("rm -rf '" + dir + "'").c_str());
}

inline void write_bytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<std::string> directory_entries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

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
