// The "open a file" chooser: the desktop dialog program when there is one,
// else a question on the console.
#include "zvcommdlg.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "zvconsole.h"
#include "zvsdlevents.h"

extern char** environ;

namespace {

struct AnswerSlot {
    bool cancel;
    std::string path;
};

std::deque<AnswerSlot> g_answers;
bool g_answersQueued = false;  // the test hooks speak for the user
std::string g_program = "zenity";
FILE* g_consoleIn = nullptr;
FILE* g_consoleOut = nullptr;
int g_calls = 0;
DWORD g_lastError = 0;
ZVPollFunction g_poll = poll;
ZVReadFunction g_read = read;
ZVWaitFunction g_wait = waitpid;

struct Filter {
    std::string description;
    std::vector<std::string> patterns;
};

// "description\0pat;pat\0..." ended by an empty description.
std::vector<Filter> ReadFilters(LPCSTR filters) {
    std::vector<Filter> out;
    if (!filters) return out;
    const char* p = filters;
    while (*p) {
        Filter f;
        f.description = p;
        p += f.description.size() + 1;
        if (!*p) break;  // a description without patterns ends the list
        std::string list = p;
        p += list.size() + 1;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            std::string pattern = list.substr(start, end - start);
            // "*.*" means every file on Windows, names without a dot too.
            if (pattern == "*.*") pattern = "*";
            if (!pattern.empty()) f.patterns.push_back(pattern);
            start = end + 1;
        }
        out.push_back(f);
    }
    return out;
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string FindProgram(const std::string& name) {
    if (name.empty()) return std::string();
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    if (!path) return std::string();
    std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string dir = list.substr(start, end - start);
        if (dir.empty()) dir = ".";
        std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0 && IsRegularFile(candidate)) return candidate;
        start = end + 1;
    }
    return std::string();
}

bool HasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

enum class Outcome { Chosen, Cancelled, Unavailable, Quit };

// How often the wait for the dialog program looks for a quit request, and
// how long the program has to end once asked to.
const int kQuitCheckMs = 100;
const int kChildGraceMs = 2000;
// How often the wait for a dialog program that closed its answer looks
// whether it ended or the user asked to quit.
const int kChildStepMs = 10;

