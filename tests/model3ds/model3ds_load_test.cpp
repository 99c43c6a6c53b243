// Loading .3ds files: the information entries, the axis change and the box,
// the vertex limit, materials and their runs of indices, texture
// coordinates, normals, malformed and missing files.
#include "model3ds_support.h"

namespace m3dstest {
namespace {

using zvtools::Material3ds;
using zvtools::MatGroup3ds;
using zvtools::Mesh3ds;
using zvtools::Scene3ds;

// A mesh of n vertices on a line (x = 0 .. n-1) and the given faces.
Mesh3ds Strip(const std::string& name, int n, const std::vector<uint16_t>& faces) {
    Mesh3ds m;
    m.name = name;
    for (int i = 0; i < n; ++i) m.vertices.insert(m.vertices.end(), {(float)i, (float)(i % 2), 0.0f});
    for (size_t i = 0; i + 2 < faces.size(); i += 3) m.faces.insert(m.faces.end(), {faces[i], faces[i + 1], faces[i + 2], 7});
    return m;
}

// The engine's default material: light grey, no texture.
void ExpectDefaultMaterial(const Model3DSMeta::MatInfos& d) {
    EXPECT_EQ(d.material.Diffuse.r, 0.8f);
    EXPECT_EQ(d.material.Diffuse.a, 1.0f);
    EXPECT_EQ(d.material.Ambient.g, 0.3f);
    EXPECT_EQ(d.material.Specular.b, 0.7f);
    EXPECT_EQ(d.material.Emissive.a, 0.0f);
    EXPECT_EQ(d.material.Power, 1.0f);
    EXPECT_EQ(d.bUsed, 1u);
    EXPECT_STREQ(d.strTexture.c_str(), "");
}

// The triangles of one material's run, as sets of three vertex numbers.
std::vector<std::vector<u16>> Triangles(const std::vector<u16>& indices, const Model3DSMeta::MatInfos& mat) {
    std::vector<std::vector<u16>> out;
    for (u32 i = 0; i + 2 < mat.nNumIndices; i += 3) {
        const u16* t = &indices[mat.nFirstIndex + i];
        out.push_back({t[0], t[1], t[2]});
    }
    return out;
}

TEST_F(Model3DSTest, InformationEntriesAxisSwapAndBox) {
    Start();
    // 2 materials, 3 meshes of 8 vertices, 4 + 3 + 3 triangles.
    Scene3ds scene;
    scene.materials = {Matte("stone", 100, 100, 100), Matte("wood", 200, 150, 0)};
    Mesh3ds a = Strip("a", 8, {0, 1, 2, 1, 2, 3, 2, 3, 4, 3, 4, 5});
    a.vertices[0] = 1;  // vertex 0 at (1, 2, 3)
    a.vertices[1] = 2;
    a.vertices[2] = 3;
    a.vertices[3 * 7 + 1] = -5;  // the lowest file y becomes the lowest engine z
    a.groups = {MatGroup3ds{"stone", {0, 1, 2, 3}}};
    Mesh3ds b = Strip("b", 8, {0, 1, 2, 2, 3, 4, 4, 5, 6});
    b.groups = {MatGroup3ds{"wood", {0, 1, 2}}};
    Mesh3ds c = Strip("c", 8, {0, 1, 2, 2, 3, 4, 4, 5, 6});
    c.vertices[3 * 5 + 2] = 9.5f;  // the highest file z becomes the highest engine y
    scene.meshes = {a, b, c};
    Write("info.3ds", scene);

    Model3DS* model = Load("info.3ds");
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(Contains(log, "[Model3DSMeta::Load3DS()] Infos of the 3DS model : " + dir + "info.3ds\n")) << log;
    EXPECT_TRUE(Contains(log, "[Model3DSMeta::Load3DS()] 2 materials for 3 meshes with 10 tris & 24 verts\n"));
    EXPECT_TRUE(Contains(log, "[Model3DSMeta::Load3DS()] vMin = {0.000000, 0.000000, -5.000000} - vMax = "
                              "{7.000000, 9.500000, 2.000000}\n"))
        << log;
    EXPECT_TRUE(Entries(log).empty()) << log;

    Model3DSMeta* meta = model->pMeta;
    EXPECT_STREQ(meta->strFile.c_str(), "info.3ds");
    std::vector<Model3DSMeta::Vertex> v = Vertices(meta);
    ASSERT_EQ(v.size(), 24u);
    EXPECT_EQ(v[0].vPos, V(1, 3, 2));
    EXPECT_EQ(v[7].vPos, V(7, 0, -5));
    // Mesh b's vertices follow mesh a's; the position copy matches.
    EXPECT_EQ(v[8 + 3].vPos, V(3, 0, 1));
    const ZVGraphics::VB* vb = static_cast<const ZVGraphics::VB*>(meta->pVB);
    EXPECT_EQ(vb->nFVF, 0x112u);
    EXPECT_EQ(vb->nStride, 32u);
    for (size_t i = 0; i < v.size(); ++i) EXPECT_EQ(vb->pPositions[i], v[i].vPos) << i;

    Vector3 lo, hi;
    model->GetBoundingBox(&lo, &hi);
    EXPECT_EQ(lo, V(0, 0, -5));
    EXPECT_EQ(hi, V(7, 9.5f, 2));

    // Mesh c has no assignment: its faces join the first material, after mesh a's.
    ASSERT_EQ(meta->vMatInfos.count, 2u);
    std::vector<u16> idx = Indices(meta);
    ASSERT_EQ(idx.size(), 30u);
    EXPECT_EQ(meta->vMatInfos[0].nFirstIndex, 0u);
    EXPECT_EQ(meta->vMatInfos[0].nNumIndices, 21u);
    EXPECT_EQ(meta->vMatInfos[1].nFirstIndex, 21u);
    EXPECT_EQ(meta->vMatInfos[1].nNumIndices, 9u);
    EXPECT_EQ(Triangles(idx, meta->vMatInfos[0])[4], (std::vector<u16>{16, 17, 18}));
    EXPECT_EQ(Triangles(idx, meta->vMatInfos[1])[0], (std::vector<u16>{8, 9, 10}));
    EXPECT_EQ(meta->vMatInfos[0].nMinVertex, 0u);
    EXPECT_EQ(meta->vMatInfos[0].nNumVertices, 24u);
    EXPECT_EQ(meta->vMatInfos[1].nMinVertex, 8u);
    EXPECT_EQ(meta->vMatInfos[1].nNumVertices, 8u);
}

TEST_F(Model3DSTest, VertexLimitOf65535) {
    Start();
    Scene3ds scene;
    scene.meshes = {Strip("big", 65535, {0, 1, 2, 65532, 65533, 65534})};
    Write("limit.3ds", scene);
    Model3DS* model = Load("limit.3ds");
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->pMeta->pVB->GetNumVertices(), 65535u);
    EXPECT_EQ(Indices(model->pMeta).back(), 65534u);

