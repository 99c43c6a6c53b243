// The log writer: entry layout, failure entries, the three outputs, and
// "zvlog.txt" beside the program (checked in child copies of this program).
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "foundation_support.h"
#include "zvdxerr.h"
#include "zvstuff.h"

namespace {

class Named : public IInterface {
public:
    u32 AddRef() override { return ++nRef; }
    u32 Release() override { return nRef ? --nRef : 0; }
    const String& GetName() override {
        static String name("ZVCore");
        return name;
    }
    u32 nRef = 0;
};

TEST(Log, InformationEntryIsOneLine) {
    zvtest::LogCapture capture;
    CallScope scope(nullptr, "Config::Load()");
    EXPECT_EQ(scope.WriteLog(0, "Loading", "config", 12), 0);
    EXPECT_EQ(capture.log, "[Config::Load()] Loading\n");
    EXPECT_EQ(capture.debug, "[Config::Load()] Loading\n");
}

TEST(Log, WarningAndErrorLayout) {
    Named core;
    zvtest::LogCapture capture;
    CallScope scope(&core, "CreateGraphics()");
    scope.WriteLog(1, "careful", "zvcore", 7);
    scope.WriteLog(2, "broken", "zvcore", 1234);
    std::string masked = zvtest::MaskTime(capture.log);
    EXPECT_EQ(masked,
              "\n[ZVCore::CreateGraphics()] Warning : \"careful\"\nAt TT:TT:TT, See : \"zvcore\", line 7\n\n"
              "\n[ZVCore::CreateGraphics()] Error : \"broken\"\nAt TT:TT:TT, See : \"zvcore\", line 1234\n\n");
    // The time of day: two digits each, 24-hour clock.
    size_t at = capture.log.find("At ");
    ASSERT_NE(at, std::string::npos);
    std::string clock = capture.log.substr(at + 3, 8);
    for (int i : {0, 1, 3, 4, 6, 7}) EXPECT_TRUE(clock[i] >= '0' && clock[i] <= '9') << clock;
    EXPECT_LT(std::atoi(clock.c_str()), 24);
    // The debugger gets each entry and, for warnings and errors, a source line of its own.
    EXPECT_EQ(zvtest::MaskTime(capture.debug),
              "\n[ZVCore::CreateGraphics()] Warning : \"careful\"\nAt TT:TT:TT, See : \"zvcore\", line 7\n\n"
              "zvcore(7) : DOUBLE-CLICK HERE TO SEE THE LINE\n\n"
              "\n[ZVCore::CreateGraphics()] Error : \"broken\"\nAt TT:TT:TT, See : \"zvcore\", line 1234\n\n"
              "zvcore(1234) : DOUBLE-CLICK HERE TO SEE THE LINE\n\n");
}

TEST(Log, ReportFailure) {
    zvtest::LogCapture capture;
    CallScope scope(nullptr, "DeathMatch::Init()");
    EXPECT_EQ(scope.ReportFailure("quiet", "deathmatch", 1, S_OK), S_OK);
    EXPECT_EQ(scope.ReportFailure("quiet", "deathmatch", 1, S_FALSE), S_FALSE);
    EXPECT_EQ(capture.log, "");
    EXPECT_EQ(scope.ReportFailure("CreateCore() failed", "deathmatch", 42, ZVE_SUBFUNCTION), E_FAIL);
    EXPECT_EQ(scope.ReportFailure("Invalid Call/Param", "deathmatch", 43, E_INVALIDARG), E_FAIL);
    EXPECT_EQ(scope.ReportFailure("Reset", "deathmatch", 44, D3DERR_DEVICELOST), E_FAIL);
    EXPECT_EQ(scope.ReportFailure("odd", "deathmatch", 45, (HRESULT)0x80001234u), E_FAIL);
    EXPECT_EQ(zvtest::MaskTime(capture.log),
              "\n[DeathMatch::Init()] Error : \"Called function return ZVE_SUBFUNCTION (0x87654321), Msg : "
              "'CreateCore() failed'\"\nAt TT:TT:TT, See : \"deathmatch\", line 42\n\n"
              "\n[DeathMatch::Init()] Error : \"Called function return E_INVALIDARG (0x80070057), Msg : "
              "'Invalid Call/Param'\"\nAt TT:TT:TT, See : \"deathmatch\", line 43\n\n"
              "\n[DeathMatch::Init()] Error : \"Called function return D3DERR_DEVICELOST (0x88760868), Msg : "
              "'Reset'\"\nAt TT:TT:TT, See : \"deathmatch\", line 44\n\n"
              "\n[DeathMatch::Init()] Error : \"Called function return Unknown (0x80001234), Msg : "
              "'odd'\"\nAt TT:TT:TT, See : \"deathmatch\", line 45\n\n");
}

TEST(Log, ErrorNames) {
    EXPECT_STREQ(DXGetErrorString9A(S_OK), "S_OK");
    EXPECT_STREQ(DXGetErrorString9A(S_FALSE), "S_FALSE");
    EXPECT_STREQ(DXGetErrorString9A(E_FAIL), "E_FAIL");
    EXPECT_STREQ(DXGetErrorString9A(E_OUTOFMEMORY), "E_OUTOFMEMORY");
    EXPECT_STREQ(DXGetErrorString9A(E_NOTIMPL), "E_NOTIMPL");
    EXPECT_STREQ(DXGetErrorString9A(E_ACCESSDENIED), "E_ACCESSDENIED");
    EXPECT_STREQ(DXGetErrorString9A(D3DERR_INVALIDCALL), "D3DERR_INVALIDCALL");
    EXPECT_STREQ(DXGetErrorString9A(D3DERR_NOTAVAILABLE), "D3DERR_NOTAVAILABLE");
    EXPECT_STREQ(DXGetErrorString9A(D3DXERR_INVALIDDATA), "D3DXERR_INVALIDDATA");
    EXPECT_STREQ(DXGetErrorString9A(DIERR_INPUTLOST), "DIERR_INPUTLOST");
    EXPECT_STREQ(DXGetErrorString9A(DIERR_NOTACQUIRED), "DIERR_NOTACQUIRED");
    EXPECT_STREQ(DXGetErrorString9A(DIERR_OBJECTNOTFOUND), "DIERR_NOTFOUND");
    EXPECT_STREQ(DXGetErrorString9A(DIERR_GENERIC), "E_FAIL");
    EXPECT_STREQ(DXGetErrorString9A((HRESULT)0x12345678), "Unknown");
    EXPECT_STREQ(ZVResultName(ZVE_SUBFUNCTION), "ZVE_SUBFUNCTION");
}

TEST(Log, MessagesAreWrittenLiterally) {
    zvtest::LogCapture capture;
    CallScope scope(nullptr, "Test::Format()");
    testing::internal::CaptureStdout();
    scope.WriteLog(0, "%d %s %n %%", "%s", 0);
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, "[Test::Format()] %d %s %n %%\n");
    EXPECT_EQ(capture.debug, console);
    std::string file = zvtest::ReadFile(zvtest::ExeDir() + "zvlog.txt");
    ASSERT_GE(file.size(), console.size());
    EXPECT_EQ(file.substr(file.size() - console.size()), console);
}

