// A failure inside Skirmora's frame loop: the game logs it, closes as after
// ESC, and the program still exits with 0.
#include "game_program.h"

using namespace gametest;

namespace {

// F11 asks for full screen at the scene file's size; with "strict 1" a size
// that the display does not offer is an error instead of a substitute, and
// the failed mode change ends the loop.
TEST_F(GameProgramTest, AFailureInTheFrameLoopIsLoggedAndTheProgramExitsWithZero) {
    ASSERT_EQ(Shell("command -v xdotool > /dev/null"), 0) << "xdotool is needed (./build.sh installs it)";
    SceneDesc scene;
    scene.paths = {"."};
    scene.models = {{"arena.3ds", 0, 0, 0, 0}};
    scene.width = 333;
    scene.height = 222;
    std::string text = SceneText(scene);
    const size_t strict = text.find("strict 0");
    ASSERT_NE(strict, std::string::npos);
    text.replace(strict, 8, "strict 1");
    ASSERT_TRUE(zvtools::WriteTextFile(dir + "zvscene.txt", text));
    ASSERT_TRUE(WriteArena(dir + "arena.3ds", 200, 250, 8));
    ASSERT_TRUE(CopyFile(ZV_FONT_IMAGE, dir + "lucida_console.tga"));

    EXPECT_EQ(PlayProgram([&] { HoldUntil("F11"); }), 0);
    const std::string log = Log();
    size_t at = 0;
    for (const char* line : {"Main Loop...", "The Resolution 333x222 is not Supported", "[DeathMatch::InputProcess()]",
                             "[DeathMatch::Run()] Error", "Error in the Main Loop", "End Of the App; Release...",
                             "Graphics Engine correctly shutdown", "Zorvane Engine correctly shutdown", "EOF"}) {
        const size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
        at = found;
    }
    EXPECT_FALSE(Contains(log, "not released")) << log;
    EXPECT_FALSE(Contains(log, "still alive")) << log;
}

}  // namespace
