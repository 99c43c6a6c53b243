// Chunk payloads of the 3DS toolkit: the fixed part before nested chunks,
// lazy decoding into typed records, copying and freeing those records.
//
// A payload is read in one piece into memory (never more than the chunk's
// size, and never beyond the end of the file), then decoded with a bounded
// cursor: every count is checked against the bytes that really follow it.
#include <cstdlib>
#include <cstring>

#include "tkinternal3ds.h"

u32_3ds ChunkFixedPart3ds(u32_3ds tag) {
    switch (tag) {
    case 0x4D4D: case 0x3D3D: case 0x3DAA: case 0x3DFF: case 0xC23D: case 0x4100: case 0xAFFF:
    case 0x8000: case 0x8001: case 0x1200: case 0x2100: case 0x3000: case 0x2D2D: case 0x2D3D:
    case 0xB000: case 0xB001: case 0xB002: case 0xB003: case 0xB004: case 0xB005: case 0xB006: case 0xB007:
    case 0xA010: case 0xA020: case 0xA030: case 0xA040: case 0xA041: case 0xA042: case 0xA050:
    case 0xA052: case 0xA053: case 0xA084:
    case 0xA200: case 0xA204: case 0xA210: case 0xA220: case 0xA230: case 0xA33A: case 0xA33C:
    case 0xA33D: case 0xA33E: case 0xA340: case 0xA342: case 0xA344: case 0xA346: case 0xA348:
    case 0xA34A: case 0xA34C:
        return 0;
    // Strings: at least their terminator.
    case 0x4000: case 0xA000: case 0xA300: case 0x1100: case 0x4181: case 0x3080: case 0xB011:
        return 1;
    case 0xB010: return 7;
    case 0xB00A: return 7;
    case 0x4120: return 2;  // the face count; the faces follow
    case 0x0011: return 3;
    case 0x0030: case 0x1420: case 0x1430: case 0xB030: return 2;
    case 0x0002: case 0x0031: case 0x0100: case 0x1300: case 0x1400: case 0x1410: case 0x3D3E:
    case 0xB009: case 0xB015: case 0xD000:
        return 4;
    case 0xB008: return 8;
    case 0x7001: return 14;
    case 0x0010: case 0x1500: case 0x4600: case 0xA310: case 0xB013: return 12;
    case 0x2200: case 0x2300: case 0x2302: case 0x3010: case 0x3020: case 0x3030: case 0x3040:
    case 0x3050: case 0x3060:
        return 16;
    case 0x4641: return 10;
    case 0x4610: return 20;
    case 0xB014: return 24;
    case 0x3070: return 28;
    case 0x4700: return 32;
    case 0x4160: return 48;
    default: return 0xFFFFFFFFu;  // a leaf
    }
}

