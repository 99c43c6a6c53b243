// The drawing side of the graphics manager: render states, camera and
// projection, light slots, material, the one drawing call every geometry
// uses, screenshots and the frame itself with its three lighting paths.
#include <cstdio>
#include <cstring>

#include "zvcore.h"
#include "zvd3dx9math.h"
#include "zvd3dx9tex.h"
#include "zvgraphicsd3d9.h"
#include "zvphysics.h"
#include "zvwin32.h"

static const char* const kSource = "zvgraphicsd3d9";
static const char* const kNoDevice = "Device not created; call SetScreenMode() before";
static const char* const kRendering = "Not allowed while rendering";
static const char* const kInvalid = "Invalid Call/Param";

// Reports hr through scope and gives ZVE_SUBFUNCTION when it is a failure.
#define ZV_REPORT(msg, hr)                                                 \
    do {                                                                   \
        if (scope.ReportFailure((msg), kSource, __LINE__, (hr)) < 0) return ZVE_SUBFUNCTION; \
    } while (0)

static D3DLIGHT9 ToD3DLight(const Light& light) {
    static_assert(sizeof(D3DLIGHT9) == sizeof(Light), "Light has Direct3D 9's light layout");
    D3DLIGHT9 out;
    std::memcpy(&out, &light, sizeof(out));
    return out;
}

namespace {

// One colour component times 255, truncated; its low byte is kept, so that a
// component above 1.0 wraps.  Products beyond the range of a 64-bit integer
// saturate (a huge component gives 0xFF, a huge negative one 0) and NaN gives
// 0: a colour read from a file never makes the conversion undefined.
u32 ColourByte(float component) {
    const double scaled = component * 255.0;
    if (scaled != scaled) return 0;
    if (scaled >= 9223372036854775807.0) return 0xFFu;  // 2^63 and above
    if (scaled < -9223372036854775807.0) return 0;
    return (u32)((i64)scaled & 0xFF);
}

}  // namespace

D3DCOLOR ToD3DColor(const D3DCOLORVALUE& colour) {
    return (ColourByte(colour.a) << 24) | (ColourByte(colour.r) << 16) | (ColourByte(colour.g) << 8) |
           ColourByte(colour.b);
}

HRESULT ZVGraphics::SetRenderState(u32 state, u32 value) {
    CallScope scope(this, "SetRenderState()");
    if (bRendering) ZV_REPORT(kRendering, E_FAIL);
    if (!pD3DDevice) ZV_REPORT(kNoDevice, E_FAIL);
    switch (state) {
        case LIGHTNINGPATH: {
            if (value == nLightningPath) return S_FALSE;
            if (value == StencilShadow && !bStencil) return S_FALSE;
            if (value == 0 || value > StencilShadow) ZV_REPORT("bad LIGHTNINGPATH", E_FAIL);
            if (value != StencilShadow) {
                nLightningPath = value;
                if (pShadowVB) {
                    pShadowVB->Release();
                    pShadowVB = nullptr;
                }
                return S_OK;
            }
            u32 largest = 0;
            for (u32 i = 0; i < vVBs.count; ++i) {
                if (vVBs[i] != pShadowVB && vVBs[i]->nVertices > largest) largest = vVBs[i]->nVertices;
            }
            if (largest > 0 && (!pShadowVB || pShadowVB->GetNumVertices() < largest)) {
                if (pShadowVB) {
                    pShadowVB->Release();
                    pShadowVB = nullptr;
                }
                u32 size = largest > 0xFFFFFFFFu / 6 ? 0xFFFFFFFFu : largest * 6;
                HRESULT hr = CreateVB(D3DFVF_XYZ, size, true, &pShadowVB);
                // The stencil path is switched on only once its buffer exists.
                ZV_REPORT("-", hr);
            }
            nLightningPath = value;
            for (u32 i = 0; i < MAXACTIVELIGHTS; ++i) pD3DDevice->LightEnable(i, FALSE);
            return S_OK;
        }
        case FILLMODE: {
            if (value == nFillMode) return S_FALSE;
            ZV_REPORT("-", pD3DDevice->SetRenderState(D3DRS_FILLMODE, value));
            nFillMode = value;
            return S_OK;
        }
        case SHADOWDEBUG:
            if (value == nShadowDebug) return S_FALSE;
            nShadowDebug = value;
            return S_OK;
        default: {
            char text[96];
            snprintf(text, sizeof(text), "Unknow RenderState = %d); Value = %u", (int)state, value);
            ZV_REPORT(text, E_FAIL);
            return S_OK;
        }
    }
}

