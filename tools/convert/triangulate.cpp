// Ear clipping in the plane the polygon mostly lies in: a corner whose triangle turns the same
// way as the polygon and holds no other corner is an ear, and is cut off.
#include "triangulate.h"

#include <cmath>

namespace {

struct Flat {
    double u, v;
};

// The polygon seen along its normal's largest axis, turned so that its winding is anticlockwise.
std::vector<Flat> flattened(const std::vector<Point>& polygon, const Point& normal)
{
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (std::fabs(normal[k]) > std::fabs(normal[axis]))
            axis = k;
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    const double sign = normal[axis] < 0 ? -1.0 : 1.0;
    std::vector<Flat> flat;
    flat.reserve(polygon.size());
    for (const Point& p : polygon)
        flat.push_back({sign * p[a], p[b]});
    return flat;
}

double turn(const Flat& a, const Flat& b, const Flat& c)
{
    return (b.u - a.u) * (c.v - a.v) - (b.v - a.v) * (c.u - a.u);
}

// Inside or on the edge of the anticlockwise triangle abc.
bool within(const Flat& p, const Flat& a, const Flat& b, const Flat& c)
{
    return turn(a, b, p) >= 0 && turn(b, c, p) >= 0 && turn(c, a, p) >= 0;
}

bool is_ear(const std::vector<Flat>& flat, const std::vector<int>& left, std::size_t i)
{
    const std::size_t n = left.size();
    const int a = left[(i + n - 1) % n], b = left[i], c = left[(i + 1) % n];
    if (!(turn(flat[a], flat[b], flat[c]) > 0))
        return false;
    for (const int other : left) {
        if (other == a || other == b || other == c)
            continue;
        const Flat& p = flat[other];
        const bool same_place = (p.u == flat[a].u && p.v == flat[a].v) || (p.u == flat[b].u && p.v == flat[b].v) ||
                                (p.u == flat[c].u && p.v == flat[c].v);
        if (!same_place && within(p, flat[a], flat[b], flat[c]))
            return false;
    }
    return true;
}

void fan(const std::vector<int>& left, std::vector<int>& corners)
{
    for (std::size_t i = 1; i + 1 < left.size(); ++i)
        corners.insert(corners.end(), {left[0], left[i], left[i + 1]});
}

} // namespace

Point polygon_normal(const std::vector<Point>& polygon)
{
    Point n{0, 0, 0};
    for (std::size_t i = 0; i < polygon.size(); ++i) {
        const Point& p = polygon[i];
        const Point& q = polygon[(i + 1) % polygon.size()];
        n[0] += (p[1] - q[1]) * (p[2] + q[2]);
        n[1] += (p[2] - q[2]) * (p[0] + q[0]);
        n[2] += (p[0] - q[0]) * (p[1] + q[1]);
    }
    return n;
}

void triangulate(const std::vector<Point>& polygon, std::vector<int>& corners)
{
    std::vector<int> left;
    for (int i = 0; i < int(polygon.size()); ++i)
        left.push_back(i);
    if (polygon.size() == 3) {
        fan(left, corners);
        return;
    }
    const Point normal = polygon_normal(polygon);
    if (!(std::fabs(normal[0]) + std::fabs(normal[1]) + std::fabs(normal[2]) > 0)) {
        fan(left, corners);
        return;
    }
    const std::vector<Flat> flat = flattened(polygon, normal);
    while (left.size() > 3) {
        std::size_t ear = left.size();
        for (std::size_t i = 0; i < left.size() && ear == left.size(); ++i)
            if (is_ear(flat, left, i))
                ear = i;
        if (ear == left.size())
            break;
        const std::size_t n = left.size();
        corners.insert(corners.end(), {left[(ear + n - 1) % n], left[ear], left[(ear + 1) % n]});
        left.erase(left.begin() + long(ear));
    }
    fan(left, corners);
}
