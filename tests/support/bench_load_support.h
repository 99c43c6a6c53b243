// The whole load of a model file through the real graphics manager, timed by
// a benchmark: a core and a device on a small window, then CreateGeometry of
// the file in every iteration (the release of the geometry is not timed).
// It opens a window: run the benchmark under a display (xvfb-run).
#pragma once

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <functional>
#include <string>

#include "zvcore.h"
#include "zvgraphicsd3d9.h"
#include "zvstuff.h"

namespace zvbench {

// The folder beside the benchmark program where the files to load are written.
inline std::string LoadDir() {
    const std::string dir = std::string(GetExeDir().c_str()) + "benchdata/";
    mkdir(dir.c_str(), 0755);
    return dir;
}

// Times CreateGeometry(kind, file) with LoadDir() as the only search path;
// `write` makes the file (and whatever it names) in that folder first.
inline void TimeGeometryLoad(benchmark::State& state, const char* kind, const char* file,
                             const std::function<void(const std::string& dir)>& write) {
    std::string log;
    ZVTestCaptureLog(&log);  // keeps the console quiet
    const std::string dir = LoadDir();
    write(dir);
    Vector<String> saved = Paths;
    Paths.count = 0;
    Paths.Add(String(dir.c_str()));
    ICore* core = nullptr;
    IGraphics* graphics = nullptr;
    DisplaySettings settings(0, 1, 0, 0);
    if (CreateCore(&core) < 0 || core->Init(nullptr, "bench", 320, 240) < 0 || core->CreateGraphics(&graphics) < 0 ||
        graphics->SetScreenMode(&settings, false, false) < 0) {
        state.SkipWithError("no graphics device");
    } else {
        const String name(file);
        for (auto _ : state) {
            IGeometry* geometry = nullptr;
            if (graphics->CreateGeometry(kind, name, &geometry) < 0) {
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

}  // namespace zvbench
