// The one place that uses the asset import library: read, check, validate, then triangulate and
// place every mesh by the node transforms, and take its triangles.
#include "import_scene.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cmath>

namespace {

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

std::string unreadable(const std::string& path, const std::string& why)
{
    return "cannot read '" + path + "' as a mesh: " + why;
}

std::string without_triangles(const std::string& path)
{
    return "'" + path + "' holds no triangles (only points or lines, or nothing)";
}

} // namespace

bool import_triangles(const std::string& path, std::vector<Triangle>& triangles, std::string& reason)
{
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, 0);
    if (!scene) {
        reason = unreadable(path, importer.GetErrorString());
        return false;
    }
    const std::string fault = scene_fault(*scene);
    if (!fault.empty()) {
        reason = unreadable(path, "the file is damaged (" + fault + ")");
        return false;
    }
    if (!has_polygons(*scene)) {
        reason = without_triangles(path);
        return false;
    }
    // The library's own validation goes first, so that no later step meets what it cannot handle.
    scene = importer.ApplyPostProcessing(aiProcess_ValidateDataStructure);
    if (scene)
        scene = importer.ApplyPostProcessing(aiProcess_Triangulate | aiProcess_PreTransformVertices |
                                             aiProcess_SortByPType);
    if (!scene) {
        reason = unreadable(path, importer.GetErrorString());
        return false;
    }
    bool finite = true;
    triangles = scene_triangles(*scene, finite);
    if (triangles.empty()) {
        reason = without_triangles(path);
        return false;
    }
    if (!finite) {
        reason = "'" + path + "' has vertex positions that are not finite numbers";
        return false;
    }
    return true;
}
