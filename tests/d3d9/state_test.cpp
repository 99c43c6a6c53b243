// Render, texture stage and sampler states, viewport and scissor.
#include <cmath>

#include "d3d9_support.h"

namespace {

using d3d9test::ColorNear;
using d3d9test::D3D9Test;
using d3d9test::kScreenFvf;
using d3d9test::kVertexFvf;
using d3d9test::ScreenVertex;
using d3d9test::Vertex;

std::vector<ScreenVertex> Rect(float x1, float y1, float x2, float y2, DWORD color, float u2 = 1.0f,
                               float v2 = 1.0f) {
    return {{x1, y1, 0.5f, 1.0f, color, 0.0f, 0.0f}, {x2, y1, 0.5f, 1.0f, color, u2, 0.0f},
            {x1, y2, 0.5f, 1.0f, color, 0.0f, v2},   {x2, y1, 0.5f, 1.0f, color, u2, 0.0f},
            {x2, y2, 0.5f, 1.0f, color, u2, v2},     {x1, y2, 0.5f, 1.0f, color, 0.0f, v2}};
}

class StateTest : public D3D9Test {
protected:
    void Frame(const std::vector<ScreenVertex>& v) {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        ASSERT_EQ(device_->BeginScene(), D3D_OK);
        DrawList(v, kScreenFvf);
        ASSERT_EQ(device_->EndScene(), D3D_OK);
    }
};

TEST_F(StateTest, FillModes) {
    device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    Frame(Rect(10, 10, 50, 50, 0xFFFFFFFF));
    EXPECT_EQ(Pixel(30, 20) & 0xFFFFFF, 0u);          // inside: empty
    EXPECT_EQ(Pixel(30, 10) & 0xFFFFFF, 0xFFFFFFu);   // on the top edge
    device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_POINT);
    Frame(Rect(10, 10, 50, 50, 0xFFFFFFFF));
    EXPECT_EQ(Pixel(30, 10) & 0xFFFFFF, 0u);
    EXPECT_EQ(Pixel(10, 10) & 0xFFFFFF, 0xFFFFFFu);
    device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    Frame(Rect(10, 10, 50, 50, 0xFFFFFFFF));
    EXPECT_EQ(Pixel(30, 20) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(StateTest, FlatShadingTakesTheFirstVertex) {
    std::vector<ScreenVertex> tri = {{0, 0, 0.5f, 1, 0xFFFF0000, 0, 0},
                                     {80, 0, 0.5f, 1, 0xFF00FF00, 0, 0},
                                     {0, 80, 0.5f, 1, 0xFF0000FF, 0, 0}};
    device_->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    Frame(tri);
    EXPECT_EQ(Pixel(20, 20) & 0xFFFFFF, 0xFF0000u);
    device_->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    Frame(tri);
    const uint32_t mixed = Pixel(20, 20);
    EXPECT_GT(d3d9test::Channel(mixed, 8), 0x30);
    EXPECT_GT(d3d9test::Channel(mixed, 0), 0x30);
}

TEST_F(StateTest, AlphaTestAndAlphaBlending) {
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device_->SetRenderState(D3DRS_ALPHAREF, 0x80);
    device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    Frame(Rect(0, 0, 40, 40, 0x7FFFFFFF));
    EXPECT_EQ(Pixel(10, 10) & 0xFFFFFF, 0u);
    Frame(Rect(0, 0, 40, 40, 0x80FFFFFF));
    EXPECT_EQ(Pixel(10, 10) & 0xFFFFFF, 0xFFFFFFu);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    Frame(Rect(0, 0, 40, 40, 0x40FFFFFF));
    EXPECT_TRUE(ColorNear(Pixel(10, 10), 0x40 / 255.0f, 0x40 / 255.0f, 0x40 / 255.0f));
}

TEST_F(StateTest, TextureAddressingAndFactor) {
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(device_->CreateTexture(2, 1, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(tex->LockRect(0, &locked, nullptr, 0), D3D_OK);
    const uint32_t texels[2] = {0x00FF0000, 0x0000FF00};   // X8: alpha is ignored
    std::memcpy(locked.pBits, texels, 8);
    ASSERT_EQ(tex->UnlockRect(0), D3D_OK);
    device_->SetTexture(0, tex);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    // u from 0 to 2 across 80 pixels: wrapping repeats red, green, red, green.
    Frame(Rect(0, 0, 80, 20, 0xFFFFFFFF, 2.0f));
    EXPECT_EQ(Pixel(5, 10) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(Pixel(25, 10) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(Pixel(45, 10) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(Pixel(65, 10) & 0xFFFFFF, 0x00FF00u);
    device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    Frame(Rect(0, 0, 80, 20, 0xFFFFFFFF, 2.0f));
    EXPECT_EQ(Pixel(45, 10) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(Pixel(65, 10) & 0xFFFFFF, 0x00FF00u);
    // Alpha of an X8R8G8B8 texel reads as 1; TFACTOR as an argument.
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF808080);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_EQUAL);
    device_->SetRenderState(D3DRS_ALPHAREF, 0xFF);
    Frame(Rect(0, 0, 80, 20, 0xFFFFFFFF, 1.0f));
    EXPECT_TRUE(ColorNear(Pixel(5, 10), 0x80 / 255.0f, 0.0f, 0.0f));
    device_->SetTexture(0, nullptr);
    tex->Release();
}

TEST_F(StateTest, ViewportAndScissorLimitDrawingAndClear) {
    D3DVIEWPORT9 vp = {20, 10, 40, 30, 0.0f, 1.0f};
    D3DVIEWPORT9 bad = {150, 0, 40, 30, 0.0f, 1.0f};
    EXPECT_EQ(device_->SetViewport(&bad), D3DERR_INVALIDCALL);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->SetViewport(&vp), D3D_OK);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    EXPECT_EQ(Pixel(25, 15) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(Pixel(5, 5) & 0xFFFFFF, 0u);
    EXPECT_EQ(Pixel(60, 15) & 0xFFFFFF, 0u);
    // Transformed geometry fills the viewport only.
    SetCamera();
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Quad(50.0f, 5.0f, 0xFFFFFF00), kVertexFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Pixel(25, 15) & 0xFFFFFF, 0xFFFF00u);
    EXPECT_EQ(Pixel(61, 15) & 0xFFFFFF, 0u);
    EXPECT_EQ(Pixel(25, 41) & 0xFFFFFF, 0u);
    // The scissor rectangle clips drawing.
    vp = {0, 0, pp_.BackBufferWidth, pp_.BackBufferHeight, 0.0f, 1.0f};
    ASSERT_EQ(device_->SetViewport(&vp), D3D_OK);
    RECT scissor = {0, 0, 10, 10};
    ASSERT_EQ(device_->SetScissorRect(&scissor), D3D_OK);
    device_->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    DrawList(Rect(0, 0, 40, 40, 0xFFFFFFFF), kScreenFvf);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Pixel(5, 5) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(Pixel(15, 5) & 0xFFFFFF, 0u);
}

TEST_F(StateTest, StateCallsCheckTheirArguments) {
    EXPECT_EQ(device_->SetRenderState((D3DRENDERSTATETYPE)300, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_DISABLE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetSamplerState(0, (D3DSAMPLERSTATETYPE)20, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetTexture(8, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetStreamSource(16, nullptr, 0, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetTransform((D3DTRANSFORMSTATETYPE)1, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetVertexShader(nullptr), D3D_OK);
    EXPECT_EQ(device_->SetPixelShader(nullptr), D3D_OK);
    DWORD passes = 0;
    EXPECT_EQ(device_->ValidateDevice(&passes), D3D_OK);
    EXPECT_EQ(passes, 1u);
    EXPECT_EQ(device_->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    D3DMATRIX m = Identity();
    m._41 = 3.0f;
    ASSERT_EQ(device_->SetTransform(D3DTS_WORLD, &m), D3D_OK);
    D3DMATRIX out;
    ASSERT_EQ(device_->GetTransform(D3DTS_WORLD, &out), D3D_OK);
    EXPECT_EQ(out._41, 3.0f);
}

}  // namespace
