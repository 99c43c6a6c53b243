// Helpers for the MD5 reader tests: scratch files beside the test program,
// a small sound model written with our writer, log capture, and a graphics
// manager stand-in that records what the reader asks of it.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "log_capture.h"
#include "modelmd5meta.h"
#include "zvgraphics.h"
#include "zvmd5writer.h"
#include "zvstuff.h"

namespace md5test {

inline std::string ExeDir() { return std::string(GetExeDir().c_str()); }

// The scratch folder of the MD5 tests, with a trailing '/'.
inline std::string DataDir() {
    std::string dir = ExeDir() + "md5data/";
    mkdir(dir.c_str(), 0755);
    return dir;
}

inline std::string Write(const std::string& name, const std::string& text) {
    std::string path = DataDir() + name;
    zvtools::WriteTextFile(path, text);
    return path;
}

using zvtestlog::LogCapture;

// The warning entry of an MD5 format error, without its time of day: what
// follows "At hh:mm:ss" is checked separately.
inline std::string SyntaxEntry(const std::string& scope, const std::string& line, const std::string& text) {
    return "\n[" + scope + "] Warning : \"strBuffer=" + line + "; Error : " + text + "\"\nAt ";
}
inline std::string EndEntry(const std::string& scope, const std::string& line, const std::string& what) {
    return "\n[" + scope + "] Warning : \"strBuffer=" + line + "; Error while reading " + what +
           "\nUnexpected EndOfFile; The file is probably corrupted\"\nAt ";
}
// The source position part of a warning entry.
inline std::string Position(const std::string& source, unsigned line) {
    return ", See : \"" + source + "\", line " + std::to_string(line) + "\n\n";
}

// A skeleton of three joints (root, a child, a grandchild), one or two
// meshes over it.
inline zvtools::MD5MeshFile SampleMesh(bool twoMeshes = false) {
    zvtools::MD5MeshFile f;
    zvtools::MD5Joint root;
    root.name = "origin";
    root.parent = -1;
    root.pos[2] = 1.5f;
    root.orient[0] = -0.5f;
    root.orient[1] = -0.5f;
    root.orient[2] = -0.5f;
    zvtools::MD5Joint spine;
    spine.name = "spine";
    spine.parent = 0;
    spine.pos[0] = 0.25f;
    spine.pos[1] = -3.0f;
    spine.pos[2] = 40.125f;
    spine.orient[0] = 0.1f;
    spine.orient[1] = -0.2f;
    spine.orient[2] = 0.3f;
    zvtools::MD5Joint head;
    head.name = "head";
    head.parent = 1;
    head.pos[2] = 60.0f;
    f.joints = {root, spine, head};

    zvtools::MD5Mesh body;
    body.shader = "models/body";
    body.comment = "meshes: body";
    for (int i = 0; i < 4; ++i) {
        zvtools::MD5Vert v;
        v.u = 0.25f * (float)i;
        v.v = 1.0f - 0.125f * (float)i;
        v.firstWeight = i == 3 ? 3 : i;
        v.numWeights = i == 3 ? 2 : 1;
        body.verts.push_back(v);
    }
    body.tris.resize(2);
    body.tris[0].v[0] = 0; body.tris[0].v[1] = 1; body.tris[0].v[2] = 2;
    body.tris[1].v[0] = 0; body.tris[1].v[1] = 2; body.tris[1].v[2] = 3;
    const float wpos[5][3] = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {0, 10, 2}};
    const int wjoint[5] = {0, 1, 2, 0, 2};
    const float wbias[5] = {1, 1, 1, 0.75f, 0.25f};
    for (int i = 0; i < 5; ++i) {
        zvtools::MD5Weight w;
        w.joint = wjoint[i];
        w.bias = wbias[i];
        for (int c = 0; c < 3; ++c) w.pos[c] = wpos[i][c];
        body.weights.push_back(w);
    }
    f.meshes.push_back(body);
    if (twoMeshes) {
        zvtools::MD5Mesh eyes;
        eyes.shader = "models/eyes";
        for (int i = 0; i < 3; ++i) {
            zvtools::MD5Vert v;
            v.firstWeight = i;
            v.numWeights = 1;
            eyes.verts.push_back(v);
        }
        eyes.tris.resize(1);
        eyes.tris[0].v[0] = 2; eyes.tris[0].v[1] = 1; eyes.tris[0].v[2] = 0;
        for (int i = 0; i < 3; ++i) {
            zvtools::MD5Weight w;
            w.joint = 2;
            w.pos[0] = (float)i;
            w.pos[1] = (float)(i * i);
            eyes.weights.push_back(w);
        }
        f.meshes.push_back(eyes);
    }
    return f;
}

