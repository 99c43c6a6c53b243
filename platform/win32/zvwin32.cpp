// The Win32 window layer on SDL2: windows, their message queue and the
// foreground window (see zvwin32.h for the model).
#include "zvwin32.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "zvconsole.h"
#include "zvdesktop.h"
#include "zvkernel.h"
#include "zvsdlevents.h"
#include "zvwin32test.h"

// zvwmcheck.cpp
bool ZVWindowManagerRunning(SDL_Window* window);
void ZVWatchDisplayConnection();

namespace {

// Frame metrics of the (virtual) non-client area.
const int kSizeFrame = 4;
const int kFixedFrame = 3;
const int kBorder = 1;
const int kClientEdge = 2;
const int kCaption = 19;
const int kMenu = 19;
// Where Windows parks minimised windows, and their size there.
const int kIconicPos = -32000;
const int kIconicWidth = 160;
const int kIconicHeight = 31;
// Default minimum tracking size of a sizeable window.
const int kMinTrackWidth = 112;
const int kMinTrackHeight = 27;
// Focus events pushed by the test hooks carry this mark in data1.
const Sint32 kInjectedMark = 0x5A56;
// At most this many of our own geometry changes wait for SDL's echo.
const size_t kMaxExpected = 16;

struct WindowClass {
    WNDCLASSEXA wc;
    std::string name;
    ATOM atom;
};

struct Window {
    HWND handle = nullptr;
    SDL_Window* sdl = nullptr;
    Uint32 sdlId = 0;
    std::string className;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HCURSOR classCursor = nullptr;
    DWORD style = 0;  // without the state bits WS_VISIBLE, WS_MINIMIZE
    DWORD exStyle = 0;
    LONG_PTR userData = 0;
    RECT outer = {0, 0, 0, 0};  // restored outer rectangle, screen coordinates
    bool visible = false;
    bool minimized = false;
    bool destroying = false;
    int minClientWidth = 1;
    int minClientHeight = 1;
    uint64_t activation = 0;  // stamp of the last activation
    std::deque<SDL_Point> expectedPos;
    std::deque<SDL_Point> expectedSize;
};

enum class Delivery { Send, Queue };

std::map<std::string, WindowClass> g_classes;  // by lower-case name
ATOM g_nextAtom = 0xC000;

std::mutex g_windowsLock;  // guards g_windows for the test hooks' other threads
std::vector<Window*> g_windows;
uintptr_t g_nextHandle = 0x10002;
HWND const kDesktopWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10000));

std::deque<MSG> g_posted;      // PostMessageA
std::deque<MSG> g_translated;  // made from SDL events already read
bool g_quitPending = false;
int g_quitCode = 0;

HWND g_foreground = nullptr;
uint64_t g_activationStamp = 0;
bool g_testFocusControl = false;
bool g_altAlone = false;
bool g_altHeld = false;

int g_cursorCount = 0;
char g_arrowTag;
HCURSOR const kArrowCursor = reinterpret_cast<HCURSOR>(&g_arrowTag);
HCURSOR g_cursor = kArrowCursor;

int g_desktopOverrideW = 0;
int g_desktopOverrideH = 0;

bool g_videoHeld = false;

struct Observer {
    ZVSdlEventObserver fn;
    void* user;
};
std::vector<Observer> g_observers;

struct ActivationObserver {
    ZVActivationObserver fn;
    void* user;
};
std::vector<ActivationObserver> g_activationObservers;

std::string Lower(const char* s) {
    std::string out(s ? s : "");
    for (char& c : out) c = (char)std::tolower((unsigned char)c);
    return out;
}

bool EnsureVideo() {
    if (g_videoHeld && SDL_WasInit(SDL_INIT_VIDEO)) return true;
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // Ctrl+C and kill are caught here rather than by SDL: the second one
    // must end the program at once, even while it waits outside the pump.
    // They are caught before the display is opened, which takes a while: a
    // request made meanwhile waits for the window's first message fetch.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    ZVCatchQuitSignals();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    g_videoHeld = true;
    ZVWatchDisplayConnection();
    return true;
}

Window* Find(HWND h) {
    if (!h) return nullptr;
    for (Window* w : g_windows)
        if (w->handle == h) return w;
    return nullptr;
}

Window* FindSdl(Uint32 id) {
    if (!id) return nullptr;
    for (Window* w : g_windows)
        if (w->sdlId == id) return w;
    return nullptr;
}

std::vector<HWND> AllHandles() {
    std::vector<HWND> out;
    for (Window* w : g_windows)
        if (!w->destroying) out.push_back(w->handle);
    return out;
}

void Insets(DWORD style, DWORD exStyle, BOOL menu, RECT* in) {
    int frame = 0;
    if (style & WS_THICKFRAME)
        frame = kSizeFrame;
    else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
        frame = kFixedFrame;
    else if (style & WS_BORDER)
        frame = kBorder;
    if (exStyle & WS_EX_CLIENTEDGE) frame += kClientEdge;
    in->left = in->right = in->bottom = frame;
    in->top = frame;
    if ((style & WS_CAPTION) == WS_CAPTION) in->top += kCaption;
    if (menu) in->top += kMenu;
}

// Client area of a window in screen coordinates (its restored placement).
SDL_Rect ClientOf(const Window* w) {
    RECT in;
    Insets(w->style, w->exStyle, FALSE, &in);
    SDL_Rect r;
    r.x = w->outer.left + in.left;
    r.y = w->outer.top + in.top;
    r.w = std::max(0, (int)(w->outer.right - in.right - r.x));
    r.h = std::max(0, (int)(w->outer.bottom - in.bottom - r.y));
    return r;
}

