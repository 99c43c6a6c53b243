// Lumivex showing a Cal3D model whose material textures are named pipes that
// nothing writes to: the start-up does not wait on them; the model fails to
// load, naming the texture and why, and the viewer ends with -1.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "pipe_support.h"
#include "program_support.h"
#include "viewer_support.h"
#include "zvcal3dwriter.h"

using namespace viewertest;

namespace {

TEST(LumivexPipeTest, AMaterialTextureThatIsAPipeDoesNotHoldUpTheStartUp) {
    const std::string folder = ExeDir() + "pipeprogram/";
    ASSERT_EQ(std::system(("rm -rf '" + folder + "' && mkdir -p '" + folder + "'").c_str()), 0);
    if (link(ZV_LUMIVEX, (folder + "Lumivex").c_str()) != 0) {
        ASSERT_TRUE(WriteFile(folder + "Lumivex", ReadFile(ZV_LUMIVEX)));
        chmod((folder + "Lumivex").c_str(), 0755);
    }
    ASSERT_TRUE(WriteFile(folder + "lucida_console.tga", ReadFile(ZV_FONT_IMAGE)));
    ASSERT_TRUE(WriteBox3ds(folder + "scene.3ds", 50.0f, 128, 128, 128));
    ASSERT_TRUE(WriteFile(folder + "zvscene.txt", SceneText({"scene.3ds"})));
    ASSERT_FALSE(zvtools::WriteCal3DDemoModel(folder, "totem", "pipe_a.png", "pipe_b.png").empty());
    ASSERT_TRUE(pipetest::MakePipe(folder + "pipe_a.png"));
    ASSERT_TRUE(pipetest::MakePipe(folder + "pipe_b.png"));

    programtest::RunningProgram program;
    programtest::RunningProgram::Options options;
    options.folder = folder;
    options.console = folder + "console.txt";
    ASSERT_TRUE(program.Start(folder + "Lumivex", {"totem.cfg"}, options));
    EXPECT_TRUE(program.WaitForEnd(std::chrono::seconds(60))) << "the start-up still waits";
    program.Stop();
    EXPECT_EQ(program.ExitCode(), 255);
    const std::string log = ReadFile(folder + "zvlog.txt");
    EXPECT_TRUE(Contains(log, "Cannot use the texture file 'pipe_a.png': not a regular file")) << log;
    EXPECT_TRUE(Contains(log, "Can't create the texture pipe_a.png")) << log;
    EXPECT_TRUE(Contains(log, "[Viewer::Close()] EOF")) << log;
    std::system(("rm -rf '" + folder + "'").c_str());
}

}  // namespace