namespace {

enum Kind {
    K_NAME, K_POINTS, K_WORDS, K_FACES, K_MATGROUP, K_TEXVERTS, K_SMOOTH, K_MATRIX, K_BYTE,
    K_MAPPING, K_PROC, K_BOXMAP, K_COLOUR, K_SHORT, K_WORD, K_FLOAT, K_NODEHDR, K_RAW
};

Kind KindOf(u32_3ds tag) {
    switch (tag) {
    case 0x4000: case 0xA000: case 0xA300: case 0x4181: case 0xB011: case 0x80F0: return K_NAME;
    case 0x4110: return K_POINTS;
    case 0x4111: return K_WORDS;
    case 0x4120: return K_FACES;
    case 0x4130: return K_MATGROUP;
    case 0x4140: return K_TEXVERTS;
    case 0x4150: return K_SMOOTH;
    case 0x4160: return K_MATRIX;
    case 0x4165: return K_BYTE;
    case 0x4170: return K_MAPPING;
    case 0x4182: return K_PROC;
    case 0x4190: return K_BOXMAP;
    case 0x0011: case 0x0012: case 0xA360: case 0xA362: case 0xA364: case 0xA366: case 0xA368: return K_COLOUR;
    case 0x0030: case 0xA100: case 0xA252: return K_SHORT;
    case 0xA351: case 0xB030: return K_WORD;
    case 0x0031: case 0xA087: case 0xA353: case 0xA354: case 0xA356: case 0xA358: case 0xA35A: case 0xA35C:
        return K_FLOAT;
    case 0xB010: return K_NODEHDR;
    default: return K_RAW;
    }
}

size_t RecordSize(Kind k) {
    switch (k) {
    case K_NAME: return sizeof(NameData3ds);
    case K_POINTS: return sizeof(PointArray3ds);
    case K_WORDS: return sizeof(WordArray3ds);
    case K_FACES: return sizeof(FaceArray3ds);
    case K_MATGROUP: return sizeof(MatGroupData3ds);
    case K_TEXVERTS: return sizeof(TexVertArray3ds);
    case K_SMOOTH: return sizeof(SmoothData3ds);
    case K_MATRIX: return sizeof(MatrixData3ds);
    case K_BYTE: return sizeof(ByteData3ds);
    case K_MAPPING: return sizeof(MappingData3ds);
    case K_PROC: return sizeof(ProcData3ds);
    case K_BOXMAP: return sizeof(BoxMapData3ds);
    case K_COLOUR: return sizeof(ColourBytes3ds);
    case K_SHORT: return sizeof(ShortData3ds);
    case K_WORD: return sizeof(WordData3ds);
    case K_FLOAT: return sizeof(FloatData3ds);
    case K_NODEHDR: return sizeof(NodeHeaderData3ds);
    case K_RAW: return sizeof(RawData3ds);
    }
    return 0;
}

// Bounded little-endian reader over a payload in memory.  Running past the
// end sets `fault` (the chunk is invalid) and yields zeros.
struct Cursor {
    const u8_3ds* p;
    u32_3ds left;
    i32_3ds fault;
    FileRec3ds* file;  // the payload's file, which keeps the notices of cut names

