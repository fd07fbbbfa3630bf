// The files an import may read: the input itself, through the descriptor it was handed, and the
// files the input names (a glTF's buffers), which the confined import cannot open: it asks its
// parent, which opens only regular files in the input's folder or below it, the kernel itself
// holding the name beneath the folder, and hands back the descriptor.
#pragma once

#include <assimp/cfileio.h>

#include <string>

// The import's side. `input` is the input's name as the import is given it.
struct CompanionAsking {
    std::string input;
};

// Callbacks for the import library: every file it opens is read through a descriptor.
aiFileIO companion_file_io(CompanionAsking& asking);

// The parent's side.
struct CompanionOpening {
    int folder = -1;     // the input's folder, opened as a path; -1: the input is read alone
    std::string input;   // the input's name, as given
    std::string refused; // the first name not opened, and why ("'x', which ..."); or empty
    int answered = 0;    // how many names were asked
};

// The input's folder, unless the input names a descriptor (a copy in memory), which has none.
CompanionOpening companion_opening_for(const std::string& input);

// Answers one request waiting on `socket`; false when the socket has ended or says nonsense.
bool answer_companion_request(int socket, CompanionOpening& opening);

void close_companion_opening(CompanionOpening& opening);
