// ModelMD5Meta: the MD5 file readers (.md5mesh, .md5anim, .def) and the
// data every ModelMD5 instance of one file shares.
#include "modelmd5meta.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>

#include "zvgraphics.h"
#include "zvkernel.h"
#include "zvscan.h"

namespace {

const char kSource[] = "modelmd5meta";
const char kTooBigForFile[] = "Count too big for the size of the file";

inline bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// True when the first length characters of text are all white space.
bool IsBlank(const char* text, u32 length) {
    for (u32 i = 0; i < length; ++i)
        if (!IsWhiteSpace(text[i])) return false;
    return true;
}

// True for a line whose first characters after any white space are "//".
bool IsCommentLine(const char* line) {
    while (IsWhiteSpace(*line)) ++line;
    return line[0] == '/' && line[1] == '/';
}

// The shader's name on a line that the scan "\tshader \"%s\"" matched.  A
// name holding white space ("02 - Default") is the text between the opening
// quote and the next quote.  A name without a closing quote is the rest of
// the line, its trailing white space (and line end) removed.  Any other name
// is the word after the opening quote (up to the next white space) without
// its last character, the closing quote.
String ShaderName(const char* line) {
    // The scan matched, so the line's first quote is the opening one.
    const char* open = std::strchr(line, '"') + 1;
    const char* close = std::strchr(open, '"');
    const char* end = open + std::strlen(open);
    if (!close) {
        while (end > open && IsWhiteSpace(end[-1])) --end;
    } else {
        end = open;
        while (*end != '\0' && !IsWhiteSpace(*end)) ++end;
        // The closing quote inside the word: the word without it (and
        // anything after it); else white space comes first, and the name
        // runs to the closing quote.
        end = close < end ? end - 1 : close;
    }
    return String(line).SubString((u32)(open - line), (u32)(end - line));
}

// The name of a joint line ("joints" and "hierarchy" blocks) into word; null
// when the line does not begin (after any white space) with the opening
// quote or holds nothing after it, else where the line goes on after the
// name.  The name runs from its first character that is not white space to
// its closing quote included, so that it may hold spaces ("Bip01 L Hand\"");
// the closing quote is the first quote that ends a word (followed by white
// space or the end of the line).  Without one, the name is the word up to
// the next white space.  A name without spaces is thus its word, quote
// included ("origin\""), in the mesh as in the animation.  A name that word
// (of wordSize bytes) cannot hold with its NUL gives null with *tooLong set.
const char* ScanJointName(const char* line, char* word, size_t wordSize, bool* tooLong) {
    *tooLong = false;
    const char* name = line;
    while (IsWhiteSpace(*name)) ++name;
    if (*name != '"') return nullptr;
    ++name;
    while (IsWhiteSpace(*name)) ++name;
    if (*name == '\0') return nullptr;
    const char* end = name;
    while (*end != '\0' && !IsWhiteSpace(*end)) ++end;
    if (end[-1] != '"') {
        for (const char* c = end; *c != '\0'; ++c) {
            if (*c == '"' && (c[1] == '\0' || IsWhiteSpace(c[1]))) {
                end = c + 1;
                break;
            }
        }
    }
    if ((size_t)(end - name) >= wordSize) {
        *tooLong = true;
        return nullptr;
    }
    std::memcpy(word, name, (size_t)(end - name));
    word[end - name] = '\0';
    return end;
}

// Number of the flag bits 0 to 5 that are set: the components a joint animates.
u32 CountComponentBits(u32 flags) {
    u32 n = 0;
    for (u32 bit = 0; bit < 6; ++bit)
        if (flags & (1u << bit)) ++n;
    return n;
}

}  // namespace

// One MD5 file being read: its stream, the current line and line counter,
// and the two shapes of error entries, written through the reading method's
// scope with the MD5 file itself as the source position.
class ModelMD5Meta::Reader {
public:
    Reader(CallScope& scope, const String& fileName)
        : fileSize(0), scope_(scope), fileName_(fileName), text_(nullptr), lines_(nullptr, 0), sourceKnown_(false) {
        word[0] = '\0';
    }
    ~Reader() { delete[] text_; }

    // Opens the file ("rb") and reads it into memory.  The failure to open
    // is reported with fileName + " cannot be opened".
    HRESULT Open() {
        File file;
        HRESULT hr = file.Open(fileName_, "rb");
        if (scope_.ReportFailure(fileName_ + " cannot be opened", kSource, __LINE__, hr) < 0) return hr;
        fileSize = 0;
        if (std::fseek(file.handle, 0, SEEK_END) == 0) {
            long size = std::ftell(file.handle);
            if (size > 0) fileSize = (u64)size;
        }
        std::rewind(file.handle);
        text_ = new (std::nothrow) char[fileSize > 0 ? fileSize : 1];
        if (!text_) {
            scope_.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
            return E_OUTOFMEMORY;
        }
        // A file that shrank meanwhile is read as far as it goes.
        fileSize = fileSize > 0 ? std::fread(text_, 1, (size_t)fileSize, file.handle) : 0;
        file.Close();
        lines_ = ModelMD5Meta::LineReader(text_, fileSize);
        return S_OK;
    }

    // Reads the next line.
    bool Next() { return lines_.Next(); }
    const char* Line() const { return lines_.Text(); }
    u32 LineLength() const { return lines_.Length(); }

    // The most records of one kind the file can hold: every record is a line
    // of at least 4 characters.
    u64 MaxRecords() const { return fileSize / 4; }

    // "strBuffer=<line>; Error : <text>" (also used for the warnings that let
    // the reading go on).
    void SyntaxError(const String& text) {
        String message("strBuffer=");
        message += ShownLine();
        message += "; Error : ";
        message += text;
        scope_.WriteLog(ZVLOG_WARNING, message, Source(), lines_.lineCounter);
    }

    // A warning about a sound file, at the current line.
    void Warning(const String& text) { scope_.WriteLog(ZVLOG_WARNING, text, Source(), lines_.lineCounter); }

    // The premature-end entry, then "Error while loading <file>".  E_FAIL.
    HRESULT PrematureEnd(const char* what) {
        String message("strBuffer=");
        message += ShownLine();
        message += "; Error while reading ";
        message += what;
        message += "\nUnexpected EndOfFile; The file is probably corrupted";
        scope_.WriteLog(ZVLOG_WARNING, message, Source(), lines_.lineCounter);
        scope_.ReportFailure("Error while loading " + fileName_, kSource, __LINE__, E_FAIL);
        return E_FAIL;
    }

    // A joint name or a shader (what) longer than a word may be: an entry
    // at the current line, which is not quoted, then "Error while loading
    // <file>".  E_FAIL.
    HRESULT NameTooLong(const char* what) {
        String text("The ");
        text += what;
        text += " name on line ";
        text += (unsigned int)lines_.lineCounter;
        text += " of ";
        text += fileName_;
        text += " is longer than the reader takes (";
        text += (unsigned int)(ModelMD5Meta::WordBufferSize - 1);
        text += " characters at most)";
        scope_.WriteLog(ZVLOG_WARNING, text, Source(), lines_.lineCounter);
        scope_.ReportFailure("Error while loading " + fileName_, kSource, __LINE__, E_FAIL);
        return E_FAIL;
    }

