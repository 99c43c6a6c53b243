// The chunk tree of the 3DS toolkit: nodes, reading the tree from a file,
// lazy payload decoding, cloning, the database and the keyframer step.
#include "toolkit3ds.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tkinternal3ds.h"

// ---------------------------------------------------------------- nodes

ChunkNode3ds* NewChunkNode3ds(ChunkNode3ds** out) {
    if (!out) {
        AddError3ds(ERR_INVALID_ARG);
        return nullptr;
    }
    *out = static_cast<ChunkNode3ds*>(calloc(1, sizeof(ChunkNode3ds)));
    if (!*out) {
        AddError3ds(ERR_NO_MEM);
        return nullptr;
    }
    (*out)->fileIndex = 255;
    (*out)->flags2 = 255;
    return *out;
}

void FreeChunkData3ds(ChunkNode3ds* node) {
    if (!node || !node->data) return;
    FreeDataRecord3ds(node->tag, node->data);
    node->data = nullptr;
}

void FreeChunkNode3ds(ChunkNode3ds* node) {
    if (!node) return;
    // Iterative: a deep or long tree never exhausts the stack.
    std::vector<ChunkNode3ds*> pending;
    pending.push_back(node);
    while (!pending.empty()) {
        ChunkNode3ds* n = pending.back();
        pending.pop_back();
        for (ChunkNode3ds* c = n->children; c; c = c->sibling) pending.push_back(c);
        FreeChunkData3ds(n);
        free(n);
    }
}

ChunkNode3ds* SearchChunk3ds(ChunkNode3ds* node, u32_3ds tag) {
    if (!node) return nullptr;
    if (node->tag == tag) return node;
    // Depth first, children in order: a stack of the next sibling to visit.
    std::vector<ChunkNode3ds*> stack;
    if (node->children) stack.push_back(node->children);
    while (!stack.empty()) {
        ChunkNode3ds* n = stack.back();
        stack.pop_back();
        if (n->tag == tag) return n;
        if (n->sibling) stack.push_back(n->sibling);
        if (n->children) stack.push_back(n->children);
    }
    return nullptr;
}

ChunkNode3ds* SearchSibling3ds(ChunkNode3ds* node, u32_3ds tag) {
    for (ChunkNode3ds* n = node; n; n = n->sibling)
        if (n->tag == tag) return n;
    return nullptr;
}

u32_3ds CountChunks3ds(ChunkNode3ds* node, u32_3ds tag) {
    u32_3ds count = 0;
    for (ChunkNode3ds* n = node; n; n = n->sibling)
        if (n->tag == tag) ++count;
    return count;
}

void AppendChild3ds(ChunkNode3ds* parent, ChunkNode3ds* child) {
    if (!parent || !child) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    if (!parent->children) {
        parent->children = child;
        return;
    }
    ChunkNode3ds* last = parent->children;
    while (last->sibling) last = last->sibling;
    last->sibling = child;
}

i32_3ds ChunkWriteOrder3ds(u32_3ds tag) {
    switch (tag) {
    case 0x0000: return 35;
    case 0x2D2D: return 34;
    case 0x2D3D: return 33;
    case 0x4D4D: return 32;
    case 0x0002: return 31;
    case 0x3D3D: return 30;
    case 0xB000: return 29;
    case 0x0011: return 28;
    case 0x0012: return 27;
    case 0x3D3E: return 26;
    case 0xAFFF: return 25;
    case 0xB00A: return 24;
    case 0x0100: return 23;
    case 0x7001: return 22;
    case 0x1400: return 21;
    case 0x1420: return 20;
    case 0x1450: return 19;
    case 0x1460: return 18;
    case 0x1500: return 17;
    case 0x2100: return 16;
    case 0x1200: return 15;
    case 0x1100: return 14;
    case 0x1300: return 13;
    case 0x1101: case 0x1201: case 0x1301: return 12;
    case 0x2200: return 11;
    case 0x2302: return 10;
    case 0x2300: return 9;
    case 0x3000: return 8;
    case 0x4000: return 7;
    case 0xB008: return 6;
    case 0xB009: return 5;
    case 0xB002: case 0xB003: case 0xB004: case 0xB006: case 0xB007: return 4;
    case 0xB001: return 3;
    case 0x4100: case 0x4600: case 0x4700: return 2;
    case 0x4010: return 1;
    default: return 0;
    }
}

