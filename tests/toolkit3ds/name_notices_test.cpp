// The notices of names cut to fit their records: kept with the file they
// were read from, one per distinct cut, and bounded in number and in size.
#include <algorithm>

#include "toolkit3ds_support.h"

using namespace zvtools;

namespace {

// One triangle named name; its face in material when one is given.
Mesh3ds Triangle(const std::string& name, const std::string& material = "") {
    Mesh3ds m;
    m.name = name;
    m.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    m.faces = {0, 1, 2, 7};
    if (!material.empty()) m.groups = {{material, {0}}};
    return m;
}

std::vector<std::string> Notices(const FileRec3ds* file) {
    std::vector<std::string> out;
    for (u32_3ds i = 0; i < CountNameNotices3ds(file); ++i) out.push_back(NameNotice3ds(file, i));
    return out;
}

// Fetches every mesh and material of db, as a loader does.
void FetchAll(Database3ds* db) {
    for (u32_3ds i = 0; i < CountMeshes3ds(db); ++i) {
        MeshData3ds* mesh = nullptr;
        FetchMesh3ds(db, i, &mesh);
        FreeMesh3ds(&mesh);
    }
    for (u32_3ds i = 0; i < CountMaterials3ds(db); ++i) {
        MaterialData3ds* material = nullptr;
        FetchMaterial3ds(db, i, &material);
        FreeMaterial3ds(&material);
    }
}

const std::string kCut = "\" is longer than the ";

}  // namespace

using NameNotices3dsTest = Toolkit3ds;

