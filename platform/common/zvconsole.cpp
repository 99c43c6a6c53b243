// Quit signals and interruptible console input (see zvconsole.h).
#include "zvconsole.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace {

// How often a wait for console input looks for a quit request.
const int kQuitCheckMs = 100;

// Lock-free atomics, so that the handler may touch them.
std::atomic<int> g_quitSignals{0};
std::atomic<bool> g_quitPending{false};

void OnQuitSignal(int signalNumber) {
    if (g_quitSignals.fetch_add(1) > 0) {
        // The second request: the signal's default action ends the process
        // as soon as this handler returns and unblocks it.
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
        return;
    }
    g_quitPending = true;
}

void Catch(int signalNumber) {
    struct sigaction current;
    if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls go on as if nothing happened: the log's
    // writes and the libraries' waits never see EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

enum class ByteRead { Byte, End, Quit };

// One byte from the file descriptor, waiting in short steps so that a quit
// request is noticed while nothing comes.
ByteRead ReadByte(int fd, char* c) {
    for (;;) {
        if (ZVQuitRequested()) return ByteRead::Quit;
        pollfd p = {fd, POLLIN, 0};
        const int ready = poll(&p, 1, kQuitCheckMs);
        if (ready < 0 && errno != EINTR) return ByteRead::End;
        if (ready <= 0) continue;
        const ssize_t n = read(fd, c, 1);
        if (n == 1) return ByteRead::Byte;
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return ByteRead::End;
    }
}

}  // namespace

void ZVCatchQuitSignals() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    Catch(SIGINT);
    Catch(SIGTERM);
}

bool ZVQuitRequested() { return g_quitSignals.load() > 0; }

bool ZVTakeQuitRequest() { return g_quitPending.exchange(false); }

ZVConsoleRead ZVReadConsoleLine(FILE* in, std::string* line) {
    line->clear();
    const int fd = in ? fileno(in) : -1;
    bool any = false;
    for (;;) {
        char c = 0;
        if (fd >= 0) {
            const ByteRead r = ReadByte(fd, &c);
            if (r == ByteRead::Quit) return ZVConsoleRead::Quit;
            if (r == ByteRead::End) break;
        } else {
            const int got = in ? std::fgetc(in) : EOF;
            if (got == EOF) break;
            c = (char)got;
        }
        any = true;
        if (c == '\n') break;
        line->push_back(c);
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return any ? ZVConsoleRead::Line : ZVConsoleRead::End;
}

void ZVTestResetQuitSignals() {
    g_quitSignals = 0;
    g_quitPending = false;
}
