// zlib reads a plain file as it is and inflates a gzip-compressed one, in the same calls.
#include "family_file.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
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

gzFile open_for_reading(const std::string& path, std::string& reason)
{
    errno = 0;
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file)
        reason = errno ? std::strerror(errno) : "out of memory";
    else
        gzbuffer(file, piece_bytes);
    return file;
}

bool failed(gzFile file, std::string& reason)
{
    int code = Z_OK;
    const char* message = gzerror(file, &code);
    if (code == Z_BUF_ERROR)
        reason = "the compressed text ends early";
    else if (code != Z_OK)
        reason = code == Z_ERRNO ? std::strerror(errno) : message;
    return code != Z_OK;
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

bool is_family_file(const std::string& path)
{
    std::string reason;
    gzFile file = open_for_reading(path, reason);
    if (!file)
        return false;
    std::vector<char> start(look_bytes);
    const int got = gzread(file, start.data(), look_bytes);
    gzclose(file);
    return got > 0 && begins_family_text(start.data(), start.data() + got);
}

bool read_family_file(const std::string& path, FamilyMesh& mesh, std::string& reason)
{
    gzFile file = open_for_reading(path, reason);
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