// Ends the dialog program when the user asked to quit: politely first, then
// for good.  Waits for it in any case, so that none is left behind.
void EndChild(pid_t child) {
    kill(child, SIGTERM);
    for (int waited = 0; waited < kChildGraceMs; waited += 10) {
        if (waitpid(child, nullptr, WNOHANG) == child) return;
        usleep(10 * 1000);
    }
    kill(child, SIGKILL);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// How the wait for the dialog program's end came out.
enum class ChildEnd { Exited, Unknown, Quit };

// The dialog program closed its answer: waits for it to end, still looking
// for a quit request, which ends it (Quit).  Exited once it ended, with its
// status; Unknown when it cannot be waited for (already reaped elsewhere),
// so that nothing is known of how it ended.
ChildEnd WaitForChild(pid_t child, int* status) {
    for (;;) {
        const pid_t done = g_wait(child, status, WNOHANG);
        if (done == child) return ChildEnd::Exited;
        if (done < 0 && errno != EINTR) return ChildEnd::Unknown;
        if (ZVQuitRequested()) {
            EndChild(child);
            return ChildEnd::Quit;
        }
        usleep(kChildStepMs * 1000);
    }
}

// The outcome of a dialog program's run from how it ended and its answer
// (without its line end): exit code 0 is a choice, 1 the cancel button, any
// other end a program that failed.  Without a status only the answer tells:
// a name read is a choice, nothing a cancel.
Outcome OutcomeOfChild(ChildEnd end, int status, const std::string& answer) {
    if (end == ChildEnd::Unknown) return answer.empty() ? Outcome::Cancelled : Outcome::Chosen;
    if (!WIFEXITED(status)) return Outcome::Unavailable;
    const int code = WEXITSTATUS(status);
    if (code == 1) return Outcome::Cancelled;
    return code == 0 ? Outcome::Chosen : Outcome::Unavailable;
}

// The wait for the answer or its reading failed and would fail again at
// once: the program is ended, a line on the console says why, and the
// console asks instead.
Outcome GiveUpOnChild(pid_t child, int answer, const std::string& program, const char* what, int error) {
    close(answer);
    EndChild(child);
    FILE* console = g_consoleOut ? g_consoleOut : stdout;
    std::fprintf(console, "%s '%s' failed (%s).\n", what, program.c_str(), std::strerror(error));
    std::fflush(console);
    return Outcome::Unavailable;
}

// Runs the dialog program once.  Unavailable when it could not be started,
// failed (no display, crashed), could not be waited for or its answer could
// not be read: the console takes over.
Outcome AskProgram(const std::string& program, const std::string& title, const std::vector<Filter>& filters,
                   DWORD filterIndex, const std::string& initialDir, std::string* answer) {
    std::vector<std::string> args = {program, "--file-selection", "--title=" + title};
    // The selected filter first: the program shows the first one.
    size_t first = (filterIndex >= 1 && filterIndex <= filters.size()) ? filterIndex - 1 : 0;
    for (size_t k = 0; k < filters.size(); ++k) {
        const Filter& f = filters[(first + k) % filters.size()];
        std::string arg = "--file-filter=" + f.description + " |";
        for (const std::string& p : f.patterns) arg += " " + p;
        args.push_back(arg);
    }
    if (!initialDir.empty()) args.push_back("--filename=" + initialDir + (initialDir.back() == '/' ? "" : "/"));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0) return Outcome::Unavailable;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    pid_t child = 0;
    int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return Outcome::Unavailable;
    }
    std::string text;
    char buffer[512];
    for (;;) {
        if (ZVQuitRequested()) {
            close(out[0]);
            EndChild(child);
            return Outcome::Quit;
        }
        pollfd p = {out[0], POLLIN, 0};
        const int ready = g_poll(&p, 1, kQuitCheckMs);
        if (ready < 0 && errno != EINTR) return GiveUpOnChild(child, out[0], program, "The wait for", errno);
        if (ready <= 0) continue;
        ssize_t n = g_read(out[0], buffer, sizeof(buffer));
        if (n > 0) {
            text.append(buffer, (size_t)n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return GiveUpOnChild(child, out[0], program, "Reading the answer of", errno);
        break;
    }
    close(out[0]);
    int status = 0;
    const ChildEnd end = WaitForChild(child, &status);
    // A Ctrl+C in the terminal reaches the dialog program too.
    if (end == ChildEnd::Quit || ZVQuitRequested()) return Outcome::Quit;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const Outcome outcome = OutcomeOfChild(end, status, text);
    if (outcome == Outcome::Chosen) *answer = text;
    return outcome;
}

Outcome AskConsole(const std::string& title, const std::vector<Filter>& filters, std::string* answer) {
    FILE* in = g_consoleIn ? g_consoleIn : stdin;
    FILE* out = g_consoleOut ? g_consoleOut : stdout;
    std::fprintf(out, "\n%s\n", title.c_str());
    if (!filters.empty()) {
        std::fprintf(out, "Files:");
        for (const Filter& f : filters) std::fprintf(out, " %s", f.description.c_str());
        std::fprintf(out, "\n");
    }
    std::fprintf(out, "Path of the file (empty line to cancel) : ");
    std::fflush(out);
    std::string line;
    const ZVConsoleRead read = ZVReadConsoleLine(in, &line);
    if (read != ZVConsoleRead::Line) {
        std::fprintf(out, "\n");
        std::fflush(out);
        return read == ZVConsoleRead::Quit ? Outcome::Quit : Outcome::Cancelled;
    }
    size_t b = line.find_first_not_of(" \t");
    size_t e = line.find_last_not_of(" \t");
    line = b == std::string::npos ? std::string() : line.substr(b, e - b + 1);
    if (line.empty()) return Outcome::Cancelled;
    *answer = line;
    return Outcome::Chosen;
}

// Asks until an existing regular file is chosen or the user cancels.
bool Choose(const OPENFILENAMEA& record, std::string* chosen) {
    std::string title = record.lpstrTitle ? record.lpstrTitle : "Open";
    std::vector<Filter> filters = ReadFilters(record.lpstrFilter);
    std::string initialDir = record.lpstrInitialDir ? record.lpstrInitialDir : "";
    FILE* out = g_consoleOut ? g_consoleOut : stdout;

    if (g_answersQueued) {
        while (!g_answers.empty()) {
            AnswerSlot slot = g_answers.front();
            g_answers.pop_front();
            if (slot.cancel) return false;
            if (IsRegularFile(slot.path)) {
                *chosen = slot.path;
                return true;
            }
        }
        return false;
    }

    if (ZVQuitRequested()) return false;  // the program is ending: nobody to ask
    std::string program = HasDisplay() ? FindProgram(g_program) : std::string();
    bool useProgram = !program.empty();
    for (;;) {
        std::string answer;
        Outcome outcome = Outcome::Unavailable;
        if (useProgram) {
            outcome = AskProgram(program, title, filters, record.nFilterIndex, initialDir, &answer);
            if (outcome == Outcome::Unavailable) useProgram = false;
        }
        if (!useProgram) outcome = AskConsole(title, filters, &answer);
        if (outcome == Outcome::Cancelled || outcome == Outcome::Quit) return false;
        if (IsRegularFile(answer)) {
            *chosen = answer;
            return true;
        }
        std::fprintf(out, "'%s' is not an existing file.\n", answer.c_str());
        std::fflush(out);
    }
}

}  // namespace

