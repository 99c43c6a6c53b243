// The opponents' state machine on stand-in models: which animation plays
// which role, how they see, turn, run, attack, suffer, die and come back,
// their hit box and their placement.
#include <cmath>

#include "game_fakes.h"

using namespace gamefake;

namespace {

const std::vector<std::string> kAllRoles = {"idle", "walk", "run", "attack", "pain", "death", "getup"};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class MonsterTest : public ::testing::Test {
protected:
    void SetUp() override { ZVTestCaptureLog(&log); }
    void TearDown() override { ZVTestCaptureLog(nullptr); }

    Player::Bullet BulletAt(float x, float y, float z) {
        Player::Bullet b;
        b.vPos = Vector3(x, y, z);
        return b;
    }

    World world;
    std::string log;
};

// --- roles -------------------------------------------------------------------

TEST_F(MonsterTest, RolesTakeTheFirstAnimationBeginningWithACandidateInAnyCase) {
    world.Prepare("a.md5mesh", {"Stop", "Walk_slow", "Run"});
    ASSERT_EQ(world.AddMonster("a.md5mesh", 0, 0, 0, 0), S_OK);
    const Monster& m = world.M(0);
    EXPECT_EQ(m.nAnimIds[ANIM_IDLE], 0);
    EXPECT_EQ(m.nAnimIds[ANIM_WALK], 1);
    EXPECT_EQ(m.nAnimIds[ANIM_RUN], 2);
    for (u32 r = ANIM_ATTACK; r < ANIM_SLOTS; ++r) EXPECT_EQ(m.nAnimIds[r], -1) << r;
    EXPECT_TRUE(Contains(log, "Warning : \"Model <a.md5mesh> : Only 3 animation(s) can be used for AI (over 7 "
                              "required). This means that this Monster will not behave correctly.\""))
        << log;
    // The idle animation becomes the model's default one.
    EXPECT_EQ(world.Model(0)->commands, std::vector<std::string>{"SetDefaultAnimation 0"});
}

TEST_F(MonsterTest, AWalkAnimationRunsOnlyWithoutRunOrAlertWalk) {
    world.Prepare("one.def", {"walk_fast"});
    world.Prepare("two.def", {"walk", "ALERT_walk2", "run"});
    ASSERT_EQ(world.AddMonster("one.def", 0, 0, 0, 0), S_OK);
    ASSERT_EQ(world.AddMonster("two.def", 0, 0, 0, 0), S_OK);
    EXPECT_EQ(world.M(0).nAnimIds[ANIM_WALK], 0);
    EXPECT_EQ(world.M(0).nAnimIds[ANIM_RUN], 0);
    EXPECT_EQ(world.M(1).nAnimIds[ANIM_RUN], 2);  // "run" is the first candidate
    EXPECT_EQ(world.M(1).nAnimIds[ANIM_WALK], 0);
}

TEST_F(MonsterTest, OneUsableRoleWarnsOnlyWhenItIsGetup) {
    world.Prepare("idle.def", {"idle"});
    world.Prepare("getup.def", {"getup"});
    ASSERT_EQ(world.AddMonster("idle.def", 0, 0, 0, 0), S_OK);
    EXPECT_FALSE(Contains(log, "Warning")) << log;
    ASSERT_EQ(world.AddMonster("getup.def", 0, 0, 0, 0), S_OK);
    EXPECT_TRUE(Contains(log, "Model <getup.def> : Only 1 animation(s)")) << log;
}

TEST_F(MonsterTest, TheGeometryTypeComesFromTheEntry) {
    world.Prepare("Models/Grunt.MD5MESH", {});
    world.Prepare("list.def?grunt", {});
    world.Prepare("c:\\x.y\\totem.CFG", {});
    world.Prepare("dir.v2/box.3ds", {});
    world.Prepare("odd.thing", {});
    world.Prepare("noending", {});
    for (const char* entry :
         {"Models/Grunt.MD5MESH", "list.def?grunt", "c:\\x.y\\totem.CFG", "dir.v2/box.3ds", "odd.thing", "noending"})
        EXPECT_EQ(world.AddMonster(entry, 0, 0, 0, 0), S_OK) << entry;
    EXPECT_EQ(world.graphics.types,
              (std::vector<std::string>{"md5", "md5", "cal3d", "3ds", "thing", "noending"}));
    EXPECT_TRUE(world.M(0).bMD5);
    EXPECT_TRUE(world.M(2).bCal3D);
    EXPECT_FALSE(world.M(3).bMD5 || world.M(3).bCal3D);
}

TEST_F(MonsterTest, AGeometryThatIsNoModelIsRefused) {
    world.graphics.plain["glyphs.font"] = true;
    EXPECT_EQ(world.AddMonster("glyphs.font", 0, 0, 0, 0), ZVE_SUBFUNCTION);
    EXPECT_EQ(world.M(0).pModel, nullptr);
    EXPECT_EQ(world.graphics.released, 1);  // the geometry was given back
    EXPECT_TRUE(Contains(log, "Model <glyphs.font> : the geometry of the type 'font' is not a model")) << log;
    // Updates and bullets leave such a monster alone.
    Vector<Player::Bullet> bullets;
    bullets.Add(BulletAt(0, 0, 0));
    EXPECT_EQ(world.M(0).Update(), S_OK);
    EXPECT_EQ(world.M(0).CheckBullets(&bullets), S_OK);
    EXPECT_EQ(bullets.count, 1u);
}

TEST_F(MonsterTest, AModelThatCannotBeMadeFailsInit) {
    EXPECT_EQ(world.AddMonster("missing.def", 0, 0, 0, 0), ZVE_SUBFUNCTION);
    EXPECT_EQ(world.M(0).pModel, nullptr);
    EXPECT_TRUE(Contains(log, "[Monster::Init()] Error")) << log;
}

// --- placement ---------------------------------------------------------------

Matrix Expected(const Matrix& base, float heading, float x, float y, float z) {
    Matrix turn;
    turn.SetRotationY(heading);
    Matrix m = base * turn;
    m._41 = x, m._42 = y, m._43 = z;
    return m;
}

void ExpectMatrixNear(const Matrix& a, const Matrix& b) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(((const float*)&a)[i], ((const float*)&b)[i], 1e-4f) << i;
}