    // Checks a count read from the file: at least 1 (else the syntax error
    // zeroText) and at most maxCount (else tooBigText; by default the most
    // the file can hold).
    bool CheckCount(i64 count, const char* zeroText, u64 maxCount, const char* tooBigText = kTooBigForFile) {
        if (count < 1) {
            SyntaxError(zeroText);
            return false;
        }
        if ((u64)count > maxCount) {
            SyntaxError(tooBigText);
            return false;
        }
        return true;
    }

    // The three counts of a submesh are all 0 (an empty mesh, as exporters
    // write helper objects) or none is; a count line that cannot be read
    // leaves its count at -1 and is refused.  first: the vertex count;
    // emptySoFar: the counts before this one were 0.
    bool CheckMeshCount(int count, bool first, bool emptySoFar) {
        if (!first && (count == 0) != emptySoFar) {
            SyntaxError("Assertion failed");
            return false;
        }
        return count == 0 || CheckCount(count, "Assertion failed", MaxRecords());
    }

    // Reports "Not Enough Memory" through the reading method's scope.
    HRESULT OutOfMemory(u32 line) {
        scope_.ReportFailure("Not Enough Memory", kSource, line, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }

    // Reads "%s" from the next line and compares it with token; the syntax
    // error "Cannot find Token \"<token>\" !!!" when it differs.
    bool ExpectToken(const char* token) {
        Next();
        word[0] = '\0';
        ScanLine(Line(), LineLength(), "%2047s", word);
        if (std::strcmp(word, token) == 0) return true;
        SyntaxError(String("Cannot find Token \"") + token + "\" !!!");
        return false;
    }

    // Scans the current line as a joint line: its quoted name into word
    // (ScanJointName), then what follows the name with format.  The number
    // of conversions, the name's included, as the scan of the whole line
    // would give it (0 without a name); -1 when the name is longer than
    // word takes.
    template <class... T>
    int ScanJoint(const char* format, T*... targets) {
        word[0] = '\0';
        bool tooLong = false;
        const char* rest = ScanJointName(Line(), word, sizeof(word), &tooLong);
        if (!rest) return tooLong ? -1 : 0;
        const int n = ScanLine(rest, LineLength() - (u32)(rest - Line()), format, targets...);
        return 1 + (n > 0 ? n : 0);
    }

    // Scans the current line as "\t( %f %f %f ) ( %f %f %f )" into v (0 where
    // nothing is read): true when all six numbers are read.
    bool ScanTriplePair(float v[6]) {
        for (u32 i = 0; i < 6; ++i) v[i] = 0.0f;
        return ScanLine(Line(), LineLength(), "\t( %f %f %f ) ( %f %f %f )", &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5]) == 6;
    }

    // Reads the header line "MD5Version <n>" and the line after it.
    bool ReadHeader() {
        Next();
        word[0] = '\0';
        int version = 0;
        ScanLine(Line(), LineLength(), "%2047s %d", word, &version);
        if (std::strcmp(word, "MD5Version") != 0) {
            SyntaxError("Cannot find Magic Token \"MD5Version\" !!!");
            return false;
        }
        if (version != 10) SyntaxError("MD5Version != 10; Try to load...");
        Next();  // the command line the file was exported with
        return true;
    }

    u64 fileSize;
    char word[ModelMD5Meta::WordBufferSize];

private:
    // The line as the entries show it: without its final CR LF when it has one.
    String ShownLine() const {
        const u32 length = LineLength();
        String line(Line());
        if (length >= 2 && Line()[length - 2] == '\r') return line.SubString(0, length - 2);
        return line;
    }

    const String& Source() {
        if (!sourceKnown_) {
            source_ = File::GetFullPath(fileName_) + fileName_;
            sourceKnown_ = true;
        }
        return source_;
    }

    CallScope& scope_;
    const String& fileName_;
    char* text_;  // the whole file
    ModelMD5Meta::LineReader lines_;
    String source_;
    bool sourceKnown_;

    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
};

namespace {

// The texture file of a shader, in the form CreateTexture finds it; ""
// when there is none.  First the shader's name followed by "_df.tga",
// "_d.tga" or ".tga" on the search path.  Then the diffuse image of models
// handed around, often a PNG or JPEG beside the mesh: the shader's file name
// (without its folders) followed by "_df", then "_d", each with ".tga",
// ".png" and ".jpg", beside the mesh file (meshFolder, handed over as a full
// path) before the search path.  Last, as exporters name the image itself,
// the image candidates of the shader's name, beside the mesh and on the
// search path.
String FindShaderTexture(const String& shader, const String& meshFolder) {
    Vector<String> candidates;
    for (const char* suffix : {"_df.tga", "_d.tga", ".tga"}) candidates.Add(shader + suffix);
    const String file = FileNameOf(shader);
    if (!file.IsEmpty()) {
        for (const char* suffix : {"_df", "_d"})
            AddImageFileCandidates(file + suffix, meshFolder, {".tga", ".png", ".jpg"}, &candidates);
    }
    AddImageCandidates(shader, meshFolder, &candidates);
    return FirstExistingImage(candidates);
}

}  // namespace

// ---------------------------------------------------------------------------
// Records

ModelMD5Meta::SubMeshData::SubMeshData()
    : bNoShader(false), pVertices(nullptr), nNumVertices(0), pIndices(nullptr), nNumIndices(0), pInfluences(nullptr),
      nNumInfluences(0) {}

ModelMD5Meta::SubMeshData::~SubMeshData() { Free(); }

ModelMD5Meta::SubMeshData& ModelMD5Meta::SubMeshData::operator=(SubMeshData&& other) noexcept {
    if (this != &other) {
        Free();
        strShader = std::move(other.strShader);
        bNoShader = other.bNoShader;
        pVertices = other.pVertices;
        nNumVertices = other.nNumVertices;
        pIndices = other.pIndices;
        nNumIndices = other.nNumIndices;
        pInfluences = other.pInfluences;
        nNumInfluences = other.nNumInfluences;
        other.pVertices = nullptr;
        other.pIndices = nullptr;
        other.pInfluences = nullptr;
        other.nNumVertices = other.nNumIndices = other.nNumInfluences = 0;
    }
    return *this;
}

void ModelMD5Meta::SubMeshData::Free() {
    delete[] pVertices;
    delete[] pIndices;
    delete[] pInfluences;
    pVertices = nullptr;
    pIndices = nullptr;
    pInfluences = nullptr;
    nNumVertices = nNumIndices = nNumInfluences = 0;
}

ModelMD5Meta::ModelMD5Meta() : strFile("NO_FILE"), pIB(nullptr), nRef(1) {}

ModelMD5Meta::~ModelMD5Meta() {
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
}

u32 ModelMD5Meta::AddRef() { return ++nRef; }

u32 ModelMD5Meta::Release() {
    if (nRef == 0) return 0;
    if (--nRef > 0) return nRef;
    delete this;
    return 0;
}

