// Buffers, textures, reference counts, device loss and reset, D3DX glue.
#include <string>

#include "d3d9_support.h"
#include "zvd3dx9tex.h"
#include "zvimage.h"
#include "zvwin32test.h"

namespace {

using d3d9test::ColorNear;
using d3d9test::D3D9Test;
using d3d9test::kScreenFvf;
using d3d9test::kVertexFvf;
using d3d9test::ScreenVertex;
using d3d9test::Vertex;

TEST_F(D3D9Test, VertexBufferLockRoundTrips) {
    IDirect3DVertexBuffer9* vb = nullptr;
    EXPECT_EQ(device_->CreateVertexBuffer(0, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb, nullptr);
    EXPECT_EQ(device_->CreateVertexBuffer(8, 0, kVertexFvf, D3DPOOL_MANAGED, &vb, nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    uint8_t* data = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, reinterpret_cast<void**>(&data), 0), D3D_OK);
    for (int i = 0; i < 64; ++i) data[i] = (uint8_t)i;
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    ASSERT_EQ(vb->Lock(16, 8, reinterpret_cast<void**>(&data), D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(data[0], 16);
    EXPECT_EQ(data[7], 23);
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(60, 8, reinterpret_cast<void**>(&data), 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(65, 0, reinterpret_cast<void**>(&data), 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0, 0, nullptr, 0), D3DERR_INVALIDCALL);
    D3DVERTEXBUFFER_DESC desc;
    ASSERT_EQ(vb->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Size, 64u);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(vb->Release(), 0u);

    IDirect3DIndexBuffer9* ib = nullptr;
    EXPECT_EQ(device_->CreateIndexBuffer(0, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &ib, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateIndexBuffer(12, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &ib, nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->CreateIndexBuffer(12, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                         &ib, nullptr),
              D3D_OK);
    uint16_t* idx = nullptr;
    ASSERT_EQ(ib->Lock(0, 0, reinterpret_cast<void**>(&idx), D3DLOCK_DISCARD), D3D_OK);
    for (int i = 0; i < 6; ++i) idx[i] = (uint16_t)(100 + i);
    ASSERT_EQ(ib->Unlock(), D3D_OK);
    ASSERT_EQ(ib->Lock(0, 0, reinterpret_cast<void**>(&idx), D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(idx[5], 105);
    ASSERT_EQ(ib->Unlock(), D3D_OK);
    EXPECT_EQ(ib->Release(), 0u);
}

TEST_F(D3D9Test, DiscardedDynamicBufferDrawsItsNewContents) {
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    std::vector<ScreenVertex> quad = {{0, 0, 0.5f, 1, 0xFF00FF00, 0, 0},  {40, 0, 0.5f, 1, 0xFF00FF00, 0, 0},
                                      {0, 40, 0.5f, 1, 0xFF00FF00, 0, 0}, {40, 0, 0.5f, 1, 0xFF00FF00, 0, 0},
                                      {40, 40, 0.5f, 1, 0xFF00FF00, 0, 0}, {0, 40, 0.5f, 1, 0xFF00FF00, 0, 0}};
    IDirect3DVertexBuffer9* vb =
        MakeBuffer(quad, kScreenFvf, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY);
    ASSERT_NE(vb, nullptr);
    device_->SetFVF(kScreenFvf);
    device_->SetStreamSource(0, vb, 0, sizeof(ScreenVertex));
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Pixel(10, 10) & 0xFFFFFF, 0x00FF00u);
    ScreenVertex* v = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, reinterpret_cast<void**>(&v), D3DLOCK_DISCARD), D3D_OK);
    for (int i = 0; i < 6; ++i) {
        v[i] = quad[(size_t)i];
        v[i].color = 0xFFFF0000;
    }
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    // A partial rewrite without DISCARD reaches the GL buffer too.
    ASSERT_EQ(vb->Lock(0, sizeof(ScreenVertex), reinterpret_cast<void**>(&v), D3DLOCK_NOOVERWRITE), D3D_OK);
    v->x = 0.0f;
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Pixel(10, 10) & 0xFFFFFF, 0xFF0000u);
    device_->SetStreamSource(0, nullptr, 0, 0);
    vb->Release();
}

TEST_F(D3D9Test, IndexedAndUserMemoryDraws) {
    SetCamera();
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    std::vector<Vertex> corners = {{-1, 1, 5, 0, 0, -1, 0xFF0000FF},
                                   {1, 1, 5, 0, 0, -1, 0xFF0000FF},
                                   {1, -1, 5, 0, 0, -1, 0xFF0000FF},
                                   {-1, -1, 5, 0, 0, -1, 0xFF0000FF}};
    IDirect3DVertexBuffer9* vb = MakeBuffer(corners, kVertexFvf);
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device_->CreateIndexBuffer(12, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &ib, nullptr),
              D3D_OK);
    uint16_t* idx = nullptr;
    ASSERT_EQ(ib->Lock(0, 0, reinterpret_cast<void**>(&idx), 0), D3D_OK);
    const uint16_t indices[6] = {0, 1, 3, 1, 2, 3};
    std::memcpy(idx, indices, sizeof(indices));
    ASSERT_EQ(ib->Unlock(), D3D_OK);
    device_->SetFVF(kVertexFvf);
    device_->SetStreamSource(0, vb, 0, sizeof(Vertex));
    device_->SetIndices(ib);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 3), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 4, 0, 2), D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0x0000FFu);

