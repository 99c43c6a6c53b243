// ModelMD5Meta: the file data of an MD5 model, shared by every ModelMD5
// instance drawn from the same file.
//
// Three text formats are read here:
// - ".md5mesh" (version 10): the skeleton in its bind pose and the meshes
//   with their shader, vertices, triangles and weights (LoadMesh);
// - ".md5anim" (version 10): joint hierarchy with animated-component flags,
//   bounds per frame, base frame and frames (LoadAnimation, which needs no
//   Meta object and no graphics);
// - ".def" model lists: per model one mesh file and its animations (Load).
//
// Both MD5 formats are read into memory, handed out line by line
// (LineReader) and scanned with fixed formats (ScanText).  Every format
// error is logged as a warning whose source is the MD5 file's full path and
// whose line is the line of that file.
//
// Axes: the MD5 files are right-handed (x forward, y left, z up), the engine
// is left-handed (x right, y up, z forward).  A file point (x, y, z) is the
// engine's (y, z, -x) (ToEngineAxes): a mirror, so that a model keeps its
// handedness (what its file puts on its left shows on its left).  Joints,
// weights and animations are kept as the files write them and a pose is
// built in the file's axes; only its results cross the mirror: skinned
// positions, normals, boxes and the root's position.  No rotation ever
// crosses it.  The mirror turns the sense of every triangle round, so each
// one is stored with its last two corners swapped: faces keep their outer
// side, for the normals as for the shadow volumes.  The model space of an
// instance is thus the engine's, and the initial world matrix the identity.
//
// Everything an instance uses as an index has been checked by the readers:
// triangle indices against their submesh's vertices, vertex weight ranges
// against the weights, weight joints against the joints, joint parents
// against the joints (every joint is reachable from a root, however deep),
// and the frame components an animated joint takes (nStartIndex plus its
// flag bits) against each frame's components.
#pragma once

#include <vector>

#include "zvgraphics.h"
#include "zvstuff.h"

struct ModelMD5Meta {
    // One joint of the mesh file, bind pose in model space.
    struct Bone {
        i32 nParent;              // -1 for a root
        Vector<long> vChildren;   // joints whose parent is this one, ascending
        Vector3 vPos;
        Quaternion qOrient;       // w computed from x, y, z (UnitQuaternionW)
        // The same bind pose relative to the parent joint (model space for a
        // root): what a joint that an animation does not name is posed with.
        Vector3 vLocalPos;
        Quaternion qLocalOrient;
        Bone() : nParent(-1) {}
    };

    struct Vertex {
        float fU, fV;
        u32 nFirstInfluence;      // into vInfluences (after concatenation)
        u32 nNumInfluences;
    };

    // One weight of a vertex.
    struct Influence {
        i32 nBone;
        float fWeight;
        Vector3 vPos;             // in the joint's space
        Vector3 vNormal;          // bind-pose normal of its vertex
    };

    // One .md5anim file.
    struct Animation {
        struct AnimBone {
            i32 nBone;        // the mesh joint of the same name, -1 when none
            i32 nParent;      // as written in the file (not used)
            u32 nFlags;       // bits 0-2 position x y z, bits 3-5 orientation x y z
            u32 nStartIndex;  // first component of this joint in each frame
        };

        float fFrameRate;
        Vector<AnimBone> vAnimBones;
        Vector<Vector3> vBounds;          // minimum and maximum per frame
        Vector<Vector3> vBasePos;         // per hierarchy joint
        Vector<Quaternion> vBaseOrient;   // x, y, z; w is left 0
        Vector<Vector<float>> vFrames;    // numAnimatedComponents floats per frame

        Animation() : fFrameRate(0.0f) {}
    };

    // What the mesh reader yields before anything goes to the graphics
    // manager: one entry per submesh, owning its arrays.
    struct SubMeshData {
        String strShader;
        bool bNoShader;           // the mesh had no shader line: no texture is looked for (nor for "")
        Vertex* pVertices;
        u32 nNumVertices;
        u16* pIndices;
        u32 nNumIndices;
        Influence* pInfluences;
        u32 nNumInfluences;

