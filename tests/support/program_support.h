// A real program (Skirmora, Lumivex, an X server) started by a test.  The
// guard ends it on every path out of the test: when it is destroyed while
// the program still runs, the program's whole process group gets SIGTERM,
// then SIGKILL after a grace period.  The program also dies with the test
// program (PR_SET_PDEATHSIG), should the test program itself be killed.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace programtest {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Calls `done` every 20 ms until it holds or `limit` passed; its last answer.
inline bool WaitUntil(const std::function<bool()>& done, milliseconds limit) {
    const auto end = Clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (Clock::now() > end) return done();
        std::this_thread::sleep_for(milliseconds(20));
    }
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class RunningProgram {
public:
    struct Options {
        std::string folder;                // the working directory
        std::string console;               // standard and error output (path; empty: /dev/null)
        int input = -1;                    // standard input (descriptor; -1: /dev/null)
        std::vector<std::string> environment;  // NAME=value entries added or replacing
        // Sent to the program when the test program ends first; a script
        // that must end what it started itself is given SIGTERM.
        int deathSignal = SIGKILL;
    };

    RunningProgram() = default;
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram() { Stop(); }

    // Starts `exe` with `args`; false when it could not be started.
    bool Start(const std::string& exe, const std::vector<std::string>& args, const Options& options) {
        if (pid_ > 0) return false;
        // Everything the child needs is made before the fork: it only calls
        // functions that are safe in the child of a threaded process.
        std::vector<std::string> argStore = {exe};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : argStore) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        std::vector<std::string> envStore = options.environment;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('=') + 1);
            bool replaced = false;
            for (const std::string& mine : options.environment) replaced |= mine.compare(0, name.size(), name) == 0;
            if (!replaced) envStore.push_back(entry);
        }
        std::vector<char*> envp;
        for (std::string& e : envStore) envp.push_back(&e[0]);
        envp.push_back(nullptr);
        const std::string consolePath = options.console.empty() ? "/dev/null" : options.console;
        const pid_t parent = getpid();
        const int deathSignal = options.deathSignal;
        const long limit = sysconf(_SC_OPEN_MAX);
        const int openLimit = limit > 0 && limit < 65536 ? (int)limit : 65536;

        const pid_t child = fork();
        if (child < 0) return false;
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, deathSignal);
            if (getppid() != parent) _exit(125);  // the test program is gone already
            setpgid(0, 0);
            // The test program's handlers and blocked signals are not the
            // program's: it starts as from a shell.
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            const int in = options.input >= 0 ? options.input : open("/dev/null", O_RDONLY);
            const int out = open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || (!options.folder.empty() && chdir(options.folder.c_str()) != 0)) _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            // No descriptor of the test program goes along (a pipe's write
            // end kept open by the program would hide the end of its input).
            for (int fd = 3; fd < openLimit; ++fd) close(fd);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        setpgid(child, child);  // either side may get there first
        pid_ = child;
        return true;
    }

    pid_t Pid() const { return pid_; }
    bool Running() {
        Reap(false);
        return pid_ > 0;
    }
    bool Send(int signalNumber) { return pid_ > 0 && kill(pid_, signalNumber) == 0; }

    // Waits up to `limit` for the end; true when it ended.
    bool WaitForEnd(milliseconds limit) {
        return WaitUntil([this] { return !Running(); }, limit);
    }
    bool Exited() const { return ended_ && WIFEXITED(status_); }
    int ExitCode() const { return Exited() ? WEXITSTATUS(status_) : -1; }
    bool Signalled() const { return ended_ && WIFSIGNALED(status_); }
    int TermSignal() const { return Signalled() ? WTERMSIG(status_) : 0; }

    // Ends the program and whatever it started if it still runs: SIGTERM
    // to its process group, then SIGKILL after `grace`.
    void Stop(milliseconds grace = milliseconds(2000)) {
        if (!Running()) return;
        kill(-pid_, SIGTERM);
        if (WaitForEnd(grace)) {
            kill(-group_, SIGKILL);  // what it started and left behind
            return;
        }
        kill(-pid_, SIGKILL);
        Reap(true);
    }

private:
    void Reap(bool block) {
        if (pid_ <= 0) return;
        int status = 0;
        pid_t got;
        do {
            got = waitpid(pid_, &status, block ? 0 : WNOHANG);
        } while (got < 0 && errno == EINTR);
        if (got == pid_ || got < 0) {
            status_ = status;
            ended_ = got == pid_;
            group_ = pid_;
            pid_ = -1;
        }
    }

    pid_t pid_ = -1;
    pid_t group_ = -1;
    int status_ = 0;
    bool ended_ = false;
};

// The children of a process, by their process id (from /proc).
inline std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> out;
    std::istringstream list(ReadWholeFile("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                                          "/children"));
    pid_t pid;
    while (list >> pid) out.push_back(pid);
    return out;
}

// Whether the process still runs (one that ended but was not waited for yet
// counts as ended).
inline bool ProcessExists(pid_t pid) {
    const std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t at = stat.rfind(')');
    return at != std::string::npos && at + 2 < stat.size() && stat[at + 2] != 'Z' && stat[at + 2] != 'X';
}

// The first line a shell command prints, without its line end ("" when it
// prints nothing or cannot be run).
inline std::string FirstLineOf(const std::string& command) {
    std::string line;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return line;
    char buffer[256];
    if (std::fgets(buffer, sizeof(buffer), p)) line = buffer;
    pclose(p);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    return line;
}

// Sends the quit signal (0: it was sent already) and expects the end a
// close of the window gives: within 3 s, exit code 0, and a log (at logPath)
// that holds every one of `lines`, no error and nothing left unreleased.
inline void ExpectEndsAsAClose(RunningProgram* program, int signalNumber, const std::string& logPath,
                               const std::vector<std::string>& lines) {
    if (signalNumber != 0) {
        ASSERT_TRUE(program->Send(signalNumber));
    }
    EXPECT_TRUE(program->WaitForEnd(std::chrono::seconds(3))) << "still running 3 s after " << signalNumber;
    program->Stop();
    EXPECT_TRUE(program->Exited()) << "ended by signal " << program->TermSignal();
    EXPECT_EQ(program->ExitCode(), 0);
    const std::string log = ReadWholeFile(logPath);
    for (const std::string& line : lines) EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    EXPECT_EQ(log.find("Error"), std::string::npos) << log;
    EXPECT_EQ(log.find("not released"), std::string::npos) << log;
}

}  // namespace programtest
