// Fixture of the 3DS model tests: a core with its window, the real graphics
// and visibility managers, a scratch folder on the search path for the .3ds
// files and textures our writers make, log capture, and readers for the
// model's buffers and for screenshots.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "model3ds.h"
#include "toolkit3ds.h"
#include "zv3dswriter.h"
#include "zvcore.h"
#include "zvgraphicsd3d9.h"
#include "zvimagewriters.h"

namespace m3dstest {

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The scope and message of every warning and error entry of a log, in
// order: "[scope] Error : \"message\"" (time and source position left out).
inline std::vector<std::string> Entries(const std::string& log) {
    std::vector<std::string> out;
    for (size_t at = log.find("\n["); at != std::string::npos; at = log.find("\n[", at + 1)) {
        size_t end = log.find("\"\nAt ", at);
        size_t next = log.find("\n[", at + 1);
        if (end == std::string::npos || (next != std::string::npos && next < end)) continue;
        out.push_back(log.substr(at + 1, end + 1 - (at + 1)));
    }
    return out;
}

inline Vector3 V(float x, float y, float z) { return Vector3(x, y, z); }

// A square in the file's plane y = y0 (z up), seen turning counter-clockwise
// from -y: the engine puts it in the plane z = y0 facing the camera at -z.
inline zvtools::Mesh3ds QuadFacingMinusY(const std::string& name, float x0, float x1, float z0, float z1, float y0,
                                         const std::string& material) {
    zvtools::Mesh3ds m;
    m.name = name;
    m.vertices = {x0, y0, z0, x1, y0, z0, x1, y0, z1, x0, y0, z1};
    m.texCoords = {0, 0, 1, 0, 1, 1, 0, 1};
    m.faces = {0, 1, 2, 7, 0, 2, 3, 7};
    if (!material.empty()) m.groups.push_back(zvtools::MatGroup3ds{material, {0, 1}});
    return m;
}

// A square in the file's plane z = 0 facing up (+z), the engine's floor.
inline zvtools::Mesh3ds Floor(const std::string& name, float half, const std::string& material) {
    zvtools::Mesh3ds m;
    m.name = name;
    m.vertices = {-half, -half, 0, half, -half, 0, half, half, 0, -half, half, 0};
    m.texCoords = {0, 0, 1, 0, 1, 1, 0, 1};
    m.faces = {0, 1, 2, 7, 0, 2, 3, 7};
    if (!material.empty()) m.groups.push_back(zvtools::MatGroup3ds{material, {0, 1}});
    return m;
}

// A material without specular light, so that colours stay predictable.
inline zvtools::Material3ds Matte(const std::string& name, uint8_t r, uint8_t g, uint8_t b,
                                  const std::string& texture = "") {
    zvtools::Material3ds m;
    m.name = name;
    m.ambient[0] = r;
    m.ambient[1] = g;
    m.ambient[2] = b;
    m.diffuse[0] = r;
    m.diffuse[1] = g;
    m.diffuse[2] = b;
    m.specular[0] = m.specular[1] = m.specular[2] = 0;
    m.texture = texture;
    return m;
}

// A 24-bit BMP read back: pixels as 0xRRGGBB, top row first.
struct Bitmap {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

inline bool ReadBmp(const std::string& path, Bitmap* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<uint8_t> data;
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) data.insert(data.end(), buffer, buffer + n);
    std::fclose(f);
    if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') return false;
    auto word = [&](size_t at) {
        return (uint32_t)data[at] | data[at + 1] << 8 | data[at + 2] << 16 | (uint32_t)data[at + 3] << 24;
    };
    uint32_t offset = word(10);
    int32_t w = (int32_t)word(18), h = (int32_t)word(22);
    if ((data[28] | data[29] << 8) != 24 || w <= 0 || h == 0) return false;
    bool bottomUp = h > 0;
    if (h < 0) h = -h;
    size_t stride = ((size_t)w * 3 + 3) & ~(size_t)3;
    if (data.size() < offset + stride * h) return false;
    out->width = w;
    out->height = h;
    out->pixels.assign((size_t)w * h, 0);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = &data[offset + stride * (bottomUp ? h - 1 - y : y)];
        for (int x = 0; x < w; ++x)
            out->pixels[(size_t)y * w + x] = (uint32_t)row[3 * x + 2] << 16 | (uint32_t)row[3 * x + 1] << 8 | row[3 * x];
    }
    return true;
}

inline int Red(uint32_t c) { return (int)(c >> 16 & 0xFF); }
inline int Green(uint32_t c) { return (int)(c >> 8 & 0xFF); }
inline int Blue(uint32_t c) { return (int)(c & 0xFF); }