// An animation of the sample skeleton: the root moves in x and y, the spine
// turns about all three axes, the head is still (flags 0).
inline zvtools::MD5Anim SampleAnim(int numFrames = 3) {
    zvtools::MD5Anim a;
    a.frameRate = 24.0f;
    a.joints.resize(3);
    a.joints[0].name = "origin";
    a.joints[0].parent = -1;
    a.joints[0].flags = 3;
    a.joints[1].name = "spine";
    a.joints[1].parent = 0;
    a.joints[1].flags = 56;
    a.joints[2].name = "head";
    a.joints[2].parent = 1;
    a.joints[2].flags = 0;
    int components = zvtools::AssignMD5StartIndices(&a);
    a.baseframe.resize(3);
    for (int j = 0; j < 3; ++j) {
        a.baseframe[j].pos[0] = (float)j;
        a.baseframe[j].pos[1] = 2.5f * (float)j;
        a.baseframe[j].orient[2] = -0.125f * (float)j;
    }
    for (int f = 0; f < numFrames; ++f) {
        zvtools::MD5Bound b;
        b.min[0] = -1.0f - (float)f;
        b.max[2] = 70.0f + (float)f;
        a.bounds.push_back(b);
        std::vector<float> frame;
        for (int c = 0; c < components; ++c) frame.push_back((float)(f * 10 + c) + 0.5f);
        a.frames.push_back(frame);
    }
    return a;
}

// Graphics manager stand-in: a real index buffer in memory, textures that
// exist when their file does, and CorrectIndices as the engine's.
class FakeIB : public IIndexBuffer {
public:
    explicit FakeIB(u32 count) : indices(count), copy(count) {}
    u32 AddRef() override { return ++ref; }
    u32 Release() override {
        if (ref == 0) return 0;
        if (--ref == 0) {
            ++released;
            return 0;
        }
        return ref;
    }
    const String& GetName() override {
        static String name("IB");
        return name;
    }
    HRESULT Active() override { return S_OK; }
    HRESULT Lock(u16** data, u16** systemCopy) override {
        if (failLock) return E_FAIL;
        *data = indices.data();
        *systemCopy = copy.data();
        ++locks;
        return S_OK;
    }
    HRESULT Unlock() override {
        ++unlocks;
        return S_OK;
    }
    u32 GetNumIndices() override { return (u32)indices.size(); }

    std::vector<u16> indices, copy;
    u32 ref = 0;
    int locks = 0, unlocks = 0, released = 0;
    bool failLock = false;
};

class FakeTexture : public ITexture {
public:
    explicit FakeTexture(const std::string& file) : fileName(file) {}
    u32 AddRef() override { return ++ref; }
    u32 Release() override {
        if (ref == 0) return 0;
        return --ref;
    }
    const String& GetName() override {
        static String name("Texture");
        return name;
    }
    HRESULT Active(u32) override {
        ++actives;
        return S_OK;
    }
    std::string fileName;
    int actives = 0;
    u32 ref = 0;
};

// A vertex buffer in memory with its position copy, as the engine's.
class FakeVB : public IVertexBuffer {
public:
    FakeVB(u32 fvfCode, u32 count) : fvf(fvfCode), bytes((size_t)count * 32, 0xCD), positions(count), numVertices(count) {}
    u32 AddRef() override { return ++ref; }
    u32 Release() override {
        if (ref == 0) return 0;
        if (--ref == 0) {
            ++released;
            return 0;
        }
        return ref;
    }
    const String& GetName() override {
        static String name("VB");
        return name;
    }
    HRESULT Active(u32) override {
        ++actives;
        return failActive ? E_FAIL : S_OK;
    }
    HRESULT Lock(void** data, Vector3** copy) override {
        if (failLock) return E_FAIL;
        ++locks;
        *data = bytes.data();
        if (copy) *copy = positions.data();
        return S_OK;
    }
    HRESULT Unlock() override {
        ++unlocks;
        return S_OK;
    }
    u32 GetNumVertices() override { return numVertices; }

