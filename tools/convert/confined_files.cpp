// The import library opens every file through these callbacks; each is a stdio stream on a file
// that was checked to lie inside the input's folder and to be a regular file.
#include "confined_files.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <vector>

#include "mesh/shown_text.h"

namespace {

Confinement& confinement_of(aiFileIO* io)
{
    return *reinterpret_cast<Confinement*>(io->UserData);
}

std::FILE* stream_of(aiFile* file)
{
    return reinterpret_cast<std::FILE*>(file->UserData);
}

std::string resolved(const std::string& path)
{
    char full[PATH_MAX];
    return realpath(path.c_str(), full) ? std::string(full) : std::string();
}

// Where a name that does not exist would lie: made absolute, with ".", ".." and "//" taken out.
std::string lexically_resolved(const std::string& path)
{
    char here[PATH_MAX];
    const std::string absolute = path.front() == '/' ? path : std::string(getcwd(here, sizeof here) ? here : "") + "/" + path;
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= absolute.size()) {
        const std::size_t slash = std::min(absolute.find('/', at), absolute.size());
        const std::string part = absolute.substr(at, slash - at);
        if (part == ".." && !parts.empty())
            parts.pop_back();
        else if (!part.empty() && part != "." && part != "..")
            parts.push_back(part);
        at = slash + 1;
    }
    std::string normal;
    for (const std::string& part : parts)
        normal += "/" + part;
    return normal.empty() ? "/" : normal;
}

void refuse(Confinement& c, const std::string& name, const std::string& why)
{
    if (c.refused.empty())
        c.refused = quoted_name(name) + ", " + why;
}

bool inside(const Confinement& c, const std::string& path)
{
    return path == c.input || (!c.folder.empty() && path.compare(0, c.folder.size(), c.folder) == 0);
}

// /dev/fd/N and its kin, which may hold a file with no name at all (a copy in memory).
bool names_a_descriptor(const std::string& path)
{
    for (const char* folder : {"/dev/fd/", "/proc/self/fd/"})
        if (path.rfind(folder, 0) == 0)
            return true;
    return path == "/dev/stdin";
}

// A FIFO or a device is refused before it is opened: opening one can wait for ever or act. The
// library probes folders and missing names freely; those are only not found.
std::FILE* open_regular(Confinement& c, const char* name, const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        return nullptr;
    if (!S_ISREG(info.st_mode)) {
        refuse(c, name, "which is not a regular file");
        return nullptr;
    }
    // Without waiting, should it have become a FIFO since.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        refuse(c, name, "which is not a regular file");
        return nullptr;
    }
    fcntl(fd, F_SETFL, 0);
    std::FILE* stream = fdopen(fd, "rb");
    if (!stream)
        close(fd);
    return stream;
}

size_t read_file(aiFile* file, char* into, size_t size, size_t count)
{
    return std::fread(into, size, count, stream_of(file));
}

size_t write_nothing(aiFile*, const char*, size_t, size_t)
{
    return 0;
}

size_t tell_file(aiFile* file)
{
    const long at = std::ftell(stream_of(file));
    return at < 0 ? 0 : size_t(at);
}

size_t size_of_file(aiFile* file)
{
    struct stat info {};
    return fstat(fileno(stream_of(file)), &info) == 0 ? size_t(info.st_size) : 0;
}

aiReturn seek_file(aiFile* file, size_t offset, aiOrigin origin)
{
    const int whence = origin == aiOrigin_CUR ? SEEK_CUR : origin == aiOrigin_END ? SEEK_END : SEEK_SET;
    return std::fseek(stream_of(file), long(offset), whence) == 0 ? aiReturn_SUCCESS : aiReturn_FAILURE;
}

void flush_nothing(aiFile*) {}

aiFile* open_file(aiFileIO* io, const char* name, const char* mode)
{
    Confinement& c = confinement_of(io);
    if (std::strpbrk(mode, "wa+"))
        return nullptr;
    if (!*name)
        return nullptr;
    std::string path = resolved(name);
    if (!inside(c, path.empty() ? lexically_resolved(name) : path)) {
        refuse(c, name, "which lies outside its folder");
        return nullptr;
    }
    if (path.empty() && name == c.input)
        path = name;
    if (path.empty())
        return nullptr;
    std::FILE* stream = open_regular(c, name, path);
    if (!stream)
        return nullptr;
    return new aiFile{read_file, write_nothing, tell_file, size_of_file, seek_file, flush_nothing,
                      reinterpret_cast<aiUserData>(stream)};
}

void close_file(aiFileIO*, aiFile* file)
{
    if (!file)
        return;
    std::fclose(stream_of(file));
    delete file;
}

} // namespace

bool confine_to_input(const std::string& input, Confinement& confinement, std::string& reason)
{
    confinement.input = resolved(input);
    // A descriptor's file may have no name to resolve, and no folder: it is read alone.
    if (confinement.input.empty() && names_a_descriptor(input)) {
        confinement.input = input;
        confinement.folder.clear();
        return true;
    }
    const std::size_t slash = input.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : input.substr(0, slash);
    confinement.folder = resolved(folder);
    if (confinement.input.empty() || confinement.folder.empty()) {
        reason = std::strerror(errno);
        return false;
    }
    if (confinement.folder.back() != '/')
        confinement.folder += '/';
    return true;
}

aiFileIO confined_file_io(Confinement& confinement)
{
    return aiFileIO{open_file, close_file, reinterpret_cast<aiUserData>(&confinement)};
}
