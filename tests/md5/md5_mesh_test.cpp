// The .md5mesh reader: round trips through our writer, what goes to the
// graphics manager (index buffer, ranges, textures, degenerate triangles),
// the bind-pose normals, and the refusals of malformed files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "modelmd5.h"

#include "md5_support.h"
#include "zvfuzz_samples.h"

namespace {

using md5test::FakeGraphics;
using md5test::LogCapture;

const char kScope[] = "ModelMD5Meta::LoadMesh()";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

unsigned LineOf(const std::string& text, const std::string& needle) {
    size_t at = text.find(needle);
    unsigned line = 1;
    for (size_t i = 0; i < at && i < text.size(); ++i)
        if (text[i] == '\n') ++line;
    return line;
}

// The whole line (with its line end) holding needle.
std::string LineWith(const std::string& text, const std::string& needle) {
    size_t at = text.find(needle);
    size_t begin = text.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    size_t end = text.find('\n', at);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin + 1);
}

TEST(MD5Mesh, ParseKeepsJointsMeshesVerticesTrianglesAndWeights) {
    zvtools::MD5MeshFile file = md5test::SampleMesh(true);
    std::string path = md5test::Write("round.md5mesh", zvtools::WriteMD5Mesh(file));
    ModelMD5Meta meta;
    Vector<ModelMD5Meta::SubMeshData> subs;
    LogCapture capture;
    ASSERT_EQ(meta.ParseMesh(path.c_str(), &subs), S_OK);
    EXPECT_EQ(capture.log, "");

    ASSERT_EQ(meta.vBones.count, 3u);
    ASSERT_EQ(meta.vBoneNames.count, 3u);
    // The name keeps the closing quote, as the animation reader compares it.
    EXPECT_STREQ(meta.vBoneNames[0].c_str(), "origin\"");
    EXPECT_STREQ(meta.vBoneNames[2].c_str(), "head\"");
    for (u32 j = 0; j < 3; ++j) {
        const ModelMD5Meta::Bone& bone = meta.vBones[j];
        EXPECT_EQ(bone.nParent, file.joints[j].parent);
        EXPECT_EQ(bone.vPos.x, file.joints[j].pos[0]);
        EXPECT_EQ(bone.vPos.y, file.joints[j].pos[1]);
        EXPECT_EQ(bone.vPos.z, file.joints[j].pos[2]);
        EXPECT_EQ(bone.qOrient.x, file.joints[j].orient[0]);
        EXPECT_EQ(bone.qOrient.y, file.joints[j].orient[1]);
        EXPECT_EQ(bone.qOrient.z, file.joints[j].orient[2]);
    }
    // w completes a unit quaternion, negative.
    EXPECT_FLOAT_EQ(meta.vBones[0].qOrient.w, -0.5f);
    EXPECT_FLOAT_EQ(meta.vBones[1].qOrient.w, -std::sqrt(1.0f - 0.01f - 0.04f - 0.09f));
    EXPECT_EQ(meta.vBones[2].qOrient.w, -1.0f);
    EXPECT_EQ(ModelMD5Meta::UnitQuaternionW(1.0f, 0.5f, 0.0f), 0.0f);
    ASSERT_EQ(meta.vRootBones.count, 1u);
    EXPECT_EQ(meta.vRootBones[0], 0);
    ASSERT_EQ(meta.vBones[0].vChildren.count, 1u);
    EXPECT_EQ(meta.vBones[0].vChildren[0], 1);
    ASSERT_EQ(meta.vBones[1].vChildren.count, 1u);
    EXPECT_EQ(meta.vBones[1].vChildren[0], 2);
    EXPECT_EQ(meta.vBones[2].vChildren.count, 0u);

    ASSERT_EQ(subs.count, 2u);
    for (u32 m = 0; m < 2; ++m) {
        const zvtools::MD5Mesh& want = file.meshes[m];
        const ModelMD5Meta::SubMeshData& got = subs[m];
        EXPECT_EQ(std::string(got.strShader.c_str()), want.shader);
        ASSERT_EQ(got.nNumVertices, want.verts.size());
        for (u32 k = 0; k < got.nNumVertices; ++k) {
            EXPECT_EQ(got.pVertices[k].fU, want.verts[k].u);
            EXPECT_EQ(got.pVertices[k].fV, want.verts[k].v);
            EXPECT_EQ(got.pVertices[k].nFirstInfluence, (u32)want.verts[k].firstWeight);
            EXPECT_EQ(got.pVertices[k].nNumInfluences, (u32)want.verts[k].numWeights);
        }
        // Every triangle a, b, c is kept as a, c, b: the mirror into the
        // engine's axes turns the sense of the corners round.
        ASSERT_EQ(got.nNumIndices, 3 * want.tris.size());
        const int corner[3] = {0, 2, 1};
        for (u32 k = 0; k < got.nNumIndices; ++k) EXPECT_EQ(got.pIndices[k], want.tris[k / 3].v[corner[k % 3]]);
        ASSERT_EQ(got.nNumInfluences, want.weights.size());
        for (u32 k = 0; k < got.nNumInfluences; ++k) {
            EXPECT_EQ(got.pInfluences[k].nBone, want.weights[k].joint);
            EXPECT_EQ(got.pInfluences[k].fWeight, want.weights[k].bias);
            EXPECT_EQ(got.pInfluences[k].vPos.x, want.weights[k].pos[0]);
            EXPECT_EQ(got.pInfluences[k].vPos.y, want.weights[k].pos[1]);
            EXPECT_EQ(got.pInfluences[k].vPos.z, want.weights[k].pos[2]);
        }
    }
}

TEST(MD5Mesh, LayoutVariantsReadTheSame) {
    zvtools::MD5MeshFile file = md5test::SampleMesh(true);
    zvtools::MD5WriteOptions crlf;
    crlf.crlf = true;
    zvtools::MD5WriteOptions bare;
    bare.comments = false;
    // Blank and brace lines anywhere, and short lines, are skipped.
    std::string padded = Replace(zvtools::WriteMD5Mesh(file), "\tvert 2", "\n\n{\n}\n a\n\tvert 2");
    padded = Replace(padded, "numMeshes", "\r\n{\nnumMeshes");
    // So are lines of white space alone, of any length, as exporters leave
    // them in CR LF files ("  \r\n" before a mesh's triangle count).
    std::string spaced = Replace(zvtools::WriteMD5Mesh(file, crlf), "\r\n\tnumtris", "\r\n  \r\n\tnumtris");
    spaced = Replace(spaced, "\t\"spine\"", "\t\t\t\t\r\n \t  \t \r\n\t\"spine\"");
    spaced = Replace(spaced, "numMeshes", "        \r\nnumMeshes");
    const std::string texts[] = {zvtools::WriteMD5Mesh(file, crlf), zvtools::WriteMD5Mesh(file, bare), padded, spaced};
    for (const std::string& text : texts) {
        std::string path = md5test::Write("variant.md5mesh", text);
        ModelMD5Meta meta;
        Vector<ModelMD5Meta::SubMeshData> subs;
        LogCapture capture;
        ASSERT_EQ(meta.ParseMesh(path.c_str(), &subs), S_OK) << capture.log;
        ASSERT_EQ(subs.count, 2u);
        EXPECT_STREQ(subs[0].strShader.c_str(), "models/body");
        EXPECT_STREQ(meta.vBoneNames[1].c_str(), "spine\"");
        EXPECT_EQ(subs[0].pVertices[3].nNumInfluences, 2u);
        EXPECT_EQ(subs[1].pIndices[1], 0);
        EXPECT_EQ(subs[1].pInfluences[2].vPos.y, 4.0f);
    }
}

