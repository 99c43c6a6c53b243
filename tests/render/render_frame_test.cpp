// The frame: results, lighting paths against Direct3D 9's fixed-function
// formula, counters, Draw's guards and batches, lights, screenshots, lost
// devices and the stencil shadow path.
#include <algorithm>
#include <limits>

#include "render_scene.h"
#include "zvgraphstenshad.h"

namespace rendertest {
namespace {

TEST(RenderColour, ToD3DColorPacksTruncatedComponents) {
    EXPECT_EQ(ToD3DColor(D3DCOLORVALUE{1.0f, 0.5f, 0.0f, 1.0f}), 0xFFFF7F00u);
    EXPECT_EQ(ToD3DColor(D3DCOLORVALUE{0.0f, 0.0f, 1.0f, 0.0f}), 0x000000FFu);
    // No clamping: 2.0 gives 510, of which the low byte is kept.
    EXPECT_EQ(ToD3DColor(D3DCOLORVALUE{2.0f, 0.0f, 0.0f, 1.0f}), 0xFFFE0000u);
}

// Colours of a scene file such as 1e39 (infinite as a float), -1e39 or nan,
// or finite ones too large for any integer once scaled: saturated, NaN as 0.
TEST(RenderColour, ToD3DColorSaturatesComponentsNoIntegerHolds) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(ToD3DColor(D3DCOLORVALUE{inf, nan, -inf, 1.0f}), 0xFFFF0000u);
    EXPECT_EQ(ToD3DColor(D3DCOLORVALUE{1e30f, -1e30f, 0.5f, nan}), 0x00FF007Fu);
    EXPECT_EQ(ToD3DColor(D3DCOLORVALUE{-nan, 3e38f, -3e38f, inf}), 0xFF00FF00u);
    // Values that convert keep wrapping as before: -1.0 gives -255.
    EXPECT_EQ(ToD3DColor(D3DCOLORVALUE{-1.0f, 0.5f, 0.0f, 1.0f}), 0xFF017F00u);
}

TEST_F(RenderTest, FrameResultsBeforeAndAroundTheFrame) {
    // No device yet: nothing can be drawn.
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_FALSE);
    EXPECT_EQ(graphics->UpdateAndRender(-0.5f), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "[ZVGraphics::UpdateAndRender()] Error : \"Called function return E_INVALIDARG"));
    EXPECT_TRUE(Contains(log, "Invalid Call/Param"));
    Start(false);
    log.clear();
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "The Physics Engine is required"));
    EXPECT_TRUE(Contains(log, "zvgraphicsd3d9"));
}

TEST_F(RenderTest, UnlitQuadIsWhiteOnTheClearColour) {
    Start();
    Keep(MakeQuadFacingCamera(zv, 2.0f));
    Camera(Vector3(0, 0, -10), Vector3(0, 0, 0));
    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, NoLightning), S_OK);
    Bitmap bmp = Frame();
    ASSERT_EQ(bmp.width, (int)zv->d3dpp.BackBufferWidth);
    ASSERT_EQ(bmp.height, (int)zv->d3dpp.BackBufferHeight);
    EXPECT_EQ(bmp.At(bmp.width / 2, bmp.height / 2), 0xFFFFFFu);
    EXPECT_EQ(bmp.At(2, 2), 0x000033u);
}

