// The description file and the packing: keys, syntax errors, the checks of
// the whole model, grouping by material, the index buffer, the information
// entries and the textures; malformed models refused through Load.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>

#include "cal3d_model_support.h"

using namespace cal3dtest;

namespace {

// A Meta for one Load; released by the test.
struct Loaded {
    explicit Loaded(const std::string& cfg, FakeGraphics* graphics) : meta(new ModelCal3DMeta()) {
        hr = meta->Load(cfg.c_str(), graphics);
    }
    ~Loaded() { meta->Release(); }
    ModelCal3DMeta* meta;
    HRESULT hr;
};

std::string LoadEntry(const std::string& text) { return ErrorEntry("Load()", text); }
std::string LoadFailed(const std::string& code, const std::string& message) {
    return FailedCall("Load()", code, message);
}
const char* const kFail = "E_FAIL (0x80004005)";
const char* const kSub = "ZVE_SUBFUNCTION (0x87654321)";

// Writes a description of the given text; its path.
std::string WriteCfg(const std::string& name, const std::string& text) {
    std::string path = DataDir() + name;
    zvtools::WriteCal3DFile(path, text);
    return path;
}

}  // namespace

TEST(Cal3DLoad, RigLoadsWithInformationEntries) {
    FakeGraphics graphics;
    std::string cfg = Rig().Write("load_");
    LogCapture log;
    {
        Loaded model(cfg, &graphics);
        ASSERT_EQ(S_OK, model.hr) << log.log;
        const std::string info = "[ModelCal3DMeta::Load()] ";
        EXPECT_TRUE(log.Has(info + "Infos of the Cal3D model : " + cfg + "\n")) << log.log;
        EXPECT_TRUE(log.Has(info + "1 meshes (1 submeshes) with 2 tris & 4 verts (5 influences)\n"));
        EXPECT_TRUE(log.Has(info + "2 bones with 1 root bone(s)\n"));
        EXPECT_TRUE(log.Has(info + "3 animations and 1 materials\n"));
        EXPECT_EQ(std::string::npos, log.log.find("Warning")) << log.log;

        ModelCal3DMeta* m = model.meta;
        EXPECT_STREQ(cfg.c_str(), m->strFile.c_str());
        ASSERT_EQ(2u, m->vBoneOrder.count);
        EXPECT_EQ(0u, m->vBoneOrder.data[0]);
        EXPECT_EQ(1u, m->vBoneOrder.data[1]);
        ASSERT_EQ(1u, m->vRootBones.count);
        EXPECT_STREQ("lift", m->vAnimationNames.data[1].c_str());
        ASSERT_EQ(1u, m->vTextures.count);
        ASSERT_NE(nullptr, m->vTextures.data[0]);
        EXPECT_EQ(nullptr, m->vMatInfos.data[0].szTexture);  // handed over to the texture
        ASSERT_EQ(std::vector<std::string>{DataDir() + "load_rig.tga"}, graphics.requested);
        ASSERT_NE(nullptr, graphics.lastIB);
        // Each triangle's corners as the file holds them.
        EXPECT_EQ((std::vector<u16>{0, 1, 2, 0, 3, 1}), graphics.lastIB->indices);
        EXPECT_EQ(graphics.lastIB->indices, graphics.lastIB->copy);
        EXPECT_EQ(1, graphics.live.ibs);
        EXPECT_EQ(1, graphics.live.textures);
    }
    // The last Release gives the index buffer and the textures back.
    EXPECT_EQ(0, graphics.live.ibs);
    EXPECT_EQ(0, graphics.live.textures);
}