    bool Need(uint64_t n) {
        if (fault) return false;
        if (n > left) {
            fault = ERR_INVALID_CHUNK;
            return false;
        }
        return true;
    }
    u8_3ds Byte() {
        if (!Need(1)) return 0;
        --left;
        return *p++;
    }
    u16_3ds Word() {
        if (!Need(2)) return 0;
        u16_3ds v = static_cast<u16_3ds>(p[0] | (p[1] << 8));
        p += 2;
        left -= 2;
        return v;
    }
    u32_3ds Dword() {
        if (!Need(4)) return 0;
        u32_3ds v = static_cast<u32_3ds>(p[0]) | (static_cast<u32_3ds>(p[1]) << 8) |
                    (static_cast<u32_3ds>(p[2]) << 16) | (static_cast<u32_3ds>(p[3]) << 24);
        p += 4;
        left -= 4;
        return v;
    }
    float Float() {
        u32_3ds bits = Dword();
        float f;
        memcpy(&f, &bits, sizeof f);
        return f;
    }
    // A zero-terminated name, read to its terminator, which must lie within
    // the payload.  out (capacity bytes) keeps what fits; a cut is noted
    // with the kind of the name.
    void String(char* out, u32_3ds capacity, const char* kind) {
        out[0] = 0;
        char* whole = NewString();
        if (!whole) return;
        CopyName3ds(out, capacity, whole, kind, file);
        free(whole);
    }
    // The whole name as a heap copy (null after a fault).
    char* NewString() {
        if (fault) return nullptr;
        const void* zero = memchr(p, 0, left);
        if (!zero) {
            fault = ERR_INVALID_CHUNK;
            return nullptr;
        }
        size_t len = static_cast<size_t>(static_cast<const u8_3ds*>(zero) - p);
        char* s = static_cast<char*>(malloc(len + 1));
        if (!s) {
            fault = ERR_NO_MEM;
            return nullptr;
        }
        memcpy(s, p, len + 1);
        p += len + 1;
        left -= static_cast<u32_3ds>(len + 1);
        return s;
    }
};

void* Alloc(Cursor& c, size_t bytes) {
    if (c.fault) return nullptr;
    if (bytes == 0) return nullptr;
    void* mem = malloc(bytes);
    if (!mem) c.fault = ERR_NO_MEM;
    return mem;
}

void Floats(Cursor& c, float* out, u32_3ds n) {
    for (u32_3ds i = 0; i < n; ++i) out[i] = c.Float();
}

void Decode(Cursor& c, u32_3ds tag, void* rec) {
    switch (KindOf(tag)) {
    case K_NAME: static_cast<NameData3ds*>(rec)->name = c.NewString(); break;
    case K_POINTS: {
        PointArray3ds* r = static_cast<PointArray3ds*>(rec);
        u16_3ds n = c.Word();
        if (!c.Need(uint64_t(n) * 12)) break;
        r->points = static_cast<float*>(Alloc(c, size_t(n) * 12));
        if (c.fault) break;
        r->count = n;
        Floats(c, r->points, u32_3ds(n) * 3);
        break;
    }
    case K_WORDS: case K_FACES: {
        WordArray3ds* r = static_cast<WordArray3ds*>(rec);  // same layout as FaceArray3ds
        u16_3ds n = c.Word();
        u32_3ds per = KindOf(tag) == K_FACES ? 4 : 1;
        if (!c.Need(uint64_t(n) * per * 2)) break;
        r->words = static_cast<u16_3ds*>(Alloc(c, size_t(n) * per * 2));
        if (c.fault) break;
        r->count = n;
        for (u32_3ds i = 0; i < u32_3ds(n) * per; ++i) r->words[i] = c.Word();
        break;
    }
    case K_MATGROUP: {
        MatGroupData3ds* r = static_cast<MatGroupData3ds*>(rec);
        c.String(r->name, sizeof r->name, "Material");
        u16_3ds n = c.Word();
        if (!c.Need(uint64_t(n) * 2)) break;
        r->faces = static_cast<u16_3ds*>(Alloc(c, size_t(n) * 2));
        if (c.fault) break;
        r->count = n;
        for (u32_3ds i = 0; i < n; ++i) r->faces[i] = c.Word();
        break;
    }
    case K_TEXVERTS: {
        TexVertArray3ds* r = static_cast<TexVertArray3ds*>(rec);
        u16_3ds n = c.Word();
        if (!c.Need(uint64_t(n) * 8)) break;
        r->uv = static_cast<float*>(Alloc(c, size_t(n) * 8));
        if (c.fault) break;
        r->count = n;
        Floats(c, r->uv, u32_3ds(n) * 2);
        break;
    }
    case K_SMOOTH: {
        SmoothData3ds* r = static_cast<SmoothData3ds*>(rec);
        u32_3ds n = c.left / 4;
        r->groups = static_cast<u32_3ds*>(Alloc(c, size_t(n) * 4));
        if (c.fault) break;
        r->count = n;
        for (u32_3ds i = 0; i < n; ++i) r->groups[i] = c.Dword();
        break;
    }
    case K_MATRIX: Floats(c, static_cast<MatrixData3ds*>(rec)->m, 12); break;
    case K_BYTE: static_cast<ByteData3ds*>(rec)->value = c.Byte(); break;
    case K_MAPPING: {
        MappingData3ds* r = static_cast<MappingData3ds*>(rec);
        r->type = c.Word();
        Floats(c, r->tiling, 2);
        Floats(c, r->centre, 3);
        r->scale = c.Float();
        Floats(c, r->matrix, 12);
        r->planeWidth = c.Float();
        r->planeHeight = c.Float();
        r->cylinderHeight = c.Float();
        break;
    }
    case K_PROC: {
        ProcData3ds* r = static_cast<ProcData3ds*>(rec);
        u32_3ds n = c.Dword();
        if (!c.Need(n)) break;
        r->data = static_cast<u8_3ds*>(Alloc(c, n));
        if (c.fault) break;
        r->size = n;
        if (n) memcpy(r->data, c.p, n);
        c.p += n;
        c.left -= n;
        break;
    }
    case K_BOXMAP:
        for (int i = 0; i < 6; ++i) c.String(static_cast<BoxMapData3ds*>(rec)->names[i], 17, "Material");
        break;
    case K_COLOUR:
        for (int i = 0; i < 3; ++i) static_cast<ColourBytes3ds*>(rec)->rgb[i] = c.Byte();
        break;
    case K_SHORT: static_cast<ShortData3ds*>(rec)->value = static_cast<i16_3ds>(c.Word()); break;
    case K_WORD: static_cast<WordData3ds*>(rec)->value = c.Word(); break;
    case K_FLOAT: static_cast<FloatData3ds*>(rec)->value = c.Float(); break;
    case K_NODEHDR: {
        NodeHeaderData3ds* r = static_cast<NodeHeaderData3ds*>(rec);
        c.String(r->name, sizeof r->name, "Keyframer node");
        r->flags1 = c.Word();
        r->flags2 = c.Word();
        r->parent = c.Word();
        break;
    }
    case K_RAW: {
        RawData3ds* r = static_cast<RawData3ds*>(rec);
        r->bytes = static_cast<u8_3ds*>(Alloc(c, c.left));
        if (c.fault) break;
        r->size = c.left;
        if (c.left) memcpy(r->bytes, c.p, c.left);
        break;
    }
    }
}

// Bytes of the payload that decoding a record of this tag can use, past the
// name a payload starts with (names are read to their terminator): nothing
// more is needed, so the nested chunks that follow a name in a container (a
// whole mesh after an object's name) are not read.
u32_3ds ReadLimit(u32_3ds tag) {
    switch (KindOf(tag)) {
    case K_NAME: return 0;
    case K_NODEHDR: return 6;
    case K_MATRIX: return 48;
    case K_BYTE: return 1;
    case K_MAPPING: return 2 + 21 * 4;
    case K_COLOUR: return 3;
    case K_SHORT: case K_WORD: return 2;
    case K_FLOAT: return 4;
    default: return 0xFFFFFFFFu;
    }
}

bool StartsWithName(u32_3ds tag) { return KindOf(tag) == K_NAME || KindOf(tag) == K_NODEHDR; }

// Length of the name at the stream's position, terminator included, looked
// for within `available` bytes; `available` + 1 when it has no terminator
// there.  The stream position is left anywhere.
uint64_t NameExtent(FILE* stream, u32_3ds available) {
    u8_3ds block[256];
    uint64_t seen = 0;
    while (seen < available) {
        size_t want = available - seen < sizeof block ? size_t(available - seen) : sizeof block;
        size_t got = fread(block, 1, want, stream);
        if (const void* zero = memchr(block, 0, got))
            return seen + static_cast<uint64_t>(static_cast<const u8_3ds*>(zero) - block) + 1;
        seen += got;
        if (got < want) break;
    }
    return uint64_t(available) + 1;
}

}  // namespace

