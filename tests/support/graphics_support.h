// Shared fixture of the graphics manager tests: a core with its window, the
// real graphics manager, log capture, and helpers that draw a frame straight
// on the manager's device and read the back buffer.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "zvcore.h"
#include "zvd3d9test.h"
#include "zvgraphicsd3d9.h"
#include "zvimagewriters.h"
#include "zvphysics.h"

namespace gfxtest {

// Pre-transformed vertices: D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1.
struct ScreenVertex {
    float x, y, z, rhw;
    DWORD color;
    float u, v;
};
constexpr u32 kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A 4 x 4 image of one colour written by our TGA writer beside the program.
inline std::string WriteSolidTga(const std::string& name, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> bgra;
    for (int i = 0; i < 16; ++i) {
        bgra.push_back(b);
        bgra.push_back(g);
        bgra.push_back(r);
        bgra.push_back(255);
    }
    const std::string path = std::string(GetExeDir().c_str()) + name;
    EXPECT_TRUE(zvtools::WriteTGA(path, 4, 4, bgra.data()));
    return path;
}

class GraphicsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZVTestCaptureLog(&log);
        ASSERT_EQ(CreateCore(&core), S_OK);
        ASSERT_EQ(core->Init(nullptr, "graphics test", 320, 240), S_OK);
        ASSERT_EQ(core->CreateGraphics(&graphics), S_OK);
        zv = dynamic_cast<ZVGraphics*>(graphics);
        ASSERT_NE(zv, nullptr);
    }
    void TearDown() override {
        ReleaseGraphics();
        if (core) core->Release();
        core = nullptr;
        ZVTestCaptureLog(nullptr);
    }
    void ReleaseGraphics() {
        if (graphics) graphics->Release();
        graphics = nullptr;
        zv = nullptr;
    }

    HRESULT Windowed(bool performance = false) {
        DisplaySettings s(0, 1, 0, 0);
        return graphics->SetScreenMode(&s, performance, false);
    }

    // Full screen at the desktop's own size, with the physics a frame needs
    // (*physics, for the test to release), and one frame drawn there.
    void FullScreenAtDesktopSize(IPhysics** physics) {
        ASSERT_EQ(core->CreatePhysics(physics), S_OK);
        D3DDISPLAYMODE mode = {};
        ASSERT_EQ(zv->pD3D->GetAdapterDisplayMode(0, &mode), D3D_OK);
        DisplaySettings fullScreen(0, 0, mode.Width, mode.Height);
        ASSERT_EQ(graphics->SetScreenMode(&fullScreen, false, true), S_OK) << log;
        ASSERT_FALSE(graphics->IsWindowed());
        ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;
    }

    // A quad over the left half of the back buffer (4 vertices, white) in a
    // static buffer, and its 6 indices in an index buffer.
    void MakeQuad(IVertexBuffer** vb, IIndexBuffer** ib) {
        const float w = (float)zv->d3dpp.BackBufferWidth, h = (float)zv->d3dpp.BackBufferHeight;
        const ScreenVertex v[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                   {w / 2, 0, 0.5f, 1, 0xFFFFFFFF, 1, 0},
                                   {0, h, 0.5f, 1, 0xFFFFFFFF, 0, 1},
                                   {w / 2, h, 0.5f, 1, 0xFFFFFFFF, 1, 1}};
        ASSERT_EQ(graphics->CreateVB(kScreenFvf, 4, false, vb), S_OK);
        void* data = nullptr;
        ASSERT_EQ((*vb)->Lock(&data, nullptr), S_OK);
        std::memcpy(data, v, sizeof(v));
        ASSERT_EQ((*vb)->Unlock(), S_OK);
        const u16 indices[6] = {0, 1, 2, 2, 1, 3};
        ASSERT_EQ(graphics->CreateIB(6, false, ib), S_OK);
        u16* d = nullptr;
        u16* copy = nullptr;
        ASSERT_EQ((*ib)->Lock(&d, &copy), S_OK);
        std::memcpy(d, indices, sizeof(indices));
        std::memcpy(copy, indices, sizeof(indices));
        ASSERT_EQ((*ib)->Unlock(), S_OK);
    }

    // One frame drawn with the manager's resources directly on its device;
    // returns the back buffer (A8R8G8B8, top row first).
    std::vector<uint32_t> DrawFrame(IVertexBuffer* vb, IIndexBuffer* ib, ITexture* texture) {
        IDirect3DDevice9* dev = graphics->GetD3DDevice();
        std::vector<uint32_t> pixels;
        EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
        EXPECT_EQ(dev->BeginScene(), D3D_OK);
        dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        dev->SetRenderState(D3DRS_LIGHTING, FALSE);
        EXPECT_GE(vb->Active(0), 0);
        EXPECT_GE(ib->Active(), 0);
        if (texture)
            EXPECT_GE(texture->Active(0), 0);
        else
            graphics->DesactiveTexture(0);
        EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
        EXPECT_EQ(dev->EndScene(), D3D_OK);
        IDirect3DSurface9* back = nullptr;
        EXPECT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
        if (!back) return pixels;
        D3DLOCKED_RECT locked;
        EXPECT_EQ(back->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        const UINT w = zv->d3dpp.BackBufferWidth, h = zv->d3dpp.BackBufferHeight;
        pixels.resize((size_t)w * h);
        for (UINT y = 0; y < h; ++y)
            std::memcpy(&pixels[(size_t)y * w], static_cast<uint8_t*>(locked.pBits) + (size_t)y * locked.Pitch,
                        (size_t)w * 4);
        back->UnlockRect();
        back->Release();
        EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        return pixels;
    }
    uint32_t At(const std::vector<uint32_t>& p, UINT x, UINT y) {
        return p.empty() ? 0xDEADBEEF : p[(size_t)y * zv->d3dpp.BackBufferWidth + x] & 0x00FFFFFF;
    }

    std::string log;
    ICore* core = nullptr;
    IGraphics* graphics = nullptr;
    ZVGraphics* zv = nullptr;
};

}  // namespace gfxtest
