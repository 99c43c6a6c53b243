// Model3DS: the instances of a .3ds file; the file data lives in the shared
// Model3DSMeta.
#include "model3ds.h"

#include "zvplugin.h"

namespace {

const char kSource[] = "model3ds";
const char kInvalid[] = "Invalid Call/Param";

PlugInRegistrar g_registrar(ZVPLUGIN_GEOMETRY, Model3DS::GetPlugInInfos);

}  // namespace

// The Meta, then the graphics manager: a 3DS instance owns nothing else.
Model3DS::~Model3DS() { ReleaseInstance(nullptr); }

HRESULT Model3DS::Init(const String& command, IGraphics* graphics) {
    CallScope scope(this, "Init()");
    HRESULT hr = CreateMeta(scope, graphics);
    if (hr < 0) return hr;
    if (scope.ReportFailure("-", kSource, __LINE__, pMeta->Load3DS(command, graphics)) < 0) return ZVE_SUBFUNCTION;
    matWorld = pMeta->matWorld;
    pGraphics = graphics;
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
