// The choice of one model inside a ".def" list: which models are listed,
// the console listing, whole input lines of which only a number of the list
// is taken, the end of the input failing the start-up, and a quit signal
// ending the question as a close would.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "zvconsole.h"

#include "viewer_support.h"
#include "zvmd5writer.h"

using namespace viewertest;

namespace {

class ViewerChooseTest : public ViewerTest {
protected:
    void TearDown() override {
        // Back to an empty console input.
        if (!std::freopen("/dev/null", "r", stdin)) ADD_FAILURE() << "stdin not restored";
        if (writer >= 0) close(writer);
        ViewerTest::TearDown();
        ZVTestResetQuitSignals();
    }
    // The console input becomes a pipe that stays open and empty: the
    // question waits until a quit signal comes, sent 200 ms later.
    void InterruptTheQuestion() {
        ZVCatchQuitSignals();
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        ASSERT_GE(dup2(ends[0], 0), 0);
        close(ends[0]);
        clearerr(stdin);
        writer = ends[1];
        signaller = std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            kill(getpid(), SIGINT);
        });
    }
    void JoinSignaller() {
        if (signaller.joinable()) signaller.join();
    }
    // The console input of the question.
    void Answer(const std::string& text) {
        ASSERT_TRUE(WriteFile(dir + "answers.txt", text));
        ASSERT_NE(std::freopen((dir + "answers.txt").c_str(), "r", stdin), nullptr);
    }
    // A list of n usable models named m0, m1, ... (plus what `extra` adds).
    std::string WriteList(int n, std::vector<zvtools::MD5DefModel> extra = {}) {
        std::vector<zvtools::MD5DefModel> models;
        for (int i = 0; i < n; ++i) {
            zvtools::MD5DefModel m;
            m.name = "m" + std::to_string(i);
            m.mesh = "m" + std::to_string(i) + ".md5mesh";
            m.anims.push_back({"idle", "idle.md5anim"});
            models.push_back(m);
        }
        models.insert(models.end(), extra.begin(), extra.end());
        std::string path = dir + "list.def";
        EXPECT_TRUE(WriteFile(path, zvtools::WriteMD5Def(models)));
        return path;
    }
    HRESULT Choose(const std::string& path, std::string* console, std::string* chosen) {
        Viewer v;
        String file = path.c_str();
        testing::internal::CaptureStdout();
        HRESULT hr = v.ChooseMD5Model(file);
        std::fflush(stdout);
        *console = testing::internal::GetCapturedStdout();
        *chosen = file.c_str();
        return hr;
    }

    int writer = -1;
    std::thread signaller;
};

TEST_F(ViewerChooseTest, OneUsableModelIsTakenWithoutAQuestion) {
    zvtools::MD5DefModel noMesh;
    noMesh.name = "ghost";
    zvtools::MD5DefModel otherMesh;
    otherMesh.name = "statue";
    otherMesh.mesh = "statue.obj";
    std::string path = WriteList(1, {noMesh, otherMesh});
    Answer("");
    std::string console, chosen;
    EXPECT_EQ(Choose(path, &console, &chosen), S_OK);
    EXPECT_EQ(chosen, path + "?m0");
    EXPECT_FALSE(Contains(console, "Please enter the id of a model")) << console;
}

TEST_F(ViewerChooseTest, TwelveModelsAreListedWithTwoDigitsAndOnlyANumberOfTheListIsTaken) {
    // The same model twice is listed once.
    zvtools::MD5DefModel again;
    again.name = "m3";
    again.mesh = "other.md5mesh";
    std::string path = WriteList(12, {again});
    Answer("abc\n12\n-1\n3x\n\n4 5\n 11 \n7\n");
    std::string console, chosen;
    EXPECT_EQ(Choose(path, &console, &chosen), S_OK);
    EXPECT_EQ(chosen, path + "?m11");
    EXPECT_TRUE(Contains(console, "\n\nThe .def file you want to load contains many MD5 models :\nModel[00] : m0\n"
                                  "Model[01] : m1\n"))
        << console;
    EXPECT_TRUE(Contains(console, "Model[09] : m9\nModel[10] : m10\nModel[11] : m11\n"));
    EXPECT_FALSE(Contains(console, "Model[12]"));
    // Asked again after each of the six refused lines.
    size_t prompts = 0;
    for (size_t at = console.find("Please enter the id of a model : "); at != std::string::npos;
         at = console.find("Please enter the id of a model : ", at + 1))
        ++prompts;
    EXPECT_EQ(prompts, 7u);
}

