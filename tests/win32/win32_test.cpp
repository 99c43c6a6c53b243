// The window layer: classes, windows and their rectangles, the message queue,
// the translation of windowing events, the foreground window, the cursor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "zvdesktop.h"
#include "zvsdlevents.h"
#include "zvwin32.h"
#include "zvwin32test.h"

namespace {

struct Seen {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> g_seen;
LRESULT g_createResult = 0;

LRESULT RecordingProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    g_seen.push_back(Seen{h, message, wParam, lParam});
    if (message == WM_CREATE && g_createResult) return g_createResult;
    return DefWindowProcA(h, message, wParam, lParam);
}

const DWORD kStyle = 0x90CE0000u;  // popup, visible, caption, system menu, sizing frame, minimise box
const DWORD kExStyle = WS_EX_WINDOWEDGE;

void RegisterOnce() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = RecordingProc;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "Win32Test";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    done = true;
}

// Dispatches every waiting message; also waits `ms` for windowing events.
void Pump(int ms = 0) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    MSG msg;
    do {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (ms) SDL_Delay(5);
    } while (std::chrono::steady_clock::now() < end);
}

std::vector<UINT> MessagesFor(HWND h, std::initializer_list<UINT> wanted) {
    std::vector<UINT> out;
    for (const Seen& s : g_seen) {
        if (s.hwnd != h) continue;
        for (UINT w : wanted)
            if (s.message == w) out.push_back(s.message);
    }
    return out;
}

const Seen* Last(HWND h, UINT message) {
    for (auto it = g_seen.rbegin(); it != g_seen.rend(); ++it)
        if (it->hwnd == h && it->message == message) return &*it;
    return nullptr;
}

class Win32Test : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterOnce();
        Pump(20);
        // Start from an empty queue, with no quit message left over.
        MSG msg;
        PostQuitMessage(0);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        g_seen.clear();
        g_createResult = 0;
    }
    void TearDown() override {
        for (HWND h : windows)
            if (IsWindow(h)) DestroyWindow(h);
        Pump(20);
        MSG msg;
        PostQuitMessage(0);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        int count = ZVTestCursorCount();
        while (count < 0) count = ShowCursor(TRUE);
        while (count > 0) count = ShowCursor(FALSE);
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        ZVTestSetDesktopSize(0, 0);
    }
    HWND Make(int x = 100, int y = 80, int w = 400, int h = 300, DWORD style = kStyle) {
        HWND hwnd = CreateWindowExA(kExStyle, "Win32Test", "test", style, x, y, w, h, GetDesktopWindow(), nullptr,
                                    nullptr, nullptr);
        if (hwnd) windows.push_back(hwnd);
        return hwnd;
    }
    std::vector<HWND> windows;
};

TEST_F(Win32Test, ClassesAreRegisteredOnceByCaseInsensitiveName) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "WIN32TEST";
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc.lpszClassName = "";
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc.lpszClassName = "Win32Other";
    wc.cbSize = 0;
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc.cbSize = sizeof(wc);
    EXPECT_NE(RegisterClassExA(&wc), 0);
    EXPECT_TRUE(UnregisterClassA("win32other", nullptr));
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "x", kStyle, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr),
              nullptr);
}

TEST_F(Win32Test, FrameMetricsOfTheStyles) {
    RECT r = {100, 100, 740, 580};
    ASSERT_TRUE(AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle));
    EXPECT_EQ(r.left, 96);
    EXPECT_EQ(r.top, 77);
    EXPECT_EQ(r.right, 744);
    EXPECT_EQ(r.bottom, 584);

    RECT p = {0, 0, 800, 600};
    AdjustWindowRectEx(&p, WS_POPUP, FALSE, 0);
    EXPECT_EQ(p.left, 0);
    EXPECT_EQ(p.top, 0);
    EXPECT_EQ(p.right, 800);
    EXPECT_EQ(p.bottom, 600);

    RECT d = {0, 0, 100, 100};  // caption without sizing frame: fixed frame 3, plus a menu
    AdjustWindowRect(&d, WS_OVERLAPPED | WS_CAPTION, TRUE);
    EXPECT_EQ(d.left, -3);
    EXPECT_EQ(d.top, -3 - 19 - 19);
    EXPECT_EQ(d.right, 103);
    EXPECT_EQ(d.bottom, 103);
}

