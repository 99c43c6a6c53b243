// Fixture of the frame tests: a core with its window, the real graphics and
// visibility managers, small lit meshes that implement the model interfaces,
// and a reader for the frame's screenshots.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "render_support.h"
#include "zvcore.h"
#include "zvd3d9test.h"
#include "zvgraphicsd3d9.h"
#include "zvphysics.h"

namespace rendertest {

using zvrendertest::Bitmap;
using zvrendertest::Blue;
using zvrendertest::Contains;
using zvrendertest::Count;
using zvrendertest::Green;
using zvrendertest::ReadBmp;
using zvrendertest::Red;

struct MeshVertex {
    Vector3 p;
    Vector3 n;
};

// A lit mesh (positions and normals, one material) drawn as one indexed
// triangle list; listed in the manager like a model made by CreateGeometry.
class TestMesh : public IModel, public IPhyEntity {
public:
    TestMesh(ZVGraphics* g, const std::vector<MeshVertex>& vertices, const std::vector<u16>& indices)
        : graphics(g) {
        world.SetIdentity();
        std::memset(&material, 0, sizeof(material));
        material.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
        material.Ambient = D3DCOLORVALUE{1, 1, 1, 1};
        lo = hi = vertices[0].p;
        for (const MeshVertex& v : vertices) {
            lo.Minimize(v.p);
            hi.Maximize(v.p);
        }
        EXPECT_EQ(g->CreateVB(D3DFVF_XYZ | D3DFVF_NORMAL, (u32)vertices.size(), false, &vb), S_OK);
        void* data = nullptr;
        Vector3* positions = nullptr;
        EXPECT_EQ(vb->Lock(&data, &positions), S_OK);
        std::memcpy(data, vertices.data(), vertices.size() * sizeof(MeshVertex));
        for (size_t i = 0; i < vertices.size(); ++i) positions[i] = vertices[i].p;
        vb->Unlock();
        EXPECT_EQ(g->CreateIB((u32)indices.size(), false, &ib), S_OK);
        u16* d = nullptr;
        u16* copy = nullptr;
        EXPECT_EQ(ib->Lock(&d, &copy), S_OK);
        std::memcpy(d, indices.data(), indices.size() * 2);
        std::memcpy(copy, indices.data(), indices.size() * 2);
        ib->Unlock();
        range = DrawPrimitiveInfos{0, (u32)vertices.size(), 0, (u32)indices.size()};
        nRef = 1;
        g->vGeometries.Add(this);
        g->AddRef();
    }

    u32 AddRef() override { return ++nRef; }
    u32 Release() override {
        if (nRef == 0) return 0;
        if (--nRef > 0) return nRef;
        delete this;
        return 0;
    }
    const String& GetName() override {
        static String name("TestMesh");
        return name;
    }
    HRESULT Update(float) override {
        ++updates;
        return S_OK;
    }
    HRESULT Render() override {
        ++renders;
        if (onRender) onRender(this);
        HRESULT hr = vb->Active(0);
        if (hr < 0) return hr;
        hr = ib->Active();
        if (hr < 0) return hr;
        hr = graphics->SetMaterial(&material);
        if (hr < 0) return hr;
        graphics->DesactiveTexture(0);
        return graphics->Draw(D3DPT_TRIANGLELIST, &world, &range, true);
    }
    HRESULT Reset() override { return S_FALSE; }
    HRESULT SendCommand(const String&, String*) override { return E_FAIL; }
    HRESULT GetTypeAndCommand(String* type, String* command) override {
        if (type) *type = "testmesh";
        if (command) *command = "";
        return S_OK;
    }
    HRESULT AddAnimation(const String&, float) override { return E_FAIL; }
    HRESULT AddAnimation(u32, float) override { return E_FAIL; }
    u32 GetNumAnimations() override { return 0; }
    String GetAnimationName(u32) override { return String(); }
    bool IsAnimationPlaying(u32) override { return false; }
    HRESULT GetBuffers(GeometryBuffers* out) override {
        if (!out) return E_FAIL;
        *out = GeometryBuffers{vb, ib, 0};
        return S_OK;
    }
    void GetBoundingBox(Vector3* min, Vector3* max) override {
        *min = lo;
        *max = hi;
    }
    void SetWorldMatrix(Matrix m) override { world = m; }
    void GetWorldMatrix(Matrix* out) override { *out = world; }

