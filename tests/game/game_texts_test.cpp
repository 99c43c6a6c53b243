// The texts Skirmora queues in every frame: the frame rate, the device
// information and the game statistics, the help and its banner, the hint
// shown when both are hidden, the aiming mark and the light numbers in 3D.
// A font stand-in between the game and its real font writes down every call
// of a game played inside the test program.
#include <cmath>
#include <cstdio>
#include <memory>
#include <regex>

#include "game_support.h"

using namespace gametest;

namespace {

// Passes every call on to the game's font, and writes the text calls down,
// one line each.  Used from the game's thread only; read once the game ended.
class RecordingFont : public IFont {
public:
    explicit RecordingFont(IFont* font) : font(font) {}
    ~RecordingFont() override {}

    u32 AddRef() override { return font->AddRef(); }
    u32 Release() override { return font->Release(); }
    const String& GetName() override { return font->GetName(); }
    HRESULT Update(float elapsed) override { return font->Update(elapsed); }
    HRESULT Render() override { return font->Render(); }
    HRESULT Reset() override { return font->Reset(); }
    HRESULT SendCommand(const String& command, String* parameter) override {
        return font->SendCommand(command, parameter);
    }
    HRESULT GetTypeAndCommand(String* type, String* command) override {
        return font->GetTypeAndCommand(type, command);
    }

    HRESULT DrawText2D(const String& text, u32 colour, u32 background, u32 size, u32 x, u32 y, float dirX,
                       float dirY) override {
        Note("2D", text, colour, background, "%u %u %u %g %g", size, x, y, dirX, dirY);
        return font->DrawText2D(text, colour, background, size, x, y, dirX, dirY);
    }
    HRESULT DrawText2DScaled(const String& text, u32 colour, u32 background, float size, float x, float y,
                             float dirX, float dirY) override {
        Note("2DScaled", text, colour, background, "%g %g %g %g %g", size, x, y, dirX, dirY);
        return font->DrawText2DScaled(text, colour, background, size, x, y, dirX, dirY);
    }
    HRESULT DrawText3D(const String& text, u32 colour, u32 background, float size, Vector3 position, Vector3 right,
                       Vector3 down) override {
        Note("3D", text, colour, background, "%g", size);
        return font->DrawText3D(text, colour, background, size, position, right, down);
    }
    HRESULT DrawText3DFacing(const String& text, u32 colour, u32 background, float size,
                             Vector3 position) override {
        Note("3DFacing", text, colour, background, "%g", size);
        positions.push_back(position);
        return font->DrawText3DFacing(text, colour, background, size, position);
    }
    HRESULT GetExtendText2D(const String& text, u32 size, float dirX, float dirY, float* width,
                            float* height) override {
        return font->GetExtendText2D(text, size, dirX, dirY, width, height);
    }
    HRESULT GetExtendText2DScaled(const String& text, float size, float dirX, float dirY, float* width,
                                  float* height) override {
        return font->GetExtendText2DScaled(text, size, dirX, dirY, width, height);
    }
    HRESULT GetExtendText3D(const String& text, float size, Vector3 right, Vector3 down, Vector3* extent) override {
        return font->GetExtendText3D(text, size, right, down, extent);
    }

    // "kind colour background sizes-and-places", and the text of each call.
    std::vector<std::string> calls, texts;
    // The places of the 3D texts facing the camera, in order.
    std::vector<Vector3> positions;

private:
    template <typename... Numbers>
    void Note(const char* kind, const String& text, u32 colour, u32 background, const char* format,
              Numbers... numbers) {
        char place[128], line[192];
        std::snprintf(place, sizeof place, format, numbers...);
        std::snprintf(line, sizeof line, "%s %08X %08X %s", kind, colour, background, place);
        calls.push_back(line);
        texts.push_back(text.c_str());
    }

