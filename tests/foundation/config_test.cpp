// Config: the scene file's commands, their validation and the warnings.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

#include "config.h"
#include "foundation_support.h"
#include "search_path_support.h"

namespace {

class ConfigTest : public testing::Test {
protected:

    // Writes the scene text and loads it, capturing the log.
    HRESULT Load(const std::string& text, const char* name = "cfg_scene.txt") {
        zvtest::WriteFile(zvtest::ExeDir() + name, text);
        zvtest::LogCapture capture;
        HRESULT hr = config.Load(name);
        log = zvtest::MaskTime(capture.log);
        return hr;
    }

    // Loads the scene text into a Config of its own and runs one of its
    // checks; *checkLog receives what the check wrote.
    static HRESULT Check(const std::string& text, HRESULT (Config::*check)() const, std::string* checkLog) {
        zvtest::WriteFile(zvtest::ExeDir() + "cfg_scene.txt", text);
        Config fresh;
        EXPECT_EQ(fresh.Load("cfg_scene.txt"), S_OK);
        zvtest::LogCapture capture;
        const HRESULT hr = (fresh.*check)();
        *checkLog = capture.log;
        return hr;
    }

    static std::string Warning(const std::string& message, const char* file = "cfg_scene.txt") {
        return "\n[Config::Load()] Warning : \"" + message + "\"\nAt TT:TT:TT, See : \"" + file +
               "\", line 0\n\n";
    }

    zvtest::SearchPathOnly searchPath{""};  // the program's directory
    Config config;
    std::string log;
};

TEST_F(ConfigTest, MissingFileFailsWithDefaults) {
    config.width = 1;
    config.eye = Vector3(5, 5, 5);
    config.paths.Add("kept");
    zvtest::LogCapture capture;
    EXPECT_EQ(config.Load("no_such_scene.txt"), ZVE_SUBFUNCTION);
    EXPECT_EQ(config.width, 800u);
    EXPECT_EQ(config.height, 600u);
    EXPECT_TRUE(config.windowed);
    EXPECT_EQ(config.eye, Vector3(0, 0, 1));
    EXPECT_EQ(config.paths.count, 1u);
    std::string log = zvtest::MaskTime(capture.log);
    EXPECT_NE(log.find("[File::Open()] Error : \"OpenMode : 'rb', File 'no_such_scene.txt' not found or access "
                       "denied\nPaths="),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\n[Config::Load()] Error : \"Called function return E_FAIL (0x80004005), Msg : '-'\"\n"
                       "At TT:TT:TT, See : \"config\", line "),
              std::string::npos)
        << log;
}

TEST_F(ConfigTest, EmptyFileGivesDefaults) {
    EXPECT_EQ(Load(""), S_OK);
    EXPECT_EQ(log, "");
    EXPECT_EQ(config.adapter, 0u);
    EXPECT_EQ(config.width, 800u);
    EXPECT_EQ(config.height, 600u);
    EXPECT_TRUE(config.windowed);
    EXPECT_FALSE(config.strict);
    EXPECT_FALSE(config.performance);
    EXPECT_EQ(config.eye, Vector3(0, 0, 1));
    EXPECT_EQ(config.lookAt, Vector3(0, 0, 0));
    EXPECT_EQ(config.models.count, 0u);
}