    ZVGraphics* graphics;
    IVertexBuffer* vb = nullptr;
    IIndexBuffer* ib = nullptr;
    D3DMATERIAL9 material;
    DrawPrimitiveInfos range;
    Matrix world;
    Vector3 lo, hi;
    u32 nRef = 0;
    int updates = 0;
    int renders = 0;
    void (*onRender)(TestMesh*) = nullptr;

protected:
    ~TestMesh() override {
        if (vb) vb->Release();
        if (ib) ib->Release();
        graphics->RemoveGeometry(this);
        graphics->Release();
    }
};

// A square in the plane z = 0 facing -z (the camera), or in y = 0 facing +y.
inline TestMesh* MakeQuadFacingCamera(ZVGraphics* g, float half) {
    Vector3 n(0, 0, -1);
    std::vector<MeshVertex> v = {{Vector3(-half, -half, 0), n}, {Vector3(-half, half, 0), n},
                                 {Vector3(half, half, 0), n},   {Vector3(half, -half, 0), n}};
    return new TestMesh(g, v, {0, 1, 2, 0, 2, 3});
}

inline TestMesh* MakeFloor(ZVGraphics* g, float half) {
    Vector3 n(0, 1, 0);
    std::vector<MeshVertex> v = {{Vector3(-half, 0, -half), n}, {Vector3(half, 0, -half), n},
                                 {Vector3(half, 0, half), n},   {Vector3(-half, 0, half), n}};
    // Wound so that (P2 - P1) x (P1 - P0) points up, towards the light.
    return new TestMesh(g, v, {0, 1, 2, 0, 2, 3});
}

// The same floor cut into cells of side 1 (2 x half cells a side), so that in
// point and wireframe fill its vertices and lines reach into every part of it.
inline TestMesh* MakeGridFloor(ZVGraphics* g, float half) {
    const int n = (int)(2.0f * half);
    const u16 row = (u16)(n + 1);
    Vector3 up(0, 1, 0);
    std::vector<MeshVertex> v;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) v.push_back(MeshVertex{Vector3(-half + (float)i, 0, -half + (float)j), up});
    std::vector<u16> idx;
    for (u16 j = 0; j < n; ++j) {
        for (u16 i = 0; i < n; ++i) {
            // Corners as MakeFloor's: a (-x, -z), b (+x, -z), c (+x, +z), d (-x, +z).
            const u16 a = (u16)(j * row + i), b = (u16)(a + 1), c = (u16)(a + row + 1), d = (u16)(a + row);
            idx.insert(idx.end(), {a, b, c, a, c, d});
        }
    }
    return new TestMesh(g, v, idx);
}

// A closed box of 8 shared corners (normals pointing out of the centre) and
// 12 triangles, every face wound so that (P2 - P1) x (P1 - P0) points out.
inline TestMesh* MakeBox(ZVGraphics* g, Vector3 lo, Vector3 hi) {
    std::vector<MeshVertex> v;
    for (int i = 0; i < 8; ++i) {
        Vector3 p((i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z);
        Vector3 c((lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2);
        Vector3 n = p - c;
        n *= (float)(1.0 / n.Length());
        v.push_back(MeshVertex{p, n});
    }
    // Faces as quads a-b-c-d; triangles (a, b, c) and (a, c, d).
    const u16 faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
    std::vector<u16> idx;
    for (const auto& f : faces) idx.insert(idx.end(), {f[0], f[1], f[2], f[0], f[2], f[3]});
    return new TestMesh(g, v, idx);
}


class RenderTest : public zvrendertest::FrameFixture {
protected:
    void SetUp() override { OpenCore("render test"); }
    void TearDown() override {
        for (TestMesh* m : meshes) m->Release();
        meshes.clear();
        CloseCore();
    }
    TestMesh* Keep(TestMesh* m) {
        meshes.push_back(m);
        return m;
    }
    // Draws one frame and reads it back through a screenshot.
    Bitmap Frame(const char* name = "frame.bmp") {
        Bitmap bmp;
        EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
        EXPECT_EQ(graphics->SaveScreenshot(name), S_OK);
        EXPECT_TRUE(ReadBmp(name, &bmp));
        return bmp;
    }

    std::vector<TestMesh*> meshes;
};

}  // namespace rendertest
