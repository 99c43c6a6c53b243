// The Skirmora program itself, started in a folder of its own: its exit
// codes, its log file beside it, a run on the demo content driven with real
// X11 key presses (xdotool), as a person at the keyboard would, and a game
// that does not outlive the test program.
#include <dirent.h>
#include <unistd.h>

#include <cmath>

#include "game_program.h"

using namespace gametest;

namespace {

// Whether a process runs the program file `exe`.
bool SomeProcessRuns(const std::string& exe) {
    DIR* proc = opendir("/proc");
    if (!proc) return false;
    bool found = false;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = (pid_t)std::atoi(entry->d_name);
        char path[4096];
        const ssize_t n = pid > 0 ? readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), path, sizeof path) : -1;
        found |= n > 0 && exe == std::string(path, (size_t)n) && programtest::ProcessExists(pid);
    }
    closedir(proc);
    return found;
}

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

// A camera, a point light or a model's position holding nan or an infinity
// ends the start with -1 before anything is made, naming the entry.
TEST_F(GameProgramTest, ACameraOrALightHoldingNanOrInfinityEndsWithMinusOne) {
    const std::string camera = "Error : \"The 'camera' entry of \"zvscene.txt\" with eye ";
    const struct {
        void (*spoil)(SceneDesc&);
        std::string error;
    } cases[] = {
        {[](SceneDesc& s) { s.eye[1] = NAN; }, camera + "{0, nan, -400} and lookat {0, 10, 0} cannot be used: a number"},
        {[](SceneDesc& s) { s.lookAt[2] = INFINITY; }, camera + "{0, 10, -400} and lookat {0, 10, inf} cannot be used"},
        {[](SceneDesc& s) { s.lights[1][0] = -INFINITY; },
         "Error : \"The 'pointlight' entry number 2 of \"zvscene.txt\" cannot be used: its 'position' value -inf is "
         "not a finite number\""},
        {[](SceneDesc& s) { s.models.push_back({"crate.3ds", NAN, -47, 0, 0}); },
         "Error : \"The 'model' entry number 2 of \"zvscene.txt\" cannot be used: its 'position' value nan is not a "
         "finite number\""},
    };
    for (const auto& c : cases) {
        SceneDesc scene;
        scene.models = {{"arena.3ds", 0, 0, 0, 0}};
        c.spoil(scene);
        ASSERT_TRUE(zvtools::WriteTextFile(dir + "zvscene.txt", SceneText(scene)));
        EXPECT_EQ(RunProgram(), 255);
        const std::string log = Log();
        EXPECT_TRUE(Contains(log, c.error)) << log;
        EXPECT_FALSE(Contains(log, "Create Core Engine...")) << log;
    }
}

// The demo content from the programs' folder: the game starts, F5 saves the
// window's picture, ESC ends it with 0 and a clean shutdown.
TEST_F(GameProgramTest, TheDemoRunsTakesAScreenshotAndQuitsOnEsc) {
    ASSERT_EQ(Shell("command -v xdotool > /dev/null"), 0) << "xdotool is needed (./build.sh installs it)";
    ASSERT_TRUE(CopyTheDemo());
    EXPECT_EQ(PlayProgram([&] {
                  HoldUntil("F5", [&] { return FileExists(dir + "Skirmora_01.bmp"); });
                  std::this_thread::sleep_for(std::chrono::milliseconds(500));
                  HoldUntil("Escape");
              }),
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

// A test program that dies while its game runs (a time limit killed it, say)
// takes the game along at once.  A game left running would also hold the
// test program's descriptors and keep the death test waiting for its end.
TEST_F(GameProgramTest, TheGameDiesWithTheTestProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_TRUE(CopyTheDemo());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            std::thread leave([this] {
                programtest::WaitUntil([this] { return Contains(Log(), "Main Loop..."); }, std::chrono::seconds(60));
                _exit(0);
            });
            RunProgram();
            _exit(1);  // the game ended by itself
        },
        ::testing::ExitedWithCode(0), "");
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited.count(), 60.0) << "the game outlived the test program";
    EXPECT_TRUE(Contains(Log(), "Main Loop...")) << Log();
    EXPECT_TRUE(programtest::WaitUntil([&] { return !SomeProcessRuns(dir + "Skirmora"); }, std::chrono::seconds(3)))
        << "the game outlived the test program";
}

}  // namespace
