// The first view's limits: larger than 50 units fills the window with lines, smaller than 0.05 is
// a dot, a centre more than 10 units away is off the screen.
#include "first_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const double largest_that_shows = 50;
const double smallest_that_shows = 0.05;
const double farthest_centre = 10;

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

} // namespace

ModelBounds no_bounds()
{
    return {{HUGE_VAL, HUGE_VAL, HUGE_VAL}, {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}};
}

void take_point(ModelBounds& b, const float p[3])
{
    for (int k = 0; k < 3; ++k) {
        b.low[k] = std::min(b.low[k], double(p[k]));
        b.high[k] = std::max(b.high[k], double(p[k]));
    }
}

void take_bounds(ModelBounds& b, const ModelBounds& more)
{
    for (int k = 0; k < 3; ++k) {
        b.low[k] = std::min(b.low[k], more.low[k]);
        b.high[k] = std::max(b.high[k], more.high[k]);
    }
}

bool has_points(const ModelBounds& b)
{
    return b.low[0] <= b.high[0];
}

double largest_side(const ModelBounds& b)
{
    return std::max({b.high[0] - b.low[0], b.high[1] - b.low[1], b.high[2] - b.low[2]});
}

std::string out_of_first_view(const ModelBounds& b)
{
    if (!has_points(b))
        return "";
    const double side = largest_side(b);
    const double centre[3] = {(b.low[0] + b.high[0]) / 2, (b.low[1] + b.high[1]) / 2, (b.low[2] + b.high[2]) / 2};
    const double distance = std::sqrt(centre[0] * centre[0] + centre[1] * centre[1] + centre[2] * centre[2]);
    std::string trouble;
    if (side > largest_that_shows)
        trouble = "the model is " + number(side) + " units across";
    else if (side < smallest_that_shows)
        trouble = "the model is only " + number(side) + " units across";
    if (distance > farthest_centre)
        trouble += (trouble.empty() ? "the model's centre lies " : " and its centre lies ") + number(distance) +
                   " units from the origin";
    return trouble;
}
