// A table costs four bytes per number between the lowest and the highest: it is built only when
// that is at most about twice the vertices, else the numbers are sorted with their places.
#include "vertex_names.h"

#include <algorithm>

namespace {

bool dense(long long lowest, long long highest, std::size_t vertices)
{
    return highest - lowest < 2 * static_cast<long long>(vertices) + 1024;
}

} // namespace

VertexNames names_of(const std::vector<FamilyVertex>& vertices)
{
    VertexNames names;
    if (vertices.empty())
        return names;
    long long lowest = vertices[0].number, highest = lowest;
    for (const FamilyVertex& v : vertices)
        lowest = std::min<long long>(lowest, v.number), highest = std::max<long long>(highest, v.number);
    names.lowest = lowest;
    if (dense(lowest, highest, vertices.size())) {
        names.table.assign(std::size_t(highest - lowest + 1), missing_vertex);
        for (std::size_t i = 0; i < vertices.size(); ++i) {
            int& slot = names.table[std::size_t(vertices[i].number - lowest)];
            slot = slot == missing_vertex ? int(i) : twice_named_vertex;
        }
        return names;
    }
    names.pairs.reserve(vertices.size());
    for (std::size_t i = 0; i < vertices.size(); ++i)
        names.pairs.emplace_back(vertices[i].number, int(i));
    std::sort(names.pairs.begin(), names.pairs.end());
    return names;
}

int place_of(const VertexNames& names, int number)
{
    if (!names.table.empty()) {
        const long long at = number - names.lowest;
        return at < 0 || at >= static_cast<long long>(names.table.size()) ? missing_vertex : names.table[std::size_t(at)];
    }
    const auto found = std::lower_bound(names.pairs.begin(), names.pairs.end(), std::make_pair(number, -1));
    if (found == names.pairs.end() || found->first != number)
        return missing_vertex;
    const auto next = found + 1;
    return next != names.pairs.end() && next->first == number ? twice_named_vertex : found->second;
}
