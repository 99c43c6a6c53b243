// Mesh and material readers: round trips, texture-coordinate maps, springs,
// appended mesh files, bad indices, colours and texture names.

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "cal3d_support.h"

using namespace cal3dtest;
using zvtools::Cal3DMaterial;
using zvtools::Cal3DMesh;
using zvtools::WriteCal3DMaterial;
using zvtools::WriteCal3DMesh;

namespace {

void ExpectSubMesh(const zvtools::Cal3DSubMesh& sub, const MeshLists& lists, u32 at, bool texCoords) {
    SCOPED_TRACE(at);
    EXPECT_EQ(sub.material, lists.materials.data[at]);
    const Vector<ModelCal3DMeta::Vertex>& vertices = lists.vertices.data[at];
    const Vector<ModelCal3DMeta::Influence>& influences = lists.influences.data[at];
    ASSERT_EQ(sub.vertices.size(), vertices.count);
    u32 firstInfluence = 0;
    for (u32 v = 0; v < vertices.count; ++v) {
        const zvtools::Cal3DVertex& w = sub.vertices[v];
        const ModelCal3DMeta::Vertex& r = vertices.data[v];
        EXPECT_EQ(w.pos[0], r.vPos.x);
        EXPECT_EQ(w.pos[1], r.vPos.y);
        EXPECT_EQ(w.pos[2], r.vPos.z);
        EXPECT_EQ(w.normal[0], r.vNormal.x);
        EXPECT_EQ(w.normal[1], r.vNormal.y);
        EXPECT_EQ(w.normal[2], r.vNormal.z);
        if (texCoords) {
            EXPECT_EQ(w.texCoords[0], r.fU);
            EXPECT_EQ(w.texCoords[1], r.fV);
        }
        EXPECT_EQ(firstInfluence, r.nFirstInfluence);
        ASSERT_EQ(w.influences.size(), r.nNumInfluences);
        for (u32 k = 0; k < r.nNumInfluences; ++k) {
            EXPECT_EQ(w.influences[k].bone, influences.data[r.nFirstInfluence + k].nBone);
            EXPECT_EQ(w.influences[k].weight, influences.data[r.nFirstInfluence + k].fWeight);
        }
        firstInfluence += r.nNumInfluences;
    }
    EXPECT_EQ(firstInfluence, influences.count);
    const Vector<i32>& faces = lists.faces.data[at];
    ASSERT_EQ(sub.faces.size(), faces.count);
    for (u32 i = 0; i < faces.count; ++i) EXPECT_EQ(sub.faces[i], faces.data[i]);
}

}  // namespace

TEST(Cal3DMesh, RoundTripKeepsVerticesInfluencesAndFaces) {
    Cal3DMesh mesh;
    mesh.subMeshes = {SampleSubMesh(1), SampleSubMesh(0)};
    mesh.subMeshes[1].vertices.pop_back();
    mesh.subMeshes[1].faces = {2, 1, 0};
    std::string path = Write("round.cmf", WriteCal3DMesh(mesh));
    LogCapture log;
    MeshLists lists;
    ASSERT_EQ(S_OK, lists.Load(path));
    EXPECT_EQ("", log.log);
    ASSERT_EQ(2u, lists.materials.count);
    ASSERT_EQ(2u, lists.vertices.count);
    ASSERT_EQ(2u, lists.faces.count);
    ASSERT_EQ(2u, lists.influences.count);
    ExpectSubMesh(mesh.subMeshes[0], lists, 0, true);
    ExpectSubMesh(mesh.subMeshes[1], lists, 1, true);
}

TEST(Cal3DMesh, MapCountsZeroAndTwo) {
    Cal3DMesh mesh;
    mesh.subMeshes = {SampleSubMesh(0, 0), SampleSubMesh(1, 2), SampleSubMesh(2, 2)};
    std::string path = Write("maps.cmf", WriteCal3DMesh(mesh));
    LogCapture log;
    MeshLists lists;
    ASSERT_EQ(S_OK, lists.Load(path));
    EXPECT_EQ(2u, log.Count(WarningEntry("LoadMesh()", path + " : 2 TexCoords by vertex, only take the first")))
        << log.log;
    ExpectSubMesh(mesh.subMeshes[0], lists, 0, false);
    ExpectSubMesh(mesh.subMeshes[1], lists, 1, true);
    ExpectSubMesh(mesh.subMeshes[2], lists, 2, true);
}

