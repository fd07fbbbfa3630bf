// Placing a model for the viewer's first view: turned so that its up axis points along +Z (the
// viewer's grid is the Z = 0 plane), moved and scaled into the few units the first view shows,
// and judged for how it would show there as it is.
#pragma once

#include <string>
#include <vector>

#include "convert_mesh.h"
#include "first_view.h"

enum class UpAxis { x, y, z, minus_x, minus_y, minus_z };

// "x", "y", "z", "-x", "-y" or "-z".
bool parse_up_axis(const std::string& word, UpAxis& axis);

// A proper rotation (no mirroring) that takes the named axis to +Z; normals turn with the
// positions and the winding of every triangle is kept. Sign flips and swaps only: exact.
void turn_up(ConvertedMesh& mesh, UpAxis up);

struct Bounds {
    double min[3], max[3];
};

Bounds bounds_of(const ConvertedMesh& mesh);
ModelBounds model_bounds(const Bounds& bounds);

// Centres the bounding box on the origin and scales uniformly so that its largest side is 2.5
// units, as the bundled torus sits. A model that is one point is only moved.
void fit_into_view(ConvertedMesh& mesh);

// A line of advice when the model as it is would show badly in the first view (larger than 50
// units, smaller than 0.05, or centred more than 10 units away); empty when it shows well.
std::string view_hint(const Bounds& bounds);
