// Texture decoding throughput: a 1024 x 1024 picture as TGA (plain,
// run-length encoded and colour-mapped) and as PNG, decoded from memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "zvimage.h"
#include "zvimagewriters.h"

namespace {

const int kSize = 1024;

// Smooth areas with some detail, like a typical texture.
std::vector<uint8_t> MakeTexture() {
    std::vector<uint8_t> p((size_t)kSize * kSize * 4);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            uint8_t* q = &p[((size_t)y * kSize + x) * 4];
            q[0] = (uint8_t)((x / 16) * 8);
            q[1] = (uint8_t)((y / 16) * 8);
            q[2] = (uint8_t)((x ^ y) & 0xF0);
            q[3] = (uint8_t)(((x / 64) + (y / 64)) % 2 ? 255 : 128);
        }
    return p;
}

// The same kind of texture in 256 colours, for a colour map.
std::vector<uint8_t> MakeFewColourTexture() {
    std::vector<uint8_t> p((size_t)kSize * kSize * 4);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            uint8_t* q = &p[((size_t)y * kSize + x) * 4];
            q[0] = (uint8_t)((x / 128) * 32);
            q[1] = (uint8_t)((y / 128) * 32);
            q[2] = (uint8_t)((x ^ y) & 0xC0);
            q[3] = 255;
        }
    return p;
}

void Decode(benchmark::State& state, const std::vector<uint8_t>& file) {
    ZVImage image;
    for (auto _ : state) {
        if (!ZVImageLoadMemory(file.data(), file.size(), &image, nullptr)) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(image.pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)kSize * kSize * 4);
}

void BM_DecodeTGA32(benchmark::State& state) {
    static const std::vector<uint8_t> file = zvtools::EncodeTGA(kSize, kSize, MakeTexture().data());
    Decode(state, file);
}
BENCHMARK(BM_DecodeTGA32)->Unit(benchmark::kMillisecond);

void BM_DecodeTGA24(benchmark::State& state) {
    zvtools::TgaOptions o;
    o.bits = 24;
    static const std::vector<uint8_t> file = zvtools::EncodeTGA(kSize, kSize, MakeTexture().data(), o);
    Decode(state, file);
}
BENCHMARK(BM_DecodeTGA24)->Unit(benchmark::kMillisecond);

void BM_DecodeTGA32RLE(benchmark::State& state) {
    zvtools::TgaOptions o;
    o.rle = true;
    static const std::vector<uint8_t> file = zvtools::EncodeTGA(kSize, kSize, MakeTexture().data(), o);
    Decode(state, file);
}
BENCHMARK(BM_DecodeTGA32RLE)->Unit(benchmark::kMillisecond);

void BM_DecodeTGAMapped(benchmark::State& state) {
    zvtools::TgaOptions o;
    o.kind = zvtools::TgaOptions::ColourMapped;
    o.bits = 8;
    static const std::vector<uint8_t> file = zvtools::EncodeTGA(kSize, kSize, MakeFewColourTexture().data(), o);
    Decode(state, file);
}
BENCHMARK(BM_DecodeTGAMapped)->Unit(benchmark::kMillisecond);

void BM_DecodePNG(benchmark::State& state) {
    static const std::vector<uint8_t> file = zvtools::EncodePNG(kSize, kSize, MakeTexture().data());
    Decode(state, file);
}
BENCHMARK(BM_DecodePNG)->Unit(benchmark::kMillisecond);

void BM_DecodePNGOpaque(benchmark::State& state) {
    zvtools::PngOptions o;
    o.kind = zvtools::PngOptions::RGB;
    static const std::vector<uint8_t> file = zvtools::EncodePNG(kSize, kSize, MakeTexture().data(), o);
    Decode(state, file);
}
BENCHMARK(BM_DecodePNGOpaque)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
