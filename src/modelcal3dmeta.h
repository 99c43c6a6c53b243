// ModelCal3DMeta: the file data of a Cal3D model, shared by every ModelCal3D
// instance drawn from the same description file.
//
// Four binary files make up a model besides its text description (".cfg"):
// a skeleton ("CSF\0"), animations ("CAF\0"), meshes ("CMF\0") and materials
// ("CRF\0").  Each begins with its 4-byte magic and an i32 version (700 to
// 799; another version is read with a warning).  All numbers are
// little-endian and decoded byte by byte, so nothing depends on the host's
// layout.  The static readers below fill the records of this class.
//
// What the readers guarantee to the instances:
// - every count was checked against the bytes left in the file before
//   anything was allocated for it, so no file makes them allocate more than
//   a small multiple of its own size;
// - skeleton: parents lie in [-1, bone count); every child link c of bone b
//   has bones[c].nParent == b, each child is listed once, every bone is
//   listed by its parent, and every bone reaches a root (no parent loops), so
//   a walk from the roots over vChildren visits each bone once, parent first;
// - animation: durations and key times are finite, tracks have key frames
//   and name non-negative bones (the bone count is checked against the
//   skeleton by CheckAnimation once both are known);
// - mesh: face indices lie within their submesh (a submesh with faces but
//   no vertices is refused), influence weights are finite (influence bones
//   are checked against the skeleton by the caller).
//
// Load then checks the whole model (material and bone indices, tracks, at
// most MaxVertices vertices, every influencing bone reached from a root) and
// packs it: one vertex array and one 16-bit index buffer, submeshes grouped
// by material with one draw range per material.
//
// Axes: the files are right-handed with z up; the engine is left-handed with
// y up.  A file point (x, y, z) is the engine's (x, z, y), a mirror that
// keeps the model's left on its left; EngineAxisFromFile is its one
// definition, which ToEngineAxes and the instances' skin matrices both use.
// The records keep the files' values; the instances pose the skeleton in
// the files' axes and hand over positions, normals and boxes in the
// engine's.  Triangles go into the index buffer with their corners as read:
// the files wind a face counter-clockwise seen from outside, and through the
// mirror that order is the engine's outer side, (P2 - P1) x (P1 - P0), the
// side the shadow volumes take as facing out.
#pragma once

#include "zvd3d9.h"
#include "zvgraphics.h"
#include "zvstuff.h"


class ModelCal3DMeta {
public:
    // One bone; its index is its position in the skeleton's bone array.
    struct Bone {
        i32 nParent;                    // -1 for a root bone
        Vector<i32> vChildren;
        Vector3 vTranslation;           // relative to the parent
        Quaternion qRotation;
        Vector3 vTranslationBoneSpace;  // rest pose, model space into bone space
        Quaternion qRotationBoneSpace;
        Bone() : nParent(-1) {}
    };

    struct Animation {
        struct Track {
            i32 nBone;
            u32 nFirstKeyFrame;  // into vKeyFrames
            u32 nNumKeyFrames;   // at least 1
        };
        // 32 bytes, the layout of the file's key frames.
        struct KeyFrame {
            float fTime;
            Vector3 vTranslation;
            Quaternion qRotation;
        };

        float fDuration;
        Vector<Track> vTracks;
        Vector<KeyFrame> vKeyFrames;  // the key frames of all tracks, track after track
        Animation() : fDuration(0.0f) {}
    };

    struct Vertex {
        Vector3 vPos;
        Vector3 vNormal;
        float fU, fV;          // first texture-coordinate map (unset without one)
        u32 nFirstInfluence;   // into the submesh's (after packing, the model's) influences
        u32 nNumInfluences;
    };

    struct Influence {
        i32 nBone;
        float fWeight;
    };

    // A plain record: szTexture is allocated with new[] by LoadMaterial and
    // freed by its owner (FreeTexture), never by copies.
    struct MatInfos {
        D3DMATERIAL9 material;
        char* szTexture;  // path + texture file name, or null
        DrawPrimitiveInfos drawInfos;
    };

