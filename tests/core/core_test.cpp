// The core: window creation, message pump and activation, clock, manager
// creation and the shutdown report.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "core_support.h"
#include "zvcore.h"
#include "zvdesktop.h"
#include "zvkernel.h"
#include "zvwin32test.h"

using zvtest::FakeGraphics;
using zvtest::FakeInput;
using zvtest::FakePhysics;
using zvtest::GraphicsLog;
using zvtest::InputLog;
using zvtest::PhysicsLog;
using zvtest::Record;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        GraphicsLog().Clear();
        InputLog().Clear();
        PhysicsLog().Clear();
        ZVTestCaptureLog(&log);
        ASSERT_EQ(CreateCore(&core), S_OK);
        zvtest::UseFakeManagers(core);
    }
    void TearDown() override {
        if (core) core->Release();
        ZVTestCaptureLog(nullptr);
        ZVTestSetDesktopSize(0, 0);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    ZVCore* Z() { return static_cast<ZVCore*>(core); }
    HWND Window() { return Z()->hWnd; }
    // Releases the core and forgets it.
    void ReleaseCore() {
        core->Release();
        core = nullptr;
    }
    ICore* core = nullptr;
    std::string log;
};

TEST_F(CoreTest, CreateCoreRejectsANullOut) {
    EXPECT_EQ(CreateCore(nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "[CreateCore()] Error : \"Called function return E_INVALIDARG"));
    EXPECT_TRUE(Contains(log, "Msg : 'Invalid Call/Param'"));
}

