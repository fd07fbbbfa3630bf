// The Vertex/Face family read into the viewer's lists: vertex numbers taken as names, polygons cut
// into triangles, and a normal for every corner, in this order of choice: the Corner line's for
// that vertex in that face, the Vertex line's, or one made from the faces around the vertex that
// no sharp Edge parts from the corner's face. A vertex whose corners have different normals is
// written once for each.
#pragma once

#include <cstddef>
#include <string>

#include "convert_mesh.h"
#include "mesh/family_reader.h"

struct FamilyOutcome {
    std::size_t faces_left_out = 0; // faces naming a number no Vertex line has, or two have
    std::string first_left_out;     // the first of them, in words
};

FamilyOutcome complete_family_mesh(const FamilyMesh& family, ConvertedMesh& mesh);

// Whether any vertex position is infinite: the text cannot hold it.
bool has_infinite_position(const FamilyMesh& family);
