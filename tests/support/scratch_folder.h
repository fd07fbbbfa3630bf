// Scratch folders that are removed again, with everything in them, and files written byte for byte.
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