TEST(Cal3DLoad, DescriptionKeysScalePathAndNames) {
    FakeGraphics graphics;
    Rig rig;
    std::string dir = DataDir();
    rig.Write("keys_");
    // Animation names drop the directories and the last extension.
    mkdir((dir + "keys_sub").c_str(), 0755);
    zvtools::WriteCal3DFile(dir + "keys_sub/run.caf", zvtools::WriteCal3DAnimation(rig.bend));
    zvtools::WriteCal3DFile(dir + "keys_sub/jump.x.caf", zvtools::WriteCal3DAnimation(rig.bend));
    zvtools::WriteCal3DFile(dir + "keys_lift", zvtools::WriteCal3DAnimation(rig.lift));
    std::string text =
        "# comment\n\n   \t \n  # indented comment\n"
        "scale = 0\nscale=-2\nscale=abc\nscale = 2\nscale\t=\t3\n"
        "path=" + dir + "keys_\n"
        "skeleton = rig.csf\n"
        "animation=bend.caf\r\n"
        "animation = sub/run.caf\n"
        "animation=sub\\jump.x.caf\n"
        "animation=lift\n"
        "skeleton=does_not_exist.csf\n"
        "mesh=rig.cmf\n"
        "material=rig.crf";
    std::string cfg = WriteCfg("keys.cfg", text);
    LogCapture log;
    Loaded model(cfg, &graphics);
    ASSERT_EQ(S_OK, model.hr) << log.log;
    ModelCal3DMeta* m = model.meta;
    ASSERT_EQ(4u, m->vAnimationNames.count);
    EXPECT_STREQ("bend", m->vAnimationNames.data[0].c_str());
    EXPECT_STREQ("run", m->vAnimationNames.data[1].c_str());
    EXPECT_STREQ("jump.x", m->vAnimationNames.data[2].c_str());
    EXPECT_STREQ("lift", m->vAnimationNames.data[3].c_str());
    EXPECT_TRUE(log.Has(WarningEntry("Load()", "Many skeletons in the config file, only take the first")));
    EXPECT_EQ(2u, m->vBones.count);
    EXPECT_EQ(std::vector<std::string>{dir + "keys_rig.tga"}, graphics.requested);

    // Scales 2 and 3 multiply; 0, -2 and abc do nothing.  The base matrix
    // holds nothing else (the axes change while skinning).
    Matrix expected;
    expected.SetScaling(6.0f);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(expected.m[i / 4][i % 4], m->matBase.m[i / 4][i % 4], 1e-5f) << i;
}

TEST(Cal3DLoad, ScaleThatWouldOverflowIsIgnored) {
    FakeGraphics graphics;
    Rig rig;
    rig.lines.insert(rig.lines.begin(), {{"scale", "1e30"}, {"scale", "1e30"}, {"scale", "inf"}});
    std::string cfg = rig.Write("scale_");
    LogCapture log;
    Loaded model(cfg, &graphics);
    ASSERT_EQ(S_OK, model.hr);
    EXPECT_EQ(2u, log.Count(" : Scale out of range (=> ignored)")) << log.log;
    EXPECT_TRUE(std::isfinite(model.meta->matBase._22));
}

TEST(Cal3DLoad, SyntaxErrorsNameTheLine) {
    struct Case {
        const char* text;
        const char* error;    // the line's error; null: the lines are read and the model is incomplete
        const char* warning;  // a line's warning, or null
    };
    const Case cases[] = {
        {"# only comments\n\n  \n", nullptr, nullptr},
        {"mesh", "(1) : Invalid syntax (Key)", nullptr},
        {"# c\nmesh\n", "(2) : Invalid syntax ('=')", nullptr},
        {"\n\nmesh rig.cmf\n", "(3) : Invalid syntax ('=')", nullptr},
        // Keys are compared byte for byte: these are not ours, and skipped.
        {"meshes = rig.cmf\n", nullptr, "(1) : Unknown key 'meshes' (=> ignored)"},
        {"Mesh = rig.cmf\n", nullptr, "(1) : Unknown key 'Mesh' (=> ignored)"},
        // A key we do not know still needs its '=', and does not hide the
        // faults of the lines after it.
        {"flip_texture 1\n", "(1) : Invalid syntax ('=')", nullptr},
        {"idle_anim = 6\nmesh\n", "(2) : Invalid syntax ('=')", "(1) : Unknown key 'idle_anim' (=> ignored)"},
        {"idle_anim = 6\nmesh", "(2) : Invalid syntax (Key)", "(1) : Unknown key 'idle_anim' (=> ignored)"},
    };
    FakeGraphics graphics;
    for (const Case& c : cases) {
        std::string cfg = WriteCfg("syntax.cfg", c.text);
        LogCapture log;
        Loaded model(cfg, &graphics);
        EXPECT_EQ(E_FAIL, model.hr) << c.text;
        if (c.error) {
            EXPECT_TRUE(log.Has(LoadEntry(cfg + c.error))) << log.log;
            EXPECT_TRUE(log.Has(LoadFailed(kFail, "Error while loading the Model " + cfg))) << log.log;
        } else {
            EXPECT_TRUE(log.Has(LoadEntry("Incomplete Cal3D Model Loaded"))) << log.log;
            EXPECT_TRUE(log.Has(LoadFailed(kFail, "Error while packing the Model " + cfg))) << log.log;
        }
        if (c.warning) {
            EXPECT_TRUE(log.Has(WarningEntry("Load()", cfg + c.warning))) << log.log;
        } else {
            EXPECT_EQ(std::string::npos, log.log.find("Warning")) << log.log;
        }
    }
    LogCapture log;
    Loaded missing(DataDir() + "no_such.cfg", &graphics);
    EXPECT_EQ(ZVE_SUBFUNCTION, missing.hr);
    EXPECT_TRUE(log.Has(LoadFailed(kFail, "-"))) << log.log;
    ModelCal3DMeta* meta = new ModelCal3DMeta();
    EXPECT_EQ(ZVE_SUBFUNCTION, meta->Load("x.cfg", nullptr));
    meta->Release();
}

