// ModelMD5Meta::LoadAnimation: any bytes as a ".md5anim" file, matched
// against the joints of the sample mesh.
#include "modelmd5meta.h"
#include "zvfuzz_check.h"
#include "zvfuzz_samples.h"
#include "zvfuzz_support.h"

namespace {

u32 BitCount(u32 flags) {
    u32 n = 0;
    for (u32 bit = 0; bit < 6; ++bit) n += (flags >> bit) & 1u;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Vector<String> names;
    if (names.count == 0)
        for (const std::string& name : zvfuzz::MD5JointNames()) names.Add(String(name.c_str()));

    const String path(zvfuzz::WriteFile("input.md5anim", data, size).c_str());
    ModelMD5Meta::Animation anim;
    if (ModelMD5Meta::LoadAnimation(path, &anim, &names) < 0) return 0;
    // The components each animated joint takes lie within every frame.
    for (u32 j = 0; j < anim.vAnimBones.count; ++j) {
        const ModelMD5Meta::Animation::AnimBone& bone = anim.vAnimBones.data[j];
        ZV_FUZZ_REQUIRE(bone.nBone >= -1 && bone.nBone < (i32)names.count);
        if (BitCount(bone.nFlags) == 0) continue;
        for (u32 f = 0; f < anim.vFrames.count; ++f)
            ZV_FUZZ_REQUIRE((u64)bone.nStartIndex + BitCount(bone.nFlags) <= anim.vFrames.data[f].count);
    }
    return 0;
}
