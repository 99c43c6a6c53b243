// Skirmora played inside the test program: a driver thread presses keys,
// moves and clicks the mouse and closes the window while the game's own
// frame loop runs; the log, the game's counters and its screenshots tell
// what happened.
#include <algorithm>

#include "game_support.h"

using namespace gametest;

namespace {

const char* const kShutdownLines[] = {"Main Loop...",
                                      "Average FPS == ",
                                      "End Of the App; Release...",
                                      "Graphics Engine correctly shutdown",
                                      "Input Engine correctly shutdown",
                                      "Physics Engine correctly shutdown",
                                      "Zorvane Engine correctly shutdown",
                                      "EOF"};

void ExpectInOrder(const std::string& log, const std::vector<std::string>& lines) {
    size_t at = 0;
    for (const std::string& line : lines) {
        const size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
        at = found;
    }
}

void ExpectCleanShutdown(const std::string& log) {
    ExpectInOrder(log, std::vector<std::string>(std::begin(kShutdownLines), std::end(kShutdownLines)));
    EXPECT_FALSE(Contains(log, "not released")) << log;
    EXPECT_FALSE(Contains(log, "still alive")) << log;
    EXPECT_FALSE(Contains(log, "Error : ")) << log;
}

// The help text as the next input tick words it.  The tick of the frame in
// which ESC was pressed stops at ESC, so the text is built once more here,
// after the release of ESC reached the game.
std::string HelpText(GameSession& session) {
    DeathMatch& g = session.game;
    g.pCore->Update(true);
    g.strHelp = "Controls :";
    EXPECT_EQ(g.InputProcess(true), S_OK);
    return g.strHelp.c_str();
}

class GamePlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteCommonContent();
        RemoveScreenshots();
        scene.models = {{"arena.3ds", 0, 0, 0, 0}};
    }
    void TearDown() override {
        std::remove(SceneFilePath().c_str());
        RemoveScreenshots();
    }
    void WriteScene() { ASSERT_TRUE(zvtools::WriteTextFile(SceneFilePath(), SceneText(scene))); }
    // Screenshot n of the frame on screen.
    static void Shoot(Driver& d, int n) {
        d.WaitFrames(2);
        EXPECT_TRUE(d.PressUntil(SDL_SCANCODE_F5, [n] { return FileExists(Screenshot(n)); })) << n;
    }
    static Picture Load(int n) {
        Picture p;
        EXPECT_TRUE(p.Load(Screenshot(n))) << Screenshot(n);
        return p;
    }

    SceneDesc scene;
};

TEST_F(GamePlayTest, EscEndsACleanRunThatReleasesEverything) {
    scene.models.push_back({"crate.3ds", 0, -40, 500, 0});
    WriteScene();
    GameSession session;
    ASSERT_TRUE(session.Play([](Driver& d) {
        d.WaitFrames(5);
        d.Press(SDL_SCANCODE_ESCAPE);
    }));
    EXPECT_EQ(session.initResult, S_OK);
    EXPECT_EQ(session.runResult, S_OK);
    EXPECT_FALSE(session.game.bRunning);
    EXPECT_GE(session.game.nFrames, 5u);
    session.Close();
    ExpectInOrder(session.log, {"Skirmora v0.30", "Create Core Engine...", "Create Graphics Engine...",
                                "Create Physics Engine...", "Create Input Engine...", "Create Geometries..."});
    ExpectCleanShutdown(session.log);
    EXPECT_FALSE(Contains(session.log, "Average FPS == 0.000000")) << session.log;
    EXPECT_FALSE(Contains(session.log, "IInput failed to create all devices"));
    EXPECT_EQ(session.game.pCore, nullptr);
    // A second Close finds nothing to do.
    EXPECT_EQ(session.game.Close(), S_FALSE);
}

TEST_F(GamePlayTest, TheCloseBoxEndsTheGameTheSameWay) {
    scene.models.push_back({"crate.3ds", 0, -40, 500, 0});
    WriteScene();
    GameSession session;
    ASSERT_TRUE(session.Play([](Driver& d) {
        d.WaitFrames(5);
        d.CloseBox();
        d.WaitFrames(3, 5.0);
    }));
    EXPECT_EQ(session.runResult, S_OK);
    EXPECT_TRUE(session.game.bRunning);  // not ended by ESC
    session.Close();
    ExpectCleanShutdown(session.log);
}

