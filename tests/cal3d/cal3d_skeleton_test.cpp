// Skeleton reader: round trip through our writer, header checks, bone and
// child checks, the hierarchy guarantees.

#include <gtest/gtest.h>

#include "cal3d_support.h"

using namespace cal3dtest;
using zvtools::Cal3DSkeleton;
using zvtools::WriteCal3DSkeleton;

namespace {

HRESULT LoadSkeleton(const std::string& path, Vector<ModelCal3DMeta::Bone>* bones) {
    return ModelCal3DMeta::LoadSkeleton(path.c_str(), bones);
}

// n root bones without children or names.
Cal3DSkeleton Roots(int n) {
    Cal3DSkeleton s;
    s.bones.resize(n);
    return s;
}

// A chain of n bones, each the child of the one before.
Cal3DSkeleton Chain(int n) {
    Cal3DSkeleton s;
    s.bones.resize(n);
    for (int b = 0; b < n; ++b) {
        s.bones[b].parent = b - 1;
        if (b + 1 < n) s.bones[b].children = {b + 1};
    }
    return s;
}

void ExpectFloats(const float* expected, const float* actual, int n) {
    for (int i = 0; i < n; ++i) EXPECT_EQ(expected[i], actual[i]) << i;
}

}  // namespace

TEST(Cal3DSkeleton, RoundTripKeepsEveryField) {
    Cal3DSkeleton s = SampleSkeleton();
    std::string path = Write("round.csf", WriteCal3DSkeleton(s));
    LogCapture log;
    Vector<ModelCal3DMeta::Bone> bones;
    ASSERT_EQ(S_OK, LoadSkeleton(path, &bones));
    EXPECT_EQ("", log.log);
    ASSERT_EQ(4u, bones.count);
    for (u32 b = 0; b < 4; ++b) {
        const ModelCal3DMeta::Bone& bone = bones.data[b];
        SCOPED_TRACE(b);
        EXPECT_EQ(s.bones[b].parent, bone.nParent);
        ExpectFloats(s.bones[b].translation, &bone.vTranslation.x, 3);
        ExpectFloats(s.bones[b].rotation, &bone.qRotation.x, 4);
        ExpectFloats(s.bones[b].translationBoneSpace, &bone.vTranslationBoneSpace.x, 3);
        ExpectFloats(s.bones[b].rotationBoneSpace, &bone.qRotationBoneSpace.x, 4);
        ASSERT_EQ(s.bones[b].children.size(), bone.vChildren.count);
        for (u32 c = 0; c < bone.vChildren.count; ++c) EXPECT_EQ(s.bones[b].children[c], bone.vChildren.data[c]);
    }
}

TEST(Cal3DSkeleton, VersionRangeWarnsOutsideOnly) {
    for (int version : {700, 799, 699, 800}) {
        Cal3DSkeleton s = SampleSkeleton();
        s.version = version;
        std::string path = Write("version.csf", WriteCal3DSkeleton(s));
        LogCapture log;
        Vector<ModelCal3DMeta::Bone> bones;
        EXPECT_EQ(S_OK, LoadSkeleton(path, &bones)) << version;
        EXPECT_EQ(4u, bones.count);
        std::string warning = WarningEntry("LoadSkeleton()", path + " : FileVersion=" + std::to_string(version) +
                                                                  ", not in [700,799]; try to load");
        if (version == 700 || version == 799) {
            EXPECT_EQ("", log.log) << version;
        } else {
            EXPECT_EQ(1u, log.Count(warning)) << log.log;
        }
    }
}

TEST(Cal3DSkeleton, WrongMagicIsRefused) {
    for (int at = 0; at < 4; ++at) {
        std::vector<uint8_t> bytes = WriteCal3DSkeleton(SampleSkeleton());
        bytes[at] = at == 3 ? 1 : 'X';
        std::string path = Write("magic.csf", bytes);
        LogCapture log;
        Vector<ModelCal3DMeta::Bone> bones;
        EXPECT_EQ(E_FAIL, LoadSkeleton(path, &bones)) << at;
        EXPECT_TRUE(log.Has(ErrorEntry("LoadSkeleton()", path + " : Invalid File Format ('Invalid Magic Token')")))
            << log.log;
    }
    // The magic of another kind of Cal3D file.
    std::vector<uint8_t> mesh = zvtools::WriteCal3DMesh(zvtools::Cal3DMesh());
    std::string path = Write("kind.csf", mesh);
    Vector<ModelCal3DMeta::Bone> bones;
    EXPECT_EQ(E_FAIL, LoadSkeleton(path, &bones));
}