void Expect(std::deque<SDL_Point>& list, int a, int b) {
    list.push_back(SDL_Point{a, b});
    while (list.size() > kMaxExpected) list.pop_front();
}

// True when (a, b) is one of our own changes still to be echoed by SDL;
// that change and the older ones are forgotten.
bool Expected(std::deque<SDL_Point>& list, int a, int b) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].x == a && list[i].y == b) {
            list.erase(list.begin(), list.begin() + (long)i + 1);
            return true;
        }
    }
    return false;
}

// Moves and sizes the SDL window onto the client area.
void ApplyGeometry(Window* w) {
    if (!w->sdl) return;
    SDL_Rect c = ClientOf(w);
    int x, y, cw, ch;
    SDL_GetWindowPosition(w->sdl, &x, &y);
    if (x != c.x || y != c.y) {
        SDL_SetWindowPosition(w->sdl, c.x, c.y);
        Expect(w->expectedPos, c.x, c.y);
    }
    SDL_GetWindowSize(w->sdl, &cw, &ch);
    int nw = std::max(1, c.w), nh = std::max(1, c.h);
    if (cw != nw || ch != nh) {
        SDL_SetWindowSize(w->sdl, nw, nh);
        Expect(w->expectedSize, nw, nh);
    }
}

void Deliver(HWND h, UINT message, WPARAM wParam, LPARAM lParam, Delivery d) {
    if (d == Delivery::Send) {
        SendMessageA(h, message, wParam, lParam);
        return;
    }
    MSG m = {};
    m.hwnd = h;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = GetTickCount();
    g_translated.push_back(m);
}

void ActivateApp(bool active, Delivery d) {
    for (HWND h : AllHandles()) Deliver(h, WM_ACTIVATEAPP, active ? 1 : 0, 0, d);
}

// Tells the activation observers that the foreground window or a window's
// minimised state may have changed.
void NotifyActivation() {
    std::vector<ActivationObserver> copy = g_activationObservers;
    for (const ActivationObserver& o : copy) o.fn(o.user);
}

void FocusSdl(Window* w) {
    if (!w->sdl || !w->visible) return;
    SDL_RaiseWindow(w->sdl);
    SDL_SetWindowInputFocus(w->sdl);
}

// w becomes the foreground window; the application is told when it was not
// active before.
void Activate(Window* w, Delivery d, bool fromApi) {
    if (!w || w->destroying || !w->visible || w->minimized) return;
    bool wasActive = Find(g_foreground) != nullptr;
    g_foreground = w->handle;
    w->activation = ++g_activationStamp;
    if (fromApi) FocusSdl(w);
    if (!wasActive) ActivateApp(true, d);
    NotifyActivation();
}

// w stops being the foreground window.  With handOver the most recently
// active other window of ours takes its place (as when a window is hidden,
// minimised or destroyed); otherwise the application becomes inactive.
void Deactivate(Window* w, Delivery d, bool handOver, bool fromApi) {
    if (!w || g_foreground != w->handle) return;
    if (handOver) {
        Window* next = nullptr;
        for (Window* o : g_windows) {
            if (o == w || o->destroying || !o->visible || o->minimized) continue;
            if (!next || o->activation > next->activation) next = o;
        }
        if (next) {
            g_foreground = next->handle;
            next->activation = ++g_activationStamp;
            if (fromApi) FocusSdl(next);
            NotifyActivation();
            return;
        }
    }
    g_foreground = nullptr;
    ActivateApp(false, d);
    NotifyActivation();
}

void Minimize(Window* w, Delivery d, bool fromApi) {
    if (w->minimized) return;
    w->minimized = true;
    if (fromApi && w->sdl) SDL_MinimizeWindow(w->sdl);
    Deliver(w->handle, WM_SIZE, SIZE_MINIMIZED, 0, d);
    Deactivate(w, d, true, fromApi);
    NotifyActivation();  // also when it was not the foreground window
}

void Restore(Window* w, Delivery d, bool fromApi) {
    if (!w->minimized) return;
    w->minimized = false;
    if (fromApi && w->sdl) SDL_RestoreWindow(w->sdl);
    SDL_Rect c = ClientOf(w);
    Deliver(w->handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(c.w, c.h), d);
    Activate(w, d, fromApi);
}

