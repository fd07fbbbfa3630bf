// Keys of sixteen bits per coordinate, interleaved; the jump over the curve's parts outside a
// box is the classic "BIGMIN" search: from the highest bit down, where the key and the box's
// corners part, the smallest key above that is still in the box is narrowed down.
#include "z_order_index.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

std::uint32_t spread_bits(std::uint32_t x)
{
    x = (x | (x << 8)) & 0x00FF00FFu;
    x = (x | (x << 4)) & 0x0F0F0F0Fu;
    x = (x | (x << 2)) & 0x33333333u;
    x = (x | (x << 1)) & 0x55555555u;
    return x;
}

std::uint32_t gather_bits(std::uint32_t x)
{
    x &= 0x55555555u;
    x = (x | (x >> 1)) & 0x33333333u;
    x = (x | (x >> 2)) & 0x0F0F0F0Fu;
    x = (x | (x >> 4)) & 0x00FF00FFu;
    x = (x | (x >> 8)) & 0x0000FFFFu;
    return x;
}

std::uint32_t cell(double offset, double scale)
{
    return std::uint32_t(std::clamp(offset * scale, 0.0, 65535.0));
}

} // namespace

void build_z_order_index(ZOrderIndex& index, const std::vector<PlanePoint>& points, const std::vector<int>& members)
{
    double u1 = points.empty() ? 0 : points[0].u, v1 = points.empty() ? 0 : points[0].v;
    index.u0 = u1, index.v0 = v1;
    for (const PlanePoint& p : points)
        index.u0 = std::min(index.u0, p.u), index.v0 = std::min(index.v0, p.v), u1 = std::max(u1, p.u), v1 = std::max(v1, p.v);
    const double size = std::max(u1 - index.u0, v1 - index.v0);
    index.scale = size > 0 && std::isfinite(size) ? 65535.0 / size : 0.0;
    index.entries.clear();
    for (const int point : members)
        index.entries.emplace_back(z_order_key(index, points[std::size_t(point)]), point);
    std::sort(index.entries.begin(), index.entries.end());
    index.entry_of.assign(points.size(), -1);
    for (std::size_t e = 0; e < index.entries.size(); ++e)
        index.entry_of[std::size_t(index.entries[e].second)] = int(e);
    index.live_from.resize(index.entries.size() + 1);
    for (std::size_t e = 0; e <= index.entries.size(); ++e)
        index.live_from[e] = int(e);
    index.live = index.entries.size();
}

void leave_z_order_index(ZOrderIndex& index, int point)
{
    const int e = index.entry_of[std::size_t(point)];
    if (e < 0)
        return;
    index.entry_of[std::size_t(point)] = -1;
    index.live_from[std::size_t(e)] = e + 1;
    --index.live;
}

std::uint32_t z_order_key(const ZOrderIndex& index, PlanePoint p)
{
    return spread_bits(cell(p.u - index.u0, index.scale)) | spread_bits(cell(p.v - index.v0, index.scale)) << 1;
}

bool key_in_box(std::uint32_t key, std::uint32_t low, std::uint32_t high)
{
    const std::uint32_t u = gather_bits(key), v = gather_bits(key >> 1);
    return u >= gather_bits(low) && u <= gather_bits(high) && v >= gather_bits(low >> 1) && v <= gather_bits(high >> 1);
}

// For a key between low and high whose cell lies outside their box: the smallest key above it
// whose cell lies inside.
std::uint32_t next_key_in_box(std::uint32_t key, std::uint32_t low, std::uint32_t high)
{
    std::uint32_t found = high;
    for (int bit = 31; bit >= 0; --bit) {
        const std::uint32_t mask = 1u << bit;
        const std::uint32_t below = (bit % 2 ? 0xAAAAAAAAu : 0x55555555u) & (mask - 1); // the same coordinate's lower bits
        const bool k = key & mask, l = low & mask, h = high & mask;
        if (!k && !l && h) {
            found = (low & ~below) | mask;
            high = (high & ~mask) | below;
        } else if (!k && l && h) {
            return low;
        } else if (k && !l && !h) {
            return found;
        } else if (k && !l && h) {
            low = (low & ~below) | mask;
        }
    }
    return found;
}

// The first entry at or after `entry` still in the index; the way there is shortened for the
// next search, so entries that left are passed over only a few times.
int live_entry(ZOrderIndex& index, int entry)
{
    int found = entry;
    while (index.live_from[std::size_t(found)] != found)
        found = index.live_from[std::size_t(found)];
    while (index.live_from[std::size_t(entry)] != found) {
        const int on = index.live_from[std::size_t(entry)];
        index.live_from[std::size_t(entry)] = found;
        entry = on;
    }
    return found;
}

int live_entry_from_key(ZOrderIndex& index, std::uint32_t key)
{
    const auto at = std::lower_bound(index.entries.begin(), index.entries.end(), std::make_pair(key, INT_MIN));
    return live_entry(index, int(at - index.entries.begin()));
}