TEST_F(Win32Test, CreationSendsItsMessagesAndMakesAnActiveGlWindow) {
    HWND h = Make(100, 80, 408, 327);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(IsWindow(h));
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_FALSE(IsIconic(h));
    EXPECT_EQ(GetForegroundWindow(), h);

    auto order = MessagesFor(h, {WM_GETMINMAXINFO, WM_NCCREATE, WM_CREATE, WM_SHOWWINDOW, WM_ACTIVATEAPP});
    std::vector<UINT> expected = {WM_GETMINMAXINFO, WM_NCCREATE, WM_CREATE, WM_SHOWWINDOW, WM_GETMINMAXINFO,
                                  WM_ACTIVATEAPP};
    EXPECT_EQ(order, expected);
    ASSERT_NE(Last(h, WM_ACTIVATEAPP), nullptr);
    EXPECT_EQ(Last(h, WM_ACTIVATEAPP)->wParam, 1u);

    RECT wr, cr;
    ASSERT_TRUE(GetWindowRect(h, &wr));
    EXPECT_EQ(wr.left, 100);
    EXPECT_EQ(wr.top, 80);
    EXPECT_EQ(wr.right, 508);
    EXPECT_EQ(wr.bottom, 407);
    ASSERT_TRUE(GetClientRect(h, &cr));
    EXPECT_EQ(cr.left, 0);
    EXPECT_EQ(cr.right, 400);
    EXPECT_EQ(cr.bottom, 300);
    POINT p = {0, 0};
    ClientToScreen(h, &p);
    EXPECT_EQ(p.x, 104);
    EXPECT_EQ(p.y, 103);
    ScreenToClient(h, &p);
    EXPECT_EQ(p.x, 0);

    SDL_Window* sdl = ZVWin32GetSDLWindow(h);
    ASSERT_NE(sdl, nullptr);
    EXPECT_TRUE(SDL_GetWindowFlags(sdl) & SDL_WINDOW_OPENGL);
    int w = 0, hh = 0, x = 0, y = 0;
    SDL_GetWindowSize(sdl, &w, &hh);
    SDL_GetWindowPosition(sdl, &x, &y);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(hh, 300);
    EXPECT_EQ(x, 104);
    EXPECT_EQ(y, 103);

    EXPECT_EQ((DWORD)GetWindowLongA(h, GWL_STYLE), kStyle);
    EXPECT_EQ((DWORD)GetWindowLongA(h, GWL_EXSTYLE), kExStyle);
}

TEST_F(Win32Test, FailedCreationLeavesNoWindow) {
    g_createResult = -1;
    HWND h = Make();
    EXPECT_EQ(h, nullptr);
    bool destroyed = false;
    for (const Seen& s : g_seen) destroyed |= s.message == WM_DESTROY;
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
}

TEST_F(Win32Test, PostedMessagesComeFirstThenQuit) {
    HWND h = Make();
    ASSERT_NE(h, nullptr);
    Pump(30);
    ZVTestPushKey(h, SDL_SCANCODE_A, true);  // an SDL event waiting behind the posted ones
    PostQuitMessage(7);
    ASSERT_TRUE(PostMessageA(h, WM_USER + 1, 11, 12));
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 2, 0, 0));
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7777)), WM_USER, 0, 0));

    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1);
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_USER + 1);
    EXPECT_EQ(msg.hwnd, h);
    EXPECT_EQ(msg.wParam, 11u);
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    ASSERT_NE(Last(h, WM_USER + 1), nullptr);
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_USER + 2);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ((int)msg.wParam, 7);
}