TEST(MD5Mesh, LoadBuildsOneIndexBufferWithRebasedRanges) {
    std::string path = md5test::Write("two.md5mesh", zvtools::WriteMD5Mesh(md5test::SampleMesh(true)));
    FakeGraphics graphics;
    ModelMD5Meta* meta = new ModelMD5Meta;
    LogCapture capture;
    ASSERT_EQ(meta->LoadMesh(path.c_str(), &graphics), S_OK) << capture.log;

    ASSERT_EQ(graphics.ibs.size(), 1u);
    EXPECT_FALSE(graphics.ibDynamic);
    const std::vector<u16> expected = {0, 2, 1, 0, 3, 2, 6, 4, 5};
    EXPECT_EQ(graphics.ibs[0]->indices, expected);
    EXPECT_EQ(graphics.ibs[0]->copy, expected);
    EXPECT_EQ(graphics.ibs[0]->locks, 1);
    EXPECT_EQ(graphics.ibs[0]->unlocks, 1);
    EXPECT_EQ(graphics.corrections, 2);

    ASSERT_EQ(meta->vSubMeshes.count, 2u);
    EXPECT_EQ(meta->vSubMeshes[0].nFirstVertex, 0u);
    EXPECT_EQ(meta->vSubMeshes[0].nNumVertices, 4u);
    EXPECT_EQ(meta->vSubMeshes[0].nFirstIndex, 0u);
    EXPECT_EQ(meta->vSubMeshes[0].nNumIndices, 6u);
    EXPECT_EQ(meta->vSubMeshes[1].nFirstVertex, 4u);
    EXPECT_EQ(meta->vSubMeshes[1].nNumVertices, 3u);
    EXPECT_EQ(meta->vSubMeshes[1].nFirstIndex, 6u);
    EXPECT_EQ(meta->vSubMeshes[1].nNumIndices, 3u);

    ASSERT_EQ(meta->vVertices.count, 7u);
    ASSERT_EQ(meta->vInfluences.count, 8u);
    EXPECT_EQ(meta->vVertices[3].nFirstInfluence, 3u);
    EXPECT_EQ(meta->vVertices[3].nNumInfluences, 2u);
    for (u32 k = 0; k < 3; ++k) EXPECT_EQ(meta->vVertices[4 + k].nFirstInfluence, 5 + k);
    EXPECT_EQ(meta->vInfluences[7].vPos.y, 4.0f);
    EXPECT_EQ(meta->vInfluences[7].nBone, 2);

    EXPECT_TRUE(capture.Has("[ModelMD5Meta::LoadMesh()] Infos of the MD5 model : " + path + "\n"));
    EXPECT_TRUE(capture.Has("[ModelMD5Meta::LoadMesh()] 2 submeshes with 3 tris & 7 verts (8 influences)\n"));
    EXPECT_TRUE(capture.Has("[ModelMD5Meta::LoadMesh()] 3 bones with 1 root bone(s)\n"));

    // The Meta holds the index buffer and gives it back when released.
    EXPECT_EQ(graphics.ibs[0]->ref, 1u);
    EXPECT_EQ(meta->Release(), 0u);
    EXPECT_EQ(graphics.ibs[0]->ref, 0u);
}

// One root joint and a unit square of four vertices, one weight each.
zvtools::MD5MeshFile Square(const float orient[3], const float pos[3]) {
    zvtools::MD5MeshFile f;
    zvtools::MD5Joint root;
    root.name = "root";
    for (int c = 0; c < 3; ++c) {
        root.orient[c] = orient[c];
        root.pos[c] = pos[c];
    }
    f.joints.push_back(root);
    zvtools::MD5Mesh m;
    m.shader = "square";
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
        zvtools::MD5Vert v;
        v.firstWeight = i;
        v.numWeights = 1;
        m.verts.push_back(v);
        zvtools::MD5Weight w;
        w.pos[0] = corners[i][0];
        w.pos[1] = corners[i][1];
        m.weights.push_back(w);
    }
    m.tris.resize(2);
    m.tris[0].v[0] = 0; m.tris[0].v[1] = 1; m.tris[0].v[2] = 2;
    m.tris[1].v[0] = 0; m.tris[1].v[1] = 2; m.tris[1].v[2] = 3;
    f.meshes.push_back(m);
    return f;
}

// The normals are the engine's: a normal (x, y, z) of the file's axes is
// (y, z, -x).
void ExpectNormals(const ModelMD5Meta& meta, float x, float y, float z) {
    ASSERT_EQ(meta.vInfluences.count, 4u);
    for (u32 k = 0; k < 4; ++k) {
        EXPECT_NEAR(meta.vInfluences[k].vNormal.x, y, 1e-5) << k;
        EXPECT_NEAR(meta.vInfluences[k].vNormal.y, z, 1e-5) << k;
        EXPECT_NEAR(meta.vInfluences[k].vNormal.z, -x, 1e-5) << k;
    }
}

TEST(MD5Mesh, BindPoseNormalsFollowTheJoints) {
    // Joint at the origin, not turned: the square lies in z = 0 and its
    // triangles, counter-clockwise seen from +z, face -z (the files' faces
    // are clockwise seen from outside).
    const float none[3] = {0, 0, 0};
    const float moved[3] = {5, -2, 7};
    FakeGraphics graphics;
    {
        ModelMD5Meta meta;
        std::string path = md5test::Write("flat.md5mesh", zvtools::WriteMD5Mesh(Square(none, none)));
        ASSERT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK);
        ExpectNormals(meta, 0, 0, -1);
    }
    {
        ModelMD5Meta meta;
        std::string path = md5test::Write("moved.md5mesh", zvtools::WriteMD5Mesh(Square(none, moved)));
        ASSERT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK);
        ExpectNormals(meta, 0, 0, -1);
    }
    {
        // A quarter turn about x moves the square into the plane y = 0.
        const float quarterX[3] = {0.70710678f, 0, 0};
        ModelMD5Meta meta;
        std::string path = md5test::Write("turned.md5mesh", zvtools::WriteMD5Mesh(Square(quarterX, none)));
        ASSERT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK);
        ExpectNormals(meta, 0, -1, 0);
    }
}

TEST(MD5Mesh, TexturesAreTheFirstExistingCandidate) {
    Vector<String> saved = Paths;
    Paths.count = 0;
    const std::string dir = md5test::DataDir();
    Paths.Add(String(dir.c_str()));
    mkdir((dir + "models").c_str(), 0755);
    mkdir((dir + "abs").c_str(), 0755);
    std::remove((dir + "models/body_df.tga").c_str());  // made by the second half of this test
    md5test::Write("models/body_d.tga", "d");
    md5test::Write("models/body.tga", "plain");
    md5test::Write("abs/skin.tga", "abs");
    zvtools::MD5MeshFile file = md5test::SampleMesh(true);
    zvtools::MD5Mesh third = file.meshes[1];
    third.shader = dir + "abs/skin";
    file.meshes.push_back(third);
    std::string path = md5test::Write("textured.md5mesh", zvtools::WriteMD5Mesh(file));

    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    ASSERT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK);
    const std::vector<std::string> requested = {"models/body_d.tga", dir + "abs/skin.tga"};
    EXPECT_EQ(graphics.requested, requested);
    ASSERT_EQ(meta.vTextures.count, 3u);
    EXPECT_NE(meta.vTextures[0], nullptr);
    EXPECT_EQ(meta.vTextures[1], nullptr);
    EXPECT_NE(meta.vTextures[2], nullptr);
    EXPECT_EQ(capture.Count("Can't load the diffuse texture"), 1u);
    EXPECT_TRUE(capture.Has("\n[ModelMD5Meta::LoadMesh()] Warning : \"Can't load the diffuse texture of the shader "
                            "\"models/eyes\" for the mesh 1\"\nAt "))
        << capture.log;

    // "_df" comes before "_d"; a texture the manager refuses also warns.
    md5test::Write("models/body_df.tga", "df");
    FakeGraphics refusing;
    refusing.failTextures = true;
    ModelMD5Meta other;
    LogCapture second;
    ASSERT_EQ(other.LoadMesh(path.c_str(), &refusing), S_OK);
    EXPECT_EQ(refusing.requested[0], "models/body_df.tga");
    EXPECT_EQ(second.Count("Can't load the diffuse texture"), 3u);
    std::remove((dir + "models/body_df.tga").c_str());
    Paths = saved;
}