TEST_F(ConfigTest, FullScene) {
    const char* scene =
        "path data\n"
        "path \"maps dir\"\n"
        "model \"scene one.3ds\"\n"
        "Model monster.cfg\n{\n  position 10 0 20 90\n}\n"
        "display\n{\n adapter 1\n resolution 1024 768\n windowed 0\n strict 1\n performance 1\n}\n"
        "camera { eye 1 2 3\n lookat 4 5 6 }\n"
        "pointlight\n{\n position 0 100 0\n ambient 0.1 0.2 0.3\n diffuse 1 1 1\n specular 0.5 0.5 0.5\n}\n";
    EXPECT_EQ(Load(scene), S_OK);
    EXPECT_EQ(log, "");
    ASSERT_EQ(config.paths.count, 2u);
    EXPECT_STREQ(config.paths.data[1].c_str(), "maps dir");
    ASSERT_EQ(config.models.count, 2u);
    ASSERT_EQ(config.positions.count, 2u);
    EXPECT_STREQ(config.models.data[0].c_str(), "scene one.3ds");
    EXPECT_STREQ(config.models.data[1].c_str(), "monster.cfg");
    EXPECT_FLOAT_EQ(config.positions.data[0].w, 0.0f);
    EXPECT_FLOAT_EQ(config.positions.data[1].x, 10.0f);
    EXPECT_FLOAT_EQ(config.positions.data[1].z, 20.0f);
    EXPECT_FLOAT_EQ(config.positions.data[1].w, 1.5707963f);
    EXPECT_EQ(config.adapter, 1u);
    EXPECT_EQ(config.width, 1024u);
    EXPECT_EQ(config.height, 768u);
    EXPECT_FALSE(config.windowed);
    EXPECT_TRUE(config.strict);
    EXPECT_TRUE(config.performance);
    EXPECT_EQ(config.eye, Vector3(1, 2, 3));
    EXPECT_EQ(config.lookAt, Vector3(4, 5, 6));
    ASSERT_EQ(config.lights.count, 1u);
    const Light& l = config.lights.data[0];
    EXPECT_EQ(l.Type, 1u);
    EXPECT_EQ(l.Position, Vector3(0, 100, 0));
    EXPECT_EQ(l.Direction, Vector3(0, 0, 0));
    EXPECT_FLOAT_EQ(l.Diffuse.r, 1.0f);
    EXPECT_FLOAT_EQ(l.Diffuse.a, 1.0f);
    EXPECT_FLOAT_EQ(l.Ambient.b, 0.3f);
    EXPECT_FLOAT_EQ(l.Ambient.a, 1.0f);
    EXPECT_FLOAT_EQ(l.Specular.g, 0.5f);
    EXPECT_FLOAT_EQ(l.Specular.a, 1.0f);
    EXPECT_FLOAT_EQ(l.Range, 1000.0f);
    EXPECT_FLOAT_EQ(l.Falloff, 0.0f);
    EXPECT_FLOAT_EQ(l.Attenuation0, 0.0f);
    EXPECT_FLOAT_EQ(l.Attenuation1, 0.001f);
    EXPECT_FLOAT_EQ(l.Attenuation2, 0.00001f);
    EXPECT_FLOAT_EQ(l.Theta, 0.0f);
    EXPECT_FLOAT_EQ(l.Phi, 0.0f);
}

TEST_F(ConfigTest, LoadAppendsToTheListsAndResetsTheScalars) {
    EXPECT_EQ(Load("path a\ndisplay { adapter 2\n resolution 640 480\n windowed 1\n strict 0\n performance 0 }"),
              S_OK);
    EXPECT_EQ(config.width, 640u);
    EXPECT_EQ(Load("path b"), S_OK);
    EXPECT_EQ(config.width, 800u);
    EXPECT_EQ(config.adapter, 0u);
    ASSERT_EQ(config.paths.count, 2u);
    EXPECT_STREQ(config.paths.data[1].c_str(), "b");
}

TEST_F(ConfigTest, PathWithWrongTokenCount) {
    EXPECT_EQ(Load("path a b\npath"), S_OK);
    EXPECT_EQ(log, Warning("Command[0] : 'path' = a); Error : Wrong number of Tokens") +
                       Warning("Command[1] : 'path'); Error : Wrong number of Tokens"));
    ASSERT_EQ(config.paths.count, 1u);
    EXPECT_STREQ(config.paths.data[0].c_str(), "a");
}

