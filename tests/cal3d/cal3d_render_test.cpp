// The demo Cal3D model drawn by the real graphics manager: textured with its
// texture coordinates, untextured where an image cannot be loaded, animated,
// cloned through CreateGeometry, and in the stencil-shadow path, where its
// open ends let the light through.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "cal3d_support.h"
#include "modelcal3d.h"
#include "zv3dswriter.h"
#include "zvcore.h"
#include "zvgraphicsd3d9.h"
#include "zvimagewriters.h"

using namespace cal3dtest;

namespace {

// A 4 x 4 image: the two top rows top, the two bottom rows bottom (0xRRGGBB).
void WriteTwoTone(const std::string& path, uint32_t top, uint32_t bottom) {
    std::vector<uint8_t> bgra;
    for (int y = 0; y < 4; ++y) {
        uint32_t c = y < 2 ? top : bottom;
        for (int x = 0; x < 4; ++x) {
            bgra.push_back((uint8_t)(c & 0xFF));
            bgra.push_back((uint8_t)(c >> 8 & 0xFF));
            bgra.push_back((uint8_t)(c >> 16 & 0xFF));
            bgra.push_back(255);
        }
    }
    ASSERT_TRUE(zvtools::WriteTGA(path, 4, 4, bgra.data()));
}

class Cal3DRenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZVTestCaptureLog(&log);
        ASSERT_EQ(S_OK, CreateCore(&core));
        ASSERT_EQ(S_OK, core->Init(nullptr, "cal3d render test", 320, 240));
        ASSERT_EQ(S_OK, core->CreateGraphics(&graphics));
        ASSERT_EQ(S_OK, core->CreatePhysics(&physics));
        zv = dynamic_cast<ZVGraphics*>(graphics);
        ASSERT_NE(nullptr, zv);
        DisplaySettings s(0, 1, 0, 0);
        ASSERT_EQ(S_OK, graphics->SetScreenMode(&s, false, false));
        core->Update(true);

        std::string dir = DataDir();
        WriteTwoTone(dir + "totem_a.tga", 0xFF0000, 0x00FF00);
        WriteTwoTone(dir + "totem_b.tga", 0x0000FF, 0x0000FF);
        zvtools::Cal3DDemoOptions options;
        options.twist = true;
        cfg = zvtools::WriteCal3DDemoModel(dir, "totem", "totem_a.tga", "totem_b.tga", options);
        ASSERT_FALSE(cfg.empty());
        // The description names its files relative to the search path.
        Paths.Add(dir.c_str());
    }
    void TearDown() override {
        for (IGeometry* g : geometries) g->Release();
        if (physics) physics->Release();
        if (graphics) graphics->Release();
        if (core) core->Release();
        Paths.Remove(Paths.count - 1);
        ZVTestCaptureLog(nullptr);
    }

    // A geometry of the given type and command, released by TearDown.
    IModel* Create(const char* type, const std::string& command) {
        IGeometry* geometry = nullptr;
        EXPECT_EQ(S_OK, graphics->CreateGeometry(type, command.c_str(), &geometry)) << log;
        if (!geometry) return nullptr;
        geometries.push_back(geometry);
        return dynamic_cast<IModel*>(geometry);
    }
    // The demo model.
    IModel* Create() { return Create("cal3d", cfg); }
    void Camera(Vector3 eye, Vector3 at) {
        Vector3 up(0, 1, 0);
        ASSERT_EQ(S_OK, graphics->SetCamera(&eye, &at, &up));
    }
    // The pixel of a world point.
    void Project(const Vector3& p, int* x, int* y) {
        Matrix view, proj;
        graphics->GetViewProj(&view, &proj);
        Matrix clip = view * proj;
        double v[4];
        for (int c = 0; c < 4; ++c)
            v[c] = p.x * clip.m[0][c] + p.y * clip.m[1][c] + p.z * clip.m[2][c] + clip.m[3][c];
        *x = (int)((v[0] / v[3] + 1.0) / 2.0 * zv->d3dpp.BackBufferWidth);
        *y = (int)((1.0 - v[1] / v[3]) / 2.0 * zv->d3dpp.BackBufferHeight);
    }
    // One frame, read back from the back buffer before it is presented.
    std::vector<uint32_t> Frame(float elapsed = 0.01f) {
        EXPECT_EQ(S_OK, graphics->UpdateAndRender(elapsed)) << log;
        std::vector<uint32_t> pixels;
        IDirect3DSurface9* back = nullptr;
        EXPECT_EQ(D3D_OK, zv->pD3DDevice->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back));
        if (!back) return pixels;
        D3DLOCKED_RECT locked;
        EXPECT_EQ(D3D_OK, back->LockRect(&locked, nullptr, D3DLOCK_READONLY));
        const UINT w = zv->d3dpp.BackBufferWidth, h = zv->d3dpp.BackBufferHeight;
        pixels.resize((size_t)w * h);
        for (UINT y = 0; y < h; ++y)
            std::memcpy(&pixels[(size_t)y * w], static_cast<uint8_t*>(locked.pBits) + (size_t)y * locked.Pitch,
                        (size_t)w * 4);
        back->UnlockRect();
        back->Release();
        return pixels;
    }
    uint32_t At(const std::vector<uint32_t>& pixels, const Vector3& p) {
        int x = 0, y = 0;
        Project(p, &x, &y);
        const int w = (int)zv->d3dpp.BackBufferWidth, h = (int)zv->d3dpp.BackBufferHeight;
        if (pixels.empty() || x < 0 || y < 0 || x >= w || y >= h) return 0xDEADBEEF;
        return pixels[(size_t)y * w + x] & 0x00FFFFFF;
    }

    std::string log;
    std::string cfg;
    ICore* core = nullptr;
    IGraphics* graphics = nullptr;
    IPhysics* physics = nullptr;
    ZVGraphics* zv = nullptr;
    std::vector<IGeometry*> geometries;
};

}  // namespace

