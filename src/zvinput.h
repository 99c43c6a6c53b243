// The input manager's interfaces: IInput (what the programs use) and
// IInternInput (what the core calls).  Single inheritance, one table:
//
//   0-3  IInterface: AddRef, Release, GetName, Clone
//   4    GetCore
//   5-8  UseDevices, GetKeyboardState, GetMouseState, GetJoystickState
//   9    Init     (IInternInput)
//   10   Acquire  (IInternInput)
//
// Only the operations the core needs are declared so far; the others take
// their places in the order above.
#pragma once

#include "zvstuff.h"
#include "zvwin32.h"

class ICore;

class IInput : public IInterface {
public:
    // The owning core; no reference is added.
    virtual ICore* GetCore() = 0;
};

class IInternInput : public IInput {
public:
    // Called once by the core's CreateInput after the factory.
    virtual HRESULT Init(ICore* core, HINSTANCE instance, HWND window) = 0;
    // Acquires (true) or gives up (false) the devices; always 0.
    virtual u32 Acquire(bool acquire) = 0;
};
