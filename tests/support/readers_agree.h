// Of a text judged in the viewer's form, the viewer's reading and the family's must be one mesh:
// the same vertices in the same places, the same normals, the same triangles, nothing skipped.
#pragma once

#include <string>

// True when both readers read the text alike; otherwise `why` says where they first differ.
bool both_readers_agree(const std::string& text, std::string& why);