    scene.meshes.push_back(Strip("one", 3, {0, 1, 2}));
    Write("over.3ds", scene);
    log.clear();
    EXPECT_EQ(Load("over.3ds", ZVE_SUBFUNCTION), nullptr);
    std::vector<std::string> e = Entries(log);
    ASSERT_GE(e.size(), 2u) << log;
    EXPECT_EQ(e[0], "[Model3DSMeta::Load3DS()] Error : \"Too much vertices for the IB (NumVertices>0xFFFF)\"");
    EXPECT_EQ(e[1], "[Model3DSMeta::Load3DS()] Error : \"Called function return E_FAIL (0x80004005), Msg : 'Error "
                    "while loading the Model over.3ds'\"");
    // Nothing of the failed load stays with the manager.
    EXPECT_EQ(zv->vIBs.count, 1u);
    EXPECT_EQ(zv->vGeometries.count, 1u);
}

TEST_F(Model3DSTest, MaterialsFromTheFileAndTheDefaultOne) {
    Start();
    Scene3ds scene;
    Material3ds shiny = Matte("shiny", 51, 102, 153, "abcdefgh.tga");
    shiny.ambient[0] = 255;
    shiny.specular[1] = 255;
    shiny.shininess = 40;
    scene.materials = {shiny};
    scene.meshes = {Strip("m", 3, {0, 1, 2})};
    Write("mat.3ds", scene);
    Model3DS* model = Load("mat.3ds");
    ASSERT_NE(model, nullptr);
    const Model3DSMeta::MatInfos& m = model->pMeta->vMatInfos[0];
    EXPECT_NEAR(m.material.Ambient.r, 1.0f, 1e-5);
    EXPECT_NEAR(m.material.Diffuse.g, 0.4f, 1e-5);
    EXPECT_NEAR(m.material.Diffuse.b, 0.6f, 1e-5);
    EXPECT_EQ(m.material.Diffuse.a, 1.0f);
    EXPECT_EQ(m.material.Ambient.a, 1.0f);
    EXPECT_NEAR(m.material.Specular.g, 1.0f, 1e-5);
    EXPECT_EQ(m.material.Specular.a, 1.0f);
    EXPECT_EQ(m.material.Emissive.r + m.material.Emissive.a, 0.0f);
    EXPECT_NEAR(m.material.Power, 0.4f, 1e-6);
    EXPECT_EQ(m.bUsed, 1u);
    EXPECT_STREQ(m.strTexture.c_str(), "abcdefgh.tga");
    // The texture file does not exist: the material stays untextured.
    ASSERT_EQ(model->pMeta->vTextures.count, 1u);
    EXPECT_EQ(model->pMeta->vTextures[0], nullptr);
    EXPECT_TRUE(Contains(log, "Texture abcdefgh.tga cannot be loaded"));

    // Without any material in the file: one default material takes every face.
    scene.materials.clear();
    scene.meshes.push_back(Strip("n", 4, {0, 1, 2, 1, 2, 3}));
    Write("plain.3ds", scene);
    model = Load("plain.3ds");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->pMeta->vMatInfos.count, 1u);
    const Model3DSMeta::MatInfos& d = model->pMeta->vMatInfos[0];
    ExpectDefaultMaterial(d);
    EXPECT_EQ(d.nNumIndices, 9u);
    EXPECT_EQ(model->pMeta->vTextures[0], nullptr);
    EXPECT_TRUE(Contains(log, "1 materials for 2 meshes with 3 tris & 7 verts"));
}

