// A full-screen graphics manager and the activation of the core's window:
// focus taken away and given back through the window layer loses the device
// and lets the frame reset it, in step with what the core itself sees.
#include "graphics_support.h"
#include "zvphysics.h"
#include "zvwin32test.h"

using gfxtest::Contains;
using gfxtest::GraphicsTest;

namespace {

TEST_F(GraphicsTest, FocusTakenThroughTheWindowLosesAndRecoversTheFullScreenDevice) {
    ZVCore* zvCore = dynamic_cast<ZVCore*>(core);
    ASSERT_NE(zvCore, nullptr);
    const HWND window = zvCore->hWnd;
    IPhysics* physics = nullptr;
    ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
    D3DDISPLAYMODE mode = {};
    ASSERT_EQ(zv->pD3D->GetAdapterDisplayMode(0, &mode), D3D_OK);
    DisplaySettings s(0, 0, mode.Width, mode.Height);
    ASSERT_EQ(graphics->SetScreenMode(&s, false, true), S_OK) << log;
    ASSERT_FALSE(graphics->IsWindowed());
    ASSERT_EQ(core->Update(true), S_OK);
    ASSERT_EQ(GetForegroundWindow(), window);
    ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;

    ZVTestLoseFocus(window);
    ASSERT_EQ(core->Update(true), S_OK);
    EXPECT_FALSE(core->IsActive());
    log.clear();
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_FALSE);
    EXPECT_TRUE(Contains(log, "Warning : \"Device Lost\"")) << log;

    ZVTestGainFocus(window);
    ASSERT_EQ(core->Update(true), S_OK);
    EXPECT_TRUE(core->IsActive());
    log.clear();
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;
    EXPECT_TRUE(Contains(log, "Warning : \"Device To Reset\"")) << log;
    EXPECT_EQ(graphics->GetD3DDevice()->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;

    // Back to a window before the core goes.
    ASSERT_EQ(Windowed(), S_OK);
    physics->Release();
}

}  // namespace
