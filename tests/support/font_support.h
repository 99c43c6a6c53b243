// Test helpers of the font: a stand-in graphics manager that keeps the font's
// vertex buffers in memory and records every draw with a copy of the vertices
// it drew, so that the quads can be checked one by one.  Device states go to
// a real device when one is given (the font sets them straight on it).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "font.h"

namespace fonttest {

class FakeTexture : public ITexture {
public:
    u32 AddRef() override { return ++nRef; }
    u32 Release() override {
        if (nRef == 0) return 0;
        if (--nRef == 0) {
            delete this;
            return 0;
        }
        return nRef;
    }
    const String& GetName() override {
        static String name("FakeTexture");
        return name;
    }
    HRESULT Active(u32 stage) override;
    u32 nRef = 0;
    class FakeGraphics* owner = nullptr;
};

class FakeVB : public IVertexBuffer {
public:
    FakeVB(u32 fvf, u32 count) : fvf(fvf), count(count), stride(fvf == Font::kFVF2D ? 28 : 24) {
        bytes.resize((size_t)count * stride);
    }
    u32 AddRef() override { return ++nRef; }
    u32 Release() override {
        if (nRef == 0) return 0;
        if (--nRef == 0) {
            delete this;
            return 0;
        }
        return nRef;
    }
    const String& GetName() override {
        static String name("FakeVB");
        return name;
    }
    HRESULT Active(u32 stream) override;
    HRESULT Lock(void** data, Vector3** positions) override {
        if (failLock) return E_FAIL;
        // A discarded buffer holds whatever was there: fill it with garbage.
        std::memset(bytes.data(), 0xCD, bytes.size());
        *data = bytes.data();
        if (positions) *positions = nullptr;
        locked = true;
        return S_OK;
    }
    HRESULT Unlock() override {
        locked = false;
        return S_OK;
    }
    u32 GetNumVertices() override { return count; }

    u32 fvf, count, stride;
    std::vector<uint8_t> bytes;
    u32 nRef = 0;
    bool locked = false;
    bool failLock = false;
    class FakeGraphics* owner = nullptr;
};

// One recorded Draw.
struct DrawCall {
    PrimitiveType type;
    u32 first;
    u32 count;
    bool textured;  // the font image was active on stage 0
    u32 fvf;        // of the buffer active on stream 0
    std::vector<Font::Vertex2D> v2;
    std::vector<Font::Vertex3D> v3;
    bool identityWorld;
};

class FakeGraphics : public IGraphics {
public:
    u32 AddRef() override { return ++nRef; }
    u32 Release() override {
        if (nRef == 0) return 0;
        return --nRef;
    }
    const String& GetName() override {
        static String name("FakeGraphics");
        return name;
    }
    HRESULT GetCamera(Vector3* e, Vector3* a, Vector3* u) override {
        if (!cameraSet) return E_FAIL;
        *e = eye;
        *a = at;
        *u = up;
        return S_OK;
    }
    HRESULT GetScreenMode(DisplaySettings* out) override {
        out->nWidth = width;
        out->nHeight = height;
        return S_OK;
    }
    HRESULT Draw(PrimitiveType type, const Matrix* world, const DrawPrimitiveInfos* range, bool indexed) override {
        if (failDraw) return E_FAIL;
        EXPECT_FALSE(indexed);
        DrawCall call;
        call.type = type;
        call.first = range->nFirstVertex;
        call.count = range->nNumVertices;
        call.textured = textureActive;
        call.fvf = active ? active->fvf : 0;
        Matrix identity;
        identity.SetIdentity();
        call.identityWorld = std::memcmp(world, &identity, sizeof(Matrix)) == 0;
        if (active) {
            EXPECT_FALSE(active->locked);
            EXPECT_LE((u64)range->nFirstVertex + range->nNumVertices, active->count);
            if (active->fvf == Font::kFVF2D) {
                call.v2.resize(range->nNumVertices);
                std::memcpy(call.v2.data(), active->bytes.data() + (size_t)range->nFirstVertex * 28,
                            (size_t)range->nNumVertices * 28);
            } else {
                call.v3.resize(range->nNumVertices);
                std::memcpy(call.v3.data(), active->bytes.data() + (size_t)range->nFirstVertex * 24,
                            (size_t)range->nNumVertices * 24);
            }
        }
        draws.push_back(call);
        return S_OK;
    }
    HRESULT RemoveGeometry(IGeometry* geometry) override {
        removed.push_back(geometry);
        return S_OK;
    }
    HRESULT CreateVB(u32 fvf, u32 vertexCount, bool dynamic, IVertexBuffer** out) override {
        EXPECT_TRUE(dynamic);
        FakeVB* vb = new FakeVB(fvf, vertexCount);
        vb->owner = this;
        vb->AddRef();
        buffers.push_back(vb);
        *out = vb;
        return S_OK;
    }
    HRESULT CreateTexture(const String& fileName, ITexture** out) override {
        textureName = fileName.c_str();
        if (failTexture) return E_FAIL;
        FakeTexture* t = new FakeTexture();
        t->owner = this;
        t->AddRef();
        *out = t;
        return S_OK;
    }
    HRESULT DesactiveTexture(u32 stage) override {
        EXPECT_EQ(stage, 0u);
        textureActive = false;
        return S_OK;
    }
    IDirect3DDevice9* GetD3DDevice() override { return device; }

    u32 nRef = 0;
    IDirect3DDevice9* device = nullptr;
    u32 width = 640, height = 480;
    bool cameraSet = false;
    Vector3 eye, at, up;
    bool failDraw = false, failTexture = false;
    bool textureActive = false;
    FakeVB* active = nullptr;
    std::vector<FakeVB*> buffers;
    std::vector<DrawCall> draws;
    std::vector<IGeometry*> removed;
    std::string textureName;
};

inline HRESULT FakeTexture::Active(u32 stage) {
    EXPECT_EQ(stage, 0u);
    owner->textureActive = true;
    return S_OK;
}

inline HRESULT FakeVB::Active(u32 stream) {
    EXPECT_EQ(stream, 0u);
    owner->active = this;
    return S_OK;
}

}  // namespace fonttest