TEST_F(CoreTest, InitWritesTheInformationLinesAndOpensTheWindow) {
    ASSERT_EQ(core->Init(nullptr, "Core Title", 640, 480), S_OK);
    std::string file = "[ZVCore::Init()] File : " + ZVGetModuleFileName() + "\n";
    std::string expectedStart = "[ZVCore::Init()] Zorvane Engine v0.30\n" + file + "[ZVCore::Init()] Date : ";
    ASSERT_EQ(log.substr(0, expectedStart.size()), expectedStart);
    std::string date = log.substr(expectedStart.size());
    ASSERT_NE(date.find('\n'), std::string::npos);
    date = date.substr(0, date.find('\n'));
    EXPECT_EQ(date.size(), 24u);  // "Wed Dec  9 01:02:03 2026"
    EXPECT_EQ(date[3], ' ');
    EXPECT_EQ(date[13], ':');

    ASSERT_NE(Window(), nullptr);
    EXPECT_STREQ(SDL_GetWindowTitle(ZVWin32GetSDLWindow(Window())), "Core Title");
    EXPECT_TRUE(Z()->strTitle == "Core Title");
    EXPECT_EQ((DWORD)GetWindowLongA(Window(), GWL_STYLE), 0x90CE0000u);
    EXPECT_EQ((DWORD)GetWindowLongA(Window(), GWL_EXSTYLE), 0x100u);
    EXPECT_EQ(Z()->hInstance, GetModuleHandleA(nullptr));
    EXPECT_EQ(GetForegroundWindow(), Window());
    EXPECT_TRUE(core->IsActive());
    EXPECT_TRUE(core->IsRunning());

    // Centred on the screen, the window rectangle grown by the frame.
    const LONG w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    RECT rc;
    GetWindowRect(Window(), &rc);
    EXPECT_EQ(rc.left, (w - 640) / 2 - 4);
    EXPECT_EQ(rc.top, (h - 8 - 480) / 2 - 23);
    EXPECT_EQ(rc.right - rc.left, 648);
    EXPECT_EQ(rc.bottom - rc.top, 507);
    EXPECT_EQ(Z()->rcWindowed.left, rc.left);
    EXPECT_EQ(Z()->rcWindowed.bottom, rc.bottom);

    log.clear();
    EXPECT_EQ(core->Init(nullptr, "again", 640, 480), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Windows already created'"));
}

struct SizeCase {
    u32 width, height;
    int desktopW, desktopH;
    LONG clientW, clientH;
};

class CoreSizeTest : public CoreTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(CoreSizeTest, ClientSizeIsClamped) {
    const SizeCase& c = GetParam();
    if (c.desktopW) ZVTestSetDesktopSize(c.desktopW, c.desktopH);
    ASSERT_EQ(core->Init(nullptr, "size", c.width, c.height), S_OK);
    RECT rc;
    GetClientRect(Window(), &rc);
    EXPECT_EQ(rc.right, c.clientW);
    EXPECT_EQ(rc.bottom, c.clientH);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CoreSizeTest,
    ::testing::Values(SizeCase{100, 100, 0, 0, 640, 480}, SizeCase{320, 239, 0, 0, 640, 480},
                      SizeCase{320, 240, 0, 0, 320, 240}, SizeCase{1024, 768, 800, 600, 792, 546},
                      SizeCase{800, 500, 800, 600, 792, 546}, SizeCase{792, 546, 800, 600, 792, 546},
                      SizeCase{0xFFFFFFFFu, 0xFFFFFFFFu, 800, 600, 792, 546},
                      SizeCase{0x7FFFFFFFu, 480, 800, 600, 792, 546}));

TEST_F(CoreTest, ASecondCoreOpensItsWindowWithoutRegisteringAgain) {
    ASSERT_EQ(core->Init(nullptr, "first", 640, 480), S_OK);
    ICore* second = nullptr;
    ASSERT_EQ(CreateCore(&second), S_OK);
    EXPECT_EQ(second->Init(nullptr, "second", 640, 480), S_OK);
    EXPECT_NE(static_cast<ZVCore*>(second)->hWnd, Window());
    EXPECT_FALSE(Contains(log, "RegisterClassEx()"));
    HWND secondWindow = static_cast<ZVCore*>(second)->hWnd;
    EXPECT_EQ(second->Release(), 0u);
    EXPECT_FALSE(IsWindow(secondWindow));
    // The first window is the foreground window again.
    EXPECT_EQ(GetForegroundWindow(), Window());
}

TEST_F(CoreTest, AFailedWindowCreationCanBeRetried) {
    // Make sure the class is registered, then take it away so that the
    // window creation fails.
    ASSERT_EQ(core->Init(nullptr, "registers the class", 640, 480), S_OK);
    ReleaseCore();
    ASSERT_TRUE(UnregisterClassA("Zorvane", nullptr));

    ICore* failing = nullptr;
    ASSERT_EQ(CreateCore(&failing), S_OK);
    log.clear();
    EXPECT_EQ(failing->Init(nullptr, "no class", 640, 480), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'CreateWindowEx()'"));
    EXPECT_EQ(static_cast<ZVCore*>(failing)->hWnd, nullptr);
    EXPECT_EQ(failing->Init(nullptr, "no class again", 640, 480), ZVE_SUBFUNCTION);
    IGraphics* g = nullptr;
    EXPECT_EQ(failing->CreateGraphics(&g), ZVE_SUBFUNCTION);
    EXPECT_EQ(failing->Release(), 0u);

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ZVCore::WindowProcedure;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "Zorvane";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    // The released core is no longer looked at by the window procedure.
    ASSERT_EQ(CreateCore(&core), S_OK);
    zvtest::UseFakeManagers(core);
    EXPECT_EQ(core->Init(nullptr, "works again", 640, 480), S_OK);
    core->Update(true);
    EXPECT_TRUE(core->IsActive());
}

TEST_F(CoreTest, ManagersBeforeInitFailEvenWithANullOut) {
    EXPECT_EQ(core->CreateGraphics(nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Windows not created; call Init() before'"));
    IInput* input = nullptr;
    EXPECT_EQ(core->CreateInput(&input), ZVE_SUBFUNCTION);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(InputLog().created, 0);
}

TEST_F(CoreTest, ASecondRequestReturnsTheSameManagerWithOneMoreReference) {
    ASSERT_EQ(core->Init(nullptr, "managers", 640, 480), S_OK);
    EXPECT_EQ(core->CreateGraphics(nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Invalid Call/Param'"));

    IGraphics* a = nullptr;
    IGraphics* b = nullptr;
    ASSERT_EQ(core->CreateGraphics(&a), S_OK);
    EXPECT_EQ(Z()->nRef, 2u);  // the manager's reference to the core
    ASSERT_EQ(core->CreateGraphics(&b), S_OK);
    EXPECT_EQ(a, b);
    EXPECT_EQ(static_cast<FakeGraphics*>(a)->nRef, 2u);
    EXPECT_EQ(GraphicsLog().created, 1);
    EXPECT_EQ(GraphicsLog().inits, 1);
    EXPECT_EQ(GraphicsLog().initWindow, Window());
    EXPECT_EQ(GraphicsLog().initGeometries, &Z()->PlugInGeometries);
    EXPECT_EQ(core->GetGraphics(), static_cast<IInternGraphics*>(a));
    EXPECT_EQ(a->GetCore(), core);

    IInput* input = nullptr;
    IPhysics* physics = nullptr;
    ASSERT_EQ(core->CreateInput(&input), S_OK);
    ASSERT_EQ(core->CreatePhysics(&physics), S_OK);
    EXPECT_EQ(InputLog().initInstance, Z()->hInstance);
    EXPECT_EQ(InputLog().initWindow, Window());
    EXPECT_EQ(Z()->nRef, 4u);

    EXPECT_EQ(a->Release(), 1u);
    EXPECT_EQ(b->Release(), 0u);
    EXPECT_EQ(GraphicsLog().destroyed, 1);
    EXPECT_EQ(core->GetGraphics(), nullptr);
    input->Release();
    physics->Release();
    EXPECT_EQ(core->GetInput(), nullptr);
    EXPECT_EQ(core->GetPhysics(), nullptr);
    EXPECT_EQ(Z()->nRef, 1u);

    log.clear();
    ReleaseCore();
    EXPECT_EQ(log, "[ZVCore::Destructor()] Zorvane Engine correctly shutdown\n");
}

IInterface* NullFactory() { return nullptr; }

TEST_F(CoreTest, CreationFailures) {
    ASSERT_EQ(core->Init(nullptr, "failures", 640, 480), S_OK);
    IGraphics* g = nullptr;

    zvtest::UseManagers(core, {Record("Lower", "graphics", FakeGraphics::Create)});
    log.clear();
    EXPECT_EQ(core->CreateGraphics(&g), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Graphics manager Plug-In not found !'"));
    EXPECT_EQ(GraphicsLog().created, 0);

    zvtest::UseManagers(core, {Record("Null", "Graphics", NullFactory)});
    log.clear();
    EXPECT_EQ(core->CreateGraphics(&g), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Graphics manager creation failed !'"));

    // An object of another kind is released, not kept.
    zvtest::UseManagers(core, {Record("Wrong", "Graphics", FakeInput::Create)});
    log.clear();
    EXPECT_EQ(core->CreateGraphics(&g), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Graphics manager creation failed !'"));
    EXPECT_EQ(InputLog().created, 1);
    EXPECT_EQ(InputLog().destroyed, 1);
    EXPECT_EQ(core->GetGraphics(), nullptr);
    EXPECT_EQ(core->GetInput(), nullptr);
    EXPECT_EQ(Z()->nRef, 1u);
    EXPECT_EQ(g, nullptr);

    zvtest::UseManagers(core, {Record("Input", "Input", FakeInput::Create)});
    log.clear();
    EXPECT_EQ(core->CreatePhysics(nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Invalid Call/Param"));
    IPhysics* p = nullptr;
    EXPECT_EQ(core->CreatePhysics(&p), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Physics manager Plug-In not found !'"));
}

TEST_F(CoreTest, AManagerThatFailedToInitialiseIsNotKept) {
    ASSERT_EQ(core->Init(nullptr, "init failure", 640, 480), S_OK);
    GraphicsLog().initResult = E_OUTOFMEMORY;
    IGraphics* g = nullptr;
    log.clear();
    EXPECT_EQ(core->CreateGraphics(&g), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "[ZVCore::CreateGraphics()] Error : \"Called function return E_OUTOFMEMORY (0x8007000E), "
                              "Msg : 'Graphics manager initialisation failed !'"));
    EXPECT_EQ(g, nullptr);
    EXPECT_EQ(GraphicsLog().destroyed, 1);
    EXPECT_EQ(core->GetGraphics(), nullptr);
    EXPECT_EQ(Z()->nRef, 1u);

    // The next request makes a new manager instead of handing out the broken one.
    GraphicsLog().initResult = S_OK;
    ASSERT_EQ(core->CreateGraphics(&g), S_OK);
    EXPECT_EQ(GraphicsLog().created, 2);
    EXPECT_EQ(GraphicsLog().inits, 2);
    EXPECT_EQ(static_cast<FakeGraphics*>(g)->nRef, 1u);
    g->Release();
}

class Stranger : public IInterface {
public:
    u32 AddRef() override { return 1; }
    u32 Release() override { return 0; }
    const String& GetName() override {
        static String name("Stranger");
        return name;
    }
};

TEST_F(CoreTest, RemoveManagerOfAStranger) {
    Stranger s;
    EXPECT_EQ(Z()->RemoveManager(&s), E_FAIL);
    EXPECT_TRUE(Contains(log, "[ZVCore::RemoveManager()] Error : \"Unknow manager : Stranger\""));
    EXPECT_EQ(Z()->RemoveManager(nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Invalid Call/Param'"));
}

TEST_F(CoreTest, ShutdownReportsAManagerStillAttached) {
    ASSERT_EQ(core->Init(nullptr, "shutdown", 640, 480), S_OK);
    IGraphics* g = nullptr;
    IPhysics* p = nullptr;
    ASSERT_EQ(core->CreateGraphics(&g), S_OK);
    ASSERT_EQ(core->CreateGraphics(&g), S_OK);
    ASSERT_EQ(core->CreatePhysics(&p), S_OK);
    p->Release();
    HWND window = Window();
    log.clear();
    EXPECT_EQ(core->Release(), 1u);  // the graphics manager still holds the core
    EXPECT_EQ(log, "");
    // One release too many (the manager's reference) brings the core to 0
    // while the manager is still attached.
    IInternCore* intern = Z();
    core = nullptr;
    EXPECT_EQ(intern->Release(), 0u);
    const std::string notDetached = "[ZVCore::Destructor()] Error : \"IGraphics not detached ! nRef=2\"";
    ASSERT_TRUE(Contains(log, notDetached)) << log;
    size_t shutdown = log.find("[ZVCore::Destructor()] Zorvane Engine correctly shutdown\n");
    ASSERT_NE(shutdown, std::string::npos);
    EXPECT_LT(log.find(notDetached), shutdown);
    EXPECT_FALSE(Contains(log, "IPhysics not detached"));
    EXPECT_EQ(GraphicsLog().destroyed, 1);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(CoreTest, UpdateDrainsTheQueueAndFollowsFocus) {
    ASSERT_EQ(core->Init(nullptr, "pump", 640, 480), S_OK);
    IInput* input = nullptr;
    ASSERT_EQ(core->CreateInput(&input), S_OK);
    EXPECT_EQ(core->Update(true), S_OK);
    InputLog().acquires.clear();

    PostMessageA(Window(), WM_USER, 0, 0);
    PostMessageA(Window(), WM_USER + 1, 0, 0);
    EXPECT_EQ(core->Update(false), S_OK);
    EXPECT_EQ(ZVTestPendingMessages(), 0);
    EXPECT_TRUE(core->IsActive());

    ZVTestLoseFocus(Window());
    EXPECT_EQ(core->Update(true), S_OK);
    EXPECT_FALSE(core->IsActive());
    ASSERT_EQ(InputLog().acquires.size(), 1u);
    EXPECT_FALSE(InputLog().acquires[0]);
    // Inactive and told not to wait: returns at once.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(core->Update(true), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

    ZVTestGainFocus(Window());
    EXPECT_EQ(core->Update(true), S_OK);
    EXPECT_TRUE(core->IsActive());
    ASSERT_EQ(InputLog().acquires.size(), 2u);
    EXPECT_TRUE(InputLog().acquires[1]);

    ZVTestMinimize(Window());
    EXPECT_EQ(core->Update(true), S_OK);
    EXPECT_FALSE(core->IsActive());
    ZVTestRestore(Window());
    EXPECT_EQ(core->Update(true), S_OK);
    EXPECT_TRUE(core->IsActive());
    input->Release();
}

TEST_F(CoreTest, AnInactiveWindowWaitsInsideUpdateUntilActivated) {
    ASSERT_EQ(core->Init(nullptr, "wait", 640, 480), S_OK);
    ZVTestLoseFocus(Window());
    EXPECT_EQ(core->Update(true), S_OK);
    ASSERT_FALSE(core->IsActive());

    HWND window = Window();
    auto start = std::chrono::steady_clock::now();
    std::thread activate([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ZVTestGainFocus(window);
    });
    EXPECT_EQ(core->Update(false), S_OK);
    activate.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
    EXPECT_TRUE(core->IsActive());
    EXPECT_TRUE(core->IsRunning());
}

TEST_F(CoreTest, ForegroundElsewhereMakesTheCoreInactive) {
    ASSERT_EQ(core->Init(nullptr, "foreground", 640, 480), S_OK);
    ShowWindow(Window(), SW_HIDE);  // no longer the foreground window; no message to the core about it
    Z()->bActive = true;
    EXPECT_EQ(core->Update(true), S_OK);
    EXPECT_FALSE(core->IsActive());
}

TEST_F(CoreTest, ClosingTheWindowEndsTheLoop) {
    ASSERT_EQ(core->Init(nullptr, "close", 640, 480), S_OK);
    HWND window = Window();
    ZVTestClose(window);
    EXPECT_EQ(core->Update(false), S_OK);
    EXPECT_FALSE(core->IsRunning());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(core->IsActive());
}

TEST_F(CoreTest, ClosingWhileInactiveEndsAWaitingUpdate) {
    ASSERT_EQ(core->Init(nullptr, "close waiting", 640, 480), S_OK);
    ZVTestLoseFocus(Window());
    core->Update(true);
    ASSERT_FALSE(core->IsActive());
    HWND window = Window();
    std::thread close([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ZVTestClose(window);
    });
    EXPECT_EQ(core->Update(false), S_OK);
    close.join();
    EXPECT_FALSE(core->IsRunning());
}

TEST_F(CoreTest, ActivateAppIsRepostedOnlyOnAChange) {
    ASSERT_EQ(core->Init(nullptr, "activate", 640, 480), S_OK);
    core->Update(true);
    ASSERT_TRUE(core->IsActive());
    SendMessageA(Window(), WM_ACTIVATEAPP, 1, 0);
    EXPECT_EQ(ZVTestPendingMessages(), 0);
    SendMessageA(Window(), WM_ACTIVATEAPP, 0, 0);
    EXPECT_FALSE(core->IsActive());
    EXPECT_EQ(ZVTestPendingMessages(), 1);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_ACTIVATEAPP);
    EXPECT_EQ(msg.wParam, 0u);
    DispatchMessageA(&msg);  // the repeated message finds the state unchanged
    EXPECT_EQ(ZVTestPendingMessages(), 0);
}

TEST_F(CoreTest, FullScreenSwallowsSystemCommandsAndHidesTheCursor) {
    ASSERT_EQ(core->Init(nullptr, "full screen", 640, 480), S_OK);
    IGraphics* g = nullptr;
    ASSERT_EQ(core->CreateGraphics(&g), S_OK);
    HWND w = Window();

    GraphicsLog().windowed = true;
    EXPECT_EQ(SendMessageA(w, WM_SYSCOMMAND, SC_KEYMENU, 0), 0);  // default handling: the menu loop
    EXPECT_TRUE(core->IsActive());
    SendMessageA(w, WM_SETCURSOR, (WPARAM)w, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_TRUE(ZVTestCursorVisible());
    EXPECT_EQ(Z()->RestoreWindowStyle(), 0u);

    GraphicsLog().windowed = false;
    for (UINT command : {SC_SIZE, SC_MOVE, SC_MAXIMIZE, SC_KEYMENU, SC_MONITORPOWER})
        EXPECT_EQ(SendMessageA(w, WM_SYSCOMMAND, command, 0), 1) << command;
    EXPECT_EQ(SendMessageA(w, WM_NCHITTEST, 0, 0), 1);
    EXPECT_EQ(SendMessageA(w, WM_SETCURSOR, (WPARAM)w, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), 1);
    EXPECT_FALSE(ZVTestCursorVisible());
    EXPECT_EQ(Z()->RestoreWindowStyle(), 1u);
    // Minimising is not swallowed.
    SendMessageA(w, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsIconic(w));
    EXPECT_FALSE(core->IsActive());

    GraphicsLog().windowed = true;
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    g->Release();
}

TEST_F(CoreTest, MovingTheWindowUpdatesTheScreenModeAndTheWindowedRectangle) {
    ASSERT_EQ(core->Init(nullptr, "move", 640, 480), S_OK);
    IGraphics* g = nullptr;
    IInput* input = nullptr;
    ASSERT_EQ(core->CreateGraphics(&g), S_OK);
    ASSERT_EQ(core->CreateInput(&input), S_OK);
    core->Update(true);
    InputLog().acquires.clear();
    RECT before = Z()->rcWindowed;
    POINT origin = {0, 0};
    ClientToScreen(Window(), &origin);
    ZVTestMove(Window(), origin.x + 30, origin.y + 20);
    EXPECT_EQ(core->Update(true), S_OK);
    EXPECT_EQ(GraphicsLog().screenModeUpdates, 1);
    EXPECT_EQ(Z()->rcWindowed.left, before.left + 30);
    EXPECT_EQ(Z()->rcWindowed.top, before.top + 20);
    EXPECT_TRUE(core->IsActive());
    std::vector<bool> acquires = {false, true};
    EXPECT_EQ(InputLog().acquires, acquires);

    // Sizing below the minimum tracking size stops at it.
    ZVTestResize(Window(), 10, 10);
    core->Update(true);
    RECT rc;
    GetWindowRect(Window(), &rc);
    EXPECT_EQ(rc.right - rc.left, 328);
    EXPECT_EQ(rc.bottom - rc.top, 267);
    EXPECT_EQ(Z()->rcWindowed.right - Z()->rcWindowed.left, 328);

    // Back from a full-screen style to the windowed rectangle.
    SetWindowLongA(Window(), GWL_STYLE, (LONG)(WS_POPUP | WS_VISIBLE));
    SetWindowPos(Window(), HWND_TOPMOST, 0, 0, 800, 600, SWP_SHOWWINDOW);
    EXPECT_EQ(Z()->RestoreWindowStyle(), 0u);
    GetWindowRect(Window(), &rc);
    EXPECT_EQ(rc.left, Z()->rcWindowed.left);
    EXPECT_EQ(rc.right, Z()->rcWindowed.right);
    EXPECT_EQ((DWORD)GetWindowLongA(Window(), GWL_STYLE), 0x90CE0000u);
    g->Release();
    input->Release();
}

TEST_F(CoreTest, ClockCountsSecondsFromTheProcessStart) {
    double t0 = core->GetTime();
    EXPECT_GE(t0, 0.0);
    EXPECT_LT(t0, 600.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    double t1 = core->GetTime();
    EXPECT_GE(t1 - t0, 0.015);
    EXPECT_LT(t1 - t0, 1.0);
}

TEST_F(CoreTest, GetNameAndClone) {
    EXPECT_TRUE(core->GetName() == "ZVCore");
    IInterface* out = reinterpret_cast<IInterface*>(&log);
    EXPECT_EQ(core->Clone(&out), E_FAIL);
    EXPECT_EQ(out, reinterpret_cast<IInterface*>(&log));
}

}  // namespace