        SubMeshData();
        ~SubMeshData();
        SubMeshData& operator=(SubMeshData&& other) noexcept;  // takes the arrays over
        void Free();

    private:
        SubMeshData(const SubMeshData&) = delete;
        SubMeshData& operator=(const SubMeshData&) = delete;
    };

    // A word of a line (a token, a joint name, a shader) holds at most this
    // many bytes minus one; a longer joint name or shader refuses the file.
    static const u32 WordBufferSize = 2048;

    ModelMD5Meta();
    ~ModelMD5Meta();

    u32 AddRef();
    u32 Release();

    // Reads a ".md5mesh" file, or one model of a ".def" file ("file.def",
    // "file.def?model"), with its animations.
    HRESULT Load(const String& command, IGraphics* graphics);
    // Reads one ".md5mesh" file and builds the index buffer and textures.
    HRESULT LoadMesh(const String& fileName, IGraphics* graphics);
    // Reads one ".md5anim" file into *out; boneNames are the mesh's joint
    // names (vBoneNames) the joints of the file are matched against.
    static HRESULT LoadAnimation(const String& fileName, Animation* out, const Vector<String>* boneNames);

    // The reading steps of LoadMesh that need no graphics manager: the file
    // is parsed into vBones, vBoneNames, vRootBones and *subMeshes (which is
    // sized to the mesh count).  Each failure is logged; the caller reports
    // "Error while loading".
    HRESULT ParseMesh(const String& fileName, Vector<SubMeshData>* subMeshes);
    // The steps of LoadMesh that go through the graphics manager: textures,
    // degenerate triangles, index buffer; then vertices, weights, normals
    // and the info entries.  Frees the submesh arrays.
    HRESULT BuildMesh(const String& fileName, Vector<SubMeshData>* subMeshes, IGraphics* graphics);

    // The text of an MD5 file, handed out one line at a time.  A line is
    // one physical line of any length, its line end included, up to its
    // first NUL byte.  Lines shorter than 4 characters and lines of white
    // space alone are skipped (but the last one of the file), leading CR and
    // LF removed; lineCounter counts every physical line read.
    class LineReader {
    public:
        LineReader(const char* data, u64 size);
        // Reads the next line; false when nothing more could be read (the
        // line is then what the last read gave, possibly "").
        bool Next();
        const char* Text() const { return buffer_.data() + first_; }  // NUL-terminated
        u32 Length() const { return length_; }
        u32 lineCounter;

    private:
        const char* data_;
        u64 size_, position_;
        bool endOfFile_;
        u32 first_;   // where the line begins in buffer_, past leading CR and LF
        u32 length_;
        std::vector<char> buffer_;  // the line and its NUL; grows to the longest line
    };

    // The unit-quaternion rule: w = -sqrt(1 - x*x - y*y - z*z), 0 when the
    // radicand is not positive.
    static float UnitQuaternionW(float x, float y, float z);

    // A point or direction of the files' axes in the engine's: (y, z, -x).
    static Vector3 ToEngineAxes(const Vector3& file) { return Vector3(file.y, file.z, -file.x); }
    // A box of the files' axes (minimum, maximum) as the engine's box.
    static void BoxToEngineAxes(const Vector3& fileMin, const Vector3& fileMax, Vector3* min, Vector3* max) {
        *min = Vector3(fileMin.y, fileMin.z, -fileMax.x);
        *max = Vector3(fileMax.y, fileMax.z, -fileMin.x);
    }

    // Fills every joint's vLocalPos and qLocalOrient from the bind pose.
    void ComputeLocalBindPose();

