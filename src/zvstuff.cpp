// The engine's foundation: String, the math records, File and the search
// path, and the log writer.
#include "zvstuff.h"

#include <locale.h>
#include <time.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "zvdxerr.h"
#include "zvkernel.h"

namespace {

const char kDefaultFloatFormat[8] = "%.6f";

// Numbers in texts are always written and read the same way, whatever
// locale the program may have chosen.
locale_t CLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    return loc;
}

class CLocaleScope {
public:
    CLocaleScope() : previous_(CLocale() ? uselocale(CLocale()) : (locale_t)0) {}
    ~CLocaleScope() {
        if (previous_) uselocale(previous_);
    }

private:
    locale_t previous_;
};

}  // namespace

// ---------------------------------------------------------------------------
// String

String::String() : data(nullptr), capacity(0), length(0) {
    std::memcpy(floatFormat, kDefaultFloatFormat, sizeof(floatFormat));
}

String::String(const String& other) : String() { Assign(other.data, other.length); }

String::String(String&& other) noexcept : String() {
    data = other.data;
    capacity = other.capacity;
    length = other.length;
    other.data = nullptr;
    other.capacity = other.length = 0;
}

String::String(const char* text) : String() {
    if (text) Assign(text, (u32)std::strlen(text));
}

String::~String() {
    delete[] data;
    data = nullptr;
    capacity = length = 0;
}

void String::Assign(const char* text, u32 n) {
    length = n;
    if (n == 0) {
        if (data) data[0] = '\0';
        return;
    }
    if (capacity < n + 1) {
        delete[] data;
        data = new (std::nothrow) char[n + 1];
        if (!data) {
            capacity = length = 0;
            return;
        }
        capacity = n + 1;
    }
    std::memmove(data, text, n);
    data[n] = '\0';
}

void String::Append(const char* text, u32 n) {
    if (n == 0) return;
    u32 needed = length + n + 1;
    if (capacity < needed) {
        char* fresh = new (std::nothrow) char[needed];
        if (!fresh) return;
        if (length) std::memcpy(fresh, data, length);
        // The text may be our own buffer: copy it before that is freed.
        std::memcpy(fresh + length, text, n);
        delete[] data;
        data = fresh;
        capacity = needed;
    } else {
        std::memmove(data + length, text, n);
    }
    length += n;
    data[length] = '\0';
}

String& String::operator=(const String& other) {
    if (this != &other) Assign(other.data, other.length);
    return *this;
}

String& String::operator=(String&& other) noexcept {
    if (this != &other) {
        char* d = data;
        u32 c = capacity, l = length;
        data = other.data;
        capacity = other.capacity;
        length = other.length;
        other.data = d;
        other.capacity = c;
        other.length = l;
    }
    return *this;
}

String& String::operator=(const char* text) {
    Assign(text, text ? (u32)std::strlen(text) : 0);
    return *this;
}

String& String::operator+=(const String& other) {
    Append(other.data, other.length);
    return *this;
}

String& String::operator+=(const char* text) {
    if (text) Append(text, (u32)std::strlen(text));
    return *this;
}

String& String::operator+=(char c) {
    if (c != '\0') Append(&c, 1);
    return *this;
}

String& String::operator+=(double value) {
    char buffer[512];
    {
        CLocaleScope c;
        std::snprintf(buffer, sizeof(buffer), floatFormat, value);
    }
    return *this += buffer;
}

String& String::operator+=(int value) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%d", value);
    return *this += buffer;
}

String& String::operator+=(unsigned int value) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%u", value);
    return *this += buffer;
}

String& String::operator+=(long value) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%ld", value);
    return *this += buffer;
}

String& String::operator+=(unsigned long value) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%lu", value);
    return *this += buffer;
}

String& String::operator+=(Vector3 v) {
    *this += "{";
    *this += (double)v.x;
    *this += ", ";
    *this += (double)v.y;
    *this += ", ";
    *this += (double)v.z;
    *this += "}";
    return *this;
}

String String::operator+(const String& other) const {
    String result(*this);
    result += other;
    return result;
}

