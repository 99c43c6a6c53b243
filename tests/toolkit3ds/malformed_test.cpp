// Damaged and hostile files: every one ends with an error list, quickly,
// without a crash or a huge allocation.
#include <chrono>

#include "toolkit3ds_support.h"

using namespace zvtools;

namespace {

Mesh3ds Tri(const std::string& name) {
    Mesh3ds m;
    m.name = name;
    m.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    m.texCoords = {0, 0, 1, 0, 0, 1};
    m.faces = {0, 1, 2, 0};
    m.groups = {{"M", {0}}};
    m.smoothing = {1};
    return m;
}

Scene3ds SmallScene() {
    Scene3ds s;
    Material3ds m;
    m.name = "M";
    m.texture = "t.tga";
    s.materials = {m};
    s.meshes = {Tri("A")};
    KfNode3ds n;
    n.name = "A";
    n.id = 0;
    KfNode3ds c;
    c.name = "B";
    c.id = 1;
    c.parent = 0;
    s.nodes = {n, c};
    return s;
}

// A scene whose first mesh's chunk with the given tag gets its payload
// replaced by `payload`.
std::vector<uint8_t> WithPayload(uint16_t tag, const std::vector<uint8_t>& payload) {
    Chunk3ds top = SceneChunk3ds(SmallScene());
    std::vector<Chunk3ds*> stack = {&top};
    while (!stack.empty()) {
        Chunk3ds* c = stack.back();
        stack.pop_back();
        if (c->tag == tag) {
            c->data = payload;
            if (tag == 0x4120) c->children.clear();
            break;
        }
        for (Chunk3ds& k : c->children) stack.push_back(&k);
    }
    return top.Bytes();
}

}  // namespace

class Malformed3ds : public Toolkit3ds {
protected:
    // Fills, then fetches every mesh and material; returns the codes.
    std::vector<int> LoadAll(const std::vector<uint8_t>& bytes) {
        Load("malformed.3ds", bytes);
        if (!errorsPending) {
            u32_3ds n = CountMeshes3ds(db);
            for (u32_3ds i = 0; i < n && !errorsPending; ++i) {
                MeshData3ds* m = nullptr;
                FetchMesh3ds(db, i, &m);
                FreeMesh3ds(&m);
            }
        }
        if (!errorsPending) {
            u32_3ds n = CountMaterials3ds(db);
            for (u32_3ds i = 0; i < n && !errorsPending; ++i) {
                MaterialData3ds* m = nullptr;
                FetchMaterial3ds(db, i, &m);
                FreeMaterial3ds(&m);
            }
        }
        std::vector<int> codes = Codes();
        FreeDatabase3ds(&db);
        CloseChunkFile3ds(file);
        file = nullptr;
        ClearErrors3ds();
        return codes;
    }
};

TEST_F(Malformed3ds, SoundSceneLoadsCleanly) {
    EXPECT_TRUE(LoadAll(SceneBytes3ds(SmallScene())).empty());
}

TEST_F(Malformed3ds, BadChunkSizes) {
    const std::vector<int> invalidChain = {ERR_INVALID_CHUNK, ERR_READING_DATABASE, ERR_READING_DATABASE,
                                           ERR_CREATING_DATABASE};
    for (uint32_t bad : {0u, 1u, 5u, 0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u}) {
        Chunk3ds top = SceneChunk3ds(SmallScene());
        Chunk3ds& mdata = top.children[1];  // 0x3D3D
        mdata.children[0].overrideSize = true;
        mdata.children[0].sizeOverride = bad;
        EXPECT_EQ(LoadAll(top.Bytes()), invalidChain) << bad;
    }
    // The top chunk itself: size 0.
    Chunk3ds top = SceneChunk3ds(SmallScene());
    top.overrideSize = true;
    top.sizeOverride = 0;
    EXPECT_EQ(LoadAll(top.Bytes()), (std::vector<int>{ERR_INVALID_CHUNK, ERR_CREATING_DATABASE}));
    // A container claiming less than its fixed part (a 0x4000 name needs 1 byte).
    Chunk3ds t2(0x4D4D);
    Chunk3ds obj(0x4000);
    obj.overrideSize = true;
    obj.sizeOverride = 6;
    t2.Add(Chunk3ds(0x3D3D).Add(obj));
    std::vector<int> codes = LoadAll(t2.Bytes());
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes[0], ERR_INVALID_CHUNK);
}