HRESULT ZVGraphics::SetRenderMode() {
    CallScope scope(this, "SetRenderMode()");
    if (!pD3DDevice) return S_FALSE;
    ZV_REPORT("-", pD3DDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE));
    ZV_REPORT("-", pD3DDevice->SetRenderState(D3DRS_ZENABLE, TRUE));
    u32 path = nLightningPath;
    nLightningPath = 0;
    ZV_REPORT("-", SetRenderState(LIGHTNINGPATH, path));
    // The stencil path on a depth format without stencil is refused; the
    // frame then lights as it did at the start rather than not at all.
    if (nLightningPath == 0) ZV_REPORT("-", SetRenderState(LIGHTNINGPATH, SimpleLighting));
    if (nLightningPath != NoLightning) {
        for (u32 i = 0; i < MAXACTIVELIGHTS; ++i) {
            if (!lights[i].bActive) continue;
            lights[i].bActive = false;
            Light copy = lights[i].light;
            ZV_REPORT("-", SetLight(lights[i].id, true, &copy));
        }
    }
    Matrix identity;
    identity.SetIdentity();
    pD3DDevice->SetTransform(D3DTS_WORLD, &identity);
    SetCamera(&vEye, &vLookAt, &vUp);
    Matrix view, projection;
    GetViewProj(&view, &projection);
    return pD3DDevice->SetTransform(D3DTS_PROJECTION, &projection);
}

HRESULT ZVGraphics::SetCamera(const Vector3* eye, const Vector3* at, const Vector3* up) {
    CallScope scope(this, "SetCamera()");
    if (!pD3DDevice) ZV_REPORT(kNoDevice, E_FAIL);
    if (!eye || !at || !up || !(up->LengthSq() > 0.0) || *eye == *at) ZV_REPORT(kInvalid, E_INVALIDARG);
    vEye = *eye;
    vLookAt = *at;
    vUp = *up;
    Matrix view;
    D3DXMatrixLookAtLH(&view, &vEye, &vLookAt, &vUp);
    return pD3DDevice->SetTransform(D3DTS_VIEW, &view);
}

HRESULT ZVGraphics::SetLight(u32 index, bool enable, const Light* light) {
    CallScope scope(this, "SetLight()");
    if (bRendering) ZV_REPORT(kRendering, E_FAIL);
    if (!pD3DDevice) ZV_REPORT(kNoDevice, E_FAIL);
    if (!light) ZV_REPORT(kInvalid, E_INVALIDARG);
    LightSlot* slot = nullptr;
    for (u32 i = 0; i < MAXACTIVELIGHTS && !slot; ++i) {
        if (lights[i].id == index) slot = &lights[i];
    }
    for (u32 i = 0; i < MAXACTIVELIGHTS && !slot; ++i) {
        if (!lights[i].bActive) slot = &lights[i];
    }
    if (!slot) {
        scope.WriteLog(ZVLOG_ERROR, "Can't active more than MAXACTIVELIGHTS lights", kSource, __LINE__);
        return E_FAIL;
    }
    if (enable) {
        slot->bActive = true;
        slot->id = index;
        slot->light = *light;
    } else {
        // The frame no longer enables it; switch off what an earlier frame
        // left enabled on the device.
        if (slot->bActive && slot->id == index) pD3DDevice->LightEnable(index, FALSE);
        slot->bActive = false;
    }
    return S_OK;
}

