// zlib reads a plain file as it is and inflates a gzip-compressed one, in the same calls.
#include "family_file.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {

const unsigned piece_bytes = 1u << 20;
const unsigned look_bytes = 64u << 10;
// Below this a second thread costs more than it saves.
const std::size_t text_worth_a_thread = 4u << 20;

// zlib reads from a descriptor of its own, from the file's start, and closes it when done.
gzFile open_for_reading(int fd, std::string& reason)
{
    errno = 0;
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    gzFile file = own < 0 || lseek(own, 0, SEEK_SET) != 0 ? nullptr : gzdopen(own, "rb");
    if (!file) {
        reason = errno ? std::strerror(errno) : "out of memory";
        if (own >= 0)
            close(own);
    } else {
        gzbuffer(file, piece_bytes);
    }
    return file;
}

std::string damaged(const char* why)
{
    return std::string("the compressed text is damaged (") + (why ? why : "no reason given") + ")";
}

// zlib's message names the file first (by descriptor, "<fd:N>"); the reason is what follows.
std::string without_the_name(const std::string& message)
{
    const std::size_t named = message.find(": ");
    return named != std::string::npos && message.rfind("<fd:", 0) == 0 ? message.substr(named + 2) : message;
}

bool failed(gzFile file, std::string& reason)
{
    int code = Z_OK;
    const char* message = gzerror(file, &code);
    if (code == Z_BUF_ERROR)
        reason = "the compressed text ends early";
    else if (code == Z_DATA_ERROR)
        reason = damaged(without_the_name(message).c_str());
    else if (code != Z_OK)
        reason = code == Z_ERRNO ? std::strerror(errno) : message;
    return code != Z_OK;
}

bool is_gzip(const std::vector<unsigned char>& start)
{
    return start.size() >= 2 && start[0] == 0x1f && start[1] == 0x8b;
}

// As much of the start as inflates before any damage; the reason when not a byte does.
std::vector<char> inflated_start(std::vector<unsigned char>& compressed, std::string& reason)
{
    std::vector<char> text(look_bytes);
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) // a gzip wrapper only
        throw std::bad_alloc();
    stream.next_in = compressed.data();
    stream.avail_in = uInt(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(text.data());
    stream.avail_out = uInt(text.size());
    const int code = inflate(&stream, Z_SYNC_FLUSH);
    text.resize(text.size() - stream.avail_out);
    if (text.empty() && code != Z_OK && code != Z_STREAM_END)
        reason = code == Z_BUF_ERROR ? "the compressed text ends early" : damaged(stream.msg);
    inflateEnd(&stream);
    return text;
}

std::vector<unsigned char> raw_start(int fd)
{
    std::vector<unsigned char> start(look_bytes);
    const ssize_t got = pread(fd, start.data(), start.size(), 0);
    start.resize(got > 0 ? std::size_t(got) : 0);
    return start;
}

// The whole text in one block that grows without being cleared or, mostly, copied: the system
// moves a large block's pages rather than its bytes.
struct Text {
    std::unique_ptr<char, decltype(&std::free)> bytes{nullptr, &std::free};
    std::size_t size = 0, capacity = 0;
};

bool make_room(Text& text, std::size_t more)
{
    if (text.size + more <= text.capacity)
        return true;
    const std::size_t capacity = std::max(text.capacity * 2, text.size + more);
    char* grown = static_cast<char*>(std::realloc(text.bytes.get(), capacity));
    if (!grown)
        return false;
    text.bytes.release();
    text.bytes.reset(grown);
    text.capacity = capacity;
    return true;
}

} // namespace

FileLook look_into_file(int fd, std::string& reason)
{
    std::vector<unsigned char> raw = raw_start(fd);
    if (!is_gzip(raw))
        return begins_family_text(reinterpret_cast<const char*>(raw.data()),
                                  reinterpret_cast<const char*>(raw.data() + raw.size()))
                   ? FileLook::family
                   : FileLook::other;
    const std::vector<char> text = inflated_start(raw, reason);
    if (!reason.empty())
        return FileLook::damaged_compression;
    return begins_family_text(text.data(), text.data() + text.size()) ? FileLook::family : FileLook::other;
}

bool read_family_file(int fd, FamilyMesh& mesh, std::string& reason)
{
    gzFile file = open_for_reading(fd, reason);
    if (!file)
        return false;
    Text text;
    int got = 0;
    do {
        if (!make_room(text, piece_bytes * 16)) {
            gzclose(file);
            throw std::bad_alloc();
        }
        got = gzread(file, text.bytes.get() + text.size, piece_bytes * 16);
        text.size += std::size_t(std::max(got, 0));
    } while (got > 0);
    const bool read_whole = !failed(file, reason);
    gzclose(file);
    const unsigned cores = std::thread::hardware_concurrency();
    const int parts = text.size < text_worth_a_thread ? 1 : int(std::max(1u, std::min(cores, 8u)));
    mesh = read_family_text(text.bytes.get(), text.bytes.get() + text.size, parts);
    return read_whole;
}
