// The start-up dialogue: banner, prompt, the typed file name, then the file itself. Standard
// output carries only the dialogue; every problem goes to standard error.
#include "mesh/load_mesh.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "mesh/confined_reading.h"
#include "mesh/mesh_reader.h"
#include "mesh/mesh_store.h"
#include "mesh/reading_report.h"
#include "mesh/scan.h"

namespace {

const char* const banner = "\n\n\t\t\t *** OLVANTA ***";
const char* const prompt = "\n\nEnter File name: ";
const char* const loading = "Loading file...";

// Each part of the dialogue must be on the console before the program goes on.
void show(const char* text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// The dialogue ends without a line end; on a terminal a message would run on after it.
void begin_message()
{
    if (isatty(STDOUT_FILENO) && isatty(STDERR_FILENO))
        std::fputc('\n', stderr);
}

// One byte at a time: a buffered read would take the head of whatever follows the name on the
// same stream, such as the mesh itself when the name is /dev/stdin.
int next_byte(int fd)
{
    for (;;) {
        unsigned char c;
        const ssize_t got = read(fd, &c, 1);
        if (got == 1)
            return c;
        if (!(got < 0 && errno == EINTR))
            return EOF;
    }
}

} // namespace

bool read_word(int fd, std::string& word)
{
    int c = next_byte(fd);
    while (c != EOF && is_blank(static_cast<char>(c)))
        c = next_byte(fd);
    if (c == EOF)
        return false;
    word.clear();
    for (; c != EOF && !is_blank(static_cast<char>(c)); c = next_byte(fd))
        word.push_back(static_cast<char>(c));
    return true;
}

void load_mesh()
{
    show(banner);
    show(prompt);
    std::string filename;
    if (!read_word(STDIN_FILENO, filename)) {
        begin_message();
        std::fputs("olvanta: no file name: standard input ended\n", stderr);
        std::exit(1);
    }
    show(loading);
    const ReadReport report = read_mesh_file_confined(filename, mesh_store);
    report_reading("olvanta", true, filename, report, mesh_store);
}
