// Cal3D benchmarks: mesh reading throughput (one submesh of 10,000 vertices
// with two influences and one texture-coordinate map each), and one Update
// of an instance (10,000 vertices with four influences each, 60 bones, two
// blended animations) skinned into a buffer in memory.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "modelcal3d.h"
#include "modelcal3dmeta.h"
#include "zvcal3dwriter.h"
#include "zvstuff.h"

namespace {

std::string WriteMesh(int numVertices) {
    zvtools::Cal3DMesh mesh;
    zvtools::Cal3DSubMesh sub;
    for (int i = 0; i < numVertices; ++i) {
        zvtools::Cal3DVertex v;
        v.pos[0] = (float)(i % 100);
        v.pos[1] = (float)(i / 100);
        v.texCoords = {0.01f * (float)(i % 100), 0.01f * (float)(i / 100)};
        v.influences = {{i % 7, 0.75f}, {(i + 1) % 7, 0.25f}};
        sub.vertices.push_back(v);
    }
    for (int i = 0; i + 2 < numVertices; ++i) sub.faces.insert(sub.faces.end(), {i, i + 1, i + 2});
    mesh.subMeshes.push_back(sub);
    std::string path = std::string(GetExeDir().c_str()) + "bench_mesh_" + std::to_string(numVertices) + ".cmf";
    zvtools::WriteCal3DFile(path, zvtools::WriteCal3DMesh(mesh));
    return path;
}

void BM_LoadMesh10k(benchmark::State& state) {
    std::string path = WriteMesh(10000);
    String name(path.c_str());
    for (auto _ : state) {
        Vector<i32> materials;
        Vector<Vector<i32>> faces;
        Vector<Vector<ModelCal3DMeta::Vertex>> vertices;
        Vector<Vector<ModelCal3DMeta::Influence>> influences;
        HRESULT hr = ModelCal3DMeta::LoadMesh(name, &materials, &faces, &vertices, &influences);
        if (hr != S_OK) state.SkipWithError("LoadMesh failed");
        benchmark::DoNotOptimize(vertices.data);
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_LoadMesh10k)->Unit(benchmark::kMillisecond);

// Buffers in memory: the skinning cost without the driver's upload.
class MemoryVB : public IVertexBuffer {
public:
    explicit MemoryVB(u32 n) : bytes((size_t)n * 32), positions(n), count(n) {}
    u32 AddRef() override { return ++ref; }
    u32 Release() override {
        if (--ref == 0) {
            delete this;
            return 0;
        }
        return ref;
    }
    const String& GetName() override {
        static String name("MemoryVB");
        return name;
    }
    HRESULT Active(u32) override { return S_OK; }
    HRESULT Lock(void** data, Vector3** pos) override {
        *data = bytes.data();
        if (pos) *pos = positions.data();
        return S_OK;
    }
    HRESULT Unlock() override { return S_OK; }
    u32 GetNumVertices() override { return count; }
    std::vector<uint8_t> bytes;
    std::vector<Vector3> positions;
    u32 count;
    u32 ref = 0;
};

class MemoryIB : public IIndexBuffer {
public:
    explicit MemoryIB(u32 n) : indices(n), copy(n) {}
    u32 AddRef() override { return ++ref; }
    u32 Release() override {
        if (--ref == 0) {
            delete this;
            return 0;
        }
        return ref;
    }
    const String& GetName() override {
        static String name("MemoryIB");
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
    std::vector<u16> indices, copy;
    u32 ref = 0;
};

class MemoryGraphics : public IGraphics {
public:
    u32 AddRef() override { return ++ref; }
    u32 Release() override { return --ref; }
    const String& GetName() override {
        static String name("MemoryGraphics");
        return name;
    }
    HRESULT CorrectIndices(u16**, u32*) override { return S_OK; }
    HRESULT CreateVB(u32, u32 n, bool, IVertexBuffer** out) override {
        MemoryVB* vb = new MemoryVB(n);
        vb->AddRef();
        *out = vb;
        return S_OK;
    }
    HRESULT CreateIB(u32 n, bool, IIndexBuffer** out) override {
        MemoryIB* ib = new MemoryIB(n);
        ib->AddRef();
        *out = ib;
        return S_OK;
    }
    HRESULT RemoveGeometry(IGeometry*) override { return S_OK; }
    u32 ref = 1;
};

// A 60-bone tree (bone b hangs from bone (b - 1) / 2), two animations that
// turn every bone with five keys each, and 10,000 vertices of four
// influences.  The description's path.
std::string WriteSkinningModel() {
    const int numBones = 60, numVertices = 10000;
    zvtools::Cal3DSkeleton skeleton;
    skeleton.bones.resize(numBones);
    for (int b = 0; b < numBones; ++b) {
        zvtools::Cal3DBone& bone = skeleton.bones[b];
        bone.name = "bone" + std::to_string(b);
        bone.parent = b == 0 ? -1 : (b - 1) / 2;
        if (b > 0) skeleton.bones[(b - 1) / 2].children.push_back(b);
        bone.translation[1] = b == 0 ? 0.0f : 0.5f;
        bone.translationBoneSpace[1] = -0.5f * (float)b;
    }
    zvtools::Cal3DAnimation anims[2];
    for (int a = 0; a < 2; ++a) {
        anims[a].duration = 2.0f;
        for (int b = 0; b < numBones; ++b) {
            zvtools::Cal3DTrack track;
            track.bone = b;
            for (int k = 0; k < 5; ++k) {
                zvtools::Cal3DKeyFrame key;
                key.time = 0.5f * (float)k;
                key.translation[1] = b == 0 ? 0.0f : 0.5f;
                double angle = 0.3 * std::sin(k + b + a);
                key.rotation[a] = (float)std::sin(angle / 2);
                key.rotation[3] = (float)std::cos(angle / 2);
                track.keyFrames.push_back(key);
            }
            anims[a].tracks.push_back(track);
        }
    }
    zvtools::Cal3DMesh mesh;
    zvtools::Cal3DSubMesh sub;
    for (int i = 0; i < numVertices; ++i) {
        zvtools::Cal3DVertex v;
        v.pos[0] = (float)(i % 100) * 0.01f;
        v.pos[1] = (float)(i / 100) * 0.3f;
        v.normal[0] = 1.0f;
        v.texCoords = {0.01f * (float)(i % 100), 0.01f * (float)(i / 100)};
        v.influences = {{i % numBones, 0.4f}, {(i + 7) % numBones, 0.3f}, {(i + 19) % numBones, 0.2f},
                        {(i + 31) % numBones, 0.1f}};
        sub.vertices.push_back(v);
    }
    for (int i = 0; i + 2 < numVertices; ++i) sub.faces.insert(sub.faces.end(), {i, i + 1, i + 2});
    mesh.subMeshes.push_back(sub);
    zvtools::Cal3DMaterial material;

    std::string dir = std::string(GetExeDir().c_str());
    zvtools::WriteCal3DFile(dir + "bench_skin.csf", zvtools::WriteCal3DSkeleton(skeleton));
    zvtools::WriteCal3DFile(dir + "bench_skin_a.caf", zvtools::WriteCal3DAnimation(anims[0]));
    zvtools::WriteCal3DFile(dir + "bench_skin_b.caf", zvtools::WriteCal3DAnimation(anims[1]));
    zvtools::WriteCal3DFile(dir + "bench_skin.cmf", zvtools::WriteCal3DMesh(mesh));
    zvtools::WriteCal3DFile(dir + "bench_skin.crf", zvtools::WriteCal3DMaterial(material));
    std::string cfg = dir + "bench_skin.cfg";
    zvtools::WriteCal3DFile(cfg, zvtools::WriteCal3DConfig({{"path", dir},
                                                            {"skeleton", "bench_skin.csf"},
                                                            {"animation", "bench_skin_a.caf"},
                                                            {"animation", "bench_skin_b.caf"},
                                                            {"mesh", "bench_skin.cmf"},
                                                            {"material", "bench_skin.crf"}}));
    return cfg;
}

void BM_Update10kTwoAnimations(benchmark::State& state) {
    MemoryGraphics graphics;
    IGeometry* geometry = nullptr;
    ZVTestCaptureLog(nullptr);
    if (ModelCal3D::Create("cal3d", WriteSkinningModel().c_str(), &graphics, &geometry) != S_OK) {
        state.SkipWithError("the model did not load");
        return;
    }
    IModel* model = dynamic_cast<IModel*>(geometry);
    model->AddAnimation(0u, 1.0f);
    model->AddAnimation(1u, 2.0f);
    for (auto _ : state) {
        // Both keep looping, as a game asks every frame.
        model->AddAnimation(0u, 1.0f);
        model->AddAnimation(1u, 2.0f);
        if (model->Update(0.004f) != S_OK) state.SkipWithError("Update failed");
    }
    state.SetItemsProcessed(state.iterations() * 10000);
    geometry->Release();
}
BENCHMARK(BM_Update10kTwoAnimations)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
