// The input manager's interfaces: IInput (what the programs use) and
// IInternInput (what the core calls).  Single inheritance, one table:
//
//   0-3  IInterface: AddRef, Release, GetName, Clone
//   4    GetCore
//   5-8  UseDevices, GetKeyboardState, GetMouseState, GetJoystickState
//   9    Init     (IInternInput)
//   10   Acquire  (IInternInput)
//
// The programs poll: they choose their devices once with UseDevices and then
// read the whole keyboard and the mouse motion since the previous read on
// their input tick.  There is no event queue.
#pragma once

#include "zvdinput.h"
#include "zvstuff.h"
#include "zvwin32.h"

class ICore;

// The devices asked of UseDevices and reported as made by it.  Other bits
// are ignored.
enum DeviceFlags : u32 {
    DEVICE_KEYBOARD = 2,
    DEVICE_MOUSE = 4,
    DEVICE_JOYSTICK = 8,
};

class IInput : public IInterface {
public:
    // The owning core; no reference is added.
    virtual ICore* GetCore() = 0;
    // Makes the devices asked for in `flags` (DeviceFlags) that do not exist
    // yet, gives up those not asked for, and acquires them all.  *made (when
    // not null) receives the flags of the devices this call created.  A
    // joystick is made only when a game controller is attached.
    virtual HRESULT UseDevices(u32 flags, u32* made) = 0;
    // 256 bytes, one per DirectInput scan code (DIK_*), 0x80 while down.
    // E_FAIL without a log entry while another application has the keyboard.
    virtual HRESULT GetKeyboardState(u8* keys) = 0;
    // Motion since the previous read (lX, lY, lZ: wheel, 120 per notch) and
    // the buttons (0x80 while down).
    virtual HRESULT GetMouseState(DIMOUSESTATE* state) = 0;
    // Absolute axes, sliders, hats and buttons of the joystick.  S_FALSE when
    // nothing was read this time (unplugged, or it had to be acquired again).
    virtual HRESULT GetJoystickState(DIJOYSTATE* state) = 0;
};

class IInternInput : public IInput {
public:
    // Called once by the core's CreateInput after the factory.
    virtual HRESULT Init(ICore* core, HINSTANCE instance, HWND window) = 0;
    // Acquires (true) or gives up (false) the devices; always 0.
    virtual u32 Acquire(bool acquire) = 0;
};