TEST(Cal3DSkeleton, MissingFileIsReportedAsFailedCall) {
    LogCapture log;
    Vector<ModelCal3DMeta::Bone> bones;
    EXPECT_EQ(ZVE_SUBFUNCTION, LoadSkeleton(DataDir() + "no_such_file.csf", &bones));
    EXPECT_TRUE(log.Has(FailedCall("LoadSkeleton()", "E_FAIL (0x80004005)", "-"))) << log.log;
}

TEST(Cal3DSkeleton, BoneCountLimit) {
    std::string path = Write("many.csf", WriteCal3DSkeleton(Roots(65535)));
    {
        LogCapture log;
        Vector<ModelCal3DMeta::Bone> bones;
        EXPECT_EQ(S_OK, LoadSkeleton(path, &bones));
        EXPECT_EQ(65535u, bones.count);
        EXPECT_EQ(-1, bones.data[65534].nParent);
        EXPECT_EQ("", log.log);
    }
    Cal3DSkeleton tooMany = Roots(1);
    tooMany.numBonesOverride = 65536;
    path = Write("toomany.csf", WriteCal3DSkeleton(tooMany));
    LogCapture log;
    Vector<ModelCal3DMeta::Bone> bones;
    EXPECT_EQ(E_FAIL, LoadSkeleton(path, &bones));
    EXPECT_TRUE(log.Has(ErrorEntry("LoadSkeleton()", path + " : Number of bones = 65536"))) << log.log;
    EXPECT_EQ(0u, bones.count);
}

TEST(Cal3DSkeleton, LongNameIsConsumedWithOneWarning) {
    Cal3DSkeleton s = SampleSkeleton();
    s.bones[1].name = std::string(300, 'n');
    std::string path = Write("longname.csf", WriteCal3DSkeleton(s));
    LogCapture log;
    Vector<ModelCal3DMeta::Bone> bones;
    ASSERT_EQ(S_OK, LoadSkeleton(path, &bones));
    EXPECT_EQ(1u, log.Count(WarningEntry("LoadSkeleton()", "Too long bone name")));
    EXPECT_EQ(0, bones.data[1].nParent);
    EXPECT_EQ(s.bones[1].translation[1], bones.data[1].vTranslation.y);
    EXPECT_EQ(s.bones[2].rotationBoneSpace[0], bones.data[2].qRotationBoneSpace.x);
}

TEST(Cal3DSkeleton, ParentOutsideTheBonesIsRefused) {
    for (int parent : {-2, 4, 0x7FFFFFFF}) {
        Cal3DSkeleton s = SampleSkeleton();
        s.bones[3].parent = parent;
        std::string path = Write("parent.csf", WriteCal3DSkeleton(s));
        LogCapture log;
        Vector<ModelCal3DMeta::Bone> bones;
        EXPECT_EQ(E_FAIL, LoadSkeleton(path, &bones)) << parent;
        EXPECT_TRUE(log.Has(
            ErrorEntry("LoadSkeleton()", path + " : Bad index of parent bone : " + std::to_string(parent))))
            << log.log;
    }
}

TEST(Cal3DSkeleton, ChildCountAboveBoneCountIsRefused) {
    Cal3DSkeleton s = SampleSkeleton();
    s.bones[0].numChildrenOverride = 5;
    s.bones[0].children = {1, 2, 3, 1, 2};
    std::string path = Write("children.csf", WriteCal3DSkeleton(s));
    LogCapture log;
    Vector<ModelCal3DMeta::Bone> bones;
    EXPECT_EQ(E_FAIL, LoadSkeleton(path, &bones));
    EXPECT_TRUE(log.Has(ErrorEntry("LoadSkeleton()", path + " : Number of children = 5, more than the bones")))
        << log.log;
}