TEST_F(MonsterTest, ClonesStartFromTheModelsBaseNotFromTheFirstOpponent) {
    // A base that turns the model's axes and scales it by 2.
    Matrix base, scale;
    base.SetRotationX(-1.5707964f);
    scale.SetIdentity();
    scale._11 = scale._22 = scale._33 = 2.0f;
    base = base * scale;
    FakeModel* first = world.Prepare("grunt.def", kAllRoles);
    first->world = base;
    ASSERT_EQ(world.AddMonster("grunt.def", 100, -47, 200, 0.5f), S_OK);
    ASSERT_EQ(world.AddMonster("grunt.def", -300, -47, 50, -1.0f), S_OK);
    ASSERT_NE(world.Model(0), world.Model(1));
    ExpectMatrixNear(world.Model(0)->world, Expected(base, 0.5f, 100, -47, 200));
    ExpectMatrixNear(world.Model(1)->world, Expected(base, -1.0f, -300, -47, 50));
    // A turn keeps the base with its scale and the position.
    Matrix w = world.Model(1)->world;
    world.M(1).Turn(&w, 0.25f);
    ExpectMatrixNear(world.Model(1)->world, Expected(base, -0.75f, -300, -47, 50));
    ExpectMatrixNear(w, world.Model(1)->world);
}