// What a load of a file with faces naming materials it does not hold gives:
// the info entry's counts, the triangles of each material entry, the log's
// warnings and errors, the entry of the default material, and texture
// coordinates of some vertices.
struct MissingMaterialCase {
    const char* name;
    Scene3ds scene;
    std::string counts;
    std::vector<std::vector<std::vector<u16>>> runs;  // per vMatInfos entry
    std::vector<std::string> entries;
    u32 defaultEntry;                                  // kNone: no default material
    std::vector<std::pair<u32, std::vector<float>>> uvs;
};

const u32 kNone = 0xFFFFFFFFu;

std::string MissingWarning(const std::string& faces, const std::string& name) {
    const bool one = faces == "1";
    return "[Model3DSMeta::Load3DS()] Warning : \"" + faces + (one ? " face names" : " faces name") +
           " the material \"" + name + "\", which the file does not hold; " + (one ? "it is" : "they are") +
           " drawn with the default material\"";
}

// Texture coordinates for a strip of four vertices, and a tiled textured
// material: tiled vertices read (2u + 0.5, 1 - v), untiled ones (u, 1 - v).
Mesh3ds TexturedStrip(const std::string& name, const std::vector<uint16_t>& faces) {
    Mesh3ds m = Strip(name, 4, faces);
    m.texCoords = {0, 0, 1, 0, 1, 1, 0, 1};
    return m;
}

Material3ds Tiles() {
    Material3ds m = Matte("tiles", 255, 255, 255, "tiles.tga");
    m.uScale = 2.0f;
    m.uOffset = 0.5f;
    return m;
}

std::vector<MissingMaterialCase> MissingMaterialCases() {
    std::vector<MissingMaterialCase> cases;
    {
        // A 3ds Max export: the file's only material is "1", every face names
        // the one of the exporter's default name.
        MissingMaterialCase c{"every face", {}, "2 materials for 1 meshes with 2 tris & 4 verts", {}, {}, 1, {}};
        c.scene.materials = {Matte("1", 200, 40, 40)};
        Mesh3ds m = Strip("Box01", 4, {0, 1, 2, 1, 2, 3});
        m.groups = {MatGroup3ds{"17 - Default", {0, 1}}};
        c.scene.meshes = {m};
        c.runs = {{}, {{0, 1, 2}, {1, 2, 3}}};
        c.entries = {MissingWarning("2", "17 - Default")};
        cases.push_back(c);
    }
    {
        // Face 0 tiled, face 1 of a missing material sharing vertices 0 and
        // 2 with it (copied untiled for it), face 2 in no group (not drawn).
        MissingMaterialCase c{"one mesh", {}, "2 materials for 1 meshes with 2 tris & 6 verts", {}, {}, 1, {}};
        c.scene.materials = {Tiles()};
        Mesh3ds m = TexturedStrip("mixed", {0, 1, 2, 0, 2, 3, 1, 2, 3});
        m.groups = {MatGroup3ds{"tiles", {0}}, MatGroup3ds{"ghost", {1}}};
        c.scene.meshes = {m};
        c.runs = {{{0, 1, 2}}, {{4, 5, 3}}};
        c.entries = {MissingWarning("1", "ghost")};
        c.uvs = {{0, {0.5f, 1.0f}}, {2, {2.5f, 0.0f}}, {3, {0.0f, 0.0f}}, {4, {0.0f, 1.0f}}, {5, {1.0f, 0.0f}}};
        cases.push_back(c);
    }
    {
        // Two meshes, two missing names: "ghost" in both (its faces counted
        // together), "phantom" in the second; warned in the order met.
        MissingMaterialCase c{"two meshes", {}, "2 materials for 2 meshes with 5 tris & 11 verts", {}, {}, 1, {}};
        c.scene.materials = {Tiles()};
        Mesh3ds a = TexturedStrip("a", {0, 1, 2, 1, 2, 3});
        a.groups = {MatGroup3ds{"ghost", {1}}, MatGroup3ds{"tiles", {0}}};
        Mesh3ds b = Strip("b", 5, {0, 1, 2, 1, 2, 3, 2, 3, 4});
        b.groups = {MatGroup3ds{"phantom", {0}}, MatGroup3ds{"ghost", {1, 2}}};
        c.scene.meshes = {a, b};
        c.runs = {{{0, 1, 2}}, {{4, 5, 3}, {6, 7, 8}, {7, 8, 9}, {8, 9, 10}}};
        c.entries = {MissingWarning("3", "ghost"), MissingWarning("1", "phantom")};
        c.uvs = {{1, {2.5f, 1.0f}}, {3, {0.0f, 0.0f}}, {4, {1.0f, 1.0f}}, {5, {1.0f, 0.0f}}};
        cases.push_back(c);
    }
    {
        // No material in the file: its default material 0 takes the faces
        // of the missing name as well as those of the mesh without groups.
        MissingMaterialCase c{"no material", {}, "1 materials for 2 meshes with 2 tris & 6 verts", {}, {}, 0, {}};
        Mesh3ds a = Strip("a", 3, {0, 1, 2});
        a.groups = {MatGroup3ds{"Steel", {0}}};
        c.scene.meshes = {a, Strip("b", 3, {0, 1, 2})};
        c.runs = {{{0, 1, 2}, {3, 4, 5}}};
        c.entries = {MissingWarning("1", "Steel")};
        cases.push_back(c);
    }
    {
        // A group of a missing name without faces needs no default material.
        MissingMaterialCase c{"empty group", {}, "1 materials for 1 meshes with 1 tris & 3 verts", {}, {}, kNone, {}};
        c.scene.materials = {Matte("only", 10, 20, 30)};
        Mesh3ds m = Strip("m", 3, {0, 1, 2});
        m.groups = {MatGroup3ds{"only", {0}}, MatGroup3ds{"ghost", {}}};
        c.scene.meshes = {m};
        c.runs = {{{0, 1, 2}}};
        cases.push_back(c);
    }
    return cases;
}

