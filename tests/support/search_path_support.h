// The engine's search path (the global Paths) set to one folder for the
// life of a test fixture and given back as it was afterwards.
#pragma once

#include <string>

#include "zvfile.h"

namespace zvtest {

class SearchPathOnly {
public:
    explicit SearchPathOnly(const std::string& folder) : saved_(Paths) {
        Paths.count = 0;
        Paths.Add(String(folder.c_str()));
    }
    ~SearchPathOnly() { Paths = saved_; }
    SearchPathOnly(const SearchPathOnly&) = delete;
    SearchPathOnly& operator=(const SearchPathOnly&) = delete;

private:
    Vector<String> saved_;
};

}  // namespace zvtest
