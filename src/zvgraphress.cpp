// The graphics manager's GPU resources (vertex buffers, index buffers,
// textures) and its geometry registry.
#include <cstring>
#include <new>

#include "zvd3dx9tex.h"
#include "zvgraphicsd3d9.h"
#include "zvkernel.h"

namespace {

const char* const kSource = "zvgraphress";
const char* const kNoDevice = "Device not created; call SetScreenMode() before";
// A resource whose Direct3D object was released by a reset that has not
// been completed yet.
const char* const kObjectLost = "Direct3D object lost with the device; waiting for a reset";

void WarnLimit(CallScope& scope, bool firstFrame, const char* what, u32 n, const char* limitName, u32 limit,
               u32 line) {
    if (!firstFrame) return;
    String message(what);
    message += n;
    message += "], but ";
    message += limitName;
    message += "=";
    message += limit;
    scope.WriteLog(ZVLOG_WARNING, message, kSource, line);
}

// The warning for a texture file that exists but that the loader refused
// (empty, damaged, too large, not a regular file), with the loader's reason.
// Nothing for a missing file.
void WarnRefusedFile(CallScope& scope, const String& fileName) {
    const char* reason = ZVD3DXLastTextureFileError();
    if (!*reason || GetFileAttributesA(fileName.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    scope.WriteLog(ZVLOG_WARNING, String("Cannot use the texture file ") + reason, kSource, __LINE__);
}

// Releases a resource's Direct3D object, first forgetting it as the device's
// current one.
template <class D3DObject, class LastObject>
void ReleaseD3DObject(D3DObject* object, LastObject*& last) {
    if (!object) return;
    if (last == object) last = nullptr;
    object->Release();
}

// The Unlock() of a vertex or an index buffer.
template <class D3DBuffer>
HRESULT UnlockD3DBuffer(CallScope& scope, D3DBuffer* buffer) {
    if (!buffer) {
        scope.ReportFailure(kObjectLost, kSource, __LINE__, D3DERR_DEVICELOST);
        return ZVE_SUBFUNCTION;
    }
    HRESULT hr = buffer->Unlock();
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    return S_OK;
}

}  // namespace

template <class Resource>
u32 ZVGraphics::ReleaseResource(Resource* resource, u32& refCount) {
    if (refCount <= 1) {
        delete resource;
        return 0;
    }
    return --refCount;
}

template <class Resource, class Interface>
HRESULT ZVGraphics::ListNewResource(CallScope& scope, Vector<Resource*>& list, Resource* resource, Interface** out) {
    if (list.Add(resource) < 0) {
        delete resource;
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    resource->AddRef();
    *out = resource;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Vertex buffers

ZVGraphics::VB::VB(ZVGraphics* owner)
    : nRef(0),
      bDynamic(false),
      nFVF(0),
      nStride(1),
      nVertices(0),
      pPositions(nullptr),
      pGraphics(owner),
      pD3DVB(nullptr) {}

ZVGraphics::VB::~VB() {
    delete[] pPositions;
    ReleaseD3DObject(pD3DVB, pGraphics->pLastVB);
    pGraphics->vVBs.Remove(this);
}

u32 ZVGraphics::VB::AddRef() { return ++nRef; }

u32 ZVGraphics::VB::Release() { return ReleaseResource(this, nRef); }

const String& ZVGraphics::VB::GetName() {
    static String name("VB");
    return name;
}

HRESULT ZVGraphics::VB::Active(u32 stream) {
    CallScope scope(this, "Active()");
    if (stream != 0 && nFVF != 0) {
        scope.ReportFailure("Multi-Stream use in FixedPipeline", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    const u32 maxStreams = pGraphics->d3dCaps.MaxStreams;
    if (stream >= maxStreams) {
        WarnLimit(scope, pGraphics->bFirstFrame, "Use Stream[", stream, "MaxStreams", maxStreams, __LINE__);
        return E_INVALIDARG;
    }
    if (!pD3DVB || !pGraphics->pD3DDevice) {
        scope.ReportFailure(kObjectLost, kSource, __LINE__, D3DERR_DEVICELOST);
        return ZVE_SUBFUNCTION;
    }
    if (pD3DVB == pGraphics->pLastVB) return S_FALSE;
    IDirect3DDevice9* device = pGraphics->pD3DDevice;
    device->SetFVF(nFVF);
    HRESULT hr = device->SetStreamSource(stream, pD3DVB, 0, nStride);
    if (scope.ReportFailure("IDirect3DDevice9::SetStreamSource() failed", kSource, __LINE__, hr) < 0)
        return ZVE_SUBFUNCTION;
    pGraphics->pLastVB = pD3DVB;
    return S_OK;
}

HRESULT ZVGraphics::VB::Lock(void** data, Vector3** positions) {
    CallScope scope(this, "Lock()");
    if (!data) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (!pD3DVB) {
        scope.ReportFailure(kObjectLost, kSource, __LINE__, D3DERR_DEVICELOST);
        return ZVE_SUBFUNCTION;
    }
    HRESULT hr = pD3DVB->Lock(0, nVertices * nStride, data, bDynamic ? D3DLOCK_DISCARD : 0);
    if (scope.ReportFailure("IDirect3DVertexBuffer9::Lock() failed", kSource, __LINE__, hr) < 0)
        return ZVE_SUBFUNCTION;
    if (positions) *positions = pPositions;
    return S_OK;
}

HRESULT ZVGraphics::VB::Unlock() {
    CallScope scope(this, "Unlock()");
    return UnlockD3DBuffer(scope, pD3DVB);
}

// ---------------------------------------------------------------------------
// Index buffers

ZVGraphics::IB::IB(ZVGraphics* owner)
    : nRef(0),
      bDynamic(false),
      pIndices(nullptr),
      pFaceFlags(nullptr),
      nIndices(0),
      pGraphics(owner),
      pD3DIB(nullptr) {}

ZVGraphics::IB::~IB() {
    delete[] pIndices;
    delete[] pFaceFlags;
    ReleaseD3DObject(pD3DIB, pGraphics->pLastIB);
    pGraphics->vIBs.Remove(this);
}

u32 ZVGraphics::IB::AddRef() { return ++nRef; }

u32 ZVGraphics::IB::Release() { return ReleaseResource(this, nRef); }

const String& ZVGraphics::IB::GetName() {
    static String name("IB");
    return name;
}

HRESULT ZVGraphics::IB::Active() {
    CallScope scope(this, "Active()");
    if (!pD3DIB || !pGraphics->pD3DDevice) {
        scope.ReportFailure(kObjectLost, kSource, __LINE__, D3DERR_DEVICELOST);
        return ZVE_SUBFUNCTION;
    }
    if (pD3DIB == pGraphics->pLastIB) return S_FALSE;
    HRESULT hr = pGraphics->pD3DDevice->SetIndices(pD3DIB);
    if (scope.ReportFailure("IDirect3DDevice9::SetIndices() failed", kSource, __LINE__, hr) < 0)
        return ZVE_SUBFUNCTION;
    pGraphics->pLastIB = pD3DIB;
    return S_OK;
}

HRESULT ZVGraphics::IB::Lock(u16** data, u16** systemCopy) {
    CallScope scope(this, "Lock()");
    if (!data || !systemCopy) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (!pD3DIB) {
        scope.ReportFailure(kObjectLost, kSource, __LINE__, D3DERR_DEVICELOST);
        return ZVE_SUBFUNCTION;
    }
    void* locked = nullptr;
    HRESULT hr = pD3DIB->Lock(0, 2 * nIndices, &locked, bDynamic ? D3DLOCK_DISCARD : 0);
    if (scope.ReportFailure("IDirect3DIndexBuffer9::Lock() failed", kSource, __LINE__, hr) < 0)
        return ZVE_SUBFUNCTION;
    *data = static_cast<u16*>(locked);
    *systemCopy = pIndices;
    return S_OK;
}

HRESULT ZVGraphics::IB::Unlock() {
    CallScope scope(this, "Unlock()");
    if (UnlockD3DBuffer(scope, pD3DIB) < 0) return ZVE_SUBFUNCTION;
    // The edge list for the stencil shadows follows the new indices.
    pGraphics->GenConnectivityInfos(this);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Textures

ZVGraphics::Texture::Texture(ZVGraphics* owner) : nRef(0), pGraphics(owner), pD3DTexture(nullptr) {}

ZVGraphics::Texture::~Texture() {
    ReleaseD3DObject(pD3DTexture, pGraphics->pLastTexture);
    pGraphics->vTextures.Remove(this);
}

u32 ZVGraphics::Texture::AddRef() { return ++nRef; }

u32 ZVGraphics::Texture::Release() { return ReleaseResource(this, nRef); }

const String& ZVGraphics::Texture::GetName() {
    static String name("Texture");
    return name;
}

HRESULT ZVGraphics::Texture::Active(u32 stage) {
    CallScope scope(this, "Active()");
    const u32 maxStages = pGraphics->d3dCaps.MaxSimultaneousTextures;
    if (stage >= maxStages) {
        WarnLimit(scope, pGraphics->bFirstFrame, "Use TextureStage[", stage, "MaxSimultaneousTextures", maxStages,
                  __LINE__);
        return E_INVALIDARG;
    }
    if (!pD3DTexture || !pGraphics->pD3DDevice) {
        scope.ReportFailure(kObjectLost, kSource, __LINE__, D3DERR_DEVICELOST);
        return ZVE_SUBFUNCTION;
    }
    if (pD3DTexture == pGraphics->pLastTexture) return S_FALSE;
    HRESULT hr = pGraphics->pD3DDevice->SetTexture(stage, pD3DTexture);
    if (scope.ReportFailure("IDirect3DDevice9::SetTexture() failed", kSource, __LINE__, hr) < 0)
        return ZVE_SUBFUNCTION;
    pGraphics->pLastTexture = pD3DTexture;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Manager operations on resources

HRESULT ZVGraphics::CreateVB(u32 fvf, u32 vertexCount, bool dynamic, IVertexBuffer** out) {
    CallScope scope(this, "CreateVB()");
    if (!pD3DDevice) {
        scope.ReportFailure(kNoDevice, kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!out) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    VB* vb = new (std::nothrow) VB(this);
    if (!vb) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    vb->bDynamic = dynamic;
    vb->nFVF = fvf;
    vb->nStride = fvf ? D3DXGetFVFVertexSize(fvf) : 1;
    vb->nVertices = vertexCount;
    // The byte length must fit the device's 32-bit sizes.
    const u64 length = (u64)vb->nStride * vertexCount;
    if (length > 0xFFFFFFFFull) {
        delete vb;
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    vb->pPositions = new (std::nothrow) Vector3[vertexCount];
    if (!vb->pPositions) {
        delete vb;
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    HRESULT hr = pD3DDevice->CreateVertexBuffer((UINT)length, dynamic ? D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY
                                                                      : D3DUSAGE_WRITEONLY,
                                                fvf, dynamic ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED, &vb->pD3DVB,
                                                nullptr);
    if (hr < 0) vb->pD3DVB = nullptr;
    if (scope.ReportFailure("IDirect3DDevice9::CreateVertexBuffer() failed", kSource, __LINE__, hr) < 0) {
        delete vb;
        return ZVE_SUBFUNCTION;
    }

    // The shared shadow-volume buffer holds six vertices per vertex of the
    // largest buffer made so far.
    if (out != &pShadowVB) {
        const u64 needed = 6ull * vertexCount;
        if (!pShadowVB || (u64)pShadowVB->GetNumVertices() < needed) {
            if (pShadowVB) {
                pShadowVB->Release();
                pShadowVB = nullptr;
            }
            hr = needed > 0xFFFFFFFFull ? E_INVALIDARG : CreateVB(D3DFVF_XYZ, (u32)needed, true, &pShadowVB);
            if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) {
                delete vb;
                return ZVE_SUBFUNCTION;
            }
        }
    }

    return ListNewResource(scope, vVBs, vb, out);
}

HRESULT ZVGraphics::CreateIB(u32 indexCount, bool dynamic, IIndexBuffer** out) {
    CallScope scope(this, "CreateIB()");
    if (!pD3DDevice) {
        scope.ReportFailure(kNoDevice, kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!out) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (indexCount > 0x7FFFFFFFu) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    IB* ib = new (std::nothrow) IB(this);
    if (!ib) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    ib->bDynamic = dynamic;
    ib->nIndices = indexCount;
    ib->pIndices = new (std::nothrow) u16[indexCount];
    ib->pFaceFlags = new (std::nothrow) u8[indexCount / 3];
    if (!ib->pIndices || !ib->pFaceFlags) {
        delete ib;
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    std::memset(ib->pIndices, 0, 2 * (size_t)indexCount);
    std::memset(ib->pFaceFlags, 0, indexCount / 3);
    HRESULT hr = pD3DDevice->CreateIndexBuffer(2 * indexCount, dynamic ? D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY
                                                                       : D3DUSAGE_WRITEONLY,
                                               D3DFMT_INDEX16, D3DPOOL_DEFAULT, &ib->pD3DIB, nullptr);
    if (hr < 0) ib->pD3DIB = nullptr;
    if (scope.ReportFailure("IDirect3DDevice9::CreateIndexBuffer() failed", kSource, __LINE__, hr) < 0) {
        delete ib;
        return ZVE_SUBFUNCTION;
    }
    return ListNewResource(scope, vIBs, ib, out);
}

HRESULT ZVGraphics::CreateTexture(const String& fileName, ITexture** out) {
    CallScope scope(this, "CreateTexture()");
    if (!pD3DDevice) {
        scope.ReportFailure(kNoDevice, kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!out) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    Texture* texture = new (std::nothrow) Texture(this);
    if (!texture) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    texture->strFileName = File::GetFullPath(fileName) + fileName;
    HRESULT hr = D3DXCreateTextureFromFileExA(pD3DDevice, texture->strFileName.c_str(), D3DX_DEFAULT, D3DX_DEFAULT,
                                              D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, D3DX_FILTER_LINEAR,
                                              D3DX_FILTER_LINEAR, 0, nullptr, nullptr, &texture->pD3DTexture);
    if (hr < 0) {
        // The callers name the file in their own report; a file that is
        // there but refused also gets the loader's reason here.
        WarnRefusedFile(scope, texture->strFileName);
        texture->pD3DTexture = nullptr;
        delete texture;
        return hr;
    }
    return ListNewResource(scope, vTextures, texture, out);
}

HRESULT ZVGraphics::DesactiveTexture(u32 stage) {
    CallScope scope(this, "DesactiveTexture()");
    if (!pD3DDevice) return S_FALSE;
    if (stage >= d3dCaps.MaxSimultaneousTextures) {
        WarnLimit(scope, bFirstFrame, "Use TextureStage[", stage, "MaxSimultaneousTextures",
                  d3dCaps.MaxSimultaneousTextures, __LINE__);
        return E_INVALIDARG;
    }
    pLastTexture = nullptr;
    return pD3DDevice->SetTexture(stage, nullptr);
}

// ---------------------------------------------------------------------------
// Geometry registry

HRESULT ZVGraphics::CreateGeometry(const String& type, const String& command, IGeometry** out) {
    CallScope scope(this, "CreateGeometry()");
    if (bRendering) {
        scope.ReportFailure("Not allowed while rendering", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!out) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    // A geometry of the same type and command shares its data.
    for (u32 i = 0; i < vGeometries.count; ++i) {
        String liveType, liveCommand;
        vGeometries[i]->GetTypeAndCommand(&liveType, &liveCommand);
        if (liveType == type && liveCommand == command) return CreateClonedGeometry(vGeometries[i], out);
    }
    for (u32 i = 0; i < PlugInGeometries.count; ++i) {
        const PlugIn& record = PlugInGeometries[i];
        if (record.type != type) continue;
        *out = nullptr;
        if (ReserveGeometrySlot(scope) < 0) return E_OUTOFMEMORY;
        GeometryFactory factory = record.AsGeometry();
        HRESULT hr = factory ? factory(type, command, this, out) : E_FAIL;
        if (scope.ReportFailure(String("Error while creating : <") + type + "> Command = <" + command + ">",
                                kSource, __LINE__, hr) < 0)
            return ZVE_SUBFUNCTION;
        if (!*out) {  // a factory that reports success must give a geometry
            scope.ReportFailure("Assertion Failed", kSource, __LINE__, E_FAIL);
            return ZVE_SUBFUNCTION;
        }
        AddRef();  // the new geometry's reference to the manager
        return vGeometries.Add(*out);  // into the slot reserved above
    }
    scope.ReportFailure(String("Unknow Type : <") + type + "> Command = <" + command + ">", kSource, __LINE__,
                        E_FAIL);
    return ZVE_SUBFUNCTION;
}

HRESULT ZVGraphics::CreateClonedGeometry(IGeometry* source, IGeometry** out) {
    CallScope scope(this, "CreateClonedGeometry()");
    if (!source || !out) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (bRendering) {
        scope.ReportFailure("Not allowed while rendering", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    *out = nullptr;
    if (ReserveGeometrySlot(scope) < 0) return E_OUTOFMEMORY;
    IInterface* clone = nullptr;
    HRESULT hr = source->Clone(&clone);
    if (scope.ReportFailure("Geometry Cloning Failed", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    IGeometry* geometry = dynamic_cast<IGeometry*>(clone);
    if (!geometry) {
        if (clone) clone->Release();
        *out = nullptr;
        scope.ReportFailure("Assertion Failed", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    *out = geometry;
    String type, command;
    geometry->GetTypeAndCommand(&type, &command);
    scope.WriteLog(ZVLOG_INFO, String("Type=<") + type + "> Command=<" + command + ">", kSource, __LINE__);
    // A kind whose Clone hands back the same object (the font) is already
    // listed: a second entry would outlive the object, which removes itself
    // only once when it is destroyed.
    for (u32 i = 0; i < vGeometries.count; ++i)
        if (vGeometries[i] == geometry) return S_OK;
    return vGeometries.Add(geometry);  // into the slot reserved above
}

// Room for one more entry is made before a geometry is: a geometry that
// could not be listed would have to be given back, and its destructor would
// then look for itself in the list in vain.
HRESULT ZVGraphics::ReserveGeometrySlot(CallScope& scope) {
    if (vGeometries.Reserve(vGeometries.count + 1, false) >= 0) return S_OK;
    scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
}

HRESULT ZVGraphics::RemoveGeometry(IGeometry* geometry) {
    CallScope scope(this, "RemoveGeometry()");
    if (!geometry) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (bRendering) {
        scope.ReportFailure("Not allowed while rendering", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (vGeometries.Remove(geometry) < 0) {
        scope.ReportFailure("GeometryToRemove not found", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    return S_OK;
}