TEST_F(Cal3DRenderTest, DemoModelDrawsTexturedByItsCoordinates) {
    IModel* model = Create();
    ASSERT_NE(nullptr, model);
    EXPECT_EQ(2u, model->GetNumAnimations());
    EXPECT_STREQ("totem_twist", model->GetAnimationName(1).c_str());
    ASSERT_EQ(S_OK, graphics->SetRenderState(LIGHTNINGPATH, NoLightning));
    // The column stands on the origin along y (the file's z up is the
    // engine's y); its front face is the plane z = -0.25.
    Camera(Vector3(0, 1.5f, -6), Vector3(0, 1.5f, 0));
    std::vector<uint32_t> frame = Frame();
    // Material a: its texture's top half on the lowest segment, the bottom
    // half on the next one; material b above.
    EXPECT_EQ(0xFF0000u, At(frame, Vector3(0, 0.5f, -0.25f)));
    EXPECT_EQ(0x00FF00u, At(frame, Vector3(0, 1.5f, -0.25f)));
    EXPECT_EQ(0x0000FFu, At(frame, Vector3(0, 2.5f, -0.25f)));
    EXPECT_EQ(frame[0] & 0xFFFFFFu, At(frame, Vector3(1.5f, 1.5f, 0)));  // the cleared background
    EXPECT_EQ(std::string::npos, log.find("Error")) << log;
}

