// MD5 models in real frames: made by the graphics manager through the
// plug-in registry, skinned, culled, drawn with their texture, animated, and
// read by the stencil shadow volumes.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "md5_support.h"
#include "modelmd5.h"
#include "render_support.h"
#include "zvcore.h"
#include "zvgraphicsd3d9.h"
#include "zvimagewriters.h"
#include "zvphysics.h"

namespace {

using zvrendertest::Bitmap;
using zvrendertest::ReadBmp;

// A rectangle of half sizes hx, hy standing in the engine's plane z = depth,
// centred on x = centreX: file (-Z, X, Y) is the engine's (X, Y, Z).  One
// joint at the origin; every vertex on it with its own position.  Wound as
// the files wind their faces (clockwise seen from outside) with its face
// towards the camera (the file's +x, forward); a two-sided one has its back
// face as well, on vertices of its own.  Its image runs from u = 0 at its
// left edge on the screen to u = 1 at its right edge, v = 0 at its top.
zvtools::MD5MeshFile Rectangle(const char* shader, float hx, float hy, float depth, bool twoSided = false,
                               float centreX = 0.0f) {
    zvtools::MD5MeshFile f;
    zvtools::MD5Joint root;
    root.name = "root";
    f.joints.push_back(root);
    zvtools::MD5Mesh m;
    m.shader = shader;
    const float corners[4][2] = {{-hx, -hy}, {-hx, hy}, {hx, hy}, {hx, -hy}};  // engine X, Y
    const int faces = twoSided ? 2 : 1;
    for (int i = 0; i < 4 * faces; ++i) {
        const float* corner = corners[i % 4];
        zvtools::MD5Vert v;
        v.u = corner[0] > 0 ? 1.0f : 0.0f;
        v.v = corner[1] > 0 ? 0.0f : 1.0f;
        v.firstWeight = i;
        v.numWeights = 1;
        m.verts.push_back(v);
        zvtools::MD5Weight w;
        w.pos[0] = -depth;
        w.pos[1] = centreX + corner[0];
        w.pos[2] = corner[1];
        m.weights.push_back(w);
    }
    const int front[2][3] = {{0, 1, 2}, {0, 2, 3}}, back[2][3] = {{4, 6, 5}, {4, 7, 6}};
    for (int t = 0; t < 2 * faces; ++t) {
        const int* corner = t < 2 ? front[t] : back[t - 2];
        zvtools::MD5Tri tri;
        for (int c = 0; c < 3; ++c) tri.v[c] = corner[c];
        m.tris.push_back(tri);
    }
    f.meshes.push_back(m);
    return f;
}

// The pixels of a plain 4 x 4 image of one colour (blue, green, red, alpha).
std::vector<uint8_t> PlainPixels(std::initializer_list<uint8_t> bgra) {
    std::vector<uint8_t> pixels;
    for (int i = 0; i < 16; ++i) pixels.insert(pixels.end(), bgra);
    return pixels;
}

void WritePlainTexture(const std::string& path, std::initializer_list<uint8_t> bgra) {
    ASSERT_TRUE(zvtools::WriteTGA(path, 4, 4, PlainPixels(bgra).data()));
}

// A red square of side 4 at z = 0, and an animation that moves its joint 3
// along the file's +y (the engine's +x) in its second frame.
void WriteSquare(const std::string& dir) {
    md5test::Write("md5render/square.md5mesh", zvtools::WriteMD5Mesh(Rectangle("md5render/red", 2, 2, 0)));

    zvtools::MD5Anim a;
    a.frameRate = 1.0f;
    a.joints.resize(1);
    a.joints[0].name = "root";
    a.joints[0].flags = 7;
    zvtools::AssignMD5StartIndices(&a);
    a.baseframe.resize(1);
    for (int frame = 0; frame < 2; ++frame) {
        zvtools::MD5Bound b;
        b.min[0] = -1.0f, b.min[1] = -2.0f + 3.0f * (float)frame, b.min[2] = -2.0f;
        b.max[0] = 1.0f, b.max[1] = 2.0f + 3.0f * (float)frame, b.max[2] = 2.0f;
        a.bounds.push_back(b);
        a.frames.push_back({0.0f, 3.0f * (float)frame, 0.0f});
    }
    md5test::Write("md5render/slide.md5anim", zvtools::WriteMD5Anim(a));
    WritePlainTexture(dir + "md5render/red_d.tga", {0, 0, 255, 255});
}

// A sign facing the file's +x (forward), 4 x 4, showing the letter F of
// md5render/letter so that it reads from the front, with a red marker on
// the file's +y (the sign's left side) over y in [3, 4].
zvtools::MD5MeshFile Sign() {
    zvtools::MD5MeshFile f = Rectangle("md5render/letter", 2, 2, 0);
    f.meshes.push_back(Rectangle("md5render/red", 0.5f, 0.5f, 0, false, 3.5f).meshes[0]);
    return f;
}

// The letter F on white, 16 x 16: a stem of 5 columns on the left, a bar of
// 4 rows at the top, a shorter one of 4 rows in the middle.
void WriteLetter(const std::string& path) {
    std::vector<uint8_t> pixels;
    for (int row = 0; row < 16; ++row) {
        for (int column = 0; column < 16; ++column) {
            const bool ink = column < 5 || row < 4 || (row >= 7 && row < 11 && column < 12);
            const uint8_t c = ink ? 0 : 255;
            pixels.insert(pixels.end(), {c, c, c, 255});
        }
    }
    ASSERT_TRUE(zvtools::WriteTGA(path, 16, 16, pixels.data()));
}

class MD5Render : public testing::Test {
protected:
    void SetUp() override {
        saved_ = Paths;
        Paths.count = 0;
        dir = md5test::DataDir();
        Paths.Add(String(dir.c_str()));
        mkdir((dir + "md5render").c_str(), 0755);
        WriteSquare(dir);
        ZVTestCaptureLog(&log);
        ASSERT_EQ(CreateCore(&core), S_OK);
        ASSERT_EQ(core->Init(nullptr, "md5 render test", 320, 240), S_OK);
        ASSERT_EQ(core->CreateGraphics(&graphics), S_OK);
        ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
        DisplaySettings s(0, 1, 0, 0);
        ASSERT_EQ(graphics->SetScreenMode(&s, false, false), S_OK);
        core->Update(true);
        Vector3 eye(0, 0, -10), at(0, 0, 0), up(0, 1, 0);
        ASSERT_EQ(graphics->SetCamera(&eye, &at, &up), S_OK);
    }
    void TearDown() override {
        for (IGeometry* g : geometries) g->Release();
        if (physics) physics->Release();
        if (graphics) graphics->Release();
        if (core) core->Release();
        ZVTestCaptureLog(nullptr);
        Paths = saved_;
    }
    IGeometry* Create(const char* command) {
        IGeometry* g = nullptr;
        EXPECT_EQ(graphics->CreateGeometry("md5", command, &g), S_OK) << log;
        if (g) geometries.push_back(g);
        return g;
    }
    Bitmap Frame(float elapsed) {
        Bitmap bmp;
        EXPECT_EQ(graphics->UpdateAndRender(elapsed), S_OK);
        EXPECT_EQ(graphics->SaveScreenshot("md5frame.bmp"), S_OK);
        EXPECT_TRUE(ReadBmp("md5frame.bmp", &bmp));
        return bmp;
    }
    // The pixel of an engine point.
    void Project(const Vector3& p, int* x, int* y) { zvrendertest::ProjectToPixel(graphics, p, x, y); }
    uint32_t PixelAt(const Bitmap& bmp, float x, float y, float z = 0.0f) {
        int px = 0, py = 0;
        Project(Vector3(x, y, z), &px, &py);
        return bmp.At(px, py);
    }