TEST_F(Model3DSTest, FacesNamingAMissingMaterialAreDrawnWithTheDefaultOne) {
    Start();
    WriteTexture("tiles.tga", 1, 1, {0xFFFFFF});
    for (const MissingMaterialCase& c : MissingMaterialCases()) {
        SCOPED_TRACE(c.name);
        log.clear();
        Model3DS* model = Load(Write("unknown_material.3ds", c.scene));
        ASSERT_NE(model, nullptr);
        EXPECT_TRUE(Contains(log, "[Model3DSMeta::Load3DS()] " + c.counts + "\n")) << log;
        EXPECT_EQ(Entries(log), c.entries) << log;
        const Model3DSMeta* meta = model->pMeta;
        ASSERT_EQ(meta->vMatInfos.count, c.runs.size());
        ASSERT_EQ(meta->vTextures.count, c.runs.size());
        std::vector<u16> idx = Indices(model->pMeta);
        for (u32 i = 0; i < c.runs.size(); ++i) EXPECT_EQ(Triangles(idx, meta->vMatInfos[i]), c.runs[i]) << i;
        // The file's tiled material keeps its texture.
        if (meta->vMatInfos[0].strTexture == "tiles.tga") {
            EXPECT_NE(meta->vTextures[0], nullptr);
        }
        if (c.defaultEntry != kNone) {
            ExpectDefaultMaterial(meta->vMatInfos[c.defaultEntry]);
            EXPECT_EQ(meta->vTextures[c.defaultEntry], nullptr);
        }
        std::vector<Model3DSMeta::Vertex> v = Vertices(model->pMeta);
        for (const auto& uv : c.uvs) {
            ASSERT_LT(uv.first, v.size());
            EXPECT_EQ((std::vector<float>{v[uv.first].fU, v[uv.first].fV}), uv.second) << "vertex " << uv.first;
        }
        Drop(model);
    }
}

TEST_F(Model3DSTest, DegenerateTrianglesShrinkARunAndTheNextFollowsIt) {
    Start();
    Scene3ds scene;
    scene.materials = {Matte("first", 255, 0, 0), Matte("second", 0, 255, 0)};
    Mesh3ds m = Strip("m", 5, {0, 1, 2, 1, 1, 3, 2, 3, 4, 0, 3, 4});
    m.groups = {MatGroup3ds{"first", {0, 1, 2}}, MatGroup3ds{"second", {3}}};
    scene.meshes = {m};
    Write("degenerate.3ds", scene);
    Model3DS* model = Load("degenerate.3ds");
    ASSERT_NE(model, nullptr);
    const Model3DSMeta::MatInfos* mats = model->pMeta->vMatInfos.data;
    EXPECT_EQ(mats[0].nFirstIndex, 0u);
    EXPECT_EQ(mats[0].nNumIndices, 6u);
    EXPECT_EQ(mats[1].nFirstIndex, 6u);
    EXPECT_EQ(mats[1].nNumIndices, 3u);
    std::vector<u16> idx = Indices(model->pMeta);
    ASSERT_EQ(idx.size(), 9u);
    EXPECT_EQ(Triangles(idx, mats[1]), (std::vector<std::vector<u16>>{{0, 3, 4}}));
    EXPECT_TRUE(Contains(log, "with 3 tris & 5 verts"));
}

