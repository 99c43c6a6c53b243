// The Skirmora program run by the tests in a folder of its own, and a
// player at a real X11 keyboard (xdotool) for it.
#pragma once

#include <signal.h>
#include <sys/wait.h>

#include <chrono>

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
    void TearDown() override { Shell("rm -rf '" + dir + "'"); }

    static int Shell(const std::string& command) {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Runs the program in its folder; its exit status (255 for -1).
    int RunProgram() { return Shell("cd '" + dir + "' && timeout -k 5 120 ./Skirmora > console.txt 2>&1"); }
    std::string Log() { return ReadFile(dir + "zvlog.txt"); }

    // Starts the program in its folder, waits for its frame loop, puts the
    // keyboard focus on its window and plays `keys` (shell lines that may
    // use alive, true while the program runs), then waits for its end.
    // Returns the program's exit status, or -1 when the script failed.  The
    // game is ended on every way out of the script, and the script on every
    // way out of the test.
    int PlayProgram(const std::string& keys) {
        const std::string script = R"(set -u
cd "$1"
timeout -k 5 300 ./Skirmora > console.txt 2>&1 &
pid=$!
alive() { kill -0 $pid 2> /dev/null; }
# timeout passes SIGTERM on to the game; the game runs in timeout's group.
end_game() {
  alive || return 0
  kill -TERM $pid 2> /dev/null
  for i in $(seq 30); do alive || return 0; sleep 0.1; done
  kill -KILL -- -$pid 2> /dev/null
}
trap end_game EXIT
trap 'exit 143' TERM INT HUP
for i in $(seq 1200); do grep -q "Main Loop" zvlog.txt 2> /dev/null && break; alive || break; sleep 0.1; done
id=$(xdotool search --name "Zorvane DeathMatch" | head -1)
[ -n "$id" ] && xdotool windowfocus --sync "$id"
sleep 1
)" + keys + R"(
wait $pid
echo $? > exitcode.txt
)";
        if (!zvtools::WriteTextFile(dir + "drive.sh", script)) return -1;
        programtest::RunningProgram driver;
        programtest::RunningProgram::Options options;
        options.console = dir + "drive.txt";
        options.deathSignal = SIGTERM;
        if (!driver.Start("/bin/bash", {dir + "drive.sh", dir}, options)) return -1;
        if (!driver.WaitForEnd(std::chrono::seconds(330)) || driver.ExitCode() != 0) return -1;
        const std::string code = ReadFile(dir + "exitcode.txt");
        return code.empty() ? -1 : std::atoi(code.c_str());
    }
    // Keys of PlayProgram: holds the key down until `done` (a shell test)
    // holds or the program ended.
    static std::string HoldUntil(const std::string& key, const std::string& done) {
        return "xdotool keydown " + key + "\nfor i in $(seq 1200); do " + done +
               " && break; alive || break; sleep 0.05; done\nxdotool keyup " + key + "\n";
    }

    std::string dir;
};

}  // namespace gametest
