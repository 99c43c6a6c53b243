// The graphics manager: device creation, screen modes, device reset and the
// shutdown report.
#include "zvgraphicsd3d9.h"

#include <cstring>
#include <new>

#include "zvcore.h"
#include "zvd3dx9tex.h"

namespace {

const char* const kSource = "zvgraphicsd3d9";

u32 GetPlugInInfos(PlugIn* blank) {
    blank->name = "ZVGraphicsD3D9";
    blank->major = 0;
    blank->minor = 30;
    blank->type = "Graphics";
    blank->factory = PlugIn::FromManager(ZVGraphics::Create);
    return 0;
}

PlugInRegistrar g_registrar(ZVPLUGIN_MANAGER, GetPlugInInfos);

const char* const kNoDevice = "Device not created; call SetScreenMode() before";

// Format preferences, walked forwards when the program asks for performance
// (16-bit first) and backwards otherwise.
const D3DFORMAT kAdapterFormats[] = {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_X8R8G8B8, D3DFMT_A2R10G10B10};
const D3DFORMAT kBackBufferFormats[] = {D3DFMT_R5G6B5,   D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
                                        D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_A2R10G10B10};
// Depth formats, always walked forwards; the first three have stencil bits.
const D3DFORMAT kDepthFormats[] = {D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D15S1,
                                   D3DFMT_D32,   D3DFMT_D24X8,   D3DFMT_D16};

template <size_t N>
D3DFORMAT Preferred(const D3DFORMAT (&list)[N], bool forwards, size_t i) {
    return forwards ? list[i] : list[N - 1 - i];
}

void ReportWarning(CallScope& scope, const String& message, u32 line) {
    scope.WriteLog(ZVLOG_WARNING, message, kSource, line);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and reference counting

IInterface* ZVGraphics::Create() {
    ZVGraphics* graphics = new (std::nothrow) ZVGraphics;
    if (!graphics) return nullptr;
    graphics->AddRef();
    return graphics;
}

ZVGraphics::ZVGraphics()
    : nRef(0),
      pLastVB(nullptr),
      pLastIB(nullptr),
      pLastTexture(nullptr),
      pCore(nullptr),
      bFirstFrame(true),
      pD3D(nullptr),
      pD3DDevice(nullptr),
      nAdapter(0),
      nDrawCalls(0),
      nPrimitives(0),
      bRendering(false),
      bModeChangePending(false),
      bStencil(false),
      pShadowVB(nullptr),
      nLightningPath(SimpleLighting),
      nFillMode(D3DFILL_SOLID),
      nShadowDebug(0),
      vEye(0.0f, 0.0f, -1.0f),
      vLookAt(0.0f, 0.0f, 0.0f),
      vUp(0.0f, 1.0f, 0.0f) {
    std::memset(&d3dCaps, 0, sizeof(d3dCaps));
    std::memset(&d3dpp, 0, sizeof(d3dpp));
    for (LightSlot& slot : lights) {
        slot.light = Light();
        slot.id = 0xFFFFFFFFu;
        slot.bActive = false;
    }
}

u32 ZVGraphics::AddRef() { return ++nRef; }

u32 ZVGraphics::Release() {
    if (nRef == 0) return 0;
    if (--nRef > 0) return nRef;
    delete this;
    return 0;
}

const String& ZVGraphics::GetName() {
    static String name("ZVGraphics");
    return name;
}

// ---------------------------------------------------------------------------
// Init

HRESULT ZVGraphics::Init(ICore* core, HWND window, const Vector<PlugIn>* geometryRegistry) {
    CallScope scope(this, "Init()");
    if (!core) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    pCore = core;
    if (geometryRegistry) PlugInGeometries = *geometryRegistry;

    if (!pD3D) pD3D = Direct3DCreate9(D3D_SDK_VERSION);
    if (!pD3D) {
        scope.ReportFailure("Direct3DCreate9() failed !", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }

    std::memset(&d3dpp, 0, sizeof(d3dpp));
    d3dpp.BackBufferCount = 1;
    d3dpp.MultiSampleType = D3DMULTISAMPLE_NONE;
    d3dpp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    d3dpp.hDeviceWindow = window;
    d3dpp.FullScreen_RefreshRateInHz = D3DPRESENT_RATE_DEFAULT;
    d3dpp.PresentationInterval = (UINT)D3DPRESENT_INTERVAL_IMMEDIATE;

    for (LightSlot& slot : lights) {
        slot.id = 0xFFFFFFFFu;
        slot.bActive = false;
    }
    nLightningPath = SimpleLighting;
    nFillMode = D3DFILL_SOLID;
    nShadowDebug = 0;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Screen modes

const String& ZVGraphics::FormatName(u32 format) {
    static String name;
    struct Entry {
        u32 code;
        const char* text;
    };
    static const Entry kNames[] = {
        {D3DFMT_UNKNOWN, "UNKNOWN"},
        {D3DFMT_R8G8B8, "R8G8B8"},
        {D3DFMT_A8R8G8B8, "A8R8G8B8"},
        {D3DFMT_X8R8G8B8, "X8R8G8B8"},
        {D3DFMT_R5G6B5, "R5G6B5"},
        {D3DFMT_X1R5G5B5, "X1R5G5B5"},
        {D3DFMT_A1R5G5B5, "A1R5G5B5"},
        {D3DFMT_A4R4G4B4, "A4R4G4B4"},
        {D3DFMT_R3G3B2, "R3G3B2"},
        {D3DFMT_A8, "A8"},
        {D3DFMT_A8R3G3B2, "A8R3G3B2"},
        {D3DFMT_X4R4G4B4, "X4R4G4B4"},
        {D3DFMT_A2B10G10R10, "A2B10G10R10"},
        {D3DFMT_A8B8G8R8, "A8B8G8R8"},
        {D3DFMT_X8B8G8R8, "X8B8G8R8"},
        {D3DFMT_G16R16, "G16R16"},
        {D3DFMT_A2R10G10B10, "A2R10G10B10"},
        {D3DFMT_A16B16G16R16, "A16B16G16R16"},
        {D3DFMT_A8P8, "A8P8"},
        {D3DFMT_P8, "P8"},
        {D3DFMT_L8, "L8"},
        {D3DFMT_A8L8, "A8L8"},
        {D3DFMT_A4L4, "A4L4"},
        {D3DFMT_V8U8, "V8U8"},
        {D3DFMT_L6V5U5, "L6V5U5"},
        {D3DFMT_X8L8V8U8, "X8L8V8U8"},
        {D3DFMT_Q8W8V8U8, "Q8W8V8U8"},
        {D3DFMT_V16U16, "V16U16"},
        {D3DFMT_A2W10V10U10, "A2W10V10U10"},
        {D3DFMT_D16_LOCKABLE, "D16_LOCKABLE"},
        {D3DFMT_D32, "D32"},
        {D3DFMT_D15S1, "D15S1"},
        {D3DFMT_D24S8, "D24S8"},
        {D3DFMT_D24X8, "D24X8"},
        {D3DFMT_D24X4S4, "D24X4S4"},
        {D3DFMT_D16, "D16"},
        {D3DFMT_L16, "L16"},
        {D3DFMT_VERTEXDATA, "VERTEXDATA"},
        {D3DFMT_INDEX16, "INDEX16"},
        {D3DFMT_INDEX32, "INDEX32"},
        {D3DFMT_Q16W16V16U16, "Q16W16V16U16"},
        {D3DFMT_R16F, "R16F"},
        {D3DFMT_G16R16F, "G16R16F"},
        {D3DFMT_A16B16G16R16F, "A16B16G16R16F"},
        {D3DFMT_R32F, "R32F"},
        {D3DFMT_G32R32F, "G32R32F"},
        {D3DFMT_A32B32G32R32F, "A32B32G32R32F"},
        {D3DFMT_CxV8U8, "CxV8U8"},
        {D3DFMT_MULTI2_ARGB8, "MULTI2_ARGB8"},
        {D3DFMT_DXT1, "DXT1"},
        {D3DFMT_DXT2, "DXT2"},
        {D3DFMT_DXT3, "DXT3"},
        {D3DFMT_DXT4, "DXT4"},
        {D3DFMT_DXT5, "DXT5"},
        {D3DFMT_UYVY, "UYVY"},
        {D3DFMT_YUY2, "YUY2"},
    };
    const char* text = "Unknown format";
    for (const Entry& e : kNames) {
        if (e.code == format) {
            text = e.text;
            break;
        }
    }
    name = text;
    return name;
}

HRESULT ZVGraphics::SetScreenMode(const DisplaySettings* settings, bool performance, bool strict) {
    CallScope scope(this, "SetScreenMode()");
    if (bRendering) {
        scope.ReportFailure("Not allowed while rendering", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!settings) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (!pD3D) {
        scope.ReportFailure("Direct3D not created; call Init() before", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }

    // Everything is chosen into `mode` first; the manager's fields change
    // only once the new mode is in place.
    ScreenModeChoice mode;
    HRESULT hr = ChooseAdapter(scope, settings->nAdapter, strict, &mode);
    if (hr < 0) return hr;
    hr = ChooseFormats(scope, settings->bWindowed, performance, &mode);
    if (hr < 0) return hr;
    if (!mode.pp.Windowed) {
        hr = ChooseFullScreenSize(scope, *settings, performance, strict, &mode);
        if (hr < 0) return hr;
    }

    if (!pD3DDevice) {
        hr = CreateDeviceInMode(scope, &mode);
        if (hr >= 0) hr = PresentFirstFrame(scope);
    } else {
        hr = ResetIntoMode(scope, mode);
    }
    if (hr != S_OK) return hr;
    return ReportDeviceInfos(scope);
}

HRESULT ZVGraphics::ChooseAdapter(CallScope& scope, u32 wanted, bool strict, ScreenModeChoice* mode) {
    mode->adapter = 0;
    const UINT adapterCount = pD3D->GetAdapterCount();
    if (wanted < adapterCount) {
        mode->adapter = wanted;
    } else if (strict) {
        String message("Ask for the ");
        message += (unsigned int)(wanted + 1);
        message += "th Adapter but AdapterCount=";
        message += (unsigned int)adapterCount;
        scope.WriteLog(ZVLOG_ERROR, message, kSource, __LINE__);
        return E_FAIL;
    }

    D3DCAPS9 caps;
    std::memset(&caps, 0, sizeof(caps));
    mode->hal = pD3D->GetDeviceCaps(mode->adapter, D3DDEVTYPE_HAL, &caps) >= 0;
    mode->deviceType = mode->hal ? D3DDEVTYPE_HAL : D3DDEVTYPE_REF;
    mode->pure = mode->hal && (caps.DevCaps & D3DDEVCAPS_PUREDEVICE) != 0;
    mode->hardwareVP = mode->hal && (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0;
    return S_OK;
}

HRESULT ZVGraphics::ChooseFormats(CallScope& scope, bool windowed, bool performance, ScreenModeChoice* mode) {
    const u32 adapter = mode->adapter;
    D3DDISPLAYMODE current;
    std::memset(&current, 0, sizeof(current));
    HRESULT hr = pD3D->GetAdapterDisplayMode(adapter, &current);
    if (scope.ReportFailure("IDirect3DDevice9::GetAdapterDisplayMode() failed !", kSource, __LINE__, hr) < 0)
        return ZVE_SUBFUNCTION;

    D3DPRESENT_PARAMETERS& pp = mode->pp;
    pp = d3dpp;
    pp.Windowed = windowed ? TRUE : FALSE;

    D3DFORMAT adapterFormat = D3DFMT_UNKNOWN;
    if (pp.Windowed) {
        adapterFormat = current.Format;
    } else {
        for (size_t i = 0; i < 4 && adapterFormat == D3DFMT_UNKNOWN; ++i) {
            const D3DFORMAT f = Preferred(kAdapterFormats, performance, i);
            if (pD3D->GetAdapterModeCount(adapter, f) > 0) adapterFormat = f;
        }
        if (adapterFormat == D3DFMT_UNKNOWN) {
            scope.WriteLog(ZVLOG_ERROR, "Can not find any supported fullscreen adapter format", kSource, __LINE__);
            return E_FAIL;
        }
    }
    mode->adapterFormat = adapterFormat;

    // The check is made as for full screen in both modes.
    D3DFORMAT backBufferFormat = D3DFMT_UNKNOWN;
    for (size_t i = 0; i < 6 && backBufferFormat == D3DFMT_UNKNOWN; ++i) {
        const D3DFORMAT f = Preferred(kBackBufferFormats, performance, i);
        if (pD3D->CheckDeviceType(adapter, mode->deviceType, adapterFormat, f, FALSE) >= 0) backBufferFormat = f;
    }
    if (backBufferFormat == D3DFMT_UNKNOWN) {
        scope.WriteLog(ZVLOG_ERROR, "Can not find any supported BackBuffer format", kSource, __LINE__);
        return E_FAIL;
    }
    pp.BackBufferFormat = backBufferFormat;

    pp.EnableAutoDepthStencil = TRUE;
    D3DFORMAT depthFormat = D3DFMT_UNKNOWN;
    mode->stencil = false;
    for (size_t i = 0; i < 6 && depthFormat == D3DFMT_UNKNOWN; ++i) {
        const D3DFORMAT f = kDepthFormats[i];
        if (pD3D->CheckDeviceFormat(adapter, mode->deviceType, adapterFormat, D3DUSAGE_DEPTHSTENCIL,
                                    D3DRTYPE_SURFACE, f) >= 0 &&
            pD3D->CheckDepthStencilMatch(adapter, mode->deviceType, adapterFormat, backBufferFormat, f) >= 0) {
            depthFormat = f;
            mode->stencil = i < 3;
        }
    }
    if (depthFormat == D3DFMT_UNKNOWN) {
        scope.WriteLog(ZVLOG_ERROR, "Can not find any supported DepthStencil format", kSource, __LINE__);
        return E_FAIL;
    }
    pp.AutoDepthStencilFormat = depthFormat;

    mode->formats = "adapt ";
    mode->formats += FormatName(adapterFormat);
    mode->formats += " backBuf ";
    mode->formats += FormatName(backBufferFormat);
    mode->formats += " depth/sten ";
    mode->formats += FormatName(depthFormat);
    return S_OK;
}

HRESULT ZVGraphics::ChooseFullScreenSize(CallScope& scope, const DisplaySettings& settings, bool performance,
                                         bool strict, ScreenModeChoice* mode) {
    const u32 adapter = mode->adapter;
    const D3DFORMAT adapterFormat = mode->adapterFormat;
    const UINT modeCount = pD3D->GetAdapterModeCount(adapter, adapterFormat);
    D3DDISPLAYMODE chosen;
    std::memset(&chosen, 0, sizeof(chosen));
    bool found = false;
    for (UINT i = 0; i < modeCount && !found; ++i) {
        D3DDISPLAYMODE m;
        if (pD3D->EnumAdapterModes(adapter, adapterFormat, i, &m) < 0) continue;
        if (m.Width == settings.nWidth && m.Height == settings.nHeight) {
            chosen = m;
            found = true;
        }
    }
    if (!found) {
        if (strict || modeCount == 0) {
            String message("The Resolution ");
            message += (unsigned int)settings.nWidth;
            message += "x";
            message += (unsigned int)settings.nHeight;
            message += " is not Supported";
            scope.WriteLog(ZVLOG_ERROR, message, kSource, __LINE__);
            return E_FAIL;
        }
        // A substitute: the first mode of at least 400 x 300 when the
        // program asks for performance (the last one when none is), the
        // largest mode otherwise.
        D3DDISPLAYMODE last;
        std::memset(&last, 0, sizeof(last));
        bool haveLast = false;
        for (UINT i = 0; i < modeCount; ++i) {
            D3DDISPLAYMODE m;
            if (pD3D->EnumAdapterModes(adapter, adapterFormat, i, &m) < 0) continue;
            last = m;
            haveLast = true;
            if (performance && !found && m.Width >= 400 && m.Height >= 300) {
                chosen = m;
                found = true;
            }
        }
        if (!found && haveLast) {
            chosen = last;
            found = true;
        }
        if (!found) {
            scope.WriteLog(ZVLOG_ERROR, "The Resolution is not Supported", kSource, __LINE__);
            return E_FAIL;
        }
    }
    mode->pp.BackBufferWidth = chosen.Width;
    mode->pp.BackBufferHeight = chosen.Height;
    return S_OK;
}

HRESULT ZVGraphics::CreateDeviceInMode(CallScope& scope, ScreenModeChoice* mode) {
    // Device creation: pure hardware, hardware, software vertex processing,
    // then the reference rasteriser.
    const u32 adapter = mode->adapter;
    IDirect3DDevice9* device = nullptr;
    HWND window = d3dpp.hDeviceWindow;
    D3DPRESENT_PARAMETERS attempt;
    HRESULT hr = E_FAIL;
    if (!mode->hal || mode->pure) {
        attempt = mode->pp;
        hr = pD3D->CreateDevice(adapter, mode->deviceType, window,
                                D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE, &attempt, &device);
    }
    if (hr < 0 && mode->hardwareVP) {
        attempt = mode->pp;
        hr = pD3D->CreateDevice(adapter, mode->deviceType, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &attempt,
                                &device);
    }
    if (hr < 0) {
        attempt = mode->pp;
        hr = pD3D->CreateDevice(adapter, mode->deviceType, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &attempt,
                                &device);
    }
    bool refFallback = false;
    HRESULT halResult = hr;
    if (hr < 0 && mode->hal) {
        mode->hal = false;
        refFallback = true;
        mode->deviceType = D3DDEVTYPE_REF;
        attempt = mode->pp;
        hr = pD3D->CreateDevice(adapter, D3DDEVTYPE_REF, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &attempt,
                                &device);
    }
    if (hr < 0 || !device) {
        if (device) device->Release();
        scope.WriteLog(ZVLOG_ERROR,
                       "IDirect3D9::CreateDevice() failed !\nYour adapter don't support HAL and you don't have "
                       "REF rasterizer (install the Debug version of DirectX)",
                       kSource, __LINE__);
        return E_FAIL;
    }

    // The device exists: the new mode is in place.
    pD3DDevice = device;
    d3dpp = attempt;
    nAdapter = adapter;
    strFormats = mode->formats;
    bStencil = mode->stencil;
    if (mode->hal) {
        strDeviceType = "HAL";
        if (mode->hardwareVP && mode->pure)
            strDeviceType += " (pure hw vp)";
        else if (mode->hardwareVP)
            strDeviceType += " (hw vp)";
        else
            strDeviceType += " (sw vp)";
    } else {
        strDeviceType = "REF";
        if (!refFallback) {
            ReportWarning(scope, "No HAL Support; REF Device Created => very SLOW !!!", __LINE__);
        } else {
            scope.ReportFailure("CreateDevice() with HAL Failed; REF Device Created => very SLOW !!!", kSource,
                                __LINE__, halResult < 0 ? halResult : E_FAIL);
        }
    }
    return S_OK;
}

HRESULT ZVGraphics::PresentFirstFrame(CallScope& scope) {
    HRESULT hr = SetRenderMode();
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    const DWORD clearFlags = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | (bStencil ? D3DCLEAR_STENCIL : 0);
    hr = pD3DDevice->Clear(0, nullptr, clearFlags, 0x00000000, 1.0f, 0);
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    hr = pD3DDevice->BeginScene();
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    pD3DDevice->EndScene();
    hr = pD3DDevice->Present(nullptr, nullptr, nullptr, nullptr);
    if (scope.ReportFailure("IDirect3DDevice9::Present() failed !", kSource, __LINE__, hr) < 0)
        return ZVE_SUBFUNCTION;
    return S_OK;
}

HRESULT ZVGraphics::ResetIntoMode(CallScope& scope, const ScreenModeChoice& mode) {
    // A device exists: the new mode is taken by a reset.  When the reset
    // fails the previous mode is put back, so that the retry of the next
    // frame returns to a mode that worked.
    const D3DPRESENT_PARAMETERS oldPP = d3dpp;
    const u32 oldAdapter = nAdapter;
    const String oldFormats = strFormats;
    const bool oldStencil = bStencil;
    d3dpp = mode.pp;
    nAdapter = mode.adapter;
    strFormats = mode.formats;
    bStencil = mode.stencil;
    // A lost device cannot be reset yet: the new mode waits for the frame
    // that finds the device ready to be reset.
    if (pD3DDevice->TestCooperativeLevel() == D3DERR_DEVICELOST) {
        bModeChangePending = true;
        ReportWarning(scope, "Device Lost; the screen mode changes when the device can be reset", __LINE__);
        return S_FALSE;
    }
    const HRESULT hr = UpdateScreenMode();
    if (hr < 0) {
        d3dpp = oldPP;
        nAdapter = oldAdapter;
        strFormats = oldFormats;
        bStencil = oldStencil;
        bModeChangePending = true;
        scope.ReportFailure("-", kSource, __LINE__, hr);
        return ZVE_SUBFUNCTION;
    }
    return S_OK;
}

HRESULT ZVGraphics::ReportDeviceInfos(CallScope& scope) {
    HRESULT hr = pD3DDevice->GetDeviceCaps(&d3dCaps);
    if (scope.ReportFailure("IDirect3DDevice9::GetDeviceCaps() failed !", kSource, __LINE__, hr) < 0)
        return ZVE_SUBFUNCTION;

    D3DADAPTER_IDENTIFIER9 id;
    std::memset(&id, 0, sizeof(id));
    hr = pD3D->GetAdapterIdentifier(nAdapter, 0, &id);
    if (scope.ReportFailure("IDirect3D9::GetAdapterIdentifier() failed !", kSource, __LINE__, hr) < 0)
        return ZVE_SUBFUNCTION;
    id.Description[sizeof(id.Description) - 1] = '\0';
    id.Driver[sizeof(id.Driver) - 1] = '\0';

    const u64 version = (u64)id.DriverVersion.QuadPart;
    const u32 high = (u32)(version >> 32), low = (u32)version;
    String info("Device infos :");
    info += "\n Graphic card N";
    info += (char)0xB0;
    info += (unsigned int)nAdapter;
    info += " : ";
    info += id.Description;
    info += ", Driver : ";
    info += id.Driver;
    info += " v";
    info += (unsigned int)(high >> 16);
    info += ".";
    info += (unsigned int)(high & 0xFFFFu);
    info += ".";
    info += (unsigned int)(low >> 16);
    info += ".";
    info += (unsigned int)(low & 0xFFFFu);
    info += id.WHQLLevel ? " WHQL" : " NoWHQL";
    info += "\n Device created : ";
    info += strDeviceType;
    info += ", ";
    info += (unsigned int)d3dpp.BackBufferWidth;
    info += "x";
    info += (unsigned int)d3dpp.BackBufferHeight;
    info += d3dpp.Windowed ? " (Windowed)" : " (FullScreen)";
    info += "); Buffers : ";
    info += strFormats;
    info += "\n Caps : VS_";
    info += (unsigned int)D3DSHADER_VERSION_MAJOR(d3dCaps.VertexShaderVersion);
    info += "_";
    info += (unsigned int)D3DSHADER_VERSION_MINOR(d3dCaps.VertexShaderVersion);
    info += " and PS_";
    info += (unsigned int)D3DSHADER_VERSION_MAJOR(d3dCaps.PixelShaderVersion);
    info += "_";
    info += (unsigned int)D3DSHADER_VERSION_MINOR(d3dCaps.PixelShaderVersion);
    info += ", MaxSimultTextures=";
    info += (unsigned int)d3dCaps.MaxSimultaneousTextures;
    info += " (BlendStages=";
    info += (unsigned int)d3dCaps.MaxTextureBlendStages;
    info += ")";
    info += ", MaxStreams=";
    info += (unsigned int)d3dCaps.MaxStreams;
    info += ", MaxPrimitiveCount=";
    info += (unsigned int)d3dCaps.MaxPrimitiveCount;
    scope.WriteLog(ZVLOG_INFO, info, kSource, __LINE__);
    return S_OK;
}

HRESULT ZVGraphics::GetScreenMode(DisplaySettings* out) {
    CallScope scope(this, "GetScreenMode()");
    if (!pD3DDevice) {
        scope.ReportFailure(kNoDevice, kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!out) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    out->nAdapter = nAdapter;
    out->bWindowed = (u32)d3dpp.Windowed;
    out->nWidth = d3dpp.BackBufferWidth;
    out->nHeight = d3dpp.BackBufferHeight;
    out->strDeviceType = strDeviceType;
    out->strFormats = strFormats;
    D3DADAPTER_IDENTIFIER9 id;
    std::memset(&id, 0, sizeof(id));
    HRESULT hr = pD3D->GetAdapterIdentifier(nAdapter, 0, &id);
    if (scope.ReportFailure("IDirect3D9::GetAdapterIdentifier() failed !", kSource, __LINE__, hr) < 0)
        return ZVE_SUBFUNCTION;
    id.Description[sizeof(id.Description) - 1] = '\0';
    out->strDescription = id.Description;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Device reset

void ZVGraphics::ReleaseDefaultPool() {
    for (u32 i = 0; i < vVBs.count; ++i) {
        VB* vb = vVBs[i];
        if (vb->bDynamic && vb->pD3DVB) {
            vb->pD3DVB->Release();
            vb->pD3DVB = nullptr;
        }
    }
    for (u32 i = 0; i < vIBs.count; ++i) {
        IB* ib = vIBs[i];
        if (ib->pD3DIB) {
            ib->pD3DIB->Release();
            ib->pD3DIB = nullptr;
        }
    }
    for (u32 i = 0; i < vTextures.count; ++i) {
        Texture* t = vTextures[i];
        if (t->pD3DTexture) {
            t->pD3DTexture->Release();
            t->pD3DTexture = nullptr;
        }
    }
}

HRESULT ZVGraphics::RecreateDefaultPool(CallScope& scope) {
    HRESULT hr;
    for (u32 i = 0; i < vVBs.count; ++i) {
        VB* vb = vVBs[i];
        if (!vb->bDynamic || vb->pD3DVB) continue;
        hr = pD3DDevice->CreateVertexBuffer(vb->nStride * vb->nVertices, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                            vb->nFVF, D3DPOOL_DEFAULT, &vb->pD3DVB, nullptr);
        if (hr < 0) vb->pD3DVB = nullptr;
        if (scope.ReportFailure("IDirect3DDevice9::CreateVertexBuffer() failed", kSource, __LINE__, hr) < 0)
            return ZVE_SUBFUNCTION;
    }
    for (u32 i = 0; i < vIBs.count; ++i) {
        IB* ib = vIBs[i];
        if (ib->pD3DIB) continue;
        const DWORD usage = D3DUSAGE_WRITEONLY | (ib->bDynamic ? D3DUSAGE_DYNAMIC : 0);
        IDirect3DIndexBuffer9* buffer = nullptr;
        hr = pD3DDevice->CreateIndexBuffer(2 * ib->nIndices, usage, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &buffer,
                                           nullptr);
        if (hr < 0) buffer = nullptr;
        if (scope.ReportFailure("IDirect3DDevice9::CreateIndexBuffer() failed", kSource, __LINE__, hr) < 0)
            return ZVE_SUBFUNCTION;
        void* data = nullptr;
        hr = buffer->Lock(0, 2 * ib->nIndices, &data, ib->bDynamic ? D3DLOCK_DISCARD : 0);
        if (scope.ReportFailure("IDirect3DIndexBuffer9::Lock() failed", kSource, __LINE__, hr) < 0) {
            buffer->Release();
            return ZVE_SUBFUNCTION;
        }
        if (data && ib->pIndices) std::memcpy(data, ib->pIndices, 2 * (size_t)ib->nIndices);
        hr = buffer->Unlock();
        if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) {
            buffer->Release();
            return ZVE_SUBFUNCTION;
        }
        // Only a refilled buffer is handed back to its owner.
        ib->pD3DIB = buffer;
    }
    for (u32 i = 0; i < vTextures.count; ++i) {
        Texture* t = vTextures[i];
        if (t->pD3DTexture) continue;
        hr = D3DXCreateTextureFromFileExA(pD3DDevice, t->strFileName.c_str(), D3DX_DEFAULT, D3DX_DEFAULT,
                                          D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, D3DX_FILTER_LINEAR,
                                          D3DX_FILTER_LINEAR, 0, nullptr, nullptr, &t->pD3DTexture);
        if (hr < 0) t->pD3DTexture = nullptr;
        if (scope.ReportFailure(String("Texture '") + t->strFileName + "' : loading failed", kSource, __LINE__,
                                hr) < 0)
            return ZVE_SUBFUNCTION;
    }
    return S_OK;
}

HRESULT ZVGraphics::UpdateScreenMode() {
    CallScope scope(this, "UpdateScreenMode()");
    if (bRendering) {
        bModeChangePending = true;
        return S_FALSE;
    }
    ShowCursor(d3dpp.Windowed);
    if (d3dpp.Windowed) {
        IInternCore* core = dynamic_cast<IInternCore*>(pCore);
        if (core) core->RestoreWindowStyle();
        RECT rc = {0, 0, 0, 0};
        if (d3dpp.hDeviceWindow && GetClientRect(d3dpp.hDeviceWindow, &rc)) {
            d3dpp.BackBufferWidth = (UINT)(rc.right - rc.left);
            d3dpp.BackBufferHeight = (UINT)(rc.bottom - rc.top);
        }
    }
    pLastVB = nullptr;
    pLastIB = nullptr;
    pLastTexture = nullptr;
    if (!pD3DDevice) {
        bModeChangePending = false;
        return S_OK;
    }

    ReleaseDefaultPool();

    // From here on a failure leaves the objects not yet recreated at null
    // and asks the next frame to try again (a device that is lost again is
    // left to the frame's cooperative-level test instead).
    HRESULT hr = pD3DDevice->Reset(&d3dpp);
    if (scope.ReportFailure("IDirect3DDevice9::Reset() failed !", kSource, __LINE__, hr) < 0) {
        if (hr != D3DERR_DEVICELOST) bModeChangePending = true;
        return ZVE_SUBFUNCTION;
    }
    if (RecreateDefaultPool(scope) < 0) {
        bModeChangePending = true;
        return ZVE_SUBFUNCTION;
    }
    SetRenderMode();
    hr = pD3DDevice->GetDeviceCaps(&d3dCaps);
    if (scope.ReportFailure("IDirect3DDevice9::GetDeviceCaps() failed !", kSource, __LINE__, hr) < 0) {
        bModeChangePending = true;
        return ZVE_SUBFUNCTION;
    }
    for (u32 i = 0; i < vGeometries.count; ++i) {
        hr = vGeometries[i]->Reset();
        if (scope.ReportFailure("IGeometry::Reset() failed !", kSource, __LINE__, hr) < 0) {
            bModeChangePending = true;
            return ZVE_SUBFUNCTION;
        }
    }
    bModeChangePending = false;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Shutdown

ZVGraphics::~ZVGraphics() {
    CallScope scope(this, "Destructor()");
    bool leaks = false;

    if (vGeometries.count > 0) {
        leaks = true;
        String message;
        message += (unsigned int)vGeometries.count;
        message += " geometrie(s) still alive (or dead but not removed => Access Violation) !";
        ReportWarning(scope, message, __LINE__);
        for (u32 i = vGeometries.count; i-- > 0;) {
            if (i >= vGeometries.count) continue;  // an earlier release took several with it
            IGeometry* geometry = vGeometries[i];
            while (geometry->Release() != 0) {
            }
        }
        if (vGeometries.count > 0) {
            String left;
            left += (unsigned int)vGeometries.count;
            left += " geometrie(s) don't call RemoveGeometry() in their destructor !";
            ReportWarning(scope, left, __LINE__);
        }
    }

    if (pCore) {
        IInternCore* core = dynamic_cast<IInternCore*>(pCore);
        if (core) core->RemoveManager(this);
        pCore->Release();
        pCore = nullptr;
    }

    if (pD3DDevice) {
        if (bRendering) pD3DDevice->EndScene();
        if (pShadowVB) {
            pShadowVB->Release();
            pShadowVB = nullptr;
        }
        for (u32 i = 0; i < d3dCaps.MaxSimultaneousTextures; ++i) pD3DDevice->SetTexture(i, nullptr);
        for (u32 i = 0; i < d3dCaps.MaxStreams; ++i) pD3DDevice->SetStreamSource(i, nullptr, 0, 0);
        pD3DDevice->SetIndices(nullptr);
        pD3DDevice->SetVertexShader(nullptr);
        pD3DDevice->SetPixelShader(nullptr);
    } else if (pShadowVB) {
        pShadowVB->Release();
        pShadowVB = nullptr;
    }

    // Resources the users forgot.  Each one removes itself from its list
    // when it is destroyed.
    if (vVBs.count > 0) {
        leaks = true;
        String message;
        message += (unsigned int)vVBs.count;
        message += " VB(s) not released !";
        ReportWarning(scope, message, __LINE__);
        while (vVBs.count > 0) {
            VB* vb = vVBs[vVBs.count - 1];
            while (vb->Release() != 0) {
            }
        }
    }
    if (vIBs.count > 0) {
        leaks = true;
        String message;
        message += (unsigned int)vIBs.count;
        message += " IB(s) not released !";
        ReportWarning(scope, message, __LINE__);
        while (vIBs.count > 0) {
            IB* ib = vIBs[vIBs.count - 1];
            while (ib->Release() != 0) {
            }
        }
    }
    if (vTextures.count > 0) {
        leaks = true;
        String message;
        message += (unsigned int)vTextures.count;
        message += " Texture(s) not released !";
        ReportWarning(scope, message, __LINE__);
        while (vTextures.count > 0) {
            Texture* t = vTextures[vTextures.count - 1];
            while (t->Release() != 0) {
            }
        }
    }

    if (pD3DDevice) {
        const ULONG left = pD3DDevice->Release();
        if (left > 0) {
            leaks = true;
            String message("d3dDevice9 Interface (count==");
            message += (unsigned int)left;
            message += ") !";
            ReportWarning(scope, message, __LINE__);
            while (pD3DDevice->Release() != 0) {
            }
        }
        pD3DDevice = nullptr;
    }
    if (pD3D) {
        const ULONG left = pD3D->Release();
        if (left > 0) {
            leaks = true;
            String message("D3D9 Interface (count==");
            message += (unsigned int)left;
            message += ") !";
            ReportWarning(scope, message, __LINE__);
            while (pD3D->Release() != 0) {
            }
        }
        pD3D = nullptr;
    }
    if (!leaks) scope.WriteLog(ZVLOG_INFO, "Graphics Engine correctly shutdown", kSource, __LINE__);
}

// ---------------------------------------------------------------------------
// Camera accessors.  The view is a left-handed look-at; the projection is
// fixed: vertical field of view pi/2, aspect 4/3, planes 2 and 100000.

HRESULT ZVGraphics::GetCamera(Vector3* eye, Vector3* at, Vector3* up) {
    if (eye) *eye = vEye;
    if (at) *at = vLookAt;
    if (up) *up = vUp;
    return S_OK;
}

HRESULT ZVGraphics::GetViewProj(Matrix* view, Matrix* projection) {
    if (view) D3DXMatrixLookAtLH(view, &vEye, &vLookAt, &vUp);
    if (projection) D3DXMatrixPerspectiveFovLH(projection, 1.5707964f, 1.3333334f, 2.0f, 100000.0f);
    return S_OK;
}

// The frame, render states, lights and drawing are in zvgraphrender.cpp;
// the shadow volumes and CorrectIndices in zvgraphstenshad.cpp.
