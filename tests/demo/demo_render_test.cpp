// The demo content through the real graphics manager: every model of the
// scene file is made by its plug-in, the arena seen from the game's camera
// shows its floor and the first opponent, and the opponents' animations move
// them as the game expects (walking carries them forward along their facing,
// standing still keeps them in place, the standing box is their height).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "config.h"
#include "render_support.h"
#include "zvcore.h"
#include "zvfile.h"
#include "zvgraphicsd3d9.h"
#include "zvlog.h"
#include "zvphysics.h"

namespace {

using zvrendertest::Bitmap;
using zvrendertest::ReadBmp;

const std::string kDir = ZV_DEMO_DIR;

int Brightness(uint32_t rgb) { return (int)((rgb >> 16) & 0xFF) + (int)((rgb >> 8) & 0xFF) + (int)(rgb & 0xFF); }

// The geometry type of a scene-file model entry, as both programs choose it.
std::string TypeOf(const std::string& entry) {
    if (entry.find('?') != std::string::npos) return "md5";
    std::string ext = entry.substr(entry.find_last_of("\\/.") + 1);
    for (char& c : ext) c = (char)std::tolower((unsigned char)c);
    if (ext == "def" || ext == "md5mesh") return "md5";
    if (ext == "cfg") return "cal3d";
    return ext;
}

class DemoRender : public testing::Test {
protected:
    void SetUp() override {
        saved_ = Paths;
        Paths.count = 0;
        Paths.Add(String(kDir.c_str()));
        ZVTestCaptureLog(&log);
        ASSERT_EQ(S_OK, config.Load(String((kDir + "zvscene.txt").c_str())));
        ASSERT_EQ(CreateCore(&core), S_OK);
        ASSERT_EQ(core->Init(nullptr, "demo content test", 400, 300), S_OK);
        ASSERT_EQ(core->CreateGraphics(&graphics), S_OK);
        ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
        DisplaySettings s(0, 1, 0, 0);
        ASSERT_EQ(graphics->SetScreenMode(&s, false, false), S_OK);
        core->Update(true);
        Vector3 up(0, 1, 0);
        ASSERT_EQ(graphics->SetCamera(&config.eye, &config.lookAt, &up), S_OK);
        for (u32 i = 0; i < config.lights.count; ++i) ASSERT_EQ(graphics->SetLight(i, true, &config.lights.data[i]), S_OK);
        log.clear();
    }
    void TearDown() override {
        for (IGeometry* g : geometries) g->Release();
        if (physics) physics->Release();
        if (graphics) graphics->Release();
        if (core) core->Release();
        ZVTestCaptureLog(nullptr);
        Paths = saved_;
    }
    IGeometry* Create(const std::string& entry) {
        IGeometry* g = nullptr;
        EXPECT_EQ(graphics->CreateGeometry(String(TypeOf(entry).c_str()), String(entry.c_str()), &g), S_OK)
            << entry << "\n" << log;
        if (g) geometries.push_back(g);
        return g;
    }
    Bitmap Frame(float elapsed) {
        Bitmap bmp;
        EXPECT_EQ(graphics->UpdateAndRender(elapsed), S_OK) << log;
        EXPECT_EQ(graphics->SaveScreenshot("demoframe.bmp"), S_OK);
        EXPECT_TRUE(ReadBmp("demoframe.bmp", &bmp));
        std::remove("demoframe.bmp");
        return bmp;
    }
    // The pixel of an engine point.
    void Project(const Vector3& p, int* x, int* y) { zvrendertest::ProjectToPixel(graphics, p, x, y); }
    uint32_t PixelAt(const Bitmap& bmp, const Vector3& p) {
        int x = 0, y = 0;
        Project(p, &x, &y);
        return bmp.At(x, y);
    }
    // The world box of a model: all eight corners of its box through its
    // world matrix.
    void WorldBox(IGeometry* g, Vector3* mn, Vector3* mx) {
        IPhyEntity* e = dynamic_cast<IPhyEntity*>(g);
        ASSERT_NE(nullptr, e);
        Vector3 a, b;
        e->GetBoundingBox(&a, &b);
        Matrix w;
        e->GetWorldMatrix(&w);
        *mn = Vector3(1e30f, 1e30f, 1e30f);
        *mx = Vector3(-1e30f, -1e30f, -1e30f);
        for (int c = 0; c < 8; ++c) {
            Vector3 p((c & 1) ? b.x : a.x, (c & 2) ? b.y : a.y, (c & 4) ? b.z : a.z);
            p *= w;
            *mn = Vector3(std::min(mn->x, p.x), std::min(mn->y, p.y), std::min(mn->z, p.z));
            *mx = Vector3(std::max(mx->x, p.x), std::max(mx->y, p.y), std::max(mx->z, p.z));
        }
    }
    Matrix World(IGeometry* g) {
        Matrix w;
        dynamic_cast<IPhyEntity*>(g)->GetWorldMatrix(&w);
        return w;
    }
    void Place(IGeometry* g, const Vector4& position) {
        Matrix w = World(g);
        w._41 = position.x, w._42 = position.y, w._43 = position.z;
        dynamic_cast<IPhyEntity*>(g)->SetWorldMatrix(w);
    }