TEST_F(NameNotices3dsTest, KeptWithTheirFileAndStartedAnewByEachRead) {
    Scene3ds cut;
    Material3ds material;
    material.name = "Material_of_twenty_two";
    cut.materials = {material};
    cut.meshes = {Triangle("Cube.0012345", material.name)};
    KfNode3ds node;
    node.name = "Keyframer_node_name";
    cut.nodes = {node};
    Scene3ds plain;
    plain.meshes = {Triangle("Box")};
    ASSERT_TRUE(WriteBytes3ds("plain.3ds", SceneBytes3ds(plain)));

    Load("cut.3ds", SceneBytes3ds(cut));
    // Fetched twice, as the model loader does: each cut is noted once.
    FetchAll(db);
    FetchAll(db);
    ASSERT_FALSE(errorsPending) << Codes()[0];
    const std::vector<std::string> expected = {
        "Keyframer node name \"Keyframer_node_name" + kCut + "10 characters its record holds; it is read as "
        "\"Keyframer_\"",
        "Object name \"Cube.0012345" + kCut + "10 characters its record holds; it is read as \"Cube.00123\"",
        "Material name \"Material_of_twenty_two" + kCut + "16 characters its record holds; it is read as "
        "\"Material_of_twen\""};
    EXPECT_EQ(Notices(file), expected);

    // Another file read meanwhile has notices of its own: none.
    FileRec3ds* other = OpenChunkFile3ds("plain.3ds", "r");
    Database3ds* otherDb = nullptr;
    NewDatabase3ds(&otherDb);
    FillDatabase3ds(other, &otherDb);
    FetchAll(otherDb);
    ASSERT_FALSE(errorsPending) << Codes()[0];
    EXPECT_EQ(Notices(other), std::vector<std::string>{});
    EXPECT_EQ(Notices(file), expected);
    FreeDatabase3ds(&otherDb);
    CloseChunkFile3ds(other);

    // Filling a database from the file again reads it anew: the fill notes
    // the keyframer node again, the fetches the rest.
    FillDatabase3ds(file, &db);
    EXPECT_EQ(Notices(file), std::vector<std::string>{expected[0]});
    FetchAll(db);
    EXPECT_EQ(Notices(file), expected);

    // Closed and opened again: nothing is carried over.
    FreeDatabase3ds(&db);
    CloseChunkFile3ds(file);
    file = OpenChunkFile3ds("cut.3ds", "r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(CountNameNotices3ds(file), 0u);
    EXPECT_EQ(NameNotice3ds(file, 0), nullptr);

    // A name read from no file has nowhere to be noted.
    AddNameNotice3ds(nullptr, "Object", "Cube.0012345", 10);
    EXPECT_EQ(CountNameNotices3ds(nullptr), 0u);
    EXPECT_EQ(NameNotice3ds(nullptr, 0), nullptr);
}

TEST_F(NameNotices3dsTest, LongNamesAreQuotedByTheirStart) {
    Load("plain.3ds", SceneBytes3ds(Scene3ds()));
    const std::string limit(NOTICE_NAME_CHARS_3DS, 'n');
    struct Case {
        std::string name;
        std::string quoted;
    } cases[] = {
        {"Cube.0012345", "\"Cube.0012345\""},
        {limit, "\"" + limit + "\""},
        {limit + "m", "\"" + limit + "...\" (65 characters)"},
        {limit + std::string(5000, 'o'), "\"" + limit + "...\" (5064 characters)"},
    };
    for (const Case& c : cases) {
        ClearNameNotices3ds(file);
        AddNameNotice3ds(file, "Object", c.name.c_str(), 10);
        EXPECT_EQ(Notices(file), std::vector<std::string>{"Object name " + c.quoted +
                                                         " is longer than the 10 characters its record holds; "
                                                         "it is read as \"" + c.name.substr(0, 10) + "\""})
            << c.name.size();
    }
}

TEST_F(NameNotices3dsTest, PastTheBoundOneNoticeSaysMoreWereCut) {
    Load("plain.3ds", SceneBytes3ds(Scene3ds()));
    auto add = [this](u32_3ds i) {
        AddNameNotice3ds(file, "Object", ("Object_name_" + std::to_string(i)).c_str(), 10);
    };
    const std::string further = "More names are longer than their records hold; only the first 64 are listed";
    for (u32_3ds i = 0; i < MAX_NAME_NOTICES_3DS; ++i) add(i);
    add(0);  // a repeat, not a further name
    ASSERT_EQ(CountNameNotices3ds(file), MAX_NAME_NOTICES_3DS);
    EXPECT_NE(Notices(file).back(), further);
    add(MAX_NAME_NOTICES_3DS);
    add(MAX_NAME_NOTICES_3DS + 1);
    std::vector<std::string> all = Notices(file);
    ASSERT_EQ(all.size(), MAX_NAME_NOTICES_3DS + 1);
    EXPECT_EQ(all.back(), further);
    EXPECT_TRUE(all[MAX_NAME_NOTICES_3DS - 1].find("Object_name_63") != std::string::npos);
}

TEST_F(NameNotices3dsTest, ThousandsOfLongNamesKeepABoundedList) {
    Scene3ds scene;
    const size_t meshes = 2000;
    for (size_t i = 0; i < meshes; ++i)
        scene.meshes.push_back(Triangle("Object_" + std::to_string(i) + std::string(600, 'x')));
    Load("many.3ds", SceneBytes3ds(scene));
    FetchAll(db);
    ASSERT_FALSE(errorsPending) << Codes()[0];
    const std::vector<std::string> notices = Notices(file);
    ASSERT_EQ(notices.size(), MAX_NAME_NOTICES_3DS + 1);
    const std::string first = "Object_0" + std::string(600, 'x');
    EXPECT_EQ(notices[0], "Object name \"" + first.substr(0, NOTICE_NAME_CHARS_3DS) + "...\" (" +
                              std::to_string(first.size()) + " characters)" + kCut.substr(1) +
                              "10 characters its record holds; it is read as \"Object_0xx\"");
    EXPECT_TRUE(notices[MAX_NAME_NOTICES_3DS - 1].find("\"Object_63xxx") != std::string::npos);
    EXPECT_EQ(notices.back(), "More names are longer than their records hold; only the first 64 are listed");
    size_t longest = 0;
    for (const std::string& n : notices) longest = std::max(longest, n.size());
    EXPECT_LE(longest, NOTICE_NAME_CHARS_3DS + 120);
}
