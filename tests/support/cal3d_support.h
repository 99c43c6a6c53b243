// Helpers for the Cal3D reader tests: scratch files beside the test program,
// log capture, the exact entry texts and small sound files written with our
// writer.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "modelcal3dmeta.h"
#include "zvcal3dwriter.h"
#include "zvstuff.h"

namespace cal3dtest {

inline std::string DataDir() {
    std::string dir = std::string(GetExeDir().c_str()) + "cal3ddata/";
    mkdir(dir.c_str(), 0755);
    return dir;
}

inline std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = DataDir() + name;
    zvtools::WriteCal3DFile(path, bytes);
    return path;
}

using zvtestlog::LogCapture;

// Entries as the log writes them, up to the time of day.
inline std::string ErrorEntry(const std::string& scope, const std::string& text) {
    return "\n[ModelCal3DMeta::" + scope + "] Error : \"" + text + "\"\nAt ";
}
inline std::string WarningEntry(const std::string& scope, const std::string& text) {
    return "\n[ModelCal3DMeta::" + scope + "] Warning : \"" + text + "\"\nAt ";
}
inline std::string FailedCall(const std::string& scope, const std::string& code, const std::string& message) {
    return ErrorEntry(scope, "Called function return " + code + ", Msg : '" + message + "'");
}
inline std::string EndOfFile(const std::string& scope) {
    return FailedCall(scope, "E_FAIL (0x80004005)", "Unexpected End Of File");
}

inline void Set3(float* out, float a, float b, float c) {
    out[0] = a;
    out[1] = b;
    out[2] = c;
}
inline void Set4(float* out, float a, float b, float c, float d) {
    out[0] = a;
    out[1] = b;
    out[2] = c;
    out[3] = d;
}

// Root 0 with children 1 and 2; bone 2 has child 3.
inline zvtools::Cal3DSkeleton SampleSkeleton() {
    zvtools::Cal3DSkeleton s;
    const int parents[4] = {-1, 0, 0, 2};
    for (int b = 0; b < 4; ++b) {
        zvtools::Cal3DBone bone;
        bone.name = "bone" + std::to_string(b);
        bone.parent = parents[b];
        Set3(bone.translation, 1.0f + b, -2.5f * b, 0.125f);
        Set4(bone.rotation, 0.5f, -0.5f, 0.5f * b, 0.25f);
        Set3(bone.translationBoneSpace, -1.0f, 3.0f + b, 7.75f);
        Set4(bone.rotationBoneSpace, 0.1f * b, 0.2f, 0.3f, -0.4f);
        s.bones.push_back(bone);
    }
    s.bones[0].children = {1, 2};
    s.bones[2].children = {3};
    return s;
}

// Two tracks of 3 and 2 key frames.
inline zvtools::Cal3DAnimation SampleAnimation() {
    zvtools::Cal3DAnimation a;
    a.duration = 2.5f;
    for (int t = 0; t < 2; ++t) {
        zvtools::Cal3DTrack track;
        track.bone = t == 0 ? 3 : 1;
        for (int k = 0; k < 3 - t; ++k) {
            zvtools::Cal3DKeyFrame key;
            key.time = 0.5f * k + t;
            Set3(key.translation, (float)k, (float)t, -1.5f);
            Set4(key.rotation, 0.25f * k, 0.0f, -0.5f, 0.75f + t);
            track.keyFrames.push_back(key);
        }
        a.tracks.push_back(track);
    }
    return a;
}

