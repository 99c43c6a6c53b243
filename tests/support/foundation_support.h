// Helpers for the foundation tests: scratch files beside the test program
// and capture of the log and debugger output.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "zvkernel.h"
#include "zvstuff.h"

namespace zvtest {

// The directory of the test program, with a trailing '/'.
inline std::string ExeDir() { return std::string(GetExeDir().c_str()); }

// Writes content to path (created or truncated), making no directories.
inline void WriteFile(const std::string& path, const std::string& content) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
}

inline std::string ReadFile(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

inline void MakeDir(const std::string& path) { mkdir(path.c_str(), 0755); }

// Captures the log entries and the debugger output for the lifetime of the object.
class LogCapture {
public:
    LogCapture() {
        ZVTestCaptureLog(&log);
        ZVTestCaptureDebugOutput(&debug);
    }
    ~LogCapture() {
        ZVTestCaptureLog(nullptr);
        ZVTestCaptureDebugOutput(nullptr);
    }
    std::string log;
    std::string debug;
};

// Replaces the time of day of warning and error entries ("At hh:mm:ss") by "At TT:TT:TT".
inline std::string MaskTime(std::string text) {
    size_t pos = 0;
    while ((pos = text.find("At ", pos)) != std::string::npos) {
        if (pos + 11 <= text.size() && text[pos + 5] == ':' && text[pos + 8] == ':')
            text.replace(pos + 3, 8, "TT:TT:TT");
        pos += 3;
    }
    return text;
}

}  // namespace zvtest
