// One input tick of the viewer: numeric-pad animations with Shift and
// Control, the toggles and their delays, the help text, the camera keys and
// mouse, ESC, screenshots and the animation chooser (F7).
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "viewer_support.h"
#include "zvimage.h"

using namespace viewertest;

namespace {

class ViewerInputTest : public ViewerTest {
protected:
    void Started(const char* model = "figure.zvt") {
        ASSERT_GE(Start(model), 0) << log;
        Pump();
        ASSERT_EQ(GetForegroundWindow(), Window());
    }
    // Toggle keys act at most once per 0.5 s.
    static void WaitToggleDelay() { std::this_thread::sleep_for(std::chrono::milliseconds(520)); }
    std::vector<u32>& Requested() { return Models().requested; }
};

TEST_F(ViewerInputTest, NumPadRequestsAnimationsWithShiftAndControl) {
    Models().numAnimations = 34;
    Started();
    viewer->strHelp = "Controls :";
    EXPECT_EQ(Tap({DIK_NUMPAD3}), S_OK);
    EXPECT_EQ(Tap({DIK_NUMPAD3, DIK_LSHIFT}), S_OK);
    EXPECT_EQ(Tap({DIK_NUMPAD3, DIK_RCONTROL}), S_OK);
    EXPECT_EQ(Tap({DIK_NUMPAD3, DIK_RSHIFT, DIK_LCONTROL}), S_OK);
    // Two digits: the highest wins.
    EXPECT_EQ(Tap({DIK_NUMPAD7, DIK_NUMPAD2}), S_OK);
    EXPECT_EQ(Tap({DIK_NUMPAD0}), S_OK);
    // Shift alone requests nothing.
    EXPECT_EQ(Tap({DIK_LSHIFT}), S_OK);
    EXPECT_EQ(Requested(), (std::vector<u32>{3, 13, 23, 33, 7, 0}));
    EXPECT_TRUE(Contains(viewer->strHelp.c_str(),
                         "Controls :\nUse NumPad i=[0-9] to active animations\n (press SHIFT for [10-19], "
                         "CTRL=[20-29], both=[30-39])\n'F11' to go to FullScreen mode"))
        << viewer->strHelp.c_str();

    // A held key asks again on every tick, without delay.
    Requested().clear();
    Key(DIK_NUMPAD4, true);
    viewer->InputProcess();
    viewer->InputProcess();
    Key(DIK_NUMPAD4, false);
    viewer->InputProcess();
    EXPECT_EQ(Requested(), (std::vector<u32>{4, 4}));
}

TEST_F(ViewerInputTest, AnimationsBeyondTheModelsCountAreNotRequested) {
    Models().numAnimations = 33;
    Started();
    Tap({DIK_NUMPAD3, DIK_LSHIFT, DIK_LCONTROL});  // 33: one too many
    Tap({DIK_NUMPAD9, DIK_LSHIFT, DIK_LCONTROL});  // 39
    Tap({DIK_NUMPAD2, DIK_LSHIFT, DIK_LCONTROL});  // 32: the last one
    EXPECT_EQ(Requested(), (std::vector<u32>{32}));
}

TEST_F(ViewerInputTest, TogglesFlipOncePerDelayAndWordTheHelp) {
    Started();
    viewer->strHelp = "Controls :";
    Tap({DIK_SPACE, DIK_R, DIK_L, DIK_F, DIK_V});
    EXPECT_TRUE(viewer->bFreeModel);
    EXPECT_FALSE(viewer->bMoveLight);
    EXPECT_EQ(viewer->nLightningPath, 1u);
    EXPECT_EQ(viewer->nFillMode, 1u);
    EXPECT_TRUE(viewer->bShowShadowVolume);
    std::string help = viewer->strHelp.c_str();
    EXPECT_TRUE(Contains(help,
                         "\n'F7' to load an animation (for MD5, in Windowed Mode)\n'F5' to take a Screenshot\n"
                         "'Space' to fix the model at the same place\n'R' to unfreeze the first Light's movement\n"
                         "'L' to switch between lightning code paths\n'F' to switch between filling modes\n"
                         "'V' to not draw the Shadow Volume\n'P' to draw the Possible Silhouette\n"
                         "For the camera : Use the arrow keys and the Mouse\nPress the left button to move and the "
                         "right to reset\n'F2' to show more infos about the Device\n'F1' to hide this help"))
        << help;

    // Within the delay nothing flips again.
    Tap({DIK_SPACE, DIK_R, DIK_L, DIK_F, DIK_V});
    EXPECT_TRUE(viewer->bFreeModel);
    EXPECT_EQ(viewer->nLightningPath, 1u);

    // L and F step 3, 1, 2, 3, 1.
    for (u32 expected : {2u, 3u, 1u}) {
        WaitToggleDelay();
        Tap({DIK_L, DIK_F});
        EXPECT_EQ(viewer->nLightningPath, expected);
        EXPECT_EQ(viewer->nFillMode, expected);
    }
    viewer->strHelp = "";
    Tap({DIK_SPACE, DIK_R, DIK_P});
    EXPECT_FALSE(viewer->bFreeModel);
    EXPECT_TRUE(viewer->bMoveLight);
    EXPECT_TRUE(viewer->bShowSilhouette);
    help = viewer->strHelp.c_str();
    EXPECT_TRUE(Contains(help, "'Space' to let animations move the model\n'R' to freeze the first Light's movement"))
        << help;
    EXPECT_TRUE(Contains(help, "'P' to not draw the Possible Silhouette")) << help;
}

TEST_F(ViewerInputTest, HelpAndInfosExcludeEachOther) {
    Started();
    EXPECT_TRUE(viewer->bShowInfos);
    EXPECT_FALSE(viewer->bShowHelp);
    Tap({DIK_F1});
    EXPECT_TRUE(viewer->bShowHelp);
    EXPECT_FALSE(viewer->bShowInfos);
    Tap({DIK_F2});
    EXPECT_TRUE(viewer->bShowInfos);
    EXPECT_FALSE(viewer->bShowHelp);
    WaitToggleDelay();
    Tap({DIK_F2});
    EXPECT_FALSE(viewer->bShowInfos);
    EXPECT_FALSE(viewer->bShowHelp);
}

TEST_F(ViewerInputTest, EscapeStopsTheLoop) {
    Started();
    EXPECT_EQ(Tap({DIK_ESCAPE, DIK_NUMPAD1}), S_FALSE);
    EXPECT_FALSE(viewer->bRunning);
    EXPECT_TRUE(Requested().empty());
}

TEST_F(ViewerInputTest, CameraKeysMoveAndTheTextFollows) {
    Started();
    Tap({DIK_UP});
    EXPECT_FLOAT_EQ(viewer->vEye.z, -30.0f);
    EXPECT_FLOAT_EQ(viewer->vLookAt.z, -29.0f);
    Tap({DIK_UP, DIK_DOWN});  // both: no move
    EXPECT_FLOAT_EQ(viewer->vEye.z, -30.0f);
    Tap({DIK_RIGHT});
    EXPECT_FLOAT_EQ(viewer->vEye.x, 10.0f);
    Tap({DIK_LEFT, DIK_RIGHT});
    EXPECT_FLOAT_EQ(viewer->vEye.x, 10.0f);
    Tap({DIK_LEFT});
    Tap({DIK_LEFT});
    EXPECT_FLOAT_EQ(viewer->vEye.x, -10.0f);
    Tap({DIK_DOWN});
    EXPECT_FLOAT_EQ(viewer->vEye.z, -40.0f);
    EXPECT_FLOAT_EQ(viewer->vEye.y, 10.0f);

    viewer->BuildInfos(0.0f);
    std::string infos = viewer->strInfos.c_str();
    EXPECT_TRUE(Contains(infos, "\nCam vPos={-10, 10, -40} vDir={0.00, 0.00, 1.00}\n"
                                "Press 'F1' for the help and 'F2' to hide this infos"))
        << infos;
    EXPECT_TRUE(Contains(infos, "320x240 ")) << infos;
    EXPECT_TRUE(Contains(infos, " Draws, ")) << infos;
    EXPECT_TRUE(Contains(infos, " KPrims/s, StencilShadow\nCam")) << infos;

    // The graphics manager's camera follows, always with the up vector (0, 1, 0).
    Vector3 eye, at, up;
    ASSERT_GE(viewer->pGraphics->GetCamera(&eye, &at, &up), 0);
    EXPECT_FLOAT_EQ(eye.x, -10.0f);
    EXPECT_FLOAT_EQ(at.z, -39.0f);
    EXPECT_FLOAT_EQ(up.y, 1.0f);

    // Return puts the camera back.
    Tap({DIK_RETURN});
    EXPECT_FLOAT_EQ(viewer->vEye.x, 0.0f);
    EXPECT_FLOAT_EQ(viewer->vEye.z, -40.0f);
    EXPECT_FLOAT_EQ(viewer->vLookAt.z, -39.0f);
}

TEST_F(ViewerInputTest, MouseTurnsTheCameraWhileTheLeftButtonIsHeld) {
    Started();
    // Motion without the button: nothing.
    ZVTestPushMouseMotion(Window(), 5, 0);
    Pump();
    viewer->InputProcess();
    EXPECT_FLOAT_EQ(viewer->vLookAt.x, 0.0f);

    ZVTestPushMouseButton(Window(), SDL_BUTTON_LEFT, true);
    ZVTestPushMouseMotion(Window(), 5, 0);
    Pump();
    viewer->InputProcess();
    Vector3 d = viewer->vLookAt - viewer->vEye;
    EXPECT_NEAR(std::fabs(d.x), std::sin(0.07), 1e-5);
    EXPECT_NEAR(d.z, std::cos(0.07), 1e-5);
    EXPECT_NEAR(d.y, 0.0, 1e-6);
    float yawX = d.x;

    // The other way turns back.
    ZVTestPushMouseMotion(Window(), -3, 0);
    Pump();
    viewer->InputProcess();
    d = viewer->vLookAt - viewer->vEye;
    EXPECT_NEAR(d.x, 0.0, 1e-5);

    // Pitch: the mouse moved up looks up; the up vector turns with it.
    ZVTestPushMouseMotion(Window(), 0, -4);
    Pump();
    viewer->InputProcess();
    d = viewer->vLookAt - viewer->vEye;
    EXPECT_NEAR(std::fabs(d.y), std::sin(0.07), 1e-5);
    EXPECT_NEAR(std::fabs(viewer->vUp.z), std::sin(0.07), 1e-5);
    float pitchY = d.y;
    ZVTestPushMouseMotion(Window(), 0, 4);
    Pump();
    viewer->InputProcess();
    d = viewer->vLookAt - viewer->vEye;
    EXPECT_NEAR(d.y, 0.0, 1e-5);
    // Page Up turns the same way as a motion upwards, whatever the motion.
    Key(DIK_PRIOR, true);
    ZVTestPushMouseMotion(Window(), 0, 4);
    Pump();
    viewer->InputProcess();
    Key(DIK_PRIOR, false);
    d = viewer->vLookAt - viewer->vEye;
    EXPECT_NEAR(d.y, pitchY, 1e-5);
    EXPECT_NE(yawX, 0.0f);

    // The right button resets the camera.
    ZVTestPushMouseButton(Window(), SDL_BUTTON_LEFT, false);
    ZVTestPushMouseButton(Window(), SDL_BUTTON_RIGHT, true);
    Pump();
    viewer->InputProcess();
    ZVTestPushMouseButton(Window(), SDL_BUTTON_RIGHT, false);
    Pump();
    EXPECT_FLOAT_EQ(viewer->vLookAt.x, 0.0f);
    EXPECT_FLOAT_EQ(viewer->vLookAt.y, 10.0f);
    EXPECT_FLOAT_EQ(viewer->vUp.y, 1.0f);
    EXPECT_FLOAT_EQ(viewer->vUp.z, 0.0f);
}

TEST_F(ViewerInputTest, ScreenshotsTakeTheFirstFreeNumber) {
    Started();
    Tap({DIK_F5});
    EXPECT_TRUE(FileExists(ShotName(1))) << log;
    WaitToggleDelay();
    Tap({DIK_F5});
    EXPECT_TRUE(FileExists(ShotName(2)));
    // Numbers taken anywhere count; the tenth is "Lumivex_10.bmp".
    for (int n = 3; n <= 9; ++n) ASSERT_TRUE(WriteFile(ShotName(n), "x"));
    WaitToggleDelay();
    Tap({DIK_F5});
    EXPECT_TRUE(FileExists(ShotName(10)));
    EXPECT_FALSE(FileExists(ShotName(11)));
    ZVImage image;
    std::string error;
    ASSERT_TRUE(ZVImageLoadFile(ShotName(10).c_str(), &image, &error)) << error;
    EXPECT_EQ(image.width, 320);
    EXPECT_EQ(image.height, 240);
    EXPECT_FALSE(Contains(log, "Error")) << log;
}

TEST_F(ViewerInputTest, ChosenAnimationIsLoadedAndCancelLoadsNothing) {
    Models().numAnimations = 2;
    Started();
    std::string anim = dir + "wave.md5anim";
    ASSERT_TRUE(WriteFile(anim, "MD5Version 10\n"));
    int calls = ZVTestOpenFileCalls();

    // Cancel: nothing is sent.
    ZVTestQueueOpenFileAnswer(nullptr);
    Tap({DIK_F7});
    EXPECT_EQ(ZVTestOpenFileCalls(), calls + 1);
    EXPECT_TRUE(Models().commands.empty());

    // A file that does not exist is not accepted; here the user then cancels.
    WaitToggleDelay();
    ZVTestQueueOpenFileAnswer((dir + "missing.md5anim").c_str());
    ZVTestQueueOpenFileAnswer(nullptr);
    Tap({DIK_F7});
    EXPECT_TRUE(Models().commands.empty());
    // A folder is no file either.
    WaitToggleDelay();
    ZVTestQueueOpenFileAnswer(dir.c_str());
    Tap({DIK_F7});
    EXPECT_TRUE(Models().commands.empty());

    // A chosen file goes to the model as "LoadAnimation".
    WaitToggleDelay();
    ZVTestQueueOpenFileAnswer(anim.c_str());
    Tap({DIK_F7});
    ASSERT_EQ(Models().commands.size(), 1u);
    EXPECT_EQ(Models().commands[0], "LoadAnimation|" + anim);
    EXPECT_EQ(viewer->pModel->GetNumAnimations(), 3u);
    EXPECT_EQ(ZVTestOpenFileCalls(), calls + 4);
    std::remove(anim.c_str());
}

TEST_F(ViewerInputTest, NoChooserInFullScreenOrWithoutAModel) {
    Started();
    int calls = ZVTestOpenFileCalls();
    viewer->bWindowed = false;
    viewer->strHelp = "";
    Tap({DIK_F7});
    EXPECT_EQ(ZVTestOpenFileCalls(), calls);
    // Its help line is still there.
    EXPECT_TRUE(Contains(viewer->strHelp.c_str(), "'F7' to load an animation (for MD5, in Windowed Mode)"));
    EXPECT_TRUE(Contains(viewer->strHelp.c_str(), "'F11' to go to Windowed mode"));

    viewer->bWindowed = true;
    IModel* model = viewer->pModel;
    viewer->pModel = nullptr;
    Tap({DIK_F7});
    EXPECT_EQ(ZVTestOpenFileCalls(), calls);
    viewer->pModel = model;
}

TEST_F(ViewerInputTest, KeysHeldWhenTheChooserReturnsAreIgnoredUntilReleased) {
    Started();
    int calls = ZVTestOpenFileCalls();
    ZVTestQueueOpenFileAnswer(nullptr);
    ZVTestQueueOpenFileAnswer(nullptr);
    Key(DIK_F7, true);
    Key(DIK_NUMPAD1, true);
    viewer->InputProcess();
    EXPECT_EQ(ZVTestOpenFileCalls(), calls + 1);
    EXPECT_EQ(Requested(), (std::vector<u32>{1}));

    // Still held after the delay, its key repeats coming in: read as up.
    WaitToggleDelay();
    SDL_Event repeat;
    std::memset(&repeat, 0, sizeof(repeat));
    repeat.type = SDL_KEYDOWN;
    repeat.key.windowID = SDL_GetWindowID(ZVWin32GetSDLWindow(Window()));
    repeat.key.state = SDL_PRESSED;
    repeat.key.repeat = 1;
    repeat.key.keysym.scancode = SDL_SCANCODE_F7;
    ZVTestPushEvent(repeat);
    Pump();
    viewer->InputProcess();
    EXPECT_EQ(ZVTestOpenFileCalls(), calls + 1);
    EXPECT_EQ(Requested(), (std::vector<u32>{1}));
    u8 keys[256];
    ASSERT_EQ(viewer->pInput->GetKeyboardState(keys), S_OK);
    EXPECT_EQ(keys[DIK_F7], 0);

    // Released and pressed again: it acts.
    Key(DIK_F7, false);
    Key(DIK_NUMPAD1, false);
    Key(DIK_F7, true);
    Key(DIK_NUMPAD1, true);
    viewer->InputProcess();
    EXPECT_EQ(ZVTestOpenFileCalls(), calls + 2);
    EXPECT_EQ(Requested(), (std::vector<u32>{1, 1}));
    Key(DIK_F7, false);
    Key(DIK_NUMPAD1, false);
}

}  // namespace
