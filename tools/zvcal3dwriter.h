// Cal3D writers for tests and generated content: the binary skeleton
// (".csf"), animation (".caf"), mesh (".cmf") and material (".crf") files and
// the text description (".cfg") that names them.
//
// The records hold what the files hold, counts included: nothing is checked,
// so that tests can write broken files as easily as sound ones.  Counts that
// the records would imply can be overridden to make files that lie.  All
// numbers are written little-endian, byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvtools {

// Little-endian byte sink; also used directly by tests for hand-made files.
class Cal3DBytes {
public:
    void U8(uint8_t v) { bytes.push_back(v); }
    void U32(uint32_t v);
    void I32(int32_t v) { U32((uint32_t)v); }
    void F32(float v);
    void Floats(const float* v, int n) {
        for (int i = 0; i < n; ++i) F32(v[i]);
    }
    // u32 length then the bytes (terminate: one zero byte more, counted).
    void Str(const std::string& text, bool terminate = true);
    // The magic 'C', kind, 'F', 0 and the version.
    void Header(char kind, int32_t version);

    std::vector<uint8_t> bytes;
};

struct Cal3DBone {
    std::string name;
    float translation[3] = {0, 0, 0};
    float rotation[4] = {0, 0, 0, 1};  // x, y, z, w
    float translationBoneSpace[3] = {0, 0, 0};
    float rotationBoneSpace[4] = {0, 0, 0, 1};
    int32_t parent = -1;
    std::vector<int32_t> children;
    int64_t nameLengthOverride = -1;   // >= 0: written instead of the name's length
    int64_t numChildrenOverride = -1;  // >= 0: written instead of children.size()
};

struct Cal3DSkeleton {
    int32_t version = 700;
    std::vector<Cal3DBone> bones;
    int64_t numBonesOverride = -1;
};

struct Cal3DKeyFrame {
    float time = 0;
    float translation[3] = {0, 0, 0};
    float rotation[4] = {0, 0, 0, 1};
};

struct Cal3DTrack {
    int32_t bone = 0;
    std::vector<Cal3DKeyFrame> keyFrames;
    int64_t numKeyFramesOverride = -1;
};

struct Cal3DAnimation {
    int32_t version = 700;
    float duration = 1;
    std::vector<Cal3DTrack> tracks;
    int64_t numTracksOverride = -1;
};

struct Cal3DInfluence {
    int32_t bone = 0;
    float weight = 1;
};

struct Cal3DVertex {
    float pos[3] = {0, 0, 0};
    float normal[3] = {0, 0, 1};
    int32_t collapseId = -1;
    uint32_t faceCollapseCount = 0;
    // One (u, v) pair per map of the submesh; missing pairs are written as 0.
    std::vector<float> texCoords;
    std::vector<Cal3DInfluence> influences;
    float physicalWeight = 0;  // written when the submesh has springs
    int64_t numInfluencesOverride = -1;
};

struct Cal3DSpring {
    int32_t vertex[2] = {0, 0};
    float coefficient = 0;
    float idleLength = 0;
};

struct Cal3DSubMesh {
    int32_t material = 0;
    uint32_t numMaps = 1;
    uint32_t numLods = 0;
    std::vector<Cal3DVertex> vertices;
    std::vector<Cal3DSpring> springs;
    std::vector<int32_t> faces;  // three indices per triangle
    int64_t numVerticesOverride = -1;
    int64_t numFacesOverride = -1;
    int64_t numMapsOverride = -1;  // >= 0: written in the head; numMaps pairs still follow
};

struct Cal3DMesh {
    int32_t version = 700;
    std::vector<Cal3DSubMesh> subMeshes;
    int64_t numSubMeshesOverride = -1;
};

struct Cal3DMaterial {
    int32_t version = 700;
    // Colours as the file stores them: blue, green, red, alpha bytes in this
    // order, i.e. the u32 0xAARRGGBB.
    uint32_t ambient = 0xFF000000u;
    uint32_t diffuse = 0xFFFFFFFFu;
    uint32_t specular = 0xFF000000u;
    float shininess = 0;
    std::vector<std::string> maps;
    bool terminateNames = true;  // store each name with its zero byte
    int64_t numMapsOverride = -1;
};

// The description's lines in order: key = value.
struct Cal3DConfigLine {
    std::string key;
    std::string value;
};

std::vector<uint8_t> WriteCal3DSkeleton(const Cal3DSkeleton& skeleton);
std::vector<uint8_t> WriteCal3DAnimation(const Cal3DAnimation& animation);
std::vector<uint8_t> WriteCal3DMesh(const Cal3DMesh& mesh);
std::vector<uint8_t> WriteCal3DMaterial(const Cal3DMaterial& material);
// "key=value" lines ending in '\n', a comment line first.
std::string WriteCal3DConfig(const std::vector<Cal3DConfigLine>& lines);

// Writes bytes (or text) to path; false when the file cannot be written.
bool WriteCal3DFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteCal3DFile(const std::string& path, const std::string& text);

// A small sound model for tests and demos: a skeleton of three bones in a
// chain (root, middle, tip) along the files' +z (up), one box mesh of two
// materials (with ambient and diffuse colours) whose vertices follow the
// bones, one "bend" animation and the description.  The files hold the mirror image (through x = 0) of the
// model as designed, so that it shows unchanged since the engine keeps the
// files' right-handed convention.
// Files are written into dir (with its trailing separator) as
// <name>.csf, <name>_bend.caf, <name>.cmf, <name>_a.crf, <name>_b.crf and
// <name>.cfg; texture names go into the materials as given.  Returns the
// description's path, or "" when a file could not be written.
//
// The options add to that model: a "scale" line first (scale > 0), and a
// second animation "twist" (<name>_twist.caf, listed after "bend"): the tip
// turns about the chain's axis while the middle bone sways sideways.
struct Cal3DDemoOptions {
    float scale = 0;
    bool twist = false;
};
std::string WriteCal3DDemoModel(const std::string& dir, const std::string& name, const std::string& textureA,
                                const std::string& textureB, const Cal3DDemoOptions& options = Cal3DDemoOptions());

}  // namespace zvtools
