// The BMP decoder: any bytes as a BMP image, decoded from memory.
#include <string>

#include "zvfuzz_check.h"
#include "zvimagecodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZVImage image;
    std::string error;
    if (!zvimage::DecodeBMP(data, size, &image, &error)) return 0;
    ZV_FUZZ_REQUIRE(image.width > 0 && image.height > 0);
    ZV_FUZZ_REQUIRE(image.pixels.size() == (size_t)image.width * (size_t)image.height * 4);
    return 0;
}
