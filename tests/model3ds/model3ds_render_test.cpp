// 3DS models in real frames: textures mapped by the file's coordinates,
// lighting by the computed normals, untextured materials drawn without the
// texture of the material before them, faces of a material the file lacks
// drawn with the default one, and stencil shadows of a model.
#include "model3ds_support.h"
#include "zvgraphstenshad.h"

namespace m3dstest {
namespace {

const uint32_t kRed = 0xFF0000, kGreen = 0x00FF00;

class Model3DSRender : public Model3DSTest {
protected:
    // A 2 x 2 red and green checker, and a scene of two quads facing the
    // camera: the left one with the checker, the right one with material two.
    void Build(const zvtools::Material3ds& second) {
        Start();
        WriteTexture("checker.tga", 2, 2, {kRed, kGreen, kGreen, kRed});
        zvtools::Scene3ds scene;
        scene.materials = {Matte("checker", 255, 255, 255, "checker.tga"), second};
        scene.meshes = {QuadFacingMinusY("left", -3.0f, -0.2f, -1.5f, 1.5f, 0.0f, "checker"),
                        QuadFacingMinusY("right", 0.2f, 3.0f, -1.5f, 1.5f, 0.0f, second.name)};
        Write("quads.3ds", scene);
        model = Load("quads.3ds");
        ASSERT_NE(model, nullptr);
        Camera(V(0, 0, -10), V(0, 0, 0));
        Light light = PointLight(V(0, 0, -5));
        ASSERT_EQ(graphics->SetLight(0, true, &light), S_OK);
    }
    // The centres of the texels of the left quad (u, v at 0.25 and 0.75).
    uint32_t LeftQuad(const Bitmap& bmp, float u, float v) {
        return PixelOf(bmp, V(-3.0f + 2.8f * u, -1.5f + 3.0f * v, 0.0f));
    }
    bool IsRed(uint32_t c) { return Red(c) > 150 && Green(c) < 60 && Blue(c) < 60; }
    bool IsGreen(uint32_t c) { return Green(c) > 150 && Red(c) < 60 && Blue(c) < 60; }

