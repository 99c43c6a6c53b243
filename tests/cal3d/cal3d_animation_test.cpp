// Animation reader: round trip, duration and track checks, bone check
// against the skeleton.

#include <gtest/gtest.h>

#include <limits>

#include "cal3d_support.h"

using namespace cal3dtest;
using zvtools::Cal3DAnimation;
using zvtools::WriteCal3DAnimation;

namespace {

HRESULT LoadAnimation(const std::string& path, ModelCal3DMeta::Animation* animation) {
    return ModelCal3DMeta::LoadAnimation(path.c_str(), animation);
}

}  // namespace

TEST(Cal3DAnimation, RoundTripKeepsTracksAndKeyFramesInFileOrder) {
    Cal3DAnimation a = SampleAnimation();
    std::string path = Write("round.caf", WriteCal3DAnimation(a));
    LogCapture log;
    ModelCal3DMeta::Animation anim;
    ASSERT_EQ(S_OK, LoadAnimation(path, &anim));
    EXPECT_EQ("", log.log);
    EXPECT_EQ(2.5f, anim.fDuration);
    ASSERT_EQ(2u, anim.vTracks.count);
    EXPECT_EQ(3, anim.vTracks.data[0].nBone);
    EXPECT_EQ(0u, anim.vTracks.data[0].nFirstKeyFrame);
    EXPECT_EQ(3u, anim.vTracks.data[0].nNumKeyFrames);
    EXPECT_EQ(1, anim.vTracks.data[1].nBone);
    EXPECT_EQ(3u, anim.vTracks.data[1].nFirstKeyFrame);
    EXPECT_EQ(2u, anim.vTracks.data[1].nNumKeyFrames);
    ASSERT_EQ(5u, anim.vKeyFrames.count);
    u32 at = 0;
    for (const zvtools::Cal3DTrack& track : a.tracks) {
        for (const zvtools::Cal3DKeyFrame& key : track.keyFrames) {
            const ModelCal3DMeta::Animation::KeyFrame& got = anim.vKeyFrames.data[at++];
            EXPECT_EQ(key.time, got.fTime);
            EXPECT_EQ(key.translation[0], got.vTranslation.x);
            EXPECT_EQ(key.translation[1], got.vTranslation.y);
            EXPECT_EQ(key.translation[2], got.vTranslation.z);
            EXPECT_EQ(key.rotation[0], got.qRotation.x);
            EXPECT_EQ(key.rotation[1], got.qRotation.y);
            EXPECT_EQ(key.rotation[2], got.qRotation.z);
            EXPECT_EQ(key.rotation[3], got.qRotation.w);
        }
    }
    EXPECT_EQ(S_OK, ModelCal3DMeta::CheckAnimation(path.c_str(), anim, 4));
}

TEST(Cal3DAnimation, DurationMustBeFiniteAndNotNegative) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float duration;
        const char* message;
    } cases[] = {{0.0f, nullptr},
                 {-0.5f, "Negative animation duration"},
                 {nan, "Negative animation duration"},
                 {-inf, "Negative animation duration"},
                 {inf, "Infinite animation duration"}};
    for (const Case& c : cases) {
        Cal3DAnimation a = SampleAnimation();
        a.duration = c.duration;
        std::string path = Write("duration.caf", WriteCal3DAnimation(a));
        LogCapture log;
        ModelCal3DMeta::Animation anim;
        if (!c.message) {
            EXPECT_EQ(S_OK, LoadAnimation(path, &anim));
            EXPECT_EQ(0.0f, anim.fDuration);
        } else {
            EXPECT_EQ(ZVE_SUBFUNCTION, LoadAnimation(path, &anim)) << c.duration;
            EXPECT_TRUE(log.Has(FailedCall("LoadAnimation()", "E_FAIL (0x80004005)", c.message))) << log.log;
        }
    }
}

TEST(Cal3DAnimation, NoTrackIsRefused) {
    Cal3DAnimation a;
    std::string path = Write("notrack.caf", WriteCal3DAnimation(a));
    LogCapture log;
    ModelCal3DMeta::Animation anim;
    EXPECT_EQ(E_FAIL, LoadAnimation(path, &anim));
    EXPECT_TRUE(log.Has(ErrorEntry("LoadAnimation()", path + " : No Tracks in this animation"))) << log.log;
}