TEST_F(GamePlayTest, OneModelPlaysAloneWithNoOpponent) {
    WriteScene();
    GameSession session;
    ASSERT_TRUE(session.Play([](Driver& d) { d.WaitFrames(3); }));
    EXPECT_TRUE(Contains(session.log,
                         "There is NO Opponent in the file 'zvscene.txt' so you will be alone in the Scene\n"));
    EXPECT_EQ(session.game.monsters.count, 0u);
    EXPECT_TRUE(Contains(session.game.strInfos.c_str(), "GamePlay Stats :\nNumOpponents=0\nNumKilledMonsters=0"))
        << session.game.strInfos.c_str();
    session.Close();
    ExpectCleanShutdown(session.log);
}

TEST_F(GamePlayTest, F5SavesTheNextFreeNumberAtTheClientSize) {
    WriteScene();
    // Skirmora_01.bmp is taken already.
    ASSERT_TRUE(zvtools::WriteTextFile(Screenshot(1), "taken"));
    GameSession session;
    ASSERT_TRUE(session.Play([](Driver& d) {
        Shoot(d, 2);
        d.Wait(0.6);  // F5 acts again only after 0.5 s
        Shoot(d, 3);
    }));
    EXPECT_EQ(ReadFile(Screenshot(1)), "taken");
    Picture second = Load(2), third = Load(3);
    EXPECT_EQ(second.width, 320);
    EXPECT_EQ(second.height, 240);
    EXPECT_EQ(third.width, 320);
    EXPECT_FALSE(FileExists(Screenshot(4)));
    // A real frame: the arena fills the picture, not a cleared screen.
    EXPECT_GT(second.Brightness(), 10.0);
    session.Close();
    ExpectCleanShutdown(session.log);
}

TEST_F(GamePlayTest, F1ShowsTheHelpAndF2TheInformation) {
    WriteScene();
    GameSession session;
    bool infosAtStart = false, helpAfterF1 = false, infosAfterF1 = true, infosAfterF2 = false, helpAfterF2 = true;
    ASSERT_TRUE(session.Play([&](Driver& d) {
        DeathMatch& g = session.game;
        infosAtStart = g.bShowInfos;
        d.Toggle(SDL_SCANCODE_R, g.bMoveLight);  // freeze the light for the pictures
        Shoot(d, 1);                             // information
        d.Toggle(SDL_SCANCODE_F1, g.bShowHelp);
        helpAfterF1 = g.bShowHelp;
        infosAfterF1 = g.bShowInfos;
        d.Wait(0.6);
        Shoot(d, 2);  // help
        d.Toggle(SDL_SCANCODE_F2, g.bShowInfos);
        infosAfterF2 = g.bShowInfos;
        helpAfterF2 = g.bShowHelp;
        d.Wait(0.6);
        Shoot(d, 3);  // information again
        d.Wait(0.6);
        d.Toggle(SDL_SCANCODE_F1, g.bShowHelp);
    }));
    EXPECT_TRUE(infosAtStart);
    EXPECT_TRUE(helpAfterF1);
    EXPECT_FALSE(infosAfterF1);
    EXPECT_TRUE(infosAfterF2);
    EXPECT_FALSE(helpAfterF2);
    EXPECT_TRUE(session.game.bShowHelp);  // F1 at the end

    const std::string help = HelpText(session);
    EXPECT_EQ(help,
              "Controls :"
              "\n'F11' to go to FullScreen mode"
              "\n'F5' to take a Screenshot"
              "\n'R' to unfreeze the first Light's movement"
              "\n'L' to switch between lightning code paths"
              "\n'F' to switch between filling modes"
              "\n'V' to draw the Shadow Volume"
              "\n'P' to draw the Possible Silhouette"
              "\nFor the camera : Use the arrow keys and the Mouse\nPress any button to shot and 'Enter' to reset"
              "\n'F2' to show more infos about the Device"
              "\n'F1' to hide this help");

    // The help covers other pixels than the information; the information
    // comes back as it was.
    Picture infos = Load(1), helpShown = Load(2), infosAgain = Load(3);
    // (The frame rate in the information text changes a few digits.)
    const size_t changed = infos.Differences(helpShown), unchanged = infos.Differences(infosAgain);
    EXPECT_GT(changed, 2000u);
    EXPECT_LT(unchanged, 1000u);
    EXPECT_GT(changed, 4 * unchanged);
    session.Close();
    ExpectCleanShutdown(session.log);
}