class Model3DSTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearErrors3ds();
        ZVTestCaptureLog(&log);
        saved = Paths;
        Paths.count = 0;
        dir = std::string(GetExeDir().c_str()) + "model3dsdata/";
        mkdir(dir.c_str(), 0755);
        Paths.Add(String(dir.c_str()));
        ASSERT_EQ(CreateCore(&core), S_OK);
        ASSERT_EQ(core->Init(nullptr, "model3ds test", 320, 240), S_OK);
        ASSERT_EQ(core->CreateGraphics(&graphics), S_OK);
        zv = dynamic_cast<ZVGraphics*>(graphics);
        ASSERT_NE(zv, nullptr);
    }
    void TearDown() override {
        for (IGeometry* g : geometries) g->Release();
        geometries.clear();
        if (physics) physics->Release();
        if (graphics) graphics->Release();
        if (core) core->Release();
        Paths = saved;
        ZVTestCaptureLog(nullptr);
        ClearErrors3ds();
    }
    // The device (and the visibility manager a frame needs).
    void Start() {
        ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
        DisplaySettings s(0, 1, 0, 0);
        ASSERT_EQ(graphics->SetScreenMode(&s, false, false), S_OK);
        core->Update(true);
    }
    std::string Write(const std::string& name, const zvtools::Scene3ds& scene) {
        EXPECT_TRUE(zvtools::WriteScene3ds(dir + name, scene));
        return dir + name;
    }
    // A width x height TGA of texels given as 0xRRGGBB, top row first.
    void WriteTexture(const std::string& name, int width, int height, const std::vector<uint32_t>& rgb) {
        std::vector<uint8_t> bgra;
        for (uint32_t c : rgb) bgra.insert(bgra.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 255});
        EXPECT_TRUE(zvtools::WriteTGA(dir + name, width, height, bgra.data()));
    }
    // CreateGeometry("3ds", file); the instance is released by TearDown.
    Model3DS* Load(const std::string& file, HRESULT expected = S_OK) {
        IGeometry* g = nullptr;
        HRESULT hr = graphics->CreateGeometry("3ds", file.c_str(), &g);
        EXPECT_EQ(hr, expected) << log;
        if (hr < 0 || !g) return nullptr;
        geometries.push_back(g);
        Model3DS* m = dynamic_cast<Model3DS*>(g);
        EXPECT_NE(m, nullptr);
        return m;
    }
    void Drop(IGeometry* g) {
        for (size_t i = 0; i < geometries.size(); ++i) {
            if (geometries[i] == g) geometries.erase(geometries.begin() + (long)i);
        }
        g->Release();
    }
    // The vertices as the loader wrote them (the buffer is locked once more).
    std::vector<Model3DSMeta::Vertex> Vertices(Model3DSMeta* meta) {
        std::vector<Model3DSMeta::Vertex> out;
        void* data = nullptr;
        if (meta->pVB->Lock(&data, nullptr) < 0 || !data) return out;
        const auto* v = static_cast<const Model3DSMeta::Vertex*>(data);
        out.assign(v, v + meta->pVB->GetNumVertices());
        meta->pVB->Unlock();
        return out;
    }
    std::vector<u16> Indices(Model3DSMeta* meta) {
        const ZVGraphics::IB* ib = static_cast<const ZVGraphics::IB*>(meta->pIB);
        return std::vector<u16>(ib->pIndices, ib->pIndices + ib->nIndices);
    }
    void Camera(Vector3 eye, Vector3 at) {
        Vector3 up(0, 1, 0);
        ASSERT_EQ(graphics->SetCamera(&eye, &at, &up), S_OK);
    }
    // The pixel of a world point in the back buffer.
    void Project(const Vector3& p, int* x, int* y) {
        Matrix view, proj;
        graphics->GetViewProj(&view, &proj);
        Matrix clip = view * proj;
        double v[4];
        for (int c = 0; c < 4; ++c) v[c] = p.x * clip.m[0][c] + p.y * clip.m[1][c] + p.z * clip.m[2][c] + clip.m[3][c];
        *x = (int)((v[0] / v[3] + 1.0) / 2.0 * zv->d3dpp.BackBufferWidth);
        *y = (int)((1.0 - v[1] / v[3]) / 2.0 * zv->d3dpp.BackBufferHeight);
    }
    uint32_t PixelOf(const Bitmap& bmp, const Vector3& p) {
        int x, y;
        Project(p, &x, &y);
        if (x < 0 || y < 0 || x >= bmp.width || y >= bmp.height) return 0xDEADBEEF;
        return bmp.At(x, y);
    }
    // Draws one frame and reads it back through a screenshot.
    Bitmap Frame(const char* name) {
        Bitmap bmp;
        EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;
        EXPECT_EQ(graphics->SaveScreenshot(name), S_OK);
        EXPECT_TRUE(ReadBmp(name, &bmp));
        std::remove(name);
        return bmp;
    }
    Light PointLight(Vector3 at) {
        Light l = Light();
        l.Type = D3DLIGHT_POINT;
        l.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
        l.Position = at;
        l.Range = 1000.0f;
        l.Attenuation0 = 1.0f;
        return l;
    }

    std::string log;
    std::string dir;
    Vector<String> saved;
    ICore* core = nullptr;
    IGraphics* graphics = nullptr;
    IPhysics* physics = nullptr;
    ZVGraphics* zv = nullptr;
    std::vector<IGeometry*> geometries;
};

}  // namespace m3dstest
