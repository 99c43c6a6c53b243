// ModelCal3D: one drawable, animated instance of a Cal3D model.
//
// All instances of one description file share a ModelCal3DMeta (skeleton,
// animations, packed mesh, index buffer, textures).  Each instance keeps its
// own list of playing animations, which play at once with weights; every
// Update advances them, samples each animation's tracks at its own time,
// blends the samples bone by bone, poses the skeleton from its root bones
// and skins every vertex on the CPU into the instance's own dynamic vertex
// buffer (position, normal, texture coordinates), computing the bounding box
// on the way.  The skeleton is posed in the files' axes; the skinned
// positions and normals, and so the box, are in the engine's
// (ModelCal3DMeta::EngineAxisFromFile).
#pragma once

#include "modelcal3dmeta.h"
#include "modelinstance.h"

class ModelCal3D : public ModelInstance<ModelCal3D, ModelCal3DMeta> {
public:
    static constexpr const char* kClassName = "ModelCal3D";
    static constexpr const char* kTypeName = "cal3d";
    static constexpr const char* kSourceName = "modelcal3d";
    static constexpr const char* kFactoryName = "ModelCal3D::Create()";

    // One playing animation, or one restart request.
    struct AnimInfos {
        u32 nAnimation;     // index in the Meta's vAnimations
        float fTimeLeft;    // seconds until the animation's end
        float fWeight;      // as given to AddAnimation, > 0
        float fNormWeight;  // fWeight over the sum of all playing weights
    };

    // One bone of the frame being computed.
    struct AnimatedBone {
        // The blended pose relative to the parent; after the hierarchy walk
        // the bone's transform in model space.
        Vector3 vTranslation;
        Quaternion qRotation;
        // From the rest pose's bone space into the posed model space.
        Vector3 vSkinTranslation;
        Quaternion qSkinRotation;
        // Blending weight gathered this frame; 0: no playing track moves it.
        float fWeight;
    };

    // The vertex format of the instances' buffers: position, normal and one
    // pair of texture coordinates (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1).
    static const u32 VertexFormat = 0x112;
    struct SkinnedVertex {
        float x, y, z;
        float nx, ny, nz;
        float u, v;
    };

    // IGeometry
    HRESULT Update(float elapsed) override;
    HRESULT Render() override;

    // IModel
    HRESULT AddAnimation(const String& name, float weight) override;
    HRESULT AddAnimation(u32 id, float weight) override;
    u32 GetNumAnimations() override;
    String GetAnimationName(u32 id) override;
    bool IsAnimationPlaying(u32 id) override;
    HRESULT GetBuffers(GeometryBuffers* out) override;

    // IPhyEntity
    void GetBoundingBox(Vector3* min, Vector3* max) override;

    // Loads the description file named by command into a new Meta.
    HRESULT Init(const String& command, IGraphics* graphics);

    IVertexBuffer* pVB;  // the skinned vertices, dynamic
    Vector3 vMin, vMax;
    Vector<AnimInfos> vAnimInfos;
    Vector<AnimInfos> vPendingAnimInfos;

    // Scratch space of the frame being computed, shared by all instances and
    // indexed by bone; as large as the largest skeleton created so far.
    static Vector<AnimatedBone> s_vAnimatedBones;

protected:
    ModelCal3D();
    ~ModelCal3D() override;

private:
    friend class ModelInstance<ModelCal3D, ModelCal3DMeta>;

    // Clone: only a loaded model is cloned, and the clone gets its own
    // vertex buffer.
    HRESULT CheckCloneSource(CallScope& scope);
    HRESULT PrepareClone(ModelCal3D* clone);

    // The steps of Update, in their order.
    // Advances the playing animations; one that runs out restarts on
    // request or ends, and the requests are dropped.
    void AdvanceAnimations(float elapsed);
    // Each playing animation's share of the sum of the weights.
    void NormaliseWeights();
    // Samples every track at its animation's time and blends the samples of
    // each bone into their weighted average in s_vAnimatedBones.
    void BlendAnimations();
    // Poses the Meta's bones in s_vAnimatedBones, parents first.
    void UpdateBoneHierarchy();
    // Skins every vertex into pVB (and its copy of the positions) and sets
    // the box.
    HRESULT SkinVertices(CallScope& scope);
};
