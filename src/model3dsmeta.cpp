// Model3DSMeta: a .3ds scene read through the 3DS chunk toolkit into one
// vertex buffer, one index buffer grouped by material, the materials and
// their textures.
#include "model3dsmeta.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "toolkit3ds.h"

namespace {

const char kSource[] = "model3dsmeta";
const char kDefaultMaterial[] = "ZVDefaultMaterial";
const u32 kNoMaterial = 0xFFFFFFFFu;

D3DCOLORVALUE Colour(float r, float g, float b, float a) {
    D3DCOLORVALUE c;
    c.r = r;
    c.g = g;
    c.b = b;
    c.a = a;
    return c;
}

void FillDefaultMaterial(Model3DSMeta::MatInfos* m) {
    *m = Model3DSMeta::MatInfos();
    m->material.Diffuse = Colour(0.8f, 0.8f, 0.8f, 1.0f);
    m->material.Ambient = Colour(0.3f, 0.3f, 0.3f, 1.0f);
    m->material.Specular = Colour(0.7f, 0.7f, 0.7f, 1.0f);
    m->material.Emissive = Colour(0.0f, 0.0f, 0.0f, 0.0f);
    m->material.Power = 1.0f;
    m->bUsed = 1;
}

void FillFileMaterial(const MaterialData3ds& in, Model3DSMeta::MatInfos* m) {
    *m = Model3DSMeta::MatInfos();
    m->material.Ambient = Colour(in.ambient[0], in.ambient[1], in.ambient[2], 1.0f);
    m->material.Diffuse = Colour(in.diffuse[0], in.diffuse[1], in.diffuse[2], 1.0f);
    m->material.Specular = Colour(in.specular[0], in.specular[1], in.specular[2], 1.0f);
    m->material.Emissive = Colour(0.0f, 0.0f, 0.0f, 0.0f);
    m->material.Power = in.shininess;
    m->bUsed = 1;
    m->strTexture = in.texture1.name ? in.texture1.name : "";
}

// A toolkit name field (17 bytes, normally terminated) as a String.
template <size_t N>
String BoundedName(const char (&field)[N]) {
    char text[N + 1];
    size_t n = 0;
    while (n < N && field[n]) {
        text[n] = field[n];
        ++n;
    }
    text[n] = '\0';
    return String(text);
}

// The tiling of a material's texture map: file coordinates are multiplied by
// the scale, then the offset is added (the map's rotation is not applied).
struct Tiling {
    float uScale = 1.0f, vScale = 1.0f, uOffset = 0.0f, vOffset = 0.0f;
    bool operator==(const Tiling& o) const {
        return uScale == o.uScale && vScale == o.vScale && uOffset == o.uOffset && vOffset == o.vOffset;
    }
};

// The tiling of a material's first texture map; none without a map.  Values
// that are not finite, and a scale of 0, keep their neutral value.
Tiling MapTiling(const MaterialData3ds& in, bool* unusable) {
    Tiling t;
    *unusable = false;
    if (!in.texture1.name || !in.texture1.name[0]) return t;
    const MapData3ds& map = in.texture1;
    auto take = [unusable](float value, float neutral, bool isScale) {
        if (std::isfinite(value) && !(isScale && value == 0.0f)) return value;
        *unusable = true;
        return neutral;
    };
    t.uScale = take(map.uScale, 1.0f, true);
    t.vScale = take(map.vScale, 1.0f, true);
    t.uOffset = take(map.uOffset, 0.0f, false);
    t.vOffset = take(map.vOffset, 0.0f, false);
    return t;
}

// How one mesh's vertices are laid out in the model.  Texture coordinates
// belong to vertices, tiling to the material of the faces: a vertex whose
// faces use materials of different tilings gets one copy per further tiling,
// placed after the mesh's own vertices, and those faces use the copy.
struct MeshPlan {
    std::vector<u32> tiling;   // per vertex: the tiling class it is written with
    std::vector<u32> corners;  // 3 per face: the vertex each corner uses (copies from nVertices on)
    std::vector<std::pair<u32, u32>> copies;  // per copy: (source vertex, tiling class)
};

// One load in progress: the toolkit records, the temporary tables and the
// locked buffers, so that every way out gives them back (Release).
class Loader {
public:
    Loader(Model3DSMeta* meta, IGraphics* graphics, CallScope& scope, const String& file)
        : meta_(meta), graphics_(graphics), scope_(scope), file_(file) {}
    ~Loader() { Release(); }

