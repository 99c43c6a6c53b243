// Named pipes where the engine reads files: a file found through the search
// path, a scene file, and a file written beside the program are refused at
// once, never waited on.
#include <gtest/gtest.h>

#include "config.h"
#include "foundation_support.h"
#include "pipe_support.h"
#include "search_path_support.h"

namespace {

using pipetest::Checks;

class PipeFileTest : public testing::Test {
protected:
    void SetUp() override {
        pipe = zvtest::ExeDir() + "pipe_scene.txt";
        ASSERT_TRUE(pipetest::MakePipe(pipe));
    }
    void TearDown() override {
        unlink(pipe.c_str());
    }
    zvtest::SearchPathOnly searchPath{""};  // the program's directory
    std::string pipe;
};

TEST_F(PipeFileTest, APipeIsNeitherFoundNorOpened) {
    pipetest::ExpectEndsWithoutWaiting([&] {
        Checks c;
        zvtest::LogCapture capture;
        c.That(File::GetFullPath("pipe_scene.txt").IsEmpty(), "found on the search path");
        c.That(!ImageFileExists("pipe_scene.txt"), "an image on the search path");
        c.That(!ImageFileExists(String(pipe.c_str())), "an image by its full name");
        File file;
        c.That(file.Open(String(pipe.c_str()), "rb") == E_FAIL && !file.handle, "opened for reading");
        c.That(capture.log.find("File '" + pipe + "' not found or access denied") != std::string::npos,
               "no error entry naming the file: " + capture.log);
        // Written, a pipe that nobody reads is refused too.
        c.That(file.Open("pipe_scene.txt", "wb") == E_FAIL && !file.handle, "opened for writing");
        return c.failed;
    });
}

TEST_F(PipeFileTest, APipeAsTheSceneFileFailsItsLoad) {
    pipetest::ExpectEndsWithoutWaiting([] {
        Checks c;
        zvtest::LogCapture capture;
        Config config;
        c.That(config.Load("pipe_scene.txt") == ZVE_SUBFUNCTION, "loaded");
        c.That(capture.log.find("[File::Open()] Error : \"OpenMode : 'rb', File 'pipe_scene.txt' not found") !=
                   std::string::npos,
               "no error entry naming the file: " + capture.log);
        return c.failed;
    });
}

}  // namespace
