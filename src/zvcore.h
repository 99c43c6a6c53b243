// The core: the program's one render window, the message pump, the clock,
// the active and running flags, and the three managers it creates from the
// plug-in registries.  ICore is what the programs use, IInternCore what the
// managers call.  CreateCore is the only way to make one.
//
// Calling order: CreateCore, Init, CreateGraphics / CreatePhysics /
// CreateInput, then every frame Update, IsRunning, IsActive and GetTime, and
// finally Release.  The core holds the managers without references of its
// own; each manager holds one reference to the core and detaches itself with
// RemoveManager from its destructor before it releases the core.
#pragma once

#include "zvgraphics.h"
#include "zvinput.h"
#include "zvphysics.h"
#include "zvplugin.h"
#include "zvstuff.h"
#include "zvwin32.h"

#define ZVENGINE_VERSION "0.30"

class ICore : public IInterface {
public:
    // Opens the render window (once).  A client size below 320 x 240 becomes
    // 640 x 480; one that does not fit the screen is reduced to it.
    virtual HRESULT Init(HINSTANCE instance, const String& title, u32 width, u32 height) = 0;
    // Runs the message pump: drains the queue when noWait or active, else
    // waits for messages until the window is activated or the program quits.
    // Always S_OK.
    virtual HRESULT Update(bool noWait) = 0;
    virtual bool IsActive() = 0;
    virtual bool IsRunning() = 0;
    // The managers once created, without AddRef.
    virtual IInternGraphics* GetGraphics() = 0;
    virtual IInternInput* GetInput() = 0;
    virtual IInternPhysics* GetPhysics() = 0;
    // Create the manager on the first call; later calls hand out the same
    // manager with one more reference.
    virtual HRESULT CreateGraphics(IGraphics** out) = 0;
    virtual HRESULT CreateInput(IInput** out) = 0;
    virtual HRESULT CreatePhysics(IPhysics** out) = 0;
    // Seconds since the start of the process; callers take differences.
    virtual double GetTime() = 0;
};

class IInternCore : public ICore {
public:
    // Back to the windowed style and rectangle: 0 done, 1 nothing done (full screen).
    virtual u32 RestoreWindowStyle() = 0;
    // A manager's destructor detaches it from the core.
    virtual HRESULT RemoveManager(IInterface* manager) = 0;
};

HRESULT CreateCore(ICore** out);

class ZVCore : public IInternCore {
public:
    ZVCore();

    u32 AddRef() override;
    u32 Release() override;
    const String& GetName() override;

    HRESULT Init(HINSTANCE instance, const String& title, u32 width, u32 height) override;
    HRESULT Update(bool noWait) override;
    bool IsActive() override { return bActive; }
    bool IsRunning() override { return bRunning; }
    IInternGraphics* GetGraphics() override { return pGraphics; }
    IInternInput* GetInput() override { return pInput; }
    IInternPhysics* GetPhysics() override { return pPhysics; }
    HRESULT CreateGraphics(IGraphics** out) override;
    HRESULT CreateInput(IInput** out) override;
    HRESULT CreatePhysics(IPhysics** out) override;
    double GetTime() override;

    u32 RestoreWindowStyle() override;
    HRESULT RemoveManager(IInterface* manager) override;

    // The window procedure of the core's window class.
    static LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    u32 nRef;
    IInternGraphics* pGraphics;
    IInternInput* pInput;
    IInternPhysics* pPhysics;
    bool bActive;
    bool bRunning;
    HINSTANCE hInstance;
    HWND hWnd;
    String strTitle;
    String strClassName;
    RECT rcWindowed;
    Vector<PlugIn> PlugInManagers;
    Vector<PlugIn> PlugInGeometries;

protected:
    ~ZVCore() override;

private:
    // A graphics manager whose device is not windowed.
    bool IsFullScreen();
    // Keeps the window's outer rectangle for the return from full screen.
    u32 SaveWindowedRect();
    void AcquireInput(bool acquire);
    template <typename Intern, typename Public, typename InitCall>
    HRESULT BindManager(CallScope& scope, Intern*& field, Public** out, const char* type, InitCall init);
};

// The window style and extended style of the windowed render window.
#define ZVCORE_WINDOW_STYLE 0x90CE0000u
#define ZVCORE_WINDOW_EXSTYLE 0x100u
