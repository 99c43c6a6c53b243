// ModelCal3DMeta::Load: any bytes as a ".cfg" description.  The files of
// the demo model lie beside the input under the names the seeds use.
#include "modelcal3dmeta.h"
#include "zvcal3dwriter.h"
#include "zvfuzz_check.h"
#include "zvfuzz_samples.h"
#include "zvfuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zvtools::Cal3DDemoOptions options;
    options.twist = true;
    zvtools::WriteCal3DDemoModel(zvfuzz::WorkDir(), zvfuzz::kCal3DDemoName, "a.tga", "b.tga", options);
    Paths.count = 0;
    Paths.Add(String(zvfuzz::WorkDir().c_str()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zvfuzz::WriteFile("input.cfg", data, size);
    zvfuzz::FakeGraphics graphics;
    ModelCal3DMeta* meta = new ModelCal3DMeta;
    if (meta->Load("input.cfg", &graphics) >= 0 && meta->pIB) {
        // What the instances index without checking.
        u16 *index = nullptr, *copy = nullptr;
        if (meta->pIB->Lock(&index, &copy) >= 0) {
            for (u32 i = 0; i < meta->pIB->GetNumIndices(); ++i) ZV_FUZZ_REQUIRE(index[i] < meta->vVertices.count);
            meta->pIB->Unlock();
        }
        for (u32 v = 0; v < meta->vVertices.count; ++v) {
            const ModelCal3DMeta::Vertex& vertex = meta->vVertices.data[v];
            ZV_FUZZ_REQUIRE((u64)vertex.nFirstInfluence + vertex.nNumInfluences <= meta->vInfluences.count);
        }
        for (u32 i = 0; i < meta->vInfluences.count; ++i)
            ZV_FUZZ_REQUIRE(meta->vInfluences.data[i].nBone >= 0 &&
                            meta->vInfluences.data[i].nBone < (i32)meta->vBones.count);
    }
    meta->Release();
    return 0;
}
