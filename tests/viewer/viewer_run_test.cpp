// The viewer's frame loop: the texts of a frame, the model held at its place
// or let free (Space), the pause while the window is inactive, a real frame
// of a 3DS model in a screenshot, ESC, and hostile cameras.
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "viewer_support.h"
#include "zvimage.h"

using namespace viewertest;

namespace {

using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

class ViewerRunTest : public ViewerTest {
protected:
    // ESC is pressed during the frame that makes the given update.
    void StopAtUpdate(int stop, std::function<void(int)> also = nullptr) {
        Models().onUpdate = [this, stop, also](int n) {
            if (also) also(n);
            if (n == stop) ZVTestPushKey(Window(), SDL_SCANCODE_ESCAPE, true);
        };
    }
    const Font::Text2D* Find2D(const std::vector<Font::Text2D>& texts, const std::string& start) {
        for (const Font::Text2D& t : texts)
            if (std::string(t.strText.c_str()).compare(0, start.size(), start) == 0) return &t;
        return nullptr;
    }
    std::vector<Font::Text2D> Queued2D() {
        Font* font = dynamic_cast<Font*>(viewer->pFont);
        std::vector<Font::Text2D> out;
        if (font)
            for (u32 i = 0; i < font->vText2D.count; ++i) out.push_back(font->vText2D[i]);
        return out;
    }
    // Starts the viewer with this camera entry in its scene file.
    HRESULT StartWithCamera(const std::string& camera) {
        std::string text = SceneText({"scene.3ds"});
        EXPECT_TRUE(WriteFile(dir + "zvscene.txt", text.replace(text.find("eye 0 10 -40"), 30, camera)));
        viewer.reset(new Viewer);
        return viewer->Init(nullptr, "figure.zvt");
    }
    std::vector<std::string> Queued3D() {
        Font* font = dynamic_cast<Font*>(viewer->pFont);
        std::vector<std::string> out;
        if (font)
            for (u32 i = 0; i < font->vText3D.count; ++i) out.push_back(font->vText3D[i].strText.c_str());
        return out;
    }
};

TEST_F(ViewerRunTest, FrameQueuesItsTextsAndEscapeEndsTheLoop) {
    Models().numAnimations = 4;
    ASSERT_GE(Start("figure.zvt"), 0) << log;
    // NumPad 2 is held from the start: animation 2 plays.
    ZVTestPushKey(Window(), SDL_SCANCODE_KP_2, true);
    std::vector<Font::Text2D> texts;
    std::vector<std::string> texts3D;
    StopAtUpdate(3, [&](int n) {
        if (n == 2) {
            texts = Queued2D();
            texts3D = Queued3D();
        }
    });
    EXPECT_EQ(viewer->Run(), S_OK);
    EXPECT_FALSE(viewer->bRunning);
    EXPECT_GE(viewer->nFrames, 3u);
    EXPECT_TRUE(Contains(log, "[Viewer::Run()] Main Loop...\n")) << log;
    EXPECT_FALSE(Contains(log, "Error")) << log;

    const Font::Text2D* fps = Find2D(texts, "ZV FPS=");
    ASSERT_NE(fps, nullptr);
    // No rate is known in the first second.
    EXPECT_STREQ(fps->strText.c_str(), "ZV FPS=0.00");
    EXPECT_EQ(fps->nColor, 0xFFFFFF00u);
    EXPECT_EQ(fps->nBackColor, 0x55000000u);
    EXPECT_EQ(fps->nX, 5u);
    EXPECT_EQ(fps->nY, 5u);
    EXPECT_EQ(fps->nSize, 14u);

    const Font::Text2D* infos = Find2D(texts, "320x240 ");
    ASSERT_NE(infos, nullptr);
    EXPECT_EQ(infos->nY, 25u);
    // The window is 320 pixels wide: 22 cells from x = 5, 8 from x = 200;
    // longer lines are cut at its edge.
    EXPECT_TRUE(Contains(infos->strText.c_str(), "\nCam vPos={0, 10, -4...\n")) << infos->strText.c_str();
    EXPECT_TRUE(Contains(viewer->strInfos.c_str(), "\nCam vPos={0, 10, -40} vDir={0.00, 0.00, 1.00}"));

    const Font::Text2D* anims = Find2D(texts, "NumAn");
    ASSERT_NE(anims, nullptr);
    EXPECT_STREQ(anims->strText.c_str(), "NumAn...");  // "NumAnims=4 Play:2=anim2"
    EXPECT_EQ(anims->nColor, 0xFF0099FFu);
    EXPECT_EQ(anims->nX, 200u);
    EXPECT_EQ(anims->nY, 5u);
    EXPECT_EQ(Find2D(texts, "Controls :"), nullptr);

    // The light's number, in 3D.
    EXPECT_EQ(texts3D, (std::vector<std::string>{"0"}));
    // The first light circles: its x moved off the scene file's 30.
    EXPECT_NE(viewer->lights[0].Position.x, 30.0f);
    EXPECT_FLOAT_EQ(viewer->lights[0].Position.y, 40.0f);
}

TEST_F(ViewerRunTest, HelpReplacesTheInfosAndShowsTheBanner) {
    ASSERT_GE(Start("figure.zvt"), 0) << log;
    ZVTestPushKey(Window(), SDL_SCANCODE_F1, true);
    std::vector<Font::Text2D> texts;
    StopAtUpdate(2, [&](int n) {
        // Released at once: held for more than 0.5 s it would act again.
        if (n == 1) ZVTestPushKey(Window(), SDL_SCANCODE_F1, false);
        if (n == 2) texts = Queued2D();
    });
    viewer->Run();
    const Font::Text2D* help = Find2D(texts, "Controls :\n");
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->nY, 25u);
    EXPECT_TRUE(Contains(help->strText.c_str(), "\n'F1' to hide this help"));
    EXPECT_EQ(Find2D(texts, "320x240"), nullptr);
    // The banner is queued in screen-relative units: its size is in pixels by now.
    const Font::Text2D* banner = Find2D(texts, "Zorvane v0.30");
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->nColor, 0xFFFFFF00u);
    EXPECT_EQ(banner->nBackColor, 0xFF000000u);
}

