// The Skirmora program itself, started in a folder of its own: its exit
// codes, its log file beside it, and a run on the demo content driven with
// real X11 key presses (xdotool), as a person at the keyboard would.
#include <sys/wait.h>

#include "game_support.h"

using namespace gametest;

namespace {

class GameProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = ExeDir() + "program/";
        ASSERT_EQ(Shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'"), 0);
        ASSERT_TRUE(CopyFile(ZV_SKIRMORA, dir + "Skirmora"));
        ASSERT_EQ(Shell("chmod +x '" + dir + "Skirmora'"), 0);
    }
    void TearDown() override { Shell("rm -rf '" + dir + "'"); }

    static int Shell(const std::string& command) {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Runs the program in its folder; its exit status (255 for -1).
    int RunProgram() { return Shell("cd '" + dir + "' && timeout 120 ./Skirmora > console.txt 2>&1"); }
    std::string Log() { return ReadFile(dir + "zvlog.txt"); }

    std::string dir;
};

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
    const std::string script = R"(set -u
cd "$1"
timeout 300 ./Skirmora > console.txt 2>&1 &
pid=$!
alive() { kill -0 $pid 2> /dev/null; }
for i in $(seq 1200); do grep -q "Main Loop" zvlog.txt 2> /dev/null && break; alive || break; sleep 0.1; done
id=$(xdotool search --name "Zorvane DeathMatch" | head -1)
[ -n "$id" ] && xdotool windowfocus --sync "$id"
sleep 1
# Each key is held until the game has acted on it, whatever its frame rate.
xdotool keydown F5
for i in $(seq 1200); do [ -f Skirmora_01.bmp ] && break; alive || break; sleep 0.05; done
xdotool keyup F5
sleep 0.5
xdotool keydown Escape
for i in $(seq 1200); do alive || break; sleep 0.05; done
xdotool keyup Escape
wait $pid
echo $? > exitcode.txt
)";
    ASSERT_TRUE(zvtools::WriteTextFile(dir + "drive.sh", script));
    ASSERT_EQ(Shell("bash '" + dir + "drive.sh' '" + dir + "'"), 0);
    EXPECT_EQ(ReadFile(dir + "exitcode.txt"), "0\n");
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
