// The input manager on DirectInput 8: keyboard, mouse and joystick states.
#include "zvinputdi8.h"

#include <new>

#include "zvcore.h"

namespace {

const char* const kSource = "zvinputdi8";

// The text of every failure of a device call after the device was made.
const char* const kDash = "-";

const DWORD kSharedForeground = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND;  // 6
const DWORD kExclusiveForeground = DISCL_EXCLUSIVE | DISCL_FOREGROUND;  // 5

u32 GetPlugInInfos(PlugIn* blank) {
    blank->name = "ZVInputD3D8";
    blank->major = 0;
    blank->minor = 30;
    blank->type = "Input";
    blank->factory = PlugIn::FromManager(ZVInput::Create);
    return 0;
}

PlugInRegistrar g_registrar(ZVPLUGIN_MANAGER, GetPlugInInfos);

}  // namespace

// Reports a failed result through the scope and leaves the operation.
#define ZVINPUT_CHECK(message, call)                                              \
    do {                                                                          \
        HRESULT hr_ = (call);                                                     \
        if (scope.ReportFailure((message), kSource, __LINE__, hr_) < 0) return ZVE_SUBFUNCTION; \
    } while (0)

IInterface* ZVInput::Create() {
    ZVInput* input = new (std::nothrow) ZVInput;
    if (!input) return nullptr;
    input->AddRef();
    return input;
}

ZVInput::ZVInput()
    : nRef(0),
      pCore(nullptr),
      hWnd(nullptr),
      pDI(nullptr),
      pKeyboard(nullptr),
      pMouse(nullptr),
      pJoystick(nullptr) {}

ZVInput::~ZVInput() {
    CallScope scope(this, "Destructor()");
    if (pDI) {
        IDirectInputDevice8A** devices[3] = {&pKeyboard, &pJoystick, &pMouse};
        for (IDirectInputDevice8A** device : devices) {
            if (!*device) continue;
            (*device)->Unacquire();
            (*device)->Release();
            *device = nullptr;
        }
        const int left = (int)pDI->Release();
        if (left < 1) {
            scope.WriteLog(ZVLOG_INFO, "Input Engine correctly shutdown", kSource, __LINE__);
        } else {
            String message("ZVInput: DirectInput8 Interface (count = ");
            message += left;
            message += " ) !";
            scope.WriteLog(ZVLOG_WARNING, message, kSource, __LINE__);
            for (int i = 0; i < left; ++i) pDI->Release();
        }
        pDI = nullptr;
    }
    if (pCore) {
        IInternCore* core = dynamic_cast<IInternCore*>(pCore);
        if (core) core->RemoveManager(this);
        pCore->Release();
        pCore = nullptr;
    }
}

u32 ZVInput::AddRef() { return ++nRef; }

u32 ZVInput::Release() {
    if (nRef == 0) return 0;
    if (--nRef > 0) return nRef;
    delete this;
    return 0;
}

const String& ZVInput::GetName() {
    static String name("ZVInput");
    return name;
}

