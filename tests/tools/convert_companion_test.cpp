// What an input may make the import open: files beside it or below it, and only regular ones.
// A name that leads elsewhere is never opened (the kernel is asked, not the converter), and the
// converter says so in one line. An OBJ opens nothing but itself.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "convert_support.h"
#include "zip_archive.h"

namespace {

const std::string triangle_vertices = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

// Whether anything opened `path` while `run` ran.
template <typename Run>
bool opened_during(const std::string& path, Run run)
{
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(watch, path.c_str(), IN_OPEN);
    run();
    pollfd waiting{watch, POLLIN, 0};
    const bool opened = poll(&waiting, 1, 100) > 0;
    close(watch);
    return opened;
}

// Nine floats: the triangle (0,0,0) (1,0,0) (0,1,0), as a glTF buffer.
std::string triangle_buffer()
{
    const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    return std::string(reinterpret_cast<const char*>(corners), sizeof corners);
}

std::string gltf_with_buffer(const std::string& uri)
{
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],
"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],"buffers":[{"uri":")" +
           uri + R"(","byteLength":36}],"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36}],
"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}]})";
}

struct CompanionCase {
    const char* name;
    const char* model;       // in folder/, the input
    std::string content;
    const char* companion;   // relative to the scratch folder; a FIFO when it ends in ".fifo"
    std::string companion_content;
    const char* asked_for;   // the name as the import asks for it, relative to the scratch folder
    int status;
    std::string message;     // on standard error, after "olvanta-convert: "; MODEL and NAME stand in
    bool opened;             // whether the companion is opened
};

const std::string outside = "cannot read 'MODEL' as a mesh: it names 'NAME', which lies outside its folder; it was not opened";

// An OBJ's material file says nothing the viewer shows: none is opened, wherever it lies. A glTF's
// buffer holds the mesh: it is opened beside or below the input, and nowhere else.
const CompanionCase companions[] = {
    {"obj_material_beside_it", "m.obj", "mtllib x.mtl\n" + triangle_vertices, "folder/x.mtl", "newmtl red\nKd 1 0 0\n",
     "", 0, "", false},
    {"obj_material_in_a_folder_above", "m.obj", "mtllib ../elsewhere/x.mtl\n" + triangle_vertices, "elsewhere/x.mtl",
     "newmtl red\nKd 1 0 0\n", "", 0, "", false},
    {"obj_material_that_is_a_fifo", "m.obj", "mtllib x.fifo\n" + triangle_vertices, "folder/x.fifo", "", "", 0, "", false},
    {"gltf_buffer_in_a_folder_above", "m.gltf", gltf_with_buffer("../elsewhere/tri.bin"), "elsewhere/tri.bin",
     triangle_buffer(), "folder/../elsewhere/tri.bin", 1, outside, false},
    {"gltf_buffer_reached_through_a_link_out", "m.gltf", gltf_with_buffer("out.bin"), "elsewhere/out.bin",
     triangle_buffer(), "folder/out.bin", 1, outside, false},
    {"gltf_buffer_that_is_a_fifo", "m.gltf", gltf_with_buffer("tri.fifo"), "folder/tri.fifo", "", "folder/tri.fifo", 1,
     "cannot read 'MODEL' as a mesh: it names 'NAME', which is not a regular file; it was not opened", false},
    {"gltf_buffer_beside_it", "m.gltf", gltf_with_buffer("tri.bin"), "folder/tri.bin", triangle_buffer(), "", 0, "", true},
    {"gltf_buffer_below_it", "m.gltf", gltf_with_buffer("data/tri.bin"), "folder/data/tri.bin", triangle_buffer(), "", 0,
     "", true},
};

