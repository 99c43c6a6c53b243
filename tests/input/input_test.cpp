// The input manager: the devices UseDevices makes, the keyboard, mouse and
// joystick states from injected events, acquisition following the window's
// focus through the core, and the shutdown report.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core_support.h"
#include "zvcore.h"
#include "zvinputdi8.h"
#include "zvwin32test.h"

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A core with its window (the foreground window) and the input manager it
// made; events reach the devices through the core's pump.
class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZVTestCaptureLog(&log);
        ASSERT_EQ(CreateCore(&core), S_OK);
        zvtest::UseManagers(core, {zvtest::Record("ZVInputD3D8", "Input", ZVInput::Create)});
        ASSERT_EQ(core->Init(nullptr, "input", 640, 480), S_OK);
        Pump();
        ASSERT_EQ(GetForegroundWindow(), Window());
        ASSERT_EQ(core->CreateInput(&input), S_OK);
        zv = dynamic_cast<ZVInput*>(input);
        ASSERT_NE(zv, nullptr);
    }
    void TearDown() override {
        if (input) input->Release();
        if (core) core->Release();
        ZVTestCaptureLog(nullptr);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    HWND Window() { return static_cast<ZVCore*>(core)->hWnd; }
    void Pump() { core->Update(true); }
    void Key(SDL_Scancode sc, bool down) {
        ZVTestPushKey(Window(), sc, down);
        Pump();
    }
    HRESULT ReadKeys(u8* keys) {
        std::memset(keys, 0x55, 256);
        return input->GetKeyboardState(keys);
    }
    HRESULT ReadMouse(DIMOUSESTATE* s) {
        std::memset(s, 0x55, sizeof(*s));
        return input->GetMouseState(s);
    }

    ICore* core = nullptr;
    IInput* input = nullptr;
    ZVInput* zv = nullptr;
    std::string log;
};

// --- UseDevices --------------------------------------------------------------

TEST_F(InputTest, UseDevicesReportsOnlyTheDevicesItCreated) {
    u32 made = 0xFFu;
    EXPECT_EQ(input->UseDevices(DEVICE_KEYBOARD | DEVICE_MOUSE, &made), S_OK);
    EXPECT_EQ(made, 6u);
    ASSERT_NE(zv->pKeyboard, nullptr);
    ASSERT_NE(zv->pMouse, nullptr);
    IDirectInputDevice8A* keyboard = zv->pKeyboard;

    // Nothing new: 0, and the same devices are kept.
    made = 0xFFu;
    EXPECT_EQ(input->UseDevices(6, &made), S_OK);
    EXPECT_EQ(made, 0u);
    EXPECT_EQ(zv->pKeyboard, keyboard);

    // Keyboard only: the mouse is given up.
    made = 0xFFu;
    EXPECT_EQ(input->UseDevices(2, &made), S_OK);
    EXPECT_EQ(made, 0u);
    EXPECT_EQ(zv->pMouse, nullptr);
    EXPECT_EQ(zv->pKeyboard, keyboard);

    // Unknown bits are ignored; the mouse comes back alone.
    made = 0xFFu;
    EXPECT_EQ(input->UseDevices(6 | 1 | 0x10 | 0x100, &made), S_OK);
    EXPECT_EQ(made, 4u);
    EXPECT_NE(zv->pMouse, nullptr);

    // Nothing asked: everything given up.  A null `made` is allowed.
    EXPECT_EQ(input->UseDevices(0, nullptr), S_OK);
    EXPECT_EQ(zv->pKeyboard, nullptr);
    EXPECT_EQ(zv->pMouse, nullptr);
    EXPECT_EQ(zv->pJoystick, nullptr);
    EXPECT_FALSE(Contains(log, "Error"));
}

