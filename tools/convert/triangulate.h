// Cutting a polygon into triangles that keep its winding and stay inside it, concave or not.
#pragma once

#include <array>
#include <vector>

using Point = std::array<double, 3>;

// Twice the polygon's area times its unit normal (Newell's method): the direction its winding
// turns about, by the right hand, and as long as twice its area.
Point polygon_normal(const std::vector<Point>& polygon);

// Appends three corner numbers (places in `polygon`) per triangle, polygon.size() - 2 triangles
// in all. Ears are cut in the polygon's own plane; a polygon with no area, or too twisted to
// have an ear, is cut as a fan from its first corner.
void triangulate(const std::vector<Point>& polygon, std::vector<int>& corners);
