// Open addressing with linear probing over a power-of-two table. Bits, not values, make the key:
// 0 and -0 are different vertices, as in the file.
#include "corner_join.h"

#include <cstring>

namespace {

const float no_normal[3] = {0, 0, 0};

std::uint64_t hash_of(const float position[3], const float normal[3])
{
    std::uint32_t bits[6];
    std::memcpy(bits, position, 3 * sizeof(float));
    std::memcpy(bits + 3, normal, 3 * sizeof(float));
    std::uint64_t h = 0x9e3779b97f4a7c15ull;
    for (const std::uint32_t b : bits)
        h = (h ^ b) * 0xff51afd7ed558ccdull;
    h ^= h >> 32;
    h *= 0xc4ceb9fe1a85ec53ull;
    return h ^ (h >> 29);
}

bool same_vertex(const ConvertedVertex& v, const float position[3], const float normal[3])
{
    return std::memcmp(v.position, position, sizeof v.position) == 0 &&
           std::memcmp(v.normal, normal, sizeof v.normal) == 0;
}

std::uint64_t table_size_for(std::size_t vertices)
{
    std::uint64_t size = 1024;
    while (size < 2 * std::uint64_t(vertices))
        size *= 2;
    return size;
}

std::uint64_t tag_of(std::uint64_t hash)
{
    return hash >> 32;
}

void place(VertexJoin& join, std::uint64_t hash, std::uint32_t vertex)
{
    for (std::uint64_t at = hash & join.mask;; at = (at + 1) & join.mask)
        if (join.slots[at] == 0) {
            join.slots[at] = tag_of(hash) << 32 | (std::uint64_t(vertex) + 1);
            return;
        }
}

// Past half full the probes grow long: twice the slots, every vertex placed again.
void grow(VertexJoin& join)
{
    join.slots.assign(join.slots.size() * 2, 0);
    join.mask = join.slots.size() - 1;
    const std::vector<ConvertedVertex>& vertices = join.mesh->vertices;
    for (std::size_t i = 0; i < vertices.size(); ++i)
        place(join, hash_of(vertices[i].position, vertices[i].normal), std::uint32_t(i));
}

} // namespace

VertexJoin start_join(ConvertedMesh& mesh, std::size_t expected_vertices)
{
    VertexJoin join;
    join.mesh = &mesh;
    join.slots.assign(table_size_for(mesh.vertices.size() + expected_vertices), 0);
    join.mask = join.slots.size() - 1;
    mesh.vertices.reserve(mesh.vertices.size() + expected_vertices);
    return join;
}

int join_vertex(VertexJoin& join, const float position[3], const float normal[3])
{
    if (!normal)
        normal = no_normal;
    const std::uint64_t hash = hash_of(position, normal);
    const std::uint64_t tag = tag_of(hash);
    std::vector<ConvertedVertex>& vertices = join.mesh->vertices;
    for (std::uint64_t at = hash & join.mask;; at = (at + 1) & join.mask) {
        const std::uint64_t slot = join.slots[at];
        if (slot == 0)
            break;
        const std::uint32_t vertex = std::uint32_t(slot) - 1;
        if (slot >> 32 == tag && same_vertex(vertices[vertex], position, normal))
            return int(vertex);
    }
    ConvertedVertex v;
    std::memcpy(v.position, position, sizeof v.position);
    std::memcpy(v.normal, normal, sizeof v.normal);
    vertices.push_back(v);
    const std::uint32_t vertex = std::uint32_t(vertices.size() - 1);
    if (2 * vertices.size() > join.slots.size())
        grow(join);
    else
        place(join, hash, vertex);
    return int(vertex);
}

void end_join(VertexJoin& join)
{
    std::vector<std::uint64_t>().swap(join.slots);
    join.mask = 0;
}

bool lacks_normal(const ConvertedVertex& vertex)
{
    return std::memcmp(vertex.normal, no_normal, sizeof no_normal) == 0;
}
