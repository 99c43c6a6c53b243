// The font's queues and the quads Render builds from them, checked in the
// vertex data handed to each draw (through the stand-in manager of
// font_support.h; device states go to a real device).
#include <cmath>
#include <limits>

#include "font_support.h"
#include "zvcore.h"

using fonttest::DrawCall;
using fonttest::FakeGraphics;

namespace {

const float kCell = 1.0f / 16.0f;
const float kGlyph = 0.0425f;

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

class FontQuadsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZVTestCaptureLog(&log);
        ASSERT_EQ(CreateCore(&core), S_OK);
        ASSERT_EQ(core->Init(nullptr, "font test", 320, 240), S_OK);
        ASSERT_EQ(core->CreateGraphics(&graphics), S_OK);
        DisplaySettings s(0, 1, 0, 0);
        ASSERT_EQ(graphics->SetScreenMode(&s, false, false), S_OK);
        fake.device = graphics->GetD3DDevice();
        ASSERT_NE(fake.device, nullptr);
        IGeometry* geometry = nullptr;
        ASSERT_EQ(Font::Create("font", "lucida_console.tga", &fake, &geometry), S_OK);
        font = dynamic_cast<Font*>(geometry);
        ASSERT_NE(font, nullptr);
        // What the manager's CreateGeometry does for a new geometry.
        fake.AddRef();
    }
    void TearDown() override {
        if (font) {
            EXPECT_EQ(font->Release(), 0u);
        }
        if (graphics) graphics->Release();
        if (core) core->Release();
        ZVTestCaptureLog(nullptr);
    }

    // Checks one quad (six vertices from index at) of a 2D draw against the
    // corner a, the vectors along and down, the colour and the texture rectangle.
    static void ExpectQuad2D(const DrawCall& call, size_t at, float ax, float ay, float alongX, float alongY,
                             float downX, float downY, u32 colour, float u0, float v0, float u1, float v1) {
        ASSERT_LE(at + 6, call.v2.size());
        const float px[6] = {ax, ax + downX, ax + alongX, ax + downX, ax + alongX + downX, ax + alongX};
        const float py[6] = {ay, ay + downY, ay + alongY, ay + downY, ay + alongY + downY, ay + alongY};
        const float us[6] = {u0, u0, u1, u0, u1, u1};
        const float vs[6] = {v0, v1, v0, v1, v1, v0};
        for (size_t i = 0; i < 6; ++i) {
            const Font::Vertex2D& v = call.v2[at + i];
            EXPECT_NEAR(v.x, px[i], 1e-3) << "vertex " << at + i;
            EXPECT_NEAR(v.y, py[i], 1e-3) << "vertex " << at + i;
            EXPECT_EQ(v.z, 1.0f);
            EXPECT_EQ(v.rhw, 1.0f);
            EXPECT_EQ(v.color, colour) << "vertex " << at + i;
            EXPECT_NEAR(v.u, us[i], 1e-6) << "vertex " << at + i;
            EXPECT_NEAR(v.v, vs[i], 1e-6) << "vertex " << at + i;
        }
    }
    static void ExpectQuad3D(const DrawCall& call, size_t at, Vector3 a, Vector3 along, Vector3 down, u32 colour,
                             float u0, float v0, float u1, float v1) {
        ASSERT_LE(at + 6, call.v3.size());
        const Vector3 p[6] = {a, a + down, a + along, a + down, a + along + down, a + along};
        const float us[6] = {u0, u0, u1, u0, u1, u1};
        const float vs[6] = {v0, v1, v0, v1, v1, v0};
        for (size_t i = 0; i < 6; ++i) {
            const Font::Vertex3D& v = call.v3[at + i];
            EXPECT_NEAR(v.x, p[i].x, 1e-4) << "vertex " << at + i;
            EXPECT_NEAR(v.y, p[i].y, 1e-4) << "vertex " << at + i;
            EXPECT_NEAR(v.z, p[i].z, 1e-4) << "vertex " << at + i;
            EXPECT_EQ(v.color, colour);
            EXPECT_NEAR(v.u, us[i], 1e-6);
            EXPECT_NEAR(v.v, vs[i], 1e-6);
        }
    }
    static float Left(u32 code) { return (float)(code % 16) / 16.0f; }
    static float Top(u32 code) { return (float)(code / 16) / 16.0f; }

    std::string log;
    ICore* core = nullptr;
    IGraphics* graphics = nullptr;
    FakeGraphics fake;
    Font* font = nullptr;
};