TEST_F(InputTest, WithoutAControllerTheJoystickIsSimplyNotMade) {
    u32 made = 0xFFu;
    EXPECT_EQ(input->UseDevices(DEVICE_KEYBOARD | DEVICE_MOUSE | DEVICE_JOYSTICK, &made), S_OK);
    if (zv->pJoystick) GTEST_SKIP() << "a game controller is attached to this machine";
    EXPECT_EQ(made, 6u);
    EXPECT_FALSE(Contains(log, "Error"));

    // Keyboard and mouse still work.
    Key(SDL_SCANCODE_A, true);
    u8 keys[256];
    EXPECT_EQ(ReadKeys(keys), S_OK);
    EXPECT_EQ(keys[DIK_A], 0x80);
    DIMOUSESTATE m;
    EXPECT_EQ(ReadMouse(&m), S_OK);

    // The absent joystick is never touched: a wrong-state failure.
    DIJOYSTATE j;
    std::memset(&j, 0x55, sizeof(j));
    log.clear();
    EXPECT_EQ(input->GetJoystickState(&j), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "[ZVInput::GetJoystickState()] Error : \"Called function return E_FAIL")) << log;
    EXPECT_TRUE(Contains(log, "Msg : 'Joystick not created; call UseDevices() before'"));
    EXPECT_EQ(j.lX, 0x55555555);
}

