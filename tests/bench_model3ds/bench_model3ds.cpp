// Load time of a 60,000-vertex .3ds scene (60 grid meshes of 1,000 vertices,
// four materials) through CreateGeometry, with the real graphics manager.
// Run under a display (xvfb-run) like the rendering tests.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_load_support.h"
#include "zv3dswriter.h"

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
    zvbench::TimeGeometryLoad(state, "3ds", "big.3ds",
                              [](const std::string& dir) { zvtools::WriteScene3ds(dir + "big.3ds", BigScene()); });
}
BENCHMARK(BM_Load60000VertexScene)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