TEST(Cal3DLoad, ReaderFailuresStopTheLoading) {
    FakeGraphics graphics;
    Rig rig;
    std::string cfg = rig.Write("rd_");
    std::string dir = DataDir();
    struct Case {
        std::string file;
        std::vector<uint8_t> bytes;
        std::string entry;
        HRESULT hr;
    };
    std::vector<uint8_t> magic = zvtools::WriteCal3DMesh(rig.mesh);
    magic[3] = 1;
    std::vector<uint8_t> truncated = zvtools::WriteCal3DSkeleton(rig.skeleton);
    truncated.resize(truncated.size() - 1);
    const Case cases[] = {
        {"rd_rig.cmf", magic,
         ErrorEntry("LoadMesh()", dir + "rd_rig.cmf : Invalid File Format ('Invalid Magic Token')"), E_FAIL},
        {"rd_rig.csf", truncated, EndOfFile("LoadSkeleton()"), ZVE_SUBFUNCTION},
    };
    for (const Case& c : cases) {
        rig.Write("rd_");
        zvtools::WriteCal3DFile(dir + c.file, c.bytes);
        LogCapture log;
        Loaded model(cfg, &graphics);
        EXPECT_EQ(c.hr, model.hr) << c.file;
        EXPECT_TRUE(log.Has(c.entry)) << log.log;
        EXPECT_TRUE(log.Has(LoadFailed(c.hr == E_FAIL ? kFail : kSub, "Error while loading the Model " + cfg)))
            << log.log;
    }

    // Versions outside 700-799 load with a warning.
    Rig old;
    old.skeleton.version = 699;
    old.mesh.version = 800;
    cfg = old.Write("ver_");
    LogCapture log;
    Loaded model(cfg, &graphics);
    EXPECT_EQ(S_OK, model.hr);
    EXPECT_TRUE(log.Has(WarningEntry("LoadSkeleton()", dir + "ver_rig.csf : FileVersion=699, not in [700,799]; try to load")));
    EXPECT_TRUE(log.Has(WarningEntry("LoadMesh()", dir + "ver_rig.cmf : FileVersion=800, not in [700,799]; try to load")));
}

TEST(Cal3DLoad, WholeModelChecks) {
    FakeGraphics graphics;
    struct Case {
        const char* name;
        void (*change)(Rig*);
        std::string entry;
    };
    const Case cases[] = {
        {"bone", [](Rig* r) { r->mesh.subMeshes[0].vertices[2].influences[0].bone = 7; }, "Bad index of bone : 7"},
        {"negbone", [](Rig* r) { r->mesh.subMeshes[0].vertices[1].influences[0].bone = -3; }, "Bad index of bone : -3"},
        {"material", [](Rig* r) { r->mesh.subMeshes[0].material = 1; }, "Bad index of material : 1"},
        {"nomaterial", [](Rig* r) { r->lines.pop_back(); }, "Incomplete Cal3D Model Loaded"},
        {"noskeleton", [](Rig* r) { r->lines.erase(r->lines.begin()); }, "Incomplete Cal3D Model Loaded"},
        {"track", [](Rig* r) { r->lift.tracks[1].bone = 2; }, ""},
        {"notriangle", [](Rig* r) { r->mesh.subMeshes[0].faces = {0, 0, 1}; }, "No triangle to draw in the model"},
    };
    for (const Case& c : cases) {
        Rig rig;
        c.change(&rig);
        std::string prefix = std::string("chk_") + c.name + "_";
        std::string cfg = rig.Write(prefix);
        LogCapture log;
        Loaded model(cfg, &graphics);
        EXPECT_EQ(E_FAIL, model.hr) << c.name;
        if (!c.entry.empty()) {
            EXPECT_TRUE(log.Has(LoadEntry(c.entry))) << c.name << log.log;
        } else {
            EXPECT_TRUE(log.Has(ErrorEntry("CheckAnimation()",
                                           DataDir() + prefix + "lift.caf : Track of bone 2, but the skeleton has 2 bones")))
                << log.log;
        }
        EXPECT_TRUE(log.Has(LoadFailed(kFail, "Error while packing the Model " + cfg))) << c.name << log.log;
        EXPECT_EQ(0, graphics.live.ibs) << c.name;
    }
}

