// Helpers shared by the tests that draw real frames: text searches in the
// captured log, a reader for the 24-bit screenshots the graphics manager
// saves, colour channels, the back-buffer pixel of a world point, and the
// base of the frame fixtures (a core with its window and the real managers).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "zvcore.h"
#include "zvgraphicsd3d9.h"
#include "zvlog.h"
#include "zvphysics.h"

namespace zvrendertest {

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A 24-bit BMP read back: pixels as 0xRRGGBB, top row first.  A pixel
// outside the image reads as 0xDEADBEEF, a colour no frame draws.
struct Bitmap {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0xDEADBEEF;
        return pixels[(size_t)y * width + x];
    }
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
    auto at = [&](size_t i) {
        return (uint32_t)data[i] | (uint32_t)data[i + 1] << 8 | (uint32_t)data[i + 2] << 16 | (uint32_t)data[i + 3] << 24;
    };
    const uint32_t offset = at(10);
    int32_t w = (int32_t)at(18), h = (int32_t)at(22);
    if ((data[28] | data[29] << 8) != 24 || w <= 0 || h == 0) return false;
    const bool bottomUp = h > 0;
    if (h < 0) h = -h;
    const size_t stride = ((size_t)w * 3 + 3) & ~(size_t)3;
    if (data.size() < offset + stride * (size_t)h) return false;
    out->width = w;
    out->height = h;
    out->pixels.assign((size_t)w * h, 0);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = &data[offset + stride * (size_t)(bottomUp ? h - 1 - y : y)];
        for (int x = 0; x < w; ++x)
            out->pixels[(size_t)y * w + x] = (uint32_t)row[3 * x + 2] << 16 | (uint32_t)row[3 * x + 1] << 8 | row[3 * x];
    }
    return true;
}

inline int Red(uint32_t c) { return (int)(c >> 16 & 0xFF); }
inline int Green(uint32_t c) { return (int)(c >> 8 & 0xFF); }
inline int Blue(uint32_t c) { return (int)(c & 0xFF); }

// The back-buffer pixel of a world point under the manager's current camera.
inline void ProjectToPixel(IGraphics* graphics, const Vector3& p, int* x, int* y) {
    Matrix view, proj;
    graphics->GetViewProj(&view, &proj);
    const Matrix clip = view * proj;
    double v[4];
    for (int c = 0; c < 4; ++c) v[c] = p.x * clip.m[0][c] + p.y * clip.m[1][c] + p.z * clip.m[2][c] + clip.m[3][c];
    ZVGraphics* zv = dynamic_cast<ZVGraphics*>(graphics);
    *x = (int)((v[0] / v[3] + 1.0) / 2.0 * zv->d3dpp.BackBufferWidth);
    *y = (int)((1.0 - v[1] / v[3]) / 2.0 * zv->d3dpp.BackBufferHeight);
}

// A core with its 320 x 240 window, the real graphics manager and, once
// started, the visibility manager; the log is captured while it is open.
class FrameFixture : public ::testing::Test {
protected:
    void OpenCore(const char* title) {
        ZVTestCaptureLog(&log);
        ASSERT_EQ(CreateCore(&core), S_OK);
        ASSERT_EQ(core->Init(nullptr, title, 320, 240), S_OK);
        ASSERT_EQ(core->CreateGraphics(&graphics), S_OK);
        zv = dynamic_cast<ZVGraphics*>(graphics);
        ASSERT_NE(zv, nullptr);
    }
    void CloseCore() {
        if (physics) physics->Release();
        if (graphics) graphics->Release();
        if (core) core->Release();
        physics = nullptr;
        graphics = nullptr;
        core = nullptr;
        zv = nullptr;
        ZVTestCaptureLog(nullptr);
    }
    // The device in a window (and the visibility manager a frame needs).
    void Start(bool withPhysics = true) {
        if (withPhysics) {
            ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
        }
        DisplaySettings s(0, 1, 0, 0);
        ASSERT_EQ(graphics->SetScreenMode(&s, false, false), S_OK);
        core->Update(true);
    }
    void Camera(Vector3 eye, Vector3 at) {
        Vector3 up(0, 1, 0);
        ASSERT_EQ(graphics->SetCamera(&eye, &at, &up), S_OK);
    }
    // The pixel of a world point in the back buffer.
    void Project(const Vector3& p, int* x, int* y) { ProjectToPixel(graphics, p, x, y); }
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
    ICore* core = nullptr;
    IGraphics* graphics = nullptr;
    IPhysics* physics = nullptr;
    ZVGraphics* zv = nullptr;
};

}  // namespace zvrendertest
