// The scene checks on hand-built scenes: each fault the import library's later steps would trip
// over, on both sides of each limit, with its own message.
#include <gtest/gtest.h>

#include <assimp/scene.h>

#include <functional>
#include <memory>
#include <string>

#include "import_scene.h"

namespace {

// One mesh of a triangle over three vertices, under a root node that shows it.
std::unique_ptr<aiScene> healthy_scene()
{
    auto scene = std::make_unique<aiScene>();
    aiMesh* mesh = new aiMesh;
    mesh->mNumVertices = 3;
    mesh->mVertices = new aiVector3D[3]{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh->mNumFaces = 1;
    mesh->mFaces = new aiFace[1];
    mesh->mFaces[0].mNumIndices = 3;
    mesh->mFaces[0].mIndices = new unsigned[3]{0, 1, 2};
    scene->mNumMeshes = 1;
    scene->mMeshes = new aiMesh*[1]{mesh};
    scene->mRootNode = new aiNode("root");
    scene->mRootNode->mNumMeshes = 1;
    scene->mRootNode->mMeshes = new unsigned[1]{0};
    return scene;
}

void give_children(aiNode* parent, std::initializer_list<aiNode*> children)
{
    parent->mNumChildren = unsigned(children.size());
    parent->mChildren = new aiNode*[children.size()];
    unsigned i = 0;
    for (aiNode* child : children)
        parent->mChildren[i++] = child;
}

// Loops and shared nodes would be freed twice: their links are cut again before the scene goes.
void forget_children(aiNode* node)
{
    node->mNumChildren = 0;
}

aiNode* chain_of(unsigned length)
{
    aiNode* top = new aiNode("link");
    aiNode* node = top;
    for (unsigned i = 1; i < length; ++i) {
        aiNode* next = new aiNode("link");
        give_children(node, {next});
        node = next;
    }
    return top;
}

struct SceneCase {
    const char* name;
    std::function<void(aiScene&)> damage;
    std::function<void(aiScene&)> undo; // what keeps the scene's own freeing sound
    std::string fault;
};

const SceneCase cases[] = {
    {"healthy", [](aiScene&) {}, [](aiScene&) {}, ""},
    {"no_root", [](aiScene& s) { delete s.mRootNode; s.mRootNode = nullptr; }, [](aiScene&) {},
     "the scene has no root node"},
    {"node_its_own_child", [](aiScene& s) { give_children(s.mRootNode, {s.mRootNode}); },
     [](aiScene& s) { forget_children(s.mRootNode); }, "the node graph loops or shares a node"},
    {"two_parents_share_a_child",
     [](aiScene& s) {
         aiNode* shared = new aiNode("shared");
         give_children(s.mRootNode, {new aiNode("a"), new aiNode("b")});
         give_children(s.mRootNode->mChildren[0], {shared});
         give_children(s.mRootNode->mChildren[1], {shared});
     },
     [](aiScene& s) { forget_children(s.mRootNode->mChildren[1]); }, "the node graph loops or shares a node"},
    {"face_index_equal_to_the_count", [](aiScene& s) { s.mMeshes[0]->mFaces[0].mIndices[2] = 3; }, [](aiScene&) {},
     "mesh 0 has a face naming vertex 3 of 3"},
    {"face_index_one_below_the_count", [](aiScene& s) { s.mMeshes[0]->mFaces[0].mIndices[2] = 2; }, [](aiScene&) {},
     ""},
    {"empty_face", [](aiScene& s) { s.mMeshes[0]->mFaces[0].mNumIndices = 0; }, [](aiScene& s) { s.mMeshes[0]->mFaces[0].mNumIndices = 3; },
     "mesh 0 has an empty face"},
    {"bone_weight_naming_the_vertex_count",
     [](aiScene& s) {
         aiBone* bone = new aiBone;
         bone->mNumWeights = 1;
         bone->mWeights = new aiVertexWeight[1]{{3, 1.0f}};
         s.mMeshes[0]->mNumBones = 1;
         s.mMeshes[0]->mBones = new aiBone*[1]{bone};
     },
     [](aiScene&) {}, "mesh 0 has a bone weighting vertex 3 of 3"},
    {"node_naming_the_mesh_count", [](aiScene& s) { s.mRootNode->mMeshes[0] = 1; }, [](aiScene&) {},
     "a node names mesh 1 of 1"},
    {"missing_mesh", [](aiScene& s) { delete s.mMeshes[0]; s.mMeshes[0] = nullptr; }, [](aiScene&) {},
     "mesh 0 is missing"},
    {"chain_as_deep_as_allowed", [](aiScene& s) { give_children(s.mRootNode, {chain_of(1000)}); }, [](aiScene&) {}, ""},
    {"chain_deeper_than_allowed", [](aiScene& s) { give_children(s.mRootNode, {chain_of(1001)}); }, [](aiScene&) {},
     "the node tree is more than 1000 deep"},
};

TEST(SceneChecks, NameEachFaultOfAHandBuiltScene)
{
    for (const SceneCase& c : cases) {
        std::unique_ptr<aiScene> scene = healthy_scene();
        c.damage(*scene);
        EXPECT_EQ(scene_fault(*scene), c.fault) << c.name;
        c.undo(*scene);
    }
}

} // namespace
