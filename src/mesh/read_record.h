// One step of the reader, shared by every way of reading: in memory, in chunks, in parts.
#pragma once

#include "mesh/mesh_store.h"
#include "mesh/reading_notes.h"
#include "mesh/scan.h"

// The byte at the cursor is judged as if it began a line, and the record it begins is read.
// May throw std::bad_alloc when a list cannot grow.
void read_record(Cursor& in, MeshStore& mesh, ReadingNotes& notes);