// Asks the window procedure for its minimum tracking size and keeps it (as a
// client size) for the SDL window and for user sizing.
void QueryMinTrack(Window* w) {
    MINMAXINFO mmi = {};
    int dw = 0, dh = 0, rate = 0;
    ZVGetDesktopSize(&dw, &dh, &rate);
    mmi.ptMaxSize.x = dw;
    mmi.ptMaxSize.y = dh;
    mmi.ptMaxTrackSize.x = dw;
    mmi.ptMaxTrackSize.y = dh;
    mmi.ptMinTrackSize.x = (w->style & WS_THICKFRAME) ? kMinTrackWidth : 0;
    mmi.ptMinTrackSize.y = (w->style & WS_THICKFRAME) ? kMinTrackHeight : 0;
    SendMessageA(w->handle, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
    Window* still = Find(w->handle);
    if (!still) return;
    RECT in;
    Insets(w->style, w->exStyle, FALSE, &in);
    w->minClientWidth = std::max(1, (int)(mmi.ptMinTrackSize.x - in.left - in.right));
    w->minClientHeight = std::max(1, (int)(mmi.ptMinTrackSize.y - in.top - in.bottom));
    if (w->sdl) SDL_SetWindowMinimumSize(w->sdl, w->minClientWidth, w->minClientHeight);
}

// Sets the outer rectangle; sends WM_MOVE / WM_SIZE when the client area moved
// or changed size (not while minimised).
void SetOuter(Window* w, const RECT& r, bool notify) {
    SDL_Rect before = ClientOf(w);
    w->outer = r;
    SDL_Rect after = ClientOf(w);
    if (w->minimized) return;
    ApplyGeometry(w);
    if (!notify) return;
    HWND h = w->handle;
    if (before.x != after.x || before.y != after.y)
        SendMessageA(h, WM_MOVE, 0, MAKELPARAM(after.x, after.y));
    if (before.w != after.w || before.h != after.h)
        SendMessageA(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(after.w, after.h));
}

void ShowSdl(Window* w, bool show) {
    if (!w->sdl) return;
    if (show)
        SDL_ShowWindow(w->sdl);
    else
        SDL_HideWindow(w->sdl);
}

void MakeVisible(Window* w) {
    if (w->visible) return;
    w->visible = true;
    ShowSdl(w, true);
    SendMessageA(w->handle, WM_SHOWWINDOW, TRUE, 0);
    if (Find(w->handle)) QueryMinTrack(w);
}

void MakeHidden(Window* w) {
    if (!w->visible) return;
    w->visible = false;
    ShowSdl(w, false);
    SendMessageA(w->handle, WM_SHOWWINDOW, FALSE, 0);
    if (Find(w->handle)) Deactivate(w, Delivery::Send, true, true);
}

void SyncSdlFlags(Window* w) {
    if (!w->sdl) return;
    SDL_SetWindowBordered(w->sdl, (w->style & WS_CAPTION) == WS_CAPTION ? SDL_TRUE : SDL_FALSE);
    SDL_SetWindowResizable(w->sdl, (w->style & WS_THICKFRAME) ? SDL_TRUE : SDL_FALSE);
}

// --- translation of SDL events into window messages ------------------------

void TranslateWindowEvent(const SDL_WindowEvent& e) {
    Window* w = FindSdl(e.windowID);
    if (!w || w->destroying) return;
    HWND h = w->handle;
    switch (e.event) {
    case SDL_WINDOWEVENT_MOVED: {
        SDL_Rect c = ClientOf(w);
        if (w->minimized || (e.data1 == c.x && e.data2 == c.y)) return;
        if (w->sdl && (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_FULLSCREEN)) return;  // the display's geometry
        if (Expected(w->expectedPos, e.data1, e.data2)) return;
        int dx = e.data1 - c.x, dy = e.data2 - c.y;
        w->outer.left += dx;
        w->outer.right += dx;
        w->outer.top += dy;
        w->outer.bottom += dy;
        ApplyGeometry(w);
        Deliver(h, WM_ENTERSIZEMOVE, 0, 0, Delivery::Queue);
        Deliver(h, WM_MOVE, 0, MAKELPARAM(e.data1, e.data2), Delivery::Queue);
        Deliver(h, WM_EXITSIZEMOVE, 0, 0, Delivery::Queue);
        return;
    }
    case SDL_WINDOWEVENT_SIZE_CHANGED: {
        SDL_Rect c = ClientOf(w);
        if (w->minimized || (e.data1 == c.w && e.data2 == c.h)) return;
        if (w->sdl && (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_FULLSCREEN)) return;
        if (Expected(w->expectedSize, e.data1, e.data2)) return;
        // As at the start of any sizing, the window tells its limits.
        QueryMinTrack(w);
        if (!Find(h)) return;
        int cw = std::max((int)e.data1, w->minClientWidth);
        int ch = std::max((int)e.data2, w->minClientHeight);
        w->outer.right += cw - c.w;
        w->outer.bottom += ch - c.h;
        ApplyGeometry(w);
        Deliver(h, WM_ENTERSIZEMOVE, 0, 0, Delivery::Queue);
        Deliver(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(cw, ch), Delivery::Queue);
        Deliver(h, WM_EXITSIZEMOVE, 0, 0, Delivery::Queue);
        return;
    }
    case SDL_WINDOWEVENT_MINIMIZED:
        Minimize(w, Delivery::Queue, false);
        return;
    case SDL_WINDOWEVENT_RESTORED:
        Restore(w, Delivery::Queue, false);
        return;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
    case SDL_WINDOWEVENT_FOCUS_LOST: {
        bool gained = e.event == SDL_WINDOWEVENT_FOCUS_GAINED;
        if (e.data1 == kInjectedMark) {
            g_testFocusControl = true;
        } else {
            // Real focus changes count only under a window manager (without
            // one only programs move the focus, other programs on the same
            // display included), only while the test hooks have not taken
            // over, and only when they still hold: SDL has already read any
            // later change, and a stale event would undo it.
            if (g_testFocusControl || !ZVWindowManagerRunning(w->sdl)) return;
            bool hasFocus = SDL_GetKeyboardFocus() == w->sdl;
            if (hasFocus != gained) return;
        }
        if (gained)
            Activate(w, Delivery::Queue, false);
        else
            Deactivate(w, Delivery::Queue, false, false);
        return;
    }
    case SDL_WINDOWEVENT_CLOSE:
        Deliver(h, WM_SYSCOMMAND, SC_CLOSE, 0, Delivery::Queue);
        return;
    default:
        return;
    }
}

void TranslateKey(const SDL_KeyboardEvent& e) {
    Window* w = FindSdl(e.windowID);
    if (!w) w = Find(g_foreground);
    SDL_Scancode sc = e.keysym.scancode;
    bool alt = sc == SDL_SCANCODE_LALT || sc == SDL_SCANCODE_RALT;
    if (e.type == SDL_KEYDOWN) {
        if (e.repeat) return;
        if (alt) {
            g_altAlone = true;
            g_altHeld = true;
            return;
        }
        g_altAlone = false;
        bool altHeld = g_altHeld || (e.keysym.mod & KMOD_ALT) != 0;
        if (sc == SDL_SCANCODE_F4 && altHeld && w) Deliver(w->handle, WM_SYSCOMMAND, SC_CLOSE, 0, Delivery::Queue);
        return;
    }
    if (alt && g_altAlone && w) Deliver(w->handle, WM_SYSCOMMAND, SC_KEYMENU, 0, Delivery::Queue);
    if (alt) {
        g_altAlone = false;
        g_altHeld = false;
    }
}

void Translate(const SDL_Event& e) {
    switch (e.type) {
    case SDL_QUIT:
        // The program is asked to end: every window is closed as by its
        // close box, and the window procedures take it from there.
        for (HWND h : AllHandles()) Deliver(h, WM_CLOSE, 0, 0, Delivery::Queue);
        return;
    case SDL_WINDOWEVENT:
        TranslateWindowEvent(e.window);
        return;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        TranslateKey(e.key);
        return;
    case SDL_MOUSEMOTION: {
        Window* w = FindSdl(e.motion.windowID);
        if (w && !w->destroying)
            Deliver(w->handle, WM_SETCURSOR, reinterpret_cast<WPARAM>(w->handle), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE),
                    Delivery::Queue);
        return;
    }
    default:
        return;
    }
}

