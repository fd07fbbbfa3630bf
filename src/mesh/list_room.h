// Lists that never copy while they grow, and lists copied over without two whole copies alive.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mesh/mesh_store.h"

// Room for every record that begins in `bytes` of text, up to most_list_bytes in all, so the lists
// never move while they grow. Pages that no record reaches stay address space, not memory.
// When even the address space is not to be had, the lists grow as usual.
void reserve_for_text(MeshStore& mesh, std::uint64_t bytes, std::size_t most_list_bytes);

// Room for exactly these many records, in huge pages where the kernel offers them.
void reserve_lists(MeshStore& mesh, std::size_t vertices, std::size_t faces);

// Whether the lists can take every record that begins in `bytes` more of text without moving.
bool has_room_for_text(const MeshStore& mesh, std::uint64_t bytes);

// Appends from[first...] to `into`, giving up the pages of `from` as they are copied, then
// empties `from`.
void move_records(std::vector<Vertex>& into, std::vector<Vertex>& from, std::size_t first);
void move_records(std::vector<Face>& into, std::vector<Face>& from, std::size_t first);

std::size_t list_bytes(const MeshStore& mesh);