TEST_F(ViewerRunTest, WithNeitherTextThePromptIsShownAndNoAnimationText) {
    // The scene file's only model is the scene: no viewed model.
    ASSERT_GE(Start(nullptr, {"arena.zvt"}), 0) << log;
    ASSERT_EQ(viewer->pModel, nullptr);
    viewer->bShowInfos = false;
    std::vector<Font::Text2D> texts;
    StopAtUpdate(2, [&](int n) {
        if (n == 2) texts = Queued2D();
    });
    viewer->Run();
    EXPECT_GE(viewer->nFrames, 2u);
    const Font::Text2D* prompt = Find2D(texts, "Press 'F1' for the help or 'F2' for more infos");
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->nBackColor, 0u);
    EXPECT_EQ(prompt->nY, 25u);
    EXPECT_EQ(Find2D(texts, "NumAnims="), nullptr);
    EXPECT_EQ(texts.size(), 2u);
}

TEST_F(ViewerRunTest, ModelIsHeldAtItsPlaceUnlessSpaceFreesIt) {
    Models().driftPerUpdate = 1.0f;
    Models().boxMin = Vector3(-1, -2, -1);
    ASSERT_GE(Start("walker.zvt"), 0) << log;
    FakeModel* model = dynamic_cast<FakeModel*>(viewer->pModel);
    ASSERT_NE(model, nullptr);
    StopAtUpdate(5);
    viewer->Run();
    // Put back before every frame: one step of drift only, still on the floor.
    EXPECT_FLOAT_EQ(model->world._41, 1.0f);
    EXPECT_FLOAT_EQ(model->world._42, 2.0f);
    viewer.reset();

    ZVTestResetViewer();
    Models().updates = 0;
    ASSERT_GE(Start("walker.zvt"), 0) << log;
    model = dynamic_cast<FakeModel*>(viewer->pModel);
    ZVTestPushKey(Window(), SDL_SCANCODE_SPACE, true);
    StopAtUpdate(5, [this](int n) {
        if (n == 1) ZVTestPushKey(Window(), SDL_SCANCODE_SPACE, false);
    });
    viewer->Run();
    EXPECT_TRUE(viewer->bFreeModel);
    EXPECT_FLOAT_EQ(model->world._41, (float)Models().updates);
    EXPECT_GE(Models().updates, 5);
}