TEST_F(FontQuadsTest, CreationMakesTwoDynamicBuffersAndLoadsTheImage) {
    EXPECT_EQ(fake.textureName, "lucida_console.tga");
    ASSERT_EQ(fake.buffers.size(), 2u);
    EXPECT_EQ(fake.buffers[0]->fvf, 0x144u);
    EXPECT_EQ(fake.buffers[0]->count, 7680u);
    EXPECT_EQ(fake.buffers[1]->fvf, 0x142u);
    EXPECT_EQ(fake.buffers[1]->count, 7680u);
    EXPECT_EQ(sizeof(Font::Vertex2D), 28u);
    EXPECT_EQ(sizeof(Font::Vertex3D), 24u);
    String type, command;
    EXPECT_EQ(font->GetTypeAndCommand(&type, &command), S_OK);
    EXPECT_STREQ(type.c_str(), "font");
    EXPECT_STREQ(command.c_str(), "lucida_console.tga");
    EXPECT_STREQ(font->GetName().c_str(), "Font");
    EXPECT_EQ(font->Update(0.1f), S_FALSE);
    EXPECT_EQ(font->Reset(), S_FALSE);
    String parameter("x");
    EXPECT_EQ(font->SendCommand("anything", &parameter), S_FALSE);
}

TEST_F(FontQuadsTest, FrameRateLineGivesABandAndOneGlyphQuadPerCharacter) {
    ASSERT_EQ(font->DrawText2D("60 fps", 0xFFFFFF00, 0x33000000, 14, 5, 5, 1.0f, 0.0f), S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 2u);

    const DrawCall& band = fake.draws[0];
    EXPECT_EQ(band.type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(band.first, 0u);
    EXPECT_EQ(band.count, 6u);
    EXPECT_FALSE(band.textured);
    EXPECT_EQ(band.fvf, 0x144u);
    EXPECT_TRUE(band.identityWorld);
    ExpectQuad2D(band, 0, 5, 5, 6 * 14, 0, 0, 14, 0x33000000, 0, 0, 0, 0);

    const DrawCall& glyphs = fake.draws[1];
    EXPECT_EQ(glyphs.count, 6u * 7);
    EXPECT_TRUE(glyphs.textured);
    EXPECT_TRUE(glyphs.identityWorld);
    // The placeholder just before the first cell is written fully transparent.
    ExpectQuad2D(glyphs, 0, 5 - 14, 5, 14, 0, 0, 14, 0x00000000, 0, 0, 0, 0);
    const char* text = "60 fps";
    for (u32 k = 0; k < 6; ++k) {
        const u32 code = (u8)text[k];
        ExpectQuad2D(glyphs, 6 * (k + 1), 5 + 14.0f * k, 5, 14, 0, 0, 14, 0xFFFFFF00, Left(code), Top(code),
                     Left(code) + kGlyph, Top(code) + kCell);
    }
    // The queue is empty afterwards: a second frame draws nothing.
    EXPECT_EQ(font->vText2D.count, 0u);
    fake.draws.clear();
    EXPECT_EQ(font->Render(), S_OK);
    EXPECT_TRUE(fake.draws.empty());
}

TEST_F(FontQuadsTest, NewlineStartsTheNextLineBelowWithItsOwnBand) {
    ASSERT_EQ(font->DrawText2D("AB\nC", 0xFFFFFFFF, 0xFF0000FF, 10, 20, 30, 1.0f, 0.0f), S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 2u);
    const DrawCall& band = fake.draws[0];
    ASSERT_EQ(band.count, 12u);
    ExpectQuad2D(band, 0, 20, 30, 20, 0, 0, 10, 0xFF0000FF, 0, 0, 0, 0);
    ExpectQuad2D(band, 6, 20, 41, 10, 0, 0, 10, 0xFF0000FF, 0, 0, 0, 0);

    const DrawCall& glyphs = fake.draws[1];
    ASSERT_EQ(glyphs.count, 6u * 5);
    ExpectQuad2D(glyphs, 0, 10, 30, 10, 0, 0, 10, 0, 0, 0, 0, 0);
    ExpectQuad2D(glyphs, 6, 20, 30, 10, 0, 0, 10, 0xFFFFFFFF, Left('A'), Top('A'), Left('A') + kGlyph,
                 Top('A') + kCell);
    ExpectQuad2D(glyphs, 12, 30, 30, 10, 0, 0, 10, 0xFFFFFFFF, Left('B'), Top('B'), Left('B') + kGlyph,
                 Top('B') + kCell);
    // The newline costs a placeholder at the start of the new line.
    ExpectQuad2D(glyphs, 18, 10, 41, 10, 0, 0, 10, 0, 0, 0, 0, 0);
    ExpectQuad2D(glyphs, 24, 20, 41, 10, 0, 0, 10, 0xFFFFFFFF, Left('C'), Top('C'), Left('C') + kGlyph,
                 Top('C') + kCell);
}

TEST_F(FontQuadsTest, TransparentBackgroundDrawsNoBand) {
    ASSERT_EQ(font->DrawText2D("x", 0xFFFFFFFF, 0x00FF0000, 8, 0, 0, 1.0f, 0.0f), S_OK);
    ASSERT_EQ(font->DrawText2D("y", 0xFFFFFFFF, 0x00FFFFFF, 8, 0, 10, 1.0f, 0.0f), S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 1u);
    EXPECT_TRUE(fake.draws[0].textured);
    EXPECT_EQ(fake.draws[0].count, 24u);
}

TEST_F(FontQuadsTest, OnlyTextsWithAVisibleBackgroundGetBands) {
    ASSERT_EQ(font->DrawText2D("abc", 0xFFFFFFFF, 0x00000000, 8, 0, 0, 1.0f, 0.0f), S_OK);
    ASSERT_EQ(font->DrawText2D("de", 0xFFFFFFFF, 0x80FF0000, 8, 0, 10, 1.0f, 0.0f), S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 2u);
    ASSERT_EQ(fake.draws[0].count, 6u);
    ExpectQuad2D(fake.draws[0], 0, 0, 10, 16, 0, 0, 8, 0x80FF0000, 0, 0, 0, 0);
    // The glyphs of both texts in call order: 4 + 3 quads.
    ASSERT_EQ(fake.draws[1].count, 42u);
    ExpectQuad2D(fake.draws[1], 24, -8, 10, 8, 0, 0, 8, 0, 0, 0, 0, 0);
    ExpectQuad2D(fake.draws[1], 30, 0, 10, 8, 0, 0, 8, 0xFFFFFFFF, Left('d'), Top('d'), Left('d') + kGlyph,
                 Top('d') + kCell);
}

TEST_F(FontQuadsTest, DirectionDownTheScreenTurnsTheGlyphs) {
    // Direction (0, 1): written top to bottom; the cells' down axis points left.
    ASSERT_EQ(font->DrawText2D("ab", 0xFFFFFFFF, 0, 12, 100, 50, 0.0f, 1.0f), S_OK);
    // Any length but 0: (3, 4) is taken as (0.6, 0.8).
    ASSERT_EQ(font->DrawText2D("c", 0xFFFFFFFF, 0, 10, 200, 50, 3.0f, 4.0f), S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 1u);
    const DrawCall& g = fake.draws[0];
    ExpectQuad2D(g, 6, 100, 50, 0, 12, -12, 0, 0xFFFFFFFF, Left('a'), Top('a'), Left('a') + kGlyph,
                 Top('a') + kCell);
    ExpectQuad2D(g, 12, 100, 62, 0, 12, -12, 0, 0xFFFFFFFF, Left('b'), Top('b'), Left('b') + kGlyph,
                 Top('b') + kCell);
    ExpectQuad2D(g, 24, 200, 50, 6, 8, -8, 6, 0xFFFFFFFF, Left('c'), Top('c'), Left('c') + kGlyph,
                 Top('c') + kCell);
}

TEST_F(FontQuadsTest, CodesAreUnsignedBytesAndControlCodesAreCells) {
    // 0xB0 (degree sign), 0xFF, tab and carriage return are all drawn as cells.
    ASSERT_EQ(font->DrawText2D("\xB0\xFF\t\r", 0xFFFFFFFF, 0, 10, 0, 0, 1.0f, 0.0f), S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 1u);
    const DrawCall& g = fake.draws[0];
    ASSERT_EQ(g.count, 30u);
    const u32 codes[4] = {0xB0, 0xFF, 9, 13};
    for (u32 k = 0; k < 4; ++k) {
        ExpectQuad2D(g, 6 * (k + 1), 10.0f * k, 0, 10, 0, 0, 10, 0xFFFFFFFF, Left(codes[k]), Top(codes[k]),
                     Left(codes[k]) + kGlyph, Top(codes[k]) + kCell);
    }
    EXPECT_NEAR(Top(0xB0), 11.0f / 16.0f, 1e-7);
    EXPECT_NEAR(Left(0xFF), 15.0f / 16.0f, 1e-7);
}

TEST_F(FontQuadsTest, BadArgumentsAreRefusedAndNothingIsQueued) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(font->DrawText2D("", 0xFFFFFFFF, 0, 10, 0, 0, 1, 0), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText2D("a", 0xFFFFFFFF, 0, 0, 0, 0, 1, 0), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText2D("a", 0xFFFFFFFF, 0, 10, 0, 0, 0, 0), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText2D("a", 0xFFFFFFFF, 0, 10, 0, 0, nan, 1), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText2D("a", 0xFFFFFFFF, 0, 10, 0, 0, inf, 0), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->vText2D.count, 0u);
    EXPECT_EQ(font->DrawText3D("", 0, 0, 1, Vector3(), Vector3(1, 0, 0), Vector3(0, -1, 0)), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText3D("a", 0, 0, 0, Vector3(), Vector3(1, 0, 0), Vector3(0, -1, 0)), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText3D("a", 0, 0, -1, Vector3(), Vector3(1, 0, 0), Vector3(0, -1, 0)), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText3D("a", 0, 0, 1, Vector3(), Vector3(), Vector3(0, -1, 0)), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText3D("a", 0, 0, 1, Vector3(), Vector3(1, 0, 0), Vector3()), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->vText3D.count, 0u);
    EXPECT_TRUE(Contains(log, "Font::DrawText2D()"));
    EXPECT_TRUE(Contains(log, "Font::DrawText3D()"));
    EXPECT_TRUE(Contains(log, "Invalid Call/Param"));
    ASSERT_EQ(font->Render(), S_OK);
    EXPECT_TRUE(fake.draws.empty());
}

