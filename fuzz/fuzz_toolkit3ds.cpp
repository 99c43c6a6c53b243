// The 3DS chunk toolkit: open, fill a database, fetch every mesh and
// material and touch every array they hand out, as far as their counts say,
// and the notices of the names cut to fit.
#include <cstring>

#include "toolkit3ds.h"
#include "zvfuzz_check.h"
#include "zvfuzz_support.h"

namespace {

volatile u32_3ds g_sink;

template <typename T>
void Touch(const T* values, size_t count) {
    u32_3ds sum = 0;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(values);
    for (size_t i = 0; i < count * sizeof(T); ++i) sum += bytes[i];
    g_sink = g_sink + sum;
}

void FetchAll(Database3ds* db) {
    const u32_3ds meshes = CountMeshes3ds(db);
    for (u32_3ds i = 0; i < meshes && !errorsPending; ++i) {
        MeshData3ds* mesh = nullptr;
        FetchMesh3ds(db, i, &mesh);
        if (!mesh) continue;
        Touch(mesh->vertices, size_t(mesh->nVertices) * 3);
        Touch(mesh->vertexFlags, mesh->nVertexFlags);
        Touch(mesh->texVerts, size_t(mesh->nTexVerts) * 2);
        Touch(mesh->faces, size_t(mesh->nFaces) * 4);
        if (mesh->smoothing) Touch(mesh->smoothing, mesh->nFaces);
        for (u32_3ds g = 0; g < mesh->nMatGroups; ++g) Touch(mesh->matGroups[g].faces, mesh->matGroups[g].nFaces);
        Touch(mesh->procedureData, mesh->procedureSize);
        FreeMesh3ds(&mesh);
    }
    const u32_3ds materials = CountMaterials3ds(db);
    for (u32_3ds i = 0; i < materials && !errorsPending; ++i) {
        MaterialData3ds* material = nullptr;
        FetchMaterial3ds(db, i, &material);
        FreeMaterial3ds(&material);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = zvfuzz::WriteFile("input.3ds", data, size);
    ClearErrors3ds();
    FileRec3ds* file = OpenChunkFile3ds(path.c_str(), "rb");
    if (!file) {
        ClearErrors3ds();
        return 0;
    }
    Database3ds* db = nullptr;
    NewDatabase3ds(&db);
    FillDatabase3ds(file, &db);
    FetchAll(db);
    // What a failed fill leaves behind is still a well-formed tree: a caller
    // that clears the errors may go on fetching from it.
    ClearErrors3ds();
    FetchAll(db);
    // The notices stay within their bound; closing the file frees them.
    const u32_3ds notices = CountNameNotices3ds(file);
    ZV_FUZZ_REQUIRE(notices <= MAX_NAME_NOTICES_3DS + 1);
    for (u32_3ds i = 0; i < notices; ++i) Touch(NameNotice3ds(file, i), strlen(NameNotice3ds(file, i)));
    FreeDatabase3ds(&db);
    CloseChunkFile3ds(file);
    ClearErrors3ds();
    return 0;
}
