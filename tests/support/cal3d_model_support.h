// Helpers for the Cal3D model tests: a graphics manager stand-in that keeps
// the model's buffers in memory and records its draws, and a two-bone rig
// written with our writer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cal3d_support.h"
#include "modelcal3d.h"

namespace cal3dtest {

class FakeGraphics;

// Counts every live buffer and texture, so that tests can check that all of
// them are given back.
struct LiveCounts {
    int vbs = 0, ibs = 0, textures = 0;
};

class FakeVB : public IVertexBuffer {
public:
    FakeVB(LiveCounts* live, u32 fvf, u32 count) : live(live), fvf(fvf), count(count), positions(count) {
        bytes.resize((size_t)count * 32);
        ++live->vbs;
    }
    u32 AddRef() override { return ++ref; }
    u32 Release() override {
        if (ref == 0) return 0;
        if (--ref == 0) {
            --live->vbs;
            delete this;
            return 0;
        }
        return ref;
    }
    const String& GetName() override {
        static String name("FakeVB");
        return name;
    }
    HRESULT Active(u32) override { return failActive ? E_FAIL : S_OK; }
    HRESULT Lock(void** data, Vector3** pos) override {
        if (failLock) return E_FAIL;
        // A discarded dynamic buffer holds garbage.
        std::memset(bytes.data(), 0xCD, bytes.size());
        *data = bytes.data();
        if (pos) *pos = positions.data();
        ++locks;
        return S_OK;
    }
    HRESULT Unlock() override { return S_OK; }
    u32 GetNumVertices() override { return count; }

    const ModelCal3D::SkinnedVertex& At(u32 i) const {
        return *reinterpret_cast<const ModelCal3D::SkinnedVertex*>(bytes.data() + 32 * (size_t)i);
    }

    LiveCounts* live;
    u32 fvf, count;
    std::vector<uint8_t> bytes;
    std::vector<Vector3> positions;
    u32 ref = 0;
    int locks = 0;
    bool failLock = false, failActive = false;
};

class FakeIB : public IIndexBuffer {
public:
    FakeIB(LiveCounts* live, u32 count) : live(live), indices(count), copy(count) { ++live->ibs; }
    u32 AddRef() override { return ++ref; }
    u32 Release() override {
        if (ref == 0) return 0;
        if (--ref == 0) {
            --live->ibs;
            delete this;
            return 0;
        }
        return ref;
    }
    const String& GetName() override {
        static String name("FakeIB");
        return name;
    }
    HRESULT Active() override { return S_OK; }
    HRESULT Lock(u16** data, u16** systemCopy) override {
        *data = indices.data();
        *systemCopy = copy.data();
        return S_OK;
    }
    HRESULT Unlock() override { return S_OK; }
    u32 GetNumIndices() override { return (u32)indices.size(); }

    LiveCounts* live;
    std::vector<u16> indices, copy;
    u32 ref = 0;
};

class FakeTexture : public ITexture {
public:
    FakeTexture(LiveCounts* live, FakeGraphics* owner, const std::string& file)
        : live(live), owner(owner), file(file) {
        ++live->textures;
    }
    u32 AddRef() override { return ++ref; }
    u32 Release() override {
        if (ref == 0) return 0;
        if (--ref == 0) {
            --live->textures;
            delete this;
            return 0;
        }
        return ref;
    }
    const String& GetName() override {
        static String name("FakeTexture");
        return name;
    }
    HRESULT Active(u32 stage) override;

