// olvanta-open's command line: GLUT options for the viewer, --as-is, and the FILE last.
#pragma once

#include <string>
#include <vector>

extern const char* const open_usage;

struct OpenOptions {
    std::vector<std::string> glut_options; // passed to the viewer unchanged, in order
    std::string file;
    bool as_is = false; // the model where its coordinates put it, even out of the first view
    bool help = false, version = false;
};

// False with one line that says what is wrong.
bool parse_open_options(int argc, const char* const* argv, OpenOptions& options, std::string& reason);
