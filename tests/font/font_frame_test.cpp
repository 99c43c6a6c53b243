// The font in real frames: made by the graphics manager's CreateGeometry from
// the generated image, drawn by UpdateAndRender after the models.  Text is
// where it was put: pixels inside its box differ from the background, pixels
// outside do not.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "font.h"
#include "zvcore.h"
#include "zvgraphicsd3d9.h"
#include "zvphysics.h"

namespace {

const u32 kClear = 0x000033;  // the frame's clear colour without alpha

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

class FontFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZVTestCaptureLog(&log);
        ASSERT_EQ(CreateCore(&core), S_OK);
        ASSERT_EQ(core->Init(nullptr, "font frame test", 320, 240), S_OK);
        ASSERT_EQ(core->CreateGraphics(&graphics), S_OK);
        ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
        DisplaySettings s(0, 1, 0, 0);
        ASSERT_EQ(graphics->SetScreenMode(&s, false, false), S_OK);
        core->Update(true);
        zv = dynamic_cast<ZVGraphics*>(graphics);
        ASSERT_NE(zv, nullptr);
        width = zv->d3dpp.BackBufferWidth;
        height = zv->d3dpp.BackBufferHeight;
        IGeometry* geometry = nullptr;
        ASSERT_EQ(graphics->CreateGeometry("font", ZV_FONT_IMAGE, &geometry), S_OK);
        font = dynamic_cast<IFont*>(geometry);
        ASSERT_NE(font, nullptr);
    }
    void TearDown() override {
        if (font) font->Release();
        if (physics) physics->Release();
        if (graphics) graphics->Release();
        if (core) core->Release();
        ZVTestCaptureLog(nullptr);
    }

    // Draws one frame and reads the back buffer (RGB, top row first).
    std::vector<u32> Frame() {
        std::vector<u32> pixels;
        EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK);
        IDirect3DSurface9* back = nullptr;
        EXPECT_EQ(graphics->GetD3DDevice()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
        if (!back) return pixels;
        D3DLOCKED_RECT locked;
        EXPECT_EQ(back->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        pixels.resize((size_t)width * height);
        for (u32 y = 0; y < height; ++y) {
            const u32* row = reinterpret_cast<const u32*>(static_cast<uint8_t*>(locked.pBits) + (size_t)y * locked.Pitch);
            for (u32 x = 0; x < width; ++x) pixels[(size_t)y * width + x] = row[x] & 0x00FFFFFF;
        }
        back->UnlockRect();
        back->Release();
        return pixels;
    }

    // Counts pixels inside [x0, x1) x [y0, y1) that are not the clear colour,
    // and pixels outside the box grown by `margin` that are not.
    void Count(const std::vector<u32>& p, int x0, int y0, int x1, int y1, int margin, long* inside, long* outside) {
        *inside = *outside = 0;
        for (int y = 0; y < (int)height; ++y) {
            for (int x = 0; x < (int)width; ++x) {
                const bool changed = p[(size_t)y * width + x] != kClear;
                if (x >= x0 && x < x1 && y >= y0 && y < y1) {
                    if (changed) ++*inside;
                } else if (x < x0 - margin || x >= x1 + margin || y < y0 - margin || y >= y1 + margin) {
                    if (changed) ++*outside;
                }
            }
        }
    }

    std::string log;
    ICore* core = nullptr;
    IGraphics* graphics = nullptr;
    IPhysics* physics = nullptr;
    ZVGraphics* zv = nullptr;
    IFont* font = nullptr;
    u32 width = 0, height = 0;
};

TEST_F(FontFrameTest, EmptyFrameIsAllBackground) {
    std::vector<u32> p = Frame();
    ASSERT_FALSE(p.empty());
    long inside, outside;
    Count(p, 0, 0, 0, 0, 0, &inside, &outside);
    EXPECT_EQ(outside, 0);
}

TEST_F(FontFrameTest, OpaqueBandFillsExactlyTheLineBox) {
    // Four 16-pixel cells from (40, 30): the box [40, 104) x [30, 46).
    ASSERT_EQ(font->DrawText2D("Zv:1", 0xFFFFFFFF, 0xFF008000, 16, 40, 30, 1.0f, 0.0f), S_OK);
    std::vector<u32> p = Frame();
    ASSERT_FALSE(p.empty());
    long inside, outside;
    Count(p, 40, 30, 104, 46, 1, &inside, &outside);
    EXPECT_EQ(inside, 64L * 16);
    EXPECT_EQ(outside, 0);
    // The band shows its own colour between the glyphs, the glyphs are light.
    bool green = false, light = false;
    for (int y = 30; y < 46; ++y)
        for (int x = 40; x < 104; ++x) {
            const u32 c = p[(size_t)y * width + x];
            if (c == 0x008000) green = true;
            if (((c >> 16) & 0xFF) > 0xC0) light = true;
        }
    EXPECT_TRUE(green);
    EXPECT_TRUE(light);
    // Queues are per frame: the next frame is empty again.
    p = Frame();
    Count(p, 0, 0, 0, 0, 0, &inside, &outside);
    EXPECT_EQ(outside, 0);
}