String String::operator+(const char* text) const {
    String result(*this);
    result += text;
    return result;
}

String operator+(const char* text, const String& s) {
    String result(text);
    result += s;
    return result;
}

String CameraVectorsText(std::initializer_list<LabelledVector> vectors) {
    String text;
    std::strcpy(text.floatFormat, "%g");
    for (const LabelledVector& v : vectors) {
        text += v.label;
        text += v.vector;
    }
    return text;
}

bool String::operator==(const String& other) const {
    return length == other.length && (length == 0 || std::memcmp(data, other.data, length) == 0);
}

bool String::operator==(const char* text) const {
    const char* t = text ? text : "";
    size_t n = std::strlen(t);
    return n == length && (n == 0 || std::memcmp(data, t, n) == 0);
}

int String::ToInt(bool* outOfRange) const {
    if (outOfRange) *outOfRange = false;
    CLocaleScope c;
    const char* text = c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text) return 0;
    if (errno == ERANGE || value > INT_MAX || value < INT_MIN) {
        if (outOfRange) *outOfRange = true;
        return value < 0 ? INT_MIN : INT_MAX;
    }
    return (int)value;
}

float String::ToFloat(bool* outOfRange) const {
    if (outOfRange) *outOfRange = false;
    CLocaleScope c;
    const char* text = c_str();
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(text, &end);
    if (end == text) return 0.0f;
    // ERANGE with an infinite result is an overflow; with a tiny one the
    // nearest float (0 or a denormal) is what the text means.
    if (errno == ERANGE && std::isinf(value)) {
        if (outOfRange) *outOfRange = true;
        return value < 0.0f ? -FLT_MAX : FLT_MAX;
    }
    return value;
}

u32 String::FindFirstOf(const String& set, u32 start) const {
    if (start >= length || set.length == 0) return npos;
    for (u32 i = start; i < length; ++i)
        if (std::memchr(set.data, data[i], set.length)) return i;
    return npos;
}

u32 String::FindFirstNotOf(const String& set, u32 start) const {
    if (start >= length || set.length == 0) return npos;
    for (u32 i = start; i < length; ++i)
        if (!std::memchr(set.data, data[i], set.length)) return i;
    return npos;
}

i32 String::FindLastOf(const String& set, i32 start) const {
    if (set.length == 0 || length == 0 || start < 0) return -1;
    i32 i = ((u32)start >= length) ? (i32)length - 1 : start;
    for (; i >= 0; --i)
        if (std::memchr(set.data, data[i], set.length)) return i;
    return -1;
}

String String::SubString(u32 start, u32 end) const {
    if (end > length) end = length;
    String result;
    if (start < end) result.Assign(data + start, end - start);
    return result;
}

String& String::ToLower() {
    for (u32 i = 0; i < length; ++i)
        if (data[i] >= 'A' && data[i] <= 'Z') data[i] = (char)(data[i] - 'A' + 'a');
    return *this;
}