TEST_F(Model3DSTest, MaterialWithoutFacesKeepsAnEmptyRun) {
    Start();
    Scene3ds scene;
    scene.materials = {Matte("unused", 10, 10, 10), Matte("used", 0, 255, 0), Matte("flat", 0, 0, 255)};
    // "flat" has only a degenerate triangle: its run becomes empty as well.
    Mesh3ds m = Strip("m", 4, {0, 1, 2, 1, 2, 3, 2, 2, 3});
    m.groups = {MatGroup3ds{"used", {0, 1}}, MatGroup3ds{"flat", {2}}};
    scene.meshes = {m};
    Write("empty.3ds", scene);
    Model3DS* model = Load("empty.3ds");
    ASSERT_NE(model, nullptr);
    const Model3DSMeta::MatInfos* mats = model->pMeta->vMatInfos.data;
    EXPECT_EQ(mats[0].nNumIndices, 0u);
    EXPECT_EQ(mats[0].nNumVertices, 0u);
    EXPECT_EQ(mats[1].nFirstIndex, 0u);
    EXPECT_EQ(mats[1].nNumIndices, 6u);
    EXPECT_EQ(mats[2].nFirstIndex, 6u);
    EXPECT_EQ(mats[2].nNumIndices, 0u);
    EXPECT_TRUE(Entries(log).empty()) << log;

    // Only the used material is drawn.
    Camera(V(0, 0, -10), V(0, 0, 0));
    ASSERT_EQ(graphics->UpdateAndRender(0.01f), S_OK) << log;
    EXPECT_EQ(graphics->GetStats().nDrawCalls, 1u);
    EXPECT_EQ(graphics->GetStats().nPrimitives, 2u);
}

TEST_F(Model3DSTest, RepeatedFacesGroupsAndNamesStayInsideTheTables) {
    Start();
    Scene3ds scene;
    // Two materials of one name: the first takes the faces, the second none.
    scene.materials = {Matte("twin", 255, 0, 0), Matte("twin", 0, 255, 0), Matte("other", 0, 0, 255)};
    Mesh3ds m = Strip("m", 4, {0, 1, 2, 1, 2, 3});
    // A group longer than the face list, a face listed in two groups of one
    // material, and a group of another material naming the same face.
    m.groups = {MatGroup3ds{"twin", {0, 1, 0, 1, 1}}, MatGroup3ds{"twin", {1}}, MatGroup3ds{"other", {1}}};
    scene.meshes = {m};
    Write("repeat.3ds", scene);
    Model3DS* model = Load("repeat.3ds");
    ASSERT_NE(model, nullptr);
    const Model3DSMeta::MatInfos* mats = model->pMeta->vMatInfos.data;
    EXPECT_EQ(mats[0].nNumIndices, 18u);
    EXPECT_EQ(mats[1].nNumIndices, 0u);
    EXPECT_EQ(mats[2].nFirstIndex, 18u);
    EXPECT_EQ(mats[2].nNumIndices, 3u);
    std::vector<u16> idx = Indices(model->pMeta);
    ASSERT_EQ(idx.size(), 21u);
    EXPECT_EQ(Triangles(idx, mats[0])[5], (std::vector<u16>{1, 2, 3}));
    EXPECT_TRUE(Contains(log, "with 7 tris & 4 verts"));
}

TEST_F(Model3DSTest, TextureCoordinatesOnlyWithOnePerVertex) {
    Start();
    Scene3ds scene;
    Mesh3ds good = Strip("good", 3, {0, 1, 2});
    good.texCoords = {0.25f, 0.5f, 1.0f, 0.0f, 2.0f, -1.0f};
    Mesh3ds shortList = Strip("short", 3, {0, 1, 2});
    shortList.texCoords = {0.25f, 0.5f, 1.0f, 0.0f};
    scene.meshes = {good, shortList, Strip("none", 3, {0, 1, 2})};
    Write("uv.3ds", scene);
    Model3DS* model = Load("uv.3ds");
    ASSERT_NE(model, nullptr);
    std::vector<Model3DSMeta::Vertex> v = Vertices(model->pMeta);
    ASSERT_EQ(v.size(), 9u);
    // v counts from the image's bottom row in the file, from its top on the device.
    EXPECT_EQ(v[0].fU, 0.25f);
    EXPECT_EQ(v[0].fV, 0.5f);
    EXPECT_EQ(v[1].fV, 1.0f);
    EXPECT_EQ(v[2].fU, 2.0f);
    EXPECT_EQ(v[2].fV, 2.0f);
    for (int i = 3; i < 9; ++i) {
        EXPECT_EQ(v[i].fU, 0.0f) << i;
        EXPECT_EQ(v[i].fV, 0.0f) << i;
    }
}

