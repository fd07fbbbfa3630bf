// How a thumbnail sees a mesh: from the viewer's first angle, in an orthogonal projection that
// the drawn faces just fill, whatever the model's size and wherever it lies.
#pragma once

#include "mesh/mesh_store.h"

struct ThumbnailView {
    double turn[9] = {};                 // the viewer's first turn, as a matrix by rows
    double centre[3] = {};               // the middle of what is drawn, in model units
    double half_width = 0;               // of the square seen, in model units, margin included
    double near_plane = 0, far_plane = 0; // around the drawn faces' depth
    bool has_area = false;               // false: no face, or every face on one point or line
};

// The view of the faces that can be drawn; vertices no face uses do not count.
ThumbnailView view_of(const MeshStore& mesh);

// Moves the mesh so the view's centre is at the origin: single-precision drawing then keeps the
// detail of a small model far from the origin.
void centre_mesh(MeshStore& mesh, const ThumbnailView& view);

// The projection and model-view matrices for a centred mesh.
void set_thumbnail_matrices(const ThumbnailView& view);
