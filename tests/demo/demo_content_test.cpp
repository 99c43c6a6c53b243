// The demo content generated into bin/ at build time: every file loads
// through the engine's own readers, the scene file suits both programs, the
// arena fits the game's scene matrix, and the opponents' animations follow
// the rules the game's opponents rely on (role names in role order, lengths,
// root motion, boxes that hold the mesh).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "config.h"
#include "md5_support.h"
#include "modelcal3dmeta.h"
#include "toolkit3ds.h"
#include "zvfile.h"
#include "zvimage.h"

using md5test::FakeGraphics;
using md5test::LogCapture;

namespace {

const std::string kDir = ZV_DEMO_DIR;

// The game shows the arena through this matrix: x and z scaled by 3, y by
// -15 and moved by -50.
Vector3 GameScene(const Vector3& v) { return Vector3(3.0f * v.x, -15.0f * v.y - 50.0f, 3.0f * v.z); }

std::string Lower(std::string s) {
    for (char& c : s) c = (char)std::tolower((unsigned char)c);
    return s;
}

// The search path holds the demo folder only, as "path ." gives the
// programs their own folder.
class DemoContent : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = Paths;
        Paths.count = 0;
        Paths.Add(String(kDir.c_str()));
        ClearErrors3ds();
    }
    void TearDown() override {
        Paths = saved_;
        ClearErrors3ds();
    }

    Vector<String> saved_;
};

struct SceneBox {
    Vector3 min, max;
};

// The arena's box in the engine's axes (the 3DS model swaps y and z), as
// the game turns it into its scene box: through the scene matrix, sorted
// again, shrunk by 50 on every side.
SceneBox ArenaBox(const Vector3& fileMin, const Vector3& fileMax) {
    Vector3 a = GameScene(Vector3(fileMin.x, fileMin.z, fileMin.y));
    Vector3 b = GameScene(Vector3(fileMax.x, fileMax.z, fileMax.y));
    SceneBox box;
    box.min = Vector3(std::min(a.x, b.x) + 50, std::min(a.y, b.y) + 50, std::min(a.z, b.z) + 50);
    box.max = Vector3(std::max(a.x, b.x) - 50, std::max(a.y, b.y) - 50, std::max(a.z, b.z) - 50);
    return box;
}

bool Inside(const SceneBox& box, const Vector3& p) {
    return p.x >= box.min.x && p.x <= box.max.x && p.y >= box.min.y && p.y <= box.max.y && p.z >= box.min.z &&
           p.z <= box.max.z;
}

struct Arena {
    std::vector<std::string> textures;
    Vector3 min{1e30f, 1e30f, 1e30f}, max{-1e30f, -1e30f, -1e30f};
    unsigned vertices = 0, meshes = 0;
    // Height (file z) of the highest upward-facing floor vertex.
    float floorTop = -1e30f;
};

// Reads scene.3ds through the chunk toolkit as the 3DS model does.
void ReadArena(Arena* arena) {
    FileRec3ds* file = OpenChunkFile3ds((kDir + "scene.3ds").c_str(), "r");
    ASSERT_NE(nullptr, file);
    Database3ds* db = nullptr;
    NewDatabase3ds(&db);
    FillDatabase3ds(file, &db);
    ASSERT_FALSE(errorsPending);
    for (u32_3ds i = 0; i < CountMaterials3ds(db); ++i) {
        MaterialData3ds* m = nullptr;
        FetchMaterial3ds(db, i, &m);
        ASSERT_NE(nullptr, m);
        if (m->texture1.name && m->texture1.name[0]) arena->textures.push_back(m->texture1.name);
        FreeMaterial3ds(&m);
    }
    arena->meshes = CountMeshes3ds(db);
    for (u32_3ds i = 0; i < arena->meshes; ++i) {
        MeshData3ds* m = nullptr;
        FetchMesh3ds(db, i, &m);
        ASSERT_NE(nullptr, m);
        EXPECT_EQ(m->nVertices, m->nTexVerts) << m->name;
        EXPECT_GT(m->nMatGroups, 0) << m->name;
        arena->vertices += m->nVertices;
        for (u32 v = 0; v < m->nVertices; ++v) {
            const float* p = m->vertices + 3 * v;
            arena->min = Vector3(std::min(arena->min.x, p[0]), std::min(arena->min.y, p[1]), std::min(arena->min.z, p[2]));
            arena->max = Vector3(std::max(arena->max.x, p[0]), std::max(arena->max.y, p[1]), std::max(arena->max.z, p[2]));
        }
        if (std::string(m->name) == "FloorUp")
            for (u32 v = 0; v < m->nVertices; ++v) arena->floorTop = std::max(arena->floorTop, m->vertices[3 * v + 2]);
        FreeMesh3ds(&m);
    }
    FreeDatabase3ds(&db);
    CloseChunkFile3ds(file);
    EXPECT_FALSE(errorsPending);
}