void ModelMD5Meta::ComputeLocalBindPose() {
    for (u32 i = 0; i < vBones.count; ++i) {
        Bone& bone = vBones.data[i];
        const i32 parent = bone.nParent;
        if (parent < 0 || (u32)parent >= vBones.count) {
            bone.vLocalPos = bone.vPos;
            bone.qLocalOrient = bone.qOrient;
            continue;
        }
        // position: the model-space point brought back through the parent's
        // rotation and translation;
        const Bone& up = vBones.data[parent];
        Matrix toParent;
        toParent.SetRotationTranslation(up.qOrient, up.vPos);
        bone.vLocalPos = bone.vPos;
        bone.vLocalPos *= toParent.GetInverse();
        // orientation: q = local * parent, so local = q * parent^-1.
        const Quaternion& q = up.qOrient;
        const double norm = (double)q.x * q.x + (double)q.y * q.y + (double)q.z * q.z + (double)q.w * q.w;
        const double s = norm > 0.0 ? 1.0 / norm : 0.0;
        const Quaternion inverse((float)(-q.x * s), (float)(-q.y * s), (float)(-q.z * s), (float)(q.w * s));
        bone.qLocalOrient = bone.qOrient * inverse;
    }
}

float ModelMD5Meta::UnitQuaternionW(float x, float y, float z) {
    double t = 1.0 - (double)x * x - (double)y * y - (double)z * z;
    return t > 0.0 ? (float)-std::sqrt(t) : 0.0f;
}

// ---------------------------------------------------------------------------
// Lines

ModelMD5Meta::LineReader::LineReader(const char* data, u64 size)
    : lineCounter(0), data_(data), size_(data ? size : 0), position_(0), endOfFile_(false), first_(0), length_(0),
      buffer_(1, '\0') {}

bool ModelMD5Meta::LineReader::Next() {
    // A line's length is held in 32 bits: a line of 4 GB or more (which no
    // file of the formats holds) would come in pieces of this size.
    const u64 kLongest = 0xFFFFFFFEu;
    bool more = true;
    u32 length = 0;
    do {
        length = 0;
        ++lineCounter;
        if (position_ >= size_) {
            more = false;  // the end of the file
            break;
        }
        // One physical line: up to and including its line end; a line
        // without one ends the file.
        const char* line = data_ + position_;
        const u64 left = size_ - position_;
        const size_t most = (size_t)(left < kLongest ? left : kLongest);
        const char* end = static_cast<const char*>(std::memchr(line, '\n', most));
        const u32 read = end ? (u32)(end - line) + 1 : (u32)most;
        position_ += read;
        if (!end && position_ >= size_) endOfFile_ = true;
        // The line is its text up to the first NUL byte.
        const char* nul = static_cast<const char*>(std::memchr(line, '\0', read));
        length = nul ? (u32)(nul - line) : read;
        if (buffer_.size() <= length) buffer_.resize((size_t)length + 1);
        std::memcpy(buffer_.data(), line, length);
    } while ((length < 4 || IsBlank(buffer_.data(), length)) && !endOfFile_);
    buffer_[length] = '\0';

    u32 first = 0;
    while (first < length && (buffer_[first] == '\r' || buffer_[first] == '\n')) ++first;
    first_ = first;
    length_ = length - first;
    return more;
}

// ---------------------------------------------------------------------------
// .md5mesh

HRESULT ModelMD5Meta::LoadMesh(const String& fileName, IGraphics* graphics) {
    CallScope scope(nullptr, "ModelMD5Meta::LoadMesh()");
    if (!graphics) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    Vector<SubMeshData> subMeshes;
    HRESULT hr = ParseMesh(fileName, &subMeshes);
    if (hr < 0) return hr;
    return BuildMesh(fileName, &subMeshes, graphics);
}

HRESULT ModelMD5Meta::ParseMesh(const String& fileName, Vector<SubMeshData>* subMeshes) {
    CallScope scope(nullptr, "ModelMD5Meta::LoadMesh()");
    if (!subMeshes) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    Reader in(scope, fileName);
    if (in.Open() < 0) return ZVE_SUBFUNCTION;
    if (!in.ReadHeader()) return E_FAIL;

    int numJoints = 0;
    in.Next();
    ScanLine(in.Line(), in.LineLength(), "numJoints %d", &numJoints);
    if (!in.CheckCount(numJoints, "No bone in the skeleton", in.MaxRecords())) return E_FAIL;

    int numMeshes = 0;
    in.Next();
    ScanLine(in.Line(), in.LineLength(), "numMeshes %d", &numMeshes);
    if (!in.CheckCount(numMeshes, "No mesh in the model", in.MaxRecords())) return E_FAIL;

    if (!in.ExpectToken("joints")) return E_FAIL;
    HRESULT hr = ReadJoints(in, scope, (u32)numJoints);
    if (hr >= 0) hr = LinkJoints(scope);
    if (hr < 0) return hr;
    ComputeLocalBindPose();

    subMeshes->count = 0;
    if (subMeshes->Reserve((u32)numMeshes, true) < 0) return in.OutOfMemory(__LINE__);
    hr = ReadSubMeshes(in, subMeshes);
    if (hr < 0) {
        scope.ReportFailure("Error while reading Meshes", kSource, __LINE__, hr);
        scope.ReportFailure("Error while loading " + fileName, kSource, __LINE__, hr);
        subMeshes->count = 0;
        return hr;
    }
    return S_OK;
}

HRESULT ModelMD5Meta::ReadJoints(Reader& in, CallScope& scope, u32 count) {
    HRESULT hr = vBones.Reserve(count, true);
    if (hr >= 0) hr = vBoneNames.Reserve(count, true);
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return ZVE_SUBFUNCTION;
    vBones.count = count;
    vBoneNames.count = count;
    vRootBones.count = 0;

    for (u32 i = 0; i < count; ++i) {
        Bone& bone = vBones.data[i];
        bone.nParent = -1;
        bone.vChildren.count = 0;
        in.Next();
        int parent = -1;
        float p[3] = {0.0f, 0.0f, 0.0f};
        float q[3] = {0.0f, 0.0f, 0.0f};
        int n = in.ScanJoint("\t%d ( %f %f %f ) ( %f %f %f )", &parent, &p[0], &p[1], &p[2], &q[0], &q[1], &q[2]);
        if (n < 0) return in.NameTooLong("joint");
        if (n < 8) return in.PrematureEnd("bone");
        if (parent < -1 || (i64)parent >= (i64)count || parent == (int)i) {
            in.SyntaxError("Bad parent index");
            return E_FAIL;
        }
        bone.nParent = parent;
        bone.vPos = Vector3(p[0], p[1], p[2]);
        bone.qOrient = Quaternion(q[0], q[1], q[2], UnitQuaternionW(q[0], q[1], q[2]));
        vBoneNames.data[i] = in.word;
    }
    return S_OK;
}

