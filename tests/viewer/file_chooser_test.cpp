// The file chooser behind GetOpenFileNameA: the dialog program with the
// dialog's title and filters (a stand-in script plays the user), the console
// when there is no program, only existing regular files, cancel, and the
// record's failures.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "program_support.h"
#include "zvconsole.h"
#include "zvcommdlg.h"
#include "zvstuff.h"

namespace {

const char kFilter[] = "MD5Anim files (*.md5anim)\0*.md5anim\0All files (*.*)\0*.*\0";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

class FileChooserTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::string(GetExeDir().c_str()) + "chooser/";
        mkdir(dir.c_str(), 0755);
        anim = dir + "walk.md5anim";
        WriteAll(anim, "MD5Version 10\n");
        program = dir + "fake-dialog";
        // Plays the user: records its arguments, then gives the answer of
        // its n-th call ("CANCEL": the cancel button; "FAIL": cannot open).
        WriteAll(program,
                 "#!/bin/sh\n"
                 "d=$(dirname \"$0\")\n"
                 "printf '%s\\n' \"$@\" > \"$d/args.txt\"\n"
                 "n=$(cat \"$d/count.txt\" 2>/dev/null || echo 0)\n"
                 "n=$((n+1))\n"
                 "echo $n > \"$d/count.txt\"\n"
                 "a=$(sed -n \"${n}p\" \"$d/answers.txt\")\n"
                 "[ \"$a\" = CANCEL ] && exit 1\n"
                 "[ \"$a\" = FAIL ] && exit 255\n"
                 "printf '%s\\n' \"$a\"\n"
                 "exit 0\n");
        chmod(program.c_str(), 0755);
        std::remove((dir + "count.txt").c_str());
        std::remove((dir + "args.txt").c_str());
        ZVTestClearOpenFileAnswers();
        if (!std::getenv("DISPLAY")) setenv("DISPLAY", ":0", 1);
        consoleIn = std::tmpfile();
        consoleOut = std::tmpfile();
        ZVTestSetOpenFileConsole(consoleIn, consoleOut);
        std::memset(file, 0, sizeof(file));
        std::memset(title, 0, sizeof(title));
        std::memset(&record, 0, sizeof(record));
        record.lStructSize = sizeof(record);
        record.lpstrFilter = kFilter;
        record.nFilterIndex = 1;
        record.lpstrFile = file;
        record.nMaxFile = sizeof(file);
        record.lpstrFileTitle = title;
        record.nMaxFileTitle = sizeof(title);
        record.lpstrTitle = "Zorvane - Load an Animation";
        record.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    }
    void TearDown() override {
        ZVTestSetOpenFileProgram(nullptr);
        ZVTestSetOpenFileWait(nullptr);
        ZVTestSetOpenFileConsole(nullptr, nullptr);
        std::fclose(consoleIn);
        std::fclose(consoleOut);
    }
    void Answers(const std::string& lines) { WriteAll(dir + "answers.txt", lines); }
    void Console(const std::string& text) {
        std::fputs(text.c_str(), consoleIn);
        std::rewind(consoleIn);
    }
    std::string ConsoleOutput() {
        std::fflush(consoleOut);
        std::rewind(consoleOut);
        std::string text;
        int c;
        while ((c = std::fgetc(consoleOut)) != EOF) text.push_back((char)c);
        return text;
    }
    std::string Args() { return ReadAll(dir + "args.txt"); }
    int Calls() { return std::atoi(ReadAll(dir + "count.txt").c_str()); }

    std::string dir, anim, program;
    FILE* consoleIn = nullptr;
    FILE* consoleOut = nullptr;
    char file[512];
    char title[64];
    OPENFILENAMEA record;
};