    std::vector<Vertex> quad = Quad(1.0f, 5.0f, 0xFFFF00FF);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, quad.data(), sizeof(Vertex)), D3D_OK);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0xFF00FFu);
    // Drawing from user memory leaves stream 0 unbound (and gives its reference back).
    IDirect3DVertexBuffer9* bound = nullptr;
    UINT offset = 1, stride = 1;
    ASSERT_EQ(device_->GetStreamSource(0, &bound, &offset, &stride), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    EXPECT_EQ(vb->Release(), 0u);
    device_->SetIndices(nullptr);
    EXPECT_EQ(ib->Release(), 0u);
}

TEST_F(D3D9Test, BindingsHoldReferences) {
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(96, 0, kVertexFvf, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device_->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(device_->CreateTexture(4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
    EXPECT_EQ(tex->GetLevelCount(), 3u);
    // Every resource holds its device.
    EXPECT_EQ(device_->AddRef(), 5u);
    EXPECT_EQ(device_->Release(), 4u);

    ASSERT_EQ(device_->SetStreamSource(0, vb, 0, sizeof(Vertex)), D3D_OK);
    ASSERT_EQ(device_->SetIndices(ib), D3D_OK);
    ASSERT_EQ(device_->SetTexture(0, tex), D3D_OK);
    EXPECT_EQ(vb->AddRef(), 3u);
    EXPECT_EQ(vb->Release(), 2u);
    EXPECT_EQ(ib->AddRef(), 3u);
    EXPECT_EQ(ib->Release(), 2u);
    EXPECT_EQ(tex->AddRef(), 3u);
    EXPECT_EQ(tex->Release(), 2u);
    // Binding the same object again changes nothing.
    ASSERT_EQ(device_->SetTexture(0, tex), D3D_OK);
    EXPECT_EQ(tex->AddRef(), 3u);
    EXPECT_EQ(tex->Release(), 2u);
    // The binding keeps a released object alive until it is unbound.
    EXPECT_EQ(vb->Release(), 1u);
    ASSERT_EQ(device_->SetStreamSource(0, nullptr, 0, 0), D3D_OK);
    EXPECT_EQ(ib->Release(), 1u);
    ASSERT_EQ(device_->SetIndices(nullptr), D3D_OK);
    // A level surface shares its texture's count.
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(tex->GetSurfaceLevel(1, &level), D3D_OK);
    D3DSURFACE_DESC desc;
    ASSERT_EQ(level->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 2u);
    EXPECT_EQ(level->Release(), 2u);
    EXPECT_EQ(tex->GetSurfaceLevel(3, &level), D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->SetTexture(0, nullptr), D3D_OK);
    EXPECT_EQ(tex->Release(), 0u);
    EXPECT_EQ(device_->AddRef(), 2u);
    EXPECT_EQ(device_->Release(), 1u);
}

TEST_F(D3D9Test, LostDeviceResetsOnlyWithoutDefaultPoolResources) {
    IDirect3DVertexBuffer9* managed = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(16, 0, 0, D3DPOOL_MANAGED, &managed, nullptr), D3D_OK);
    uint32_t* data = nullptr;
    ASSERT_EQ(managed->Lock(0, 0, reinterpret_cast<void**>(&data), 0), D3D_OK);
    data[0] = 0xCAFEBABE;
    ASSERT_EQ(managed->Unlock(), D3D_OK);
    IDirect3DVertexBuffer9* dynamic = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(16, D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT, &dynamic, nullptr), D3D_OK);

    ZVD3D9TestLoseDevice(device_);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    EXPECT_EQ(device_->Reset(&pp), D3DERR_DEVICELOST);
    // Drawing calls succeed without effect meanwhile.
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK);

    ZVD3D9TestRegainDevice(device_);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device_->Reset(&pp), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(dynamic->Release(), 0u);
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    // The managed buffer kept its contents; the states are the defaults again.
    ASSERT_EQ(managed->Lock(0, 0, reinterpret_cast<void**>(&data), D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(data[0], 0xCAFEBABEu);
    managed->Unlock();
    EXPECT_EQ(managed->Release(), 0u);
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST_F(D3D9Test, ResetUnbindsAndRestoresDefaults) {
    IDirect3DVertexBuffer9* dynamic = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(96, D3DUSAGE_DYNAMIC, kVertexFvf, D3DPOOL_DEFAULT, &dynamic, nullptr),
              D3D_OK);
    device_->SetStreamSource(0, dynamic, 0, sizeof(Vertex));
    // Only the binding keeps the default-pool buffer alive: Reset lets it go.
    EXPECT_EQ(dynamic->Release(), 1u);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    pp.BackBufferWidth = 64;
    pp.BackBufferHeight = 48;
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    DWORD cull = 0;
    device_->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, (DWORD)D3DCULL_CCW);
    IDirect3DVertexBuffer9* bound = nullptr;
    UINT offset = 0, stride = 0;
    ASSERT_EQ(device_->GetStreamSource(0, &bound, &offset, &stride), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    D3DVIEWPORT9 vp;
    device_->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 64u);
    // A failed reset is a failure and leaves the device to be reset.
    pp.AutoDepthStencilFormat = D3DFMT_D15S1;
    EXPECT_EQ(device_->Reset(&pp), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    pp_ = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp_), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
}

TEST_F(D3D9Test, FullScreenDeviceIsLostWhenItsWindowLosesTheFocus) {
    D3DDISPLAYMODE mode;
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &mode), D3D_OK);
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    pp.Windowed = FALSE;
    pp.BackBufferWidth = mode.Width;
    pp.BackBufferHeight = mode.Height;
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    ZVTestLoseFocus(window_);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    ZVTestGainFocus(window_);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    pp_ = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp_), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
}