// Exporters' shaders, one mesh each: names with spaces, the image file
// itself (bare, in folders, by a Windows path) beside the mesh, whose folder
// is not on the search path, and no shader line; the _df/_d/.tga names first
// (so textures/skin takes skin_d.tga, the _d image of its file name, before
// textures/skin.jpg).
TEST(MD5Mesh, ExportersShadersFindTheirImages) {
    Vector<String> saved = Paths;
    Paths.count = 0;
    const std::string dir = md5test::DataDir(), near = dir + "near/";
    for (const char* folder : {"lib", "lib/textures", "lib/sub", "near"}) mkdir((dir + folder).c_str(), 0755);
    Paths.Add(String((dir + "lib/").c_str()));
    for (const char* name : {"near/crate.tga", "near/bark.png", "near/Torso.png", "near/02 - Default.jpg", "near/body.png",
                             "near/wood.png", "lib/wood.png", "lib/body_d.tga", "lib/textures/skin.jpg", "lib/_d.tga",
                             "lib/skin_d.tga"})
        md5test::Write(name, "image");
    const std::pair<const char*, std::string> cases[] = {
        {"crate.tga", near + "crate.tga"}, {"D:\\art\\tex\\bark.png", near + "bark.png"}, {"Torso", near + "Torso.png"},
        {"02 - Default", near + "02 - Default.jpg"}, {"body", "body_d.tga"}, {"textures/skin", "skin_d.tga"},
        {"wood.png", near + "wood.png"}, {"sub", ""}, {"tex/", ""}, {"na\"me", ""}, {"ab cd", ""},
        {"skin_d.tga", "skin_d.tga"}, {"", ""}, {"", ""}};
    zvtools::MD5MeshFile file = md5test::SampleMesh(true);
    file.meshes.assign(std::size(cases), file.meshes[1]);
    std::vector<std::string> found;
    for (size_t m = 0; m < std::size(cases); ++m) {
        file.meshes[m].shader = cases[m].first;
        if (!cases[m].second.empty()) found.push_back(cases[m].second);
    }
    file.meshes.back().shaderLine = false;
    // Without a closing quote: the rest of the line, trailing white space removed.
    std::string text = Replace(zvtools::WriteMD5Mesh(file), "\"ab cd\"", "\"ab cd");
    text = Replace(text, "\"skin_d.tga\"", "\"skin_d.tga \t ");
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    ASSERT_EQ(meta.LoadMesh(md5test::Write("near/exported.md5mesh", text).c_str(), &graphics), S_OK) << capture.log;
    EXPECT_EQ(graphics.requested, found);
    EXPECT_EQ(meta.vSubMeshes[13].nNumVertices, 3u);
    EXPECT_EQ(capture.Count("Can't load the diffuse texture"), 4u) << capture.log;
    for (const char* name : {"sub\" for the mesh 7", "tex/\" for the mesh 8", "na\"me\" for the mesh 9",
                             "ab cd\" for the mesh 10"})
        EXPECT_TRUE(capture.Has(std::string("Can't load the diffuse texture of the shader \"") + name)) << name;
    // shader "" and no shader line: nothing is looked for, and the notice
    // says so.
    for (const char* mesh : {"12", "13"})
        EXPECT_TRUE(capture.Has(std::string("[ModelMD5Meta::LoadMesh()] Warning : \"The mesh ") + mesh +
                                " names no shader: it has no texture\"\nAt "))
            << mesh;
    Paths = saved;
}

// The order in which a shader's image is looked for, one mesh per case,
// each with the files that exist beside the mesh (near/, not on the search
// path) and on the search path (lib/): first the shader's name with
// "_df.tga", "_d.tga", ".tga" on the search path; then its file name alone
// (split at '/' as at '\\') with "_df", then "_d", each with ".tga", ".png",
// ".jpg"; then the name as it stands before its file name alone, each as it
// is, then with ".tga", ".png", ".jpg".  After the first three, each name is
// looked for beside the mesh before the search path.
TEST(MD5Mesh, TheImageLookupOrder) {
    struct Case {
        const char* shader;
        std::vector<const char*> files;
        const char* found;  // "near/..." is handed over as a full path; "" none
    };
    const Case cases[] = {
        {"stone", {"lib/stone_d.tga", "near/stone"}, "stone_d.tga"},
        {"moss", {"near/moss.png", "lib/moss.png"}, "near/moss.png"},
        {"pick", {"near/pick", "near/pick.tga"}, "near/pick"},
        {"tile", {"near/tile.jpg", "near/tile.png", "near/tile.tga"}, "near/tile.tga"},
        {"rock", {"near/rock.jpg", "near/rock.png"}, "near/rock.png"},
        {"maps/wall", {"near/wall.tga", "near/maps/wall.jpg"}, "near/maps/wall.jpg"},
        {"textures/leaf", {"lib/leaf.jpg"}, "leaf.jpg"},
        {"C:\\art\\bark", {"near/bark.png"}, "near/bark.png"},
        {"ghost", {}, ""},
        {"models/monsters/imp/imp", {"near/imp_d.jpg"}, "near/imp_d.jpg"},
        {"models/ogre", {"near/ogre_d.tga", "near/ogre_df.jpg"}, "near/ogre_df.jpg"},
        {"models/troll", {"near/troll_d.jpg", "near/troll_d.png"}, "near/troll_d.png"},
        {"models/elf", {"lib/elf_d.tga", "near/elf_d.tga"}, "near/elf_d.tga"},
        {"models/orc", {"near/orc_d.jpg", "lib/orc_d.png"}, "orc_d.png"},
        {"models/gnome", {"near/gnome_d.tga", "lib/models/gnome.tga"}, "models/gnome.tga"},
        {"models/wolf", {"near/wolf.png", "near/wolf_d.jpg"}, "near/wolf_d.jpg"},
        {"art\\maps\\fern", {"near/fern_df.png"}, "near/fern_df.png"},
        {"boar", {"lib/boar_d.jpg"}, "boar_d.jpg"},
    };
    Vector<String> saved = Paths;
    Paths.count = 0;
    const std::string dir = md5test::DataDir() + "order/";
    for (const char* folder : {"", "near", "near/maps", "lib", "lib/models"}) mkdir((dir + folder).c_str(), 0755);
    Paths.Add(String((dir + "lib/").c_str()));
    zvtools::MD5MeshFile file = md5test::SampleMesh(true);
    file.meshes.assign(std::size(cases), file.meshes[1]);
    std::vector<std::string> found;
    for (size_t m = 0; m < std::size(cases); ++m) {
        for (const char* name : cases[m].files) md5test::Write(std::string("order/") + name, "image");
        file.meshes[m].shader = cases[m].shader;
        const std::string image = cases[m].found;
        if (image.compare(0, 5, "near/") == 0) found.push_back(dir + image);
        else if (!image.empty()) found.push_back(image);
    }
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    ASSERT_EQ(meta.LoadMesh(md5test::Write("order/near/order.md5mesh", zvtools::WriteMD5Mesh(file)).c_str(), &graphics),
              S_OK);
    EXPECT_EQ(graphics.requested, found);
    EXPECT_EQ(capture.Count("Can't load the diffuse texture"), 1u) << capture.log;
    Paths = saved;
}

