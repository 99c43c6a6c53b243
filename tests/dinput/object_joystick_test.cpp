// The DirectInput object (creation, enumeration, device creation, data
// formats) and game controllers, driven by SDL's virtual joysticks.
#include <vector>

#include "dinput_support.h"

namespace {

using ObjectTest = DInputTest;
using JoystickTest = DInputTest;

TEST(DirectInputCreate, VersionInterfaceAndArgumentsAreChecked) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0700, IID_IDirectInput8A, &out, nullptr), DIERR_OLDDIRECTINPUTVERSION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0900, IID_IDirectInput8A, &out, nullptr), DIERR_BETADIRECTINPUTVERSION);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0800, IID_IDirectInputDevice8A, &out, nullptr), DIERR_NOINTERFACE);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0800, IID_IDirectInput8A, nullptr, nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(out, nullptr);

    ASSERT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8, &out, nullptr), DI_OK);
    IDirectInput8A* di = static_cast<IDirectInput8A*>(out);
    void* again = nullptr;
    EXPECT_EQ(di->QueryInterface(IID_IDirectInputDevice8A, &again), E_NOINTERFACE);
    ASSERT_EQ(di->QueryInterface(IID_IDirectInput8A, &again), S_OK);
    EXPECT_EQ(again, out);
    EXPECT_EQ(di->Release(), 1u);
    EXPECT_EQ(di->Release(), 0u);
}

TEST(DataFormats, StandardSizes) {
    EXPECT_EQ(c_dfDIKeyboard.dwDataSize, 256u);
    EXPECT_EQ(c_dfDIMouse.dwDataSize, 16u);
    EXPECT_EQ(c_dfDIJoystick.dwDataSize, 80u);
    EXPECT_EQ(c_dfDIMouse.dwFlags, DIDF_RELAXIS);
    EXPECT_EQ(c_dfDIJoystick.dwFlags, DIDF_ABSAXIS);
    EXPECT_EQ(c_dfDIKeyboard.dwSize, sizeof(DIDATAFORMAT));
    EXPECT_EQ(offsetof(DIMOUSESTATE, rgbButtons), 12u);
    EXPECT_EQ(offsetof(DIJOYSTATE, rglSlider), 24u);
    EXPECT_EQ(offsetof(DIJOYSTATE, rgdwPOV), 32u);
    EXPECT_EQ(offsetof(DIJOYSTATE, rgbButtons), 48u);
}

