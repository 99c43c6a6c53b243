// ModelCal3DMeta::LoadMaterial: any bytes as a ".crf" material.
#include <cstring>

#include "modelcal3dmeta.h"
#include "zvfuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String path(zvfuzz::WriteFile("input.crf", data, size).c_str());
    ModelCal3DMeta::MatInfos material;
    std::memset(&material, 0, sizeof(material));
    ModelCal3DMeta::LoadMaterial(path, "textures/", &material);
    if (material.szTexture) {
        volatile size_t length = std::strlen(material.szTexture);
        (void)length;
    }
    ModelCal3DMeta::FreeTexture(&material);
    return 0;
}