TEST_F(ConfigTest, ModelCases) {
    EXPECT_EQ(Load("MODEL scene.3ds\n"
                   "model a.3ds\n{\n pos 1 2 3 4\n}\n"
                   "model\n{\n position 1 2 3 4\n}\n"
                   "model b.3ds extra\n{\n position 1 2 3 90\n other 1\n}\n"),
              S_OK);
    EXPECT_EQ(log, Warning("Command[1] : 'model' = a.3ds); Error : Invalid Content") +
                       Warning("Command[2] : 'model'); Error : Wrong number of Tokens") +
                       Warning("Command[3] : 'model' = b.3ds); Error : Wrong number of Tokens") +
                       Warning("Command[3] : 'model' = b.3ds); Error : Wrong number of InnerLines"));
    ASSERT_EQ(config.models.count, 3u);
    ASSERT_EQ(config.positions.count, 3u);
    EXPECT_STREQ(config.models.data[0].c_str(), "scene.3ds");
    EXPECT_STREQ(config.models.data[1].c_str(), "a.3ds");
    EXPECT_FLOAT_EQ(config.positions.data[1].x, 0.0f);
    EXPECT_FLOAT_EQ(config.positions.data[1].w, 0.0f);
    EXPECT_STREQ(config.models.data[2].c_str(), "b.3ds");
    EXPECT_FLOAT_EQ(config.positions.data[2].y, 2.0f);
    EXPECT_FLOAT_EQ(config.positions.data[2].w, 1.5707963f);
}

TEST_F(ConfigTest, ModelPositionNameIsCaseInsensitive) {
    EXPECT_EQ(Load("model m.cfg\n{\n POSITION 1 2 3 180\n}\n"), S_OK);
    EXPECT_EQ(log, "");
    ASSERT_EQ(config.positions.count, 1u);
    EXPECT_FLOAT_EQ(config.positions.data[0].w, 180.0f * 0.017453292f);
}

TEST_F(ConfigTest, DisplayIsAllOrNothing) {
    EXPECT_EQ(Load("display\n{\n adapter 1\n resolution 1024\n windowed 0\n strict 0\n performance 0\n}\n"
                   "display\n{\n adapter 1\n resolution 1024 768\n strict 0\n windowed 0\n performance 0\n}\n"
                   "display 1 2\n{\n adapter 1\n}\n"),
              S_OK);
    EXPECT_EQ(log, Warning("Command[0] : 'display'); Error : Wrong number of Tokens in an InnerLine") +
                       Warning("Command[1] : 'display'); Error : Unknow Token[0] in an InnerLine") +
                       Warning("Command[2] : 'display' = 1); Error : Wrong number of InnerLines"));
    EXPECT_EQ(config.width, 800u);
    EXPECT_EQ(config.height, 600u);
    EXPECT_EQ(config.adapter, 0u);
    EXPECT_TRUE(config.windowed);
}

TEST_F(ConfigTest, CameraCases) {
    EXPECT_EQ(Load("camera { eye 1 2 3 }\n"
                   "camera { eye 1 2 3\n lookat 1 2 }\n"
                   "camera { lookat 1 2 3\n eye 1 2 3 }\n"
                   "CAMERA { EYE 7 8 9\n LookAt 1 1 1 }\n"),
              S_OK);
    EXPECT_EQ(log, Warning("Command[0] : 'camera'); Error : Wrong number of InnerLines") +
                       Warning("Command[1] : 'camera'); Error : Wrong number of Tokens in an InnerLine") +
                       Warning("Command[2] : 'camera'); Error : Unknow Token[0] in an InnerLine"));
    EXPECT_EQ(config.eye, Vector3(7, 8, 9));
    EXPECT_EQ(config.lookAt, Vector3(1, 1, 1));
}

