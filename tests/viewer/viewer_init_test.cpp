// Viewer start-up: the geometry type chosen from the file extension, the
// model standing on y = 0, the scene file's models without a command line,
// and the refusals (unknown type, a geometry that is no model, no scene file).
#include "viewer_support.h"

using namespace viewertest;

namespace {

TEST(ViewerModelType, ComesFromTheExtensionInLowerCase) {
    EXPECT_STREQ(Viewer::GetModelType("arena.3ds").c_str(), "3ds");
    EXPECT_STREQ(Viewer::GetModelType("C:\\models\\ARENA.3DS").c_str(), "3ds");
    EXPECT_STREQ(Viewer::GetModelType("totem.cfg").c_str(), "cal3d");
    EXPECT_STREQ(Viewer::GetModelType("Totem.CFG").c_str(), "cal3d");
    EXPECT_STREQ(Viewer::GetModelType("/data/grunt.md5mesh").c_str(), "md5");
    EXPECT_STREQ(Viewer::GetModelType("GRUNT.MD5MESH").c_str(), "md5");
    EXPECT_STREQ(Viewer::GetModelType("opponent.def").c_str(), "def");
    EXPECT_STREQ(Viewer::GetModelType("OPPONENT.DEF").c_str(), "def");
    // A model already chosen inside a list: MD5 whatever follows.
    EXPECT_STREQ(Viewer::GetModelType("opponent.def?grunt").c_str(), "md5");
    EXPECT_STREQ(Viewer::GetModelType("odd?name.3ds").c_str(), "md5");
    // Any other extension is the type itself; the last separator counts.
    EXPECT_STREQ(Viewer::GetModelType("model.OBJ").c_str(), "obj");
    EXPECT_STREQ(Viewer::GetModelType("dir.v2/readme").c_str(), "readme");
    EXPECT_STREQ(Viewer::GetModelType("noextension").c_str(), "noextension");
    EXPECT_STREQ(Viewer::GetModelType("trailing.").c_str(), "");
}

using ViewerInitTest = ViewerTest;

TEST_F(ViewerInitTest, CommandLineModelStandsOnTheFloor) {
    Models().boxMin = Vector3(-1.0f, -2.5f, -1.0f);
    ASSERT_GE(Start("Low.ZVT"), 0) << log;
    ASSERT_NE(viewer->pModel, nullptr);
    ASSERT_NE(viewer->pScene, nullptr);
    ASSERT_NE(viewer->pFont, nullptr);
    EXPECT_TRUE(viewer->bInitialised);
    EXPECT_EQ(viewer->models.count, 0u);

    FakeModel* model = dynamic_cast<FakeModel*>(viewer->pModel);
    ASSERT_NE(model, nullptr);
    // The type is the lower-cased extension, the command the file as given.
    EXPECT_STREQ(model->type.c_str(), "zvt");
    EXPECT_STREQ(model->command.c_str(), "Low.ZVT");
    // Raised by 2.5 onto y = 0.
    EXPECT_FLOAT_EQ(model->world._42, 2.5f);
    EXPECT_FLOAT_EQ(model->world._41, 0.0f);

    // The scene is "scene.3ds" as a 3DS model.
    String type, command;
    viewer->pScene->GetTypeAndCommand(&type, &command);
    EXPECT_STREQ(type.c_str(), "3ds");
    EXPECT_STREQ(command.c_str(), "scene.3ds");

    // Camera: one unit towards the scene file's target; up (0, 1, 0).
    EXPECT_FLOAT_EQ(viewer->vLookAt.z, -39.0f);
    EXPECT_FLOAT_EQ(viewer->vUp.y, 1.0f);
    EXPECT_FLOAT_EQ(viewer->vInitialLookAt.z, 0.0f);
    EXPECT_EQ(viewer->nWidth, 320u);
    EXPECT_TRUE(viewer->bWindowed);
    EXPECT_EQ(viewer->lights.count, 1u);

    EXPECT_TRUE(Contains(log, "[Viewer::Init()] Lumivex v0.30")) << log;
    EXPECT_TRUE(Contains(log, "Create Geometries...")) << log;
    EXPECT_FALSE(Contains(log, "Error")) << log;

    // A second Init is refused.
    EXPECT_EQ(viewer->Init(nullptr, "Low.ZVT"), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Don't call Init() many times"));
}

TEST_F(ViewerInitTest, ModelAboveTheFloorIsLeftWhereItIs) {
    Models().boxMin = Vector3(-1.0f, 0.25f, -1.0f);
    ASSERT_GE(Start("high.zvt"), 0) << log;
    FakeModel* model = dynamic_cast<FakeModel*>(viewer->pModel);
    ASSERT_NE(model, nullptr);
    EXPECT_FLOAT_EQ(model->world._42, 0.0f);
}

// The lowest world y of the fake model's box through its world matrix.
float LowestWorldY(FakeModel* model) {
    float lowest = 1e30f;
    for (int i = 0; i < 8; ++i) {
        Vector3 corner(i & 1 ? model->boxMax.x : model->boxMin.x, i & 2 ? model->boxMax.y : model->boxMin.y,
                       i & 4 ? model->boxMax.z : model->boxMin.z);
        corner *= model->world;
        if (corner.y < lowest) lowest = corner.y;
    }
    return lowest;
}

// The model's own matrix turns and scales it: what counts is the lowest
// point as the model stands in the world, not the lowest of its own box.
TEST_F(ViewerInitTest, TurnedOrScaledModelStandsOnTheFloorByItsLowestWorldPoint) {
    struct Case {
        const char* what;
        Vector3 boxMin;
        float turnX, scale, y;
        float lifted;  // the y translation afterwards
    };
    const Case cases[] = {
        // Its own box lies above its origin, but turned a quarter about x its
        // depth (z from -1 to 1, twice as long) hangs down to -2 + 0.5.
        {"turned down", Vector3(-1.0f, 0.5f, -1.0f), 1.5707964f, 2.0f, 0.5f, 2.0f},
        // Its own box reaches 2 below its origin, but the matrix puts it 5 up:
        // the lowest point is 3 above the floor.
        {"placed high", Vector3(-1.0f, -2.0f, -1.0f), 0.0f, 1.0f, 5.0f, 5.0f},
        // Upside down and halved: its top (3) becomes its lowest point (-1.5).
        {"upside down", Vector3(-1.0f, 0.5f, -1.0f), 3.1415927f, 0.5f, 0.0f, 1.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Models().boxMin = c.boxMin;
        Matrix turn, scale;
        turn.SetRotationX(c.turnX);
        scale.SetScaling(c.scale);
        Matrix own = turn * scale;
        own._42 = c.y;
        Models().world = own;
        ASSERT_GE(Start("figure.zvt"), 0) << log;
        FakeModel* model = dynamic_cast<FakeModel*>(viewer->pModel);
        ASSERT_NE(model, nullptr);
        // Only lifted: everything but the y translation is as it was.
        for (int r = 0; r < 4; ++r) {
            for (int k = 0; k < 4; ++k) {
                if (r == 3 && k == 1) continue;
                EXPECT_EQ(model->world.m[r][k], own.m[r][k]) << r << "," << k;
            }
        }
        EXPECT_NEAR(model->world._42, c.lifted, 1e-5);
        EXPECT_GE(LowestWorldY(model), -1e-5f);
        viewer.reset();
    }
}

TEST_F(ViewerInitTest, UnknownTypeFailsInitAndCloses) {
    EXPECT_LT(Start("teapot.obj"), 0);
    EXPECT_TRUE(Contains(log, "Unknow Type : <obj> Command = <teapot.obj>")) << log;
    EXPECT_TRUE(Contains(log, "[Viewer::Init()] Error : \"Called function return ZVE_SUBFUNCTION")) << log;
    EXPECT_TRUE(Contains(log, "Initialisation of Zorvane failed"));
    // Everything made so far was released.
    EXPECT_EQ(viewer->pCore, nullptr);
    EXPECT_EQ(viewer->pScene, nullptr);
    EXPECT_FALSE(viewer->bInitialised);
    EXPECT_TRUE(Contains(log, "EOF"));
    EXPECT_EQ(viewer->Run(), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Not initialized. Call Init() before"));
}

TEST_F(ViewerInitTest, GeometryThatIsNoModelIsRefused) {
    EXPECT_LT(Start("notes.zvg"), 0);
    EXPECT_TRUE(Contains(log, "The file 'notes.zvg' is no model (type <zvg>)")) << log;
    EXPECT_TRUE(Contains(log, "Initialisation of Zorvane failed"));
    EXPECT_EQ(viewer->pCore, nullptr);
    EXPECT_EQ(viewer->pModel, nullptr);
    // Nothing was left behind in the graphics manager.
    EXPECT_TRUE(Contains(log, "Graphics Engine correctly shutdown")) << log;
}

TEST_F(ViewerInitTest, FontGeometryOnTheCommandLineIsRefused) {
    ASSERT_TRUE(WriteFile(dir + "glyphs.font", ReadFile(dir + "lucida_console.tga")));
    EXPECT_LT(Start("glyphs.font"), 0);
    EXPECT_TRUE(Contains(log, "is no model (type <font>)")) << log;
    EXPECT_EQ(viewer->pCore, nullptr);
    std::remove((dir + "glyphs.font").c_str());
}

TEST_F(ViewerInitTest, MissingSceneFileFailsWithoutClosing) {
    std::remove((dir + "zvscene.txt").c_str());
    viewer.reset(new Viewer);
    EXPECT_EQ(viewer->Init(nullptr, "a.zvt"), ZVE_SUBFUNCTION);
    EXPECT_TRUE(Contains(log, "Config file loading file; verify that 'zvscene.txt' is in the ExeDir")) << log;
    EXPECT_FALSE(Contains(log, "Initialisation of Zorvane failed"));
    EXPECT_EQ(viewer->pCore, nullptr);
    // The search path is as before.
    EXPECT_EQ(Paths.count, 0u);
    EXPECT_EQ(viewer->Close(), S_FALSE);
}

TEST_F(ViewerInitTest, WithoutCommandLineTheSceneFileModelsAreShown) {
    // The scene file gives the heading in degrees.
    const float angle = 1.5707963f;
    ASSERT_GE(Start(nullptr, {"first.zvt|1 2 3 0", "second.zvt|10 -20 30 90", "third.zvt|0 0 0 0"}), 0) << log;
    EXPECT_TRUE(Contains(log, "Usage : Double-Click on a Model file and select Lumivex or drag it on the Exe\n"
                              "The command line is empty, so no model will be loaded and rendered !!!\n"))
        << log;
    ASSERT_EQ(viewer->models.count, 3u);
    EXPECT_EQ(static_cast<IGeometry*>(viewer->models[0]), viewer->pScene);
    EXPECT_EQ(viewer->models[1], viewer->pModel);

    FakeModel* first = dynamic_cast<FakeModel*>(viewer->models[0]);
    FakeModel* second = dynamic_cast<FakeModel*>(viewer->models[1]);
    ASSERT_TRUE(first && second);
    EXPECT_FLOAT_EQ(first->world._41, 1.0f);
    EXPECT_FLOAT_EQ(first->world._42, 2.0f);
    EXPECT_FLOAT_EQ(first->world._43, 3.0f);
    // Not an animated kind: turned about x, then placed (rotation first).
    Matrix expected;
    expected.SetRotationX(angle);
    expected._41 = 10.0f;
    expected._42 = -20.0f;
    expected._43 = 30.0f;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(second->world.m[r][c], expected.m[r][c], 1e-6) << r << "," << c;
}

TEST_F(ViewerInitTest, WithOnlyTheSceneThereIsNoViewedModel) {
    ASSERT_GE(Start(nullptr, {"only.zvt"}), 0) << log;
    EXPECT_EQ(viewer->models.count, 1u);
    EXPECT_NE(viewer->pScene, nullptr);
    EXPECT_EQ(viewer->pModel, nullptr);
}

TEST_F(ViewerInitTest, SceneFileEntryThatIsNoModelFailsInit) {
    EXPECT_LT(Start(nullptr, {"a.zvt", "notes.zvg"}), 0);
    EXPECT_TRUE(Contains(log, "The file 'notes.zvg' is no model")) << log;
    EXPECT_EQ(viewer->pCore, nullptr);
}

TEST_F(ViewerInitTest, CloseLogsTheAverageAndReleasesEverything) {
    ASSERT_GE(Start("m.zvt"), 0) << log;
    log.clear();
    EXPECT_EQ(viewer->Close(), S_OK);
    EXPECT_TRUE(Contains(log, "Average FPS == 0.000000")) << log;
    EXPECT_TRUE(Contains(log, "End Of the App; Release..."));
    EXPECT_TRUE(Contains(log, "correctly shutdown")) << log;
    EXPECT_TRUE(Contains(log, "EOF"));
    EXPECT_EQ(viewer->pCore, nullptr);
    EXPECT_EQ(viewer->pModel, nullptr);
    EXPECT_EQ(viewer->Close(), S_FALSE);
}

}  // namespace
