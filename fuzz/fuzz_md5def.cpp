// ModelMD5Meta::Load: any bytes as a ".def" model list, read with and
// without a model name.  A sound mesh and animation lie beside the input
// under the names the seeds use.
#include "modelmd5meta.h"
#include "zvfuzz_samples.h"
#include "zvfuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zvfuzz::WriteFile(zvfuzz::kDefMeshFile, zvtools::WriteMD5Mesh(zvfuzz::SampleMD5Mesh(true)));
    zvfuzz::WriteFile(zvfuzz::kDefAnimFile, zvtools::WriteMD5Anim(zvfuzz::SampleMD5Anim(3)));
    Paths.count = 0;
    Paths.Add(String(zvfuzz::WorkDir().c_str()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zvfuzz::WriteFile("input.def", data, size);
    for (const char* command : {"input.def", "input.def?imp"}) {
        zvfuzz::FakeGraphics graphics;
        ModelMD5Meta meta;
        meta.Load(String(command), &graphics);
    }
    return 0;
}
