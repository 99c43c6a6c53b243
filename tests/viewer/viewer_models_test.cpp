// The viewer with the engine's own model kinds: an MD5 mesh, a model chosen
// in a ".def" list, a Cal3D description, and an MD5 animation loaded through
// the chooser.
#include <chrono>
#include <thread>

#include "md5_support.h"
#include "viewer_support.h"
#include "zvcal3dwriter.h"

using namespace viewertest;

namespace {

class ViewerModelsTest : public ViewerTest {
protected:
    void SetUp() override {
        ViewerTest::SetUp();
        // The figure modelled 40 below its origin.
        zvtools::MD5MeshFile figure = md5test::SampleMesh();
        for (zvtools::MD5Joint& joint : figure.joints) joint.pos[2] -= 40.0f;
        ASSERT_TRUE(WriteFile(dir + "figure.md5mesh", zvtools::WriteMD5Mesh(figure)));
        ASSERT_TRUE(WriteFile(dir + "idle.md5anim", zvtools::WriteMD5Anim(md5test::SampleAnim(3))));
        ASSERT_TRUE(WriteFile(dir + "wave.md5anim", zvtools::WriteMD5Anim(md5test::SampleAnim(5))));
        zvtools::MD5DefModel first, second;
        first.name = "scout";
        first.mesh = "figure.md5mesh";
        first.anims.push_back({"idle", "idle.md5anim"});
        second.name = "guard";
        second.mesh = "figure.md5mesh";
        ASSERT_TRUE(WriteFile(dir + "figures.def", zvtools::WriteMD5Def({first, second})));
        ASSERT_TRUE(WriteFile(dir + "single.def", zvtools::WriteMD5Def({first})));
    }
    void TypeAndCommand(IGeometry* g, std::string* type, std::string* command) {
        String t, c;
        g->GetTypeAndCommand(&t, &c);
        *type = t.c_str();
        *command = c.c_str();
    }
    // The lowest point of the model's box as it stands in the world.
    float FloorOffset(IModel* model) {
        IPhyEntity* entity = dynamic_cast<IPhyEntity*>(model);
        Vector3 min, max;
        entity->GetBoundingBox(&min, &max);
        Matrix world;
        entity->GetWorldMatrix(&world);
        float lowest = 1e30f;
        for (int i = 0; i < 8; ++i) {
            Vector3 corner(i & 1 ? max.x : min.x, i & 2 ? max.y : min.y, i & 4 ? max.z : min.z);
            corner *= world;
            if (corner.y < lowest) lowest = corner.y;
        }
        return lowest;
    }
};

TEST_F(ViewerModelsTest, MD5MeshIsAnMD5ModelOnTheFloor) {
    ASSERT_GE(Start("figure.md5mesh"), 0) << log;
    ASSERT_NE(viewer->pModel, nullptr);
    std::string type, command;
    TypeAndCommand(viewer->pModel, &type, &command);
    EXPECT_EQ(type, "md5");
    EXPECT_EQ(command, "figure.md5mesh");
    // Its lowest point was below the floor (its box is known from the end of
    // loading on): it stands on y = 0 now.
    Vector3 min, max;
    dynamic_cast<IPhyEntity*>(viewer->pModel)->GetBoundingBox(&min, &max);
    EXPECT_LT(min.y, -1.0f);
    EXPECT_NEAR(FloorOffset(viewer->pModel), 0.0f, 1e-4);
    EXPECT_FALSE(Contains(log, "Error")) << log;
}

TEST_F(ViewerModelsTest, MD5MeshInCapitalsIsAskedOfTheMD5KindAsItStands) {
    // The extension test ignores case; the command keeps it (the MD5 kind
    // itself then wants its own lower-case ending).
    EXPECT_LT(Start("FIGURE.MD5MESH"), 0);
    EXPECT_TRUE(Contains(log, "Command = <FIGURE.MD5MESH>")) << log;
    EXPECT_TRUE(Contains(log, "<md5>")) << log;
    EXPECT_FALSE(Contains(log, "Unknow Type"));
}

TEST_F(ViewerModelsTest, ModelNamedInAListIsLoadedWithoutQuestion) {
    ASSERT_GE(Start("figures.def?guard"), 0) << log;
    std::string type, command;
    TypeAndCommand(viewer->pModel, &type, &command);
    EXPECT_EQ(type, "md5");
    EXPECT_EQ(command, "figures.def?guard");
    EXPECT_EQ(viewer->pModel->GetNumAnimations(), 0u);
}

TEST_F(ViewerModelsTest, ListWithOneModelGivesThatModel) {
    ASSERT_GE(Start("single.def"), 0) << log;
    std::string type, command;
    TypeAndCommand(viewer->pModel, &type, &command);
    EXPECT_EQ(type, "md5");
    EXPECT_EQ(command, "single.def?scout");
    ASSERT_EQ(viewer->pModel->GetNumAnimations(), 1u);
    EXPECT_STREQ(viewer->pModel->GetAnimationName(0).c_str(), "idle");
}

TEST_F(ViewerModelsTest, Cal3DDescriptionIsACal3DModel) {
    ASSERT_FALSE(zvtools::WriteCal3DDemoModel(dir, "totem", "", "").empty());
    ASSERT_GE(Start("Totem.CFG"), 0) << log;
    std::string type, command;
    TypeAndCommand(viewer->pModel, &type, &command);
    EXPECT_EQ(type, "cal3d");
    EXPECT_EQ(command, "Totem.CFG");
    EXPECT_GE(viewer->pModel->GetNumAnimations(), 1u);
    EXPECT_NEAR(FloorOffset(viewer->pModel), 0.0f, 1e-3);
}

TEST_F(ViewerModelsTest, SceneFileModelsOfAnimatedKindsTurnAboutY) {
    ASSERT_GE(Start(nullptr, {"scene.3ds|0 0 0 0", "figures.def?scout|5 6 7 90"}), 0) << log;
    ASSERT_NE(viewer->pModel, nullptr);
    Matrix world;
    dynamic_cast<IPhyEntity*>(viewer->pModel)->GetWorldMatrix(&world);
    // A fresh instance's own matrix, placed, then turned about y first.
    IGeometry* fresh = nullptr;
    ASSERT_GE(viewer->pGraphics->CreateGeometry("md5", "figures.def?guard", &fresh), 0);
    Matrix placed;
    dynamic_cast<IPhyEntity*>(fresh)->GetWorldMatrix(&placed);
    fresh->Release();
    placed._41 = 5.0f;
    placed._42 = 6.0f;
    placed._43 = 7.0f;
    Matrix turn;
    turn.SetRotationY(1.5707963f);
    Matrix expected = turn * placed;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(world.m[r][c], expected.m[r][c], 1e-5) << r << "," << c;
}

TEST_F(ViewerModelsTest, ChosenAnimationIsAddedToTheMD5ModelAndCancelAddsNothing) {
    ASSERT_GE(Start("single.def"), 0) << log;
    Pump();
    ASSERT_EQ(viewer->pModel->GetNumAnimations(), 1u);

    ZVTestQueueOpenFileAnswer(nullptr);
    Tap({DIK_F7});
    EXPECT_EQ(viewer->pModel->GetNumAnimations(), 1u);

    std::this_thread::sleep_for(std::chrono::milliseconds(520));
    ZVTestQueueOpenFileAnswer((dir + "wave.md5anim").c_str());
    Tap({DIK_F7});
    ASSERT_EQ(viewer->pModel->GetNumAnimations(), 2u) << log;
    EXPECT_STREQ(viewer->pModel->GetAnimationName(1).c_str(), "wave.md5anim");
    // And it plays from the numeric pad.
    Tap({DIK_NUMPAD1});
    EXPECT_TRUE(viewer->pModel->IsAnimationPlaying(1));
}

}  // namespace
