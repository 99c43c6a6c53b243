// Chunk database, meshes, materials and keyframer, through files written by
// our own .3ds writer.
#include <cstring>

#include "toolkit3ds_support.h"

using namespace zvtools;

namespace {

Mesh3ds Quad(const std::string& name, float z) {
    Mesh3ds m;
    m.name = name;
    m.vertices = {0, 0, z, 1, 0, z, 1, 1, z, 0, 1, z};
    m.texCoords = {0, 0, 1, 0, 1, 1, 0, 1};
    m.faces = {0, 1, 2, 7, 0, 2, 3, 7};
    m.smoothing = {1, 1};
    return m;
}

Scene3ds TwoMeshScene() {
    Scene3ds s;
    Material3ds red;
    red.name = "Red";
    red.ambient[0] = 51;
    red.diffuse[0] = 255;
    red.diffuse[1] = 0;
    red.diffuse[2] = 0;
    red.shininess = 50;
    red.shinStrength = 25;
    red.texture = "brick.tga";
    red.texturePercent = 75;
    red.mapFlags = 0x11 | 0x8;  // decal only, negative
    red.uScale = 2.0f;
    Material3ds blue;
    blue.name = "Blue";
    blue.diffuse[2] = 255;
    s.materials = {red, blue};
    Mesh3ds a = Quad("QuadA", 0);
    a.groups = {{"Red", {0}}, {"Blue", {1}}};
    Mesh3ds b = Quad("QuadB", 5);
    s.meshes = {a, b};
    return s;
}

}  // namespace

using Database3dsTest = Toolkit3ds;

TEST_F(Database3dsTest, MeshRoundTrip) {
    Load("two_meshes.3ds", SceneBytes3ds(TwoMeshScene()));
    ASSERT_FALSE(errorsPending) << Codes()[0];
    EXPECT_EQ(CountMeshes3ds(db), 2u);
    MeshData3ds* m = nullptr;
    FetchMesh3ds(db, 0, &m);
    ASSERT_FALSE(errorsPending);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, "QuadA");
    ASSERT_EQ(m->nVertices, 4);
    EXPECT_EQ(m->vertices[3], 1.0f);
    EXPECT_EQ(m->vertices[7], 1.0f);
    ASSERT_EQ(m->nTexVerts, 4);
    EXPECT_EQ(m->texVerts[4], 1.0f);
    ASSERT_EQ(m->nFaces, 2);
    EXPECT_EQ(m->faces[4], 0);
    EXPECT_EQ(m->faces[6], 3);
    EXPECT_EQ(m->faces[7], 7);
    ASSERT_NE(m->smoothing, nullptr);
    EXPECT_EQ(m->smoothing[1], 1u);
    ASSERT_EQ(m->nMatGroups, 2);
    EXPECT_STREQ(m->matGroups[0].name, "Red");
    EXPECT_STREQ(m->matGroups[1].name, "Blue");
    ASSERT_EQ(m->matGroups[1].nFaces, 1);
    EXPECT_EQ(m->matGroups[1].faces[0], 1);
    EXPECT_EQ(m->localMatrix[0], 1.0f);
    FreeMesh3ds(&m);
    EXPECT_EQ(m, nullptr);
    FetchMesh3ds(db, 1, &m);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, "QuadB");
    EXPECT_EQ(m->nMatGroups, 0);
    EXPECT_EQ(m->vertices[2], 5.0f);
    FreeMesh3ds(&m);
    FetchMesh3ds(db, 2, &m);  // beyond the last mesh: nothing, no error
    EXPECT_EQ(m, nullptr);
    EXPECT_FALSE(errorsPending);
}