TEST_F(RenderTest, SimpleLightingMatchesTheFixedFunctionFormula) {
    Start();
    TestMesh* quad = Keep(MakeQuadFacingCamera(zv, 2.0f));
    quad->material.Ambient = D3DCOLORVALUE{0.2f, 0.2f, 0.2f, 1};
    quad->material.Diffuse = D3DCOLORVALUE{0.5f, 0.6f, 0.7f, 1};
    Camera(Vector3(0, 0, -10), Vector3(0, 0, 0));
    Light sun = Light();
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
    sun.Ambient = D3DCOLORVALUE{0.1f, 0.0f, 0.0f, 1};
    sun.Direction = Vector3(0.8f, 0.0f, 0.6f);  // N . -L = 0.6 for the normal (0, 0, -1)
    ASSERT_EQ(graphics->SetLight(3, true, &sun), S_OK);
    Bitmap bmp = Frame();
    // colour = Ma (global ambient 0x50/255 + La) + Md Ld (N . -L); no specular material.
    const double g = 80.0 / 255.0;
    const double expected[3] = {0.2 * (g + 0.1) + 0.5 * 0.6, 0.2 * g + 0.6 * 0.6, 0.2 * g + 0.7 * 0.6};
    uint32_t c = bmp.At(bmp.width / 2, bmp.height / 2);
    EXPECT_NEAR(Red(c), expected[0] * 255.0, 2.0);
    EXPECT_NEAR(Green(c), expected[1] * 255.0, 2.0);
    EXPECT_NEAR(Blue(c), expected[2] * 255.0, 2.0);
}

// A model is lit the same at any scale: a quad modelled s times smaller and
// placed by a world matrix that scales by s (a Cal3D "scale=20", an
// exporter's 0.01 for a model made in centimetres) is as bright as the
// unscaled one, with the camera and the light where they were.  In both lit
// paths (the stencil path's additive pass of the light included), and again
// once the device was lost and reset, which puts every device state back to
// its default.
TEST_F(RenderTest, ScaledModelsAreLitAsUnscaledOnes) {
    Start();
    Camera(Vector3(0, 0, -10), Vector3(0, 0, 0));
    Light l = PointLight(Vector3(3, 0, -4));  // 5 away from the quad's centre, off its axis
    ASSERT_EQ(graphics->SetLight(0, true, &l), S_OK);
    auto centreRed = [&](float scale) {
        TestMesh* quad = MakeQuadFacingCamera(zv, 2.0f / scale);
        quad->material.Diffuse = D3DCOLORVALUE{0.4f, 0.4f, 0.4f, 1};
        quad->material.Ambient = D3DCOLORVALUE{0.2f, 0.2f, 0.2f, 1};
        quad->world._11 = quad->world._22 = quad->world._33 = scale;
        Bitmap bmp = Frame();
        quad->Release();
        return Red(bmp.At(bmp.width / 2, bmp.height / 2));
    };
    std::vector<LightningPath> paths = {SimpleLighting};
    if (zv->bStencil) paths.push_back(StencilShadow);
    for (LightningPath path : paths) {
        ASSERT_GE(graphics->SetRenderState(LIGHTNINGPATH, path), S_OK);
        const int unscaled = centreRed(1.0f);
        EXPECT_GT(unscaled, 60) << path;  // neither black nor white: a change either way shows
        EXPECT_LT(unscaled, 200) << path;
        for (float scale : {20.0f, 0.01f}) EXPECT_NEAR(centreRed(scale), unscaled, 2) << path << " at " << scale;
    }
    const int before = centreRed(20.0f);
    ZVD3D9TestLoseDevice(zv->pD3DDevice);
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_FALSE);
    ZVD3D9TestRegainDevice(zv->pD3DDevice);
    EXPECT_EQ(centreRed(20.0f), before);
    EXPECT_TRUE(Contains(log, "Device To Reset"));
}

TEST_F(RenderTest, LightSwitchedOffLeavesTheDevice) {
    Start();
    Keep(MakeQuadFacingCamera(zv, 2.0f));
    Camera(Vector3(0, 0, -10), Vector3(0, 0, 0));
    Light l = PointLight(Vector3(0, 0, -5));
    ASSERT_EQ(graphics->SetLight(2, true, &l), S_OK);
    ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
    BOOL enabled = FALSE;
    zv->pD3DDevice->GetLightEnable(2, &enabled);
    EXPECT_TRUE(enabled);
    ASSERT_EQ(graphics->SetLight(2, false, &l), S_OK);
    zv->pD3DDevice->GetLightEnable(2, &enabled);
    EXPECT_FALSE(enabled);
    Bitmap bmp = Frame();
    // Only the global ambient is left on the white material.
    EXPECT_NEAR(Red(bmp.At(bmp.width / 2, bmp.height / 2)), 80, 2);
    // A null light is refused even when switching off.
    EXPECT_EQ(graphics->SetLight(2, false, nullptr), ZVE_SUBFUNCTION);
}

