// Reserving for text not yet read, and moving records between lists a slice at a time.
#include "mesh/list_room.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <sys/mman.h>

namespace {

// The shortest texts that still hold a whole record: "Vertex1 1 1 1{normal=(1 1 1" and
// "Face1 1 1 1". No text holds more records than its bytes allow for.
const std::size_t shortest_vertex_record = 26;
const std::size_t shortest_face_record = 11;

// Pages the copy has passed go back to the system at once; the vector is emptied right after.
void give_up_pages(const void* begin, const void* end)
{
    const std::uintptr_t page = 4096;
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
    const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(end) & ~(page - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

template <typename Record>
void move_in_slices(std::vector<Record>& into, std::vector<Record>& from, std::size_t first)
{
    const std::size_t slice = (std::size_t(1) << 20) / sizeof(Record);
    for (std::size_t at = first; at < from.size(); at += slice) {
        const std::size_t end = std::min(from.size(), at + slice);
        into.insert(into.end(), from.begin() + static_cast<long>(at), from.begin() + static_cast<long>(end));
        give_up_pages(from.data() + at, from.data() + end);
    }
    std::vector<Record>().swap(from);
}

// One more record: the last may begin inside the bytes and end past them.
std::uint64_t most_vertices_in(std::uint64_t bytes)
{
    return bytes / shortest_vertex_record + 2;
}

std::uint64_t most_faces_in(std::uint64_t bytes)
{
    return bytes / shortest_face_record + 2;
}

} // namespace

// Lists of millions of records fault in a page at a time, and on a virtual machine every fault
// is a trip to the hypervisor: where the kernel offers huge pages, the lists take them, a fault
// for every 2 MiB instead of every 4 KiB.
template <typename Record>
void ask_for_huge_pages(const std::vector<Record>& list)
{
    const std::uintptr_t huge = std::uintptr_t(2) << 20;
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(list.data());
    const std::uintptr_t first = (begin + huge - 1) & ~(huge - 1);
    const std::uintptr_t last = (begin + list.capacity() * sizeof(Record)) & ~(huge - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void reserve_for_text(MeshStore& mesh, std::uint64_t bytes, std::size_t most_list_bytes)
{
    const std::uint64_t vertices =
        mesh.vertices.size() + std::min<std::uint64_t>(most_vertices_in(bytes), most_list_bytes / sizeof(Vertex));
    const std::uint64_t faces =
        mesh.faces.size() + std::min<std::uint64_t>(most_faces_in(bytes), most_list_bytes / sizeof(Face));
    try {
        mesh.vertices.reserve(static_cast<std::size_t>(vertices));
        mesh.faces.reserve(static_cast<std::size_t>(faces));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    ask_for_huge_pages(mesh.vertices);
    ask_for_huge_pages(mesh.faces);
}

void reserve_lists(MeshStore& mesh, std::size_t vertices, std::size_t faces)
{
    mesh.vertices.reserve(vertices);
    mesh.faces.reserve(faces);
    ask_for_huge_pages(mesh.vertices);
    ask_for_huge_pages(mesh.faces);
}

bool has_room_for_text(const MeshStore& mesh, std::uint64_t bytes)
{
    return mesh.vertices.capacity() - mesh.vertices.size() >= most_vertices_in(bytes) &&
           mesh.faces.capacity() - mesh.faces.size() >= most_faces_in(bytes);
}

void move_records(std::vector<Vertex>& into, std::vector<Vertex>& from, std::size_t first)
{
    move_in_slices(into, from, first);
}

void move_records(std::vector<Face>& into, std::vector<Face>& from, std::size_t first)
{
    move_in_slices(into, from, first);
}

std::size_t list_bytes(const MeshStore& mesh)
{
    return mesh.vertices.size() * sizeof(Vertex) + mesh.faces.size() * sizeof(Face);
}