TEST_F(DemoContent, ArenaLoadsWithATextureOfEveryKind) {
    Arena arena;
    ReadArena(&arena);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_LT(arena.vertices, 0x10000u);
    EXPECT_GE(arena.meshes, 10u);

    // Materials name texture files of at most 12 characters, one of each
    // image kind, and each decodes.
    std::vector<std::string> kinds;
    for (const std::string& name : arena.textures) {
        EXPECT_LE(name.size(), 12u) << name;
        kinds.push_back(Lower(name.substr(name.rfind('.') + 1)));
        ZVImage image;
        std::string error;
        EXPECT_TRUE(ZVImageLoadFile((kDir + name).c_str(), &image, &error)) << name << ": " << error;
        EXPECT_GT(image.width, 0);
    }
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ((std::vector<std::string>{"bmp", "jpg", "png", "tga"}), kinds);
}

TEST_F(DemoContent, SceneFileSuitsBothPrograms) {
    LogCapture log;
    Config config;
    ASSERT_EQ(S_OK, config.Load(String((kDir + "zvscene.txt").c_str())));
    EXPECT_EQ("", log.log) << "the scene file is read without warnings";

    // The program's own folder is on the search path.
    bool ownFolder = false;
    for (u32 i = 0; i < config.paths.count; ++i) ownFolder |= std::string(config.paths.data[i].c_str()) == ".";
    EXPECT_TRUE(ownFolder);

    EXPECT_EQ(0u, config.adapter);
    EXPECT_EQ(800u, config.width);
    EXPECT_EQ(600u, config.height);
    EXPECT_TRUE(config.windowed);
    EXPECT_GE(config.lights.count, 1u);
    EXPECT_LE(config.lights.count, 8u);

    // The arena first, then at least two opponents; the viewer shows the
    // second model, an animated one.
    ASSERT_GE(config.models.count, 3u);
    EXPECT_EQ("scene.3ds", std::string(config.models.data[0].c_str()));
    for (u32 i = 1; i < config.models.count; ++i) {
        std::string entry = config.models.data[i].c_str();
        EXPECT_NE(std::string::npos, entry.find('?')) << entry << " names a model of a .def file";
        // The viewer turns these models about their own y axis by the heading:
        // only 0 keeps them standing there.
        EXPECT_EQ(0.0f, config.positions.data[i].w) << entry;
    }

    // Placement in the game: the camera and the opponents inside the scene
    // box, the opponents on the floor the game shows.
    Arena arena;
    ReadArena(&arena);
    ASSERT_FALSE(HasFatalFailure());
    SceneBox box = ArenaBox(Vector3(arena.min.x, arena.min.y, arena.min.z), Vector3(arena.max.x, arena.max.y, arena.max.z));
    EXPECT_LT(box.min.x, box.max.x);
    EXPECT_LT(box.min.y, box.max.y);
    EXPECT_LT(box.min.z, box.max.z);
    EXPECT_TRUE(Inside(box, config.eye));
    // The arena is symmetric about its floor, so the game (mirrored) and the
    // viewer (as it is) both see the top of the slab at |floorTop|.
    const float gameFloor = -15.0f * -arena.floorTop - 50.0f;
    for (u32 i = 1; i < config.models.count; ++i) {
        Vector3 p(config.positions.data[i].x, config.positions.data[i].y, config.positions.data[i].z);
        EXPECT_TRUE(Inside(box, p)) << config.models.data[i].c_str();
        EXPECT_NEAR(gameFloor, p.y, 0.5f) << config.models.data[i].c_str();
    }
    // The viewer places the arena itself by its position: its floor top is
    // then where the opponents stand as well.
    EXPECT_NEAR(gameFloor, config.positions.data[0].y + arena.floorTop, 0.01f);
    // The eye sees over the opponents' feet and below their heads.
    EXPECT_GT(config.eye.y, gameFloor + 40.0f);
    EXPECT_LT(config.eye.y, gameFloor + 75.0f);
    for (u32 i = 0; i < config.lights.count; ++i) {
        EXPECT_EQ(1u, config.lights.data[i].Type);
        EXPECT_GT(config.lights.data[i].Position.y, gameFloor);
    }
}