TEST_F(RenderTest, NinthLightIsRefusedUntilASlotIsFreed) {
    Start();
    Light l = PointLight(Vector3(0, 0, 0));
    for (u32 i = 0; i < 8; ++i) ASSERT_EQ(graphics->SetLight(10 + i, true, &l), S_OK);
    log.clear();
    EXPECT_EQ(graphics->SetLight(99, true, &l), E_FAIL);
    EXPECT_TRUE(Contains(log, "Can't active more than MAXACTIVELIGHTS lights"));
    ASSERT_EQ(graphics->SetLight(12, false, &l), S_OK);
    EXPECT_EQ(graphics->SetLight(99, true, &l), S_OK);
    EXPECT_EQ(zv->lights[2].id, 99u);
}

TEST_F(RenderTest, StatsCountDrawsAndPrimitivesOfTheLastFrame) {
    Start();
    Keep(MakeQuadFacingCamera(zv, 2.0f));
    Keep(MakeQuadFacingCamera(zv, 1.0f));
    Camera(Vector3(0, 0, -10), Vector3(0, 0, 0));
    ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
    GraphicsStats s = graphics->GetStats();
    EXPECT_EQ(s.nDrawCalls, 2u);
    EXPECT_EQ(s.nPrimitives, 4u);
    // A model out of view is neither drawn nor counted.
    Camera(Vector3(0, 0, -10), Vector3(0, 0, -20));
    ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
    s = graphics->GetStats();
    EXPECT_EQ(s.nDrawCalls, 0u);
    EXPECT_EQ(s.nPrimitives, 0u);
    EXPECT_EQ(meshes[0]->updates, 2);
}

TEST_F(RenderTest, DrawPastTheIndexBufferIsCutWithOneWarning) {
    Start();
    TestMesh* quad = Keep(MakeQuadFacingCamera(zv, 2.0f));
    quad->range.nNumIndices = 12;  // the buffer holds 6
    Camera(Vector3(0, 0, -10), Vector3(0, 0, 0));
    log.clear();
    ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
    EXPECT_EQ(graphics->GetStats().nPrimitives, 2u);
    EXPECT_EQ(Count(log, "Index stream does not have required number of indices : IB.size=6); Wants to go from 0 to 12"),
              1u);
    ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
    EXPECT_EQ(graphics->GetStats().nPrimitives, 2u);
    EXPECT_EQ(Count(log, "Index stream does not have"), 1u);

    // Starting past the end, or a sum that wraps, draws nothing and fails the frame.
    quad->range.nFirstIndex = 9;
    quad->range.nNumIndices = 3;
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), E_FAIL);
    EXPECT_TRUE(Contains(log, "NumPrimitiveToRender == 0"));
    EXPECT_TRUE(Contains(log, "Rendering failed"));
    quad->range.nFirstIndex = 3;
    quad->range.nNumIndices = 0xFFFFFFFEu;
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
    EXPECT_EQ(graphics->GetStats().nPrimitives, 1u);
}