TEST_F(InputTest, ReadsBeforeUseDevicesFailInTheWrongState) {
    u8 keys[256];
    DIMOUSESTATE m;
    DIJOYSTATE j;
    EXPECT_EQ(input->GetKeyboardState(keys), ZVE_SUBFUNCTION);
    EXPECT_EQ(input->GetMouseState(&m), ZVE_SUBFUNCTION);
    EXPECT_EQ(input->GetJoystickState(&j), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Keyboard not created; call UseDevices() before'")) << log;
    EXPECT_TRUE(Contains(log, "Msg : 'Mouse not created; call UseDevices() before'"));
    EXPECT_TRUE(Contains(log, "Msg : 'Joystick not created; call UseDevices() before'"));
    EXPECT_EQ(Count(log, "E_FAIL (0x80004005)"), 3u);

    // Null records are invalid arguments, whatever the devices.
    ASSERT_EQ(input->UseDevices(6, nullptr), S_OK);
    log.clear();
    EXPECT_EQ(input->GetKeyboardState(nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(input->GetMouseState(nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(input->GetJoystickState(nullptr), ZVE_SUBFUNCTION);
    EXPECT_EQ(Count(log, "Called function return E_INVALIDARG (0x80070057), Msg : 'Invalid Call/Param'"), 3u) << log;
}

// --- Keyboard and mouse ----------------------------------------------------------

TEST_F(InputTest, KeysGiveTheirScanCodeBytes) {
    ASSERT_EQ(input->UseDevices(DEVICE_KEYBOARD, nullptr), S_OK);
    u8 keys[256];
    ASSERT_EQ(ReadKeys(keys), S_OK);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(keys[i], 0) << i;

    Key(SDL_SCANCODE_W, true);
    Key(SDL_SCANCODE_LSHIFT, true);
    Key(SDL_SCANCODE_UP, true);
    ASSERT_EQ(ReadKeys(keys), S_OK);
    for (int i = 0; i < 256; ++i) {
        const bool down = i == DIK_W || i == DIK_LSHIFT || i == DIK_UP;
        ASSERT_EQ(keys[i], down ? 0x80 : 0) << i;
    }
    // Held keys stay down across reads; released ones clear.
    Key(SDL_SCANCODE_LSHIFT, false);
    ASSERT_EQ(ReadKeys(keys), S_OK);
    EXPECT_EQ(keys[DIK_W], 0x80);
    EXPECT_EQ(keys[DIK_LSHIFT], 0);
    EXPECT_EQ(keys[DIK_UP], 0x80);
    EXPECT_EQ(log.find("Error"), std::string::npos);
}

TEST_F(InputTest, MouseMotionIsSummedBetweenReads) {
    ASSERT_EQ(input->UseDevices(DEVICE_MOUSE, nullptr), S_OK);
    DIMOUSESTATE m;
    ASSERT_EQ(ReadMouse(&m), S_OK);  // whatever came before

    ZVTestPushMouseMotion(Window(), 5, -3);
    ZVTestPushMouseMotion(Window(), 7, 10);
    ZVTestPushMouseWheel(Window(), 2);
    ZVTestPushMouseButton(Window(), SDL_BUTTON_LEFT, true);
    ZVTestPushMouseButton(Window(), SDL_BUTTON_MIDDLE, true);
    Pump();
    ASSERT_EQ(ReadMouse(&m), S_OK);
    EXPECT_EQ(m.lX, 12);
    EXPECT_EQ(m.lY, 7);
    EXPECT_EQ(m.lZ, 240);
    EXPECT_EQ(m.rgbButtons[0], 0x80);
    EXPECT_EQ(m.rgbButtons[1], 0);
    EXPECT_EQ(m.rgbButtons[2], 0x80);
    EXPECT_EQ(m.rgbButtons[3], 0);

    // The motion is consumed by the read; held buttons stay.
    ZVTestPushMouseButton(Window(), SDL_BUTTON_MIDDLE, false);
    Pump();
    ASSERT_EQ(ReadMouse(&m), S_OK);
    EXPECT_EQ(m.lX, 0);
    EXPECT_EQ(m.lY, 0);
    EXPECT_EQ(m.lZ, 0);
    EXPECT_EQ(m.rgbButtons[0], 0x80);
    EXPECT_EQ(m.rgbButtons[2], 0);
}

// --- Focus and acquisition -------------------------------------------------------

TEST_F(InputTest, LosingTheFocusStopsTheReadsAndRegainingItResumesThem) {
    ASSERT_EQ(input->UseDevices(6, nullptr), S_OK);
    Key(SDL_SCANCODE_SPACE, true);

    ZVTestLoseFocus(Window());
    Pump();
    EXPECT_FALSE(core->IsActive());
    // Motion made while another program has the focus is not ours.
    ZVTestPushMouseMotion(Window(), 40, 40);
    Pump();

    log.clear();
    u8 keys[256];
    EXPECT_EQ(ReadKeys(keys), E_FAIL);  // quietly: another application has the keyboard
    EXPECT_EQ(log, "");
    DIMOUSESTATE m;
    EXPECT_EQ(ReadMouse(&m), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "[ZVInput::GetMouseState()] Error : \"Called function return ")) << log;
    EXPECT_TRUE(Contains(log, "Msg : '-'"));
    EXPECT_EQ(Count(log, "Error : "), 1u);

    ZVTestGainFocus(Window());
    Pump();
    EXPECT_TRUE(core->IsActive());
    log.clear();
    ASSERT_EQ(ReadKeys(keys), S_OK);
    EXPECT_EQ(keys[DIK_SPACE], 0);  // keys are forgotten with the focus
    ASSERT_EQ(ReadMouse(&m), S_OK);
    EXPECT_EQ(m.lX, 0);
    EXPECT_EQ(m.lY, 0);
    Key(SDL_SCANCODE_SPACE, true);
    ASSERT_EQ(ReadKeys(keys), S_OK);
    EXPECT_EQ(keys[DIK_SPACE], 0x80);
    EXPECT_EQ(log, "");
}

TEST_F(InputTest, ADeviceGivenUpIsAcquiredAgainByTheNextRead) {
    ASSERT_EQ(input->UseDevices(6, nullptr), S_OK);
    // The core gives the devices up around moving the window.
    EXPECT_EQ(zv->Acquire(false), 0u);
    u8 keys[256];
    DIMOUSESTATE m;
    ASSERT_EQ(zv->pKeyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
    // The reads acquire again by themselves while the window has the focus.
    log.clear();
    EXPECT_EQ(ReadKeys(keys), S_OK);
    EXPECT_EQ(ReadMouse(&m), S_OK);
    EXPECT_EQ(log, "");
    EXPECT_EQ(zv->Acquire(true), 0u);
}

// --- The joystick ------------------------------------------------------------------

class InputJoystickTest : public InputTest {
protected:
    void SetUp() override {
        InputTest::SetUp();
        if (HasFatalFailure()) return;
        // The controller subsystem runs while the DirectInput object lives.
        if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a game controller is attached to this machine";
        index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 8, 1);
        ASSERT_GE(index, 0) << SDL_GetError();
        sdl = SDL_JoystickOpen(index);
        ASSERT_NE(sdl, nullptr);
    }
    void TearDown() override {
        if (sdl) SDL_JoystickClose(sdl);
        if (index >= 0 && attached) SDL_JoystickDetachVirtual(index);
        InputTest::TearDown();
    }
    int index = -1;
    bool attached = true;
    SDL_Joystick* sdl = nullptr;
};

TEST_F(InputJoystickTest, TheAttachedControllerIsMadeAndRead) {
    u32 made = 0;
    ASSERT_EQ(input->UseDevices(DEVICE_KEYBOARD | DEVICE_JOYSTICK, &made), S_OK);
    EXPECT_EQ(made, 10u);
    ASSERT_NE(zv->pJoystick, nullptr);

    SDL_JoystickSetVirtualAxis(sdl, 0, -32768);
    SDL_JoystickSetVirtualAxis(sdl, 1, 32767);
    SDL_JoystickSetVirtualHat(sdl, 0, SDL_HAT_DOWN);
    SDL_JoystickSetVirtualButton(sdl, 3, SDL_PRESSED);
    DIJOYSTATE j;
    std::memset(&j, 0x55, sizeof(j));
    ASSERT_EQ(input->GetJoystickState(&j), S_OK);
    EXPECT_EQ(j.lX, 0);
    EXPECT_EQ(j.lY, 65535);
    EXPECT_EQ(j.rgdwPOV[0], 18000u);
    for (int b = 0; b < 32; ++b) EXPECT_EQ(j.rgbButtons[b], b == 3 ? 0x80 : 0) << b;

    made = 0xFFu;
    ASSERT_EQ(input->UseDevices(DEVICE_KEYBOARD | DEVICE_JOYSTICK, &made), S_OK);
    EXPECT_EQ(made, 0u);
    EXPECT_EQ(log.find("Error"), std::string::npos) << log;
}

TEST_F(InputJoystickTest, LostFocusIsRecoveredAndUnpluggingIsQuiet) {
    ASSERT_EQ(input->UseDevices(DEVICE_JOYSTICK, nullptr), S_OK);
    ASSERT_NE(zv->pJoystick, nullptr);
    DIJOYSTATE j;

    // Focus lost and regained: the acquisition was lost, the read takes it
    // back through the core's activation and reads.
    ZVTestLoseFocus(Window());
    Pump();
    ZVTestGainFocus(Window());
    Pump();
    EXPECT_EQ(input->GetJoystickState(&j), S_OK);

    // Lost without the core noticing: Poll reports the loss, the read
    // acquires again and goes on.
    zv->pJoystick->Unacquire();
    EXPECT_EQ(input->GetJoystickState(&j), S_OK);

    // Unplugged: S_FALSE, nothing logged, the record untouched.
    SDL_JoystickClose(sdl);
    sdl = nullptr;
    ASSERT_EQ(SDL_JoystickDetachVirtual(index), 0);
    attached = false;
    Pump();
    log.clear();
    std::memset(&j, 0x55, sizeof(j));
    EXPECT_EQ(input->GetJoystickState(&j), S_FALSE);
    EXPECT_EQ(input->GetJoystickState(&j), S_FALSE);
    EXPECT_EQ(log, "");
    EXPECT_EQ(j.lX, 0x55555555);
}

// --- Creation and shutdown -----------------------------------------------------------

TEST_F(InputTest, CreateInputTwiceGivesTheSameManager) {
    ZVCore* z = static_cast<ZVCore*>(core);
    EXPECT_EQ(zv->nRef, 1u);
    EXPECT_EQ(z->nRef, 2u);
    EXPECT_EQ(input->GetCore(), core);
    EXPECT_EQ(zv->hWnd, Window());
    EXPECT_NE(zv->pDI, nullptr);
    IInput* again = nullptr;
    ASSERT_EQ(core->CreateInput(&again), S_OK);
    EXPECT_EQ(again, input);
    EXPECT_EQ(zv->nRef, 2u);
    EXPECT_EQ(again->Release(), 1u);
    EXPECT_TRUE(input->GetName() == "ZVInput");
    IInterface* copy = nullptr;
    EXPECT_EQ(input->Clone(&copy), E_FAIL);
    EXPECT_EQ(copy, nullptr);
}

TEST_F(InputTest, ShutdownReleasesTheDevicesAndReports) {
    ASSERT_EQ(input->UseDevices(6, nullptr), S_OK);
    log.clear();
    EXPECT_EQ(input->Release(), 0u);
    input = nullptr;
    EXPECT_EQ(log, "[ZVInput::Destructor()] Input Engine correctly shutdown\n");
    EXPECT_EQ(core->GetInput(), nullptr);
    EXPECT_EQ(static_cast<ZVCore*>(core)->nRef, 1u);
}

TEST_F(InputTest, ShutdownWithDirectInputStillHeldWarnsWithTheCount) {
    ASSERT_EQ(input->UseDevices(2, nullptr), S_OK);
    zv->pDI->AddRef();
    zv->pDI->AddRef();
    log.clear();
    EXPECT_EQ(input->Release(), 0u);
    input = nullptr;
    EXPECT_TRUE(Contains(log, "[ZVInput::Destructor()] Warning : \"ZVInput: DirectInput8 Interface (count = 2 ) !\""))
        << log;
    EXPECT_FALSE(Contains(log, "correctly shutdown"));
    EXPECT_EQ(core->GetInput(), nullptr);
}

TEST_F(InputTest, ReleasingTheCoreFirstReportsTheManager) {
    log.clear();
    ICore* c = core;
    core = nullptr;
    input = nullptr;
    EXPECT_EQ(c->Release(), 1u);
    EXPECT_EQ(c->Release(), 0u);
    const std::string report = "[ZVCore::Destructor()] Error : \"IInput not detached ! nRef=1\"";
    const std::string down = "[ZVInput::Destructor()] Input Engine correctly shutdown\n";
    const std::string engine = "[ZVCore::Destructor()] Zorvane Engine correctly shutdown\n";
    ASSERT_TRUE(Contains(log, report)) << log;
    ASSERT_TRUE(Contains(log, down)) << log;
    ASSERT_TRUE(Contains(log, engine)) << log;
    EXPECT_LT(log.find(report), log.find(down));
    EXPECT_LT(log.find(down), log.find(engine));
}

TEST(InputManager, WithoutInitNothingIsTouched) {
    std::string log;
    ZVTestCaptureLog(&log);
    IInterface* made = ZVInput::Create();
    ZVInput* input = dynamic_cast<ZVInput*>(made);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->nRef, 1u);
    u32 flags = 0xFFu;
    EXPECT_EQ(input->UseDevices(6, &flags), ZVE_SUBFUNCTION);
    EXPECT_EQ(flags, 0xFFu);
    EXPECT_TRUE(Contains(log, "Msg : 'DirectInput not created; call Init() before'")) << log;
    EXPECT_EQ(input->Acquire(true), 0u);
    log.clear();
    EXPECT_EQ(input->Init(nullptr, nullptr, nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "[ZVInput::Init()] Error : \"Called function return E_INVALIDARG")) << log;
    EXPECT_EQ(input->pDI, nullptr);
    log.clear();
    EXPECT_EQ(made->Release(), 0u);
    EXPECT_EQ(log, "");  // no DirectInput object, no core: nothing to report
    ZVTestCaptureLog(nullptr);
}

TEST(InputManager, TheRecordIsInTheManagerRegistry) {
    ICore* core = nullptr;
    ASSERT_EQ(CreateCore(&core), S_OK);
    const Vector<PlugIn>& list = static_cast<ZVCore*>(core)->PlugInManagers;
    int found = -1;
    for (u32 i = 0; i < list.count; ++i)
        if (list[i].name == "ZVInputD3D8") found = (int)i;
    ASSERT_GE(found, 0);
    EXPECT_TRUE(list[(u32)found].type == "Input");
    EXPECT_EQ(list[(u32)found].minor, 30);
    EXPECT_EQ(list[(u32)found].AsManager(), &ZVInput::Create);
    core->Release();
}

}  // namespace
