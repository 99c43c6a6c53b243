// The Skirmora program itself, started in a folder of its own: its exit
// codes, its log file beside it, and a run on the demo content driven with
// real X11 key presses (xdotool), as a person at the keyboard would.
#include "game_program.h"

using namespace gametest;

namespace {

TEST_F(GameProgramTest, WithoutASceneFileItEndsWithMinusOne) {
    EXPECT_EQ(RunProgram(), 255);
    const std::string log = Log();
    EXPECT_TRUE(Contains(log, "[DeathMatch::Init()] Skirmora v0.30")) << log;
    EXPECT_TRUE(Contains(log, "Config file loading file; verify that 'zvscene.txt' is in the ExeDir")) << log;
    // The console shows the same entries.
    EXPECT_TRUE(Contains(ReadFile(dir + "console.txt"), "verify that 'zvscene.txt' is in the ExeDir"));
}

TEST_F(GameProgramTest, WithoutAModelItEndsWithMinusOne) {
    SceneDesc scene;
    scene.paths = {"."};
    ASSERT_TRUE(zvtools::WriteTextFile(dir + "zvscene.txt", SceneText(scene)));
    ASSERT_TRUE(CopyFile(ZV_FONT_IMAGE, dir + "lucida_console.tga"));
    EXPECT_EQ(RunProgram(), 255);
    const std::string log = Log();
    EXPECT_TRUE(Contains(log, "Put at least one model; it MUST be a 3DS Scene")) << log;
    EXPECT_TRUE(Contains(log, "Zorvane Engine correctly shutdown")) << log;
}

// The demo content from the programs' folder: the game starts, F5 saves the
// window's picture, ESC ends it with 0 and a clean shutdown.
TEST_F(GameProgramTest, TheDemoRunsTakesAScreenshotAndQuitsOnEsc) {
    ASSERT_EQ(Shell("command -v xdotool > /dev/null"), 0) << "xdotool is needed (./build.sh installs it)";
    ASSERT_TRUE(FileExists(std::string(ZV_BIN_DIR) + "zvscene.txt")) << "no demo content in " << ZV_BIN_DIR;
    ASSERT_EQ(Shell("cp -a '" ZV_BIN_DIR "'. '" + dir + "' && cd '" + dir +
                    "' && rm -f zvlog.txt Skirmora_*.bmp && cp '" ZV_SKIRMORA "' Skirmora"),
              0);
    EXPECT_EQ(PlayProgram(HoldUntil("F5", "[ -f Skirmora_01.bmp ]") + "sleep 0.5\n" + HoldUntil("Escape", "! alive")),
              0);
    const std::string log = Log();
    for (const char* line : {"Skirmora v0.30", "Main Loop...", "Average FPS == ", "End Of the App; Release...",
                             "Graphics Engine correctly shutdown", "Zorvane Engine correctly shutdown", "EOF"})
        EXPECT_TRUE(Contains(log, line)) << line << "\n" << log;
    EXPECT_FALSE(Contains(log, "Error : ")) << log;
    EXPECT_FALSE(Contains(log, "not released")) << log;
    EXPECT_FALSE(Contains(log, "There is NO Opponent")) << log;
    Picture shot;
    ASSERT_TRUE(shot.Load(dir + "Skirmora_01.bmp"));
    EXPECT_EQ(shot.width, 800);  // the client area of the demo's 800 x 600 window
    EXPECT_EQ(shot.height, 600);
    EXPECT_GT(shot.Brightness(), 10.0);
    EXPECT_FALSE(FileExists(dir + "Skirmora_02.bmp"));
}

}  // namespace