TEST_F(FileChooserTest, DialogProgramGetsTheTitleAndFiltersAndItsAnswerIsTaken) {
    ZVTestSetOpenFileProgram(program.c_str());
    Answers(anim + "\n");
    ASSERT_EQ(GetOpenFileNameA(&record), TRUE);
    EXPECT_STREQ(file, anim.c_str());
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_EQ(record.nFileOffset, dir.size());
    EXPECT_EQ(record.nFileExtension, anim.size() - 7);
    EXPECT_STREQ(title, "walk.md5anim");
    EXPECT_EQ(Args(),
              "--file-selection\n--title=Zorvane - Load an Animation\n"
              "--file-filter=MD5Anim files (*.md5anim) | *.md5anim\n--file-filter=All files (*.*) | *\n");
    EXPECT_EQ(ConsoleOutput(), "");

    // The selected filter is offered first.
    record.nFilterIndex = 2;
    std::remove((dir + "count.txt").c_str());
    ASSERT_EQ(GetOpenFileNameA(&record), TRUE);
    EXPECT_EQ(Args(),
              "--file-selection\n--title=Zorvane - Load an Animation\n"
              "--file-filter=All files (*.*) | *\n--file-filter=MD5Anim files (*.md5anim) | *.md5anim\n");
}

TEST_F(FileChooserTest, CancelLeavesTheRecordAsItWas) {
    ZVTestSetOpenFileProgram(program.c_str());
    Answers("CANCEL\n");
    std::strcpy(file, "start");
    EXPECT_EQ(GetOpenFileNameA(&record), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_STREQ(file, "start");
    EXPECT_EQ(Calls(), 1);
}

TEST_F(FileChooserTest, OnlyAnExistingRegularFileIsAccepted) {
    ZVTestSetOpenFileProgram(program.c_str());
    // A missing file, then a folder, then the file.
    Answers(dir + "missing.md5anim\n" + dir + "\n" + anim + "\n");
    ASSERT_EQ(GetOpenFileNameA(&record), TRUE);
    EXPECT_STREQ(file, anim.c_str());
    EXPECT_EQ(Calls(), 3);
    EXPECT_TRUE(ConsoleOutput().find("is not an existing file") != std::string::npos);
}

TEST_F(FileChooserTest, ProgramThatCannotOpenGivesWayToTheConsole) {
    ZVTestSetOpenFileProgram(program.c_str());
    Answers("FAIL\n");
    Console(anim + "\n");
    ASSERT_EQ(GetOpenFileNameA(&record), TRUE);
    EXPECT_STREQ(file, anim.c_str());
    EXPECT_EQ(Calls(), 1);
    EXPECT_TRUE(ConsoleOutput().find("Zorvane - Load an Animation") != std::string::npos);
}

// Fails like a wait that keeps failing; from the 100th call on it lets the
// wait get on, so that a caller that tries again and again still returns.
int g_polls = 0;
int FailingPoll(pollfd* fds, nfds_t count, int timeoutMs) {
    if (++g_polls >= 100) return poll(fds, count, timeoutMs);
    errno = ENOMEM;
    return -1;
}

TEST_F(FileChooserTest, AFailedWaitForTheProgramEndsItAndGivesWayToTheConsole) {
    ZVTestSetOpenFileProgram(program.c_str());
    ZVTestSetOpenFilePoll(FailingPoll);
    g_polls = 0;
    Answers("CANCEL\n");  // never taken
    Console(anim + "\n");
    const BOOL chosen = GetOpenFileNameA(&record);
    ZVTestSetOpenFilePoll(nullptr);
    EXPECT_EQ(g_polls, 1);
    EXPECT_TRUE(programtest::ChildrenOf(getpid()).empty()) << "the program was not ended and waited for";
    EXPECT_EQ(chosen, TRUE);
    EXPECT_STREQ(file, anim.c_str());
    const std::string out = ConsoleOutput();
    EXPECT_NE(out.find("The wait for '" + program + "' failed (Cannot allocate memory)."), std::string::npos) << out;
}

// The dialog program's end reaped elsewhere: the wait finds no such child.
pid_t WaitReapedElsewhere(pid_t pid, int*, int) {
    waitpid(pid, nullptr, 0);
    errno = ECHILD;
    return -1;
}

// Without its status only the program's answer tells: a name it wrote is the
// choice, none (the cancel button, a program that failed, an empty line) a
// cancel, never an empty choice that asks again.
TEST_F(FileChooserTest, AProgramThatCannotBeWaitedForChoosesByItsAnswerAlone) {
    ZVTestSetOpenFileProgram(program.c_str());
    ZVTestSetOpenFileWait(WaitReapedElsewhere);
    const struct {
        std::string answers;  // the program's answers, call after call
        BOOL chosen;
    } cases[] = {
        {anim + "\n", TRUE},
        {"CANCEL\n" + anim + "\n", FALSE},
        {"FAIL\n" + anim + "\n", FALSE},
        {"\n" + anim + "\n", FALSE},
    };
    for (const auto& c : cases) {
        std::remove((dir + "count.txt").c_str());
        Answers(c.answers);
        std::strcpy(file, "start");
        EXPECT_EQ(GetOpenFileNameA(&record), c.chosen) << c.answers;
        EXPECT_STREQ(file, c.chosen ? anim.c_str() : "start");
        EXPECT_EQ(Calls(), 1) << c.answers;
    }
    EXPECT_TRUE(programtest::ChildrenOf(getpid()).empty()) << "a program was left behind";
    EXPECT_EQ(ConsoleOutput(), "");
}

// A dialog program that closes its answer at once but lingers for about ten
// seconds before it ends (and leaves a mark when it got that far); from its
// second call on it is cancelled.
class LingeringDialogTest : public FileChooserTest {
protected:
    void SetUp() override {
        FileChooserTest::SetUp();
        lingering = dir + "lingering-dialog";
        WriteAll(lingering,
                 "#!/bin/sh\n"
                 "d=$(dirname \"$0\")\n"
                 "n=$(cat \"$d/count.txt\" 2>/dev/null || echo 0)\n"
                 "n=$((n+1))\n"
                 "echo $n > \"$d/count.txt\"\n"
                 "[ $n -gt 1 ] && exit 1\n"
                 "exec >&-\n"
                 "i=0\n"
                 "while [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done\n"
                 "touch \"$d/lingered.txt\"\n"
                 "exit 0\n");
        chmod(lingering.c_str(), 0755);
        std::remove((dir + "lingered.txt").c_str());
        ZVTestSetOpenFileProgram(lingering.c_str());
    }
    void TearDown() override {
        ZVTestSetOpenFilePoll(nullptr);
        ZVTestSetOpenFileRead(nullptr);
        ZVTestResetQuitSignals();
        FileChooserTest::TearDown();
    }
    // Whether the program was left to end by itself rather than ended.
    bool Lingered() {
        struct stat st;
        return stat((dir + "lingered.txt").c_str(), &st) == 0;
    }
    std::string lingering;
};

// The quit signal comes once the program has closed its answer.
int QuitOnHangUp(pollfd* fds, nfds_t count, int timeoutMs) {
    const int ready = poll(fds, count, timeoutMs);
    if (ready > 0 && (fds[0].revents & POLLHUP)) raise(SIGTERM);
    return ready;
}

TEST_F(LingeringDialogTest, AQuitWhileTheProgramIsStillToEndEndsIt) {
    ZVCatchQuitSignals();
    ZVTestSetOpenFilePoll(QuitOnHangUp);
    std::strcpy(file, "start");
    EXPECT_EQ(GetOpenFileNameA(&record), FALSE);
    EXPECT_TRUE(ZVQuitRequested());
    EXPECT_FALSE(Lingered()) << "the wait for the program's end ignored the quit";
    EXPECT_TRUE(programtest::ChildrenOf(getpid()).empty()) << "the program was not ended and waited for";
    EXPECT_STREQ(file, "start");
    EXPECT_EQ(Calls(), 1);
    EXPECT_EQ(ConsoleOutput(), "");
}

ssize_t FailingRead(int, void*, size_t) {
    errno = EIO;
    return -1;
}

TEST_F(LingeringDialogTest, AFailedReadOfTheAnswerEndsTheProgramAndGivesWayToTheConsole) {
    ZVTestSetOpenFileRead(FailingRead);
    Console(anim + "\n");
    const BOOL chosen = GetOpenFileNameA(&record);
    EXPECT_FALSE(Lingered()) << "the program was waited out instead of ended";
    EXPECT_TRUE(programtest::ChildrenOf(getpid()).empty()) << "the program was not ended and waited for";
    EXPECT_EQ(chosen, TRUE);
    EXPECT_STREQ(file, anim.c_str());
    EXPECT_EQ(Calls(), 1);
    const std::string out = ConsoleOutput();
    EXPECT_NE(out.find("Reading the answer of '" + lingering + "' failed (Input/output error)."), std::string::npos)
        << out;
}

TEST_F(FileChooserTest, ConsoleAsksUntilAFileOrAnEmptyLine) {
    ZVTestSetOpenFileProgram("");
    Console("  " + dir + "nothing-here  \n" + dir + "\n  " + anim + "  \r\n");
    ASSERT_EQ(GetOpenFileNameA(&record), TRUE);
    EXPECT_STREQ(file, anim.c_str());
    std::string out = ConsoleOutput();
    EXPECT_TRUE(out.find("\nZorvane - Load an Animation\n") != std::string::npos) << out;
    EXPECT_TRUE(out.find("MD5Anim files (*.md5anim) All files (*.*)") != std::string::npos) << out;
    EXPECT_TRUE(out.find("'" + dir + "nothing-here' is not an existing file.") != std::string::npos) << out;

    // An empty line cancels, and so does the end of the input.
    std::fclose(consoleIn);
    consoleIn = std::tmpfile();
    ZVTestSetOpenFileConsole(consoleIn, consoleOut);
    Console("\n" + anim + "\n");
    std::strcpy(file, "before");
    EXPECT_EQ(GetOpenFileNameA(&record), FALSE);
    EXPECT_STREQ(file, "before");
    std::fclose(consoleIn);
    consoleIn = std::tmpfile();
    ZVTestSetOpenFileConsole(consoleIn, consoleOut);
    EXPECT_EQ(GetOpenFileNameA(&record), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), 0u);
}

