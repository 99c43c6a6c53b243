// Reading throughput of the 3DS chunk toolkit: a 60,000-vertex scene with
// 20 materials read into the database, then every mesh and material fetched.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "toolkit3ds.h"
#include "zv3dswriter.h"

namespace {

const char* kFile = "bench_scene.3ds";

void WriteSceneOnce() {
    static bool written = false;
    if (written) return;
    zvtools::Scene3ds scene;
    for (int i = 0; i < 20; ++i) {
        zvtools::Material3ds m;
        m.name = "Mat" + std::to_string(i);
        m.diffuse[0] = static_cast<uint8_t>(i * 10);
        m.shininess = 30;
        m.texture = "tex" + std::to_string(i) + ".tga";
        scene.materials.push_back(m);
    }
    // 20 meshes of 3,000 vertices (a 50 x 60 grid), one material each, and
    // half of their faces in a second group.
    for (int k = 0; k < 20; ++k) {
        zvtools::Mesh3ds mesh;
        mesh.name = "Grid" + std::to_string(k);
        const int w = 50, h = 60;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                mesh.vertices.insert(mesh.vertices.end(), {float(x), float(y), float(k)});
                mesh.texCoords.insert(mesh.texCoords.end(), {x / float(w), y / float(h)});
            }
        zvtools::MatGroup3ds a{"Mat" + std::to_string(k), {}};
        zvtools::MatGroup3ds b{"Mat" + std::to_string((k + 1) % 20), {}};
        uint16_t face = 0;
        for (int y = 0; y + 1 < h; ++y)
            for (int x = 0; x + 1 < w; ++x) {
                uint16_t v = static_cast<uint16_t>(y * w + x);
                mesh.faces.insert(mesh.faces.end(), {v, uint16_t(v + 1), uint16_t(v + w), 7});
                mesh.faces.insert(mesh.faces.end(), {uint16_t(v + 1), uint16_t(v + w + 1), uint16_t(v + w), 7});
                (x < w / 2 ? a : b).faces.push_back(face);
                (x < w / 2 ? a : b).faces.push_back(uint16_t(face + 1));
                face = static_cast<uint16_t>(face + 2);
            }
        mesh.groups = {a, b};
        mesh.smoothing.assign(face, 1);
        scene.meshes.push_back(mesh);
    }
    written = zvtools::WriteScene3ds(kFile, scene);
}

void BM_ReadDatabaseAndFetch(benchmark::State& state) {
    WriteSceneOnce();
    size_t vertices = 0;
    for (auto _ : state) {
        FileRec3ds* file = OpenChunkFile3ds(kFile, "r");
        Database3ds* db = nullptr;
        NewDatabase3ds(&db);
        FillDatabase3ds(file, &db);
        vertices = 0;
        u32_3ds nMat = CountMaterials3ds(db);
        for (u32_3ds i = 0; i < nMat; ++i) {
            MaterialData3ds* m = nullptr;
            FetchMaterial3ds(db, i, &m);
            FreeMaterial3ds(&m);
        }
        u32_3ds nMesh = CountMeshes3ds(db);
        for (u32_3ds i = 0; i < nMesh; ++i) {
            MeshData3ds* m = nullptr;
            FetchMesh3ds(db, i, &m);
            if (m) vertices += m->nVertices;
            FreeMesh3ds(&m);
        }
        FreeDatabase3ds(&db);
        CloseChunkFile3ds(file);
        if (errorsPending) {
            state.SkipWithError("toolkit error");
            ClearErrors3ds();
            break;
        }
        benchmark::DoNotOptimize(vertices);
    }
    state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_ReadDatabaseAndFetch)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
