// The guard of the program tests: whatever way a test leaves, the program
// it started and what that program started do not outlive it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "program_support.h"

namespace {

using programtest::ProcessExists;
using programtest::RunningProgram;
using programtest::WaitUntil;
using std::chrono::milliseconds;

bool Gone(pid_t pid) {
    return WaitUntil([pid] { return !ProcessExists(pid); }, milliseconds(3000));
}

TEST(ProgramGuardTest, ProgramStillRunningEndsWithTheGuard) {
    pid_t pid = -1;
    {
        RunningProgram program;
        ASSERT_TRUE(program.Start("/bin/sleep", {"30"}, {}));
        pid = program.Pid();
        ASSERT_TRUE(ProcessExists(pid));
    }
    EXPECT_FALSE(ProcessExists(pid));
}

TEST(ProgramGuardTest, ProgramIgnoringTerminationAndItsChildrenAreKilledAfterTheGrace) {
    RunningProgram program;
    ASSERT_TRUE(program.Start("/bin/sh", {"-c", "trap '' TERM; sleep 30 & wait; sleep 30"}, {}));
    std::vector<pid_t> children;
    ASSERT_TRUE(WaitUntil(
        [&] {
            children = programtest::ChildrenOf(program.Pid());
            return !children.empty();
        },
        milliseconds(3000)));
    const pid_t shell = program.Pid();
    program.Stop(milliseconds(300));
    EXPECT_FALSE(program.Running());
    EXPECT_TRUE(program.Signalled());
    EXPECT_EQ(program.TermSignal(), SIGKILL);
    EXPECT_FALSE(ProcessExists(shell));
    EXPECT_TRUE(Gone(children.front())) << "the shell's child still runs";
}

// A test program that ends without the guard's help: it runs as a death
// test, in a process of its own started afresh, and says which program it
// started through a file.
[[noreturn]] void StartAndLeave(const std::string& report) {
    RunningProgram* program = new RunningProgram;  // never destroyed
    if (!program->Start("/bin/sleep", {"30"}, {})) _exit(2);
    const pid_t pid = program->Pid();
    // Started for sure: the program is sleep, no longer a copy of this one.
    WaitUntil([pid] { return programtest::ReadWholeFile("/proc/" + std::to_string(pid) + "/comm") == "sleep\n"; },
              milliseconds(3000));
    FILE* out = std::fopen(report.c_str(), "w");
    if (!out) _exit(3);
    std::fprintf(out, "%d\n", (int)pid);
    std::fclose(out);
    _exit(0);
}

TEST(ProgramGuardTest, ProgramDiesWithTheTestProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string report = ::testing::TempDir() + "zv_guard_pid.txt";
    std::remove(report.c_str());
    EXPECT_EXIT(StartAndLeave(report), ::testing::ExitedWithCode(0), "");
    const pid_t pid = (pid_t)std::atoi(programtest::ReadWholeFile(report).c_str());
    std::remove(report.c_str());
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(Gone(pid)) << "the program outlived the test program";
}

TEST(ProgramGuardTest, ExitCodeAndEnvironmentReachTheProgram) {
    RunningProgram program;
    RunningProgram::Options options;
    options.environment = {"ZV_GUARD_CODE=7"};
    ASSERT_TRUE(program.Start("/bin/sh", {"-c", "exit $ZV_GUARD_CODE"}, options));
    ASSERT_TRUE(program.WaitForEnd(milliseconds(3000)));
    EXPECT_TRUE(program.Exited());
    EXPECT_EQ(program.ExitCode(), 7);
}

}  // namespace