TEST_F(FontFrameTest, GlyphsWithoutBandStayInsideTheirCells) {
    // "H" and "i" on two lines: line 2 starts 1.1 x 20 = 22 pixels lower.
    ASSERT_EQ(font->DrawText2D("H\ni", 0xFFFFFFFF, 0x00000000, 20, 100, 60, 1.0f, 0.0f), S_OK);
    std::vector<u32> p = Frame();
    ASSERT_FALSE(p.empty());
    long inside1, outside;
    Count(p, 100, 60, 120, 102, 1, &inside1, &outside);
    EXPECT_EQ(outside, 0);
    long line1, line2, dummy;
    Count(p, 100, 60, 120, 80, 0, &line1, &dummy);
    Count(p, 100, 82, 120, 102, 0, &line2, &dummy);
    EXPECT_GT(line1, 20);
    EXPECT_GT(line2, 10);
    // Between the lines (the 2 pixels of spacing) nothing is drawn.
    long gap;
    Count(p, 100, 80, 120, 82, 0, &gap, &dummy);
    EXPECT_EQ(gap, 0);
    // Glyphs are partly transparent: not every pixel of the cells changed.
    EXPECT_LT(inside1, 20L * 42);
}

TEST_F(FontFrameTest, ScaledTextAndVerticalText) {
    ASSERT_EQ(font->DrawText2DScaled("ab", 0xFFFFFFFF, 0xFFFF0000, 0.1f, 0.5f, 0.5f, 1.0f, 0.0f), S_OK);
    // Written downwards from (20, 20): cells extend to the left of x = 20.
    ASSERT_EQ(font->DrawText2D("xy", 0xFFFFFFFF, 0xFF0000FF, 10, 20, 20, 0.0f, 1.0f), S_OK);
    std::vector<u32> p = Frame();
    ASSERT_FALSE(p.empty());
    const int size = (int)(height * 0.1f), x0 = (int)(width * 0.5f), y0 = (int)(height * 0.5f);
    long inside, outside;
    Count(p, x0, y0, x0 + 2 * size, y0 + size, 1, &inside, &outside);
    EXPECT_EQ(inside, 2L * size * size);
    long vertical, rest;
    Count(p, 10, 20, 20, 40, 1, &vertical, &rest);
    EXPECT_EQ(vertical, 200);
    EXPECT_EQ(outside, vertical);  // the only change outside the first box is the vertical text
    EXPECT_EQ(rest, inside);
}

TEST_F(FontFrameTest, FacingTextAppearsAroundItsProjectedPosition) {
    Vector3 eye(0, 0, -10), at(0, 0, 0), up(0, 1, 0);
    ASSERT_EQ(graphics->SetCamera(&eye, &at, &up), S_OK);
    // Two 1-unit cells from (-1, 0.5, 0): right is +x, down is -y.
    ASSERT_EQ(font->DrawText3DFacing("##", 0xFFFFFFFF, 0xFFFFFFFF, 1.0f, Vector3(-1, 0.5f, 0)), S_OK);
    std::vector<u32> p = Frame();
    ASSERT_FALSE(p.empty());
    // The box in pixels from the manager's view and projection.
    Matrix view, proj;
    ASSERT_EQ(graphics->GetViewProj(&view, &proj), S_OK);
    Matrix clip = view * proj;
    auto project = [&](Vector3 v, int* x, int* y) {
        double c[4];
        for (int k = 0; k < 4; ++k) c[k] = v.x * clip.m[0][k] + v.y * clip.m[1][k] + v.z * clip.m[2][k] + clip.m[3][k];
        *x = (int)((c[0] / c[3] + 1.0) / 2.0 * width + 0.5);
        *y = (int)((1.0 - c[1] / c[3]) / 2.0 * height + 0.5);
    };
    int x0, y0, x1, y1;
    project(Vector3(-1, 0.5f, 0), &x0, &y0);
    project(Vector3(1, -0.5f, 0), &x1, &y1);
    ASSERT_LT(x0, x1);
    ASSERT_LT(y0, y1);
    long inside, outside;
    Count(p, x0 + 1, y0 + 1, x1 - 1, y1 - 1, 3, &inside, &outside);
    EXPECT_EQ(inside, (long)(x1 - x0 - 2) * (y1 - y0 - 2));
    EXPECT_EQ(outside, 0);
}

TEST_F(FontFrameTest, OverflowFailsOneFrameOnly) {
    ASSERT_EQ(font->DrawText2D(std::string(1280, 'x').c_str(), 0xFFFFFFFF, 0, 1, 0, 0, 1, 0), S_OK);
    EXPECT_LT(graphics->UpdateAndRender(0.01f), 0);
    EXPECT_TRUE(Contains(log, "Too many chars for the VB"));
    EXPECT_TRUE(Contains(log, "Rendering failed"));
    ASSERT_EQ(font->DrawText2D("ok", 0xFFFFFFFF, 0xFFFFFFFF, 10, 0, 0, 1, 0), S_OK);
    std::vector<u32> p = Frame();
    ASSERT_FALSE(p.empty());
    long inside, outside;
    Count(p, 0, 0, 20, 10, 1, &inside, &outside);
    EXPECT_EQ(inside, 200);
    EXPECT_EQ(outside, 0);
}

}  // namespace
