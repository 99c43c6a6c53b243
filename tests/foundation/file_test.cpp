// File and the search path: look-up order, tidying of the entries, where
// files are written, failed opens, and the platform's file names.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "foundation_support.h"
#include "zvstuff.h"

namespace {

class PathsTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = Paths;
        Paths.count = 0;
        exe = zvtest::ExeDir();
        zvtest::MakeDir(exe + "pa");
        zvtest::MakeDir(exe + "pb");
        zvtest::MakeDir(exe + "pb/Sub");
        zvtest::WriteFile(exe + "pa/f.txt", "from a");
        zvtest::WriteFile(exe + "pb/f.txt", "from b");
        zvtest::WriteFile(exe + "pa/only_a.txt", "a");
        zvtest::WriteFile(exe + "pb/Sub/TEXTURE.TGA", "upper");
    }
    void TearDown() override { Paths = saved_; }

    std::string Entry(u32 i) { return Paths.data[i].c_str(); }

    std::string exe;
    Vector<String> saved_;
};

TEST_F(PathsTest, LastEntryIsSearchedFirst) {
    Paths.Add("pa");
    Paths.Add("pb");
    zvtest::LogCapture capture;
    EXPECT_STREQ(File::GetFullPath("f.txt").c_str(), (exe + "pb/").c_str());
    EXPECT_STREQ(File::GetFullPath("only_a.txt").c_str(), (exe + "pa/").c_str());
    EXPECT_STREQ(File::GetFullPath("nowhere.txt").c_str(), "");
    ASSERT_EQ(Paths.count, 2u);
    EXPECT_EQ(Entry(0), exe + "pa/");
    EXPECT_EQ(Entry(1), exe + "pb/");
    EXPECT_EQ(capture.log, "");
    File file;
    ASSERT_EQ(file.Open("f.txt", "rb"), S_OK);
    char buf[16] = {0};
    EXPECT_EQ(file.Read(buf, sizeof(buf)), 6);
    EXPECT_STREQ(buf, "from b");
}

TEST_F(PathsTest, EntriesKeepTheirSeparatorAndEmptyMeansTheProgramsDirectory) {
    Paths.Add("");
    Paths.Add("pa\\");
    Paths.Add(String(exe.c_str()) + "pb");
    File::GetFullPath("x");
    ASSERT_EQ(Paths.count, 3u);
    EXPECT_EQ(Entry(0), exe);
    EXPECT_EQ(Entry(1), exe + "pa\\");
    EXPECT_EQ(Entry(2), exe + "pb/");
    // A backslash entry still finds its files.
    Paths.Remove(2);
    EXPECT_EQ(std::string(File::GetFullPath("only_a.txt").c_str()), exe + "pa\\");
}

TEST_F(PathsTest, MissingEntryIsRemovedWithOneWarning) {
    Paths.Add("pa");
    Paths.Add("missing");
    Paths.Add("pb");
    zvtest::LogCapture capture;
    EXPECT_STREQ(File::GetFullPath("only_a.txt").c_str(), (exe + "pa/").c_str());
    std::string masked = zvtest::MaskTime(capture.log);
    std::string expected = "\n[File::GetFullPath()] Warning : \"Path '" + exe +
                           "missing/' do not exist (=> Remove it)\"\nAt TT:TT:TT, See : \"zvstuff\", line ";
    EXPECT_EQ(masked.substr(0, expected.size()), expected);
    EXPECT_EQ(masked.find("Warning", expected.size()), std::string::npos);
    ASSERT_EQ(Paths.count, 2u);
    EXPECT_EQ(Entry(1), exe + "pb/");
    capture.log.clear();
    File::GetFullPath("only_a.txt");
    EXPECT_EQ(capture.log, "");
}