TEST_F(Database3dsTest, FetchTwiceGivesEqualRecordsAndMovesData) {
    Load("twice.3ds", SceneBytes3ds(TwoMeshScene()));
    MeshData3ds* a = nullptr;
    MeshData3ds* b = nullptr;
    FetchMesh3ds(db, 0, &a);
    // The fetched object's chunks hold no decoded records now.
    ChunkNode3ds* verts = SearchChunk3ds(db->top, 0x4110);
    ASSERT_NE(verts, nullptr);
    EXPECT_EQ(verts->data, nullptr);
    FetchMesh3ds(db, 0, &b);
    ASSERT_FALSE(errorsPending);
    ASSERT_EQ(a->nVertices, b->nVertices);
    EXPECT_EQ(std::memcmp(a->vertices, b->vertices, a->nVertices * 12u), 0);
    EXPECT_EQ(std::memcmp(a->faces, b->faces, a->nFaces * 8u), 0);
    EXPECT_EQ(a->nMatGroups, b->nMatGroups);
    FreeMesh3ds(&a);
    FreeMesh3ds(&b);
}

TEST_F(Database3dsTest, MaterialRoundTrip) {
    Load("materials.3ds", SceneBytes3ds(TwoMeshScene()));
    ASSERT_EQ(CountMaterials3ds(db), 2u);
    MaterialData3ds* m = nullptr;
    FetchMaterial3ds(db, 0, &m);
    ASSERT_FALSE(errorsPending) << Codes()[0];
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, "Red");
    EXPECT_NEAR(m->ambient[0], 0.2f, 1e-6);
    EXPECT_NEAR(m->diffuse[0], 1.0f, 1e-6);
    EXPECT_EQ(m->diffuse[1], 0.0f);
    EXPECT_NEAR(m->specular[2], 1.0f, 1e-6);
    EXPECT_NEAR(m->shininess, 0.5f, 1e-6);
    EXPECT_NEAR(m->shinStrength, 0.25f, 1e-6);
    EXPECT_EQ(m->shading, 3);
    EXPECT_STREQ(m->texture1.name, "brick.tga");
    EXPECT_NEAR(m->texture1.percent, 0.75f, 1e-6);
    EXPECT_EQ(m->texture1.tiling, 2);  // bit 0x1 and 0x10 set: decal
    EXPECT_EQ(m->texture1.negative, 1);
    EXPECT_EQ(m->texture1.mirror, 0);
    EXPECT_EQ(m->texture1.uScale, 2.0f);
    FreeMaterial3ds(&m);
    EXPECT_EQ(m, nullptr);
    FetchMaterial3ds(db, 1, &m);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, "Blue");
    EXPECT_EQ(m->texture1.name, nullptr);
    FreeMaterial3ds(&m);
    FetchMaterial3ds(db, 5, &m);
    EXPECT_EQ(m, nullptr);
    EXPECT_FALSE(errorsPending);
}

TEST_F(Database3dsTest, MaterialFaults) {
    Chunk3ds top(0x4D4D);
    Chunk3ds mdata(0x3D3D);
    Chunk3ds onlyGamma(0xAFFF);
    onlyGamma.Add(Chunk3ds(0xA000).Str("Gamma"));
    onlyGamma.Add(Chunk3ds(0xA020).Add(Chunk3ds(0x0012).U8(1).U8(2).U8(3)));
    Chunk3ds unknown(0xAFFF);
    unknown.Add(Chunk3ds(0xA000).Str("Odd"));
    unknown.Add(Chunk3ds(0xA0FF).U8(0));
    Chunk3ds floatPct(0xAFFF);
    floatPct.Add(Chunk3ds(0xA000).Str("Fl"));
    floatPct.Add(Chunk3ds(0xA040).Add(Chunk3ds(0x0031).F32(0.125f)));
    floatPct.Add(Chunk3ds(0xA050).Add(Chunk3ds(0x0030).U16(40)));
    floatPct.Add(Chunk3ds(0xA08A));
    floatPct.Add(Chunk3ds(0x8001));  // extension chunks are skipped
    mdata.Add(onlyGamma).Add(unknown).Add(floatPct);
    top.Add(mdata);
    Load("material_faults.3ds", top.Bytes());
    ASSERT_FALSE(errorsPending);
    ASSERT_EQ(CountMaterials3ds(db), 3u);
    MaterialData3ds* m = nullptr;
    FetchMaterial3ds(db, 0, &m);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_UNFOUND_CHUNK});
    ClearErrors3ds();
    FetchMaterial3ds(db, 1, &m);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_INVALID_CHUNK});
    ClearErrors3ds();
    FetchMaterial3ds(db, 2, &m);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->shininess, 0.125f);
    EXPECT_NEAR(m->transparency, -0.4f, 1e-6);
    FreeMaterial3ds(&m);
}