TEST_F(ViewerChooseTest, TenModelsAreListedWithOneDigit) {
    std::string path = WriteList(10);
    Answer("9\n");
    std::string console, chosen;
    EXPECT_EQ(Choose(path, &console, &chosen), S_OK);
    EXPECT_EQ(chosen, path + "?m9");
    EXPECT_TRUE(Contains(console, "Model[0] : m0\n")) << console;
    EXPECT_TRUE(Contains(console, "Model[9] : m9\n"));
    EXPECT_FALSE(Contains(console, "Model[00]"));
}

TEST_F(ViewerChooseTest, EndOfTheInputFailsWithALoggedError) {
    std::string path = WriteList(3);
    Answer("5\nnone");  // a refused number, then the input ends mid-line
    std::string console, chosen;
    EXPECT_EQ(Choose(path, &console, &chosen), ZVE_SUBFUNCTION);
    EXPECT_EQ(chosen, path);
    EXPECT_TRUE(Contains(log, "[Viewer::ChooseMD5Model()] Error : \"Called function return E_FAIL (0x80004005), "
                              "Msg : 'The console input ended before a model was chosen'"))
        << log;
}

TEST_F(ViewerChooseTest, ListWithoutUsableModelFails) {
    zvtools::MD5DefModel noMesh;
    noMesh.name = "ghost";
    noMesh.anims.push_back({"idle", "idle.md5anim"});
    std::string path = WriteList(0, {noMesh});
    std::string console, chosen;
    EXPECT_EQ(Choose(path, &console, &chosen), E_FAIL);
    EXPECT_TRUE(Contains(log, "[Viewer::ChooseMD5Model()] The file '" + path +
                                  "' doesn't contain any model. Verify that the file is a correct .def MD5 file "
                                  "and that it contains at least one correct 'model'"))
        << log;
}

TEST_F(ViewerChooseTest, UnreadableListFails) {
    std::string console, chosen;
    EXPECT_EQ(Choose(dir + "absent.def", &console, &chosen), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "[Viewer::ChooseMD5Model()] Error : \"Called function return")) << log;
}

TEST_F(ViewerChooseTest, StartUpFailsWhenTheInputEndsBeforeTheChoice) {
    WriteList(2);
    Answer("");
    testing::internal::CaptureStdout();
    HRESULT hr = Start("LIST.DEF");
    testing::internal::GetCapturedStdout();
    EXPECT_LT(hr, 0);
    EXPECT_TRUE(Contains(log, "The console input ended before a model was chosen")) << log;
    EXPECT_TRUE(Contains(log, "Initialisation of Zorvane failed"));
    EXPECT_EQ(viewer->pCore, nullptr);
    EXPECT_FALSE(viewer->bInitialised);
}

TEST_F(ViewerChooseTest, QuitSignalEndsTheQuestionWithoutAnError) {
    std::string path = WriteList(3);
    InterruptTheQuestion();
    std::string console, chosen;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Choose(path, &console, &chosen), S_FALSE);
    JoinSignaller();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(chosen, path);
    EXPECT_TRUE(Contains(console, "Please enter the id of a model : ")) << console;
    EXPECT_TRUE(Contains(log, "[Viewer::ChooseMD5Model()] The model choice was interrupted; the viewer ends")) << log;
    EXPECT_FALSE(Contains(log, "Error")) << log;
}

TEST_F(ViewerChooseTest, QuitSignalDuringTheStartUpReleasesEverythingAsACloseDoes) {
    WriteList(2);
    InterruptTheQuestion();
    testing::internal::CaptureStdout();
    HRESULT hr = Start(nullptr, {"scene.3ds", "list.def"});
    testing::internal::GetCapturedStdout();
    JoinSignaller();
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(viewer->pCore, nullptr);
    EXPECT_FALSE(viewer->bInitialised);
    for (const char* line : {"The model choice was interrupted", "[Viewer::Init()] The start-up was interrupted",
                             "End Of the App; Release...", "Graphics Engine correctly shutdown",
                             "Zorvane Engine correctly shutdown", "[Viewer::Close()] EOF"})
        EXPECT_TRUE(Contains(log, line)) << line << "\n" << log;
    EXPECT_FALSE(Contains(log, "Error")) << log;
    EXPECT_FALSE(Contains(log, "Initialisation of Zorvane failed")) << log;
}

}  // namespace
