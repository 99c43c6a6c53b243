// Config: any bytes as the scene file.
#include "config.h"
#include "zvfuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String path(zvfuzz::WriteFile("zvscene.txt", data, size).c_str());
    Config config;
    config.Load(path);
    return 0;
}
