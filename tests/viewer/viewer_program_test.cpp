// The program Lumivex itself, started in a folder of its own with its files
// beside it: the exit code -1 of a failed start-up with its log, the console
// question of a ".def" list, a start that reaches the frame loop, and the
// ends a Linux user expects: Ctrl+C and kill (SIGINT, SIGTERM) close it
// cleanly in the frame loop, paused in the background, at the console
// question and in the file chooser, and a display that goes away, drawing
// or paused, ends it with a logged error.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "md5_support.h"
#include "program_support.h"
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
public:
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
        const int in = open((folder + "input.txt").c_str(), O_RDONLY);
        EXPECT_GE(in, 0);
        programtest::RunningProgram program;
        const bool started = Start(&program, argument, in);
        if (in >= 0) close(in);
        EXPECT_TRUE(started);
        if (!started) return out;
        programtest::WaitUntil([&] { return !program.Running() || LogHas("Main Loop..."); },
                               std::chrono::seconds(60));
        if (!program.Running()) {
            out.exited = program.Exited();
            out.code = program.ExitCode();
        }
        program.Stop();
        out.console = ReadFile(folder + "console.txt");
        out.log = ReadFile(folder + "zvlog.txt");
        return out;
    }
    // Starts the program in its folder with one argument (none when empty),
    // the console input from `input` (-1: none).
    bool Start(programtest::RunningProgram* program, const std::string& argument, int input = -1) {
        programtest::RunningProgram::Options options;
        options.folder = folder;
        options.console = folder + "console.txt";
        options.input = input;
        std::vector<std::string> args;
        if (!argument.empty()) args.push_back(argument);
        return program->Start(folder + "Lumivex", args, options);
    }
    bool LogHas(const std::string& text) { return Contains(ReadFile(folder + "zvlog.txt"), text); }
    // Starts the program on the figure and waits for its frame loop.
    void StartInTheFrameLoop(programtest::RunningProgram* program) {
        ASSERT_TRUE(Start(program, "figure.md5mesh"));
        ASSERT_TRUE(programtest::WaitUntil([&] { return !program->Running() || LogHas("Main Loop..."); },
                                           std::chrono::seconds(30)));
        ASSERT_TRUE(program->Running()) << ReadFile(folder + "zvlog.txt");
    }
    // The signal (0: sent already), and the end a close of the viewer gives.
    void ExpectCleanEndOn(programtest::RunningProgram* program, int signalNumber) {
        programtest::ExpectEndsAsAClose(program, signalNumber, folder + "zvlog.txt",
                                        {"End Of the App; Release...", "Graphics Engine correctly shutdown",
                                         "Zorvane Engine correctly shutdown", "[Viewer::Close()] EOF"});
    }
    // The program's X window (xdotool), or "" when none is found.
    static std::string WindowOf(pid_t pid) {
        return programtest::FirstLineOf("xdotool search --pid " + std::to_string(pid) +
                                        " --name 'Zorvane Model Viewer'");
    }
    // Processor time the program used, in clock ticks.
    static long CpuTicks(pid_t pid) {
        std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
        size_t at = stat.rfind(')');
        if (at == std::string::npos) return -1;
        std::istringstream fields(stat.substr(at + 2));
        std::string skip;
        for (int i = 3; i < 14; ++i) fields >> skip;  // state ... cmajflt
        long user = 0, system = 0;
        fields >> user >> system;
        return user + system;
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

// A camera, a point light or a model's position holding nan or an infinity
// ends the start with -1 before anything is made, naming the entry.
TEST_F(LumivexProgramTest, ACameraOrALightHoldingNanOrInfinityEndsWithMinusOne) {
    const std::string camera = "Error : \"The 'camera' entry of \"zvscene.txt\" with eye ";
    const struct {
        const char* entry;  // in the scene file
        const char* spoilt;
        std::string error;
    } cases[] = {
        {"eye 0 10 -40", "eye 0 nan -40", camera + "{0, nan, -40} and lookat {0, 10, 0} cannot be used: a number"},
        {"lookat 0 10 0", "lookat -inf 10 0", camera + "{0, 10, -40} and lookat {-inf, 10, 0} cannot be used"},
        {"diffuse 1 0.5 0.25", "diffuse 1 inf 0.25",
         "Error : \"The 'pointlight' entry number 1 of \"zvscene.txt\" cannot be used: its 'diffuse' value inf is "
         "not a finite number\""},
        {"model scene.3ds\n", "model scene.3ds\n{\n    position 0 -inf 0 0\n}\n",
         "Error : \"The 'model' entry number 1 of \"zvscene.txt\" cannot be used: its 'position' value -inf is not a "
         "finite number\""},
    };
    for (const auto& c : cases) {
        std::string text = SceneText({"scene.3ds"});
        ASSERT_TRUE(WriteFile(folder + "zvscene.txt", text.replace(text.find(c.entry), strlen(c.entry), c.spoilt)));
        std::remove((folder + "zvlog.txt").c_str());
        Outcome o = Run("figure.md5mesh");
        ASSERT_TRUE(o.exited) << o.log;
        EXPECT_EQ(o.code, 255);
        EXPECT_TRUE(Contains(o.log, c.error)) << o.log;
        EXPECT_FALSE(Contains(o.log, "Create Core Engine...")) << o.log;
    }
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

class LumivexQuitTest : public LumivexProgramTest, public ::testing::WithParamInterface<int> {};

TEST_P(LumivexQuitTest, InTheFrameLoopItEndsAsAClose) {
    programtest::RunningProgram program;
    StartInTheFrameLoop(&program);
    if (HasFatalFailure()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a few frames
    ExpectCleanEndOn(&program, GetParam());
}

// Unmapped, the window is minimised: the frame loop waits in the message
// pump, which the signal must wake.
TEST_P(LumivexQuitTest, PausedInTheBackgroundItWakesAndEndsAsAClose) {
    ASSERT_EQ(std::system("command -v xdotool > /dev/null"), 0) << "xdotool is needed (./build.sh installs it)";
    programtest::RunningProgram program;
    StartInTheFrameLoop(&program);
    if (HasFatalFailure()) return;
    const std::string window = WindowOf(program.Pid());
    ASSERT_FALSE(window.empty());
    ASSERT_EQ(std::system(("xdotool windowunmap --sync " + window).c_str()), 0);
    // Paused: next to no processor time any more (drawing takes it all).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = CpuTicks(program.Pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_LE(CpuTicks(program.Pid()) - before, 10) << "the frame loop still runs";
    ExpectCleanEndOn(&program, GetParam());
}

std::string SignalName(const ::testing::TestParamInfo<int>& info) {
    return info.param == SIGINT ? "SIGINT" : "SIGTERM";
}
INSTANTIATE_TEST_SUITE_P(Signals, LumivexQuitTest, ::testing::Values(SIGINT, SIGTERM), SignalName);

// Started without a model, the scene file names a list of several models:
// the console asks which one, its input a pipe that stays open.
TEST_F(LumivexProgramTest, InterruptedConsoleQuestionEndsAsAClose) {
    ASSERT_TRUE(WriteFile(folder + "zvscene.txt", SceneText({"scene.3ds", "figures.def"})));
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    programtest::RunningProgram program;
    const bool started = Start(&program, "", input[0]);
    close(input[0]);
    ASSERT_TRUE(started);
    EXPECT_TRUE(programtest::WaitUntil(
        [&] { return !program.Running() || Contains(ReadFile(folder + "console.txt"), "enter the id of a model"); },
        std::chrono::seconds(30)));
    ASSERT_TRUE(program.Running()) << ReadFile(folder + "zvlog.txt");
    ExpectCleanEndOn(&program, SIGINT);
    close(input[1]);
    const std::string log = ReadFile(folder + "zvlog.txt");
    EXPECT_TRUE(Contains(log, "The model choice was interrupted")) << log;
    EXPECT_FALSE(Contains(log, "Main Loop...")) << log;
}

// F7 opens the chooser (zenity); SIGINT reaches the viewer alone (kill) or
// its whole process group, the chooser too (Ctrl+C in the terminal).  The
// viewer ends the chooser if need be, then closes as usual.
void InterruptTheFileChooser(LumivexProgramTest* test, bool wholeGroup) {
    ASSERT_EQ(std::system("command -v xdotool > /dev/null && command -v zenity > /dev/null"), 0)
        << "xdotool and zenity are needed (./build.sh installs them)";
    programtest::RunningProgram program;
    test->StartInTheFrameLoop(&program);
    if (::testing::Test::HasFatalFailure()) return;
    const std::string window = test->WindowOf(program.Pid());
    ASSERT_FALSE(window.empty());
    ASSERT_EQ(std::system(("xdotool windowfocus --sync " + window + " keydown F7").c_str()), 0);
    pid_t chooser = -1;
    programtest::WaitUntil(
        [&] {
            std::vector<pid_t> children = programtest::ChildrenOf(program.Pid());
            if (!children.empty()) chooser = children.front();
            return chooser > 0 || !program.Running();
        },
        std::chrono::seconds(10));
    std::system("xdotool keyup F7");
    ASSERT_GT(chooser, 0) << "no chooser was started";
    EXPECT_TRUE(Contains(ReadFile("/proc/" + std::to_string(chooser) + "/comm"), "zenity"));
    if (wholeGroup) {
        ASSERT_EQ(kill(-program.Pid(), SIGINT), 0);
    }
    test->ExpectCleanEndOn(&program, wholeGroup ? 0 : SIGINT);
    EXPECT_FALSE(programtest::ProcessExists(chooser)) << "the chooser still runs";
}

TEST_F(LumivexProgramTest, InterruptedFileChooserEndsAsACloseAndLeavesNoChooser) {
    InterruptTheFileChooser(this, false);
}

TEST_F(LumivexProgramTest, CtrlCInTheFileChooserEndsAsAClose) { InterruptTheFileChooser(this, true); }

// A private X server, killed under the running viewer, drawing or paused in
// the background (unmapped).  The loss shows in the buffer swap of a frame
// or in the waiting pump; either way the window layer's own handler must
// report it: Xlib's own handler also ends with 1, but only prints its line.
// The report tells whether the viewer was paused in the pump.
void LoseTheDisplay(LumivexProgramTest* test, bool paused) {
    ASSERT_EQ(std::system("command -v Xvfb > /dev/null && command -v xdotool > /dev/null"), 0)
        << "Xvfb and xdotool are needed (./build.sh installs them)";
    // A display number nobody uses: no lock file, no socket.
    int number = 0;
    for (int n = 150 + getpid() % 400; n < 1000 && !number; ++n)
        if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) != 0 &&
            access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) != 0)
            number = n;
    ASSERT_NE(number, 0);
    const std::string display = ":" + std::to_string(number);
    programtest::RunningProgram server;
    programtest::RunningProgram::Options serverOptions;
    ASSERT_TRUE(server.Start("/usr/bin/Xvfb", {display, "-screen", "0", "640x480x24", "-nolisten", "tcp"},
                             serverOptions));
    ASSERT_TRUE(programtest::WaitUntil(
        [&] { return !server.Running() || access(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), F_OK) == 0; },
        std::chrono::seconds(10)));
    ASSERT_TRUE(server.Running());

    const std::string folder = test->folder;
    programtest::RunningProgram program;
    programtest::RunningProgram::Options options;
    options.folder = folder;
    options.console = folder + "console.txt";
    options.environment = {"DISPLAY=" + display, "XAUTHORITY=/dev/null"};
    ASSERT_TRUE(program.Start(folder + "Lumivex", {"figure.md5mesh"}, options));
    ASSERT_TRUE(programtest::WaitUntil([&] { return !program.Running() || test->LogHas("Main Loop..."); },
                                       std::chrono::seconds(30)));
    ASSERT_TRUE(program.Running()) << ReadFile(folder + "zvlog.txt");
    if (paused) {
        const std::string xdotool = "DISPLAY=" + display + " XAUTHORITY=/dev/null xdotool ";
        const std::string window = programtest::FirstLineOf(xdotool + "search --pid " + std::to_string(program.Pid()) +
                                                            " --name 'Zorvane Model Viewer'");
        ASSERT_FALSE(window.empty());
        ASSERT_EQ(std::system((xdotool + "windowunmap --sync " + window).c_str()), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.Send(SIGKILL);
    EXPECT_TRUE(program.WaitForEnd(std::chrono::seconds(3))) << "still running 3 s after the display went away";
    program.Stop();
    EXPECT_TRUE(program.Exited()) << "ended by signal " << program.TermSignal();
    EXPECT_EQ(program.ExitCode(), 1);
    const std::string log = ReadFile(folder + "zvlog.txt");
    EXPECT_TRUE(Contains(log, "[ZVCore::DisplayLost()] Error : \"The connection to the display '" + display +
                                  "' was lost; the program ends now\""))
        << log;
    // Unmapped, it was waiting in the message pump when the loss came; drawing,
    // it was not.
    EXPECT_EQ(Contains(log, "[ZVCore::DisplayLost()] The program was paused, waiting for window messages, when the "
                            "display went away"),
              paused)
        << log;
    const std::string console = ReadFile(folder + "console.txt");
    EXPECT_FALSE(Contains(console, "XIO:") || Contains(console, "X connection to")) << console;
}

TEST_F(LumivexProgramTest, LostDisplayEndsWithALoggedErrorAndExitCodeOne) { LoseTheDisplay(this, false); }

TEST_F(LumivexProgramTest, LostDisplayWhilePausedEndsWithALoggedErrorAndExitCodeOne) { LoseTheDisplay(this, true); }

}  // namespace