    std::string log;
    Config config;
    ICore* core = nullptr;
    IGraphics* graphics = nullptr;
    IPhysics* physics = nullptr;
    std::vector<IGeometry*> geometries;
    Vector<String> saved_;
};

// The game: the arena through its scene matrix, the opponents at their
// positions, lit by the scene file's lights.
TEST_F(DemoRender, TheGameSeesTheArenaAndTheFirstOpponent) {
    ASSERT_GE(graphics->SetRenderState(LIGHTNINGPATH, SimpleLighting), 0);
    const Bitmap empty = Frame(0.0f);
    const uint32_t background = empty.At(empty.width / 2, empty.height / 2);

    IGeometry* scene = Create(config.models.data[0].c_str());
    ASSERT_NE(nullptr, scene);
    Matrix s;
    s.SetIdentity();
    s._11 = 3.0f, s._22 = -15.0f, s._33 = 3.0f, s._42 = -50.0f;
    dynamic_cast<IPhyEntity*>(scene)->SetWorldMatrix(s);
    for (u32 i = 1; i < config.models.count; ++i) {
        IGeometry* g = Create(config.models.data[i].c_str());
        ASSERT_NE(nullptr, g);
        Place(g, config.positions.data[i]);
        // The opponents stand idle, as the game starts them.
        String idle("0");
        ASSERT_EQ(S_OK, g->SendCommand("SetDefaultAnimation", &idle));
    }
    // Every file and texture was found.
    EXPECT_EQ(std::string::npos, log.find("Warning")) << log;
    EXPECT_EQ(std::string::npos, log.find("Error")) << log;

    Bitmap bmp = Frame(0.05f);
    ASSERT_GT(bmp.width, 0);
    // The floor in front of the player is lit; the first opponent stands in
    // the middle of the view, in other colours than the floor.
    const Vector3 floorPoint(0.0f, -47.0f, config.positions.data[1].z - 150.0f);
    const Vector3 chest(config.positions.data[1].x, config.positions.data[1].y + 50.0f, config.positions.data[1].z);
    const uint32_t floor = PixelAt(bmp, floorPoint), body = PixelAt(bmp, chest);
    EXPECT_NE(background, floor);
    EXPECT_GT(Brightness(floor), 60) << std::hex << floor;
    EXPECT_NE(background, body);
    EXPECT_NE(floor, body);
    // Far above the walls there is nothing.
    EXPECT_EQ(background, PixelAt(bmp, Vector3(0.0f, 2000.0f, 3000.0f)));
}

// The viewer with a model file: the arena as it is, the model on y = 0.
TEST_F(DemoRender, TheViewerShowsEveryDemoModelStandingOnTheFloor) {
    ASSERT_GE(graphics->SetRenderState(LIGHTNINGPATH, SimpleLighting), 0);
    IGeometry* scene = Create("scene.3ds");
    ASSERT_NE(nullptr, scene);
    Vector3 a, b;
    dynamic_cast<IPhyEntity*>(scene)->GetBoundingBox(&a, &b);
    // Symmetric about the floor: the viewer sees the same arena as the game.
    EXPECT_NEAR(-a.y, b.y, 1e-3f);

    const char* models[] = {"opponent.def?grunt", "opponent.def?brute", "grunt.md5mesh", "totem.cfg"};
    const u32 animations[] = {7, 7, 0, 2};
    for (int m = 0; m < 4; ++m) {
        SCOPED_TRACE(models[m]);
        IGeometry* g = Create(models[m]);
        ASSERT_NE(nullptr, g);
        EXPECT_EQ(animations[m], dynamic_cast<IModel*>(g)->GetNumAnimations());
        Frame(0.05f);
        Vector3 mn, mx;
        WorldBox(g, &mn, &mx);
        EXPECT_NEAR(0.0f, mn.y, 0.05f);
        EXPECT_GT(mx.y, 55.0f);
        EXPECT_LT(mx.y, 85.0f);
        geometries.pop_back();
        g->Release();
    }
    EXPECT_EQ(std::string::npos, log.find("Warning")) << log;
}

// The totem's side that no light reaches shows its striped texture by the
// ambient light alone, in both lit paths: its materials have an ambient colour.
TEST_F(DemoRender, TheTotemsUnlitSideShowsItsStripes) {
    IGeometry* totem = Create("totem.cfg");
    ASSERT_NE(nullptr, totem);
    // The column stands on the origin, 60 high; its front face is the plane
    // z = -5.  The only light is behind it.
    for (u32 i = 0; i < config.lights.count; ++i) ASSERT_EQ(graphics->SetLight(i, false, &config.lights.data[i]), S_OK);
    Light behind = config.lights.data[0];
    behind.Position = Vector3(0.0f, 20.0f, 100.0f);
    ASSERT_EQ(graphics->SetLight(0, true, &behind), S_OK);
    Vector3 eye(0.0f, 20.0f, -60.0f), at(0.0f, 20.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
    ASSERT_EQ(graphics->SetCamera(&eye, &at, &up), S_OK);
    std::vector<LightningPath> paths = {SimpleLighting};
    if (dynamic_cast<ZVGraphics*>(graphics)->bStencil) paths.push_back(StencilShadow);
    for (LightningPath path : paths) {
        ASSERT_GE(graphics->SetRenderState(LIGHTNINGPATH, path), 0);
        const Bitmap bmp = Frame(0.0f);
        // Across the face at mid-height of the lower material: its diagonal
        // stripes, bright and dark.
        int darkest = 3 * 255, brightest = 0;
        for (float x = -4.5f; x <= 4.5f; x += 0.5f) {
            const int b = Brightness(PixelAt(bmp, Vector3(x, 20.0f, -5.0f)));
            darkest = std::min(darkest, b);
            brightest = std::max(brightest, b);
        }
        EXPECT_GT(darkest, 40) << path;
        EXPECT_GT(brightest, darkest + 40) << path;
    }
}

// Walking carries an opponent forward along its facing (-z at heading 0);
// standing idle keeps it where it is.
TEST_F(DemoRender, WalkingMovesForwardAndIdleStaysInPlace) {
    IGeometry* g = Create("opponent.def?grunt");
    ASSERT_NE(nullptr, g);
    IModel* model = dynamic_cast<IModel*>(g);
    const Matrix start = World(g);

    String idle("0");
    ASSERT_EQ(S_OK, g->SendCommand("SetDefaultAnimation", &idle));
    for (int i = 0; i < 100; ++i) ASSERT_GE(g->Update(0.05f), 0);
    Matrix w = World(g);
    EXPECT_FLOAT_EQ(start._41, w._41);
    EXPECT_FLOAT_EQ(start._42, w._42);
    EXPECT_FLOAT_EQ(start._43, w._43);

    for (u32 anim = 1; anim <= 2; ++anim) {
        SCOPED_TRACE(anim);
        const Matrix before = World(g);
        ASSERT_EQ(S_OK, model->AddAnimation(anim, 1.0f));
        float t = 0.0f;
        while (model->IsAnimationPlaying(anim) && t < 5.0f) {
            ASSERT_GE(g->Update(0.02f), 0);
            t += 0.02f;
        }
        // Started again before its end, as the opponents do: the world takes
        // the root's way so far.
        ASSERT_EQ(S_OK, model->AddAnimation(anim, 1.0f));
        const Matrix after = World(g);
        EXPECT_LT(after._43 - before._43, -30.0f);
        EXPECT_NEAR(before._41, after._41, 1e-3f);
        EXPECT_NEAR(before._42, after._42, 1e-3f);
    }

    // Turned by the opponents' heading (about the engine's y, after the
    // model's own starting world, as the game does), it walks along the new
    // facing (-sin a, 0, -cos a).
    Matrix turned = start;
    turned._41 = turned._42 = turned._43 = 0.0f;
    Matrix r;
    r.SetRotationY(1.5707964f);
    turned *= r;
    dynamic_cast<IPhyEntity*>(g)->SetWorldMatrix(turned);
    ASSERT_EQ(S_OK, model->AddAnimation(1u, 1.0f));
    for (int i = 0; i < 40; ++i) ASSERT_GE(g->Update(0.02f), 0);
    ASSERT_EQ(S_OK, model->AddAnimation(1u, 1.0f));
    w = World(g);
    EXPECT_LT(w._41, -20.0f);
    EXPECT_NEAR(0.0f, w._43, 1e-3f);
}

}  // namespace
