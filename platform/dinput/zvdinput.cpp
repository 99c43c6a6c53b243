// The DirectInput 8 object and its devices on SDL2 (see zvdinput.h).
#include "zvdinput.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "zvsdlevents.h"

// Identifiers with DirectInput's values.
const GUID IID_IDirectInput8A = {0xBF798030u, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
const GUID IID_IDirectInput8W = {0xBF798031u, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
const GUID IID_IDirectInputDevice8A = {0x54D41080u, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};
const GUID IID_IDirectInputDevice8W = {0x54D41081u, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};
const GUID GUID_SysMouse = {0x6F1D2B60u, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_SysKeyboard = {0x6F1D2B61u, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Joystick = {0x6F1D2B70u, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

const DIDATAFORMAT c_dfDIKeyboard = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 256, 0, nullptr};
const DIDATAFORMAT c_dfDIMouse = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS,
                                  sizeof(DIMOUSESTATE), 0, nullptr};
const DIDATAFORMAT c_dfDIJoystick = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_ABSAXIS,
                                     sizeof(DIJOYSTATE), 0, nullptr};

namespace {

const GUID kIID_IUnknown = {0x00000000u, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// Instance identifiers of game controllers: this base with the SDL instance
// id in the last four bytes, so an identifier names one attachment.
const GUID kJoystickInstanceBase = {0x5A564A53u, 0x4449, 0x4E38, {0x80, 0x5A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
const GUID kKeyboardProduct = {0x5A564B42u, 0x4449, 0x4E38, {0x80, 0x5A, 0x4B, 0x42, 0x00, 0x00, 0x00, 0x01}};
const GUID kMouseProduct = {0x5A564D53u, 0x4449, 0x4E38, {0x80, 0x5A, 0x4D, 0x53, 0x00, 0x00, 0x00, 0x01}};

const DWORD kKeyboardType = DI8DEVTYPE_KEYBOARD | (DI8DEVTYPEKEYBOARD_PCENH << 8);
const DWORD kMouseType = DI8DEVTYPE_MOUSE | (DI8DEVTYPEMOUSE_TRADITIONAL << 8);

class Device;

// State shared by every DirectInput object and device: the keys and mouse
// buttons as the pump's events left them, and the live devices.
struct Hub {
    int objects = 0;  // live DirectInput objects
    bool observing = false;
    bool joysticks = false;  // SDL's joystick subsystem started by us
    BYTE keys[256] = {};
    BYTE buttons[4] = {};
    // Held when a modal dialog returned: read as up until released (their
    // key repeats are not presses).
    bool ignoredKeys[256] = {};
    std::vector<Device*> devices;
};
Hub g_hub;

void Observe(const SDL_Event* e, void* user);

GUID JoystickInstanceGuid(SDL_JoystickID id) {
    GUID g = kJoystickInstanceBase;
    Uint32 u = (Uint32)id;
    for (int i = 0; i < 4; ++i) g.Data4[4 + i] = (uint8_t)(u >> (24 - 8 * i));
    return g;
}

GUID ProductGuid(const SDL_JoystickGUID& s) {
    GUID g;
    g.Data1 = (uint32_t)s.data[0] | (uint32_t)s.data[1] << 8 | (uint32_t)s.data[2] << 16 | (uint32_t)s.data[3] << 24;
    g.Data2 = (uint16_t)(s.data[4] | s.data[5] << 8);
    g.Data3 = (uint16_t)(s.data[6] | s.data[7] << 8);
    std::memcpy(g.Data4, s.data + 8, 8);
    return g;
}

DWORD JoystickDevType(int index) {
    BYTE type;
    switch (SDL_JoystickGetDeviceType(index)) {
    case SDL_JOYSTICK_TYPE_GAMECONTROLLER: type = DI8DEVTYPE_GAMEPAD; break;
    case SDL_JOYSTICK_TYPE_WHEEL: type = DI8DEVTYPE_DRIVING; break;
    case SDL_JOYSTICK_TYPE_FLIGHT_STICK: type = DI8DEVTYPE_FLIGHT; break;
    default: type = DI8DEVTYPE_JOYSTICK; break;
    }
    return type | (DI8DEVTYPEJOYSTICK_STANDARD << 8) | DIDEVTYPE_HID;
}

void CopyName(CHAR* to, const char* name) {
    std::snprintf(to, MAX_PATH, "%s", name ? name : "");
}

// The SDL device index of the attached joystick with this instance
// identifier; -1 when there is none.
int FindJoystickIndex(const GUID& guid) {
    if (!g_hub.joysticks) return -1;
    int n = SDL_NumJoysticks();
    for (int i = 0; i < n; ++i)
        if (JoystickInstanceGuid(SDL_JoystickGetDeviceInstanceID(i)) == guid) return i;
    return -1;
}

DIDEVICEINSTANCEA JoystickInstance(int index) {
    DIDEVICEINSTANCEA d = {};
    d.dwSize = sizeof(d);
    d.guidInstance = JoystickInstanceGuid(SDL_JoystickGetDeviceInstanceID(index));
    d.guidProduct = ProductGuid(SDL_JoystickGetDeviceGUID(index));
    d.dwDevType = JoystickDevType(index);
    CopyName(d.tszInstanceName, SDL_JoystickNameForIndex(index));
    CopyName(d.tszProductName, SDL_JoystickNameForIndex(index));
    d.wUsagePage = 1;  // generic desktop
    d.wUsage = GET_DIDEVICE_TYPE(d.dwDevType) == DI8DEVTYPE_GAMEPAD ? 5 : 4;
    return d;
}

DIDEVICEINSTANCEA SystemInstance(bool keyboard) {
    DIDEVICEINSTANCEA d = {};
    d.dwSize = sizeof(d);
    d.guidInstance = keyboard ? GUID_SysKeyboard : GUID_SysMouse;
    d.guidProduct = keyboard ? kKeyboardProduct : kMouseProduct;
    d.dwDevType = keyboard ? kKeyboardType : kMouseType;
    CopyName(d.tszInstanceName, keyboard ? "Keyboard" : "Mouse");
    CopyName(d.tszProductName, keyboard ? "Keyboard" : "Mouse");
    d.wUsagePage = 1;
    d.wUsage = keyboard ? 6 : 2;
    return d;
}

class DirectInput8 : public IDirectInput8A {
public:
    DirectInput8() {
        if (g_hub.objects++ == 0) {
            // Controllers are read whatever window has the focus; the
            // cooperative levels decide who may see them.
            SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
            g_hub.joysticks = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
            std::memset(g_hub.keys, 0, sizeof(g_hub.keys));
            std::memset(g_hub.buttons, 0, sizeof(g_hub.buttons));
            ZVAddSdlEventObserver(Observe, nullptr);
            g_hub.observing = true;
        }
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IDirectInput8A && riid != kIID_IUnknown) return E_NOINTERFACE;
        AddRef();
        *object = this;
        return S_OK;
    }
    ULONG AddRef() override { return ++ref_; }
    ULONG Release() override {
        if (ref_ == 0) return 0;
        ULONG left = --ref_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8A* device, LPUNKNOWN outer) override;
    HRESULT EnumDevices(DWORD devType, LPDIENUMDEVICESCALLBACKA callback, LPVOID context, DWORD flags) override;
    HRESULT GetDeviceStatus(REFGUID guid) override {
        if (guid == GUID_SysKeyboard || guid == GUID_SysMouse) return DI_OK;
        return FindJoystickIndex(guid) >= 0 ? DI_OK : DIERR_DEVICENOTREG;
    }

protected:
    ~DirectInput8() override {
        if (--g_hub.objects == 0) {
            if (g_hub.observing) ZVRemoveSdlEventObserver(Observe, nullptr);
            g_hub.observing = false;
            if (g_hub.joysticks) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
            g_hub.joysticks = false;
        }
    }

private:
    ULONG ref_ = 1;
};

class Device : public IDirectInputDevice8A {
public:
    enum class Kind { Keyboard, Mouse, Joystick };

    Device(DirectInput8* owner, Kind kind) : owner_(owner), kind_(kind) {
        owner_->AddRef();
        g_hub.devices.push_back(this);
    }

    // Opens the joystick at SDL device index `index`; false when SDL cannot.
    bool OpenJoystick(int index) {
        info_ = JoystickInstance(index);
        joystick_ = SDL_JoystickOpen(index);
        return joystick_ != nullptr;
    }
    void SetSystemInfo() { info_ = SystemInstance(kind_ == Kind::Keyboard); }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IDirectInputDevice8A && riid != kIID_IUnknown) return E_NOINTERFACE;
        AddRef();
        *object = this;
        return S_OK;
    }
    ULONG AddRef() override { return ++ref_; }
    ULONG Release() override {
        if (ref_ == 0) return 0;
        ULONG left = --ref_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT GetCapabilities(LPDIDEVCAPS caps) override {
        if (!caps || caps->dwSize != sizeof(DIDEVCAPS)) return DIERR_INVALIDPARAM;
        std::memset(caps, 0, sizeof(*caps));
        caps->dwSize = sizeof(DIDEVCAPS);
        caps->dwDevType = info_.dwDevType;
        switch (kind_) {
        case Kind::Keyboard:
            caps->dwFlags = DIDC_ATTACHED;
            caps->dwButtons = 128;
            break;
        case Kind::Mouse:
            caps->dwFlags = DIDC_ATTACHED;
            caps->dwAxes = 3;
            caps->dwButtons = 4;
            break;
        case Kind::Joystick:
            caps->dwFlags = DIDC_POLLEDDEVICE | DIDC_POLLEDDATAFORMAT | (Attached() ? DIDC_ATTACHED : 0);
            caps->dwAxes = (DWORD)std::clamp(SDL_JoystickNumAxes(joystick_), 0, 8);
            caps->dwButtons = (DWORD)std::clamp(SDL_JoystickNumButtons(joystick_), 0, 32);
            caps->dwPOVs = (DWORD)std::clamp(SDL_JoystickNumHats(joystick_), 0, 4);
            break;
        }
        return DI_OK;
    }

    HRESULT SetDataFormat(LPCDIDATAFORMAT format) override {
        if (!format) return DIERR_INVALIDPARAM;
        if (acquired_) return DIERR_ACQUIRED;
        const DIDATAFORMAT& wanted = kind_ == Kind::Keyboard ? c_dfDIKeyboard
                                     : kind_ == Kind::Mouse  ? c_dfDIMouse
                                                             : c_dfDIJoystick;
        if (format != &wanted) {
            // A copy of the standard format is the standard format.
            if (format->dwSize != wanted.dwSize || format->dwObjSize != wanted.dwObjSize ||
                format->dwDataSize != wanted.dwDataSize ||
                (format->dwFlags & (DIDF_ABSAXIS | DIDF_RELAXIS)) != wanted.dwFlags)
                return DIERR_INVALIDPARAM;
        }
        format_ = &wanted;
        return DI_OK;
    }

    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
        if (flags & ~(DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_BACKGROUND | DISCL_NOWINKEY))
            return DIERR_INVALIDPARAM;
        bool exclusive = flags & DISCL_EXCLUSIVE, nonexclusive = flags & DISCL_NONEXCLUSIVE;
        bool foreground = flags & DISCL_FOREGROUND, background = flags & DISCL_BACKGROUND;
        if (exclusive == nonexclusive || foreground == background) return DIERR_INVALIDPARAM;
        if ((flags & DISCL_NOWINKEY) && !foreground) return DIERR_INVALIDPARAM;
        if (acquired_) return DIERR_ACQUIRED;
        // The system keyboard and mouse are never held exclusively in the background.
        if (kind_ != Kind::Joystick && exclusive && background) return DIERR_UNSUPPORTED;
        if ((foreground || exclusive) && !IsWindow(window)) return E_HANDLE;
        window_ = window;
        level_ = flags;
        return DI_OK;
    }

    HRESULT Acquire() override {
        if (!format_) return DIERR_INVALIDPARAM;
        if (kind_ == Kind::Joystick && !Attached()) {
            acquired_ = false;
            return DIERR_UNPLUGGED;
        }
        if (acquired_ && !InForeground()) acquired_ = false;
        if (acquired_) return S_FALSE;
        if (!InForeground()) return DIERR_OTHERAPPHASPRIO;
        if (level_ & DISCL_EXCLUSIVE) {
            for (Device* d : g_hub.devices)
                if (d != this && d->acquired_ && (d->level_ & DISCL_EXCLUSIVE) && d->SameHardware(*this))
                    return DIERR_OTHERAPPHASPRIO;
        }
        acquired_ = true;
        lost_ = false;
        dx_ = dy_ = dz_ = 0;
        return DI_OK;
    }

    HRESULT Unacquire() override {
        lost_ = false;
        if (!acquired_) return S_FALSE;
        acquired_ = false;
        return DI_OK;
    }

    HRESULT GetDeviceState(DWORD size, LPVOID data) override {
        if (!data || !format_ || size != format_->dwDataSize) return DIERR_INVALIDPARAM;
        HRESULT hr = CheckAcquired();
        if (FAILED(hr)) return hr;
        switch (kind_) {
        case Kind::Keyboard:
            std::memcpy(data, g_hub.keys, 256);
            break;
        case Kind::Mouse: {
            DIMOUSESTATE s;
            s.lX = dx_;
            s.lY = dy_;
            s.lZ = dz_;
            std::memcpy(s.rgbButtons, g_hub.buttons, 4);
            dx_ = dy_ = dz_ = 0;
            std::memcpy(data, &s, sizeof(s));
            break;
        }
        case Kind::Joystick: {
            DIJOYSTATE s;
            ReadJoystick(&s);
            std::memcpy(data, &s, sizeof(s));
            break;
        }
        }
        return DI_OK;
    }

    HRESULT Poll() override {
        if (kind_ == Kind::Joystick && !Attached()) {
            if (acquired_) lost_ = true;
            acquired_ = false;
            return DIERR_UNPLUGGED;
        }
        HRESULT hr = CheckAcquired();
        if (FAILED(hr)) return hr;
        if (kind_ != Kind::Joystick) return S_FALSE;  // keyboard and mouse are not polled devices
        SDL_JoystickUpdate();
        if (!Attached()) {
            acquired_ = false;
            lost_ = true;
            return DIERR_UNPLUGGED;
        }
        return DI_OK;
    }

    HRESULT GetDeviceInfo(LPDIDEVICEINSTANCEA instance) override {
        if (!instance || instance->dwSize != sizeof(DIDEVICEINSTANCEA)) return DIERR_INVALIDPARAM;
        *instance = info_;
        return DI_OK;
    }

    // Event input (called by the observer).
    bool CollectsMotion() { return kind_ == Kind::Mouse && acquired_ && InForeground(); }
    void AddMotion(LONG dx, LONG dy, LONG dz) {
        dx_ += dx;
        dy_ += dy;
        dz_ += dz;
    }

protected:
    ~Device() override {
        g_hub.devices.erase(std::remove(g_hub.devices.begin(), g_hub.devices.end(), this), g_hub.devices.end());
        if (joystick_) SDL_JoystickClose(joystick_);
        owner_->Release();
    }

private:
    bool Attached() const { return joystick_ && SDL_JoystickGetAttached(joystick_); }

    bool SameHardware(const Device& o) const {
        return kind_ == o.kind_ && (kind_ != Kind::Joystick || info_.guidInstance == o.info_.guidInstance);
    }

    // A foreground device may only be used while its window is the
    // foreground window.
    bool InForeground() const {
        if (!(level_ & DISCL_FOREGROUND)) return true;
        return window_ && GetForegroundWindow() == window_;
    }

    // DI_OK while acquired.  An acquisition lost since the last call (the
    // window went to the background, the controller was detached) is
    // reported once as DIERR_INPUTLOST, then DIERR_NOTACQUIRED.
    HRESULT CheckAcquired() {
        if (acquired_ && (!InForeground() || (kind_ == Kind::Joystick && !Attached()))) {
            acquired_ = false;
            lost_ = true;
        }
        if (acquired_) return DI_OK;
        if (lost_) {
            lost_ = false;
            return DIERR_INPUTLOST;
        }
        return DIERR_NOTACQUIRED;
    }

    void ReadJoystick(DIJOYSTATE* s) const {
        std::memset(s, 0, sizeof(*s));
        for (DWORD& pov : s->rgdwPOV) pov = 0xFFFFFFFFu;
        LONG* axes[8] = {&s->lX, &s->lY, &s->lZ, &s->lRx, &s->lRy, &s->lRz, &s->rglSlider[0], &s->rglSlider[1]};
        int nAxes = std::min(SDL_JoystickNumAxes(joystick_), 8);
        for (int i = 0; i < nAxes; ++i) *axes[i] = (LONG)SDL_JoystickGetAxis(joystick_, i) + 32768;
        int nHats = std::min(SDL_JoystickNumHats(joystick_), 4);
        for (int i = 0; i < nHats; ++i) {
            switch (SDL_JoystickGetHat(joystick_, i)) {
            case SDL_HAT_UP: s->rgdwPOV[i] = 0; break;
            case SDL_HAT_RIGHTUP: s->rgdwPOV[i] = 4500; break;
            case SDL_HAT_RIGHT: s->rgdwPOV[i] = 9000; break;
            case SDL_HAT_RIGHTDOWN: s->rgdwPOV[i] = 13500; break;
            case SDL_HAT_DOWN: s->rgdwPOV[i] = 18000; break;
            case SDL_HAT_LEFTDOWN: s->rgdwPOV[i] = 22500; break;
            case SDL_HAT_LEFT: s->rgdwPOV[i] = 27000; break;
            case SDL_HAT_LEFTUP: s->rgdwPOV[i] = 31500; break;
            default: break;  // centred
            }
        }
        int nButtons = std::min(SDL_JoystickNumButtons(joystick_), 32);
        for (int i = 0; i < nButtons; ++i) s->rgbButtons[i] = SDL_JoystickGetButton(joystick_, i) ? 0x80 : 0;
    }

    ULONG ref_ = 1;
    DirectInput8* owner_;
    Kind kind_;
    DIDEVICEINSTANCEA info_ = {};
    SDL_Joystick* joystick_ = nullptr;
    const DIDATAFORMAT* format_ = nullptr;
    HWND window_ = nullptr;
    DWORD level_ = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
    bool acquired_ = false;
    bool lost_ = false;
    LONG dx_ = 0, dy_ = 0, dz_ = 0;
};

HRESULT DirectInput8::CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8A* device, LPUNKNOWN outer) {
    if (!device) return DIERR_INVALIDPARAM;
    *device = nullptr;
    if (outer) return DIERR_NOAGGREGATION;
    Device* d = nullptr;
    if (guid == GUID_SysKeyboard || guid == GUID_SysMouse) {
        d = new (std::nothrow) Device(this, guid == GUID_SysKeyboard ? Device::Kind::Keyboard : Device::Kind::Mouse);
        if (!d) return DIERR_OUTOFMEMORY;
        d->SetSystemInfo();
    } else {
        int index = FindJoystickIndex(guid);
        if (index < 0) return DIERR_DEVICENOTREG;
        d = new (std::nothrow) Device(this, Device::Kind::Joystick);
        if (!d) return DIERR_OUTOFMEMORY;
        if (!d->OpenJoystick(index)) {
            d->Release();
            return DIERR_DEVICENOTREG;
        }
    }
    *device = d;
    return DI_OK;
}

HRESULT DirectInput8::EnumDevices(DWORD devType, LPDIENUMDEVICESCALLBACKA callback, LPVOID context, DWORD flags) {
    if (!callback) return DIERR_INVALIDPARAM;
    const DWORD known = DIEDFL_ATTACHEDONLY | DIEDFL_FORCEFEEDBACK | DIEDFL_INCLUDEALIASES | DIEDFL_INCLUDEPHANTOMS |
                        DIEDFL_INCLUDEHIDDEN;
    if (flags & ~known) return DIERR_INVALIDPARAM;
    bool keyboard = false, mouse = false, controllers = false;
    BYTE controllerType = 0;  // 0: every game controller
    switch (devType) {
    case DI8DEVCLASS_ALL: keyboard = mouse = controllers = true; break;
    case DI8DEVCLASS_DEVICE: break;
    case DI8DEVCLASS_POINTER: mouse = true; break;
    case DI8DEVCLASS_KEYBOARD: keyboard = true; break;
    case DI8DEVCLASS_GAMECTRL: controllers = true; break;
    case DI8DEVTYPE_DEVICE: break;
    case DI8DEVTYPE_MOUSE: mouse = true; break;
    case DI8DEVTYPE_KEYBOARD: keyboard = true; break;
    case DI8DEVTYPE_JOYSTICK:
    case DI8DEVTYPE_GAMEPAD:
    case DI8DEVTYPE_DRIVING:
    case DI8DEVTYPE_FLIGHT:
    case DI8DEVTYPE_1STPERSON:
        controllers = true;
        controllerType = (BYTE)devType;
        break;
    default: return DIERR_INVALIDPARAM;
    }
    // Nothing here has force feedback.
    if (flags & DIEDFL_FORCEFEEDBACK) return DI_OK;

    // The list is taken first: the callback may create devices.
    std::vector<DIDEVICEINSTANCEA> found;
    if (keyboard) found.push_back(SystemInstance(true));
    if (mouse) found.push_back(SystemInstance(false));
    if (controllers && g_hub.joysticks) {
        int n = SDL_NumJoysticks();
        for (int i = 0; i < n; ++i) {
            DIDEVICEINSTANCEA d = JoystickInstance(i);
            if (controllerType && GET_DIDEVICE_TYPE(d.dwDevType) != controllerType) continue;
            found.push_back(d);
        }
    }
    for (const DIDEVICEINSTANCEA& d : found)
        if (callback(&d, context) == DIENUM_STOP) break;
    return DI_OK;
}

int MouseButtonIndex(Uint8 button) {
    switch (button) {
    case SDL_BUTTON_LEFT: return 0;
    case SDL_BUTTON_RIGHT: return 1;
    case SDL_BUTTON_MIDDLE: return 2;
    case SDL_BUTTON_X1: return 3;
    default: return -1;
    }
}

void AddMotion(LONG dx, LONG dy, LONG dz) {
    for (Device* d : g_hub.devices)
        if (d->CollectsMotion()) d->AddMotion(dx, dy, dz);
}

// A modal dialog returned: what is held now was pressed for the dialog.
// Buttons send nothing more until released, keys their repeats.
void IgnoreHeldInput() {
    for (int i = 0; i < 256; ++i) {
        if (g_hub.keys[i]) g_hub.ignoredKeys[i] = true;
        g_hub.keys[i] = 0;
    }
    std::memset(g_hub.buttons, 0, sizeof(g_hub.buttons));
}

void Observe(const SDL_Event* e, void*) {
    if (e->type == ZVModalReturnEventType()) {
        IgnoreHeldInput();
        return;
    }
    switch (e->type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (BYTE code = ZVDInputScanCode(e->key.keysym.scancode)) {
            bool down = e->type == SDL_KEYDOWN;
            // Repeats of a key ignored since a dialog returned stay unseen.
            if (down && g_hub.ignoredKeys[code] && e->key.repeat) break;
            g_hub.ignoredKeys[code] = false;
            g_hub.keys[code] = down ? 0x80 : 0;
        }
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        int i = MouseButtonIndex(e->button.button);
        if (i >= 0) g_hub.buttons[i] = e->type == SDL_MOUSEBUTTONDOWN ? 0x80 : 0;
        break;
    }
    case SDL_MOUSEMOTION:
        AddMotion(e->motion.xrel, e->motion.yrel, 0);
        break;
    case SDL_MOUSEWHEEL: {
        LONG notches = e->wheel.y;
        if (e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
        AddMotion(0, 0, notches * 120);
        break;
    }
    case SDL_WINDOWEVENT:
        // Keys and buttons released while another window has the focus are
        // never reported to us: forget them.
        if (e->window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
            std::memset(g_hub.keys, 0, sizeof(g_hub.keys));
            std::memset(g_hub.buttons, 0, sizeof(g_hub.buttons));
            std::memset(g_hub.ignoredKeys, 0, sizeof(g_hub.ignoredKeys));
        }
        break;
    default:
        break;
    }
}

}  // namespace

HRESULT DirectInput8Create(HINSTANCE, DWORD version, REFIID iid, LPVOID* out, LPUNKNOWN outer) {
    if (!out) return DIERR_INVALIDPARAM;
    *out = nullptr;
    if (outer) return DIERR_NOAGGREGATION;
    if (version < 0x0800) return DIERR_OLDDIRECTINPUTVERSION;
    if (version > 0x0800) return DIERR_BETADIRECTINPUTVERSION;
    if (iid != IID_IDirectInput8A) return DIERR_NOINTERFACE;
    DirectInput8* di = new (std::nothrow) DirectInput8();
    if (!di) return DIERR_OUTOFMEMORY;
    *out = static_cast<IDirectInput8A*>(di);
    return DI_OK;
}