TEST_F(Model3DSTest, MapTilingScalesThenOffsetsPerMaterial) {
    Start();
    WriteTexture("t.tga", 1, 1, {0xFFFFFF});
    Scene3ds scene;
    Material3ds plain = Matte("plain", 255, 255, 255, "t.tga");
    Material3ds tiled = Matte("tiled", 255, 255, 255, "t.tga");
    tiled.uScale = 2.0f;
    tiled.vScale = 3.0f;
    tiled.uOffset = 0.25f;
    tiled.vOffset = 0.5f;
    Material3ds same = tiled;
    same.name = "same";
    scene.materials = {plain, tiled, same};
    // A quad of two triangles sharing vertices 0 and 2: one triangle plain,
    // the other tiled.  A second quad whose two materials tile alike.
    Mesh3ds mixed = Strip("mixed", 4, {0, 1, 2, 0, 2, 3});
    mixed.texCoords = {0, 0, 1, 0, 1, 1, 0, 1};
    mixed.groups = {MatGroup3ds{"plain", {0}}, MatGroup3ds{"tiled", {1}}};
    Mesh3ds alike = mixed;
    alike.name = "alike";
    alike.groups = {MatGroup3ds{"same", {0}}, MatGroup3ds{"tiled", {1}}};
    scene.meshes = {mixed, alike};
    Write("tiling.3ds", scene);
    Model3DS* model = Load("tiling.3ds");
    ASSERT_NE(model, nullptr);
    // The shared vertices of the mixed quad are copied for the tiled face.
    EXPECT_TRUE(Contains(log, "3 materials for 2 meshes with 4 tris & 10 verts")) << log;
    std::vector<Model3DSMeta::Vertex> v = Vertices(model->pMeta);
    ASSERT_EQ(v.size(), 10u);
    auto uv = [&](u32 i) { return std::vector<float>{v[i].fU, v[i].fV}; };
    EXPECT_EQ(uv(0), (std::vector<float>{0.0f, 1.0f}));     // plain, as the file has it
    EXPECT_EQ(uv(2), (std::vector<float>{1.0f, 0.0f}));
    EXPECT_EQ(uv(3), (std::vector<float>{0.25f, -2.5f}));   // tiled: 1 - (1 x 3 + 0.5)
    EXPECT_EQ(uv(4), (std::vector<float>{0.25f, 0.5f}));    // copy of vertex 0
    EXPECT_EQ(uv(5), (std::vector<float>{2.25f, -2.5f}));   // copy of vertex 2
    EXPECT_EQ(v[5].vPos.x, v[2].vPos.x);
    std::vector<u16> idx = Indices(model->pMeta);
    const Model3DSMeta::MatInfos* mats = model->pMeta->vMatInfos.data;
    EXPECT_EQ(Triangles(idx, mats[0]), (std::vector<std::vector<u16>>{{0, 1, 2}}));
    EXPECT_EQ(Triangles(idx, mats[1]), (std::vector<std::vector<u16>>{{4, 5, 3}, {6, 8, 9}}));
    EXPECT_EQ(uv(6), (std::vector<float>{0.25f, 0.5f}));    // alike: every vertex tiled once
    EXPECT_TRUE(Entries(log).empty()) << log;
}

TEST_F(Model3DSTest, LongNamesAreCutWithAWarningAndMapNamesKeptWhole) {
    Start();
    const std::string image = "a_texture_with_a_long_file_name.tga";
    WriteTexture(image, 1, 1, {0xFF0000});
    Scene3ds scene;
    scene.materials = {Matte("Material_of_twenty_two", 255, 255, 255, image)};
    const std::vector<std::string> names = {"Cube.0012345", "A_name_of_twenty_chr", "Wheel_Front_L", "Wheel_Front_R"};
    for (const std::string& name : names) {
        Mesh3ds m = Strip(name, 3, {0, 1, 2});
        m.groups = {MatGroup3ds{"Material_of_twenty_two", {0}}};
        scene.meshes.push_back(m);
    }
    zvtools::KfNode3ds node;
    node.name = "Keyframer_node_name";
    scene.nodes = {node};
    Write("names.3ds", scene);
    Model3DS* model = Load("names.3ds");
    ASSERT_NE(model, nullptr);
    // Four meshes, two of them named alike after the cut, all drawn.
    EXPECT_TRUE(Contains(log, "1 materials for 4 meshes with 4 tris & 12 verts")) << log;
    EXPECT_EQ(model->pMeta->vMatInfos[0].nNumIndices, 12u);
    EXPECT_STREQ(model->pMeta->vMatInfos[0].strTexture.c_str(), image.c_str());
    EXPECT_NE(model->pMeta->vTextures[0], nullptr);
    const std::string cut = "\" is longer than the ";
    std::vector<std::string> expected = {
        "Keyframer node name \"Keyframer_node_name" + cut + "10 characters its record holds; it is read as "
        "\"Keyframer_\"",
        "Material name \"Material_of_twenty_two" + cut + "16 characters its record holds; it is read as "
        "\"Material_of_twen\"",
        "Object name \"Cube.0012345" + cut + "10 characters its record holds; it is read as \"Cube.00123\"",
        "Object name \"A_name_of_twenty_chr" + cut + "10 characters its record holds; it is read as \"A_name_of_\"",
        "Object name \"Wheel_Front_L" + cut + "10 characters its record holds; it is read as \"Wheel_Fron\"",
        "Object name \"Wheel_Front_R" + cut + "10 characters its record holds; it is read as \"Wheel_Fron\""};
    std::vector<std::string> warnings;
    for (const std::string& e : Entries(log)) {
        if (Contains(e, "Warning")) warnings.push_back(e.substr(e.find('"') + 1, e.size() - e.find('"') - 2));
    }
    EXPECT_EQ(warnings, expected) << log;
}

