// The viewer's screen: every text it queues fits an 800 x 600 window, and a
// negative resolution is refused before a window is made.
#include "text_fit_support.h"
#include "viewer_support.h"

using namespace viewertest;

namespace {

class ViewerScreenTest : public ViewerTest {
protected:
    // Starts a viewer on a scene file whose display has the given resolution.
    HRESULT StartAt(const char* resolution) {
        std::string text = SceneText({"scene.3ds"});
        const std::string normal = "resolution 320 240";
        text.replace(text.find(normal), normal.size(), std::string("resolution ") + resolution);
        EXPECT_TRUE(WriteFile(dir + "zvscene.txt", text));
        viewer.reset(new Viewer);
        return viewer->Init(nullptr, "figure.zvt");
    }
};

TEST_F(ViewerScreenTest, EveryQueuedTextFitsAnEightHundredBySixHundredWindow) {
    Models().numAnimations = 12;
    ASSERT_GE(StartAt("800 600"), 0) << log;
    DisplaySettings mode;
    ASSERT_GE(viewer->pGraphics->GetScreenMode(&mode), 0);
    ASSERT_EQ(mode.nWidth, 800u);
    ASSERT_EQ(mode.nHeight, 600u);
    Font* font = dynamic_cast<Font*>(viewer->pFont);
    ASSERT_NE(font, nullptr);
    ZVTestPushKey(Window(), SDL_SCANCODE_KP_3, true);  // an animation plays: the animation text names it

    // The model's update comes inside the frame, after the texts were
    // queued: each state is measured there, and the next one is set.
    std::vector<std::string> measured;
    Models().onUpdate = [&](int n) {
        if (n < 3 || n > 5) return;
        measured.push_back(textfit::QueuedTexts(font));
        EXPECT_GE(textfit::ExpectQueuedTextsFit(font, mode.nWidth, mode.nHeight), 3u) << measured.back();
        viewer->bShowInfos = n == 5;
        viewer->bShowHelp = n == 3;
        if (n == 5) ZVTestPushKey(Window(), SDL_SCANCODE_ESCAPE, true);
    };
    EXPECT_EQ(viewer->Run(), S_OK);
    ASSERT_EQ(measured.size(), 3u);
    EXPECT_TRUE(Contains(measured[0], "Press 'F1' for the help and 'F2' to hide this infos")) << measured[0];
    EXPECT_TRUE(Contains(measured[1], "\n'F1' to hide this help\n")) << measured[1];
    EXPECT_TRUE(Contains(measured[1], "Zorvane v0.30\n")) << measured[1];
    EXPECT_TRUE(Contains(measured[2], "Press 'F1' for the help or 'F2' for more infos")) << measured[2];
    for (const std::string& texts : measured) EXPECT_TRUE(Contains(texts, "NumAnims=12 Play:3=anim3")) << texts;
    EXPECT_FALSE(Contains(log, "Error")) << log;
}

TEST_F(ViewerScreenTest, ANegativeResolutionIsRefusedBeforeTheWindowIsMade) {
    EXPECT_EQ(StartAt("640 -480"), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "The display resolution 640x-480 is negative")) << log;
    EXPECT_FALSE(Contains(log, "Create Core Engine...")) << log;
    EXPECT_EQ(viewer->pCore, nullptr);
}

}  // namespace
