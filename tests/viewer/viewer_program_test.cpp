// The program Lumivex itself, started in a folder of its own with its files
// beside it: the exit code -1 of a failed start-up with its log, the console
// question of a ".def" list, and a start that reaches the frame loop.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "md5_support.h"
#include "viewer_support.h"

using namespace viewertest;

namespace {

struct Outcome {
    bool exited = false;  // false: stopped by the test once the loop ran
    int code = -1;
    std::string console;
    std::string log;
};

class LumivexProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = ExeDir() + "program/";
        mkdir(folder.c_str(), 0755);
        for (const char* name : {"Lumivex", "zvlog.txt", "zvscene.txt", "console.txt", "input.txt"})
            std::remove((folder + name).c_str());
        // The program finds its files beside itself: a link of our own.
        if (link(ZV_LUMIVEX, (folder + "Lumivex").c_str()) != 0) {
            ASSERT_TRUE(WriteFile(folder + "Lumivex", ReadFile(ZV_LUMIVEX)));
            chmod((folder + "Lumivex").c_str(), 0755);
        }
        ASSERT_TRUE(WriteFile(folder + "lucida_console.tga", ReadFile(ZV_FONT_IMAGE)));
        ASSERT_TRUE(WriteBox3ds(folder + "scene.3ds", 50.0f, 128, 128, 128));
        ASSERT_TRUE(WriteFile(folder + "figure.md5mesh", zvtools::WriteMD5Mesh(md5test::SampleMesh())));
        zvtools::MD5DefModel scout, guard;
        scout.name = "scout";
        scout.mesh = "figure.md5mesh";
        guard.name = "guard";
        guard.mesh = "figure.md5mesh";
        ASSERT_TRUE(WriteFile(folder + "figures.def", zvtools::WriteMD5Def({scout, guard})));
        ASSERT_TRUE(WriteFile(folder + "zvscene.txt", SceneText({"scene.3ds"})));
    }

    // Runs the program with one argument (none when empty) and the console
    // input; stops it once its log shows the frame loop.
    Outcome Run(const std::string& argument, const std::string& input = "") {
        Outcome out;
        EXPECT_TRUE(WriteFile(folder + "input.txt", input));
        // Everything the child needs is ready before the fork: it only opens,
        // duplicates and executes.
        const std::string exe = folder + "Lumivex";
        const std::string inputPath = folder + "input.txt";
        const std::string consolePath = folder + "console.txt";
        const char* arg = argument.empty() ? nullptr : argument.c_str();
        pid_t child = fork();
        if (child == 0) {
            int in = open(inputPath.c_str(), O_RDONLY);
            int console = open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || console < 0 || chdir(folder.c_str()) != 0) _exit(120);
            dup2(in, 0);
            dup2(console, 1);
            execl(exe.c_str(), exe.c_str(), arg, (char*)nullptr);
            _exit(121);
        }
        EXPECT_GT(child, 0);
        if (child <= 0) return out;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        for (;;) {
            pid_t done = waitpid(child, &status, WNOHANG);
            if (done == child) {
                out.exited = WIFEXITED(status);
                out.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (Contains(ReadFile(folder + "zvlog.txt"), "Main Loop...") ||
                std::chrono::steady_clock::now() > deadline) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        out.console = ReadFile(folder + "console.txt");
        out.log = ReadFile(folder + "zvlog.txt");
        return out;
    }

    std::string folder;
};

TEST_F(LumivexProgramTest, UnknownModelTypeEndsWithMinusOne) {
    Outcome o = Run("teapot.obj");
    ASSERT_TRUE(o.exited) << o.log;
    EXPECT_EQ(o.code, 255);
    EXPECT_TRUE(Contains(o.log, "[Viewer::Init()] Lumivex v0.30")) << o.log;
    EXPECT_TRUE(Contains(o.log, "Unknow Type : <obj> Command = <teapot.obj>")) << o.log;
    EXPECT_TRUE(Contains(o.log, "Initialisation of Zorvane failed"));
    EXPECT_TRUE(Contains(o.log, "[Viewer::Close()] EOF"));
    EXPECT_TRUE(Contains(o.console, "Unknow Type"));
}

TEST_F(LumivexProgramTest, MissingSceneFileEndsWithMinusOne) {
    std::remove((folder + "zvscene.txt").c_str());
    Outcome o = Run("figure.md5mesh");
    ASSERT_TRUE(o.exited);
    EXPECT_EQ(o.code, 255);
    EXPECT_TRUE(Contains(o.log, "Config file loading file; verify that 'zvscene.txt' is in the ExeDir")) << o.log;
}

TEST_F(LumivexProgramTest, ListChoiceEndsWithMinusOneWhenTheInputEnds) {
    Outcome o = Run("figures.def", "2\nfirst\n");
    ASSERT_TRUE(o.exited) << o.log;
    EXPECT_EQ(o.code, 255);
    EXPECT_TRUE(Contains(o.console, "The .def file you want to load contains many MD5 models :\n"
                                    "Model[0] : scout\nModel[1] : guard\n"))
        << o.console;
    EXPECT_TRUE(Contains(o.log, "The console input ended before a model was chosen")) << o.log;
    EXPECT_TRUE(Contains(o.log, "Initialisation of Zorvane failed"));
}

TEST_F(LumivexProgramTest, ListChoiceFromTheConsoleReachesTheFrameLoop) {
    Outcome o = Run("figures.def", "9\n1\n");
    EXPECT_FALSE(o.exited) << o.log;
    EXPECT_TRUE(Contains(o.log, "[Viewer::Run()] Main Loop...")) << o.log;
    EXPECT_TRUE(Contains(o.log, "figures.def?guard")) << o.log;
    EXPECT_FALSE(Contains(o.log, "Error")) << o.log;
}

TEST_F(LumivexProgramTest, WithoutArgumentTheSceneFileModelsAreShown) {
    ASSERT_TRUE(WriteFile(folder + "zvscene.txt", SceneText({"scene.3ds", "figures.def?scout|0 0 0 0"})));
    Outcome o = Run("");
    EXPECT_FALSE(o.exited) << o.log;
    EXPECT_TRUE(Contains(o.log, "The command line is empty, so no model will be loaded and rendered !!!")) << o.log;
    EXPECT_TRUE(Contains(o.log, "Main Loop...")) << o.log;
    EXPECT_FALSE(Contains(o.log, "Error")) << o.log;
}

}  // namespace
