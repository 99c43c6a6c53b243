// Mesh and material records of the 3DS toolkit: the name lists of the
// database and the fetch operations that hand self-contained records out.
#include <cstdlib>
#include <cstring>

#include "tkinternal3ds.h"

namespace {

NameList3ds* NewNameList(u32_3ds count) {
    NameList3ds* list = static_cast<NameList3ds*>(calloc(1, sizeof(NameList3ds)));
    if (!list) return nullptr;
    if (count) {
        list->entries = static_cast<NameListEntry3ds*>(calloc(count, sizeof(NameListEntry3ds)));
        if (!list->entries) {
            free(list);
            return nullptr;
        }
    }
    return list;
}

void RebuildObjects(Database3ds* db) {
    if (!db->objectsStale) return;
    FreeNameList3ds(&db->objects);
    ChunkNode3ds* mdata = SearchChunk3ds(db->top, 0x3D3D);
    ChunkNode3ds* first = mdata ? SearchChunk3ds(mdata, 0x4000) : nullptr;
    u32_3ds count = CountChunks3ds(first, 0x4000);
    db->objects = NewNameList(count);
    if (!db->objects) {
        AddError3ds(ERR_NO_MEM);
        return;
    }
    for (ChunkNode3ds* n = first; n; n = SearchSibling3ds(n->sibling, 0x4000)) {
        NameData3ds* rec = static_cast<NameData3ds*>(LoadChunkData3ds(n));
        if (errorsPending) return;
        NameListEntry3ds& e = db->objects->entries[db->objects->count++];
        e.node = n;
        e.name = DupString3ds(rec && rec->name ? rec->name : "");
        if (!e.name) {
            AddError3ds(ERR_NO_MEM);
            return;
        }
    }
    db->objectsStale = 0;
}

void RebuildMaterials(Database3ds* db) {
    if (!db->materialsStale) return;
    FreeNameList3ds(&db->materials);
    ChunkNode3ds* holder = SearchChunk3ds(db->top, 0x3D3D);
    if (!holder) holder = SearchChunk3ds(db->top, 0x3DAA);
    ChunkNode3ds* first = holder ? SearchChunk3ds(holder, 0xAFFF) : nullptr;
    u32_3ds count = CountChunks3ds(first, 0xAFFF);
    db->materials = NewNameList(count);
    if (!db->materials) {
        AddError3ds(ERR_NO_MEM);
        return;
    }
    for (ChunkNode3ds* n = first; n; n = SearchSibling3ds(n->sibling, 0xAFFF)) {
        const char* name = "";
        ChunkNode3ds* nameNode = SearchChunk3ds(n, 0xA000);
        if (nameNode) {
            NameData3ds* rec = static_cast<NameData3ds*>(LoadChunkData3ds(nameNode));
            if (errorsPending) return;
            if (rec && rec->name) name = rec->name;
        }
        NameListEntry3ds& e = db->materials->entries[db->materials->count++];
        e.node = n;
        e.name = DupString3ds(name);
        if (!e.name) {
            AddError3ds(ERR_NO_MEM);
            return;
        }
    }
    db->materialsStale = 0;
}

bool HasMesh(ChunkNode3ds* object) {
    for (ChunkNode3ds* c = object->children; c; c = c->sibling)
        if (SearchChunk3ds(c, 0x4100)) return true;
    return false;
}

// A mesh record being filled from the chunks of its object.
struct MeshFill {
    MeshData3ds* mesh;
    u32_3ds groups;      // material groups in the mesh's first face list
    u32_3ds nSmoothing;  // entries of the smoothing list read
};

// Moves an array and its count out of a decoded record into the mesh,
// replacing what the mesh held there: the record no longer owns it.
template <typename T, typename N>
void MoveArray(T*& to, N& toCount, T*& from, N& fromCount) {
    free(to);
    to = from;
    toCount = fromCount;
    from = nullptr;
    fromCount = 0;
}

// The chunks nested in a face list, in file order: the material groups (as
// many as there are slots for), the smoothing list and the box map.
void ReadFaceGroups(ChunkNode3ds* faces, MeshFill& fill) {
    MeshData3ds* mesh = fill.mesh;
    for (ChunkNode3ds* g = faces->children; g; g = g->sibling) {
        if (g->tag == 0x4130) {
            if (mesh->nMatGroups >= fill.groups) break;
            MatGroupData3ds* mg = static_cast<MatGroupData3ds*>(LoadChunkData3ds(g));
            if (errorsPending) return;
            MeshMatGroup3ds& out = mesh->matGroups[mesh->nMatGroups++];
            CopyName3ds(out.name, sizeof out.name, mg->name, "Material", GetFileByIndex3ds(g->fileIndex));
            MoveArray(out.faces, out.nFaces, mg->faces, mg->count);
        } else if (g->tag == 0x4150) {
            SmoothData3ds* s = static_cast<SmoothData3ds*>(LoadChunkData3ds(g));
            if (errorsPending) return;
            MoveArray(mesh->smoothing, fill.nSmoothing, s->groups, s->count);
        } else if (g->tag == 0x4190) {
            BoxMapData3ds* b = static_cast<BoxMapData3ds*>(LoadChunkData3ds(g));
            if (errorsPending) return;
            mesh->useBoxMap = 1;
            memcpy(mesh->boxMap, b->names, sizeof mesh->boxMap);
        }
    }
}

// The face list (0x4120) and the chunks nested in it.
void ReadFaces(ChunkNode3ds* faces, MeshFill& fill) {
    MeshData3ds* mesh = fill.mesh;
    FaceArray3ds* r = static_cast<FaceArray3ds*>(LoadChunkData3ds(faces));
    if (errorsPending) return;
    MoveArray(mesh->faces, mesh->nFaces, r->faces, r->count);
    // The material groups, in file order.  Their number fits the u16
    // counter: a larger number of groups is an invalid chunk.
    if (fill.groups > 0xFFFF) {
        AddError3ds(ERR_INVALID_CHUNK);
        return;
    }
    if (fill.groups && !mesh->matGroups) {
        mesh->matGroups = static_cast<MeshMatGroup3ds*>(calloc(fill.groups, sizeof(MeshMatGroup3ds)));
        if (!mesh->matGroups) {
            AddError3ds(ERR_NO_MEM);
            return;
        }
    }
    ReadFaceGroups(faces, fill);
}

// One chunk of the mesh (0x4100) into its fields; other tags are ignored.
void ReadMeshChunk(ChunkNode3ds* c, MeshFill& fill) {
    MeshData3ds* mesh = fill.mesh;
    switch (c->tag) {
    case 0x4110: {
        PointArray3ds* r = static_cast<PointArray3ds*>(LoadChunkData3ds(c));
        if (errorsPending) return;
        MoveArray(mesh->vertices, mesh->nVertices, r->points, r->count);
        break;
    }
    case 0x4111: {
        WordArray3ds* r = static_cast<WordArray3ds*>(LoadChunkData3ds(c));
        if (errorsPending) return;
        MoveArray(mesh->vertexFlags, mesh->nVertexFlags, r->words, r->count);
        break;
    }
    case 0x4120: ReadFaces(c, fill); break;
    case 0x4140: {
        TexVertArray3ds* r = static_cast<TexVertArray3ds*>(LoadChunkData3ds(c));
        if (errorsPending) return;
        MoveArray(mesh->texVerts, mesh->nTexVerts, r->uv, r->count);
        break;
    }
    case 0x4160: {
        MatrixData3ds* r = static_cast<MatrixData3ds*>(LoadChunkData3ds(c));
        if (errorsPending) return;
        memcpy(mesh->localMatrix, r->m, sizeof mesh->localMatrix);
        break;
    }
    case 0x4165: {
        ByteData3ds* r = static_cast<ByteData3ds*>(LoadChunkData3ds(c));
        if (errorsPending) return;
        mesh->colourIndex = r->value;
        break;
    }
    case 0x4170: {
        MappingData3ds* r = static_cast<MappingData3ds*>(LoadChunkData3ds(c));
        if (errorsPending) return;
        mesh->useMapping = 1;
        mesh->mapping = *r;
        break;
    }
    case 0x4181: {
        NameData3ds* r = static_cast<NameData3ds*>(LoadChunkData3ds(c));
        if (errorsPending) return;
        CopyName3ds(mesh->procedureName, sizeof mesh->procedureName, r->name, "Procedure",
                    GetFileByIndex3ds(c->fileIndex));
        break;
    }
    case 0x4182: {
        ProcData3ds* r = static_cast<ProcData3ds*>(LoadChunkData3ds(c));
        if (errorsPending) return;
        MoveArray(mesh->procedureData, mesh->procedureSize, r->data, r->size);
        break;
    }
    default: break;
    }
}

// One smoothing entry per face: a shorter list is completed with 0 (the
// faces it does not reach belong to no smoothing group).
void CompleteSmoothing(MeshData3ds* mesh, u32_3ds nSmoothing) {
    if (!mesh->smoothing || nSmoothing >= mesh->nFaces) return;
    u32_3ds* all = static_cast<u32_3ds*>(realloc(mesh->smoothing, size_t(mesh->nFaces) * 4));
    if (!all) {
        AddError3ds(ERR_NO_MEM);
        return;
    }
    memset(all + nSmoothing, 0, size_t(mesh->nFaces - nSmoothing) * 4);
    mesh->smoothing = all;
}

// Every face corner names a vertex of the mesh and every group entry a face
// of it: users index their own arrays with these numbers.
void CheckIndices(const MeshData3ds* mesh) {
    const u32_3ds nVertices = mesh->nVertices, nFaces = mesh->nFaces;
    const u16_3ds* face = mesh->faces;
    for (const u16_3ds* end = face + size_t(nFaces) * 4; face != end; face += 4) {
        if (face[0] >= nVertices || face[1] >= nVertices || face[2] >= nVertices) {
            AddError3ds(ERR_INVALID_CHUNK);
            return;
        }
    }
    for (u32_3ds g = 0; g < mesh->nMatGroups; ++g) {
        const MeshMatGroup3ds& group = mesh->matGroups[g];
        for (u32_3ds i = 0; i < group.nFaces; ++i) {
            if (group.faces[i] >= nFaces) {
                AddError3ds(ERR_INVALID_CHUNK);
                return;
            }
        }
    }
}

// The object's flag chunks (0x4010-0x4017).
void ReadObjectFlags(ChunkNode3ds* object, MeshData3ds* mesh) {
    for (ChunkNode3ds* c = object->children; c; c = c->sibling) {
        switch (c->tag) {
        case 0x4010: mesh->isHidden = 1; break;
        case 0x4011: mesh->isVisLofter = 1; break;
        case 0x4013: mesh->isMatte = 1; break;
        case 0x4012: mesh->isNoCast = 1; break;
        case 0x4014: mesh->isFast = 1; break;
        case 0x4017: mesh->isNoRcvShad = 1; break;
        case 0x4016: mesh->isFrozen = 1; break;
        case 0x4015: mesh->useProc = 1; break;
        default: break;
        }
    }
}

// Fills mesh from the copied object subtree.  Arrays move out of the copy.
void FillMesh(ChunkNode3ds* object, MeshData3ds* mesh) {
    ChunkNode3ds* meshNode = SearchSibling3ds(object->children, 0x4100);
    if (!meshNode) {
        AddError3ds(ERR_WRONG_OBJECT);
        return;
    }
    NameData3ds* nameRec = static_cast<NameData3ds*>(LoadChunkData3ds(object));
    if (errorsPending) return;
    CopyName3ds(mesh->name, sizeof mesh->name, nameRec ? nameRec->name : nullptr, "Object",
                GetFileByIndex3ds(object->fileIndex));

    MeshFill fill = {mesh, 0, 0};
    if (ChunkNode3ds* faces = SearchSibling3ds(meshNode->children, 0x4120))
        fill.groups = CountChunks3ds(faces->children, 0x4130);
    for (ChunkNode3ds* c = meshNode->children; c; c = c->sibling) {
        ReadMeshChunk(c, fill);
        if (errorsPending) return;
    }
    CompleteSmoothing(mesh, fill.nSmoothing);
    if (errorsPending) return;
    CheckIndices(mesh);
    if (errorsPending) return;
    ReadObjectFlags(object, mesh);
}

}  // namespace

