// Running out of memory while loading: the reader stops, says so, and keeps what it read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "mesh/load_mesh.h"
#include "mesh/mesh_store.h"
#include "test_files.h"

namespace {

long address_space_in_use()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0)
            return std::atol(line.c_str() + 7) * 1024;
    return -1;
}

// Vertex i sits at x = i, so what was read can be checked to be the file's beginning.
bool holds_the_first_vertices_in_order()
{
    for (std::size_t i = 0; i < mesh_store.vertices.size(); ++i)
        if (mesh_store.vertices[i].x != double(i + 1))
            return false;
    return !mesh_store.vertices.empty();
}

// In the child: the file name on standard input, and room for little more than the file.
[[noreturn]] void load_with_little_memory(const std::string& typed, std::size_t file_bytes, int count)
{
    dup2(open(typed.c_str(), O_RDONLY), 0);
    dup2(open("/dev/null", O_WRONLY), 1);
    const rlim_t limit = rlim_t(address_space_in_use()) + file_bytes + (6u << 20);
    const rlimit cap{limit, limit};
    setrlimit(RLIMIT_AS, &cap);
    load_mesh();
    const bool partial = mesh_store.vertices.size() < std::size_t(count);
    std::exit(partial && holds_the_first_vertices_in_order() ? 0 : 3);
}

TEST(LoadMeshDeathTest, StopsWhenMemoryRunsOutAndKeepsWhatWasRead)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows; "
                    "the plain build runs this test";
#endif
    const int count = 300000; // 14 MB of vertices from a 10 MB file
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += "Vertex " + std::to_string(i) + " " + std::to_string(i) + " 0 0 {normal=(0 0 1)}\n";
    const std::string mesh = write_temporary_file(text);
    const std::string typed = write_temporary_file(mesh + "\n");
    EXPECT_EXIT(load_with_little_memory(typed, text.size(), count), testing::ExitedWithCode(0),
        "olvanta: memory ran out while reading '.*'; showing the [1-9][0-9]* vertices and 0 "
        "faces read before\n");
    unlink(mesh.c_str());
    unlink(typed.c_str());
}

} // namespace
