// Cutting a polygon into triangles that keep its winding and stay inside it, concave or not.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

using Point = std::array<double, 3>;

// Twice the polygon's area times its unit normal (Newell's method): the direction its winding
// turns about, by the right hand, and as long as twice its area.
Point polygon_normal(const std::vector<Point>& polygon);

// What a cutting did, for those who watch its cost grow with the polygon.
struct EarWork {
    std::size_t ear_tests = 0;         // corners tried as an ear
    std::size_t corners_looked_at = 0; // reflex corners looked at inside those tries
};

// Appends three corner numbers (places in `polygon`) per triangle, polygon.size() - 2 triangles
// in all. Ears are cut in the polygon's own plane; a polygon with no area is cut as a fan from
// its first corner, and what is left of one too twisted to have an ear as a fan too.
void triangulate(const std::vector<Point>& polygon, std::vector<int>& corners, EarWork* work = nullptr);