u32_3ds CountMeshes3ds(Database3ds* db) {
    if (!db) {
        AddError3ds(ERR_INVALID_ARG);
        return 0;
    }
    RebuildObjects(db);
    if (errorsPending || !db->objects) return 0;
    u32_3ds count = 0;
    for (u32_3ds i = 0; i < db->objects->count; ++i)
        if (HasMesh(db->objects->entries[i].node)) ++count;
    return count;
}

void FreeMesh3ds(MeshData3ds** mesh) {
    if (!mesh || !*mesh) return;
    MeshData3ds* m = *mesh;
    free(m->vertices);
    free(m->vertexFlags);
    free(m->texVerts);
    free(m->faces);
    free(m->smoothing);
    for (u32_3ds i = 0; m->matGroups && i < m->nMatGroups; ++i) free(m->matGroups[i].faces);
    free(m->matGroups);
    free(m->procedureData);
    free(m);
    *mesh = nullptr;
}

void FetchMesh3ds(Database3ds* db, u32_3ds index, MeshData3ds** out) {
    if (!db || !out) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    if (!db->top) {
        AddError3ds(ERR_INVALID_DATABASE);
        return;
    }
    if (db->top->tag != 0x4D4D && db->top->tag != 0xC23D) {
        AddError3ds(ERR_WRONG_DATABASE);
        return;
    }
    RebuildObjects(db);
    if (errorsPending || !db->objects) return;
    ChunkNode3ds* object = nullptr;
    u32_3ds seen = 0;
    for (u32_3ds i = 0; i < db->objects->count && !object; ++i) {
        if (!HasMesh(db->objects->entries[i].node)) continue;
        if (seen == index) object = db->objects->entries[i].node;
        ++seen;
    }
    if (!object) return;
    ChunkNode3ds* copy = nullptr;
    CloneChunkTree3ds(object, &copy);
    if (errorsPending) return;
    MeshData3ds* mesh = static_cast<MeshData3ds*>(calloc(1, sizeof(MeshData3ds)));
    if (!mesh) {
        FreeChunkNode3ds(copy);
        AddError3ds(ERR_NO_MEM);
        return;
    }
    FillMesh(copy, mesh);
    FreeChunkNode3ds(copy);
    if (errorsPending) {
        FreeMesh3ds(&mesh);
        return;
    }

    *out = mesh;
}

