// Basic Windows-style types and result codes used throughout the engine.
//
// The engine is written against the conventions of a Win32/DirectX program
// (HRESULT results, DWORD sizes, ...).  This header gives those names their
// fixed-width meaning on Linux.  HRESULT is a 32-bit signed integer so that
// every failure code compares below zero.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t HRESULT;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef float FLOAT;
typedef char CHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LRESULT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER;

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define MAKE_HRESULT(sev, fac, code) \
    ((HRESULT)(((uint32_t)(sev) << 31) | ((uint32_t)(fac) << 16) | ((uint32_t)(code))))
#define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? (HRESULT)(x) : (HRESULT)(((uint32_t)(x)&0x0000FFFFu) | (7u << 16) | 0x80000000u))

// Generic COM results.
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_ACCESSDENIED ((HRESULT)0x80070005u)
#define E_HANDLE ((HRESULT)0x80070006u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define E_PENDING ((HRESULT)0x8000000Au)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)

// Direct3D 9 results (facility 0x876).
#define MAKE_D3DHRESULT(code) MAKE_HRESULT(1, 0x876, code)
#define MAKE_D3DSTATUS(code) MAKE_HRESULT(0, 0x876, code)
#define D3D_OK S_OK
#define D3DERR_WRONGTEXTUREFORMAT MAKE_D3DHRESULT(2072)
#define D3DERR_UNSUPPORTEDCOLOROPERATION MAKE_D3DHRESULT(2073)
#define D3DERR_UNSUPPORTEDCOLORARG MAKE_D3DHRESULT(2074)
#define D3DERR_UNSUPPORTEDALPHAOPERATION MAKE_D3DHRESULT(2075)
#define D3DERR_UNSUPPORTEDALPHAARG MAKE_D3DHRESULT(2076)
#define D3DERR_TOOMANYOPERATIONS MAKE_D3DHRESULT(2077)
#define D3DERR_CONFLICTINGTEXTUREFILTER MAKE_D3DHRESULT(2078)
#define D3DERR_UNSUPPORTEDFACTORVALUE MAKE_D3DHRESULT(2079)
#define D3DERR_CONFLICTINGRENDERSTATE MAKE_D3DHRESULT(2081)
#define D3DERR_UNSUPPORTEDTEXTUREFILTER MAKE_D3DHRESULT(2082)
#define D3DERR_CONFLICTINGTEXTUREPALETTE MAKE_D3DHRESULT(2086)
#define D3DERR_DRIVERINTERNALERROR MAKE_D3DHRESULT(2087)
#define D3DERR_NOTFOUND MAKE_D3DHRESULT(2150)
#define D3DERR_MOREDATA MAKE_D3DHRESULT(2151)
#define D3DERR_DEVICELOST MAKE_D3DHRESULT(2152)
#define D3DERR_DEVICENOTRESET MAKE_D3DHRESULT(2153)
#define D3DERR_NOTAVAILABLE MAKE_D3DHRESULT(2154)
#define D3DERR_OUTOFVIDEOMEMORY MAKE_D3DHRESULT(380)
#define D3DERR_INVALIDDEVICE MAKE_D3DHRESULT(2155)
#define D3DERR_INVALIDCALL MAKE_D3DHRESULT(2156)
#define D3DERR_DRIVERINVALIDCALL MAKE_D3DHRESULT(2157)
#define D3DERR_WASSTILLDRAWING MAKE_D3DHRESULT(540)
#define D3DOK_NOAUTOGEN MAKE_D3DSTATUS(2159)

// D3DX results.
#define D3DXERR_CANNOTMODIFYINDEXBUFFER MAKE_D3DHRESULT(2900)
#define D3DXERR_INVALIDMESH MAKE_D3DHRESULT(2901)
#define D3DXERR_CANNOTATTRSORT MAKE_D3DHRESULT(2902)
#define D3DXERR_SKINNINGNOTSUPPORTED MAKE_D3DHRESULT(2903)
#define D3DXERR_TOOMANYINFLUENCES MAKE_D3DHRESULT(2904)
#define D3DXERR_INVALIDDATA MAKE_D3DHRESULT(2905)
#define D3DXERR_LOADEDMESHASNODATA MAKE_D3DHRESULT(2906)
#define D3DXERR_DUPLICATENAMEDFRAGMENT MAKE_D3DHRESULT(2907)
#define D3DXERR_CANNOTREMOVELASTITEM MAKE_D3DHRESULT(2908)

// DirectInput 8 results.
#define DI_OK S_OK
#define DI_NOTATTACHED S_FALSE
#define DI_BUFFEROVERFLOW S_FALSE
#define DI_PROPNOEFFECT S_FALSE
#define DI_NOEFFECT S_FALSE
#define DI_POLLEDDEVICE ((HRESULT)0x00000002)
#define DIERR_OLDDIRECTINPUTVERSION HRESULT_FROM_WIN32(1150)
#define DIERR_BETADIRECTINPUTVERSION HRESULT_FROM_WIN32(1153)
#define DIERR_BADDRIVERVER REGDB_E_CLASSNOTREG
#define DIERR_DEVICENOTREG REGDB_E_CLASSNOTREG
#define DIERR_NOTFOUND HRESULT_FROM_WIN32(2)
#define DIERR_OBJECTNOTFOUND HRESULT_FROM_WIN32(2)
#define DIERR_INVALIDPARAM E_INVALIDARG
#define DIERR_NOINTERFACE E_NOINTERFACE
#define DIERR_GENERIC E_FAIL
#define DIERR_OUTOFMEMORY E_OUTOFMEMORY
#define DIERR_UNSUPPORTED E_NOTIMPL
#define DIERR_NOTINITIALIZED HRESULT_FROM_WIN32(21)
#define DIERR_ALREADYINITIALIZED HRESULT_FROM_WIN32(1247)
#define DIERR_NOAGGREGATION ((HRESULT)0x80040110u)
#define DIERR_OTHERAPPHASPRIO E_ACCESSDENIED
#define DIERR_INPUTLOST HRESULT_FROM_WIN32(30)
#define DIERR_ACQUIRED HRESULT_FROM_WIN32(170)
#define DIERR_NOTACQUIRED HRESULT_FROM_WIN32(12)
#define DIERR_READONLY E_ACCESSDENIED
#define DIERR_HANDLEEXISTS E_ACCESSDENIED
#define DIERR_NOTEXCLUSIVEACQUIRED ((HRESULT)0x80040205u)
#define DIERR_NOTBUFFERED ((HRESULT)0x80040207u)
#define DIERR_UNPLUGGED ((HRESULT)0x80040209u)

// Module handles (kernel32): an opaque pointer; HMODULE and HINSTANCE are the same.
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;

// File attributes as GetFileAttributesA reports them.
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFFu)
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

// Rectangles and points (user32/gdi32 records used by the window layer and Direct3D).
typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;
typedef RECT* LPRECT;
typedef const RECT* LPCRECT;
typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;
typedef POINT* LPPOINT;

// The base of every COM-style interface (Direct3D, DirectInput): reference
// counting and interface queries.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;