std::string replaced(std::string text, const std::string& what, const std::string& with)
{
    const std::size_t at = text.find(what);
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

TEST(ConvertCompanions, OpensOnlyRegularFilesBesideOrBelowTheInput)
{
    for (const CompanionCase& c : companions) {
        const std::string dir = temporary_directory(), model = dir + "/folder/" + c.model;
        const std::string companion = dir + "/" + c.companion;
        mkdir((dir + "/folder").c_str(), 0755);
        mkdir((dir + "/folder/data").c_str(), 0755);
        mkdir((dir + "/elsewhere").c_str(), 0755);
        write_bytes(model, c.content);
        if (std::string(c.companion).find(".fifo") != std::string::npos)
            ASSERT_EQ(mkfifo(companion.c_str(), 0600), 0);
        else
            write_bytes(companion, c.companion_content);
        symlink("../elsewhere/out.bin", (dir + "/folder/out.bin").c_str());
        CommandRun run{};
        const auto started = std::chrono::steady_clock::now();
        const bool opened = opened_during(companion, [&] { run = convert(model, dir + "/out.txt"); });
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << c.name << ": at once";
        EXPECT_EQ(run.status, c.status) << c.name << ": " << run.err;
        const std::string asked_for = dir + "/" + c.asked_for;
        const std::string expected =
            c.message.empty() ? "" : "olvanta-convert: " + replaced(replaced(c.message, "MODEL", model), "NAME", asked_for) + "\n";
        EXPECT_EQ(run.err, expected) << c.name;
        EXPECT_EQ(opened, c.opened) << c.name << ": opened or not as it should be";
        remove_directory(dir);
    }
}

const std::string content_types =
    R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
    R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
    R"(<Default Extension="model" ContentType="application/vnd.ms-package.3dmanufacturing-3dmodel+xml"/></Types>)";
const std::string relationships =
    R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Target="/3D/3dmodel.model" Id="rel0" Type="http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel"/></Relationships>)";
const std::string model_head = R"(<?xml version="1.0" encoding="UTF-8"?>)";
const std::string model_body =
    R"(<model unit="millimeter" xmlns="http://schemas.microsoft.com/3dmanufacturing/core/2015/02"><resources>)"
    R"(<object id="1" type="model"><mesh><vertices><vertex x="0" y="0" z="0"/><vertex x="1" y="0" z="0"/>)"
    R"(<vertex x="0" y="1" z="0"/></vertices><triangles><triangle v1="0" v2="1" v3="2"/></triangles></mesh></object>)"
    R"(</resources><build><item objectid="1"/></build></model>)";

// A 3MF whose model has `padding` blanks before its body.
std::string three_mf(std::uint64_t padding)
{
    return zip_archive({{"[Content_Types].xml", content_types, "", 0, ""},
                        {"_rels/.rels", relationships, "", 0, ""},
                        {"3D/3dmodel.model", model_head, " ", padding, model_body}});
}

// A few hundred kilobytes that inflate to 400 MiB: refused at once as too large for the limit,
// where it once took the whole limit and then aborted; the same model without padding converts.
TEST(ConvertCompanions, AnArchiveThatInflatesBeyondTheLimitIsTooLarge)
{
    const std::string dir = temporary_directory();
    write_bytes(dir + "/plain.3mf", three_mf(0));
    write_bytes(dir + "/bomb.3mf", three_mf(std::uint64_t(400) << 20));
    struct stat bomb {};
    ASSERT_EQ(stat((dir + "/bomb.3mf").c_str(), &bomb), 0);
    EXPECT_LT(bomb.st_size, 2 << 20);
    const CommandRun plain = convert(dir + "/plain.3mf", dir + "/plain.txt");
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "olvanta-convert: wrote 3 vertices and 1 faces to " + dir + "/plain.txt\n");
    const auto started = std::chrono::steady_clock::now();
    const CommandRun run = convert({"--memory-limit", "200", dir + "/bomb.3mf", dir + "/bomb.txt"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "olvanta-convert: '" + dir + "/bomb.3mf' is too large: it inflates to 400 MiB, beyond the "
                       "memory limit of 200 MiB (--memory-limit raises it)\n");
    remove_directory(dir);
}

} // namespace
