// A full-screen graphics manager and the activation of the core's window:
// focus taken away and given back through the window layer loses the device
// and lets the frame reset it, in step with what the core itself sees.
#include "graphics_support.h"
#include "zvwin32test.h"

using gfxtest::Contains;
using gfxtest::GraphicsTest;

namespace {

TEST_F(GraphicsTest, FocusTakenThroughTheWindowLosesAndRecoversTheFullScreenDevice) {
    ZVCore* zvCore = dynamic_cast<ZVCore*>(core);
    ASSERT_NE(zvCore, nullptr);
    const HWND window = zvCore->hWnd;
    IPhysics* physics = nullptr;
    FullScreenAtDesktopSize(&physics);
    if (HasFatalFailure()) return;
    ASSERT_EQ(core->Update(true), S_OK);
    ASSERT_EQ(GetForegroundWindow(), window);

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