HRESULT String::Reserve(u32 n) {
    if (capacity >= n) return S_FALSE;
    char* fresh = new (std::nothrow) char[n];
    if (!fresh) return E_OUTOFMEMORY;
    if (data) {
        std::memcpy(fresh, data, length + 1);
    } else {
        fresh[0] = '\0';
    }
    delete[] data;
    data = fresh;
    capacity = n;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Math records

double Vector3::Length() const { return std::sqrt(LengthSq()); }

Vector3& Vector3::Cross(const Vector3& a, const Vector3& b) {
    double ax = a.x, ay = a.y, az = a.z, bx = b.x, by = b.y, bz = b.z;
    x = (float)(ay * bz - az * by);
    y = (float)(az * bx - ax * bz);
    z = (float)(ax * by - ay * bx);
    return *this;
}

Vector3& Vector3::Lerp(const Vector3& a, const Vector3& b, float t) {
    double ax = a.x, ay = a.y, az = a.z;
    x = (float)(ax + ((double)b.x - ax) * t);
    y = (float)(ay + ((double)b.y - ay) * t);
    z = (float)(az + ((double)b.z - az) * t);
    return *this;
}

Vector3& Vector3::Normalize() {
    double len = Length();
    if (len > 0.0) {
        x = (float)(x / len);
        y = (float)(y / len);
        z = (float)(z / len);
    }
    return *this;
}

Vector3& Vector3::operator*=(const Matrix& m) {
    double vx = x, vy = y, vz = z;
    x = (float)(vx * m._11 + vy * m._21 + vz * m._31 + m._41);
    y = (float)(vx * m._12 + vy * m._22 + vz * m._32 + m._42);
    z = (float)(vx * m._13 + vy * m._23 + vz * m._33 + m._43);
    return *this;
}

Vector3& Vector3::operator*=(const Quaternion& q) {
    Quaternion p(x, y, z, 0.0f);
    Quaternion c(-q.x, -q.y, -q.z, q.w);
    Quaternion r = q * (p * c);
    x = r.x;
    y = r.y;
    z = r.z;
    return *this;
}

Vector4& Vector4::operator*=(const Matrix& m) {
    D3DXVec4Transform(this, this, &m);
    return *this;
}

double Vector4::Length() const {
    return std::sqrt((double)x * x + (double)y * y + (double)z * z + (double)w * w);
}

Vector4& Vector4::Normalize() {
    double len = Length();
    if (len > 0.0) {
        x = (float)(x / len);
        y = (float)(y / len);
        z = (float)(z / len);
        w = (float)(w / len);
    }
    return *this;
}

Quaternion& Quaternion::Lerp(const Quaternion& a, const Quaternion& b, float t) {
    double ax = a.x, ay = a.y, az = a.z, aw = a.w;
    x = (float)(ax + ((double)b.x - ax) * t);
    y = (float)(ay + ((double)b.y - ay) * t);
    z = (float)(az + ((double)b.z - az) * t);
    w = (float)(aw + ((double)b.w - aw) * t);
    return *this;
}

Quaternion& Quaternion::operator*=(const Quaternion& q) {
    D3DXQuaternionMultiply(this, this, &q);
    return *this;
}

Quaternion Quaternion::operator*(const Quaternion& q) const {
    Quaternion r;
    D3DXQuaternionMultiply(&r, this, &q);
    return r;
}

Matrix::Matrix() { std::memset(m, 0, sizeof(m)); }

Matrix::Matrix(const float* values) { std::memcpy(m, values, sizeof(m)); }

Matrix& Matrix::SetIdentity() {
    std::memset(m, 0, sizeof(m));
    _11 = _22 = _33 = _44 = 1.0f;
    return *this;
}

Matrix& Matrix::SetRotationX(float angle) {
    D3DXMatrixRotationX(this, angle);
    return *this;
}

Matrix& Matrix::SetRotationY(float angle) {
    D3DXMatrixRotationY(this, angle);
    return *this;
}

Matrix& Matrix::SetRotationZ(float angle) {
    D3DXMatrixRotationZ(this, angle);
    return *this;
}

Matrix& Matrix::SetRotationAxis(const Vector3& axis, float angle) {
    D3DXMatrixRotationAxis(this, &axis, angle);
    return *this;
}

Matrix& Matrix::SetScaling(float s) {
    D3DXMatrixScaling(this, s, s, s);
    return *this;
}

Matrix& Matrix::SetRotationTranslation(const Quaternion& q, const Vector3& p) {
    D3DXMatrixRotationQuaternion(this, &q);
    _41 = p.x;
    _42 = p.y;
    _43 = p.z;
    return *this;
}

Matrix& Matrix::operator*=(const Matrix& other) {
    D3DXMatrixMultiply(this, this, &other);
    return *this;
}

Matrix Matrix::operator*(const Matrix& other) const {
    Matrix r;
    D3DXMatrixMultiply(&r, this, &other);
    return r;
}

Matrix Matrix::GetInverse() const {
    double rows[4][8];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) rows[i][j] = m[j][i];  // column i of the matrix
        for (int j = 0; j < 4; ++j) rows[i][4 + j] = (i == j) ? 1.0 : 0.0;
    }
    double* r0 = rows[0];
    double* r1 = rows[1];
    double* r2 = rows[2];
    double* r3 = rows[3];
    double* t;