    std::string log, dir;
    ICore* core = nullptr;
    IGraphics* graphics = nullptr;
    IPhysics* physics = nullptr;
    std::vector<IGeometry*> geometries;
    Vector<String> saved_;
};

TEST_F(MD5Render, TheRegistryHoldsTheMD5Record) {
    ZVCore* zv = dynamic_cast<ZVCore*>(core);
    ASSERT_NE(zv, nullptr);
    int found = 0;
    for (u32 i = 0; i < zv->PlugInGeometries.count; ++i) {
        const PlugIn& record = zv->PlugInGeometries[i];
        if (record.type != "md5") continue;
        ++found;
        EXPECT_STREQ(record.name.c_str(), "ModelMD5");
        EXPECT_EQ(record.major, 0);
        EXPECT_EQ(record.minor, 30);
        EXPECT_EQ(record.AsGeometry(), &ModelMD5::Create);
    }
    EXPECT_EQ(found, 1);
}

TEST_F(MD5Render, ASkinnedModelDrawsWithItsTextureAndMovesWithItsAnimation) {
    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, NoLightning), S_OK);
    IGeometry* geometry = Create("md5render/square.md5mesh");
    ASSERT_NE(geometry, nullptr);
    IModel* model = dynamic_cast<IModel*>(geometry);
    ASSERT_NE(model, nullptr);

    Bitmap bmp = Frame(0.01f);
    ASSERT_GT(bmp.width, 0);
    EXPECT_EQ(PixelAt(bmp, 0.0f, 0.0f), 0xFF0000u);
    EXPECT_EQ(PixelAt(bmp, 1.5f, -1.5f), 0xFF0000u);
    EXPECT_NE(PixelAt(bmp, 3.5f, 0.0f), 0xFF0000u);
    EXPECT_NE(PixelAt(bmp, -2.5f, 0.0f), 0xFF0000u);

    // The second frame of the animation slides the square 3 to the right.
    String anim("md5render/slide.md5anim");
    ASSERT_EQ(geometry->SendCommand("LoadAnimation", &anim), S_OK);
    ASSERT_EQ(model->AddAnimation("slide.md5anim", 1.0f), S_OK);
    Frame(0.0f);
    bmp = Frame(1.2f);
    EXPECT_EQ(PixelAt(bmp, 3.5f, 0.0f), 0xFF0000u);
    EXPECT_NE(PixelAt(bmp, -1.5f, 0.0f), 0xFF0000u);

    // At the end the model stays where the root went, back in its bind pose.
    bmp = Frame(1.0f);
    EXPECT_FALSE(model->IsAnimationPlaying(0));
    EXPECT_EQ(PixelAt(bmp, 3.5f, 0.0f), 0xFF0000u);
    IPhyEntity* entity = dynamic_cast<IPhyEntity*>(geometry);
    ASSERT_NE(entity, nullptr);
    Matrix world;
    entity->GetWorldMatrix(&world);
    EXPECT_NEAR(world._41, 3.0f, 1e-4);

    // Out of the view it is culled, and a second model of the same file
    // shares the data.
    Matrix away = world;
    away._41 = 100.0f;
    entity->SetWorldMatrix(away);
    bmp = Frame(0.01f);
    EXPECT_NE(PixelAt(bmp, 0.0f, 0.0f), 0xFF0000u);
    IGeometry* second = Create("md5render/square.md5mesh");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(dynamic_cast<ModelMD5*>(second)->pMeta, dynamic_cast<ModelMD5*>(geometry)->pMeta);
    world._41 = 0.0f;
    dynamic_cast<IPhyEntity*>(second)->SetWorldMatrix(world);
    bmp = Frame(0.01f);
    EXPECT_EQ(PixelAt(bmp, 0.0f, 0.0f), 0xFF0000u);
}