TEST_F(MonsterTest, TinyTurnsAreNotApplied) {
    world.Prepare("m.def", kAllRoles);
    ASSERT_EQ(world.AddMonster("m.def", 0, 0, 0, 1.0f), S_OK);
    Matrix w = world.Model(0)->world;
    world.M(0).Turn(&w, 0.00009f);
    world.M(0).Turn(&w, -0.00009f);
    EXPECT_FLOAT_EQ(world.M(0).fAngle, 1.0f);
    world.M(0).Turn(&w, 0.0002f);
    EXPECT_FLOAT_EQ(world.M(0).fAngle, 1.0002f);
}

TEST_F(MonsterTest, AMonsterOutsideTheSceneIsPutBackOnItsBoundary) {
    world.Prepare("m.def", kAllRoles);
    ASSERT_EQ(world.AddMonster("m.def", 2500, 0, -100, 0), S_OK);
    world.M(0).Update();
    EXPECT_FLOAT_EQ(world.Model(0)->world._41, 2000.0f);
    EXPECT_FLOAT_EQ(world.Model(0)->world._43, -100.0f);
}

// --- bullets -----------------------------------------------------------------

TEST_F(MonsterTest, TheHitBoxOfATurnedMonsterHoldsAllItsCorners) {
    world.Prepare("m.def", kAllRoles);
    FakeModel* model = world.graphics.prepared["m.def"];
    model->boxMin = Vector3(-10, 0, -40);
    model->boxMax = Vector3(10, 80, 40);
    // Turned by 45 degrees, the box reaches 35.36 along both x and z.
    ASSERT_EQ(world.AddMonster("m.def", 0, 0, 0, 0.7853982f), S_OK);
    Vector<Player::Bullet> bullets;
    bullets.Add(BulletAt(0, 40, 30));    // inside the turned box (beyond what its two extremes span)
    bullets.Add(BulletAt(0, 40, 36));    // outside
    bullets.Add(BulletAt(30, 90, 0));    // above
    bullets.Add(BulletAt(-35, 0, 0));    // on the floor, inside
    world.M(0).CheckBullets(&bullets);
    ASSERT_EQ(bullets.count, 2u);
    EXPECT_FLOAT_EQ(bullets.data[0].vPos.z, 36.0f);
    EXPECT_FLOAT_EQ(bullets.data[1].vPos.y, 90.0f);
    // Two hits at once: pain after the first, the second one does nothing.
    EXPECT_EQ(world.M(0).nLife, 4);
    EXPECT_EQ(world.M(0).nState, (u32)ANIM_PAIN);
}

TEST_F(MonsterTest, BulletsInsideASufferingMonsterAreRemovedWithoutHarm) {
    world.Prepare("m.def", kAllRoles);
    ASSERT_EQ(world.AddMonster("m.def", 0, 0, 0, 0), S_OK);
    Monster& m = world.M(0);
    for (u32 state : {(u32)ANIM_PAIN, (u32)ANIM_DEATH, (u32)ANIM_GETUP}) {
        m.nState = state;
        Vector<Player::Bullet> bullets;
        bullets.Add(BulletAt(0, 40, 0));
        m.CheckBullets(&bullets);
        EXPECT_EQ(bullets.count, 0u);
        EXPECT_EQ(m.nLife, 5);
        EXPECT_EQ(m.nState, state);
    }
}

// --- the state machine -------------------------------------------------------

// The player far away (beyond 800): an idle monster whose animation ended
// turns by pi/3 and walks; an MD5 walk carries the model by itself.
TEST_F(MonsterTest, AloneItWandersAndStopsRenewingItsWalkAfterFiveCycles) {
    FakeModel* model = world.Prepare("m.def", kAllRoles);
    ASSERT_EQ(world.AddMonster("m.def", 0, 0, 1000, 0), S_OK);
    Monster& m = world.M(0);
    model->playing = -1;  // the idle animation ended
    m.Update();
    EXPECT_EQ(m.nState, (u32)ANIM_WALK);
    EXPECT_NEAR(m.fAngle, 1.0471976f, 1e-6f);
    EXPECT_EQ(model->started.back(), 1);
    for (int cycle = 1; cycle <= 6; ++cycle) {
        model->playing = -1;
        model->started.clear();
        m.Update();
        EXPECT_EQ(m.nState, (u32)ANIM_WALK);
        EXPECT_EQ(model->started.size(), cycle < 5 ? 1u : 0u) << cycle;
    }
    EXPECT_FLOAT_EQ(model->world._43, 1000.0f);  // an MD5 model is not moved by the game
}