TEST(Cal3DLoad, SubMeshWithFacesButNoVerticesIsRefused) {
    FakeGraphics graphics;
    Rig rig;
    zvtools::Cal3DSubMesh empty;
    empty.faces = {0, 0, 0};
    rig.mesh.subMeshes.push_back(empty);
    std::string cfg = rig.Write("novert_");
    LogCapture log;
    Loaded model(cfg, &graphics);
    EXPECT_EQ(E_FAIL, model.hr);
    EXPECT_TRUE(log.Has(ErrorEntry("LoadMesh()", DataDir() + "novert_rig.cmf : SubMesh 1 has faces but no vertices")))
        << log.log;
    EXPECT_TRUE(log.Has(LoadFailed(kFail, "Error while loading the Model " + cfg)));
    EXPECT_EQ(0, graphics.live.ibs);
}

TEST(Cal3DLoad, BonesOutOfReachAreRefused) {
    // A rootless skeleton (a loop of parents) never reaches the packing.
    FakeGraphics graphics;
    Rig rig;
    rig.skeleton.bones[0].parent = 1;
    rig.skeleton.bones[1].children = {0};
    std::string cfg = rig.Write("loop_");
    LogCapture log;
    Loaded model(cfg, &graphics);
    EXPECT_EQ(E_FAIL, model.hr);
    EXPECT_TRUE(log.Has(ErrorEntry("LoadSkeleton()", DataDir() + "loop_rig.csf : Bone 0 does not reach a root bone within 65535 levels")))
        << log.log;
    EXPECT_TRUE(log.Has(LoadFailed(kFail, "Error while loading the Model " + cfg)));
}