// ---------------------------------------------------------------- materials

u32_3ds CountMaterials3ds(Database3ds* db) {
    if (!db) {
        AddError3ds(ERR_INVALID_ARG);
        return 0;
    }
    RebuildMaterials(db);
    if (errorsPending || !db->materials) return 0;
    return db->materials->count;
}

namespace {

MapData3ds* MapField(MaterialData3ds* m, u32_3ds tag);
const u32_3ds kMapTags[] = {0xA200, 0xA33A, 0xA204, 0xA210, 0xA220, 0xA230, 0xA33C, 0xA33D,
                            0xA33E, 0xA340, 0xA342, 0xA344, 0xA346, 0xA348, 0xA34A, 0xA34C};

}  // namespace

void FreeMaterial3ds(MaterialData3ds** material) {
    if (!material || !*material) return;
    for (u32_3ds tag : kMapTags) free(MapField(*material, tag)->name);
    free(*material);
    *material = nullptr;
}

namespace {

const float BYTE_TO_UNIT = 0.003921569f;

void ReadColour(ChunkNode3ds* holder, float* rgb) {
    ChunkNode3ds* c11 = SearchChunk3ds(holder, 0x0011);
    if (!c11) {
        AddError3ds(ERR_UNFOUND_CHUNK);
        return;
    }
    ColourBytes3ds* c = static_cast<ColourBytes3ds*>(LoadChunkData3ds(c11));
    if (errorsPending) return;
    for (int i = 0; i < 3; ++i) rgb[i] = c->rgb[i] * BYTE_TO_UNIT;
    if (ChunkNode3ds* c12 = SearchChunk3ds(holder, 0x0012)) {
        ColourBytes3ds* g = static_cast<ColourBytes3ds*>(LoadChunkData3ds(c12));
        if (errorsPending) return;
        for (int i = 0; i < 3; ++i) rgb[i] = g->rgb[i] * BYTE_TO_UNIT;
    }
}

float ReadPercent(ChunkNode3ds* holder) {
    if (ChunkNode3ds* n = SearchSibling3ds(holder->children, 0x0030)) {
        ShortData3ds* s = static_cast<ShortData3ds*>(LoadChunkData3ds(n));
        return errorsPending ? 0.0f : s->value * 0.01f;
    }
    if (ChunkNode3ds* n = SearchSibling3ds(holder->children, 0x0031)) {
        FloatData3ds* f = static_cast<FloatData3ds*>(LoadChunkData3ds(n));
        return errorsPending ? 0.0f : f->value;
    }
    return 0.0f;
}

void ReadMap(ChunkNode3ds* holder, MapData3ds* map) {
    // A map without scale chunks shows its image once.
    map->uScale = map->vScale = 1.0f;
    for (ChunkNode3ds* c = holder->children; c; c = c->sibling) {
        if (c->tag >= 0x8000 && c->tag <= 0x80FF) continue;
        void* d = nullptr;
        switch (c->tag) {
        case 0xA300: case 0x0030: case 0x0031: case 0xA351:
        case 0xA353: case 0xA354: case 0xA356: case 0xA358: case 0xA35A: case 0xA35C:
        case 0xA360: case 0xA362: case 0xA364: case 0xA366: case 0xA368:
            d = LoadChunkData3ds(c);
            if (errorsPending) return;
            break;
        default: continue;
        }
        switch (c->tag) {
        case 0xA300: {
            // The file name is kept whole: it names a file.
            NameData3ds* name = static_cast<NameData3ds*>(d);
            free(map->name);
            map->name = name->name;
            name->name = nullptr;
            break;
        }
        case 0x0030: map->percent = static_cast<ShortData3ds*>(d)->value * 0.01f; break;
        case 0x0031: map->percent = static_cast<FloatData3ds*>(d)->value; break;
        case 0xA351: {
            u16_3ds f = static_cast<WordData3ds*>(d)->value;
            map->tiling = !(f & 0x1) ? 1 : !(f & 0x10) ? 3 : 2;
            map->ignoreAlpha = (f & 0x100) ? 1 : 0;
            map->filtering = (f & 0x20) ? 1 : 0;
            map->mirror = (f & 0x2) ? 1 : 0;
            map->negative = (f & 0x8) ? 1 : 0;
            if (f & 0x80) map->tintMode = (f & 0x40) ? 3 : 2;
            else if (f & 0x200) map->tintMode = 4;
            else map->tintMode = (f & 0x40) ? 1 : 0;
            break;
        }
        case 0xA353: map->blur = static_cast<FloatData3ds*>(d)->value; break;
        case 0xA354: map->uScale = static_cast<FloatData3ds*>(d)->value; break;
        case 0xA356: map->vScale = static_cast<FloatData3ds*>(d)->value; break;
        case 0xA358: map->uOffset = static_cast<FloatData3ds*>(d)->value; break;
        case 0xA35A: map->vOffset = static_cast<FloatData3ds*>(d)->value; break;
        case 0xA35C: map->rotation = static_cast<FloatData3ds*>(d)->value; break;
        default: {
            float* tint = c->tag == 0xA360 ? map->tint1 : c->tag == 0xA362 ? map->tint2
                        : c->tag == 0xA364 ? map->tintR : c->tag == 0xA366 ? map->tintG : map->tintB;
            for (int i = 0; i < 3; ++i) tint[i] = static_cast<ColourBytes3ds*>(d)->rgb[i] * BYTE_TO_UNIT;
            break;
        }
        }
    }
}

MapData3ds* MapField(MaterialData3ds* m, u32_3ds tag) {
    switch (tag) {
    case 0xA200: return &m->texture1;
    case 0xA33A: return &m->texture2;
    case 0xA204: return &m->specMap;
    case 0xA210: return &m->opacMap;
    case 0xA220: return &m->reflectMap;
    case 0xA230: return &m->bumpMap;
    case 0xA33C: return &m->shinMap;
    case 0xA33D: return &m->illumMap;
    case 0xA33E: return &m->tex1Mask;
    case 0xA340: return &m->tex2Mask;
    case 0xA342: return &m->opacMask;
    case 0xA344: return &m->bumpMask;
    case 0xA346: return &m->shinMask;
    case 0xA348: return &m->specMask;
    case 0xA34A: return &m->illumMask;
    case 0xA34C: return &m->reflectMask;
    default: return nullptr;
    }
}

void FillMaterial(ChunkNode3ds* matNode, MaterialData3ds* m) {
    bool fallIn = false;
    for (ChunkNode3ds* c = matNode->children; c; c = c->sibling) {
        if (c->tag >= 0x8000 && c->tag <= 0x80FF) continue;
        if (MapData3ds* map = MapField(m, c->tag)) {
            ReadMap(c, map);
            if (c->tag == 0xA230) {
                if (ChunkNode3ds* pct = SearchChunk3ds(c, 0xA252)) {
                    ShortData3ds* s = static_cast<ShortData3ds*>(LoadChunkData3ds(pct));
                    if (!errorsPending) m->bumpPercent = s->value * 0.01f;
                }
            }
            if (errorsPending) return;
            continue;
        }
        switch (c->tag) {
        case 0xA000: {
            NameData3ds* r = static_cast<NameData3ds*>(LoadChunkData3ds(c));
            if (errorsPending) return;
            CopyName3ds(m->name, sizeof m->name, r->name, "Material", GetFileByIndex3ds(c->fileIndex));
            break;
        }
        case 0xA010: ReadColour(c, m->ambient); break;
        case 0xA020: ReadColour(c, m->diffuse); break;
        case 0xA030: ReadColour(c, m->specular); break;
        case 0xA040: m->shininess = ReadPercent(c); break;
        case 0xA041: m->shinStrength = ReadPercent(c); break;
        case 0xA042: break;  // second shininess, unused
        case 0xA050: m->transparency = ReadPercent(c); break;
        case 0xA052: m->transFalloff = ReadPercent(c); break;
        case 0xA053: m->blur = ReadPercent(c); break;
        case 0xA084: m->selfIllumPct = ReadPercent(c); break;
        case 0xA087: {
            FloatData3ds* r = static_cast<FloatData3ds*>(LoadChunkData3ds(c));
            if (errorsPending) return;
            m->wireSize = r->value;
            break;
        }
        case 0xA100: {
            ShortData3ds* r = static_cast<ShortData3ds*>(LoadChunkData3ds(c));
            if (errorsPending) return;
            m->shading = r->value;
            break;
        }
        case 0xA080: m->selfIllum = 1; break;
        case 0xA081: m->twoSided = 1; break;
        case 0xA082: m->decal = 1; break;
        case 0xA083: m->additive = 1; break;
        case 0xA085: m->useWire = 1; break;
        case 0xA086: break;  // supersampling of old files
        case 0xA088: m->faceMap = 1; break;
        case 0xA08A: fallIn = true; break;
        case 0xA08B: m->superSample = 1; break;  // reserved flag
        case 0xA08C: m->soften = 1; break;
        case 0xA08E: m->useWireAbs = 1; break;
        case 0xA240: m->useFall = 1; break;
        case 0xA250: m->useBlur = 1; break;
        case 0xA252: break;  // bump percent outside its map
        case 0xA310: {
            RawData3ds* r = static_cast<RawData3ds*>(LoadChunkData3ds(c));
            if (errorsPending) return;
            m->useAutoReflect = 1;
            if (r->size >= 12) {
                const u8_3ds* b = r->bytes;
                m->acubicShade = b[0];
                m->acubicAntiAlias = b[1];
                m->acubicFlags = static_cast<u32_3ds>(b[2] | (b[3] << 8));
                m->acubicSize = static_cast<i32_3ds>(static_cast<u32_3ds>(b[4]) | (static_cast<u32_3ds>(b[5]) << 8) |
                                                     (static_cast<u32_3ds>(b[6]) << 16) | (static_cast<u32_3ds>(b[7]) << 24));
                m->acubicFrameStep = static_cast<i32_3ds>(static_cast<u32_3ds>(b[8]) | (static_cast<u32_3ds>(b[9]) << 8) |
                                                          (static_cast<u32_3ds>(b[10]) << 16) | (static_cast<u32_3ds>(b[11]) << 24));
            }
            break;
        }
        default:
            if (c->tag >= 0xA320 && c->tag <= 0xA338) break;  // map data blocks, kept in the file
            AddError3ds(ERR_INVALID_CHUNK);
            return;
        }
        if (errorsPending) return;
    }
    if (fallIn) m->transparency = -m->transparency;
}

}  // namespace