TEST(Log, DebuggerOutputNeverReachesTheConsole) {
    testing::internal::CaptureStdout();
    OutputDebugStringA("debugger only\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// ---------------------------------------------------------------------------
// "zvlog.txt" in a fresh process: a copy of this program in a folder of its
// own, started from another current directory.

// Runs by itself only inside the child (ZV_FOUNDATION_LOG_CHILD set).
TEST(LogChild, WriteEntries) {
    if (!std::getenv("ZV_FOUNDATION_LOG_CHILD")) GTEST_SKIP() << "runs only as a child process";
    Named core;
    CallScope scope(&core, "Init()");
    scope.WriteLog(0, "first entry", "zvcore", 1);
    scope.WriteLog(1, "a warning", "zvcore", 2);
    scope.ReportFailure("failed step", "zvcore", 3, E_OUTOFMEMORY);
    ZVTestResetLog();  // as at the start of the next run
    scope.WriteLog(0, "second run", "zvcore", 4);
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Runs the copy from cwd with its console in consoleFile.  Unprivileged: as
// the user nobody when this program runs as root, whom permissions bind.
std::string RunChild(const std::string& program, const std::string& cwd, const std::string& consoleFile,
                     bool unprivileged = false) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(97);
        FILE* out = std::freopen(consoleFile.c_str(), "w", stdout);
        if (!out) _exit(98);
        if (unprivileged && geteuid() == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(96);
            prctl(PR_SET_DUMPABLE, 1);  // the leak checker of sanitizer builds inspects the process
        }
        setenv("ZV_FOUNDATION_LOG_CHILD", "1", 1);
        execl(program.c_str(), program.c_str(), "--gtest_filter=LogChild.WriteEntries", (char*)nullptr);
        _exit(99);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return zvtest::ReadFile(consoleFile);
}

std::string CopyProgram(const std::string& folder) {
    zvtest::MakeDir(folder);
    std::string program = folder + "/test_foundation_copy";
    zvtest::WriteFile(program, zvtest::ReadFile(ZVGetModuleFileName()));
    chmod(program.c_str(), 0755);
    return program;
}

TEST(LogFile, CreatedBesideTheProgramAndTruncated) {
    std::string base = zvtest::ExeDir() + "logchild";
    std::string program = CopyProgram(base);
    std::string elsewhere = zvtest::ExeDir() + "logchild_cwd";
    zvtest::MakeDir(elsewhere);
    zvtest::WriteFile(base + "/zvlog.txt", "old content of an earlier run\n");
    unlink((elsewhere + "/zvlog.txt").c_str());

    std::string console = RunChild(program, elsewhere, zvtest::ExeDir() + "logchild_console.txt");

    struct stat st;
    EXPECT_NE(stat((elsewhere + "/zvlog.txt").c_str(), &st), 0) << "the log went to the current directory";
    std::string log = zvtest::MaskTime(zvtest::ReadFile(base + "/zvlog.txt"));
    EXPECT_EQ(log, "[ZVCore::Init()] second run\n");
    EXPECT_NE(console.find("[ZVCore::Init()] first entry\n"
                           "\n[ZVCore::Init()] Warning : \"a warning\"\n"),
              std::string::npos)
        << console;
    EXPECT_NE(zvtest::MaskTime(console).find(
                  "\n[ZVCore::Init()] Error : \"Called function return E_OUTOFMEMORY (0x8007000E), Msg : 'failed "
                  "step'\"\nAt TT:TT:TT, See : \"zvcore\", line 3\n\n"),
              std::string::npos)
        << console;
}

// Where the log file cannot be opened (a folder in its place, a named pipe,
// which would open at once and hold the program up for good once full, or
// a folder the program may not write in), the open's error entry and a
// warning naming the file and why reach the console, once per run: the
// open is not retried and the log goes on on the console.
TEST(LogFile, FailedOpenIsReportedOnceAndNotRetried) {
    const struct {
        const char* folder;
        void (*block)(const std::string& log);  // puts the obstacle where the log goes
        const char* reason;
        bool unprivileged;
    } cases[] = {
        {"logchild_blocked", [](const std::string& log) { zvtest::MakeDir(log); }, "Is a directory", false},
        {"logchild_pipe",
         [](const std::string& log) {
             unlink(log.c_str());
             mkfifo(log.c_str(), 0600);
         },
         "it is not a regular file", false},
        {"logchild_readonly",
         [](const std::string& log) {
             unlink(log.c_str());
             chmod(FolderOf(log.c_str()).c_str(), 0555);
         },
         "Permission denied", true},
    };
    for (const auto& c : cases) {
        const std::string base = zvtest::ExeDir() + c.folder;
        chmod(base.c_str(), 0755);
        const std::string program = CopyProgram(base);
        c.block(base + "/zvlog.txt");
        const std::string console =
            RunChild(program, base, zvtest::ExeDir() + c.folder + "_console.txt", c.unprivileged);
        chmod(base.c_str(), 0755);
        const std::string masked = zvtest::MaskTime(console);
        const std::string openError = "\n[File::Open()] Error : \"OpenMode : 'w+t', File '" + base +
                                      "/zvlog.txt' not found or access denied\nPaths list is empty\"\n";
        const std::string warning = "\n[CallScope::WriteLog()] Warning : \"The log file 'zvlog.txt' cannot be "
                                    "written (" + std::string(c.reason) +
                                    "); the log goes to the console only\"\nAt TT:TT:TT, See : \"zvstuff\", line ";
        size_t first = masked.find(openError);
        ASSERT_NE(first, std::string::npos) << masked;
        EXPECT_LT(first, masked.find(warning)) << masked;
        EXPECT_LT(masked.find(warning), masked.find("[ZVCore::Init()] first entry")) << masked;
        // ZVTestResetLog in the child allows one more attempt for the "second run".
        size_t second = masked.find(openError, first + 1);
        EXPECT_NE(second, std::string::npos);
        EXPECT_EQ(masked.find(openError, second + 1), std::string::npos);
        EXPECT_EQ(Occurrences(masked, warning), 2u) << masked;
        EXPECT_NE(masked.find("[ZVCore::Init()] second run\n"), std::string::npos);
    }
}

}  // namespace
