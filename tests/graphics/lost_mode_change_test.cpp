// A screen-mode change asked for while the full-screen device is lost: the
// frames are skipped until the device can be reset, and the reset then takes
// the new mode.
#include "graphics_support.h"

using gfxtest::Contains;
using gfxtest::GraphicsTest;

namespace {

TEST_F(GraphicsTest, AModeChangeOnALostDeviceWaitsForTheReset) {
    IPhysics* physics = nullptr;
    FullScreenAtDesktopSize(&physics);
    if (HasFatalFailure()) return;

    IDirect3DDevice9* device = graphics->GetD3DDevice();
    ZVD3D9TestLoseDevice(device);
    log.clear();
    // Back to a window (as F11 asks) while the device is lost: not a failure.
    DisplaySettings window(0, 1, 0, 0);
    EXPECT_EQ(graphics->SetScreenMode(&window, false, true), S_FALSE) << log;
    EXPECT_TRUE(zv->bModeChangePending);
    EXPECT_TRUE(Contains(log, "the screen mode changes when the device can be reset")) << log;
    EXPECT_FALSE(Contains(log, "Error")) << log;

    // Frames are skipped while the device stays lost, whatever is pending.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_FALSE) << log;
    EXPECT_TRUE(Contains(log, "Device Lost")) << log;
    EXPECT_FALSE(Contains(log, "Reset() failed")) << log;
    EXPECT_FALSE(Contains(log, "Error")) << log;
    EXPECT_TRUE(zv->bModeChangePending);

    // The device can be reset again: the next frame resets it into the
    // windowed mode and draws.
    ZVD3D9TestRegainDevice(device);
    log.clear();
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;
    EXPECT_TRUE(Contains(log, "Device To Reset")) << log;
    EXPECT_FALSE(Contains(log, "Error")) << log;
    EXPECT_FALSE(zv->bModeChangePending);
    EXPECT_TRUE(graphics->IsWindowed());
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(graphics->GetD3DDevice(), device);
    EXPECT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;
    physics->Release();
}

}  // namespace
