// The graphics manager's interfaces: IGraphics (what the programs use) and
// IInternGraphics (what the core calls).  Single inheritance, one table:
//
//   0-3  IInterface: AddRef, Release, GetName, Clone
//   4    GetCore
//   5-8  SetRenderState, SetCamera, GetCamera, GetViewProj
//   9    IsWindowed
//   10-27 SetScreenMode ... GetD3DDevice
//   28   Init                (IInternGraphics)
//   29   UpdateScreenMode    (IInternGraphics)
//
// Only the operations the core needs are declared so far; the others take
// their places in the order above.
#pragma once

#include "zvplugin.h"
#include "zvstuff.h"
#include "zvwin32.h"

class ICore;

class IGraphics : public IInterface {
public:
    // The owning core; no reference is added.
    virtual ICore* GetCore() = 0;
    // The device's present parameters say windowed.
    virtual bool IsWindowed() = 0;
};

class IInternGraphics : public IGraphics {
public:
    // Called once by the core's CreateGraphics after the factory.
    virtual HRESULT Init(ICore* core, HWND window, const Vector<PlugIn>* geometryRegistry) = 0;
    // The window was moved or sized (or the device must be reset).
    virtual HRESULT UpdateScreenMode() = 0;
};