// The roles of the game's opponents and the names that can play them, in
// the order the opponents look for them.
const char* const kRoles[7][3] = {
    {"stop", "sight", "idle"},        {"walk", "run", "combat_walk"},   {"run", "alert_walk", "walk"},
    {"melee_attack", "range_attack", "attack"}, {"pain_head", "pain", "pain"}, {"death", "death", "death"},
    {"getup", "death_getup", "death1_getup"},
};

int FindRole(const ModelMD5Meta& meta, int role) {
    for (const char* candidate : kRoles[role]) {
        const std::string c = candidate;
        for (u32 a = 0; a < meta.vAnimationNames.count; ++a) {
            std::string name = Lower(meta.vAnimationNames.data[a].c_str());
            if (name.substr(0, c.size()) == c) return (int)a;
        }
    }
    return -1;
}

// One joint of an animation frame, relative to its parent.
struct LocalJoint {
    Vector3 pos;
    Quaternion orient;
};

LocalJoint FrameJoint(const ModelMD5Meta::Animation& anim, u32 joint, u32 frame) {
    const ModelMD5Meta::Animation::AnimBone& bone = anim.vAnimBones.data[joint];
    LocalJoint out;
    out.pos = anim.vBasePos.data[joint];
    float q[3] = {anim.vBaseOrient.data[joint].x, anim.vBaseOrient.data[joint].y, anim.vBaseOrient.data[joint].z};
    float p[3] = {out.pos.x, out.pos.y, out.pos.z};
    u32 k = bone.nStartIndex;
    for (int bit = 0; bit < 6; ++bit) {
        if (!(bone.nFlags & (1u << bit))) continue;
        float v = anim.vFrames.data[frame].data[k++];
        if (bit < 3) p[bit] = v;
        else q[bit - 3] = v;
    }
    out.pos = Vector3(p[0], p[1], p[2]);
    out.orient = Quaternion(q[0], q[1], q[2], ModelMD5Meta::UnitQuaternionW(q[0], q[1], q[2]));
    return out;
}