TEST(Cal3DLoad, SubMeshesAreGroupedByMaterial) {
    // Two mesh files with submeshes of materials 1, 0 and 1, 0; a third
    // material no submesh uses; a degenerate triangle; a faceless submesh.
    FakeGraphics graphics;
    Rig rig;
    zvtools::Cal3DSubMesh base = rig.mesh.subMeshes[0];
    zvtools::Cal3DMesh first, second;
    for (int i = 0; i < 2; ++i) {
        zvtools::Cal3DSubMesh a = base, b = base;
        a.material = 1;
        b.material = 0;
        for (zvtools::Cal3DVertex& v : a.vertices) v.pos[1] = 10.0f + (float)i;  // tells them apart
        for (zvtools::Cal3DVertex& v : b.vertices) v.pos[1] = 20.0f + (float)i;
        (i == 0 ? first : second).subMeshes = {a, b};
    }
    second.subMeshes[1].faces = {0, 1, 2, 3, 3, 1, 0, 3, 1};  // the middle one is degenerate
    zvtools::Cal3DSubMesh faceless = base;
    faceless.material = 2;
    faceless.faces.clear();
    second.subMeshes.push_back(faceless);
    std::string dir = DataDir();
    zvtools::WriteCal3DFile(dir + "grp_one.cmf", zvtools::WriteCal3DMesh(first));
    zvtools::WriteCal3DFile(dir + "grp_two.cmf", zvtools::WriteCal3DMesh(second));
    zvtools::Cal3DMaterial plain;
    zvtools::WriteCal3DFile(dir + "grp_plain.crf", zvtools::WriteCal3DMaterial(plain));
    rig.lines = {{"skeleton", "rig.csf"},     {"mesh", "one.cmf"},        {"mesh", "two.cmf"},
                 {"material", "rig.crf"},     {"material", "plain.crf"},  {"material", "plain.crf"},
                 {"material", "plain.crf"}};
    std::string cfg = rig.Write("grp_");
    LogCapture log;
    Loaded model(cfg, &graphics);
    ASSERT_EQ(S_OK, model.hr) << log.log;
    EXPECT_TRUE(log.Has("2 meshes (5 submeshes) with 8 tris & 20 verts (25 influences)")) << log.log;
    EXPECT_TRUE(log.Has("0 animations and 4 materials"));
    ModelCal3DMeta* m = model.meta;

    // Material 0: the two material-0 submeshes in order of discovery.
    const DrawPrimitiveInfos& d0 = m->vMatInfos.data[0].drawInfos;
    const DrawPrimitiveInfos& d1 = m->vMatInfos.data[1].drawInfos;
    const DrawPrimitiveInfos& d2 = m->vMatInfos.data[2].drawInfos;
    const DrawPrimitiveInfos& d3 = m->vMatInfos.data[3].drawInfos;
    EXPECT_EQ(0u, d0.nFirstVertex);
    EXPECT_EQ(8u, d0.nNumVertices);
    EXPECT_EQ(0u, d0.nFirstIndex);
    EXPECT_EQ(12u, d0.nNumIndices);
    EXPECT_EQ(8u, d1.nFirstVertex);
    EXPECT_EQ(8u, d1.nNumVertices);
    EXPECT_EQ(12u, d1.nFirstIndex);
    EXPECT_EQ(12u, d1.nNumIndices);
    EXPECT_EQ(16u, d2.nFirstVertex);
    EXPECT_EQ(4u, d2.nNumVertices);
    EXPECT_EQ(0u, d2.nNumIndices);
    EXPECT_EQ(0u, d3.nNumIndices);
    EXPECT_EQ(20.0f, m->vVertices.data[0].vPos.y);
    EXPECT_EQ(21.0f, m->vVertices.data[4].vPos.y);
    // Material 1's two submeshes follow (in the order the grouping's swaps
    // leave them), then the faceless one.
    EXPECT_EQ(21.0f, m->vVertices.data[8].vPos.y + m->vVertices.data[12].vPos.y);
    EXPECT_NE(m->vVertices.data[8].vPos.y, m->vVertices.data[12].vPos.y);
    EXPECT_EQ(0.0f, m->vVertices.data[16].vPos.y);

    // Indices and influence references are global.
    const std::vector<u16>& ib = graphics.lastIB->indices;
    ASSERT_EQ(24u, ib.size());
    EXPECT_EQ((std::vector<u16>{0, 1, 2, 0, 3, 1, 4, 5, 6, 4, 7, 5}), std::vector<u16>(ib.begin(), ib.begin() + 12));
    EXPECT_EQ((std::vector<u16>{8, 9, 10, 8, 11, 9, 12, 13, 14, 12, 15, 13}), std::vector<u16>(ib.begin() + 12, ib.end()));
    EXPECT_EQ(5u, m->vVertices.data[4].nFirstInfluence);
    EXPECT_EQ(23u, m->vVertices.data[19].nFirstInfluence);
    EXPECT_EQ(25u, m->vInfluences.count);

    // Drawing skips the materials without faces.
    IGeometry* geometry = nullptr;
    ASSERT_EQ(S_OK, ModelCal3D::Create("cal3d", cfg.c_str(), &graphics, &geometry));
    graphics.draws.clear();
    ASSERT_EQ(S_OK, geometry->Render());
    ASSERT_EQ(2u, graphics.draws.size());
    EXPECT_EQ(DataDir() + "grp_rig.tga", graphics.draws[0].texture);
    EXPECT_EQ("", graphics.draws[1].texture);  // no map: stage 0 disabled
    EXPECT_EQ(12u, graphics.draws[1].range.nFirstIndex);
    geometry->Release();
}

TEST(Cal3DLoad, VertexLimitOfTheIndexBuffer) {
    FakeGraphics graphics;
    for (u32 total : {65536u, 65537u}) {
        Rig rig;
        zvtools::Cal3DSubMesh& sub = rig.mesh.subMeshes[0];
        zvtools::Cal3DVertex v = sub.vertices[0];
        v.texCoords.clear();
        sub.numMaps = 0;
        sub.vertices.assign(total, v);
        sub.faces = {0, 1, 2, (int)total - 3, (int)total - 2, (int)total - 1};
        std::string cfg = rig.Write("lim_");
        LogCapture log;
        Loaded model(cfg, &graphics);
        if (total == 65536u) {
            ASSERT_EQ(S_OK, model.hr) << log.log;
            // The last triangle, up to the highest index 16 bits hold.
            EXPECT_EQ((std::vector<u16>{65533, 65534, 65535}),
                      std::vector<u16>(graphics.lastIB->indices.begin() + 3, graphics.lastIB->indices.end()));
            EXPECT_EQ(0.0f, model.meta->vVertices.data[7].fU);  // no map: defined coordinates
        } else {
            EXPECT_EQ(E_FAIL, model.hr);
            EXPECT_TRUE(log.Has(LoadEntry("Too many vertices : 65537 (at most 65536 with 16-bit indices)"))) << log.log;
        }
    }
}