TEST_F(Cal3DRenderTest, AnimatedClonesDrawAndCastShadows) {
    IModel* model = Create();
    ASSERT_NE(nullptr, model);
    IModel* clone = Create();  // same type and command: a clone
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ(dynamic_cast<ModelCal3D*>(model)->pMeta, dynamic_cast<ModelCal3D*>(clone)->pMeta);
    EXPECT_NE(std::string::npos, log.find("Type=<cal3d> Command=<" + cfg + ">")) << log;

    // The clone stands two units to the right and bends.
    Matrix world;
    dynamic_cast<IPhyEntity*>(clone)->GetWorldMatrix(&world);
    world._41 += 2.0f;
    dynamic_cast<IPhyEntity*>(clone)->SetWorldMatrix(world);
    ASSERT_EQ(S_OK, clone->AddAnimation("totem_bend", 1.0f));
    ASSERT_EQ(S_OK, clone->AddAnimation("totem_twist", 1.0f));
    Camera(Vector3(1, 1.5f, -8), Vector3(1, 1.5f, 0));
    ASSERT_EQ(S_OK, graphics->SetRenderState(LIGHTNINGPATH, NoLightning));
    std::vector<uint32_t> frame = Frame(0.5f);
    EXPECT_TRUE(clone->IsAnimationPlaying(0));
    EXPECT_FALSE(model->IsAnimationPlaying(0));
    EXPECT_EQ(0xFF0000u, At(frame, Vector3(0, 0.5f, -0.25f)));
    EXPECT_EQ(0xFF0000u, At(frame, Vector3(2, 0.5f, -0.25f)));  // the root does not move
    // Boxes in model space, in the engine's axes: the still model is three
    // units tall from y = 0, the bent clone leans and is lower.
    Vector3 lo, hi, restLo, restHi;
    dynamic_cast<IPhyEntity*>(clone)->GetBoundingBox(&lo, &hi);
    dynamic_cast<IPhyEntity*>(model)->GetBoundingBox(&restLo, &restHi);
    EXPECT_NEAR(3.0f, restHi.y - restLo.y, 1e-5f);
    EXPECT_NEAR(0.0f, restLo.y, 1e-5f);
    EXPECT_LT(hi.y - lo.y, 2.99f);
    EXPECT_GT(hi.y - lo.y, 2.0f);
    EXPECT_GT(hi.z - lo.z, restHi.z - restLo.z);

    // Stencil shadows read both models' buffers.
    Light light = Light();
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
    light.Position = Vector3(0, 6, -3);
    light.Range = 1000.0f;
    light.Attenuation0 = 1.0f;
    ASSERT_EQ(S_OK, graphics->SetLight(0, true, &light));
    if (graphics->SetRenderState(LIGHTNINGPATH, StencilShadow) >= 0) {
        for (int i = 0; i < 3; ++i) Frame(0.5f);
    }
    EXPECT_EQ(std::string::npos, log.find("Error")) << log;
}

// The demo column is a square tube open at both ends.  Lit from straight
// above, its walls show the light their inner sides and the light passes
// through the tube: the floor under the walls lies in a square ring of
// shadow, the floor under the hollow and around the tube stays lit.  That
// holds only when every face's outer side is the one the engine's shadow
// volumes take as facing out.
TEST_F(Cal3DRenderTest, OpenColumnLitFromAboveCastsARingOfShadow) {
    if (!zv->bStencil) GTEST_SKIP() << "no stencil buffer";
    zvtools::Material3ds grey;
    grey.name = "grey";
    grey.specular[0] = grey.specular[1] = grey.specular[2] = 0;
    const float floorLo[3] = {-10, -10, -0.5f}, floorHi[3] = {10, 10, 0};  // the engine's y = 0 on top
    zvtools::Scene3ds scene;
    scene.materials = {grey};
    scene.meshes = {zvtools::BoxMesh3ds("floor", floorLo, floorHi, "grey")};
    const std::string floorPath = DataDir() + "ring_floor.3ds";
    ASSERT_TRUE(zvtools::WriteScene3ds(floorPath, scene));
    ASSERT_NE(nullptr, Create("3ds", floorPath));

    // Three times as large, standing from y = 2 to y = 11: walls at x and z
    // = +-0.75.  Seen from the light at (0, 40, 0), the top rim falls on the
    // floor at +-1.03 and the bottom rim at +-0.79.
    IModel* column = Create();
    ASSERT_NE(nullptr, column);
    Matrix world;
    world.SetScaling(3.0f);
    world._42 = 2.0f;
    dynamic_cast<IPhyEntity*>(column)->SetWorldMatrix(world);

    Light light = Light();
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
    light.Ambient = D3DCOLORVALUE{0.1f, 0.1f, 0.1f, 1};
    light.Position = Vector3(0, 40, 0);
    light.Range = 1000.0f;
    light.Attenuation0 = 1.0f;
    ASSERT_EQ(S_OK, graphics->SetLight(0, true, &light));
    ASSERT_EQ(S_OK, graphics->SetRenderState(LIGHTNINGPATH, StencilShadow));
    // Low over the floor, under the column.
    Camera(Vector3(0, 1, -10), Vector3(0, 0, 0));
    const std::vector<uint32_t> frame = Frame();
    auto red = [&](float x) { return (int)(At(frame, Vector3(x, 0, 0)) >> 16 & 0xFF); };
    const int open = red(-3.0f);
    EXPECT_GT(open, 100);
    EXPECT_NEAR(open, red(3.0f), 25);
    EXPECT_NEAR(open, red(0.0f), 25) << "under the hollow";
    EXPECT_LT(red(-0.91f) + 40, open) << "under the wall at x = -0.75";
    EXPECT_LT(red(0.91f) + 40, open) << "under the wall at x = 0.75";
    EXPECT_EQ(std::string::npos, log.find("Error")) << log;
}

