// The DirectInput 8 subset the engine uses: the DirectInput object, its
// devices (system keyboard, system mouse, game controllers), the standard
// data formats and the keyboard scan codes.
//
// Names and values are DirectInput's so that engine code reads as a Windows
// program.  Underneath:
// - The keyboard and the mouse keep their own state, updated from every SDL
//   event the window layer's message pump reads (zvsdlevents.h).  Events
//   injected by tests therefore act exactly like a person at the keyboard.
// - Game controllers are SDL joysticks, read when polled.
// - A device with a foreground cooperative level can be acquired only while
//   its window is the foreground window (GetForegroundWindow); it loses its
//   acquisition as soon as the window stops being the foreground window.
//
// Everything runs on the thread that pumps the window messages.
#pragma once

#include "zvwin32.h"
#include "zvwintypes.h"

// ---------------------------------------------------------------------------
// Versions and identifiers
#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#endif

extern const GUID IID_IDirectInput8A;
extern const GUID IID_IDirectInput8W;
extern const GUID IID_IDirectInputDevice8A;
extern const GUID IID_IDirectInputDevice8W;
#define IID_IDirectInput8 IID_IDirectInput8A
#define IID_IDirectInputDevice8 IID_IDirectInputDevice8A

extern const GUID GUID_SysMouse;
extern const GUID GUID_SysKeyboard;
extern const GUID GUID_Joystick;

// ---------------------------------------------------------------------------
// Device classes (EnumDevices) and device types (DIDEVICEINSTANCE::dwDevType)
#define DI8DEVCLASS_ALL 0
#define DI8DEVCLASS_DEVICE 1
#define DI8DEVCLASS_POINTER 2
#define DI8DEVCLASS_KEYBOARD 3
#define DI8DEVCLASS_GAMECTRL 4

#define DI8DEVTYPE_DEVICE 0x11
#define DI8DEVTYPE_MOUSE 0x12
#define DI8DEVTYPE_KEYBOARD 0x13
#define DI8DEVTYPE_JOYSTICK 0x14
#define DI8DEVTYPE_GAMEPAD 0x15
#define DI8DEVTYPE_DRIVING 0x16
#define DI8DEVTYPE_FLIGHT 0x17
#define DI8DEVTYPE_1STPERSON 0x18

#define DI8DEVTYPEMOUSE_TRADITIONAL 2
#define DI8DEVTYPEKEYBOARD_PCENH 4
#define DI8DEVTYPEJOYSTICK_STANDARD 2
#define DIDEVTYPE_HID 0x00010000u

#define GET_DIDEVICE_TYPE(dwDevType) ((BYTE)(dwDevType))
#define GET_DIDEVICE_SUBTYPE(dwDevType) ((BYTE)((dwDevType) >> 8))

// EnumDevices flags
#define DIEDFL_ALLDEVICES 0x00000000u
#define DIEDFL_ATTACHEDONLY 0x00000001u
#define DIEDFL_FORCEFEEDBACK 0x00000100u
#define DIEDFL_INCLUDEALIASES 0x00010000u
#define DIEDFL_INCLUDEPHANTOMS 0x00020000u
#define DIEDFL_INCLUDEHIDDEN 0x00040000u

// Enumeration callback results
#define DIENUM_STOP 0
#define DIENUM_CONTINUE 1

// Cooperative levels
#define DISCL_EXCLUSIVE 0x00000001u
#define DISCL_NONEXCLUSIVE 0x00000002u
#define DISCL_FOREGROUND 0x00000004u
#define DISCL_BACKGROUND 0x00000008u
#define DISCL_NOWINKEY 0x00000010u

// ---------------------------------------------------------------------------
// Data formats.  Only the standard formats below are understood; a device
// accepts the one that matches its kind and identifies it by its size and
// axis mode, so the object tables are not needed and stay empty.
#define DIDF_ABSAXIS 0x00000001u
#define DIDF_RELAXIS 0x00000002u

typedef struct _DIOBJECTDATAFORMAT {
    const GUID* pguid;
    DWORD dwOfs;
    DWORD dwType;
    DWORD dwFlags;
} DIOBJECTDATAFORMAT, *LPDIOBJECTDATAFORMAT;
typedef const DIOBJECTDATAFORMAT* LPCDIOBJECTDATAFORMAT;

typedef struct _DIDATAFORMAT {
    DWORD dwSize;
    DWORD dwObjSize;
    DWORD dwFlags;
    DWORD dwDataSize;
    DWORD dwNumObjs;
    LPDIOBJECTDATAFORMAT rgodf;
} DIDATAFORMAT, *LPDIDATAFORMAT;
typedef const DIDATAFORMAT* LPCDIDATAFORMAT;