TEST_F(Database3dsTest, ObjectsWithoutMeshAndWrongTop) {
    Chunk3ds top(0x4D4D);
    Chunk3ds mdata(0x3D3D);
    Chunk3ds light(0x4000);
    light.Str("Lamp").Add(Chunk3ds(0x4600).F32(1).F32(2).F32(3));
    mdata.Add(light).Add(MeshObjectChunk3ds(Quad("Q", 0)));
    top.Add(mdata);
    Load("light.3ds", top.Bytes());
    EXPECT_EQ(CountMeshes3ds(db), 1u);
    MeshData3ds* m = nullptr;
    FetchMesh3ds(db, 0, &m);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, "Q");
    FreeMesh3ds(&m);
    FreeDatabase3ds(&db);
    CloseChunkFile3ds(file);
    file = nullptr;

    Chunk3ds other(0x1234);
    other.Add(MeshObjectChunk3ds(Quad("Q", 0)));
    Load("other_top.3ds", other.Bytes());
    EXPECT_FALSE(errorsPending);
    EXPECT_EQ(CountMeshes3ds(db), 0u);
    FetchMesh3ds(db, 0, &m);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_WRONG_DATABASE});
}

TEST_F(Database3dsTest, MaterialLibraryTop) {
    Chunk3ds lib(0x3DAA);
    Material3ds m;
    m.name = "LibMat";
    lib.Add(MaterialChunk3ds(m));
    Load("library.mli", lib.Bytes());
    ASSERT_EQ(CountMaterials3ds(db), 1u);
    MaterialData3ds* rec = nullptr;
    FetchMaterial3ds(db, 0, &rec);
    ASSERT_NE(rec, nullptr);
    EXPECT_STREQ(rec->name, "LibMat");
    FreeMaterial3ds(&rec);
    MeshData3ds* mesh = nullptr;
    FetchMesh3ds(db, 0, &mesh);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_WRONG_DATABASE});
}

TEST_F(Database3dsTest, ExtensionChunksDropped) {
    Chunk3ds top(0x4D4D);
    Chunk3ds ext(0x8001);
    ext.Add(Chunk3ds(0x8002).U32(7));
    ext.Add(Chunk3ds(0x4000).Str("junk"));  // outside 0x8002-0x800F
    ext.Add(Chunk3ds(0x8003).U32(8));       // after the dropped one: not read
    top.Add(ext);
    top.Add(Chunk3ds(0x3D3D).Add(MeshObjectChunk3ds(Quad("Q", 0))));
    Load("extension.3ds", top.Bytes());
    ASSERT_FALSE(errorsPending);
    ChunkNode3ds* e = SearchChunk3ds(db->top, 0x8001);
    ASSERT_NE(e, nullptr);
    ASSERT_NE(e->children, nullptr);
    EXPECT_EQ(e->children->tag, 0x8002u);
    EXPECT_EQ(e->children->sibling, nullptr);
    EXPECT_EQ(CountMeshes3ds(db), 1u);
}

