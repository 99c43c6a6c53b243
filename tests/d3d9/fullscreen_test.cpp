// A full-screen device and its window: the switch to and from full screen
// goes through the window layer (the window procedure sees no size-move of
// its own and the windowed placement is kept), and the device is lost and
// regained exactly when the window layer says the window stopped and
// started being the active one.
#include <chrono>
#include <vector>

#include "d3d9_support.h"
#include "zvwin32test.h"

namespace {

using d3d9test::D3D9Test;

std::vector<UINT> g_messages;

LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_messages.push_back(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

// Dispatches every waiting message, and keeps at it for `ms` so that the
// windowing system's late events arrive too.
void Pump(int ms = 0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    MSG msg;
    do {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (ms) SDL_Delay(5);
    } while (std::chrono::steady_clock::now() < end);
}

size_t CountOf(UINT message) {
    size_t n = 0;
    for (UINT m : g_messages) n += m == message;
    return n;
}

class FullScreenTest : public D3D9Test {
protected:
    void SetUp() override {
        D3D9Test::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
        Pump(30);
        ASSERT_EQ(GetForegroundWindow(), window_);
        g_messages.clear();
    }
    void TearDown() override {
        if (other_) DestroyWindow(other_);
        D3D9Test::TearDown();
    }

    D3DPRESENT_PARAMETERS FullScreenParameters() {
        D3DDISPLAYMODE mode = {};
        EXPECT_EQ(d3d_->GetAdapterDisplayMode(0, &mode), D3D_OK);
        D3DPRESENT_PARAMETERS pp = WindowedParameters();
        pp.Windowed = FALSE;
        pp.BackBufferWidth = mode.Width;
        pp.BackBufferHeight = mode.Height;
        return pp;
    }
    void GoFullScreen() {
        D3DPRESENT_PARAMETERS pp = FullScreenParameters();
        ASSERT_EQ(device_->Reset(&pp), D3D_OK);
        ASSERT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    }
    bool SdlFullScreen() { return (SDL_GetWindowFlags(ZVWin32GetSDLWindow(window_)) & SDL_WINDOW_FULLSCREEN) != 0; }

    HWND other_ = nullptr;
};

TEST_F(FullScreenTest, SwitchingKeepsTheWindowedPlacementAndSendsNoSizeMove) {
    RECT before = {};
    ASSERT_TRUE(GetWindowRect(window_, &before));
    GoFullScreen();
    EXPECT_TRUE(SdlFullScreen());
    // Straight back, before the windowing system reported the full-screen
    // geometry: its late reports must not pass for the user's sizing.
    pp_ = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp_), D3D_OK);
    EXPECT_FALSE(SdlFullScreen());
    Pump(200);
    GoFullScreen();
    Pump(200);
    pp_ = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp_), D3D_OK);
    Pump(200);
    EXPECT_FALSE(SdlFullScreen());
    EXPECT_EQ(CountOf(WM_ENTERSIZEMOVE), 0u);
    EXPECT_EQ(CountOf(WM_SIZE), 0u);
    EXPECT_EQ(CountOf(WM_MOVE), 0u);
    RECT after = {};
    ASSERT_TRUE(GetWindowRect(window_, &after));
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
    int w = 0, h = 0;
    SDL_GetWindowSize(ZVWin32GetSDLWindow(window_), &w, &h);
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    EXPECT_EQ(GetForegroundWindow(), window_);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
}

TEST_F(FullScreenTest, LossFollowsTheForegroundWindowSetByCalls) {
    GoFullScreen();
    other_ = d3d9test::MakeWindow(40, 30);
    ASSERT_NE(other_, nullptr);
    // A visible new window of an active program takes the foreground.
    ASSERT_EQ(GetForegroundWindow(), other_);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    D3DPRESENT_PARAMETERS pp = FullScreenParameters();
    EXPECT_EQ(device_->Reset(&pp), D3DERR_DEVICELOST);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    ASSERT_TRUE(SetForegroundWindow(window_));
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    pp_ = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp_), D3D_OK);
    // A windowed device is never lost.
    ASSERT_TRUE(SetForegroundWindow(other_));
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
}

TEST_F(FullScreenTest, AMinimiseAndRestoreBetweenTwoChecksStillLosesTheDevice) {
    GoFullScreen();
    ShowWindow(window_, SW_MINIMIZE);
    ShowWindow(window_, SW_RESTORE);
    ASSERT_EQ(GetForegroundWindow(), window_);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    pp_ = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp_), D3D_OK);
    Pump(50);
}

TEST_F(FullScreenTest, InjectedFocusChangesAndMinimiseReachTheDeviceThroughTheWindow) {
    GoFullScreen();
    ZVTestLoseFocus(window_);
    Pump();
    ASSERT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    ZVTestGainFocus(window_);
    Pump();
    ASSERT_EQ(GetForegroundWindow(), window_);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    D3DPRESENT_PARAMETERS pp = FullScreenParameters();
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);

    ZVTestMinimize(window_);
    Pump();
    ASSERT_TRUE(IsIconic(window_));
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    ZVTestRestore(window_);
    Pump();
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    pp_ = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp_), D3D_OK);
}

TEST_F(FullScreenTest, AFocusEventTheWindowLayerIgnoresLeavesTheDeviceAlone) {
    GoFullScreen();
    // A focus report of the windowing system that does not hold (the window
    // still has the keyboard focus, or no window manager moves the focus):
    // the window stays active, and so does the device.
    ZVTestPushWindowEvent(window_, SDL_WINDOWEVENT_FOCUS_LOST);
    Pump();
    ASSERT_EQ(GetForegroundWindow(), window_);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    pp_ = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp_), D3D_OK);
}

}  // namespace