extern const DIDATAFORMAT c_dfDIKeyboard;  // 256 bytes: one per scan code
extern const DIDATAFORMAT c_dfDIMouse;     // DIMOUSESTATE, relative axes
extern const DIDATAFORMAT c_dfDIJoystick;  // DIJOYSTATE, absolute axes

typedef struct _DIMOUSESTATE {
    LONG lX;  // motion since the previous read
    LONG lY;
    LONG lZ;  // wheel: 120 per notch, positive away from the user
    BYTE rgbButtons[4];  // left, right, middle, X1; 0x80 while down
} DIMOUSESTATE, *LPDIMOUSESTATE;

typedef struct _DIJOYSTATE {
    LONG lX;  // axes 0..65535
    LONG lY;
    LONG lZ;
    LONG lRx;
    LONG lRy;
    LONG lRz;
    LONG rglSlider[2];
    DWORD rgdwPOV[4];  // hundredths of a degree clockwise from north; 0xFFFFFFFF centred
    BYTE rgbButtons[32];  // 0x80 while down
} DIJOYSTATE, *LPDIJOYSTATE;

static_assert(sizeof(DIMOUSESTATE) == 16, "DIMOUSESTATE is 16 bytes");
static_assert(sizeof(DIJOYSTATE) == 80, "DIJOYSTATE is 80 bytes");

// ---------------------------------------------------------------------------
// Device descriptions
#ifndef MAX_PATH
#define MAX_PATH 260
#endif

typedef struct DIDEVICEINSTANCEA {
    DWORD dwSize;
    GUID guidInstance;
    GUID guidProduct;
    DWORD dwDevType;
    CHAR tszInstanceName[MAX_PATH];
    CHAR tszProductName[MAX_PATH];
    GUID guidFFDriver;
    WORD wUsagePage;
    WORD wUsage;
} DIDEVICEINSTANCEA, *LPDIDEVICEINSTANCEA;
typedef const DIDEVICEINSTANCEA* LPCDIDEVICEINSTANCEA;
typedef DIDEVICEINSTANCEA DIDEVICEINSTANCE;
typedef LPDIDEVICEINSTANCEA LPDIDEVICEINSTANCE;
typedef LPCDIDEVICEINSTANCEA LPCDIDEVICEINSTANCE;

#define DIDC_ATTACHED 0x00000001u
#define DIDC_POLLEDDEVICE 0x00000002u
#define DIDC_POLLEDDATAFORMAT 0x00000008u

typedef struct DIDEVCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwDevType;
    DWORD dwAxes;
    DWORD dwButtons;
    DWORD dwPOVs;
    DWORD dwFFSamplePeriod;
    DWORD dwFFMinTimeResolution;
    DWORD dwFirmwareRevision;
    DWORD dwHardwareRevision;
    DWORD dwFFDriverVersion;
} DIDEVCAPS, *LPDIDEVCAPS;

typedef BOOL (*LPDIENUMDEVICESCALLBACKA)(LPCDIDEVICEINSTANCEA instance, LPVOID context);
typedef LPDIENUMDEVICESCALLBACKA LPDIENUMDEVICESCALLBACK;

// ---------------------------------------------------------------------------
// Interfaces
struct IDirectInputDevice8A : public IUnknown {
    // DIERR_INVALIDPARAM for a null record or one whose dwSize is not sizeof(DIDEVCAPS).
    virtual HRESULT GetCapabilities(LPDIDEVCAPS caps) = 0;
    // Fails with DIERR_ACQUIRED while acquired; the format must be the
    // standard one of the device's kind.
    virtual HRESULT SetDataFormat(LPCDIDATAFORMAT format) = 0;
    // Exactly one of DISCL_EXCLUSIVE/NONEXCLUSIVE and one of
    // DISCL_FOREGROUND/BACKGROUND; foreground and exclusive levels need a window.
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
    // DI_OK, S_FALSE when already acquired, DIERR_INVALIDPARAM without a data
    // format, DIERR_OTHERAPPHASPRIO when the foreground window is not the
    // cooperative window, DIERR_UNPLUGGED for a detached controller.
    virtual HRESULT Acquire() = 0;
    // DI_OK, or S_FALSE when it was not acquired.
    virtual HRESULT Unacquire() = 0;
    // size must be the data format's size.  DIERR_NOTACQUIRED when not
    // acquired, DIERR_INPUTLOST (once) when the acquisition was lost.
    virtual HRESULT GetDeviceState(DWORD size, LPVOID data) = 0;
    // Game controllers read their hardware here; keyboard and mouse give
    // S_FALSE (they are not polled).  DIERR_UNPLUGGED for a detached controller.
    virtual HRESULT Poll() = 0;
    virtual HRESULT GetDeviceInfo(LPDIDEVICEINSTANCEA instance) = 0;
};
typedef IDirectInputDevice8A* LPDIRECTINPUTDEVICE8A;
typedef IDirectInputDevice8A IDirectInputDevice8;
typedef LPDIRECTINPUTDEVICE8A LPDIRECTINPUTDEVICE8;

