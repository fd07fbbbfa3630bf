// How large a zip archive (3MF, Collada's .zae and others are zips) says its members are once
// inflated. The import library inflates a member whole into memory, to the size its directory
// gives, so this is the memory the archive will ask for before any of it is parsed.
#pragma once

#include <cstdint>

// The sum of the members' inflated sizes; 0 when the file (read through `fd`) is no zip archive
// or its directory cannot be read (the import library then refuses it itself).
std::uint64_t inflated_size_of_archive(int fd);