TEST_F(RenderTest, DrawOutsideTheFrameAndDegenerateRangesAreRefused) {
    Start();
    Matrix world;
    world.SetIdentity();
    DrawPrimitiveInfos r = {0, 2, 0, 0};
    EXPECT_EQ(graphics->Draw(D3DPT_TRIANGLESTRIP, &world, &r, false), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Don't call outside of UpdateAndRender()"));

    TestMesh* quad = Keep(MakeQuadFacingCamera(zv, 2.0f));
    Camera(Vector3(0, 0, -10), Vector3(0, 0, 0));
    quad->onRender = [](TestMesh* m) {
        Matrix w;
        w.SetIdentity();
        DrawPrimitiveInfos one = {0, 1, 0, 0};
        // Strips and fans of fewer than 2 vertices have no primitive (no wrap).
        EXPECT_EQ(m->graphics->Draw(D3DPT_TRIANGLESTRIP, &w, &one, false), ZVE_SUBFUNCTION);
        DrawPrimitiveInfos none = {0, 0, 0, 0};
        EXPECT_EQ(m->graphics->Draw(D3DPT_LINESTRIP, &w, &none, false), ZVE_SUBFUNCTION);
        EXPECT_EQ(m->graphics->Draw((PrimitiveType)9, &w, &one, false), E_FAIL);
    };
    log.clear();
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
    EXPECT_EQ(Count(log, "NumPrimitiveToRender == 0"), 2u);
    EXPECT_TRUE(Contains(log, "Unknow PrimitiveType = 9"));
}

TEST_F(RenderTest, BatchesWalkThroughTheRange) {
    Start();
    Keep(MakeQuadFacingCamera(zv, 2.0f));
    Camera(Vector3(0, 0, -10), Vector3(0, 0, 0));
    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, NoLightning), S_OK);
    zv->d3dCaps.MaxPrimitiveCount = 1;  // one triangle per call
    Bitmap bmp = Frame();
    EXPECT_EQ(graphics->GetStats().nPrimitives, 2u);
    // Both triangles of the quad are there: the upper-left and lower-right corners.
    int x0, y0, x1, y1;
    Project(Vector3(-1.8f, 1.5f, 0), &x0, &y0);
    Project(Vector3(1.8f, -1.5f, 0), &x1, &y1);
    EXPECT_EQ(bmp.At(x0, y0), 0xFFFFFFu);
    EXPECT_EQ(bmp.At(x1, y1), 0xFFFFFFu);
}

TEST_F(RenderTest, RenderStatesAndTheirResults) {
    Start();
    EXPECT_EQ(graphics->SetRenderState(FILLMODE, D3DFILL_WIREFRAME), S_OK);
    EXPECT_EQ(graphics->SetRenderState(FILLMODE, D3DFILL_WIREFRAME), S_FALSE);
    EXPECT_EQ(graphics->SetRenderState(LIGHTNINGPATH, SimpleLighting), S_FALSE);
    EXPECT_EQ(graphics->SetRenderState(LIGHTNINGPATH, 4), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "bad LIGHTNINGPATH"));
    EXPECT_EQ(graphics->SetRenderState(7, 5), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Unknow RenderState = 7); Value = 5"));
    EXPECT_EQ(graphics->SetRenderState(SHADOWDEBUG, 2), S_OK);
    EXPECT_EQ(graphics->SetRenderState(SHADOWDEBUG, 2), S_FALSE);
    if (zv->bStencil) {
        Keep(MakeQuadFacingCamera(zv, 1.0f));
        EXPECT_EQ(graphics->SetRenderState(LIGHTNINGPATH, StencilShadow), S_OK);
        ASSERT_NE(zv->pShadowVB, nullptr);
        EXPECT_GE(zv->pShadowVB->GetNumVertices(), 24u);
        EXPECT_EQ(graphics->SetRenderState(LIGHTNINGPATH, SimpleLighting), S_OK);
        EXPECT_EQ(zv->pShadowVB, nullptr);
    }
    Vector3 eye(0, 0, 0), up(0, 0, 0);
    EXPECT_EQ(graphics->SetCamera(&eye, &eye, &up), ZVE_SUBFUNCTION);
}