struct IDirectInput8A : public IUnknown {
    // DIERR_DEVICENOTREG for an identifier that names no attached device.
    virtual HRESULT CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8A* device, LPUNKNOWN outer) = 0;
    // devType: a DI8DEVCLASS_* class or a DI8DEVTYPE_* type.  The callback
    // goes on with DIENUM_CONTINUE (any non-zero value) and stops with DIENUM_STOP.
    virtual HRESULT EnumDevices(DWORD devType, LPDIENUMDEVICESCALLBACKA callback, LPVOID context, DWORD flags) = 0;
    // DI_OK when attached, DI_NOTATTACHED when known but detached, DIERR_DEVICENOTREG otherwise.
    virtual HRESULT GetDeviceStatus(REFGUID guid) = 0;
};
typedef IDirectInput8A* LPDIRECTINPUT8A;
typedef IDirectInput8A IDirectInput8;
typedef LPDIRECTINPUT8A LPDIRECTINPUT8;

// Creates the DirectInput object (reference count 1).  version must be
// 0x0800 (DIERR_OLDDIRECTINPUTVERSION below, DIERR_BETADIRECTINPUTVERSION
// above); iid must be IID_IDirectInput8A (DIERR_NOINTERFACE otherwise).
// The game-controller subsystem of SDL is started with the first object and
// stopped with the last.
HRESULT DirectInput8Create(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* out, LPUNKNOWN outer);