TEST_F(GamePlayTest, LAndFCycleTheLightingPathsAndFillModes) {
    WriteScene();
    GameSession session;
    std::vector<u32> paths, fills;
    ASSERT_TRUE(session.Play([&](Driver& d) {
        DeathMatch& g = session.game;
        d.Toggle(SDL_SCANCODE_R, g.bMoveLight);
        d.Toggle(SDL_SCANCODE_F2, g.bShowInfos);  // no text over the picture
        paths.push_back(g.nLightningPath);
        int shot = 1;
        Shoot(d, shot++);  // 01: stencil shadows, solid
        for (int i = 0; i < 3; ++i) {
            d.Toggle(SDL_SCANCODE_L, g.nLightningPath);
            paths.push_back(g.nLightningPath);
            d.Wait(0.6);
            Shoot(d, shot++);  // 02: no lighting, 03: simple lighting, 04: stencil shadows again
        }
        fills.push_back(g.nFillMode);
        for (int i = 0; i < 3; ++i) {
            d.Toggle(SDL_SCANCODE_F, g.nFillMode);
            fills.push_back(g.nFillMode);
            d.Wait(0.6);
            Shoot(d, shot++);  // 05: points, 06: wireframe, 07: solid again
        }
    }));
    EXPECT_EQ(paths, (std::vector<u32>{3, 1, 2, 3}));
    EXPECT_EQ(fills, (std::vector<u32>{3, 1, 2, 3}));

    Picture shadows = Load(1), unlit = Load(2), lit = Load(3), shadowsAgain = Load(4);
    Picture points = Load(5), wires = Load(6), solid = Load(7);
    const size_t all = (size_t)shadows.width * shadows.height;
    EXPECT_GT(shadows.Differences(unlit), all / 10);
    EXPECT_GT(unlit.Differences(lit), all / 10);
    EXPECT_GT(lit.Differences(shadows), 200u);  // the pillar's shadow
    EXPECT_LT(shadows.Differences(shadowsAgain), all / 100);
    // Points and wires leave most of the picture cleared; solid fills it.
    EXPECT_GT(solid.Differences(points), all / 2);
    EXPECT_GT(solid.Differences(wires), all / 2);
    EXPECT_GT(points.Differences(wires), 100u);
    EXPECT_LT(solid.Differences(shadows), all / 100);
    EXPECT_LT(points.Brightness(), solid.Brightness());
    session.Close();
    ExpectCleanShutdown(session.log);
}

TEST_F(GamePlayTest, VAndPShowTheShadowDebugViews) {
    WriteScene();
    GameSession session;
    bool volume = false, silhouette = false;
    ASSERT_TRUE(session.Play([&](Driver& d) {
        DeathMatch& g = session.game;
        d.Toggle(SDL_SCANCODE_R, g.bMoveLight);
        d.Toggle(SDL_SCANCODE_F2, g.bShowInfos);
        Shoot(d, 1);  // plain
        d.Toggle(SDL_SCANCODE_V, g.bShowShadowVolume);
        volume = g.bShowShadowVolume;
        d.Wait(0.6);
        Shoot(d, 2);  // volumes
        d.Toggle(SDL_SCANCODE_V, g.bShowShadowVolume);
        d.Toggle(SDL_SCANCODE_P, g.bShowSilhouette);
        silhouette = g.bShowSilhouette && !g.bShowShadowVolume;
        d.Wait(0.6);
        Shoot(d, 3);  // silhouettes
    }));
    EXPECT_TRUE(volume);
    EXPECT_TRUE(silhouette);
    const std::string help = HelpText(session);
    EXPECT_TRUE(Contains(help, "\n'V' to draw the Shadow Volume")) << help;
    EXPECT_TRUE(Contains(help, "\n'P' to not draw the Possible Silhouette")) << help;
    Picture plain = Load(1), volumes = Load(2), edges = Load(3);
    EXPECT_GT(plain.Differences(volumes), 200u);
    EXPECT_GT(plain.Differences(edges), 50u);
    EXPECT_GT(volumes.Differences(edges), 50u);
    session.Close();
    ExpectCleanShutdown(session.log);
}