BOOL GetOpenFileNameA(LPOPENFILENAMEA record) {
    ++g_calls;
    g_lastError = 0;
    if (!record || record->lStructSize != sizeof(OPENFILENAMEA)) {
        g_lastError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    if (!record->lpstrFile || record->nMaxFile == 0) {
        g_lastError = CDERR_INITIALIZATION;
        return FALSE;
    }
    std::string chosen;
    bool ok = Choose(*record, &chosen);

    // Whatever is held now was pressed for the chooser (its own Enter, or the
    // key that opened it): the input devices ignore it until released.
    SDL_Event e;
    std::memset(&e, 0, sizeof(e));
    e.type = ZVModalReturnEventType();
    ZVNotifySdlEventObservers(e);

    if (!ok) return FALSE;
    if (chosen.size() + 1 > record->nMaxFile) {
        g_lastError = FNERR_BUFFERTOOSMALL;
        if (record->nMaxFile >= 2) {
            WORD needed = chosen.size() + 1 > 0xFFFF ? 0xFFFF : (WORD)(chosen.size() + 1);
            std::memcpy(record->lpstrFile, &needed, 2);
        }
        return FALSE;
    }
    std::memcpy(record->lpstrFile, chosen.c_str(), chosen.size() + 1);
    size_t slash = chosen.find_last_of("/\\");
    size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = chosen.find_last_of('.');
    record->nFileOffset = (WORD)(nameAt > 0xFFFF ? 0xFFFF : nameAt);
    record->nFileExtension = (WORD)(dot != std::string::npos && dot >= nameAt && dot + 1 <= 0xFFFF ? dot + 1 : 0);
    if (record->lpstrFileTitle && record->nMaxFileTitle > 0) {
        std::string name = chosen.substr(nameAt);
        size_t n = name.size() < record->nMaxFileTitle - 1 ? name.size() : record->nMaxFileTitle - 1;
        std::memcpy(record->lpstrFileTitle, name.c_str(), n);
        record->lpstrFileTitle[n] = '\0';
    }
    return TRUE;
}

DWORD CommDlgExtendedError() { return g_lastError; }

void ZVTestQueueOpenFileAnswer(const char* path) {
    g_answersQueued = true;
    g_answers.push_back(AnswerSlot{path == nullptr, path ? path : ""});
}

void ZVTestClearOpenFileAnswers() {
    g_answers.clear();
    g_answersQueued = false;
}

void ZVTestSetOpenFileProgram(const char* program) { g_program = program ? program : "zenity"; }

void ZVTestSetOpenFilePoll(ZVPollFunction function) { g_poll = function ? function : poll; }

void ZVTestSetOpenFileRead(ZVReadFunction function) { g_read = function ? function : read; }

void ZVTestSetOpenFileWait(ZVWaitFunction function) { g_wait = function ? function : waitpid; }

void ZVTestSetOpenFileConsole(FILE* in, FILE* out) {
    g_consoleIn = in;
    g_consoleOut = out;
}

int ZVTestOpenFileCalls() { return g_calls; }
