// olvanta-convert INPUT OUTPUT: any mesh file the asset import library reads (OBJ, PLY, STL,
// OFF and many more) into the viewer's text format. OUTPUT appears whole or not at all.
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "convert_mesh.h"

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "olvanta-convert: %s\n", message.c_str());
    return 1;
}

bool usable_normal(const aiVector3D& n)
{
    return std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z) &&
           (n.x != 0 || n.y != 0 || n.z != 0);
}

Corner corner_of(const aiMesh& mesh, unsigned index)
{
    Corner c{};
    const aiVector3D& p = mesh.mVertices[index];
    c.position[0] = p.x, c.position[1] = p.y, c.position[2] = p.z;
    if (mesh.HasNormals() && usable_normal(mesh.mNormals[index])) {
        const aiVector3D& n = mesh.mNormals[index];
        c.normal[0] = n.x, c.normal[1] = n.y, c.normal[2] = n.z;
        c.has_normal = true;
    }
    return c;
}

bool finite_position(const Corner& c)
{
    return std::isfinite(c.position[0]) && std::isfinite(c.position[1]) && std::isfinite(c.position[2]);
}

// Every triangle of every mesh in the scene, already placed by the scene's node transforms.
std::vector<Triangle> scene_triangles(const aiScene& scene, bool& finite)
{
    std::vector<Triangle> triangles;
    finite = true;
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
        const aiMesh& mesh = *scene.mMeshes[m];
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices != 3)
                continue;
            Triangle t{};
            for (int k = 0; k < 3; ++k) {
                t.corners[k] = corner_of(mesh, face.mIndices[k]);
                finite = finite && finite_position(t.corners[k]);
            }
            triangles.push_back(t);
        }
    }
    return triangles;
}

bool has_polygons(const aiScene& scene)
{
    for (unsigned m = 0; m < scene.mNumMeshes; ++m)
        for (unsigned f = 0; f < scene.mMeshes[m]->mNumFaces; ++f)
            if (scene.mMeshes[m]->mFaces[f].mNumIndices >= 3)
                return true;
    return false;
}

std::string directory_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Written beside OUTPUT under a temporary name, then renamed over it: a reader of OUTPUT never
// sees half a file, and a failure leaves nothing behind.
bool write_whole(const ConvertedMesh& mesh, const std::string& output, std::string& reason)
{
    std::string temporary = directory_of(output) + "/.olvanta-convert-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    std::FILE* out = fdopen(fd, "w");
    bool written = out && write_viewer_text(mesh, out);
    written = (out ? std::fclose(out) == 0 : (close(fd), false)) && written;
    if (!written || std::rename(temporary.c_str(), output.c_str()) != 0) {
        reason = std::strerror(errno ? errno : EIO);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: olvanta-convert INPUT OUTPUT\n", stderr);
        return 2;
    }
    const std::string input = argv[1], output = argv[2];
    struct stat info {};
    if (stat(input.c_str(), &info) != 0)
        return fail("cannot read '" + input + "': " + std::strerror(errno));
    if (!S_ISREG(info.st_mode) || info.st_size == 0)
        return fail("'" + input + "' is " + (S_ISREG(info.st_mode) ? "empty" : "not a regular file"));

    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(input, 0);
    if (!scene)
        return fail("cannot read '" + input + "' as a mesh: " + importer.GetErrorString());
    if (!has_polygons(*scene))
        return fail("'" + input + "' holds no triangles (only points or lines, or nothing)");
    scene = importer.ApplyPostProcessing(aiProcess_Triangulate | aiProcess_PreTransformVertices |
                                         aiProcess_SortByPType);
    if (!scene)
        return fail("cannot read '" + input + "' as a mesh: " + importer.GetErrorString());
    bool finite = true;
    const std::vector<Triangle> triangles = scene_triangles(*scene, finite);
    if (triangles.empty())
        return fail("'" + input + "' holds no triangles (only points or lines, or nothing)");
    if (!finite)
        return fail("'" + input + "' has vertex positions that are not finite numbers");

    const ConvertedMesh mesh = join_and_complete(triangles);
    std::string reason;
    if (!write_whole(mesh, output, reason))
        return fail("cannot write '" + output + "': " + reason);
    std::printf("olvanta-convert: wrote %zu vertices and %zu faces to %s\n", mesh.vertices.size(),
                mesh.corner_vertices.size() / 3, output.c_str());
    return 0;
}
