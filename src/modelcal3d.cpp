// ModelCal3D: animation blending, skeleton posing and CPU skinning of a
// Cal3D model instance.

#include "modelcal3d.h"

#include <cmath>
#include <cstring>

namespace {

const char* const kSource = "modelcal3d";
const char* const kInvalid = "Invalid Call/Param";

// The skinning transform of one bone as a 3 x 4 matrix: rows are the
// rotated axes, t the translation (p' = R p + t), taking a point of the
// file's axes to the engine's (see BuildSkinMatrix).
struct SkinMatrix {
    float r[3][3];
    float t[3];
};

// One per bone, like ModelCal3D::s_vAnimatedBones; filled and used within
// one Update.
Vector<SkinMatrix> s_vSkinMatrices;

double Dot(const Quaternion& a, const Quaternion& b) {
    return (double)a.x * b.x + (double)a.y * b.y + (double)a.z * b.z + (double)a.w * b.w;
}

// a + (b - a) * t, with b negated first when the two lie on opposite
// hemispheres (they stand for the same rotation, and a straight lerp would
// pass near zero and shrink the mesh to a point).
void LerpRotation(Quaternion* out, const Quaternion& a, const Quaternion& b, float t) {
    if (Dot(a, b) < 0.0) {
        Quaternion nb(-b.x, -b.y, -b.z, -b.w);
        out->Lerp(a, nb, t);
    } else {
        out->Lerp(a, b, t);
    }
}

// The matrix of the turn that Vector3::operator*=(const Quaternion&) applies
// (conj(q) v q, Hamilton products), for any length of q: a quaternion that
// is not of unit length scales by its squared length, as the product does.
// The bones are posed in the file's axes; the rows and the translation are
// stored in the engine's order (ModelCal3DMeta::EngineAxisFromFile), so that
// a skinned point lands in the engine's axes at no cost per vertex.
void BuildSkinMatrix(SkinMatrix* m, const Quaternion& q, const Vector3& t) {
    double x = q.x, y = q.y, z = q.z, w = q.w;
    double xx = x * x, yy = y * y, zz = z * z, ww = w * w;
    const float fileRows[3][3] = {
        {(float)(ww + xx - yy - zz), (float)(2.0 * (x * y + w * z)), (float)(2.0 * (x * z - w * y))},
        {(float)(2.0 * (x * y - w * z)), (float)(ww - xx + yy - zz), (float)(2.0 * (y * z + w * x))},
        {(float)(2.0 * (x * z + w * y)), (float)(2.0 * (y * z - w * x)), (float)(ww - xx - yy + zz)}};
    for (int e = 0; e < 3; ++e)
        std::memcpy(m->r[e], fileRows[ModelCal3DMeta::EngineAxisFromFile[e]], sizeof(m->r[e]));
    const Vector3 translation = ModelCal3DMeta::ToEngineAxes(t);
    m->t[0] = translation.x;
    m->t[1] = translation.y;
    m->t[2] = translation.z;
}

// A track's pose at time t: before or at its first key the first key's,
// after its last key the last key's, otherwise the interpolation between
// the two keys around t.
void SampleTrack(const ModelCal3DMeta::Animation::KeyFrame* keys, u32 n, double t, Vector3* translation,
                 Quaternion* rotation) {
    u32 at = 0;
    while (at < n && !((double)keys[at].fTime >= t)) ++at;
    if (at == 0) {
        *translation = keys[0].vTranslation;
        *rotation = keys[0].qRotation;
    } else if (at == n) {
        *translation = keys[n - 1].vTranslation;
        *rotation = keys[n - 1].qRotation;
    } else {
        const ModelCal3DMeta::Animation::KeyFrame& a = keys[at - 1];
        const ModelCal3DMeta::Animation::KeyFrame& b = keys[at];
        float f = (float)((t - a.fTime) / ((double)b.fTime - a.fTime));
        translation->Lerp(a.vTranslation, b.vTranslation, f);
        LerpRotation(rotation, a.qRotation, b.qRotation, f);
    }
}

// Adds one sample of weight to the bone's pose of this frame: the first
// sample is taken as it is, each later one blended in so that the pose is
// the weighted average of all the frame's samples.
void BlendIntoBone(ModelCal3D::AnimatedBone* bone, const Vector3& translation, const Quaternion& rotation,
                   float weight) {
    if (bone->fWeight == 0.0f) {
        bone->vTranslation = translation;
        bone->qRotation = rotation;
        bone->fWeight = weight;
        return;
    }
    bone->fWeight += weight;
    float f = weight / bone->fWeight;
    Vector3 blended;
    blended.Lerp(bone->vTranslation, translation, f);
    bone->vTranslation = blended;
    Quaternion mixed;
    LerpRotation(&mixed, bone->qRotation, rotation, f);
    bone->qRotation = mixed;
}

u32 FillPlugIn(PlugIn* blank) { return ModelCal3D::GetPlugInInfos(blank); }

PlugInRegistrar g_registrar(ZVPLUGIN_GEOMETRY, FillPlugIn);

}  // namespace