TEST_F(Win32Test, FocusLossAndGainActivateTheApplication) {
    HWND h = Make();
    ASSERT_NE(h, nullptr);
    Pump(30);
    g_seen.clear();
    ZVTestLoseFocus(h);
    Pump();
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    ASSERT_NE(Last(h, WM_ACTIVATEAPP), nullptr);
    EXPECT_EQ(Last(h, WM_ACTIVATEAPP)->wParam, 0u);

    // Losing it again changes nothing.
    g_seen.clear();
    ZVTestLoseFocus(h);
    Pump();
    EXPECT_EQ(Last(h, WM_ACTIVATEAPP), nullptr);

    ZVTestGainFocus(h);
    Pump();
    EXPECT_EQ(GetForegroundWindow(), h);
    ASSERT_NE(Last(h, WM_ACTIVATEAPP), nullptr);
    EXPECT_EQ(Last(h, WM_ACTIVATEAPP)->wParam, 1u);
}

TEST_F(Win32Test, MinimiseAndRestore) {
    HWND h = Make();
    ASSERT_NE(h, nullptr);
    Pump(30);
    g_seen.clear();
    ZVTestMinimize(h);
    Pump();
    EXPECT_TRUE(IsIconic(h));
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    auto order = MessagesFor(h, {WM_SIZE, WM_ACTIVATEAPP});
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], WM_SIZE);
    EXPECT_EQ(Last(h, WM_SIZE)->wParam, (WPARAM)SIZE_MINIMIZED);
    EXPECT_EQ(Last(h, WM_ACTIVATEAPP)->wParam, 0u);
    RECT wr, cr;
    GetWindowRect(h, &wr);
    EXPECT_EQ(wr.left, -32000);
    EXPECT_LT(wr.right - wr.left, 320);
    GetClientRect(h, &cr);
    EXPECT_EQ(cr.right, 0);
    EXPECT_TRUE(GetWindowLongA(h, GWL_STYLE) & (LONG)WS_MINIMIZE);

    g_seen.clear();
    ZVTestRestore(h);
    Pump();
    EXPECT_FALSE(IsIconic(h));
    EXPECT_EQ(GetForegroundWindow(), h);
    ASSERT_NE(Last(h, WM_SIZE), nullptr);
    EXPECT_EQ(Last(h, WM_SIZE)->wParam, (WPARAM)SIZE_RESTORED);
    EXPECT_EQ(LOWORD(Last(h, WM_SIZE)->lParam), 392);  // the client size of the 400 x 300 window
    EXPECT_EQ(HIWORD(Last(h, WM_SIZE)->lParam), 273);
    EXPECT_EQ(Last(h, WM_ACTIVATEAPP)->wParam, 1u);

    // The same through the program's own calls, delivered at once.
    g_seen.clear();
    ShowWindow(h, SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(h));
    ASSERT_NE(Last(h, WM_SIZE), nullptr);
    EXPECT_EQ(Last(h, WM_SIZE)->wParam, (WPARAM)SIZE_MINIMIZED);
    ShowWindow(h, SW_RESTORE);
    EXPECT_FALSE(IsIconic(h));
    EXPECT_EQ(GetForegroundWindow(), h);
}

TEST_F(Win32Test, CloseBoxDestroysTheWindowThroughTheDefaultHandling) {
    HWND h = Make();
    ASSERT_NE(h, nullptr);
    Pump(30);
    g_seen.clear();
    ZVTestClose(h);
    Pump();
    EXPECT_FALSE(IsWindow(h));
    auto order = MessagesFor(h, {WM_SYSCOMMAND, WM_CLOSE, WM_ACTIVATEAPP, WM_DESTROY, WM_NCDESTROY});
    std::vector<UINT> expected = {WM_SYSCOMMAND, WM_CLOSE, WM_ACTIVATEAPP, WM_DESTROY, WM_NCDESTROY};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(g_seen.front().wParam, (WPARAM)SC_CLOSE);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_FALSE(DestroyWindow(h));
    EXPECT_EQ(ZVWin32GetSDLWindow(h), nullptr);
}

