// ModelCal3DMeta: the Cal3D binary file readers.

#include "modelcal3dmeta.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const char* const kSource = "modelcal3dmeta";

// A repeated warning (one per bad index and so on) is written this many
// times per file; then one closing entry says that the others are omitted,
// so that a broken file cannot flood the log.
const u32 kMaxRepeatedEntries = 16;

// The smallest number of bytes each record takes in its file; a count is
// accepted only when that many records fit into the bytes left.
const u64 kMinBoneBytes = 4 + 12 + 16 + 12 + 16 + 4 + 4;
const u64 kMinTrackBytes = 4 + 4;
const u64 kKeyFrameBytes = 32;
const u64 kSubMeshHeadBytes = 24;
const u64 kSpringBytes = 16;
const u64 kFaceBytes = 12;
const u64 kInfluenceBytes = 8;

inline u32 LE32(const u8* p) { return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24); }
inline i32 LEI32(const u8* p) {
    u32 v = LE32(p);
    i32 r;
    std::memcpy(&r, &v, 4);
    return r;
}
inline float LEF32(const u8* p) {
    u32 v = LE32(p);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}
inline Vector3 LEVector3(const u8* p) { return Vector3(LEF32(p), LEF32(p + 4), LEF32(p + 8)); }
inline Quaternion LEQuaternion(const u8* p) {
    return Quaternion(LEF32(p), LEF32(p + 4), LEF32(p + 8), LEF32(p + 12));
}

// a * b, saturated at the largest u64.
inline u64 MulSat(u64 a, u64 b) {
    if (b != 0 && a > ~(u64)0 / b) return ~(u64)0;
    return a * b;
}
inline u64 AddSat(u64 a, u64 b) { return a > ~(u64)0 - b ? ~(u64)0 : a + b; }

// Reads one Cal3D file: opens it, checks its header and hands out its fields
// decoded from little-endian bytes.  Every short read, and every count whose
// records cannot fit into the bytes left, is reported once as the end of the
// file coming too early.  The file is closed when the reader goes away.
class Cal3DReader {
public:
    Cal3DReader(CallScope* scope, const String& name) : scope_(scope), name_(name), size_(0), pos_(0) {}

    // Opens the file and reads the header.  S_OK to go on; otherwise the
    // result the reader returns (the failure has been logged).
    HRESULT Begin(char kind) {
        if (scope_->ReportFailure("-", kSource, __LINE__, file_.Open(name_, "rb")) < 0) return ZVE_SUBFUNCTION;
        size_ = ~(u64)0;
        if (std::fseek(file_.handle, 0, SEEK_END) == 0) {
            long end = std::ftell(file_.handle);
            if (end >= 0) size_ = (u64)end;
        }
        std::fseek(file_.handle, 0, SEEK_SET);

        u8 header[4];
        if (!Read(header, 4)) return ZVE_SUBFUNCTION;
        if (header[0] != 'C' || header[1] != (u8)kind || header[2] != 'F' || header[3] != 0) {
            scope_->WriteLog(ZVLOG_ERROR, name_ + " : Invalid File Format ('Invalid Magic Token')", kSource, __LINE__);
            return E_FAIL;
        }
        i32 version;
        if (!I32(&version)) return ZVE_SUBFUNCTION;
        if (version < 700 || version > 799) {
            String text(name_);
            text += " : FileVersion=";
            text += (int)version;
            text += ", not in [700,799]; try to load";
            scope_->WriteLog(ZVLOG_WARNING, text, kSource, __LINE__);
        }
        return S_OK;
    }

    // Exactly n bytes, or false after the end-of-file report.
    bool Read(void* buffer, u32 n) {
        if (n == 0) return true;
        i32 got = file_.Read(buffer, n);
        if (got < 0 || (u32)got != n) return EndOfFile();
        pos_ += n;
        return true;
    }
    bool U32(u32* out) {
        u8 b[4];
        if (!Read(b, 4)) return false;
        *out = LE32(b);
        return true;
    }
    bool I32(i32* out) {
        u8 b[4];
        if (!Read(b, 4)) return false;
        *out = LEI32(b);
        return true;
    }
    bool F32(float* out) {
        u8 b[4];
        if (!Read(b, 4)) return false;
        *out = LEF32(b);
        return true;
    }
    // Consumes n bytes without keeping them.
    bool Skip(u64 n) {
        if (n > Left()) return EndOfFile();
        u8 chunk[256];
        while (n > 0) {
            u32 piece = n < sizeof(chunk) ? (u32)n : (u32)sizeof(chunk);
            if (!Read(chunk, piece)) return false;
            n -= piece;
        }
        return true;
    }

    u64 Left() const { return size_ > pos_ ? size_ - pos_ : 0; }
    // True when the bytes left hold at least n bytes; otherwise false after
    // the end-of-file report (the count that asked for them is a lie).
    bool Need(u64 n) { return n <= Left() ? true : EndOfFile(); }

    bool EndOfFile() {
        scope_->ReportFailure("Unexpected End Of File", kSource, __LINE__, E_FAIL);
        return false;
    }

    const String& Name() const { return name_; }

private:
    CallScope* scope_;
    String name_;
    File file_;
    u64 size_;
    u64 pos_;
};

// Writes an entry of a kind that may repeat, at most kMaxRepeatedEntries
// times; the first one past that says that the rest are left out.
void RepeatedEntry(CallScope* scope, u32 level, const String& text, u32* written, u32 line) {
    if (*written < kMaxRepeatedEntries) {
        scope->WriteLog(level, text, kSource, line);
    } else if (*written == kMaxRepeatedEntries) {
        scope->WriteLog(level, "Further entries of this kind are left out", kSource, line);
    }
    ++*written;
}

// Makes room for n more elements, doubling the capacity when it must grow,
// and sets the count; false when the array cannot grow.
template <typename T>
bool GrowBy(Vector<T>* v, u32 n) {
    u64 need = (u64)v->count + n;
    if (need > 0xFFFFFFFFu) return false;
    if (need > v->capacity) {
        u64 want = (u64)v->capacity * 2;
        if (want < need) want = need;
        if (want > 0xFFFFFFFFu) want = need;
        if (v->Reserve((u32)want, false) < 0) return false;
    }
    v->count = (u32)need;
    return true;
}