TEST_F(FontQuadsTest, ScaledTextIsConvertedToPixelsOfTheScreenMode) {
    ASSERT_EQ(font->DrawText2DScaled("hi", 0xFFFFFFFF, 0, 0.05f, 0.5f, 0.25f, 1, 0), S_OK);
    ASSERT_EQ(font->vText2D.count, 1u);
    EXPECT_EQ(font->vText2D[0].nSize, 24u);
    EXPECT_EQ(font->vText2D[0].nX, 320u);
    EXPECT_EQ(font->vText2D[0].nY, 120u);
    EXPECT_EQ(font->DrawText2DScaled("hi", 0xFFFFFFFF, 0, 0.1f, 0.0f, 0.0f, 1, 0), S_OK);
    EXPECT_EQ(font->DrawText2DScaled("hi", 0xFFFFFFFF, 0, 1.0f, 1.0f, 1.0f, 1, 0), S_OK);
    EXPECT_EQ(font->vText2D.count, 3u);
    EXPECT_EQ(font->DrawText2DScaled("hi", 0xFFFFFFFF, 0, 0.0f, 0.5f, 0.5f, 1, 0), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText2DScaled("hi", 0xFFFFFFFF, 0, 1.5f, 0.5f, 0.5f, 1, 0), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText2DScaled("hi", 0xFFFFFFFF, 0, 0.1f, 1.01f, 0.5f, 1, 0), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->DrawText2DScaled("hi", 0xFFFFFFFF, 0, 0.1f, 0.5f, -0.1f, 1, 0), ZVE_SUBFUNCTION);
    // A size that truncates to 0 pixels is refused by DrawText2D.
    EXPECT_EQ(font->DrawText2DScaled("hi", 0xFFFFFFFF, 0, 0.001f, 0.5f, 0.5f, 1, 0), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->vText2D.count, 3u);
    EXPECT_TRUE(Contains(log, "Font::DrawText2DScaled()"));
}