TEST_F(Win32Test, AltF4ClosesAndAltAloneOpensTheMenuLoop) {
    HWND h = Make();
    ASSERT_NE(h, nullptr);
    Pump(30);
    g_seen.clear();
    ZVTestPushKey(h, SDL_SCANCODE_LALT, true);
    ZVTestPushKey(h, SDL_SCANCODE_LALT, false);
    Pump();
    auto order = MessagesFor(h, {WM_SYSCOMMAND, WM_ENTERMENULOOP, WM_EXITMENULOOP});
    std::vector<UINT> expected = {WM_SYSCOMMAND, WM_ENTERMENULOOP, WM_EXITMENULOOP};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(Last(h, WM_SYSCOMMAND)->wParam, (WPARAM)SC_KEYMENU);

    // Alt with another key is no menu key.
    g_seen.clear();
    ZVTestPushKey(h, SDL_SCANCODE_LALT, true);
    ZVTestPushKey(h, SDL_SCANCODE_TAB, true);
    ZVTestPushKey(h, SDL_SCANCODE_TAB, false);
    ZVTestPushKey(h, SDL_SCANCODE_LALT, false);
    Pump();
    EXPECT_EQ(Last(h, WM_SYSCOMMAND), nullptr);

    ZVTestPushKey(h, SDL_SCANCODE_RALT, true);
    ZVTestPushKey(h, SDL_SCANCODE_F4, true);
    Pump();
    EXPECT_FALSE(IsWindow(h));
    ZVTestPushKey(nullptr, SDL_SCANCODE_F4, false);
    ZVTestPushKey(nullptr, SDL_SCANCODE_RALT, false);
    Pump();
}

