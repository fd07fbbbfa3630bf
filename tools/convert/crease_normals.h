// Normals for a mesh whose file says nothing about its corners, only about its faces (an STL's
// facet normals): the faces around a vertex that meet across an edge at no more than the crease
// angle share one normal there, the area-weighted mean of theirs; where they meet at more, the
// edge stays sharp. So a CAD part keeps its edges and a scanned surface reads smooth.
//
// Cost: one pass over the faces for their normals, a counting sort of the corners by vertex, and
// for each vertex a grouping of its corners by the edges they share: a scan of every pair for the
// few faces most vertices have, a sort for the many around a fan's hub. Memory: 12 bytes a face
// and 4 a corner besides the lists.
#pragma once

#include "convert_mesh.h"

// Faces that meet at more than this many degrees keep a sharp edge between them.
const double crease_angle_degrees = 30;

// Gives every vertex of `mesh` (joined by position, without normals) its normal; a vertex whose
// corners fall in more than one group is written once more for each further group, after the
// others. A face without area reaches no other across its edges.
void make_crease_normals(ConvertedMesh& mesh);
