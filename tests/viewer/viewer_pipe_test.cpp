// Lumivex showing a Cal3D model whose material textures are named pipes that
// nothing writes to: the start-up does not wait on them; the model is drawn
// untextured, the log naming each texture and why, and the viewer runs.
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
    const std::string logPath = folder + "zvlog.txt";
    EXPECT_TRUE(programtest::WaitUntil(
        [&] { return !program.Running() || Contains(ReadFile(logPath), "Main Loop..."); }, std::chrono::seconds(60)))
        << "the start-up still waits";
    ASSERT_TRUE(program.Running()) << ReadFile(logPath);
    programtest::ExpectEndsAsAClose(
        &program, SIGINT, logPath,
        {"Cannot use the texture file 'pipe_a.png': not a regular file",
         "Cannot use the texture file 'pipe_b.png': not a regular file",
         "totem.cfg : Texture pipe_a.png cannot be loaded; material 0 is drawn untextured",
         "totem.cfg : Texture pipe_b.png cannot be loaded; material 1 is drawn untextured", "[Viewer::Close()] EOF"});
    std::system(("rm -rf '" + folder + "'").c_str());
}

}  // namespace
