// The one place that uses the asset import library: read through the confined files, check,
// validate, then triangulate and place every mesh by the node transforms, and take its triangles.
#include "import_scene.h"

#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "companion_files.h"
#include "confine/confinement.h"
#include "corner_join.h"
#include "mesh/shown_text.h"

namespace {

bool usable_normal(const aiVector3D& n)
{
    return std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z) &&
           (n.x != 0 || n.y != 0 || n.z != 0);
}

bool finite_position(const aiVector3D& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// The vertex as the converter keeps it: a normal only where the file gave a usable one, and none
// at all where the normals describe faces rather than corners.
ConvertedVertex vertex_of(const aiMesh& mesh, unsigned index, bool corner_normals)
{
    ConvertedVertex v{};
    const aiVector3D& p = mesh.mVertices[index];
    v.position[0] = p.x, v.position[1] = p.y, v.position[2] = p.z;
    if (corner_normals && mesh.HasNormals() && usable_normal(mesh.mNormals[index])) {
        const aiVector3D& n = mesh.mNormals[index];
        v.normal[0] = n.x, v.normal[1] = n.y, v.normal[2] = n.z;
    }
    return v;
}

std::size_t triangle_count(const aiMesh& mesh)
{
    std::size_t count = 0;
    for (unsigned f = 0; f < mesh.mNumFaces; ++f)
        count += mesh.mFaces[f].mNumIndices == 3;
    return count;
}

// A file whose faces share vertices has an index of its own, which is kept as it is. The
// library gives each face of some formats vertices of its own (an STL's, an OBJ's): their
// corners are joined. Known before triangulation, which makes a polygon's triangles share.
bool has_own_index(const aiScene& scene)
{
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
        const aiMesh& mesh = *scene.mMeshes[m];
        std::size_t indices = 0;
        for (unsigned f = 0; f < mesh.mNumFaces; ++f)
            indices += mesh.mFaces[f].mNumIndices;
        if (indices > mesh.mNumVertices)
            return true;
    }
    return false;
}

// Where a mesh's vertex lies in the converted mesh, made when a triangle first uses it: appended
// when the mesh keeps its own index, joined otherwise. Vertices no triangle uses are left out.
struct MeshPlaces {
    const aiMesh& mesh;
    bool corner_normals, own_index;
    std::vector<int> places; // -1 until used
};

int place_of(MeshPlaces& m, unsigned index, VertexJoin& join, ConvertedMesh& out, bool& finite)
{
    int& place = m.places[index];
    if (place >= 0)
        return place;
    const ConvertedVertex v = vertex_of(m.mesh, index, m.corner_normals);
    finite = finite && finite_position(m.mesh.mVertices[index]);
    if (m.own_index) {
        place = int(out.vertices.size());
        out.vertices.push_back(v);
    } else {
        place = join_vertex(join, v.position, v.normal);
    }
    return place;
}

std::size_t corner_count(const aiScene& scene)
{
    std::size_t corners = 0;
    for (unsigned m = 0; m < scene.mNumMeshes; ++m)
        corners += 3 * triangle_count(*scene.mMeshes[m]);
    return corners;
}

// Every triangle of every mesh in the scene, already placed by the scene's node transforms. An
// STL's facet normals, which the library copies to the corners, are judged and then left out.
ConvertedMesh scene_mesh(const aiScene& scene, bool own_index, bool facet_normals, FacetCounts& facets, bool& finite)
{
    ConvertedMesh out;
    finite = true;
    const std::size_t corners = corner_count(scene);
    // A closed surface has about half as many vertices as triangles, a sixth of its corners.
    VertexJoin join = start_join(out, corners / 6 + 16);
    out.corner_vertices.reserve(corners);
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
        const aiMesh& mesh = *scene.mMeshes[m];
        MeshPlaces places{mesh, !facet_normals, own_index, std::vector<int>(mesh.mNumVertices, -1)};
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices != 3)
                continue;
            for (int k = 0; k < 3; ++k)
                out.corner_vertices.push_back(place_of(places, face.mIndices[k], join, out, finite));
            if (facet_normals && mesh.HasNormals())
                judge_facet(&mesh.mNormals[face.mIndices[0]].x, &mesh.mVertices[face.mIndices[0]].x,
                            &mesh.mVertices[face.mIndices[1]].x, &mesh.mVertices[face.mIndices[2]].x, facets);
        }
    }
    end_join(join);
    return out;
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
    return "cannot read " + quoted_name(path) + " as a mesh: " + shown(why);
}

std::string without_triangles(const std::string& path)
{
    return quoted_name(path) + " holds no triangles (only points or lines, or nothing)";
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
bool take_triangles(const aiScene* scene, const std::string& path, ImportedMesh& imported, std::string& reason)
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
    const bool own_index = has_own_index(*scene);
    std::string why;
    scene = post_processed(scene, why);
    if (!scene) {
        reason = unreadable(path, why);
        return false;
    }
    bool finite = true;
    imported.mesh = scene_mesh(*scene, own_index && !imported.facet_normals, imported.facet_normals, imported.facets, finite);
    aiReleaseImport(scene);
    if (imported.mesh.corner_vertices.empty()) {
        reason = without_triangles(path);
        return false;
    }
    if (!finite) {
        reason = quoted_name(path) + " has vertex positions that are not finite numbers";
        return false;
    }
    return true;
}

// A text STL begins with "solid", after any blanks: the import library knows it so.
bool starts_as_text_stl(int fd)
{
    char start[64] = {};
    const ssize_t read = pread(fd, start, sizeof start - 1, 0);
    const std::size_t got = read > 0 ? std::size_t(read) : 0;
    std::size_t at = 0;
    while (at < got && start[at] != '\0' && std::strchr(" \t\r\n", start[at]))
        ++at;
    return std::strncmp(start + at, "solid", 5) == 0;
}

} // namespace

bool import_mesh(const std::string& path, ImportedMesh& imported, std::string& reason)
{
    imported.facet_normals = starts_as_text_stl(input_descriptor);
    CompanionAsking asking{path};
    aiFileIO files = companion_file_io(asking);
    keep_the_librarys_errors();
    const aiScene* scene = aiImportFileEx(path.c_str(), 0, &files);
    if (!scene) {
        reason = unreadable(path, aiGetErrorString());
        return false;
    }
    return take_triangles(scene, path, imported, reason);
}
