// Skirmora on the demo content with the arena's floor texture a named pipe
// that nothing writes to: the start-up does not wait on it, the floor is
// drawn untextured with the warnings naming the file, and Ctrl+C ends the
// game as a close would.
#include <signal.h>

#include <chrono>

#include "game_program.h"
#include "pipe_support.h"

using namespace gametest;

namespace {

TEST_F(GameProgramTest, AFloorTextureThatIsAPipeDoesNotHoldUpTheStartUp) {
    ASSERT_TRUE(CopyTheDemo());
    ASSERT_TRUE(pipetest::MakePipe(dir + "floor.tga"));
    ASSERT_TRUE(Start());
    EXPECT_TRUE(programtest::WaitUntil([&] { return !program.Running() || Contains(Log(), "Main Loop..."); },
                                       std::chrono::seconds(60)))
        << "the start-up still waits\n" << Log();
    ASSERT_TRUE(program.Running()) << Log();
    const std::string log = Log();
    EXPECT_TRUE(Contains(log, "Cannot use the texture file 'floor.tga': not a regular file")) << log;
    EXPECT_TRUE(Contains(log, "Texture floor.tga cannot be loaded; its material is drawn untextured")) << log;
    programtest::ExpectEndsAsAClose(&program, SIGINT, dir + "zvlog.txt",
                                    {"End Of the App; Release...", "Zorvane Engine correctly shutdown",
                                     "[DeathMatch::Close()] EOF"});
}

}  // namespace
