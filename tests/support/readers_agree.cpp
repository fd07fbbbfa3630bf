#include "readers_agree.h"

#include <algorithm>
#include <cmath>

#include "mesh/family_reader.h"
#include "mesh/mesh_reader.h"

namespace {

FamilyMesh family_reading(const std::string& text)
{
    const std::string bare = text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
    FamilyMesh family;
    for (std::size_t at = 0; at <= bare.size();) {
        const std::size_t end = std::min(bare.find('\n', at), bare.size());
        read_family_line(bare.data() + at, bare.data() + end, family);
        at = end + 1;
    }
    return family;
}

bool same_vertex(const Vertex& v, const FamilyVertex& f, std::size_t place)
{
    return float(v.x) == f.position[0] && float(v.y) == f.position[1] && float(v.z) == f.position[2] &&
           float(v.nx) == f.normal[0] && float(v.ny) == f.normal[1] && float(v.nz) == f.normal[2] && f.has_normal &&
           f.number == int(place + 1) && std::isfinite(f.position[0]) && std::isfinite(f.position[1]) &&
           std::isfinite(f.position[2]);
}

} // namespace

bool both_readers_agree(const std::string& text, std::string& why)
{
    // As the viewer reads a file: a byte-order mark at the start is skipped.
    MeshStore viewer;
    ReadingPlan plan;
    plan.on_threads = false;
    read_text_as_file(text, viewer, plan);
    const FamilyMesh family = family_reading(text);
    if (viewer.vertices.size() != family.vertices.size() || viewer.faces.size() != face_count(family) ||
        family.skipped_lines != 0) {
        why = "counts differ";
        return false;
    }
    for (std::size_t i = 0; i < viewer.vertices.size(); ++i)
        if (!same_vertex(viewer.vertices[i], family.vertices[i], i)) {
            why = "vertex " + std::to_string(i + 1) + " differs";
            return false;
        }
    for (std::size_t k = 0; k < viewer.faces.size(); ++k) {
        const Face& v = viewer.faces[k];
        const int* f = family.face_vertices.data() + family.face_starts[k];
        if (family.face_starts[k + 1] - family.face_starts[k] != 3 || v.v1 != f[0] - 1 || v.v2 != f[1] - 1 ||
            v.v3 != f[2] - 1) {
            why = "face " + std::to_string(k + 1) + " differs";
            return false;
        }
    }
    return true;
}