// A material whose image is missing, damaged or of a kind not read (Cal3D's
// own raw images) leaves that material untextured: the model is drawn, its
// other material keeps its texture, and the log names the image.
TEST_F(Cal3DRenderTest, MaterialWithoutItsImageIsDrawnUntextured) {
    const std::string dir = DataDir();
    zvtools::WriteCal3DFile(dir + "bare_damaged.tga", std::string("TGA? not one"));
    std::vector<uint8_t> raw(64, 0x80);
    zvtools::WriteCal3DFile(dir + "bare_skin.raw", raw);
    const struct {
        const char* name;
        const char* image;  // material a's; material b keeps totem_b.tga
        bool present;       // the file is there but cannot be used
    } cases[] = {
        {"bare_missing", "bare_nowhere.tga", false},
        {"bare_damaged", "bare_damaged.tga", true},
        {"bare_raw", "bare_skin.raw", true},
    };
    ASSERT_EQ(S_OK, graphics->SetRenderState(LIGHTNINGPATH, NoLightning));
    Camera(Vector3(0, 1.5f, -6), Vector3(0, 1.5f, 0));
    for (const auto& c : cases) {
        log.clear();
        const std::string model = zvtools::WriteCal3DDemoModel(dir, c.name, c.image, "totem_b.tga");
        ASSERT_FALSE(model.empty());
        IModel* created = Create("cal3d", model);
        ASSERT_NE(nullptr, created) << c.name;
        const ModelCal3DMeta* meta = dynamic_cast<ModelCal3D*>(created)->pMeta;
        ASSERT_EQ(2u, meta->vTextures.count);
        EXPECT_EQ(nullptr, meta->vTextures.data[0]) << c.name;
        EXPECT_NE(nullptr, meta->vTextures.data[1]) << c.name;
        EXPECT_NE(std::string::npos, log.find(" : Texture " + std::string(c.present ? dir : "") + c.image +
                                              " cannot be loaded; material 0 is drawn untextured"))
            << log;
        EXPECT_EQ(c.present, log.find("Cannot use the texture file") != std::string::npos) << log;
        EXPECT_EQ(std::string::npos, log.find("Error")) << log;

        // Unlit and untextured, material a's two segments show white where
        // its image would show red and green.
        std::vector<uint32_t> frame = Frame();
        EXPECT_EQ(0xFFFFFFu, At(frame, Vector3(0, 0.5f, -0.25f))) << c.name;
        EXPECT_EQ(0xFFFFFFu, At(frame, Vector3(0, 1.5f, -0.25f))) << c.name;
        EXPECT_EQ(0x0000FFu, At(frame, Vector3(0, 2.5f, -0.25f))) << c.name;
        // Only this case's model is drawn in the next one.
        geometries.back()->Release();
        geometries.pop_back();
    }
}