HRESULT ZVGraphics::SetMaterial(const D3DMATERIAL9* material) {
    CallScope scope(this, "SetMaterial()");
    if (!pD3DDevice) ZV_REPORT(kNoDevice, E_FAIL);
    if (!material) ZV_REPORT(kInvalid, E_INVALIDARG);
    ZV_REPORT("-", pD3DDevice->SetMaterial(material));
    return S_OK;
}

// Primitives made of n vertices or indices; 0 when there are too few.
static bool PrimitiveCount(PrimitiveType type, u32 n, u32* count) {
    switch (type) {
        case D3DPT_POINTLIST: *count = n; return true;
        case D3DPT_LINELIST: *count = n / 2; return true;
        case D3DPT_LINESTRIP: *count = n >= 1 ? n - 1 : 0; return true;
        case D3DPT_TRIANGLELIST: *count = n / 3; return true;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN: *count = n >= 2 ? n - 2 : 0; return true;
        default: return false;
    }
}

// Vertices (or indices) one primitive moves the start of the next batch by.
static u32 PrimitiveStride(PrimitiveType type) {
    switch (type) {
        case D3DPT_LINELIST: return 2;
        case D3DPT_TRIANGLELIST: return 3;
        default: return 1;
    }
}

HRESULT ZVGraphics::Draw(PrimitiveType type, const Matrix* world, const DrawPrimitiveInfos* range, bool indexed) {
    CallScope scope(this, "Draw()");
    if (!pD3DDevice) ZV_REPORT(kNoDevice, E_FAIL);
    if (!bRendering) ZV_REPORT("Don't call outside of UpdateAndRender()", E_FAIL);
    if (!world || !range) ZV_REPORT(kInvalid, E_INVALIDARG);
    if (bFirstFrame) {
        DWORD passes = 0;
        HRESULT hr = pD3DDevice->ValidateDevice(&passes);
        scope.ReportFailure("IDirect3DDevice9::ValidateDevice() failed", kSource, __LINE__, hr);
        if (hr >= 0 && passes != 1) {
            char text[96];
            snprintf(text, sizeof(text), "This device seem to require %u passes for this font rendering",
                     (unsigned)passes);
            scope.WriteLog(ZVLOG_WARNING, text, kSource, __LINE__);
        }
    }
    pD3DDevice->SetTransform(D3DTS_WORLD, world);

    u32 n = indexed ? range->nNumIndices : range->nNumVertices;
    u32 primitives = 0;
    if (!PrimitiveCount(type, n, &primitives)) {
        char text[64];
        snprintf(text, sizeof(text), "Unknow PrimitiveType = %d", (int)type);
        scope.WriteLog(ZVLOG_ERROR, text, kSource, __LINE__);
        return E_FAIL;
    }
    if (indexed) {
        IB* buffer = nullptr;
        for (u32 i = 0; i < vIBs.count && !buffer; ++i) {
            if (vIBs[i]->pD3DIB && vIBs[i]->pD3DIB == pLastIB) buffer = vIBs[i];
        }
        if (!buffer) ZV_REPORT("Active IB don't belongs to this Graphics Engine", E_FAIL);
        u64 end = (u64)range->nFirstIndex + range->nNumIndices;
        if (buffer->nIndices < end) {
            if (bFirstFrame) {
                char text[192];
                snprintf(text, sizeof(text),
                         "Index stream does not have required number of indices : IB.size=%u); Wants to go "
                         "from %u to %llu",
                         buffer->nIndices, range->nFirstIndex, (unsigned long long)end);
                scope.WriteLog(ZVLOG_WARNING, text, kSource, __LINE__);
            }
            u32 available = range->nFirstIndex < buffer->nIndices ? buffer->nIndices - range->nFirstIndex : 0;
            PrimitiveCount(type, available, &primitives);
        }
    }
    if (primitives == 0) ZV_REPORT("NumPrimitiveToRender == 0", E_FAIL);

    // Ranges above the device's limit go out in batches that walk through
    // the range.  A fan cannot be cut without repeating its centre, and a
    // triangle strip keeps its winding only when cut after an even count.
    u32 batchMax = d3dCaps.MaxPrimitiveCount ? d3dCaps.MaxPrimitiveCount : primitives;
    if (type == D3DPT_TRIANGLEFAN) batchMax = primitives;
    if (type == D3DPT_TRIANGLESTRIP && batchMax < primitives && batchMax > 1) batchMax &= ~1u;
    u32 stride = PrimitiveStride(type);
    u32 done = 0;
    while (done < primitives) {
        u32 batch = primitives - done < batchMax ? primitives - done : batchMax;
        u32 offset = done * stride;
        HRESULT hr;
        if (!indexed) {
            hr = pD3DDevice->DrawPrimitive(type, range->nFirstVertex + offset, batch);
            ZV_REPORT("IDirect3DDevice9::DrawPrimitive() failed", hr);
        } else {
            hr = pD3DDevice->DrawIndexedPrimitive(type, 0, range->nFirstVertex, range->nNumVertices,
                                                  range->nFirstIndex + offset, batch);
            ZV_REPORT("IDirect3DDevice9::DrawIndexedPrimitive() failed", hr);
        }
        done += batch;
    }
    ++nDrawCalls;
    nPrimitives += primitives;
    return S_OK;
}