Vector<ModelCal3D::AnimatedBone> ModelCal3D::s_vAnimatedBones;

ModelCal3D::ModelCal3D() : pVB(nullptr), vMin(0, 0, 0), vMax(0, 0, 0) {}

// The Meta, the instance's vertex buffer, then the graphics manager; the
// animation lists go last, with the members.
ModelCal3D::~ModelCal3D() { ReleaseInstance(&pVB); }

HRESULT ModelCal3D::Init(const String& command, IGraphics* graphics) {
    CallScope scope(this, "Init()");
    HRESULT hr = CreateMeta(scope, graphics);
    if (hr < 0) return hr;
    if (scope.ReportFailure("-", kSource, __LINE__, pMeta->Load(command, graphics)) < 0) return ZVE_SUBFUNCTION;
    matWorld = pMeta->matBase;

    // The scratch arrays hold the largest skeleton created so far.
    u32 numBones = pMeta->vBones.count;
    if (scope.ReportFailure("-", kSource, __LINE__, s_vAnimatedBones.Reserve(numBones, true)) < 0 ||
        scope.ReportFailure("-", kSource, __LINE__, s_vSkinMatrices.Reserve(numBones, true)) < 0)
        return ZVE_SUBFUNCTION;

    hr = graphics->CreateVB(VertexFormat, pMeta->vVertices.count, true, &pVB);
    if (hr < 0) pVB = nullptr;
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;

    // The rest pose, so that the buffer and the box are right before the
    // first frame.
    if (scope.ReportFailure("-", kSource, __LINE__, Update(0.0f)) < 0) return ZVE_SUBFUNCTION;
    pGraphics = graphics;
    return S_OK;
}

HRESULT ModelCal3D::CheckCloneSource(CallScope& scope) {
    if (!pMeta || !pGraphics) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    return S_OK;
}

HRESULT ModelCal3D::PrepareClone(ModelCal3D* clone) {
    HRESULT hr = pGraphics->CreateVB(VertexFormat, pMeta->vVertices.count, true, &clone->pVB);
    if (hr < 0) clone->pVB = nullptr;
    return hr;
}

HRESULT ModelCal3D::AddAnimation(const String& name, float weight) {
    if (!pMeta) return E_FAIL;
    for (u32 i = 0; i < pMeta->vAnimationNames.count; ++i) {
        if (pMeta->vAnimationNames.data[i] == name) return AddAnimation(i, weight);
    }
    return E_FAIL;
}

