// Cal3D writers: binary skeleton, animation, mesh and material files and the
// text description.

#include "zvcal3dwriter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace zvtools {

void Cal3DBytes::U32(uint32_t v) {
    bytes.push_back((uint8_t)(v & 0xFF));
    bytes.push_back((uint8_t)((v >> 8) & 0xFF));
    bytes.push_back((uint8_t)((v >> 16) & 0xFF));
    bytes.push_back((uint8_t)((v >> 24) & 0xFF));
}

void Cal3DBytes::F32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    U32(bits);
}

void Cal3DBytes::Str(const std::string& text, bool terminate) {
    U32((uint32_t)(text.size() + (terminate ? 1 : 0)));
    for (char c : text) U8((uint8_t)c);
    if (terminate) U8(0);
}

void Cal3DBytes::Header(char kind, int32_t version) {
    U8('C');
    U8((uint8_t)kind);
    U8('F');
    U8(0);
    I32(version);
}

namespace {

uint32_t CountOr(int64_t override, size_t actual) {
    return override >= 0 ? (uint32_t)override : (uint32_t)actual;
}

}  // namespace

std::vector<uint8_t> WriteCal3DSkeleton(const Cal3DSkeleton& skeleton) {
    Cal3DBytes out;
    out.Header('S', skeleton.version);
    out.U32(CountOr(skeleton.numBonesOverride, skeleton.bones.size()));
    for (const Cal3DBone& bone : skeleton.bones) {
        if (bone.nameLengthOverride >= 0) {
            out.U32((uint32_t)bone.nameLengthOverride);
            for (char c : bone.name) out.U8((uint8_t)c);
        } else {
            out.Str(bone.name);
        }
        out.Floats(bone.translation, 3);
        out.Floats(bone.rotation, 4);
        out.Floats(bone.translationBoneSpace, 3);
        out.Floats(bone.rotationBoneSpace, 4);
        out.I32(bone.parent);
        out.U32(CountOr(bone.numChildrenOverride, bone.children.size()));
        for (int32_t child : bone.children) out.I32(child);
    }
    return out.bytes;
}

std::vector<uint8_t> WriteCal3DAnimation(const Cal3DAnimation& animation) {
    Cal3DBytes out;
    out.Header('A', animation.version);
    out.F32(animation.duration);
    out.U32(CountOr(animation.numTracksOverride, animation.tracks.size()));
    for (const Cal3DTrack& track : animation.tracks) {
        out.I32(track.bone);
        out.U32(CountOr(track.numKeyFramesOverride, track.keyFrames.size()));
        for (const Cal3DKeyFrame& key : track.keyFrames) {
            out.F32(key.time);
            out.Floats(key.translation, 3);
            out.Floats(key.rotation, 4);
        }
    }
    return out.bytes;
}

std::vector<uint8_t> WriteCal3DMesh(const Cal3DMesh& mesh) {
    Cal3DBytes out;
    out.Header('M', mesh.version);
    out.U32(CountOr(mesh.numSubMeshesOverride, mesh.subMeshes.size()));
    for (const Cal3DSubMesh& sub : mesh.subMeshes) {
        out.I32(sub.material);
        out.U32(CountOr(sub.numVerticesOverride, sub.vertices.size()));
        out.U32(CountOr(sub.numFacesOverride, sub.faces.size() / 3));
        out.U32(sub.numLods);
        out.U32((uint32_t)sub.springs.size());
        out.U32(sub.numMapsOverride >= 0 ? (uint32_t)sub.numMapsOverride : sub.numMaps);
        for (const Cal3DVertex& v : sub.vertices) {
            out.Floats(v.pos, 3);
            out.Floats(v.normal, 3);
            out.I32(v.collapseId);
            out.U32(v.faceCollapseCount);
            for (uint32_t m = 0; m < sub.numMaps; ++m) {
                out.F32(2 * m < v.texCoords.size() ? v.texCoords[2 * m] : 0.0f);
                out.F32(2 * m + 1 < v.texCoords.size() ? v.texCoords[2 * m + 1] : 0.0f);
            }
            out.U32(CountOr(v.numInfluencesOverride, v.influences.size()));
            for (const Cal3DInfluence& influence : v.influences) {
                out.I32(influence.bone);
                out.F32(influence.weight);
            }
            if (!sub.springs.empty()) out.F32(v.physicalWeight);
        }
        for (const Cal3DSpring& spring : sub.springs) {
            out.I32(spring.vertex[0]);
            out.I32(spring.vertex[1]);
            out.F32(spring.coefficient);
            out.F32(spring.idleLength);
        }
        for (int32_t index : sub.faces) out.I32(index);
    }
    return out.bytes;
}