TEST_F(FontQuadsTest, CapacityIs1280QuadsPerFrameAndAnOverflowDropsTheFrame) {
    // One placeholder plus 1279 characters: exactly 7680 vertices.
    std::string full(1279, 'x');
    ASSERT_EQ(font->DrawText2D(full.c_str(), 0xFFFFFFFF, 0x80000000, 1, 0, 0, 1, 0), S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 2u);
    EXPECT_EQ(fake.draws[1].count, 7680u);
    EXPECT_FALSE(Contains(log, "Too many chars for the VB"));

    // Two texts sharing the 1280 quads (641 + 639) still fit.
    fake.draws.clear();
    ASSERT_EQ(font->DrawText2D(std::string(640, 'a').c_str(), 0xFFFFFFFF, 0, 1, 0, 0, 1, 0), S_OK);
    ASSERT_EQ(font->DrawText2D(std::string(638, 'b').c_str(), 0xFFFFFFFF, 0, 1, 0, 0, 1, 0), S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 1u);
    EXPECT_EQ(fake.draws[0].count, 7680u);

    // One character more: nothing is drawn and the frame fails ...
    fake.draws.clear();
    ASSERT_EQ(font->DrawText2D(std::string(1280, 'y').c_str(), 0xFFFFFFFF, 0x80000000, 1, 0, 0, 1, 0), S_OK);
    ASSERT_EQ(font->DrawText3D("3d", 0xFFFFFFFF, 0, 1, Vector3(), Vector3(1, 0, 0), Vector3(0, -1, 0)), S_OK);
    EXPECT_EQ(font->Render(), ZVE_SUBFUNCTION);
    EXPECT_TRUE(fake.draws.empty());
    EXPECT_TRUE(Contains(log, "Too many chars for the VB"));
    EXPECT_TRUE(Contains(log, "Font::Render()"));
    // ... but the text is dropped with it, so the next frame draws again.
    EXPECT_EQ(font->vText2D.count, 0u);
    EXPECT_EQ(font->vText3D.count, 0u);
    ASSERT_EQ(font->DrawText2D("ok", 0xFFFFFFFF, 0, 10, 0, 0, 1, 0), S_OK);
    EXPECT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 1u);
    EXPECT_EQ(fake.draws[0].count, 18u);
}

