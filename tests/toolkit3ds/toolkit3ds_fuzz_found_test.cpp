// Inputs the fuzz targets found faults with, kept as regression tests.
#include "toolkit3ds_support.h"

namespace {

using Toolkit3dsFuzzFound = Toolkit3ds;

// A smoothing chunk shorter than the face list: users read one entry per
// face, so the missing entries are given as 0 (no smoothing group).
TEST_F(Toolkit3dsFuzzFound, ShortSmoothingListIsCompletedWithZeros) {
    zvtools::Scene3ds scene;
    zvtools::Mesh3ds mesh;
    mesh.name = "strip";
    mesh.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    mesh.faces = {0, 1, 2, 7, 2, 1, 3, 7, 0, 2, 3, 7};
    mesh.smoothing = {5};
    scene.meshes = {mesh};
    Load("fuzz_short_smoothing.3ds", zvtools::SceneBytes3ds(scene));
    ASSERT_FALSE(errorsPending);
    ASSERT_EQ(CountMeshes3ds(db), 1u);
    MeshData3ds* out = nullptr;
    FetchMesh3ds(db, 0, &out);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->nFaces, 3u);
    ASSERT_NE(out->smoothing, nullptr);
    EXPECT_EQ(out->smoothing[0], 5u);
    EXPECT_EQ(out->smoothing[1], 0u);
    EXPECT_EQ(out->smoothing[2], 0u);
    FreeMesh3ds(&out);
}

}  // namespace