#define ZV_SWAP(a, b) (t = (a), (a) = (b), (b) = t)

    // Column 0.
    if (std::fabs(r3[0]) > std::fabs(r2[0])) ZV_SWAP(r3, r2);
    if (std::fabs(r2[0]) > std::fabs(r1[0])) ZV_SWAP(r2, r1);
    if (std::fabs(r1[0]) > std::fabs(r0[0])) ZV_SWAP(r1, r0);
    if (r0[0] == 0.0) return *this;
    {
        double* below[3] = {r1, r2, r3};
        for (double* r : below) {
            double k = r[0] / r0[0];
            for (int c = 1; c < 4; ++c) r[c] -= k * r0[c];
            for (int c = 4; c < 8; ++c)
                if (r0[c] != 0.0) r[c] -= k * r0[c];
        }
    }

    // Column 1.
    if (std::fabs(r3[1]) > std::fabs(r2[1])) ZV_SWAP(r3, r2);
    if (std::fabs(r2[1]) > std::fabs(r1[1])) ZV_SWAP(r2, r1);
    if (r1[1] == 0.0) return *this;
    {
        double* below[2] = {r2, r3};
        for (double* r : below) {
            double k = r[1] / r1[1];
            for (int c = 2; c < 4; ++c) r[c] -= k * r1[c];
            for (int c = 4; c < 8; ++c)
                if (r1[c] != 0.0) r[c] -= k * r1[c];
        }
    }

    // Column 2.
    if (std::fabs(r3[2]) > std::fabs(r2[2])) ZV_SWAP(r3, r2);
    if (r2[2] == 0.0) return *this;
    {
        double k = r3[2] / r2[2];
        for (int c = 3; c < 8; ++c) r3[c] -= k * r2[c];
    }
    if (r3[3] == 0.0) return *this;
#undef ZV_SWAP

    // Back substitution.
    double s = 1.0 / r3[3];
    for (int c = 4; c < 8; ++c) r3[c] *= s;
    double k = r2[3];
    s = 1.0 / r2[2];
    for (int c = 4; c < 8; ++c) r2[c] = s * (r2[c] - r3[c] * k);
    k = r1[3];
    for (int c = 4; c < 8; ++c) r1[c] -= r3[c] * k;
    k = r0[3];
    for (int c = 4; c < 8; ++c) r0[c] -= r3[c] * k;
    k = r1[2];
    s = 1.0 / r1[1];
    for (int c = 4; c < 8; ++c) r1[c] = s * (r1[c] - r2[c] * k);
    k = r0[2];
    for (int c = 4; c < 8; ++c) r0[c] -= r2[c] * k;
    k = r0[1];
    s = 1.0 / r0[0];
    for (int c = 4; c < 8; ++c) r0[c] = s * (r0[c] - r1[c] * k);

    Matrix result;
    double* out[4] = {r0, r1, r2, r3};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) result.m[j][i] = (float)out[i][4 + j];
    return result;
}

// ---------------------------------------------------------------------------
// File and the search path

Vector<String> Paths;

String FolderOf(const String& path) {
    const i32 slash = path.FindLastOf("\\/", (i32)path.length);
    return slash < 0 ? String() : path.SubString(0, (u32)slash + 1);
}

String FileNameOf(const String& path) {
    const i32 slash = path.FindLastOf("\\/", (i32)path.length);
    return slash < 0 ? path : path.SubString((u32)slash + 1, path.length);
}

String GetExeDir() { return FolderOf(String(ZVGetModuleFileName().c_str())); }

bool IsAbsolutePath(const String& name) {
    if (name.length >= 2 && name.data[1] == ':') return true;
    return name.length >= 1 && (name.data[0] == '/' || name.data[0] == '\\');
}

bool ImageFileExists(const String& name) {
    if (IsAbsolutePath(name)) {
        FILE* f = ZVfopen(name.c_str(), "r");
        if (!f) return false;
        std::fclose(f);
        return true;
    }
    return File::GetFullPath(name).length > 0;
}

