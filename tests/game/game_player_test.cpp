// The player on stand-in managers: walking, strafing, turning, looking up
// and down, shooting, the reset and the bullets in flight.
#include <cmath>
#include <cstring>

#include "game_fakes.h"

using namespace gamefake;

namespace {

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(keys, 0, sizeof keys);
        std::memset(&mouse, 0, sizeof mouse);
        // Far from the clock values of other tests: the shot and input
        // clocks are process-wide.
        static double base = 10000.0;
        base += 1000.0;
        world.core.now = base;
        ASSERT_EQ(player().Init(&world.game, &world.graphics, nullptr, Vector3(0, 10, 0), Vector3(0, 10, 50)), S_OK);
        Step(0.0);  // starts the input clock
    }
    Player& player() { return world.game.player; }
    HRESULT Step(double seconds) {
        world.core.now += seconds;
        return player().ProcessInput(keys, &mouse);
    }
    Vector3 Dir() { return player().vLookAt - player().vEye; }
    float Heading() {
        const Vector3 d = Dir();
        return std::atan2(d.x, d.z);
    }

    World world;
    u8 keys[256];
    DIMOUSESTATE mouse;
};

TEST_F(PlayerTest, InitLooksOneUnitAlongTheViewOrAlongZWhenEyeAndTargetMeet) {
    EXPECT_FLOAT_EQ(player().vLookAt.z, 1.0f);
    EXPECT_EQ(player().Init(&world.game, &world.graphics, nullptr, Vector3(1, 2, 3), Vector3(1, 2, 3)), S_OK);
    EXPECT_FLOAT_EQ(player().vLookAt.x, 1.0f);
    EXPECT_FLOAT_EQ(player().vLookAt.y, 2.0f);
    EXPECT_FLOAT_EQ(player().vLookAt.z, 4.0f);
    EXPECT_FLOAT_EQ(world.graphics.cameraAt.z, 4.0f);
    world.graphics.cameraResult = E_FAIL;
    EXPECT_EQ(player().Init(&world.game, &world.graphics, nullptr, Vector3(1, 2, 3), Vector3(0, 0, 0)), E_FAIL);
    EXPECT_EQ(Step(0.1), E_FAIL);  // the camera call's result
}

TEST_F(PlayerTest, ArrowKeysWalkAndStrafeAt400UnitsPerSecond) {
    keys[DIK_UP] = 0x80;
    Step(0.5);
    EXPECT_FLOAT_EQ(player().vEye.z, 200.0f);
    keys[DIK_UP] = 0;
    keys[DIK_RIGHT] = 0x80;
    Step(0.25);
    EXPECT_FLOAT_EQ(player().vEye.x, 100.0f);
    EXPECT_FLOAT_EQ(player().vLookAt.z, 201.0f);
    // Both keys of an axis together: no movement along it.
    keys[DIK_LEFT] = keys[DIK_UP] = keys[DIK_DOWN] = 0x80;
    Step(0.5);
    EXPECT_FLOAT_EQ(player().vEye.x, 100.0f);
    EXPECT_FLOAT_EQ(player().vEye.z, 200.0f);
}

TEST_F(PlayerTest, OnlyTheSignOfTheMouseMotionTurns) {
    mouse.lX = 1;
    Step(0.5);
    const float first = Heading();
    mouse.lX = 100;
    Step(0.5);
    const float second = Heading();
    EXPECT_NEAR(first, 0.4f, 1e-4f);  // 0.8 radians per second
    EXPECT_NEAR(second - first, 0.4f, 1e-4f);
    mouse.lX = -7;
    Step(0.25);
    EXPECT_NEAR(Heading(), 0.6f, 1e-4f);
    EXPECT_NEAR(Dir().Length(), 1.0, 1e-5);
}