    LiveCounts* live;
    FakeGraphics* owner;
    std::string file;
    u32 ref = 0;
};

// One recorded Draw: the range, the material's diffuse red and the texture
// active on stage 0 ("" for none).
struct DrawCall {
    DrawPrimitiveInfos range;
    float diffuseRed;
    std::string texture;
    Matrix world;
};

class FakeGraphics : public IGraphics {
public:
    u32 AddRef() override { return ++ref; }
    u32 Release() override { return ref ? --ref : 0; }
    const String& GetName() override {
        static String name("FakeGraphics");
        return name;
    }
    HRESULT CorrectIndices(u16** indices, u32* count) override {
        if (!indices || !*indices || !count || *count < 3) return ZVE_SUBFUNCTION;
        u16* a = *indices;
        u32 kept = 0;
        for (u32 t = 0; t + 2 < *count; t += 3) {
            if (a[t] == a[t + 1] || a[t + 1] == a[t + 2] || a[t] == a[t + 2]) continue;
            a[kept] = a[t];
            a[kept + 1] = a[t + 1];
            a[kept + 2] = a[t + 2];
            kept += 3;
        }
        *count = kept;
        return S_OK;
    }
    HRESULT CreateVB(u32 fvf, u32 vertexCount, bool dynamic, IVertexBuffer** out) override {
        if (failCreateVB || vertexCount == 0) return E_FAIL;
        EXPECT_TRUE(dynamic);
        FakeVB* vb = new FakeVB(&live, fvf, vertexCount);
        vb->AddRef();
        vbs.push_back(vb);
        *out = vb;
        return S_OK;
    }
    HRESULT CreateIB(u32 indexCount, bool dynamic, IIndexBuffer** out) override {
        if (indexCount == 0) return E_FAIL;
        EXPECT_FALSE(dynamic);
        FakeIB* ib = new FakeIB(&live, indexCount);
        ib->AddRef();
        lastIB = ib;
        *out = ib;
        return S_OK;
    }
    HRESULT CreateTexture(const String& fileName, ITexture** out) override {
        requested.push_back(fileName.c_str());
        if (failTextures || std::find(refuse.begin(), refuse.end(), fileName.c_str()) != refuse.end()) return E_FAIL;
        FakeTexture* t = new FakeTexture(&live, this, fileName.c_str());
        t->AddRef();
        *out = t;
        return S_OK;
    }
    HRESULT SetMaterial(const D3DMATERIAL9* material) override {
        current = *material;
        return S_OK;
    }
    HRESULT DesactiveTexture(u32) override {
        texture.clear();
        return S_OK;
    }
    HRESULT Draw(PrimitiveType type, const Matrix* world, const DrawPrimitiveInfos* range, bool indexed) override {
        EXPECT_EQ(D3DPT_TRIANGLELIST, type);
        EXPECT_TRUE(indexed);
        if (failDraw) return E_FAIL;
        draws.push_back(DrawCall{*range, current.Diffuse.r, texture, *world});
        return S_OK;
    }
    HRESULT RemoveGeometry(IGeometry* geometry) override {
        removed.push_back(geometry);
        return S_OK;
    }

    LiveCounts live;
    u32 ref = 1;
    bool failCreateVB = false, failTextures = false, failDraw = false;
    std::vector<FakeVB*> vbs;  // every buffer made (may be freed since)
    FakeIB* lastIB = nullptr;
    std::vector<std::string> requested;
    std::vector<std::string> refuse;  // images CreateTexture fails for
    D3DMATERIAL9 current = D3DMATERIAL9();
    std::string texture;
    std::vector<DrawCall> draws;
    std::vector<IGeometry*> removed;
};

inline HRESULT FakeTexture::Active(u32) {
    owner->texture = file;
    return S_OK;
}

// Quaternion of a turn by angle (radians) about y, in the file's x, y, z, w order.
inline void TurnY(float* q, double angle) {
    Set4(q, 0.0f, (float)std::sin(angle / 2), 0.0f, (float)std::cos(angle / 2));
}

// The two-bone rig: the root at the origin and its child one unit up z.
// Vertices: 0 (1,0,0) on the root; 1 (1,0,2) and 2 (0,0,2) on the child;
// 3 (1,0,1) half on each.  Two triangles, one textured material.
// Animations:
// - "bend" (2 s): the child turns about y, from none at 0 s to a quarter turn
//   at 1 s, held until 2 s;
// - "lift" (2 s): the root rises from z = 0 to z = 2; the child held at rest;
// - "flip" (2 s): the child's quarter turn at 0 s and its opposite-signed
//   quaternion (the same turn) at 2 s.
struct Rig {
    zvtools::Cal3DSkeleton skeleton;
    zvtools::Cal3DMesh mesh;
    zvtools::Cal3DAnimation bend, lift, flip;
    zvtools::Cal3DMaterial material;
    std::vector<zvtools::Cal3DConfigLine> lines;

