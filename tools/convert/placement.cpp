// Turning, fitting and judging a model's place in the viewer's first view.
#include "placement.h"

#include <algorithm>
#include <cmath>

#include "first_view.h"

namespace {

// What the first view shows best: the bundled torus is about this wide.
const double fitted_size = 2.5;

// Where +Z goes from each up axis; each is a quarter or half turn about X or Y.
void turn(float v[3], UpAxis up)
{
    const float x = v[0], y = v[1], z = v[2];
    switch (up) {
    case UpAxis::z: return;
    case UpAxis::y: v[0] = x, v[1] = -z, v[2] = y; return;        // +90 degrees about X
    case UpAxis::minus_y: v[0] = x, v[1] = z, v[2] = -y; return;  // -90 degrees about X
    case UpAxis::minus_z: v[0] = x, v[1] = -y, v[2] = -z; return; // 180 degrees about X
    case UpAxis::x: v[0] = -z, v[1] = y, v[2] = x; return;        // -90 degrees about Y
    case UpAxis::minus_x: v[0] = z, v[1] = y, v[2] = -x; return;  // +90 degrees about Y
    }
}

void take_in(Bounds& b, const float p[3])
{
    for (int k = 0; k < 3; ++k) {
        b.min[k] = std::min(b.min[k], double(p[k]));
        b.max[k] = std::max(b.max[k], double(p[k]));
    }
}

// Centre of the box to the origin, then its largest side to fitted_size.
struct Fit {
    double centre[3];
    double scale;
};

Fit fit_for(const Bounds& b)
{
    const double side = std::max({b.max[0] - b.min[0], b.max[1] - b.min[1], b.max[2] - b.min[2]});
    return {{(b.min[0] + b.max[0]) / 2, (b.min[1] + b.max[1]) / 2, (b.min[2] + b.max[2]) / 2},
            side > 0 ? fitted_size / side : 1.0};
}

void place(float p[3], const Fit& fit)
{
    for (int k = 0; k < 3; ++k)
        p[k] = static_cast<float>((double(p[k]) - fit.centre[k]) * fit.scale);
}

} // namespace

bool parse_up_axis(const std::string& word, UpAxis& axis)
{
    static const struct {
        const char* word;
        UpAxis axis;
    } axes[] = {{"x", UpAxis::x},        {"y", UpAxis::y},        {"z", UpAxis::z},
                {"-x", UpAxis::minus_x}, {"-y", UpAxis::minus_y}, {"-z", UpAxis::minus_z}};
    for (const auto& a : axes)
        if (word == a.word) {
            axis = a.axis;
            return true;
        }
    return false;
}

void turn_up(ConvertedMesh& mesh, UpAxis up)
{
    for (ConvertedVertex& v : mesh.vertices) {
        turn(v.position, up);
        turn(v.normal, up);
    }
}

Bounds bounds_of(const ConvertedMesh& mesh)
{
    Bounds b{{HUGE_VAL, HUGE_VAL, HUGE_VAL}, {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}};
    for (const ConvertedVertex& v : mesh.vertices)
        take_in(b, v.position);
    return b;
}

void fit_into_view(ConvertedMesh& mesh)
{
    const Fit fit = fit_for(bounds_of(mesh));
    for (ConvertedVertex& v : mesh.vertices)
        place(v.position, fit);
}

ModelBounds model_bounds(const Bounds& b)
{
    return {{b.min[0], b.min[1], b.min[2]}, {b.max[0], b.max[1], b.max[2]}};
}

std::string view_hint(const Bounds& b)
{
    const std::string trouble = out_of_first_view(model_bounds(b));
    if (trouble.empty())
        return "";
    return "hint: " + trouble + ", but the first view shows about 5 units around the origin; --fit moves and "
           "scales it into view";
}