TEST_F(Win32Test, UserMoveAndResizeAreFramedBySizeMove) {
    HWND h = Make(100, 80, 408, 327);
    ASSERT_NE(h, nullptr);
    Pump(30);
    g_seen.clear();
    ZVTestMove(h, 154, 133);  // the client origin moves by (50, 30)
    Pump();
    auto order = MessagesFor(h, {WM_ENTERSIZEMOVE, WM_MOVE, WM_SIZE, WM_EXITSIZEMOVE});
    std::vector<UINT> moveOrder = {WM_ENTERSIZEMOVE, WM_MOVE, WM_EXITSIZEMOVE};
    EXPECT_EQ(order, moveOrder);
    RECT wr;
    GetWindowRect(h, &wr);
    EXPECT_EQ(wr.left, 150);
    EXPECT_EQ(wr.top, 110);
    EXPECT_EQ(wr.right, 558);

    g_seen.clear();
    ZVTestResize(h, 500, 350);
    Pump();
    order = MessagesFor(h, {WM_ENTERSIZEMOVE, WM_MOVE, WM_SIZE, WM_EXITSIZEMOVE});
    std::vector<UINT> sizeOrder = {WM_ENTERSIZEMOVE, WM_SIZE, WM_EXITSIZEMOVE};
    EXPECT_EQ(order, sizeOrder);
    EXPECT_EQ(LOWORD(Last(h, WM_SIZE)->lParam), 500);
    RECT cr;
    GetClientRect(h, &cr);
    EXPECT_EQ(cr.right, 500);
    EXPECT_EQ(cr.bottom, 350);
    GetWindowRect(h, &wr);
    EXPECT_EQ(wr.right - wr.left, 508);
    EXPECT_EQ(wr.bottom - wr.top, 377);

    // The program's own changes are told at once and never come back as a
    // user's size-move when the windowing system reports them.
    g_seen.clear();
    ASSERT_TRUE(SetWindowPos(h, HWND_NOTOPMOST, 20, 30, 648, 507, SWP_SHOWWINDOW));
    ASSERT_NE(Last(h, WM_SIZE), nullptr);
    EXPECT_EQ(LOWORD(Last(h, WM_SIZE)->lParam), 640);
    EXPECT_EQ(HIWORD(Last(h, WM_SIZE)->lParam), 480);
    ASSERT_NE(Last(h, WM_MOVE), nullptr);
    EXPECT_EQ(LOWORD(Last(h, WM_MOVE)->lParam), 24);
    ASSERT_TRUE(SetWindowPos(h, nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    Pump(150);
    EXPECT_TRUE(MessagesFor(h, {WM_ENTERSIZEMOVE, WM_EXITSIZEMOVE}).empty());
    GetWindowRect(h, &wr);
    EXPECT_EQ(wr.left, 40);
    EXPECT_EQ(wr.right, 688);
    int x = 0, y = 0;
    SDL_GetWindowPosition(ZVWin32GetSDLWindow(h), &x, &y);
    EXPECT_EQ(x, 44);
    EXPECT_EQ(y, 73);
}

TEST_F(Win32Test, UserSizingKeepsTheMinimumTrackingSize) {
    HWND h = Make(100, 80, 408, 327);
    ASSERT_NE(h, nullptr);
    Pump(30);
    ZVTestResize(h, 10, 5);
    Pump();
    RECT wr;
    GetWindowRect(h, &wr);
    EXPECT_EQ(wr.right - wr.left, 112);  // default minimum width of a sizing frame
    EXPECT_EQ(wr.bottom - wr.top, 5 + 27);
}

TEST_F(Win32Test, StyleChangeKeepsTheOuterRectangle) {
    HWND h = Make(0, 0, 648, 507);
    ASSERT_NE(h, nullptr);
    g_seen.clear();
    EXPECT_EQ((DWORD)SetWindowLongA(h, GWL_STYLE, (LONG)(WS_POPUP | WS_VISIBLE)), kStyle);
    RECT cr;
    GetClientRect(h, &cr);
    EXPECT_EQ(cr.right, 648);
    EXPECT_EQ(cr.bottom, 507);
    ASSERT_NE(Last(h, WM_SIZE), nullptr);
    EXPECT_TRUE(IsWindowVisible(h));
    SetWindowLongA(h, GWL_STYLE, (LONG)WS_POPUP);
    EXPECT_FALSE(IsWindowVisible(h));
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    SetWindowLongA(h, GWL_STYLE, (LONG)kStyle);
    EXPECT_TRUE(IsWindowVisible(h));
    GetClientRect(h, &cr);
    EXPECT_EQ(cr.right, 640);
    EXPECT_EQ(cr.bottom, 480);
    SetWindowLongPtrA(h, GWLP_USERDATA, 1234);
    EXPECT_EQ(GetWindowLongPtrA(h, GWLP_USERDATA), 1234);
}

TEST_F(Win32Test, ForegroundPassesToTheLastActiveWindow) {
    HWND a = Make(10, 10, 300, 250);
    HWND b = Make(400, 10, 300, 250);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetForegroundWindow(), b);
    Pump(100);  // the windowing system's own focus events change nothing
    EXPECT_EQ(GetForegroundWindow(), b);
    g_seen.clear();
    DestroyWindow(b);
    EXPECT_EQ(GetForegroundWindow(), a);
    EXPECT_EQ(Last(a, WM_ACTIVATEAPP), nullptr);  // the application stayed active
    EXPECT_TRUE(SetForegroundWindow(a));
    ShowWindow(a, SW_HIDE);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    ASSERT_NE(Last(a, WM_ACTIVATEAPP), nullptr);
    EXPECT_EQ(Last(a, WM_ACTIVATEAPP)->wParam, 0u);
    EXPECT_FALSE(SetForegroundWindow(a));
    ShowWindow(a, SW_SHOW);
    EXPECT_EQ(GetForegroundWindow(), a);
}

TEST_F(Win32Test, OtherProgramsWindowsDoNotTakeTheForegroundWithoutAWindowManager) {
    HWND h = Make();
    ASSERT_NE(h, nullptr);
    if (ZVWindowManagerRunning(ZVWin32GetSDLWindow(h))) GTEST_SKIP() << "a window manager decides the focus";
    // A window that is none of ours (as another program's) takes the input focus.
    SDL_Window* other = SDL_CreateWindow("other", 600, 500, 100, 100, SDL_WINDOW_SHOWN);
    ASSERT_NE(other, nullptr);
    SDL_RaiseWindow(other);
    SDL_SetWindowInputFocus(other);
    g_seen.clear();
    Pump(150);
    EXPECT_EQ(GetForegroundWindow(), h);
    EXPECT_EQ(Last(h, WM_ACTIVATEAPP), nullptr);
    SDL_DestroyWindow(other);
    Pump(30);
    EXPECT_EQ(GetForegroundWindow(), h);
}

TEST_F(Win32Test, AGlContextOutlivesTheWindowItDrewInto) {
    // As the graphics device does: its context lives on a hidden window of
    // its own and draws into the HWND's SDL window.
    SDL_Window* hidden = SDL_CreateWindow("device", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    ASSERT_NE(hidden, nullptr);
    SDL_GLContext context = SDL_GL_CreateContext(hidden);
    ASSERT_NE(context, nullptr);
    HWND h = Make();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(SDL_GL_MakeCurrent(ZVWin32GetSDLWindow(h), context), 0);
    typedef const unsigned char* (*GetStringFn)(unsigned int);
    GetStringFn getString = reinterpret_cast<GetStringFn>(SDL_GL_GetProcAddress("glGetString"));
    ASSERT_NE(getString, nullptr);
    const unsigned int kVersion = 0x1F02;
    EXPECT_NE(getString(kVersion), nullptr);
    SDL_GL_SwapWindow(ZVWin32GetSDLWindow(h));

    DestroyWindow(h);
    ASSERT_EQ(SDL_GL_MakeCurrent(hidden, context), 0);
    EXPECT_NE(getString(kVersion), nullptr);
    // A new window takes the same context.
    HWND again = Make();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(SDL_GL_MakeCurrent(ZVWin32GetSDLWindow(again), context), 0);
    EXPECT_NE(getString(kVersion), nullptr);
    SDL_GL_MakeCurrent(hidden, nullptr);
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(hidden);
}

TEST_F(Win32Test, FullScreenIsNoUserSizeMove) {
    HWND h = Make(100, 80, 408, 327);
    ASSERT_NE(h, nullptr);
    Pump(30);
    g_seen.clear();
    ASSERT_TRUE(ZVWin32SetFullscreen(h, TRUE));
    EXPECT_TRUE(SDL_GetWindowFlags(ZVWin32GetSDLWindow(h)) & SDL_WINDOW_FULLSCREEN);
    Pump(150);
    ASSERT_TRUE(ZVWin32SetFullscreen(h, FALSE));
    Pump(150);
    EXPECT_TRUE(MessagesFor(h, {WM_ENTERSIZEMOVE, WM_EXITSIZEMOVE}).empty());
    EXPECT_FALSE(SDL_GetWindowFlags(ZVWin32GetSDLWindow(h)) & SDL_WINDOW_FULLSCREEN);
    RECT wr;
    GetWindowRect(h, &wr);
    EXPECT_EQ(wr.left, 100);
    EXPECT_EQ(wr.right, 508);
    int w = 0, hh = 0;
    SDL_GetWindowSize(ZVWin32GetSDLWindow(h), &w, &hh);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(hh, 300);
    EXPECT_EQ(GetForegroundWindow(), h);
}

TEST_F(Win32Test, DestroyDropsTheWindowsQueuedMessages) {
    HWND a = Make(10, 10, 300, 250);
    HWND b = Make(400, 10, 300, 250);
    Pump(30);
    PostMessageA(a, WM_USER + 5, 0, 0);
    PostMessageA(b, WM_USER + 6, 0, 0);
    DestroyWindow(a);
    g_seen.clear();
    MSG msg;
    int count = 0;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        EXPECT_NE(msg.hwnd, a);
        if (msg.message == WM_USER + 6) ++count;
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(count, 1);
    msg = MSG{};
    msg.hwnd = a;
    msg.message = WM_USER;
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    EXPECT_EQ(SendMessageA(a, WM_USER, 0, 0), 0);
}

TEST_F(Win32Test, MessageFilters) {
    HWND a = Make(10, 10, 300, 250);
    HWND b = Make(400, 10, 300, 250);
    Pump(30);
    PostMessageA(a, WM_USER + 1, 0, 0);
    PostMessageA(b, WM_USER + 2, 0, 0);
    PostMessageA(b, WM_USER + 3, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 2);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 3);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1);
}

