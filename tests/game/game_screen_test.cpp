// The game's screen: every text it queues fits an 800 x 600 window, the
// camera reset works when the scene file's eye and target meet, and a
// negative resolution is refused before a window is made.
#include "game_support.h"
#include "text_fit_support.h"

using namespace gametest;

namespace {

class GameScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteCommonContent();
        scene.models = {{"arena.3ds", 0, 0, 0, 0}, {"crate.3ds", 0, 0, 300, 0}};
    }
    void TearDown() override { std::remove(SceneFilePath().c_str()); }
    void WriteScene() { ASSERT_TRUE(zvtools::WriteTextFile(SceneFilePath(), SceneText(scene))); }

    SceneDesc scene;
};

TEST_F(GameScreenTest, EveryQueuedTextFitsAnEightHundredBySixHundredWindow) {
    scene.width = 800;
    scene.height = 600;
    WriteScene();
    // A few frames of play first: they make the frame-rate line.
    GameSession session;
    ASSERT_TRUE(session.Play([](Driver& d) { d.WaitFrames(3); })) << session.log;
    DeathMatch& game = session.game;
    DisplaySettings mode;
    ASSERT_GE(game.pGraphics->GetScreenMode(&mode), 0);
    ASSERT_EQ(mode.nWidth, 800u);
    ASSERT_EQ(mode.nHeight, 600u);
    Font* font = dynamic_cast<Font*>(game.pFont);
    ASSERT_NE(font, nullptr);
    auto measureAndDraw = [&]() {
        const u32 texts = textfit::ExpectQueuedTextsFit(font, mode.nWidth, mode.nHeight);
        EXPECT_EQ(game.pGraphics->UpdateAndRender(0.0f), S_OK) << session.log;
        return texts;
    };

    // The loading screen, windowed: title, "Loading ...", the warning, the notice.
    game.DrawLoadingScreen();
    EXPECT_EQ(measureAndDraw(), 4u) << textfit::QueuedTexts(font);

    // The frame's texts with the help, with the information (large
    // counters and frame rates included), and with neither.
    game.pCore->Update(true);  // the release of the ESC that ended the play
    game.strHelp = "Controls :";
    ASSERT_EQ(game.InputProcess(true), S_OK);
    game.player.nKills = game.player.nHitsReceived = game.player.nShots = 4294967295u;
    const bool states[3][2] = {{false, true}, {true, false}, {false, false}};  // infos, help
    for (const auto& state : states) {
        game.bShowInfos = state[0];
        game.bShowHelp = state[1];
        for (float fps : {0.0f, 60.0f, 99999.99f}) {
            game.DrawTexts(DeathMatch::Banner(), fps);
            const std::string queued = textfit::QueuedTexts(font);
            EXPECT_GE(measureAndDraw(), 3u) << queued;
            EXPECT_TRUE(Contains(queued, "ZV FPS=")) << queued;
            if (state[1]) {
                EXPECT_TRUE(Contains(queued, "'F1' to hide this help")) << queued;
            }
            if (state[0]) {
                EXPECT_TRUE(Contains(queued, "NumShotBullets=4294967295")) << queued;
            }
        }
    }
    // Worded to fit, not cut: the help, the banner and the statistics are whole.
    game.bShowInfos = false;
    game.bShowHelp = true;
    game.DrawTexts(DeathMatch::Banner(), 60.0f);
    EXPECT_EQ(font->vText2D.data[1].strText, game.strHelp);
    EXPECT_EQ(font->vText2D.data[2].strText, DeathMatch::Banner());
    EXPECT_GE(game.pGraphics->UpdateAndRender(0.0f), 0);
    game.Close();
    EXPECT_FALSE(Contains(session.log, "Invalid Call/Param")) << session.log;
}

// The eye on the look-at point: Enter (the camera reset) looks along z, as
// the start did, and the game goes on.
TEST_F(GameScreenTest, TheCameraResetWorksWhenEyeAndTargetMeet) {
    scene.eye[0] = scene.lookAt[0] = 0;
    scene.eye[1] = scene.lookAt[1] = 10;
    scene.eye[2] = scene.lookAt[2] = -100;
    WriteScene();
    GameSession session;
    Vector3 eye, at;
    ASSERT_TRUE(session.Play([&](Driver& d) {
        d.KeyDown(SDL_SCANCODE_RETURN);
        d.WaitFrames(3);
        d.KeyUp(SDL_SCANCODE_RETURN);
        d.WaitFrames(2);
    })) << session.log;
    EXPECT_EQ(session.runResult, S_OK);
    EXPECT_FALSE(Contains(session.log, "Error in the Main Loop")) << session.log;
    EXPECT_FALSE(Contains(session.log, "Invalid Call/Param")) << session.log;
    Vector3 up;
    ASSERT_GE(session.game.pGraphics->GetCamera(&eye, &at, &up), 0);
    EXPECT_EQ(eye, Vector3(0, 10, -100));
    EXPECT_EQ(at, Vector3(0, 10, -99));
    session.Close();
}

TEST_F(GameScreenTest, ANegativeResolutionIsRefusedBeforeTheWindowIsMade) {
    scene.width = -1;
    scene.height = -1;
    WriteScene();
    GameSession session;
    EXPECT_EQ(session.game.Init(), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(session.log, "The display resolution -1x-1 is negative")) << session.log;
    EXPECT_FALSE(Contains(session.log, "Create Core Engine...")) << session.log;
    EXPECT_EQ(session.game.pCore, nullptr);
}

}  // namespace
