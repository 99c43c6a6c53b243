// Shared fixture of the Direct3D 9 tests: a window, the Direct3D object and
// a windowed device, plus small helpers to draw and read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zvd3d9.h"
#include "zvd3d9test.h"
#include "zvwin32.h"

namespace d3d9test {

inline LRESULT TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

inline HWND MakeWindow(int width, int height) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &TestWindowProc;
        wc.lpszClassName = "ZVD3D9TestWindow";
        RegisterClassExA(&wc);
        registered = true;
    }
    return CreateWindowExA(0, "ZVD3D9TestWindow", "d3d9 test", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                           nullptr, nullptr, nullptr);
}

struct Vertex {          // D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE
    float x, y, z;
    float nx, ny, nz;
    DWORD color;
};
struct PlainVertex {     // D3DFVF_XYZ | D3DFVF_NORMAL
    float x, y, z;
    float nx, ny, nz;
};
struct ScreenVertex {    // D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1
    float x, y, z, rhw;
    DWORD color;
    float u, v;
};
constexpr DWORD kVertexFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;
constexpr DWORD kPlainFvf = D3DFVF_XYZ | D3DFVF_NORMAL;
constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class D3D9Test : public ::testing::Test {
protected:
    static constexpr int kWidth = 160;
    static constexpr int kHeight = 120;

    void SetUp() override {
        window_ = MakeWindow(kWidth, kHeight);
        ASSERT_NE(window_, nullptr);
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        pp_ = WindowedParameters();
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp_, &device_),
                  D3D_OK);
        ASSERT_NE(device_, nullptr);
    }

    void TearDown() override {
        if (device_) {
            EXPECT_EQ(device_->Release(), 0u);
        }
        if (d3d_) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
        if (window_) DestroyWindow(window_);
    }

    D3DPRESENT_PARAMETERS WindowedParameters() const {
        D3DPRESENT_PARAMETERS pp = {};
        pp.Windowed = TRUE;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D24S8;
        pp.hDeviceWindow = window_;
        pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        return pp;
    }

    // A left-handed perspective projection (vertical field of view 90 degrees).
    D3DMATRIX Projection() const {
        D3DMATRIX m = {};
        const float zn = 1.0f, zf = 100.0f, aspect = (float)pp_.BackBufferWidth / (float)pp_.BackBufferHeight;
        m._11 = 1.0f / aspect;
        m._22 = 1.0f;
        m._33 = zf / (zf - zn);
        m._34 = 1.0f;
        m._43 = -zn * zf / (zf - zn);
        return m;
    }

    static D3DMATRIX Identity() {
        D3DMATRIX m = {};
        m._11 = m._22 = m._33 = m._44 = 1.0f;
        return m;
    }

    void SetCamera() {
        D3DMATRIX id = Identity(), proj = Projection();
        device_->SetTransform(D3DTS_WORLD, &id);
        device_->SetTransform(D3DTS_VIEW, &id);
        device_->SetTransform(D3DTS_PROJECTION, &proj);
    }

    // Two clockwise triangles of a square of half-size s at depth z, normal
    // towards the camera; reversed gives the counter-clockwise order.
    static std::vector<Vertex> Quad(float s, float z, DWORD color, bool reversed = false) {
        std::vector<Vertex> v = {{-s, s, z, 0, 0, -1, color},  {s, s, z, 0, 0, -1, color},
                                 {-s, -s, z, 0, 0, -1, color}, {s, s, z, 0, 0, -1, color},
                                 {s, -s, z, 0, 0, -1, color},  {-s, -s, z, 0, 0, -1, color}};
        if (reversed) {
            std::swap(v[1], v[2]);
            std::swap(v[4], v[5]);
        }
        return v;
    }

    template <typename V>
    IDirect3DVertexBuffer9* MakeBuffer(const std::vector<V>& vertices, DWORD fvf, D3DPOOL pool = D3DPOOL_MANAGED,
                                       DWORD usage = D3DUSAGE_WRITEONLY) {
        IDirect3DVertexBuffer9* vb = nullptr;
        const UINT bytes = (UINT)(vertices.size() * sizeof(V));
        EXPECT_EQ(device_->CreateVertexBuffer(bytes, usage, fvf, pool, &vb, nullptr), D3D_OK);
        if (!vb) return nullptr;
        void* data = nullptr;
        EXPECT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, vertices.data(), bytes);
        EXPECT_EQ(vb->Unlock(), D3D_OK);
        return vb;
    }

    template <typename V>
    void DrawList(const std::vector<V>& vertices, DWORD fvf) {
        IDirect3DVertexBuffer9* vb = MakeBuffer(vertices, fvf);
        ASSERT_NE(vb, nullptr);
        EXPECT_EQ(device_->SetFVF(fvf), D3D_OK);
        EXPECT_EQ(device_->SetStreamSource(0, vb, 0, sizeof(V)), D3D_OK);
        EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, (UINT)vertices.size() / 3), D3D_OK);
        EXPECT_EQ(device_->SetStreamSource(0, nullptr, 0, 0), D3D_OK);
        vb->Release();
    }

    // The back buffer as A8R8G8B8 values, top row first.
    std::vector<uint32_t> ReadBack() {
        std::vector<uint32_t> pixels;
        IDirect3DSurface9* back = nullptr;
        EXPECT_EQ(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
        if (!back) return pixels;
        D3DLOCKED_RECT locked;
        EXPECT_EQ(back->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        pixels.resize((size_t)pp_.BackBufferWidth * pp_.BackBufferHeight);
        for (UINT y = 0; y < pp_.BackBufferHeight; ++y)
            std::memcpy(&pixels[(size_t)y * pp_.BackBufferWidth],
                        static_cast<uint8_t*>(locked.pBits) + (size_t)y * (size_t)locked.Pitch,
                        pp_.BackBufferWidth * 4);
        back->UnlockRect();
        back->Release();
        return pixels;
    }

    uint32_t Pixel(int x, int y) {
        std::vector<uint32_t> p = ReadBack();
        return p.empty() ? 0 : p[(size_t)y * pp_.BackBufferWidth + (size_t)x];
    }
    uint32_t Center() { return Pixel((int)pp_.BackBufferWidth / 2, (int)pp_.BackBufferHeight / 2); }

    HWND window_ = nullptr;
    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    D3DPRESENT_PARAMETERS pp_ = {};
};

inline int Channel(uint32_t c, int shift) { return (int)((c >> shift) & 0xFF); }

// The colour matches within tol per channel (alpha not compared).
inline ::testing::AssertionResult ColorNear(uint32_t actual, float r, float g, float b, int tol = 2) {
    auto clamp255 = [](float v) { return (int)std::floor(std::min(std::max(v, 0.0f), 1.0f) * 255.0f + 0.5f); };
    const int er = clamp255(r), eg = clamp255(g), eb = clamp255(b);
    if (std::abs(Channel(actual, 16) - er) <= tol && std::abs(Channel(actual, 8) - eg) <= tol &&
        std::abs(Channel(actual, 0) - eb) <= tol)
        return ::testing::AssertionSuccess();
    char text[160];
    std::snprintf(text, sizeof(text), "got %08X, expected about r=%d g=%d b=%d", (unsigned)actual, er, eg, eb);
    return ::testing::AssertionFailure() << text;
}

}  // namespace d3d9test