TEST_F(MonsterTest, InSightItRunsAtThePlayerAndAttacksAtArmsLength) {
    // A model the game moves itself (not MD5), 500 ahead of the player and
    // facing it (the facing at heading 0 is -z).
    FakeModel* model = world.Prepare("m.3ds", kAllRoles);
    ASSERT_EQ(world.AddMonster("m.3ds", 0, 0, 500, 0), S_OK);
    Monster& m = world.M(0);
    m.Update();
    EXPECT_EQ(m.nState, (u32)ANIM_RUN);
    int updates = 0;
    while (m.nState == ANIM_RUN && updates < 200) {
        m.Update();
        ++updates;
    }
    EXPECT_EQ(m.nState, (u32)ANIM_ATTACK);
    // 71 steps of 5 units from 500 to 145, then the update that finds the
    // player within 150 units.
    EXPECT_EQ(updates, 72);
    EXPECT_NEAR(model->world._43, 145.0f, 1e-3f);
    EXPECT_EQ(world.game.player.nHitsReceived, 0u);
    m.Update();  // the attack still plays
    EXPECT_EQ(world.game.player.nHitsReceived, 0u);
    model->playing = -1;  // the attack animation ended: it hits
    m.Update();
    EXPECT_EQ(world.game.player.nHitsReceived, 1u);
    EXPECT_EQ(m.nState, (u32)ANIM_IDLE);
}

TEST_F(MonsterTest, AnMD5RunIsLeftToItsAnimation) {
    FakeModel* model = world.Prepare("m.def", kAllRoles);
    ASSERT_EQ(world.AddMonster("m.def", 0, 0, 500, 0), S_OK);
    world.M(0).Update();
    world.M(0).Update();
    EXPECT_EQ(world.M(0).nState, (u32)ANIM_RUN);
    EXPECT_FLOAT_EQ(model->world._43, 500.0f);
}

TEST_F(MonsterTest, ItTurnsTowardsThePlayerByAtMostItsTurnStep) {
    world.Prepare("m.def", kAllRoles);
    // The player is straight behind: not in view, half a turn away.
    ASSERT_EQ(world.AddMonster("m.def", 0, 0, 500, 3.14159265f), S_OK);
    world.M(0).Update();
    EXPECT_EQ(world.M(0).nState, (u32)ANIM_IDLE);
    EXPECT_NEAR(std::fabs(world.M(0).fAngle - 3.14159265f), 0.015707964f, 1e-5f);
}

TEST_F(MonsterTest, WithoutAnimationsItHitsEverySecondUpdateWhenClose) {
    world.Prepare("crate.3ds", {});
    ASSERT_EQ(world.AddMonster("crate.3ds", 0, 0, 100, 0), S_OK);
    EXPECT_TRUE(Contains(log, "Only 0 animation(s)")) << log;
    for (int i = 0; i < 10; ++i) world.M(0).Update();
    EXPECT_EQ(world.game.player.nHitsReceived, 5u);
}