struct ObserverLog {
    std::vector<Uint32> types;
    std::vector<SDL_Scancode> keys;
};
void Observe(const SDL_Event* e, void* user) {
    auto* log = static_cast<ObserverLog*>(user);
    log->types.push_back(e->type);
    if (e->type == SDL_KEYDOWN || e->type == SDL_KEYUP) log->keys.push_back(e->key.keysym.scancode);
}

TEST_F(Win32Test, ObserversSeeEveryEventThePumpReads) {
    HWND h = Make();
    ASSERT_NE(h, nullptr);
    Pump(30);
    ObserverLog first, second;
    ZVAddSdlEventObserver(Observe, &first);
    ZVAddSdlEventObserver(Observe, &second);
    ZVTestPushKey(h, SDL_SCANCODE_W, true);
    ZVTestPushMouseMotion(h, 3, -2);
    ZVTestPushMouseButton(h, SDL_BUTTON_LEFT, true);
    ZVTestPushMouseWheel(h, 1);
    ZVTestPushKey(h, SDL_SCANCODE_W, false);
    g_seen.clear();
    Pump();
    ZVRemoveSdlEventObserver(Observe, &second);
    ZVTestPushKey(h, SDL_SCANCODE_S, true);
    Pump();
    ZVRemoveSdlEventObserver(Observe, &first);

    std::vector<SDL_Scancode> keys = {SDL_SCANCODE_W, SDL_SCANCODE_W, SDL_SCANCODE_S};
    EXPECT_EQ(first.keys, keys);
    std::vector<SDL_Scancode> keys2 = {SDL_SCANCODE_W, SDL_SCANCODE_W};
    EXPECT_EQ(second.keys, keys2);
    int motion = 0, button = 0, wheel = 0;
    for (Uint32 t : second.types) {
        motion += t == SDL_MOUSEMOTION;
        button += t == SDL_MOUSEBUTTONDOWN;
        wheel += t == SDL_MOUSEWHEEL;
    }
    EXPECT_EQ(motion, 1);
    EXPECT_EQ(button, 1);
    EXPECT_EQ(wheel, 1);
    // Mouse motion over the window asks it for its cursor.
    ASSERT_NE(Last(h, WM_SETCURSOR), nullptr);
    EXPECT_EQ(LOWORD(Last(h, WM_SETCURSOR)->lParam), HTCLIENT);
}