TEST_F(ViewerRunTest, FrameLoopPausesWhileTheWindowIsInactive) {
    ASSERT_GE(Start("figure.zvt"), 0) << log;
    HWND window = Window();
    std::thread restorer;
    Clock::time_point lost, resumed;
    double cpuLost = 0.0, cpuResumed = 0.0;
    int ticksWhileAway = -1;
    StopAtUpdate(6, [&](int n) {
        if (n == 3) {
            lost = Clock::now();
            cpuLost = ThreadCpuSeconds();
            ZVTestLoseFocus(window);
            restorer = std::thread([window] {
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
                ZVTestGainFocus(window);
            });
        }
        if (n == 4) {
            resumed = Clock::now();
            cpuResumed = ThreadCpuSeconds();
            ticksWhileAway = (int)viewer->nFrames;
        }
    });
    viewer->Run();
    restorer.join();
    // No frame was drawn in between: the loop waited in the message pump.
    EXPECT_EQ(ticksWhileAway, 3);
    double away = std::chrono::duration<double>(resumed - lost).count();
    EXPECT_GE(away, 0.35);
    // It waited, it did not spin: the loop's thread hardly ran meanwhile.
    EXPECT_LT(cpuResumed - cpuLost, 0.5 * away);
    EXPECT_GE(viewer->nFrames, 6u);
    EXPECT_FALSE(Contains(log, "Error")) << log;
}

TEST_F(ViewerRunTest, ClosingTheWindowEndsTheLoop) {
    ASSERT_GE(Start("figure.zvt"), 0) << log;
    HWND window = Window();
    Models().onUpdate = [window](int n) {
        if (n == 2) ZVTestClose(window);
    };
    EXPECT_EQ(viewer->Run(), S_OK);
    EXPECT_EQ(viewer->nFrames, 2u);
    EXPECT_TRUE(viewer->bRunning);
}

TEST_F(ViewerRunTest, ScreenshotShowsTheModelInItsScene) {
    ASSERT_TRUE(WriteBox3ds(dir + "redbox.3ds", 5.0f, 220, 20, 20));
    ASSERT_GE(Start("redbox.3ds"), 0) << log;
    // The 3DS box is 10 high around its centre: lifted onto the floor.
    IPhyEntity* entity = dynamic_cast<IPhyEntity*>(viewer->pModel);
    ASSERT_NE(entity, nullptr);
    Matrix world;
    entity->GetWorldMatrix(&world);
    EXPECT_FLOAT_EQ(world._42, 5.0f);

    // The scene's floor box is big enough to hold the camera: hide it.
    IPhyEntity* scene = dynamic_cast<IPhyEntity*>(viewer->pScene);
    ASSERT_NE(scene, nullptr);
    Matrix away;
    away.SetIdentity();
    away._42 = -1000.0f;
    scene->SetWorldMatrix(away);

    // Frames are drawn until the screenshot, taken on a later tick, exists.
    viewer->bShowInfos = false;
    HWND window = Window();
    std::string shot = ShotName(1);
    // The 3DS model has no update hook: a second thread presses the keys.
    std::thread driver([window, shot] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ZVTestPushKey(window, SDL_SCANCODE_F5, true);
        for (int i = 0; i < 100 && !FileExists(shot); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ZVTestPushKey(window, SDL_SCANCODE_F5, false);
        ZVTestPushKey(window, SDL_SCANCODE_ESCAPE, true);
    });
    viewer->Run();
    driver.join();
    ASSERT_TRUE(FileExists(shot)) << log;
    ZVImage image;
    std::string error;
    ASSERT_TRUE(ZVImageLoadFile(shot.c_str(), &image, &error)) << error;
    ASSERT_EQ(image.width, 320);
    ASSERT_EQ(image.height, 240);
    auto pixel = [&](int x, int y) { return &image.pixels[((size_t)y * image.width + x) * 4]; };
    auto differs = [](const uint8_t* a, const uint8_t* b) {
        return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]) > 60;
    };
    // The box stands in the middle of the picture on the background: the
    // middle is lit, the corners and the sides are the background.
    const uint8_t* background = pixel(300, 200);
    EXPECT_FALSE(differs(pixel(10, 200), background));
    EXPECT_TRUE(differs(pixel(160, 120), background));
    EXPECT_TRUE(differs(pixel(160, 140), background));
    EXPECT_FALSE(differs(pixel(60, 120), background));
    EXPECT_FALSE(differs(pixel(260, 120), background));
    EXPECT_FALSE(Contains(log, "Error")) << log;
}