    // One per joint: its name as written after the opening quote, up to the
    // closing quote included ("Bip01 L Hand\""), as LoadAnimation compares it.
    Vector<String> vBoneNames;
    String strFile;
    Matrix matWorld;
    Vector<Bone> vBones;
    Vector<long> vRootBones;
    Vector<Animation> vAnimations;
    Vector<String> vAnimationNames;
    Vector<Vertex> vVertices;
    Vector<Influence> vInfluences;
    Vector<DrawPrimitiveInfos> vSubMeshes;
    IIndexBuffer* pIB;
    Vector<ITexture*> vTextures;
    u32 nRef;
    // Every joint once, each parent before its children (filled with vBones).
    Vector<u32> vPoseOrder;
    // The box of the skinned bind pose, engine axes (set by LoadMesh).
    Vector3 vBindMin, vBindMax;

private:
    ModelMD5Meta(const ModelMD5Meta&) = delete;
    ModelMD5Meta& operator=(const ModelMD5Meta&) = delete;

    // One MD5 file being read (lines, counts, error entries).
    class Reader;
    struct AnimationCounts;

    // The model list a command names: the .def file read, or the mesh file
    // alone as a list of one nameless model.
    struct ModelList {
        Vector<Parser::Line> lines;  // the list's top-level lines
        String file;                 // the .def or mesh file of the command
        String modelName;            // what follows "?" in the command, else empty
        String shownFile;            // the file as the summary entry names it: a .def by its full path
    };

    // The steps of Load: the model list, then the model's lines: its mesh,
    // and each animation read and added under its name.  Each logs its
    // failures.
    static HRESULT ReadModelList(CallScope& scope, const String& command, ModelList* list);
    HRESULT LoadModel(CallScope& scope, const Parser::Line& model, IGraphics* graphics);
    void AddModelAnimation(CallScope& scope, const String& name, const String& fileName);

    // The steps of LoadAnimation, one block of the .md5anim file each: the
    // counts, the record's vectors sized to them, the hierarchy (joints
    // matched by name to boneNames), the bounds, the base frame and the
    // frames.  Each logs its failure but SizeAnimation.
    static bool ReadAnimationCounts(Reader& in, AnimationCounts* counts);
    static HRESULT SizeAnimation(const AnimationCounts& counts, Animation* out);
    static HRESULT ReadHierarchy(Reader& in, u32 nComponents, const Vector<String>* boneNames, Animation* out);
    static HRESULT ReadBounds(Reader& in, Animation* out);
    static HRESULT ReadBaseFrame(Reader& in, Animation* out);
    static HRESULT ReadFrames(Reader& in, Animation* out);

    // The steps of ParseMesh, one block of the .md5mesh file each: the
    // joints, then their hierarchy; per submesh its header with the shader
    // line, vertices, triangles (kept a, c, b), weights, and the check of
    // the vertices' weight ranges.  Each logs its failure.
    HRESULT ReadJoints(Reader& in, CallScope& scope, u32 count);
    HRESULT LinkJoints(CallScope& scope);
    HRESULT ReadSubMeshes(Reader& in, Vector<SubMeshData>* subMeshes);
    static HRESULT ReadMeshHeader(Reader& in, SubMeshData* sub, bool* countLineRead);
    static HRESULT ReadVertices(Reader& in, SubMeshData* sub, bool countLineRead);
    static HRESULT ReadTriangles(Reader& in, SubMeshData* sub);
    HRESULT ReadWeights(Reader& in, u32 mesh, SubMeshData* sub);
    static HRESULT CheckWeightRanges(Reader& in, const SubMeshData& sub);

    // The steps of BuildMesh: per-submesh records and textures (each logs
    // its own entries), the ranges in the concatenated arrays, the index
    // buffer, the vertex and weight tables, the bind-pose normals and box
    // (whose failures BuildMesh reports).
    HRESULT ResetSubMeshes(CallScope& scope, u32 count);
    void LoadTextures(CallScope& scope, const String& meshFolder, const SubMeshData* subs, IGraphics* graphics);
    void PlaceSubMeshes(SubMeshData* subs, u32 count);
    HRESULT CreateIndexBuffer(const SubMeshData* subs, u32 count, u32 totalIndices, IGraphics* graphics);
    HRESULT GatherVertices(const SubMeshData* subs, u32 count, u32 totalVertices, u32 totalInfluences);
    HRESULT ComputeBindPoseNormals(const SubMeshData* subs, u32 count);
};
