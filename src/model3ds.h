// Model3DS: a static scene or object read from a .3ds file, the geometry of
// the plug-in type "3ds" (the command is the file name).
//
// An instance is light: its world matrix and a reference to the file's data
// (Model3DSMeta: buffers, materials, textures, bounding box), which every
// instance made from the same file shares.  A second CreateGeometry with the
// same file clones the first instance instead of reading the file again.
//
// Nothing animates: the animation operations of IModel refuse or answer
// neutrally (ModelInstance's defaults).  Render draws one indexed triangle
// list per material.
#pragma once

#include "model3dsmeta.h"
#include "modelinstance.h"

class Model3DS : public ModelInstance<Model3DS, Model3DSMeta> {
public:
    static constexpr const char* kClassName = "Model3DS";
    static constexpr const char* kTypeName = "3ds";
    static constexpr const char* kSourceName = "model3ds";
    static constexpr const char* kFactoryName = "Model3DS::Create()";

    Model3DS() {}

    HRESULT Update(float elapsed) override;
    HRESULT Render() override;
    HRESULT GetBuffers(GeometryBuffers* out) override;

    // The file's box in model space (the world matrix is not applied).
    void GetBoundingBox(Vector3* min, Vector3* max) override;

    // Creates the Meta and loads the file into it; called by Create only.
    HRESULT Init(const String& command, IGraphics* graphics);

protected:
    ~Model3DS() override;
};
