// Texture files that are there but cannot be used: the graphics manager
// warns with the loader's reason and the file's name (a missing file stays
// the callers' to report), and a named pipe is refused without waiting.
#include "graphics_support.h"
#include "pipe_support.h"

using gfxtest::Contains;
using gfxtest::GraphicsTest;

namespace {

class TextureRefusalTest : public GraphicsTest {
protected:
    void SetUp() override {
        GraphicsTest::SetUp();
        ASSERT_EQ(Windowed(), S_OK);
        log.clear();
    }
    // Creates the texture of path, which must fail without handing one out.
    HRESULT CreateRefused(const std::string& path) {
        ITexture* texture = nullptr;
        const HRESULT hr = graphics->CreateTexture(path.c_str(), &texture);
        EXPECT_EQ(texture, nullptr);
        EXPECT_EQ(zv->vTextures.count, 0u);
        return hr;
    }
    static std::string Warning(const std::string& path, const std::string& reason) {
        return "[ZVGraphics::CreateTexture()] Warning : \"Cannot use the texture file '" + path + "': " + reason +
               "\"";
    }
};

TEST_F(TextureRefusalTest, AFileThatIsThereButRefusedIsNamedWithTheLoadersReason) {
    const std::string dir = GetExeDir().c_str();
    // A TGA header claiming 65535 x 65535 pixels of 32 bits, and nothing after it.
    const std::vector<uint8_t> hugeHeader = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 32, 8};
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {"empty.tga", {}, "no image data (empty file)"},
        {"huge.tga", hugeHeader, "TGA: image too large (65535 x 65535, at most 16384 per side)"},
    };
    for (const auto& c : cases) {
        const std::string path = dir + c.name;
        ASSERT_TRUE(zvtools::WriteBytes(path, c.bytes));
        log.clear();
        const HRESULT hr = CreateRefused(path);
        EXPECT_LT(hr, 0);
        EXPECT_NE(hr, ZVE_SUBFUNCTION);  // still the loader's own code
        EXPECT_TRUE(Contains(log, Warning(path, c.reason))) << log;
        EXPECT_EQ(gfxtest::Count(log, "Warning"), 1u) << log;
        std::remove(path.c_str());
    }
    // Once the file is gone, it is missing again: nothing in the log.
    log.clear();
    CreateRefused(dir + "empty.tga");
    EXPECT_TRUE(log.empty()) << log;
}

TEST_F(TextureRefusalTest, APipeIsRefusedWithoutWaiting) {
    const std::string path = std::string(GetExeDir().c_str()) + "pipe.tga";
    ASSERT_TRUE(pipetest::MakePipe(path));
    pipetest::ExpectEndsWithoutWaiting([&] {
        pipetest::Checks c;
        ITexture* texture = nullptr;
        c.That(graphics->CreateTexture(path.c_str(), &texture) < 0 && !texture, "created");
        c.That(Contains(log, Warning(path, "not a regular file")), "no warning with the reason: " + log);
        return c.failed;
    });
    unlink(path.c_str());
}

}  // namespace