// One submesh of material 1: four vertices with one map and one or two
// influences, two triangles.
inline zvtools::Cal3DSubMesh SampleSubMesh(int material = 1, uint32_t numMaps = 1) {
    zvtools::Cal3DSubMesh sub;
    sub.material = material;
    sub.numMaps = numMaps;
    sub.numLods = 3;
    for (int i = 0; i < 4; ++i) {
        zvtools::Cal3DVertex v;
        Set3(v.pos, (float)i, 2.0f * i, -0.5f);
        Set3(v.normal, 0.0f, 1.0f, (float)-i);
        v.collapseId = i - 1;
        v.faceCollapseCount = (uint32_t)i;
        for (uint32_t m = 0; m < numMaps; ++m) {
            v.texCoords.push_back(0.25f * i + (float)m);
            v.texCoords.push_back(1.0f - 0.25f * i + (float)m);
        }
        v.influences.push_back({i % 3, i == 3 ? 0.75f : 1.0f});
        if (i == 3) v.influences.push_back({2, 0.25f});
        sub.vertices.push_back(v);
    }
    sub.faces = {0, 1, 2, 0, 2, 3};
    return sub;
}

inline zvtools::Cal3DMaterial SampleMaterial() {
    zvtools::Cal3DMaterial m;
    m.ambient = 0x40302010u;
    m.diffuse = 0xFF804020u;
    m.specular = 0x01020304u;
    m.shininess = 12.5f;
    m.maps = {"skin.tga"};
    return m;
}

// A closed box as exporters write it, centre and half sizes in the files'
// axes: one bone, one material without a map, four vertices per side with
// the side's outward normal, and two triangles per side wound
// counter-clockwise seen from outside in the files' right-handed axes.
// Writes <name>.csf, .cmf, .crf and .cfg under DataDir(); the description's
// path.
inline std::string WriteCal3DBox(const std::string& name, const float centre[3], const float half[3]) {
    zvtools::Cal3DSkeleton skeleton;
    skeleton.bones.resize(1);
    skeleton.bones[0].name = "box";
    zvtools::Cal3DMesh mesh;
    mesh.subMeshes.resize(1);
    zvtools::Cal3DSubMesh& sub = mesh.subMeshes[0];
    sub.numMaps = 0;
    const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (int axis = 0; axis < 3; ++axis) {
        for (int sign = 1; sign >= -1; sign -= 2) {
            // The corners go round u x v, the side's outward normal.
            int u = (axis + 1) % 3, v = (axis + 2) % 3;
            if (sign < 0) std::swap(u, v);
            const int first = (int)sub.vertices.size();
            for (const float* corner : corners) {
                zvtools::Cal3DVertex vertex;
                Set3(vertex.normal, 0, 0, 0);
                vertex.normal[axis] = (float)sign;
                for (int k = 0; k < 3; ++k) vertex.pos[k] = centre[k];
                vertex.pos[axis] += (float)sign * half[axis];
                vertex.pos[u] += corner[0] * half[u];
                vertex.pos[v] += corner[1] * half[v];
                vertex.influences = {{0, 1.0f}};
                sub.vertices.push_back(vertex);
            }
            sub.faces.insert(sub.faces.end(), {first, first + 1, first + 2, first, first + 2, first + 3});
        }
    }
    const std::string dir = DataDir();
    const std::string cfg = dir + name + ".cfg";
    zvtools::WriteCal3DFile(dir + name + ".csf", zvtools::WriteCal3DSkeleton(skeleton));
    zvtools::WriteCal3DFile(dir + name + ".cmf", zvtools::WriteCal3DMesh(mesh));
    zvtools::WriteCal3DFile(dir + name + ".crf", zvtools::WriteCal3DMaterial(zvtools::Cal3DMaterial()));
    zvtools::WriteCal3DFile(cfg, zvtools::WriteCal3DConfig({{"path", dir},
                                                            {"skeleton", name + ".csf"},
                                                            {"mesh", name + ".cmf"},
                                                            {"material", name + ".crf"}}));
    return cfg;
}

// Lists of LoadMesh.
struct MeshLists {
    Vector<i32> materials;
    Vector<Vector<i32>> faces;
    Vector<Vector<ModelCal3DMeta::Vertex>> vertices;
    Vector<Vector<ModelCal3DMeta::Influence>> influences;
    HRESULT Load(const std::string& path) {
        return ModelCal3DMeta::LoadMesh(path.c_str(), &materials, &faces, &vertices, &influences);
    }
};

}  // namespace cal3dtest