TEST_F(PlayerTest, WalkingWhileLookingUpKeepsTheEyeHeightAndTheView) {
    mouse.lY = -5;  // looking up
    Step(0.5);
    const Vector3 dir = Dir();
    EXPECT_GT(dir.y, 0.3f);
    // The player's up tilts with the view and stays square to it.
    EXPECT_LT(player().vUp.z, -0.3f);
    EXPECT_NEAR(player().vUp.Dot(dir), 0.0, 1e-5);
    EXPECT_FLOAT_EQ(world.graphics.cameraUp.y, 1.0f);  // the camera's does not
    mouse.lY = 0;
    keys[DIK_UP] = 0x80;
    Step(0.5);
    EXPECT_FLOAT_EQ(player().vEye.y, 10.0f);
    EXPECT_GT(player().vEye.z, 100.0f);
    const Vector3 after = Dir();
    EXPECT_NEAR(after.x, dir.x, 1e-5f);
    EXPECT_NEAR(after.y, dir.y, 1e-5f);
    EXPECT_NEAR(after.z, dir.z, 1e-5f);
}

TEST_F(PlayerTest, EnterGoesBackToTheStart) {
    keys[DIK_UP] = keys[DIK_RIGHT] = 0x80;
    mouse.lX = 3;
    mouse.lY = 3;
    Step(0.5);
    std::memset(keys, 0, sizeof keys);
    std::memset(&mouse, 0, sizeof mouse);
    keys[DIK_NUMPADENTER] = 0x80;
    Step(0.1);
    EXPECT_EQ(player().vEye, Vector3(0, 10, 0));
    EXPECT_EQ(player().vLookAt, Vector3(0, 10, 1));
    EXPECT_EQ(player().vUp, Vector3(0, 1, 0));
}

TEST_F(PlayerTest, TheEyeStaysInsideTheSceneBox) {
    keys[DIK_LEFT] = 0x80;
    Step(10.0);
    EXPECT_FLOAT_EQ(player().vEye.x, -2000.0f);
}

TEST_F(PlayerTest, HoldingAButtonShootsEveryFourTenthsOfASecondAtMost) {
    mouse.rgbButtons[2] = 0x80;
    Step(0.0);
    ASSERT_EQ(player().bullets.count, 1u);
    const Player::Bullet& b = player().bullets.data[0];
    // 20 ahead, 4 to the left and 4 up of the eye, 50 per frame.
    EXPECT_NEAR(b.vPos.x, -4.0f, 1e-4f);
    EXPECT_NEAR(b.vPos.y, 14.0f, 1e-4f);
    EXPECT_NEAR(b.vPos.z, 20.0f, 1e-4f);
    EXPECT_NEAR(b.vSpeed.z, 50.0f, 1e-4f);
    for (int i = 0; i < 10; ++i) Step(0.1);  // a shot at +0.5 and at +1.0
    EXPECT_EQ(player().nShots, 3u);
    EXPECT_EQ(player().bullets.count, 3u);
}

TEST_F(PlayerTest, BulletsFlyUntilTheyLeaveTheSceneBox) {
    Player::Bullet near, far;
    near.vPos = Vector3(0, 10, 1900);
    far.vPos = Vector3(0, 10, 1960);
    near.vSpeed = far.vSpeed = Vector3(0, 0, 50);
    player().bullets.Add(far);
    player().bullets.Add(near);
    EXPECT_EQ(player().Update(), S_OK);
    ASSERT_EQ(player().bullets.count, 1u);
    EXPECT_FLOAT_EQ(player().bullets.data[0].vPos.z, 1950.0f);
    player().Update();
    EXPECT_FLOAT_EQ(player().bullets.data[0].vPos.z, 2000.0f);  // on the face: still inside
    player().Update();
    EXPECT_EQ(player().bullets.count, 0u);
}

TEST_F(PlayerTest, OpponentsTakeTheBulletsThatHitThem) {
    world.Prepare("m.def", {"idle"});
    ASSERT_EQ(world.AddMonster("m.def", 0, 0, 300, 0), S_OK);
    Player::Bullet b;
    b.vPos = Vector3(0, 40, 260);
    b.vSpeed = Vector3(0, 0, 50);
    player().bullets.Add(b);
    player().Update();
    EXPECT_EQ(player().bullets.count, 0u);
    EXPECT_EQ(world.M(0).nLife, 4);
}

}  // namespace
