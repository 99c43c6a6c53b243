// Load time of a 60,000-vertex .3ds scene (60 grid meshes of 1,000 vertices,
// four materials) through CreateGeometry, with the real graphics manager.
// Run under a display (xvfb-run) like the rendering tests.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "model3ds.h"
#include "toolkit3ds.h"
#include "zv3dswriter.h"
#include "zvcore.h"
#include "zvgraphicsd3d9.h"

namespace {

zvtools::Scene3ds BigScene() {
    const int cols = 40, rows = 25;  // 1,000 vertices per mesh
    zvtools::Scene3ds scene;
    const char* names[4] = {"rock", "grass", "metal", "wood"};
    for (const char* n : names) {
        zvtools::Material3ds m;
        m.name = n;
        scene.materials.push_back(m);
    }
    for (int k = 0; k < 60; ++k) {
        zvtools::Mesh3ds mesh;
        mesh.name = "grid" + std::to_string(k);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                mesh.vertices.insert(mesh.vertices.end(),
                                     {(float)c + 50.0f * (k % 8), (float)r + 30.0f * (k / 8), (float)((r * c + k) % 7)});
                mesh.texCoords.insert(mesh.texCoords.end(), {(float)c / cols, (float)r / rows});
            }
        }
        zvtools::MatGroup3ds first{names[k % 4], {}}, second{names[(k + 1) % 4], {}};
        for (int r = 0; r + 1 < rows; ++r) {
            for (int c = 0; c + 1 < cols; ++c) {
                uint16_t a = (uint16_t)(r * cols + c), b = (uint16_t)(a + 1), d = (uint16_t)(a + cols),
                         e = (uint16_t)(d + 1);
                auto& group = r < rows / 2 ? first : second;
                group.faces.push_back((uint16_t)(mesh.faces.size() / 4));
                mesh.faces.insert(mesh.faces.end(), {a, b, e, 7});
                group.faces.push_back((uint16_t)(mesh.faces.size() / 4));
                mesh.faces.insert(mesh.faces.end(), {a, e, d, 7});
            }
        }
        mesh.groups = {first, second};
        scene.meshes.push_back(mesh);
    }
    return scene;
}

void BM_Load60000VertexScene(benchmark::State& state) {
    ICore* core = nullptr;
    IGraphics* graphics = nullptr;
    std::string log;
    ZVTestCaptureLog(&log);  // keeps the console quiet
    std::string dir = std::string(GetExeDir().c_str()) + "benchdata/";
    mkdir(dir.c_str(), 0755);
    Vector<String> saved = Paths;
    Paths.count = 0;
    Paths.Add(String(dir.c_str()));
    zvtools::WriteScene3ds(dir + "big.3ds", BigScene());
    DisplaySettings settings(0, 1, 0, 0);
    if (CreateCore(&core) < 0 || core->Init(nullptr, "bench", 320, 240) < 0 || core->CreateGraphics(&graphics) < 0 ||
        graphics->SetScreenMode(&settings, false, false) < 0) {
        state.SkipWithError("no graphics device");
    } else {
        for (auto _ : state) {
            IGeometry* geometry = nullptr;
            if (graphics->CreateGeometry("3ds", "big.3ds", &geometry) < 0) {
                state.SkipWithError("load failed");
                break;
            }
            state.PauseTiming();
            geometry->Release();
            log.clear();
            state.ResumeTiming();
        }
    }
    if (graphics) graphics->Release();
    if (core) core->Release();
    Paths = saved;
    ZVTestCaptureLog(nullptr);
}
BENCHMARK(BM_Load60000VertexScene)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
