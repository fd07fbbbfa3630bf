// The import asks on a seqpacket socket: one message a name; the answer is one byte ('y' with
// the descriptor, 'n' not found, 'r' refused). Names are judged by their words first (inside the
// input's folder, as the import made them whole), then opened with the kernel holding every step
// of the name beneath the folder (openat2's RESOLVE_BENEATH), so no link leads out.
#include "companion_files.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "confine/confinement.h"
#include "mesh/mesh_reader.h"
#include "mesh/shown_text.h"

namespace {

const std::size_t longest_name = PATH_MAX;
const int most_names = 10000;

// ---- Both sides ----

// Where a name lies: made absolute, with ".", ".." and "//" taken out, links left as they are.
std::string lexically_resolved(const std::string& path)
{
    char here[PATH_MAX];
    const std::string absolute =
        !path.empty() && path.front() == '/' ? path : std::string(getcwd(here, sizeof here) ? here : "") + "/" + path;
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

// /dev/fd/N and its kin, which may hold a file with no name at all (a copy in memory).
bool names_a_descriptor(const std::string& path)
{
    for (const char* folder : {"/dev/fd/", "/proc/self/fd/"})
        if (path.rfind(folder, 0) == 0)
            return true;
    return path == "/dev/stdin";
}

// ---- The import's side ----

struct DescriptorFile {
    int fd;
    std::uint64_t at;
    bool owned;
};

DescriptorFile& file_of(aiFile* file)
{
    return *reinterpret_cast<DescriptorFile*>(file->UserData);
}

size_t read_file(aiFile* file, char* into, size_t size, size_t count)
{
    DescriptorFile& f = file_of(file);
    if (size == 0)
        return 0;
    std::size_t got = 0;
    const std::size_t wanted = size * count;
    while (got < wanted) {
        const ssize_t n = pread(f.fd, into + got, wanted - got, off_t(f.at + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    f.at += got;
    return got / size;
}

size_t write_nothing(aiFile*, const char*, size_t, size_t)
{
    return 0;
}

size_t tell_file(aiFile* file)
{
    return size_t(file_of(file).at);
}

size_t size_of_file(aiFile* file)
{
    struct stat info {};
    return descriptor_status(file_of(file).fd, info) ? size_t(info.st_size) : 0;
}

aiReturn seek_file(aiFile* file, size_t offset, aiOrigin origin)
{
    DescriptorFile& f = file_of(file);
    const std::uint64_t base = origin == aiOrigin_CUR ? f.at : origin == aiOrigin_END ? size_of_file(file) : 0;
    f.at = base + offset;
    return aiReturn_SUCCESS;
}

void flush_nothing(aiFile*) {}

// The parent's answer to a name: a descriptor, or -1.
int asked_for(const char* name)
{
    const std::size_t length = std::strlen(name);
    iovec asked{const_cast<char*>(name), length};
    msghdr request{};
    request.msg_iov = &asked;
    request.msg_iovlen = 1;
    if (length > longest_name || sendmsg(broker_descriptor, &request, MSG_NOSIGNAL) != ssize_t(length))
        return -1;
    char answer = 0;
    char space[CMSG_SPACE(sizeof(int))] = {};
    iovec part{&answer, 1};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = space;
    message.msg_controllen = sizeof space;
    if (recvmsg(broker_descriptor, &message, MSG_CMSG_CLOEXEC) != 1 || answer != 'y')
        return -1;
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    int fd = -1;
    if (header && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
        std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return fd;
}

aiFile* open_file(aiFileIO* io, const char* name, const char* mode)
{
    const CompanionAsking& asking = *reinterpret_cast<CompanionAsking*>(io->UserData);
    if (std::strpbrk(mode, "wa+") || !*name)
        return nullptr;
    DescriptorFile f{input_descriptor, 0, false};
    if (name != asking.input && lexically_resolved(name) != lexically_resolved(asking.input)) {
        f.fd = asked_for(name);
        f.owned = true;
    }
    if (f.fd < 0)
        return nullptr;
    return new aiFile{read_file, write_nothing, tell_file, size_of_file, seek_file, flush_nothing,
                      reinterpret_cast<aiUserData>(new DescriptorFile(f))};
}

void close_file(aiFileIO*, aiFile* file)
{
    if (!file)
        return;
    DescriptorFile* f = &file_of(file);
    if (f->owned)
        close(f->fd);
    delete f;
    delete file;
}

// ---- The parent's side ----

std::string resolved(const std::string& path)
{
    char full[PATH_MAX];
    return realpath(path.c_str(), full) ? std::string(full) : std::string();
}

std::string folder_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void refuse(CompanionOpening& opening, const std::string& name, const char* why)
{
    if (opening.refused.empty())
        opening.refused = quoted_name(name) + ", " + why;
}

// The name beneath the folder, every step of it held there by the kernel. Without openat2 (an
// older kernel, or a sandbox that refuses it) the name is resolved first, then opened without
// following a last link.
int open_beneath(const CompanionOpening& opening, const std::string& relative, const std::string& absolute, int flags)
{
    open_how how{};
    how.flags = std::uint64_t(flags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const int fd = int(syscall(SYS_openat2, opening.folder, relative.c_str(), &how, sizeof how));
    if (fd >= 0 || errno != ENOSYS)
        return fd;
    const std::string real = resolved(absolute), folder = resolved(folder_of(opening.input));
    if (real.empty() || folder.empty() || real.compare(0, folder.size() + 1, folder + "/") != 0) {
        errno = real.empty() ? ENOENT : EXDEV;
        return -1;
    }
    return open(real.c_str(), flags | O_NOFOLLOW);
}

// What a name is, found without opening it for reading: opening a FIFO or a device can wait for
// ever, or act.
mode_t kind_beneath(const CompanionOpening& opening, const std::string& relative, const std::string& absolute)
{
    const int fd = open_beneath(opening, relative, absolute, O_PATH | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat info {};
    const mode_t kind = fstat(fd, &info) == 0 ? info.st_mode & S_IFMT : 0;
    close(fd);
    return kind;
}

// The answer for a name: 'y' with a descriptor in `fd`, or 'n' or 'r'.
char answer_for(CompanionOpening& opening, const std::string& name, int& fd)
{
    fd = -1;
    const std::string folder = lexically_resolved(folder_of(opening.input)) + "/";
    const std::string absolute = lexically_resolved(name);
    if (opening.folder < 0 || absolute.compare(0, folder.size(), folder) != 0) {
        refuse(opening, name, "which lies outside its folder");
        return 'r';
    }
    const std::string relative = absolute.substr(folder.size());
    const mode_t kind = kind_beneath(opening, relative, absolute);
    if (kind == 0 && (errno == EXDEV || errno == ELOOP)) {
        refuse(opening, name, "which lies outside its folder");
        return 'r';
    }
    if (kind == 0 || kind == S_IFDIR)
        return 'n'; // the import probes names freely: those not there are only not found
    if (kind != S_IFREG) {
        refuse(opening, name, "which is not a regular file");
        return 'r';
    }
    // Without waiting, should it have become a FIFO since.
    fd = open_beneath(opening, relative, absolute, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return 'n';
    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        return 'n';
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        refuse(opening, name, "which is not a regular file");
        return 'r';
    }
    fcntl(fd, F_SETFL, 0);
    return 'y';
}

bool send_answer(int socket, char answer, int fd)
{
    char space[CMSG_SPACE(sizeof(int))] = {};
    iovec part{&answer, 1};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (fd >= 0) {
        message.msg_control = space;
        message.msg_controllen = sizeof space;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    }
    return sendmsg(socket, &message, MSG_NOSIGNAL) == 1;
}

} // namespace

aiFileIO companion_file_io(CompanionAsking& asking)
{
    return aiFileIO{open_file, close_file, reinterpret_cast<aiUserData>(&asking)};
}

CompanionOpening companion_opening_for(const std::string& input)
{
    CompanionOpening opening;
    opening.input = input;
    if (names_a_descriptor(input))
        return opening;
    // Every file of the home folder or of the root would be the import's to read: there the
    // input is read alone.
    const std::string folder = resolved(folder_of(input));
    const char* const home = std::getenv("HOME");
    if (folder.empty() || folder == "/" || (home && *home && folder == resolved(home)))
        return opening;
    opening.folder = open(folder_of(input).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return opening;
}

bool answer_companion_request(int socket, CompanionOpening& opening)
{
    char name[longest_name + 1];
    const ssize_t got = recv(socket, name, sizeof name, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (got <= 0 || std::size_t(got) > longest_name || std::memchr(name, '\0', std::size_t(got)) ||
        ++opening.answered > most_names)
        return false;
    int fd = -1;
    const char answer = answer_for(opening, std::string(name, std::size_t(got)), fd);
    const bool sent = send_answer(socket, answer, fd);
    if (fd >= 0)
        close(fd);
    return sent;
}

void close_companion_opening(CompanionOpening& opening)
{
    if (opening.folder >= 0)
        close(opening.folder);
    opening.folder = -1;
}
