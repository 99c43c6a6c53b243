// GPU resources of the graphics manager: creation, Lock/Unlock, the
// last-bound caches, the limits, textures from our own image files, and the
// device reset that rebuilds the default pool.
#include "graphics_support.h"

using gfxtest::Contains;
using gfxtest::GraphicsTest;

namespace {

class ResourceTest : public GraphicsTest {
protected:
    void SetUp() override {
        GraphicsTest::SetUp();
        ASSERT_EQ(Windowed(), S_OK);
        log.clear();
    }
};

TEST_F(ResourceTest, CreateChecksItsArguments) {
    EXPECT_EQ(graphics->CreateVB(D3DFVF_XYZ, 3, false, nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(graphics->CreateIB(3, false, nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(graphics->CreateTexture("x.tga", nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(gfxtest::Count(log, "Invalid Call/Param"), 3u);
    EXPECT_EQ(zv->vVBs.count, 0u);
}

TEST_F(ResourceTest, VertexBufferStrideAndShadowBufferSize) {
    IVertexBuffer* a = nullptr;
    IVertexBuffer* b = nullptr;
    IVertexBuffer* c = nullptr;
    ASSERT_EQ(graphics->CreateVB(0, 10, false, &a), S_OK);
    EXPECT_EQ(static_cast<ZVGraphics::VB*>(a)->nStride, 1u);
    EXPECT_EQ(a->GetNumVertices(), 10u);
    ASSERT_NE(zv->pShadowVB, nullptr);
    EXPECT_EQ(zv->pShadowVB->GetNumVertices(), 60u);
    IVertexBuffer* shadow = zv->pShadowVB;
    // A smaller buffer keeps the shadow buffer, a larger one replaces it.
    ASSERT_EQ(graphics->CreateVB(D3DFVF_XYZ | D3DFVF_NORMAL, 5, true, &b), S_OK);
    EXPECT_EQ(static_cast<ZVGraphics::VB*>(b)->nStride, 24u);
    EXPECT_EQ(zv->pShadowVB, shadow);
    ASSERT_EQ(graphics->CreateVB(D3DFVF_XYZ, 20, false, &c), S_OK);
    EXPECT_EQ(zv->pShadowVB->GetNumVertices(), 120u);
    // Listed: a, b, the new shadow buffer, c (the old shadow buffer is gone).
    EXPECT_EQ(zv->vVBs.count, 4u);
    EXPECT_EQ(a->Release(), 0u);
    EXPECT_EQ(b->Release(), 0u);
    EXPECT_EQ(c->Release(), 0u);
    EXPECT_EQ(zv->vVBs.count, 1u);
}

TEST_F(ResourceTest, LockHandsOutThePositionsAndTheSystemCopy) {
    IVertexBuffer* vb = nullptr;
    ASSERT_EQ(graphics->CreateVB(D3DFVF_XYZ, 3, false, &vb), S_OK);
    void* data = nullptr;
    Vector3* positions = nullptr;
    EXPECT_EQ(vb->Lock(&data, nullptr), S_OK);  // positions are optional
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(vb->Unlock(), S_OK);
    EXPECT_EQ(vb->Lock(&data, &positions), S_OK);
    EXPECT_EQ(positions, static_cast<ZVGraphics::VB*>(vb)->pPositions);
    EXPECT_EQ(vb->Unlock(), S_OK);
    EXPECT_EQ(vb->Lock(nullptr, &positions), ZVE_SUBFUNCTION);

    IIndexBuffer* ib = nullptr;
    ASSERT_EQ(graphics->CreateIB(9, true, &ib), S_OK);
    EXPECT_EQ(ib->GetNumIndices(), 9u);
    u16* d = nullptr;
    u16* copy = nullptr;
    EXPECT_EQ(ib->Lock(&d, nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(ib->Lock(nullptr, &copy), ZVE_SUBFUNCTION);
    EXPECT_EQ(gfxtest::Count(log, "Invalid Call/Param"), 3u);
    ASSERT_EQ(ib->Lock(&d, &copy), S_OK);
    EXPECT_EQ(copy, static_cast<ZVGraphics::IB*>(ib)->pIndices);
    EXPECT_EQ(ib->Unlock(), S_OK);
    vb->Release();
    ib->Release();
}

TEST_F(ResourceTest, ActivatingTwiceSkipsTheDevice) {
    IVertexBuffer* vb = nullptr;
    IIndexBuffer* ib = nullptr;
    MakeQuad(&vb, &ib);
    const std::string tga = gfxtest::WriteSolidTga("cache.tga", 0, 255, 0);
    ITexture* texture = nullptr;
    ASSERT_EQ(graphics->CreateTexture(tga.c_str(), &texture), S_OK);

    EXPECT_EQ(vb->Active(0), S_OK);
    EXPECT_EQ(vb->Active(0), S_FALSE);
    EXPECT_EQ(ib->Active(), S_OK);
    EXPECT_EQ(ib->Active(), S_FALSE);
    EXPECT_EQ(texture->Active(0), S_OK);
    EXPECT_EQ(texture->Active(0), S_FALSE);
    IDirect3DBaseTexture9* bound = nullptr;
    if (zv->d3dCaps.MaxSimultaneousTextures > 1) {
        // The cache is one for all stages: stage 1 is not bound.
        EXPECT_EQ(texture->Active(1), S_FALSE);
        ASSERT_EQ(graphics->GetD3DDevice()->GetTexture(1, &bound), D3D_OK);
        EXPECT_EQ(bound, nullptr);
    }
    // After a stage is cleared the texture binds again.
    EXPECT_EQ(graphics->DesactiveTexture(0), D3D_OK);
    ASSERT_EQ(graphics->GetD3DDevice()->GetTexture(0, &bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    EXPECT_EQ(texture->Active(0), S_OK);
    ASSERT_EQ(graphics->GetD3DDevice()->GetTexture(0, &bound), D3D_OK);
    EXPECT_NE(bound, nullptr);
    if (bound) bound->Release();

    // A released buffer leaves no stale cache entry behind.
    vb->Release();
    EXPECT_EQ(zv->pLastVB, nullptr);
    ib->Release();
    texture->Release();
    std::remove(tga.c_str());
}

// A bind the device refuses leaves the cache as it was, so that the next
// Active tries again instead of believing the texture bound.
TEST_F(ResourceTest, RefusedBindDoesNotUpdateTheCache) {
    const std::string tga = gfxtest::WriteSolidTga("refused.tga", 9, 9, 9);
    ITexture* texture = nullptr;
    ASSERT_EQ(graphics->CreateTexture(tga.c_str(), &texture), S_OK);
    ZVGraphics::Texture* t = static_cast<ZVGraphics::Texture*>(texture);
    // A system-memory texture cannot be sampled: the device refuses it.
    IDirect3DTexture9* unusable = nullptr;
    ASSERT_EQ(graphics->GetD3DDevice()->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &unusable,
                                                      nullptr),
              D3D_OK);
    IDirect3DTexture9* real = t->pD3DTexture;
    t->pD3DTexture = unusable;
    EXPECT_EQ(texture->Active(0), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "IDirect3DDevice9::SetTexture() failed"));
    EXPECT_EQ(zv->pLastTexture, nullptr);
    EXPECT_EQ(texture->Active(0), ZVE_SUBFUNCTION);  // tried again, not skipped
    t->pD3DTexture = real;
    unusable->Release();
    EXPECT_EQ(texture->Active(0), S_OK);
    EXPECT_EQ(zv->pLastTexture, real);
    texture->Release();
    EXPECT_EQ(zv->pLastTexture, nullptr);
    std::remove(tga.c_str());
}

TEST_F(ResourceTest, StreamAndStageLimits) {
    IVertexBuffer* fvf = nullptr;
    IVertexBuffer* raw = nullptr;
    ASSERT_EQ(graphics->CreateVB(D3DFVF_XYZ, 3, false, &fvf), S_OK);
    ASSERT_EQ(graphics->CreateVB(0, 3, false, &raw), S_OK);
    EXPECT_EQ(fvf->Active(1), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Multi-Stream use in FixedPipeline"));

    const u32 maxStreams = zv->d3dCaps.MaxStreams;
    const u32 maxStages = zv->d3dCaps.MaxSimultaneousTextures;
    EXPECT_EQ(raw->Active(maxStreams), E_INVALIDARG);
    const std::string streamWarning =
        "Warning : \"Use Stream[" + std::to_string(maxStreams) + "], but MaxStreams=" + std::to_string(maxStreams);
    EXPECT_TRUE(Contains(log, streamWarning)) << log;
    EXPECT_EQ(graphics->DesactiveTexture(maxStages), E_INVALIDARG);
    const std::string stageWarning = "Use TextureStage[" + std::to_string(maxStages) +
                                     "], but MaxSimultaneousTextures=" + std::to_string(maxStages);
    EXPECT_TRUE(Contains(log, "[ZVGraphics::DesactiveTexture()] Warning : \"" + stageWarning)) << log;

    // After the first frame the limits still fail, silently.
    zv->bFirstFrame = false;
    log.clear();
    EXPECT_EQ(raw->Active(maxStreams + 3), E_INVALIDARG);
    EXPECT_EQ(graphics->DesactiveTexture(maxStages + 1), E_INVALIDARG);
    EXPECT_TRUE(log.empty()) << log;
    fvf->Release();
    raw->Release();
}

TEST_F(ResourceTest, TexturesLoadFromOurImageFiles) {
    const std::string tga = gfxtest::WriteSolidTga("green.tga", 0, 255, 0);
    ITexture* texture = nullptr;
    ASSERT_EQ(graphics->CreateTexture(tga.c_str(), &texture), S_OK);
    ZVGraphics::Texture* t = static_cast<ZVGraphics::Texture*>(texture);
    EXPECT_STREQ(t->strFileName.c_str(), tga.c_str());  // absolute: no search-path prefix
    IVertexBuffer* vb = nullptr;
    IIndexBuffer* ib = nullptr;
    MakeQuad(&vb, &ib);
    std::vector<uint32_t> frame = DrawFrame(vb, ib, texture);
    const UINT w = zv->d3dpp.BackBufferWidth, h = zv->d3dpp.BackBufferHeight;
    EXPECT_EQ(At(frame, w / 4, h / 2), 0x00FF00u);
    EXPECT_EQ(At(frame, 3 * w / 4, h / 2), 0x000000u);

    // A missing file: the loader's code, nothing in the log.
    log.clear();
    ITexture* missing = nullptr;
    const HRESULT hr = graphics->CreateTexture("no_such_texture.tga", &missing);
    EXPECT_LT(hr, 0);
    EXPECT_NE(hr, ZVE_SUBFUNCTION);
    EXPECT_EQ(missing, nullptr);
    EXPECT_TRUE(log.empty()) << log;
    EXPECT_EQ(zv->vTextures.count, 1u);
    vb->Release();
    ib->Release();
    texture->Release();
    std::remove(tga.c_str());
}

// A lost device: the reset waits until the device can be reset, then the
// default pool comes back (index buffers from their copy, textures from
// their file) and the next frame draws as before.
TEST_F(ResourceTest, LostDeviceIsResetAndTheDefaultPoolRebuilt) {
    const std::string tga = gfxtest::WriteSolidTga("reset.tga", 0, 0, 255);
    ITexture* texture = nullptr;
    ASSERT_EQ(graphics->CreateTexture(tga.c_str(), &texture), S_OK);
    IVertexBuffer* vb = nullptr;
    IIndexBuffer* ib = nullptr;
    MakeQuad(&vb, &ib);
    IVertexBuffer* dynamic = nullptr;
    ASSERT_EQ(graphics->CreateVB(D3DFVF_XYZ, 8, true, &dynamic), S_OK);
    const UINT w = zv->d3dpp.BackBufferWidth, h = zv->d3dpp.BackBufferHeight;
    std::vector<uint32_t> before = DrawFrame(vb, ib, texture);
    ASSERT_EQ(At(before, w / 4, h / 2), 0x0000FFu);

    IDirect3DDevice9* dev = graphics->GetD3DDevice();
    ZVGraphics::VB* staticVB = static_cast<ZVGraphics::VB*>(vb);
    IDirect3DVertexBuffer9* managed = staticVB->pD3DVB;
    ZVD3D9TestLoseDevice(dev);
    EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICELOST);
    // Resetting a lost device fails and is reported as a failure; the
    // default-pool objects are gone and their users fail cleanly.
    EXPECT_EQ(zv->UpdateScreenMode(), ZVE_SUBFUNCTION) << log;
    EXPECT_TRUE(Contains(log, "IDirect3DDevice9::Reset() failed !"));
    EXPECT_TRUE(Contains(log, "D3DERR_DEVICELOST"));
    EXPECT_FALSE(zv->bModeChangePending);  // the frame's cooperative-level test takes over
    EXPECT_EQ(static_cast<ZVGraphics::IB*>(ib)->pD3DIB, nullptr);
    EXPECT_EQ(static_cast<ZVGraphics::Texture*>(texture)->pD3DTexture, nullptr);
    EXPECT_EQ(static_cast<ZVGraphics::VB*>(dynamic)->pD3DVB, nullptr);
    EXPECT_EQ(staticVB->pD3DVB, managed);  // the managed pool stays
    u16* d = nullptr;
    u16* copy = nullptr;
    EXPECT_EQ(ib->Lock(&d, &copy), ZVE_SUBFUNCTION);
    EXPECT_EQ(ib->Active(), ZVE_SUBFUNCTION);
    EXPECT_EQ(texture->Active(0), ZVE_SUBFUNCTION);
    void* data = nullptr;
    EXPECT_EQ(dynamic->Lock(&data, nullptr), ZVE_SUBFUNCTION);

    ZVD3D9TestRegainDevice(dev);
    EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    log.clear();
    ASSERT_EQ(zv->UpdateScreenMode(), S_OK) << log;
    EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);
    EXPECT_NE(static_cast<ZVGraphics::IB*>(ib)->pD3DIB, nullptr);
    EXPECT_NE(static_cast<ZVGraphics::Texture*>(texture)->pD3DTexture, nullptr);
    EXPECT_NE(static_cast<ZVGraphics::VB*>(dynamic)->pD3DVB, nullptr);
    EXPECT_EQ(staticVB->pD3DVB, managed);
    EXPECT_EQ(zv->pLastVB, nullptr);
    EXPECT_EQ(zv->pLastIB, nullptr);
    EXPECT_EQ(zv->pLastTexture, nullptr);
    EXPECT_GT(zv->d3dCaps.MaxStreams, 0u);

    std::vector<uint32_t> after = DrawFrame(vb, ib, texture);
    EXPECT_EQ(At(after, w / 4, h / 2), 0x0000FFu);
    EXPECT_EQ(At(after, 3 * w / 4, h / 2), 0x000000u);
    EXPECT_EQ(dynamic->Lock(&data, nullptr), S_OK);
    EXPECT_EQ(dynamic->Unlock(), S_OK);
    vb->Release();
    ib->Release();
    dynamic->Release();
    texture->Release();
    std::remove(tga.c_str());
}

// A re-creation that fails (the texture file vanished) is a failure; the
// next attempt, once the file is back, completes the reset.
TEST_F(ResourceTest, FailedRecreationIsRetried) {
    const std::string tga = gfxtest::WriteSolidTga("vanish.tga", 255, 0, 0);
    ITexture* texture = nullptr;
    ASSERT_EQ(graphics->CreateTexture(tga.c_str(), &texture), S_OK);
    IVertexBuffer* vb = nullptr;
    IIndexBuffer* ib = nullptr;
    MakeQuad(&vb, &ib);
    std::remove(tga.c_str());

    EXPECT_EQ(zv->UpdateScreenMode(), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Texture '" + tga + "' : loading failed")) << log;
    EXPECT_TRUE(zv->bModeChangePending);
    EXPECT_EQ(static_cast<ZVGraphics::Texture*>(texture)->pD3DTexture, nullptr);
    EXPECT_NE(static_cast<ZVGraphics::IB*>(ib)->pD3DIB, nullptr);  // rebuilt before the texture failed
    EXPECT_EQ(texture->Active(0), ZVE_SUBFUNCTION);

    gfxtest::WriteSolidTga("vanish.tga", 255, 0, 0);
    ASSERT_EQ(zv->UpdateScreenMode(), S_OK);
    EXPECT_FALSE(zv->bModeChangePending);
    const UINT w = zv->d3dpp.BackBufferWidth, h = zv->d3dpp.BackBufferHeight;
    std::vector<uint32_t> frame = DrawFrame(vb, ib, texture);
    EXPECT_EQ(At(frame, w / 4, h / 2), 0xFF0000u);
    vb->Release();
    ib->Release();
    texture->Release();
    std::remove(tga.c_str());
}

// A second SetScreenMode resets the device; when that reset fails the
// previous mode stays the manager's mode and the failure is reported.
TEST_F(ResourceTest, SecondSetScreenModeResetsOrKeepsThePreviousMode) {
    IVertexBuffer* vb = nullptr;
    IIndexBuffer* ib = nullptr;
    MakeQuad(&vb, &ib);
    IDirect3DDevice9* dev = graphics->GetD3DDevice();
    ASSERT_EQ(Windowed(true), S_OK);  // X8R8G8B8 back buffer now
    EXPECT_EQ(graphics->GetD3DDevice(), dev);
    EXPECT_EQ(zv->d3dpp.BackBufferFormat, D3DFMT_X8R8G8B8);
    const UINT w = zv->d3dpp.BackBufferWidth, h = zv->d3dpp.BackBufferHeight;
    std::vector<uint32_t> frame = DrawFrame(vb, ib, nullptr);
    EXPECT_EQ(At(frame, w / 4, h / 2), 0xFFFFFFu);

    const std::string tga = gfxtest::WriteSolidTga("mode.tga", 1, 2, 3);
    ITexture* texture = nullptr;
    ASSERT_EQ(graphics->CreateTexture(tga.c_str(), &texture), S_OK);
    std::remove(tga.c_str());
    log.clear();
    EXPECT_EQ(Windowed(false), ZVE_SUBFUNCTION);
    EXPECT_EQ(zv->d3dpp.BackBufferFormat, D3DFMT_X8R8G8B8);
    EXPECT_STREQ(zv->strFormats.c_str(), "adapt X8R8G8B8 backBuf X8R8G8B8 depth/sten D24S8");
    EXPECT_TRUE(zv->bModeChangePending);
    EXPECT_FALSE(Contains(log, "Device infos"));
    vb->Release();
    ib->Release();
    texture->Release();
}

}  // namespace

namespace {

// The same loss driven by the frame: it skips frames while the device is
// lost, resets it when it can be reset, and the frame after is normal.
TEST_F(ResourceTest, FrameLoopResetsALostDevice) {
    IPhysics* physics = nullptr;
    ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
    const std::string tga = gfxtest::WriteSolidTga("frame.tga", 0, 255, 255);
    ITexture* texture = nullptr;
    ASSERT_EQ(graphics->CreateTexture(tga.c_str(), &texture), S_OK);
    IVertexBuffer* vb = nullptr;
    IIndexBuffer* ib = nullptr;
    MakeQuad(&vb, &ib);
    ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;

    IDirect3DDevice9* dev = graphics->GetD3DDevice();
    ZVD3D9TestLoseDevice(dev);
    log.clear();
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_FALSE);
    EXPECT_TRUE(Contains(log, "Warning : \"Device Lost\"")) << log;
    EXPECT_NE(static_cast<ZVGraphics::IB*>(ib)->pD3DIB, nullptr);  // nothing released while lost

    ZVD3D9TestRegainDevice(dev);
    log.clear();
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;
    EXPECT_TRUE(Contains(log, "Warning : \"Device To Reset\"")) << log;
    EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);
    EXPECT_NE(static_cast<ZVGraphics::IB*>(ib)->pD3DIB, nullptr);
    EXPECT_NE(static_cast<ZVGraphics::Texture*>(texture)->pD3DTexture, nullptr);
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;

    const UINT w = zv->d3dpp.BackBufferWidth, h = zv->d3dpp.BackBufferHeight;
    std::vector<uint32_t> frame = DrawFrame(vb, ib, texture);
    EXPECT_EQ(At(frame, w / 4, h / 2), 0x00FFFFu);
    EXPECT_EQ(At(frame, 3 * w / 4, h / 2), 0x000000u);
    vb->Release();
    ib->Release();
    texture->Release();
    physics->Release();
    std::remove(tga.c_str());
}

}  // namespace

namespace {

// Every image kind our writers make loads as a texture and draws its colour.
TEST_F(ResourceTest, TexturesFromEveryImageKind) {
    std::vector<uint8_t> bgra;
    for (int i = 0; i < 64; ++i) {
        bgra.push_back(200);  // B
        bgra.push_back(40);   // G
        bgra.push_back(160);  // R
        bgra.push_back(255);
    }
    struct Kind {
        const char* name;
        std::vector<uint8_t> bytes;
        int tolerance;
    };
    const Kind kinds[] = {{"kind.bmp", zvtools::EncodeBMP(8, 8, bgra.data()), 0},
                          {"kind.png", zvtools::EncodePNG(8, 8, bgra.data()), 0},
                          {"kind.jpg", zvtools::EncodeJPEG(8, 8, bgra.data()), 6},
                          {"kind.tga", zvtools::EncodeTGA(8, 8, bgra.data()), 0}};
    IVertexBuffer* vb = nullptr;
    IIndexBuffer* ib = nullptr;
    MakeQuad(&vb, &ib);
    const UINT w = zv->d3dpp.BackBufferWidth, h = zv->d3dpp.BackBufferHeight;
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        const std::string path = std::string(GetExeDir().c_str()) + k.name;
        ASSERT_TRUE(zvtools::WriteBytes(path, k.bytes));
        ITexture* texture = nullptr;
        ASSERT_EQ(graphics->CreateTexture(k.name, &texture), S_OK);  // found through the program's directory
        std::vector<uint32_t> frame = DrawFrame(vb, ib, texture);
        const uint32_t c = At(frame, w / 4, h / 2);
        EXPECT_NEAR((int)((c >> 16) & 0xFF), 160, k.tolerance);
        EXPECT_NEAR((int)((c >> 8) & 0xFF), 40, k.tolerance);
        EXPECT_NEAR((int)(c & 0xFF), 200, k.tolerance);
        texture->Release();
        std::remove(path.c_str());
    }
    vb->Release();
    ib->Release();
}

}  // namespace
