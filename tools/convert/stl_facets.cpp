// The winding's normal is the cross product of two edges. Each position is rounded to single
// precision, off by up to half a unit in its last place; that turns the cross product by at most
// about (|u| + |v|) times that error over its length, which for a sliver can be large.
#include "stl_facets.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

const double pi = 3.14159265358979323846;

double length_of(const double v[3])
{
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

double largest_magnitude(const float a[3], const float b[3], const float c[3])
{
    double most = 0;
    for (const float* p : {a, b, c})
        for (int k = 0; k < 3; ++k)
            most = std::max(most, std::fabs(double(p[k])));
    return most;
}

} // namespace

void judge_facet(const float facet[3], const float a[3], const float b[3], const float c[3], FacetCounts& counts)
{
    ++counts.facets;
    const double n[3] = {facet[0], facet[1], facet[2]};
    const double facet_length = length_of(n);
    if (!std::isfinite(facet_length) || facet_length == 0) {
        ++counts.unusable;
        return;
    }
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    const double w[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const double winding_length = length_of(w);
    if (!(winding_length > 0))
        return;
    // The sine of the largest turn rounding explains, and the cosine of the angle allowed.
    static const double agreement_sine = std::sin(facet_agreement_degrees * pi / 180);
    static const double agreement_cosine = std::cos(facet_agreement_degrees * pi / 180);
    const double rounding = std::min(1.0, 4 * FLT_EPSILON * largest_magnitude(a, b, c) * (length_of(u) + length_of(v)) / winding_length);
    const double allowed_cosine = rounding <= agreement_sine ? agreement_cosine : std::sqrt(1 - rounding * rounding);
    const double cosine = (n[0] * w[0] + n[1] * w[1] + n[2] * w[2]) / (facet_length * winding_length);
    if (cosine < allowed_cosine)
        ++counts.disagreeing;
}
