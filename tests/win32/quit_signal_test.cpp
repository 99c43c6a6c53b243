// Ending a program as Linux users do: SDL's quit event and the quit signals
// (Ctrl+C, kill) close every window as its close box would, a waiting pump
// wakes up for them, and a second signal ends the process at once.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "zvconsole.h"
#include "zvwin32.h"
#include "zvwin32test.h"

namespace {

struct Seen {
    HWND hwnd;
    UINT message;
};
std::vector<Seen> g_seen;

LRESULT QuitRecordingProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    g_seen.push_back(Seen{h, message});
    return DefWindowProcA(h, message, wParam, lParam);
}

class QuitSignalTest : public ::testing::Test {
protected:
    void SetUp() override {
        static bool registered = false;
        if (!registered) {
            WNDCLASSEXA wc = {};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = QuitRecordingProc;
            wc.lpszClassName = "QuitSignalTest";
            ASSERT_NE(RegisterClassExA(&wc), 0);
            registered = true;
        }
        ZVTestResetQuitSignals();
        for (HWND& h : windows) {
            h = CreateWindowExA(WS_EX_WINDOWEDGE, "QuitSignalTest", "quit", 0x90CE0000u, 40, 40, 200, 150,
                                GetDesktopWindow(), nullptr, nullptr, nullptr);
            ASSERT_NE(h, nullptr);
        }
        Drain();
        g_seen.clear();
    }
    void TearDown() override {
        for (HWND h : windows) DestroyWindow(h);
        Drain();
        ZVTestResetQuitSignals();
    }
    // Dispatches until the quit message; false when none came within 3 s.
    bool PumpUntilQuit() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        MSG msg;
        while (std::chrono::steady_clock::now() < end) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) return true;
                DispatchMessageA(&msg);
            }
            SDL_Delay(5);
        }
        return false;
    }
    static void Drain() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    std::vector<UINT> MessagesOf(HWND h) {
        std::vector<UINT> out;
        for (const Seen& s : g_seen)
            if (s.hwnd == h && (s.message == WM_CLOSE || s.message == WM_DESTROY)) out.push_back(s.message);
        return out;
    }
    void ExpectEveryWindowClosed() {
        const std::vector<UINT> closed = {WM_CLOSE, WM_DESTROY};
        for (HWND h : windows) {
            EXPECT_EQ(MessagesOf(h), closed);
            EXPECT_FALSE(IsWindow(h));
        }
    }

    HWND windows[2] = {nullptr, nullptr};
};

TEST_F(QuitSignalTest, SdlQuitEventReachesEveryWindowProcedureAsAClose) {
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    ZVTestPushEvent(quit);
    MSG msg;
    // The close, then the default handling destroys the window.
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    ExpectEveryWindowClosed();
}

TEST_F(QuitSignalTest, TerminationSignalWakesAWaitingPumpAndClosesTheWindows) {
    std::atomic<bool> woken{false};
    const HWND first = windows[0];
    std::thread killer([&woken, first] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(getpid(), SIGTERM);
        // A pump the signal does not wake gets a move 3 s later instead, so
        // that the test fails rather than waits for ever.
        for (int i = 0; i < 300 && !woken; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!woken) ZVTestMove(first, 60, 60);
    });
    // Waits: nothing is queued until the signal comes.
    MSG msg;
    const auto start = std::chrono::steady_clock::now();
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    woken = true;
    killer.join();
    ASSERT_EQ(got, TRUE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(msg.message, (UINT)WM_CLOSE);
    DispatchMessageA(&msg);
    Drain();
    ExpectEveryWindowClosed();
    EXPECT_TRUE(ZVQuitRequested());
    // Taken once: a later pump finds nothing more to close.
    EXPECT_FALSE(ZVTakeQuitRequest());
}

TEST_F(QuitSignalTest, InterruptSignalIsTakenByThePumpOnlyOnce) {
    raise(SIGINT);
    ASSERT_TRUE(ZVQuitRequested());
    Drain();
    ExpectEveryWindowClosed();
    EXPECT_FALSE(ZVTakeQuitRequest());
}

TEST_F(QuitSignalTest, SecondSignalEndsTheProcessAtOnce) {
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The handlers came with the fork; only signal-safe calls here.
        raise(SIGINT);
        const char alive = 'a';
        if (write(report[1], &alive, 1) != 1) _exit(3);
        raise(SIGINT);
        _exit(4);  // not reached when the second one ended the process
    }
    close(report[1]);
    char got = 0;
    EXPECT_EQ(read(report[0], &got, 1), 1) << "the first signal ended the process";
    close(report[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGINT);
}

TEST_F(QuitSignalTest, ConsoleLineGivesUpOnAQuitSignal) {
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    FILE* in = fdopen(input[0], "r");
    ASSERT_NE(in, nullptr);
    // Two lines in the pipe: each read takes exactly one.
    ASSERT_EQ(write(input[1], "first\r\nsecond\n", 14), 14);
    std::string line;
    EXPECT_EQ(ZVReadConsoleLine(in, &line), ZVConsoleRead::Line);
    EXPECT_EQ(line, "first");
    EXPECT_EQ(ZVReadConsoleLine(in, &line), ZVConsoleRead::Line);
    EXPECT_EQ(line, "second");
    // Nothing more comes, the writer stays: the signal ends the wait.
    std::thread killer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(getpid(), SIGINT);
    });
    EXPECT_EQ(ZVReadConsoleLine(in, &line), ZVConsoleRead::Quit);
    killer.join();
    close(input[1]);
    std::fclose(in);
}

}  // namespace

// Opening the display takes a while at start-up: a Ctrl+C or kill made
// meanwhile must already be caught.  A display that cannot be opened at all
// shows whether the catching came first.  The check runs in a new process,
// where no window has caught the signals yet.
static void FailToOpenTheDisplayAndCheckTheSignals() {
    setenv("SDL_VIDEODRIVER", "no-such-video-driver", 1);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "QuitCatchingTest";
    RegisterClassExA(&wc);
    const HWND h = CreateWindowExA(0, "QuitCatchingTest", "quit", 0x90CE0000u, 40, 40, 200, 150, GetDesktopWindow(),
                                   nullptr, nullptr, nullptr);
    struct sigaction term = {}, interrupt = {};
    sigaction(SIGTERM, nullptr, &term);
    sigaction(SIGINT, nullptr, &interrupt);
    _exit(h == nullptr && term.sa_handler != SIG_DFL && interrupt.sa_handler != SIG_DFL ? 0 : 1);
}

TEST(QuitSignalCatching, SignalsAreCaughtBeforeTheDisplayIsOpened) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(FailToOpenTheDisplayAndCheckTheSignals(), ::testing::ExitedWithCode(0), "");
}