void InsertChildByOrder3ds(ChunkNode3ds* parent, ChunkNode3ds* child) {
    if (!parent || !child) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    i32_3ds order = ChunkWriteOrder3ds(child->tag);
    ChunkNode3ds* prev = nullptr;
    for (ChunkNode3ds* n = parent->children; n; prev = n, n = n->sibling) {
        if (ChunkWriteOrder3ds(n->tag) < order) {
            child->sibling = n;
            if (prev) prev->sibling = child;
            else parent->children = child;
            return;
        }
    }
    child->sibling = nullptr;
    if (prev) prev->sibling = child;
    else parent->children = child;
}

void AddXDataString3ds(ChunkNode3ds* parent, const char* text) {
    if (!text) return;
    if (!parent) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    ChunkNode3ds* node = nullptr;
    NewChunkNode3ds(&node);
    if (errorsPending) return;
    node->tag = 0x80F0;
    NameData3ds* rec = static_cast<NameData3ds*>(calloc(1, sizeof(NameData3ds)));
    if (rec) rec->name = DupString3ds(text);
    if (!rec || !rec->name) {
        free(rec);
        free(node);
        AddError3ds(ERR_NO_MEM);
        return;
    }
    node->data = rec;
    InsertChildByOrder3ds(parent, node);
}

// ---------------------------------------------------------------- cloning

namespace {

ChunkNode3ds* CloneOne(ChunkNode3ds* src) {
    ChunkNode3ds* copy = nullptr;
    NewChunkNode3ds(&copy);
    if (errorsPending) return nullptr;
    copy->tag = src->tag;
    copy->size = src->size;
    copy->position = src->position;
    copy->fileIndex = src->fileIndex;
    copy->flags2 = src->flags2;
    if (src->data) {
        if (src->fileIndex != 255) {
            copy->data = src->data;  // the source decodes again when asked
            src->data = nullptr;
        } else {
            copy->data = CopyChunkData3ds(src->tag, src->data);
            if (!copy->data) {
                free(copy);
                AddError3ds(ERR_NO_MEM);
                return nullptr;
            }
        }
    }
    return copy;
}

}  // namespace

void CloneChunkTree3ds(ChunkNode3ds* node, ChunkNode3ds** out) {
    if (!node || !out) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    *out = nullptr;
    ChunkNode3ds* root = CloneOne(node);
    if (errorsPending) return;
    // Pairs (source, copy) whose children still have to be copied.
    std::vector<std::pair<ChunkNode3ds*, ChunkNode3ds*>> work;
    work.emplace_back(node, root);
    while (!work.empty()) {
        std::pair<ChunkNode3ds*, ChunkNode3ds*> item = work.back();
        work.pop_back();
        ChunkNode3ds* last = nullptr;
        for (ChunkNode3ds* c = item.first->children; c; c = c->sibling) {
            ChunkNode3ds* cc = CloneOne(c);
            if (errorsPending) {
                FreeChunkNode3ds(root);
                return;
            }
            if (last) last->sibling = cc;
            else item.second->children = cc;
            last = cc;
            if (c->children) work.emplace_back(c, cc);
        }
    }
    *out = root;
}

// ---------------------------------------------------------------- reading the tree

