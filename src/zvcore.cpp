// The core: window, message pump, clock and manager creation.
#include "zvcore.h"

#include <cstring>
#include <ctime>
#include <new>

#include "zvkernel.h"

namespace {

const char* const kSource = "zvcore";

// Every core whose Init reached the window creation; the window procedure
// finds its core here by window handle.
Vector<ZVCore*> Cores;

bool g_classRegistered = false;

// Set while a core's Update waits for the next message (an inactive window
// and no no-wait flag): the program is paused there.
bool g_waitingForMessages = false;

LARGE_INTEGER g_frequency = {};
bool g_frequencyRead = false;

const LONG kMinTrackWidth = 328;
const LONG kMinTrackHeight = 267;
const u32 kMinWidth = 320;
const u32 kMinHeight = 240;

ZVCore* FindCore(HWND window) {
    for (u32 i = 0; i < Cores.count; ++i)
        if (Cores[i]->hWnd == window) return Cores[i];
    return nullptr;
}

// The display went away under the program: the window layer ends the
// process right after this report, with a non-zero exit code.  A program
// paused in the message pump says so: it was not drawing.
void ReportLostDisplay(const char* display) {
    CallScope scope(nullptr, "ZVCore::DisplayLost()");
    scope.WriteLog(ZVLOG_ERROR,
                   String("The connection to the display '") + display + "' was lost; the program ends now",
                   kSource, __LINE__);
    if (g_waitingForMessages)
        scope.WriteLog(ZVLOG_INFO, "The program was paused, waiting for window messages, when the display went away",
                       kSource, __LINE__);
}

}  // namespace

HRESULT CreateCore(ICore** out) {
    CallScope scope(nullptr, "CreateCore()");
    if (!out) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    ZVCore* core = new (std::nothrow) ZVCore;
    *out = core;
    if (!core) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    core->AddRef();
    RegisterPlugIn(0, nullptr, core);
    return S_OK;
}

ZVCore::ZVCore()
    : nRef(0),
      pGraphics(nullptr),
      pInput(nullptr),
      pPhysics(nullptr),
      bActive(true),
      bRunning(true),
      hInstance(nullptr),
      hWnd(nullptr),
      strTitle("Zorvane"),
      strClassName("Zorvane"),
      rcWindowed{0, 0, 0, 0} {}

ZVCore::~ZVCore() {
    CallScope scope(this, "Destructor()");
    Cores.Remove(this);
    if (hWnd) DestroyWindow(hWnd);

    // Managers the program did not release.  Each one's destructor detaches
    // it (RemoveManager) and releases the core, which is already at 0 and so
    // ignores it.
    struct Attached {
        IInterface* manager;
        const char* label;
    };
    Attached attached[3] = {{pGraphics, "IGraphics not detached ! nRef="},
                            {pInput, "IInput not detached ! nRef="},
                            {pPhysics, "IPhysics not detached ! nRef="}};
    for (Attached& a : attached) {
        if (!a.manager) continue;
        String message(a.label);
        message += (unsigned int)(a.manager->AddRef() - 1);
        scope.WriteLog(ZVLOG_ERROR, message, kSource, __LINE__);
        while (a.manager->Release() != 0) {
        }
    }
    if (!pGraphics && !pInput && !pPhysics)
        scope.WriteLog(ZVLOG_INFO, "Zorvane Engine correctly shutdown", kSource, __LINE__);
}

u32 ZVCore::AddRef() { return ++nRef; }

u32 ZVCore::Release() {
    if (nRef == 0) return 0;
    if (--nRef > 0) return nRef;
    delete this;
    return 0;
}

const String& ZVCore::GetName() {
    static String name("ZVCore");
    return name;
}