    Rig() {
        skeleton.bones.resize(2);
        skeleton.bones[0].name = "root";
        skeleton.bones[0].children = {1};
        skeleton.bones[1].name = "child";
        skeleton.bones[1].parent = 0;
        Set3(skeleton.bones[1].translation, 0, 0, 1);
        Set3(skeleton.bones[1].translationBoneSpace, 0, 0, -1);

        zvtools::Cal3DSubMesh sub;
        const float pos[4][3] = {{1, 0, 0}, {1, 0, 2}, {0, 0, 2}, {1, 0, 1}};
        for (int i = 0; i < 4; ++i) {
            zvtools::Cal3DVertex v;
            Set3(v.pos, pos[i][0], pos[i][1], pos[i][2]);
            Set3(v.normal, 1, 0, 0);
            v.texCoords = {0.25f * (float)i, 1.0f - 0.25f * (float)i};
            if (i == 0) v.influences = {{0, 1.0f}};
            if (i == 1 || i == 2) v.influences = {{1, 1.0f}};
            if (i == 3) v.influences = {{0, 0.5f}, {1, 0.5f}};
            sub.vertices.push_back(v);
        }
        sub.faces = {0, 1, 2, 0, 3, 1};
        mesh.subMeshes.push_back(sub);

        bend.duration = 2.0f;
        zvtools::Cal3DTrack bendTrack;
        bendTrack.bone = 1;
        for (int k = 0; k < 3; ++k) {
            zvtools::Cal3DKeyFrame key;
            key.time = (float)k;
            Set3(key.translation, 0, 0, 1);
            TurnY(key.rotation, k == 0 ? 0.0 : M_PI / 2);
            bendTrack.keyFrames.push_back(key);
        }
        bend.tracks = {bendTrack};

        lift.duration = 2.0f;
        zvtools::Cal3DTrack rootTrack, childTrack;
        rootTrack.bone = 0;
        for (int k = 0; k < 2; ++k) {
            zvtools::Cal3DKeyFrame key;
            key.time = 2.0f * (float)k;
            Set3(key.translation, 0, 0, 2.0f * (float)k);
            rootTrack.keyFrames.push_back(key);
        }
        childTrack.bone = 1;
        zvtools::Cal3DKeyFrame still;
        Set3(still.translation, 0, 0, 1);
        childTrack.keyFrames = {still};
        lift.tracks = {rootTrack, childTrack};

        flip.duration = 2.0f;
        zvtools::Cal3DTrack flipTrack;
        flipTrack.bone = 1;
        for (int k = 0; k < 2; ++k) {
            zvtools::Cal3DKeyFrame key;
            key.time = 2.0f * (float)k;
            Set3(key.translation, 0, 0, 1);
            TurnY(key.rotation, M_PI / 2);
            if (k == 1) {
                for (float& c : key.rotation) c = -c;
            }
            flipTrack.keyFrames.push_back(key);
        }
        flip.tracks = {flipTrack};

        material.diffuse = 0xFF808080u;
        material.maps = {"rig.tga"};

        lines = {{"skeleton", "rig.csf"},    {"animation", "bend.caf"}, {"animation", "lift.caf"},
                 {"animation", "flip.caf"},  {"mesh", "rig.cmf"},       {"material", "rig.crf"}};
    }

    // Writes the files under DataDir() with prefix (file names in the
    // description get the prefix too); the description's path.
    std::string Write(const std::string& prefix) const {
        std::string dir = DataDir();
        zvtools::WriteCal3DFile(dir + prefix + "rig.csf", zvtools::WriteCal3DSkeleton(skeleton));
        zvtools::WriteCal3DFile(dir + prefix + "bend.caf", zvtools::WriteCal3DAnimation(bend));
        zvtools::WriteCal3DFile(dir + prefix + "lift.caf", zvtools::WriteCal3DAnimation(lift));
        zvtools::WriteCal3DFile(dir + prefix + "flip.caf", zvtools::WriteCal3DAnimation(flip));
        zvtools::WriteCal3DFile(dir + prefix + "rig.cmf", zvtools::WriteCal3DMesh(mesh));
        zvtools::WriteCal3DFile(dir + prefix + "rig.crf", zvtools::WriteCal3DMaterial(material));
        std::vector<zvtools::Cal3DConfigLine> named = {{"path", dir + prefix}};
        for (const zvtools::Cal3DConfigLine& line : lines) named.push_back(line);
        std::string cfg = dir + prefix + "rig.cfg";
        zvtools::WriteCal3DFile(cfg, zvtools::WriteCal3DConfig(named));
        return cfg;
    }
};

// Creates a model through the factory; null on failure.
inline ModelCal3D* CreateModel(FakeGraphics* graphics, const std::string& cfg) {
    IGeometry* geometry = nullptr;
    if (ModelCal3D::Create("cal3d", cfg.c_str(), graphics, &geometry) != S_OK) return nullptr;
    return dynamic_cast<ModelCal3D*>(geometry);
}

// The position of vertex i in the model's last skinning.
inline Vector3 Skinned(ModelCal3D* model, u32 i) {
    const ModelCal3D::SkinnedVertex& v = static_cast<FakeVB*>(model->pVB)->At(i);
    return Vector3(v.x, v.y, v.z);
}

}  // namespace cal3dtest
