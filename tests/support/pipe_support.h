// Named pipes (FIFOs) where the engine expects files, and a guard for loads
// that must not wait on them: the load runs in a death test (the test
// program started again for this one test) under an alarm, so that a load
// that waits fails its test instead of holding CTest forever.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace pipetest {

// Far longer than any load of the tests' small files takes: the alarm only
// ends a load that waits.
constexpr unsigned kAlarmSeconds = 30;

// A named pipe at path, replacing any file of that name.  Nothing ever
// writes to it: opening it for reading the usual way waits forever.
inline bool MakePipe(const std::string& path) {
    unlink(path.c_str());
    return mkfifo(path.c_str(), 0600) == 0;
}

// The checks of a load run in the child: what failed, one line each.
struct Checks {
    void That(bool holds, const std::string& what) {
        if (!holds) failed += what + "\n";
    }
    std::string failed;
};

// The child's side: the load under the alarm, its failed checks on the
// error output and exit code 1, or exit code 0.
[[noreturn]] inline void RunUnderAlarm(const std::function<std::string()>& load) {
    alarm(kAlarmSeconds);
    const std::string failed = load();
    std::fputs(failed.c_str(), stderr);
    std::_Exit(failed.empty() ? 0 : 1);
}

// Runs `load` in a child process that the alarm ends.  `load` returns its
// failed checks ("" when all held).  The test fails when the child waits
// (ended by the alarm), dies or reports a failed check.
inline void ExpectEndsWithoutWaiting(const std::function<std::string()>& load) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunUnderAlarm(load), ::testing::ExitedWithCode(0), "");
}

}  // namespace pipetest