TEST_F(ConfigTest, PointLightCases) {
    EXPECT_EQ(Load("pointlight { position 0 1 0\n ambient 1 1 1\n diffuse 1 1 1 }\n"
                   "pointlight { position 0 1 0\n ambient 1 1 1\n diffuse 1 1\n specular 1 1 1 }\n"
                   "pointlight { position 0 1 0\n diffuse 1 1 1\n ambient 1 1 1\n specular 1 1 1 }\n"
                   "pointlight { position 0 1 0\n ambient 1 1 1\n diffuse 1 1 1\n specular 1 1 1 }\n"
                   "pointlight { position 0 2 0\n ambient 1 1 1\n diffuse 1 1 1\n specular 1 1 1 }\n"),
              S_OK);
    EXPECT_EQ(log, Warning("Command[0] : 'pointlight'); Error : Wrong number of InnerLines") +
                       Warning("Command[1] : 'pointlight'); Error : Wrong number of Tokens in an InnerLine") +
                       Warning("Command[2] : 'pointlight'); Error : Unknow Token[0] in an InnerLine"));
    ASSERT_EQ(config.lights.count, 2u);
    EXPECT_FLOAT_EQ(config.lights.data[1].Position.y, 2.0f);
}

// Numbers too large for their type saturate, with one warning per number
// naming the command and the entry; the rest of the command still counts.
TEST_F(ConfigTest, NumbersOutOfRangeSaturateWithAWarning) {
    EXPECT_EQ(Load("display\n{\n adapter 0\n resolution 99999999999 600\n windowed 1\n strict 0\n"
                   " performance -99999999999\n}\n"
                   "pointlight { position 0 1e39 0\n ambient 0 0 0\n diffuse -1e39 1 nan\n specular 1 1 1 }\n"
                   "model a.3ds { position 1 2 3 1e40 }\n"),
              S_OK);
    EXPECT_EQ(log,
              Warning("Command[0] : 'display'); Error : Number out of range in 'resolution' : 99999999999 read as "
                      "2147483647") +
                  Warning("Command[0] : 'display'); Error : Number out of range in 'performance' : -99999999999 "
                          "read as -2147483648") +
                  Warning("Command[1] : 'pointlight'); Error : Number out of range in 'position' : 1e39 read as "
                          "3.40282e+38") +
                  Warning("Command[1] : 'pointlight'); Error : Number out of range in 'diffuse' : -1e39 read as "
                          "-3.40282e+38") +
                  Warning("Command[2] : 'model' = a.3ds); Error : Number out of range in 'position' : 1e40 read "
                          "as 3.40282e+38"));
    EXPECT_EQ(config.width, 2147483647u);
    EXPECT_EQ(config.height, 600u);
    EXPECT_TRUE(config.performance);
    ASSERT_EQ(config.lights.count, 1u);
    EXPECT_EQ(config.lights.data[0].Position.y, FLT_MAX);
    EXPECT_EQ(config.lights.data[0].Diffuse.r, -FLT_MAX);
    EXPECT_TRUE(std::isnan(config.lights.data[0].Diffuse.b));  // a NaN is no overflow: the frame packs it as 0
    ASSERT_EQ(config.positions.count, 1u);
    EXPECT_EQ(config.positions.data[0].w, FLT_MAX * 0.017453292f);
    EXPECT_EQ(config.CheckResolution(), S_OK);
}

// A negative size would reach the screen mode as 4294967295: refused.
TEST_F(ConfigTest, ANegativeResolutionIsRefused) {
    ASSERT_EQ(Load("display\n{\n adapter 0\n resolution -1 -1\n windowed 1\n strict 0\n performance 0\n}\n"),
              S_OK);
    EXPECT_EQ(log, "");
    zvtest::LogCapture capture;
    EXPECT_EQ(config.CheckResolution(), E_INVALIDARG);
    EXPECT_NE(capture.log.find("[Config::CheckResolution()] Error : \"The display resolution -1x-1 is negative"),
              std::string::npos)
        << capture.log;
    ASSERT_EQ(Load("display\n{\n adapter 0\n resolution 640 -99999999999\n windowed 1\n strict 0\n"
                   " performance 0\n}\n"),
              S_OK);
    EXPECT_EQ(config.CheckResolution(), E_INVALIDARG);
    ASSERT_EQ(Load("display\n{\n adapter 0\n resolution 0 2147483647\n windowed 1\n strict 0\n"
                   " performance 0\n}\n"),
              S_OK);
    EXPECT_EQ(config.CheckResolution(), S_OK);
}

