// Ear clipping in the plane the polygon mostly lies in: a corner whose triangle turns the same
// way as the polygon and holds no other corner is an ear, and is cut off. Every corner is tried
// once, then only the two neighbours of each ear cut, since no other corner's triangle changed.
// Only reflex corners can lie inside an ear's triangle, so only they are looked for, in a
// Z-order index. A corner on the straight line between its neighbours is taken out of the ring
// as soon as it is one, and put back at the end into the triangle on that line: long straight
// runs, such as a comb's back once its teeth are cut, then cost nothing.
#include "triangulate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>

#include "z_order_index.h"

namespace {

// The polygon seen along its normal's largest axis, turned so that its winding is anticlockwise.
std::vector<PlanePoint> flattened(const std::vector<Point>& polygon, const Point& normal)
{
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (std::fabs(normal[k]) > std::fabs(normal[axis]))
            axis = k;
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    const double sign = normal[axis] < 0 ? -1.0 : 1.0;
    std::vector<PlanePoint> flat;
    flat.reserve(polygon.size());
    for (const Point& p : polygon)
        flat.push_back({sign * p[a], p[b]});
    return flat;
}

double turn(const PlanePoint& a, const PlanePoint& b, const PlanePoint& c)
{
    return (b.u - a.u) * (c.v - a.v) - (b.v - a.v) * (c.u - a.u);
}

// Inside or on the edge of the anticlockwise triangle abc. A polygon in a tilted plane has its
// corners rounded off its lines, so a corner that lies on an edge counts as on it when it is
// off by no more than a rounding of the triangle's size.
bool within(const PlanePoint& p, const PlanePoint& a, const PlanePoint& b, const PlanePoint& c)
{
    const double size = std::max({std::fabs(a.u - b.u), std::fabs(b.u - c.u), std::fabs(c.u - a.u),
                                  std::fabs(a.v - b.v), std::fabs(b.v - c.v), std::fabs(c.v - a.v)});
    const double rounding = -1e-12 * size * size;
    return turn(a, b, p) >= rounding && turn(b, c, p) >= rounding && turn(c, a, p) >= rounding;
}

bool same_place(const PlanePoint& p, const PlanePoint& q)
{
    return p.u == q.u && p.v == q.v;
}

// The corners not yet cut off, as a ring, and what is known of each.
struct Ring {
    const std::vector<PlanePoint>& flat;
    std::vector<int> prev, next;
    std::vector<char> reflex, ear, gone;
    ZOrderIndex reflex_corners;
    std::deque<int> ears;                  // corners found to be ears, in the order found
    std::vector<std::array<int, 3>> taken; // (corner, before, after) of straight corners, in the order taken out
    std::size_t left = 0;
    EarWork work;
};

const PlanePoint& at(const Ring& r, int corner)
{
    return r.flat[std::size_t(corner)];
}

bool is_reflex(const Ring& r, int i)
{
    return !(turn(at(r, r.prev[std::size_t(i)]), at(r, i), at(r, r.next[std::size_t(i)])) > 0);
}

// On the straight line between its neighbours, and between them.
bool is_straight(const Ring& r, int i)
{
    const PlanePoint &a = at(r, r.prev[std::size_t(i)]), &p = at(r, i), &c = at(r, r.next[std::size_t(i)]);
    return turn(a, p, c) == 0 && (a.u - p.u) * (c.u - p.u) + (a.v - p.v) * (c.v - p.v) < 0;
}

void build_ring(Ring& r)
{
    const int n = int(r.flat.size());
    for (int i = 0; i < n; ++i) {
        r.prev.push_back((i + n - 1) % n);
        r.next.push_back((i + 1) % n);
    }
    r.reflex.assign(std::size_t(n), 0);
    r.ear.assign(std::size_t(n), 0);
    r.gone.assign(std::size_t(n), 0);
    std::vector<int> reflex;
    for (int i = 0; i < n; ++i)
        if ((r.reflex[std::size_t(i)] = is_reflex(r, i)))
            reflex.push_back(i);
    build_z_order_index(r.reflex_corners, r.flat, reflex);
    r.left = std::size_t(n);
}

// Whether a reflex corner, other than a, b and c and not where one of them is, lies in abc.
bool holds_a_reflex_corner(Ring& r, int a, int b, int c)
{
    const PlanePoint &pa = at(r, a), &pb = at(r, b), &pc = at(r, c);
    const PlanePoint low{std::min({pa.u, pb.u, pc.u}), std::min({pa.v, pb.v, pc.v})};
    const PlanePoint high{std::max({pa.u, pb.u, pc.u}), std::max({pa.v, pb.v, pc.v})};
    const auto blocks = [&](int p) {
        const PlanePoint& pp = at(r, p);
        return p != a && p != b && p != c && !same_place(pp, pa) && !same_place(pp, pb) && !same_place(pp, pc) &&
               within(pp, pa, pb, pc);
    };
    return any_in_box(r.reflex_corners, low, high, blocks, r.work.corners_looked_at);
}

bool is_ear(Ring& r, int b)
{
    ++r.work.ear_tests;
    const int a = r.prev[std::size_t(b)], c = r.next[std::size_t(b)];
    // Asked afresh: in a polygon that crosses itself a convex corner may turn reflex.
    if (!(turn(at(r, a), at(r, b), at(r, c)) > 0))
        return false;
    return r.reflex_corners.live == 0 || !holds_a_reflex_corner(r, a, b, c);
}

void take_out_of_ring(Ring& r, int b)
{
    const int a = r.prev[std::size_t(b)], c = r.next[std::size_t(b)];
    r.next[std::size_t(a)] = c;
    r.prev[std::size_t(c)] = a;
    r.gone[std::size_t(b)] = 1;
    leave_z_order_index(r.reflex_corners, b);
    --r.left;
}

// A corner whose neighbours changed: taken out when it now lies straight between them (and
// its neighbours looked at in turn), else known afresh as reflex or not, ear or not.
void look_again(Ring& r, int corner)
{
    std::vector<int> waiting{corner};
    while (!waiting.empty()) {
        const int i = waiting.back();
        waiting.pop_back();
        if (r.gone[std::size_t(i)])
            continue;
        if (r.left > 3 && is_straight(r, i)) {
            r.taken.push_back({i, r.prev[std::size_t(i)], r.next[std::size_t(i)]});
            take_out_of_ring(r, i);
            waiting.insert(waiting.end(), {r.taken.back()[1], r.taken.back()[2]});
            continue;
        }
        if (r.reflex[std::size_t(i)] && !is_reflex(r, i)) {
            r.reflex[std::size_t(i)] = 0;
            leave_z_order_index(r.reflex_corners, i);
        }
        const bool was_ear = r.ear[std::size_t(i)];
        r.ear[std::size_t(i)] = is_ear(r, i);
        if (r.ear[std::size_t(i)] && !was_ear)
            r.ears.push_back(i);
    }
}

void fan(const std::vector<int>& left, std::vector<int>& corners)
{
    for (std::size_t i = 1; i + 1 < left.size(); ++i)
        corners.insert(corners.end(), {left[0], left[i], left[i + 1]});
}

// Every ear found is cut, in the order found; when none is left, what is left is cut as a fan.
void clip_ears(Ring& r, std::vector<int>& corners)
{
    for (int i = 0; i < int(r.flat.size()); ++i)
        look_again(r, i);
    while (r.left > 3 && !r.ears.empty()) {
        const int b = r.ears.front();
        r.ears.pop_front();
        if (r.gone[std::size_t(b)] || !r.ear[std::size_t(b)])
            continue;
        const int a = r.prev[std::size_t(b)], c = r.next[std::size_t(b)];
        corners.insert(corners.end(), {a, b, c});
        take_out_of_ring(r, b);
        look_again(r, a);
        look_again(r, c);
    }
    int first = 0;
    while (r.gone[std::size_t(first)])
        ++first;
    std::vector<int> rest{first};
    for (int i = r.next[std::size_t(first)]; i != first; i = r.next[std::size_t(i)])
        rest.push_back(i);
    fan(rest, corners);
}

std::uint64_t edge_key(int from, int to)
{
    return std::uint64_t(std::uint32_t(from)) << 32 | std::uint32_t(to);
}

// The triangle of each edge that a straight corner lies on, as the triangles stand; only those
// edges are looked for, and only from the corners they start at, so a polygon with a few
// straight corners costs no more than one without.
struct WantedEdges {
    std::unordered_map<std::uint64_t, std::size_t> triangle_of; // edge, in its triangle's winding
    std::vector<char> starts_one;                                // by corner
};

void note_edges(WantedEdges& wanted, const std::vector<int>& corners, std::size_t t)
{
    for (std::size_t k = 0; k < 3; ++k) {
        if (!wanted.starts_one[std::size_t(corners[t + k])])
            continue;
        const auto edge = wanted.triangle_of.find(edge_key(corners[t + k], corners[t + (k + 1) % 3]));
        if (edge != wanted.triangle_of.end())
            edge->second = t;
    }
}

// Each straight corner, the last taken out first, splits the triangle that holds the line from
// its neighbour before to its neighbour after in two.
void put_back_straight_corners(const Ring& r, std::vector<int>& corners, std::size_t first)
{
    if (r.taken.empty())
        return;
    const std::size_t none = SIZE_MAX;
    WantedEdges wanted{{}, std::vector<char>(r.flat.size(), 0)};
    for (const auto& [p, before, after] : r.taken) {
        wanted.triangle_of.emplace(edge_key(before, after), none);
        wanted.starts_one[std::size_t(before)] = 1;
    }
    for (std::size_t t = first; t < corners.size(); t += 3)
        note_edges(wanted, corners, t);
    for (auto taken = r.taken.rbegin(); taken != r.taken.rend(); ++taken) {
        const auto [p, before, after] = *taken;
        const std::size_t t = wanted.triangle_of.at(edge_key(before, after));
        if (t == none)
            continue; // only a polygon that crosses itself gets here; its corners are all in the fan
        std::size_t k = 0;
        while (corners[t + k] != before)
            ++k;
        const int opposite = corners[t + (k + 2) % 3];
        corners[t] = before, corners[t + 1] = p, corners[t + 2] = opposite;
        corners.insert(corners.end(), {p, after, opposite});
        note_edges(wanted, corners, t);
        note_edges(wanted, corners, corners.size() - 3);
    }
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

void triangulate(const std::vector<Point>& polygon, std::vector<int>& corners, EarWork* work)
{
    std::vector<int> all;
    for (int i = 0; i < int(polygon.size()); ++i)
        all.push_back(i);
    const Point normal = polygon_normal(polygon);
    if (polygon.size() == 3 || !(std::fabs(normal[0]) + std::fabs(normal[1]) + std::fabs(normal[2]) > 0)) {
        fan(all, corners);
        return;
    }
    const std::vector<PlanePoint> flat = flattened(polygon, normal);
    Ring ring{flat, {}, {}, {}, {}, {}, {}, {}, {}, {}, 0, {}};
    build_ring(ring);
    const std::size_t first = corners.size();
    clip_ears(ring, corners);
    put_back_straight_corners(ring, corners, first);
    if (work)
        *work = ring.work;
}