// ---------------------------------------------------------------------------
// Keyboard scan codes (indices into the 256-byte keyboard state)
#define DIK_ESCAPE 0x01
#define DIK_1 0x02
#define DIK_2 0x03
#define DIK_3 0x04
#define DIK_4 0x05
#define DIK_5 0x06
#define DIK_6 0x07
#define DIK_7 0x08
#define DIK_8 0x09
#define DIK_9 0x0A
#define DIK_0 0x0B
#define DIK_MINUS 0x0C
#define DIK_EQUALS 0x0D
#define DIK_BACK 0x0E
#define DIK_TAB 0x0F
#define DIK_Q 0x10
#define DIK_W 0x11
#define DIK_E 0x12
#define DIK_R 0x13
#define DIK_T 0x14
#define DIK_Y 0x15
#define DIK_U 0x16
#define DIK_I 0x17
#define DIK_O 0x18
#define DIK_P 0x19
#define DIK_LBRACKET 0x1A
#define DIK_RBRACKET 0x1B
#define DIK_RETURN 0x1C
#define DIK_LCONTROL 0x1D
#define DIK_A 0x1E
#define DIK_S 0x1F
#define DIK_D 0x20
#define DIK_F 0x21
#define DIK_G 0x22
#define DIK_H 0x23
#define DIK_J 0x24
#define DIK_K 0x25
#define DIK_L 0x26
#define DIK_SEMICOLON 0x27
#define DIK_APOSTROPHE 0x28
#define DIK_GRAVE 0x29
#define DIK_LSHIFT 0x2A
#define DIK_BACKSLASH 0x2B
#define DIK_Z 0x2C
#define DIK_X 0x2D
#define DIK_C 0x2E
#define DIK_V 0x2F
#define DIK_B 0x30
#define DIK_N 0x31
#define DIK_M 0x32
#define DIK_COMMA 0x33
#define DIK_PERIOD 0x34
#define DIK_SLASH 0x35
#define DIK_RSHIFT 0x36
#define DIK_MULTIPLY 0x37
#define DIK_LMENU 0x38
#define DIK_SPACE 0x39
#define DIK_CAPITAL 0x3A
#define DIK_F1 0x3B
#define DIK_F2 0x3C
#define DIK_F3 0x3D
#define DIK_F4 0x3E
#define DIK_F5 0x3F
#define DIK_F6 0x40
#define DIK_F7 0x41
#define DIK_F8 0x42
#define DIK_F9 0x43
#define DIK_F10 0x44
#define DIK_NUMLOCK 0x45
#define DIK_SCROLL 0x46
#define DIK_NUMPAD7 0x47
#define DIK_NUMPAD8 0x48
#define DIK_NUMPAD9 0x49
#define DIK_SUBTRACT 0x4A
#define DIK_NUMPAD4 0x4B
#define DIK_NUMPAD5 0x4C
#define DIK_NUMPAD6 0x4D
#define DIK_ADD 0x4E
#define DIK_NUMPAD1 0x4F
#define DIK_NUMPAD2 0x50
#define DIK_NUMPAD3 0x51
#define DIK_NUMPAD0 0x52
#define DIK_DECIMAL 0x53
#define DIK_OEM_102 0x56
#define DIK_F11 0x57
#define DIK_F12 0x58
#define DIK_F13 0x64
#define DIK_F14 0x65
#define DIK_F15 0x66
#define DIK_KANA 0x70
#define DIK_ABNT_C1 0x73
#define DIK_CONVERT 0x79
#define DIK_NOCONVERT 0x7B
#define DIK_YEN 0x7D
#define DIK_ABNT_C2 0x7E
#define DIK_NUMPADEQUALS 0x8D
#define DIK_PREVTRACK 0x90
#define DIK_AT 0x91
#define DIK_COLON 0x92
#define DIK_UNDERLINE 0x93
#define DIK_KANJI 0x94
#define DIK_STOP 0x95
#define DIK_AX 0x96
#define DIK_UNLABELED 0x97
#define DIK_NEXTTRACK 0x99
#define DIK_NUMPADENTER 0x9C
#define DIK_RCONTROL 0x9D
#define DIK_MUTE 0xA0
#define DIK_CALCULATOR 0xA1
#define DIK_PLAYPAUSE 0xA2
#define DIK_MEDIASTOP 0xA4
#define DIK_VOLUMEDOWN 0xAE
#define DIK_VOLUMEUP 0xB0
#define DIK_WEBHOME 0xB2
#define DIK_NUMPADCOMMA 0xB3
#define DIK_DIVIDE 0xB5
#define DIK_SYSRQ 0xB7
#define DIK_RMENU 0xB8
#define DIK_PAUSE 0xC5
#define DIK_HOME 0xC7
#define DIK_UP 0xC8
#define DIK_PRIOR 0xC9
#define DIK_LEFT 0xCB
#define DIK_RIGHT 0xCD
#define DIK_END 0xCF
#define DIK_DOWN 0xD0
#define DIK_NEXT 0xD1
#define DIK_INSERT 0xD2
#define DIK_DELETE 0xD3
#define DIK_LWIN 0xDB
#define DIK_RWIN 0xDC
#define DIK_APPS 0xDD
#define DIK_POWER 0xDE
#define DIK_SLEEP 0xDF
#define DIK_WAKE 0xE3
#define DIK_WEBSEARCH 0xE5
#define DIK_WEBFAVORITES 0xE6
#define DIK_WEBREFRESH 0xE7
#define DIK_WEBSTOP 0xE8
#define DIK_WEBFORWARD 0xE9
#define DIK_WEBBACK 0xEA
#define DIK_MYCOMPUTER 0xEB
#define DIK_MAIL 0xEC
#define DIK_MEDIASELECT 0xED

// Alternate names
#define DIK_BACKSPACE DIK_BACK
#define DIK_NUMPADSTAR DIK_MULTIPLY
#define DIK_LALT DIK_LMENU
#define DIK_CAPSLOCK DIK_CAPITAL
#define DIK_NUMPADMINUS DIK_SUBTRACT
#define DIK_NUMPADPLUS DIK_ADD
#define DIK_NUMPADPERIOD DIK_DECIMAL
#define DIK_NUMPADSLASH DIK_DIVIDE
#define DIK_RALT DIK_RMENU
#define DIK_UPARROW DIK_UP
#define DIK_PGUP DIK_PRIOR
#define DIK_LEFTARROW DIK_LEFT
#define DIK_RIGHTARROW DIK_RIGHT
#define DIK_DOWNARROW DIK_DOWN
#define DIK_PGDN DIK_NEXT
#define DIK_CIRCUMFLEX DIK_PREVTRACK

// The DirectInput scan code of an SDL scancode; 0 for keys that have none.
BYTE ZVDInputScanCode(SDL_Scancode scancode);