void FreeDataRecord3ds(u32_3ds tag, void* data) {
    if (!data) return;
    switch (KindOf(tag)) {
    case K_NAME: free(static_cast<NameData3ds*>(data)->name); break;
    case K_POINTS: free(static_cast<PointArray3ds*>(data)->points); break;
    case K_WORDS: free(static_cast<WordArray3ds*>(data)->words); break;
    case K_FACES: free(static_cast<FaceArray3ds*>(data)->faces); break;
    case K_MATGROUP: free(static_cast<MatGroupData3ds*>(data)->faces); break;
    case K_TEXVERTS: free(static_cast<TexVertArray3ds*>(data)->uv); break;
    case K_SMOOTH: free(static_cast<SmoothData3ds*>(data)->groups); break;
    case K_PROC: free(static_cast<ProcData3ds*>(data)->data); break;
    case K_RAW: free(static_cast<RawData3ds*>(data)->bytes); break;
    default: break;
    }
    free(data);
}

void* CopyChunkData3ds(u32_3ds tag, const void* data) {
    if (!data) return nullptr;
    Kind k = KindOf(tag);
    size_t sz = RecordSize(k);
    void* copy = malloc(sz);
    if (!copy) return nullptr;
    memcpy(copy, data, sz);
    auto dupArray = [&](void** field, size_t bytes) -> bool {
        if (!*field || bytes == 0) {
            *field = nullptr;
            return true;
        }
        void* mem = malloc(bytes);
        if (!mem) {
            *field = nullptr;
            return false;
        }
        memcpy(mem, *field, bytes);
        *field = mem;
        return true;
    };
    bool ok = true;
    switch (k) {
    case K_NAME: {
        NameData3ds* r = static_cast<NameData3ds*>(copy);
        r->name = DupString3ds(r->name);
        ok = r->name != nullptr || static_cast<const NameData3ds*>(data)->name == nullptr;
        break;
    }
    case K_POINTS: {
        PointArray3ds* r = static_cast<PointArray3ds*>(copy);
        ok = dupArray(reinterpret_cast<void**>(&r->points), size_t(r->count) * 12);
        break;
    }
    case K_WORDS: {
        WordArray3ds* r = static_cast<WordArray3ds*>(copy);
        ok = dupArray(reinterpret_cast<void**>(&r->words), size_t(r->count) * 2);
        break;
    }
    case K_FACES: {
        FaceArray3ds* r = static_cast<FaceArray3ds*>(copy);
        ok = dupArray(reinterpret_cast<void**>(&r->faces), size_t(r->count) * 8);
        break;
    }
    case K_MATGROUP: {
        MatGroupData3ds* r = static_cast<MatGroupData3ds*>(copy);
        ok = dupArray(reinterpret_cast<void**>(&r->faces), size_t(r->count) * 2);
        break;
    }
    case K_TEXVERTS: {
        TexVertArray3ds* r = static_cast<TexVertArray3ds*>(copy);
        ok = dupArray(reinterpret_cast<void**>(&r->uv), size_t(r->count) * 8);
        break;
    }
    case K_SMOOTH: {
        SmoothData3ds* r = static_cast<SmoothData3ds*>(copy);
        ok = dupArray(reinterpret_cast<void**>(&r->groups), size_t(r->count) * 4);
        break;
    }
    case K_PROC: {
        ProcData3ds* r = static_cast<ProcData3ds*>(copy);
        ok = dupArray(reinterpret_cast<void**>(&r->data), r->size);
        break;
    }
    case K_RAW: {
        RawData3ds* r = static_cast<RawData3ds*>(copy);
        ok = dupArray(reinterpret_cast<void**>(&r->bytes), r->size);
        break;
    }
    default: break;
    }
    if (!ok) {
        FreeDataRecord3ds(tag, copy);
        return nullptr;
    }
    return copy;
}

