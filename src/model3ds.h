// Model3DS: a static scene or object read from a .3ds file, the geometry of
// the plug-in type "3ds" (the command is the file name).
//
// An instance is light: its world matrix and a reference to the file's data
// (Model3DSMeta: buffers, materials, textures, bounding box), which every
// instance made from the same file shares.  A second CreateGeometry with the
// same file clones the first instance instead of reading the file again.
//
// Nothing animates: the animation operations of IModel refuse or answer
// neutrally.  Render draws one indexed triangle list per material.
#pragma once

#include "model3dsmeta.h"
#include "zvgraphics.h"
#include "zvphysics.h"
#include "zvstuff.h"

class Model3DS : public IModel, public IPhyEntity {
public:
    // The geometry factory of the "3ds" plug-in: a new instance with one
    // reference, loaded from the file named by command.
    static HRESULT Create(const String& type, const String& command, IGraphics* graphics, IGeometry** out);
    // Fills the plug-in record: "Model3DS", version 0.30, type "3ds".
    static u32 GetPlugInInfos(PlugIn* blank);

    Model3DS();

    u32 AddRef() override;
    u32 Release() override;
    const String& GetName() override;
    // A new instance on the same data, at this instance's current world matrix.
    HRESULT Clone(IInterface** out) override;

    HRESULT Update(float elapsed) override;
    HRESULT Render() override;
    HRESULT Reset() override;
    HRESULT SendCommand(const String& command, String* parameter) override;
    HRESULT GetTypeAndCommand(String* type, String* command) override;

    HRESULT AddAnimation(const String& name, float weight) override;
    HRESULT AddAnimation(u32 id, float weight) override;
    u32 GetNumAnimations() override;
    String GetAnimationName(u32 id) override;
    bool IsAnimationPlaying(u32 id) override;
    HRESULT GetBuffers(GeometryBuffers* out) override;

    // The file's box in model space (the world matrix is not applied).
    void GetBoundingBox(Vector3* min, Vector3* max) override;
    void SetWorldMatrix(Matrix world) override;
    void GetWorldMatrix(Matrix* out) override;

    // Creates the Meta and loads the file into it; called by Create only.
    HRESULT Init(const String& command, IGraphics* graphics);

    u32 nRef;
    Model3DSMeta* pMeta;
    IGraphics* pGraphics;  // set once Init succeeded; the reference is taken by CreateGeometry or Clone
    Matrix matWorld;

protected:
    ~Model3DS() override;

private:
    Model3DS(const Model3DS&) = delete;
    Model3DS& operator=(const Model3DS&) = delete;
};