TEST_F(FileChooserTest, QueuedAnswersSpeakForTheUser) {
    ZVTestSetOpenFileProgram(program.c_str());
    int calls = ZVTestOpenFileCalls();
    ZVTestQueueOpenFileAnswer((dir + "missing").c_str());
    ZVTestQueueOpenFileAnswer(anim.c_str());
    ZVTestQueueOpenFileAnswer(nullptr);
    EXPECT_EQ(GetOpenFileNameA(&record), TRUE);
    EXPECT_STREQ(file, anim.c_str());
    EXPECT_EQ(GetOpenFileNameA(&record), FALSE);
    // Run dry: cancel, and never the program.
    EXPECT_EQ(GetOpenFileNameA(&record), FALSE);
    EXPECT_EQ(Calls(), 0);
    EXPECT_EQ(ZVTestOpenFileCalls(), calls + 3);
    ZVTestClearOpenFileAnswers();
}

TEST_F(FileChooserTest, BadRecordsAndShortBuffersFail) {
    ZVTestSetOpenFileProgram("");
    record.lStructSize = 12;
    EXPECT_EQ(GetOpenFileNameA(&record), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), CDERR_STRUCTSIZE);
    EXPECT_EQ(GetOpenFileNameA(nullptr), FALSE);
    record.lStructSize = sizeof(record);
    record.lpstrFile = nullptr;
    EXPECT_EQ(GetOpenFileNameA(&record), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), CDERR_INITIALIZATION);

    // The path does not fit: the size needed goes into the first two bytes.
    record.lpstrFile = file;
    record.nMaxFile = 8;
    Console(anim + "\n");
    EXPECT_EQ(GetOpenFileNameA(&record), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), FNERR_BUFFERTOOSMALL);
    WORD needed = 0;
    std::memcpy(&needed, file, 2);
    EXPECT_EQ(needed, anim.size() + 1);
}

}  // namespace