TEST_F(PathsTest, AFileIsNotADirectory) {
    Paths.Add("pa/f.txt");  // a file, not a directory
    zvtest::LogCapture capture;
    File::GetFullPath("x");
    EXPECT_EQ(Paths.count, 0u);
    // A directory found on the path is not a file that can be opened.
    Paths.Add("");
    EXPECT_STREQ(File::GetFullPath("pa").c_str(), "");
    File file;
    EXPECT_EQ(file.Open("pa", "rb"), E_FAIL);
    EXPECT_EQ(file.handle, nullptr);
}

TEST_F(PathsTest, DevicesAreNotReadAsFiles) {
    // A device named as a model would be read forever.
    File file;
    EXPECT_EQ(file.Open("/dev/zero", "rb"), E_FAIL);
    EXPECT_EQ(file.handle, nullptr);
    // Files that are only written may still be devices (a screenshot sent to
    // /dev/null); the log's mode also reads and takes regular files only.
    EXPECT_EQ(file.Open("/dev/null", "wb"), S_OK);
    file.Close();
    EXPECT_EQ(file.Open("/dev/null", "w+t"), E_FAIL);
    EXPECT_EQ(file.handle, nullptr);
}

// Every file is opened closed-on-exec (the file chooser's dialog program
// inherits none, the log least of all) and blocking once open.
TEST_F(PathsTest, OpenFilesAreNotInheritedAndBlock) {
    Paths.Add("pa");
    const struct {
        const char* name;
        const char* mode;
    } opens[] = {{"f.txt", "rb"}, {"written.txt", "w+t"}, {"written.txt", "wb"}, {"written.txt", "a"},
                 {"/dev/null", "wb"}};
    for (const auto& o : opens) {
        File file;
        ASSERT_EQ(file.Open(o.name, o.mode), S_OK) << o.name << " " << o.mode;
        const int fd = fileno(file.handle);
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << o.name << " " << o.mode;
        EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << o.name << " " << o.mode;
    }
}

// A terminal named as a file is refused for reading and, written, opened
// without becoming the controlling terminal of a process that has none (a
// session leader, as a program started from a desktop is).
TEST_F(PathsTest, ATerminalNeverBecomesTheControllingTerminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) GTEST_SKIP() << "no pseudo-terminals here";
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    const pid_t child = fork();
    if (child == 0) {
        // Exit codes: 0 all held, 1 no new session, 2 read, 3 not written,
        // 4 the terminal became the controlling one.
        if (setsid() < 0) _exit(1);
        File file;
        if (file.Open(String(terminal.c_str()), "rb") != E_FAIL) _exit(2);
        if (file.Open(String(terminal.c_str()), "wb") != S_OK) _exit(3);
        const int controlling = open("/dev/tty", O_RDWR | O_NOCTTY);
        _exit(controlling < 0 ? 0 : 4);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(master);
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(PathsTest, WrittenFilesGoBesideTheProgram) {
    Paths.Add("pa");
    unlink((exe + "written.txt").c_str());
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof(here)), nullptr);
    ASSERT_EQ(chdir("/tmp"), 0);
    File file;
    HRESULT hr = file.Open("written.txt", "w+t");
    file.Close();
    ASSERT_EQ(chdir(here), 0);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(zvtest::ReadFile(exe + "written.txt"), "");
    EXPECT_EQ(access((exe + "written.txt").c_str(), F_OK), 0);
    EXPECT_EQ(Paths.count, 1u);
    EXPECT_STREQ(Paths.data[0].c_str(), "pa");  // writing does not look at the search path
}

TEST_F(PathsTest, AbsoluteNamesAreOpenedAsTheyAre) {
    Paths.Add("missing");
    zvtest::LogCapture capture;
    File file;
    EXPECT_EQ(file.Open(String((exe + "pa/f.txt").c_str()), "rb"), S_OK);
    EXPECT_STREQ(File::GetFullPath(String((exe + "pa/f.txt").c_str())).c_str(), "");
    EXPECT_STREQ(File::GetFullPath("D:\\a.txt").c_str(), "");
    EXPECT_EQ(capture.log, "");
    EXPECT_STREQ(Paths.data[0].c_str(), "missing");
    EXPECT_TRUE(IsAbsolutePath("C:\\data\\x.3ds"));
    EXPECT_TRUE(IsAbsolutePath("D:/scene.txt"));
    EXPECT_TRUE(IsAbsolutePath("/usr"));
    EXPECT_FALSE(IsAbsolutePath("data\\x.3ds"));
    EXPECT_FALSE(IsAbsolutePath("x"));
    EXPECT_FALSE(IsAbsolutePath(""));
}

