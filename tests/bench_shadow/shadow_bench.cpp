// Edge-list building and per-frame volume building on a 65,535-vertex grid.
#include <benchmark/benchmark.h>

#include <vector>

#include "zvgraphstenshad.h"

namespace {

const u32 kW = 255, kH = 257;  // 65,535 vertices

struct Grid {
    std::vector<Vector3> pos;
    std::vector<u16> idx;
    Grid() {
        for (u32 y = 0; y < kH; ++y)
            for (u32 x = 0; x < kW; ++x) pos.push_back(Vector3((float)x, 0.1f * (float)((x * y) % 7), (float)y));
        for (u32 y = 0; y + 1 < kH; ++y)
            for (u32 x = 0; x + 1 < kW; ++x) {
                u16 a = (u16)(y * kW + x), b = (u16)(a + 1), c = (u16)(a + kW), d = (u16)(c + 1);
                idx.insert(idx.end(), {a, c, b, b, c, d});
            }
    }
};

const Grid& TheGrid() {
    static Grid grid;
    return grid;
}

void BM_BuildEdges(benchmark::State& state) {
    const Grid& g = TheGrid();
    Vector<Edge> edges;
    for (auto _ : state) {
        ZVBuildEdges(g.idx.data(), (u32)g.idx.size(), edges);
        benchmark::DoNotOptimize(edges.data);
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)(g.idx.size() / 3));
}
BENCHMARK(BM_BuildEdges)->Unit(benchmark::kMillisecond);

void BM_ShadowVolume(benchmark::State& state) {
    const Grid& g = TheGrid();
    Vector<Edge> edges;
    ZVBuildEdges(g.idx.data(), (u32)g.idx.size(), edges);
    std::vector<u8> flags(g.idx.size() / 3);
    std::vector<Vector3> out(6 * g.pos.size());
    Vector3 light(128.0f, 3.0f, 128.0f);
    for (auto _ : state) {
        ZVClassifyTriangles(g.pos.data(), (u32)g.pos.size(), g.idx.data(), (u32)g.idx.size(), light, flags.data());
        u32 k = ZVWriteShadowQuads(edges.data, edges.count, flags.data(), (u32)flags.size(), g.pos.data(),
                                   (u32)g.pos.size(), light, out.data(), (u32)out.size());
        benchmark::DoNotOptimize(k);
    }
}
BENCHMARK(BM_ShadowVolume)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
