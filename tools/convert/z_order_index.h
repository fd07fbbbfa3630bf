// Points in a plane kept in the order of a Z-order curve, so that those in a box are found
// without looking at the others: the box's stretch of the curve is walked, jumping over the
// parts that run outside it. Points may leave the index, never join it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

struct PlanePoint {
    double u, v;
};

struct ZOrderIndex {
    double u0 = 0, v0 = 0, scale = 0;                  // a point's cell: (place - lowest corner) * scale
    std::vector<std::pair<std::uint32_t, int>> entries; // (key, point), sorted by key
    std::vector<int> entry_of;                          // point to its entry, -1 when it is not in the index
    std::vector<int> live_from;                         // entry to the first entry at or after it still in the index
    std::size_t live = 0;                               // points in the index
};

// `members` of `points` into the index; its cells span all `points`.
void build_z_order_index(ZOrderIndex& index, const std::vector<PlanePoint>& points, const std::vector<int>& members);

void leave_z_order_index(ZOrderIndex& index, int point);

// The points of the index whose cells meet the box, in key order, until `stop(point)` says true;
// whether it did. `looked_at` counts the entries looked at, those the walk jumps from too.
template <typename Stop>
bool any_in_box(ZOrderIndex& index, PlanePoint low, PlanePoint high, Stop stop, std::size_t& looked_at);

// For any_in_box.
std::uint32_t z_order_key(const ZOrderIndex& index, PlanePoint p);
bool key_in_box(std::uint32_t key, std::uint32_t low, std::uint32_t high);
std::uint32_t next_key_in_box(std::uint32_t key, std::uint32_t low, std::uint32_t high);
int live_entry_from_key(ZOrderIndex& index, std::uint32_t key);
int live_entry(ZOrderIndex& index, int entry);

template <typename Stop>
bool any_in_box(ZOrderIndex& index, PlanePoint low, PlanePoint high, Stop stop, std::size_t& looked_at)
{
    const std::uint32_t first = z_order_key(index, low), last = z_order_key(index, high);
    const int end = int(index.entries.size());
    for (int e = live_entry_from_key(index, first); e < end && index.entries[std::size_t(e)].first <= last;) {
        ++looked_at;
        const auto [key, point] = index.entries[std::size_t(e)];
        if (!key_in_box(key, first, last)) {
            const std::uint32_t next = next_key_in_box(key, first, last);
            e = next > key ? live_entry_from_key(index, next) : live_entry(index, e + 1);
            continue;
        }
        if (stop(point))
            return true;
        e = live_entry(index, e + 1);
    }
    return false;
}