TEST_F(Database3dsTest, KeyframerParentNames) {
    Scene3ds s;
    s.meshes = {Quad("Body", 0), Quad("Arm", 1)};
    KfNode3ds body;
    body.name = "Body";
    body.id = 0;
    body.instance = "main";
    KfNode3ds arm;
    arm.name = "Arm";
    arm.id = 1;
    arm.parent = 0;
    KfNode3ds orphan;
    orphan.name = "Orphan";
    orphan.id = 2;
    orphan.parent = 40;  // matches no node
    s.nodes = {body, arm, orphan};
    Chunk3ds top = SceneChunk3ds(s);
    // A fourth node whose 0xB010 already holds a file 0x80F0 chunk.
    KfNode3ds withX;
    withX.name = "X";
    withX.id = 3;
    withX.parent = 0;
    Chunk3ds xnode = KfNodeChunk3ds(withX);
    for (Chunk3ds& c : xnode.children)
        if (c.tag == 0xB010) c.Add(Chunk3ds(0x80F0).Str("fromfile"));
    top.children.back().Add(xnode);
    Load("keyframer.3ds", top.Bytes());
    ASSERT_FALSE(errorsPending) << Codes()[0];
    EXPECT_EQ(FindNodeById3ds(0), nullptr);  // the list lives only while filling

    std::vector<ChunkNode3ds*> nodes;
    ChunkNode3ds* kf = SearchChunk3ds(db->top, 0xB000);
    for (ChunkNode3ds* n = kf->children; n; n = n->sibling)
        if (n->tag == 0xB002) nodes.push_back(n);
    ASSERT_EQ(nodes.size(), 4u);
    auto lastOfHeader = [](ChunkNode3ds* node) -> ChunkNode3ds* {
        ChunkNode3ds* hdr = SearchChunk3ds(node, 0xB010);
        ChunkNode3ds* last = hdr ? hdr->children : nullptr;
        while (last && last->sibling) last = last->sibling;
        return last;
    };
    EXPECT_EQ(lastOfHeader(nodes[0]), nullptr);  // parent 0xFFFF
    ChunkNode3ds* x = lastOfHeader(nodes[1]);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->tag, 0x80F0u);
    EXPECT_EQ(x->fileIndex, 255);
    ASSERT_NE(x->data, nullptr);
    EXPECT_STREQ(static_cast<NameData3ds*>(x->data)->name, "Body.main");
    EXPECT_EQ(lastOfHeader(nodes[2]), nullptr);  // parent matches nothing
    ChunkNode3ds* fromFile = lastOfHeader(nodes[3]);
    ASSERT_NE(fromFile, nullptr);
    EXPECT_NE(fromFile->fileIndex, 255);  // unchanged, no second chunk
    EXPECT_EQ(fromFile->data, nullptr);
    EXPECT_EQ(LoadChunkData3ds(fromFile), nullptr);
    EXPECT_FALSE(errorsPending);
    // Decoded keyframer records were released after use.
    EXPECT_EQ(SearchChunk3ds(nodes[1], 0xB030)->data, nullptr);
}

TEST_F(Database3dsTest, MissingIdsRenumberNodes) {
    Scene3ds s;
    KfNode3ds a;
    a.name = "A";
    a.writeId = false;
    a.instance = "i";
    KfNode3ds b;
    b.name = "B";
    b.id = 9;
    b.parent = 0;  // after renumbering, A is 0
    s.nodes = {a, b};
    Chunk3ds top = SceneChunk3ds(s);
    Load("renumber.3ds", top.Bytes());
    ASSERT_FALSE(errorsPending);
    // B has an id chunk (9) but ids were renumbered to 0, 1: no entry 9.
    ChunkNode3ds* kf = SearchChunk3ds(db->top, 0xB000);
    ChunkNode3ds* nb = SearchSibling3ds(kf->children, 0xB002)->sibling;
    ChunkNode3ds* hdr = SearchChunk3ds(nb, 0xB010);
    EXPECT_EQ(hdr->children, nullptr);
}

