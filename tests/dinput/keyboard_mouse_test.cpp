// The system keyboard and mouse: state bytes from injected key and button
// events, motion and wheel sums, and acquisition following the focus.
#include <set>
#include <utility>
#include <vector>

#include "dinput_support.h"

namespace {

using KeyboardTest = DInputTest;
using MouseTest = DInputTest;
using AcquisitionTest = DInputTest;

TEST(ScanCodes, EveryMappedKeyHasItsOwnCode) {
    // Two pairs of SDL keys are the same physical key position; every other
    // key must have a scan code no other key has.
    std::set<std::pair<int, int>> sameKey = {{SDL_SCANCODE_BACKSLASH, SDL_SCANCODE_NONUSHASH},
                                             {SDL_SCANCODE_APPLICATION, SDL_SCANCODE_MENU}};
    std::vector<int> owner(256, -1);
    int mapped = 0;
    for (int sc = 0; sc < SDL_NUM_SCANCODES; ++sc) {
        BYTE code = ZVDInputScanCode((SDL_Scancode)sc);
        if (!code) continue;
        ++mapped;
        if (owner[code] >= 0)
            EXPECT_TRUE(sameKey.count({owner[code], sc})) << "scancodes " << owner[code] << " and " << sc;
        else
            owner[code] = sc;
    }
    EXPECT_GE(mapped, 104);  // a full-size keyboard
    EXPECT_EQ(ZVDInputScanCode(SDL_SCANCODE_UNKNOWN), 0);
}

TEST(ScanCodes, StandardAndExtendedKeys) {
    struct Case {
        SDL_Scancode sc;
        int code;
    } cases[] = {
        {SDL_SCANCODE_ESCAPE, 0x01}, {SDL_SCANCODE_1, 0x02}, {SDL_SCANCODE_0, 0x0B}, {SDL_SCANCODE_Q, 0x10},
        {SDL_SCANCODE_A, 0x1E}, {SDL_SCANCODE_Z, 0x2C}, {SDL_SCANCODE_M, 0x32}, {SDL_SCANCODE_RETURN, 0x1C},
        {SDL_SCANCODE_LCTRL, 0x1D}, {SDL_SCANCODE_LSHIFT, 0x2A}, {SDL_SCANCODE_RSHIFT, 0x36},
        {SDL_SCANCODE_LALT, 0x38}, {SDL_SCANCODE_SPACE, 0x39}, {SDL_SCANCODE_F1, 0x3B}, {SDL_SCANCODE_F10, 0x44},
        {SDL_SCANCODE_F11, 0x57}, {SDL_SCANCODE_F12, 0x58}, {SDL_SCANCODE_GRAVE, 0x29},
        // keypad
        {SDL_SCANCODE_KP_0, 0x52}, {SDL_SCANCODE_KP_1, 0x4F}, {SDL_SCANCODE_KP_5, 0x4C}, {SDL_SCANCODE_KP_9, 0x49},
        {SDL_SCANCODE_KP_MULTIPLY, 0x37}, {SDL_SCANCODE_KP_MINUS, 0x4A}, {SDL_SCANCODE_KP_PLUS, 0x4E},
        {SDL_SCANCODE_KP_PERIOD, 0x53}, {SDL_SCANCODE_NUMLOCKCLEAR, 0x45},
        // extended keys
        {SDL_SCANCODE_KP_ENTER, 0x9C}, {SDL_SCANCODE_KP_DIVIDE, 0xB5}, {SDL_SCANCODE_RCTRL, 0x9D},
        {SDL_SCANCODE_RALT, 0xB8}, {SDL_SCANCODE_UP, 0xC8}, {SDL_SCANCODE_DOWN, 0xD0}, {SDL_SCANCODE_LEFT, 0xCB},
        {SDL_SCANCODE_RIGHT, 0xCD}, {SDL_SCANCODE_HOME, 0xC7}, {SDL_SCANCODE_END, 0xCF},
        {SDL_SCANCODE_PAGEUP, 0xC9}, {SDL_SCANCODE_PAGEDOWN, 0xD1}, {SDL_SCANCODE_INSERT, 0xD2},
        {SDL_SCANCODE_DELETE, 0xD3}, {SDL_SCANCODE_LGUI, 0xDB}, {SDL_SCANCODE_RGUI, 0xDC},
        {SDL_SCANCODE_APPLICATION, 0xDD}, {SDL_SCANCODE_PRINTSCREEN, 0xB7}, {SDL_SCANCODE_PAUSE, 0xC5},
    };
    for (const Case& c : cases) EXPECT_EQ(ZVDInputScanCode(c.sc), c.code) << SDL_GetScancodeName(c.sc);
}

TEST_F(KeyboardTest, EachInjectedKeySetsExactlyItsByte) {
    MakeKeyboard();
    ASSERT_NE(keyboard, nullptr);
    const SDL_Scancode keys[] = {SDL_SCANCODE_W, SDL_SCANCODE_ESCAPE, SDL_SCANCODE_SPACE, SDL_SCANCODE_F11,
                                 SDL_SCANCODE_UP, SDL_SCANCODE_PAGEDOWN, SDL_SCANCODE_DELETE, SDL_SCANCODE_RCTRL,
                                 SDL_SCANCODE_RALT, SDL_SCANCODE_KP_ENTER, SDL_SCANCODE_KP_DIVIDE,
                                 SDL_SCANCODE_KP_7, SDL_SCANCODE_KP_0, SDL_SCANCODE_RGUI, SDL_SCANCODE_APPLICATION};
    BYTE state[256];
    for (SDL_Scancode sc : keys) {
        BYTE code = ZVDInputScanCode(sc);
        Key(sc, true);
        ASSERT_EQ(ReadKeys(state), DI_OK);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(state[i], i == code ? 0x80 : 0) << SDL_GetScancodeName(sc) << " byte " << i;
        Key(sc, false);
        ASSERT_EQ(ReadKeys(state), DI_OK);
        EXPECT_EQ(state[code], 0) << SDL_GetScancodeName(sc);
    }
}

TEST_F(KeyboardTest, HeldKeysStayDownAcrossReadsAndCombine) {
    MakeKeyboard();
    Key(SDL_SCANCODE_LSHIFT, true);
    Key(SDL_SCANCODE_A, true);
    Key(SDL_SCANCODE_RIGHT, true);
    BYTE state[256];
    for (int read = 0; read < 2; ++read) {
        ASSERT_EQ(ReadKeys(state), DI_OK);
        EXPECT_EQ(state[DIK_LSHIFT], 0x80);
        EXPECT_EQ(state[DIK_A], 0x80);
        EXPECT_EQ(state[DIK_RIGHT], 0x80);
        EXPECT_EQ(state[DIK_NUMPAD6], 0);  // the keypad key shares the arrow's low code
    }
    Key(SDL_SCANCODE_A, false);
    ASSERT_EQ(ReadKeys(state), DI_OK);
    EXPECT_EQ(state[DIK_A], 0);
    EXPECT_EQ(state[DIK_LSHIFT], 0x80);
    Key(SDL_SCANCODE_LSHIFT, false);
    Key(SDL_SCANCODE_RIGHT, false);
}

TEST_F(KeyboardTest, KeyboardIsNotAPolledDevice) {
    MakeKeyboard();
    EXPECT_EQ(keyboard->Poll(), S_FALSE);
    EXPECT_EQ(keyboard->Unacquire(), DI_OK);
    EXPECT_EQ(keyboard->Poll(), DIERR_NOTACQUIRED);
}

TEST_F(MouseTest, MotionAndWheelAreSummedAndResetByEachRead) {
    MakeMouse();
    ASSERT_NE(mouse, nullptr);
    ZVTestPushMouseMotion(window, 5, -3);
    ZVTestPushMouseMotion(window, 7, 10);
    ZVTestPushMouseWheel(window, 1);
    ZVTestPushMouseWheel(window, 2);
    PumpMessages();
    DIMOUSESTATE s;
    ASSERT_EQ(ReadMouse(&s), DI_OK);
    EXPECT_EQ(s.lX, 12);
    EXPECT_EQ(s.lY, 7);
    EXPECT_EQ(s.lZ, 360);
    ASSERT_EQ(ReadMouse(&s), DI_OK);
    EXPECT_EQ(s.lX, 0);
    EXPECT_EQ(s.lY, 0);
    EXPECT_EQ(s.lZ, 0);
    ZVTestPushMouseWheel(window, -1);
    ZVTestPushMouseMotion(window, -4, 0);
    PumpMessages();
    ASSERT_EQ(ReadMouse(&s), DI_OK);
    EXPECT_EQ(s.lX, -4);
    EXPECT_EQ(s.lZ, -120);
}

TEST_F(MouseTest, ButtonsLeftRightMiddleX1) {
    MakeMouse();
    const Uint8 buttons[] = {SDL_BUTTON_LEFT, SDL_BUTTON_RIGHT, SDL_BUTTON_MIDDLE, SDL_BUTTON_X1};
    DIMOUSESTATE s;
    for (int i = 0; i < 4; ++i) {
        ZVTestPushMouseButton(window, buttons[i], true);
        PumpMessages();
        ASSERT_EQ(ReadMouse(&s), DI_OK);
        for (int b = 0; b < 4; ++b) EXPECT_EQ(s.rgbButtons[b], b <= i ? 0x80 : 0) << "after button " << i;
    }
    ZVTestPushMouseButton(window, SDL_BUTTON_X2, true);  // no place in the 4-button record
    ZVTestPushMouseButton(window, SDL_BUTTON_RIGHT, false);
    PumpMessages();
    ASSERT_EQ(ReadMouse(&s), DI_OK);
    EXPECT_EQ(s.rgbButtons[0], 0x80);
    EXPECT_EQ(s.rgbButtons[1], 0);
    EXPECT_EQ(s.rgbButtons[2], 0x80);
    EXPECT_EQ(s.rgbButtons[3], 0x80);
    for (Uint8 b : buttons) ZVTestPushMouseButton(window, b, false);
    PumpMessages();
    ASSERT_EQ(ReadMouse(&s), DI_OK);
    for (BYTE b : s.rgbButtons) EXPECT_EQ(b, 0);
}

TEST_F(MouseTest, MotionWhileNotAcquiredIsNotReported) {
    MakeMouse();
    EXPECT_EQ(mouse->Unacquire(), DI_OK);
    ZVTestPushMouseMotion(window, 30, 30);
    PumpMessages();
    EXPECT_EQ(mouse->Acquire(), DI_OK);
    ZVTestPushMouseMotion(window, 1, 2);
    PumpMessages();
    DIMOUSESTATE s;
    ASSERT_EQ(ReadMouse(&s), DI_OK);
    EXPECT_EQ(s.lX, 1);
    EXPECT_EQ(s.lY, 2);
}

TEST_F(MouseTest, TwoMiceEachSumTheirOwnMotion) {
    MakeMouse();
    IDirectInputDevice8A* second = Make(GUID_SysMouse);
    ASSERT_NE(second, nullptr);
    ZVTestPushMouseMotion(window, 3, 4);
    PumpMessages();
    DIMOUSESTATE s;
    ASSERT_EQ(ReadMouse(&s), DI_OK);
    EXPECT_EQ(s.lX, 3);
    ASSERT_EQ(second->GetDeviceState(sizeof(s), &s), DI_OK);
    EXPECT_EQ(s.lX, 3);
    EXPECT_EQ(s.lY, 4);
    second->Release();
}

TEST_F(AcquisitionTest, LosingTheFocusUnacquiresForegroundDevices) {
    MakeKeyboard();
    MakeMouse();
    IDirectInputDevice8A* background = Make(GUID_SysKeyboard, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND);
    ASSERT_NE(background, nullptr);
    Key(SDL_SCANCODE_A, true);

    ZVTestLoseFocus(window);
    PumpMessages();
    ASSERT_EQ(GetForegroundWindow(), nullptr);
    BYTE state[256];
    EXPECT_EQ(ReadKeys(state), DIERR_INPUTLOST);
    EXPECT_EQ(ReadKeys(state), DIERR_NOTACQUIRED);
    DIMOUSESTATE s;
    EXPECT_EQ(ReadMouse(&s), DIERR_INPUTLOST);
    // Another program has the foreground: no acquisition until it comes back.
    EXPECT_EQ(keyboard->Acquire(), DIERR_OTHERAPPHASPRIO);
    EXPECT_EQ(keyboard->Acquire(), E_ACCESSDENIED);
    EXPECT_EQ(mouse->Acquire(), DIERR_OTHERAPPHASPRIO);
    // A background device goes on reading; the key held when the focus went
    // is forgotten, its release would never reach us.
    ASSERT_EQ(background->GetDeviceState(256, state), DI_OK);
    EXPECT_EQ(state[DIK_A], 0);

    ZVTestGainFocus(window);
    PumpMessages();
    ASSERT_EQ(GetForegroundWindow(), window);
    EXPECT_EQ(keyboard->Acquire(), DI_OK);
    EXPECT_EQ(keyboard->Acquire(), S_FALSE);  // already acquired
    EXPECT_EQ(ReadKeys(state), DI_OK);
    EXPECT_EQ(mouse->Acquire(), DI_OK);
    EXPECT_EQ(ReadMouse(&s), DI_OK);
    background->Release();
}

TEST_F(AcquisitionTest, WindowProcedureReacquiresOnActivation) {
    MakeKeyboard();
    g_acquireOnActivation = keyboard;
    ZVTestLoseFocus(window);
    PumpMessages();
    ZVTestGainFocus(window);
    PumpMessages();
    ASSERT_EQ(g_activationResults.size(), 2u);
    EXPECT_EQ(g_activationResults[0], DI_OK);  // given up while still acquired
    EXPECT_EQ(g_activationResults[1], DI_OK);  // the window is the foreground window again
    Key(SDL_SCANCODE_B, true);
    BYTE state[256];
    ASSERT_EQ(ReadKeys(state), DI_OK);
    EXPECT_EQ(state[DIK_B], 0x80);
    Key(SDL_SCANCODE_B, false);
}

TEST_F(AcquisitionTest, MinimisingUnacquiresAndMotionMeanwhileIsDropped) {
    MakeMouse();
    ZVTestMinimize(window);
    PumpMessages();
    ZVTestPushMouseMotion(window, 9, 9);
    PumpMessages();
    DIMOUSESTATE s;
    EXPECT_EQ(ReadMouse(&s), DIERR_INPUTLOST);
    EXPECT_EQ(mouse->Acquire(), DIERR_OTHERAPPHASPRIO);
    ZVTestRestore(window);
    PumpMessages();
    if (GetForegroundWindow() != window) SetForegroundWindow(window);
    ASSERT_EQ(GetForegroundWindow(), window);
    EXPECT_EQ(mouse->Acquire(), DI_OK);
    ASSERT_EQ(ReadMouse(&s), DI_OK);
    EXPECT_EQ(s.lX, 0);
}

TEST_F(AcquisitionTest, ReadingANeverAcquiredDeviceFailsCleanly) {
    IDirectInputDevice8A* d = nullptr;
    ASSERT_EQ(di->CreateDevice(GUID_SysKeyboard, &d, nullptr), DI_OK);
    BYTE state[256];
    // No data format yet: neither acquisition nor reading.
    EXPECT_EQ(d->GetDeviceState(256, state), DIERR_INVALIDPARAM);
    EXPECT_EQ(d->Acquire(), DIERR_INVALIDPARAM);
    EXPECT_EQ(d->Poll(), DIERR_NOTACQUIRED);
    ASSERT_EQ(d->SetDataFormat(&c_dfDIKeyboard), DI_OK);
    EXPECT_EQ(d->GetDeviceState(256, state), DIERR_NOTACQUIRED);
    EXPECT_EQ(d->GetDeviceState(256, nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(d->GetDeviceState(16, state), DIERR_INVALIDPARAM);
    EXPECT_EQ(d->Unacquire(), S_FALSE);
    // Without a cooperative level the device works in the background.
    EXPECT_EQ(d->Acquire(), DI_OK);
    EXPECT_EQ(d->GetDeviceState(256, state), DI_OK);
    d->Release();
}

TEST_F(AcquisitionTest, CooperativeLevelsAreChecked) {
    IDirectInputDevice8A* d = nullptr;
    ASSERT_EQ(di->CreateDevice(GUID_SysMouse, &d, nullptr), DI_OK);
    EXPECT_EQ(d->SetCooperativeLevel(window, DISCL_FOREGROUND), DIERR_INVALIDPARAM);
    EXPECT_EQ(d->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_FOREGROUND),
              DIERR_INVALIDPARAM);
    EXPECT_EQ(d->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_BACKGROUND),
              DIERR_INVALIDPARAM);
    EXPECT_EQ(d->SetCooperativeLevel(window, 0x100 | DISCL_NONEXCLUSIVE | DISCL_FOREGROUND), DIERR_INVALIDPARAM);
    EXPECT_EQ(d->SetCooperativeLevel(nullptr, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND), E_HANDLE);
    EXPECT_EQ(d->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_BACKGROUND), DIERR_UNSUPPORTED);
    EXPECT_EQ(d->SetCooperativeLevel(nullptr, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);
    EXPECT_EQ(d->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND), DI_OK);  // 6
    EXPECT_EQ(d->SetDataFormat(&c_dfDIMouse), DI_OK);
    EXPECT_EQ(d->Acquire(), DI_OK);
    EXPECT_EQ(d->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DIERR_ACQUIRED);
    EXPECT_EQ(d->SetDataFormat(&c_dfDIMouse), DIERR_ACQUIRED);
    d->Release();
}

TEST_F(AcquisitionTest, DestroyedWindowLosesTheDevice) {
    MakeKeyboard();
    DestroyWindow(window);
    PumpMessages();
    BYTE state[256];
    EXPECT_EQ(ReadKeys(state), DIERR_INPUTLOST);
    EXPECT_EQ(keyboard->Acquire(), DIERR_OTHERAPPHASPRIO);
}

}  // namespace