TEST(Cal3DAnimation, NegativeTrackBoneIsRefused) {
    Cal3DAnimation a = SampleAnimation();
    a.tracks[1].bone = -1;
    std::string path = Write("negbone.caf", WriteCal3DAnimation(a));
    LogCapture log;
    ModelCal3DMeta::Animation anim;
    EXPECT_EQ(ZVE_SUBFUNCTION, LoadAnimation(path, &anim));
    EXPECT_TRUE(log.Has(FailedCall("LoadAnimation()", "E_FAIL (0x80004005)", "Negative bone ID"))) << log.log;
}

TEST(Cal3DAnimation, TracksWithoutKeyFramesAreSkipped) {
    Cal3DAnimation a = SampleAnimation();
    zvtools::Cal3DTrack empty;
    empty.bone = 2;
    a.tracks.insert(a.tracks.begin() + 1, empty);
    std::string path = Write("emptytrack.caf", WriteCal3DAnimation(a));
    {
        LogCapture log;
        ModelCal3DMeta::Animation anim;
        ASSERT_EQ(S_OK, LoadAnimation(path, &anim));
        EXPECT_EQ(1u, log.Count(WarningEntry("LoadAnimation()",
                                             path + " : Track of bone 2 without key frames (=> skipped)")));
        ASSERT_EQ(2u, anim.vTracks.count);
        EXPECT_EQ(1, anim.vTracks.data[1].nBone);
        EXPECT_EQ(3u, anim.vTracks.data[1].nFirstKeyFrame);
        EXPECT_EQ(5u, anim.vKeyFrames.count);
    }
    // Nothing but empty tracks: no track is left.
    Cal3DAnimation onlyEmpty;
    onlyEmpty.tracks = {empty, empty};
    path = Write("onlyempty.caf", WriteCal3DAnimation(onlyEmpty));
    LogCapture log;
    ModelCal3DMeta::Animation anim;
    EXPECT_EQ(E_FAIL, LoadAnimation(path, &anim));
    EXPECT_TRUE(log.Has(ErrorEntry("LoadAnimation()", path + " : No Tracks in this animation")));
}

TEST(Cal3DAnimation, KeyTimeMustBeFinite) {
    Cal3DAnimation a = SampleAnimation();
    a.tracks[0].keyFrames[1].time = std::numeric_limits<float>::quiet_NaN();
    std::string path = Write("nantime.caf", WriteCal3DAnimation(a));
    LogCapture log;
    ModelCal3DMeta::Animation anim;
    EXPECT_EQ(E_FAIL, LoadAnimation(path, &anim));
    EXPECT_TRUE(log.Has(ErrorEntry("LoadAnimation()", path + " : Key frame time not finite in the track of bone 3")));
}

TEST(Cal3DAnimation, TrackOfAMissingBoneIsRefusedAgainstTheSkeleton) {
    std::string path = Write("check.caf", WriteCal3DAnimation(SampleAnimation()));
    ModelCal3DMeta::Animation anim;
    ASSERT_EQ(S_OK, LoadAnimation(path, &anim));
    LogCapture log;
    EXPECT_EQ(E_FAIL, ModelCal3DMeta::CheckAnimation(path.c_str(), anim, 3));
    EXPECT_TRUE(log.Has("\n[ModelCal3DMeta::CheckAnimation()] Error : \"" + path +
                        " : Track of bone 3, but the skeleton has 3 bones\"\nAt "))
        << log.log;
}

TEST(Cal3DAnimation, TruncatedKeyFrameReportsUnexpectedEnd) {
    std::vector<uint8_t> bytes = WriteCal3DAnimation(SampleAnimation());
    bytes.resize(bytes.size() - 31);
    std::string path = Write("short.caf", bytes);
    LogCapture log;
    ModelCal3DMeta::Animation anim;
    EXPECT_EQ(ZVE_SUBFUNCTION, LoadAnimation(path, &anim));
    EXPECT_EQ(1u, log.Count(EndOfFile("LoadAnimation()"))) << log.log;
}
