// Load time of .3ds models through CreateGeometry, with the real graphics
// manager: a 60,000-vertex scene (60 grid meshes of 1,000 vertices, four
// materials), and a small model whose three materials name JPEG pictures of
// the sizes real models come with (so that the textures dominate), next to
// the decoding of those three pictures alone.
// Run under a display (xvfb-run) like the rendering tests.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_load_support.h"
#include "zv3dswriter.h"
#include "zvimage.h"
#include "zvimagewriters.h"

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

// A photograph-like picture: smooth gradients, a few soft rings and noise
// (JPEG files of flat colour decode and scale far too easily).
std::vector<uint8_t> Picture(int width, int height, uint32_t seed) {
    std::vector<uint8_t> bgra((size_t)width * height * 4);
    uint32_t noise = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int n = (int)(noise >> 27) - 16;
            const int ring = ((x - width / 3) * (x - width / 3) + (y - height / 2) * (y - height / 2)) / 97 % 64;
            uint8_t* p = &bgra[((size_t)y * width + x) * 4];
            const int b = 40 + 150 * x / width + ring + n, g = 30 + 180 * y / height + n,
                      r = 200 - 120 * (x + y) / (width + height) + ring / 2 + n;
            p[0] = (uint8_t)(b < 0 ? 0 : b > 255 ? 255 : b);
            p[1] = (uint8_t)(g < 0 ? 0 : g > 255 ? 255 : g);
            p[2] = (uint8_t)(r < 0 ? 0 : r > 255 ? 255 : r);
            p[3] = 255;
        }
    }
    return bgra;
}

struct PictureFile {
    const char* name;
    int width, height;
};
const PictureFile kPictures[3] = {{"wall.jpg", 800, 446}, {"floor.jpg", 400, 300}, {"crate.jpg", 800, 608}};

void WritePictures(const std::string& dir) {
    for (uint32_t i = 0; i < 3; ++i) {
        const PictureFile& f = kPictures[i];
        zvtools::WriteBytes(dir + f.name, zvtools::EncodeJPEG(f.width, f.height, Picture(f.width, f.height, i).data()));
    }
}

// Three textured grids of 192 vertices, one per material.
zvtools::Scene3ds TexturedModel() {
    const int cols = 16, rows = 12;
    zvtools::Scene3ds scene;
    for (int k = 0; k < 3; ++k) {
        zvtools::Material3ds m;
        m.name = std::string("material") + std::to_string(k);
        m.texture = kPictures[k].name;
        scene.materials.push_back(m);
        zvtools::Mesh3ds mesh;
        mesh.name = "part" + std::to_string(k);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                mesh.vertices.insert(mesh.vertices.end(), {(float)c + 20.0f * k, (float)r, (float)((r * c) % 5)});
                mesh.texCoords.insert(mesh.texCoords.end(), {(float)c / (cols - 1), (float)r / (rows - 1)});
            }
        }
        zvtools::MatGroup3ds group{m.name, {}};
        for (int r = 0; r + 1 < rows; ++r) {
            for (int c = 0; c + 1 < cols; ++c) {
                uint16_t a = (uint16_t)(r * cols + c), b = (uint16_t)(a + 1), d = (uint16_t)(a + cols),
                         e = (uint16_t)(d + 1);
                group.faces.push_back((uint16_t)(mesh.faces.size() / 4));
                mesh.faces.insert(mesh.faces.end(), {a, b, e, 7});
                group.faces.push_back((uint16_t)(mesh.faces.size() / 4));
                mesh.faces.insert(mesh.faces.end(), {a, e, d, 7});
            }
        }
        mesh.groups = {group};
        scene.meshes.push_back(mesh);
    }
    return scene;
}

void BM_LoadModelWithThreeJpegTextures(benchmark::State& state) {
    zvbench::TimeGeometryLoad(state, "3ds", "textured.3ds", [](const std::string& dir) {
        WritePictures(dir);
        zvtools::WriteScene3ds(dir + "textured.3ds", TexturedModel());
    });
}
BENCHMARK(BM_LoadModelWithThreeJpegTextures)->Unit(benchmark::kMillisecond);

// The share of that load spent in the image decoder.
void BM_DecodeTheThreeJpegTextures(benchmark::State& state) {
    const std::string dir = zvbench::LoadDir();
    WritePictures(dir);
    ZVImage image;
    for (auto _ : state) {
        for (const PictureFile& f : kPictures) {
            if (!ZVImageLoadFile((dir + f.name).c_str(), &image, nullptr)) {
                state.SkipWithError("decoding failed");
                return;
            }
            benchmark::DoNotOptimize(image.pixels.data());
        }
    }
}
BENCHMARK(BM_DecodeTheThreeJpegTextures)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