class D3DXTest : public D3D9Test {
protected:
    // A 3 x 2 image without alpha, written as a BMP.
    std::string WriteImage() {
        ZVImage image;
        image.width = 3;
        image.height = 2;
        const uint8_t bgra[24] = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0,
                                  10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};
        image.pixels.assign(bgra, bgra + 24);
        const std::string path = "d3dx_texture.bmp";
        EXPECT_TRUE(ZVImageSaveBMP(path.c_str(), image, nullptr));
        return path;
    }
};

TEST_F(D3DXTest, TextureFromFileFindsFormatAndBuildsTheMipChain) {
    const std::string path = WriteImage();
    IDirect3DTexture9* tex = nullptr;
    D3DXIMAGE_INFO info;
    ASSERT_EQ(D3DXCreateTextureFromFileExA(device_, path.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                           D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, D3DX_FILTER_LINEAR, D3DX_FILTER_LINEAR, 0,
                                           &info, nullptr, &tex),
              D3D_OK);
    EXPECT_EQ(info.Width, 3u);
    EXPECT_EQ(info.Height, 2u);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
    D3DSURFACE_DESC desc;
    ASSERT_EQ(tex->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(desc.Width, 4u);   // rounded up to a power of two
    EXPECT_EQ(desc.Height, 2u);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(tex->GetLevelCount(), 3u);
    ASSERT_EQ(tex->GetLevelDesc(2, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 1u);
    EXPECT_EQ(desc.Height, 1u);
    tex->Release();

    // At its own size the texels are the file's, with alpha 255.
    ASSERT_EQ(D3DXCreateTextureFromFileExA(device_, path.c_str(), D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2, 1, 0,
                                           D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_POINT, D3DX_FILTER_POINT, 0,
                                           nullptr, nullptr, &tex),
              D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(tex->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t first, last;
    std::memcpy(&first, locked.pBits, 4);
    std::memcpy(&last, static_cast<uint8_t*>(locked.pBits) + locked.Pitch + 8, 4);
    tex->UnlockRect(0);
    EXPECT_EQ(first, 0xFFFF0000u);
    EXPECT_EQ(last, 0xFF5A5046u);
    tex->Release();

    // The colour key makes matching pixels transparent black.
    ASSERT_EQ(D3DXCreateTextureFromFileExA(device_, path.c_str(), D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2, 1, 0,
                                           D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_FILTER_POINT, D3DX_FILTER_POINT,
                                           0xFFFF0000, nullptr, nullptr, &tex),
              D3D_OK);
    ASSERT_EQ(tex->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    ASSERT_EQ(tex->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::memcpy(&first, locked.pBits, 4);
    tex->UnlockRect(0);
    EXPECT_EQ(first, 0u);
    tex->Release();

    EXPECT_EQ(D3DXCreateTextureFromFileExA(device_, "no_such_file.tga", D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                           D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, 3, 3, 0, nullptr, nullptr, &tex),
              D3DXERR_INVALIDDATA);
    EXPECT_EQ(tex, nullptr);
}

TEST_F(D3DXTest, FvfVertexSizes) {
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ), 12u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_NORMAL), 24u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1), 28u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1), 24u);
    EXPECT_EQ(D3DXGetFVFVertexSize(D3DFVF_XYZB2 | D3DFVF_NORMAL | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(1)), 52u);
    EXPECT_EQ(D3DXGetFVFVertexSize(0), 0u);
}

TEST_F(D3DXTest, ScreenshotHoldsTheFramesPixels) {
    SetCamera();
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF123456, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFFFFFF00), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    D3DDISPLAYMODE mode;
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &mode), D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(device_->CreateOffscreenPlainSurface(mode.Width, mode.Height, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &surface,
                                                   nullptr),
              D3D_OK);
    ASSERT_EQ(device_->GetFrontBufferData(0, surface), D3D_OK);
    RECT rect;
    ASSERT_TRUE(GetClientRect(window_, &rect));
    POINT tl = {rect.left, rect.top}, br = {rect.right, rect.bottom};
    ClientToScreen(window_, &tl);
    ClientToScreen(window_, &br);
    RECT screen = {tl.x, tl.y, br.x, br.y};
    ASSERT_EQ(D3DXSaveSurfaceToFileA("d3d9_shot.bmp", D3DXIFF_BMP, surface, nullptr, &screen), D3D_OK);
    EXPECT_EQ(D3DXSaveSurfaceToFileA("d3d9_shot.png", D3DXIFF_PNG, surface, nullptr, &screen), D3DERR_INVALIDCALL);
    surface->Release();

    ZVImage image;
    ASSERT_TRUE(ZVImageLoadFile("d3d9_shot.bmp", &image, nullptr));
    ASSERT_EQ(image.width, (int)pp_.BackBufferWidth);
    ASSERT_EQ(image.height, (int)pp_.BackBufferHeight);
    std::vector<uint32_t> back = ReadBack();
    size_t same = 0;
    for (size_t i = 0; i < back.size(); ++i) {
        uint32_t v;
        std::memcpy(&v, &image.pixels[i * 4], 4);
        same += ((v ^ back[i]) & 0xFFFFFF) == 0 ? 1 : 0;
    }
    EXPECT_EQ(same, back.size());
    uint32_t corner;
    std::memcpy(&corner, &image.pixels[0], 4);
    EXPECT_EQ(corner & 0xFFFFFF, 0x123456u);
    const size_t mid = ((size_t)image.height / 2 * (size_t)image.width + (size_t)image.width / 2) * 4;
    std::memcpy(&corner, &image.pixels[mid], 4);
    EXPECT_EQ(corner & 0xFFFFFF, 0xFFFF00u);
}

}  // namespace

