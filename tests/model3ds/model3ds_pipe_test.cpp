// A 3DS model file that is a named pipe fails its load at once, never
// waited on.
#include <unistd.h>

#include "model3ds_support.h"
#include "pipe_support.h"

using namespace m3dstest;

namespace {

TEST_F(Model3DSTest, AModelFileThatIsAPipeFailsItsLoad) {
    ASSERT_TRUE(pipetest::MakePipe(dir + "pipe.3ds"));
    Start();
    pipetest::ExpectEndsWithoutWaiting([&] {
        pipetest::Checks c;
        IGeometry* g = nullptr;
        c.That(graphics->CreateGeometry("3ds", "pipe.3ds", &g) < 0 && !g, "loaded");
        c.That(Contains(log, "ERR_OPENING_FILE"), "no toolkit error: " + log);
        return c.failed;
    });
    unlink((dir + "pipe.3ds").c_str());
}

}  // namespace