TEST(ChunkTree3ds, InsertByWriteOrder) {
    ClearErrors3ds();
    auto make = [](u32_3ds tag) {
        ChunkNode3ds* n = nullptr;
        NewChunkNode3ds(&n);
        n->tag = tag;
        return n;
    };
    auto tags = [](ChunkNode3ds* parent) {
        std::vector<u32_3ds> out;
        for (ChunkNode3ds* c = parent->children; c; c = c->sibling) out.push_back(c->tag);
        return out;
    };
    ChunkNode3ds* top = make(0x4D4D);
    AppendChild3ds(top, make(0x0002));
    AppendChild3ds(top, make(0xB000));
    InsertChildByOrder3ds(top, make(0x3D3D));
    EXPECT_EQ(tags(top), (std::vector<u32_3ds>{0x0002, 0x3D3D, 0xB000}));
    InsertChildByOrder3ds(top, make(0x80F0));
    EXPECT_EQ(tags(top).back(), 0x80F0u);
    FreeChunkNode3ds(top);

    ChunkNode3ds* kf = make(0xB000);
    AppendChild3ds(kf, make(0xB00A));
    AppendChild3ds(kf, make(0xB002));
    AppendChild3ds(kf, make(0xB001));
    InsertChildByOrder3ds(kf, make(0xB002));
    EXPECT_EQ(tags(kf), (std::vector<u32_3ds>{0xB00A, 0xB002, 0xB002, 0xB001}));
    InsertChildByOrder3ds(kf, make(0xB005));
    EXPECT_EQ(tags(kf).back(), 0xB005u);
    ChunkNode3ds* empty = make(0xB002);
    InsertChildByOrder3ds(empty, make(0xB010));
    EXPECT_EQ(tags(empty), std::vector<u32_3ds>{0xB010});
    FreeChunkNode3ds(empty);
    EXPECT_FALSE(errorsPending);
    InsertChildByOrder3ds(kf, nullptr);
    EXPECT_TRUE(errorsPending);
    FreeChunkNode3ds(kf);
    ClearErrors3ds();
    EXPECT_EQ(ChunkWriteOrder3ds(0x0000), 35);
    EXPECT_EQ(ChunkWriteOrder3ds(0x1301), 12);
    EXPECT_EQ(ChunkWriteOrder3ds(0x4010), 1);
    EXPECT_EQ(ChunkWriteOrder3ds(0xB005), 0);
}

TEST(ChunkTree3ds, CloneOfMemoryChunksCopiesData) {
    ClearErrors3ds();
    ChunkNode3ds* parent = nullptr;
    NewChunkNode3ds(&parent);
    parent->tag = 0xB010;
    AddXDataString3ds(parent, "hello");
    AddXDataString3ds(parent, nullptr);  // adds nothing
    ASSERT_NE(parent->children, nullptr);
    EXPECT_EQ(parent->children->sibling, nullptr);
    ChunkNode3ds* copy = nullptr;
    CloneChunkTree3ds(parent, &copy);
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy->children, nullptr);
    NameData3ds* a = static_cast<NameData3ds*>(parent->children->data);
    NameData3ds* b = static_cast<NameData3ds*>(copy->children->data);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a->name, b->name);
    EXPECT_STREQ(b->name, "hello");
    FreeChunkNode3ds(parent);
    FreeChunkNode3ds(copy);
    EXPECT_FALSE(errorsPending);
}

TEST_F(Database3dsTest, BoxMeshFacesOutward) {
    const float mn[3] = {-1, -2, -3};
    const float mx[3] = {1, 2, 3};
    for (bool inward : {false, true}) {
        Scene3ds s;
        s.meshes = {BoxMesh3ds("Box", mn, mx, "Wall", 1.0f, inward)};
        Load(inward ? "box_in.3ds" : "box_out.3ds", SceneBytes3ds(s));
        MeshData3ds* m = nullptr;
        FetchMesh3ds(db, 0, &m);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->nVertices, 24);
        ASSERT_EQ(m->nFaces, 12);
        ASSERT_EQ(m->nMatGroups, 1);
        EXPECT_STREQ(m->matGroups[0].name, "Wall");
        EXPECT_EQ(m->matGroups[0].nFaces, 12);
        for (int f = 0; f < 12; ++f) {
            const float* a = &m->vertices[3 * m->faces[4 * f]];
            const float* b = &m->vertices[3 * m->faces[4 * f + 1]];
            const float* c = &m->vertices[3 * m->faces[4 * f + 2]];
            float e1[3], e2[3], centre[3];
            for (int k = 0; k < 3; ++k) {
                e1[k] = b[k] - a[k];
                e2[k] = c[k] - a[k];
                centre[k] = (a[k] + b[k] + c[k]) / 3;
            }
            float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
            float dot = n[0] * centre[0] + n[1] * centre[1] + n[2] * centre[2];
            EXPECT_EQ(dot > 0, !inward) << f;
        }
        FreeMesh3ds(&m);
        FreeDatabase3ds(&db);
        CloseChunkFile3ds(file);
        file = nullptr;
    }
    EXPECT_FALSE(errorsPending);
}
