// ZVInput: the input manager on DirectInput 8.  Keyboard and mouse are the
// system devices, shared with other applications (non-exclusive) and read
// only while the window is in the foreground; the joystick is the first
// attached game controller that can be opened, held exclusively in the
// foreground.  The core creates the manager from the "Input" plug-in record
// and calls Acquire when the window gains or loses activity.
#pragma once

#include "zvdinput.h"
#include "zvinput.h"

class ZVInput : public IInternInput {
public:
    // The manager factory of the plug-in record: a new manager with one
    // reference, null when the allocation fails.
    static IInterface* Create();

    u32 AddRef() override;
    u32 Release() override;
    const String& GetName() override;

    ICore* GetCore() override { return pCore; }
    HRESULT UseDevices(u32 flags, u32* made) override;
    HRESULT GetKeyboardState(u8* keys) override;
    HRESULT GetMouseState(DIMOUSESTATE* state) override;
    HRESULT GetJoystickState(DIJOYSTATE* state) override;
    HRESULT Init(ICore* core, HINSTANCE instance, HWND window) override;
    u32 Acquire(bool acquire) override;

    u32 nRef;
    ICore* pCore;
    HWND hWnd;
    IDirectInput8A* pDI;
    IDirectInputDevice8A* pKeyboard;
    IDirectInputDevice8A* pMouse;
    IDirectInputDevice8A* pJoystick;

protected:
    ZVInput();
    ~ZVInput() override;

private:
    // EnumDevices callback: opens the controller into the context's
    // pJoystick and stops at the first one that opens.
    static BOOL EnumJoystick(LPCDIDEVICEINSTANCEA instance, LPVOID context);

    ZVInput(const ZVInput&) = delete;
    ZVInput& operator=(const ZVInput&) = delete;
};