void NotifyObservers(const SDL_Event& e) {
    std::vector<Observer> copy = g_observers;
    for (const Observer& o : copy) o.fn(&e, o.user);
}

bool Matches(const MSG& m, HWND filter, UINT first, UINT last) {
    if (filter && m.hwnd != filter) return false;
    if (first == 0 && last == 0) return true;
    return m.message >= first && m.message <= last;
}

bool TakeFrom(std::deque<MSG>& q, MSG* out, HWND filter, UINT first, UINT last, bool remove) {
    for (auto it = q.begin(); it != q.end(); ++it) {
        if (!Matches(*it, filter, first, last)) continue;
        *out = *it;
        if (remove) q.erase(it);
        return true;
    }
    return false;
}

bool FetchMessage(MSG* out, HWND filter, UINT first, UINT last, bool remove) {
    if (TakeFrom(g_posted, out, filter, first, last, remove)) return true;
    if (TakeFrom(g_translated, out, filter, first, last, remove)) return true;
    if (g_quitPending && !filter && ((first == 0 && last == 0) || (first <= WM_QUIT && WM_QUIT <= last))) {
        *out = MSG{};
        out->message = WM_QUIT;
        out->wParam = (WPARAM)(intptr_t)g_quitCode;
        out->time = GetTickCount();
        if (remove) g_quitPending = false;
        return true;
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return false;
    if (ZVTakeQuitRequest()) {
        // A quit signal becomes SDL's quit event, as SDL itself would make it.
        SDL_Event quit = {};
        quit.type = SDL_QUIT;
        quit.quit.timestamp = SDL_GetTicks();
        SDL_PushEvent(&quit);
    }
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        NotifyObservers(e);
        Translate(e);
        if (TakeFrom(g_translated, out, filter, first, last, remove)) return true;
    }
    return false;
}

void ApplyCursor() {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    SDL_ShowCursor(g_cursorCount >= 0 && g_cursor ? SDL_ENABLE : SDL_DISABLE);
}

void PushWindowEvent(HWND h, Uint8 event, Sint32 data1, Sint32 data2) {
    Uint32 id = 0;
    {
        std::lock_guard<std::mutex> lock(g_windowsLock);
        if (Window* w = Find(h)) id = w->sdlId;
    }
    if (!id) return;
    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.timestamp = SDL_GetTicks();
    e.window.windowID = id;
    e.window.event = event;
    e.window.data1 = data1;
    e.window.data2 = data2;
    ZVTestPushEvent(e);
}

Uint32 SdlIdOf(HWND h) {
    std::lock_guard<std::mutex> lock(g_windowsLock);
    Window* w = Find(h);
    return w ? w->sdlId : 0;
}

}  // namespace

// --- window classes ---------------------------------------------------------

ATOM RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpfnWndProc || !wc->lpszClassName ||
        !wc->lpszClassName[0])
        return 0;
    std::string key = Lower(wc->lpszClassName);
    if (g_classes.count(key)) return 0;
    WindowClass c;
    c.wc = *wc;
    c.name = wc->lpszClassName;
    c.wc.lpszClassName = nullptr;  // the stored name is the owned copy
    c.wc.lpszMenuName = nullptr;
    c.atom = g_nextAtom++;
    g_classes[key] = c;
    return c.atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
    std::string key = Lower(className);
    auto it = g_classes.find(key);
    if (it == g_classes.end()) return FALSE;
    for (Window* w : g_windows)
        if (Lower(w->className.c_str()) == key) return FALSE;
    g_classes.erase(it);
    return TRUE;
}

// --- windows ----------------------------------------------------------------