TEST_F(FontQuadsTest, ThreeDimensionalTextUsesRightAndDownAsGiven) {
    ASSERT_EQ(font->DrawText3D("H\ni", 0xFF00FF00, 0xFF000000, 2.0f, Vector3(1, 2, 3), Vector3(0, 0, 5),
                               Vector3(0, -3, 0)),
              S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 2u);
    const DrawCall& band = fake.draws[0];
    EXPECT_EQ(band.fvf, 0x142u);
    ASSERT_EQ(band.count, 12u);
    const Vector3 d(0, 0, 2), v(0, -2, 0);
    ExpectQuad3D(band, 0, Vector3(1, 2, 3), d, v, 0xFF000000, 0, 0, 0, 0);
    ExpectQuad3D(band, 6, Vector3(1, 2 - 2.2f, 3), d, v, 0xFF000000, 0, 0, 0, 0);
    const DrawCall& g = fake.draws[1];
    ASSERT_EQ(g.count, 24u);
    EXPECT_TRUE(g.textured);
    ExpectQuad3D(g, 0, Vector3(1, 2, 1), d, v, 0, 0, 0, 0, 0);
    ExpectQuad3D(g, 6, Vector3(1, 2, 3), d, v, 0xFF00FF00, Left('H'), Top('H'), Left('H') + kGlyph,
                 Top('H') + kCell);
    ExpectQuad3D(g, 12, Vector3(1, 2 - 2.2f, 1), d, v, 0, 0, 0, 0, 0);
    ExpectQuad3D(g, 18, Vector3(1, 2 - 2.2f, 3), d, v, 0xFF00FF00, Left('i'), Top('i'), Left('i') + kGlyph,
                 Top('i') + kCell);
}

