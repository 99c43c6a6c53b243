// The graphics manager's device and screen modes: format names, the mode
// choice (windowed, full screen, strict and not), the device information
// entry, and the shutdown report.
#include "graphics_support.h"

using gfxtest::Contains;
using gfxtest::GraphicsTest;

namespace {

TEST(FormatName, NamesKnownCodesAndOverwritesItsText) {
    const String& name = ZVGraphics::FormatName(D3DFMT_X8R8G8B8);
    EXPECT_STREQ(name.c_str(), "X8R8G8B8");
    EXPECT_STREQ(ZVGraphics::FormatName(0).c_str(), "UNKNOWN");
    EXPECT_STREQ(ZVGraphics::FormatName(D3DFMT_D24X4S4).c_str(), "D24X4S4");
    EXPECT_STREQ(ZVGraphics::FormatName(D3DFMT_CxV8U8).c_str(), "CxV8U8");
    EXPECT_STREQ(ZVGraphics::FormatName(D3DFMT_DXT5).c_str(), "DXT5");
    EXPECT_STREQ(ZVGraphics::FormatName(D3DFMT_MULTI2_ARGB8).c_str(), "MULTI2_ARGB8");
    // Gaps in the numbering have no name.
    EXPECT_STREQ(ZVGraphics::FormatName(999).c_str(), "Unknown format");
    EXPECT_STREQ(ZVGraphics::FormatName(37).c_str(), "Unknown format");
    EXPECT_STREQ(ZVGraphics::FormatName(72).c_str(), "Unknown format");
    // One text for all calls: the first reference now reads the last name.
    EXPECT_STREQ(name.c_str(), "Unknown format");
}

TEST_F(GraphicsTest, BeforeSetScreenModeThereIsNoDeviceAndNoCaps) {
    EXPECT_EQ(graphics->GetD3DDevice(), nullptr);
    const D3DCAPS9 zero = {};
    EXPECT_EQ(std::memcmp(&zv->d3dCaps, &zero, sizeof(zero)), 0);
    DisplaySettings out;
    EXPECT_EQ(graphics->GetScreenMode(&out), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Device not created; call SetScreenMode() before"));
    IVertexBuffer* vb = nullptr;
    EXPECT_EQ(graphics->CreateVB(D3DFVF_XYZ, 3, false, &vb), ZVE_SUBFUNCTION);
    EXPECT_EQ(vb, nullptr);
    // The present parameters as Init leaves them.
    EXPECT_EQ(zv->d3dpp.BackBufferCount, 1u);
    EXPECT_EQ(zv->d3dpp.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(zv->d3dpp.PresentationInterval, (UINT)D3DPRESENT_INTERVAL_IMMEDIATE);
    EXPECT_EQ(zv->d3dpp.hDeviceWindow, static_cast<ZVCore*>(core)->hWnd);
    EXPECT_EQ(zv->nLightningPath, (u32)SimpleLighting);
    EXPECT_EQ(zv->nFillMode, 3u);
    EXPECT_EQ(zv->lights[7].id, 0xFFFFFFFFu);
}

TEST_F(GraphicsTest, WindowedModeWritesTheDeviceInformationEntry) {
    ASSERT_EQ(Windowed(false), S_OK);
    ASSERT_NE(graphics->GetD3DDevice(), nullptr);
    EXPECT_TRUE(graphics->IsWindowed());

    RECT rc;
    ASSERT_TRUE(GetClientRect(zv->d3dpp.hDeviceWindow, &rc));
    EXPECT_EQ(zv->d3dpp.BackBufferWidth, (UINT)(rc.right - rc.left));
    EXPECT_EQ(zv->d3dpp.BackBufferHeight, (UINT)(rc.bottom - rc.top));
    // Without performance the formats are walked from the best one down.
    EXPECT_STREQ(zv->strFormats.c_str(), "adapt X8R8G8B8 backBuf A8R8G8B8 depth/sten D24S8");
    EXPECT_TRUE(zv->bStencil);
    EXPECT_STREQ(zv->strDeviceType.c_str(), "HAL (pure hw vp)");
    EXPECT_GT(zv->d3dCaps.MaxStreams, 0u);

    D3DADAPTER_IDENTIFIER9 id = {};
    ASSERT_EQ(zv->pD3D->GetAdapterIdentifier(0, 0, &id), D3D_OK);
    const u64 v = (u64)id.DriverVersion.QuadPart;
    const D3DCAPS9& c = zv->d3dCaps;
    char version[64];
    std::snprintf(version, sizeof(version), "%u.%u.%u.%u", (unsigned)(v >> 48), (unsigned)((v >> 32) & 0xFFFF),
                  (unsigned)((v >> 16) & 0xFFFF), (unsigned)(v & 0xFFFF));
    char caps[256];
    std::snprintf(caps, sizeof(caps),
                  "\n Caps : VS_%u_%u and PS_%u_%u, MaxSimultTextures=%u (BlendStages=%u), MaxStreams=%u, "
                  "MaxPrimitiveCount=%u",
                  (unsigned)((c.VertexShaderVersion >> 8) & 0xFF), (unsigned)(c.VertexShaderVersion & 0xFF),
                  (unsigned)((c.PixelShaderVersion >> 8) & 0xFF), (unsigned)(c.PixelShaderVersion & 0xFF),
                  (unsigned)c.MaxSimultaneousTextures, (unsigned)c.MaxTextureBlendStages, (unsigned)c.MaxStreams,
                  (unsigned)c.MaxPrimitiveCount);
    const std::string expected = std::string("Device infos :\n Graphic card N\xB0") + "0 : " + id.Description +
                                 ", Driver : " + id.Driver + " v" + version + " NoWHQL" +
                                 "\n Device created : HAL (pure hw vp), " + std::to_string(rc.right - rc.left) +
                                 "x" + std::to_string(rc.bottom - rc.top) +
                                 " (Windowed)); Buffers : adapt X8R8G8B8 backBuf A8R8G8B8 depth/sten D24S8" + caps;
    EXPECT_TRUE(Contains(log, expected)) << log;

    DisplaySettings out(9, 0, 1, 1);
    ASSERT_EQ(graphics->GetScreenMode(&out), S_OK);
    EXPECT_EQ(out.nAdapter, 0u);
    EXPECT_NE(out.bWindowed, 0u);
    EXPECT_EQ(out.nWidth, zv->d3dpp.BackBufferWidth);
    EXPECT_EQ(out.nHeight, zv->d3dpp.BackBufferHeight);
    EXPECT_STREQ(out.strDeviceType.c_str(), "HAL (pure hw vp)");
    EXPECT_STREQ(out.strFormats.c_str(), zv->strFormats.c_str());
    EXPECT_STREQ(out.strDescription.c_str(), id.Description);
}

TEST_F(GraphicsTest, PerformancePrefersTheSmallestWorkingBackBufferFormat) {
    ASSERT_EQ(Windowed(true), S_OK);
    EXPECT_EQ(zv->d3dpp.BackBufferFormat, D3DFMT_X8R8G8B8);
    EXPECT_STREQ(zv->strFormats.c_str(), "adapt X8R8G8B8 backBuf X8R8G8B8 depth/sten D24S8");
}

TEST_F(GraphicsTest, MissingAdapterIsAnErrorOnlyWhenStrict) {
    DisplaySettings s(5, 1, 0, 0);
    EXPECT_EQ(graphics->SetScreenMode(&s, false, true), E_FAIL);
    EXPECT_TRUE(Contains(log, "Ask for the 6th Adapter but AdapterCount=1")) << log;
    EXPECT_EQ(graphics->GetD3DDevice(), nullptr);
    EXPECT_EQ(graphics->SetScreenMode(&s, false, false), S_OK);
    EXPECT_EQ(zv->nAdapter, 0u);
    EXPECT_NE(graphics->GetD3DDevice(), nullptr);
}

TEST_F(GraphicsTest, UnsupportedResolutionWhenStrictKeepsThePreviousMode) {
    ASSERT_EQ(Windowed(false), S_OK);
    IDirect3DDevice9* device = graphics->GetD3DDevice();
    const D3DPRESENT_PARAMETERS before = zv->d3dpp;
    const std::string formats = zv->strFormats.c_str();
    log.clear();
    DisplaySettings s(0, 0, 1234, 567);
    EXPECT_EQ(graphics->SetScreenMode(&s, true, true), E_FAIL);
    EXPECT_TRUE(Contains(log, "The Resolution 1234x567 is not Supported")) << log;
    EXPECT_EQ(std::memcmp(&before, &zv->d3dpp, sizeof(before)), 0);
    EXPECT_STREQ(zv->strFormats.c_str(), formats.c_str());
    EXPECT_TRUE(graphics->IsWindowed());
    EXPECT_EQ(graphics->GetD3DDevice(), device);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
}

TEST_F(GraphicsTest, FailedFirstCallCreatesNoDevice) {
    DisplaySettings s(0, 0, 1234, 567);
    EXPECT_EQ(graphics->SetScreenMode(&s, false, true), E_FAIL);
    EXPECT_EQ(graphics->GetD3DDevice(), nullptr);
    EXPECT_TRUE(zv->strFormats.IsEmpty());
    // Nothing of the refused mode was kept.
    EXPECT_EQ(zv->d3dpp.BackBufferWidth, 0u);
    EXPECT_EQ(zv->d3dpp.AutoDepthStencilFormat, D3DFMT_UNKNOWN);
}

// The substitute for a missing full-screen resolution: with performance the
// first listed mode of at least 400 x 300, without it the last listed mode.
class FullScreenSubstitute : public GraphicsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FullScreenSubstitute, ChoosesFromTheModeList) {
    const bool performance = GetParam();
    // The adapter format the manager will choose: 16-bit first with performance.
    const D3DFORMAT order[4] = {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_X8R8G8B8, D3DFMT_A2R10G10B10};
    D3DFORMAT adapterFormat = D3DFMT_UNKNOWN;
    for (int i = 0; i < 4 && adapterFormat == D3DFMT_UNKNOWN; ++i) {
        const D3DFORMAT f = order[performance ? i : 3 - i];
        if (zv->pD3D->GetAdapterModeCount(0, f) > 0) adapterFormat = f;
    }
    ASSERT_NE(adapterFormat, D3DFMT_UNKNOWN);
    const UINT n = zv->pD3D->GetAdapterModeCount(0, adapterFormat);
    D3DDISPLAYMODE expected = {}, m = {};
    bool found = false;
    for (UINT i = 0; i < n; ++i) {
        ASSERT_EQ(zv->pD3D->EnumAdapterModes(0, adapterFormat, i, &m), D3D_OK);
        if (performance && !found && m.Width >= 400 && m.Height >= 300) {
            expected = m;
            found = true;
        }
    }
    if (!found) expected = m;

    DisplaySettings s(0, 0, 1234, 567);
    ASSERT_EQ(graphics->SetScreenMode(&s, performance, false), S_OK);
    EXPECT_FALSE(graphics->IsWindowed());
    EXPECT_EQ(zv->d3dpp.BackBufferWidth, expected.Width);
    EXPECT_EQ(zv->d3dpp.BackBufferHeight, expected.Height);
    const std::string size = std::to_string(expected.Width) + "x" + std::to_string(expected.Height);
    EXPECT_TRUE(Contains(log, ", " + size + " (FullScreen)); Buffers : adapt " +
                                  ZVGraphics::FormatName(adapterFormat).c_str()))
        << log;
    // Back to a window before the core goes.
    ASSERT_EQ(Windowed(false), S_OK);
    EXPECT_TRUE(graphics->IsWindowed());
}

INSTANTIATE_TEST_SUITE_P(Performance, FullScreenSubstitute, ::testing::Bool());

TEST_F(GraphicsTest, RejectsCallsWithoutSettings) {
    EXPECT_EQ(graphics->SetScreenMode(nullptr, false, false), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Invalid Call/Param"));
}

TEST_F(GraphicsTest, CleanShutdownIsReported) {
    ASSERT_EQ(Windowed(), S_OK);
    IVertexBuffer* vb = nullptr;
    ASSERT_EQ(graphics->CreateVB(D3DFVF_XYZ, 3, false, &vb), S_OK);
    EXPECT_EQ(vb->Release(), 0u);
    ReleaseGraphics();
    EXPECT_TRUE(Contains(log, "Graphics Engine correctly shutdown")) << log;
    EXPECT_FALSE(Contains(log, "not released"));
    // The manager detached itself from the core.
    EXPECT_EQ(core->GetGraphics(), nullptr);
}

TEST_F(GraphicsTest, ForgottenResourcesAreReportedByKindAndCount) {
    ASSERT_EQ(Windowed(), S_OK);
    const std::string tga = gfxtest::WriteSolidTga("leak.tga", 10, 20, 30);
    IVertexBuffer* vb = nullptr;
    IIndexBuffer* ib1 = nullptr;
    IIndexBuffer* ib2 = nullptr;
    ITexture* texture = nullptr;
    ASSERT_EQ(graphics->CreateVB(D3DFVF_XYZ, 3, true, &vb), S_OK);
    ASSERT_EQ(graphics->CreateIB(3, false, &ib1), S_OK);
    ASSERT_EQ(graphics->CreateIB(6, true, &ib2), S_OK);
    ASSERT_EQ(graphics->CreateTexture(tga.c_str(), &texture), S_OK);
    vb->AddRef();  // a second reference does not keep it alive past the manager
    ReleaseGraphics();
    // The shared shadow-volume buffer is the manager's own and is not counted.
    EXPECT_TRUE(Contains(log, "\"1 VB(s) not released !\"")) << log;
    EXPECT_TRUE(Contains(log, "\"2 IB(s) not released !\"")) << log;
    EXPECT_TRUE(Contains(log, "\"1 Texture(s) not released !\"")) << log;
    EXPECT_FALSE(Contains(log, "Graphics Engine correctly shutdown"));
    std::remove(tga.c_str());
}

}  // namespace