TEST_F(Malformed3ds, DeepNestingIsRefused) {
    Chunk3ds inner(0x3D3D);
    for (int i = 0; i < 300; ++i) {
        Chunk3ds outer(0x3D3D);
        outer.Add(inner);
        inner = outer;
    }
    Chunk3ds top(0x4D4D);
    top.Add(inner);
    std::vector<int> codes = LoadAll(top.Bytes());
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes[0], ERR_INVALID_CHUNK);
    EXPECT_EQ(codes.size(), 19u);  // the list is full of READING_DATABASE levels
}

TEST_F(Malformed3ds, LongSiblingChains) {
    Chunk3ds top(0x4D4D);
    Chunk3ds mdata(0x3D3D);
    for (int i = 0; i < 100000; ++i) mdata.Add(Chunk3ds(0x0100).F32(1.0f));
    mdata.Add(MeshObjectChunk3ds(Tri("Last")));
    top.Add(mdata);
    auto start = std::chrono::steady_clock::now();
    Load("siblings.3ds", top.Bytes());
    ASSERT_FALSE(errorsPending);
    EXPECT_EQ(CountMeshes3ds(db), 1u);
    ChunkNode3ds* copy = nullptr;
    CloneChunkTree3ds(db->top, &copy);
    ASSERT_NE(copy, nullptr);
    FreeChunkNode3ds(copy);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0);
}

TEST_F(Malformed3ds, LyingCounts) {
    auto u16le = [](std::vector<uint8_t>& v, uint16_t x) {
        v.push_back(uint8_t(x));
        v.push_back(uint8_t(x >> 8));
    };
    struct Case {
        uint16_t tag;
        std::vector<uint8_t> payload;
    };
    std::vector<Case> cases;
    {
        std::vector<uint8_t> p;
        u16le(p, 0xFFFF);  // 65535 vertices, 12 bytes present
        p.resize(p.size() + 12);
        cases.push_back({0x4110, p});
    }
    {
        std::vector<uint8_t> p;
        u16le(p, 0xFFFF);
        p.resize(p.size() + 4);
        cases.push_back({0x4111, p});
        cases.push_back({0x4140, p});
        cases.push_back({0x4120, p});
    }
    {
        std::vector<uint8_t> p = {'M', 0};
        u16le(p, 0xFFFF);
        u16le(p, 0);
        cases.push_back({0x4130, p});
    }
    {
        std::vector<uint8_t> p = {'M', 'M', 'M'};  // name without terminator
        cases.push_back({0x4130, p});
        cases.push_back({0x4000, p});
        cases.push_back({0xA000, p});
        cases.push_back({0xA300, p});
    }
    {
        std::vector<uint8_t> p = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2};
        cases.push_back({0x4182, p});
    }
    cases.push_back({0x4160, {1, 2, 3}});
    cases.push_back({0x0011, {1}});
    cases.push_back({0x0030, {}});
    cases.push_back({0xB010, {'A', 0, 1}});
    for (const Case& c : cases) {
        // 0x4111 and 0x4182 are not written by the scene: add them to a mesh.
        std::vector<uint8_t> bytes;
        if (c.tag == 0x4182 || c.tag == 0x4111) {
            Chunk3ds top(0x4D4D);
            Chunk3ds obj = MeshObjectChunk3ds(Tri("P"));
            obj.children[0].Add(Chunk3ds(c.tag).Raw(c.payload.data(), c.payload.size()));
            top.Add(Chunk3ds(0x3D3D).Add(obj));
            bytes = top.Bytes();
        } else {
            bytes = WithPayload(c.tag, c.payload);
        }
        std::vector<int> codes = LoadAll(bytes);
        ASSERT_FALSE(codes.empty()) << std::hex << c.tag;
        bool invalid = false;
        for (int code : codes) invalid = invalid || code == ERR_INVALID_CHUNK || code == ERR_READING_FILE;
        EXPECT_TRUE(invalid) << std::hex << c.tag;
    }
}

