// Open addressing with linear probing over a power-of-two table. Bits, not values, make the key:
// 0 and -0 are different vertices, as in the file.
#include "corner_join.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>

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

namespace {

// One thread's share of the positions: those whose hash falls to it, each with the first corner
// that has it.
struct Share {
    std::vector<std::uint64_t> slots; // tag << 32 | (first + 1), first an index into firsts
    std::uint64_t mask = 0;
    struct First {
        std::uint32_t corner;
        float position[3];
    };
    std::vector<First> firsts; // in corner order
    bool read_well = true;
};

std::uint64_t position_hash(const float p[3])
{
    return hash_of(p, no_normal);
}

void grow_share(Share& share)
{
    share.slots.assign(share.slots.size() * 2, 0);
    share.mask = share.slots.size() - 1;
    for (std::size_t i = 0; i < share.firsts.size(); ++i) {
        const std::uint64_t hash = position_hash(share.firsts[i].position);
        for (std::uint64_t at = hash & share.mask;; at = (at + 1) & share.mask)
            if (share.slots[at] == 0) {
                share.slots[at] = tag_of(hash) << 32 | (std::uint64_t(i) + 1);
                break;
            }
    }
}

// The first corner with this position, the corner itself when it is the first.
std::uint32_t first_with(Share& share, std::uint32_t corner, const float p[3], std::uint64_t hash)
{
    const std::uint64_t tag = tag_of(hash);
    std::uint64_t at = hash & share.mask;
    for (;; at = (at + 1) & share.mask) {
        const std::uint64_t slot = share.slots[at];
        if (slot == 0)
            break;
        const Share::First& first = share.firsts[std::uint32_t(slot) - 1];
        if (slot >> 32 == tag && std::memcmp(first.position, p, sizeof first.position) == 0)
            return first.corner;
    }
    share.firsts.push_back({corner, {p[0], p[1], p[2]}});
    share.slots[at] = tag << 32 | std::uint64_t(share.firsts.size());
    if (2 * share.firsts.size() > share.slots.size())
        grow_share(share);
    return corner;
}

struct Joining {
    std::size_t corners;
    CornerPositions read;
    void* context;
    int threads;
    std::vector<int>& corner_vertices;
};

// Corners are taken a batch at a time: every slot a batch will look at is asked of memory first,
// so that the waits for the table's scattered slots overlap.
const std::size_t batch = 16;

void join_share(Joining& j, int thread, Share& share)
{
    std::vector<float> positions(3 * corners_per_read);
    std::uint64_t hashes[batch];
    for (std::size_t first = 0; first < j.corners && share.read_well; first += corners_per_read) {
        const std::size_t count = std::min(corners_per_read, j.corners - first);
        if (!j.read(j.context, thread, first, count, positions.data())) {
            share.read_well = false;
            break;
        }
        for (std::size_t b = 0; b < count; b += batch) {
            const std::size_t in_batch = std::min(batch, count - b);
            for (std::size_t c = 0; c < in_batch; ++c) {
                hashes[c] = position_hash(&positions[3 * (b + c)]);
                if (int(hashes[c] >> 61) % j.threads == thread)
                    __builtin_prefetch(&share.slots[hashes[c] & share.mask]);
            }
            for (std::size_t c = 0; c < in_batch; ++c)
                if (int(hashes[c] >> 61) % j.threads == thread)
                    j.corner_vertices[first + b + c] =
                        int(first_with(share, std::uint32_t(first + b + c), &positions[3 * (b + c)], hashes[c]));
        }
    }
}

} // namespace

bool join_by_position(std::size_t corners, CornerPositions read, void* context, int threads, ConvertedMesh& mesh)
{
    threads = std::max(1, std::min(threads, 8));
    mesh.corner_vertices.assign(corners, 0);
    std::vector<Share> shares(static_cast<std::size_t>(threads));
    for (Share& share : shares) {
        share.slots.assign(table_size_for(corners / 6 / std::size_t(threads) + 16), 0);
        share.mask = share.slots.size() - 1;
    }
    Joining j{corners, read, context, threads, mesh.corner_vertices};
    std::vector<std::thread> running;
    for (int t = 1; t < threads; ++t) {
        try {
            running.emplace_back(join_share, std::ref(j), t, std::ref(shares[std::size_t(t)]));
        } catch (const std::system_error&) {
            join_share(j, t, shares[std::size_t(t)]);
        }
    }
    join_share(j, 0, shares[0]);
    for (std::thread& thread : running)
        thread.join();
    for (const Share& share : shares)
        if (!share.read_well)
            return false;
    // In corner order, every corner that comes first with its position is the next vertex, and
    // the shares' lists of firsts, each in corner order, give them in that order too.
    std::vector<std::size_t> next_first(shares.size(), 0);
    std::size_t vertices = 0;
    for (const Share& share : shares)
        vertices += share.firsts.size();
    mesh.vertices.reserve(mesh.vertices.size() + vertices);
    for (std::size_t c = 0; c < corners; ++c) {
        const std::size_t first = std::size_t(mesh.corner_vertices[c]);
        if (first != c) {
            mesh.corner_vertices[c] = mesh.corner_vertices[first];
            continue;
        }
        const Share::First* taken = nullptr;
        for (std::size_t s = 0; s < shares.size() && !taken; ++s)
            if (next_first[s] < shares[s].firsts.size() && shares[s].firsts[next_first[s]].corner == c)
                taken = &shares[s].firsts[next_first[s]++];
        ConvertedVertex v{};
        std::memcpy(v.position, taken->position, sizeof v.position);
        mesh.corner_vertices[c] = int(mesh.vertices.size());
        mesh.vertices.push_back(v);
    }
    return true;
}

bool lacks_normal(const ConvertedVertex& vertex)
{
    return std::memcmp(vertex.normal, no_normal, sizeof no_normal) == 0;
}