void FetchMaterial3ds(Database3ds* db, u32_3ds index, MaterialData3ds** out) {
    if (!out || !db) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    if (!db->top) {
        AddError3ds(ERR_INVALID_DATABASE);
        return;
    }
    if (db->top->tag != 0x3DAA && db->top->tag != 0x4D4D && db->top->tag != 0xC23D) {
        AddError3ds(ERR_WRONG_DATABASE);
        return;
    }
    RebuildMaterials(db);
    if (errorsPending || !db->materials || index >= db->materials->count) return;
    ChunkNode3ds* node = db->materials->entries[index].node;
    if (node->tag != 0xAFFF) {
        AddError3ds(ERR_INVALID_CHUNK);
        return;
    }
    ChunkNode3ds* copy = nullptr;
    CloneChunkTree3ds(node, &copy);
    if (errorsPending) return;
    MaterialData3ds* m = static_cast<MaterialData3ds*>(calloc(1, sizeof(MaterialData3ds)));
    if (!m) {
        FreeChunkNode3ds(copy);
        AddError3ds(ERR_NO_MEM);
        return;
    }
    FillMaterial(copy, m);
    FreeChunkNode3ds(copy);
    if (errorsPending) {
        FreeMaterial3ds(&m);
        return;
    }

    *out = m;
}
