// Whether a model shows in the viewer's first view as it lies: the eye 5 units from the origin with
// a 60 degree field, so about 5 units around the origin are seen. The converter's hint and
// olvanta-open's fitting both judge by this one rule.
#pragma once

#include <string>

struct ModelBounds {
    double low[3], high[3]; // low above high on every axis: no vertex
};

ModelBounds no_bounds();
void take_point(ModelBounds& bounds, const float p[3]);
void take_bounds(ModelBounds& bounds, const ModelBounds& more);
bool has_points(const ModelBounds& bounds);
double largest_side(const ModelBounds& bounds);

// Empty when the model shows well as it lies (or has no vertex); else what keeps it from showing,
// in words: "the model is 160 units across and its centre lies 380 units from the origin".
std::string out_of_first_view(const ModelBounds& bounds);