HRESULT ZVCore::Init(HINSTANCE instance, const String& title, u32 width, u32 height) {
    CallScope scope(this, "Init()");
    if (hWnd) {
        scope.ReportFailure("Windows already created", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }

    scope.WriteLog(ZVLOG_INFO, String("Zorvane Engine v") + ZVENGINE_VERSION, kSource, __LINE__);
    char path[512] = "";
    GetModuleFileNameA(nullptr, path, sizeof(path));
    scope.WriteLog(ZVLOG_INFO, String("File : ") + path, kSource, __LINE__);
    time_t now = time(nullptr);
    char date[64] = "";
    if (ctime_r(&now, date)) {
        size_t n = std::strlen(date);
        if (n > 0 && date[n - 1] == '\n') date[n - 1] = '\0';
    }
    scope.WriteLog(ZVLOG_INFO, String("Date : ") + date, kSource, __LINE__);
    ZVSetDisplayLostHandler(ReportLostDisplay);

    hInstance = instance ? instance : GetModuleHandleA(nullptr);
    strTitle = title;

    // Client size: too small gives the default, too large for the screen
    // (leaving room for the frame and the caption) is reduced to it.  The
    // comparison is made in 64 bits so that a huge size cannot wrap around.
    if (width < kMinWidth || height < kMinHeight) {
        width = 640;
        height = 480;
    }
    const i64 screenW = GetSystemMetrics(SM_CXSCREEN);
    const i64 screenH = GetSystemMetrics(SM_CYSCREEN);
    if ((i64)width + 8 > screenW || (i64)height + 54 > screenH) {
        width = (u32)(screenW - 8 > 1 ? screenW - 8 : 1);
        height = (u32)(screenH - 54 > 1 ? screenH - 54 : 1);
    }

    const u32 left = ((u32)screenW - width) >> 1;
    const u32 top = ((u32)screenH - 8 - height) >> 1;
    RECT rc;
    rc.left = (LONG)left;
    rc.top = (LONG)top;
    rc.right = (LONG)(left + width);
    rc.bottom = (LONG)(top + height);
    AdjustWindowRectEx(&rc, ZVCORE_WINDOW_STYLE, FALSE, ZVCORE_WINDOW_EXSTYLE);
    rcWindowed = rc;

    if (!g_classRegistered) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = WindowProcedure;
        wc.hInstance = hInstance;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = strClassName.c_str();
        if (!RegisterClassExA(&wc)) {
            scope.ReportFailure("RegisterClassEx()", kSource, __LINE__, E_FAIL);
            return ZVE_SUBFUNCTION;
        }
        g_classRegistered = true;
    }

    // A core whose earlier window creation failed is listed already; listing
    // it twice would leave a stale entry behind after its destruction.
    bool listed = false;
    for (u32 i = 0; i < Cores.count; ++i) listed |= Cores[i] == this;
    if (!listed) Cores.Add(this);
    hWnd = CreateWindowExA(ZVCORE_WINDOW_EXSTYLE, strClassName.c_str(), strTitle.c_str(), ZVCORE_WINDOW_STYLE,
                           rcWindowed.left, rcWindowed.top, rcWindowed.right - rcWindowed.left,
                           rcWindowed.bottom - rcWindowed.top, GetDesktopWindow(), nullptr, hInstance, nullptr);
    if (!hWnd) {
        scope.ReportFailure("CreateWindowEx()", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    ShowWindow(hWnd, SW_SHOWDEFAULT);
    UpdateWindow(hWnd);
    return S_OK;
}

bool ZVCore::IsFullScreen() { return pGraphics && !pGraphics->IsWindowed(); }

void ZVCore::AcquireInput(bool acquire) {
    if (pInput) pInput->Acquire(acquire);
}

u32 ZVCore::SaveWindowedRect() {
    if (IsFullScreen()) return 1;
    RECT rc;
    if (GetWindowRect(hWnd, &rc) && rc.right - rc.left >= (LONG)kMinWidth && rc.bottom - rc.top >= (LONG)kMinHeight)
        rcWindowed = rc;
    return 0;
}

LRESULT ZVCore::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ZVCore* core = FindCore(window);
    if (!core) return DefWindowProcA(window, message, wParam, lParam);

    switch (message) {
    case WM_DESTROY:
    case WM_CLOSE:
    case WM_QUIT:
        core->bRunning = false;
        PostQuitMessage(0);
        break;
    case WM_SIZE:
        core->bActive = !(wParam == SIZE_MINIMIZED || wParam == SIZE_MAXHIDE);
        core->AcquireInput(core->bActive);
        break;
    case WM_ACTIVATEAPP: {
        bool active = wParam != 0;
        if (active != core->bActive) {
            PostMessageA(window, message, wParam, lParam);
            core->bActive = active;
            core->AcquireInput(active);
        }
        break;
    }
    case WM_SETCURSOR:
        if (core->IsFullScreen()) {
            SetCursor(nullptr);
            return 1;
        }
        break;
    case WM_GETMINMAXINFO: {
        MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
        if (info) {
            info->ptMinTrackSize.x = kMinTrackWidth;
            info->ptMinTrackSize.y = kMinTrackHeight;
        }
        break;
    }
    case WM_NCHITTEST:
        if (core->IsFullScreen()) return 1;
        break;
    case WM_SYSCOMMAND:
        if ((wParam == SC_SIZE || wParam == SC_MOVE || wParam == SC_MAXIMIZE || wParam == SC_KEYMENU ||
             wParam == SC_MONITORPOWER) &&
            core->IsFullScreen())
            return 1;
        break;
    case WM_ENTERMENULOOP:
        core->bActive = false;
        break;
    case WM_EXITMENULOOP:
        core->bActive = true;
        break;
    case WM_ENTERSIZEMOVE:
        core->bActive = false;
        core->AcquireInput(false);
        break;
    case WM_EXITSIZEMOVE:
        core->SaveWindowedRect();
        core->bActive = true;
        if (core->pGraphics) core->pGraphics->UpdateScreenMode();
        core->AcquireInput(true);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HRESULT ZVCore::Update(bool noWait) {
    CallScope scope(this, "Update()");
    if (GetForegroundWindow() != hWnd) bActive = false;
    MSG msg;
    for (;;) {
        const bool wait = !noWait && !bActive;
        g_waitingForMessages = wait;
        BOOL got = wait ? GetMessageA(&msg, nullptr, 0, 0) : PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
        g_waitingForMessages = false;
        if (!got) return S_OK;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

double ZVCore::GetTime() {
    if (!g_frequencyRead) {
        g_frequencyRead = true;
        if (!QueryPerformanceFrequency(&g_frequency)) g_frequency.QuadPart = 0;
    }
    if (g_frequency.QuadPart <= 0) return (double)GetTickCount() / 1000.0;  // no high-resolution counter
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / (double)g_frequency.QuadPart;
}

u32 ZVCore::RestoreWindowStyle() {
    if (IsFullScreen()) return 1;
    SetWindowLongA(hWnd, GWL_EXSTYLE, (LONG)ZVCORE_WINDOW_EXSTYLE);
    SetWindowLongA(hWnd, GWL_STYLE, (LONG)ZVCORE_WINDOW_STYLE);
    SetWindowPos(hWnd, HWND_NOTOPMOST, rcWindowed.left, rcWindowed.top, rcWindowed.right - rcWindowed.left,
                 rcWindowed.bottom - rcWindowed.top, SWP_SHOWWINDOW);
    return 0;
}

HRESULT ZVCore::RemoveManager(IInterface* manager) {
    CallScope scope(this, "RemoveManager()");
    if (!manager) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (pGraphics && static_cast<IInterface*>(pGraphics) == manager) {
        pGraphics = nullptr;
        return S_OK;
    }
    if (pInput && static_cast<IInterface*>(pInput) == manager) {
        pInput = nullptr;
        return S_OK;
    }
    if (pPhysics && static_cast<IInterface*>(pPhysics) == manager) {
        pPhysics = nullptr;
        return S_OK;
    }
    scope.WriteLog(ZVLOG_ERROR, String("Unknow manager : ") + manager->GetName(), kSource, __LINE__);
    return E_FAIL;
}

// The common steps of the three manager creations.  `type` is the record
// type and the start of every message ("Graphics", "Input", "Physics").
template <typename Intern, typename Public, typename InitCall>
HRESULT ZVCore::BindManager(CallScope& scope, Intern*& field, Public** out, const char* type, InitCall init) {
    if (!hWnd) {
        scope.ReportFailure("Windows not created; call Init() before", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!out) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (field) {
        field->AddRef();
        *out = field;
        return S_OK;
    }

    bool found = false;
    for (u32 i = 0; i < PlugInManagers.count; ++i) {
        const PlugIn& record = PlugInManagers[i];
        if (record.type != type) continue;
        found = true;
        ManagerFactory factory = record.AsManager();
        IInterface* made = factory ? factory() : nullptr;
        field = dynamic_cast<Intern*>(made);
        // An object of another kind is of no use here: give it back.
        if (made && !field) made->Release();
        break;
    }
    if (!found) {
        scope.ReportFailure(String(type) + " manager Plug-In not found !", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!field) {
        scope.ReportFailure(String(type) + " manager creation failed !", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }

    AddRef();  // the manager's reference to the core
    Intern* manager = field;
    HRESULT hr = init(manager);
    if (hr < 0) {
        // A manager that could not initialise is not kept: releasing it runs
        // its destructor, which detaches it and gives back its core reference.
        const u32 before = nRef;
        manager->Release();
        if (field == manager) field = nullptr;
        if (nRef == before) Release();
        scope.ReportFailure(String(type) + " manager initialisation failed !", kSource, __LINE__, hr);
        return ZVE_SUBFUNCTION;
    }
    *out = manager;
    return S_OK;
}

HRESULT ZVCore::CreateGraphics(IGraphics** out) {
    CallScope scope(this, "CreateGraphics()");
    return BindManager(scope, pGraphics, out, "Graphics",
                       [this](IInternGraphics* m) { return m->Init(this, hWnd, &PlugInGeometries); });
}

HRESULT ZVCore::CreateInput(IInput** out) {
    CallScope scope(this, "CreateInput()");
    return BindManager(scope, pInput, out, "Input",
                       [this](IInternInput* m) { return m->Init(this, hInstance, hWnd); });
}

HRESULT ZVCore::CreatePhysics(IPhysics** out) {
    CallScope scope(this, "CreatePhysics()");
    return BindManager(scope, pPhysics, out, "Physics", [this](IInternPhysics* m) { return m->Init(this); });
}
