// Model3DSMeta: the file data of a 3DS scene, shared by every Model3DS
// instance drawn from the same file.
//
// One .3ds file becomes one static vertex buffer holding the vertices of all
// its meshes (position, normal, one texture coordinate), one static 16-bit
// index buffer holding every triangle grouped by material, one MatInfos
// entry per material naming its run of indices, one texture per material
// that names a texture map, and the bounding box of all vertices.  Faces
// naming a material the file does not hold are drawn with the default
// material (one more entry after the file's own materials, or the only one
// of a file without materials).
//
// The file is read through the 3DS chunk toolkit only.  Its coordinates are
// z-up; the engine's are y-up, so a file vertex (x, y, z) is stored as
// (x, z, y).  Face corner order is kept.  Texture coordinates get the tiling
// of their faces' material map (scale, then offset; its rotation is not
// applied) and are turned from the file's v, counted from the image's bottom
// row, to the device's, counted from its top (v' = 1 - v).  A vertex whose
// faces use maps of different tilings is copied for each further tiling.
//
// What the loader guarantees to the instances: every index of the index
// buffer names a vertex of the vertex buffer, every MatInfos run lies inside
// the index buffer, and runs follow one another without gaps.
#pragma once

#include "zvd3d9.h"
#include "zvgraphics.h"
#include "zvstuff.h"

class Model3DSMeta {
public:
    // The vertex layout of the model's vertex buffer.
    struct Vertex {
        Vector3 vPos;
        Vector3 vNormal;
        float fU, fV;
    };
    static constexpr u32 kFVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;  // 0x112, 32 bytes

    // One material and its run of indices.
    struct MatInfos {
        D3DMATERIAL9 material;
        u32 bUsed;
        String strTexture;    // the first texture map's file name, whole; "" without one
        u32 nMinVertex;       // the vertex range its faces' meshes cover (not used for drawing)
        u32 nNumVertices;
        u32 nFirstIndex;
        u32 nNumIndices;      // 0: nothing is drawn for this material
    };

    // One material assignment of a mesh while the file is read.  pFaces is
    // owned by the loader, which frees it once the faces were grouped.
    struct MatRef {
        String strName;
        u32 nVertexBase;
        u32 nVertexEnd;
        u32 nNumFaces;
        u32* pFaces;  // model-wide face numbers
        MatRef() : nVertexBase(0), nVertexEnd(0), nNumFaces(0), pFaces(nullptr) {}
    };

    // One 16-bit index buffer addresses every vertex of the model.
    static constexpr u32 kMaxVertices = 0xFFFF;

    Model3DSMeta();
    u32 AddRef();
    u32 Release();

    // Reads file (found through the search path) into this fresh Meta:
    // buffers, materials, textures, bounding box.  S_OK; E_FAIL, E_OUTOFMEMORY
    // or the graphics manager's code of the step that failed; ZVE_SUBFUNCTION
    // for invalid arguments or toolkit errors left after the clean-up.  What
    // was created before a failure stays in the Meta and goes with it.
    HRESULT Load3DS(const String& file, IGraphics* graphics);

    // Logs the toolkit's pending errors as one error entry and clears them:
    // E_FAIL; S_OK when none is pending.
    static HRESULT Print3DSErrors();

    String strFile;
    Matrix matWorld;
    Vector3 vMin;
    Vector3 vMax;
    Vector<MatInfos> vMatInfos;
    IVertexBuffer* pVB;
    IIndexBuffer* pIB;
    Vector<ITexture*> vTextures;  // parallel to vMatInfos; null: drawn untextured
    u32 nRef;

protected:
    ~Model3DSMeta();

private:
    Model3DSMeta(const Model3DSMeta&) = delete;
    Model3DSMeta& operator=(const Model3DSMeta&) = delete;
};
