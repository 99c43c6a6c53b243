// ModelCal3DMeta::LoadMesh: any bytes as a ".cmf" mesh.
#include "modelcal3dmeta.h"
#include "zvfuzz_check.h"
#include "zvfuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String path(zvfuzz::WriteFile("input.cmf", data, size).c_str());
    Vector<i32> materials;
    Vector<Vector<i32>> faces;
    Vector<Vector<ModelCal3DMeta::Vertex>> vertices;
    Vector<Vector<ModelCal3DMeta::Influence>> influences;
    if (ModelCal3DMeta::LoadMesh(path, &materials, &faces, &vertices, &influences) < 0) return 0;
    ZV_FUZZ_REQUIRE(faces.count == vertices.count && influences.count == vertices.count);
    // Face indices lie within their submesh, influence ranges within its influences.
    for (u32 s = 0; s < vertices.count; ++s) {
        const Vector<ModelCal3DMeta::Vertex>& v = vertices.data[s];
        for (u32 i = 0; i < faces.data[s].count; ++i)
            ZV_FUZZ_REQUIRE(faces.data[s].data[i] >= 0 && (u32)faces.data[s].data[i] < v.count);
        for (u32 i = 0; i < v.count; ++i)
            ZV_FUZZ_REQUIRE((u64)v.data[i].nFirstInfluence + v.data[i].nNumInfluences <= influences.data[s].count);
    }
    return 0;
}
