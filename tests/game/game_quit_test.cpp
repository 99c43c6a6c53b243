// The Skirmora program ended as Linux users do: Ctrl+C and kill (SIGINT,
// SIGTERM) close it as its close box would, in the frame loop, during the
// start-up and its loading screen, and in full screen, within 3 s, with exit
// code 0 and a clean shutdown in its log.
#include <signal.h>

#include <chrono>
#include <thread>

#include "game_program.h"
#include "program_support.h"

using namespace gametest;

namespace {

class GameQuitTest : public GameProgramTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        GameProgramTest::SetUp();
        ASSERT_TRUE(CopyTheDemo());
    }
    // Waits until the log shows `text` while the game runs.
    void WaitForLog(const std::string& text) {
        ASSERT_TRUE(programtest::WaitUntil([&] { return !program.Running() || Contains(Log(), text); },
                                           std::chrono::seconds(60)));
        ASSERT_TRUE(program.Running()) << Log();
    }
    void ExpectCleanEndOn(int signalNumber) {
        programtest::ExpectEndsAsAClose(&program, signalNumber, dir + "zvlog.txt",
                                        {"End Of the App; Release...", "Graphics Engine correctly shutdown",
                                         "Input Engine correctly shutdown", "Zorvane Engine correctly shutdown",
                                         "[DeathMatch::Close()] EOF"});
    }
    static std::string DisplaySize() { return programtest::FirstLineOf("xdotool getdisplaygeometry"); }
};

TEST_P(GameQuitTest, InTheFrameLoopItEndsAsAClose) {
    ASSERT_TRUE(Start());
    WaitForLog("Main Loop...");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ExpectCleanEndOn(GetParam());
}

// During the start-up, from the window's creation through the loading
// screen and the models' loading: the request waits for the pump, and the
// game closes before a frame runs.
TEST_P(GameQuitTest, DuringTheStartUpAndTheLoadingScreenItEndsAsAClose) {
    ASSERT_TRUE(Start());
    WaitForLog("Create Graphics Engine...");
    const bool beforeTheLoop = !Contains(Log(), "Main Loop...");
    ExpectCleanEndOn(GetParam());
    if (beforeTheLoop) {
        EXPECT_TRUE(Contains(Log(), "Average FPS == 0.000000")) << "frames ran\n" << Log();
    }
}

TEST_P(GameQuitTest, InFullScreenItEndsAsACloseAndTheDesktopKeepsItsMode) {
    ASSERT_EQ(Shell("command -v xdotool > /dev/null"), 0) << "xdotool is needed (./build.sh installs it)";
    ASSERT_EQ(Shell("cd '" + dir + "' && sed -i 's/windowed 1/windowed 0/' zvscene.txt"), 0);
    const std::string desktop = DisplaySize();
    ASSERT_FALSE(desktop.empty());
    ASSERT_TRUE(Start());
    WaitForLog("Main Loop...");
    EXPECT_TRUE(Contains(Log(), "(FullScreen)")) << Log();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ExpectCleanEndOn(GetParam());
    EXPECT_EQ(DisplaySize(), desktop);
}

std::string SignalName(const ::testing::TestParamInfo<int>& info) {
    return info.param == SIGINT ? "SIGINT" : "SIGTERM";
}
INSTANTIATE_TEST_SUITE_P(Signals, GameQuitTest, ::testing::Values(SIGINT, SIGTERM), SignalName);

}  // namespace
