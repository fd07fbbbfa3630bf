// Real files for tests: temporary ones with given content, whole files read back, and programs
// run with their output captured.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

inline std::string write_temporary_file(const std::string& content)
{
    char path[] = "/tmp/olvanta-test-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, content.data(), content.size()) != ssize_t(content.size()))
        std::fprintf(stderr, "could not write the temporary file %s\n", path);
    if (fd >= 0)
        close(fd);
    return path;
}

inline std::string read_whole_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

struct CommandRun {
    int status; // the exit status, or -1 when the program did not exit
    std::string out, err;
};

// Runs a shell command with its standard output and standard error captured.
inline CommandRun run_command(const std::string& command)
{
    const std::string out = write_temporary_file(""), err = write_temporary_file("");
    const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    CommandRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_whole_file(out), read_whole_file(err)};
    unlink(out.c_str());
    unlink(err.c_str());
    return run;
}
