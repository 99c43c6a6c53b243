// Log capture for the tests: every entry written while the object lives is
// appended to its text, which the checks then search.
#pragma once

#include <cstddef>
#include <string>

#include "zvlog.h"

namespace zvtestlog {

class LogCapture {
public:
    LogCapture() { ZVTestCaptureLog(&log); }
    ~LogCapture() { ZVTestCaptureLog(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    size_t Count(const std::string& text) const {
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }
    bool Has(const std::string& text) const { return log.find(text) != std::string::npos; }
    std::string log;
};

}  // namespace zvtestlog
