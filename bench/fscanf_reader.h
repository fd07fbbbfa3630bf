// The reading loop the format was first read with: one character, then the C library's fscanf
// with the record's format. The benchmark's baseline; the tests' second oracle.
#pragma once

#include <cstdio>

#include "mesh/mesh_store.h"

MeshStore fscanf_read_stream(std::FILE* in);