// A mesh opened by a relative name that the search path does not hold is
// read from the working directory: the images beside it are found there and
// handed over by their full paths.
TEST(MD5Mesh, AMeshReadFromTheWorkingDirectoryFindsTheImagesBesideIt) {
    Vector<String> saved = Paths;
    Paths.count = 0;
    const std::string dir = md5test::DataDir() + "cwd/";
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "sub").c_str(), 0755);
    zvtools::MD5MeshFile file = md5test::SampleMesh();
    file.meshes[0].shader = "grass";
    md5test::Write("cwd/field.md5mesh", zvtools::WriteMD5Mesh(file));
    md5test::Write("cwd/grass.png", "image");
    file.meshes[0].shader = "moss";
    md5test::Write("cwd/sub/field.md5mesh", zvtools::WriteMD5Mesh(file));
    md5test::Write("cwd/sub/moss.tga", "image");
    char here[4096], there[4096];
    ASSERT_NE(getcwd(here, sizeof(here)), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    ASSERT_NE(getcwd(there, sizeof(there)), nullptr);

    FakeGraphics graphics;
    ModelMD5Meta bare, inFolder;
    EXPECT_EQ(bare.LoadMesh("field.md5mesh", &graphics), S_OK);
    EXPECT_EQ(inFolder.LoadMesh("sub/field.md5mesh", &graphics), S_OK);
    ASSERT_EQ(chdir(here), 0);
    const std::vector<std::string> requested = {std::string(there) + "/grass.png",
                                                std::string(there) + "/sub/moss.tga"};
    EXPECT_EQ(graphics.requested, requested);
    Paths = saved;
}

TEST(MD5Mesh, DegenerateTrianglesAreDropped) {
    zvtools::MD5MeshFile file = md5test::SampleMesh(true);
    file.meshes[0].tris[0].v[1] = 2;  // 0 2 2
    std::string path = md5test::Write("degenerate.md5mesh", zvtools::WriteMD5Mesh(file));
    FakeGraphics graphics;
    ModelMD5Meta meta;
    ASSERT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK);
    const std::vector<u16> expected = {0, 3, 2, 6, 4, 5};
    EXPECT_EQ(graphics.ibs[0]->indices, expected);
    EXPECT_EQ(meta.vSubMeshes[1].nFirstIndex, 3u);

    // A refused correction leaves that submesh and the following ones as read.
    FakeGraphics refusing;
    refusing.failCorrect = true;
    ModelMD5Meta asRead;
    ASSERT_EQ(asRead.LoadMesh(path.c_str(), &refusing), S_OK);
    EXPECT_EQ(refusing.corrections, 1);
    EXPECT_EQ(refusing.ibs[0]->indices.size(), 9u);
}

TEST(MD5Mesh, AllTrianglesDegenerateFailsCleanly) {
    zvtools::MD5MeshFile file = md5test::SampleMesh(true);
    for (zvtools::MD5Mesh& m : file.meshes)
        for (zvtools::MD5Tri& t : m.tris) t.v[2] = t.v[1];
    std::string path = md5test::Write("flatline.md5mesh", zvtools::WriteMD5Mesh(file));
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), E_FAIL);
    EXPECT_TRUE(capture.Has("Msg : 'No triangle left once the degenerate ones are removed'"));
    EXPECT_TRUE(capture.Has("Msg : 'Error while loading " + path + "'"));
    EXPECT_TRUE(graphics.ibs.empty());
    EXPECT_EQ(meta.pIB, nullptr);
}

TEST(MD5Mesh, IndexBufferFailuresEndTheLoad) {
    std::string path = md5test::Write("ibfail.md5mesh", zvtools::WriteMD5Mesh(md5test::SampleMesh()));
    {
        FakeGraphics graphics;
        graphics.failCreateIB = true;
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), E_FAIL);
        EXPECT_TRUE(capture.Has("Called function return E_FAIL (0x80004005), Msg : 'Error while loading " + path +
                                "'"))
            << capture.log;
        EXPECT_EQ(meta.vVertices.count, 0u);
    }
    {
        FakeGraphics graphics;
        graphics.failLock = true;
        ModelMD5Meta* meta = new ModelMD5Meta;
        LogCapture capture;
        EXPECT_EQ(meta->LoadMesh(path.c_str(), &graphics), E_FAIL);
        EXPECT_TRUE(capture.Has("Msg : 'Error while loading " + path + "'"));
        meta->Release();
        EXPECT_EQ(graphics.ibs[0]->ref, 0u);  // the partly built buffer is still given back
    }
    ModelMD5Meta meta;
    LogCapture capture;
    EXPECT_EQ(meta.LoadMesh(path.c_str(), nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(capture.Has("Msg : 'Invalid Call/Param'"));
}

TEST(MD5Mesh, MoreThan65535VerticesWarnAboutTheIndexBuffer) {
    zvtools::MD5MeshFile file;
    zvtools::MD5Joint root;
    root.name = "root";
    file.joints.push_back(root);
    for (int m = 0; m < 2; ++m) {
        zvtools::MD5Mesh mesh;
        mesh.shader = "big";
        mesh.verts.resize(35000);
        mesh.weights.resize(35000);
        for (int k = 0; k < 35000; ++k) {
            mesh.verts[k].firstWeight = k;
            mesh.verts[k].numWeights = 1;
            mesh.weights[k].pos[0] = (float)k;
            mesh.weights[k].pos[1] = (float)(k % 7);
        }
        mesh.tris.resize(1);
        mesh.tris[0].v[0] = 0; mesh.tris[0].v[1] = 1; mesh.tris[0].v[2] = 34999;
        file.meshes.push_back(mesh);
    }
    std::string path = md5test::Write("big.md5mesh", zvtools::WriteMD5Mesh(file));
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    ASSERT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK);
    EXPECT_TRUE(capture.Has("Warning : \"IB is 16bits and the VB is bigger => IB is corrupted since concatenation "
                            "(or before)\"\n"));
    EXPECT_EQ(meta.vVertices.count, 70000u);
    // The second submesh's indices are shifted in 16 bits: 34999 + 35000
    // wraps (the triangle is kept as 0, 34999, 1).
    EXPECT_EQ(graphics.ibs[0]->indices[3], 35000);
    EXPECT_EQ(graphics.ibs[0]->indices[4], (u16)(34999 + 35000));
}

struct BadMesh {
    const char* name;
    const char* from;
    const char* to;
    const char* text;  // the syntax error
    bool inMesh;       // followed by "Error while reading Meshes"
    const char* at = nullptr;  // the line of the entry, when it is not the changed one
};

class MD5MeshSyntax : public testing::TestWithParam<BadMesh> {};

