// The start-up dialogue: banner, prompt, the typed file name, then the file itself. Standard
// output carries only the dialogue; every problem goes to standard error.
#include "mesh/load_mesh.h"

#include <cstdlib>
#include <unistd.h>

#include "mesh/mesh_reader.h"
#include "mesh/mesh_store.h"
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

void warn_about_missing_vertices(const MeshStore& mesh)
{
    const std::size_t count = count_faces_naming_missing_vertices(mesh);
    if (count == 0)
        return;
    begin_message();
    std::fprintf(stderr,
                 "olvanta: warning: %zu of %zu faces name vertices that the file does not have; "
                 "they are not drawn\n",
                 count, mesh.faces.size());
}

void warn_about_non_finite_vertices(const MeshStore& mesh)
{
    const std::size_t count = count_non_finite_vertices(mesh);
    if (count == 0)
        return;
    begin_message();
    std::fprintf(stderr,
                 "olvanta: warning: %zu of %zu vertices lie beyond single precision (infinite); "
                 "the faces through them are not drawn\n",
                 count, mesh.vertices.size());
}

// Why reading stopped early, when it did; the mesh keeps what came before.
void report_stop(const std::string& filename, const ReadReport& report, const MeshStore& mesh)
{
    const char* const name = filename.c_str();
    const std::size_t vertices = mesh.vertices.size(), faces = mesh.faces.size();
    switch (report.outcome) {
    case ReadOutcome::read_failed:
        begin_message();
        std::fprintf(stderr, "olvanta: reading '%s' failed: %s; showing the %zu vertices and %zu faces read before\n",
                     name, report.reason.c_str(), vertices, faces);
        break;
    case ReadOutcome::out_of_memory:
        begin_message();
        std::fprintf(stderr, "olvanta: memory ran out while reading '%s'; showing the %zu vertices and %zu faces read before\n",
                     name, vertices, faces);
        break;
    case ReadOutcome::overlong_record:
        begin_message();
        std::fprintf(stderr, "olvanta: '%s' has a record that runs on for more than %zu bytes; reading stopped there, "
                     "showing the %zu vertices and %zu faces read before\n",
                     name, longest_record, vertices, faces);
        break;
    case ReadOutcome::complete:
    case ReadOutcome::cannot_open:
        break;
    }
    if (report.file_changed) {
        begin_message();
        std::fprintf(stderr, "olvanta: warning: '%s' changed while it was read; showing the %zu vertices and %zu faces read\n",
                     name, vertices, faces);
    }
}

} // namespace

bool read_word(std::FILE* in, std::string& word)
{
    int c = std::getc(in);
    while (c != EOF && is_blank(static_cast<char>(c)))
        c = std::getc(in);
    if (c == EOF)
        return false;
    word.clear();
    for (; c != EOF && !is_blank(static_cast<char>(c)); c = std::getc(in))
        word.push_back(static_cast<char>(c));
    return true;
}

void load_mesh()
{
    show(banner);
    show(prompt);
    std::string filename;
    if (!read_word(stdin, filename)) {
        begin_message();
        std::fputs("olvanta: no file name: standard input ended\n", stderr);
        std::exit(1);
    }
    show(loading);
    const ReadReport report = read_mesh_file(filename, mesh_store);
    if (report.outcome == ReadOutcome::cannot_open) {
        begin_message();
        std::fprintf(stderr, "olvanta: cannot open '%s': %s\n", filename.c_str(), report.reason.c_str());
        return;
    }
    report_stop(filename, report, mesh_store);
    warn_about_missing_vertices(mesh_store);
    warn_about_non_finite_vertices(mesh_store);
}