TEST(Cal3DMesh, SpringsAddAWeightPerVertexAndSixteenBytesEach) {
    Cal3DMesh mesh;
    mesh.subMeshes = {SampleSubMesh(0), SampleSubMesh(1)};
    mesh.subMeshes[0].springs.resize(3);
    for (auto& v : mesh.subMeshes[0].vertices) v.physicalWeight = 99.0f;
    std::string path = Write("springs.cmf", WriteCal3DMesh(mesh));
    MeshLists lists;
    ASSERT_EQ(S_OK, lists.Load(path));
    ExpectSubMesh(mesh.subMeshes[0], lists, 0, true);
    ExpectSubMesh(mesh.subMeshes[1], lists, 1, true);
}

TEST(Cal3DMesh, SecondFileAppendsItsSubMeshes) {
    Cal3DMesh first, second;
    first.subMeshes = {SampleSubMesh(0)};
    second.subMeshes = {SampleSubMesh(3), SampleSubMesh(2)};
    std::string a = Write("first.cmf", WriteCal3DMesh(first));
    std::string b = Write("second.cmf", WriteCal3DMesh(second));
    MeshLists lists;
    ASSERT_EQ(S_OK, lists.Load(a));
    ASSERT_EQ(S_OK, lists.Load(b));
    ASSERT_EQ(3u, lists.materials.count);
    ASSERT_EQ(3u, lists.influences.count);
    ExpectSubMesh(first.subMeshes[0], lists, 0, true);
    ExpectSubMesh(second.subMeshes[0], lists, 1, true);
    ExpectSubMesh(second.subMeshes[1], lists, 2, true);
}

TEST(Cal3DMesh, NoSubMeshIsRefused) {
    std::string path = Write("nosub.cmf", WriteCal3DMesh(Cal3DMesh()));
    LogCapture log;
    MeshLists lists;
    EXPECT_EQ(E_FAIL, lists.Load(path));
    EXPECT_TRUE(log.Has(ErrorEntry("LoadMesh()", path + " : No SubMeshes"))) << log.log;
}

TEST(Cal3DMesh, BadFaceIndexBecomesZero) {
    Cal3DMesh mesh;
    mesh.subMeshes = {SampleSubMesh(0)};
    mesh.subMeshes[0].faces = {0, 4, 2, -1, 2, 3};
    std::string path = Write("badindex.cmf", WriteCal3DMesh(mesh));
    LogCapture log;
    MeshLists lists;
    ASSERT_EQ(S_OK, lists.Load(path));
    EXPECT_EQ(1u, log.Count(ErrorEntry("LoadMesh()", path + " : bad index of vertex : 4")));
    EXPECT_EQ(1u, log.Count(ErrorEntry("LoadMesh()", path + " : bad index of vertex : -1")));
    const i32 expected[6] = {0, 0, 2, 0, 2, 3};
    for (u32 i = 0; i < 6; ++i) EXPECT_EQ(expected[i], lists.faces.data[0].data[i]);
}

TEST(Cal3DMesh, ManyBadIndicesAreNotAllLogged) {
    Cal3DMesh mesh;
    mesh.subMeshes = {SampleSubMesh(0)};
    mesh.subMeshes[0].faces.assign(3000, 77);
    std::string path = Write("manybad.cmf", WriteCal3DMesh(mesh));
    LogCapture log;
    MeshLists lists;
    ASSERT_EQ(S_OK, lists.Load(path));
    EXPECT_EQ(16u, log.Count(" : bad index of vertex : 77"));
    EXPECT_EQ(1u, log.Count("Further entries of this kind are left out"));
    EXPECT_EQ(0, lists.faces.data[0].data[2999]);
}

TEST(Cal3DMesh, WeightMustBeFinite) {
    Cal3DMesh mesh;
    mesh.subMeshes = {SampleSubMesh(0)};
    mesh.subMeshes[0].vertices[2].influences[0].weight = std::numeric_limits<float>::infinity();
    std::string path = Write("infweight.cmf", WriteCal3DMesh(mesh));
    LogCapture log;
    MeshLists lists;
    EXPECT_EQ(E_FAIL, lists.Load(path));
    EXPECT_TRUE(log.Has(ErrorEntry("LoadMesh()", path + " : Influence weight not finite at vertex 2"))) << log.log;
}

TEST(Cal3DMesh, LyingVertexCountIsRefusedBeforeAllocating) {
    Cal3DMesh mesh;
    mesh.subMeshes = {SampleSubMesh(0)};
    mesh.subMeshes[0].numVerticesOverride = 0xFFFFFFF0u;
    std::string path = Write("lying.cmf", WriteCal3DMesh(mesh));
    LogCapture log;
    MeshLists lists;
    EXPECT_EQ(ZVE_SUBFUNCTION, lists.Load(path));
    EXPECT_EQ(1u, log.Count(EndOfFile("LoadMesh()"))) << log.log;
    EXPECT_EQ(0u, lists.vertices.data[0].capacity);
}

