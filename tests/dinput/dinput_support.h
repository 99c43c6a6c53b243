// Shared set-up of the input tests: a visible window (the foreground
// window), a DirectInput object, and a pump that dispatches what the
// window layer read from SDL.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "zvdinput.h"
#include "zvwin32.h"
#include "zvwin32test.h"

// As the engine's window procedure does, a device set here is acquired when
// the application becomes active and given up when it becomes inactive; the
// results are recorded.
inline IDirectInputDevice8A* g_acquireOnActivation = nullptr;
inline std::vector<HRESULT> g_activationResults;

inline LRESULT DInputTestProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ACTIVATEAPP && g_acquireOnActivation)
        g_activationResults.push_back(wParam ? g_acquireOnActivation->Acquire() : g_acquireOnActivation->Unacquire());
    return DefWindowProcA(h, message, wParam, lParam);
}

inline void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

class DInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        static bool registered = false;
        if (!registered) {
            WNDCLASSEXA wc = {};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = DInputTestProc;
            wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
            wc.lpszClassName = "DInputTest";
            ASSERT_NE(RegisterClassExA(&wc), 0);
            registered = true;
        }
        window = CreateWindowExA(0, "DInputTest", "input", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 320, 240,
                                 nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        PumpMessages();
        ASSERT_EQ(GetForegroundWindow(), window);
        void* out = nullptr;
        ASSERT_EQ(DirectInput8Create(nullptr, 0x0800, IID_IDirectInput8A, &out, nullptr), DI_OK);
        di = static_cast<IDirectInput8A*>(out);
    }
    void TearDown() override {
        g_acquireOnActivation = nullptr;
        g_activationResults.clear();
        if (keyboard) keyboard->Release();
        if (mouse) mouse->Release();
        if (di) {
            EXPECT_EQ(di->Release(), 0u);
        }
        if (IsWindow(window)) DestroyWindow(window);
        PumpMessages();
    }

    // A device of the system keyboard or mouse, with its standard format,
    // at the cooperative level given, acquired.
    IDirectInputDevice8A* Make(REFGUID guid, DWORD level = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND) {
        IDirectInputDevice8A* d = nullptr;
        EXPECT_EQ(di->CreateDevice(guid, &d, nullptr), DI_OK);
        if (!d) return nullptr;
        EXPECT_EQ(d->SetDataFormat(guid == GUID_SysKeyboard ? &c_dfDIKeyboard : &c_dfDIMouse), DI_OK);
        EXPECT_EQ(d->SetCooperativeLevel(window, level), DI_OK);
        EXPECT_EQ(d->Acquire(), DI_OK);
        return d;
    }
    void MakeKeyboard(DWORD level = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND) { keyboard = Make(GUID_SysKeyboard, level); }
    void MakeMouse(DWORD level = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND) { mouse = Make(GUID_SysMouse, level); }

    void Key(SDL_Scancode sc, bool down) {
        ZVTestPushKey(window, sc, down);
        PumpMessages();
    }
    HRESULT ReadKeys(BYTE* keys) {
        std::memset(keys, 0x55, 256);
        return keyboard->GetDeviceState(256, keys);
    }
    HRESULT ReadMouse(DIMOUSESTATE* s) {
        std::memset(s, 0x55, sizeof(*s));
        return mouse->GetDeviceState(sizeof(*s), s);
    }

    HWND window = nullptr;
    IDirectInput8A* di = nullptr;
    IDirectInputDevice8A* keyboard = nullptr;
    IDirectInputDevice8A* mouse = nullptr;
};