TEST_F(RenderTest, ScreenshotIsABitmapOfTheClientArea) {
    Start();
    EXPECT_EQ(graphics->SaveScreenshot(""), ZVE_SUBFUNCTION);
    Keep(MakeQuadFacingCamera(zv, 2.0f));
    Camera(Vector3(0, 0, -10), Vector3(0, 0, 0));
    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, NoLightning), S_OK);
    Bitmap bmp = Frame("shot01.bmp");
    RECT client;
    GetClientRect(zv->d3dpp.hDeviceWindow, &client);
    EXPECT_EQ(bmp.width, client.right - client.left);
    EXPECT_EQ(bmp.height, client.bottom - client.top);
    int x, y;
    Project(Vector3(0, 0, 0), &x, &y);
    EXPECT_EQ(bmp.At(x, y), 0xFFFFFFu);
    Project(Vector3(2.5f, 0, 0), &x, &y);
    EXPECT_EQ(bmp.At(x, y), 0x000033u);
    EXPECT_EQ(graphics->SaveScreenshot("no_such_dir/shot.bmp"), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "D3DXSaveSurfaceToFile() failed"));
}

// Loses the device in the middle of the frame, as a switch away would.
void LoseDevice(TestMesh* m) { ZVD3D9TestLoseDevice(m->graphics->pD3DDevice); }

TEST_F(RenderTest, LostDeviceSkipsFramesAndRecovers) {
    Start();
    TestMesh* quad = Keep(MakeQuadFacingCamera(zv, 2.0f));
    Camera(Vector3(0, 0, -10), Vector3(0, 0, 0));
    quad->onRender = LoseDevice;
    log.clear();
    // Present reports the loss: not a rendering failure.
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_FALSE);
    EXPECT_FALSE(Contains(log, "Rendering failed"));
    quad->onRender = nullptr;
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_FALSE);
    EXPECT_TRUE(Contains(log, "Device Lost"));
    ZVD3D9TestRegainDevice(zv->pD3DDevice);
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
    EXPECT_TRUE(Contains(log, "Device To Reset"));
    EXPECT_EQ(graphics->GetStats().nDrawCalls, 1u);
}

// ---------------------------------------------------------------------------
// Stencil shadows.

class ShadowSceneTest : public RenderTest {
protected:
    void Build(TestMesh* (*makeFloor)(ZVGraphics*, float) = MakeFloor) {
        Start();
        if (!zv->bStencil) GTEST_SKIP() << "no stencil buffer";
        floor = Keep(makeFloor(zv, 20.0f));
        box = Keep(MakeBox(zv, Vector3(-1, 2, -1), Vector3(1, 6, 1)));
        Camera(Vector3(0, 30, -30), Vector3(0, 0, 0));
        Light l = PointLight(Vector3(-10, 20, 0));
        l.Ambient = D3DCOLORVALUE{0.1f, 0.1f, 0.1f, 1};
        ASSERT_EQ(graphics->SetLight(0, true, &l), S_OK);
        ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, StencilShadow), S_OK);
    }
    // The brightest and the darkest red within `radius` pixels of the pixel
    // of a world point: a few points, lines or a stray debug line around it
    // do not decide what the floor there shows.
    int BrightestRed(const Bitmap& bmp, const Vector3& at, int radius) { return RedAround(bmp, at, radius, true); }
    int DarkestRed(const Bitmap& bmp, const Vector3& at, int radius) { return RedAround(bmp, at, radius, false); }

    TestMesh* floor = nullptr;
    TestMesh* box = nullptr;

private:
    int RedAround(const Bitmap& bmp, const Vector3& at, int radius, bool brightest) {
        int x, y;
        Project(at, &x, &y);
        int found = brightest ? 0 : 255;
        for (int dy = -radius; dy <= radius; ++dy) {
            for (int dx = -radius; dx <= radius; ++dx) {
                const int r = Red(bmp.At(x + dx, y + dy));
                found = brightest ? std::max(found, r) : std::min(found, r);
            }
        }
        return found;
    }
};