// Applications built on Cal3D write keys of their own into the description;
// each such line is skipped with one warning naming the file, the line and
// the key, and the model loads as if it were not there.
TEST(Cal3DLoad, UnknownKeysAreSkippedWithAWarning) {
    FakeGraphics graphics;
    Rig().Write("uk_");
    const std::string dir = DataDir();
    const std::string cfg = WriteCfg("uk.cfg",
                                     "# written by an application built on Cal3D\n"
                                     "flip_texture = 1\n"
                                     "path=" + dir + "uk_\n"
                                     "skeleton=rig.csf\n"
                                     "idle_anim=6\n"
                                     "animation=bend.caf\n"
                                     "\tcamera_distance\t=\t 12.5 \n"
                                     "mesh=rig.cmf\n"
                                     "material=rig.crf\n");
    {
        LogCapture log;
        Loaded model(cfg, &graphics);
        ASSERT_EQ(S_OK, model.hr) << log.log;
        EXPECT_TRUE(log.Has(WarningEntry("Load()", cfg + "(2) : Unknown key 'flip_texture' (=> ignored)"))) << log.log;
        EXPECT_TRUE(log.Has(WarningEntry("Load()", cfg + "(5) : Unknown key 'idle_anim' (=> ignored)"))) << log.log;
        EXPECT_TRUE(log.Has(WarningEntry("Load()", cfg + "(7) : Unknown key 'camera_distance' (=> ignored)")))
            << log.log;
        EXPECT_EQ(3u, log.Count("Warning")) << log.log;
        EXPECT_EQ(std::string::npos, log.log.find("Error")) << log.log;
        EXPECT_TRUE(log.Has("1 animations and 1 materials")) << log.log;
        EXPECT_EQ(2u, model.meta->vBones.count);
        EXPECT_STREQ("bend", model.meta->vAnimationNames.data[0].c_str());
        ASSERT_EQ(1u, model.meta->vTextures.count);
        EXPECT_NE(nullptr, model.meta->vTextures.data[0]);
    }

    // A file of nothing but unknown keys cannot flood the log: the first 16
    // are named, one entry says that the others are left out.
    std::string many;
    for (int i = 0; i < 40; ++i) many += "key" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    const std::string flood = WriteCfg("uk_flood.cfg", many);
    LogCapture log;
    Loaded model(flood, &graphics);
    EXPECT_EQ(E_FAIL, model.hr);
    EXPECT_EQ(16u, log.Count(" (=> ignored)")) << log.log;
    EXPECT_TRUE(log.Has(WarningEntry("Load()", flood + "(16) : Unknown key 'key15' (=> ignored)"))) << log.log;
    EXPECT_EQ(1u, log.Count(WarningEntry("Load()", "Further entries of this kind are left out"))) << log.log;
    EXPECT_TRUE(log.Has(LoadEntry("Incomplete Cal3D Model Loaded"))) << log.log;
}

// A material whose image cannot be had is drawn untextured: the model loads,
// the others keep their textures, one warning names the image.
TEST(Cal3DLoad, MaterialsWhoseImageCannotBeLoadedAreDrawnUntextured) {
    Rig rig;
    zvtools::Cal3DMaterial second = rig.material;
    second.maps = {"second.tga"};
    const std::string dir = DataDir();
    zvtools::WriteCal3DFile(dir + "tex_second.crf", zvtools::WriteCal3DMaterial(second));
    rig.lines.push_back({"material", "second.crf"});
    const std::string cfg = rig.Write("tex_");
    const std::string images[2] = {dir + "tex_rig.tga", dir + "tex_second.tga"};
    for (int refused = 0; refused < 3; ++refused) {
        FakeGraphics graphics;
        if (refused < 2) {
            graphics.refuse = {images[refused]};
        } else {
            graphics.failTextures = true;  // none of them
        }
        LogCapture log;
        {
            Loaded model(cfg, &graphics);
            ASSERT_EQ(S_OK, model.hr) << log.log;
            EXPECT_EQ(std::string::npos, log.log.find("Error")) << log.log;
            ASSERT_EQ(2u, model.meta->vTextures.count);
            for (int m = 0; m < 2; ++m) {
                const bool lost = refused == 2 || refused == m;
                EXPECT_EQ(lost, model.meta->vTextures.data[m] == nullptr) << refused << " " << m;
                EXPECT_EQ(nullptr, model.meta->vMatInfos.data[m].szTexture);
                const std::string warning = cfg + " : Texture " + images[m] + " cannot be loaded; material " +
                                            std::to_string(m) + " is drawn untextured";
                EXPECT_EQ(lost ? 1u : 0u, log.Count(WarningEntry("Load()", warning))) << log.log;
            }
            EXPECT_EQ(refused == 2 ? 0 : 1, graphics.live.textures);
        }
        EXPECT_EQ(0, graphics.live.textures);
    }

    // The instance draws the material without its texture (stage 0 off).
    FakeGraphics graphics;
    graphics.refuse = {images[0]};
    IGeometry* geometry = nullptr;
    ASSERT_EQ(S_OK, ModelCal3D::Create("cal3d", cfg.c_str(), &graphics, &geometry));
    graphics.texture = "left over";
    ASSERT_EQ(S_OK, geometry->Render());
    ASSERT_EQ(1u, graphics.draws.size());  // the second material has no faces
    EXPECT_EQ("", graphics.draws[0].texture);
    geometry->Release();
}