namespace {

TEST_F(D3D9Test, DeviceOutlivesItsWindow) {
    HWND other = d3d9test::MakeWindow(64, 48);
    ASSERT_NE(other, nullptr);
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    pp.hDeviceWindow = other;
    IDirect3DDevice9* second = nullptr;
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, other, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &second), D3D_OK);
    EXPECT_EQ(pp.BackBufferWidth, 64u);
    DestroyWindow(other);
    // Drawing and presenting still work; the frame just has nowhere to go.
    EXPECT_EQ(second->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    EXPECT_EQ(second->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(second->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(back->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t v;
    std::memcpy(&v, locked.pBits, 4);
    back->UnlockRect();
    back->Release();
    EXPECT_EQ(v & 0xFFFFFF, 0x00FF00u);
    // The first device is unaffected by the second one's context.
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(second->Release(), 0u);
    // ...and still draws after the second one is gone.
    SetCamera();
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(1.0f, 5.0f, 0xFF804020), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Center() & 0xFFFFFF, 0x804020u);
}

TEST_F(D3D9Test, SixteenBitBackBufferQuantisesAsR5G6B5) {
    D3DDISPLAYMODE mode;
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &mode), D3D_OK);
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    pp.Windowed = FALSE;
    pp.BackBufferFormat = D3DFMT_R5G6B5;
    pp.BackBufferWidth = mode.Width;
    pp.BackBufferHeight = mode.Height;
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    D3DDISPLAYMODE current;
    ASSERT_EQ(device_->GetDisplayMode(0, &current), D3D_OK);
    EXPECT_EQ(current.Format, D3DFMT_R5G6B5);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF8040, 1.0f, 0), D3D_OK);
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DSURFACE_DESC desc;
    ASSERT_EQ(back->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_R5G6B5);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(back->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint16_t v;
    std::memcpy(&v, locked.pBits, 2);
    back->UnlockRect();
    back->Release();
    EXPECT_EQ(v, (uint16_t)((31 << 11) | (32 << 5) | 8));
    pp_ = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp_), D3D_OK);
}

}  // namespace