HRESULT ModelCal3D::AddAnimation(u32 id, float weight) {
    CallScope scope(this, "AddAnimation(id)");
    if (!pMeta || id >= pMeta->vAnimations.count) {
        scope.ReportFailure("Too big id of Anim", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!(weight > 0.0f)) {
        scope.ReportFailure("Null or Negative Weight", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!std::isfinite(weight)) {
        scope.ReportFailure("Infinite Weight", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    AnimInfos infos;
    infos.nAnimation = id;
    infos.fTimeLeft = pMeta->vAnimations.data[id].fDuration;
    infos.fWeight = weight;
    infos.fNormWeight = 0.0f;
    for (u32 i = 0; i < vAnimInfos.count; ++i) {
        if (vAnimInfos.data[i].nAnimation != id) continue;
        // Playing already: a request to restart it when it runs out.
        for (u32 p = 0; p < vPendingAnimInfos.count; ++p) {
            if (vPendingAnimInfos.data[p].nAnimation == id) return S_FALSE;
        }
        if (vPendingAnimInfos.Add(infos) < 0) return E_OUTOFMEMORY;
        return S_FALSE;
    }
    return vAnimInfos.Add(infos);
}

u32 ModelCal3D::GetNumAnimations() { return pMeta ? pMeta->vAnimations.count : 0; }

String ModelCal3D::GetAnimationName(u32 id) {
    if (!pMeta || id >= pMeta->vAnimationNames.count) return String();
    return pMeta->vAnimationNames.data[id];
}

bool ModelCal3D::IsAnimationPlaying(u32 id) {
    if (!pMeta || id >= pMeta->vAnimations.count) return false;
    for (u32 i = 0; i < vAnimInfos.count; ++i) {
        if (vAnimInfos.data[i].nAnimation == id) return true;
    }
    return false;
}

HRESULT ModelCal3D::GetBuffers(GeometryBuffers* out) {
    if (!out) return E_FAIL;
    out->pVB = pVB;
    out->pIB = pMeta ? pMeta->pIB : nullptr;
    out->nReserved = 0;
    return S_OK;
}

void ModelCal3D::GetBoundingBox(Vector3* min, Vector3* max) {
    if (min) *min = vMin;
    if (max) *max = vMax;
}

void ModelCal3D::UpdateBoneHierarchy() {
    const Vector<ModelCal3DMeta::Bone>& bones = pMeta->vBones;
    const Vector<u32>& order = pMeta->vBoneOrder;
    for (u32 i = 0; i < order.count; ++i) {
        u32 b = order.data[i];
        const ModelCal3DMeta::Bone& rest = bones.data[b];
        AnimatedBone& bone = s_vAnimatedBones.data[b];
        Vector3 translation = bone.fWeight != 0.0f ? bone.vTranslation : rest.vTranslation;
        Quaternion rotation = bone.fWeight != 0.0f ? bone.qRotation : rest.qRotation;
        if (rest.nParent < 0) {
            bone.vTranslation = translation;
            bone.qRotation = rotation;
        } else {
            // The parent comes earlier in the order: it is posed already.
            const AnimatedBone& parent = s_vAnimatedBones.data[rest.nParent];
            translation *= parent.qRotation;
            bone.vTranslation = translation + parent.vTranslation;
            bone.qRotation = parent.qRotation * rotation;
        }
        Vector3 skin = rest.vTranslationBoneSpace;
        skin *= bone.qRotation;
        bone.vSkinTranslation = skin + bone.vTranslation;
        bone.qSkinRotation = bone.qRotation * rest.qRotationBoneSpace;
        BuildSkinMatrix(&s_vSkinMatrices.data[b], bone.qSkinRotation, bone.vSkinTranslation);
    }
}

void ModelCal3D::AdvanceAnimations(float elapsed) {
    const Vector<ModelCal3DMeta::Animation>& animations = pMeta->vAnimations;
    for (u32 i = 0; i < vAnimInfos.count;) {
        AnimInfos& infos = vAnimInfos.data[i];
        infos.fTimeLeft -= elapsed;
        if (infos.fTimeLeft > 0.0f) {
            ++i;
            continue;
        }
        const AnimInfos* request = nullptr;
        for (u32 p = 0; p < vPendingAnimInfos.count && !request; ++p) {
            if (vPendingAnimInfos.data[p].nAnimation == infos.nAnimation) request = &vPendingAnimInfos.data[p];
        }
        if (request) {
            infos.fWeight = request->fWeight;
            infos.fTimeLeft = animations.data[infos.nAnimation].fDuration;
            ++i;
        } else {
            vAnimInfos.Remove(i);
        }
    }
    // A request lives for one Update only.
    vPendingAnimInfos = Vector<AnimInfos>();
}

void ModelCal3D::NormaliseWeights() {
    double sum = 0.0;
    for (u32 i = 0; i < vAnimInfos.count; ++i) sum += vAnimInfos.data[i].fWeight;
    for (u32 i = 0; i < vAnimInfos.count; ++i) {
        AnimInfos& infos = vAnimInfos.data[i];
        infos.fNormWeight = sum > 0.0 ? (float)(infos.fWeight / sum) : infos.fWeight;
    }
}

void ModelCal3D::BlendAnimations() {
    for (u32 b = 0; b < s_vAnimatedBones.count; ++b) s_vAnimatedBones.data[b].fWeight = 0.0f;
    const Vector<ModelCal3DMeta::Animation>& animations = pMeta->vAnimations;
    for (u32 i = 0; i < vAnimInfos.count; ++i) {
        const AnimInfos& infos = vAnimInfos.data[i];
        const ModelCal3DMeta::Animation& animation = animations.data[infos.nAnimation];
        double t = (double)animation.fDuration - infos.fTimeLeft;
        for (u32 k = 0; k < animation.vTracks.count; ++k) {
            const ModelCal3DMeta::Animation::Track& track = animation.vTracks.data[k];
            Vector3 translation;
            Quaternion rotation;
            SampleTrack(animation.vKeyFrames.data + track.nFirstKeyFrame, track.nNumKeyFrames, t, &translation,
                        &rotation);
            BlendIntoBone(&s_vAnimatedBones.data[track.nBone], translation, rotation, infos.fNormWeight);
        }
    }
}

HRESULT ModelCal3D::SkinVertices(CallScope& scope) {
    vMin = Vector3(1e38f, 1e38f, 1e38f);
    vMax = Vector3(-1e38f, -1e38f, -1e38f);
    void* locked = nullptr;
    Vector3* positions = nullptr;
    if (scope.ReportFailure("-", kSource, __LINE__, pVB->Lock(&locked, &positions)) < 0) return ZVE_SUBFUNCTION;
    u32 numVertices = pVB->GetNumVertices();
    if (numVertices > pMeta->vVertices.count) numVertices = pMeta->vVertices.count;
    SkinnedVertex* out = static_cast<SkinnedVertex*>(locked);
    const ModelCal3DMeta::Vertex* vertices = pMeta->vVertices.data;
    const ModelCal3DMeta::Influence* influences = pMeta->vInfluences.data;
    const SkinMatrix* matrices = s_vSkinMatrices.data;
    float boxMin[3] = {1e38f, 1e38f, 1e38f};
    float boxMax[3] = {-1e38f, -1e38f, -1e38f};
    for (u32 i = 0; i < numVertices; ++i) {
        const ModelCal3DMeta::Vertex& vertex = vertices[i];
        const float px = vertex.vPos.x, py = vertex.vPos.y, pz = vertex.vPos.z;
        const float nx = vertex.vNormal.x, ny = vertex.vNormal.y, nz = vertex.vNormal.z;
        float p[3] = {0.0f, 0.0f, 0.0f};
        float n[3] = {0.0f, 0.0f, 0.0f};
        const ModelCal3DMeta::Influence* influence = influences + vertex.nFirstInfluence;
        for (u32 k = 0; k < vertex.nNumInfluences; ++k, ++influence) {
            const SkinMatrix& m = matrices[influence->nBone];
            const float w = influence->fWeight;
            for (int c = 0; c < 3; ++c) {
                p[c] += (m.r[c][0] * px + m.r[c][1] * py + m.r[c][2] * pz + m.t[c]) * w;
                n[c] += (m.r[c][0] * nx + m.r[c][1] * ny + m.r[c][2] * nz) * w;
            }
        }
        SkinnedVertex& target = out[i];
        target.x = p[0];
        target.y = p[1];
        target.z = p[2];
        float lengthSq = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        if (lengthSq > 0.0f) {
            float r = 1.0f / std::sqrt(lengthSq);
            n[0] *= r;
            n[1] *= r;
            n[2] *= r;
        }
        target.nx = n[0];
        target.ny = n[1];
        target.nz = n[2];
        target.u = vertex.fU;
        target.v = vertex.fV;
        if (positions) {
            positions[i].x = p[0];
            positions[i].y = p[1];
            positions[i].z = p[2];
        }
        for (int c = 0; c < 3; ++c) {
            if (p[c] < boxMin[c]) boxMin[c] = p[c];
            if (p[c] > boxMax[c]) boxMax[c] = p[c];
        }
    }
    vMin = Vector3(boxMin[0], boxMin[1], boxMin[2]);
    vMax = Vector3(boxMax[0], boxMax[1], boxMax[2]);
    if (scope.ReportFailure("-", kSource, __LINE__, pVB->Unlock()) < 0) return ZVE_SUBFUNCTION;
    return S_OK;
}

HRESULT ModelCal3D::Update(float elapsed) {
    CallScope scope(this, "Update()");
    if (!pMeta || !pVB) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    // A broken clock must not stop the animations for good.
    if (!std::isfinite(elapsed)) elapsed = 0.0f;
    AdvanceAnimations(elapsed);
    NormaliseWeights();
    BlendAnimations();
    UpdateBoneHierarchy();
    return SkinVertices(scope);
}

HRESULT ModelCal3D::Render() {
    CallScope scope(this, "Render()");
    if (!pMeta || !pVB || !pMeta->pIB || !pGraphics) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (scope.ReportFailure("-", kSource, __LINE__, pVB->Active(0)) < 0) return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, pMeta->pIB->Active()) < 0) return ZVE_SUBFUNCTION;
    for (u32 m = 0; m < pMeta->vMatInfos.count; ++m) {
        const ModelCal3DMeta::MatInfos& infos = pMeta->vMatInfos.data[m];
        if (infos.drawInfos.nNumIndices == 0) continue;
        pGraphics->SetMaterial(&infos.material);
        ITexture* texture = m < pMeta->vTextures.count ? pMeta->vTextures.data[m] : nullptr;
        if (!texture) {
            pGraphics->DesactiveTexture(0);
        } else if (scope.ReportFailure("-", kSource, __LINE__, texture->Active(0)) < 0) {
            return ZVE_SUBFUNCTION;
        }
        if (scope.ReportFailure("-", kSource, __LINE__,
                                pGraphics->Draw(D3DPT_TRIANGLELIST, &matWorld, &infos.drawInfos, true)) < 0)
            return ZVE_SUBFUNCTION;
    }
    return S_OK;
}