void* LoadChunkData3ds(ChunkNode3ds* node) {
    if (!node) {
        AddError3ds(ERR_INVALID_ARG);
        return nullptr;
    }
    if (node->data) return node->data;
    if (node->tag == 0x80F0) return nullptr;  // extension strings stay undecoded
    FileRec3ds* file = GetFileByIndex3ds(node->fileIndex);
    if (!file || !file->stream) {
        AddError3ds(ERR_INVALID_DATABASE);
        return nullptr;
    }
    // The whole chunk must lie within the file: a lying size cannot make us
    // allocate more than the file holds.
    if (node->size < 6 || uint64_t(node->position) + node->size > file->length) {
        AddError3ds(ERR_INVALID_CHUNK);
        return nullptr;
    }
    SetCurrentFile3ds(file);
    u32_3ds payloadSize = node->size - 6;
    uint64_t limit = ReadLimit(node->tag);
    if (StartsWithName(node->tag)) {
        // The name with what follows it; a name without its terminator is
        // read whole (up to the chunk's end) and refused by the decoder.
        if (fseek(file->stream, static_cast<long>(node->position) + 6, SEEK_SET) != 0) {
            AddError3ds(ERR_READING_FILE);
            return nullptr;
        }
        limit += NameExtent(file->stream, payloadSize);
    }
    if (payloadSize > limit) payloadSize = static_cast<u32_3ds>(limit);
    u8_3ds* payload = payloadSize ? static_cast<u8_3ds*>(malloc(payloadSize)) : nullptr;
    if (payloadSize && !payload) {
        AddError3ds(ERR_NO_MEM);
        return nullptr;
    }
    if (fseek(file->stream, static_cast<long>(node->position) + 6, SEEK_SET) != 0 ||
        (payloadSize && fread(payload, 1, payloadSize, file->stream) != payloadSize)) {
        free(payload);
        AddError3ds(ERR_READING_FILE);
        return nullptr;
    }
    Kind k = KindOf(node->tag);
    void* rec = calloc(1, RecordSize(k));
    if (!rec) {
        free(payload);
        AddError3ds(ERR_NO_MEM);
        return nullptr;
    }
    Cursor c = {payload, payloadSize, 0, file};
    if (payloadSize == 0 && k != K_RAW && k != K_SMOOTH) c.fault = ERR_INVALID_CHUNK;
    else Decode(c, node->tag, rec);
    free(payload);
    if (c.fault) {
        FreeDataRecord3ds(node->tag, rec);
        AddError3ds(c.fault);
        return nullptr;
    }
    node->data = rec;
    return rec;
}
