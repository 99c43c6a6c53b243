// ModelCal3DMeta::LoadAnimation: any bytes as a ".caf" animation.
#include "modelcal3dmeta.h"
#include "zvfuzz_check.h"
#include "zvfuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String path(zvfuzz::WriteFile("input.caf", data, size).c_str());
    ModelCal3DMeta::Animation animation;
    if (ModelCal3DMeta::LoadAnimation(path, &animation) < 0) return 0;
    ModelCal3DMeta::CheckAnimation(path, animation, 3);
    for (u32 t = 0; t < animation.vTracks.count; ++t) {
        const ModelCal3DMeta::Animation::Track& track = animation.vTracks.data[t];
        ZV_FUZZ_REQUIRE(track.nBone >= 0 && track.nNumKeyFrames >= 1);
        ZV_FUZZ_REQUIRE((u64)track.nFirstKeyFrame + track.nNumKeyFrames <= animation.vKeyFrames.count);
    }
    return 0;
}
