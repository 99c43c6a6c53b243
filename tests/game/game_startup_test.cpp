// Starting the game inside the test program: the scene file, the models it
// names and what the game makes of them, and the misuses Init and Run
// refuse.
#include "game_support.h"

using namespace gametest;

namespace {

class GameStartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteCommonContent();
        std::remove(SceneFilePath().c_str());
        Paths = Vector<String>();
        ZVTestCaptureLog(&log);
        scene.models = {{"arena.3ds", 0, 0, 0, 0}};
    }
    void TearDown() override {
        ZVTestCaptureLog(nullptr);
        std::remove(SceneFilePath().c_str());
    }
    void WriteScene() { ASSERT_TRUE(zvtools::WriteTextFile(SceneFilePath(), SceneText(scene))); }

    SceneDesc scene;
    std::string log;
};

TEST_F(GameStartupTest, AMissingSceneFileStopsBeforeAnythingIsMade) {
    DeathMatch game;
    EXPECT_EQ(game.Init(), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Skirmora v0.30"));
    EXPECT_TRUE(Contains(log, "Msg : 'Config file loading file; verify that 'zvscene.txt' is in the ExeDir'")) << log;
    EXPECT_FALSE(Contains(log, "Create Core Engine..."));
    EXPECT_EQ(game.pCore, nullptr);
    EXPECT_EQ(Paths.count, 0u);  // the program's folder is taken off the search path again
    // Nothing to close, nothing written.
    const size_t before = log.size();
    EXPECT_EQ(game.Close(), S_FALSE);
    EXPECT_EQ(log.size(), before);
    EXPECT_EQ(game.Run(), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Not initialized. Call Init() before'")) << log;
}

TEST_F(GameStartupTest, ASceneFileWithoutModelsIsRefused) {
    scene.models.clear();
    WriteScene();
    {
        DeathMatch game;
        EXPECT_EQ(game.Init(), ZVE_SUBFUNCTION);
        EXPECT_TRUE(Contains(log, "Msg : 'Put at least one model; it MUST be a 3DS Scene'")) << log;
        EXPECT_FALSE(Contains(log, "Initialisation of Zorvane failed"));
        EXPECT_FALSE(Contains(log, "End Of the App"));  // closed later, by the destructor
    }
    EXPECT_TRUE(Contains(log, "End Of the App; Release..."));
    EXPECT_TRUE(Contains(log, "Zorvane Engine correctly shutdown"));
    EXPECT_FALSE(Contains(log, "not released"));
}

TEST_F(GameStartupTest, AnArenaThatCannotBeLoadedClosesEverything) {
    scene.models = {{"nowhere.3ds", 0, 0, 0, 0}};
    WriteScene();
    DeathMatch game;
    EXPECT_LT(game.Init(), 0);
    EXPECT_TRUE(Contains(log, "Msg : 'Initialisation of Zorvane failed'")) << log;
    EXPECT_EQ(game.pCore, nullptr);
    EXPECT_TRUE(Contains(log, "Graphics Engine correctly shutdown")) << log;
    EXPECT_TRUE(Contains(log, "Zorvane Engine correctly shutdown")) << log;
}

TEST_F(GameStartupTest, AnEntryThatIsNoModelCannotBeAnOpponent) {
    // An image is a font's command: "glyphs.font" makes a font, not a model.
    ASSERT_TRUE(CopyFile(ZV_FONT_IMAGE, DataDir() + "glyphs.font"));
    scene.models.push_back({"glyphs.font", 0, 0, 100, 0});
    WriteScene();
    DeathMatch game;
    EXPECT_LT(game.Init(), 0);
    EXPECT_TRUE(Contains(log, "Model <glyphs.font> : the geometry of the type 'font' is not a model")) << log;
    EXPECT_TRUE(Contains(log, "Msg : 'Initialisation of Zorvane failed'")) << log;
    EXPECT_TRUE(Contains(log, "Graphics Engine correctly shutdown")) << log;
    EXPECT_FALSE(Contains(log, "still alive")) << log;
}

TEST_F(GameStartupTest, ACameraTooFarOutToBeAimedFailsTheStartNamingItsEntry) {
    scene.eye[0] = 1e20f;
    WriteScene();
    DeathMatch game;
    EXPECT_LT(game.Init(), 0);
    EXPECT_TRUE(Contains(log, "\"zvscene.txt\" with eye {1e+20, 10, -400} and lookat {0, 10, 0} cannot be used"))
        << log;
}

TEST_F(GameStartupTest, TheSceneBoxIsTheArenaPlacedAndShrunkBy50) {
    scene.models.push_back({"crate.3ds", 10, -40, 300, 90});
    WriteScene();
    DeathMatch game;
    ASSERT_EQ(game.Init(), S_OK);
    // The arena: x in [-600, 600], z in [-750, 750], y in [-170, 70] (mirrored).
    EXPECT_EQ(game.vSceneMin, Vector3(-550, -120, -700));
    EXPECT_EQ(game.vSceneMax, Vector3(550, 20, 700));
    Vector3 inside(1, 2, 3), outside(-900, 0, 800);
    EXPECT_FALSE(game.IsOutOfScene(&inside));
    EXPECT_TRUE(game.IsOutOfScene(&outside));
    EXPECT_EQ(outside, Vector3(-550, 0, 700));
    // The opponent where the scene file puts it, turned by 90 degrees.
    ASSERT_EQ(game.monsters.count, 1u);
    Matrix world;
    dynamic_cast<IPhyEntity*>(game.monsters.data[0].pModel)->GetWorldMatrix(&world);
    EXPECT_FLOAT_EQ(world._41, 10.0f);
    EXPECT_FLOAT_EQ(world._43, 300.0f);
    EXPECT_NEAR(game.monsters.data[0].fAngle, 1.5707963f, 1e-6f);
    EXPECT_NEAR(world._11, 0.0f, 1e-6f);
    // Init runs once.
    EXPECT_EQ(game.Init(), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Msg : 'Don't call Init() many times'")) << log;
    EXPECT_EQ(game.Close(), S_OK);
    EXPECT_TRUE(Contains(log, "Average FPS == 0.000000")) << log;
}

// The second opponent of one model is a clone made while the first one
// already stands turned at its place: it still starts from the model's own
// axes, with its own heading and position.
TEST_F(GameStartupTest, TwoOpponentsOfOneModelEachStartFromTheModelsAxes) {
    ASSERT_TRUE(WriteMD5Opponent(DataDir(), "figure", {"idle", "walk"}));
    scene.models.push_back({"figure.def?figure", 100, -40, 200, 90});
    scene.models.push_back({"figure.def?figure", -300, -40, 50, -45});
    WriteScene();
    DeathMatch game;
    ASSERT_EQ(game.Init(), S_OK);
    ASSERT_EQ(game.monsters.count, 2u);
    EXPECT_TRUE(Contains(log, "CreateClonedGeometry")) << log;
    // The MD5 model is built in the engine's axes: its own starting world is
    // the identity, followed by the heading.
    Matrix axes;
    axes.SetIdentity();
    const float headings[2] = {1.5707963f, -0.7853982f};
    const float places[2][3] = {{100, -40, 200}, {-300, -40, 50}};
    for (u32 i = 0; i < 2; ++i) {
        Matrix expected, heading;
        heading.SetRotationY(headings[i]);
        expected = axes * heading;
        Matrix world;
        dynamic_cast<IPhyEntity*>(game.monsters.data[i].pModel)->GetWorldMatrix(&world);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(world.m[r][c], expected.m[r][c], 1e-5f) << i << r << c;
        EXPECT_FLOAT_EQ(world._41, places[i][0]);
        EXPECT_FLOAT_EQ(world._42, places[i][1]);
        EXPECT_FLOAT_EQ(world._43, places[i][2]);
    }
}

TEST_F(GameStartupTest, AThinArenaKeepsItsCentreInsteadOfAnInvertedBox) {
    // 2 * 15 * 2 = 60 units high once placed: less than the 100 the margins take.
    ASSERT_TRUE(WriteArena(DataDir() + "flat.3ds", 200, 250, 2, false));
    scene.models = {{"flat.3ds", 0, 0, 0, 0}};
    WriteScene();
    DeathMatch game;
    ASSERT_GE(game.Init(), 0);
    EXPECT_FLOAT_EQ(game.vSceneMin.y, -50.0f);
    EXPECT_FLOAT_EQ(game.vSceneMax.y, -50.0f);
    EXPECT_FLOAT_EQ(game.vSceneMin.x, -550.0f);
    EXPECT_FLOAT_EQ(game.vSceneMax.z, 700.0f);
    EXPECT_TRUE(Contains(log, "The scene is thinner than 100 units along y")) << log;
    EXPECT_FALSE(Contains(log, "along x"));
    Vector3 p(0, 10, 0);
    EXPECT_TRUE(game.IsOutOfScene(&p));
    EXPECT_EQ(p, Vector3(0, -50, 0));
}

}  // namespace