void AddImageCandidates(const String& name, const String& folder, Vector<String>* candidates) {
    const String file = FileNameOf(name);
    const String* bases[2] = {&name, &file};
    const u32 numBases = file == name ? 1 : 2;
    for (u32 b = 0; b < numBases; ++b)
        AddImageFileCandidates(*bases[b], folder, {"", ".tga", ".png", ".jpg"}, candidates);
}

void AddImageFileCandidates(const String& base, const String& folder, std::initializer_list<const char*> extensions,
                            Vector<String>* candidates) {
    for (const char* extension : extensions) {
        const String candidate = base + extension;
        if (!folder.IsEmpty() && !IsAbsolutePath(candidate)) candidates->Add(folder + candidate);
        candidates->Add(candidate);
    }
}

String ReadFolderOf(const String& fileName) {
    String path = File::GetFullPath(fileName) + fileName;
    if (!IsAbsolutePath(path)) path = String(ZVGetCurrentDirectory().c_str()) + path;
    return FolderOf(path);
}

String FirstExistingImage(const Vector<String>& candidates) {
    for (u32 i = 0; i < candidates.count; ++i) {
        const String& candidate = candidates.data[i];
        bool tried = false;
        for (u32 j = 0; j < i && !tried; ++j) tried = candidates.data[j] == candidate;
        if (!tried && ImageFileExists(candidate)) return candidate;
    }
    return String();
}

File::File() : handle(nullptr) {}

File::~File() { Close(); }

void File::Close() {
    if (handle) {
        std::fclose(handle);
        handle = nullptr;
    }
}

i32 File::Read(void* buffer, u32 size) {
    if (!handle) return -1;
    return (i32)std::fread(buffer, 1, size, handle);
}

String File::GetFullPath(const String& name) {
    CallScope scope(nullptr, "File::GetFullPath()");
    if (IsAbsolutePath(name)) return String();
    String exeDir = GetExeDir();

    for (i32 i = (i32)Paths.count - 1; i >= 0; --i) {
        String& entry = Paths.data[i];
        if (!IsAbsolutePath(entry)) entry = exeDir + entry;
        if (entry.length > 0 && entry.data[entry.length - 1] != '/' && entry.data[entry.length - 1] != '\\')
            entry += "/";
        if (GetFileAttributesA(entry.c_str()) == INVALID_FILE_ATTRIBUTES) {
            scope.WriteLog(ZVLOG_WARNING, "Path '" + entry + "' do not exist (=> Remove it)", "zvstuff",
                           __LINE__);
            Paths.Remove((u32)i);
        }
    }

    for (i32 i = (i32)Paths.count - 1; i >= 0; --i) {
        String candidate = Paths.data[i] + name;
        FILE* f = ZVfopen(candidate.c_str(), "r");
        if (f) {
            std::fclose(f);
            return Paths.data[i];
        }
    }
    return String();
}

HRESULT File::Open(const String& name, const String& mode) {
    CallScope scope(nullptr, "File::Open()");
    Close();

    String fullName;
    if (IsAbsolutePath(name)) {
        fullName = name;
    } else if (mode.FindFirstOf("wW", 0) != String::npos) {
        fullName = GetExeDir() + name;
    } else {
        fullName = GetFullPath(name) + name;
    }

    handle = ZVfopen(fullName.c_str(), mode.c_str());
    if (handle) return S_OK;
    const int why = errno;

    String message("OpenMode : '");
    message += mode;
    message += "', File '";
    message += fullName;
    message += "' not found or access denied\n";
    if (Paths.count > 0) {
        message += "Paths=";
        for (i32 i = (i32)Paths.count - 1; i >= 0; --i) {
            message += Paths.data[i];
            message += ";";
        }
    } else {
        message += "Paths list is empty";
    }
    scope.WriteLog(ZVLOG_ERROR, message, "zvstuff", __LINE__);
    errno = why;
    return E_FAIL;
}

// ---------------------------------------------------------------------------
// The log