TEST_F(FontQuadsTest, TwoAndThreeDimensionalTextAreDrawnFromTheirOwnBuffers) {
    ASSERT_EQ(font->DrawText2D("a", 0xFFFFFFFF, 0xFF000000, 8, 0, 0, 1, 0), S_OK);
    ASSERT_EQ(font->DrawText3D("b", 0xFFFFFFFF, 0xFF000000, 1, Vector3(), Vector3(1, 0, 0), Vector3(0, -1, 0)),
              S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 4u);  // at most four draws per frame
    EXPECT_EQ(fake.draws[0].fvf, 0x144u);
    EXPECT_EQ(fake.draws[1].fvf, 0x144u);
    EXPECT_EQ(fake.draws[2].fvf, 0x142u);
    EXPECT_EQ(fake.draws[3].fvf, 0x142u);
    EXPECT_FALSE(fake.draws[2].textured);
    EXPECT_TRUE(fake.draws[3].textured);
}

TEST_F(FontQuadsTest, FacingTextTakesRightAndDownFromTheCamera) {
    fake.cameraSet = true;
    fake.eye = Vector3(0, 0, -10);
    fake.at = Vector3(0, 0, 0);
    fake.up = Vector3(0, 1, 0);
    ASSERT_EQ(font->DrawText3DFacing("a", 0xFFFFFFFF, 0, 0.5f, Vector3(1, 1, 1)), S_OK);
    ASSERT_EQ(font->vText3D.count, 1u);
    EXPECT_NEAR(font->vText3D[0].vRight.x, 1, 1e-6);
    EXPECT_NEAR(font->vText3D[0].vRight.y, 0, 1e-6);
    EXPECT_NEAR(font->vText3D[0].vRight.z, 0, 1e-6);
    EXPECT_EQ(font->vText3D[0].vDown, Vector3(0, -1, 0));

    // Looking along +x with +z up: right is up x dir = +y, down is -z.
    fake.eye = Vector3(-4, 0, 0);
    fake.at = Vector3(6, 0, 0);
    fake.up = Vector3(0, 0, 1);
    ASSERT_EQ(font->DrawText3DFacing("b", 0xFFFFFFFF, 0, 0.5f, Vector3(2, 0, 0)), S_OK);
    ASSERT_EQ(font->Render(), S_OK);
    ASSERT_EQ(fake.draws.size(), 1u);
    ExpectQuad3D(fake.draws[0], 6, Vector3(1, 1, 1), Vector3(0.5f, 0, 0), Vector3(0, -0.5f, 0), 0xFFFFFFFF,
                 Left('a'), Top('a'), Left('a') + kGlyph, Top('a') + kCell);
    ExpectQuad3D(fake.draws[0], 18, Vector3(2, 0, 0), Vector3(0, 0.5f, 0), Vector3(0, 0, -0.5f), 0xFFFFFFFF,
                 Left('b'), Top('b'), Left('b') + kGlyph, Top('b') + kCell);

    // Without a camera there are no axes and the text is refused.
    fake.cameraSet = false;
    EXPECT_EQ(font->DrawText3DFacing("c", 0xFFFFFFFF, 0, 0.5f, Vector3()), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'No text can face the camera (eye {0, 0, 0}, look-at point {0, 0, 0}, up {0, 0, "
                              "0}): texts turned towards it are not drawn'")) << log;
}