    // The steps of the load, up to and including the textures.
    HRESULT Run();
    // Unlocks what is still locked and frees the temporary tables and the
    // toolkit's material and mesh records (not the database and the file).
    void Release();

    FileRec3ds* chunkFile = nullptr;
    Database3ds* database = nullptr;

private:
    HRESULT Open();
    HRESULT ReadMaterials();
    HRESULT CountMeshes();
    HRESULT CreateVertexBuffer();
    HRESULT FillMeshes();
    HRESULT CheckMesh(const MeshData3ds& mesh, u32 vertexBase, u32 faceBase);
    u32 MaterialOf(const String& name) const;
    HRESULT PlanMesh(const MeshData3ds& mesh, MeshPlan* plan) const;
    void WriteVertex(const MeshData3ds& mesh, u32 source, u32 tilingClass, u32 at);
    HRESULT AddMatRefs(const MeshData3ds& mesh, u32 vertexBase, u32 vertexEnd, u32 faceBase);
    HRESULT FindOwners(std::vector<u32>* owner);
    void WarnMissingMaterial(const String& name, u64 faces);
    HRESULT GroupFaces();
    HRESULT CorrectRuns();
    HRESULT CreateIndexBuffer();
    void LogInfos();
    void ComputeNormals();
    HRESULT Unlock();
    HRESULT LoadTextures();
    // A mesh or material the toolkit did not hand out although it counted it.
    HRESULT Missing(const char* what, u32 index);
    void FreeMatRefs();

    Model3DSMeta* meta_;
    IGraphics* graphics_;
    CallScope& scope_;
    const String& file_;