// Makes the child lists of a freshly read skeleton agree with the parents,
// so that a walk from the roots visits every bone exactly once and finds its
// parent already walked.  S_OK or E_FAIL after an entry.
HRESULT SettleHierarchy(CallScope* scope, const String& file, Vector<ModelCal3DMeta::Bone>* bones) {
    u32 count = bones->count;
    if (count == 0) return S_OK;
    u8* listed = new (std::nothrow) u8[count];
    u32* missing = new (std::nothrow) u32[count];
    u32* depth = new (std::nothrow) u32[count];
    HRESULT hr = S_OK;
    if (!listed || !missing || !depth) {
        scope->ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        hr = ZVE_SUBFUNCTION;
    }
    u32 written = 0;

    if (hr == S_OK) {
        std::memset(listed, 0, count);
        std::memset(missing, 0, count * sizeof(u32));
        std::memset(depth, 0, count * sizeof(u32));
        // Keep only the child links whose child names this bone as its parent, once.
        for (u32 b = 0; b < count; ++b) {
            Vector<i32>& children = bones->data[b].vChildren;
            u32 kept = 0;
            for (u32 k = 0; k < children.count; ++k) {
                i32 c = children.data[k];
                String text(file);
                if (bones->data[c].nParent != (i32)b) {
                    text += " : Bone ";
                    text += (int)c;
                    text += " listed as a child of bone ";
                    text += b;
                    text += ", but its parent is ";
                    text += (int)bones->data[c].nParent;
                    text += " (=> removed)";
                    RepeatedEntry(scope, ZVLOG_WARNING, text, &written, __LINE__);
                } else if (listed[c]) {
                    text += " : Bone ";
                    text += (int)c;
                    text += " listed twice as a child of bone ";
                    text += b;
                    text += " (=> removed)";
                    RepeatedEntry(scope, ZVLOG_WARNING, text, &written, __LINE__);
                } else {
                    listed[c] = 1;
                    children.data[kept++] = c;
                }
            }
            children.count = kept;
        }
        // Bones their parent does not list are added behind its children.
        for (u32 c = 0; c < count; ++c) {
            i32 p = bones->data[c].nParent;
            if (p >= 0 && !listed[c]) ++missing[p];
        }
        for (u32 c = 0; c < count && hr == S_OK; ++c) {
            i32 p = bones->data[c].nParent;
            if (p < 0 || listed[c]) continue;
            Vector<i32>& children = bones->data[p].vChildren;
            if (missing[p] > 0) {
                if (scope->ReportFailure("-", kSource, __LINE__, children.Reserve(children.count + missing[p], false)) <
                    0) {
                    hr = ZVE_SUBFUNCTION;
                    break;
                }
                missing[p] = 0;
            }
            children.Add((i32)c);
            listed[c] = 1;
            String text(file);
            text += " : Bone ";
            text += c;
            text += " missing from the children of bone ";
            text += (int)p;
            text += " (=> added)";
            RepeatedEntry(scope, ZVLOG_WARNING, text, &written, __LINE__);
        }
    }
    // Every bone must reach a root within MaxHierarchyDepth steps, which
    // finds the parent loops.  depth holds 1 + the bone's level once known.
    for (u32 b = 0; b < count && hr == S_OK; ++b) {
        u32 steps = 0;
        u32 at = b;
        while (depth[at] == 0 && bones->data[at].nParent >= 0 && steps <= ModelCal3DMeta::MaxHierarchyDepth) {
            at = (u32)bones->data[at].nParent;
            ++steps;
        }
        u32 top = depth[at] != 0 ? depth[at] : (bones->data[at].nParent < 0 ? 1u : 0u);
        if (top == 0 || (u64)top + steps > ModelCal3DMeta::MaxHierarchyDepth) {
            String text(file);
            text += " : Bone ";
            text += b;
            text += " does not reach a root bone within ";
            text += ModelCal3DMeta::MaxHierarchyDepth;
            text += " levels";
            scope->WriteLog(ZVLOG_ERROR, text, kSource, __LINE__);
            hr = E_FAIL;
            break;
        }
        // Record the depths along the walked chain.
        u32 level = top + steps;
        for (u32 walk = b; depth[walk] == 0; walk = (u32)bones->data[walk].nParent) {
            depth[walk] = level--;
            if (bones->data[walk].nParent < 0) break;
        }
    }
    delete[] listed;
    delete[] missing;
    delete[] depth;
    return hr;
}

}  // namespace

ModelCal3DMeta::ModelCal3DMeta() : strFile("NO_FILE"), pIB(nullptr), nRef(1) {}

ModelCal3DMeta::~ModelCal3DMeta() {
    if (pIB) {
        pIB->Release();
        pIB = nullptr;
    }
    for (u32 i = 0; i < vTextures.count; ++i) {
        if (vTextures.data[i]) {
            vTextures.data[i]->Release();
            vTextures.data[i] = nullptr;
        }
    }
    for (u32 i = 0; i < vMatInfos.count; ++i) FreeTexture(&vMatInfos.data[i]);
}

u32 ModelCal3DMeta::AddRef() { return ++nRef; }

u32 ModelCal3DMeta::Release() {
    if (nRef == 0) return 0;
    if (--nRef == 0) {
        delete this;
        return 0;
    }
    return nRef;
}

void ModelCal3DMeta::FreeTexture(MatInfos* matInfos) {
    delete[] matInfos->szTexture;
    matInfos->szTexture = nullptr;
}

HRESULT ModelCal3DMeta::LoadSkeleton(const String& file, Vector<Bone>* bones) {
    CallScope scope(nullptr, "ModelCal3DMeta::LoadSkeleton()");
    Cal3DReader reader(&scope, file);
    HRESULT hr = reader.Begin('S');
    if (hr != S_OK) return hr;

    u32 count;
    if (!reader.U32(&count)) return ZVE_SUBFUNCTION;
    if (count > MaxBones) {
        String text(file);
        text += " : Number of bones = ";
        text += count;
        scope.WriteLog(ZVLOG_ERROR, text, kSource, __LINE__);
        return E_FAIL;
    }
    if (!reader.Need(MulSat(count, kMinBoneBytes))) return ZVE_SUBFUNCTION;
    if (scope.ReportFailure("-", kSource, __LINE__, bones->Reserve(count, true)) < 0) return ZVE_SUBFUNCTION;

    // Child indices of one bone, as read (at most count of them).
    u8* scratch = new (std::nothrow) u8[count > 0 ? (size_t)count * 4 : 4];
    if (!scratch) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }

    u32 childEntries = 0;
    u32 nameEntries = 0;
    hr = S_OK;
    for (u32 i = 0; i < count && hr == S_OK; ++i) {
        Bone& bone = bones->data[i];
        u32 nameLength;
        if (!reader.U32(&nameLength)) {
            hr = ZVE_SUBFUNCTION;
            break;
        }
        if (nameLength > MaxBoneNameLength)
            RepeatedEntry(&scope, ZVLOG_WARNING, "Too long bone name", &nameEntries, __LINE__);
        if (!reader.Skip(nameLength)) {
            hr = ZVE_SUBFUNCTION;
            break;
        }

        u8 fields[64];
        if (!reader.Read(fields, sizeof(fields))) {
            hr = ZVE_SUBFUNCTION;
            break;
        }
        bone.vTranslation = LEVector3(fields);
        bone.qRotation = LEQuaternion(fields + 12);
        bone.vTranslationBoneSpace = LEVector3(fields + 28);
        bone.qRotationBoneSpace = LEQuaternion(fields + 40);
        bone.nParent = LEI32(fields + 56);
        u32 numChildren = LE32(fields + 60);
        bone.vChildren.count = 0;

        if (bone.nParent < -1 || bone.nParent >= (i32)count) {
            String text(file);
            text += " : Bad index of parent bone : ";
            text += (int)bone.nParent;
            scope.WriteLog(ZVLOG_ERROR, text, kSource, __LINE__);
            hr = E_FAIL;
            break;
        }
        if (numChildren > count) {
            String text(file);
            text += " : Number of children = ";
            text += numChildren;
            text += ", more than the bones";
            scope.WriteLog(ZVLOG_ERROR, text, kSource, __LINE__);
            hr = E_FAIL;
            break;
        }
        if (!reader.Read(scratch, numChildren * 4)) {
            hr = ZVE_SUBFUNCTION;
            break;
        }
        if (scope.ReportFailure("-", kSource, __LINE__, bone.vChildren.Reserve(numChildren, true)) < 0) {
            hr = ZVE_SUBFUNCTION;
            break;
        }
        bone.vChildren.count = numChildren;
        for (u32 k = 0; k < numChildren; ++k) {
            i32 child = LEI32(scratch + 4 * k);
            if (child < 0 || (u32)child >= count) {
                RepeatedEntry(&scope, ZVLOG_WARNING, "Too big (or negative) child ID (=> Set to 0)", &childEntries,
                              __LINE__);
                child = 0;
            }
            bone.vChildren.data[k] = child;
        }
    }
    delete[] scratch;
    if (hr != S_OK) return hr;
    return SettleHierarchy(&scope, file, bones);
}