// Exporters name a material's image by the path it had on their disk; the
// image shipped beside the description is found by its file name, also when
// the description is opened by a relative name from the working directory.
// A name found nowhere is asked for as it stands; when that fails too, the
// material is drawn untextured.
TEST(Cal3DLoad, MaterialImagesNamedByAPathTheModelLacksAreFoundBesideTheDescription) {
    const std::string dir = DataDir();
    zvtools::WriteCal3DFile(dir + "beside.tga", std::string("an image"));
    auto write = [&](const std::string& map) {
        Rig rig;
        rig.material.maps = {map};
        rig.Write("look_");
        const std::string cfg = "look.cfg";
        zvtools::WriteCal3DFile(dir + cfg, zvtools::WriteCal3DConfig({{"skeleton", dir + "look_rig.csf"},
                                                                       {"mesh", dir + "look_rig.cmf"},
                                                                       {"material", dir + "look_rig.crf"}}));
        return cfg;
    };
    const struct {
        const char* map;
        bool relative;  // the description opened by its name from its folder
        std::string asked;
    } cases[] = {
        {"/home/me/images/beside.tga", false, dir + "beside.tga"},
        {"C:\\Art\\Skins\\beside.tga", false, dir + "beside.tga"},
        {"/home/me/images/beside.tga", true, dir + "beside.tga"},
        {"/home/me/images/nowhere.tga", false, "/home/me/images/nowhere.tga"},
    };
    char previous[4096];
    ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
    for (const auto& c : cases) {
        FakeGraphics graphics;
        const std::string cfg = write(c.map);
        ASSERT_EQ(0, chdir(c.relative ? dir.c_str() : "/"));
        {
            Loaded model(c.relative ? cfg : dir + cfg, &graphics);
            EXPECT_EQ(S_OK, model.hr) << c.map;
        }
        EXPECT_EQ(std::vector<std::string>{c.asked}, graphics.requested) << c.map;
    }
    FakeGraphics refusing;
    refusing.failTextures = true;
    LogCapture log;
    Loaded model(dir + write("/home/me/images/nowhere.tga"), &refusing);
    EXPECT_EQ(S_OK, model.hr);
    EXPECT_EQ(nullptr, model.meta->vTextures.data[0]);
    EXPECT_TRUE(log.Has(WarningEntry(
        "Load()",
        dir + "look.cfg : Texture /home/me/images/nowhere.tga cannot be loaded; material 0 is drawn untextured")))
        << log.log;
    ASSERT_EQ(0, chdir(previous));
}

TEST(Cal3DLoad, LongChainsArePosedWithoutRecursion) {
    // 65,535 bones in one chain, one unit apart; the tip's vertex at the top.
    FakeGraphics graphics;
    Rig rig;
    const int n = 65535;
    rig.skeleton.bones.resize(n);
    for (int b = 0; b < n; ++b) {
        zvtools::Cal3DBone& bone = rig.skeleton.bones[b];
        bone.name.clear();
        bone.parent = b - 1;
        bone.children.clear();
        if (b + 1 < n) bone.children = {b + 1};
        Set3(bone.translation, 0, 0, b == 0 ? 0.0f : 1.0f);
        Set3(bone.translationBoneSpace, 0, 0, -(float)b);
    }
    rig.mesh.subMeshes[0].vertices[2].influences = {{n - 1, 1.0f}};
    rig.mesh.subMeshes[0].vertices[2].pos[2] = (float)n;
    rig.lines = {{"skeleton", "rig.csf"}, {"mesh", "rig.cmf"}, {"material", "rig.crf"}};
    std::string cfg = rig.Write("chain_");
    ModelCal3D* model = CreateModel(&graphics, cfg);
    ASSERT_NE(nullptr, model);
    EXPECT_EQ((u32)n, model->pMeta->vBoneOrder.count);
    EXPECT_GE(ModelCal3D::s_vAnimatedBones.count, (u32)n);
    ASSERT_EQ(S_OK, model->Update(0.1f));
    EXPECT_EQ(Vector3(0, (float)n, 0), Skinned(model, 2));  // the file's z is the engine's y
    model->Release();
}

