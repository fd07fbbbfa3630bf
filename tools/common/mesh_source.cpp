// Looking at a file's first megabyte decides: the viewer's own reader and the family's reader
// must find the same records there, all in the strict form. Files come from one writer, so their
// start speaks for the rest; should it not, the viewer names the cause itself.
#include "mesh_source.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "confined_child.h"
#include "mesh/family_reader.h"
#include "mesh/mesh_reader.h"

namespace {

const std::size_t looked_at = 1 << 20;

// Up to `looked_at` bytes from the start, cut after the last whole line.
std::string start_of(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return "";
    std::string text(looked_at, '\0');
    std::size_t got = 0;
    for (ssize_t n; got < text.size() && (n = read(fd, &text[got], text.size() - got)) > 0;)
        got += std::size_t(n);
    close(fd);
    text.resize(got);
    if (got == looked_at)
        text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    return text;
}

bool compressed(const std::string& text)
{
    return text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0x1f && static_cast<unsigned char>(text[1]) == 0x8b;
}

bool numbered_by_place(const FamilyMesh& family)
{
    for (std::size_t i = 0; i < family.vertices.size(); ++i)
        if (!family.vertices[i].has_normal || family.vertices[i].number != int(i + 1))
            return false;
    for (std::size_t f = 0; f < face_count(family); ++f)
        if (family.face_starts[f + 1] - family.face_starts[f] != 3)
            return false;
    return true;
}

[[noreturn]] void run_converter(const std::string& converter, const std::string& path, int pipe_end, pid_t parent,
                               const std::vector<std::string>& options)
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(1);
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO); // its counts: the viewer says what it shows
    const std::string output = "/dev/fd/" + std::to_string(pipe_end);
    std::vector<char*> arguments{const_cast<char*>(converter.c_str())};
    for (const std::string& option : options)
        arguments.push_back(const_cast<char*>(option.c_str()));
    arguments.push_back(const_cast<char*>(path.c_str()));
    arguments.push_back(const_cast<char*>(output.c_str()));
    arguments.push_back(nullptr);
    execv(converter.c_str(), arguments.data());
    _exit(127);
}

} // namespace

std::string program_beside_this_one(const char* name)
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return name;
    const std::string program(self, std::size_t(length));
    return program.substr(0, program.rfind('/') + 1) + name;
}

bool in_the_viewers_form(const std::string& path)
{
    const std::string text = start_of(path);
    if (text.empty() || compressed(text) || !begins_family_text(text.data(), text.data() + text.size()))
        return false;
    MeshStore strict;
    read_mesh_text(text.data(), text.data() + text.size(), strict);
    const FamilyMesh family = read_family_text(text.data(), text.data() + text.size(), 1);
    return family.skipped_lines == 0 && family.corners.empty() && family.sharp_edges.empty() &&
           strict.vertices.size() == family.vertices.size() && strict.faces.size() == face_count(family) &&
           numbered_by_place(family);
}

bool open_mesh_source(const std::string& path, MeshSource& source, std::string& reason)
{
    return open_mesh_source(path, source, reason, {});
}

bool open_mesh_source(const std::string& path, MeshSource& source, std::string& reason,
                      const std::vector<std::string>& converter_options)
{
    source = MeshSource{};
    struct stat info {};
    // A stream is the viewer's to read as it comes; so is a name that leads nowhere, which it reports.
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || ask_confined(in_the_viewers_form, path)) {
        source.name = path;
        return true;
    }
    int ends[2];
    if (pipe(ends) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    const std::string converter = program_beside_this_one("olvanta-convert");
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        run_converter(converter, path, ends[1], parent, converter_options);
    }
    close(ends[1]);
    if (pid < 0) {
        reason = std::strerror(errno);
        close(ends[0]);
        return false;
    }
    source.fd = ends[0];
    source.converter = pid;
    source.name = "/dev/fd/" + std::to_string(ends[0]);
    return true;
}

int wait_for_converter(MeshSource& source)
{
    if (source.converter <= 0)
        return 0;
    int status = 0;
    while (waitpid(source.converter, &status, 0) < 0 && errno == EINTR) {
    }
    source.converter = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void close_mesh_source(MeshSource& source)
{
    if (source.converter > 0) {
        kill(source.converter, SIGTERM);
        wait_for_converter(source);
    }
    if (source.fd >= 0)
        close(source.fd);
    source.fd = -1;
}