TEST_F(GamePlayTest, HoldingFireShootsOneBulletEveryFourTenthsOfASecond) {
    WriteScene();
    GameSession session;
    ASSERT_TRUE(session.Play([](Driver& d) {
        d.ButtonDown();
        d.Wait(2.1);
        d.ButtonUp();
        d.WaitFrames(2);
    }));
    const u32 shots = session.game.player.nShots;
    EXPECT_GE(shots, 4u);
    EXPECT_LE(shots, 6u);
    const std::string stats = session.game.strInfos.c_str();
    EXPECT_TRUE(Contains(stats, "\nNumShotBullets=" + std::to_string(shots))) << stats;
    session.Close();
}

TEST_F(GamePlayTest, AnOpponentAheadIsKilledAndComesBack) {
    // Further than the sight distance: the crate only turns on the spot.
    scene.models.push_back({"crate.3ds", 0, -40, 450, 0});
    WriteScene();
    GameSession session;
    u32 killsWhileDead = 0;
    bool cameBack = false;
    ASSERT_TRUE(session.Play(
        [&](Driver& d) {
            DeathMatch& g = session.game;
            Monster& crate = g.monsters.data[0];
            d.ButtonDown();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (d.Running() && crate.nState != ANIM_GETUP && std::chrono::steady_clock::now() < deadline)
                d.Wait(0.05);
            d.ButtonUp();
            killsWhileDead = g.player.nKills;
            while (d.Running() && !(crate.nState != ANIM_GETUP && crate.nLife == 5) &&
                   std::chrono::steady_clock::now() < deadline + std::chrono::seconds(25))
                d.Wait(0.05);
            cameBack = crate.nState != ANIM_GETUP && crate.nLife == 5;
            d.WaitFrames(2);
        },
        90.0));
    EXPECT_EQ(killsWhileDead, 1u);
    EXPECT_TRUE(cameBack);
    DeathMatch& g = session.game;
    EXPECT_EQ(g.player.nKills, 1u);
    EXPECT_GE(g.player.nShots, 5u);
    // Back on its feet where it stood.
    Matrix world;
    dynamic_cast<IPhyEntity*>(g.monsters.data[0].pModel)->GetWorldMatrix(&world);
    EXPECT_FLOAT_EQ(world._42, -40.0f);
    EXPECT_FLOAT_EQ(world._43, 450.0f);
    EXPECT_TRUE(Contains(g.strInfos.c_str(), "\nNumKilledMonsters=1\n")) << g.strInfos.c_str();
    session.Close();
    ExpectCleanShutdown(session.log);
}

// An animated opponent: pain, death and getup animations play, the kill
// counts when the death has played, and it stands up again after about 7 s.
TEST_F(GamePlayTest, AnAnimatedOpponentAheadDiesAndGetsUp) {
    ASSERT_TRUE(WriteMD5Opponent(DataDir(), "figure", {"idle", "walk", "run", "attack", "pain", "death", "getup"}));
    scene.models.push_back({"figure.def?figure", 0, -40, 450, 0});
    WriteScene();
    GameSession session;
    u32 killsWhenDown = 0;
    bool cameBack = false;
    std::vector<u32> states;
    ASSERT_TRUE(session.Play(
        [&](Driver& d) {
            DeathMatch& g = session.game;
            Monster& figure = g.monsters.data[0];
            auto state = [&] { return __atomic_load_n(&figure.nState, __ATOMIC_RELAXED); };
            auto note = [&] {
                const u32 s = state();
                if (states.empty() || states.back() != s) states.push_back(s);
            };
            d.ButtonDown();
            const auto start = std::chrono::steady_clock::now();
            while (d.Running() && state() != ANIM_GETUP && std::chrono::steady_clock::now() < start + std::chrono::seconds(30)) {
                note();
                d.Wait(0.002);
            }
            d.ButtonUp();
            note();
            killsWhenDown = g.player.nKills;
            while (d.Running() && state() == ANIM_GETUP &&
                   std::chrono::steady_clock::now() < start + std::chrono::seconds(60))
                d.Wait(0.01);
            note();
            cameBack = state() != ANIM_GETUP && figure.nLife == 5;
            d.WaitFrames(2);
        },
        120.0));
    EXPECT_EQ(killsWhenDown, 1u);
    EXPECT_TRUE(cameBack);
    // It suffered, died, waited and came back.
    auto seen = [&](u32 s) { return std::find(states.begin(), states.end(), s) != states.end(); };
    EXPECT_TRUE(seen(ANIM_PAIN));
    EXPECT_TRUE(seen(ANIM_DEATH));
    EXPECT_TRUE(seen(ANIM_GETUP));
    EXPECT_EQ(session.game.monsters.data[0].nAnimIds[ANIM_GETUP], 6);
    EXPECT_FALSE(Contains(session.log, "animation(s) can be used for AI")) << session.log;
    session.Close();
    ExpectCleanShutdown(session.log);
}

