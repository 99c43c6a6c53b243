// ModelMD5Meta::LoadMesh: any bytes as a ".md5mesh" file, read and built
// through a stand-in graphics manager.
#include "modelmd5meta.h"
#include "zvfuzz_check.h"
#include "zvfuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String path(zvfuzz::WriteFile("input.md5mesh", data, size).c_str());
    zvfuzz::FakeGraphics graphics;
    ModelMD5Meta meta;
    if (meta.LoadMesh(path, &graphics) < 0) return 0;
    // What the instances index without checking.
    const u32 bones = meta.vBones.count;
    for (u32 b = 0; b < bones; ++b) {
        const ModelMD5Meta::Bone& bone = meta.vBones.data[b];
        ZV_FUZZ_REQUIRE(bone.nParent >= -1 && bone.nParent < (i32)bones);
        for (u32 c = 0; c < bone.vChildren.count; ++c)
            ZV_FUZZ_REQUIRE(bone.vChildren.data[c] >= 0 && bone.vChildren.data[c] < (long)bones);
    }
    for (u32 r = 0; r < meta.vRootBones.count; ++r)
        ZV_FUZZ_REQUIRE(meta.vRootBones.data[r] >= 0 && meta.vRootBones.data[r] < (long)bones);
    for (u32 v = 0; v < meta.vVertices.count; ++v) {
        const ModelMD5Meta::Vertex& vertex = meta.vVertices.data[v];
        ZV_FUZZ_REQUIRE((u64)vertex.nFirstInfluence + vertex.nNumInfluences <= meta.vInfluences.count);
    }
    for (u32 i = 0; i < meta.vInfluences.count; ++i)
        ZV_FUZZ_REQUIRE(meta.vInfluences.data[i].nBone >= 0 && meta.vInfluences.data[i].nBone < (i32)bones);
    return 0;
}