    IFont* font;
};

// The calls of one frame: the frame-rate line comes first in every frame.
struct FrameTexts {
    std::vector<std::string> calls, texts;
    std::vector<Vector3> positions;
};

std::vector<FrameTexts> SplitIntoFrames(const RecordingFont& font) {
    std::vector<FrameTexts> frames;
    size_t facing = 0;
    for (size_t i = 0; i < font.calls.size(); ++i) {
        if (font.texts[i].compare(0, 7, "ZV FPS=") == 0) frames.emplace_back();
        if (frames.empty()) continue;  // nothing comes before the first frame's line
        frames.back().calls.push_back(font.calls[i]);
        frames.back().texts.push_back(font.texts[i]);
        if (font.calls[i].compare(0, 8, "3DFacing") == 0) frames.back().positions.push_back(font.positions[facing++]);
    }
    return frames;
}

const char* const kFrameRate = "2D FFFFFF00 33000000 14 5 5 1 0";
const char* const kUpperText = "2D FFFFFFFF 55000000 14 5 25 1 0";  // information, or the help
const char* const kStatistics = "2D FFCCCCFF 55000000 14 5 95 1 0";
const char* const kHint = "2D FFFFFFFF 00000000 14 5 25 1 0";
const char* const kBanner = "2DScaled FFFFFF00 FF000000 0.027 0.01 0.93 1 0";
const char* const kAimingMark = "2DScaled 77FFFF00 00000000 0.05 0.5 0.5 1 0";
const char* const kWhiteNumber = "3DFacing FFFFFFFF 00000000 20";
const char* const kOrangeNumber = "3DFacing FFFF7F00 00000000 20";  // diffuse 1 0.5 0

enum Shown { INFOS, HELP, HINT };

TEST(GameTexts, EveryFrameQueuesTheTextsOfItsState) {
    WriteCommonContent();
    SceneDesc scene;
    // The size the programs are made for: every line of the information fits.
    scene.width = 800;
    scene.height = 600;
    // An opponent at arm's length: it hits the player, and the statistics count it.
    scene.models = {{"arena.3ds", 0, 0, 0, 0}, {"crate.3ds", 0, -40, -300, 0}};
    std::string text = SceneText(scene);
    // The second light is orange.
    const size_t last = text.rfind("diffuse 1 1 1");
    ASSERT_NE(last, std::string::npos);
    text.replace(last, 13, "diffuse 1 0.5 0");
    ASSERT_TRUE(zvtools::WriteTextFile(SceneFilePath(), text));

    std::unique_ptr<RecordingFont> recorder;
    GameSession session;
    session.beforeRun = [&](DeathMatch& game) {
        recorder.reset(new RecordingFont(game.pFont));
        game.pFont = recorder.get();
    };
    ASSERT_TRUE(session.Play([&](Driver& d) {
        DeathMatch& g = session.game;
        d.Wait(1.3);  // the frame rate is measured after a second
        d.Toggle(SDL_SCANCODE_F1, g.bShowHelp);  // the help instead of the information
        d.WaitFrames(3);
        d.Wait(0.6);
        d.Toggle(SDL_SCANCODE_F2, g.bShowInfos);  // the information instead of the help
        d.WaitFrames(3);
        d.Wait(0.6);
        d.Toggle(SDL_SCANCODE_F2, g.bShowInfos);  // neither
        d.WaitFrames(3);
    }));
    ASSERT_NE(recorder, nullptr);
    EXPECT_EQ(session.runResult, S_OK);
    const Vector3 lastLight = session.game.lights.data[0].Position;
    session.Close();
    std::remove(SceneFilePath().c_str());

    const std::vector<FrameTexts> frames = SplitIntoFrames(*recorder);
    ASSERT_GE(frames.size(), (size_t)session.game.nFrames);
    const std::regex rate("ZV FPS=[0-9]+\\.[0-9]{2}");
    const std::regex infos("800x600 [^\\n]*\\n.*\\n[0-9]+ Draws, [0-9]+\\.[0-9]{2} KPrims, [0-9]+\\.[0-9]{2} "
                           "KPrims/s, StencilShadow\\nPress 'F1' for the help and 'F2' to hide this infos");
    const std::regex stats("GamePlay Stats :\nNumOpponents=1\nNumKilledMonsters=0\nNumReceivedHits=([0-9]+)\n"
                           "NumShotBullets=0");
    u32 hits = 0;
    std::vector<Shown> seen;
    bool measured = false, lightMoved = false;
    for (size_t f = 0; f < frames.size(); ++f) {
        const FrameTexts& frame = frames[f];
        SCOPED_TRACE("frame " + std::to_string(f));
        ASSERT_GE(frame.texts.size(), 2u);
        const std::string& upper = frame.texts[1];
        const Shown shown = upper.compare(0, 10, "Controls :") == 0 ? HELP
                            : upper.compare(0, 8, "800x600 ") == 0  ? INFOS
                                                                     : HINT;
        if (seen.empty() || seen.back() != shown) seen.push_back(shown);

        std::vector<std::string> calls = {kFrameRate};
        std::vector<std::string> texts = {frame.texts[0]};
        if (shown == INFOS) {
            calls.insert(calls.end(), {kUpperText, kStatistics});
            texts.insert(texts.end(), {upper, frame.texts[2]});
            EXPECT_TRUE(std::regex_match(upper, infos)) << upper;
            std::smatch numbers;
            EXPECT_TRUE(std::regex_match(frame.texts[2], numbers, stats)) << frame.texts[2];
            if (numbers.size() == 2) {
                const u32 now = (u32)std::stoul(numbers[1].str());
                EXPECT_GE(now, hits);  // the hits so far
                hits = now;
            }
        } else if (shown == HELP) {
            calls.insert(calls.end(), {kUpperText, kBanner});
            texts.insert(texts.end(), {upper, frame.texts[2]});
            EXPECT_EQ(upper.compare(0, 41, "Controls :\n'F11' to go to FullScreen mode"), 0) << upper;
            EXPECT_EQ(frame.texts[2].compare(0, 13, "Zorvane v0.30"), 0) << frame.texts[2];
        } else {
            calls.push_back(kHint);
            texts.push_back("Press 'F1' for the help or 'F2' for more infos");
        }
        calls.insert(calls.end(), {kAimingMark, kWhiteNumber, kOrangeNumber});
        texts.insert(texts.end(), {"o", "0", "1"});
        EXPECT_EQ(frame.calls, calls);
        EXPECT_EQ(frame.texts, texts);

        // The frame rate: "0.00" until a second has passed, then measured,
        // always with two decimals.
        EXPECT_TRUE(std::regex_match(frame.texts[0], rate)) << frame.texts[0];
        if (frame.texts[0] != "ZV FPS=0.00") measured = true;

        // Each light's number stands at the light.  The first light circles
        // from where it first was, (0, 60, -250) in every game test: its x
        // stays base x * sin = 0, its z = -250 * cos moves.
        ASSERT_EQ(frame.positions.size(), 2u);
        const Vector3 first = frame.positions[0];
        EXPECT_EQ(first.x, 0.0f);
        EXPECT_EQ(first.y, 60.0f);
        EXPECT_LE(std::fabs(first.z), 250.0f);
        if (f > 0 && first.z != frames[f - 1].positions[0].z) lightMoved = true;
        EXPECT_EQ(frame.positions[1].x, -300.0f);
        EXPECT_EQ(frame.positions[1].y, 60.0f);
        EXPECT_EQ(frame.positions[1].z, 300.0f);
        if (testing::Test::HasFailure()) break;  // one frame tells enough
    }
    EXPECT_TRUE(measured);
    EXPECT_TRUE(lightMoved);
    EXPECT_EQ(seen, (std::vector<Shown>{INFOS, HELP, INFOS, HINT}));
    EXPECT_GT(hits, 0u);
    EXPECT_LE(hits, session.game.player.nHitsReceived);
    // The last light number is where the light went.
    EXPECT_EQ(frames.back().positions[0].z, lastLight.z);
}

}  // namespace