namespace {

// Moves past a zero-terminated name, read to its terminator, which must lie
// within the node's chunk.
void SkipName(const ChunkNode3ds* node) {
    const uint64_t end = uint64_t(node->position) + node->size;
    for (uint64_t pos = FileTell3ds(); !errorsPending; ++pos) {
        if (pos >= end) {
            AddError3ds(ERR_INVALID_CHUNK);
            return;
        }
        if (GetByte3ds() == 0) return;
    }
}

// Moves the current file from the start of node's payload to its first
// nested chunk.  False for a leaf (no nested chunks).
bool SkipToSubChunks(ChunkNode3ds* node) {
    switch (node->tag) {
    case 0x4D4D: case 0x3D3D: case 0x3DAA: case 0x3DFF: case 0xC23D: case 0x4100: case 0xAFFF:
    case 0x8000: case 0x8001: case 0x1200: case 0x2100: case 0x3000: case 0x2D2D: case 0x2D3D:
    case 0xB000: case 0xB001: case 0xB002: case 0xB003: case 0xB004: case 0xB005: case 0xB006: case 0xB007:
    case 0xA010: case 0xA020: case 0xA030: case 0xA040: case 0xA041: case 0xA042: case 0xA050:
    case 0xA052: case 0xA053: case 0xA084:
    case 0xA200: case 0xA204: case 0xA210: case 0xA220: case 0xA230: case 0xA33A: case 0xA33C:
    case 0xA33D: case 0xA33E: case 0xA340: case 0xA342: case 0xA344: case 0xA346: case 0xA348:
    case 0xA34A: case 0xA34C:
        return true;
    case 0x4000: case 0x3080: case 0xB011: case 0xA000: case 0xA300: case 0x1100: case 0x4181:
        SkipName(node);
        return true;
    case 0xB010:
        SkipName(node);
        if (!errorsPending) FileSeek3ds(FileTell3ds() + 6);
        return true;
    case 0xB00A:
        GetWord3ds();
        if (!errorsPending) SkipName(node);
        if (!errorsPending) GetDword3ds();
        return true;
    case 0x4120: {
        u32_3ds faces = GetWord3ds();
        if (errorsPending) return true;
        // 64-bit: the face table must lie inside the chunk (checked by the caller).
        uint64_t pos = uint64_t(node->position) + 8 + uint64_t(faces) * 8;
        if (pos > uint64_t(node->position) + node->size) {
            AddError3ds(ERR_INVALID_CHUNK);
            return true;
        }
        FileSeek3ds(static_cast<u32_3ds>(pos));
        return true;
    }
    default: break;
    }
    u32_3ds fixed = ChunkFixedPart3ds(node->tag);
    if (fixed == 0xFFFFFFFFu) return false;
    FileSeek3ds(node->position + 6 + fixed);
    return true;
}

bool ReadTree(ChunkNode3ds* node, u32_3ds depth);

// Reads one child header at pos; null (with the reason recorded) on failure.
ChunkNode3ds* ReadChildHead(u32_3ds pos, u8_3ds fileIndex) {
    ChunkNode3ds* child = nullptr;
    NewChunkNode3ds(&child);
    if (errorsPending) return nullptr;
    child->position = pos;
    child->fileIndex = fileIndex;
    GetChunkHead3ds(&child->tag, &child->size);
    if (errorsPending) {
        free(child);
        return nullptr;
    }
    return child;
}

// Size check of a chunk at node->position against the end of its parent.
bool ChunkSizeValid(const ChunkNode3ds* node, uint64_t parentEnd) {
    uint64_t fixed = ChunkFixedPart3ds(node->tag);
    if (fixed == 0xFFFFFFFFu) fixed = 0;
    if (uint64_t(node->size) < 6 + fixed) return false;
    return uint64_t(node->position) + node->size <= parentEnd;
}

bool ReadTreeLevel(ChunkNode3ds* node, u32_3ds depth) {
    if (depth > MAX_CHUNK_DEPTH_3DS) {
        AddError3ds(ERR_INVALID_CHUNK);
        return false;
    }
    SelectFileByIndex3ds(node->fileIndex);
    FileSeek3ds(node->position + 6);
    if (errorsPending) return false;
    bool hasChildren = SkipToSubChunks(node);
    if (errorsPending) return false;
    if (!hasChildren) return true;
    const uint64_t end = uint64_t(node->position) + node->size;
    uint64_t pos = FileTell3ds();
    if (errorsPending) return false;
    if (pos > end) {
        AddError3ds(ERR_INVALID_CHUNK);
        return false;
    }
    ChunkNode3ds* last = nullptr;
    while (pos < end) {
        if (pos + 6 > end) {
            AddError3ds(ERR_INVALID_CHUNK);
            return false;
        }
        FileSeek3ds(static_cast<u32_3ds>(pos));
        ChunkNode3ds* child = ReadChildHead(static_cast<u32_3ds>(pos), node->fileIndex);
        if (!child) return false;
        if (node->tag == 0x8001) {
            // Extension chunks: only 0x8002-0x800F are kept; anything else
            // ends the parent without error.
            bool known = child->tag >= 0x8002 && child->tag <= 0x800F;
            if (!known || uint64_t(child->position) + child->size > end || child->size < 6) {
                free(child);
                break;
            }
        } else if (!ChunkSizeValid(child, end)) {
            free(child);
            AddError3ds(ERR_INVALID_CHUNK);
            return false;
        }
        if (last) last->sibling = child;
        else node->children = child;
        last = child;
        if (!ReadTree(child, depth + 1)) return false;
        pos = uint64_t(child->position) + child->size;
    }
    return true;
}

// Each level of the tree that fails adds its own ERR_READING_DATABASE.
bool ReadTree(ChunkNode3ds* node, u32_3ds depth) {
    if (ReadTreeLevel(node, depth)) return true;
    AddError3ds(ERR_READING_DATABASE);
    return false;
}

}  // namespace

