// Which files the viewer is given as they are, and which go through the converter first.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

#include "mesh_source.h"
#include "scratch_folder.h"

namespace {

const std::string strict = "Vertex 1 0 0 0 {normal=(0 0 1)}\nVertex 2 1 0 0 {normal=(0 0 1)}\n"
                           "Vertex 3 0 1 0 {normal=(0 0 1)}\nFace 1 1 2 3\n";

TEST(MeshSource, GivesTheViewerOnlyWhatItReadsExactly)
{
    const struct {
        const char* name;
        std::string text;
        bool as_it_is;
    } cases[] = {
        {"strict", strict, true},
        {"strict_after_comments", "# by hand\n\n" + strict, true},
        {"crlf", "Vertex 1 0 0 0 {normal=(0 0 1)}\r\nVertex 2 1 0 0 {normal=(0 0 1)}\r\nFace 1 1 2 2\r\n", true},
        {"a_vertex_without_normal", strict + "Vertex 4 1 1 0\n", false},
        {"numbers_that_are_not_places", "Vertex 2 0 0 0 {normal=(0 0 1)}\nVertex 1 1 0 0 {normal=(0 0 1)}\n", false},
        {"a_quad", strict + "Vertex 4 1 1 0 {normal=(0 0 1)}\nFace 2 1 2 4 3\n", false},
        {"uv_before_normal", "Vertex 1 0 0 0 {uv=(0 0) normal=(0 0 1)}\n", false},
        {"normal_with_commas", "Vertex 1 0 0 0 {normal=(0,0,1)}\n", false},
        {"corner_line", strict + "Corner 1 1 {normal=(1 0 0)}\n", false},
        {"sharp_edge", strict + "Edge 1 2 {sharp}\n", false},
        {"obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", false},
        {"empty", "", false},
    };
    const std::string dir = temporary_directory();
    for (const auto& c : cases) {
        write_bytes(dir + "/mesh", c.text);
        EXPECT_EQ(in_the_viewers_form(dir + "/mesh"), c.as_it_is) << c.name;
    }
    gzFile file = gzopen((dir + "/mesh.gz").c_str(), "wb");
    gzwrite(file, strict.data(), unsigned(strict.size()));
    gzclose(file);
    EXPECT_FALSE(in_the_viewers_form(dir + "/mesh.gz")) << "compressed";
    remove_directory(dir);
}

} // namespace
