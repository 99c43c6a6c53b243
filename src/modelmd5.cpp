// ModelMD5: an animated MD5 model instance, skinned on the CPU into its own
// dynamic vertex buffer.
#include "modelmd5.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "zvlog.h"

namespace {

const char kSource[] = "modelmd5";
const char kInvalid[] = "Invalid Call/Param";
const char kNoMemory[] = "Not Enough Memory";
// Floats per joint transform: three rows of (x, y, z, translation).
const u32 kTransformSize = 12;
static_assert(sizeof(ModelMD5::SkinnedVertex) == 32, "XYZ | NORMAL | TEX1 vertex");

PlugInRegistrar g_registrar(ZVPLUGIN_GEOMETRY, ModelMD5::GetPlugInInfos);

// The "%d" reading of a parameter text, kept inside the range of an int:
// 0 when the text holds no number.
long ReadIndex(const String& text) {
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value > INT_MAX || value < INT_MIN) return -1;
    return value;
}

}  // namespace

Vector<ModelMD5::AnimatedBone> ModelMD5::s_vAnimatedBones;
Vector<float> ModelMD5::s_vJointTransforms;

// ---------------------------------------------------------------------------
// Creation and destruction

ModelMD5::ModelMD5()
    : pVB(nullptr), nDefaultAnimation(-1), nCurrentAnimation(-1), fTimeLeft(0.0f), bStaticPose(0) {}

// The Meta, the instance's vertex buffer, then the graphics manager.
ModelMD5::~ModelMD5() { ReleaseInstance(&pVB); }

HRESULT ModelMD5::Init(const String& command, IGraphics* graphics) {
    CallScope scope(this, "Init()");
    HRESULT hr = CreateMeta(scope, graphics);
    if (hr < 0) return hr;
    if (scope.ReportFailure("-", kSource, __LINE__, pMeta->Load(command, graphics)) < 0) return ZVE_SUBFUNCTION;
    matWorld = pMeta->matWorld;
    if (scope.ReportFailure("-", kSource, __LINE__, ReserveScratch(pMeta->vBones.count)) < 0)
        return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, graphics->CreateVB(FVF, pMeta->vVertices.count, true, &pVB)) <
        0)
        return ZVE_SUBFUNCTION;
    pGraphics = graphics;
    // The bind pose's box holds from now on, before anything is skinned.
    vMin = pMeta->vBindMin;
    vMax = pMeta->vBindMax;
    StartRootWay();
    return S_OK;
}