TEST_F(PathsTest, FailedOpenListsThePaths) {
    zvtest::LogCapture capture;
    File file;
    EXPECT_EQ(file.Open("nothing.bin", "rb"), E_FAIL);
    EXPECT_NE(capture.log.find("[File::Open()] Error : \"OpenMode : 'rb', File 'nothing.bin' not found or access "
                               "denied\nPaths list is empty\"\n"),
              std::string::npos)
        << capture.log;
    Paths.Add("pa");
    Paths.Add("pb");
    capture.log.clear();
    EXPECT_EQ(file.Open("nothing.bin", "rb"), E_FAIL);
    EXPECT_NE(capture.log.find("not found or access denied\nPaths=" + exe + "pb/;" + exe + "pa/;\"\n"),
              std::string::npos)
        << capture.log;
}

TEST_F(PathsTest, ReadAndCloseWithoutAFile) {
    File file;
    char c;
    EXPECT_EQ(file.Read(&c, 1), -1);
    file.Close();
    EXPECT_EQ(file.handle, nullptr);
}

TEST_F(PathsTest, NamesFromFilesUseBackslashesAndAnyCase) {
    Paths.Add("pb");
    File file;
    EXPECT_EQ(file.Open("sub\\texture.tga", "rb"), S_OK);
    EXPECT_STREQ(File::GetFullPath("SUB/Texture.Tga").c_str(), (exe + "pb/").c_str());
    EXPECT_EQ(ZVResolvePath((exe + "PB\\sub\\texture.tga").c_str()), exe + "pb/Sub/TEXTURE.TGA");
    // The exact spelling wins when it exists; an unknown last part stays as written.
    EXPECT_EQ(ZVResolvePath((exe + "pb/NewFile.txt").c_str()), exe + "pb/NewFile.txt");
    EXPECT_EQ(ZVResolvePath((exe + "pb/f.txt").c_str()), exe + "pb/f.txt");
    EXPECT_EQ(ZVResolvePath("C:\\tmp"), "/tmp");
    EXPECT_NE(GetFileAttributesA((exe + "PB\\SUB").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesA((exe + "pb/none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA((exe + "pb/f.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(Platform, ModuleFileName) {
    std::string full = ZVGetModuleFileName();
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(full.substr(full.rfind('/') + 1, 15), "test_foundation");
    EXPECT_EQ(std::string(GetExeDir().c_str()), full.substr(0, full.rfind('/') + 1));
    char buf[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buf, sizeof(buf)), 8u);
    EXPECT_EQ(std::string(buf), full.substr(0, 7));
    std::string big(full.size() + 10, 'x');
    EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), &big[0], (DWORD)big.size()), full.size());
    EXPECT_STREQ(big.c_str(), full.c_str());
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
}

TEST(Platform, Clock) {
    LARGE_INTEGER frequency, a, b;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    ASSERT_TRUE(QueryPerformanceCounter(&a));
    Sleep(20);
    ASSERT_TRUE(QueryPerformanceCounter(&b));
    double elapsed = (double)(b.QuadPart - a.QuadPart) / (double)frequency.QuadPart;
    EXPECT_GE(elapsed, 0.019);
    EXPECT_LT(elapsed, 5.0);
    // The origin is the start of the process: the counter is small, so float seconds stay precise.
    EXPECT_LT((double)a.QuadPart / (double)frequency.QuadPart, 3600.0);
    EXPECT_LT(GetTickCount(), 3600u * 1000u);
}

}  // namespace