// Looking along the up vector (or within a millionth of a radian of it) the
// text lies across the view, turned as for any other view: right x down
// points back at the eye.
TEST_F(FontQuadsTest, FacingTextLookingAlongTheUpVectorLiesAcrossTheView) {
    fake.cameraSet = true;
    fake.up = Vector3(0, 1, 0);
    for (Vector3 at : {Vector3(0, 1, 0), Vector3(1e-7f, -1, 0)}) {
        fake.at = at;
        ASSERT_EQ(font->DrawText3DFacing("a", 0xFFFFFFFF, 0, 0.5f, Vector3()), S_OK);
        const Font::Text3D& text = font->vText3D[font->vText3D.count - 1];
        Vector3 turn;
        turn.Cross(text.vRight, text.vDown);
        EXPECT_NEAR(turn.Dot(at) / turn.Length(), -1.0, 1e-9) << at.y;
    }
    // Ten millionths of a radian off, the axes are still up x dir and -up.
    fake.at = Vector3(1e-5f, 1, 0);
    ASSERT_EQ(font->DrawText3DFacing("a", 0xFFFFFFFF, 0, 0.5f, Vector3()), S_OK);
    EXPECT_EQ(font->vText3D[font->vText3D.count - 1].vDown, Vector3(0, -1, 0));
}

