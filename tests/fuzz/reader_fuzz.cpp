// Coverage-guided fuzzing of the mesh reader: any bytes, read alone and in parts, must give
// exactly the reference reader's lists; any sanitizer report is a finding too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../mesh/mesh_compare.h"
#include "../mesh/reference_reader.h"
#include "mesh/mesh_reader.h"

namespace {

bool same(const MeshStore& a, const MeshStore& b)
{
    return a.vertices == b.vertices && a.faces == b.faces;
}

[[noreturn]] void report(const char* what, const MeshStore& got, const MeshStore& expected)
{
    std::fprintf(stderr, "%s: %zu vertices and %zu faces, the reference has %zu and %zu\n", what,
                 got.vertices.size(), got.faces.size(), expected.vertices.size(),
                 expected.faces.size());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const MeshStore expected = reference_read(text);
    MeshStore alone;
    read_mesh_text(text.data(), text.data() + text.size(), alone);
    if (!same(alone, expected))
        report("read alone", alone, expected);
    // Threads only for one input in 64: the sanitizer's bookkeeping keeps something of every
    // thread that ever ran, and the joining is the same either way.
    const int parts = 2 + int(size % 3);
    const bool on_threads = size % 64 == 0;
    MeshStore in_parts;
    read_mesh_text_in_parts(text.data(), text.data() + text.size(), in_parts, parts, on_threads);
    if (!same(in_parts, expected))
        report("read in parts", in_parts, expected);
    return 0;
}
