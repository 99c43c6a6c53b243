// MD5 writers for tests and generated content: ".md5mesh" (joints, meshes
// with shader, vertices, triangles and weights), ".md5anim" (hierarchy,
// bounds, base frame, frames) and ".def" model lists.
//
// The records hold what the files hold, in the files' own convention (as
// exporters write them): right-handed axes with x forward, y to the model's
// left and z up; faces wound clockwise seen from outside.  Nothing is
// checked, so that tests can write broken files as easily as sound ones.  Orientations are written
// as their x, y, z only (the reader computes w).  Numbers are written in the
// C locale with up to 9 significant digits, which gives every float back
// exactly (or with a fixed number of decimals, see MD5WriteOptions).  A mesh
// without vertices, triangles and weights is written with its three counts
// 0, as exporters write helper objects.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zvtools {

struct MD5WriteOptions {
    bool crlf = false;       // lines end in CR LF instead of LF
    bool comments = true;    // "// ..." comments as exporters write them
    // What comes before the "//" of a mesh's comment lines: exporters write a
    // tab, spaces or nothing.
    std::string commentIndent = "\t";
    // 0 or more: numbers written with this many decimals ("%.6f"), as
    // exporters write them; otherwise with the digits that give every float
    // back exactly.
    int decimals = -1;
};

struct MD5Joint {
    std::string name;        // written in quotes
    int parent = -1;
    float pos[3] = {0, 0, 0};
    float orient[3] = {0, 0, 0};  // x, y, z of a unit quaternion whose w <= 0
};

struct MD5Vert {
    float u = 0, v = 0;
    int firstWeight = 0;
    int numWeights = 0;
};

struct MD5Tri {
    int v[3] = {0, 0, 0};
};

struct MD5Weight {
    int joint = 0;
    float bias = 1;
    float pos[3] = {0, 0, 0};
};

struct MD5Mesh {
    std::string shader;      // written in quotes as it is: spaces, folders, a drive
    bool shaderLine = true;  // false: no shader line at all, as some exporters write
    // With options.comments: one "// <line>" comment line before the shader
    // for each line of this text.
    std::string comment;
    std::vector<MD5Vert> verts;
    std::vector<MD5Tri> tris;
    std::vector<MD5Weight> weights;
};

struct MD5MeshFile {
    int version = 10;
    std::string commandline = "zvtools";
    std::vector<MD5Joint> joints;
    std::vector<MD5Mesh> meshes;
    // Negative: the sizes of the vectors.  Otherwise written as they are.
    int numJointsOverride = -1;
    int numMeshesOverride = -1;
};

struct MD5AnimJoint {
    std::string name;
    int parent = -1;
    int flags = 0;           // bits 0-2 position x y z, bits 3-5 orientation x y z
    int startIndex = 0;
};

struct MD5Bound {
    float min[3] = {0, 0, 0};
    float max[3] = {0, 0, 0};
};

struct MD5BaseJoint {
    float pos[3] = {0, 0, 0};
    float orient[3] = {0, 0, 0};
};

struct MD5Anim {
    int version = 10;
    std::string commandline = "zvtools";
    float frameRate = 24;
    std::vector<MD5AnimJoint> joints;
    std::vector<MD5Bound> bounds;         // one per frame
    std::vector<MD5BaseJoint> baseframe;  // one per joint
    // Per frame, all its animated components; each joint with flags takes
    // its line from startIndex on, one value per set flag bit.
    std::vector<std::vector<float>> frames;
    // Negative: derived (numFrames = frames.size(), numJoints = joints.size(),
    // numAnimatedComponents = the longest frame).  Otherwise written as they are.
    int numFramesOverride = -1;
    int numJointsOverride = -1;
    int numAnimatedComponentsOverride = -1;
};

// Gives every joint the start index that follows the previous joints' flag
// bits (the layout exporters use) and returns the total component count.
int AssignMD5StartIndices(MD5Anim* anim);

struct MD5DefModel {
    std::string name;
    std::string mesh;                                        // "mesh" line, omitted when empty
    std::vector<std::pair<std::string, std::string>> anims;  // name, file
};

std::string WriteMD5Mesh(const MD5MeshFile& mesh, const MD5WriteOptions& options = MD5WriteOptions());
std::string WriteMD5Anim(const MD5Anim& anim, const MD5WriteOptions& options = MD5WriteOptions());
std::string WriteMD5Def(const std::vector<MD5DefModel>& models);

// The x, y, z of a unit quaternion stored as the MD5 formats keep it
// (the sign chosen so that w <= 0).
void MD5CompressQuaternion(const float q[4], float out[3]);

// Writes text to a file (created or truncated); false on failure.
bool WriteTextFile(const std::string& path, const std::string& text);

}  // namespace zvtools