TEST_F(ObjectTest, EachDeviceTakesOnlyItsOwnFormat) {
    IDirectInputDevice8A* kb = nullptr;
    IDirectInputDevice8A* ms = nullptr;
    ASSERT_EQ(di->CreateDevice(GUID_SysKeyboard, &kb, nullptr), DI_OK);
    ASSERT_EQ(di->CreateDevice(GUID_SysMouse, &ms, nullptr), DI_OK);
    EXPECT_EQ(kb->SetDataFormat(&c_dfDIMouse), DIERR_INVALIDPARAM);
    EXPECT_EQ(kb->SetDataFormat(&c_dfDIJoystick), DIERR_INVALIDPARAM);
    EXPECT_EQ(kb->SetDataFormat(nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(ms->SetDataFormat(&c_dfDIKeyboard), DIERR_INVALIDPARAM);
    DIDATAFORMAT copy = c_dfDIMouse;
    EXPECT_EQ(ms->SetDataFormat(&copy), DI_OK);
    copy.dwFlags = DIDF_ABSAXIS;
    EXPECT_EQ(ms->SetDataFormat(&copy), DIERR_INVALIDPARAM);
    EXPECT_EQ(kb->SetDataFormat(&c_dfDIKeyboard), DI_OK);
    EXPECT_EQ(ms->Acquire(), DI_OK);
    BYTE buffer[256];
    EXPECT_EQ(ms->GetDeviceState(256, buffer), DIERR_INVALIDPARAM);
    EXPECT_EQ(ms->GetDeviceState(16, buffer), DI_OK);
    kb->Release();
    ms->Release();
}

TEST_F(ObjectTest, DevicesHoldTheObjectUntilReleased) {
    IDirectInputDevice8A* kb = nullptr;
    ASSERT_EQ(di->CreateDevice(GUID_SysKeyboard, &kb, nullptr), DI_OK);
    EXPECT_EQ(di->AddRef(), 3u);  // ours, the fixture's and the device's
    EXPECT_EQ(di->Release(), 2u);
    EXPECT_EQ(kb->Release(), 0u);
    EXPECT_EQ(di->AddRef(), 2u);
    EXPECT_EQ(di->Release(), 1u);
}

TEST_F(ObjectTest, CreateDeviceChecksItsArguments) {
    IDirectInputDevice8A* d = reinterpret_cast<IDirectInputDevice8A*>(1);
    EXPECT_EQ(di->CreateDevice(GUID_Joystick, &d, nullptr), DIERR_DEVICENOTREG);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(di->CreateDevice(GUID_SysMouse, nullptr, nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(di->CreateDevice(GUID_SysMouse, &d, reinterpret_cast<IUnknown*>(di)), DIERR_NOAGGREGATION);
    EXPECT_EQ(di->GetDeviceStatus(GUID_SysKeyboard), DI_OK);
    EXPECT_EQ(di->GetDeviceStatus(GUID_Joystick), DIERR_DEVICENOTREG);
}

struct Found {
    std::vector<DIDEVICEINSTANCEA> devices;
    int stopAfter = 0;  // 0: never stop
};

BOOL Collect(LPCDIDEVICEINSTANCEA d, LPVOID context) {
    Found* f = static_cast<Found*>(context);
    f->devices.push_back(*d);
    return f->stopAfter && (int)f->devices.size() >= f->stopAfter ? DIENUM_STOP : DIENUM_CONTINUE;
}

TEST_F(ObjectTest, EnumerationByClassAndType) {
    Found all;
    ASSERT_EQ(di->EnumDevices(DI8DEVCLASS_ALL, Collect, &all, DIEDFL_ATTACHEDONLY), DI_OK);
    ASSERT_GE(all.devices.size(), 2u);
    EXPECT_EQ(all.devices[0].guidInstance, GUID_SysKeyboard);
    EXPECT_EQ(GET_DIDEVICE_TYPE(all.devices[0].dwDevType), DI8DEVTYPE_KEYBOARD);
    EXPECT_EQ(all.devices[1].guidInstance, GUID_SysMouse);
    EXPECT_EQ(GET_DIDEVICE_TYPE(all.devices[1].dwDevType), DI8DEVTYPE_MOUSE);
    EXPECT_EQ(all.devices[0].dwSize, sizeof(DIDEVICEINSTANCEA));

    Found first;
    first.stopAfter = 1;
    ASSERT_EQ(di->EnumDevices(DI8DEVCLASS_ALL, Collect, &first, 0), DI_OK);
    EXPECT_EQ(first.devices.size(), 1u);

    Found pointer;
    ASSERT_EQ(di->EnumDevices(DI8DEVCLASS_POINTER, Collect, &pointer, 0), DI_OK);
    ASSERT_EQ(pointer.devices.size(), 1u);
    EXPECT_EQ(pointer.devices[0].guidInstance, GUID_SysMouse);

    Found keyboards;
    ASSERT_EQ(di->EnumDevices(DI8DEVTYPE_KEYBOARD, Collect, &keyboards, 0), DI_OK);
    ASSERT_EQ(keyboards.devices.size(), 1u);

    Found none;
    EXPECT_EQ(di->EnumDevices(DI8DEVCLASS_ALL, Collect, &none, DIEDFL_FORCEFEEDBACK), DI_OK);
    EXPECT_TRUE(none.devices.empty());
    EXPECT_EQ(di->EnumDevices(0x99, Collect, &none, 0), DIERR_INVALIDPARAM);
    EXPECT_EQ(di->EnumDevices(DI8DEVCLASS_ALL, nullptr, &none, 0), DIERR_INVALIDPARAM);
}

TEST_F(JoystickTest, NoControllerAttachedEnumeratesNone) {
    if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a game controller is attached to this machine";
    Found found;
    EXPECT_EQ(di->EnumDevices(DI8DEVCLASS_GAMECTRL, Collect, &found, DIEDFL_ATTACHEDONLY), DI_OK);
    EXPECT_TRUE(found.devices.empty());
}

// The way the engine opens its joystick: the first controller that can be
// created stops the enumeration.
BOOL OpenFirst(LPCDIDEVICEINSTANCEA d, LPVOID context) {
    if (!context) return E_FAIL;  // any non-zero value goes on
    auto* pair = static_cast<std::pair<IDirectInput8A*, IDirectInputDevice8A*>*>(context);
    return pair->first->CreateDevice(d->guidInstance, &pair->second, nullptr) == DI_OK ? DIENUM_STOP
                                                                                      : DIENUM_CONTINUE;
}

class VirtualJoystickTest : public DInputTest {
protected:
    void SetUp() override {
        DInputTest::SetUp();
        if (HasFatalFailure()) return;
        before = SDL_NumJoysticks();
        index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 8, 12, 2);
        ASSERT_GE(index, 0) << SDL_GetError();
        std::pair<IDirectInput8A*, IDirectInputDevice8A*> ctx(di, nullptr);
        ASSERT_EQ(di->EnumDevices(DI8DEVCLASS_GAMECTRL, OpenFirst, nullptr, DIEDFL_ATTACHEDONLY), DI_OK);
        ASSERT_EQ(di->EnumDevices(DI8DEVCLASS_GAMECTRL, OpenFirst, &ctx, DIEDFL_ATTACHEDONLY), DI_OK);
        ASSERT_NE(ctx.second, nullptr);
        joystick = ctx.second;
        ASSERT_EQ(joystick->SetDataFormat(&c_dfDIJoystick), DI_OK);
        ASSERT_EQ(joystick->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_FOREGROUND), DI_OK);  // 5
        ASSERT_EQ(joystick->Acquire(), DI_OK);
        // The engine's joystick is the virtual one only when nothing else is attached.
        if (before > 0) GTEST_SKIP() << "a game controller is attached to this machine";
        sdl = SDL_JoystickOpen(index);
        ASSERT_NE(sdl, nullptr);
    }
    void TearDown() override {
        if (joystick) joystick->Release();
        if (sdl) SDL_JoystickClose(sdl);
        if (index >= 0 && attached) SDL_JoystickDetachVirtual(index);
        DInputTest::TearDown();
    }
    int before = 0;
    int index = -1;
    bool attached = true;
    SDL_Joystick* sdl = nullptr;
    IDirectInputDevice8A* joystick = nullptr;
};

TEST_F(VirtualJoystickTest, AxesHatsAndButtons) {
    SDL_JoystickSetVirtualAxis(sdl, 0, -32768);
    SDL_JoystickSetVirtualAxis(sdl, 1, 32767);
    SDL_JoystickSetVirtualAxis(sdl, 2, 0);
    SDL_JoystickSetVirtualAxis(sdl, 6, 16384);  // first slider
    SDL_JoystickSetVirtualHat(sdl, 0, SDL_HAT_RIGHTUP);
    SDL_JoystickSetVirtualHat(sdl, 1, SDL_HAT_LEFT);
    SDL_JoystickSetVirtualButton(sdl, 0, SDL_PRESSED);
    SDL_JoystickSetVirtualButton(sdl, 11, SDL_PRESSED);
    ASSERT_EQ(joystick->Poll(), DI_OK);
    DIJOYSTATE s;
    std::memset(&s, 0x55, sizeof(s));
    ASSERT_EQ(joystick->GetDeviceState(sizeof(s), &s), DI_OK);
    EXPECT_EQ(s.lX, 0);
    EXPECT_EQ(s.lY, 65535);
    EXPECT_EQ(s.lZ, 32768);
    EXPECT_EQ(s.rglSlider[0], 49152);
    EXPECT_EQ(s.rgdwPOV[0], 4500u);
    EXPECT_EQ(s.rgdwPOV[1], 27000u);
    EXPECT_EQ(s.rgdwPOV[2], 0xFFFFFFFFu);  // no such hat
    EXPECT_EQ(s.rgdwPOV[3], 0xFFFFFFFFu);
    for (int b = 0; b < 32; ++b) EXPECT_EQ(s.rgbButtons[b], b == 0 || b == 11 ? 0x80 : 0) << b;

    SDL_JoystickSetVirtualHat(sdl, 0, SDL_HAT_CENTERED);
    SDL_JoystickSetVirtualButton(sdl, 0, SDL_RELEASED);
    ASSERT_EQ(joystick->Poll(), DI_OK);
    ASSERT_EQ(joystick->GetDeviceState(sizeof(s), &s), DI_OK);
    EXPECT_EQ(s.rgdwPOV[0], 0xFFFFFFFFu);
    EXPECT_EQ(s.rgbButtons[0], 0);

    DIDEVCAPS caps = {};
    caps.dwSize = sizeof(caps);
    ASSERT_EQ(joystick->GetCapabilities(&caps), DI_OK);
    EXPECT_EQ(caps.dwAxes, 8u);
    EXPECT_EQ(caps.dwButtons, 12u);
    EXPECT_EQ(caps.dwPOVs, 2u);
    EXPECT_TRUE(caps.dwFlags & DIDC_ATTACHED);
}

TEST_F(VirtualJoystickTest, ExclusiveForegroundFollowsTheFocus) {
    IDirectInputDevice8A* other = nullptr;
    DIDEVICEINSTANCEA info = {};
    info.dwSize = sizeof(info);
    ASSERT_EQ(joystick->GetDeviceInfo(&info), DI_OK);
    EXPECT_EQ(GET_DIDEVICE_TYPE(info.dwDevType), DI8DEVTYPE_GAMEPAD);
    ASSERT_EQ(di->CreateDevice(info.guidInstance, &other, nullptr), DI_OK);
    ASSERT_EQ(other->SetDataFormat(&c_dfDIJoystick), DI_OK);
    ASSERT_EQ(other->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_FOREGROUND), DI_OK);
    EXPECT_EQ(other->Acquire(), DIERR_OTHERAPPHASPRIO);  // held exclusively by the first
    other->Release();

    ZVTestLoseFocus(window);
    PumpMessages();
    EXPECT_EQ(joystick->Poll(), DIERR_INPUTLOST);
    EXPECT_EQ(joystick->Poll(), DIERR_NOTACQUIRED);
    EXPECT_EQ(joystick->Acquire(), DIERR_OTHERAPPHASPRIO);
    ZVTestGainFocus(window);
    PumpMessages();
    EXPECT_EQ(joystick->Acquire(), DI_OK);
    EXPECT_EQ(joystick->Poll(), DI_OK);
}

TEST_F(VirtualJoystickTest, DetachedControllerIsUnplugged) {
    DIDEVICEINSTANCEA info = {};
    info.dwSize = sizeof(info);
    ASSERT_EQ(joystick->GetDeviceInfo(&info), DI_OK);
    EXPECT_EQ(di->GetDeviceStatus(info.guidInstance), DI_OK);
    SDL_JoystickClose(sdl);
    sdl = nullptr;
    ASSERT_EQ(SDL_JoystickDetachVirtual(index), 0);
    attached = false;
    PumpMessages();
    EXPECT_EQ(joystick->Poll(), DIERR_UNPLUGGED);
    DIJOYSTATE s;
    EXPECT_EQ(joystick->GetDeviceState(sizeof(s), &s), DIERR_INPUTLOST);
    EXPECT_EQ(joystick->GetDeviceState(sizeof(s), &s), DIERR_NOTACQUIRED);
    EXPECT_EQ(joystick->Acquire(), DIERR_UNPLUGGED);
    EXPECT_EQ(di->GetDeviceStatus(info.guidInstance), DIERR_DEVICENOTREG);
    IDirectInputDevice8A* again = nullptr;
    EXPECT_EQ(di->CreateDevice(info.guidInstance, &again, nullptr), DIERR_DEVICENOTREG);
}

}  // namespace