// The model-space vertices of one frame, skinned as the MD5 model does it:
// joints posed parent first, each weight's offset turned and moved by its
// joint.
std::vector<Vector3> SkinFrame(const ModelMD5Meta& meta, const ModelMD5Meta::Animation& anim, u32 frame) {
    std::vector<LocalJoint> pose(meta.vBones.count);
    for (u32 j = 0; j < anim.vAnimBones.count; ++j) {
        i32 b = anim.vAnimBones.data[j].nBone;
        if (b >= 0 && (u32)b < pose.size()) pose[(u32)b] = FrameJoint(anim, j, frame);
    }
    for (u32 i = 0; i < meta.vPoseOrder.count; ++i) {
        u32 j = meta.vPoseOrder.data[i];
        i32 parent = meta.vBones.data[j].nParent;
        if (parent < 0) continue;
        Matrix m;
        m.SetRotationTranslation(pose[(u32)parent].orient, pose[(u32)parent].pos);
        pose[j].pos *= m;
        pose[j].orient *= pose[(u32)parent].orient;
    }
    std::vector<Vector3> out;
    for (u32 v = 0; v < meta.vVertices.count; ++v) {
        const ModelMD5Meta::Vertex& vert = meta.vVertices.data[v];
        Vector3 sum(0, 0, 0);
        for (u32 w = 0; w < vert.nNumInfluences; ++w) {
            const ModelMD5Meta::Influence& inf = meta.vInfluences.data[vert.nFirstInfluence + w];
            Matrix m;
            m.SetRotationTranslation(pose[(u32)inf.nBone].orient, pose[(u32)inf.nBone].pos);
            Vector3 p = inf.vPos;
            p *= m;
            sum = sum + p * inf.fWeight;
        }
        out.push_back(sum);
    }
    return out;
}

TEST_F(DemoContent, OpponentsPlayEveryRole) {
    const char* models[] = {"grunt", "brute"};
    const char* textures[] = {"grunt_d.tga", "brute.tga"};
    // Per animation and frame, the highest vertex of either figure: the
    // figures share their animation files, so each frame's box is made for
    // both.
    std::vector<std::vector<float>> heights(7);
    std::vector<std::vector<float>> tops(7);
    for (int m = 0; m < 2; ++m) {
        SCOPED_TRACE(models[m]);
        LogCapture log;
        FakeGraphics graphics;
        ModelMD5Meta meta;
        ASSERT_EQ(S_OK, meta.Load(String(("opponent.def?" + std::string(models[m])).c_str()), &graphics)) << log.log;
        EXPECT_EQ(std::string::npos, log.log.find("Warning")) << log.log;
        EXPECT_EQ(std::string::npos, log.log.find("Error")) << log.log;
        // The texture is found through the MD5 lookup and decodes.
        ASSERT_EQ(1u, graphics.requested.size());
        EXPECT_EQ(textures[m], graphics.requested[0]);
        ZVImage image;
        EXPECT_TRUE(ZVImageLoadFile((kDir + textures[m]).c_str(), &image, nullptr));

        // One root, at the origin in the bind pose.
        ASSERT_EQ(1u, meta.vRootBones.count);
        const u32 root = (u32)meta.vRootBones.data[0];
        EXPECT_EQ(0.0f, meta.vBones.data[root].vPos.x);
        EXPECT_EQ(0.0f, meta.vBones.data[root].vPos.y);
        EXPECT_EQ(0.0f, meta.vBones.data[root].vPos.z);

        // Seven animations, each role played by its own, in role order.
        ASSERT_EQ(7u, meta.vAnimations.count);
        for (int role = 0; role < 7; ++role) EXPECT_EQ(role, FindRole(meta, role)) << "role " << role;

        for (u32 a = 0; a < meta.vAnimations.count && a < 7; ++a) {
            const ModelMD5Meta::Animation& anim = meta.vAnimations.data[a];
            const std::string name = meta.vAnimationNames.data[a].c_str();
            SCOPED_TRACE(name);
            const u32 frames = anim.vFrames.count;
            EXPECT_GT((float)frames / anim.fFrameRate, 0.3f);
            ASSERT_EQ(2 * frames, anim.vBounds.count);

            // The root joint of the file is the mesh's root.
            u32 animRoot = anim.vAnimBones.count;
            for (u32 j = 0; j < anim.vAnimBones.count; ++j)
                if (anim.vAnimBones.data[j].nBone == (i32)root) animRoot = j;
            ASSERT_LT(animRoot, anim.vAnimBones.count);
            const bool moves = name == "walk" || name == "run";
            float lastX = 0.0f;
            for (u32 f = 0; f < frames; ++f) {
                LocalJoint r = FrameJoint(anim, animRoot, f);
                EXPECT_EQ(0.0f, r.pos.y) << "frame " << f;
                EXPECT_EQ(0.0f, r.pos.z) << "frame " << f;
                EXPECT_NEAR(0.0f, r.orient.x, 1e-6f);
                EXPECT_NEAR(0.0f, r.orient.y, 1e-6f);
                EXPECT_NEAR(0.0f, r.orient.z, 1e-6f);
                if (moves) {
                    // Forward along +x only, never back.
                    EXPECT_GT(r.pos.x, lastX) << "frame " << f;
                    lastX = r.pos.x;
                } else {
                    EXPECT_EQ(0.0f, r.pos.x) << "frame " << f;
                }

                // The frame's box is the opponent's hit box: it holds the mesh.
                const Vector3& mn = anim.vBounds.data[2 * f];
                const Vector3& mx = anim.vBounds.data[2 * f + 1];
                std::vector<Vector3> verts = SkinFrame(meta, anim, f);
                float height = -1e30f;
                for (const Vector3& p : verts) {
                    ASSERT_TRUE(p.x >= mn.x && p.y >= mn.y && p.z >= mn.z && p.x <= mx.x && p.y <= mx.y &&
                                p.z <= mx.z)
                        << "frame " << f << " vertex (" << p.x << ", " << p.y << ", " << p.z << ")";
                    height = std::max(height, p.z);
                }
                if (heights[a].size() <= f) heights[a].resize(f + 1, -1e30f), tops[a].resize(f + 1, 0.0f);
                heights[a][f] = std::max(heights[a][f], height);
                tops[a][f] = mx.z;
            }
            if (moves) {
                EXPECT_GT(lastX, 20.0f);
            }
        }
    }
    // The boxes are not much larger than the figures either.
    for (u32 a = 0; a < heights.size(); ++a)
        for (u32 f = 0; f < heights[a].size(); ++f) EXPECT_LT(tops[a][f] - heights[a][f], 1.0f) << a << " " << f;
}