TEST_P(MD5MeshSyntax, FailsWithItsEntry) {
    const BadMesh& bad = GetParam();
    std::string text = Replace(zvtools::WriteMD5Mesh(md5test::SampleMesh()), bad.from, bad.to);
    std::string path = md5test::Write(std::string(bad.name) + ".md5mesh", text);
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), E_FAIL);
    const char* at = bad.at ? bad.at : bad.to;
    std::string entry = md5test::SyntaxEntry(kScope, LineWith(text, at), bad.text);
    ASSERT_TRUE(capture.Has(entry)) << capture.log;
    std::string rest = capture.log.substr(capture.log.find(entry) + entry.size() + 8);
    const std::string position = md5test::Position(path, LineOf(text, at));
    EXPECT_EQ(rest.substr(0, position.size()), position);
    EXPECT_EQ(capture.Has("Msg : 'Error while reading Meshes'"), bad.inMesh);
    EXPECT_EQ(capture.Has("Msg : 'Error while loading " + path + "'"), bad.inMesh);
    EXPECT_TRUE(graphics.ibs.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Entries, MD5MeshSyntax,
    testing::Values(
        BadMesh{"magic", "MD5Version 10", "MD5 10", "Cannot find Magic Token \"MD5Version\" !!!", false},
        BadMesh{"nojoints", "numJoints 3", "numJoints 0", "No bone in the skeleton", false},
        BadMesh{"negjoints", "numJoints 3", "numJoints -3", "No bone in the skeleton", false},
        BadMesh{"hugejoints", "numJoints 3", "numJoints 400000000", "Count too big for the size of the file", false},
        BadMesh{"nomeshes", "numMeshes 1", "numMeshes 0", "No mesh in the model", false},
        BadMesh{"hugemeshes", "numMeshes 1", "numMeshes 2147483647", "Count too big for the size of the file",
                false},
        BadMesh{"joints", "joints {", "joint {", "Cannot find Token \"joints\" !!!", false},
        BadMesh{"parent", "\"spine\"\t0 ", "\"spine\"\t3 ", "Bad parent index", false},
        BadMesh{"selfparent", "\"spine\"\t0 ", "\"spine\"\t1 ", "Bad parent index", false},
        BadMesh{"negparent", "\"spine\"\t0 ", "\"spine\"\t-2 ", "Bad parent index", false},
        BadMesh{"mesh", "mesh {", "mush {", "Cannot find Token \"mesh\" !!!", true},
        BadMesh{"shader", "\tshader \"models/body\"", "\tshade \"models/body\"",
                "Cannot find Token \"shader\" !!!", true},
        BadMesh{"noshadercount", "\tshader \"models/body\"", "\tnumvertices 4", "Cannot find Token \"shader\" !!!",
                true},
        // No vertex: the first vertex line is then read for the triangle count.
        BadMesh{"noverts", "numverts 4", "numverts 0", "Assertion failed", true, "\tvert 0 "},
        BadMesh{"unreadableverts", "numverts 4", "numverts four", "Assertion failed", true},
        BadMesh{"hugeverts", "numverts 4", "numverts 1000000000", "Count too big for the size of the file", true},
        BadMesh{"vertid", "vert 2 ( 0.5 0.75 )", "vert 5 ( 0.5 0.75 )", "Bad vertex id", true},
        BadMesh{"negweightstart", "vert 1 ( 0.25 0.875 ) 1 1", "vert 1 ( 0.25 0.875 ) -1 1",
                "Bad weight range of the vertex", true},
        BadMesh{"negweightcount", "vert 1 ( 0.25 0.875 ) 1 1", "vert 1 ( 0.25 0.875 ) 1 -1",
                "Bad weight range of the vertex", true},
        BadMesh{"notris", "numtris 2", "numtris 0", "Assertion failed", true},
        BadMesh{"negtris", "numtris 2", "numtris -1", "Assertion failed", true},
        BadMesh{"triid", "tri 1 0 2 3", "tri 0 0 2 3", "Bad triangle id", true},
        // Lines of white space alone are skipped, and counted.
        BadMesh{"blanksbefore", "tri 1 0 2 3", "  \r\n\t\t\t\t\r\n \t \t \r\n\ttri 0 0 2 3", "Bad triangle id", true,
                "\ttri 0 0 2 3"},
        BadMesh{"triindex", "tri 1 0 2 3", "tri 1 0 2 4", "Triangle index out of the vertices of the mesh", true},
        BadMesh{"negtriindex", "tri 1 0 2 3", "tri 1 0 -1 3", "Triangle index out of the vertices of the mesh",
                true},
        BadMesh{"bigtriindex", "tri 1 0 2 3", "tri 1 0 65536 3", "Triangle index out of the vertices of the mesh",
                true},
        BadMesh{"noweights", "numweights 5", "numweights 0", "Assertion failed", true},
        BadMesh{"unreadableweights", "numweights 5", "numweights", "Assertion failed", true},
        BadMesh{"weightid", "weight 3 0 0.75", "weight 2 0 0.75", "Bad weight id", true},
        BadMesh{"weightjoint", "weight 1 1 ", "weight 1 3 ", "Assertion failed", true},
        BadMesh{"negweightjoint", "weight 1 1 ", "weight 1 -1 ", "Assertion failed", true}),
    [](const testing::TestParamInfo<BadMesh>& info) { return std::string(info.param.name); });

TEST(MD5Mesh, WeightRangesMustLieInsideTheWeights) {
    zvtools::MD5MeshFile file = md5test::SampleMesh();
    file.meshes[0].verts[3].numWeights = 3;  // weights 3, 4, 5 of 5
    std::string text = zvtools::WriteMD5Mesh(file);
    std::string path = md5test::Write("weightrange.md5mesh", text);
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), E_FAIL);
    EXPECT_TRUE(capture.Has("; Error : The weights of the vertex 3 are out of the weights of the mesh\"")) << capture.log;
    EXPECT_TRUE(capture.Has(md5test::Position(path, LineOf(text, "weight 4 "))));

    // A start near 2^31 with a large count does not wrap around.
    file.meshes[0].verts[3].firstWeight = 2147483647;
    file.meshes[0].verts[3].numWeights = 2147483647;
    path = md5test::Write("weightwrap.md5mesh", zvtools::WriteMD5Mesh(file));
    ModelMD5Meta wrapped;
    EXPECT_EQ(wrapped.LoadMesh(path.c_str(), &graphics), E_FAIL);
}

TEST(MD5Mesh, BrokenHierarchiesAreRefused) {
    struct Case {
        int parents[3];
        const char* message;
    };
    const Case cases[] = {{{2, 0, 1}, "No root bone in the skeleton"},
                          {{-1, 2, 1}, "Some bones cannot be reached from a root bone (cycle of parents)"}};
    for (const Case& c : cases) {
        zvtools::MD5MeshFile file = md5test::SampleMesh();
        for (int j = 0; j < 3; ++j) file.joints[j].parent = c.parents[j];
        std::string path = md5test::Write("hierarchy.md5mesh", zvtools::WriteMD5Mesh(file));
        FakeGraphics graphics;
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), E_FAIL);
        EXPECT_TRUE(capture.Has(std::string("Called function return E_FAIL (0x80004005), Msg : '") + c.message + "'"))
            << capture.log;
    }

}

// Joint chains of any depth load, and their pose is walked to the last
// joint: each joint one unit above its parent, the last at the chain's length.
TEST(MD5Mesh, DeepJointChainsLoadAndArePosed) {
    for (int depth : {1025, 30000}) {
        zvtools::MD5MeshFile chain = md5test::SampleMesh();
        chain.joints.clear();
        for (int j = 0; j < depth; ++j) {
            zvtools::MD5Joint joint;
            joint.name = "j" + std::to_string(j);
            joint.parent = j - 1;
            joint.pos[2] = (float)j;
            chain.joints.push_back(joint);
        }
        chain.meshes[0].weights[2].joint = depth - 1;
        std::string path = md5test::Write("deep.md5mesh", zvtools::WriteMD5Mesh(chain));
        FakeGraphics graphics;
        ModelMD5Meta meta;
        LogCapture capture;
        ASSERT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK) << capture.log;
        EXPECT_FALSE(capture.Has("too deep"));
        ASSERT_EQ(meta.vPoseOrder.count, (u32)depth);
        EXPECT_EQ(meta.vPoseOrder[(u32)depth - 1], (u32)depth - 1);
        EXPECT_EQ(meta.vBones[(u32)depth - 1].vLocalPos.z, 1.0f);

        // Posed from the joints' values relative to their parents.
        std::vector<ModelMD5::AnimatedBone> poses((size_t)depth);
        for (u32 j = 0; j < (u32)depth; ++j) {
            poses[j].vPos = meta.vBones[j].vLocalPos;
            poses[j].qOrient = meta.vBones[j].qLocalOrient;
        }
        ModelMD5::UpdateBoneHierarchy(poses.data(), &meta.vBones, &meta.vPoseOrder, true);
        EXPECT_EQ(poses[(size_t)depth - 1].vPos.z, (float)(depth - 1));
    }
}

