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

// The small buffers most models unlock: one triangle, and a box of twelve.
void BM_BuildEdgesSmallBuffer(benchmark::State& state) {
    static const u16 kTriangle[3] = {0, 1, 2};
    static const u16 kBox[36] = {0, 1, 3, 0, 3, 2, 4, 6, 7, 4, 7, 5, 0, 4, 5, 0, 5, 1,
                                 2, 3, 7, 2, 7, 6, 0, 2, 6, 0, 6, 4, 1, 5, 7, 1, 7, 3};
    const u16* idx = state.range(0) == 1 ? kTriangle : kBox;
    const u32 count = state.range(0) == 1 ? 3 : 36;
    Vector<Edge> edges;
    for (auto _ : state) {
        ZVBuildEdges(idx, count, edges);
        benchmark::DoNotOptimize(edges.data);
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)(count / 3));
}
BENCHMARK(BM_BuildEdgesSmallBuffer)->Arg(1)->Arg(12)->Unit(benchmark::kMicrosecond);

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