TEST(Cal3DLoad, EveryTruncationOfEveryFileIsRefused) {
    FakeGraphics graphics;
    Rig rig;
    std::string cfg = rig.Write("cut_");
    std::string dir = DataDir();
    const std::pair<std::string, std::vector<uint8_t>> files[] = {
        {"cut_rig.csf", zvtools::WriteCal3DSkeleton(rig.skeleton)},
        {"cut_bend.caf", zvtools::WriteCal3DAnimation(rig.bend)},
        {"cut_rig.cmf", zvtools::WriteCal3DMesh(rig.mesh)},
        {"cut_rig.crf", zvtools::WriteCal3DMaterial(rig.material)},
    };
    auto start = std::chrono::steady_clock::now();
    for (const auto& file : files) {
        for (size_t size = 0; size < file.second.size(); ++size) {
            zvtools::WriteCal3DFile(dir + file.first,
                                    std::vector<uint8_t>(file.second.begin(), file.second.begin() + size));
            LogCapture log;
            Loaded model(cfg, &graphics);
            EXPECT_LT(model.hr, 0) << file.first << " cut at " << size;
            EXPECT_TRUE(log.Has("Error while loading the Model ")) << file.first << " cut at " << size;
            EXPECT_EQ(0, graphics.live.ibs);
        }
        zvtools::WriteCal3DFile(dir + file.first, file.second);
    }
    // The description cut anywhere either loads less or is refused cleanly.
    std::string text = zvtools::WriteCal3DConfig({{"path", dir + "cut_"}, {"skeleton", "rig.csf"},
                                                  {"mesh", "rig.cmf"}, {"material", "rig.crf"}});
    for (size_t size = 0; size <= text.size(); ++size) {
        std::string part = WriteCfg("cut_part.cfg", text.substr(0, size));
        LogCapture log;
        Loaded model(part, &graphics);
        // Only the final newline may go.
        if (size + 1 >= text.size()) {
            EXPECT_EQ(S_OK, model.hr) << size << log.log;
        } else {
            EXPECT_LT(model.hr, 0) << size << log.log;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 20.0);
    EXPECT_EQ(0, graphics.live.ibs);
    EXPECT_EQ(0, graphics.live.textures);
}

TEST(Cal3DLoad, LyingCountsAndCyclesAreRefusedFast) {
    FakeGraphics graphics;
    auto start = std::chrono::steady_clock::now();
    struct Case {
        const char* name;
        void (*change)(Rig*);
    };
    const Case cases[] = {
        {"bones", [](Rig* r) { r->skeleton.numBonesOverride = 0xFFFFFFF; }},
        {"children", [](Rig* r) { r->skeleton.bones[0].numChildrenOverride = 0x7FFFFFFF; }},
        {"cycle",
         [](Rig* r) {
             r->skeleton.bones.resize(3);
             r->skeleton.bones[1].parent = 2;
             r->skeleton.bones[2].parent = 1;
             r->skeleton.bones[1].children = {2};
             r->skeleton.bones[2].children = {1};
             r->skeleton.bones[0].children = {};
         }},
        {"parent", [](Rig* r) { r->skeleton.bones[1].parent = 5; }},
        {"tracks", [](Rig* r) { r->bend.numTracksOverride = 0x40000000; }},
        {"keys", [](Rig* r) { r->bend.tracks[0].numKeyFramesOverride = 0xFFFFFFFF; }},
        {"submeshes", [](Rig* r) { r->mesh.numSubMeshesOverride = 0x10000000; }},
        {"vertices", [](Rig* r) { r->mesh.subMeshes[0].numVerticesOverride = 0xFFFFFFFF; }},
        {"faces", [](Rig* r) { r->mesh.subMeshes[0].numFacesOverride = 0x55555556; }},
        {"influences", [](Rig* r) { r->mesh.subMeshes[0].vertices[0].numInfluencesOverride = 0x20000000; }},
        {"noframes", [](Rig* r) { r->bend.tracks[0].keyFrames.clear(); }},
    };
    for (const Case& c : cases) {
        Rig rig;
        c.change(&rig);
        std::string cfg = rig.Write(std::string("lie_") + c.name + "_");
        LogCapture log;
        Loaded model(cfg, &graphics);
        EXPECT_LT(model.hr, 0) << c.name << log.log;
        EXPECT_EQ(0, graphics.live.ibs) << c.name;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0);
}