namespace {

FILE* g_logFile = nullptr;
bool g_firstEntry = true;
bool g_exitRoutineRegistered = false;
std::string* g_logSink = nullptr;

void CloseLogAtExit() {
    if (g_logFile) {
        std::fclose(g_logFile);
        g_logFile = nullptr;
    }
}

// Why the log file could not be opened, from the errno of its open.
String LogOpenFailure(int error) {
    // ZVOpenFile refuses a pipe or a device in the log's mode with EINVAL.
    if (error == EINVAL) return "it is not a regular file";
    return std::strerror(error);
}

void OpenLogFile() {
    File file;
    if (file.Open("zvlog.txt", "w+t") < 0) {
        // The first-entry flag is already cleared: this warning does not try
        // the file again and reaches the console and the debugger output alone.
        const String reason = LogOpenFailure(errno);
        CallScope scope(nullptr, "CallScope::WriteLog()");
        scope.WriteLog(ZVLOG_WARNING,
                       String("The log file 'zvlog.txt' cannot be written (") + reason +
                           "); the log goes to the console only",
                       "zvstuff", __LINE__);
        return;
    }
    g_logFile = file.handle;
    file.handle = nullptr;
    if (!g_exitRoutineRegistered) {
        g_exitRoutineRegistered = true;
        std::atexit(CloseLogAtExit);
    }
}

}  // namespace

CallScope::CallScope(IInterface* owner_, const String& method_) : owner(owner_), method(method_) {}

CallScope::~CallScope() {}

HRESULT CallScope::WriteLog(u32 level, const String& message, const String& sourceFile, u32 line) {
    if (g_firstEntry && !g_logFile) {
        g_firstEntry = false;
        OpenLogFile();
    }

    String text;
    if (level == 1 || level == 2) text += "\n";
    text += "[";
    if (owner) {
        text += owner->GetName();
        text += "::";
    }
    text += method;
    text += "] ";
    if (level == 1) text += "Warning : \"";
    if (level == 2) text += "Error : \"";
    text += message;
    if (level == 1 || level == 2) {
        time_t now = time(nullptr);
        struct tm local;
        char clock[16] = "00:00:00";
        if (localtime_r(&now, &local))
            std::snprintf(clock, sizeof(clock), "%02d:%02d:%02d", local.tm_hour % 100, local.tm_min % 100,
                          local.tm_sec % 100);
        text += "\"\nAt ";
        text += clock;
        text += ", See : \"";
        text += sourceFile;
        text += "\", line ";
        text += line;
        text += "\n\n";
    } else {
        text += "\n";
    }

    std::fwrite(text.c_str(), 1, text.length, stdout);
    std::fflush(stdout);
    if (g_logFile) {
        std::fwrite(text.c_str(), 1, text.length, g_logFile);
        std::fflush(g_logFile);
    }
    OutputDebugStringA(text.c_str());
    if (level == 1 || level == 2) {
        String where(sourceFile);
        where += "(";
        where += line;
        where += ") : DOUBLE-CLICK HERE TO SEE THE LINE\n\n";
        OutputDebugStringA(where.c_str());
    }
    if (g_logSink) g_logSink->append(text.c_str(), text.length);
    return 0;
}

const char* ZVResultName(HRESULT hr) {
    if (hr == ZVE_SUBFUNCTION) return "ZVE_SUBFUNCTION";
    return DXGetErrorString9A(hr);
}

HRESULT CallScope::ReportFailure(const String& message, const String& sourceFile, u32 line, HRESULT hr) {
    if (hr >= 0) return hr;
    char code[16];
    std::snprintf(code, sizeof(code), "%08X", (unsigned int)hr);
    String text("Called function return ");
    text += ZVResultName(hr);
    text += " (0x";
    text += code;
    text += "), Msg : '";
    text += message;
    text += "'";
    WriteLog(ZVLOG_ERROR, text, sourceFile, line);
    return E_FAIL;
}

void ZVTestCaptureLog(std::string* sink) { g_logSink = sink; }

void ZVTestResetLog() {
    CloseLogAtExit();
    g_firstEntry = true;
}