TEST_F(ShadowSceneTest, FloorUnderTheBoxIsDarker) {
    Build();
    if (IsSkipped()) return;
    Bitmap bmp = Frame("shadow.bmp");
    int xs, ys, xl, yl;
    Project(Vector3(3.5f, 0, 0), &xs, &ys);   // in the box's shadow
    Project(Vector3(3.5f, 0, -6), &xl, &yl);  // about as far from the light, in the open
    uint32_t shadowed = bmp.At(xs, ys), lit = bmp.At(xl, yl);
    EXPECT_LT(Red(shadowed) + 40, Red(lit)) << std::hex << shadowed << " vs " << lit;
    // The shadowed floor keeps its ambient light.
    EXPECT_GT(Red(shadowed), 40);
    // Ambient pass, one lit pass, and two volume draws for the box.
    GraphicsStats s = graphics->GetStats();
    EXPECT_EQ(s.nDrawCalls, 6u);
}

TEST_F(ShadowSceneTest, MirroredSceneKeepsItsShadow) {
    Build();
    if (IsSkipped()) return;
    // A mirroring world matrix turns the volumes' front faces into back
    // faces: the counts go below zero and must wrap, not saturate.
    Matrix mirror;
    mirror.SetIdentity();
    mirror._11 = -1.0f;
    floor->world = mirror;
    box->world = mirror;
    Light l = PointLight(Vector3(10, 20, 0));
    ASSERT_EQ(graphics->SetLight(0, true, &l), S_OK);
    Bitmap bmp = Frame("mirror.bmp");
    int xs, ys, xl, yl;
    Project(Vector3(-3.5f, 0, 0), &xs, &ys);
    Project(Vector3(-3.5f, 0, -6), &xl, &yl);
    EXPECT_LT(Red(bmp.At(xs, ys)) + 40, Red(bmp.At(xl, yl)));
}

TEST_F(ShadowSceneTest, WireframeAndPointFillStillCastSolidShadows) {
    Build(MakeGridFloor);
    if (IsSkipped()) return;
    for (u32 fill : {D3DFILL_WIREFRAME, D3DFILL_POINT}) {
        ASSERT_EQ(graphics->SetRenderState(FILLMODE, fill), S_OK);
        Bitmap bmp = Frame(fill == D3DFILL_POINT ? "points.bmp" : "wires.bmp");
        // Only the floor's points or lines are drawn: a floor vertex in the
        // box's shadow keeps its ambient colour, one in the open is lit.  A
        // volume drawn in points or lines would leave the stencil count at 0
        // almost everywhere, and light the shadowed floor too.
        const int shadowed = BrightestRed(bmp, Vector3(3, 0, 0), 1);
        const int lit = BrightestRed(bmp, Vector3(3, 0, -6), 1);
        EXPECT_GT(shadowed, 40) << fill;  // the floor is drawn there
        EXPECT_LT(shadowed + 40, lit) << fill;
        DWORD now = 0;
        zv->pD3DDevice->GetRenderState(D3DRS_FILLMODE, &now);
        EXPECT_EQ(now, (DWORD)D3DFILL_SOLID);  // the frame ends with solid fill for the texts
        EXPECT_EQ(zv->nFillMode, fill);
    }
}

TEST_F(ShadowSceneTest, VolumeOperationsCheckTheirArguments) {
    Build();
    if (IsSkipped()) return;
    log.clear();
    Light spot = PointLight(Vector3(0, 10, 0));
    spot.Type = D3DLIGHT_SPOT;
    LightSlot slot = {0, true, spot};
    EXPECT_EQ(zv->GenAndRenderShadVol(&slot, box), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Stencil Shadow actually only support PointLights"));
    EXPECT_TRUE(Contains(log, "[ZVGraphics::GenAndRenderShadVol()]"));
    EXPECT_EQ(zv->GenAndRenderShadVol(&slot, nullptr), ZVE_SUBFUNCTION);

    u16* none = nullptr;
    u32 count = 6;
    EXPECT_EQ(graphics->CorrectIndices(&none, &count), ZVE_SUBFUNCTION);
    EXPECT_EQ(graphics->CorrectIndices(nullptr, &count), ZVE_SUBFUNCTION);
    u16 idx[9] = {0, 1, 2, 3, 3, 4, 5, 6, 7};
    u16* p = idx;
    count = 9;
    EXPECT_EQ(graphics->CorrectIndices(&p, &count), S_OK);
    EXPECT_EQ(count, 6u);
    count = 2;
    EXPECT_EQ(graphics->CorrectIndices(&p, &count), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "zvgraphstenshad"));

    // The box's edge list was built when its index buffer was unlocked.
    ZVGraphics::IB* ib = static_cast<ZVGraphics::IB*>(box->ib);
    EXPECT_EQ(ib->vEdges.count, 18u);
    for (u32 i = 0; i < ib->vEdges.count; ++i) EXPECT_EQ(ib->vEdges[i].face1 & 0x80000000u, 0u);
}