TEST_F(DemoContent, OpponentsStandTallerThanTheBullets) {
    // Bullets fly 4 above the player's eye; the standing opponent's box
    // must reach that high above the floor it stands on.
    LogCapture log;
    Config config;
    ASSERT_EQ(S_OK, config.Load(String((kDir + "zvscene.txt").c_str())));
    FakeGraphics graphics;
    ModelMD5Meta meta;
    ASSERT_EQ(S_OK, meta.Load(String(config.models.data[1].c_str()), &graphics));
    const ModelMD5Meta::Animation& idle = meta.vAnimations.data[0];
    float top = 1e30f;
    for (u32 f = 0; f < idle.vFrames.count; ++f) top = std::min(top, idle.vBounds.data[2 * f + 1].z);
    EXPECT_GT(config.positions.data[1].y + top, config.eye.y + 10.0f);
}

TEST_F(DemoContent, Cal3DModelLoadsWithTwoAnimations) {
    LogCapture log;
    FakeGraphics graphics;
    ModelCal3DMeta* meta = new ModelCal3DMeta();
    ASSERT_EQ(S_OK, meta->Load(String("totem.cfg"), &graphics)) << log.log;
    EXPECT_EQ(std::string::npos, log.log.find("Warning")) << log.log;
    EXPECT_EQ(3u, meta->vBones.count);
    ASSERT_GE(meta->vAnimations.count, 2u);
    for (u32 a = 0; a < meta->vAnimations.count; ++a) {
        EXPECT_GT(meta->vAnimations.data[a].fDuration, 0.3f);
        EXPECT_EQ(S_OK, ModelCal3DMeta::CheckAnimation("totem", meta->vAnimations.data[a], meta->vBones.count));
    }
    // Both materials textured, both images found beside the description
    // (asked for by their full path), both decode.
    ASSERT_EQ(2u, graphics.requested.size());
    for (const std::string& name : graphics.requested) {
        ZVImage image;
        EXPECT_EQ(0u, name.find(kDir)) << name;
        EXPECT_TRUE(ZVImageLoadFile(name.c_str(), &image, nullptr)) << name;
    }
    meta->Release();
}

}  // namespace