// A camera that can give no view (nan or an infinity, or a way from the eye
// to the lookat point beyond the float range) is refused by name; a far but
// finite one is left to the graphics manager.
TEST_F(ConfigTest, CamerasThatCanGiveNoViewAreRefused) {
    const std::string entry = "[Config::CheckCamera()] Error : \"The 'camera' entry of \"zvscene.txt\" with eye ";
    const std::string noView = " cannot be used: a number that is nan or an infinity gives no view\"";
    const struct {
        const char* camera;
        std::string error;  // empty: accepted
    } cases[] = {
        {"eye nan 10 -400\n lookat 0 10 0", entry + "{nan, 10, -400} and lookat {0, 10, 0}" + noView},
        {"eye 0 10 -400\n lookat 0 INF 0", entry + "{0, 10, -400} and lookat {0, inf, 0}" + noView},
        {"eye -infinity 0 0\n lookat 0 0 0", entry + "{-inf, 0, 0} and lookat {0, 0, 0}" + noView},
        {"eye -3e38 0 0\n lookat 3e38 0 0", entry + "{-3e+38, 0, 0} and lookat {3e+38, 0, 0} cannot be used: the way "
                                                  "from the eye to the lookat point is beyond the range of a float\""},
        {"eye 1e20 10 -400\n lookat 0 10 0", ""},
        {"eye 0 10 -400\n lookat 0 10 0", ""},
    };
    for (const auto& c : cases) {
        std::string checkLog;
        EXPECT_EQ(Check(std::string("camera {\n ") + c.camera + " }\n", &Config::CheckCamera, &checkLog),
                  c.error.empty() ? S_OK : E_INVALIDARG)
            << c.camera;
        EXPECT_TRUE(c.error.empty() ? checkLog.empty() : checkLog.find(c.error) != std::string::npos) << checkLog;
    }
}

// A point light holding nan or an infinity is refused, naming the entry by its
// number among the file's pointlight entries (a refused one counts too) and
// the first such value by its inner line and its text as written.
TEST_F(ConfigTest, PointLightsHoldingNanOrInfinitiesAreRefused) {
    const std::string good = "pointlight { position 0 1e39 0\n ambient 1 1 1\n diffuse 1 1 1\n specular 1 1 1 }\n";
    const std::string refused = "pointlight { position 0 1 0\n ambient 1 nan }\n";
    const std::string later = "pointlight { position inf 0 0\n ambient 1 1 1\n diffuse 1 1 1\n specular 1 1 1 }\n";
    const struct {
        const char* light;
        const char* named;
    } cases[] = {
        {"position 0 NaN 0\n ambient 1 1 1\n diffuse 1 1 1\n specular 1 1 1", "'position' value NaN"},
        {"position 0 1 0\n ambient 1 1 -inf\n diffuse 1 1 1\n specular 1 1 1", "'ambient' value -inf"},
        {"position 0 1 0\n ambient 1 1 1\n diffuse Infinity 1 1\n specular nan 1 1", "'diffuse' value Infinity"},
        {"position 0 1 0\n ambient 1 1 1\n diffuse 1 1 1\n specular 1 1 nan", "'specular' value nan"},
        {"position -inf nan 0\n ambient 1 1 1\n diffuse 1 1 1\n specular 1 1 1", "'position' value -inf"},
    };
    std::string checkLog;
    for (const auto& c : cases) {
        const std::string text = good + refused + "pointlight { " + c.light + " }\n" + later;
        EXPECT_EQ(Check(text, &Config::CheckLights, &checkLog), E_INVALIDARG) << c.light;
        EXPECT_NE(checkLog.find(std::string("[Config::CheckLights()] Error : \"The 'pointlight' entry number 3 of "
                                            "\"zvscene.txt\" cannot be used: its ") +
                                c.named + " is not a finite number\""),
                  std::string::npos)
            << checkLog;
    }
    // Finite lights pass, even one whose number saturated at the float range.
    EXPECT_EQ(Check(good + good, &Config::CheckLights, &checkLog), S_OK);
    EXPECT_EQ(checkLog, "");
}