TEST_F(Win32Test, GetMessageWaitsForAnEventFromAnotherThread) {
    HWND h = Make();
    ASSERT_NE(h, nullptr);
    Pump(30);
    g_seen.clear();
    auto start = std::chrono::steady_clock::now();
    std::thread later([h] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ZVTestPushKey(h, SDL_SCANCODE_LALT, true);
        ZVTestPushKey(h, SDL_SCANCODE_LALT, false);
    });
    MSG msg;
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    later.join();
    EXPECT_TRUE(got);
    EXPECT_EQ(msg.message, WM_SYSCOMMAND);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
}

TEST_F(Win32Test, CursorDisplayCounter) {
    EXPECT_EQ(ZVTestCursorCount(), 0);
    EXPECT_TRUE(ZVTestCursorVisible());
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_FALSE(ZVTestCursorVisible());
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_TRUE(ZVTestCursorVisible());
    EXPECT_EQ(ShowCursor(TRUE), 1);
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    EXPECT_NE(arrow, nullptr);
    EXPECT_EQ(SetCursor(nullptr), arrow);
    EXPECT_FALSE(ZVTestCursorVisible());
    EXPECT_EQ(SetCursor(arrow), nullptr);
    EXPECT_TRUE(ZVTestCursorVisible());
    EXPECT_EQ(ShowCursor(FALSE), 0);
}

TEST_F(Win32Test, DesktopSizeAndItsOverride) {
    int w = 0, h = 0, rate = 0;
    ASSERT_TRUE(ZVGetDesktopSize(&w, &h, &rate));
    EXPECT_GT(w, 0);
    EXPECT_GT(rate, 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), w);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), h);
    ZVTestSetDesktopSize(800, 600);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    RECT d;
    GetWindowRect(GetDesktopWindow(), &d);
    EXPECT_EQ(d.right, 800);
    ZVTestSetDesktopSize(0, 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), w);
}

}  // namespace
