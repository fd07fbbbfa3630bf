// The viewer, with the mesh's name typed at its prompt, and everything olvanta-open watches while
// it runs: the converter feeding it, and what both say.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "mesh_source.h"

struct ViewerRun {
    pid_t viewer = -1;
    int errors = -1; // its standard error, when captured for a desktop notice
};

// Starts the viewer with the GLUT options; `typed` goes to its prompt, and `mesh_fd` (the file or
// the pipe that name stands for) stays open in it. -1 in run.viewer on failure, errno saying why.
ViewerRun start_viewer(const std::vector<std::string>& glut_options, const std::string& typed, int mesh_fd,
                       bool capture_errors);

// The line that says a model is shown fitted, with the way to see it as it lies.
std::string open_fitted_line(const std::string& file, const std::string& trouble);

struct RunEnding {
    int status = 0;      // olvanta-open's exit status: the viewer's, or 1 when the file was not shown
    std::string failure; // why it was not shown, in one line; empty when it was
};

// Follows the run to its end: what the converter and the viewer say is passed on (and the last
// line of each kept), the line about a model the converter fitted is said for `file`, a failed
// conversion ends the viewer before it shows an empty window, and a viewer that ends ends the
// conversion.
RunEnding follow_run(ViewerRun& run, MeshSource& source, const std::string& file);