TEST_F(Model3DSTest, ManyLongNamesLogABoundedListAndTheNextLoadNone) {
    Start();
    Scene3ds many;
    for (u32 i = 0; i < 300; ++i) many.meshes.push_back(Strip("Long_object_name_" + std::to_string(i), 3, {0, 1, 2}));
    Write("many_names.3ds", many);
    ASSERT_NE(Load("many_names.3ds"), nullptr);
    std::vector<std::string> warnings;
    for (const std::string& e : Entries(log))
        if (Contains(e, "Warning")) warnings.push_back(e);
    ASSERT_EQ(warnings.size(), MAX_NAME_NOTICES_3DS + 1) << log;
    EXPECT_TRUE(Contains(warnings[0], "Object name \"Long_object_name_0\" is longer than the 10")) << warnings[0];
    EXPECT_TRUE(Contains(warnings.back(), "More names are longer than their records hold; only the first 64 are "
                                          "listed"))
        << warnings.back();

    Scene3ds plain;
    plain.meshes = {Strip("plain", 3, {0, 1, 2})};
    Write("plain_names.3ds", plain);
    log.clear();
    ASSERT_NE(Load("plain_names.3ds"), nullptr);
    EXPECT_TRUE(Entries(log).empty()) << log;
}

TEST_F(Model3DSTest, NormalsAverageTheTrianglesOfEachVertex) {
    Start();
    Scene3ds scene;
    // A floor quad and a wall quad sharing the edge of vertices 1 and 2, and
    // one vertex no triangle uses.
    Mesh3ds m;
    m.name = "corner";
    m.vertices = {0, 0, 0, 4, 0, 0, 4, 4, 0, 0, 4, 0, 4, 0, 4, 4, 4, 4, 9, 9, 9};
    m.faces = {0, 1, 2, 7, 0, 2, 3, 7, 1, 4, 5, 7, 1, 5, 2, 7};
    scene.meshes = {m};
    Write("normals.3ds", scene);
    Model3DS* model = Load("normals.3ds");
    ASSERT_NE(model, nullptr);
    std::vector<Model3DSMeta::Vertex> v = Vertices(model->pMeta);
    ASSERT_EQ(v.size(), 7u);
    // Counter-clockwise from above in the file: the floor's normal is up (+y).
    EXPECT_NEAR(v[0].vNormal.x, 0.0f, 1e-6);
    EXPECT_NEAR(v[0].vNormal.y, 1.0f, 1e-6);
    EXPECT_NEAR(v[3].vNormal.y, 1.0f, 1e-6);
    // The wall faces -x (file and engine); vertex 4 belongs to it alone.
    EXPECT_NEAR(v[4].vNormal.x, -1.0f, 1e-6);
    // Vertex 1: one floor and two wall triangles, vertex 2: two floor and one wall.
    EXPECT_NEAR(v[1].vNormal.x, -0.8944272f, 1e-5);
    EXPECT_NEAR(v[1].vNormal.y, 0.4472136f, 1e-5);
    EXPECT_NEAR(v[2].vNormal.x, -0.4472136f, 1e-5);
    EXPECT_NEAR(v[2].vNormal.y, 0.8944272f, 1e-5);
    EXPECT_EQ(v[6].vNormal, V(0, 0, 0));
}

TEST_F(Model3DSTest, ModelsWithoutVerticesOrFacesFailCleanly) {
    Start();
    Scene3ds scene;
    Write("nothing.3ds", scene);
    EXPECT_EQ(Load("nothing.3ds", ZVE_SUBFUNCTION), nullptr);
    EXPECT_TRUE(Contains(log, "Error : \"The model has no vertex\""));

    Mesh3ds cloud = Strip("cloud", 5, {});
    scene.meshes = {cloud};
    Write("cloud.3ds", scene);
    log.clear();
    EXPECT_EQ(Load("cloud.3ds", ZVE_SUBFUNCTION), nullptr);
    EXPECT_TRUE(Contains(log, "Error : \"The model has no face\""));
    EXPECT_TRUE(Contains(log, "Error while loading the Model cloud.3ds"));

    // Every face degenerate or unassigned: nothing to draw is refused too.
    scene.materials = {Matte("only", 1, 2, 3)};
    Mesh3ds flat = Strip("flat", 3, {0, 0, 1, 0, 1, 2});
    flat.groups = {MatGroup3ds{"only", {0}}};
    scene.meshes = {flat};
    Write("flat.3ds", scene);
    log.clear();
    EXPECT_EQ(Load("flat.3ds", ZVE_SUBFUNCTION), nullptr);
    EXPECT_TRUE(Contains(log, "Error : \"The model has no triangle to draw\""));
    // The failed loads left no buffer and no geometry behind.
    EXPECT_EQ(zv->vIBs.count, 0u);
    EXPECT_EQ(zv->vGeometries.count, 0u);
    for (u32 i = 0; i < zv->vVBs.count; ++i) EXPECT_EQ(zv->vVBs[i], zv->pShadowVB);
}