HRESULT ZVInput::Init(ICore* core, HINSTANCE instance, HWND window) {
    CallScope scope(this, "Init()");
    if (!core) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (pDI) {
        // A second DirectInput object would be lost with the first.
        scope.ReportFailure("Input manager already initialised", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    hWnd = window;
    pCore = core;
    void* object = nullptr;
    HRESULT hr = DirectInput8Create(instance, DIRECTINPUT_VERSION, IID_IDirectInput8A, &object, nullptr);
    pDI = hr >= 0 ? static_cast<IDirectInput8A*>(object) : nullptr;
    ZVINPUT_CHECK("DirectInput8Create() failed !", hr);
    return S_OK;
}

BOOL ZVInput::EnumJoystick(LPCDIDEVICEINSTANCEA instance, LPVOID context) {
    ZVInput* input = static_cast<ZVInput*>(context);
    if (!input || !instance) return E_FAIL;  // non-zero: the enumeration goes on
    if (input->pDI->CreateDevice(instance->guidInstance, &input->pJoystick, nullptr) >= 0) return DIENUM_STOP;
    input->pJoystick = nullptr;
    return DIENUM_CONTINUE;
}

HRESULT ZVInput::UseDevices(u32 flags, u32* made) {
    CallScope scope(this, "UseDevices()");
    if (!pDI) {
        scope.ReportFailure("DirectInput not created; call Init() before", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    u32 created = 0;

    // Devices no longer wanted go first.
    struct Kind {
        u32 flag;
        IDirectInputDevice8A** device;
    } kinds[3] = {{DEVICE_KEYBOARD, &pKeyboard}, {DEVICE_MOUSE, &pMouse}, {DEVICE_JOYSTICK, &pJoystick}};
    for (Kind& k : kinds) {
        if ((flags & k.flag) || !*k.device) continue;
        (*k.device)->Release();
        *k.device = nullptr;
    }

    if ((flags & DEVICE_KEYBOARD) && !pKeyboard) {
        ZVINPUT_CHECK("IDirectInput8::CreateDevice() failed for the Keyboard !",
                      pDI->CreateDevice(GUID_SysKeyboard, &pKeyboard, nullptr));
        created |= DEVICE_KEYBOARD;
        ZVINPUT_CHECK(kDash, pKeyboard->SetDataFormat(&c_dfDIKeyboard));
        ZVINPUT_CHECK(kDash, pKeyboard->SetCooperativeLevel(hWnd, kSharedForeground));
    }
    if ((flags & DEVICE_MOUSE) && !pMouse) {
        ZVINPUT_CHECK("IDirectInput8::CreateDevice() failed for the Mouse !",
                      pDI->CreateDevice(GUID_SysMouse, &pMouse, nullptr));
        created |= DEVICE_MOUSE;
        ZVINPUT_CHECK(kDash, pMouse->SetDataFormat(&c_dfDIMouse));
        ZVINPUT_CHECK(kDash, pMouse->SetCooperativeLevel(hWnd, kSharedForeground));
    }
    if ((flags & DEVICE_JOYSTICK) && !pJoystick) {
        ZVINPUT_CHECK("IDirectInput8::CreateDevice() failed for the Joystick !",
                      pDI->EnumDevices(DI8DEVCLASS_GAMECTRL, EnumJoystick, this, DIEDFL_ATTACHEDONLY));
        // Without an attached game controller the enumeration makes nothing:
        // the program simply has no joystick.
        if (pJoystick) {
            created |= DEVICE_JOYSTICK;
            ZVINPUT_CHECK(kDash, pJoystick->SetDataFormat(&c_dfDIJoystick));
            ZVINPUT_CHECK(kDash, pJoystick->SetCooperativeLevel(hWnd, kExclusiveForeground));
        }
    }

    if (made) *made = created;
    return (HRESULT)Acquire(true);
}

u32 ZVInput::Acquire(bool acquire) {
    IDirectInputDevice8A* devices[3] = {pKeyboard, pJoystick, pMouse};
    for (IDirectInputDevice8A* device : devices) {
        if (!device) continue;
        if (acquire)
            device->Acquire();
        else
            device->Unacquire();
    }
    return 0;
}

HRESULT ZVInput::GetKeyboardState(u8* keys) {
    CallScope scope(this, "GetKeyboardState()");
    if (!keys) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (!pKeyboard) {
        scope.ReportFailure("Keyboard not created; call UseDevices() before", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (pKeyboard->GetDeviceState(256, keys) >= 0) return S_OK;
    HRESULT hr = pKeyboard->Acquire();
    // Another application has the foreground: nothing to read, nothing to report.
    if (hr == E_ACCESSDENIED) return E_FAIL;
    ZVINPUT_CHECK(kDash, hr);
    ZVINPUT_CHECK(kDash, pKeyboard->GetDeviceState(256, keys));
    return S_OK;
}

HRESULT ZVInput::GetMouseState(DIMOUSESTATE* state) {
    CallScope scope(this, "GetMouseState()");
    if (!state) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (!pMouse) {
        scope.ReportFailure("Mouse not created; call UseDevices() before", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (pMouse->GetDeviceState(sizeof(DIMOUSESTATE), state) >= 0) return S_OK;
    ZVINPUT_CHECK(kDash, pMouse->Acquire());
    ZVINPUT_CHECK(kDash, pMouse->GetDeviceState(sizeof(DIMOUSESTATE), state));
    return S_OK;
}

HRESULT ZVInput::GetJoystickState(DIJOYSTATE* state) {
    CallScope scope(this, "GetJoystickState()");
    if (!state) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (!pJoystick) {
        scope.ReportFailure("Joystick not created; call UseDevices() before", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    HRESULT hr = pJoystick->Poll();
    if (hr == DIERR_INPUTLOST || hr == DIERR_NOTACQUIRED) {
        ZVINPUT_CHECK(kDash, pJoystick->Acquire());
        ZVINPUT_CHECK(kDash, pJoystick->Poll());
    } else if (hr == DIERR_UNPLUGGED) {
        return S_FALSE;
    } else {
        ZVINPUT_CHECK(kDash, hr);
    }
    if (pJoystick->GetDeviceState(sizeof(DIJOYSTATE), state) >= 0) return S_OK;
    // Not read this time; the caller reads again on its next tick.
    ZVINPUT_CHECK(kDash, pJoystick->Acquire());
    return S_FALSE;
}
