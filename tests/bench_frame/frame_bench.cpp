// One frame of the demo scene of Skirmora at 800x600, per lighting path:
// the arena, the three opponents animating and the three point lights, drawn
// by the graphics manager's UpdateAndRender (scene, shadows, Present).
//
// The demo content and the font image are generated beside this program at
// build time; run it under Xvfb, as the rendering tests are:
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/bench_frame/bench_frame
#include <benchmark/benchmark.h>

#include "deathmatch.h"

namespace {

// A fixed step of world time per frame: the opponents' animations move the
// same way in every run.
const float kStep = 1.0f / 60.0f;

// The game, set up once from "zvscene.txt" beside the program and shared by
// every benchmark.
DeathMatch* Game() {
    static DeathMatch* game = [] {
        DeathMatch* g = new DeathMatch();
        if (g->Init() < 0) {
            delete g;
            return (DeathMatch*)nullptr;
        }
        // Every path drawn a while first: the device's programs and the
        // rasteriser's own code for them are made before any timing.
        for (LightningPath path : {NoLightning, SimpleLighting, StencilShadow}) {
            g->pGraphics->SetRenderState(LIGHTNINGPATH, path);
            for (int i = 0; i < 20; ++i) g->pGraphics->UpdateAndRender(kStep);
        }
        return g;
    }();
    return game;
}

void DrawFrames(benchmark::State& state, LightningPath path) {
    DeathMatch* game = Game();
    if (!game || game->pGraphics->SetRenderState(LIGHTNINGPATH, path) < 0) {
        state.SkipWithError("the demo scene could not be set up");
        return;
    }
    for (int i = 0; i < 5; ++i) game->pGraphics->UpdateAndRender(kStep);
    for (auto _ : state) {
        state.PauseTiming();
        game->pCore->Update(true);  // window messages, as the game's loop reads them
        state.ResumeTiming();
        if (game->pGraphics->UpdateAndRender(kStep) < 0) {
            state.SkipWithError("UpdateAndRender failed");
            return;
        }
    }
    state.counters["fps"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

void BM_Frame_NoLightning(benchmark::State& state) { DrawFrames(state, NoLightning); }
void BM_Frame_SimpleLighting(benchmark::State& state) { DrawFrames(state, SimpleLighting); }
void BM_Frame_StencilShadow(benchmark::State& state) { DrawFrames(state, StencilShadow); }
BENCHMARK(BM_Frame_NoLightning)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Frame_SimpleLighting)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Frame_StencilShadow)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete Game();
    return 0;
}