TEST_F(Model3DSTest, CornersAndGroupsNamingNothingFailTheLoad) {
    Start();
    Scene3ds scene;
    scene.materials = {Matte("m", 1, 2, 3)};
    Mesh3ds corner = Strip("corner", 3, {0, 1, 3});
    scene.meshes = {corner};
    Write("corner.3ds", scene);
    EXPECT_EQ(Load("corner.3ds", ZVE_SUBFUNCTION), nullptr);
    EXPECT_TRUE(Contains(log, "[Print3DSErrors()] Error : \"3DSError(s) : ERR_INVALID_")) << log;
    EXPECT_TRUE(Contains(log, "Error while loading the Model corner.3ds"));

    Mesh3ds group = Strip("group", 3, {0, 1, 2});
    group.groups = {MatGroup3ds{"m", {0, 1}}};
    scene.meshes = {group};
    Write("group.3ds", scene);
    log.clear();
    EXPECT_EQ(Load("group.3ds", ZVE_SUBFUNCTION), nullptr);
    EXPECT_TRUE(Contains(log, "3DSError(s) : ERR_INVALID_"));
    EXPECT_FALSE(errorsPending);
    EXPECT_EQ(zv->vIBs.count, 0u);
}

TEST_F(Model3DSTest, TruncatedFileFailsWithTheToolkitsText) {
    Start();
    Scene3ds scene;
    scene.meshes = {Strip("m", 3, {0, 1, 2})};
    std::vector<uint8_t> bytes = zvtools::SceneBytes3ds(scene);
    bytes.resize(bytes.size() - 10);
    ASSERT_TRUE(zvtools::WriteBytes3ds(dir + "cut.3ds", bytes));
    EXPECT_EQ(Load("cut.3ds", ZVE_SUBFUNCTION), nullptr);
    std::vector<std::string> e = Entries(log);
    ASSERT_GE(e.size(), 1u);
    EXPECT_EQ(e[0].rfind("[Print3DSErrors()] Error : \"3DSError(s) : ERR_", 0), 0u) << e[0];
    EXPECT_FALSE(errorsPending);
}

TEST_F(Model3DSTest, MissingFileGivesTheWholeFailureChainEveryTime) {
    Start();
    const std::vector<std::string> chain = {
        "[Print3DSErrors()] Error : \"3DSError(s) : ERR_OPENING_FILE: Could not open requested file\"",
        "[Model3DSMeta::Load3DS()] Error : \"Called function return E_FAIL (0x80004005), Msg : 'Error while "
        "loading the Model missing.3ds'\"",
        "[Model3DS::Init()] Error : \"Called function return E_FAIL (0x80004005), Msg : '-'\"",
        "[ZVGraphics::CreateGeometry()] Error : \"Called function return ZVE_SUBFUNCTION (0x87654321), Msg : "
        "'Error while creating : <3ds> Command = <missing.3ds>'\""};
    for (int attempt = 0; attempt < 2; ++attempt) {
        log.clear();
        IGeometry* g = reinterpret_cast<IGeometry*>(0x1);
        EXPECT_EQ(graphics->CreateGeometry("3ds", "missing.3ds", &g), ZVE_SUBFUNCTION);
        EXPECT_EQ(g, nullptr);
        EXPECT_EQ(Entries(log), chain) << log;
        EXPECT_TRUE(Contains(log, "At "));
        EXPECT_TRUE(Contains(log, ", See : \"model3dsmeta\", line "));
        EXPECT_TRUE(Contains(log, ", See : \"model3ds\", line "));
        EXPECT_FALSE(errorsPending);
    }
    EXPECT_EQ(zv->vGeometries.count, 0u);
}

TEST_F(Model3DSTest, PendingToolkitErrorsAreReportedAndCleared) {
    log.clear();
    EXPECT_EQ(Model3DSMeta::Print3DSErrors(), S_OK);
    EXPECT_TRUE(log.empty());
    AddError3ds(ERR_NO_MEM);
    AddError3ds(ERR_READING_FILE);
    EXPECT_EQ(Model3DSMeta::Print3DSErrors(), E_FAIL);
    EXPECT_FALSE(errorsPending);
    EXPECT_EQ(Entries(log), (std::vector<std::string>{
                                "[Print3DSErrors()] Error : \"3DSError(s) : ERR_NO_MEM: Not enough memory to complete "
                                "operation\nERR_READING_FILE: Error occured while reading file\""}));
    EXPECT_EQ(Model3DSMeta::Print3DSErrors(), S_OK);
}

}  // namespace
}  // namespace m3dstest