    Model3DS* model = nullptr;
};

TEST_F(Model3DSRender, TexturedAndLitTwoMaterialScene) {
    Build(Matte("blue", 0, 0, 255));
    if (HasFatalFailure()) return;
    ASSERT_NE(model->pMeta->vTextures[0], nullptr);
    EXPECT_EQ(model->pMeta->vTextures[1], nullptr);
    Bitmap lit = Frame("lit.bmp");
    ASSERT_GT(lit.width, 0);
    EXPECT_EQ(graphics->GetStats().nDrawCalls, 2u);
    // The checker is mapped over the quad: four quarters, two colours.
    uint32_t bl = LeftQuad(lit, 0.25f, 0.25f), br = LeftQuad(lit, 0.75f, 0.25f);
    uint32_t tl = LeftQuad(lit, 0.25f, 0.75f), tr = LeftQuad(lit, 0.75f, 0.75f);
    EXPECT_TRUE((IsRed(bl) && IsGreen(br)) || (IsGreen(bl) && IsRed(br))) << std::hex << bl << " " << br;
    EXPECT_TRUE((IsRed(tl) && IsGreen(tr)) || (IsGreen(tl) && IsRed(tr))) << std::hex << tl << " " << tr;
    EXPECT_EQ(IsRed(bl), IsRed(tr));
    EXPECT_NE(IsRed(bl), IsRed(tl));
    // The second material is drawn in its own colour, without the texture.
    uint32_t blue = PixelOf(lit, V(1.6f, 0.0f, 0.0f));
    EXPECT_GT(Blue(blue), 200) << std::hex << blue;
    EXPECT_LT(Red(blue) + Green(blue), 20) << std::hex << blue;
    EXPECT_EQ(PixelOf(lit, V(0.0f, 0.0f, 0.0f)), 0x000033u);  // the gap between the quads

    // Without the light only the global ambient (0x50) is left: the normals
    // face the light, so the light made the difference.
    Light off = PointLight(V(0, 0, -5));
    ASSERT_EQ(graphics->SetLight(0, false, &off), S_OK);
    Bitmap dark = Frame("dark.bmp");
    uint32_t darkRed = IsRed(bl) ? LeftQuad(dark, 0.25f, 0.25f) : LeftQuad(dark, 0.75f, 0.25f);
    EXPECT_NEAR(Red(darkRed), 80, 6) << std::hex << darkRed;
    EXPECT_LT(Green(darkRed), 10);
    EXPECT_NEAR(Blue(PixelOf(dark, V(1.6f, 0.0f, 0.0f))), 80, 6);

    // A light behind the quads lights nothing the camera sees.
    Light behind = PointLight(V(0, 0, 5));
    ASSERT_EQ(graphics->SetLight(0, true, &behind), S_OK);
    Bitmap back = Frame("back.bmp");
    EXPECT_NEAR(Blue(PixelOf(back, V(1.6f, 0.0f, 0.0f))), 80, 6);
}

TEST_F(Model3DSRender, MissingTextureDrawsWithStageZeroOff) {
    Build(Matte("lost", 0, 255, 0, "absent.tga"));
    if (HasFatalFailure()) return;
    EXPECT_EQ(model->pMeta->vTextures[1], nullptr);
    EXPECT_STREQ(model->pMeta->vMatInfos[1].strTexture.c_str(), "absent.tga");
    Bitmap bmp = Frame("lost.bmp");
    // Plain green everywhere: neither the checker's red nor its pattern.
    for (float u : {0.25f, 0.75f}) {
        for (float v : {0.25f, 0.75f}) {
            uint32_t c = PixelOf(bmp, V(0.2f + 2.8f * u, -1.5f + 3.0f * v, 0.0f));
            EXPECT_GT(Green(c), 200) << std::hex << c;
            EXPECT_LT(Red(c) + Blue(c), 20) << std::hex << c;
        }
    }
    IDirect3DBaseTexture9* bound = reinterpret_cast<IDirect3DBaseTexture9*>(0x1);
    zv->pD3DDevice->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);
    if (bound && bound != reinterpret_cast<IDirect3DBaseTexture9*>(0x1)) bound->Release();
}

// A 3ds Max export whose faces name its default material "17 - Default"
// while the file holds only the material "1": those faces are drawn lit, in
// the grey of the engine's default material, beside the file's red.
TEST_F(Model3DSTest, FacesOfAMissingMaterialAreDrawnLitGrey) {
    Start();
    zvtools::Scene3ds scene;
    scene.materials = {Matte("1", 255, 0, 0)};
    scene.meshes = {QuadFacingMinusY("left", -3.0f, -0.2f, -1.5f, 1.5f, 0.0f, "17 - Default"),
                    QuadFacingMinusY("right", 0.2f, 3.0f, -1.5f, 1.5f, 0.0f, "1")};
    Write("max_export.3ds", scene);
    ASSERT_NE(Load("max_export.3ds"), nullptr);
    Camera(V(0, 0, -10), V(0, 0, 0));
    Light light = PointLight(V(0, 0, -5));
    ASSERT_EQ(graphics->SetLight(0, true, &light), S_OK);
    Bitmap lit = Frame("grey.bmp");
    ASSERT_GT(lit.width, 0);
    EXPECT_EQ(graphics->GetStats().nDrawCalls, 2u);
    uint32_t grey = PixelOf(lit, V(-1.6f, 0.0f, 0.0f)), red = PixelOf(lit, V(1.6f, 0.0f, 0.0f));
    EXPECT_GT(Red(grey), 150) << std::hex << grey;
    EXPECT_NEAR(Green(grey), Red(grey), 2) << std::hex << grey;
    EXPECT_NEAR(Blue(grey), Red(grey), 2) << std::hex << grey;
    EXPECT_GT(Red(red), 200) << std::hex << red;
    EXPECT_LT(Green(red) + Blue(red), 20) << std::hex << red;

    // Without the light only the global ambient (0x50) is left, times the
    // default material's ambient 0.3.
    Light off = PointLight(V(0, 0, -5));
    ASSERT_EQ(graphics->SetLight(0, false, &off), S_OK);
    Bitmap dark = Frame("grey_dark.bmp");
    uint32_t unlit = PixelOf(dark, V(-1.6f, 0.0f, 0.0f));
    EXPECT_NEAR(Red(unlit), 24, 4) << std::hex << unlit;
    EXPECT_NEAR(Blue(unlit), Red(unlit), 2) << std::hex << unlit;
}

// Files count v from the image's bottom row: an image whose top half is red
// is drawn red on top.  A map of u scale 2 shows its image twice across.
TEST_F(Model3DSTest, ImageTopDrawnOnTopAndTiledMapRepeated) {
    Start();
    const uint32_t kBlue = 0x0000FF;
    WriteTexture("halves.tga", 2, 2, {kRed, kRed, kBlue, kBlue});
    WriteTexture("sides.tga", 2, 2, {kRed, kBlue, kRed, kBlue});
    zvtools::Material3ds tiled = Matte("tiled", 255, 255, 255, "sides.tga");
    tiled.uScale = 2.0f;
    zvtools::Scene3ds scene;
    scene.materials = {Matte("halves", 255, 255, 255, "halves.tga"), tiled};
    scene.meshes = {QuadFacingMinusY("upright", -3.0f, -0.2f, -1.5f, 1.5f, 0.0f, "halves"),
                    QuadFacingMinusY("tiled", 0.2f, 3.0f, -1.5f, 1.5f, 0.0f, "tiled")};
    Write("upright.3ds", scene);
    ASSERT_NE(Load("upright.3ds"), nullptr);
    Camera(V(0, 0, -10), V(0, 0, 0));
    Light light = PointLight(V(0, 0, -5));
    ASSERT_EQ(graphics->SetLight(0, true, &light), S_OK);
    Bitmap bmp = Frame("upright.bmp");
    ASSERT_GT(bmp.width, 0);
    auto isRed = [](uint32_t c) { return Red(c) > Blue(c) + 100; };
    auto isBlue = [](uint32_t c) { return Blue(c) > Red(c) + 100; };
    uint32_t top = PixelOf(bmp, V(-1.6f, 0.75f, 0.0f)), bottom = PixelOf(bmp, V(-1.6f, -0.75f, 0.0f));
    EXPECT_TRUE(isRed(top)) << std::hex << top;
    EXPECT_TRUE(isBlue(bottom)) << std::hex << bottom;
    // Left to right across the tiled quad: red, blue, red, blue.
    for (int i = 0; i < 4; ++i) {
        uint32_t c = PixelOf(bmp, V(0.2f + 2.8f * (2 * i + 1) / 8.0f, 0.0f, 0.0f));
        EXPECT_TRUE(i % 2 ? isBlue(c) : isRed(c)) << i << " " << std::hex << c;
    }
}

TEST_F(Model3DSTest, BoxOfTheSceneCastsAStencilShadowOnTheFloor) {
    Start();
    if (!zv->bStencil) GTEST_SKIP() << "no stencil buffer";
    zvtools::Scene3ds scene;
    scene.materials = {Matte("grey", 200, 200, 200)};
    const float lo[3] = {-1, -1, 2}, hi[3] = {1, 1, 6};
    scene.meshes = {Floor("floor", 20.0f, "grey"), zvtools::BoxMesh3ds("box", lo, hi, "grey")};
    Write("shadow.3ds", scene);
    Model3DS* model = Load("shadow.3ds");
    ASSERT_NE(model, nullptr);
    // The edge list of the shared index buffer: every quad (a floor and six
    // box sides with their own vertices) has four open edges and a diagonal
    // shared by its two triangles.
    const ZVGraphics::IB* ib = static_cast<const ZVGraphics::IB*>(model->pMeta->pIB);
    ASSERT_EQ(ib->vEdges.count, 35u);
    u32 shared = 0;
    for (u32 i = 0; i < ib->vEdges.count; ++i) shared += ib->vEdges[i].face1 != ZV_EDGE_NOFACE ? 1u : 0u;
    EXPECT_EQ(shared, 7u);
    Camera(V(0, 30, -30), V(0, 0, 0));
    Light light = PointLight(V(-10, 20, 0));
    light.Ambient = D3DCOLORVALUE{0.1f, 0.1f, 0.1f, 1};
    ASSERT_EQ(graphics->SetLight(0, true, &light), S_OK);

    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, SimpleLighting), S_FALSE);
    Bitmap simple = Frame("simple.bmp");
    uint32_t shadowSpot = PixelOf(simple, V(3.5f, 0, 0)), openSpot = PixelOf(simple, V(3.5f, 0, -6));
    // Simple lighting has no shadows: both spots are about as bright.
    EXPECT_NEAR(Red(shadowSpot), Red(openSpot), 25) << std::hex << shadowSpot << " " << openSpot;

    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, StencilShadow), S_OK);
    Bitmap shadow = Frame("stencil.bmp");
    shadowSpot = PixelOf(shadow, V(3.5f, 0, 0));
    openSpot = PixelOf(shadow, V(3.5f, 0, -6));
    EXPECT_LT(Red(shadowSpot) + 40, Red(openSpot)) << std::hex << shadowSpot << " vs " << openSpot;
    EXPECT_GT(Red(shadowSpot), 30);  // the ambient pass still lights the shadow
    // The floor beside the light, away from the box, stays lit.
    EXPECT_GT(Red(PixelOf(shadow, V(-6, 0, -6))), Red(shadowSpot) + 40);
}

}  // namespace
}  // namespace m3dstest
