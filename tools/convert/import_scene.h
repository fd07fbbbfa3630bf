// Reading a model file with the asset import library: the scene checked before anything works on
// it, then triangulated and placed by its node transforms.
#pragma once

#include <string>
#include <vector>

#include "convert_mesh.h"
#include "stl_facets.h"

struct aiScene;

struct ImportedMesh {
    ConvertedMesh mesh;         // normals where the file gave usable ones for corners
    bool facet_normals = false; // the file's normals describe faces (an STL): none are kept
    FacetCounts facets;         // for an STL
};

// Every triangle of every mesh of the file, read on input_descriptor (`path` is its name, for the
// library's sake and the messages'). A mesh whose triangles share vertices keeps its own index;
// the corners of one that does not are joined by position and normal. False, with a message that
// names the file, when the library cannot read it, the scene it gives is damaged, or it holds no
// usable triangles.
bool import_mesh(const std::string& path, ImportedMesh& imported, std::string& reason);

// What is wrong with a scene before any post-processing touches it: empty when nothing is. The
// walk is iterative, so a node graph that loops or runs deep cannot exhaust the stack.
std::string scene_fault(const aiScene& scene);
