// Model3DSMeta::Load3DS: any bytes as a ".3ds" scene, loaded into buffers
// of a stand-in graphics manager.
#include "model3dsmeta.h"
#include "zvfuzz_check.h"
#include "zvfuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String path(zvfuzz::WriteFile("input.3ds", data, size).c_str());
    zvfuzz::FakeGraphics graphics;
    Model3DSMeta* meta = new Model3DSMeta;
    if (meta->Load3DS(path, &graphics) >= 0 && meta->pVB && meta->pIB) {
        // Every index names a vertex; every run lies inside the index buffer.
        const u32 vertices = meta->pVB->GetNumVertices();
        const u32 indices = meta->pIB->GetNumIndices();
        u16 *index = nullptr, *copy = nullptr;
        if (meta->pIB->Lock(&index, &copy) >= 0) {
            for (u32 i = 0; i < indices; ++i) ZV_FUZZ_REQUIRE(index[i] < vertices);
            meta->pIB->Unlock();
        }
        for (u32 m = 0; m < meta->vMatInfos.count; ++m) {
            const Model3DSMeta::MatInfos& run = meta->vMatInfos.data[m];
            ZV_FUZZ_REQUIRE((u64)run.nFirstIndex + run.nNumIndices <= indices);
        }
    }
    meta->Release();
    Model3DSMeta::Print3DSErrors();
    return 0;
}