    // Vertex v of the buffer: position, normal, texture coordinates.
    const float* Vertex(u32 v) const { return reinterpret_cast<const float*>(bytes.data() + (size_t)v * 32); }

    u32 fvf;
    std::vector<uint8_t> bytes;
    std::vector<Vector3> positions;
    u32 numVertices;
    u32 ref = 0;
    int locks = 0, unlocks = 0, actives = 0, released = 0;
    bool failLock = false, failActive = false;
};

class FakeGraphics : public IGraphics {
public:
    ~FakeGraphics() {
        for (FakeIB* ib : ibs) delete ib;
        for (FakeTexture* t : textures) delete t;
        for (FakeVB* vb : vbs) delete vb;
    }
    HRESULT CreateVB(u32 fvf, u32 vertexCount, bool dynamic, IVertexBuffer** out) override {
        if (failCreateVB || vertexCount == 0) return E_FAIL;
        FakeVB* vb = new FakeVB(fvf, vertexCount);
        vbDynamic = dynamic;
        vbs.push_back(vb);
        vb->AddRef();
        *out = vb;
        return S_OK;
    }
    struct DrawCall {
        Matrix world;
        DrawPrimitiveInfos range;
        PrimitiveType type;
        bool indexed;
    };
    HRESULT Draw(PrimitiveType type, const Matrix* world, const DrawPrimitiveInfos* range, bool indexed) override {
        draws.push_back(DrawCall{*world, *range, type, indexed});
        return failDraw ? E_FAIL : S_OK;
    }
    HRESULT SetMaterial(const D3DMATERIAL9* m) override {
        materials.push_back(*m);
        return S_OK;
    }
    HRESULT DesactiveTexture(u32) override {
        ++desactivations;
        return S_OK;
    }
    HRESULT RemoveGeometry(IGeometry* geometry) override {
        removed.push_back(geometry);
        return S_OK;
    }
    bool failCreateVB = false, failDraw = false, vbDynamic = false;
    std::vector<FakeVB*> vbs;
    std::vector<DrawCall> draws;
    std::vector<D3DMATERIAL9> materials;
    std::vector<IGeometry*> removed;
    int desactivations = 0;

    u32 AddRef() override { return ++ref; }
    u32 Release() override { return ref ? --ref : 0; }
    const String& GetName() override {
        static String name("FakeGraphics");
        return name;
    }

    HRESULT CorrectIndices(u16** indices, u32* count) override {
        ++corrections;
        if (failCorrect || !indices || !*indices || !count || *count < 3) return ZVE_SUBFUNCTION;
        u16* a = *indices;
        const u32 triangles = *count / 3;
        for (u32 t = triangles; t-- > 0;) {
            u16* tri = a + 3 * t;
            if (tri[0] == tri[1] || tri[1] == tri[2] || tri[2] == tri[0]) {
                std::memcpy(tri, a + *count - 3, 3 * sizeof(u16));
                *count -= 3;
            }
        }
        return S_OK;
    }
    HRESULT CreateIB(u32 indexCount, bool dynamic, IIndexBuffer** out) override {
        if (failCreateIB || indexCount == 0) return E_FAIL;
        FakeIB* ib = new FakeIB(indexCount);
        ib->failLock = failLock;
        ibDynamic = dynamic;
        ibs.push_back(ib);
        ib->AddRef();
        *out = ib;
        return S_OK;
    }
    HRESULT CreateTexture(const String& fileName, ITexture** out) override {
        requested.push_back(fileName.c_str());
        if (failTextures) return E_FAIL;
        FakeTexture* t = new FakeTexture(fileName.c_str());
        textures.push_back(t);
        t->AddRef();
        *out = t;
        return S_OK;
    }

    u32 ref = 1;
    int corrections = 0;
    bool failCorrect = false, failCreateIB = false, failLock = false, failTextures = false, ibDynamic = true;
    std::vector<FakeIB*> ibs;
    std::vector<FakeTexture*> textures;
    std::vector<std::string> requested;
};

}  // namespace md5test
