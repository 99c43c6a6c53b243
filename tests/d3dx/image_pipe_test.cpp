// A named pipe given as an image file is refused at once with its reason,
// never waited on (nothing writes to it).
#include <gtest/gtest.h>

#include "pipe_support.h"
#include "zvimage.h"

namespace {

TEST(ImagePipe, APipeIsRefusedAsNotARegularFile) {
    ASSERT_TRUE(pipetest::MakePipe("pipe.tga"));
    pipetest::ExpectEndsWithoutWaiting([] {
        pipetest::Checks c;
        ZVImage image;
        std::string error;
        c.That(!ZVImageLoadFile("pipe.tga", &image, &error), "loaded");
        c.That(error == "'pipe.tga': not a regular file", "reason: " + error);
        c.That(image.pixels.empty(), "pixels left");
        return c.failed;
    });
    unlink("pipe.tga");
}

}  // namespace