    MaterialData3ds* material_ = nullptr;
    MeshData3ds* mesh_ = nullptr;
    Vector<String> names_;                  // material names by vMatInfos entry; none for an added default
    u32 defaultMaterial_ = kNoMaterial;     // the default material's entry, once there is one
    std::vector<Tiling> tilings_;           // distinct tilings; [0] is none
    std::vector<u32> tilingOf_;             // per material: its index in tilings_
    Vector<Model3DSMeta::MatRef> refs_;
    u32 meshCount_ = 0;
    u32 vertexTotal_ = 0;
    u32 faceTotal_ = 0;
    u32 indexTotal_ = 0;
    u16* faceTable_ = nullptr;              // 3 corners per face, model-wide vertex numbers
    u16* grouped_ = nullptr;                // the indices in material order
    Model3DSMeta::Vertex* vertices_ = nullptr;
    void* vbData_ = nullptr;
    Vector3* vbPositions_ = nullptr;
    u16* ibData_ = nullptr;
    u16* ibCopy_ = nullptr;
    IVertexBuffer* lockedVB_ = nullptr;
    IIndexBuffer* lockedIB_ = nullptr;

    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;
};

#define ZV_CHECK_TOOLKIT()                                          \
    do {                                                            \
        if (Model3DSMeta::Print3DSErrors() < 0) return E_FAIL;      \
    } while (0)

HRESULT Loader::Run() {
    HRESULT hr = Open();
    if (hr < 0) return hr;
    if ((hr = ReadMaterials()) < 0) return hr;
    if ((hr = CountMeshes()) < 0) return hr;
    if ((hr = CreateVertexBuffer()) < 0) return hr;
    if ((hr = FillMeshes()) < 0) return hr;
    if ((hr = GroupFaces()) < 0) return hr;
    if ((hr = CorrectRuns()) < 0) return hr;
    if ((hr = CreateIndexBuffer()) < 0) return hr;
    LogInfos();
    ComputeNormals();
    if ((hr = Unlock()) < 0) return hr;
    return LoadTextures();
}

void Loader::Release() {
    if (lockedVB_) lockedVB_->Unlock();
    lockedVB_ = nullptr;
    if (lockedIB_) lockedIB_->Unlock();
    lockedIB_ = nullptr;
    FreeMaterial3ds(&material_);
    FreeMesh3ds(&mesh_);
    FreeMatRefs();
    delete[] faceTable_;
    faceTable_ = nullptr;
    delete[] grouped_;
    grouped_ = nullptr;
    delete[] vertices_;
    vertices_ = nullptr;
}

void Loader::FreeMatRefs() {
    for (u32 i = 0; i < refs_.count; ++i) {
        delete[] refs_[i].pFaces;
        refs_[i].pFaces = nullptr;
    }
    refs_ = Vector<Model3DSMeta::MatRef>();
}

HRESULT Loader::Missing(const char* what, u32 index) {
    String message(what);
    message += index;
    message += " counted but not found in the file";
    scope_.WriteLog(ZVLOG_ERROR, message, kSource, __LINE__);
    return E_FAIL;
}

HRESULT Loader::Open() {
    String path = File::GetFullPath(file_) + file_;
    chunkFile = OpenChunkFile3ds(path.c_str(), "r");
    ZV_CHECK_TOOLKIT();
    meta_->strFile = file_;
    NewDatabase3ds(&database);
    ZV_CHECK_TOOLKIT();
    FillDatabase3ds(chunkFile, &database);
    ZV_CHECK_TOOLKIT();
    return S_OK;
}

HRESULT Loader::ReadMaterials() {
    u32 count = CountMaterials3ds(database);
    ZV_CHECK_TOOLKIT();
    Vector<Model3DSMeta::MatInfos>& mats = meta_->vMatInfos;
    tilings_.assign(1, Tiling());
    if (count == 0) {
        if (mats.Reserve(1, true) < 0 || names_.Add(kDefaultMaterial) < 0) return E_OUTOFMEMORY;
        FillDefaultMaterial(&mats[0]);
        defaultMaterial_ = 0;
        tilingOf_.assign(1, 0);
        return S_OK;
    }
    if (mats.Reserve(count, true) < 0 || names_.Reserve(count, true) < 0) return E_OUTOFMEMORY;
    tilingOf_.assign(count, 0);
    for (u32 i = 0; i < count; ++i) {
        FetchMaterial3ds(database, i, &material_);
        ZV_CHECK_TOOLKIT();
        if (!material_) return Missing("Material ", i);
        FillFileMaterial(*material_, &mats[i]);
        names_[i] = BoundedName(material_->name);
        bool unusable = false;
        Tiling t = MapTiling(*material_, &unusable);
        if (unusable) {
            scope_.WriteLog(ZVLOG_WARNING, "The texture map of material \"" + names_[i] +
                            "\" has a tiling value that is not a number or a scale of 0; that value is not applied",
                            kSource, __LINE__);
        }
        u32 k = 0;
        while (k < tilings_.size() && !(tilings_[k] == t)) ++k;
        if (k == tilings_.size()) tilings_.push_back(t);
        tilingOf_[i] = k;
        FreeMaterial3ds(&material_);
    }
    return S_OK;
}

HRESULT Loader::CountMeshes() {
    meshCount_ = CountMeshes3ds(database);
    ZV_CHECK_TOOLKIT();
    u64 vertices = 0, faces = 0;
    MeshPlan plan;
    for (u32 i = 0; i < meshCount_; ++i) {
        FetchMesh3ds(database, i, &mesh_);
        ZV_CHECK_TOOLKIT();
        if (!mesh_) return Missing("Mesh ", i);
        // Vertices are copied only where materials tile differently.
        if (tilings_.size() > 1) {
            HRESULT hr = PlanMesh(*mesh_, &plan);
            if (hr < 0) return hr;
            vertices += plan.copies.size();
        }
        vertices += mesh_->nVertices;
        faces += mesh_->nFaces;
        FreeMesh3ds(&mesh_);
    }
    if (vertices > Model3DSMeta::kMaxVertices) {
        scope_.WriteLog(ZVLOG_ERROR, "Too much vertices for the IB (NumVertices>0xFFFF)", kSource, __LINE__);
        return E_FAIL;
    }
    if (vertices == 0) {
        scope_.WriteLog(ZVLOG_ERROR, "The model has no vertex", kSource, __LINE__);
        return E_FAIL;
    }
    // Every face has its own mesh entry of 8 bytes in the file, whose length
    // is below 4 GB: the total fits its u32.
    if (faces == 0 || faces > 0x7FFFFFFFu / 3) {
        scope_.WriteLog(ZVLOG_ERROR, faces ? "Too many faces in the model" : "The model has no face", kSource,
                        __LINE__);
        return E_FAIL;
    }
    vertexTotal_ = (u32)vertices;
    faceTotal_ = (u32)faces;
    return S_OK;
}

HRESULT Loader::CreateVertexBuffer() {
    HRESULT hr = graphics_->CreateVB(Model3DSMeta::kFVF, vertexTotal_, false, &meta_->pVB);
    if (hr < 0) return hr;
    if ((hr = meta_->pVB->Lock(&vbData_, &vbPositions_)) < 0) return hr;
    lockedVB_ = meta_->pVB;
    if (!vbData_ || !vbPositions_) return E_FAIL;
    vertices_ = new (std::nothrow) Model3DSMeta::Vertex[vertexTotal_];
    faceTable_ = new (std::nothrow) u16[3 * (size_t)faceTotal_];
    if (!vertices_ || !faceTable_) return E_OUTOFMEMORY;
    if (refs_.Reserve(meshCount_, false) < 0) return E_OUTOFMEMORY;
    meta_->vMin = Vector3(1e38f, 1e38f, 1e38f);
    meta_->vMax = -meta_->vMin;
    return S_OK;
}

HRESULT Loader::CheckMesh(const MeshData3ds& mesh, u32 vertexBase, u32 faceBase) {
    // The counting pass read the same meshes; a mesh that grew in between, a
    // corner naming no vertex of its mesh or a group naming no face of it
    // would index past the tables.
    bool valid = (u64)vertexBase + mesh.nVertices <= vertexTotal_ && (u64)faceBase + mesh.nFaces <= faceTotal_ &&
                 (mesh.vertices || !mesh.nVertices) && (mesh.faces || !mesh.nFaces);
    for (u32 f = 0; valid && f < mesh.nFaces; ++f) {
        const u16_3ds* face = mesh.faces + 4 * (size_t)f;
        valid = face[0] < mesh.nVertices && face[1] < mesh.nVertices && face[2] < mesh.nVertices;
    }
    for (u32 g = 0; valid && g < mesh.nMatGroups; ++g) {
        const MeshMatGroup3ds& group = mesh.matGroups[g];
        valid = group.faces || !group.nFaces;
        for (u32 i = 0; valid && i < group.nFaces; ++i) valid = group.faces[i] < mesh.nFaces;
    }
    if (valid) return S_OK;
    AddError3ds(ERR_INVALID_DATA);
    Model3DSMeta::Print3DSErrors();
    return E_FAIL;
}

// The first material of that name (as grouping assigns faces), or kNoMaterial.
u32 Loader::MaterialOf(const String& name) const {
    for (u32 i = 0; i < names_.count; ++i) {
        if (names_[i] == name) return i;
    }
    return kNoMaterial;
}

HRESULT Loader::PlanMesh(const MeshData3ds& mesh, MeshPlan* plan) const {
    const u32 nFaces = mesh.faces ? mesh.nFaces : 0;
    plan->corners.resize(3 * (size_t)nFaces);
    for (u32 f = 0; f < nFaces; ++f) {
        for (u32 c = 0; c < 3; ++c) plan->corners[3 * (size_t)f + c] = mesh.faces[4 * (size_t)f + c];
    }
    plan->tiling.assign(mesh.nVertices, 0);
    plan->copies.clear();
    if (tilings_.size() < 2) return S_OK;
    // The tiling class of each face: that of the first group naming it, of
    // the first material for a mesh without groups; kNoMaterial for faces in
    // no group, which are not drawn.  A group naming a material the file does
    // not hold is drawn with the untextured default material: class 0.
    std::vector<u32> faceClass(nFaces, mesh.nMatGroups ? kNoMaterial : tilingOf_[0]);
    for (u32 g = 0; g < mesh.nMatGroups; ++g) {
        const MeshMatGroup3ds& group = mesh.matGroups[g];
        if (!group.faces) continue;
        u32 material = MaterialOf(BoundedName(group.name));
        u32 tilingClass = material == kNoMaterial ? 0 : tilingOf_[material];
        for (u32 i = 0; i < group.nFaces; ++i) {
            u32 f = group.faces[i];
            if (f < nFaces && faceClass[f] == kNoMaterial) faceClass[f] = tilingClass;
        }
    }
    // A vertex takes the class of the first drawn face using it; a face of
    // another class uses a copy of it, one copy per vertex and class.
    std::vector<bool> claimed(mesh.nVertices, false);
    std::unordered_map<u64, u32> copyOf;
    for (u32 f = 0; f < nFaces; ++f) {
        if (faceClass[f] == kNoMaterial) continue;
        for (u32 c = 0; c < 3; ++c) {
            u32& corner = plan->corners[3 * (size_t)f + c];
            if (corner >= mesh.nVertices) continue;  // refused by CheckMesh
            if (!claimed[corner]) {
                claimed[corner] = true;
                plan->tiling[corner] = faceClass[f];
                continue;
            }
            if (plan->tiling[corner] == faceClass[f]) continue;
            u64 key = ((u64)corner << 32) | faceClass[f];
            auto found = copyOf.find(key);
            if (found == copyOf.end()) {
                found = copyOf.emplace(key, mesh.nVertices + (u32)plan->copies.size()).first;
                plan->copies.emplace_back(corner, faceClass[f]);
            }
            corner = found->second;
        }
    }
    return S_OK;
}

void Loader::WriteVertex(const MeshData3ds& mesh, u32 source, u32 tilingClass, u32 at) {
    const float* p = mesh.vertices + 3 * (size_t)source;
    Model3DSMeta::Vertex& v = vertices_[at];
    v.vPos = Vector3(p[0], p[2], p[1]);
    v.vNormal = Vector3(0.0f, 0.0f, 0.0f);
    // Texture coordinates only when there is one per vertex.  Files put
    // v = 0 at the image's bottom row, the device at its top row; the tiling
    // works in the file's coordinates.
    v.fU = v.fV = 0.0f;
    if (mesh.texVerts && mesh.nTexVerts == mesh.nVertices) {
        const Tiling& t = tilings_[tilingClass];
        v.fU = mesh.texVerts[2 * (size_t)source] * t.uScale + t.uOffset;
        v.fV = 1.0f - (mesh.texVerts[2 * (size_t)source + 1] * t.vScale + t.vOffset);
    }
    vbPositions_[at] = v.vPos;
    meta_->vMin.Minimize(v.vPos);
    meta_->vMax.Maximize(v.vPos);
}

HRESULT Loader::AddMatRefs(const MeshData3ds& mesh, u32 vertexBase, u32 vertexEnd, u32 faceBase) {
    u32 groups = mesh.nMatGroups ? mesh.nMatGroups : 1;
    for (u32 g = 0; g < groups; ++g) {
        Model3DSMeta::MatRef ref;
        ref.nVertexBase = vertexBase;
        ref.nVertexEnd = vertexEnd;
        if (mesh.nMatGroups) {
            ref.strName = BoundedName(mesh.matGroups[g].name);
            ref.nNumFaces = mesh.matGroups[g].nFaces;
        } else {
            // A mesh without assignment is drawn with the first material.
            ref.strName = names_[0];
            ref.nNumFaces = mesh.nFaces;
        }
        if (ref.nNumFaces) {
            ref.pFaces = new (std::nothrow) u32[ref.nNumFaces];
            if (!ref.pFaces) return E_OUTOFMEMORY;
            for (u32 i = 0; i < ref.nNumFaces; ++i)
                ref.pFaces[i] = faceBase + (mesh.nMatGroups ? mesh.matGroups[g].faces[i] : i);
        }
        if (refs_.Add(ref) < 0) {
            delete[] ref.pFaces;
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

HRESULT Loader::FillMeshes() {
    u32 vertexBase = 0, faceBase = 0;
    MeshPlan plan;
    for (u32 k = 0; k < meshCount_; ++k) {
        FetchMesh3ds(database, k, &mesh_);
        ZV_CHECK_TOOLKIT();
        if (!mesh_) return Missing("Mesh ", k);
        const MeshData3ds& mesh = *mesh_;
        HRESULT hr = CheckMesh(mesh, vertexBase, faceBase);
        if (hr < 0 || (hr = PlanMesh(mesh, &plan)) < 0) return hr;
        const u32 count = mesh.nVertices + (u32)plan.copies.size();
        if ((u64)vertexBase + count > vertexTotal_) return E_FAIL;
        for (u32 j = 0; j < mesh.nVertices; ++j) WriteVertex(mesh, j, plan.tiling[j], vertexBase + j);
        for (u32 c = 0; c < plan.copies.size(); ++c)
            WriteVertex(mesh, plan.copies[c].first, plan.copies[c].second, vertexBase + mesh.nVertices + c);
        for (u32 f = 0; f < mesh.nFaces; ++f) {
            u16* row = faceTable_ + 3 * ((size_t)faceBase + f);
            for (u32 c = 0; c < 3; ++c) row[c] = (u16)(plan.corners[3 * (size_t)f + c] + vertexBase);
        }
        if ((hr = AddMatRefs(mesh, vertexBase, vertexBase + count, faceBase)) < 0) return hr;
        vertexBase += count;
        faceBase += mesh.nFaces;
        FreeMesh3ds(&mesh_);
    }
    return S_OK;
}

void Loader::WarnMissingMaterial(const String& name, u64 faces) {
    String message;
    message += (unsigned long)faces;
    message += faces == 1 ? " face names" : " faces name";
    message += " the material \"" + name + "\", which the file does not hold; ";
    message += faces == 1 ? "it is" : "they are";
    message += " drawn with the default material";
    scope_.WriteLog(ZVLOG_WARNING, message, kSource, __LINE__);
}

// The material each assignment is drawn with: the first material of its
// name, so that with two materials of one name the second one gets no faces.
// Faces naming a material the file does not hold are drawn with the default
// material: a file without materials has it as its material 0, any other
// file gets it as one more material after its own, once some face needs it.
// Each such name is warned about once, with its faces of all meshes.
HRESULT Loader::FindOwners(std::vector<u32>* owner) {
    owner->assign(refs_.count, kNoMaterial);
    std::unordered_map<std::string, size_t> missingIndex;
    std::vector<std::pair<u32, u64>> missing;  // per missing name: its first assignment, its faces
    for (u32 r = 0; r < refs_.count; ++r) {
        const Model3DSMeta::MatRef& ref = refs_[r];
        (*owner)[r] = MaterialOf(ref.strName);
        if ((*owner)[r] != kNoMaterial || ref.nNumFaces == 0) continue;
        auto found = missingIndex.emplace(ref.strName.c_str(), missing.size()).first;
        if (found->second == missing.size()) missing.emplace_back(r, 0);
        missing[found->second].second += ref.nNumFaces;
    }
    if (missing.empty()) return S_OK;
    if (defaultMaterial_ == kNoMaterial) {
        Model3DSMeta::MatInfos mat;
        FillDefaultMaterial(&mat);
        if (meta_->vMatInfos.Add(mat) < 0) return E_OUTOFMEMORY;
        defaultMaterial_ = meta_->vMatInfos.count - 1;
    }
    for (u32 r = 0; r < refs_.count; ++r) {
        if ((*owner)[r] == kNoMaterial && refs_[r].nNumFaces) (*owner)[r] = defaultMaterial_;
    }
    for (const auto& name : missing) WarnMissingMaterial(refs_[name.first].strName, name.second);
    return S_OK;
}

HRESULT Loader::GroupFaces() {
    Vector<Model3DSMeta::MatInfos>& mats = meta_->vMatInfos;
    std::vector<u32> owner;
    HRESULT hr = FindOwners(&owner);
    if (hr < 0) return hr;
    u64 total = 0;
    for (u32 r = 0; r < refs_.count; ++r) {
        if (owner[r] != kNoMaterial) total += 3ull * refs_[r].nNumFaces;
    }
    if (total > 0x7FFFFFFFu) {
        scope_.WriteLog(ZVLOG_ERROR, "Too many indices for the IB", kSource, __LINE__);
        return E_FAIL;
    }
    grouped_ = new (std::nothrow) u16[total ? (size_t)total : 1];
    if (!grouped_) return E_OUTOFMEMORY;
    u32 position = 0;
    for (u32 i = 0; i < mats.count; ++i) {
        Model3DSMeta::MatInfos& mat = mats[i];
        mat.nMinVertex = 0xFFFFFFFFu;
        mat.nNumVertices = 0;
        mat.nNumIndices = 0;
        u32 vertexEnd = 0;
        for (u32 r = 0; r < refs_.count; ++r) {
            if (owner[r] != i) continue;
            Model3DSMeta::MatRef& ref = refs_[r];
            mat.nNumIndices += 3 * ref.nNumFaces;
            for (u32 f = 0; f < ref.nNumFaces; ++f) {
                std::memcpy(grouped_ + position, faceTable_ + 3 * (size_t)ref.pFaces[f], 3 * sizeof(u16));
                position += 3;
            }
            delete[] ref.pFaces;
            ref.pFaces = nullptr;
            if (ref.nVertexBase < mat.nMinVertex) mat.nMinVertex = ref.nVertexBase;
            if (ref.nVertexEnd > vertexEnd) vertexEnd = ref.nVertexEnd;
        }
        mat.nNumVertices = vertexEnd > mat.nMinVertex ? vertexEnd - mat.nMinVertex : 0;
        mat.nFirstIndex = position - mat.nNumIndices;
    }
    FreeMatRefs();
    names_ = Vector<String>();
    delete[] faceTable_;
    faceTable_ = nullptr;
    indexTotal_ = position;
    return S_OK;
}

HRESULT Loader::CorrectRuns() {
    Vector<Model3DSMeta::MatInfos>& mats = meta_->vMatInfos;
    u32 out = 0;
    for (u32 i = 0; i < mats.count; ++i) {
        Model3DSMeta::MatInfos& mat = mats[i];
        u32 count = mat.nNumIndices;
        // A material without faces keeps its empty run and is never drawn.
        if (count >= 3) {
            u16* run = grouped_ + mat.nFirstIndex;
            u16* corrected = run;
            HRESULT hr = graphics_->CorrectIndices(&corrected, &count);
            if (hr < 0) return hr;
            if (count > mat.nNumIndices) return E_FAIL;
            // Runs only shrink, so each one moves towards the start.
            if (count && corrected) std::memmove(grouped_ + out, corrected, count * sizeof(u16));
        } else {
            count = 0;
        }
        mat.nFirstIndex = out;
        mat.nNumIndices = count;
        out += count;
    }
    indexTotal_ = out;
    if (indexTotal_ == 0) {
        scope_.WriteLog(ZVLOG_ERROR, "The model has no triangle to draw", kSource, __LINE__);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT Loader::CreateIndexBuffer() {
    HRESULT hr = graphics_->CreateIB(indexTotal_, false, &meta_->pIB);
    if (hr < 0) return hr;
    if ((hr = meta_->pIB->Lock(&ibData_, &ibCopy_)) < 0) return hr;
    lockedIB_ = meta_->pIB;
    if (!ibData_ || !ibCopy_) return E_FAIL;
    std::memcpy(ibData_, grouped_, indexTotal_ * sizeof(u16));
    std::memcpy(ibCopy_, grouped_, indexTotal_ * sizeof(u16));
    return S_OK;
}

void Loader::LogInfos() {
    scope_.WriteLog(ZVLOG_INFO, "Infos of the 3DS model : " + File::GetFullPath(file_) + file_, kSource, __LINE__);
    String counts;
    counts += (unsigned int)meta_->vMatInfos.count;
    counts += " materials for ";
    counts += (unsigned int)meshCount_;
    counts += " meshes with ";
    counts += (unsigned int)(indexTotal_ / 3);
    counts += " tris & ";
    counts += (unsigned int)vertexTotal_;
    counts += " verts";
    scope_.WriteLog(ZVLOG_INFO, counts, kSource, __LINE__);
    String box("vMin = ");
    box += meta_->vMin;
    box += " - vMax = ";
    box += meta_->vMax;
    scope_.WriteLog(ZVLOG_INFO, box, kSource, __LINE__);
}

void Loader::ComputeNormals() {
    // Each triangle adds its unit normal to its three corners, in index
    // order, so that every vertex sums the same normals in the same order as
    // a scan of the whole index buffer per vertex would.
    for (u32 t = 0; t + 2 < indexTotal_; t += 3) {
        const u16* tri = grouped_ + t;
        const Vector3& p0 = vertices_[tri[0]].vPos;
        const Vector3& p1 = vertices_[tri[1]].vPos;
        const Vector3& p2 = vertices_[tri[2]].vPos;
        Vector3 normal;
        normal.Cross(p2 - p1, p1 - p0);
        normal.Normalize();
        for (u32 c = 0; c < 3; ++c) vertices_[tri[c]].vNormal += normal;
    }
    for (u32 v = 0; v < vertexTotal_; ++v) vertices_[v].vNormal.Normalize();
    std::memcpy(vbData_, vertices_, vertexTotal_ * sizeof(Model3DSMeta::Vertex));
}

HRESULT Loader::Unlock() {
    IVertexBuffer* vb = lockedVB_;
    lockedVB_ = nullptr;
    HRESULT hr = vb->Unlock();
    if (hr < 0) return hr;
    IIndexBuffer* ib = lockedIB_;
    lockedIB_ = nullptr;
    return ib->Unlock();
}

HRESULT Loader::LoadTextures() {
    Model3DSMeta& m = *meta_;
    HRESULT hr = m.vTextures.Reserve(m.vMatInfos.count, true);
    if (scope_.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    for (u32 i = 0; i < m.vTextures.count; ++i) m.vTextures[i] = nullptr;
    for (u32 i = 0; i < m.vMatInfos.count; ++i) {
        const char* name = m.vMatInfos[i].strTexture.c_str();
        if (!name[0]) continue;
        ITexture* texture = nullptr;
        if (graphics_->CreateTexture(name, &texture) >= 0 && texture) {
            m.vTextures[i] = texture;
        } else {
            scope_.WriteLog(ZVLOG_WARNING, String("Texture ") + name + " cannot be loaded; its material is drawn untextured",
                            kSource, __LINE__);
        }
    }
    return S_OK;
}

// The names the toolkit had to cut to fit its records while reading file,
// one warning each.
void LogNameNotices(CallScope& scope, const FileRec3ds* file) {
    for (u32 i = 0; i < CountNameNotices3ds(file); ++i)
        scope.WriteLog(ZVLOG_WARNING, NameNotice3ds(file, i), kSource, __LINE__);
}

}  // namespace

// ---------------------------------------------------------------------------

Model3DSMeta::Model3DSMeta() : strFile("NO_FILE"), pVB(nullptr), pIB(nullptr), nRef(1) { matWorld.SetIdentity(); }

Model3DSMeta::~Model3DSMeta() {
    if (pVB) pVB->Release();
    if (pIB) pIB->Release();
    for (u32 i = 0; i < vTextures.count; ++i) {
        if (vTextures[i]) vTextures[i]->Release();
    }
}

u32 Model3DSMeta::AddRef() { return ++nRef; }

u32 Model3DSMeta::Release() {
    if (nRef == 0) return 0;
    if (--nRef > 0) return nRef;
    delete this;
    return 0;
}

HRESULT Model3DSMeta::Print3DSErrors() {
    if (!errorsPending) return S_OK;
    CallScope scope(nullptr, "Print3DSErrors()");
    String message("3DSError(s) : ");
    const ErrorRec3ds* list = GetErrorList3ds();
    if (list[0].code == 0) {
        message += "No registred error";
    } else {
        for (u32 i = 0; i < ERROR_SLOTS_3DS && list[i].code != 0; ++i) {
            if (i > 0) message += "\n";
            message += list[i].text ? list[i].text : ErrorText3ds(list[i].code);
        }
    }
    scope.WriteLog(ZVLOG_ERROR, message, kSource, __LINE__);
    ClearErrors3ds();
    return E_FAIL;
}

HRESULT Model3DSMeta::Load3DS(const String& file, IGraphics* graphics) {
    CallScope scope(nullptr, "Model3DSMeta::Load3DS()");
    if (!graphics) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    matWorld.SetIdentity();
    Loader loader(this, graphics, scope, file);
    HRESULT hr = loader.Run();
    loader.Release();
    LogNameNotices(scope, loader.chunkFile);
    scope.ReportFailure("Error while loading the Model " + file, kSource, __LINE__, hr);
    FreeDatabase3ds(&loader.database);
    CloseChunkFile3ds(loader.chunkFile);
    loader.chunkFile = nullptr;
    if (scope.ReportFailure("-", kSource, __LINE__, Print3DSErrors()) < 0) return ZVE_SUBFUNCTION;
    return hr;
}