TEST(MD5Mesh, PrematureEndsNameWhatWasBeingRead) {
    const std::string full = zvtools::WriteMD5Mesh(md5test::SampleMesh());
    struct Cut {
        const char* before;
        const char* what;
        bool inMesh;
    };
    const Cut cuts[] = {{"\t\"spine\"", "bone", false},
                        {"mesh {", "mesh", true},
                        {"\tvert 2", "Error while reading a Vertex.", true},
                        {"\ttri 1", "Triangle", true},
                        {"\tweight 3", "weight", true}};
    for (const Cut& cut : cuts) {
        size_t at = full.find(cut.before);
        ASSERT_NE(at, std::string::npos) << cut.before;
        std::string path = md5test::Write("cut.md5mesh", full.substr(0, at));
        FakeGraphics graphics;
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), E_FAIL) << cut.what;
        EXPECT_TRUE(capture.Has("; Error while reading " + std::string(cut.what) +
                                "\nUnexpected EndOfFile; The file is probably corrupted\"\nAt "))
            << capture.log;
        EXPECT_EQ(capture.Count("Msg : 'Error while loading " + path + "'"), cut.inMesh ? 2u : 1u) << cut.what;
        EXPECT_EQ(capture.Has("Msg : 'Error while reading Meshes'"), cut.inMesh);
    }
}

// What ParseMesh read, in one text: joints, shaders, vertices, triangles, weights.
std::string Parsed(const std::string& path) {
    ModelMD5Meta meta;
    Vector<ModelMD5Meta::SubMeshData> subs;
    LogCapture capture;
    if (meta.ParseMesh(path.c_str(), &subs) < 0) return "refused: " + capture.log;
    std::string out;
    for (u32 j = 0; j < meta.vBones.count; ++j)
        out += std::string(meta.vBoneNames[j].c_str()) + " " + std::to_string(meta.vBones[j].nParent) + " " +
               std::to_string(meta.vBones[j].vPos.z) + "\n";
    for (u32 m = 0; m < subs.count; ++m) {
        const ModelMD5Meta::SubMeshData& sub = subs[m];
        out += std::string(sub.strShader.c_str()) + ":";
        for (u32 k = 0; k < sub.nNumVertices; ++k)
            out += " v" + std::to_string(sub.pVertices[k].fU) + "," + std::to_string(sub.pVertices[k].nNumInfluences);
        for (u32 k = 0; k < sub.nNumIndices; ++k) out += " i" + std::to_string(sub.pIndices[k]);
        for (u32 k = 0; k < sub.nNumInfluences; ++k)
            out += " w" + std::to_string(sub.pInfluences[k].nBone) + "," + std::to_string(sub.pInfluences[k].vPos.x);
        out += "\n";
    }
    return out;
}

// Exporters indent the comment line before the shader with a tab, spaces or
// nothing, and may write several: every line whose first characters after
// white space are "//" is skipped there, and the mesh reads the same.
TEST(MD5Mesh, CommentLinesBeforeTheShaderAreSkipped) {
    zvtools::MD5MeshFile file = md5test::SampleMesh(true);
    file.meshes[1].comment = "eyes";
    const std::string reference = Parsed(md5test::Write("comment.md5mesh", zvtools::WriteMD5Mesh(file)));
    ASSERT_EQ(reference.find("refused"), std::string::npos) << reference;
    zvtools::MD5WriteOptions bare;
    bare.comments = false;
    EXPECT_EQ(Parsed(md5test::Write("nocomment.md5mesh", zvtools::WriteMD5Mesh(file, bare))), reference);

    for (const char* indent : {"\t", "    ", "", " \t ", "\t\t"}) {
        for (const char* comments : {"one", "one\ntwo", "one\n\ntwo\nthree"}) {
            for (bool crlf : {false, true}) {
                zvtools::MD5MeshFile variant = file;
                variant.meshes[0].comment = comments;
                variant.meshes[1].comment = comments;
                zvtools::MD5WriteOptions options;
                options.commentIndent = indent;
                options.crlf = crlf;
                const std::string path = md5test::Write("comments.md5mesh", zvtools::WriteMD5Mesh(variant, options));
                EXPECT_EQ(Parsed(path), reference)
                    << "indent \"" << indent << "\", comments \"" << comments << "\", crlf " << crlf;
            }
        }
    }

    // A line with something before its "//" is no comment: it is read as
    // the shader line, and refused.
    std::string text = Replace(zvtools::WriteMD5Mesh(file), "\t// meshes: body\n", "\tx // meshes: body\n");
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    EXPECT_EQ(meta.LoadMesh(md5test::Write("notcomment.md5mesh", text).c_str(), &graphics), E_FAIL);
    EXPECT_TRUE(capture.Has("strBuffer=\tx // meshes: body\n; Error : Cannot find Token \"shader\" !!!"))
        << capture.log;
    // Comment lines up to the end of the file: no shader line.
    text = zvtools::WriteMD5Mesh(file);
    text = text.substr(0, text.find("\tshader \"models/body\"")) + "  // the end\n//\n";
    ModelMD5Meta cut;
    capture.log.clear();
    EXPECT_EQ(cut.LoadMesh(md5test::Write("commentend.md5mesh", text).c_str(), &graphics), E_FAIL);
    EXPECT_TRUE(capture.Has("Error : Cannot find Token \"shader\" !!!")) << capture.log;
}

