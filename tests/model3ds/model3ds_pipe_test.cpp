// Named pipes where a 3DS model expects files: a model file that is a pipe
// fails its load, and a material whose texture is a pipe (beside the model
// and in the working folder) is drawn untextured; neither is waited on.
#include <unistd.h>

#include "model3ds_support.h"
#include "pipe_support.h"

using namespace m3dstest;
using zvtools::Scene3ds;

namespace {

class Model3DSPipeTest : public Model3DSTest {
protected:
    void TearDown() override {
        for (const std::string& pipe : pipes) unlink(pipe.c_str());
        Model3DSTest::TearDown();
    }
    void MakePipe(const std::string& path) {
        ASSERT_TRUE(pipetest::MakePipe(path));
        pipes.push_back(path);
    }
    std::vector<std::string> pipes;
};

TEST_F(Model3DSPipeTest, AModelFileThatIsAPipeFailsItsLoad) {
    MakePipe(dir + "pipe.3ds");
    Start();
    pipetest::ExpectEndsWithoutWaiting([&] {
        pipetest::Checks c;
        IGeometry* g = nullptr;
        c.That(graphics->CreateGeometry("3ds", "pipe.3ds", &g) < 0 && !g, "loaded");
        c.That(Contains(log, "ERR_OPENING_FILE"), "no toolkit error: " + log);
        return c.failed;
    });
}

TEST_F(Model3DSPipeTest, ATextureThatIsAPipeLeavesItsMaterialUntextured) {
    MakePipe(dir + "pipe.tga");
    MakePipe("pipe.tga");  // where a name found nowhere on the search path is opened
    Start();
    Scene3ds scene;
    scene.materials = {Matte("piped", 200, 100, 50, "pipe.tga")};
    scene.meshes = {Floor("floor", 10, "piped")};
    Write("piped.3ds", scene);
    pipetest::ExpectEndsWithoutWaiting([&] {
        pipetest::Checks c;
        Model3DS* model = Load("piped.3ds");
        c.That(model != nullptr, "not loaded: " + log);
        c.That(Contains(log, "Cannot use the texture file 'pipe.tga': not a regular file"), "no reason: " + log);
        c.That(Contains(log, "Texture pipe.tga cannot be loaded; its material is drawn untextured"),
               "no warning: " + log);
        return c.failed;
    });
}

}  // namespace