// An image named by a Windows path, beside a mesh whose folder is not on
// the search path, is drawn on it; so is the diffuse JPEG of a shader's
// material path ("<name>_d.jpg") beside its mesh.
TEST_F(MD5Render, AnImageBesideTheMeshIsItsTexture) {
    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, NoLightning), S_OK);
    mkdir((dir + "md5render/export").c_str(), 0755);
    WritePlainTexture(dir + "md5render/export/02 - Grass.tga", {0, 255, 0, 255});
    const std::string mesh = md5test::Write("md5render/export/field.md5mesh",
                                            zvtools::WriteMD5Mesh(Rectangle("C:\\Art\\02 - Grass.tga", 2, 2, 0)));
    ASSERT_NE(Create(mesh.c_str()), nullptr);
    EXPECT_EQ(PixelAt(Frame(0.01f), 0.0f, 0.0f), 0x00FF00u) << log;

    const std::vector<uint8_t> blue = PlainPixels({255, 0, 0, 255});
    ASSERT_TRUE(zvtools::WriteBytes(dir + "md5render/export/imp_d.jpg", zvtools::EncodeJPEG(4, 4, blue.data())));
    const std::string imp = md5test::Write(
        "md5render/export/imp.md5mesh", zvtools::WriteMD5Mesh(Rectangle("models/monsters/imp/imp", 1, 1, 0, false, 4)));
    ASSERT_NE(Create(imp.c_str()), nullptr);
    const uint32_t pixel = PixelAt(Frame(0.01f), 4.0f, 0.0f);
    // Blue, but for the JPEG's rounding.
    EXPECT_LE(pixel >> 16, 3u) << std::hex << pixel << log;
    EXPECT_LE((pixel >> 8) & 0xFF, 3u) << std::hex << pixel;
    EXPECT_GE(pixel & 0xFF, 0xFCu) << std::hex << pixel;
}