HRESULT ZVGraphics::SaveScreenshot(const String& fileName) {
    CallScope scope(this, "SaveScreenshot()");
    if (!pD3DDevice) ZV_REPORT(kNoDevice, E_FAIL);
    if (bRendering) ZV_REPORT(kRendering, E_FAIL);
    if (fileName.IsEmpty()) ZV_REPORT(kInvalid, E_INVALIDARG);

    D3DDISPLAYMODE mode;
    ZV_REPORT("-", pD3D->GetAdapterDisplayMode(nAdapter, &mode));
    IDirect3DSurface9* surface = nullptr;
    HRESULT hr = pD3DDevice->CreateOffscreenPlainSurface(mode.Width, mode.Height, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH,
                                                         &surface, nullptr);
    ZV_REPORT("IDirect3DDevice9::CreateOffscreenPlainSurface() failed", hr);

    hr = pD3DDevice->GetFrontBufferData(0, surface);
    const char* message = "IDirect3DDevice9::GetFrontBufferData() failed";
    if (hr >= 0) {
        RECT rect = {0, 0, 0, 0};
        GetClientRect(d3dpp.hDeviceWindow, &rect);
        POINT topLeft = {rect.left, rect.top}, bottomRight = {rect.right, rect.bottom};
        ClientToScreen(d3dpp.hDeviceWindow, &topLeft);
        ClientToScreen(d3dpp.hDeviceWindow, &bottomRight);
        // Only the part of the window that lies on the screen can be saved.
        rect.left = topLeft.x < 0 ? 0 : topLeft.x;
        rect.top = topLeft.y < 0 ? 0 : topLeft.y;
        rect.right = bottomRight.x > (LONG)mode.Width ? (LONG)mode.Width : bottomRight.x;
        rect.bottom = bottomRight.y > (LONG)mode.Height ? (LONG)mode.Height : bottomRight.y;
        if (rect.right <= rect.left || rect.bottom <= rect.top) {
            hr = E_FAIL;
            message = "Window outside the screen";
        } else {
            hr = D3DXSaveSurfaceToFileA(fileName.c_str(), D3DXIFF_BMP, surface, nullptr, &rect);
            message = "D3DXSaveSurfaceToFile() failed";
        }
    }
    surface->Release();
    ZV_REPORT(message, hr);
    return S_OK;
}