TEST_F(ShadowSceneTest, ShadowBufferGrowsForALargeSilhouette) {
    Build();
    if (IsSkipped()) return;
    // A buffer too small for the box's silhouette is replaced, not overrun.
    zv->pShadowVB->Release();
    ASSERT_EQ(zv->CreateVB(D3DFVF_XYZ, 6, true, &zv->pShadowVB), S_OK);
    Bitmap bmp = Frame("grown.bmp");
    EXPECT_GT(zv->pShadowVB->GetNumVertices(), 6u);
    int xs, ys, xl, yl;
    Project(Vector3(3.5f, 0, 0), &xs, &ys);
    Project(Vector3(3.5f, 0, -6), &xl, &yl);
    EXPECT_LT(Red(bmp.At(xs, ys)) + 40, Red(bmp.At(xl, yl)));
}

TEST_F(ShadowSceneTest, EveryLightAddsOnePassOfEveryVisibleModel) {
    Build();
    if (IsSkipped()) return;
    Light second = PointLight(Vector3(10, 20, 0));
    ASSERT_EQ(graphics->SetLight(1, true, &second), S_OK);
    ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
    EXPECT_EQ(floor->renders, 3);
    EXPECT_EQ(box->renders, 3);
    EXPECT_EQ(box->updates, 1);
    // Two models lit twice plus the ambient pass, and two volume draws of the box per light.
    EXPECT_EQ(graphics->GetStats().nDrawCalls, 6u + 4u);
}

TEST_F(ShadowSceneTest, SilhouetteDebugDrawsOneLinePerVolumeTriangle) {
    Build();
    if (IsSkipped()) return;
    // A second box, nearer the camera: its volume is drawn after the first
    // box's lines, and must still leave the colour buffer alone.
    TestMesh* second = Keep(MakeBox(zv, Vector3(-1, 2, -11), Vector3(1, 6, -9)));
    ASSERT_EQ(graphics->SetRenderState(SHADOWDEBUG, 2), S_OK);
    Bitmap bmp = Frame("silhouette.bmp");
    u32 lines = 0;
    for (TestMesh* caster : {box, second}) {
        ZVGraphics::IB* ib = static_cast<ZVGraphics::IB*>(caster->ib);
        u32 k = ZVCountShadowVertices(ib->vEdges.data, ib->vEdges.count, ib->pFaceFlags, ib->nIndices / 3, 8);
        ASSERT_GT(k, 0u);
        lines += k / 3;
    }
    GraphicsStats s = graphics->GetStats();
    // Three models in the ambient and the lit pass, two volume draws per box,
    // one line per volume triangle.
    EXPECT_EQ(s.nDrawCalls, 6u + 4u + lines);
    // Floor (2 triangles) and boxes (12 each) twice, every volume triangle twice.
    EXPECT_EQ(s.nPrimitives, 2u * 26u + 2u * lines + lines);

    // Both shadows stay dark: the lines may cross them, the volumes must not show.
    EXPECT_LT(DarkestRed(bmp, Vector3(3.5f, 0, 0), 2) + 40, BrightestRed(bmp, Vector3(3.5f, 0, -6), 0));
    EXPECT_LT(DarkestRed(bmp, Vector3(3.0f, 0, -13), 2) + 40, BrightestRed(bmp, Vector3(3.0f, 0, -17), 0));
}

}  // namespace
}  // namespace rendertest
