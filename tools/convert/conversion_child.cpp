// The child's side of a conversion. It may die in the import library at any moment, so it says
// what it reached before each step, and marks running out of memory before the library can turn
// that into an abort.
#include "conversion_child.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "archive_size.h"
#include "binary_stl.h"
#include "obj_file.h"
#include "ply_file.h"
#include "confine/confinement.h"
#include "family_file.h"
#include "family_mesh.h"
#include "first_view.h"
#include "conversion_failure.h"
#include "conversion_limits.h"
#include "convert_mesh.h"
#include "crease_normals.h"
#include "import_scene.h"
#include "mesh/shown_text.h"
#include "placement.h"

namespace {

int report_to = -1;

// Shown, so that no name or library message can end a line early and say a line of its own.
void say(int fd, const std::string& line)
{
    const std::string text = shown_line(line) + "\n";
    if (write(fd, text.data(), text.size()) != ssize_t(text.size()))
        _exit(3);
}

// Called by operator new when memory runs out: the mark survives whatever the library does with
// the exception (some paths abort on it).
void mark_out_of_memory()
{
    const char mark[] = "out of memory\n";
    if (write(report_to, mark, sizeof mark - 1) < 0)
        _exit(3);
    std::set_new_handler(nullptr);
}

// The formats read without the import library: simple enough to read in one pass, and common
// enough in big files that the library's way (the whole file and every corner held at once) would
// cost the memory and the time a person waits.
enum class OwnReader { none, binary_stl, obj, ply };

OwnReader own_reader_for(int input)
{
    if (is_binary_stl(input))
        return OwnReader::binary_stl;
    if (is_ply(input))
        return OwnReader::ply;
    if (is_obj_text(input))
        return OwnReader::obj;
    return OwnReader::none;
}

bool all_positions_finite(const ConvertedMesh& mesh)
{
    for (const ConvertedVertex& v : mesh.vertices)
        if (!std::isfinite(v.position[0]) || !std::isfinite(v.position[1]) || !std::isfinite(v.position[2]))
            return false;
    return true;
}

// An archive whose members inflate beyond the limit is refused before the library inflates them.
bool archive_fits(const Conversion& c, std::string& reason)
{
    const std::uint64_t inflated = inflated_size_of_archive(input_descriptor);
    if (inflated <= c.memory_bytes)
        return true;
    reason = quoted_name(c.options->input) + " is too large: it inflates to " + std::to_string(inflated / mib) +
             " MiB, beyond the memory limit of " + std::to_string(c.memory_bytes / mib) +
             " MiB (--memory-limit raises it)";
    return false;
}

bool import(const Conversion& c, ImportedMesh& imported, std::string& reason)
{
    const std::string& input = c.options->input;
    const OwnReader own = own_reader_for(input_descriptor);
    if (own != OwnReader::none) {
        imported.facet_normals = own == OwnReader::binary_stl;
        const bool read = own == OwnReader::binary_stl ? read_binary_stl(input_descriptor, imported.mesh, imported.facets, reason)
                          : own == OwnReader::obj      ? read_obj(input_descriptor, imported.mesh, reason)
                                                       : read_ply(input_descriptor, imported.mesh, reason);
        if (!read)
            reason = "cannot read " + quoted_name(input) + " as a mesh: " + reason;
        else if (imported.mesh.corner_vertices.empty())
            reason = quoted_name(input) + " holds no triangles (only points or lines, or nothing)";
        else if (!all_positions_finite(imported.mesh))
            reason = quoted_name(input) + " has vertex positions that are not finite numbers";
        else
            return true;
        return false;
    }
    if (!archive_fits(c, reason))
        return false;
    const bool imported_well = import_mesh(input, imported, reason);
    if (!imported_well && reason.find("std::bad_alloc") != std::string::npos)
        reason = ran_out_of_memory(input, false, c.memory_bytes);
    return imported_well;
}

// The text goes straight into the output it was handed, which it may only append to; its
// parent syncs and names it once it has seen the bytes are all there.
bool write_mesh(const ConvertedMesh& mesh, std::uint64_t& bytes, std::string& reason)
{
    static char buffer[1 << 16];
    std::FILE* out = fdopen(output_descriptor, "wb");
    if (!out) {
        reason = std::strerror(errno);
        return false;
    }
    setvbuf(out, buffer, _IOFBF, sizeof buffer);
    errno = 0;
    const bool written = write_viewer_text(mesh, out, &bytes) && std::fflush(out) == 0;
    if (!written)
        reason = std::strerror(errno ? errno : EIO);
    std::fclose(out);
    return written;
}

int write_and_count(const ConvertedMesh& mesh, const Conversion& c)
{
    std::string reason;
    std::uint64_t bytes = 0;
    if (!write_mesh(mesh, bytes, reason)) {
        say(report_to, "error cannot write " + quoted_name(c.target->named) + ": " + reason);
        return 1;
    }
    say(report_to, "done " + std::to_string(mesh.vertices.size()) + " " + std::to_string(mesh.corner_vertices.size() / 3) +
                       " " + std::to_string(bytes));
    return 0;
}

// Whether to fit the model; a model that would not show as it lies gets a line that says so: the
// hint, or what was done about it.
bool must_fit(const ConvertOptions& options, const Bounds& bounds)
{
    if (options.fit)
        return true;
    const std::string hint = view_hint(bounds);
    if (hint.empty())
        return false;
    if (!options.fit_when_needed) {
        say(report_to, hint);
        return false;
    }
    say(report_to, "fitted: " + out_of_first_view(model_bounds(bounds)));
    return true;
}

int place_and_write(ConvertedMesh& mesh, const Conversion& c)
{
    turn_up(mesh, c.options->up);
    if (must_fit(*c.options, bounds_of(mesh)))
        fit_into_view(mesh);
    return write_and_count(mesh, c);
}

// An STL's facet normals that were zero or pointed another way than their faces.
void say_what_facets_were_unused(const FacetCounts& facets)
{
    if (facets.unusable || facets.disagreeing)
        say(report_to, "facets: " + std::to_string(facets.unusable) + " " + std::to_string(facets.disagreeing));
}

int complete_place_and_write(ImportedMesh& imported, const Conversion& c)
{
    if (imported.facet_normals)
        make_crease_normals(imported.mesh);
    else
        complete_normals(imported.mesh);
    say_what_facets_were_unused(imported.facets);
    return place_and_write(imported.mesh, c);
}

// What the family's reading had to pass over or read in part, for the converter's warning lines.
void say_what_was_skipped(const FamilyMesh& family)
{
    if (family.skipped_lines)
        say(report_to, "skipped: " + std::to_string(family.skipped_lines) + " " + std::to_string(family.first_skipped_line));
    if (family.damaged_blocks || family.unusable_normals)
        say(report_to, "attributes: " + std::to_string(family.damaged_blocks) + " " +
                           std::to_string(family.first_damaged_line) + " " + std::to_string(family.unusable_normals));
}

// The Vertex/Face family is read by our own reader, never by the import library.
int convert_family(const Conversion& c)
{
    const std::string& input = c.options->input;
    FamilyMesh family;
    std::string reason;
    if (!read_family_file(input_descriptor, family, reason)) {
        say(report_to, "error cannot read " + quoted_name(input) + ": " + reason);
        return 1;
    }
    say_what_was_skipped(family);
    if (has_infinite_position(family)) {
        say(report_to, "error " + quoted_name(input) + " has vertex positions that are not finite numbers");
        return 1;
    }
    say(report_to, "converting");
    ConvertedMesh mesh;
    const FamilyOutcome outcome = complete_family_mesh(family, mesh);
    if (outcome.faces_left_out)
        say(report_to, "left out: " + std::to_string(outcome.faces_left_out) + " " + outcome.first_left_out);
    family = FamilyMesh{};
    if (mesh.corner_vertices.empty()) {
        say(report_to, "error " + quoted_name(input) + " holds no triangles (only points or lines, or nothing)");
        return 1;
    }
    return place_and_write(mesh, c);
}

} // namespace

int convert_in_child(void* context)
{
    const Conversion& c = *static_cast<const Conversion*>(context);
    const int report_fd = report_descriptor;
    report_to = report_fd;
    std::set_new_handler(mark_out_of_memory);
    say(report_fd, "importing");
    try {
        std::string damage;
        const FileLook look = look_into_file(input_descriptor, damage);
        if (look == FileLook::damaged_compression) {
            say(report_fd, "error cannot read " + quoted_name(c.options->input) + ": " + damage);
            return 1;
        }
        if (look == FileLook::family)
            return convert_family(c);
    } catch (const std::bad_alloc&) {
        say(report_fd, "error " + ran_out_of_memory(c.options->input, false, c.memory_bytes));
        return 1;
    }
    try {
        ImportedMesh imported;
        std::string reason;
        if (!import(c, imported, reason)) {
            say(report_fd, "error " + reason);
            return 1;
        }
        say(report_fd, "converting");
        return complete_place_and_write(imported, c);
    } catch (const std::bad_alloc&) {
        say(report_fd, "error ran out of memory converting " + quoted_name(c.options->input));
        return 1;
    }
}
