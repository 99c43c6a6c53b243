// Inputs the fuzz targets found faults with, kept as regression tests.
#include <gtest/gtest.h>

#include "cal3d_support.h"

namespace {

// A submesh without vertices but with faces: every index is bad, and the
// replacement (vertex 0) does not exist either, so no face may be kept; the
// mesh is refused.
TEST(Cal3DFuzzFound, FacesOfASubMeshWithoutVerticesAreDropped) {
    zvtools::Cal3DMesh mesh;
    zvtools::Cal3DSubMesh empty;
    empty.faces = {0, 1, 2, 2, 1, 0};
    zvtools::Cal3DSubMesh sound;
    sound.vertices.resize(3);
    sound.faces = {0, 1, 2};
    mesh.subMeshes = {sound, empty};
    const std::string path = cal3dtest::Write("fuzz_no_vertices.cmf", zvtools::WriteCal3DMesh(mesh));

    Vector<i32> materials;
    Vector<Vector<i32>> faces;
    Vector<Vector<ModelCal3DMeta::Vertex>> vertices;
    Vector<Vector<ModelCal3DMeta::Influence>> influences;
    cal3dtest::LogCapture log;
    ASSERT_EQ(E_FAIL, ModelCal3DMeta::LoadMesh(path.c_str(), &materials, &faces, &vertices, &influences));
    ASSERT_EQ(2u, faces.count);
    ASSERT_EQ(3u, faces.data[0].count);
    EXPECT_EQ(2, faces.data[0].data[2]);
    EXPECT_EQ(0u, vertices.data[1].count);
    EXPECT_EQ(0u, faces.data[1].count);
    EXPECT_TRUE(log.Has(path + " : bad index of vertex : 1"));
    EXPECT_TRUE(log.Has(cal3dtest::ErrorEntry("LoadMesh()", path + " : SubMesh 1 has faces but no vertices")));
}

}  // namespace