// A mesh whose vertex, triangle and weight counts are all 0 (a helper
// object) stays in the model as an empty range with one warning; the other
// meshes load as they do without it.
TEST(MD5Mesh, EmptyMeshesStayAsEmptyRanges) {
    mkdir((md5test::DataDir() + "models").c_str(), 0755);
    md5test::Write("models/helper.tga", "t");  // found, but an empty mesh asks for no texture
    Vector<String> saved = Paths;
    Paths.count = 0;
    Paths.Add(String(md5test::DataDir().c_str()));
    const zvtools::MD5MeshFile plain = md5test::SampleMesh(true);
    FakeGraphics plainGraphics;
    ModelMD5Meta without;
    ASSERT_EQ(without.LoadMesh(md5test::Write("plain.md5mesh", zvtools::WriteMD5Mesh(plain)).c_str(), &plainGraphics),
              S_OK);

    for (u32 at : {0u, 1u, 2u}) {
        zvtools::MD5MeshFile file = plain;
        zvtools::MD5Mesh helper;
        helper.shader = "models/helper";
        helper.comment = "helper";
        file.meshes.insert(file.meshes.begin() + at, helper);
        const std::string text = zvtools::WriteMD5Mesh(file);
        const std::string path = md5test::Write("helper.md5mesh", text);
        FakeGraphics graphics;
        ModelMD5Meta meta;
        LogCapture capture;
        ASSERT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK) << capture.log;
        ASSERT_EQ(meta.vSubMeshes.count, 3u);
        const DrawPrimitiveInfos& empty = meta.vSubMeshes[at];
        EXPECT_EQ(empty.nNumVertices, 0u);
        EXPECT_EQ(empty.nNumIndices, 0u);
        const u32 previousEnd =
            at == 0 ? 0u : meta.vSubMeshes[at - 1].nFirstVertex + meta.vSubMeshes[at - 1].nNumVertices;
        EXPECT_EQ(empty.nFirstVertex, previousEnd);
        EXPECT_EQ(meta.vTextures[at], nullptr);
        for (const std::string& requested : graphics.requested) EXPECT_EQ(requested.find("helper"), std::string::npos);
        // One warning (no error: the file is sound), naming the mesh, at its
        // numweights line.
        const std::string warning = "The mesh " + std::to_string(at) + " is empty";
        EXPECT_EQ(capture.Count(" is empty"), 1u) << capture.log;
        EXPECT_FALSE(capture.Has("models/helper\" for the mesh")) << capture.log;
        const std::string expected = warning + " (no vertex, triangle or weight): nothing of it is drawn\"\nAt ";
        EXPECT_TRUE(capture.Has("[" + std::string(kScope) + "] Warning : \"" + expected)) << capture.log;
        EXPECT_FALSE(capture.Has("Error")) << capture.log;
        EXPECT_TRUE(capture.Has(md5test::Position(path, LineOf(text, "\tnumweights 0\n")))) << capture.log;

        // Everything else as without the empty mesh.
        for (u32 m = 0, o = 0; m < 3; ++m) {
            if (m == at) continue;
            EXPECT_EQ(meta.vSubMeshes[m].nFirstVertex, without.vSubMeshes[o].nFirstVertex);
            EXPECT_EQ(meta.vSubMeshes[m].nNumVertices, without.vSubMeshes[o].nNumVertices);
            EXPECT_EQ(meta.vSubMeshes[m].nFirstIndex, without.vSubMeshes[o].nFirstIndex);
            EXPECT_EQ(meta.vSubMeshes[m].nNumIndices, without.vSubMeshes[o].nNumIndices);
            ++o;
        }
        EXPECT_EQ(graphics.ibs[0]->indices, plainGraphics.ibs[0]->indices);
        EXPECT_EQ(graphics.corrections, 2);
        ASSERT_EQ(meta.vVertices.count, without.vVertices.count);
        ASSERT_EQ(meta.vInfluences.count, without.vInfluences.count);
        for (u32 v = 0; v < meta.vVertices.count; ++v)
            EXPECT_EQ(meta.vVertices[v].nFirstInfluence, without.vVertices[v].nFirstInfluence);
        for (u32 w = 0; w < meta.vInfluences.count; ++w) {
            EXPECT_EQ(meta.vInfluences[w].vNormal.x, without.vInfluences[w].vNormal.x);
            EXPECT_EQ(meta.vInfluences[w].vNormal.z, without.vInfluences[w].vNormal.z);
        }
    }
    Paths = saved;
}

TEST(MD5Mesh, OnlyMeshesWithAllCountsZeroAreEmpty) {
    zvtools::MD5MeshFile allEmpty = md5test::SampleMesh(true);
    for (zvtools::MD5Mesh& m : allEmpty.meshes) m = zvtools::MD5Mesh();
    FakeGraphics graphics;
    {
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.LoadMesh(md5test::Write("allempty.md5mesh", zvtools::WriteMD5Mesh(allEmpty)).c_str(), &graphics),
                  E_FAIL);
        EXPECT_EQ(capture.Count(" is empty (no vertex, triangle or weight)"), 2u);
        EXPECT_TRUE(capture.Has("Msg : 'Error while loading "));
        EXPECT_TRUE(graphics.ibs.empty());
    }
    // The counts as they were, and where each refusal is logged.
    struct Case {
        const char* counts[3];
        const char* at;
    };
    const Case cases[] = {{{"0", "2", "5"}, "numtris"},     // triangles without vertices
                          {{"0", "0", "5"}, "numweights"},  // weights without anything else
                          {{"4", "2", "0"}, "numweights"},  // no weights
                          {{"4", "0", "0"}, "numtris"},     // vertices without triangles
                          {{"0", "2", "0"}, "numtris"}};
    for (const Case& c : cases) {
        std::string text = zvtools::WriteMD5Mesh(md5test::SampleMesh());
        if (std::string(c.counts[0]) == "0") {
            // no vertex lines, and none of the triangles' vertices exists
            text = Replace(text, "\tnumverts 4", "\tnumverts 0");
            for (int k = 0; k < 4; ++k) text = Replace(text, LineWith(text, "\tvert " + std::to_string(k)), "");
        }
        if (std::string(c.counts[1]) == "0") {
            text = Replace(text, "\tnumtris 2", "\tnumtris 0");
            for (int k = 0; k < 2; ++k) text = Replace(text, LineWith(text, "\ttri " + std::to_string(k)), "");
        }
        if (std::string(c.counts[2]) == "0") {
            text = Replace(text, "\tnumweights 5", "\tnumweights 0");
            for (int k = 0; k < 5; ++k) text = Replace(text, LineWith(text, "\tweight " + std::to_string(k)), "");
        }
        const std::string path = md5test::Write("counts.md5mesh", text);
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), E_FAIL) << c.counts[0] << c.counts[1] << c.counts[2];
        const std::string entry =
            md5test::SyntaxEntry(kScope, LineWith(text, std::string("\t") + c.at), "Assertion failed");
        EXPECT_TRUE(capture.Has(entry)) << capture.log;
        EXPECT_FALSE(capture.Has(" is empty")) << capture.log;
    }
}

TEST(MD5Mesh, Version11WarnsAndLoads) {
    zvtools::MD5MeshFile file = md5test::SampleMesh();
    file.version = 11;
    std::string path = md5test::Write("v11.md5mesh", zvtools::WriteMD5Mesh(file));
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK);
    EXPECT_TRUE(capture.Has(md5test::SyntaxEntry(kScope, "MD5Version 11\n", "MD5Version != 10; Try to load...")));
    EXPECT_TRUE(capture.Has(md5test::Position(path, 1)));
}

// Lines of any length read as short ones do: id's exporter writes its
// whole option list on the commandline line, exporters pad lines with
// white space.  Each variant of the sample loads with the log of the plain
// file (written under the same name).
TEST(MD5Mesh, LongLinesLoadAsShortOnes) {
    const std::string plain = zvtools::WriteMD5Mesh(md5test::SampleMesh(true));
    const std::string path = md5test::DataDir() + "longlines.md5mesh";
    auto load = [&](const std::string& text, std::string* log, std::vector<u16>* indices) {
        zvtools::WriteTextFile(path, text);
        FakeGraphics graphics;
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK) << capture.log.substr(0, 600);
        *log = capture.log;
        if (!graphics.ibs.empty()) *indices = graphics.ibs[0]->indices;
    };
    std::string plainLog;
    std::vector<u16> plainIndices;
    load(plain, &plainLog, &plainIndices);

    zvtools::MD5MeshFile longCommand = md5test::SampleMesh(true);
    longCommand.commandline = std::string(6000, 'c');
    const std::string variants[] = {
        zvtools::WriteMD5Mesh(longCommand),
        Replace(plain, "numJoints", std::string(3000, ' ') + "\nnumJoints"),
        Replace(plain, "\tvert 0 ", "\t" + std::string(2047, ' ') + "vert 0 "),
        Replace(plain, "\ttri 1 ", "\t" + std::string(5000, '\t') + "tri 1 "),
        Replace(plain, "\tweight 2 ", std::string(4000, '\t') + "\r\n\tweight 2 "),
        Replace(Replace(plain, "\n", std::string(2048, ' ') + "\r\n"), "joints", "joints" + std::string(2000, ' ')),
    };
    for (const std::string& text : variants) {
        std::string log;
        std::vector<u16> indices;
        load(text, &log, &indices);
        EXPECT_EQ(log, plainLog);
        EXPECT_EQ(indices, plainIndices);
    }
}

