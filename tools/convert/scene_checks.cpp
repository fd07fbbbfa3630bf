// Checks of an imported scene that the library's own post-processing takes for granted: every
// index in range, every pointer present, and a node graph that is a tree of bounded depth.
#include <assimp/scene.h>

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "import_scene.h"

namespace {

// Post-processing walks the node tree recursively; deeper trees than this come from no modeller.
const unsigned deepest_node = 1000;

std::string mesh_fault(const aiMesh* mesh, unsigned m)
{
    const std::string which = "mesh " + std::to_string(m);
    if (!mesh)
        return which + " is missing";
    if (mesh->mNumVertices > 0 && !mesh->mVertices)
        return which + " has no vertex positions";
    if (mesh->mNumFaces > 0 && !mesh->mFaces)
        return which + " has no faces";
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        const aiFace& face = mesh->mFaces[f];
        if (face.mNumIndices == 0 || !face.mIndices)
            return which + " has an empty face";
        for (unsigned k = 0; k < face.mNumIndices; ++k)
            if (face.mIndices[k] >= mesh->mNumVertices)
                return which + " has a face naming vertex " + std::to_string(face.mIndices[k]) + " of " +
                       std::to_string(mesh->mNumVertices);
    }
    if (mesh->mNumBones > 0 && !mesh->mBones)
        return which + " has no bones";
    for (unsigned b = 0; b < mesh->mNumBones; ++b) {
        const aiBone* bone = mesh->mBones[b];
        if (!bone || (bone->mNumWeights > 0 && !bone->mWeights))
            return which + " has a damaged bone";
        for (unsigned w = 0; w < bone->mNumWeights; ++w)
            if (bone->mWeights[w].mVertexId >= mesh->mNumVertices)
                return which + " has a bone weighting vertex " + std::to_string(bone->mWeights[w].mVertexId) +
                       " of " + std::to_string(mesh->mNumVertices);
    }
    return "";
}

std::string node_fault(const aiNode* node, unsigned mesh_count)
{
    if (node->mNumMeshes > 0 && !node->mMeshes)
        return "a node has no mesh list";
    for (unsigned i = 0; i < node->mNumMeshes; ++i)
        if (node->mMeshes[i] >= mesh_count)
            return "a node names mesh " + std::to_string(node->mMeshes[i]) + " of " + std::to_string(mesh_count);
    if (node->mNumChildren > 0 && !node->mChildren)
        return "a node has no child list";
    return "";
}

std::string tree_fault(const aiNode* root, unsigned mesh_count)
{
    std::unordered_set<const aiNode*> seen;
    std::vector<std::pair<const aiNode*, unsigned>> to_visit{{root, 0}};
    while (!to_visit.empty()) {
        const auto [node, depth] = to_visit.back();
        to_visit.pop_back();
        if (!node)
            return "a node is missing";
        if (!seen.insert(node).second)
            return "the node graph loops or shares a node";
        if (depth > deepest_node)
            return "the node tree is more than " + std::to_string(deepest_node) + " deep";
        const std::string fault = node_fault(node, mesh_count);
        if (!fault.empty())
            return fault;
        for (unsigned c = 0; c < node->mNumChildren; ++c)
            to_visit.push_back({node->mChildren[c], depth + 1});
    }
    return "";
}

} // namespace

std::string scene_fault(const aiScene& scene)
{
    if (!scene.mRootNode)
        return "the scene has no root node";
    if (scene.mNumMeshes > 0 && !scene.mMeshes)
        return "the scene has no mesh list";
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
        const std::string fault = mesh_fault(scene.mMeshes[m], m);
        if (!fault.empty())
            return fault;
    }
    return tree_fault(scene.mRootNode, scene.mNumMeshes);
}