HRESULT ModelCal3DMeta::LoadAnimation(const String& file, Animation* animation) {
    CallScope scope(nullptr, "ModelCal3DMeta::LoadAnimation()");
    Cal3DReader reader(&scope, file);
    HRESULT hr = reader.Begin('A');
    if (hr != S_OK) return hr;

    if (!reader.F32(&animation->fDuration)) return ZVE_SUBFUNCTION;
    if (!(animation->fDuration >= 0.0f)) {
        scope.ReportFailure("Negative animation duration", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }
    if (!std::isfinite(animation->fDuration)) {
        scope.ReportFailure("Infinite animation duration", kSource, __LINE__, E_FAIL);
        return ZVE_SUBFUNCTION;
    }

    u32 numTracks;
    if (!reader.U32(&numTracks)) return ZVE_SUBFUNCTION;
    if (numTracks == 0) {
        scope.WriteLog(ZVLOG_ERROR, file + " : No Tracks in this animation", kSource, __LINE__);
        return E_FAIL;
    }
    if (!reader.Need(MulSat(numTracks, kMinTrackBytes))) return ZVE_SUBFUNCTION;
    animation->vTracks.count = 0;
    animation->vKeyFrames.count = 0;
    if (scope.ReportFailure("-", kSource, __LINE__, animation->vTracks.Reserve(numTracks, false)) < 0)
        return ZVE_SUBFUNCTION;

    u32 emptyEntries = 0;
    for (u32 t = 0; t < numTracks; ++t) {
        u8 head[8];
        if (!reader.Read(head, sizeof(head))) return ZVE_SUBFUNCTION;
        Animation::Track track;
        track.nBone = LEI32(head);
        track.nNumKeyFrames = LE32(head + 4);
        track.nFirstKeyFrame = animation->vKeyFrames.count;
        if (track.nBone < 0) {
            scope.ReportFailure("Negative bone ID", kSource, __LINE__, E_FAIL);
            return ZVE_SUBFUNCTION;
        }
        if (track.nNumKeyFrames == 0) {
            String text(file);
            text += " : Track of bone ";
            text += (int)track.nBone;
            text += " without key frames (=> skipped)";
            RepeatedEntry(&scope, ZVLOG_WARNING, text, &emptyEntries, __LINE__);
            continue;
        }
        if (!reader.Need(MulSat(track.nNumKeyFrames, kKeyFrameBytes))) return ZVE_SUBFUNCTION;
        if (!GrowBy(&animation->vKeyFrames, track.nNumKeyFrames)) {
            scope.ReportFailure("-", kSource, __LINE__, E_OUTOFMEMORY);
            return ZVE_SUBFUNCTION;
        }
        for (u32 k = 0; k < track.nNumKeyFrames; ++k) {
            u8 key[32];
            if (!reader.Read(key, sizeof(key))) return ZVE_SUBFUNCTION;
            Animation::KeyFrame& frame = animation->vKeyFrames.data[track.nFirstKeyFrame + k];
            frame.fTime = LEF32(key);
            frame.vTranslation = LEVector3(key + 4);
            frame.qRotation = LEQuaternion(key + 16);
            if (!std::isfinite(frame.fTime)) {
                String text(file);
                text += " : Key frame time not finite in the track of bone ";
                text += (int)track.nBone;
                scope.WriteLog(ZVLOG_ERROR, text, kSource, __LINE__);
                return E_FAIL;
            }
        }
        animation->vTracks.Add(track);  // room was reserved above
    }
    if (animation->vTracks.count == 0) {
        scope.WriteLog(ZVLOG_ERROR, file + " : No Tracks in this animation", kSource, __LINE__);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT ModelCal3DMeta::CheckAnimation(const String& file, const Animation& animation, u32 boneCount) {
    CallScope scope(nullptr, "ModelCal3DMeta::CheckAnimation()");
    for (u32 t = 0; t < animation.vTracks.count; ++t) {
        i32 bone = animation.vTracks.data[t].nBone;
        if (bone < 0 || (u32)bone >= boneCount) {
            String text(file);
            text += " : Track of bone ";
            text += (int)bone;
            text += ", but the skeleton has ";
            text += boneCount;
            text += " bones";
            scope.WriteLog(ZVLOG_ERROR, text, kSource, __LINE__);
            return E_FAIL;
        }
    }
    return S_OK;
}

namespace {

// What a submesh's 24-byte head says about the records behind it.
struct SubMeshHead {
    i32 material;
    u32 numVertices, numFaces, numSprings, numMaps;
};

// The entries of one mesh file that may repeat, each kind counted on its
// own (RepeatedEntry).
struct MeshEntries {
    u32 badIndex = 0;
    u32 maps = 0;
};

// Grows each of the four lists by numSubMeshes entries, counts set: one
// entry per submesh of the file, each filled as its submesh is read.  S_OK,
// or ZVE_SUBFUNCTION after the report.
HRESULT ReserveSubMeshes(CallScope* scope, u32 numSubMeshes, Vector<i32>* materials,
                         Vector<Vector<i32>>* faces, Vector<Vector<ModelCal3DMeta::Vertex>>* vertices,
                         Vector<Vector<ModelCal3DMeta::Influence>>* influences) {
    if ((u64)materials->count + numSubMeshes > 0xFFFFFFFFu || (u64)vertices->count + numSubMeshes > 0xFFFFFFFFu ||
        (u64)faces->count + numSubMeshes > 0xFFFFFFFFu || (u64)influences->count + numSubMeshes > 0xFFFFFFFFu) {
        scope->ReportFailure("-", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    if (scope->ReportFailure("-", kSource, __LINE__, materials->Reserve(materials->count + numSubMeshes, true)) < 0 ||
        scope->ReportFailure("-", kSource, __LINE__, vertices->Reserve(vertices->count + numSubMeshes, true)) < 0 ||
        scope->ReportFailure("-", kSource, __LINE__, faces->Reserve(faces->count + numSubMeshes, true)) < 0 ||
        scope->ReportFailure("-", kSource, __LINE__, influences->Reserve(influences->count + numSubMeshes, true)) <
            0)
        return ZVE_SUBFUNCTION;
    return S_OK;
}

// Reads a submesh's head.  False after the end-of-file report.
bool ReadSubMeshHead(Cal3DReader& reader, SubMeshHead* head) {
    u8 bytes[24];
    if (!reader.Read(bytes, sizeof(bytes))) return false;
    head->material = LEI32(bytes);
    head->numVertices = LE32(bytes + 4);
    head->numFaces = LE32(bytes + 8);
    head->numSprings = LE32(bytes + 16);
    head->numMaps = LE32(bytes + 20);
    return true;
}

// Warns about the maps left out, and checks that everything the head
// promises fits into the bytes left before anything is allocated for it.
// False after the end-of-file report.
bool CheckSubMeshHead(CallScope* scope, Cal3DReader& reader, const SubMeshHead& head, MeshEntries* entries) {
    if (head.numMaps > 1) {
        String text(reader.Name());
        text += " : ";
        text += head.numMaps;
        text += " TexCoords by vertex, only take the first";
        RepeatedEntry(scope, ZVLOG_WARNING, text, &entries->maps, __LINE__);
    }
    u64 vertexBytes = AddSat(12 + 12 + 4 + 4 + 4 + (head.numSprings > 0 ? 4 : 0), MulSat(head.numMaps, 8));
    u64 need = AddSat(AddSat(MulSat(head.numVertices, vertexBytes), MulSat(head.numSprings, kSpringBytes)),
                      MulSat(head.numFaces, kFaceBytes));
    if (head.numFaces > 0xFFFFFFFFu / 3) need = ~(u64)0;
    return reader.Need(need);
}

// Reads vertex number v of a submesh, its influences appended to the
// submesh's.  S_OK, E_FAIL after an entry, or ZVE_SUBFUNCTION.
HRESULT ReadVertex(CallScope* scope, Cal3DReader& reader, const SubMeshHead& head, u32 v,
                   ModelCal3DMeta::Vertex* vertex, Vector<ModelCal3DMeta::Influence>* influences) {
    u8 fields[32];
    if (!reader.Read(fields, sizeof(fields))) return ZVE_SUBFUNCTION;
    vertex->vPos = LEVector3(fields);
    vertex->vNormal = LEVector3(fields + 12);
    if (head.numMaps > 0) {
        u8 uv[8];
        if (!reader.Read(uv, sizeof(uv))) return ZVE_SUBFUNCTION;
        vertex->fU = LEF32(uv);
        vertex->fV = LEF32(uv + 4);
        if (!reader.Skip((u64)(head.numMaps - 1) * 8)) return ZVE_SUBFUNCTION;
    } else {
        // Without a map the vertex still goes to the GPU with its
        // coordinates: give it defined ones.
        vertex->fU = 0.0f;
        vertex->fV = 0.0f;
    }
    u32 numInfluences;
    if (!reader.U32(&numInfluences)) return ZVE_SUBFUNCTION;
    if (!reader.Need(AddSat(MulSat(numInfluences, kInfluenceBytes), head.numSprings > 0 ? 4 : 0)))
        return ZVE_SUBFUNCTION;
    vertex->nNumInfluences = numInfluences;
    vertex->nFirstInfluence = influences->count;
    if (!GrowBy(influences, numInfluences)) {
        scope->ReportFailure("-", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    for (u32 k = 0; k < numInfluences; ++k) {
        u8 pair[8];
        if (!reader.Read(pair, sizeof(pair))) return ZVE_SUBFUNCTION;
        ModelCal3DMeta::Influence& influence = influences->data[vertex->nFirstInfluence + k];
        influence.nBone = LEI32(pair);
        influence.fWeight = LEF32(pair + 4);
        if (!std::isfinite(influence.fWeight)) {
            String text(reader.Name());
            text += " : Influence weight not finite at vertex ";
            text += v;
            scope->WriteLog(ZVLOG_ERROR, text, kSource, __LINE__);
            return E_FAIL;
        }
    }
    if (head.numSprings > 0) {
        float physicalWeight;
        if (!reader.F32(&physicalWeight)) return ZVE_SUBFUNCTION;
    }
    return S_OK;
}

// Reads the faces of submesh number subMesh.  The indices are read in
// blocks; each is checked against the submesh (a bad one becomes vertex 0).
// A submesh without vertices keeps no face: each of its indices is bad and
// vertex 0 does not exist, so faces there refuse the mesh (E_FAIL after an
// entry).  S_OK, E_FAIL or ZVE_SUBFUNCTION.
HRESULT ReadFaces(CallScope* scope, Cal3DReader& reader, const SubMeshHead& head, u32 subMesh, Vector<i32>* faces,
                  MeshEntries* entries) {
    const u32 numIndices = head.numFaces * 3;
    if (scope->ReportFailure("-", kSource, __LINE__, faces->Reserve(numIndices, false)) < 0) return ZVE_SUBFUNCTION;
    const bool keepFaces = head.numVertices > 0;
    u8 block[4096];
    u32 done = 0;
    while (done < numIndices) {
        u32 n = numIndices - done;
        if (n > sizeof(block) / 4) n = sizeof(block) / 4;
        if (!reader.Read(block, n * 4)) return ZVE_SUBFUNCTION;
        for (u32 k = 0; k < n; ++k) {
            i32 index = LEI32(block + 4 * k);
            if (index < 0 || (u32)index >= head.numVertices) {
                String text(reader.Name());
                text += " : bad index of vertex : ";
                text += (int)index;
                RepeatedEntry(scope, ZVLOG_ERROR, text, &entries->badIndex, __LINE__);
                index = 0;
            }
            faces->data[done + k] = index;
        }
        done += n;
        if (keepFaces) faces->count = done;
    }
    if (!keepFaces && head.numFaces > 0) {
        // Nothing could draw those faces: the mesh is broken.
        String text(reader.Name());
        text += " : SubMesh ";
        text += subMesh;
        text += " has faces but no vertices";
        scope->WriteLog(ZVLOG_ERROR, text, kSource, __LINE__);
        return E_FAIL;
    }
    return S_OK;
}

// The records behind a submesh's head: its vertices, its faces and the
// influences its vertices index.
struct SubMeshBody {
    Vector<ModelCal3DMeta::Vertex> vertices;
    Vector<i32> faces;
    Vector<ModelCal3DMeta::Influence> influences;
};

// Reads the vertices, springs and faces of submesh number subMesh, whose
// head was read and checked, into body.  Counts grow with what was read, so
// that a failing file leaves only complete vertices and checked indices
// behind.  S_OK, E_FAIL after an entry, or ZVE_SUBFUNCTION.
HRESULT ReadSubMeshBody(CallScope* scope, Cal3DReader& reader, const SubMeshHead& head, u32 subMesh,
                        MeshEntries* entries, SubMeshBody* body) {
    if (scope->ReportFailure("-", kSource, __LINE__, body->vertices.Reserve(head.numVertices, false)) < 0)
        return ZVE_SUBFUNCTION;
    for (u32 v = 0; v < head.numVertices; ++v) {
        HRESULT hr = ReadVertex(scope, reader, head, v, &body->vertices.data[v], &body->influences);
        if (hr != S_OK) return hr;
        body->vertices.count = v + 1;
    }
    if (!reader.Skip((u64)head.numSprings * kSpringBytes)) return ZVE_SUBFUNCTION;
    return ReadFaces(scope, reader, head, subMesh, &body->faces, entries);
}

}  // namespace

HRESULT ModelCal3DMeta::LoadMesh(const String& file, Vector<i32>* subMeshMaterials, Vector<Vector<i32>>* subMeshFaces,
                                 Vector<Vector<Vertex>>* subMeshVertices,
                                 Vector<Vector<Influence>>* subMeshInfluences) {
    CallScope scope(nullptr, "ModelCal3DMeta::LoadMesh()");
    Cal3DReader reader(&scope, file);
    HRESULT hr = reader.Begin('M');
    if (hr != S_OK) return hr;

    u32 numSubMeshes;
    if (!reader.U32(&numSubMeshes)) return ZVE_SUBFUNCTION;
    if (numSubMeshes == 0) {
        scope.WriteLog(ZVLOG_ERROR, file + " : No SubMeshes", kSource, __LINE__);
        return E_FAIL;
    }
    if (!reader.Need(MulSat(numSubMeshes, kSubMeshHeadBytes))) return ZVE_SUBFUNCTION;

    const u32 baseMaterials = subMeshMaterials->count;
    const u32 baseVertices = subMeshVertices->count;
    const u32 baseFaces = subMeshFaces->count;
    const u32 baseInfluences = subMeshInfluences->count;
    hr = ReserveSubMeshes(&scope, numSubMeshes, subMeshMaterials, subMeshFaces, subMeshVertices, subMeshInfluences);
    if (hr != S_OK) return hr;

    MeshEntries entries;
    for (u32 i = 0; i < numSubMeshes; ++i) {
        SubMeshHead head;
        if (!ReadSubMeshHead(reader, &head)) return ZVE_SUBFUNCTION;
        subMeshMaterials->data[baseMaterials + i] = head.material;
        if (!CheckSubMeshHead(&scope, reader, head, &entries)) return ZVE_SUBFUNCTION;
        SubMeshBody body;
        hr = ReadSubMeshBody(&scope, reader, head, i, &entries, &body);
        // What was read is kept, also when the rest of the file fails.
        subMeshVertices->data[baseVertices + i] = std::move(body.vertices);
        subMeshFaces->data[baseFaces + i] = std::move(body.faces);
        subMeshInfluences->data[baseInfluences + i] = std::move(body.influences);
        if (hr != S_OK) return hr;
    }
    return S_OK;
}

HRESULT ModelCal3DMeta::LoadMaterial(const String& file, const String& path, MatInfos* matInfos) {
    CallScope scope(nullptr, "ModelCal3DMeta::LoadMaterial()");
    matInfos->szTexture = nullptr;
    Cal3DReader reader(&scope, file);
    HRESULT hr = reader.Begin('R');
    if (hr != S_OK) return hr;

    u8 fields[20];
    if (!reader.Read(fields, sizeof(fields))) return ZVE_SUBFUNCTION;
    D3DCOLORVALUE* colours[3] = {&matInfos->material.Ambient, &matInfos->material.Diffuse,
                                 &matInfos->material.Specular};
    for (u32 c = 0; c < 3; ++c) {
        u32 x = LE32(fields + 4 * c);
        colours[c]->r = (float)((double)((x >> 16) & 0xFF) * 0.003921569);
        colours[c]->g = (float)((double)((x >> 8) & 0xFF) * 0.003921569);
        colours[c]->b = (float)((double)(x & 0xFF) * 0.003921569);
        colours[c]->a = (float)((double)((x >> 24) & 0xFF) * 0.003921569);
    }
    matInfos->material.Emissive.r = matInfos->material.Emissive.g = 0.0f;
    matInfos->material.Emissive.b = matInfos->material.Emissive.a = 0.0f;
    matInfos->material.Power = LEF32(fields + 12);

    u32 numMaps = LE32(fields + 16);
    if (numMaps == 0) return S_OK;
    if (numMaps > 1) {
        String text(file);
        text += " : ";
        text += numMaps;
        text += " textures, only take the first";
        scope.WriteLog(ZVLOG_WARNING, text, kSource, __LINE__);
    }

    u32 nameLength;
    if (!reader.U32(&nameLength)) return ZVE_SUBFUNCTION;
    if (nameLength > MaxTextureNameLength) {
        String text(file);
        text += " : Too long texture name : ";
        text += nameLength;
        scope.WriteLog(ZVLOG_ERROR, text, kSource, __LINE__);
        return E_FAIL;
    }
    if (!reader.Need(nameLength)) return ZVE_SUBFUNCTION;
    // The path, the stored bytes and a terminating zero (the file may lack one).
    char* name = new (std::nothrow) char[(size_t)path.length + nameLength + 1];
    if (!name) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    std::memcpy(name, path.c_str(), path.length);
    if (!reader.Read(name + path.length, nameLength)) {
        delete[] name;
        return ZVE_SUBFUNCTION;
    }
    name[path.length + nameLength] = '\0';
    matInfos->szTexture = name;
    return S_OK;
}

// ---------------------------------------------------------------------------
// The description file and the packing.

namespace {

const char* const kLoadScope = "ModelCal3DMeta::Load()";

// The name of an animation: its file name without directories and without
// the last extension ("anims/walk.caf" gives "walk").
String AnimationName(const String& value) {
    const char* text = value.c_str();
    u32 start = 0;
    for (u32 i = 0; i < value.length; ++i) {
        if (text[i] == '\\' || text[i] == '/') start = i + 1;
    }
    u32 end = value.length;
    for (u32 i = start; i < value.length; ++i) {
        if (text[i] == '.') end = i;
    }
    return value.SubString(start, end);
}

bool MatrixIsFinite(const Matrix& m) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            if (!std::isfinite(m.m[r][c])) return false;
        }
    }
    return true;
}

// Splits a line of the description, "key = value": spaces and tabs before
// the key and around the '=' are skipped; the key ends at a space, a tab,
// the '=' or the line's end; the value runs to the line's end, its trailing
// spaces and tabs kept.  False for a line that holds nothing (blank, or a
// comment starting with '#').  A line that breaks that form gives the text
// of its error in *syntax (put behind the file name and the line number).
bool SplitDescriptionLine(const char* line, String* key, String* value, const char** syntax) {
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\n' || *p == '\r' || *p == '\0' || *p == '#') return false;

    const char* keyStart = p;
    while (*p != '\0' && *p != ' ' && *p != '=' && *p != '\t' && *p != '\n' && *p != '\r') ++p;
    if (*p == '\0') {
        *syntax = ") : Invalid syntax (Key)";
        return true;
    }
    const String whole(line);
    *key = whole.SubString((u32)(keyStart - line), (u32)(p - line));
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != '=') {
        *syntax = ") : Invalid syntax ('=')";
        return true;
    }
    ++p;
    while (*p == ' ' || *p == '\t') ++p;
    const char* valueStart = p;
    while (*p != '\0' && *p != '\n' && *p != '\r') ++p;
    *value = whole.SubString((u32)(valueStart - line), (u32)(p - line));
    return true;
}

// An entry about a line of the description: the file's name, "(", the
// line's number, then text (which closes the parenthesis).
String LineEntry(const String& file, u32 lineNumber, const char* text) {
    String entry(file);
    entry += "(";
    entry += lineNumber;
    entry += text;
    return entry;
}

// The lists LoadMesh fills, one entry per submesh, until the packing
// flattens them into the model's arrays.
struct SubMeshLists {
    Vector<i32> materials;
    Vector<Vector<i32>> faces;
    Vector<Vector<ModelCal3DMeta::Vertex>> vertices;
    Vector<Vector<ModelCal3DMeta::Influence>> influences;
};

// Appends value to v by moving it; false when v cannot grow.
template <typename T>
bool MoveIn(Vector<T>* v, T* value) {
    if (v->count == v->capacity && v->Reserve(v->count + 1, false) < 0) return false;
    v->data[v->count] = std::move(*value);
    ++v->count;
    return true;
}


// Writes a level-2 entry of the packing.
void PackError(CallScope* scope, const String& text, u32 line) { scope->WriteLog(ZVLOG_ERROR, text, kSource, line); }

// Finds the root bones and the order in which the instances pose the bones:
// a walk from each root, entering a child only when its parent field names
// the bone and it was not entered before.  reached (one byte per bone) tells
// which bones the walk met.
HRESULT OrderBones(CallScope* scope, ModelCal3DMeta* meta, u8* reached) {
    const Vector<ModelCal3DMeta::Bone>& bones = meta->vBones;
    u32 count = bones.count;
    meta->vRootBones.count = 0;
    meta->vBoneOrder.count = 0;
    for (u32 b = 0; b < count; ++b) {
        if (bones.data[b].nParent == -1 && !MoveIn(&meta->vRootBones, &b)) {
            scope->ReportFailure("-", kSource, __LINE__, E_OUTOFMEMORY);
            return ZVE_SUBFUNCTION;
        }
    }
    if (meta->vRootBones.count == 0) {
        PackError(scope, "No root bone in the skeleton", __LINE__);
        return E_FAIL;
    }
    u32* stack = new (std::nothrow) u32[count];
    if (!stack || meta->vBoneOrder.Reserve(count, false) < 0) {
        delete[] stack;
        scope->ReportFailure("-", kSource, __LINE__, E_OUTOFMEMORY);
        return ZVE_SUBFUNCTION;
    }
    std::memset(reached, 0, count);
    for (u32 r = 0; r < meta->vRootBones.count; ++r) {
        u32 top = 0;
        stack[top++] = meta->vRootBones.data[r];
        reached[meta->vRootBones.data[r]] = 1;
        while (top > 0) {
            u32 b = stack[--top];
            meta->vBoneOrder.data[meta->vBoneOrder.count++] = b;
            // Children are pushed last first, so that they are entered in
            // their listed order.  Each bone is pushed once at most.
            const Vector<i32>& children = bones.data[b].vChildren;
            for (u32 k = children.count; k-- > 0;) {
                i32 c = children.data[k];
                if (c < 0 || (u32)c >= count || reached[c] || bones.data[c].nParent != (i32)b) continue;
                reached[c] = 1;
                stack[top++] = (u32)c;
            }
        }
    }
    delete[] stack;
    return S_OK;
}

// The checks of the references between the model's parts: the lists agree,
// the model is complete, and every material, bone and track index points
// at something.  S_OK, or E_FAIL (after an entry where the check has one).
HRESULT CheckReferences(CallScope* scope, const ModelCal3DMeta* meta, const SubMeshLists* lists,
                        const Vector<String>& animationFiles) {
    const u32 numSubMeshes = lists->materials.count;
    const u32 numBones = meta->vBones.count;
    const u32 numMaterials = meta->vMatInfos.count;
    if (lists->faces.count != numSubMeshes || lists->vertices.count != numSubMeshes ||
        lists->influences.count != numSubMeshes)
        return E_FAIL;
    if (numBones == 0 || numSubMeshes == 0 || numMaterials == 0) {
        PackError(scope, "Incomplete Cal3D Model Loaded", __LINE__);
        return E_FAIL;
    }
    for (u32 s = 0; s < numSubMeshes; ++s) {
        if ((u32)lists->materials.data[s] >= numMaterials) {
            String text("Bad index of material : ");
            text += (int)lists->materials.data[s];
            PackError(scope, text, __LINE__);
            return E_FAIL;
        }
    }
    for (u32 s = numSubMeshes; s-- > 0;) {
        const Vector<ModelCal3DMeta::Influence>& influences = lists->influences.data[s];
        for (u32 i = influences.count; i-- > 0;) {
            if ((u32)influences.data[i].nBone >= numBones) {
                String text("Bad index of bone : ");
                text += (int)influences.data[i].nBone;
                PackError(scope, text, __LINE__);
                return E_FAIL;
            }
        }
    }
    for (u32 a = 0; a < meta->vAnimations.count; ++a) {
        HRESULT hr = ModelCal3DMeta::CheckAnimation(animationFiles.data[a], meta->vAnimations.data[a], numBones);
        if (hr != S_OK) return hr;
    }
    return S_OK;
}

// The checks of the model's size: no faces without vertices, no more
// vertices than 16-bit indices reach, and influences that one array holds.
// Gives the totals.  S_OK, E_FAIL after an entry, or E_OUTOFMEMORY.
HRESULT CheckSizes(CallScope* scope, const SubMeshLists* lists, u64* totalVertices, u64* totalInfluences) {
    *totalVertices = 0;
    *totalInfluences = 0;
    for (u32 s = 0; s < lists->materials.count; ++s) {
        if (lists->faces.data[s].count > 0 && lists->vertices.data[s].count == 0) {
            String text("SubMesh ");
            text += s;
            text += " has faces but no vertices";
            PackError(scope, text, __LINE__);
            return E_FAIL;
        }
        *totalVertices += lists->vertices.data[s].count;
        *totalInfluences += lists->influences.data[s].count;
    }
    if (*totalVertices > ModelCal3DMeta::MaxVertices) {
        String text("Too many vertices : ");
        text += (unsigned long)*totalVertices;
        text += " (at most ";
        text += ModelCal3DMeta::MaxVertices;
        text += " with 16-bit indices)";
        PackError(scope, text, __LINE__);
        return E_FAIL;
    }
    if (*totalInfluences > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    return S_OK;
}

// Degenerate triangles go, submesh by submesh, through the graphics
// manager's correction.  A submesh without faces has nothing to correct.
HRESULT DropDegenerateTriangles(IGraphics* graphics, SubMeshLists* lists) {
    for (u32 s = 0; s < lists->materials.count; ++s) {
        Vector<i32>& faces = lists->faces.data[s];
        if (faces.count == 0) continue;
        u16* indices = new (std::nothrow) u16[faces.count];
        if (!indices) return E_OUTOFMEMORY;
        for (u32 i = 0; i < faces.count; ++i) indices[i] = (u16)(faces.data[i] & 0xFFFF);
        u16* corrected = indices;
        u32 count = faces.count;
        HRESULT hr = graphics->CorrectIndices(&corrected, &count);
        if (hr < 0) {
            delete[] indices;
            return hr;
        }
        if (!corrected || count > faces.count) count = 0;
        count -= count % 3;  // whole triangles only
        for (u32 i = 0; i < count; ++i) faces.data[i] = corrected[i];
        faces.count = count;
        delete[] indices;
    }
    return S_OK;
}

// Submeshes grouped by material, material 0 first, each group in the order
// the submeshes were found; each material's draw range follows the one
// before it.
void GroupByMaterial(ModelCal3DMeta* meta, SubMeshLists* lists) {
    const u32 numSubMeshes = lists->materials.count;
    const u32 numMaterials = meta->vMatInfos.count;
    u32 next = 0;
    for (u32 m = 0; m < numMaterials; ++m) {
        DrawPrimitiveInfos& draw = meta->vMatInfos.data[m].drawInfos;
        draw.nNumVertices = 0;
        draw.nNumIndices = 0;
        for (u32 s = next; s < numSubMeshes; ++s) {
            if ((u32)lists->materials.data[s] != m) continue;
            if (s != next) {
                std::swap(lists->materials.data[s], lists->materials.data[next]);
                std::swap(lists->faces.data[s], lists->faces.data[next]);
                std::swap(lists->vertices.data[s], lists->vertices.data[next]);
                std::swap(lists->influences.data[s], lists->influences.data[next]);
            }
            draw.nNumVertices += lists->vertices.data[next].count;
            draw.nNumIndices += lists->faces.data[next].count;
            ++next;
        }
    }
    for (u32 m = 0; m < numMaterials; ++m) {
        DrawPrimitiveInfos& draw = meta->vMatInfos.data[m].drawInfos;
        if (m == 0) {
            draw.nFirstVertex = 0;
            draw.nFirstIndex = 0;
        } else {
            const DrawPrimitiveInfos& before = meta->vMatInfos.data[m - 1].drawInfos;
            draw.nFirstVertex = before.nFirstVertex + before.nNumVertices;
            draw.nFirstIndex = before.nFirstIndex + before.nNumIndices;
        }
    }
}

// Indices and influence references become global, counted over the
// submeshes in their grouped order.  The total index count.
u64 MakeIndicesGlobal(SubMeshLists* lists) {
    u64 totalIndices = 0;
    u32 vertexBase = 0, influenceBase = 0;
    for (u32 s = 0; s < lists->materials.count; ++s) {
        Vector<i32>& faces = lists->faces.data[s];
        for (u32 i = 0; i < faces.count; ++i) faces.data[i] += (i32)vertexBase;
        Vector<ModelCal3DMeta::Vertex>& vertices = lists->vertices.data[s];
        for (u32 v = 0; v < vertices.count; ++v) vertices.data[v].nFirstInfluence += influenceBase;
        vertexBase += vertices.count;
        influenceBase += lists->influences.data[s].count;
        totalIndices += faces.count;
    }
    return totalIndices;
}

// Finds the root bones and the posing order (OrderBones); a bone that moves
// vertices must be posed, so one that no root reaches refuses the model.
HRESULT CheckBonesReached(CallScope* scope, ModelCal3DMeta* meta, const SubMeshLists* lists) {
    u8* reached = new (std::nothrow) u8[meta->vBones.count];
    if (!reached) return E_OUTOFMEMORY;
    HRESULT hr = OrderBones(scope, meta, reached);
    for (u32 s = 0; s < lists->influences.count && hr == S_OK; ++s) {
        const Vector<ModelCal3DMeta::Influence>& influences = lists->influences.data[s];
        for (u32 i = 0; i < influences.count; ++i) {
            if (!reached[influences.data[i].nBone]) {
                String text("Bone ");
                text += (int)influences.data[i].nBone;
                text += " moves vertices but no root bone reaches it";
                PackError(scope, text, __LINE__);
                hr = E_FAIL;
                break;
            }
        }
    }
    delete[] reached;
    return hr;
}

// The index buffer, with its system copy for the shadow volumes; the
// per-submesh face lists are freed.  Corners as read: the files wind a face
// counter-clockwise seen from outside in their right-handed axes, which the
// mirror into the engine's makes the engine's outer side,
// (P2 - P1) x (P1 - P0).
HRESULT FillIndexBuffer(CallScope* scope, ModelCal3DMeta* meta, IGraphics* graphics, SubMeshLists* lists,
                        u32 totalIndices) {
    HRESULT hr = graphics->CreateIB(totalIndices, false, &meta->pIB);
    if (hr < 0) meta->pIB = nullptr;
    if (scope->ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    u16* data = nullptr;
    u16* copy = nullptr;
    hr = meta->pIB->Lock(&data, &copy);
    if (hr < 0) return hr;
    u32 at = 0;
    for (u32 s = 0; s < lists->faces.count; ++s) {
        Vector<i32>& faces = lists->faces.data[s];
        for (u32 i = 0; i < faces.count; ++i) {
            u16 index = (u16)(faces.data[i] & 0xFFFF);
            data[at + i] = index;
            copy[at + i] = index;
        }
        at += faces.count;
        faces = Vector<i32>();
    }
    return meta->pIB->Unlock();
}

// The model's vertex and influence arrays, filled from the submeshes' in
// their grouped order; the per-submesh lists are freed.
HRESULT FlattenVertices(ModelCal3DMeta* meta, SubMeshLists* lists, u32 totalVertices, u32 totalInfluences) {
    if (meta->vVertices.Reserve(totalVertices, false) < 0 || meta->vInfluences.Reserve(totalInfluences, false) < 0)
        return E_OUTOFMEMORY;
    meta->vVertices.count = 0;
    meta->vInfluences.count = 0;
    for (u32 s = 0; s < lists->vertices.count; ++s) {
        Vector<ModelCal3DMeta::Vertex>& vertices = lists->vertices.data[s];
        if (vertices.count > 0)
            std::memcpy(meta->vVertices.data + meta->vVertices.count, vertices.data,
                        vertices.count * sizeof(ModelCal3DMeta::Vertex));
        meta->vVertices.count += vertices.count;
        vertices = Vector<ModelCal3DMeta::Vertex>();
        Vector<ModelCal3DMeta::Influence>& influences = lists->influences.data[s];
        if (influences.count > 0)
            std::memcpy(meta->vInfluences.data + meta->vInfluences.count, influences.data,
                        influences.count * sizeof(ModelCal3DMeta::Influence));
        meta->vInfluences.count += influences.count;
        influences = Vector<ModelCal3DMeta::Influence>();
    }
    return S_OK;
}

// Checks the loaded model and packs it (see Load).  S_OK, or the result of
// the failing step after its entries.
HRESULT PackModel(CallScope* scope, ModelCal3DMeta* meta, IGraphics* graphics, SubMeshLists* lists,
                  const Vector<String>& animationFiles) {
    HRESULT hr = CheckReferences(scope, meta, lists, animationFiles);
    if (hr != S_OK) return hr;
    u64 totalVertices = 0, totalInfluences = 0;
    hr = CheckSizes(scope, lists, &totalVertices, &totalInfluences);
    if (hr != S_OK) return hr;
    hr = DropDegenerateTriangles(graphics, lists);
    if (hr != S_OK) return hr;
    GroupByMaterial(meta, lists);
    const u64 totalIndices = MakeIndicesGlobal(lists);
    hr = CheckBonesReached(scope, meta, lists);
    if (hr != S_OK) return hr;
    if (totalIndices == 0) {
        PackError(scope, "No triangle to draw in the model", __LINE__);
        return E_FAIL;
    }
    hr = FillIndexBuffer(scope, meta, graphics, lists, (u32)totalIndices);
    if (hr < 0) return hr;
    return FlattenVertices(meta, lists, (u32)totalVertices, (u32)totalInfluences);
}

// The information entries: where the model was read from and what it holds.
void LogInformation(CallScope* scope, const ModelCal3DMeta& meta, const String& file, u32 numMeshLines,
                    u32 numSubMeshes) {
    String text("Infos of the Cal3D model : ");
    text += File::GetFullPath(file);
    text += file;
    scope->WriteLog(ZVLOG_INFO, text, kSource, __LINE__);
    u32 numIndices = meta.pIB ? meta.pIB->GetNumIndices() : 0;
    text = "";
    text += numMeshLines;
    text += " meshes (";
    text += numSubMeshes;
    text += " submeshes) with ";
    text += numIndices / 3;
    text += " tris & ";
    text += meta.vVertices.count;
    text += " verts (";
    text += meta.vInfluences.count;
    text += " influences)";
    scope->WriteLog(ZVLOG_INFO, text, kSource, __LINE__);
    text = "";
    text += meta.vBones.count;
    text += " bones with ";
    text += meta.vRootBones.count;
    text += " root bone(s)";
    scope->WriteLog(ZVLOG_INFO, text, kSource, __LINE__);
    text = "";
    text += meta.vAnimations.count;
    text += " animations and ";
    text += meta.vMatInfos.count;
    text += " materials";
    scope->WriteLog(ZVLOG_INFO, text, kSource, __LINE__);
}

// The image a material names, in the form CreateTexture finds it:
// exporters often write the path the image had on their own disk, so the
// image candidates of the name (as it stands, then its file name without
// folders) are tried beside the description (cfgFolder, a full path) and on
// the search path.  When none exists, the name as the material holds it.
String FindMaterialImage(const String& name, const String& cfgFolder) {
    Vector<String> candidates;
    AddImageCandidates(name, cfgFolder, &candidates);
    const String found = FirstExistingImage(candidates);
    return found.IsEmpty() ? name : found;
}

// One texture per material that names an image; a material without one
// keeps a null entry.  An image found nowhere or that cannot be decoded
// leaves its material untextured with a warning (the other materials keep
// theirs), as the 3DS and MD5 models do: a character missing one image of
// its package is still drawn.
HRESULT CreateTextures(CallScope* scope, ModelCal3DMeta* meta, const String& file, IGraphics* graphics) {
    Vector<ITexture*>& textures = meta->vTextures;
    if (scope->ReportFailure("-", kSource, __LINE__, textures.Reserve(meta->vMatInfos.count, true)) < 0)
        return ZVE_SUBFUNCTION;
    for (u32 m = 0; m < textures.count; ++m) textures.data[m] = nullptr;
    const String cfgFolder = ReadFolderOf(file);
    for (u32 m = 0; m < meta->vMatInfos.count; ++m) {
        ModelCal3DMeta::MatInfos& infos = meta->vMatInfos.data[m];
        if (!infos.szTexture) continue;
        const String image = FindMaterialImage(String(infos.szTexture), cfgFolder);
        ModelCal3DMeta::FreeTexture(&infos);
        ITexture* texture = nullptr;
        if (graphics->CreateTexture(image, &texture) >= 0 && texture) {
            textures.data[m] = texture;
            continue;
        }
        String text(file);
        text += " : Texture ";
        text += image;
        text += " cannot be loaded; material ";
        text += m;
        text += " is drawn untextured";
        scope->WriteLog(ZVLOG_WARNING, text, kSource, __LINE__);
    }
    return S_OK;
}

}  // namespace

HRESULT ModelCal3DMeta::Load(const String& file, IGraphics* graphics) {
    CallScope scope(nullptr, kLoadScope);
    if (!graphics) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    strFile = file;
    File cfg;
    if (scope.ReportFailure("-", kSource, __LINE__, cfg.Open(file, "rb")) < 0) return ZVE_SUBFUNCTION;

    // The files' axes become the engine's as the instances skin
    // (ToEngineAxes): the base matrix holds only the description's scale.
    matBase.SetIdentity();

    SubMeshLists lists;
    Vector<String> animationFiles;
    String path;
    u32 numMeshLines = 0;
    HRESULT hr = S_OK;
    char line[2048];
    u32 lineNumber = 0;
    u32 unknownKeys = 0;
    while (hr == S_OK && std::fgets(line, sizeof(line), cfg.handle)) {
        ++lineNumber;
        String key, value;
        const char* syntax = nullptr;
        if (!SplitDescriptionLine(line, &key, &value, &syntax)) continue;

        if (syntax) {
            scope.WriteLog(ZVLOG_ERROR, LineEntry(file, lineNumber, syntax), kSource, __LINE__);
            hr = E_FAIL;
        } else if (key == "scale") {
            float scale = value.ToFloat();
            if (scale > 0.0f) {
                Matrix scaling;
                scaling.SetScaling(scale);
                Matrix scaled = matBase * scaling;
                if (std::isfinite(scale) && MatrixIsFinite(scaled)) {
                    matBase = scaled;
                } else {
                    scope.WriteLog(ZVLOG_WARNING, LineEntry(file, lineNumber, ") : Scale out of range (=> ignored)"),
                                   kSource, __LINE__);
                }
            }
        } else if (key == "path") {
            path = value;
        } else if (key == "skeleton") {
            if (vBones.count == 0) {
                hr = LoadSkeleton(path + value, &vBones);
            } else {
                scope.WriteLog(ZVLOG_WARNING, "Many skeletons in the config file, only take the first", kSource,
                               __LINE__);
            }
        } else if (key == "animation") {
            Animation animation;
            String name = path + value;
            hr = LoadAnimation(name, &animation);
            if (hr == S_OK) {
                String shortName = AnimationName(value);
                if (!MoveIn(&vAnimations, &animation) || !MoveIn(&vAnimationNames, &shortName) ||
                    !MoveIn(&animationFiles, &name)) {
                    scope.ReportFailure("-", kSource, __LINE__, E_OUTOFMEMORY);
                    hr = ZVE_SUBFUNCTION;
                }
            }
        } else if (key == "mesh") {
            ++numMeshLines;
            hr = LoadMesh(path + value, &lists.materials, &lists.faces, &lists.vertices, &lists.influences);
        } else if (key == "material") {
            MatInfos infos;
            std::memset(&infos, 0, sizeof(infos));
            hr = LoadMaterial(path + value, path, &infos);
            if (hr == S_OK && vMatInfos.Add(infos) < 0) {
                FreeTexture(&infos);
                scope.ReportFailure("-", kSource, __LINE__, E_OUTOFMEMORY);
                hr = ZVE_SUBFUNCTION;
            }
        } else {
            // Applications built on Cal3D keep keys of their own in the
            // description (flip_texture, idle_anim, ...): not ours to read.
            String text(") : Unknown key '");
            text += key;
            text += "' (=> ignored)";
            RepeatedEntry(&scope, ZVLOG_WARNING, LineEntry(file, lineNumber, text.c_str()), &unknownKeys, __LINE__);
        }
    }
    cfg.Close();
    if (hr != S_OK) {
        scope.ReportFailure(String("Error while loading the Model ") + file, kSource, __LINE__, hr);
        return hr;
    }

    hr = PackModel(&scope, this, graphics, &lists, animationFiles);
    if (hr != S_OK) {
        scope.ReportFailure(String("Error while packing the Model ") + file, kSource, __LINE__, hr);
        return hr;
    }

    LogInformation(&scope, *this, file, numMeshLines, lists.materials.count);
    return CreateTextures(&scope, this, file, graphics);
}