TEST(Cal3DMaterial, ColoursShininessAndTexture) {
    Cal3DMaterial m = SampleMaterial();
    std::string path = Write("round.crf", WriteCal3DMaterial(m));
    LogCapture log;
    ModelCal3DMeta::MatInfos infos;
    ASSERT_EQ(S_OK, ModelCal3DMeta::LoadMaterial(path.c_str(), "data/", &infos));
    EXPECT_EQ("", log.log);
    // Ambient bytes in the file: 0x10, 0x20, 0x30, 0x40.
    EXPECT_FLOAT_EQ(0x30 / 255.0f, infos.material.Ambient.r);
    EXPECT_FLOAT_EQ(0x20 / 255.0f, infos.material.Ambient.g);
    EXPECT_FLOAT_EQ(0x10 / 255.0f, infos.material.Ambient.b);
    EXPECT_FLOAT_EQ(0x40 / 255.0f, infos.material.Ambient.a);
    EXPECT_FLOAT_EQ(0x80 / 255.0f, infos.material.Diffuse.r);
    EXPECT_FLOAT_EQ(0x40 / 255.0f, infos.material.Diffuse.g);
    EXPECT_FLOAT_EQ(0x20 / 255.0f, infos.material.Diffuse.b);
    EXPECT_FLOAT_EQ(1.0f, infos.material.Diffuse.a);
    EXPECT_FLOAT_EQ(0x02 / 255.0f, infos.material.Specular.r);
    EXPECT_FLOAT_EQ(0x01 / 255.0f, infos.material.Specular.a);
    EXPECT_EQ(0.0f, infos.material.Emissive.r);
    EXPECT_EQ(0.0f, infos.material.Emissive.a);
    EXPECT_EQ(12.5f, infos.material.Power);
    ASSERT_NE(nullptr, infos.szTexture);
    EXPECT_STREQ("data/skin.tga", infos.szTexture);
    ModelCal3DMeta::FreeTexture(&infos);
    EXPECT_EQ(nullptr, infos.szTexture);
}

TEST(Cal3DMaterial, MapCountsAndNameForms) {
    ModelCal3DMeta::MatInfos infos;
    Cal3DMaterial none = SampleMaterial();
    none.maps.clear();
    std::string path = Write("nomap.crf", WriteCal3DMaterial(none));
    ASSERT_EQ(S_OK, ModelCal3DMeta::LoadMaterial(path.c_str(), "data/", &infos));
    EXPECT_EQ(nullptr, infos.szTexture);

    Cal3DMaterial two = SampleMaterial();
    two.maps = {"a.tga", "b.tga"};
    path = Write("twomaps.crf", WriteCal3DMaterial(two));
    {
        LogCapture log;
        ASSERT_EQ(S_OK, ModelCal3DMeta::LoadMaterial(path.c_str(), "", &infos));
        EXPECT_TRUE(log.Has(WarningEntry("LoadMaterial()", path + " : 2 textures, only take the first")));
        EXPECT_STREQ("a.tga", infos.szTexture);
        ModelCal3DMeta::FreeTexture(&infos);
    }

    Cal3DMaterial bare = SampleMaterial();
    bare.terminateNames = false;
    path = Write("bare.crf", WriteCal3DMaterial(bare));
    ASSERT_EQ(S_OK, ModelCal3DMeta::LoadMaterial(path.c_str(), "textures/", &infos));
    EXPECT_STREQ("textures/skin.tga", infos.szTexture);
    ModelCal3DMeta::FreeTexture(&infos);

    Cal3DMaterial empty = SampleMaterial();
    empty.maps = {""};
    empty.terminateNames = false;
    path = Write("emptyname.crf", WriteCal3DMaterial(empty));
    ASSERT_EQ(S_OK, ModelCal3DMeta::LoadMaterial(path.c_str(), "p/", &infos));
    EXPECT_STREQ("p/", infos.szTexture);
    ModelCal3DMeta::FreeTexture(&infos);
}

TEST(Cal3DMaterial, TooLongTextureNameIsRefused) {
    Cal3DMaterial m = SampleMaterial();
    m.maps = {std::string(5000, 't')};
    std::string path = Write("longname.crf", WriteCal3DMaterial(m));
    LogCapture log;
    ModelCal3DMeta::MatInfos infos;
    EXPECT_EQ(E_FAIL, ModelCal3DMeta::LoadMaterial(path.c_str(), "", &infos));
    EXPECT_TRUE(log.Has(ErrorEntry("LoadMaterial()", path + " : Too long texture name : 5001"))) << log.log;
    EXPECT_EQ(nullptr, infos.szTexture);
}
