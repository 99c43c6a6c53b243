// ModelCal3DMeta::LoadSkeleton: any bytes as a ".csf" skeleton.
#include "modelcal3dmeta.h"
#include "zvfuzz_check.h"
#include "zvfuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String path(zvfuzz::WriteFile("input.csf", data, size).c_str());
    Vector<ModelCal3DMeta::Bone> bones;
    if (ModelCal3DMeta::LoadSkeleton(path, &bones) < 0) return 0;
    // Parents and children agree, so that a walk from the roots visits each
    // bone once.
    const u32 count = bones.count;
    for (u32 b = 0; b < count; ++b) {
        const ModelCal3DMeta::Bone& bone = bones.data[b];
        ZV_FUZZ_REQUIRE(bone.nParent >= -1 && bone.nParent < (i32)count);
        for (u32 c = 0; c < bone.vChildren.count; ++c) {
            const i32 child = bone.vChildren.data[c];
            ZV_FUZZ_REQUIRE(child >= 0 && child < (i32)count && bones.data[child].nParent == (i32)b);
        }
    }
    return 0;
}
