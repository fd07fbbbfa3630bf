// The one place that uses the asset import library: read through the confined files, check,
// validate, then triangulate and place every mesh by the node transforms, and take its triangles.
#include "import_scene.h"

#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cmath>
#include <cstring>

#include "confined_files.h"

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

// The library reports a failed post-processing step only in its log: the last error is kept.
std::string last_error;

void keep_errors(const char* message, char*)
{
    const char* const error = "Error, ";
    if (std::strncmp(message, error, std::strlen(error)) != 0)
        return;
    const char* text = std::strstr(message, ": ");
    last_error = text ? text + 2 : message;
    while (!last_error.empty() && (last_error.back() == '\n' || last_error.back() == '\r'))
        last_error.pop_back();
}

void keep_the_librarys_errors()
{
    aiLogStream stream{keep_errors, nullptr};
    aiAttachLogStream(&stream);
}

// A scene that passed our checks, validated, triangulated and placed; null with the library's
// reason, the scene then being released.
const aiScene* post_processed(const aiScene* scene, std::string& why)
{
    last_error.clear();
    // The library's own validation goes first, so that no later step meets what it cannot handle.
    scene = aiApplyPostProcessing(scene, aiProcess_ValidateDataStructure);
    if (scene)
        scene = aiApplyPostProcessing(scene, aiProcess_Triangulate | aiProcess_PreTransformVertices |
                                                 aiProcess_SortByPType);
    if (!scene)
        why = last_error.empty() ? "the import library's validation refused it" : last_error;
    return scene;
}

// What the scene holds, or why it cannot be used; the scene is released either way.
bool take_triangles(const aiScene* scene, const std::string& path, std::vector<Triangle>& triangles,
                    std::string& reason)
{
    const std::string fault = scene_fault(*scene);
    if (!fault.empty()) {
        aiReleaseImport(scene);
        reason = unreadable(path, "the file is damaged (" + fault + ")");
        return false;
    }
    if (!has_polygons(*scene)) {
        aiReleaseImport(scene);
        reason = without_triangles(path);
        return false;
    }
    std::string why;
    scene = post_processed(scene, why);
    if (!scene) {
        reason = unreadable(path, why);
        return false;
    }
    bool finite = true;
    triangles = scene_triangles(*scene, finite);
    aiReleaseImport(scene);
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

} // namespace

bool import_triangles(const std::string& path, std::vector<Triangle>& triangles, std::string& reason,
                      std::string& refused)
{
    Confinement confinement;
    if (!confine_to_input(path, confinement, reason)) {
        reason = "cannot read '" + path + "': " + reason;
        return false;
    }
    aiFileIO files = confined_file_io(confinement);
    keep_the_librarys_errors();
    const aiScene* scene = aiImportFileEx(path.c_str(), 0, &files);
    refused = confinement.refused;
    if (!scene) {
        reason = unreadable(path, refused.empty() ? aiGetErrorString() : "it names " + refused + "; it was not opened");
        return false;
    }
    return take_triangles(scene, path, triangles, reason);
}