// A model facing the camera shows its left side on the screen's right, as
// a person facing us holds their left hand on our right: the model's left
// (the file's +y, with x forward and z up) is the engine's +x, which the
// camera at z = -10 looking along +z sees on its right.  Its text reads
// unmirrored, and its faces are lit on their outer side.
TEST_F(MD5Render, AModelKeepsItsHandedness) {
    md5test::Write("md5render/sign.md5mesh", zvtools::WriteMD5Mesh(Sign()));
    WriteLetter(dir + "md5render/letter_d.tga");
    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, NoLightning), S_OK);
    IGeometry* geometry = Create("md5render/sign.md5mesh");
    ASSERT_NE(geometry, nullptr);
    auto brightness = [](uint32_t c) { return (int)(c >> 16 & 0xFF) + (int)(c >> 8 & 0xFF) + (int)(c & 0xFF); };

    Bitmap bmp = Frame(0.01f);
    ASSERT_GT(bmp.width, 0);
    // The marker on the right, nothing on the left.
    EXPECT_EQ(PixelAt(bmp, 3.5f, 0.0f), 0xFF0000u);
    EXPECT_NE(PixelAt(bmp, -3.5f, 0.0f), 0xFF0000u);
    // The letter: the stem on the left, the top bar reaching the right, the
    // middle bar stopping short of it.
    EXPECT_LT(brightness(PixelAt(bmp, -1.375f, -1.375f)), 100) << "stem";
    EXPECT_GT(brightness(PixelAt(bmp, 1.375f, -1.375f)), 600) << "right of the stem";
    EXPECT_LT(brightness(PixelAt(bmp, 1.375f, 1.625f)), 100) << "top bar";
    EXPECT_GT(brightness(PixelAt(bmp, 1.375f, -0.125f)), 600) << "end of the middle bar";
    EXPECT_LT(brightness(PixelAt(bmp, -0.625f, -0.125f)), 100) << "middle bar";

    // Lit by a light before it, the sign's white shows.
    Light light = Light();
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
    light.Position = Vector3(0, 0, -20);
    light.Range = 1000.0f;
    light.Attenuation0 = 1.0f;
    ASSERT_EQ(graphics->SetLight(0, true, &light), S_OK);
    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, SimpleLighting), S_OK);
    bmp = Frame(0.01f);
    EXPECT_GT(brightness(PixelAt(bmp, 1.375f, -1.375f)), 450) << "lit white";
    EXPECT_LT(brightness(PixelAt(bmp, -1.375f, -1.375f)), 100) << "lit stem";

    // Turned half round, it shows its back: the marker on the left.
    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, NoLightning), S_OK);
    Matrix turn;
    turn.SetRotationY(3.14159265f);
    dynamic_cast<IPhyEntity*>(geometry)->SetWorldMatrix(turn);
    bmp = Frame(0.01f);
    EXPECT_EQ(PixelAt(bmp, -3.5f, 0.0f), 0xFF0000u);
    EXPECT_NE(PixelAt(bmp, 3.5f, 0.0f), 0xFF0000u);
}