HWND GetDesktopWindow() { return kDesktopWindow; }

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    auto cls = g_classes.find(Lower(className));
    if (cls == g_classes.end()) return nullptr;
    if (parent && parent != kDesktopWindow && !Find(parent)) return nullptr;
    if (!EnsureVideo()) return nullptr;

    Window* w = new Window;
    w->handle = reinterpret_cast<HWND>(g_nextHandle);
    g_nextHandle += 2;
    w->className = cls->second.name;
    w->proc = cls->second.wc.lpfnWndProc;
    w->instance = instance;
    w->classCursor = cls->second.wc.hCursor;
    w->style = style & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
    w->exStyle = exStyle;
    if (x == CW_USEDEFAULT) x = y = 64;
    if (width == CW_USEDEFAULT) {
        int dw = 0, dh = 0, rate = 0;
        if (!ZVGetDesktopSize(&dw, &dh, &rate)) dw = 1024, dh = 768;
        width = dw / 2;
        height = dh / 2;
    }
    w->outer = RECT{x, y, x + width, y + height};
    SDL_Rect c = ClientOf(w);
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if ((style & WS_CAPTION) != WS_CAPTION) flags |= SDL_WINDOW_BORDERLESS;
    if (style & WS_THICKFRAME) flags |= SDL_WINDOW_RESIZABLE;
    w->sdl = SDL_CreateWindow(windowName ? windowName : "", c.x, c.y, std::max(1, c.w), std::max(1, c.h), flags);
    if (!w->sdl) {
        delete w;
        return nullptr;
    }
    w->sdlId = SDL_GetWindowID(w->sdl);
    // The GL library that SDL loaded for the window stays loaded for good:
    // a graphics device's context must outlive the windows we destroy.
    static bool glPinned = false;
    if (!glPinned) glPinned = SDL_GL_LoadLibrary(nullptr) == 0;
    {
        std::lock_guard<std::mutex> lock(g_windowsLock);
        g_windows.push_back(w);
    }
    HWND h = w->handle;

    CREATESTRUCTA cs = {};
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.cx = width;
    cs.cy = height;
    cs.x = x;
    cs.y = y;
    cs.style = (LONG)style;
    cs.lpszName = windowName;
    cs.lpszClass = className;
    cs.dwExStyle = exStyle;
    QueryMinTrack(w);
    if (!Find(h) || !SendMessageA(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
        DestroyWindow(h);
        return nullptr;
    }
    if (!Find(h) || SendMessageA(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(h);
        return nullptr;
    }
    if (!Find(h)) return nullptr;
    c = ClientOf(w);
    SendMessageA(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(c.w, c.h));
    SendMessageA(h, WM_MOVE, 0, MAKELPARAM(c.x, c.y));
    if ((style & WS_VISIBLE) && Find(h)) {
        MakeVisible(w);
        if (Find(h)) Activate(w, Delivery::Send, true);
    }
    return Find(h) ? h : nullptr;
}

BOOL DestroyWindow(HWND h) {
    Window* w = Find(h);
    if (!w || w->destroying) return FALSE;
    Deactivate(w, Delivery::Send, true, true);
    w->destroying = true;
    SendMessageA(h, WM_DESTROY, 0, 0);
    SendMessageA(h, WM_NCDESTROY, 0, 0);
    {
        std::lock_guard<std::mutex> lock(g_windowsLock);
        g_windows.erase(std::find(g_windows.begin(), g_windows.end(), w));
    }
    if (g_foreground == h) g_foreground = nullptr;
    auto forThis = [h](const MSG& m) { return m.hwnd == h; };
    g_posted.erase(std::remove_if(g_posted.begin(), g_posted.end(), forThis), g_posted.end());
    g_translated.erase(std::remove_if(g_translated.begin(), g_translated.end(), forThis), g_translated.end());
    if (w->sdl) SDL_DestroyWindow(w->sdl);
    delete w;
    return TRUE;
}

BOOL IsWindow(HWND h) { return Find(h) ? TRUE : FALSE; }

BOOL IsWindowVisible(HWND h) {
    Window* w = Find(h);
    return w && w->visible ? TRUE : FALSE;
}

BOOL IsIconic(HWND h) {
    Window* w = Find(h);
    return w && w->minimized ? TRUE : FALSE;
}

BOOL ShowWindow(HWND h, int command) {
    Window* w = Find(h);
    if (!w) return FALSE;
    BOOL was = w->visible ? TRUE : FALSE;
    switch (command) {
    case SW_HIDE:
        MakeHidden(w);
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
        MakeVisible(w);
        if (Find(h)) Minimize(w, Delivery::Send, true);
        break;
    case SW_SHOWNA:
        MakeVisible(w);
        break;
    case SW_SHOWNOACTIVATE:
        MakeVisible(w);
        if (Find(h) && w->minimized) {
            w->minimized = false;
            if (w->sdl) SDL_RestoreWindow(w->sdl);
            SDL_Rect c = ClientOf(w);
            SendMessageA(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(c.w, c.h));
        }
        break;
    case SW_SHOW:
        MakeVisible(w);
        if (Find(h) && !w->minimized) Activate(w, Delivery::Send, true);
        break;
    default:  // SW_SHOWNORMAL, SW_RESTORE, SW_SHOWDEFAULT, SW_MAXIMIZE
        MakeVisible(w);
        if (!Find(h)) break;
        if (w->minimized)
            Restore(w, Delivery::Send, true);
        else
            Activate(w, Delivery::Send, true);
        break;
    }
    return was;
}

BOOL UpdateWindow(HWND h) { return Find(h) ? TRUE : FALSE; }

BOOL SetWindowTextA(HWND h, LPCSTR text) {
    Window* w = Find(h);
    if (!w) return FALSE;
    if (w->sdl) SDL_SetWindowTitle(w->sdl, text ? text : "");
    return TRUE;
}

LONG_PTR GetWindowLongPtrA(HWND h, int index) {
    Window* w = Find(h);
    if (!w) return 0;
    switch (index) {
    case GWL_STYLE:
        return (LONG_PTR)(LONG)(w->style | (w->visible ? WS_VISIBLE : 0) | (w->minimized ? WS_MINIMIZE : 0));
    case GWL_EXSTYLE:
        return (LONG_PTR)(LONG)w->exStyle;
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_USERDATA:
        return w->userData;
    default:
        return 0;
    }
}

LONG_PTR SetWindowLongPtrA(HWND h, int index, LONG_PTR value) {
    Window* w = Find(h);
    if (!w) return 0;
    LONG_PTR old = GetWindowLongPtrA(h, index);
    switch (index) {
    case GWL_STYLE:
    case GWL_EXSTYLE: {
        RECT keep = w->outer;
        SDL_Rect before = ClientOf(w);
        if (index == GWL_STYLE)
            w->style = (DWORD)value & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
        else
            w->exStyle = (DWORD)value;
        SyncSdlFlags(w);
        // The frame changed: the outer rectangle stays, the client area follows.
        w->outer = keep;
        SDL_Rect after = ClientOf(w);
        if (!w->minimized) ApplyGeometry(w);
        if (index == GWL_STYLE) {
            bool visible = ((DWORD)value & WS_VISIBLE) != 0;
            if (visible && !w->visible)
                MakeVisible(w);
            else if (!visible && w->visible)
                MakeHidden(w);
        }
        if (Find(h) && !w->minimized && (before.w != after.w || before.h != after.h))
            SendMessageA(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(after.w, after.h));
        return old;
    }
    case GWLP_WNDPROC:
        if (value) w->proc = reinterpret_cast<WNDPROC>(value);
        return old;
    case GWLP_USERDATA:
        w->userData = value;
        return old;
    default:
        return 0;
    }
}

LONG GetWindowLongA(HWND h, int index) { return (LONG)GetWindowLongPtrA(h, index); }

LONG SetWindowLongA(HWND h, int index, LONG value) {
    LONG_PTR v = value;
    if (index == GWL_STYLE || index == GWL_EXSTYLE) v = (LONG_PTR)(DWORD)value;
    return (LONG)SetWindowLongPtrA(h, index, v);
}

// --- rectangles -------------------------------------------------------------

BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle) {
    if (!rect) return FALSE;
    RECT in;
    Insets(style, exStyle, menu, &in);
    rect->left -= in.left;
    rect->top -= in.top;
    rect->right += in.right;
    rect->bottom += in.bottom;
    return TRUE;
}

BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu) { return AdjustWindowRectEx(rect, style, menu, 0); }

BOOL GetClientRect(HWND h, RECT* rect) {
    Window* w = Find(h);
    if (!w || !rect) return FALSE;
    SDL_Rect c = ClientOf(w);
    *rect = RECT{0, 0, w->minimized ? 0 : c.w, w->minimized ? 0 : c.h};
    return TRUE;
}

BOOL GetWindowRect(HWND h, RECT* rect) {
    if (!rect) return FALSE;
    if (h == kDesktopWindow) {
        int dw = 0, dh = 0, rate = 0;
        ZVGetDesktopSize(&dw, &dh, &rate);
        *rect = RECT{0, 0, dw, dh};
        return TRUE;
    }
    Window* w = Find(h);
    if (!w) return FALSE;
    if (w->minimized)
        *rect = RECT{kIconicPos, kIconicPos, kIconicPos + kIconicWidth, kIconicPos + kIconicHeight};
    else
        *rect = w->outer;
    return TRUE;
}

BOOL ClientToScreen(HWND h, POINT* p) {
    Window* w = Find(h);
    if (!w || !p) return FALSE;
    SDL_Rect c = ClientOf(w);
    p->x += c.x;
    p->y += c.y;
    return TRUE;
}

BOOL ScreenToClient(HWND h, POINT* p) {
    Window* w = Find(h);
    if (!w || !p) return FALSE;
    SDL_Rect c = ClientOf(w);
    p->x -= c.x;
    p->y -= c.y;
    return TRUE;
}

BOOL SetWindowPos(HWND h, HWND, int x, int y, int width, int height, UINT flags) {
    Window* w = Find(h);
    if (!w) return FALSE;
    RECT r = w->outer;
    if (!(flags & SWP_NOMOVE)) {
        r.right = x + (r.right - r.left);
        r.bottom = y + (r.bottom - r.top);
        r.left = x;
        r.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
        r.right = r.left + width;
        r.bottom = r.top + height;
    }
    SetOuter(w, r, true);
    if (!Find(h)) return TRUE;
    if (flags & SWP_HIDEWINDOW) {
        MakeHidden(w);
    } else if (flags & SWP_SHOWWINDOW) {
        MakeVisible(w);
    }
    // Within an active application the window becomes the active one; it
    // never takes the foreground from another program.
    if (Find(h) && !(flags & (SWP_NOACTIVATE | SWP_HIDEWINDOW)) && Find(g_foreground) && g_foreground != h)
        Activate(w, Delivery::Send, true);
    return TRUE;
}