std::vector<uint8_t> WriteCal3DMaterial(const Cal3DMaterial& material) {
    Cal3DBytes out;
    out.Header('R', material.version);
    out.U32(material.ambient);
    out.U32(material.diffuse);
    out.U32(material.specular);
    out.F32(material.shininess);
    out.U32(CountOr(material.numMapsOverride, material.maps.size()));
    for (const std::string& map : material.maps) out.Str(map, material.terminateNames);
    return out.bytes;
}

std::string WriteCal3DConfig(const std::vector<Cal3DConfigLine>& lines) {
    std::string text = "# Cal3D model description written by zvtools\n";
    for (const Cal3DConfigLine& line : lines) text += line.key + "=" + line.value + "\n";
    return text;
}

bool WriteCal3DFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool WriteCal3DFile(const std::string& path, const std::string& text) {
    return WriteCal3DFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

namespace {

// The demo model is designed in the axes the engine once read Cal3D files
// with, a turn that showed every model mirrored; its files hold the design's
// mirror image through the plane x = 0, so that the engine, which now keeps
// the files' handedness, shows it as it always was: positions, normals and
// translations with x negated, rotations with y and z negated (a mirror
// keeps a rotation's angle and turns its axis the other way round), and
// every triangle wound the other way round.  0 - v keeps a zero a plain 0.
void MirrorX(float* v) { v[0] = 0.0f - v[0]; }
void MirrorRotation(float* q) {
    q[1] = 0.0f - q[1];
    q[2] = 0.0f - q[2];
}

void MirrorDesign(Cal3DSkeleton* skeleton, Cal3DMesh* mesh, std::vector<Cal3DAnimation*> animations) {
    for (Cal3DBone& bone : skeleton->bones) {
        MirrorX(bone.translation);
        MirrorRotation(bone.rotation);
        MirrorX(bone.translationBoneSpace);
        MirrorRotation(bone.rotationBoneSpace);
    }
    for (Cal3DSubMesh& sub : mesh->subMeshes) {
        for (Cal3DVertex& v : sub.vertices) {
            MirrorX(v.pos);
            MirrorX(v.normal);
        }
        for (size_t t = 0; t + 2 < sub.faces.size(); t += 3) std::swap(sub.faces[t + 1], sub.faces[t + 2]);
    }
    for (Cal3DAnimation* animation : animations) {
        for (Cal3DTrack& track : animation->tracks) {
            for (Cal3DKeyFrame& key : track.keyFrames) {
                MirrorX(key.translation);
                MirrorRotation(key.rotation);
            }
        }
    }
}

}  // namespace

std::string WriteCal3DDemoModel(const std::string& dir, const std::string& name, const std::string& textureA,
                                const std::string& textureB, const Cal3DDemoOptions& options) {
    // Three bones in a chain along +z, one unit apart.
    Cal3DSkeleton skeleton;
    const char* boneNames[3] = {"root", "middle", "tip"};
    for (int b = 0; b < 3; ++b) {
        Cal3DBone bone;
        bone.name = boneNames[b];
        bone.parent = b - 1;
        if (b > 0) bone.translation[2] = 1.0f;
        bone.translationBoneSpace[2] = -(float)b;
        if (b < 2) bone.children.push_back(b + 1);
        skeleton.bones.push_back(bone);
    }

    // A square column of four rings (z = 0 .. 3); ring k follows bone
    // min(k, 2).  The lower two segments use material 0, the top one material 1.
    const float corner[4][2] = {{-0.25f, -0.25f}, {0.25f, -0.25f}, {0.25f, 0.25f}, {-0.25f, 0.25f}};
    auto makeSub = [&](int material, int firstRing, int lastRing) {
        Cal3DSubMesh sub;
        sub.material = material;
        for (int k = firstRing; k <= lastRing; ++k) {
            for (int c = 0; c < 4; ++c) {
                Cal3DVertex v;
                v.pos[0] = corner[c][0];
                v.pos[1] = corner[c][1];
                v.pos[2] = (float)k;
                float len = std::sqrt(corner[c][0] * corner[c][0] + corner[c][1] * corner[c][1]);
                v.normal[0] = corner[c][0] / len;
                v.normal[1] = corner[c][1] / len;
                v.normal[2] = 0;
                v.texCoords = {(float)c / 4.0f, (float)(k - firstRing) / (float)(lastRing - firstRing)};
                int bone = k < 2 ? k : 2;
                if (k == 1) {
                    v.influences = {{0, 0.5f}, {1, 0.5f}};
                } else {
                    v.influences = {{bone, 1.0f}};
                }
                sub.vertices.push_back(v);
            }
        }
        for (int k = 0; k < lastRing - firstRing; ++k) {
            for (int c = 0; c < 4; ++c) {
                int a = k * 4 + c, b = k * 4 + (c + 1) % 4;
                int a2 = a + 4, b2 = b + 4;
                sub.faces.insert(sub.faces.end(), {a, b, b2, a, b2, a2});
            }
        }
        return sub;
    };
    Cal3DMesh mesh;
    mesh.subMeshes.push_back(makeSub(0, 0, 2));
    mesh.subMeshes.push_back(makeSub(1, 2, 3));

    // "bend": the middle bone turns about x by up to 60 degrees and back.
    Cal3DAnimation bend;
    bend.duration = 2.0f;
    Cal3DTrack track;
    track.bone = 1;
    const float angles[3] = {0.0f, 1.0471976f, 0.0f};
    for (int k = 0; k < 3; ++k) {
        Cal3DKeyFrame key;
        key.time = (float)k;
        key.translation[2] = 1.0f;
        key.rotation[0] = std::sin(angles[k] / 2);
        key.rotation[3] = std::cos(angles[k] / 2);
        track.keyFrames.push_back(key);
    }
    bend.tracks.push_back(track);

    // Ambient colours as modelling programs export them, the diffuse colour
    // darkened (to 60 %, as the demo arena's materials have it): the sides no
    // light reaches show their texture instead of black.
    Cal3DMaterial matA, matB;
    matA.ambient = 0xFF734D26u;
    matA.diffuse = 0xFFC08040u;
    matA.shininess = 10.0f;
    if (!textureA.empty()) matA.maps.push_back(textureA);
    matB.ambient = 0xFF264D73u;
    matB.diffuse = 0xFF4080C0u;
    matB.shininess = 20.0f;
    if (!textureB.empty()) matB.maps.push_back(textureB);

    // "twist": over 1.5 s the tip turns about z by up to 90 degrees and back
    // while the middle bone sways about y by up to 30 degrees.
    Cal3DAnimation twist;
    twist.duration = 1.5f;
    const float twistAngles[4] = {0.0f, 1.5707964f, -1.5707964f, 0.0f};
    const float swayAngles[4] = {0.0f, 0.5235988f, -0.5235988f, 0.0f};
    Cal3DTrack sway, turn;
    sway.bone = 1;
    turn.bone = 2;
    for (int k = 0; k < 4; ++k) {
        Cal3DKeyFrame key;
        key.time = 0.5f * (float)k;
        key.translation[2] = 1.0f;
        key.rotation[1] = std::sin(swayAngles[k] / 2);
        key.rotation[3] = std::cos(swayAngles[k] / 2);
        sway.keyFrames.push_back(key);
        Cal3DKeyFrame tip;
        tip.time = 0.5f * (float)k;
        tip.translation[2] = 1.0f;
        tip.rotation[2] = std::sin(twistAngles[k] / 2);
        tip.rotation[3] = std::cos(twistAngles[k] / 2);
        turn.keyFrames.push_back(tip);
    }
    twist.tracks = {sway, turn};
    MirrorDesign(&skeleton, &mesh, {&bend, &twist});

    std::vector<Cal3DConfigLine> lines;
    if (options.scale > 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", (double)options.scale);
        lines.push_back({"scale", text});
    }
    lines.push_back({"skeleton", name + ".csf"});
    lines.push_back({"animation", name + "_bend.caf"});
    if (options.twist) lines.push_back({"animation", name + "_twist.caf"});
    lines.push_back({"mesh", name + ".cmf"});
    lines.push_back({"material", name + "_a.crf"});
    lines.push_back({"material", name + "_b.crf"});
    bool ok = (!options.twist || WriteCal3DFile(dir + name + "_twist.caf", WriteCal3DAnimation(twist))) &&
              WriteCal3DFile(dir + name + ".csf", WriteCal3DSkeleton(skeleton)) &&
              WriteCal3DFile(dir + name + "_bend.caf", WriteCal3DAnimation(bend)) &&
              WriteCal3DFile(dir + name + ".cmf", WriteCal3DMesh(mesh)) &&
              WriteCal3DFile(dir + name + "_a.crf", WriteCal3DMaterial(matA)) &&
              WriteCal3DFile(dir + name + "_b.crf", WriteCal3DMaterial(matB)) &&
              WriteCal3DFile(dir + name + ".cfg", WriteCal3DConfig(lines));
    return ok ? dir + name + ".cfg" : std::string();
}

}  // namespace zvtools
