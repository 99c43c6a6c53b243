// Parser and scene-file throughput on a large generated scene file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "config.h"
#include "zvstuff.h"

namespace {

std::string MakeScene(int models) {
    std::string text = "// generated scene\npath data\npath \"maps dir\"\n";
    text += "display\n{\n adapter 0\n resolution 1024 768\n windowed 1\n strict 0\n performance 0\n}\n";
    for (int i = 0; i < models; ++i) {
        text += "model \"monster_" + std::to_string(i) + ".cfg\" /* model */\n{\n";
        text += "  position " + std::to_string(i) + ".5 0 -" + std::to_string(i * 2) + " 90\n}\n";
        text += "pointlight\n{\n position 0 100 0\n ambient 0.1 0.1 0.1\n diffuse 1 1 1\n specular 1 1 1\n}\n";
    }
    return text;
}

std::string WriteScene(int models) {
    std::string name = "bench_scene_" + std::to_string(models) + ".txt";
    std::string path = std::string(GetExeDir().c_str()) + name;
    std::string text = MakeScene(models);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    return path;
}

void BM_ParseScene(benchmark::State& state) {
    std::string path = WriteScene((int)state.range(0));
    Parser parser;
    parser.SetSeparators(nullptr, 0, nullptr, 0);
    size_t bytes = 0;
    for (auto _ : state) {
        File file;
        file.Open(path.c_str(), "rb");
        Vector<Parser::Line> lines;
        parser.Parse(&file, &lines, false);
        benchmark::DoNotOptimize(lines.count);
        bytes += (size_t)std::ftell(file.handle);
    }
    state.SetBytesProcessed((int64_t)bytes);
}
BENCHMARK(BM_ParseScene)->Arg(100)->Arg(10000);

void BM_LoadConfig(benchmark::State& state) {
    std::string path = WriteScene((int)state.range(0));
    for (auto _ : state) {
        Config config;
        config.Load(path.c_str());
        benchmark::DoNotOptimize(config.models.count);
    }
}
BENCHMARK(BM_LoadConfig)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
