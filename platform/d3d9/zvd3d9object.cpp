// The Direct3D object: adapters (SDL displays), their modes, format checks,
// capabilities and the adapter identifier; plus the format and vertex-format
// tables shared by the whole layer.
//
// Display formats.  A display of 24 or 32 bits per pixel is offered as
// X8R8G8B8 and, as Direct3D drivers do, also as R5G6B5 (a 16-bit mode that
// is rendered in 16 bits and shown on the real display).  X1R5G5B5 and
// A2R10G10B10 modes exist only when SDL lists 15-bit or 30-bit modes.  Modes
// are listed in ascending order of width, height and refresh rate, and the
// current desktop mode (zvdesktop.h) is always among them.
//
// Back-buffer formats follow Direct3D's pairing: X8R8G8B8 display with
// X8R8G8B8 or A8R8G8B8, X1R5G5B5 with X1R5G5B5 or A1R5G5B5, R5G6B5 with
// R5G6B5, A2R10G10B10 with itself (full screen only).  Windowed devices need
// the current display format as adapter format.  Depth formats: D24S8,
// D24X8, D16 and D32, with any colour format.
#include <algorithm>
#include <cstring>
#include <new>

#include "zvd3d9internal.h"
#include "zvdesktop.h"

namespace zvd3d9 {

bool GetFormatInfo(D3DFORMAT format, FormatInfo* info) {
    FormatInfo f;
    switch (format) {
    case D3DFMT_A8R8G8B8:
        f = {4, GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, false};
        break;
    case D3DFMT_X8R8G8B8:
        f = {4, GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, true};
        break;
    case D3DFMT_R5G6B5:
        f = {2, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, true};
        break;
    case D3DFMT_X1R5G5B5:
        f = {2, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, true};
        break;
    case D3DFMT_A1R5G5B5:
        f = {2, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, false};
        break;
    case D3DFMT_A4R4G4B4:
        f = {2, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, false};
        break;
    case D3DFMT_A2R10G10B10:
        f = {4, GL_RGB10_A2, GL_BGRA, GL_UNSIGNED_INT_2_10_10_10_REV, false};
        break;
    case D3DFMT_A8:
        f = {1, GL_RGBA8, GL_ALPHA, GL_UNSIGNED_BYTE, false};
        break;
    case D3DFMT_L8:
        f = {1, GL_RGBA8, GL_LUMINANCE, GL_UNSIGNED_BYTE, true};
        break;
    default:
        return false;
    }
    if (info) *info = f;
    return true;
}

bool IsDepthFormat(D3DFORMAT format) {
    return format == D3DFMT_D24S8 || format == D3DFMT_D24X8 || format == D3DFMT_D16 || format == D3DFMT_D32;
}

bool HasStencil(D3DFORMAT format) { return format == D3DFMT_D24S8; }

static inline uint8_t Expand5(uint32_t v) { return (uint8_t)((v << 3) | (v >> 2)); }
static inline uint8_t Expand6(uint32_t v) { return (uint8_t)((v << 2) | (v >> 4)); }
static inline uint8_t Expand4(uint32_t v) { return (uint8_t)((v << 4) | v); }

void RowToBGRA(D3DFORMAT format, const void* src, uint8_t* dst, UINT count) {
    const uint8_t* s = static_cast<const uint8_t*>(src);
    for (UINT i = 0; i < count; ++i, dst += 4) {
        switch (format) {
        case D3DFMT_A8R8G8B8:
            std::memcpy(dst, s + 4 * i, 4);
            break;
        case D3DFMT_X8R8G8B8:
            std::memcpy(dst, s + 4 * i, 3);
            dst[3] = 255;
            break;
        case D3DFMT_A2R10G10B10: {
            uint32_t v;
            std::memcpy(&v, s + 4 * i, 4);
            dst[0] = (uint8_t)((v & 0x3FF) >> 2);
            dst[1] = (uint8_t)(((v >> 10) & 0x3FF) >> 2);
            dst[2] = (uint8_t)(((v >> 20) & 0x3FF) >> 2);
            dst[3] = (uint8_t)((v >> 30) * 85);
            break;
        }
        case D3DFMT_R5G6B5: {
            uint16_t v;
            std::memcpy(&v, s + 2 * i, 2);
            dst[0] = Expand5(v & 31u);
            dst[1] = Expand6((v >> 5) & 63u);
            dst[2] = Expand5((v >> 11) & 31u);
            dst[3] = 255;
            break;
        }
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5: {
            uint16_t v;
            std::memcpy(&v, s + 2 * i, 2);
            dst[0] = Expand5(v & 31u);
            dst[1] = Expand5((v >> 5) & 31u);
            dst[2] = Expand5((v >> 10) & 31u);
            dst[3] = (format == D3DFMT_X1R5G5B5 || (v & 0x8000u)) ? 255 : 0;
            break;
        }
        case D3DFMT_A4R4G4B4: {
            uint16_t v;
            std::memcpy(&v, s + 2 * i, 2);
            dst[0] = Expand4(v & 15u);
            dst[1] = Expand4((v >> 4) & 15u);
            dst[2] = Expand4((v >> 8) & 15u);
            dst[3] = Expand4((v >> 12) & 15u);
            break;
        }
        case D3DFMT_A8:
            dst[0] = dst[1] = dst[2] = 0;
            dst[3] = s[i];
            break;
        case D3DFMT_L8:
            dst[0] = dst[1] = dst[2] = s[i];
            dst[3] = 255;
            break;
        default:
            dst[0] = dst[1] = dst[2] = dst[3] = 0;
            break;
        }
    }
}

void RowFromBGRA(D3DFORMAT format, const uint8_t* src, void* dst, UINT count) {
    uint8_t* d = static_cast<uint8_t*>(dst);
    for (UINT i = 0; i < count; ++i, src += 4) {
        const uint32_t b = src[0], g = src[1], r = src[2], a = src[3];
        switch (format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
            std::memcpy(d + 4 * i, src, 4);
            if (format == D3DFMT_X8R8G8B8) d[4 * i + 3] = 255;
            break;
        case D3DFMT_A2R10G10B10: {
            uint32_t v = ((a * 3 + 127) / 255) << 30 | (r * 1023 / 255) << 20 | (g * 1023 / 255) << 10 |
                         (b * 1023 / 255);
            std::memcpy(d + 4 * i, &v, 4);
            break;
        }
        case D3DFMT_R5G6B5: {
            uint16_t v = (uint16_t)((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
            std::memcpy(d + 2 * i, &v, 2);
            break;
        }
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5: {
            uint32_t alpha = (format == D3DFMT_X1R5G5B5 || a >= 128) ? 1u : 0u;
            uint16_t v = (uint16_t)(alpha << 15 | (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
            std::memcpy(d + 2 * i, &v, 2);
            break;
        }
        case D3DFMT_A4R4G4B4: {
            uint16_t v = (uint16_t)((a >> 4) << 12 | (r >> 4) << 8 | (g >> 4) << 4 | (b >> 4));
            std::memcpy(d + 2 * i, &v, 2);
            break;
        }
        case D3DFMT_A8:
            d[i] = (uint8_t)a;
            break;
        case D3DFMT_L8:
            d[i] = (uint8_t)((r * 77 + g * 150 + b * 29) >> 8);
            break;
        default:
            break;
        }
    }
}

bool ComputeFvfLayout(DWORD fvf, FvfLayout* layout) {
    FvfLayout l;
    UINT offset = 0;
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    switch (position) {
    case 0:
        break;
    case D3DFVF_XYZ:
        l.positionSize = 3;
        offset = 12;
        break;
    case D3DFVF_XYZRHW:
        l.positionSize = 4;
        l.rhw = true;
        offset = 16;
        break;
    case D3DFVF_XYZW:
        l.positionSize = 4;
        offset = 16;
        break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5:
        l.positionSize = 3;
        offset = 12 + 4 * ((position - 4) / 2);
        break;
    default:
        return false;
    }
    if (fvf & D3DFVF_NORMAL) {
        l.normal = (int)offset;
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE) offset += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        l.diffuse = (int)offset;
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        l.specular = (int)offset;
        offset += 4;
    }
    l.texCount = (int)((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    if (l.texCount > 8) return false;
    for (int i = 0; i < l.texCount; ++i) {
        static const int sizes[4] = {2, 3, 4, 1};
        l.texSize[i] = sizes[(fvf >> (16 + 2 * i)) & 3u];
        l.texOffset[i] = (int)offset;
        offset += 4u * (UINT)l.texSize[i];
    }
    l.stride = offset;
    if (layout) *layout = l;
    return true;
}

bool VerticesForPrimitives(D3DPRIMITIVETYPE type, UINT primitives, uint64_t* vertices, GLenum* mode) {
    const uint64_t n = primitives;
    switch (type) {
    case D3DPT_POINTLIST:
        *vertices = n;
        *mode = GL_POINTS;
        break;
    case D3DPT_LINELIST:
        *vertices = 2 * n;
        *mode = GL_LINES;
        break;
    case D3DPT_LINESTRIP:
        *vertices = n + 1;
        *mode = GL_LINE_STRIP;
        break;
    case D3DPT_TRIANGLELIST:
        *vertices = 3 * n;
        *mode = GL_TRIANGLES;
        break;
    case D3DPT_TRIANGLESTRIP:
        *vertices = n + 2;
        *mode = GL_TRIANGLE_STRIP;
        break;
    case D3DPT_TRIANGLEFAN:
        *vertices = n + 2;
        *mode = GL_TRIANGLE_FAN;
        break;
    default:
        return false;
    }
    return primitives > 0 && primitives <= kMaxPrimitiveCount;
}

// Fixed, documented capabilities of this implementation.
void FillCaps(UINT adapter, D3DCAPS9* caps) {
    std::memset(caps, 0, sizeof(*caps));
    caps->DeviceType = D3DDEVTYPE_HAL;
    caps->AdapterOrdinal = adapter;
    caps->Caps2 = D3DCAPS2_DYNAMICTEXTURES;
    caps->Caps3 = D3DCAPS3_ALPHA_FULLSCREEN_FLIP_OR_DISCARD;
    caps->PresentationIntervals = D3DPRESENT_INTERVAL_CAPS;
    caps->DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                    D3DDEVCAPS_TLVERTEXVIDEOMEMORY | D3DDEVCAPS_TEXTURESYSTEMMEMORY |
                    D3DDEVCAPS_TEXTUREVIDEOMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP |
                    D3DDEVCAPS_DRAWPRIMITIVES2 | D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT |
                    D3DDEVCAPS_HWRASTERIZATION | D3DDEVCAPS_PUREDEVICE;
    caps->PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW |
                              D3DPMISCCAPS_CULLCCW | D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP;
    caps->RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_SCISSORTEST;
    const DWORD allCmp = 0xFF;
    caps->ZCmpCaps = allCmp;
    caps->AlphaCmpCaps = allCmp;
    caps->SrcBlendCaps = caps->DestBlendCaps = 0x3FF;
    caps->ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB |
                      D3DPSHADECAPS_ALPHAGOURAUDBLEND;
    caps->TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_MIPMAP;
    caps->TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MIPFPOINT |
                              D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    caps->TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                               D3DPTADDRESSCAPS_BORDER;
    caps->LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP;
    caps->MaxTextureWidth = caps->MaxTextureHeight = 4096;
    caps->MaxTextureRepeat = 8192;
    caps->MaxTextureAspectRatio = 4096;
    caps->MaxAnisotropy = 1;
    caps->MaxVertexW = 1e10f;
    caps->StencilCaps = D3DSTENCILCAPS_KEEP | D3DSTENCILCAPS_ZERO | D3DSTENCILCAPS_REPLACE | D3DSTENCILCAPS_INCRSAT |
                        D3DSTENCILCAPS_DECRSAT | D3DSTENCILCAPS_INVERT | D3DSTENCILCAPS_INCR | D3DSTENCILCAPS_DECR |
                        D3DSTENCILCAPS_TWOSIDED;
    caps->FVFCaps = 8 | D3DFVFCAPS_DONOTSTRIPELEMENTS;
    caps->TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                          D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X | D3DTEXOPCAPS_ADD;
    caps->MaxTextureBlendStages = kMaxTextureStages;
    caps->MaxSimultaneousTextures = kMaxTextureStages;
    caps->VertexProcessingCaps = D3DVTXPCAPS_DIRECTIONALLIGHTS | D3DVTXPCAPS_POSITIONALLIGHTS |
                                 D3DVTXPCAPS_LOCALVIEWER;
    caps->MaxActiveLights = kMaxActiveLights;
    caps->MaxPointSize = 1.0f;
    caps->MaxPrimitiveCount = kMaxPrimitiveCount;
    caps->MaxVertexIndex = kMaxVertexIndex;
    caps->MaxStreams = kMaxStreams;
    caps->MaxStreamStride = 255;
    caps->VertexShaderVersion = D3DVS_VERSION(0, 0);
    caps->PixelShaderVersion = D3DPS_VERSION(0, 0);
    caps->MasterAdapterOrdinal = adapter;
    caps->AdapterOrdinalInGroup = 0;
    caps->NumberOfAdaptersInGroup = 1;
    caps->NumSimultaneousRTs = 1;
}

D3DFORMAT DisplayFormatOf(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 15:
        return D3DFMT_X1R5G5B5;
    case 16:
        return D3DFMT_R5G6B5;
    case 30:
        return D3DFMT_A2R10G10B10;
    default:
        return D3DFMT_X8R8G8B8;
    }
}

D3DFORMAT DisplayFormatForBackBuffer(D3DFORMAT backBuffer) {
    switch (backBuffer) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
        return D3DFMT_X8R8G8B8;
    case D3DFMT_A1R5G5B5:
    case D3DFMT_X1R5G5B5:
        return D3DFMT_X1R5G5B5;
    case D3DFMT_R5G6B5:
        return D3DFMT_R5G6B5;
    case D3DFMT_A2R10G10B10:
        return D3DFMT_A2R10G10B10;
    default:
        return D3DFMT_UNKNOWN;
    }
}

bool IsDisplayFormat(D3DFORMAT format) {
    return format == D3DFMT_X8R8G8B8 || format == D3DFMT_R5G6B5 || format == D3DFMT_X1R5G5B5 ||
           format == D3DFMT_A2R10G10B10;
}

bool IsBackBufferFormat(D3DFORMAT format) { return DisplayFormatForBackBuffer(format) != D3DFMT_UNKNOWN; }

bool IsTextureFormat(D3DFORMAT format) { return GetFormatInfo(format, nullptr); }

bool CreateHiddenContext(SDL_Window** window, SDL_GLContext* context) {
    *window = SDL_CreateWindow("zvd3d9", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!*window) return false;
    *context = SDL_GL_CreateContext(*window);
    if (!*context) {
        SDL_DestroyWindow(*window);
        *window = nullptr;
        return false;
    }
    SDL_GL_MakeCurrent(*window, *context);
    return true;
}

// ---------------------------------------------------------------------------
Direct3D9::Direct3D9() {}

Direct3D9::~Direct3D9() { SDL_QuitSubSystem(SDL_INIT_VIDEO); }

HRESULT Direct3D9::QueryInterface(REFIID, void** object) {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
}

ULONG Direct3D9::AddRef() { return ++ref_; }

ULONG Direct3D9::Release() {
    if (ref_ == 0) return 0;
    if (--ref_ == 0) {
        delete this;
        return 0;
    }
    return ref_;
}

UINT Direct3D9::GetAdapterCount() {
    const int n = SDL_GetNumVideoDisplays();
    return n > 0 ? (UINT)n : 0;
}

static bool DesktopMode(UINT adapter, D3DDISPLAYMODE* out) {
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode((int)adapter, &mode) != 0) return false;
    out->Width = (UINT)mode.w;
    out->Height = (UINT)mode.h;
    out->RefreshRate = mode.refresh_rate > 0 ? (UINT)mode.refresh_rate : 60;
    out->Format = DisplayFormatOf((int)SDL_BITSPERPIXEL(mode.format));
    if (adapter == 0) {
        int w = 0, h = 0, r = 0;
        if (ZVGetDesktopSize(&w, &h, &r) && w > 0 && h > 0) {
            out->Width = (UINT)w;
            out->Height = (UINT)h;
            if (r > 0) out->RefreshRate = (UINT)r;
        }
    }
    return true;
}

HRESULT Direct3D9::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* out) {
    if (!out || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    if (!DesktopMode(adapter, out)) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

std::vector<D3DDISPLAYMODE> Direct3D9::Modes(UINT adapter, D3DFORMAT format) {
    std::vector<D3DDISPLAYMODE> modes;
    if (adapter >= GetAdapterCount() || !IsDisplayFormat(format)) return modes;
    D3DDISPLAYMODE desktop;
    const bool haveDesktop = DesktopMode(adapter, &desktop);
    const int count = SDL_GetNumDisplayModes((int)adapter);
    auto add = [&](UINT w, UINT h, UINT r) {
        D3DDISPLAYMODE m = {w, h, r, format};
        modes.push_back(m);
    };
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode((int)adapter, i, &mode) != 0 || mode.w <= 0 || mode.h <= 0) continue;
        const int bits = (int)SDL_BITSPERPIXEL(mode.format);
        const UINT r = mode.refresh_rate > 0 ? (UINT)mode.refresh_rate : 60;
        bool offered = false;
        switch (format) {
        case D3DFMT_X8R8G8B8:
        case D3DFMT_R5G6B5:
            offered = bits >= 24 || (format == D3DFMT_R5G6B5 && bits == 16);
            break;
        case D3DFMT_X1R5G5B5:
            offered = bits == 15;
            break;
        case D3DFMT_A2R10G10B10:
            offered = bits == 30;
            break;
        default:
            break;
        }
        if (offered) add((UINT)mode.w, (UINT)mode.h, r);
    }
    // The current mode is always a mode of its own format (and of the
    // 16-bit format emulated on a true-colour desktop).
    if (haveDesktop && (desktop.Format == format ||
                        (format == D3DFMT_R5G6B5 && desktop.Format == D3DFMT_X8R8G8B8)))
        add(desktop.Width, desktop.Height, desktop.RefreshRate);
    std::sort(modes.begin(), modes.end(), [](const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
        if (a.Width != b.Width) return a.Width < b.Width;
        if (a.Height != b.Height) return a.Height < b.Height;
        return a.RefreshRate < b.RefreshRate;
    });
    modes.erase(std::unique(modes.begin(), modes.end(),
                            [](const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
                                return a.Width == b.Width && a.Height == b.Height && a.RefreshRate == b.RefreshRate;
                            }),
                modes.end());
    return modes;
}

UINT Direct3D9::GetAdapterModeCount(UINT adapter, D3DFORMAT format) {
    return (UINT)Modes(adapter, format).size();
}

HRESULT Direct3D9::EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) {
    if (!out || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    std::vector<D3DDISPLAYMODE> modes = Modes(adapter, format);
    if (modes.empty()) return D3DERR_NOTAVAILABLE;
    if (mode >= modes.size()) return D3DERR_INVALIDCALL;
    *out = modes[mode];
    return D3D_OK;
}

HRESULT Direct3D9::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT backBufferFormat, BOOL windowed) {
    if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    if (!IsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    if (backBufferFormat == D3DFMT_UNKNOWN) {
        if (!windowed) return D3DERR_INVALIDCALL;
        backBufferFormat = adapterFormat;
    }
    if (DisplayFormatForBackBuffer(backBufferFormat) != adapterFormat) return D3DERR_NOTAVAILABLE;
    if (windowed) {
        if (adapterFormat == D3DFMT_A2R10G10B10) return D3DERR_NOTAVAILABLE;
        D3DDISPLAYMODE current;
        if (!DesktopMode(adapter, &current) || current.Format != adapterFormat) return D3DERR_NOTAVAILABLE;
    } else if (GetAdapterModeCount(adapter, adapterFormat) == 0) {
        return D3DERR_NOTAVAILABLE;
    }
    return D3D_OK;
}

HRESULT Direct3D9::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                     D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) {
    if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    if (!IsDisplayFormat(adapterFormat)) return D3DERR_INVALIDCALL;
    if (usage & D3DUSAGE_DEPTHSTENCIL) {
        if (resourceType != D3DRTYPE_SURFACE && resourceType != D3DRTYPE_TEXTURE) return D3DERR_NOTAVAILABLE;
        return IsDepthFormat(checkFormat) && resourceType == D3DRTYPE_SURFACE ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    if (usage & D3DUSAGE_RENDERTARGET) {
        if (resourceType != D3DRTYPE_SURFACE) return D3DERR_NOTAVAILABLE;
        return IsBackBufferFormat(checkFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    switch (resourceType) {
    case D3DRTYPE_SURFACE:
    case D3DRTYPE_TEXTURE:
        return IsTextureFormat(checkFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
    case D3DRTYPE_VERTEXBUFFER:
        return checkFormat == D3DFMT_VERTEXDATA ? D3D_OK : D3DERR_NOTAVAILABLE;
    case D3DRTYPE_INDEXBUFFER:
        return checkFormat == D3DFMT_INDEX16 || checkFormat == D3DFMT_INDEX32 ? D3D_OK : D3DERR_NOTAVAILABLE;
    default:
        return D3DERR_NOTAVAILABLE;
    }
}

HRESULT Direct3D9::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT, BOOL,
                                              D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) {
    if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    if (multiSample == D3DMULTISAMPLE_NONE) {
        if (qualityLevels) *qualityLevels = 1;
        return D3D_OK;
    }
    if (qualityLevels) *qualityLevels = 0;
    return D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                          D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) {
    if (adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    if (!IsDisplayFormat(adapterFormat)) return D3DERR_INVALIDCALL;
    if (!IsBackBufferFormat(renderTargetFormat) || !IsDepthFormat(depthStencilFormat)) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT Direct3D9::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) {
    if (!caps || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    FillCaps(adapter, caps);
    return D3D_OK;
}

void Direct3D9::QueryGLStrings() {
    if (glQueried_) return;
    glQueried_ = true;
    SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext previousContext = SDL_GL_GetCurrentContext();
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    if (CreateHiddenContext(&window, &context)) {
        auto text = [](GLenum name) {
            const GLubyte* s = glGetString(name);
            return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
        };
        glVendor_ = text(GL_VENDOR);
        glRenderer_ = text(GL_RENDERER);
        glVersion_ = text(GL_VERSION);
        SDL_GL_MakeCurrent(nullptr, nullptr);
        SDL_GL_DeleteContext(context);
        SDL_DestroyWindow(window);
    }
    if (previousContext) SDL_GL_MakeCurrent(previousWindow, previousContext);
}

// "4.5 (Compatibility Profile) Mesa 23.2.1" gives 23.2.1.0: the numbers after
// the driver's name when there is one, else the GL version itself.
static void ParseVersion(const std::string& text, uint16_t parts[4]) {
    parts[0] = parts[1] = parts[2] = parts[3] = 0;
    size_t start = 0;
    const size_t space = text.rfind(' ');
    if (space != std::string::npos && space + 1 < text.size() && text[space + 1] >= '0' && text[space + 1] <= '9')
        start = space + 1;
    int part = 0;
    uint32_t value = 0;
    bool any = false;
    for (size_t i = start; i <= text.size() && part < 4; ++i) {
        const char c = i < text.size() ? text[i] : '\0';
        if (c >= '0' && c <= '9') {
            value = std::min<uint32_t>(value * 10 + (uint32_t)(c - '0'), 0xFFFF);
            any = true;
        } else {
            if (any) parts[part++] = (uint16_t)value;
            value = 0;
            any = false;
            if (c != '.') break;
        }
    }
}

HRESULT Direct3D9::GetAdapterIdentifier(UINT adapter, DWORD, D3DADAPTER_IDENTIFIER9* identifier) {
    if (!identifier || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    QueryGLStrings();
    std::memset(identifier, 0, sizeof(*identifier));
    auto copy = [](char* dst, size_t size, const std::string& text) {
        std::strncpy(dst, text.c_str(), size - 1);
        dst[size - 1] = '\0';
    };
    copy(identifier->Driver, sizeof(identifier->Driver), glVendor_.empty() ? "OpenGL" : glVendor_);
    std::string description = glRenderer_.empty() ? "OpenGL renderer" : glRenderer_;
    if (!glVersion_.empty()) description += " (OpenGL " + glVersion_ + ")";
    copy(identifier->Description, sizeof(identifier->Description), description);
    copy(identifier->DeviceName, sizeof(identifier->DeviceName), "\\\\.\\DISPLAY" + std::to_string(adapter + 1));
    uint16_t v[4];
    ParseVersion(glVersion_, v);
    identifier->DriverVersion.u.HighPart = (LONG)(((uint32_t)v[0] << 16) | v[1]);
    identifier->DriverVersion.u.LowPart = ((uint32_t)v[2] << 16) | v[3];
    // A stable identifier made from the renderer name.
    uint32_t hash = 2166136261u;
    for (char c : glRenderer_) hash = (hash ^ (uint8_t)c) * 16777619u;
    identifier->DeviceIdentifier.Data1 = hash;
    identifier->DeviceIdentifier.Data2 = (uint16_t)adapter;
    identifier->WHQLLevel = 0;
    return D3D_OK;
}

HRESULT Direct3D9::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                                D3DPRESENT_PARAMETERS* pp, IDirect3DDevice9** returnedDevice) {
    if (!returnedDevice) return D3DERR_INVALIDCALL;
    *returnedDevice = nullptr;
    if (!pp || adapter >= GetAdapterCount()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    const DWORD vp = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                      D3DCREATE_MIXED_VERTEXPROCESSING);
    if (vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING && vp != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        vp != D3DCREATE_MIXED_VERTEXPROCESSING)
        return D3DERR_INVALIDCALL;
    if ((behaviorFlags & D3DCREATE_PUREDEVICE) && vp != D3DCREATE_HARDWARE_VERTEXPROCESSING)
        return D3DERR_INVALIDCALL;
    if (!focusWindow && !pp->hDeviceWindow) return D3DERR_INVALIDCALL;
    Device* device = new (std::nothrow) Device(this, adapter, focusWindow, behaviorFlags);
    if (!device) return E_OUTOFMEMORY;
    const HRESULT hr = device->Init(pp);
    if (FAILED(hr)) {
        device->Release();
        return hr;
    }
    *returnedDevice = device;
    return D3D_OK;
}

}  // namespace zvd3d9

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION && sdkVersion != 32) return nullptr;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
    zvd3d9::Direct3D9* d3d = new (std::nothrow) zvd3d9::Direct3D9();
    if (!d3d) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return d3d;
}
