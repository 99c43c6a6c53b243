// Model3DS: the instances of a .3ds file; the file data lives in the shared
// Model3DSMeta.
#include "model3ds.h"

#include <new>

#include "zvplugin.h"

namespace {

const char kSource[] = "model3ds";
const char kInvalid[] = "Invalid Call/Param";
const char kNoMemory[] = "Not Enough Memory";

PlugInRegistrar g_registrar(ZVPLUGIN_GEOMETRY, Model3DS::GetPlugInInfos);

}  // namespace

u32 Model3DS::GetPlugInInfos(PlugIn* blank) {
    blank->name = "Model3DS";
    blank->major = 0;
    blank->minor = 30;
    blank->type = "3ds";
    blank->factory = PlugIn::FromGeometry(Model3DS::Create);
    return S_OK;
}

HRESULT Model3DS::Create(const String& type, const String& command, IGraphics* graphics, IGeometry** out) {
    CallScope scope(nullptr, "Model3DS::Create()");
    if (!out) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    if (type != "3ds") {
        scope.ReportFailure("Unsupported Type", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    Model3DS* model = new (std::nothrow) Model3DS();
    if (!model) {
        scope.ReportFailure(kNoMemory, kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    *out = model;
    model->AddRef();
    HRESULT hr = model->Init(command, graphics);
    if (hr < 0) {
        // The half-made instance goes at once, with its Meta.
        model->Release();
        *out = nullptr;
        return hr;
    }
    return S_OK;
}

Model3DS::Model3DS() : nRef(0), pMeta(nullptr), pGraphics(nullptr) { matWorld.SetIdentity(); }

Model3DS::~Model3DS() {
    if (pMeta) pMeta->Release();
    pMeta = nullptr;
    if (pGraphics) {
        pGraphics->RemoveGeometry(this);
        pGraphics->Release();
    }
}

u32 Model3DS::AddRef() { return ++nRef; }

u32 Model3DS::Release() {
    if (nRef == 0) return 0;
    if (--nRef > 0) return nRef;
    delete this;
    return 0;
}

const String& Model3DS::GetName() {
    static String name("Model3DS");
    return name;
}

HRESULT Model3DS::Init(const String& command, IGraphics* graphics) {
    CallScope scope(this, "Init()");
    if (!graphics) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    pMeta = new (std::nothrow) Model3DSMeta();
    if (!pMeta) {
        scope.ReportFailure(kNoMemory, kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    if (scope.ReportFailure("-", kSource, __LINE__, pMeta->Load3DS(command, graphics)) < 0) return ZVE_SUBFUNCTION;
    matWorld = pMeta->matWorld;
    pGraphics = graphics;
    return S_OK;
}

HRESULT Model3DS::Clone(IInterface** out) {
    CallScope scope(this, "Clone()");
    if (!out) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    Model3DS* clone = new (std::nothrow) Model3DS();
    if (!clone) {
        scope.ReportFailure(kNoMemory, kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    clone->AddRef();
    if (pGraphics) pGraphics->AddRef();
    clone->pGraphics = pGraphics;
    clone->pMeta = pMeta;
    clone->matWorld = matWorld;
    if (pMeta) pMeta->AddRef();
    *out = static_cast<IModel*>(clone);
    return S_OK;
}

HRESULT Model3DS::Update(float elapsed) {
    (void)elapsed;
    return S_OK;
}

HRESULT Model3DS::Render() {
    CallScope scope(this, "Render()");
    if (!pMeta || !pGraphics || !pMeta->pVB || !pMeta->pIB) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    Model3DSMeta& meta = *pMeta;
    if (scope.ReportFailure("-", kSource, __LINE__, meta.pVB->Active(0)) < 0) return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, meta.pIB->Active()) < 0) return ZVE_SUBFUNCTION;
    for (u32 i = 0; i < meta.vMatInfos.count; ++i) {
        const Model3DSMeta::MatInfos& mat = meta.vMatInfos[i];
        if (mat.nNumIndices == 0) continue;
        pGraphics->SetMaterial(&mat.material);
        ITexture* texture = i < meta.vTextures.count ? meta.vTextures[i] : nullptr;
        if (!texture) {
            pGraphics->DesactiveTexture(0);
        } else if (scope.ReportFailure("-", kSource, __LINE__, texture->Active(0)) < 0) {
            return ZVE_SUBFUNCTION;
        }
        DrawPrimitiveInfos range = {0, meta.pVB->GetNumVertices(), mat.nFirstIndex, mat.nNumIndices};
        if (scope.ReportFailure("-", kSource, __LINE__, pGraphics->Draw(D3DPT_TRIANGLELIST, &matWorld, &range, true)) <
            0)
            return ZVE_SUBFUNCTION;
    }
    return S_OK;
}

HRESULT Model3DS::Reset() { return S_FALSE; }

HRESULT Model3DS::SendCommand(const String& command, String* parameter) {
    (void)command;
    (void)parameter;
    return E_FAIL;
}

HRESULT Model3DS::GetTypeAndCommand(String* type, String* command) {
    if (type) *type = "3ds";
    if (command) *command = pMeta ? pMeta->strFile : String("NO_FILE");
    return S_OK;
}

HRESULT Model3DS::AddAnimation(const String& name, float weight) {
    (void)name;
    (void)weight;
    return E_FAIL;
}

HRESULT Model3DS::AddAnimation(u32 id, float weight) {
    (void)id;
    (void)weight;
    return E_FAIL;
}

u32 Model3DS::GetNumAnimations() { return 0; }

String Model3DS::GetAnimationName(u32 id) {
    (void)id;
    return String();
}

bool Model3DS::IsAnimationPlaying(u32 id) {
    (void)id;
    return false;
}

HRESULT Model3DS::GetBuffers(GeometryBuffers* out) {
    if (!out) return E_FAIL;
    out->pVB = pMeta ? pMeta->pVB : nullptr;
    out->pIB = pMeta ? pMeta->pIB : nullptr;
    out->nReserved = 0;
    return S_OK;
}

void Model3DS::GetBoundingBox(Vector3* min, Vector3* max) {
    if (!pMeta) return;
    if (min) *min = pMeta->vMin;
    if (max) *max = pMeta->vMax;
}

void Model3DS::SetWorldMatrix(Matrix world) { matWorld = world; }

void Model3DS::GetWorldMatrix(Matrix* out) {
    if (out) *out = matWorld;
}