HRESULT ModelMD5Meta::LinkJoints(CallScope& scope) {
    const u32 nJoints = vBones.count;
    // Children (ascending) and roots, in two passes over the joints.
    u32* childCount = new (std::nothrow) u32[nJoints]();
    if (!childCount) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    for (u32 j = 0; j < nJoints; ++j)
        if (vBones.data[j].nParent >= 0) ++childCount[vBones.data[j].nParent];
    HRESULT hr = S_OK;
    for (u32 i = 0; i < nJoints && hr >= 0; ++i) {
        if (childCount[i] > 0) hr = vBones.data[i].vChildren.Reserve(childCount[i], false);
        vBones.data[i].vChildren.count = 0;
    }
    delete[] childCount;
    for (u32 j = 0; j < nJoints && hr >= 0; ++j) {
        const i32 parent = vBones.data[j].nParent;
        if (parent >= 0) {
            Vector<long>& children = vBones.data[parent].vChildren;
            children.data[children.count++] = (long)j;
        } else {
            hr = vRootBones.Add((long)j);
        }
    }
    if (hr < 0) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (vRootBones.count == 0) {
        scope.ReportFailure("No root bone in the skeleton", kSource, __LINE__, E_FAIL);
        return E_FAIL;
    }

    // Every joint must hang below a root (no parent cycles).  The walk from
    // the roots reaches every joint once, parents before their children:
    // the order in which the instances pose the skeleton, at any depth.
    vPoseOrder.count = 0;
    if (vPoseOrder.Reserve(nJoints, true) < 0) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    u32* order = vPoseOrder.data;
    u32 reached = 0;
    for (u32 r = 0; r < vRootBones.count; ++r) order[reached++] = (u32)vRootBones.data[r];
    for (u32 k = 0; k < reached; ++k) {
        const Bone& bone = vBones.data[order[k]];
        for (u32 c = 0; c < bone.vChildren.count && reached < nJoints; ++c) order[reached++] = (u32)bone.vChildren.data[c];
    }
    if (reached < nJoints) {
        vPoseOrder.count = 0;
        scope.ReportFailure("Some bones cannot be reached from a root bone (cycle of parents)", kSource, __LINE__,
                            E_FAIL);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT ModelMD5Meta::ReadSubMeshes(Reader& in, Vector<SubMeshData>* subMeshes) {
    HRESULT hr = S_OK;
    for (u32 m = 0; m < subMeshes->count && hr >= 0; ++m) {
        SubMeshData& sub = subMeshes->data[m];
        sub.Free();
        bool countLineRead = false;
        hr = ReadMeshHeader(in, &sub, &countLineRead);
        if (hr >= 0) hr = ReadVertices(in, &sub, countLineRead);
        if (hr >= 0) hr = ReadTriangles(in, &sub);
        if (hr >= 0) hr = ReadWeights(in, m, &sub);
        if (hr >= 0) hr = CheckWeightRanges(in, sub);
    }
    return hr;
}

HRESULT ModelMD5Meta::ReadMeshHeader(Reader& in, SubMeshData* sub, bool* countLineRead) {
    // "mesh {", then the shader line (after any comment lines).
    in.Next();
    in.word[0] = '\0';
    if (ScanLine(in.Line(), in.LineLength(), "%2047s", in.word) < 1) return in.PrematureEnd("mesh");
    if (std::strcmp(in.word, "mesh") != 0) {
        in.SyntaxError("Cannot find Token \"mesh\" !!!");
        return E_FAIL;
    }
    do {
        in.Next();
    } while (IsCommentLine(in.Line()));
    // Some exporters write no shader line: the mesh then has no shader, and
    // this line is its vertex count.
    *countLineRead = false;
    sub->strShader = "";
    sub->bNoShader = false;
    in.word[0] = '\0';
    if (ScanLine(in.Line(), in.LineLength(), "\tshader \"%2047s\"", in.word) >= 1) {
        sub->strShader = ShaderName(in.Line());
        if (sub->strShader.length >= WordBufferSize) return in.NameTooLong("shader");
    } else if (ScanLine(in.Line(), in.LineLength(), "%2047s", in.word) == 1 && std::strcmp(in.word, "numverts") == 0) {
        sub->bNoShader = true;
        *countLineRead = true;
    } else {
        in.SyntaxError("Cannot find Token \"shader\" !!!");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT ModelMD5Meta::ReadVertices(Reader& in, SubMeshData* sub, bool countLineRead) {
    int numVerts = -1;
    if (!countLineRead) in.Next();
    ScanLine(in.Line(), in.LineLength(), "\tnumverts %d", &numVerts);
    if (!in.CheckMeshCount(numVerts, true, false)) return E_FAIL;
    sub->pVertices = new (std::nothrow) Vertex[(u32)numVerts];
    if (!sub->pVertices) return in.OutOfMemory(__LINE__);
    sub->nNumVertices = (u32)numVerts;
    for (u32 k = 0; k < sub->nNumVertices; ++k) {
        in.Next();
        int id = -1, firstWeight = 0, numWeights = 0;
        float u = 0.0f, v = 0.0f;
        int n = ScanLine(in.Line(), in.LineLength(), "\tvert %d ( %f %f ) %d %d", &id, &u, &v, &firstWeight,
                         &numWeights);
        Vertex& vertex = sub->pVertices[k];
        vertex.fU = u;
        vertex.fV = v;
        vertex.nFirstInfluence = 0;
        vertex.nNumInfluences = 0;
        if (n < 5) return in.PrematureEnd("Error while reading a Vertex.");
        if (id != (int)k) {
            in.SyntaxError("Bad vertex id");
            return E_FAIL;
        }
        if (firstWeight < 0 || numWeights < 0) {
            in.SyntaxError("Bad weight range of the vertex");
            return E_FAIL;
        }
        vertex.nFirstInfluence = (u32)firstWeight;
        vertex.nNumInfluences = (u32)numWeights;
    }
    return S_OK;
}

HRESULT ModelMD5Meta::ReadTriangles(Reader& in, SubMeshData* sub) {
    int numTris = -1;
    in.Next();
    ScanLine(in.Line(), in.LineLength(), "\tnumtris %d", &numTris);
    if (!in.CheckMeshCount(numTris, false, sub->nNumVertices == 0)) return E_FAIL;
    const u64 numIndices = 3ull * (u64)numTris;
    sub->pIndices = new (std::nothrow) u16[numIndices];
    if (!sub->pIndices) return in.OutOfMemory(__LINE__);
    sub->nNumIndices = (u32)numIndices;
    for (u32 k = 0; k < (u32)numTris; ++k) {
        in.Next();
        int id = -1;
        int index[3] = {0, 0, 0};
        int n = ScanLine(in.Line(), in.LineLength(), "\ttri %d %d %d %d", &id, &index[0], &index[1], &index[2]);
        for (u32 c = 0; c < 3; ++c) sub->pIndices[3 * k + c] = 0;
        if (n < 4) return in.PrematureEnd("Triangle");
        if (id != (int)k) {
            in.SyntaxError("Bad triangle id");
            return E_FAIL;
        }
        // Stored a, c, b: the mirror into the engine's axes turns the sense
        // of the corners round.
        static const u32 kCorner[3] = {0, 2, 1};
        for (u32 c = 0; c < 3; ++c) {
            if (index[c] < 0 || (u32)index[c] >= sub->nNumVertices) {
                in.SyntaxError("Triangle index out of the vertices of the mesh");
                return E_FAIL;
            }
            sub->pIndices[3 * k + kCorner[c]] = (u16)index[c];
        }
    }
    return S_OK;
}

HRESULT ModelMD5Meta::ReadWeights(Reader& in, u32 mesh, SubMeshData* sub) {
    int numWeights = -1;
    in.Next();
    ScanLine(in.Line(), in.LineLength(), "\tnumweights %d", &numWeights);
    if (!in.CheckMeshCount(numWeights, false, sub->nNumIndices == 0)) return E_FAIL;
    if (numWeights == 0) {
        String text("The mesh ");
        text += (unsigned int)mesh;
        text += " is empty (no vertex, triangle or weight): nothing of it is drawn";
        in.Warning(text);
    }
    sub->pInfluences = new (std::nothrow) Influence[(u32)numWeights];
    if (!sub->pInfluences) return in.OutOfMemory(__LINE__);
    sub->nNumInfluences = (u32)numWeights;
    for (u32 k = 0; k < sub->nNumInfluences; ++k) {
        in.Next();
        int id = -1, joint = -1;
        float bias = 0.0f;
        float p[3] = {0.0f, 0.0f, 0.0f};
        int n = ScanLine(in.Line(), in.LineLength(), "\tweight %d %d %f ( %f %f %f )", &id, &joint, &bias, &p[0],
                         &p[1], &p[2]);
        Influence& weight = sub->pInfluences[k];
        weight.nBone = 0;
        weight.fWeight = bias;
        weight.vPos = Vector3(p[0], p[1], p[2]);
        weight.vNormal = Vector3();
        if (n < 6) return in.PrematureEnd("weight");
        if (id != (int)k) {
            in.SyntaxError("Bad weight id");
            return E_FAIL;
        }
        if (joint < 0 || (u32)joint >= vBones.count) {
            in.SyntaxError("Assertion failed");
            return E_FAIL;
        }
        weight.nBone = joint;
    }
    return S_OK;
}

HRESULT ModelMD5Meta::CheckWeightRanges(Reader& in, const SubMeshData& sub) {
    // The vertices' weight ranges must lie inside this mesh's weights.
    for (u32 k = 0; k < sub.nNumVertices; ++k) {
        const Vertex& vertex = sub.pVertices[k];
        if ((u64)vertex.nFirstInfluence + vertex.nNumInfluences > sub.nNumInfluences) {
            String text("The weights of the vertex ");
            text += (unsigned int)k;
            text += " are out of the weights of the mesh";
            in.SyntaxError(text);
            return E_FAIL;
        }
    }
    return S_OK;
}

HRESULT ModelMD5Meta::BuildMesh(const String& fileName, Vector<SubMeshData>* subMeshes, IGraphics* graphics) {
    CallScope scope(nullptr, "ModelMD5Meta::LoadMesh()");
    if (!subMeshes || !graphics) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    const u32 nMeshes = subMeshes->count;
    SubMeshData* subs = subMeshes->data;

    HRESULT hr = ResetSubMeshes(scope, nMeshes);
    if (hr < 0) return hr;
    LoadTextures(scope, ReadFolderOf(fileName), subs, graphics);

    // Degenerate triangles go; after the first refusal the rest stay as read.
    for (u32 m = 0; m < nMeshes; ++m) {
        if (subs[m].nNumIndices == 0) continue;  // an empty mesh
        if (graphics->CorrectIndices(&subs[m].pIndices, &subs[m].nNumIndices) < 0) break;
    }

    // Ranges in the concatenated arrays, in 64 bits.
    u64 totalVertices = 0, totalIndices = 0, totalInfluences = 0;
    for (u32 m = 0; m < nMeshes; ++m) {
        totalVertices += subs[m].nNumVertices;
        totalIndices += subs[m].nNumIndices;
        totalInfluences += subs[m].nNumInfluences;
    }
    if (totalVertices > 0xFFFFFFFFull || totalIndices > 0xFFFFFFFFull || totalInfluences > 0xFFFFFFFFull) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        scope.ReportFailure("Error while loading " + fileName, kSource, __LINE__, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (totalIndices == 0) {
        scope.ReportFailure("No triangle left once the degenerate ones are removed", kSource, __LINE__, E_FAIL);
        scope.ReportFailure("Error while loading " + fileName, kSource, __LINE__, E_FAIL);
        return E_FAIL;
    }
    PlaceSubMeshes(subs, nMeshes);

    hr = CreateIndexBuffer(subs, nMeshes, (u32)totalIndices, graphics);
    if (hr < 0) {
        scope.ReportFailure("Error while loading " + fileName, kSource, __LINE__, hr);
        return hr;
    }
    if (totalVertices > 0xFFFF)
        scope.WriteLog(ZVLOG_WARNING,
                       "IB is 16bits and the VB is bigger => IB is corrupted since concatenation (or before)",
                       kSource, __LINE__);

    hr = GatherVertices(subs, nMeshes, (u32)totalVertices, (u32)totalInfluences);
    if (hr >= 0) hr = ComputeBindPoseNormals(subs, nMeshes);
    if (hr < 0) {
        scope.ReportFailure("Error while loading " + fileName, kSource, __LINE__, hr);
        return hr;
    }
    for (u32 m = 0; m < nMeshes; ++m) subs[m].Free();

    String info("Infos of the MD5 model : ");
    info += File::GetFullPath(fileName);
    info += fileName;
    scope.WriteLog(ZVLOG_INFO, info, kSource, __LINE__);
    info = "";
    info += (unsigned int)nMeshes;
    info += " submeshes with ";
    info += (unsigned int)(totalIndices / 3);
    info += " tris & ";
    info += (unsigned int)totalVertices;
    info += " verts (";
    info += (unsigned int)totalInfluences;
    info += " influences)";
    scope.WriteLog(ZVLOG_INFO, info, kSource, __LINE__);
    info = "";
    info += (unsigned int)vBones.count;
    info += " bones with ";
    info += (unsigned int)vRootBones.count;
    info += " root bone(s)";
    scope.WriteLog(ZVLOG_INFO, info, kSource, __LINE__);
    return S_OK;
}

HRESULT ModelMD5Meta::ResetSubMeshes(CallScope& scope, u32 count) {
    if (pIB) {
        pIB->Release();
        pIB = nullptr;
    }
    for (u32 i = 0; i < vTextures.count; ++i) {
        if (vTextures.data[i]) vTextures.data[i]->Release();
        vTextures.data[i] = nullptr;
    }
    HRESULT hr = vSubMeshes.Reserve(count, true);
    if (hr >= 0) hr = vTextures.Reserve(count, true);
    if (hr < 0) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    vSubMeshes.count = count;
    vTextures.count = count;
    for (u32 m = 0; m < count; ++m) vTextures.data[m] = nullptr;
    return S_OK;
}

void ModelMD5Meta::LoadTextures(CallScope& scope, const String& meshFolder, const SubMeshData* subs,
                                IGraphics* graphics) {
    for (u32 m = 0; m < vTextures.count; ++m) {
        if (subs[m].nNumVertices == 0) continue;  // an empty mesh draws nothing
        // A mesh without a shader line or with an empty name has no texture
        // to look for.
        const bool named = !subs[m].bNoShader && !subs[m].strShader.IsEmpty();
        if (named) {
            const String texture = FindShaderTexture(subs[m].strShader, meshFolder);
            if (!texture.IsEmpty()) graphics->CreateTexture(texture, &vTextures.data[m]);
        }
        if (vTextures.data[m]) continue;
        String text;
        if (named) {
            text = "Can't load the diffuse texture of the shader \"";
            text += subs[m].strShader;
            text += "\" for the mesh ";
            text += (unsigned int)m;
        } else {
            text = "The mesh ";
            text += (unsigned int)m;
            text += " names no shader: it has no texture";
        }
        scope.WriteLog(ZVLOG_WARNING, text, kSource, __LINE__);
    }
}

void ModelMD5Meta::PlaceSubMeshes(SubMeshData* subs, u32 count) {
    u32 firstVertex = 0, firstIndex = 0, firstInfluence = 0;
    for (u32 m = 0; m < count; ++m) {
        DrawPrimitiveInfos& range = vSubMeshes.data[m];
        range.nFirstVertex = firstVertex;
        range.nNumVertices = subs[m].nNumVertices;
        range.nFirstIndex = firstIndex;
        range.nNumIndices = subs[m].nNumIndices;
        if (m > 0) {
            for (u32 i = 0; i < subs[m].nNumIndices; ++i) subs[m].pIndices[i] = (u16)(subs[m].pIndices[i] + firstVertex);
            for (u32 k = 0; k < subs[m].nNumVertices; ++k) subs[m].pVertices[k].nFirstInfluence += firstInfluence;
        }
        firstVertex += subs[m].nNumVertices;
        firstIndex += subs[m].nNumIndices;
        firstInfluence += subs[m].nNumInfluences;
    }
}

HRESULT ModelMD5Meta::CreateIndexBuffer(const SubMeshData* subs, u32 count, u32 totalIndices, IGraphics* graphics) {
    HRESULT hr = graphics->CreateIB(totalIndices, false, &pIB);
    if (hr < 0) return hr;
    u16* data = nullptr;
    u16* copy = nullptr;
    hr = pIB->Lock(&data, &copy);
    if (hr < 0) return hr;
    u32 at = 0;
    for (u32 m = 0; m < count; ++m) {
        std::memcpy(data + at, subs[m].pIndices, subs[m].nNumIndices * sizeof(u16));
        std::memcpy(copy + at, subs[m].pIndices, subs[m].nNumIndices * sizeof(u16));
        at += subs[m].nNumIndices;
    }
    return pIB->Unlock();
}

HRESULT ModelMD5Meta::GatherVertices(const SubMeshData* subs, u32 count, u32 totalVertices, u32 totalInfluences) {
    HRESULT hr = vVertices.Reserve(totalVertices, true);
    if (hr >= 0) hr = vInfluences.Reserve(totalInfluences, true);
    if (hr < 0) return hr;
    vVertices.count = totalVertices;
    vInfluences.count = totalInfluences;
    u32 v = 0, w = 0;
    for (u32 m = 0; m < count; ++m) {
        for (u32 k = 0; k < subs[m].nNumVertices; ++k) vVertices.data[v++] = subs[m].pVertices[k];
        for (u32 k = 0; k < subs[m].nNumInfluences; ++k) vInfluences.data[w++] = subs[m].pInfluences[k];
    }
    return S_OK;
}

HRESULT ModelMD5Meta::ComputeBindPoseNormals(const SubMeshData* subs, u32 count) {
    // In the engine's axes: area-weighted face normals summed per vertex,
    // then handed to each of the vertex's weights.  The bind pose's box
    // comes with them.
    const u32 nVertices = vVertices.count;
    Vector3* positions = new (std::nothrow) Vector3[nVertices];
    Vector3* normals = new (std::nothrow) Vector3[nVertices];
    Matrix* joints = new (std::nothrow) Matrix[vBones.count];
    if (!positions || !normals || !joints) {
        delete[] positions;
        delete[] normals;
        delete[] joints;
        return E_OUTOFMEMORY;
    }
    for (u32 j = 0; j < vBones.count; ++j) joints[j].SetRotationTranslation(vBones.data[j].qOrient, vBones.data[j].vPos);
    for (u32 v = 0; v < nVertices; ++v) {
        const Vertex& vertex = vVertices.data[v];
        for (u32 k = 0; k < vertex.nNumInfluences; ++k) {
            const Influence& weight = vInfluences.data[vertex.nFirstInfluence + k];
            Vector3 p = weight.vPos;
            p *= joints[weight.nBone];
            positions[v] += p * weight.fWeight;
        }
        positions[v] = ToEngineAxes(positions[v]);
        if (v == 0) vBindMin = vBindMax = positions[v];
        vBindMin.Minimize(positions[v]);
        vBindMax.Maximize(positions[v]);
    }
    for (u32 m = 0; m < count; ++m) {
        const u16* indices = subs[m].pIndices;
        for (u32 i = 0; i + 2 < subs[m].nNumIndices; i += 3) {
            const u32 a = indices[i], b = indices[i + 1], c = indices[i + 2];
            Vector3 n;
            n.Cross(positions[c] - positions[b], positions[b] - positions[a]);
            normals[a] += n;
            normals[b] += n;
            normals[c] += n;
        }
    }
    for (u32 v = 0; v < nVertices; ++v) {
        normals[v].Normalize();
        const Vertex& vertex = vVertices.data[v];
        for (u32 k = 0; k < vertex.nNumInfluences; ++k) {
            Vector3& normal = vInfluences.data[vertex.nFirstInfluence + k].vNormal;
            normal = Vector3();
            normal += normals[v];
            normal.Normalize();
        }
    }
    delete[] positions;
    delete[] normals;
    delete[] joints;
    return S_OK;
}

// ---------------------------------------------------------------------------
// .md5anim

// The counts of an .md5anim file's header, checked.
struct ModelMD5Meta::AnimationCounts {
    u32 frames, joints, components;
    float frameRate;
};

HRESULT ModelMD5Meta::LoadAnimation(const String& fileName, Animation* out, const Vector<String>* boneNames) {
    CallScope scope(nullptr, "ModelMD5Meta::LoadAnimation()");
    if (!out) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }
    Reader in(scope, fileName);
    if (in.Open() < 0) return ZVE_SUBFUNCTION;
    if (!in.ReadHeader()) return E_FAIL;
    AnimationCounts counts;
    if (!ReadAnimationCounts(in, &counts)) return E_FAIL;
    const u32 nNames = boneNames ? boneNames->count : 0;
    if (counts.joints != nNames)
        in.SyntaxError("Anim.NumBones != Model.NumBones => Can create problem while animating the skeleton");

    if (!in.ExpectToken("hierarchy")) return E_FAIL;
    out->fFrameRate = counts.frameRate;
    if (scope.ReportFailure("-", kSource, __LINE__, SizeAnimation(counts, out)) < 0) return ZVE_SUBFUNCTION;
    HRESULT hr = ReadHierarchy(in, counts.components, boneNames, out);
    if (hr >= 0) hr = ReadBounds(in, out);
    if (hr >= 0) hr = ReadBaseFrame(in, out);
    if (hr >= 0) hr = ReadFrames(in, out);
    return hr;
}

bool ModelMD5Meta::ReadAnimationCounts(Reader& in, AnimationCounts* counts) {
    int numFrames = 0;
    in.Next();
    ScanLine(in.Line(), in.LineLength(), "numFrames %d", &numFrames);
    if (!in.CheckCount(numFrames, "No Frame in the animation file", in.MaxRecords())) return false;

    int numJoints = 0;
    in.Next();
    ScanLine(in.Line(), in.LineLength(), "numJoints %d", &numJoints);
    if (!in.CheckCount(numJoints, "No Bones in the animation file", in.MaxRecords())) return false;

    float frameRate = 0.0f;
    in.Next();
    ScanLine(in.Line(), in.LineLength(), "frameRate %f", &frameRate);
    if (frameRate == 0.0f) {
        in.SyntaxError("FrameRate == 0.0f in the animation file");
        return false;
    }
    if (!std::isfinite(frameRate) || frameRate < 0.0f) {
        in.SyntaxError("FrameRate must be a finite number above 0");
        return false;
    }

    // Every frame holds numAnimatedComponents floats, each at least a digit
    // and a separator in the file: the file size bounds their total.
    int numComponents = 0;
    in.Next();
    ScanLine(in.Line(), in.LineLength(), "numAnimatedComponents %d", &numComponents);
    if (!in.CheckCount(numComponents, "No AnimatedComponents in the animation file", 6ull * (u64)numJoints,
                       "More AnimatedComponents than 6 per bone"))
        return false;
    if ((u64)numFrames * (u64)numComponents > in.fileSize) {
        in.SyntaxError(kTooBigForFile);
        return false;
    }
    counts->frames = (u32)numFrames;
    counts->joints = (u32)numJoints;
    counts->components = (u32)numComponents;
    counts->frameRate = frameRate;
    return true;
}

HRESULT ModelMD5Meta::SizeAnimation(const AnimationCounts& counts, Animation* out) {
    const u32 nFrames = counts.frames, nJoints = counts.joints, nComponents = counts.components;
    HRESULT hr = out->vAnimBones.Reserve(nJoints, true);
    if (hr >= 0) hr = out->vBounds.Reserve(2 * nFrames, true);
    if (hr >= 0) hr = out->vBasePos.Reserve(nJoints, true);
    if (hr >= 0) hr = out->vBaseOrient.Reserve(nJoints, true);
    if (hr >= 0) hr = out->vFrames.Reserve(nFrames, true);
    for (u32 f = 0; f < nFrames && hr >= 0; ++f) {
        Vector<float>& frame = out->vFrames.data[f];
        hr = frame.Reserve(nComponents, true);
        if (hr >= 0) {
            frame.count = nComponents;
            for (u32 c = 0; c < nComponents; ++c) frame.data[c] = 0.0f;
        }
    }
    if (hr < 0) return hr;
    out->vAnimBones.count = nJoints;
    out->vBounds.count = 2 * nFrames;
    out->vBasePos.count = nJoints;
    out->vBaseOrient.count = nJoints;
    out->vFrames.count = nFrames;
    return S_OK;
}

HRESULT ModelMD5Meta::ReadHierarchy(Reader& in, u32 nComponents, const Vector<String>* boneNames, Animation* out) {
    // Name, parent, flags, start index of every joint.
    const u32 nJoints = out->vAnimBones.count;
    const u32 nNames = boneNames ? boneNames->count : 0;
    std::unordered_map<std::string, u32> nameIndex;
    bool nameIndexBuilt = false;
    for (u32 j = 0; j < nJoints; ++j) {
        Animation::AnimBone& bone = out->vAnimBones.data[j];
        bone.nBone = -1;
        bone.nParent = -1;
        bone.nFlags = 0;
        bone.nStartIndex = 0;
        in.Next();
        int parent = -1, flags = 0, start = 0;
        int n = in.ScanJoint("\t%d %d %d", &parent, &flags, &start);
        if (n < 0) return in.NameTooLong("joint");
        if (n < 4) return in.PrematureEnd("bone");
        if (flags < 0 || flags > 63) {
            in.SyntaxError("Assertion failed");
            return E_FAIL;
        }
        if (start < 0 || (u64)start + CountComponentBits((u32)flags) > nComponents) {
            in.SyntaxError("The components of the bone pass numAnimatedComponents");
            return E_FAIL;
        }
        bone.nParent = parent;
        bone.nFlags = (u32)flags;
        bone.nStartIndex = (u32)start;
        if (j < nNames && boneNames->data[j] == in.word) {
            bone.nBone = (i32)j;
        } else {
            // Otherwise the last equal name of the mesh.
            if (!nameIndexBuilt) {
                nameIndexBuilt = true;
                for (u32 b = 0; b < nNames; ++b) nameIndex[boneNames->data[b].c_str()] = b;
            }
            auto found = nameIndex.find(in.word);
            if (found != nameIndex.end()) bone.nBone = (i32)found->second;
        }
        if (bone.nBone < 0) in.SyntaxError("Cannot find a bone from the Animation to the Model.");
    }
    return S_OK;
}

HRESULT ModelMD5Meta::ReadBounds(Reader& in, Animation* out) {
    // Minimum and maximum of every frame.
    if (!in.ExpectToken("bounds")) return E_FAIL;
    for (u32 f = 0; f < out->vFrames.count; ++f) {
        in.Next();
        float v[6];
        if (!in.ScanTriplePair(v)) return in.PrematureEnd("bound");
        out->vBounds.data[2 * f] = Vector3(v[0], v[1], v[2]);
        out->vBounds.data[2 * f + 1] = Vector3(v[3], v[4], v[5]);
    }
    return S_OK;
}

HRESULT ModelMD5Meta::ReadBaseFrame(Reader& in, Animation* out) {
    // Position and orientation of every joint.
    if (!in.ExpectToken("baseframe")) return E_FAIL;
    for (u32 j = 0; j < out->vAnimBones.count; ++j) {
        in.Next();
        float v[6];
        if (!in.ScanTriplePair(v)) return in.PrematureEnd("BaseFrame Keys");
        out->vBasePos.data[j] = Vector3(v[0], v[1], v[2]);
        out->vBaseOrient.data[j] = Quaternion(v[3], v[4], v[5], 0.0f);
    }
    return S_OK;
}

HRESULT ModelMD5Meta::ReadFrames(Reader& in, Animation* out) {
    // In order; one line per joint whose flags are not 0.
    const u32 nJoints = out->vAnimBones.count;
    for (u32 f = 0; f < out->vFrames.count; ++f) {
        in.Next();
        in.word[0] = '\0';
        int id = -1;
        int n = ScanLine(in.Line(), in.LineLength(), "%2047s %d", in.word, &id);
        if (n < 2) return in.PrematureEnd("frame");
        if (std::strcmp(in.word, "frame") != 0) {
            in.SyntaxError("Cannot find Token \"frame\" !!!");
            return E_FAIL;
        }
        if (id != (int)f) {
            in.SyntaxError("Invalid frame ID");
            return E_FAIL;
        }
        Vector<float>& frame = out->vFrames.data[f];
        u32 written = 0;
        for (u32 j = 0; j < nJoints; ++j) {
            const u32 flags = out->vAnimBones.data[j].nFlags;
            if (flags == 0) continue;
            in.Next();
            float v[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
            n = ScanLine(in.Line(), in.LineLength(), "\t%f %f %f %f %f %f )", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
            if (n == EOF) return in.PrematureEnd("Keys");
            if ((u32)n != CountComponentBits(flags)) {
                in.SyntaxError("Number of Components read don't match with bone needs");
                return E_FAIL;
            }
            if (written + (u32)n > frame.count) {
                in.SyntaxError("Assertion failed");
                return E_FAIL;
            }
            for (int c = 0; c < n; ++c) frame.data[written++] = v[c];
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// .def model lists and the whole load

namespace {

bool IsMeshFileName(const String& name) {
    return name.length >= 8 && std::strcmp(name.c_str() + name.length - 8, ".md5mesh") == 0;
}

// True for a model line whose block holds a line "mesh <file>.md5mesh".
bool HasMeshLine(const Parser::Line& model) {
    for (u32 i = 0; i < model.InnerLines.count; ++i) {
        const Parser::Line& inner = model.InnerLines.data[i];
        if (inner.Tokens.count == 2 && inner.Tokens.data[0] == "mesh" && IsMeshFileName(inner.Tokens.data[1]))
            return true;
    }
    return false;
}

bool IsModelLine(const Parser::Line& line) { return line.Tokens.count == 2 && line.Tokens.data[0] == "model"; }

// The model of the list: the top-level line "model <modelName>", or without
// a name the first model line with a mesh line (whose name modelName then
// takes).  Null, after its entry in the log, when there is none to use.
const Parser::Line* FindModel(CallScope& scope, const Vector<Parser::Line>& lines, const String& file,
                              String* modelName) {
    if (modelName->IsEmpty()) {
        for (u32 i = 0; i < lines.count; ++i) {
            if (IsModelLine(lines.data[i]) && HasMeshLine(lines.data[i])) {
                *modelName = lines.data[i].Tokens.data[1];
                return &lines.data[i];
            }
        }
        scope.WriteLog(ZVLOG_INFO,
                       "There is no 'model' Token (with a 'mesh'+'full file paths' tokens after it) in the "
                       "file '" + file +
                           "'. Verify that the file is a correct .def MD5 file and that it contains at least "
                           "one correct 'model'",
                       kSource, __LINE__);
        return nullptr;
    }
    const Parser::Line* model = nullptr;
    for (u32 i = 0; i < lines.count && !model; ++i)
        if (IsModelLine(lines.data[i]) && lines.data[i].Tokens.data[1] == *modelName) model = &lines.data[i];
    if (!model) {
        scope.WriteLog(ZVLOG_INFO,
                       "Model '" + *modelName + "' in the file '" + file +
                           "' can not be found. Verify that the file is a correct .def MD5 file and that it "
                           "contains the asked model",
                       kSource, __LINE__);
        return nullptr;
    }
    if (model->InnerLines.count == 0) {
        scope.WriteLog(ZVLOG_INFO,
                       "Model '" + *modelName + "' in the file '" + file +
                           "' is empty. Verify that this part of the file is followed by a '{' and the "
                           "description of the model",
                       kSource, __LINE__);
        return nullptr;
    }
    if (!HasMeshLine(*model)) {
        scope.WriteLog(ZVLOG_INFO,
                       "Model '" + *modelName + "' in the file '" + file +
                           "' don't contains a mesh (and its full path)",
                       kSource, __LINE__);
        return nullptr;
    }
    return model;
}

}  // namespace

HRESULT ModelMD5Meta::Load(const String& command, IGraphics* graphics) {
    CallScope scope(nullptr, "ModelMD5Meta::Load()");
    if (!graphics) {
        scope.ReportFailure("Invalid Call/Param", kSource, __LINE__, E_INVALIDARG);
        return ZVE_SUBFUNCTION;
    }

    // The model files' axes become the engine's while the model is built
    // (ToEngineAxes): new instances start unmoved.
    matWorld.SetIdentity();

    ModelList list;
    if (ReadModelList(scope, command, &list) < 0) return ZVE_SUBFUNCTION;
    const Parser::Line* model = FindModel(scope, list.lines, list.file, &list.modelName);
    if (!model) return E_FAIL;
    const HRESULT hr = LoadModel(scope, *model, graphics);

    String info("    ");
    info += (unsigned int)vAnimations.count;
    info += " animation(s); Using the file : ";
    info += list.shownFile;
    if (!list.modelName.IsEmpty()) {
        info += "?";
        info += list.modelName;
    }
    scope.WriteLog(ZVLOG_INFO, info, kSource, __LINE__);

    strFile = command;
    return hr;
}

HRESULT ModelMD5Meta::ReadModelList(CallScope& scope, const String& command, ModelList* list) {
    if (IsMeshFileName(command)) {
        // A mesh file alone: the list of one nameless model with one mesh line.
        list->file = command;
        list->shownFile = command;
        Parser::Line model, mesh;
        HRESULT hr = model.Tokens.Add("model");
        if (hr >= 0) hr = model.Tokens.Add("");
        if (hr >= 0) hr = mesh.Tokens.Add("mesh");
        if (hr >= 0) hr = mesh.Tokens.Add(command);
        if (hr >= 0) hr = model.InnerLines.Add(mesh);
        if (hr >= 0) hr = list->lines.Add(model);
        return scope.ReportFailure("Not Enough Memory", kSource, __LINE__, hr);
    }
    // "<file>.def" or "<file>.def?<model>".
    const u32 mark = command.FindFirstOf("?", 0);
    if (mark == String::npos) {
        list->file = command;
    } else {
        list->file = command.SubString(0, mark);
        list->modelName = command.SubString(mark + 1, command.length);
    }
    list->shownFile = File::GetFullPath(list->file) + list->file;
    File defFile;
    const HRESULT hr = defFile.Open(list->file, "rb");
    if (scope.ReportFailure("-", kSource, __LINE__, hr) < 0) return hr;
    Parser parser;
    parser.SetSeparators(nullptr, 0, nullptr, 0);
    parser.Parse(&defFile, &list->lines, false);
    defFile.Close();
    return S_OK;
}

HRESULT ModelMD5Meta::LoadModel(CallScope& scope, const Parser::Line& model, IGraphics* graphics) {
    // The model's mesh first, then its animations.
    HRESULT hr = E_FAIL;
    for (u32 i = 0; i < model.InnerLines.count; ++i) {
        const Vector<String>& tokens = model.InnerLines.data[i].Tokens;
        if (tokens.count >= 2 && tokens.data[0] == "mesh") {
            if (vBoneNames.count > 0) {
                scope.WriteLog(ZVLOG_WARNING, "Many meshes in the .def file, only take the first", kSource,
                               __LINE__);
                continue;
            }
            hr = LoadMesh(tokens.data[1], graphics);
            if (hr < 0) break;
        } else if (tokens.count >= 3 && tokens.data[0] == "anim") {
            if (vBoneNames.count == 0) {
                scope.WriteLog(ZVLOG_WARNING,
                               "You MUST put mesh file BEFORE any animation; Ignore the animation " + tokens.data[1],
                               kSource, __LINE__);
                continue;
            }
            AddModelAnimation(scope, tokens.data[1], tokens.data[2]);
        }
    }
    return hr;
}

void ModelMD5Meta::AddModelAnimation(CallScope& scope, const String& name, const String& fileName) {
    // A file that cannot be read is left out (LoadAnimation has said why).
    Animation animation;
    if (LoadAnimation(fileName, &animation, &vBoneNames) < 0) return;
    if (vAnimations.Add(animation) < 0) {
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
        return;
    }
    if (vAnimationNames.Add(name) < 0) {
        --vAnimations.count;
        scope.ReportFailure("Not Enough Memory", kSource, __LINE__, E_OUTOFMEMORY);
    }
}