TEST(Cal3DSkeleton, ChildOutOfRangeBecomesZeroAndIsThenDropped) {
    Cal3DSkeleton s = SampleSkeleton();
    s.bones[2].children = {-1, 3, 4};
    std::string path = Write("badchild.csf", WriteCal3DSkeleton(s));
    LogCapture log;
    Vector<ModelCal3DMeta::Bone> bones;
    ASSERT_EQ(S_OK, LoadSkeleton(path, &bones));
    EXPECT_EQ(2u, log.Count(WarningEntry("LoadSkeleton()", "Too big (or negative) child ID (=> Set to 0)")));
    // Bone 0 does not name bone 2 as its parent: the link to it goes, once per link.
    EXPECT_EQ(2u, log.Count(WarningEntry(
                      "LoadSkeleton()", path + " : Bone 0 listed as a child of bone 2, but its parent is -1 (=> removed)")));
    ASSERT_EQ(1u, bones.data[2].vChildren.count);
    EXPECT_EQ(3, bones.data[2].vChildren.data[0]);
}

TEST(Cal3DSkeleton, ChildListsAreMadeToAgreeWithTheParents) {
    Cal3DSkeleton s = SampleSkeleton();
    s.bones[0].children = {1, 1};  // bone 2 missing, bone 1 twice
    std::string path = Write("settle.csf", WriteCal3DSkeleton(s));
    LogCapture log;
    Vector<ModelCal3DMeta::Bone> bones;
    ASSERT_EQ(S_OK, LoadSkeleton(path, &bones));
    EXPECT_TRUE(log.Has(WarningEntry("LoadSkeleton()", path + " : Bone 1 listed twice as a child of bone 0 (=> removed)")));
    EXPECT_TRUE(log.Has(WarningEntry("LoadSkeleton()", path + " : Bone 2 missing from the children of bone 0 (=> added)")));
    ASSERT_EQ(2u, bones.data[0].vChildren.count);
    EXPECT_EQ(1, bones.data[0].vChildren.data[0]);
    EXPECT_EQ(2, bones.data[0].vChildren.data[1]);
}

TEST(Cal3DSkeleton, ParentLoopsAreRefusedAndLongChainsKept) {
    {
        Cal3DSkeleton s = Roots(3);
        s.bones[1].parent = 2;
        s.bones[2].parent = 1;
        std::string path = Write("loop.csf", WriteCal3DSkeleton(s));
        LogCapture log;
        Vector<ModelCal3DMeta::Bone> bones;
        EXPECT_EQ(E_FAIL, LoadSkeleton(path, &bones));
        EXPECT_TRUE(log.Has(ErrorEntry("LoadSkeleton()", path + " : Bone 1 does not reach a root bone within 65535 levels")))
            << log.log;
    }
    {
        Cal3DSkeleton s = Roots(1);
        s.bones[0].parent = 0;
        s.bones[0].children = {0};
        std::string path = Write("self.csf", WriteCal3DSkeleton(s));
        Vector<ModelCal3DMeta::Bone> bones;
        EXPECT_EQ(E_FAIL, LoadSkeleton(path, &bones));
    }
    {
        // The deepest possible chain: every bone but the root one level down.
        std::string path = Write("chain65535.csf", WriteCal3DSkeleton(Chain(65535)));
        LogCapture log;
        Vector<ModelCal3DMeta::Bone> bones;
        EXPECT_EQ(S_OK, LoadSkeleton(path, &bones));
        EXPECT_EQ("", log.log);
        EXPECT_EQ(65533, bones.data[65534].nParent);
    }
}

TEST(Cal3DSkeleton, TruncatedFileReportsUnexpectedEnd) {
    std::vector<uint8_t> bytes = WriteCal3DSkeleton(SampleSkeleton());
    bytes.resize(bytes.size() - 2);
    std::string path = Write("short.csf", bytes);
    LogCapture log;
    Vector<ModelCal3DMeta::Bone> bones;
    EXPECT_EQ(ZVE_SUBFUNCTION, LoadSkeleton(path, &bones));
    EXPECT_EQ(1u, log.Count(EndOfFile("LoadSkeleton()"))) << log.log;
}
