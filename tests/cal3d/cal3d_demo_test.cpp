// The demo model written by our writer loads through every reader, and its
// description names the files in the expected order.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cal3d_support.h"

using namespace cal3dtest;

TEST(Cal3DDemoModel, AllFilesLoadAndAgree) {
    std::string dir = DataDir();
    std::string cfg = zvtools::WriteCal3DDemoModel(dir, "demo", "demo_a.tga", "");
    ASSERT_EQ(dir + "demo.cfg", cfg);

    std::ifstream in(cfg);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(
        "# Cal3D model description written by zvtools\nskeleton=demo.csf\nanimation=demo_bend.caf\nmesh=demo.cmf\n"
        "material=demo_a.crf\nmaterial=demo_b.crf\n",
        text.str());

    LogCapture log;
    Vector<ModelCal3DMeta::Bone> bones;
    ASSERT_EQ(S_OK, ModelCal3DMeta::LoadSkeleton((dir + "demo.csf").c_str(), &bones));
    ASSERT_EQ(3u, bones.count);
    EXPECT_EQ(-1, bones.data[0].nParent);
    EXPECT_EQ(1, bones.data[2].nParent);
    EXPECT_EQ(-2.0f, bones.data[2].vTranslationBoneSpace.z);

    ModelCal3DMeta::Animation bend;
    ASSERT_EQ(S_OK, ModelCal3DMeta::LoadAnimation((dir + "demo_bend.caf").c_str(), &bend));
    EXPECT_EQ(S_OK, ModelCal3DMeta::CheckAnimation("demo_bend.caf", bend, bones.count));
    EXPECT_EQ(2.0f, bend.fDuration);
    EXPECT_EQ(3u, bend.vKeyFrames.count);

    MeshLists lists;
    ASSERT_EQ(S_OK, lists.Load(dir + "demo.cmf"));
    ASSERT_EQ(2u, lists.materials.count);
    EXPECT_EQ(0, lists.materials.data[0]);
    EXPECT_EQ(1, lists.materials.data[1]);
    EXPECT_EQ(12u, lists.vertices.data[0].count);
    EXPECT_EQ(48u, lists.faces.data[0].count);
    EXPECT_EQ(8u, lists.vertices.data[1].count);
    EXPECT_EQ(24u, lists.faces.data[1].count);
    for (u32 s = 0; s < 2; ++s) {
        for (u32 i = 0; i < lists.influences.data[s].count; ++i)
            EXPECT_LT((u32)lists.influences.data[s].data[i].nBone, bones.count);
    }

    ModelCal3DMeta::MatInfos a, b;
    ASSERT_EQ(S_OK, ModelCal3DMeta::LoadMaterial((dir + "demo_a.crf").c_str(), "", &a));
    ASSERT_EQ(S_OK, ModelCal3DMeta::LoadMaterial((dir + "demo_b.crf").c_str(), "", &b));
    EXPECT_STREQ("demo_a.tga", a.szTexture);
    EXPECT_EQ(nullptr, b.szTexture);
    ModelCal3DMeta::FreeTexture(&a);
    EXPECT_EQ("", log.log);
}