// Five hits kill; the kill counts when the death animation has ended; the
// monster comes back once the clock's whole seconds grew by 7 and its getup
// animation has played.
TEST_F(MonsterTest, TheFifthHitKillsAndItComesBackWithItsGetupAnimation) {
    FakeModel* model = world.Prepare("m.def", kAllRoles);
    ASSERT_EQ(world.AddMonster("m.def", 0, 0, 1000, 0), S_OK);
    Monster& m = world.M(0);
    model->playing = 0;
    for (int hit = 1; hit <= 5; ++hit) {
        Vector<Player::Bullet> bullets;
        bullets.Add(BulletAt(0, 40, 1000));
        m.CheckBullets(&bullets);
        EXPECT_EQ(bullets.count, 0u);
        EXPECT_EQ(m.nLife, 5 - hit);
        if (hit < 5) {
            EXPECT_EQ(m.nState, (u32)ANIM_PAIN);
            model->playing = -1;  // the pain animation ended
            m.Update();
            EXPECT_EQ(m.nState, (u32)ANIM_IDLE);
            model->playing = 0;
        }
    }
    EXPECT_EQ(m.nState, (u32)ANIM_DEATH);
    EXPECT_EQ(model->started.back(), 5);
    m.Update();  // still dying
    EXPECT_EQ(world.game.player.nKills, 0u);
    world.core.now = 100.6;
    model->playing = -1;
    m.Update();
    EXPECT_EQ(world.game.player.nKills, 1u);
    EXPECT_EQ(m.nState, (u32)ANIM_GETUP);
    EXPECT_EQ(m.nCounter, 107);
    world.core.now = 106.99;
    model->started.clear();
    m.Update();
    EXPECT_EQ(model->started, std::vector<int>{6});  // held at its start while the time runs
    world.core.now = 107.0;
    m.Update();  // the getup plays
    EXPECT_EQ(m.nState, (u32)ANIM_GETUP);
    model->playing = -1;
    m.Update();
    EXPECT_EQ(m.nState, (u32)ANIM_IDLE);
    EXPECT_EQ(m.nLife, 5);
    EXPECT_EQ(world.game.player.nKills, 1u);
}

TEST_F(MonsterTest, WithoutGetupTheBodyRisesAndSinksBackToItsHeight) {
    FakeModel* model = world.Prepare("m.def", {"idle", "walk", "run", "attack", "pain", "death"});
    ASSERT_EQ(world.AddMonster("m.def", 0, -47, 1000, 0), S_OK);
    Monster& m = world.M(0);
    m.nLife = 1;
    Vector<Player::Bullet> bullets;
    bullets.Add(BulletAt(0, 0, 1000));
    m.CheckBullets(&bullets);
    ASSERT_EQ(m.nState, (u32)ANIM_DEATH);
    model->playing = -1;
    m.Update();
    ASSERT_EQ(m.nState, (u32)ANIM_GETUP);
    EXPECT_EQ(m.nLife, -47);
    for (int i = 0; i < 3; ++i) m.Update();
    EXPECT_FLOAT_EQ(model->world._42, -44.0f);
    world.core.now = 108.0;
    m.Update();
    m.Update();
    EXPECT_FLOAT_EQ(model->world._42, -46.0f);
    EXPECT_EQ(m.nState, (u32)ANIM_GETUP);
    m.Update();
    EXPECT_FLOAT_EQ(model->world._42, -47.0f);
    EXPECT_EQ(m.nState, (u32)ANIM_IDLE);
    EXPECT_EQ(m.nLife, 5);
}

// A height beyond the int range saturates at its end; a clock that is not a
// number gives the time of coming back 0.
TEST_F(MonsterTest, TheComebackHeightAndTimeStayDefinedBeyondTheIntRange) {
    world.game.vSceneMax.y = 4e9f;
    world.Prepare("m.def", {"idle", "death"});
    ASSERT_EQ(world.AddMonster("m.def", 0, 3e9f, 1000, 0), S_OK);
    world.M(0).nState = ANIM_DEATH;
    world.core.now = std::nan("");
    world.M(0).Update();
    EXPECT_EQ(world.M(0).nLife, INT32_MAX);
    EXPECT_EQ(world.M(0).nCounter, 0);
}

}  // namespace
