// The Skirmora program run by the tests in a folder of its own through the
// program guard, and a player at a real X11 keyboard (xdotool) for it.
#pragma once

#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <thread>

#include "game_support.h"
#include "program_support.h"

namespace gametest {

class GameProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = ExeDir() + "program/";
        ASSERT_EQ(Shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'"), 0);
        ASSERT_TRUE(CopyFile(ZV_SKIRMORA, dir + "Skirmora"));
        ASSERT_EQ(Shell("chmod +x '" + dir + "Skirmora'"), 0);
    }
    void TearDown() override {
        program.Stop();
        Shell("rm -rf '" + dir + "'");
    }

    static int Shell(const std::string& command) {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Starts the program in its folder through the guard, which ends it on
    // every way out of the test, and of the test program.
    bool Start() {
        programtest::RunningProgram::Options options;
        options.folder = dir;
        options.console = dir + "console.txt";
        return program.Start(dir + "Skirmora", {}, options);
    }
    // Runs the program in its folder until it ends (at most 120 s); its exit
    // status (255 for -1), or -1 when it did not end by itself.
    int RunProgram() {
        if (!Start() || !program.WaitForEnd(std::chrono::seconds(120))) return -1;
        return program.ExitCode();
    }
    std::string Log() { return ReadFile(dir + "zvlog.txt"); }
    // The demo content from the programs' folder, copied into the program's.
    bool CopyTheDemo() {
        EXPECT_TRUE(FileExists(std::string(ZV_BIN_DIR) + "zvscene.txt")) << "no demo content in " << ZV_BIN_DIR;
        return Shell("cp -a '" ZV_BIN_DIR "'. '" + dir + "' && cd '" + dir +
                     "' && rm -f zvlog.txt Skirmora_*.bmp && cp '" ZV_SKIRMORA "' Skirmora") == 0;
    }

    // Starts the program in its folder, waits for its frame loop, puts the
    // keyboard focus on its window and plays (HoldUntil), then waits for its
    // end.  Returns the program's exit status, or -1 when it did not start
    // or did not end.
    int PlayProgram(const std::function<void()>& play) {
        if (!Start()) return -1;
        programtest::WaitUntil([&] { return !program.Running() || Contains(Log(), "Main Loop"); },
                               std::chrono::seconds(120));
        const std::string window = programtest::FirstLineOf("xdotool search --pid " + std::to_string(program.Pid()) +
                                                            " --name 'Zorvane DeathMatch'");
        if (!window.empty()) Shell("xdotool windowfocus --sync " + window);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        play();
        if (!program.WaitForEnd(std::chrono::seconds(300))) return -1;
        return program.ExitCode();
    }
    // A step of PlayProgram: holds the key down (xdotool) until `done` holds
    // (none: until the end) or the program ended, at most 60 s.
    void HoldUntil(const std::string& key, const std::function<bool()>& done = nullptr) {
        Shell("xdotool keydown " + key);
        programtest::WaitUntil([&] { return !program.Running() || (done && done()); }, std::chrono::seconds(60));
        Shell("xdotool keyup " + key);
    }

    std::string dir;
    programtest::RunningProgram program;
};

}  // namespace gametest
