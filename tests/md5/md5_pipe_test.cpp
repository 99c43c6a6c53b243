// Named pipes where the MD5 reader expects its files: a mesh and an
// animation that are pipes are refused at once, never waited on.
#include <gtest/gtest.h>

#include <unistd.h>

#include "md5_support.h"
#include "pipe_support.h"
#include "search_path_support.h"

namespace {

using pipetest::Checks;

class MD5PipeTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"pipe.md5mesh", "pipe.md5anim"})
            ASSERT_TRUE(pipetest::MakePipe(md5test::DataDir() + name));
    }
    void TearDown() override {
        for (const char* name : {"pipe.md5mesh", "pipe.md5anim"}) unlink((md5test::DataDir() + name).c_str());
    }
    zvtest::SearchPathOnly searchPath{md5test::DataDir()};
};

TEST_F(MD5PipeTest, AMeshThatIsAPipeIsRefused) {
    pipetest::ExpectEndsWithoutWaiting([] {
        Checks c;
        md5test::FakeGraphics graphics;
        ModelMD5Meta meta;
        md5test::LogCapture capture;
        c.That(meta.Load("pipe.md5mesh", &graphics) < 0, "loaded");
        c.That(capture.Has("pipe.md5mesh cannot be opened"), "no entry naming the mesh: " + capture.log);
        return c.failed;
    });
}

TEST_F(MD5PipeTest, AnAnimationThatIsAPipeIsRefused) {
    pipetest::ExpectEndsWithoutWaiting([] {
        Checks c;
        ModelMD5Meta::Animation anim;
        md5test::LogCapture capture;
        const std::string path = md5test::DataDir() + "pipe.md5anim";
        c.That(ModelMD5Meta::LoadAnimation(path.c_str(), &anim, nullptr) < 0, "loaded");
        c.That(capture.Has(path + " cannot be opened"), "no entry naming the animation: " + capture.log);
        return c.failed;
    });
}

}  // namespace