BOOL MoveWindow(HWND h, int x, int y, int width, int height, BOOL) {
    return SetWindowPos(h, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- foreground -------------------------------------------------------------

HWND GetForegroundWindow() { return Find(g_foreground) ? g_foreground : nullptr; }

BOOL SetForegroundWindow(HWND h) {
    Window* w = Find(h);
    if (!w || !w->visible || w->minimized) return FALSE;
    Activate(w, Delivery::Send, true);
    return TRUE;
}

HWND GetActiveWindow() { return GetForegroundWindow(); }

HWND SetFocus(HWND h) {
    HWND previous = GetForegroundWindow();
    Window* w = Find(h);
    if (w && previous) Activate(w, Delivery::Send, true);
    return previous;
}

// --- metrics ------------------------------------------------------------------

int GetSystemMetrics(int index) {
    int dw = 0, dh = 0, rate = 0;
    switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
        return ZVGetDesktopSize(&dw, &dh, &rate) ? dw : 0;
    case SM_CYSCREEN:
        return ZVGetDesktopSize(&dw, &dh, &rate) ? dh : 0;
    case SM_CYFULLSCREEN:
        return ZVGetDesktopSize(&dw, &dh, &rate) ? dh - kCaption : 0;
    case SM_CYCAPTION:
        return kCaption;
    case SM_CXBORDER:
    case SM_CYBORDER:
        return kBorder;
    case SM_CXFIXEDFRAME:
    case SM_CYFIXEDFRAME:
        return kFixedFrame;
    case SM_CYMENU:
        return kMenu;
    case SM_CXSIZEFRAME:
    case SM_CYSIZEFRAME:
        return kSizeFrame;
    case SM_CMONITORS:
        return 1;
    default:
        return 0;
    }
}

// --- cursor -------------------------------------------------------------------

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
    if (instance) return nullptr;
    uintptr_t id = reinterpret_cast<uintptr_t>(name);
    if (id < 32512 || id > 32650) return nullptr;
    return kArrowCursor;
}

HCURSOR SetCursor(HCURSOR cursor) {
    HCURSOR old = g_cursor;
    g_cursor = cursor;
    ApplyCursor();
    return old;
}

int ShowCursor(BOOL show) {
    g_cursorCount += show ? 1 : -1;
    ApplyCursor();
    return g_cursorCount;
}

BOOL GetCursorPos(POINT* p) {
    if (!p || !SDL_WasInit(SDL_INIT_VIDEO)) return FALSE;
    int x = 0, y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    p->x = x;
    p->y = y;
    return TRUE;
}

// --- messages -----------------------------------------------------------------

BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
    if (!msg) return FALSE;
    return FetchMessage(msg, window, first, last, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessageA(MSG* msg, HWND window, UINT first, UINT last) {
    if (!msg) return FALSE;
    for (;;) {
        if (FetchMessage(msg, window, first, last, true)) return msg->message == WM_QUIT ? FALSE : TRUE;
        if (SDL_WasInit(SDL_INIT_VIDEO))
            SDL_WaitEventTimeout(nullptr, 50);
        else
            SDL_Delay(5);
    }
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (h && !Find(h)) return FALSE;
    MSG m = {};
    m.hwnd = h;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = GetTickCount();
    g_posted.push_back(m);
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    g_quitPending = true;
    g_quitCode = exitCode;
}

LRESULT SendMessageA(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(h);
    if (!w || !w->proc) return 0;
    return w->proc(h, message, wParam, lParam);
}

LRESULT DefWindowProcA(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(h);
    if (!w) return 0;
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(h);
        return 0;
    case WM_NCCREATE:
        return TRUE;
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && w->classCursor) SetCursor(w->classCursor);
        return TRUE;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0u) {
        case SC_CLOSE:
            SendMessageA(h, WM_CLOSE, 0, 0);
            return 0;
        case SC_MINIMIZE:
            ShowWindow(h, SW_MINIMIZE);
            return 0;
        case SC_RESTORE:
        case SC_MAXIMIZE:
            ShowWindow(h, SW_RESTORE);
            return 0;
        case SC_KEYMENU:
            // There is no menu to track: the menu loop opens and closes at once.
            SendMessageA(h, WM_ENTERMENULOOP, FALSE, 0);
            SendMessageA(h, WM_EXITMENULOOP, FALSE, 0);
            return 0;
        case SC_MOVE:
        case SC_SIZE:
            SendMessageA(h, WM_ENTERSIZEMOVE, 0, 0);
            SendMessageA(h, WM_EXITSIZEMOVE, 0, 0);
            return 0;
        default:
            return 0;
        }
    default:
        return 0;
    }
}

SDL_Window* ZVWin32GetSDLWindow(HWND h) {
    Window* w = Find(h);
    return w ? w->sdl : nullptr;
}

BOOL ZVWin32SetFullscreen(HWND h, BOOL fullscreen) {
    Window* w = Find(h);
    if (!w || !w->sdl) return FALSE;
    SDL_DisplayMode mode = {};
    bool haveMode = SDL_GetWindowDisplayMode(w->sdl, &mode) == 0;
    if (SDL_SetWindowFullscreen(w->sdl, fullscreen ? SDL_WINDOW_FULLSCREEN : 0) != 0) return FALSE;
    // The windowing system reports the display's geometry while full screen
    // (and maybe late, after leaving it): none of it is the user's.
    if (haveMode) {
        Expect(w->expectedPos, 0, 0);
        Expect(w->expectedSize, mode.w, mode.h);
    }
    if (!fullscreen && !w->minimized) ApplyGeometry(w);
    return TRUE;
}

