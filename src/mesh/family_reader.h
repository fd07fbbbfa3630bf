// The whole family of the Vertex/Face text format, as the programs that write it write it: one
// record a line, "Vertex N x y z [{attributes}]", "Face N v1 v2 ... vk [{attributes}]" (k >= 3),
// "Corner v f {attributes}" and "Edge a b [{attributes}]"; "#" comments. Vertex numbers are names
// that the other records refer to; a number beyond the int range is not in a record's form. An
// attribute block holds key=(numbers), key="text", key=word or a bare key, in any order, the
// numbers apart by blanks or commas; only normal=(x y z) and the bare key sharp mean anything
// here. A block is read entry by entry, so damage in it costs only the entries it touches. Lines
// of any other kind, or whose record part does not fit their kind, are counted and skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FamilyVertex {
    int number;
    float position[3];
    float normal[3];
    bool has_normal; // a normal that is finite and not of zero length
};

// The normal that a Corner line gives vertex `vertex` in face `face`.
struct FamilyCorner {
    int vertex, face;
    float normal[3];
};

struct FamilyMesh {
    std::vector<FamilyVertex> vertices;    // in file order
    std::vector<int> face_numbers;          // per face, as the file numbers it
    std::vector<std::uint32_t> face_starts; // face i's vertex numbers are face_vertices[starts[i] ... starts[i+1])
    std::vector<int> face_vertices;         // vertex numbers, as the faces give them
    std::vector<FamilyCorner> corners;      // Corner lines with a normal
    std::vector<std::pair<int, int>> sharp_edges; // Edge lines marked sharp
    std::uint64_t skipped_lines = 0;        // lines of no record kind, or not in their kind's form
    std::uint64_t first_skipped_line = 0;   // its line number, from 1; 0 when none was skipped
    std::uint64_t damaged_blocks = 0;       // attribute blocks of read records that were read only in part
    std::uint64_t first_damaged_line = 0;   // the first such block's line number, from 1; 0 when none
    std::uint64_t unusable_normals = 0;     // normals of read records that were not three finite numbers, not all zero
};

inline std::size_t face_count(const FamilyMesh& mesh)
{
    return mesh.face_numbers.size();
}

// Reads one line, without its line end.
void read_family_line(const char* begin, const char* end, FamilyMesh& mesh);

// A text arriving in pieces of any size: whole lines are read where they lie, and only a line
// that runs over a piece's end is kept until the rest of it comes.
struct FamilyReading {
    FamilyMesh mesh;
    std::string unfinished_line;
    std::uint64_t lines = 0;  // lines read so far
    bool at_text_start = true; // a byte-order mark may come first
};

void read_family_bytes(FamilyReading& reading, const char* bytes, std::size_t count);
void finish_family_reading(FamilyReading& reading);

// A whole text, read in `parts` pieces cut at line ends, side by side on threads of their own,
// and joined: the same mesh as one reading of it.
FamilyMesh read_family_text(const char* begin, const char* end, int parts);

// Whether text that begins a file is of the family: its first record, after blank lines and
// "#" comments, is a Vertex, Face, Corner or Edge line.
bool begins_family_text(const char* begin, const char* end);