// A model whose position holds nan or an infinity would stand with a nan
// world matrix: refused, naming the entry by its number among the file's
// model entries (one without a file counts too) and the first such value.
TEST_F(ConfigTest, ModelPositionsHoldingNanOrInfinitiesAreRefused) {
    const std::string before =
        "model arena.3ds { position 0 1e39 0 -1e39 }\nmodel\nmodel bad.3ds { pos nan 0 0 0 }\n";
    const std::string later = "model late.cfg { position inf 0 0 0 }\n";
    const struct {
        const char* position;
        const char* named;  // null: accepted
    } cases[] = {
        {"nan -47 0 0", "nan"},
        {"0 -INF 0 90", "-INF"},
        {"0 0 Infinity nan", "Infinity"},
        {"0 0 0 -inf", "-inf"},
        {"1e39 0 0 1e39", nullptr},  // saturated at the float range: finite
    };
    std::string checkLog;
    for (const auto& c : cases) {
        const std::string text =
            before + "model monster.cfg { position " + c.position + " }\n" + (c.named ? later : "");
        EXPECT_EQ(Check(text, &Config::CheckModels, &checkLog), c.named ? E_INVALIDARG : S_OK) << c.position;
        if (!c.named) {
            EXPECT_EQ(checkLog, "");
            continue;
        }
        EXPECT_NE(checkLog.find(std::string("[Config::CheckModels()] Error : \"The 'model' entry number 4 of "
                                            "\"zvscene.txt\" cannot be used: its 'position' value ") +
                                c.named + " is not a finite number\""),
                  std::string::npos)
            << checkLog;
    }
    // The model is still listed with its position, and no other check minds it.
    ASSERT_EQ(Load(before + "model monster.cfg { position nan -47 0 0 }\n"), S_OK);
    ASSERT_EQ(config.positions.count, 3u);
    EXPECT_TRUE(std::isnan(config.positions.data[2].x));
    EXPECT_EQ(config.CheckLights(), S_OK);
    EXPECT_EQ(config.CheckCamera(), S_OK);
}

TEST_F(ConfigTest, UnknownCommandsAndBlockOnlyLines) {
    EXPECT_EQ(Load("{ path hidden }\nfog 1\n\npath x\nsky\n"), S_OK);
    // The block-only line is skipped but counted: fog is command 1, sky command 3.
    EXPECT_EQ(log, Warning("Command[1] : 'fog' = 1); Error : Unknow Command") +
                       Warning("Command[3] : 'sky'); Error : Unknow Command"));
    ASSERT_EQ(config.paths.count, 1u);
    EXPECT_STREQ(config.paths.data[0].c_str(), "x");
}

TEST_F(ConfigTest, WarningsNameTheFileAsGiven) {
    EXPECT_EQ(Load("bogus", "cfg_other.txt"), S_OK);
    EXPECT_EQ(log, Warning("Command[0] : 'bogus'); Error : Unknow Command", "cfg_other.txt"));
}

TEST_F(ConfigTest, MessagesAreNotFormats) {
    EXPECT_EQ(Load("%s%n%d %x"), S_OK);
    EXPECT_EQ(log, Warning("Command[0] : '%s%n%d' = %x); Error : Unknow Command"));
}

TEST_F(ConfigTest, MalformedFilesDoNotHurt) {
    EXPECT_EQ(Load(std::string(100000, '{')), S_OK);
    EXPECT_EQ(Load("model x\n{" + std::string(5000, '}')), S_OK);
    EXPECT_EQ(Load("display {{{{ adapter 1 }}}}"), S_OK);
    EXPECT_EQ(Load("path /"), S_OK);
    EXPECT_EQ(Load("path " + std::string(3000, 'p')), S_OK);
    EXPECT_EQ(config.paths.data[config.paths.count - 1].length, 3000u);
}

}  // namespace