// Renders every geometry of the list that is (or is not) a visible model.
HRESULT ZVGraphics::RenderModels(bool update, float elapsed, HRESULT* failure) {
    IInternPhysics* physics = pCore ? pCore->GetPhysics() : nullptr;
    for (u32 i = 0; i < vGeometries.count; ++i) {
        IGeometry* geometry = vGeometries[i];
        if (update) {
            HRESULT hr = geometry->Update(elapsed);
            if (hr < 0) return *failure = hr;
        }
        IModel* model = dynamic_cast<IModel*>(geometry);
        IPhyEntity* entity = model ? dynamic_cast<IPhyEntity*>(model) : nullptr;
        if (!entity || !physics || !physics->EntityIsVisible(entity)) continue;
        HRESULT hr = geometry->Render();
        if (hr < 0) return *failure = hr;
    }
    return S_OK;
}

HRESULT ZVGraphics::RenderOthers(HRESULT* failure) {
    for (u32 i = 0; i < vGeometries.count; ++i) {
        if (dynamic_cast<IModel*>(vGeometries[i])) continue;
        HRESULT hr = vGeometries[i]->Render();
        if (hr < 0) return *failure = hr;
    }
    return S_OK;
}

// The states the models of every lighting path are drawn with.  Normals are
// made unit length again after the world and view transforms: a world matrix
// that scales by s (a Cal3D model's scale, the game's stretched arena) leaves
// them 1/s as long, which would light the model 1/s as brightly.  It is on for
// every draw, not only for world matrices that are not rotations: a rotated
// unit normal stays unit length, so normalising it costs a few operations per
// vertex and changes nothing, and one state for the whole frame needs no
// test of each matrix.  Set with the others in every frame, it also outlasts
// a device reset, which puts all states back to their defaults.
void ZVGraphics::SetModelStates(BOOL lit) {
    IDirect3DDevice9* d = pD3DDevice;
    d->SetRenderState(D3DRS_FILLMODE, nFillMode);
    d->SetRenderState(D3DRS_ZENABLE, TRUE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_LIGHTING, lit);
    d->SetRenderState(D3DRS_SPECULARENABLE, lit);
    d->SetRenderState(D3DRS_AMBIENT, 0xFF505050);
    d->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
}

HRESULT ZVGraphics::RenderStencilPasses(float elapsed, HRESULT* failure) {
    IDirect3DDevice9* d = pD3DDevice;
    SetModelStates(TRUE);
    d->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    // Ambient pass: every light gives only its ambient colour.
    for (u32 i = 0; i < MAXACTIVELIGHTS; ++i) {
        if (!lights[i].bActive) continue;
        D3DLIGHT9 ambient = ToD3DLight(lights[i].light);
        ambient.Diffuse = ambient.Specular = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 0.0f};
        d->LightEnable(lights[i].id, TRUE);
        d->SetLight(lights[i].id, &ambient);
    }
    if (RenderModels(true, elapsed, failure) < 0) return *failure;

    // One additive pass per light where its stencil count is still 0.
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    HRESULT hr = d->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    if (hr < 0) return *failure = hr;
    d->SetRenderState(D3DRS_STENCILREF, 0);
    d->SetRenderState(D3DRS_STENCILMASK, 0xFFFFFFFF);
    d->SetRenderState(D3DRS_STENCILWRITEMASK, 0xFFFFFFFF);
    d->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
    d->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
    d->LightEnable(0, TRUE);
    for (u32 i = 0; i < MAXACTIVELIGHTS; ++i) {
        if (!lights[i].bActive) continue;
        D3DLIGHT9 full = ToD3DLight(lights[i].light);
        d->SetLight(0, &full);
        hr = d->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0);
        if (hr < 0) return *failure = hr;
        d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
        if (!(nShadowDebug & 1u)) d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
        for (u32 g = 0; g < vGeometries.count; ++g) {
            IModel* model = dynamic_cast<IModel*>(vGeometries[g]);
            IPhyEntity* entity = model ? dynamic_cast<IPhyEntity*>(model) : nullptr;
            IInternPhysics* physics = pCore ? pCore->GetPhysics() : nullptr;
            if (!entity || !physics || !physics->ShadVolIsVisible(lights[i].light.Position, entity)) continue;
            hr = GenAndRenderShadVol(&lights[i], model);
            if (hr < 0) return *failure = hr;
        }
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
        d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
        // The volumes leave their last cull mode behind; the lit pass draws
        // as the ambient pass did, whether or not a volume was drawn.
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        if (RenderModels(false, elapsed, failure) < 0) return *failure;
    }
    d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    hr = d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    if (hr < 0) return *failure = hr;
    return RenderOthers(failure);
}