TEST_F(Malformed3ds, ChunkBeyondFileIsNotDecoded) {
    // A leaf whose size points far past the end of a file whose top chunk
    // claims the same: the reader skips it, the decoder refuses it.
    Chunk3ds top(0x4D4D);
    Chunk3ds obj = MeshObjectChunk3ds(Tri("Big"));
    Chunk3ds& mesh = obj.children[0];
    Chunk3ds& faces = mesh.children.back();  // 0x4120 with groups and smoothing
    Chunk3ds& smooth = faces.children.back();
    ASSERT_EQ(smooth.tag, 0x4150);
    smooth.overrideSize = true;
    smooth.sizeOverride = 0x7FFFFF00u;
    faces.overrideSize = true;
    faces.sizeOverride = 0x7FFFFF00u + 100;
    mesh.overrideSize = true;
    mesh.sizeOverride = 0x7FFFFF00u + 1000;
    obj.overrideSize = true;
    obj.sizeOverride = 0x7FFFFF00u + 2000;
    Chunk3ds mdata(0x3D3D);
    mdata.Add(obj);
    mdata.overrideSize = true;
    mdata.sizeOverride = 0x7FFFFF00u + 3000;
    top.Add(mdata);
    top.overrideSize = true;
    top.sizeOverride = 0x7FFFFF00u + 4000;
    std::vector<int> codes = LoadAll(top.Bytes());
    ASSERT_FALSE(codes.empty());
}

TEST_F(Malformed3ds, TruncationAtEveryByte) {
    std::vector<uint8_t> full = SceneBytes3ds(SmallScene());
    auto start = std::chrono::steady_clock::now();
    for (size_t n = 0; n < full.size(); ++n) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(n));
        std::vector<int> codes = LoadAll(cut);
        EXPECT_FALSE(codes.empty()) << n;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 20.0);
    EXPECT_EQ(UsedFileSlots3ds(), 0u);
}

TEST_F(Malformed3ds, TruncatedTreeErrorChain) {
    // Cut inside the header of a chunk three levels down.
    Chunk3ds top(0x4D4D);
    top.Add(Chunk3ds(0x3D3D).Add(MeshObjectChunk3ds(Tri("A"))));
    std::vector<uint8_t> bytes = top.Bytes();
    // top header 6, mdata header 6, object header 6 + "A\0" 2, mesh header: cut after 3 bytes of it.
    bytes.resize(6 + 6 + 8 + 3);
    EXPECT_EQ(LoadAll(bytes), (std::vector<int>{ERR_READING_FILE, ERR_READING_DATABASE, ERR_READING_DATABASE,
                                                ERR_READING_DATABASE, ERR_CREATING_DATABASE}));
}

TEST_F(Malformed3ds, WriteModeFileFillsNothing) {
    FileRec3ds* w = OpenChunkFile3ds("fill_write.3ds", "w");
    ASSERT_NE(w, nullptr);
    NewDatabase3ds(&db);
    FillDatabase3ds(w, &db);
    EXPECT_FALSE(errorsPending);
    EXPECT_EQ(db->top, nullptr);
    CloseChunkFile3ds(w);
    FillDatabase3ds(nullptr, &db);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_INVALID_ARG});
    ClearErrors3ds();
    EXPECT_EQ(CountMeshes3ds(db), 0u);  // an empty database holds no mesh
    EXPECT_FALSE(errorsPending);
    MeshData3ds* m = nullptr;
    FetchMesh3ds(db, 0, &m);
    EXPECT_EQ(Codes(), std::vector<int>{ERR_INVALID_DATABASE});
}

