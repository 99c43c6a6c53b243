// ModelMD5: one drawable, animated instance of an MD5 model.
//
// All instances of one file share a ModelMD5Meta (skeleton, vertices,
// weights, index buffer, textures, animations).  Each instance owns a
// dynamic vertex buffer into which it skins the model on the CPU, its world
// matrix, its bounding box and its animation state: one playing animation
// shown frame by frame (no interpolation) and a default animation that
// starts whenever the playing one ends.  When an animation ends or another
// one is started, the world matrix moves by the way the root joint went
// during it (its position in the last frame shown less its position in the
// animation's first frame), so that the model stays where the animation
// carried it.  The vertices, the box and the root are in the engine's axes
// (see modelmd5meta.h).
//
// Commands (SendCommand, the parameter is an input):
//   "LoadAnimation"        parameter: a .md5anim file; the animation joins the
//                          shared data, named after the file (extension kept)
//   "SetDefaultAnimation"  parameter: the index of the default animation, as
//                          text; out of range clears the default
#pragma once

#include "modelinstance.h"
#include "modelmd5meta.h"

class ModelMD5 : public ModelInstance<ModelMD5, ModelMD5Meta> {
public:
    static constexpr const char* kClassName = "ModelMD5";
    static constexpr const char* kTypeName = "md5";
    static constexpr const char* kSourceName = "modelmd5";
    static constexpr const char* kFactoryName = "ModelMD5::Create()";

    // One posed joint.
    struct AnimatedBone {
        Vector3 vPos;
        Quaternion qOrient;
    };

    // One skinned vertex of the instance's buffer (flexible vertex format
    // XYZ | NORMAL | TEX1).
    struct SkinnedVertex {
        Vector3 vPos;
        Vector3 vNormal;
        float fU = 0.0f, fV = 0.0f;
    };
    static const u32 FVF = 0x112;

    // IGeometry
    HRESULT Update(float elapsed) override;
    HRESULT Render() override;
    HRESULT Reset() override;
    HRESULT SendCommand(const String& command, String* parameter) override;

    // IModel
    HRESULT AddAnimation(const String& name, float weight) override;
    HRESULT AddAnimation(u32 id, float weight) override;
    u32 GetNumAnimations() override;
    String GetAnimationName(u32 id) override;
    bool IsAnimationPlaying(u32 id) override;
    HRESULT GetBuffers(GeometryBuffers* out) override;

    // IPhyEntity
    void GetBoundingBox(Vector3* min, Vector3* max) override;

    // Loads the model (a .md5mesh file or "file.def[?model]") and creates the
    // instance's vertex buffer.  The graphics manager is kept without a
    // reference: the manager takes it for the new geometry.
    HRESULT Init(const String& command, IGraphics* graphics);

    // Turns the joints into model space, every parent before its children
    // (the order of `order`).  animated: poses holds each joint's values
    // relative to its parent, which are combined with the parent's; else
    // every joint takes its bind pose.
    static void UpdateBoneHierarchy(AnimatedBone* poses, const Vector<ModelMD5Meta::Bone>* bones,
                                    const Vector<u32>* order, bool animated);

    // Seconds animation `id` of the shared data lasts (0 for an unknown id).
    float GetPlayingLength(u32 id) const;

    // Poses joint j of the animation (its entry of vAnimBones): the base
    // frame, then the components that `frame` holds for it (none when frame
    // is null), then w.
    static void PoseJoint(const ModelMD5Meta::Animation& animation, u32 j, const Vector<float>* frame,
                          AnimatedBone* pose);
    // The first root joint's position in the first frame of animation id,
    // engine axes; its bind-pose position when id is not an animation.
    Vector3 GetRootStart(i32 id) const;

    IVertexBuffer* pVB;      // the skinned vertices, dynamic
    Vector3 vRootOffset;     // the first root joint's position in the last pose, engine axes
    Vector3 vRootStart;      // the same in the first frame of what is shown
    Vector3 vMin, vMax;      // model space; the bind pose's once loaded
    i32 nDefaultAnimation;   // -1: none
    i32 nCurrentAnimation;   // -1: the bind pose is shown
    float fTimeLeft;         // seconds left of the playing animation
    u32 bStaticPose;         // the bind pose is in pVB and nothing plays

    // Scratch shared by all instances, valid during one Update: the pose of
    // the model being updated, and each joint's rotation-translation as
    // three columns of a 4x3 transform.
    static Vector<AnimatedBone> s_vAnimatedBones;
    static Vector<float> s_vJointTransforms;

protected:
    ModelMD5();
    ~ModelMD5() override;

private:
    friend class ModelInstance<ModelMD5, ModelMD5Meta>;

    // Clone: only a loaded model is cloned, and the clone gets its own
    // vertex buffer.
    HRESULT CheckCloneSource(CallScope& scope);
    HRESULT PrepareClone(ModelMD5* clone);

    // Adds the root's way since the first frame shown (vRootOffset less
    // vRootStart) to the world translation, turned as the world turns.
    void MoveWorldByRootDisplacement();
    // What plays from now on is nCurrentAnimation (the bind pose when -1),
    // from its first frame: the root's way starts again.
    void StartRootWay();
    // Makes the scratch arrays hold `joints` entries (they never shrink).
    static HRESULT ReserveScratch(u32 joints);

};
