// Stops the fuzz run when a reader's promise about its output is broken:
// the readers check their input so that callers need not, and a record that
// breaks a promise is as bad as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#define ZV_FUZZ_REQUIRE(condition)                                                            \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "%s:%d: broken promise: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)
