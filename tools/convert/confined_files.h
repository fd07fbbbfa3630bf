// The files an import may open: the input itself, and regular files in the input's folder or
// below it (materials, buffers, textures). A name that leads anywhere else, or to a FIFO or a
// device, is not opened; the first such name is kept, with why, for the converter to say.
#pragma once

#include <assimp/cfileio.h>

#include <string>

struct Confinement {
    std::string input;   // the input, links resolved
    std::string folder;  // its folder, links resolved, ending in '/'
    std::string refused; // the first companion not opened, and why ("'x', which ..."); or empty
};

// False with the system's reason when the input itself cannot be resolved.
bool confine_to_input(const std::string& input, Confinement& confinement, std::string& reason);

// Callbacks for the import library that open files through the confinement.
aiFileIO confined_file_io(Confinement& confinement);