void ZVWin32SyncFromSDL(HWND h) {
    Window* w = Find(h);
    if (!w || !w->sdl) return;
    int x, y, cw, ch;
    SDL_GetWindowPosition(w->sdl, &x, &y);
    SDL_GetWindowSize(w->sdl, &cw, &ch);
    RECT in;
    Insets(w->style, w->exStyle, FALSE, &in);
    w->outer = RECT{x - in.left, y - in.top, x + cw + in.right, y + ch + in.bottom};
    w->expectedPos.clear();
    w->expectedSize.clear();
}

void ZVAddActivationObserver(ZVActivationObserver observer, void* user) {
    if (observer) g_activationObservers.push_back(ActivationObserver{observer, user});
}

void ZVRemoveActivationObserver(ZVActivationObserver observer, void* user) {
    for (auto it = g_activationObservers.begin(); it != g_activationObservers.end(); ++it) {
        if (it->fn == observer && it->user == user) {
            g_activationObservers.erase(it);
            return;
        }
    }
}

// --- SDL event observers (zvsdlevents.h) ----------------------------------------

void ZVAddSdlEventObserver(ZVSdlEventObserver observer, void* user) {
    if (observer) g_observers.push_back(Observer{observer, user});
}

void ZVRemoveSdlEventObserver(ZVSdlEventObserver observer, void* user) {
    for (auto it = g_observers.begin(); it != g_observers.end(); ++it) {
        if (it->fn == observer && it->user == user) {
            g_observers.erase(it);
            return;
        }
    }
}

void ZVNotifySdlEventObservers(const SDL_Event& event) { NotifyObservers(event); }

Uint32 ZVModalReturnEventType() {
    static const Uint32 type = SDL_RegisterEvents(1);
    return type;
}

// --- desktop (zvdesktop.h) --------------------------------------------------------

bool ZVGetDesktopSize(int* width, int* height, int* refreshRate) {
    SDL_DisplayMode mode = {};
    bool have = EnsureVideo() && SDL_GetDesktopDisplayMode(0, &mode) == 0;
    int w = mode.w, h = mode.h;
    if (g_desktopOverrideW > 0 && g_desktopOverrideH > 0) {
        w = g_desktopOverrideW;
        h = g_desktopOverrideH;
    } else if (!have) {
        return false;
    }
    if (width) *width = w;
    if (height) *height = h;
    if (refreshRate) *refreshRate = have && mode.refresh_rate > 0 ? mode.refresh_rate : 60;
    return true;
}

void ZVTestSetDesktopSize(int width, int height) {
    g_desktopOverrideW = width > 0 && height > 0 ? width : 0;
    g_desktopOverrideH = width > 0 && height > 0 ? height : 0;
}

// --- test hooks (zvwin32test.h) -----------------------------------------------------

void ZVTestPushEvent(const SDL_Event& event) {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    SDL_Event copy = event;
    SDL_PushEvent(&copy);
}

void ZVTestPushWindowEvent(HWND window, Uint8 windowEvent, Sint32 data1, Sint32 data2) {
    PushWindowEvent(window, windowEvent, data1, data2);
}

void ZVTestLoseFocus(HWND window) { PushWindowEvent(window, SDL_WINDOWEVENT_FOCUS_LOST, kInjectedMark, 0); }
void ZVTestGainFocus(HWND window) { PushWindowEvent(window, SDL_WINDOWEVENT_FOCUS_GAINED, kInjectedMark, 0); }
void ZVTestMinimize(HWND window) { PushWindowEvent(window, SDL_WINDOWEVENT_MINIMIZED, 0, 0); }
void ZVTestRestore(HWND window) { PushWindowEvent(window, SDL_WINDOWEVENT_RESTORED, 0, 0); }
void ZVTestClose(HWND window) { PushWindowEvent(window, SDL_WINDOWEVENT_CLOSE, 0, 0); }
void ZVTestMove(HWND window, int x, int y) { PushWindowEvent(window, SDL_WINDOWEVENT_MOVED, x, y); }
void ZVTestResize(HWND window, int clientWidth, int clientHeight) {
    PushWindowEvent(window, SDL_WINDOWEVENT_SIZE_CHANGED, clientWidth, clientHeight);
}

void ZVTestPushKey(HWND window, SDL_Scancode scancode, bool down) {
    SDL_Event e = {};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.timestamp = SDL_GetTicks();
    e.key.windowID = SdlIdOf(window);
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = scancode;
    e.key.keysym.sym = SDL_GetKeyFromScancode(scancode);
    ZVTestPushEvent(e);
}

void ZVTestPushMouseMotion(HWND window, int dx, int dy) {
    SDL_Event e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.timestamp = SDL_GetTicks();
    e.motion.windowID = SdlIdOf(window);
    e.motion.xrel = dx;
    e.motion.yrel = dy;
    ZVTestPushEvent(e);
}

void ZVTestPushMouseButton(HWND window, Uint8 button, bool down) {
    SDL_Event e = {};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.timestamp = SDL_GetTicks();
    e.button.windowID = SdlIdOf(window);
    e.button.button = button;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    ZVTestPushEvent(e);
}

void ZVTestPushMouseWheel(HWND window, int dy) {
    SDL_Event e = {};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.timestamp = SDL_GetTicks();
    e.wheel.windowID = SdlIdOf(window);
    e.wheel.y = dy;
    e.wheel.preciseY = (float)dy;
    e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    ZVTestPushEvent(e);
}

bool ZVTestCursorVisible() { return g_cursorCount >= 0 && g_cursor != nullptr; }

int ZVTestCursorCount() { return g_cursorCount; }

int ZVTestPendingMessages() { return (int)(g_posted.size() + g_translated.size()); }
