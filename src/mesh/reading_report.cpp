// The messages about a reading, shared by the viewer's dialogue and the snapshot tool.
#include "mesh/reading_report.h"

#include <cstdarg>
#include <cstdio>
#include <unistd.h>

#include "mesh/shown_text.h"

namespace {

struct Speaker {
    const char* program;
    bool after_dialogue;
};

__attribute__((format(printf, 2, 3))) void say(const Speaker& speaker, const char* format, ...)
{
    if (speaker.after_dialogue && isatty(STDOUT_FILENO) && isatty(STDERR_FILENO))
        std::fputc('\n', stderr);
    std::fprintf(stderr, "%s: ", speaker.program);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

// Why reading stopped early, when it did; the mesh keeps what came before. `name` is quoted.
void report_stop(const Speaker& s, const char* name, const ReadReport& report, const MeshStore& mesh)
{
    const std::size_t vertices = mesh.vertices.size(), faces = mesh.faces.size();
    switch (report.outcome) {
    case ReadOutcome::read_failed:
        say(s, "reading %s failed: %s; showing the %zu vertices and %zu faces read before", name,
            report.reason.c_str(), vertices, faces);
        break;
    case ReadOutcome::out_of_memory:
        say(s, "memory ran out while reading %s; showing the %zu vertices and %zu faces read before", name,
            vertices, faces);
        break;
    case ReadOutcome::overlong_record:
        say(s, "%s has a record that runs on for more than %zu bytes; reading stopped there, showing the %zu "
               "vertices and %zu faces read before",
            name, longest_record, vertices, faces);
        break;
    case ReadOutcome::complete:
    case ReadOutcome::cannot_open:
        break;
    }
    if (report.file_changed)
        say(s, "warning: %s changed while it was read; showing the %zu vertices and %zu faces read", name,
            vertices, faces);
}

// Most files of the format's family have no normal part on their Vertex lines, or number their
// vertices by name: the viewer reads neither, and says so instead of only counting the damage,
// so there are never more than three warning lines. `name` is shown, for the commands' quotes.
void warn_about_the_form(const Speaker& s, const char* name, const ReadReport& report, const MeshStore& mesh)
{
    const ReadingFindings& f = report.findings;
    if (f.unread_normals)
        say(s, "warning: %llu Vertex %s no normal part in the form this viewer reads, \"Vertex N x y z "
               "{normal=(nx ny nz)}\", and %s skipped; 'olvanta-open %s' shows the file, and 'olvanta-convert %s "
               "COPY' writes a copy in that form",
            (unsigned long long)f.unread_normals, f.unread_normals == 1 ? "line has" : "lines have",
            f.unread_normals == 1 ? "was" : "were", name, name);
    else if (f.misnumbered)
        say(s, "warning: the vertices' numbers are not their places (vertex %llu in the file is numbered %d), but "
               "faces count vertices by place; 'olvanta-open %s' shows the file as its numbers mean it",
            (unsigned long long)f.misnumbered_place, f.misnumbered_number, name);
    else if (const std::size_t count = count_faces_naming_missing_vertices(mesh))
        say(s, "warning: %zu of %zu faces name vertices that the file does not have; they are not drawn", count,
            mesh.faces.size());
}

void warn_about_the_mesh(const Speaker& s, const MeshStore& mesh)
{
    if (const std::size_t count = count_non_finite_vertices(mesh))
        say(s, "warning: %zu of %zu vertices lie beyond single precision (infinite); the faces through them are "
               "not drawn",
            count, mesh.vertices.size());
}

} // namespace

bool report_reading(const char* program, bool after_dialogue, const std::string& filename,
                    const ReadReport& report, const MeshStore& mesh)
{
    const Speaker speaker{program, after_dialogue};
    if (report.outcome == ReadOutcome::cannot_open) {
        say(speaker, "cannot open %s: %s", quoted_name(filename).c_str(), report.reason.c_str());
        return false;
    }
    report_stop(speaker, quoted_name(filename).c_str(), report, mesh);
    warn_about_the_form(speaker, shown(filename).c_str(), report, mesh);
    warn_about_the_mesh(speaker, mesh);
    return true;
}