TEST_F(MD5Render, ShadowVolumesReadTheSkinnedBuffer) {
    // A white wall 5 behind the square takes its shadow.  The light stands
    // right of the camera: the shadow falls on the wall 1.25 times the
    // square's size, at x' = 1.25 x - 3.75, partly left of the square where
    // the camera sees it.  The square is two-sided, so that it casts a
    // volume whichever side the light sees.
    md5test::Write("md5render/wall.md5mesh", zvtools::WriteMD5Mesh(Rectangle("md5render/white", 12, 9, 5)));
    md5test::Write("md5render/caster.md5mesh", zvtools::WriteMD5Mesh(Rectangle("md5render/red", 2, 2, 0, true)));
    WritePlainTexture(dir + "md5render/white_d.tga", {255, 255, 255, 255});
    ASSERT_EQ(graphics->SetRenderState(LIGHTNINGPATH, StencilShadow), S_OK);
    Light light = Light();
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
    light.Position = Vector3(15, 0, -20);
    light.Range = 1000.0f;
    light.Attenuation0 = 1.0f;
    ASSERT_EQ(graphics->SetLight(0, true, &light), S_OK);
    ASSERT_NE(Create("md5render/wall.md5mesh"), nullptr);
    IGeometry* geometry = Create("md5render/caster.md5mesh");
    ASSERT_NE(geometry, nullptr);
    GeometryBuffers buffers = {nullptr, nullptr, 1};
    ASSERT_EQ(dynamic_cast<IModel*>(geometry)->GetBuffers(&buffers), S_OK);
    EXPECT_EQ(buffers.pVB, dynamic_cast<ModelMD5*>(geometry)->pVB);
    EXPECT_EQ(buffers.pVB->GetNumVertices(), 8u);

    auto red = [](uint32_t c) { return (int)(c >> 16 & 0xFF); };
    // In the bind pose (square over x in [-2, 2]) the shadow covers the wall
    // over x in [-6.25, -1.25]; seen from the camera, x = -5 is not hidden by
    // the square.  The wall at x = -9 is in the open.
    Bitmap bmp = Frame(0.01f);
    ASSERT_GT(bmp.width, 0);
    const int open = red(PixelAt(bmp, -9, 0, 5));
    EXPECT_GT(open, 200);
    EXPECT_LT(red(PixelAt(bmp, -5, 0, 5)) + 80, open);

    // The second frame of the slide puts the square over x in [1, 5]: its
    // shadow follows to x in [-2.5, 2.5], and x = -5 is lit again.
    String anim("md5render/slide.md5anim");
    ASSERT_EQ(geometry->SendCommand("LoadAnimation", &anim), S_OK);
    ASSERT_EQ(dynamic_cast<IModel*>(geometry)->AddAnimation("slide.md5anim", 1.0f), S_OK);
    Frame(0.0f);
    bmp = Frame(1.2f);
    EXPECT_GT(red(PixelAt(bmp, -5, 0, 5)), open - 30);
    EXPECT_LT(red(PixelAt(bmp, 0, 0, 5)) + 80, open);
    EXPECT_GT(red(PixelAt(bmp, -9, 0, 5)), 200);
}

}  // namespace