// Every physical line counts once, however long: an entry after a long
// line names the line of the file where the fault is.
TEST(MD5Mesh, EntriesAfterLongLinesNameTheirLine) {
    struct Case {
        std::string command;   // the commandline line's text
        const char* before;    // the long line is put before this text
        std::string longLine;  // with its line end
        const char* from;      // the fault: from becomes to
        const char* to;
        const char* text;
    };
    const std::string longCommand(6000, 'c');
    const Case cases[] = {
        {"zvtools", "numJoints", std::string(3000, ' ') + "\n", "numJoints 3", "numJoints 0", "No bone in the skeleton"},
        {longCommand, "numMeshes", "", "numMeshes 1", "numMeshes 0", "No mesh in the model"},
        {longCommand, "\tvert 0 ", std::string(2047, ' ') + "\n", "\tvert 1 ", "\tvert 7 ", "Bad vertex id"},
        {"zvtools", "\ttri 0 ", std::string(4094, '\t') + "\r\n", "\tweight 1 ", "\tweight 9 ", "Bad weight id"},
    };
    for (const Case& c : cases) {
        zvtools::MD5MeshFile file = md5test::SampleMesh();
        file.commandline = c.command;
        std::string text = zvtools::WriteMD5Mesh(file);
        text = Replace(Replace(text, c.before, c.longLine + c.before), c.from, c.to);
        const std::string path = md5test::Write("longbefore.md5mesh", text);
        FakeGraphics graphics;
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), E_FAIL);
        const std::string entry = md5test::SyntaxEntry(kScope, LineWith(text, c.to), c.text);
        ASSERT_TRUE(capture.Has(entry)) << capture.log.substr(0, 400);
        const std::string rest = capture.log.substr(capture.log.find(entry));
        EXPECT_NE(rest.find(md5test::Position(path, LineOf(text, c.to))), std::string::npos) << c.text;
    }
}

// A joint name or a shader keeps the limit of a word: 2047 characters (a
// joint name's closing quote included) load; one more is refused with an
// entry at its line that does not quote it.
TEST(MD5Mesh, NamesLongerThanAWordAreRefusedAtTheirLine) {
    struct Case {
        std::string joint;   // the second joint's name ("" keeps it)
        std::string shader;  // the first mesh's shader ("" keeps it)
        const char* what;    // the refused name's kind, null when the file loads
    };
    const std::string spaced = std::string(1500, 'a') + " " + std::string(1500, 'b');
    const Case cases[] = {
        {std::string(2046, 'j'), "", nullptr},
        {std::string(2047, 'j'), "", "joint"},
        {std::string(3000, 'j'), "", "joint"},
        {spaced, "", "joint"},
        {"", std::string(2047, 's'), nullptr},
        {"", std::string(2048, 's'), "shader"},
        {"", spaced, "shader"},
        {"", std::string(10000, 's'), "shader"},
    };
    for (const Case& c : cases) {
        zvtools::MD5MeshFile file = md5test::SampleMesh();
        if (!c.joint.empty()) file.joints[1].name = c.joint;
        if (!c.shader.empty()) file.meshes[0].shader = c.shader;
        const std::string text = zvtools::WriteMD5Mesh(file);
        const std::string path = md5test::Write("longname.md5mesh", text);
        FakeGraphics graphics;
        ModelMD5Meta meta;
        LogCapture capture;
        const HRESULT hr = meta.LoadMesh(path.c_str(), &graphics);
        if (!c.what) {
            EXPECT_EQ(hr, S_OK) << capture.log.substr(0, 400);
            if (!c.joint.empty()) {
                EXPECT_EQ(std::string(meta.vBoneNames[1].c_str()), c.joint + "\"");
            }
            continue;
        }
        EXPECT_EQ(hr, E_FAIL);
        const unsigned line = LineOf(text, c.joint.empty() ? c.shader.substr(0, 20) : c.joint.substr(0, 20));
        EXPECT_TRUE(capture.Has("[ModelMD5Meta::LoadMesh()] Warning : \"The " + std::string(c.what) + " name on line " +
                                std::to_string(line) + " of " + path +
                                " is longer than the reader takes (2047 characters at most)\"\nAt "))
            << capture.log.substr(0, 400);
        EXPECT_TRUE(capture.Has(md5test::Position(path, line)));
        EXPECT_TRUE(capture.Has("Msg : 'Error while loading " + path + "'"));
        EXPECT_EQ(capture.Has("Msg : 'Error while reading Meshes'"), c.joint.empty());
        EXPECT_FALSE(capture.Has("strBuffer=")) << capture.log.substr(0, 400);
        EXPECT_TRUE(graphics.ibs.empty());
    }
}

TEST(MD5Mesh, MissingFileIsReported) {
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    std::string path = md5test::DataDir() + "nowhere.md5mesh";
    EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), ZVE_SUBFUNCTION);
    EXPECT_TRUE(capture.Has("Msg : '" + path + " cannot be opened'"));
}

// Every prefix of a sound two-mesh file, and single-byte corruptions of it,
// load or are refused without a crash; what loads is consistent.
TEST(MD5Mesh, TruncatedAndCorruptedFilesNeverBreakTheReader) {
    const std::string full = zvtools::WriteMD5Mesh(md5test::SampleMesh(true));
    LogCapture capture;
    const char replacements[] = {'9', '-', ' ', '\n', 'x', '\0'};
    std::string path = md5test::DataDir() + "fuzz.md5mesh";
    auto check = [&](const std::string& text) {
        zvtools::WriteTextFile(path, text);
        FakeGraphics graphics;
        ModelMD5Meta meta;
        if (meta.LoadMesh(path.c_str(), &graphics) < 0) return;
        ASSERT_EQ(graphics.ibs.size(), 1u);
        for (u16 index : graphics.ibs[0]->indices) ASSERT_LT(index, meta.vVertices.count);
        for (u32 v = 0; v < meta.vVertices.count; ++v)
            ASSERT_LE((u64)meta.vVertices[v].nFirstInfluence + meta.vVertices[v].nNumInfluences,
                      meta.vInfluences.count);
        for (u32 w = 0; w < meta.vInfluences.count; ++w) ASSERT_LT((u32)meta.vInfluences[w].nBone, meta.vBones.count);
        capture.log.clear();
    };
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        check(full.substr(0, cut));
        if (cut == full.size()) break;
        for (char c : replacements) {
            std::string changed = full;
            changed[cut] = c;
            check(changed);
        }
    }
}

}  // namespace

namespace {

// The fuzz targets start from sound files of every variant: each loads.
TEST(MD5Mesh, FuzzSeedFilesLoad) {
    Vector<String> boneNames;  // as the mesh reader keeps them, closing quote included
    for (const std::string& name : zvfuzz::MD5JointNames()) boneNames.Add(String((name + "\"").c_str()));
    int meshes = 0, anims = 0;
    for (const zvfuzz::SeedFile& seed : zvfuzz::MD5Seeds()) {
        const std::string path = md5test::Write("seed_" + seed.name, seed.text);
        LogCapture capture;
        if (seed.target == "md5mesh") {
            FakeGraphics graphics;
            ModelMD5Meta meta;
            EXPECT_EQ(meta.LoadMesh(path.c_str(), &graphics), S_OK) << seed.name << capture.log;
            ++meshes;
        } else if (seed.target == "md5anim") {
            ModelMD5Meta::Animation animation;
            EXPECT_EQ(ModelMD5Meta::LoadAnimation(path.c_str(), &animation, &boneNames), S_OK)
                << seed.name << capture.log;
            ++anims;
        }
    }
    EXPECT_GE(meshes, 5);
    EXPECT_GE(anims, 3);
}

}  // namespace