// A 3DS box modelled below its origin (8 high, its top 4 under the origin)
// stands on the floor: by its world matrix, and in a real frame, where its
// outline runs from the top edge of its lid (y = 8 at the back) down to the
// bottom edge of its front (y = 0), as the camera sees them.
TEST_F(ViewerRunTest, ModelBelowItsOriginStandsOnTheFloorInTheFrame) {
    const float min[3] = {-5.0f, -5.0f, -12.0f};  // z is up in the file
    const float max[3] = {5.0f, 5.0f, -4.0f};
    ASSERT_TRUE(WriteBox3ds(dir + "low.3ds", min, max, 220, 20, 20));
    ASSERT_GE(Start("low.3ds"), 0) << log;
    EXPECT_FLOAT_EQ(ModelHeight(), 12.0f);
    ZVImage image;
    ASSERT_NO_FATAL_FAILURE(ShootModelAlone(&image));
    ASSERT_EQ(image.width, 320);
    ASSERT_EQ(image.height, 240);
    // The rows of the middle column that differ from the background.
    const uint8_t* background = &image.pixels[((size_t)5 * image.width + 5) * 4];
    int top = -1, bottom = -1;
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* p = &image.pixels[((size_t)y * image.width + 160) * 4];
        if (std::abs(p[0] - background[0]) + std::abs(p[1] - background[1]) + std::abs(p[2] - background[2]) > 60) {
            if (top < 0) top = y;
            bottom = y;
        }
    }
    // The eye is at y = 10, 40 before the box's middle, looking along z with
    // a vertical field of 90 degrees over 240 rows: a point y high at depth
    // d is seen on the row 120 + (10 - y) / d * 120.
    auto row = [](float y, float depth) { return 120.0f + (10.0f - y) / depth * 120.0f; };
    EXPECT_NEAR(top, row(8.0f, 45.0f), 2.0);
    EXPECT_NEAR(bottom, row(0.0f, 35.0f), 2.0);
    EXPECT_FALSE(Contains(log, "Error")) << log;
}

// A hundred frames, each with the light's number turned to the camera:
// looking straight up logs nothing, a camera that is not finite one error,
// and the F2 text prints its coordinates beyond the int range as they are.
// The scene file cannot give such a camera; walking past the float range
// can, so it is put in place after the start.
TEST_F(ViewerRunTest, HostileCamerasLogAtMostOnceInAHundredFrames) {
    for (size_t errors : {0, 1}) {
        Models().Clear();
        log.clear();
        ASSERT_GE(StartWithCamera("eye 0 10 0\nlookat 0 100 0"), 0);
        if (errors) {
            viewer->vEye = Vector3(2147483648.0f, NAN, -INFINITY);
            viewer->vLookAt = Vector3(0, 0, 0);
            ASSERT_GE(viewer->pGraphics->SetCamera(&viewer->vEye, &viewer->vLookAt, &viewer->vUp), 0);
        }
        StopAtUpdate(100);
        viewer->Run();
        Key(DIK_ESCAPE, false);
        size_t found = 0;
        for (size_t at = log.find("Error"); at != std::string::npos; at = log.find("Error", at + 1)) ++found;
        EXPECT_EQ(found, errors) << log;
    }
    EXPECT_TRUE(Contains(viewer->strInfos.c_str(), "\nCam vPos={2147483648, nan, -inf} vDir="));
}

TEST_F(ViewerRunTest, ACameraTooFarOutToBeAimedFailsTheStartNamingItsEntry) {
    EXPECT_LT(StartWithCamera("eye 99999999999999999999 10 -250\nlookat 0 10 0"), 0);
    EXPECT_TRUE(Contains(log, "Error : \"The 'camera' entry of \"zvscene.txt\" with eye {1e+20, 10, -250} and lookat "
                              "{0, 10, 0} cannot be used: the eye lies so far out")) << log;
}

}  // namespace