void ReadChunkTree3ds(ChunkNode3ds* node) {
    if (!node) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    ReadTree(node, 0);
}

// ---------------------------------------------------------------- database

void NewDatabase3ds(Database3ds** db) {
    if (!db) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    if (!*db) {
        *db = static_cast<Database3ds*>(calloc(1, sizeof(Database3ds)));
        if (!*db) {
            AddError3ds(ERR_NO_MEM);
            return;
        }
    }
    (*db)->top = nullptr;
    (*db)->objectsStale = (*db)->materialsStale = (*db)->nodesStale = 1;
    (*db)->objects = (*db)->materials = (*db)->nodes = nullptr;
}

void FreeNameList3ds(NameList3ds** list) {
    if (!list || !*list) return;
    for (u32_3ds i = 0; i < (*list)->count; ++i) free((*list)->entries[i].name);
    free((*list)->entries);
    free(*list);
    *list = nullptr;
}

void FreeDatabase3ds(Database3ds** db) {
    if (!db || !*db) return;
    FreeChunkNode3ds((*db)->top);
    FreeNameList3ds(&(*db)->objects);
    FreeNameList3ds(&(*db)->materials);
    FreeNameList3ds(&(*db)->nodes);
    free(*db);
    *db = nullptr;
}

// ---------------------------------------------------------------- keyframer