TEST_F(Malformed3ds, RandomByteDamage) {
    // Deterministic damage: a few bytes of a sound scene replaced, many times.
    // Whatever happens, the toolkit returns, and leaves no file open.
    std::vector<uint8_t> full = SceneBytes3ds(SmallScene());
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int round = 0; round < 1500; ++round) {
        std::vector<uint8_t> bytes = full;
        int flips = 1 + static_cast<int>(next() % 4);
        for (int i = 0; i < flips; ++i) {
            size_t at = next() % bytes.size();
            uint32_t kind = next() % 3;
            bytes[at] = kind == 0 ? 0xFF : kind == 1 ? 0x00 : static_cast<uint8_t>(next());
        }
        LoadAll(bytes);
    }
    EXPECT_EQ(UsedFileSlots3ds(), 0u);
}

TEST_F(Malformed3ds, OutOfRangeIndicesAreInvalid) {
    Mesh3ds corner = Tri("C");
    corner.faces = {0, 1, 3, 0};  // vertex 3 of 3
    Mesh3ds group = Tri("G");
    group.groups = {{"M", {0, 1}}};  // face 1 of 1
    for (const Mesh3ds& m : {corner, group}) {
        Chunk3ds top(0x4D4D);
        top.Add(Chunk3ds(0x3D3D).Add(MeshObjectChunk3ds(m)));
        EXPECT_EQ(LoadAll(top.Bytes()), std::vector<int>{ERR_INVALID_CHUNK}) << m.name;
    }
    // Each corner of each face is checked; the fourth word holds the face's
    // flags, not a vertex.
    const struct {
        std::vector<uint16_t> faces;
        std::vector<int> codes;
    } cases[] = {
        {{0, 1, 2, 0xFFFF, 2, 1, 0, 7}, {}},
        {{0, 1, 2, 0, 3, 1, 2, 0}, {ERR_INVALID_CHUNK}},
        {{0, 1, 2, 0, 0, 3, 2, 0}, {ERR_INVALID_CHUNK}},
        {{0, 1, 2, 0, 0, 1, 0xFFFF, 0}, {ERR_INVALID_CHUNK}},
    };
    for (const auto& c : cases) {
        Mesh3ds m = Tri("F");
        m.faces = c.faces;
        m.smoothing = {1, 1};
        Chunk3ds top(0x4D4D);
        top.Add(Chunk3ds(0x3D3D).Add(MeshObjectChunk3ds(m)));
        EXPECT_EQ(LoadAll(top.Bytes()), c.codes) << c.faces[4] << " " << c.faces[5] << " " << c.faces[6];
    }
}

TEST_F(Malformed3ds, MaterialGroupCounterCannotOverflow) {
    // 65,536 material groups do not fit the record's 16-bit counter.
    for (uint32_t groups : {65535u, 65536u}) {
        Mesh3ds m = Tri("Many");
        m.groups.assign(groups, MatGroup3ds{"M", {}});
        Chunk3ds top(0x4D4D);
        top.Add(Chunk3ds(0x3D3D).Add(MeshObjectChunk3ds(m)));
        Load("groups.3ds", top.Bytes());
        ASSERT_FALSE(errorsPending);
        MeshData3ds* rec = nullptr;
        FetchMesh3ds(db, 0, &rec);
        if (groups == 65535u) {
            ASSERT_NE(rec, nullptr);
            EXPECT_EQ(rec->nMatGroups, 65535);
        } else {
            EXPECT_EQ(rec, nullptr);
            EXPECT_EQ(Codes(), std::vector<int>{ERR_INVALID_CHUNK});
        }
        FreeMesh3ds(&rec);
        FreeDatabase3ds(&db);
        CloseChunkFile3ds(file);
        file = nullptr;
        ClearErrors3ds();
    }
}
