// kernel32-style services on Linux.
#include "zvkernel.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

int64_t MonotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Taken while the program's statics are initialised, i.e. at process start.
const int64_t g_clockOrigin = MonotonicNs();

std::string* g_debugSink = nullptr;

// The handle given for the running program: the address of a private object.
char g_moduleTag;

bool Exists(const std::string& path, struct stat* st) {
    struct stat local;
    return stat(path.c_str(), st ? st : &local) == 0;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// The entry of directory dir whose name equals component ignoring case; the
// exact spelling when it exists, else the first match in byte order; "" when none.
std::string MatchInDirectory(const std::string& dir, const std::string& component) {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return std::string();
    std::string best;
    bool found = false;
    while (dirent* e = readdir(d)) {
        if (!EqualNoCase(component, e->d_name)) continue;
        if (component == e->d_name) {
            best = component;
            found = true;
            break;
        }
        if (!found || std::strcmp(e->d_name, best.c_str()) < 0) best = e->d_name;
        found = true;
    }
    closedir(d);
    return found ? best : std::string();
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    if (module && module != (HMODULE)&g_moduleTag) return 0;
    std::string path = ZVGetModuleFileName();
    if (path.empty()) return 0;
    if (path.size() >= size) {
        std::memcpy(buffer, path.data(), size - 1);
        buffer[size - 1] = '\0';
        return size;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

std::string ZVGetModuleFileName() {
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return std::string();
        if ((size_t)n < buf.size()) return std::string(buf.data(), (size_t)n);
        buf.resize(buf.size() * 2);  // possibly cut: try again with more room
    }
}

std::string ZVGetCurrentDirectory() {
    std::vector<char> buf(256);
    for (;;) {
        if (getcwd(buf.data(), buf.size())) {
            std::string dir(buf.data());
            if (dir.empty() || dir.back() != '/') dir += '/';
            return dir;
        }
        if (errno != ERANGE) return std::string();
        buf.resize(buf.size() * 2);
    }
}

HMODULE GetModuleHandleA(const char* moduleName) {
    if (moduleName) return nullptr;
    return (HMODULE)&g_moduleTag;
}

DWORD GetFileAttributesA(const char* fileName) {
    if (!fileName || !*fileName) return INVALID_FILE_ATTRIBUTES;
    struct stat st;
    if (stat(ZVResolvePath(fileName).c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) attributes = FILE_ATTRIBUTE_READONLY;
    return attributes;
}

void OutputDebugStringA(const char* text) {
    if (g_debugSink && text) g_debugSink->append(text);
}

void ZVTestCaptureDebugOutput(std::string* sink) { g_debugSink = sink; }

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
    if (!counter) return FALSE;
    counter->QuadPart = MonotonicNs() - g_clockOrigin;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (!frequency) return FALSE;
    frequency->QuadPart = 1000000000LL;
    return TRUE;
}

DWORD GetTickCount() { return (DWORD)((MonotonicNs() - g_clockOrigin) / 1000000LL); }

void Sleep(DWORD milliseconds) {
    timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::string ZVResolvePath(const char* name) {
    if (!name) return std::string();
    std::string path(name);
    // A drive prefix names the root of the one file system here.
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        path.erase(0, 2);
        if (path.empty() || (path[0] != '/' && path[0] != '\\')) path.insert(0, "/");
    }
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty() || Exists(path, nullptr)) return path;

    // Walk the components, matching each one case-insensitively where the
    // spelling as written does not exist.
    std::string result;
    size_t pos = 0;
    if (path[0] == '/') {
        result = "/";
        pos = 1;
    }
    bool resolving = true;  // false once a component matched nothing
    while (pos <= path.size()) {
        size_t next = path.find('/', pos);
        if (next == std::string::npos) next = path.size();
        std::string component = path.substr(pos, next - pos);
        bool last = next >= path.size();
        if (!component.empty()) {
            std::string piece = component;
            if (resolving && component != "." && component != "..") {
                std::string candidate = result + component;
                if (!Exists(candidate, nullptr)) {
                    std::string match = MatchInDirectory(result, component);
                    if (!match.empty())
                        piece = match;
                    else
                        resolving = false;
                }
            }
            result += piece;
            if (!last) result += '/';
        } else if (!last && !result.empty() && result.back() != '/') {
            result += '/';
        }
        if (last) break;
        pos = next + 1;
    }
    // Keep a trailing separator as written.
    if (path.back() == '/' && (result.empty() || result.back() != '/')) result += '/';
    return result;
}

namespace {

// open(2) flags of an fopen mode ("r", "rb", "w+t", "a" ...); false for a
// mode fopen does not take.  Every file is opened without becoming the
// controlling terminal (a terminal named as a model) and is closed in the
// programs the engine starts (the file chooser's dialog program).
bool OpenFlags(const char* mode, int* flags) {
    const bool update = std::strchr(mode, '+') != nullptr;
    switch (mode[0]) {
        case 'r': *flags = update ? O_RDWR : O_RDONLY; break;
        case 'w': *flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
        case 'a': *flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
        default: return false;
    }
    if (std::strchr(mode, 'x')) *flags |= O_EXCL;
    *flags |= O_NOCTTY | O_CLOEXEC;
    return true;
}

// Whether the open descriptor may be used in the mode: a file that is read
// ('r', or '+' with 'w' and 'a') must be a regular one: read to its end, a
// device or a pipe would never end, or never start, and a pipe opened both
// to read and to write opens at once, then holds the program up for good
// once its buffer is full.  Sets errno when not.
bool UsableKind(int fd, const char* mode) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    const bool reads = mode[0] == 'r' || std::strchr(mode, '+') != nullptr;
    if (reads && !S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

}  // namespace

FILE* ZVOpenFile(const char* path, const char* mode) {
    int flags = 0;
    if (!path || !mode || !OpenFlags(mode, &flags)) {
        errno = EINVAL;
        return nullptr;
    }
    std::string m;
    for (const char* c = mode; *c; ++c)
        if (*c != 't') m += *c;
    int fd;
    do {
        fd = open(path, flags | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    const int statusFlags = fcntl(fd, F_GETFL);
    FILE* f = nullptr;
    if (UsableKind(fd, mode) && statusFlags >= 0 && fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK) == 0)
        f = fdopen(fd, m.c_str());
    if (!f) {
        const int why = errno;
        close(fd);
        errno = why;
    }
    return f;
}

FILE* ZVfopen(const char* name, const char* mode) {
    if (!name || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    return ZVOpenFile(ZVResolvePath(name).c_str(), mode);
}