TEST_F(FontQuadsTest, ExtentsCoverTheLongestLineAndEveryLine) {
    float w = 0, h = 0;
    ASSERT_EQ(font->GetExtendText2D("AB\nCDE", 10, 1, 0, &w, &h), S_OK);
    EXPECT_FLOAT_EQ(w, 30.0f);
    EXPECT_FLOAT_EQ(h, 21.0f);
    ASSERT_EQ(font->GetExtendText2DScaled("abcd", 0.05f, 0, 1, &w, &h), S_OK);
    EXPECT_FLOAT_EQ(w, 0.2f);
    EXPECT_FLOAT_EQ(h, 0.05f);
    Vector3 e;
    ASSERT_EQ(font->GetExtendText3D("ab\n\nc", 2.0f, Vector3(0, 0, 3), Vector3(0, -1, 0), &e), S_OK);
    EXPECT_NEAR(e.x, 0, 1e-5);
    EXPECT_NEAR(e.y, -2.0f * 3.2f, 1e-5);
    EXPECT_NEAR(e.z, 4.0f, 1e-5);

    EXPECT_EQ(font->GetExtendText2D("", 10, 1, 0, &w, &h), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->GetExtendText2D("a", 0, 1, 0, &w, &h), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->GetExtendText2D("a", 10, 0, 0, &w, &h), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->GetExtendText2D("a", 10, 1, 0, nullptr, &h), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->GetExtendText2DScaled("a", 0.0f, 1, 0, &w, &h), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->GetExtendText2DScaled("a", 1.5f, 1, 0, &w, &h), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->GetExtendText2DScaled("a", 0.5f, 1, 0, &w, nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->GetExtendText3D("a", 1, Vector3(), Vector3(0, 1, 0), &e), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->GetExtendText3D("a", 1, Vector3(1, 0, 0), Vector3(0, 1, 0), nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Font::GetExtendText2D()"));
    EXPECT_TRUE(Contains(log, "Font::GetExtendText2DScaled()"));
    EXPECT_TRUE(Contains(log, "Font::GetExtendText3D()"));
}

TEST_F(FontQuadsTest, FailuresInsideRenderAreReportedAndDropTheQueues) {
    ASSERT_EQ(font->DrawText2D("a", 0xFFFFFFFF, 0, 8, 0, 0, 1, 0), S_OK);
    fake.failDraw = true;
    EXPECT_EQ(font->Render(), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->vText2D.count, 0u);
    fake.failDraw = false;

    ASSERT_EQ(font->DrawText3D("b", 0xFFFFFFFF, 0, 1, Vector3(), Vector3(1, 0, 0), Vector3(0, -1, 0)), S_OK);
    fake.buffers[1]->failLock = true;
    EXPECT_EQ(font->Render(), ZVE_SUBFUNCTION);
    EXPECT_EQ(font->vText3D.count, 0u);
    fake.buffers[1]->failLock = false;

    IDirect3DDevice9* device = fake.device;
    fake.device = nullptr;
    ASSERT_EQ(font->DrawText2D("a", 0xFFFFFFFF, 0, 8, 0, 0, 1, 0), S_OK);
    EXPECT_EQ(font->Render(), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "IGraphics return NULL d3dDev"));
    fake.device = device;
}

TEST_F(FontQuadsTest, CloneIsTheSameFontWithOneMoreReference) {
    IInterface* clone = nullptr;
    EXPECT_EQ(font->Clone(nullptr), ZVE_SUBFUNCTION);
    ASSERT_EQ(font->Clone(&clone), S_OK);
    EXPECT_EQ(clone, static_cast<IInterface*>(font));
    EXPECT_EQ(font->nRef, 2u);
    EXPECT_EQ(clone->Release(), 1u);
}

TEST_F(FontQuadsTest, DestructionGivesBackTheManager) {
    EXPECT_EQ(fake.nRef, 1u);
    IGeometry* self = font;
    EXPECT_EQ(font->Release(), 0u);
    font = nullptr;
    ASSERT_EQ(fake.removed.size(), 1u);
    EXPECT_EQ(fake.removed[0], self);
    EXPECT_EQ(fake.nRef, 0u);
}

// The factory without a fixture font.
class FontFactoryTest : public ::testing::Test {
protected:
    void SetUp() override { ZVTestCaptureLog(&log); }
    void TearDown() override { ZVTestCaptureLog(nullptr); }
    std::string log;
    FakeGraphics fake;
};

TEST_F(FontFactoryTest, RefusesBadArgumentsAndUnknownTypes) {
    IGeometry* out = reinterpret_cast<IGeometry*>(0x1);
    EXPECT_EQ(Font::Create("font", "f.tga", &fake, nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Invalid Call/Param"));
    EXPECT_EQ(Font::Create("Font", "f.tga", &fake, &out), ZVE_SUBFUNCTION);
    EXPECT_EQ(Font::Create("fon", "f.tga", &fake, &out), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Unsupported Type"));
    EXPECT_TRUE(Contains(log, "Font::Create()"));
    EXPECT_TRUE(fake.buffers.empty());
}

TEST_F(FontFactoryTest, AFailedInitHandsOutNoFont) {
    IGeometry* out = reinterpret_cast<IGeometry*>(0x1);
    EXPECT_EQ(Font::Create("font", "f.tga", nullptr, &out), ZVE_SUBFUNCTION);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(Contains(log, "font 'f.tga' : Init() failed"));

    log.clear();
    fake.failTexture = true;
    out = reinterpret_cast<IGeometry*>(0x1);
    EXPECT_LT(Font::Create("font", "missing.tga", &fake, &out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(Contains(log, "font 'missing.tga' : Init() failed"));
    EXPECT_TRUE(Contains(log, "Font::Init()"));
    // The manager was never taken, so it is not given back either.
    EXPECT_TRUE(fake.removed.empty());
    EXPECT_EQ(fake.nRef, 0u);
}

}  // namespace