HRESULT ZVGraphics::RenderSimplePasses(float elapsed, HRESULT* failure) {
    IDirect3DDevice9* d = pD3DDevice;
    BOOL lit = nLightningPath == SimpleLighting;
    SetModelStates(lit);
    if (lit) {
        for (u32 i = 0; i < MAXACTIVELIGHTS; ++i) {
            if (!lights[i].bActive) continue;
            D3DLIGHT9 light = ToD3DLight(lights[i].light);
            d->LightEnable(lights[i].id, TRUE);
            d->SetLight(lights[i].id, &light);
        }
    }
    if (RenderModels(true, elapsed, failure) < 0) return *failure;
    d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    return RenderOthers(failure);
}

HRESULT ZVGraphics::UpdateAndRender(float elapsedSeconds) {
    CallScope scope(this, "UpdateAndRender()");
    if (elapsedSeconds < 0.0f) ZV_REPORT(kInvalid, E_INVALIDARG);
    if (!pD3DDevice || bRendering) return S_FALSE;

    // While the device is lost nothing can be drawn, nor can it be reset: a
    // pending mode change waits for the frame that finds it ready.
    HRESULT hr = pD3DDevice->TestCooperativeLevel();
    if (hr == D3DERR_DEVICELOST) {
        scope.WriteLog(ZVLOG_WARNING, "Device Lost", kSource, __LINE__);
        return S_FALSE;
    }
    if (hr == D3DERR_DEVICENOTRESET) {
        scope.WriteLog(ZVLOG_WARNING, "Device To Reset", kSource, __LINE__);
        ZV_REPORT("-", UpdateScreenMode());
    } else if (bModeChangePending) {
        ZV_REPORT("-", UpdateScreenMode());
    }
    if (!pCore || !pCore->GetPhysics()) ZV_REPORT("The Physics Engine is required", E_FAIL);

    bRendering = true;
    nDrawCalls = nPrimitives = 0;
    HRESULT failure = S_OK;
    bool began = false;
    hr = pD3DDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000033, 1.0f, 0);
    if (hr >= 0) hr = pD3DDevice->BeginScene();
    if (hr < 0) {
        failure = hr;
    } else {
        began = true;
        if (nLightningPath == StencilShadow) {
            RenderStencilPasses(elapsedSeconds, &failure);
        } else {
            RenderSimplePasses(elapsedSeconds, &failure);
        }
    }
    bool lost = false;
    if (began) {
        pD3DDevice->EndScene();
        if (failure >= 0) {
            hr = pD3DDevice->Present(nullptr, nullptr, nullptr, nullptr);
            // A device lost while presenting is not a drawing failure: the
            // next frame sees it and resets the device.
            if (hr == D3DERR_DEVICELOST) {
                lost = true;
            } else if (hr < 0) {
                failure = hr;
            }
        }
    }
    bRendering = false;
    bFirstFrame = false;
    if (failure < 0) return scope.ReportFailure("Rendering failed", kSource, __LINE__, failure);
    if (lost) {
        scope.WriteLog(ZVLOG_WARNING, "Device Lost", kSource, __LINE__);
        return S_FALSE;
    }
    return S_OK;
}