namespace {

std::vector<KfNodeEntry3ds> kfNodes;

void FreeKfNodes() {
    for (KfNodeEntry3ds& e : kfNodes) {
        free(e.name);
        free(e.instance);
    }
    kfNodes.clear();
    kfNodes.shrink_to_fit();
}

const u32_3ds kfNodeTags[] = {0xB004, 0xB002, 0xB003, 0xB005, 0xB006, 0xB007};

bool IsKfNodeTag(u32_3ds tag) {
    for (u32_3ds t : kfNodeTags)
        if (t == tag) return true;
    return false;
}

// Each failure is recorded; the step goes on (FillDatabase3ds then fails).
void BuildNodeList(Database3ds* db) {
    FreeKfNodes();
    ChunkNode3ds* kf = SearchChunk3ds(db->top, 0xB000);
    if (!kf) return;
    bool renumber = false;
    for (ChunkNode3ds* n = kf->children; n; n = n->sibling) {
        if (!IsKfNodeTag(n->tag)) continue;
        ChunkNode3ds* hdr = SearchChunk3ds(n, 0xB010);
        if (!hdr) continue;
        KfNodeEntry3ds e = {0xFFFF, n->tag, nullptr, nullptr, 0xFFFF};
        ChunkNode3ds* idNode = SearchChunk3ds(n, 0xB030);
        if (idNode) {
            WordData3ds* id = static_cast<WordData3ds*>(LoadChunkData3ds(idNode));
            if (id) e.id = id->value;
            FreeChunkData3ds(idNode);
        }
        NodeHeaderData3ds* h = static_cast<NodeHeaderData3ds*>(LoadChunkData3ds(hdr));
        if (h) {
            e.name = DupString3ds(h->name);
            e.parent = h->parent;
        }
        FreeChunkData3ds(hdr);
        if (n->tag == 0xB002) {
            ChunkNode3ds* inst = SearchChunk3ds(n, 0xB011);
            if (inst) {
                NameData3ds* nd = static_cast<NameData3ds*>(LoadChunkData3ds(inst));
                if (nd) e.instance = DupString3ds(nd->name);
                FreeChunkData3ds(inst);
            }
        }
        if (e.id == 0xFFFF) renumber = true;
        kfNodes.push_back(e);
    }
    if (renumber)
        for (size_t i = 0; i < kfNodes.size(); ++i) kfNodes[i].id = static_cast<u16_3ds>(i);
}

void AddParentNames(Database3ds* db) {
    ChunkNode3ds* kf = SearchChunk3ds(db->top, 0xB000);
    if (!kf) return;
    for (u32_3ds tag : kfNodeTags) {
        ChunkNode3ds* first = SearchChunk3ds(kf, tag);
        for (ChunkNode3ds* n = first; n; n = SearchSibling3ds(n->sibling, tag)) {
            ChunkNode3ds* hdr = SearchChunk3ds(n, 0xB010);
            ChunkNode3ds* idNode = SearchChunk3ds(n, 0xB030);
            if (!hdr || !idNode) continue;
            WordData3ds* idRec = static_cast<WordData3ds*>(LoadChunkData3ds(idNode));
            if (!idRec) continue;
            u16_3ds id = idRec->value;
            FreeChunkData3ds(idNode);
            KfNodeEntry3ds* self = FindNodeById3ds(id);
            if (!self || self->parent == 0xFFFF) continue;
            KfNodeEntry3ds* parent = FindNodeById3ds(self->parent);
            if (!parent || !parent->name) continue;
            std::string text = parent->name;
            if (parent->instance) {
                text += '.';
                text += parent->instance;
            }
            ChunkNode3ds* xdata = nullptr;
            for (ChunkNode3ds* c = hdr->children; c && !xdata; c = c->sibling) xdata = SearchChunk3ds(c, 0x80F0);
            if (xdata) {
                if (xdata->data) {  // made in memory: replace its text
                    NameData3ds* nd = static_cast<NameData3ds*>(xdata->data);
                    char* copy = DupString3ds(text.c_str());
                    if (!copy) {
                        AddError3ds(ERR_NO_MEM);
                        continue;
                    }
                    free(nd->name);
                    nd->name = copy;
                }
            } else {
                bool before = errorsPending;
                errorsPending = false;
                AddXDataString3ds(hdr, text.c_str());
                errorsPending = errorsPending || before;
            }
        }
    }
}

}  // namespace

KfNodeEntry3ds* FindNodeById3ds(u16_3ds id) {
    for (KfNodeEntry3ds& e : kfNodes)
        if (e.id == id) return &e;
    return nullptr;
}

void FillDatabase3ds(FileRec3ds* file, Database3ds** db) {
    if (!file || !db || !*db) {
        AddError3ds(ERR_INVALID_ARG);
        return;
    }
    if (!(file->mode & MODE_READ_3DS)) return;
    ClearNameNotices3ds(file);  // a new read of the file
    Database3ds* d = *db;
    FreeChunkNode3ds(d->top);
    d->top = nullptr;
    d->objectsStale = d->materialsStale = d->nodesStale = 1;
    ChunkNode3ds* top = nullptr;
    NewChunkNode3ds(&top);
    if (errorsPending) {
        AddError3ds(ERR_CREATING_DATABASE);
        return;
    }
    d->top = top;
    top->fileIndex = file->index;
    SetCurrentFile3ds(file);
    FileSeek3ds(0);
    if (!errorsPending) GetChunkHead3ds(&top->tag, &top->size);
    if (errorsPending) {
        AddError3ds(ERR_CREATING_DATABASE);
        return;
    }
    if (top->tag != 0x4D4D && top->tag != 0xC23D && top->tag != 0x3DAA) return;
    if (top->size < 6) {
        AddError3ds(ERR_INVALID_CHUNK);
        AddError3ds(ERR_CREATING_DATABASE);
        return;
    }
    ReadChunkTree3ds(top);
    if (errorsPending) {
        AddError3ds(ERR_CREATING_DATABASE);
        return;
    }
    // The keyframer step runs to its end even after an error.
    BuildNodeList(d);
    AddParentNames(d);
    FreeKfNodes();
    if (errorsPending) AddError3ds(ERR_CREATING_DATABASE);
}
