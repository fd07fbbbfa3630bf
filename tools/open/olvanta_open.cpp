// olvanta-open [--as-is] [GLUT OPTIONS] FILE: shows any mesh file in the viewer, whole and in view.
// The file is opened once and judged whole; a file in the viewer's own form is handed to it by
// descriptor, anything else the converter reads goes through it into a pipe; a model the first
// view would not show is fitted into it. When the file cannot be shown and nobody watches standard
// error (a file manager started us), a desktop notice says why. The exit status is the viewer's,
// or 1 when the file could not be shown at all.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "confine/confinement.h"
#include "desktop_notice.h"
#include "mesh/shown_text.h"
#include "mesh_source.h"
#include "olvanta_version.h"
#include "open_options.h"
#include "viewer_run.h"

namespace {

int cannot_show(const std::string& file, const std::string& line, const std::string& why)
{
    if (!line.empty())
        std::fprintf(stderr, "olvanta-open: %s\n", line.c_str());
    if (!isatty(STDERR_FILENO))
        notify_desktop(file, why);
    return 1;
}

void say_how_it_is_shown(const std::string& file, const MeshSource& source)
{
    if (holds_no_mesh(source))
        std::fprintf(stderr, "olvanta-open: %s holds no mesh; the window shows an empty scene\n",
                     quoted_name(file).c_str());
    if (source.converter > 0 && !source.judgement.in_viewers_form)
        std::fprintf(stderr, "olvanta-open: %s is not in the viewer's own form; it is converted on the way, "
                             "and no file is written\n", quoted_name(file).c_str());
    if (!source.fitted.empty())
        std::fprintf(stderr, "olvanta-open: %s\n", open_fitted_line(file, source.fitted).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    OpenOptions options;
    std::string reason;
    if (!parse_open_options(argc, argv, options, reason)) {
        std::fprintf(stderr, "olvanta-open: %s\n%s", reason.c_str(), open_usage);
        return 2;
    }
    if (options.help || options.version) {
        if (options.help)
            std::fputs(open_usage, stdout);
        else
            std::printf("olvanta-open %s\nconfinement: %s\n", OLVANTA_VERSION,
                        describe_confinement(confinement_on_offer(ConfinedKind::reading)).c_str());
        return 0;
    }
    const bool for_a_notice = !isatty(STDERR_FILENO);
    SourceOptions way_in;
    way_in.fitting = options.as_is ? Fitting::as_it_lies : Fitting::when_out_of_view;
    way_in.hold_pipe = true;
    way_in.capture_converter = for_a_notice;
    MeshSource source;
    if (!open_mesh_source(options.file, way_in, source, reason)) {
        const std::string line = source_failure_line(options.file, source, reason, way_in);
        return cannot_show(options.file, line, line);
    }
    say_how_it_is_shown(options.file, source);
    ViewerRun run = start_viewer(options.glut_options, source.name, source.fd, for_a_notice);
    if (run.viewer < 0) {
        const std::string line = std::string("cannot start the viewer: ") + std::strerror(errno);
        close_mesh_source(source);
        return cannot_show(options.file, line, line);
    }
    // Only the viewer reads the mesh now, so that a converter learns when it has gone.
    close(source.fd);
    source.fd = -1;
    const RunEnding ending = follow_run(run, source, options.file);
    if (!ending.failure.empty() && for_a_notice)
        notify_desktop(options.file, ending.failure);
    return ending.status;
}
