// Cal3D mesh reading throughput: one submesh of 10,000 vertices with two
// influences and one texture-coordinate map each.
#include <benchmark/benchmark.h>

#include <string>

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

}  // namespace

BENCHMARK_MAIN();