HRESULT ModelMD5::CheckCloneSource(CallScope& scope) {
    if (!pMeta || !pGraphics) {
        scope.ReportFailure("Cannot clone a model that is not loaded", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    return S_OK;
}

HRESULT ModelMD5::PrepareClone(ModelMD5* clone) {
    // The clone shows the bind pose: its box, its root.
    clone->vMin = pMeta->vBindMin;
    clone->vMax = pMeta->vBindMax;
    clone->vRootStart = clone->vRootOffset = GetRootStart(-1);
    return pGraphics->CreateVB(FVF, pMeta->vVertices.count, true, &clone->pVB);
}

HRESULT ModelMD5::ReserveScratch(u32 joints) {
    HRESULT hr = s_vAnimatedBones.Reserve(joints, true);
    if (hr >= 0) hr = s_vJointTransforms.Reserve(joints * kTransformSize, true);
    return hr < 0 ? E_OUTOFMEMORY : S_OK;
}

// ---------------------------------------------------------------------------
// Animation

float ModelMD5::GetPlayingLength(u32 id) const {
    if (!pMeta || id >= pMeta->vAnimations.count) return 0.0f;
    const ModelMD5Meta::Animation& animation = pMeta->vAnimations.data[id];
    if (!(animation.fFrameRate > 0.0f)) return 0.0f;
    return (float)animation.vFrames.count / animation.fFrameRate;
}

void ModelMD5::PoseJoint(const ModelMD5Meta::Animation& animation, u32 j, const Vector<float>* frame,
                         AnimatedBone* pose) {
    if (j < animation.vBasePos.count) pose->vPos = animation.vBasePos.data[j];
    if (j < animation.vBaseOrient.count) pose->qOrient = animation.vBaseOrient.data[j];
    if (j < animation.vAnimBones.count) {
        const ModelMD5Meta::Animation::AnimBone& animBone = animation.vAnimBones.data[j];
        float* const targets[6] = {&pose->vPos.x, &pose->vPos.y, &pose->vPos.z,
                                   &pose->qOrient.x, &pose->qOrient.y, &pose->qOrient.z};
        u32 k = animBone.nStartIndex;
        for (u32 bit = 0; bit < 6 && frame; ++bit) {
            if (!(animBone.nFlags & (1u << bit))) continue;
            if (k < frame->count) *targets[bit] = frame->data[k];
            ++k;
        }
    }
    pose->qOrient.w = ModelMD5Meta::UnitQuaternionW(pose->qOrient.x, pose->qOrient.y, pose->qOrient.z);
}

Vector3 ModelMD5::GetRootStart(i32 id) const {
    if (!pMeta || pMeta->vRootBones.count == 0) return Vector3();
    const long root = pMeta->vRootBones.data[0];
    if (root < 0 || (u32)root >= pMeta->vBones.count) return Vector3();
    // A root's pose is in model space: its position is the root's place.
    AnimatedBone pose;
    pose.vPos = pMeta->vBones.data[root].vPos;
    if (id >= 0 && (u32)id < pMeta->vAnimations.count) {
        const ModelMD5Meta::Animation& animation = pMeta->vAnimations.data[id];
        const Vector<float>* first = animation.vFrames.count > 0 ? &animation.vFrames.data[0] : nullptr;
        // As Update poses it: the last joint of the animation that names it.
        for (u32 j = 0; j < animation.vAnimBones.count; ++j)
            if (animation.vAnimBones.data[j].nBone == (i32)root) PoseJoint(animation, j, first, &pose);
    }
    return ModelMD5Meta::ToEngineAxes(pose.vPos);
}

void ModelMD5::StartRootWay() { vRootStart = vRootOffset = GetRootStart(nCurrentAnimation); }

void ModelMD5::MoveWorldByRootDisplacement() {
    // The way is in the model's space: the world matrix turns it.
    Vector3 way = vRootOffset - vRootStart;
    Matrix turn = matWorld;
    turn._41 = turn._42 = turn._43 = 0.0f;
    way *= turn;
    // A pose built from non-finite numbers of a file must not spoil the
    // placement for good.
    if (!std::isfinite(way.x) || !std::isfinite(way.y) || !std::isfinite(way.z)) return;
    matWorld._41 = (float)((double)matWorld._41 + way.x);
    matWorld._42 = (float)((double)matWorld._42 + way.y);
    matWorld._43 = (float)((double)matWorld._43 + way.z);
}

HRESULT ModelMD5::AddAnimation(const String& name, float weight) {
    if (!pMeta) return E_FAIL;
    for (u32 i = 0; i < pMeta->vAnimationNames.count; ++i) {
        if (pMeta->vAnimationNames.data[i] == name) return AddAnimation(i, weight);
    }
    return E_FAIL;
}

HRESULT ModelMD5::AddAnimation(u32 id, float weight) {
    (void)weight;  // one animation plays at a time: nothing is blended
    CallScope scope(this, "AddAnimation(id)");
    if (!pMeta || id >= pMeta->vAnimations.count) {
        scope.ReportFailure("Too big id of Anim", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    MoveWorldByRootDisplacement();
    nCurrentAnimation = (i32)id;
    fTimeLeft = GetPlayingLength(id);
    StartRootWay();
    return S_OK;
}

u32 ModelMD5::GetNumAnimations() { return pMeta ? pMeta->vAnimations.count : 0; }

String ModelMD5::GetAnimationName(u32 id) {
    if (!pMeta || id >= pMeta->vAnimationNames.count) return String();
    return pMeta->vAnimationNames.data[id];
}

bool ModelMD5::IsAnimationPlaying(u32 id) {
    return nCurrentAnimation >= 0 && (u32)nCurrentAnimation == id && fTimeLeft > 0.1f;
}

HRESULT ModelMD5::SendCommand(const String& command, String* parameter) {
    CallScope scope(this, "SendCommand()");
    const bool load = command == "LoadAnimation";
    const bool setDefault = command == "SetDefaultAnimation";
    if (!load && !setDefault) return E_FAIL;
    if (!parameter || !pMeta) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }

    if (load) {
        ModelMD5Meta::Animation animation;
        HRESULT hr = ModelMD5Meta::LoadAnimation(*parameter, &animation, &pMeta->vBoneNames);
        if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
        // Named after the file, without its folders.
        const String name = FileNameOf(*parameter);
        // Both lists grow together or not at all.
        hr = pMeta->vAnimationNames.Reserve(pMeta->vAnimationNames.count + 1, false);
        if (hr >= 0) hr = pMeta->vAnimations.Add(animation);
        if (hr < 0 || pMeta->vAnimations.data[pMeta->vAnimations.count - 1].vFrames.count !=
                          animation.vFrames.count) {
            if (hr >= 0) --pMeta->vAnimations.count;
            scope.ReportFailure(kNoMemory, kSource, __LINE__, E_OUTOFMEMORY);
            return ZVE_SUBFUNCTION;
        }
        pMeta->vAnimationNames.Add(name);
        return S_OK;
    }

    const long n = ReadIndex(*parameter);
    if (n >= 0 && (u64)n < pMeta->vAnimations.count) {
        nDefaultAnimation = (i32)n;
        if (nCurrentAnimation < 0) {
            nCurrentAnimation = (i32)n;
            fTimeLeft = GetPlayingLength((u32)n);
            StartRootWay();
        }
    } else {
        nDefaultAnimation = -1;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// Pose and skinning

void ModelMD5::UpdateBoneHierarchy(AnimatedBone* poses, const Vector<ModelMD5Meta::Bone>* bones,
                                   const Vector<u32>* order, bool animated) {
    if (!poses || !bones || !order) return;
    for (u32 k = 0; k < order->count; ++k) {
        const u32 i = order->data[k];
        if (i >= bones->count) continue;
        const ModelMD5Meta::Bone& bone = bones->data[i];
        AnimatedBone& pose = poses[i];
        if (!animated) {
            pose.vPos = bone.vPos;
            pose.qOrient = bone.qOrient;
            continue;
        }
        const i32 p = bone.nParent;
        if (p < 0 || (u32)p >= bones->count) continue;  // a root keeps its values
        const AnimatedBone& parent = poses[p];
        Matrix toModel;
        toModel.SetRotationTranslation(parent.qOrient, parent.vPos);
        pose.vPos *= toModel;
        pose.qOrient *= parent.qOrient;
    }
}

HRESULT ModelMD5::Update(float elapsed) {
    CallScope scope(this, "Update()");
    if (!pMeta || !pVB) return S_FALSE;
    if (!std::isfinite(elapsed) || elapsed < 0.0f) elapsed = 0.0f;
    const Vector<ModelMD5Meta::Animation>& animations = pMeta->vAnimations;
    if (nCurrentAnimation >= 0 && (u32)nCurrentAnimation >= animations.count) nCurrentAnimation = -1;

    if (nCurrentAnimation >= 0) {
        bStaticPose = 0;
    } else if (bStaticPose) {
        return S_FALSE;  // the bind pose is in the buffer already
    }

    if (nCurrentAnimation >= 0) {
        fTimeLeft -= elapsed;
        if (!(fTimeLeft > 0.0f)) {
            // Ended: the model stays where the animation carried its root,
            // and the default follows (or the bind pose).
            MoveWorldByRootDisplacement();
            const bool hasDefault = nDefaultAnimation >= 0 && (u32)nDefaultAnimation < animations.count;
            nCurrentAnimation = hasDefault ? nDefaultAnimation : -1;
            fTimeLeft = hasDefault ? GetPlayingLength((u32)nDefaultAnimation) : 0.0f;
            StartRootWay();
        }
    }
    const bool animated = nCurrentAnimation >= 0;

    const Vector<ModelMD5Meta::Bone>& bones = pMeta->vBones;
    const u32 numJoints = bones.count;
    if (scope.ReportFailure("-", kSource, __LINE__, ReserveScratch(numJoints)) < 0) return ZVE_SUBFUNCTION;
    AnimatedBone* poses = s_vAnimatedBones.data;

    if (animated) {
        const ModelMD5Meta::Animation& animation = animations.data[nCurrentAnimation];
        const u32 numFrames = animation.vFrames.count;
        // The frame shown: frames step at the frame rate from frame 0.
        u32 f = 0;
        const float position = (float)numFrames - fTimeLeft * animation.fFrameRate;
        if (position > 0.0f) f = position >= (float)numFrames ? numFrames - 1 : (u32)position;
        if (numFrames > 0 && f >= numFrames) f = numFrames - 1;
        if (2 * (u64)f + 1 < animation.vBounds.count)
            ModelMD5Meta::BoxToEngineAxes(animation.vBounds.data[2 * f], animation.vBounds.data[2 * f + 1], &vMin,
                                          &vMax);
        // Joints the animation does not name keep their bind pose relative
        // to their parent.
        for (u32 j = 0; j < numJoints; ++j) {
            poses[j].vPos = bones.data[j].vLocalPos;
            poses[j].qOrient = bones.data[j].qLocalOrient;
        }
        const Vector<float>* frame = f < numFrames ? &animation.vFrames.data[f] : nullptr;
        const u32 named = animation.vAnimBones.count;
        for (u32 j = 0; j < named; ++j) {
            const i32 b = animation.vAnimBones.data[j].nBone;
            if (b < 0 || (u32)b >= numJoints) continue;
            PoseJoint(animation, j, frame, &poses[b]);
        }
    }
    UpdateBoneHierarchy(poses, &bones, &pMeta->vPoseOrder, animated);

    if (pMeta->vRootBones.count > 0) {
        const long root = pMeta->vRootBones.data[0];
        if (root >= 0 && (u32)root < numJoints) vRootOffset = ModelMD5Meta::ToEngineAxes(poses[root].vPos);
    }
    if (!animated) {
        vMin = Vector3(1e38f, 1e38f, 1e38f);
        vMax = Vector3(-1e38f, -1e38f, -1e38f);
    }

    // One transform per joint, then every weight through its joint's.
    float* transforms = s_vJointTransforms.data;
    for (u32 j = 0; j < numJoints; ++j) {
        Matrix m;
        m.SetRotationTranslation(poses[j].qOrient, poses[j].vPos);
        float* t = transforms + j * kTransformSize;
        t[0] = m._11, t[1] = m._21, t[2] = m._31, t[3] = m._41;
        t[4] = m._12, t[5] = m._22, t[6] = m._32, t[7] = m._42;
        t[8] = m._13, t[9] = m._23, t[10] = m._33, t[11] = m._43;
    }

    void* data = nullptr;
    Vector3* positions = nullptr;
    if (scope.ReportFailure("-", kSource, __LINE__, pVB->Lock(&data, &positions)) < 0) return ZVE_SUBFUNCTION;
    SkinnedVertex* out = static_cast<SkinnedVertex*>(data);
    const u32 bufferVertices = pVB->GetNumVertices();
    const u32 numVertices = bufferVertices < pMeta->vVertices.count ? bufferVertices : pMeta->vVertices.count;
    const ModelMD5Meta::Vertex* vertices = pMeta->vVertices.data;
    const ModelMD5Meta::Influence* influences = pMeta->vInfluences.data;
    for (u32 v = 0; v < numVertices && out; ++v) {
        const ModelMD5Meta::Vertex& vertex = vertices[v];
        float x = 0.0f, y = 0.0f, z = 0.0f;
        Vector3 normal;
        const ModelMD5Meta::Influence* w = influences + vertex.nFirstInfluence;
        const ModelMD5Meta::Influence* end = w + vertex.nNumInfluences;
        for (; w < end; ++w) {
            const float* t = transforms + (u32)w->nBone * kTransformSize;
            const float px = w->vPos.x, py = w->vPos.y, pz = w->vPos.z, bias = w->fWeight;
            x += (px * t[0] + py * t[1] + pz * t[2] + t[3]) * bias;
            y += (px * t[4] + py * t[5] + pz * t[6] + t[7]) * bias;
            z += (px * t[8] + py * t[9] + pz * t[10] + t[11]) * bias;
            normal = w->vNormal;  // the bind-pose normal
        }
        SkinnedVertex& target = out[v];
        target.vPos = ModelMD5Meta::ToEngineAxes(Vector3(x, y, z));
        target.vNormal = normal;
        target.fU = vertex.fU;
        target.fV = vertex.fV;
        if (positions) positions[v] = target.vPos;
        if (!animated) {
            vMin.Minimize(target.vPos);
            vMax.Maximize(target.vPos);
        }
    }
    // Vertices of the buffer past the model's (none when it was made for
    // this model) stay at zero.
    for (u32 v = numVertices; v < bufferVertices && out; ++v) {
        out[v] = SkinnedVertex();
        if (positions) positions[v] = Vector3();
    }
    if (scope.ReportFailure("-", kSource, __LINE__, pVB->Unlock()) < 0) return ZVE_SUBFUNCTION;
    if (!animated) bStaticPose = 1;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Drawing and the other interfaces

HRESULT ModelMD5::Render() {
    CallScope scope(this, "Render()");
    if (!pMeta || !pVB || !pGraphics || !pMeta->pIB) {
        scope.ReportFailure(kInvalid, kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (scope.ReportFailure("-", kSource, __LINE__, pVB->Active(0)) < 0) return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, pMeta->pIB->Active()) < 0) return ZVE_SUBFUNCTION;

    D3DMATERIAL9 material;
    std::memset(&material, 0, sizeof(material));
    material.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    material.Specular = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    material.Power = 1.0f;
    pGraphics->SetMaterial(&material);

    for (u32 i = 0; i < pMeta->vSubMeshes.count; ++i) {
        const DrawPrimitiveInfos& range = pMeta->vSubMeshes.data[i];
        if (range.nNumIndices == 0) continue;
        ITexture* texture = i < pMeta->vTextures.count ? pMeta->vTextures.data[i] : nullptr;
        if (texture) {
            if (scope.ReportFailure("-", kSource, __LINE__, texture->Active(0)) < 0) return ZVE_SUBFUNCTION;
        } else {
            pGraphics->DesactiveTexture(0);
        }
        if (scope.ReportFailure("-", kSource, __LINE__, pGraphics->Draw(D3DPT_TRIANGLELIST, &matWorld, &range, true)) <
            0)
            return ZVE_SUBFUNCTION;
    }
    return S_OK;
}

HRESULT ModelMD5::Reset() {
    bStaticPose = 0;
    return S_OK;
}

HRESULT ModelMD5::GetBuffers(GeometryBuffers* out) {
    if (!out) return E_FAIL;
    out->pVB = pVB;
    out->pIB = pMeta ? pMeta->pIB : nullptr;
    out->nReserved = 0;
    return S_OK;
}

void ModelMD5::GetBoundingBox(Vector3* min, Vector3* max) {
    if (min) *min = vMin;
    if (max) *max = vMax;
}