TEST_F(GamePlayTest, AnOpponentAtArmsLengthHitsThePlayer) {
    scene.models.push_back({"crate.3ds", 0, -40, -300, 0});
    WriteScene();
    GameSession session;
    ASSERT_TRUE(session.Play([](Driver& d) { d.WaitFrames(12); }));
    // A crate has no attack animation: every second update is a hit.
    EXPECT_GE(session.game.player.nHitsReceived, 5u);
    EXPECT_LE(session.game.player.nHitsReceived, session.game.nFrames / 2 + 1);
    EXPECT_TRUE(Contains(session.game.strInfos.c_str(), "\nNumReceivedHits=")) << session.game.strInfos.c_str();
    session.Close();
}

TEST_F(GamePlayTest, TheArrowKeysWalkAtEyeHeightInsideTheScene) {
    WriteScene();
    GameSession session;
    Vector3 afterWalk, afterReset;
    ASSERT_TRUE(session.Play([&](Driver& d) {
        DeathMatch& g = session.game;
        d.Motion(0, -30);  // look up a little
        d.WaitFrames(2);
        d.KeyDown(SDL_SCANCODE_UP);
        d.Wait(3.0);  // 400 units per second: far beyond the arena's far wall
        d.KeyUp(SDL_SCANCODE_UP);
        d.WaitFrames(2);
        afterWalk = g.player.vEye;
        d.PressUntil(SDL_SCANCODE_RETURN, [&] { return *(volatile float*)&g.player.vEye.z < 0.0f; });
        afterReset = g.player.vEye;
    }));
    EXPECT_FLOAT_EQ(afterWalk.y, 10.0f);
    EXPECT_FLOAT_EQ(afterWalk.z, 700.0f);  // held at the scene box
    EXPECT_NEAR(afterWalk.x, 0.0f, 1.0f);
    EXPECT_FLOAT_EQ(afterReset.z, -400.0f);
    session.Close();
}

}  // namespace

namespace {

TEST_F(GamePlayTest, F11SwitchesToFullScreenAndBackNoSoonerThanThreeSecondsLater) {
    WriteScene();
    GameSession session;
    bool full = false, windowedAgain = false;
    double heldFor = 0.0;
    ASSERT_TRUE(session.Play([&](Driver& d) {
        DeathMatch& g = session.game;
        auto windowed = [&] { return *(volatile bool*)&g.bWindowed; };
        // F11 held down: the mode changes at once, and once more 3 s later.
        d.KeyDown(SDL_SCANCODE_F11);
        const auto start = std::chrono::steady_clock::now();
        while (d.Running() && windowed() && std::chrono::steady_clock::now() < start + std::chrono::seconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        full = !windowed();
        const auto first = std::chrono::steady_clock::now();
        windowedAgain = d.PressUntil(SDL_SCANCODE_F11, windowed, 30.0);
        heldFor = std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
    }));
    EXPECT_TRUE(full);
    EXPECT_TRUE(windowedAgain);
    EXPECT_GE(heldFor, 2.9);
    EXPECT_TRUE(session.game.pGraphics->IsWindowed());
    const std::string help = HelpText(session);
    EXPECT_TRUE(Contains(help, "\n'F11' to go to FullScreen mode")) << help;
    session.Close();
    ExpectCleanShutdown(session.log);
}

}  // namespace
