// Bit-exact comparison and readable printing of mesh records for test assertions.
#pragma once

#include <cstring>
#include <ostream>

#include "mesh/mesh_store.h"

inline bool operator==(const Vertex& a, const Vertex& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0; // bit for bit: -0 differs from 0
}

inline bool operator==(const Face& a, const Face& b)
{
    return a.v1 == b.v1 && a.v2 == b.v2 && a.v3 == b.v3;
}

inline void PrintTo(const Vertex& v, std::ostream* out)
{
    *out << "Vertex(" << v.x << ", " << v.y << ", " << v.z << " | " << v.nx << ", " << v.ny
         << ", " << v.nz << ")";
}

inline void PrintTo(const Face& f, std::ostream* out)
{
    *out << "Face(" << f.v1 << ", " << f.v2 << ", " << f.v3 << ")";
}
