// One small mesh in each way the tools take one: the viewer's own form, the family without
// normals and gzipped, OBJ with its material, PLY, binary STL, OFF, and glTF with its buffer.
#pragma once

#include <cstdint>
#include <string>

#include "scratch_folder.h"
#include "test_files.h"

inline std::string binary_stl()
{
    const float corners[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const int faces[4][3] = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
    std::string bytes(80, ' ');
    const std::uint32_t count = 4;
    bytes.append(reinterpret_cast<const char*>(&count), 4);
    for (const auto& face : faces) {
        const float normal[3] = {0, 0, 0};
        bytes.append(reinterpret_cast<const char*>(normal), sizeof normal);
        for (const int corner : face)
            bytes.append(reinterpret_cast<const char*>(corners[corner]), sizeof corners[corner]);
        bytes.append(2, '\0');
    }
    return bytes;
}

const char* const tetrahedron_faces = "3 0 2 1\n3 0 1 3\n3 0 3 2\n3 1 2 3\n";
const char* const tetrahedron_corners = "0 0 0\n1 0 0\n0 1 0\n0 0 1\n";

inline std::string triangle_buffer()
{
    const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    return std::string(reinterpret_cast<const char*>(corners), sizeof corners);
}

const char* const gltf_text =
    R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],
"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],"buffers":[{"uri":"tri.bin","byteLength":36}],
"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36}],
"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}]})";

// In the folder `in`: torus.m, raw.m, raw.m.gz, cube.obj and cube.mtl, tetra.ply, tetra.stl,
// tetra.off, tri.gltf and tri.bin.
inline void write_inputs(const std::string& in)
{
    write_bytes(in + "/torus.m", run_command("'" OLVANTA_GENERATOR_PATH "' 24 12").out);
    write_bytes(in + "/raw.m", run_command("sed 's/ {normal=([^)]*)}//' '" + in + "/torus.m'").out);
    write_bytes(in + "/raw.m.gz", run_command("gzip -c '" + in + "/raw.m'").out);
    write_bytes(in + "/cube.obj", "mtllib cube.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\n"
                                  "v 1 1 1\nv 0 1 1\nusemtl red\nf 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\n"
                                  "f 3 4 8 7\nf 4 1 5 8\n");
    write_bytes(in + "/cube.mtl", "newmtl red\nKd 1 0 0\n");
    write_bytes(in + "/tetra.ply", std::string("ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\n"
                                               "property float y\nproperty float z\nelement face 4\n"
                                               "property list uchar int vertex_indices\nend_header\n") +
                                       tetrahedron_corners + tetrahedron_faces);
    write_bytes(in + "/tetra.stl", binary_stl());
    write_bytes(in + "/tetra.off", std::string("OFF\n4 4 6\n") + tetrahedron_corners + tetrahedron_faces);
    write_bytes(in + "/tri.gltf", gltf_text);
    write_bytes(in + "/tri.bin", triangle_buffer());
}