    static const u32 MaxBones = 65535;
    // Bones whose parent chain is longer than this are in a loop (the
    // hierarchy is walked iteratively, so any real chain is allowed).
    static const u32 MaxHierarchyDepth = MaxBones;
    // Bone names longer than this are warned about (they are never kept).
    static const u32 MaxBoneNameLength = 256;
    // Texture names longer than this are refused.
    static const u32 MaxTextureNameLength = 4096;
    // The 16-bit index buffer reaches this many vertices.
    static const u32 MaxVertices = 65536;

    ModelCal3DMeta();
    virtual u32 AddRef();
    virtual u32 Release();

    // The binary readers.  Each returns S_OK, E_FAIL (refused after an entry
    // of its own) or ZVE_SUBFUNCTION (a failed call was reported); records
    // already filled stay filled when a reader fails.
    static HRESULT LoadSkeleton(const String& file, Vector<Bone>* bones);
    static HRESULT LoadAnimation(const String& file, Animation* animation);
    // Appends one entry per submesh to each of the four lists.
    static HRESULT LoadMesh(const String& file, Vector<i32>* subMeshMaterials, Vector<Vector<i32>>* subMeshFaces,
                            Vector<Vector<Vertex>>* subMeshVertices,
                            Vector<Vector<Influence>>* subMeshInfluences);
    // path is put in front of the texture name.
    static HRESULT LoadMaterial(const String& file, const String& path, MatInfos* matInfos);

    // Reads the description file (key = value lines naming the binary
    // files), checks the whole model, packs it into one vertex array, one
    // influence array and one 16-bit index buffer grouped by material, and
    // creates the textures: a material's image is looked for by its name as
    // it stands, then by its file name without folders, beside the
    // description and on the search path (AddImageCandidates); one found
    // nowhere is asked for as it stands.  A material whose image cannot be
    // loaded is left untextured with a warning.  A key the description does
    // not know is skipped with a warning.  Called once on a fresh object.
    HRESULT Load(const String& file, IGraphics* graphics);

    // Refuses (E_FAIL after a level-2 entry naming file) an animation with a
    // track whose bone is not below boneCount.
    static HRESULT CheckAnimation(const String& file, const Animation& animation, u32 boneCount);
    // The change from the files' axes to the engine's: the engine's axis e
    // (0 x, 1 y, 2 z) is the files' axis EngineAxisFromFile[e].
    static constexpr u32 EngineAxisFromFile[3] = {0, 2, 1};
    // A point or direction of the files' axes in the engine's: (x, z, y).
    static Vector3 ToEngineAxes(const Vector3& file) {
        const float axes[3] = {file.x, file.y, file.z};
        return Vector3(axes[EngineAxisFromFile[0]], axes[EngineAxisFromFile[1]], axes[EngineAxisFromFile[2]]);
    }

    // Frees and nulls matInfos->szTexture.
    static void FreeTexture(MatInfos* matInfos);

    String strFile;
    Matrix matBase;  // the description's scale (the axes change in EngineAxisFromFile)
    Vector<Bone> vBones;
    Vector<u32> vRootBones;
    // Every bone reached from the roots, each after its parent: the order in
    // which the instances pose the skeleton (no recursion).
    Vector<u32> vBoneOrder;
    Vector<Animation> vAnimations;
    Vector<String> vAnimationNames;
    Vector<Vertex> vVertices;
    Vector<Influence> vInfluences;
    Vector<MatInfos> vMatInfos;
    IIndexBuffer* pIB;
    Vector<ITexture*> vTextures;
    u32 nRef;

protected:
    virtual ~ModelCal3DMeta();

private:
    ModelCal3DMeta(const ModelCal3DMeta&) = delete;
    ModelCal3DMeta& operator=(const ModelCal3DMeta&) = delete;
};
