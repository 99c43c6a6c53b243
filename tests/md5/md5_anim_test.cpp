// The .md5anim reader: round trips through our writer, the warnings it
// lets pass, and the refusals of malformed files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "md5_support.h"

namespace {

using md5test::LogCapture;

const char kScope[] = "ModelMD5Meta::LoadAnimation()";

Vector<String> SampleNames() {
    Vector<String> names;
    names.Add("origin\"");
    names.Add("spine\"");
    names.Add("head\"");
    return names;
}

unsigned LineOf(const std::string& text, const std::string& needle) {
    size_t at = text.find(needle);
    unsigned line = 1;
    for (size_t i = 0; i < at && i < text.size(); ++i)
        if (text[i] == '\n') ++line;
    return line;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

HRESULT LoadText(const std::string& name, const std::string& text, ModelMD5Meta::Animation* anim,
                 const Vector<String>* names) {
    std::string path = md5test::Write(name, text);
    return ModelMD5Meta::LoadAnimation(path.c_str(), anim, names);
}

TEST(MD5Anim, RoundTripKeepsEveryRecord) {
    zvtools::MD5Anim a = md5test::SampleAnim(3);
    a.frameRate = 30.0f;
    Vector<String> names = SampleNames();
    ModelMD5Meta::Animation anim;
    LogCapture capture;
    ASSERT_EQ(LoadText("round.md5anim", zvtools::WriteMD5Anim(a), &anim, &names), S_OK);
    EXPECT_EQ(capture.log, "");

    EXPECT_EQ(anim.fFrameRate, 30.0f);
    ASSERT_EQ(anim.vAnimBones.count, 3u);
    const int expectedStart[3] = {0, 2, 5};
    for (u32 j = 0; j < 3; ++j) {
        EXPECT_EQ(anim.vAnimBones[j].nBone, (i32)j);
        EXPECT_EQ(anim.vAnimBones[j].nParent, a.joints[j].parent);
        EXPECT_EQ(anim.vAnimBones[j].nFlags, (u32)a.joints[j].flags);
        EXPECT_EQ(anim.vAnimBones[j].nStartIndex, (u32)expectedStart[j]);
        EXPECT_EQ(anim.vBasePos[j].x, a.baseframe[j].pos[0]);
        EXPECT_EQ(anim.vBasePos[j].y, a.baseframe[j].pos[1]);
        EXPECT_EQ(anim.vBasePos[j].z, a.baseframe[j].pos[2]);
        EXPECT_EQ(anim.vBaseOrient[j].z, a.baseframe[j].orient[2]);
        EXPECT_EQ(anim.vBaseOrient[j].w, 0.0f);  // computed when the pose is built
    }
    ASSERT_EQ(anim.vBounds.count, 6u);
    for (u32 f = 0; f < 3; ++f) {
        EXPECT_EQ(anim.vBounds[2 * f].x, a.bounds[f].min[0]);
        EXPECT_EQ(anim.vBounds[2 * f + 1].z, a.bounds[f].max[2]);
    }
    ASSERT_EQ(anim.vFrames.count, 3u);
    for (u32 f = 0; f < 3; ++f) {
        ASSERT_EQ(anim.vFrames[f].count, 5u);
        for (u32 c = 0; c < 5; ++c) EXPECT_EQ(anim.vFrames[f][c], a.frames[f][c]) << f << "," << c;
    }
}

TEST(MD5Anim, CrLfLinesAndExtraBlankLinesReadTheSame) {
    zvtools::MD5Anim a = md5test::SampleAnim(2);
    zvtools::MD5WriteOptions crlf;
    crlf.crlf = true;
    std::string text = zvtools::WriteMD5Anim(a, crlf);
    text = Replace(text, "bounds {", "\r\n\r\n{\r\n}\r\nbounds {");
    // Lines of white space alone, of any length, are skipped as well.
    text = Replace(text, "baseframe {", "  \r\n\t \t \r\nbaseframe {");
    text = Replace(text, "frame 1 {\r\n", "frame 1 {\r\n\t\t\t\t\r\n");
    Vector<String> names = SampleNames();
    ModelMD5Meta::Animation lf, crlfAnim;
    LogCapture capture;
    ASSERT_EQ(LoadText("lf.md5anim", zvtools::WriteMD5Anim(a), &lf, &names), S_OK);
    ASSERT_EQ(LoadText("crlf.md5anim", text, &crlfAnim, &names), S_OK);
    EXPECT_EQ(capture.log, "");
    ASSERT_EQ(crlfAnim.vFrames.count, 2u);
    for (u32 f = 0; f < 2; ++f)
        for (u32 c = 0; c < 5; ++c) EXPECT_EQ(crlfAnim.vFrames[f][c], lf.vFrames[f][c]);
}

TEST(MD5Anim, ManyJointsWithoutFlagsHaveNoFrameLines) {
    zvtools::MD5Anim a;
    a.joints.resize(10);
    for (int j = 0; j < 10; ++j) {
        a.joints[j].name = "j" + std::to_string(j);
        a.joints[j].parent = j - 1;
        a.joints[j].flags = (j % 3 == 1) ? 0 : (j % 2 ? 7 : 63);
    }
    int components = zvtools::AssignMD5StartIndices(&a);
    a.baseframe.resize(10);
    a.bounds.resize(2);
    for (int f = 0; f < 2; ++f) {
        std::vector<float> frame;
        for (int c = 0; c < components; ++c) frame.push_back((float)(100 * f + c));
        a.frames.push_back(frame);
    }
    std::string text = zvtools::WriteMD5Anim(a);
    // Frame 0 holds one line per joint with flags: 7 of the 10.
    size_t begin = text.find("frame 0 {"), end = text.find("}", begin);
    std::string block = text.substr(begin, end - begin);
    EXPECT_EQ(std::count(block.begin(), block.end(), '\n'), 8);

    Vector<String> names;
    for (int j = 0; j < 10; ++j) names.Add(String((a.joints[j].name + "\"").c_str()));
    ModelMD5Meta::Animation anim;
    ASSERT_EQ(LoadText("ten.md5anim", text, &anim, &names), S_OK);
    ASSERT_EQ(anim.vFrames[1].count, (u32)components);
    for (int c = 0; c < components; ++c) EXPECT_EQ(anim.vFrames[1][(u32)c], (float)(100 + c));
}

TEST(MD5Anim, UnknownJointAndDifferentJointCountOnlyWarn) {
    zvtools::MD5Anim a = md5test::SampleAnim(1);
    a.joints[1].name = "tail";
    std::string text = zvtools::WriteMD5Anim(a);
    Vector<String> names = SampleNames();
    names.Add("extra\"");
    ModelMD5Meta::Animation anim;
    LogCapture capture;
    std::string path = md5test::Write("unknown.md5anim", text);
    ASSERT_EQ(ModelMD5Meta::LoadAnimation(path.c_str(), &anim, &names), S_OK);
    EXPECT_TRUE(capture.Has(md5test::SyntaxEntry(kScope, "numAnimatedComponents 5\n",
                                                 "Anim.NumBones != Model.NumBones => Can create problem while "
                                                 "animating the skeleton")))
        << capture.log;
    std::string tailLine = "\t\"tail\"\t0 56 2\t// origin\n";
    EXPECT_TRUE(capture.Has(
        md5test::SyntaxEntry(kScope, tailLine, "Cannot find a bone from the Animation to the Model.")));
    EXPECT_TRUE(capture.Has(md5test::Position(path, LineOf(text, "\"tail\""))));
    EXPECT_EQ(anim.vAnimBones[0].nBone, 0);
    EXPECT_EQ(anim.vAnimBones[1].nBone, -1);
    EXPECT_EQ(anim.vAnimBones[2].nBone, 2);
}

TEST(MD5Anim, NamesMatchByPositionFirstThenTheLastEqualName) {
    zvtools::MD5Anim a = md5test::SampleAnim(1);
    Vector<String> names;
    names.Add("head\"");
    names.Add("spine\"");
    names.Add("origin\"");
    names.Add("head\"");
    ModelMD5Meta::Animation anim;
    LogCapture capture;
    ASSERT_EQ(LoadText("order.md5anim", zvtools::WriteMD5Anim(a), &anim, &names), S_OK);
    EXPECT_EQ(anim.vAnimBones[0].nBone, 2);  // origin
    EXPECT_EQ(anim.vAnimBones[1].nBone, 1);  // spine, at its own position
    EXPECT_EQ(anim.vAnimBones[2].nBone, 3);  // head: the last equal name
}

// A joint's name runs to its closing quote: 3ds Max names hold spaces.  The
// mesh and the animation keep it in the same form, closing quote included,
// so the animation finds its joints by their whole names (here in the
// reverse order of the mesh's).  A name without a closing quote after it is
// its first word, as is a name whose quote inside is followed by more.
TEST(MD5Anim, JointNamesWithSpacesAreReadWholeInMeshAndAnimation) {
    struct Name {
        const char* written;  // between the quotes the writer puts around it
        const char* stored;
    };
    const Name names[] = {
        {"Bip01 Pelvis", "Bip01 Pelvis\""}, {"Bip01 L Hand", "Bip01 L Hand\""}, {"Bip01 R Hand", "Bip01 R Hand\""},
        {"Bip01  R   Toe0", "Bip01  R   Toe0\""}, {"origin", "origin\""}, {"a\"b", "a\"b\""},
        {" lead", "lead\""}, {"", "\""}, {"open", "open"},
    };
    const size_t count = std::size(names);
    zvtools::MD5MeshFile mesh = md5test::SampleMesh();
    zvtools::MD5Anim a;
    mesh.joints.resize(count);
    a.joints.resize(count);
    for (size_t j = 0; j < count; ++j) {
        mesh.joints[j].name = names[j].written;
        mesh.joints[j].parent = (int)j - 1;
        a.joints[count - 1 - j].name = names[j].written;
        a.joints[count - 1 - j].flags = 7;
    }
    const int components = zvtools::AssignMD5StartIndices(&a);
    a.baseframe.resize(count);
    a.bounds.resize(1);
    a.frames.push_back(std::vector<float>((size_t)components, 1.0f));
    // "open" is written without its closing quote.
    const std::string meshText = Replace(zvtools::WriteMD5Mesh(mesh), "\"open\"", "\"open");
    const std::string animText = Replace(zvtools::WriteMD5Anim(a), "\"open\"", "\"open");

    ModelMD5Meta meta;
    Vector<ModelMD5Meta::SubMeshData> subs;
    ModelMD5Meta::Animation anim;
    LogCapture capture;
    ASSERT_EQ(meta.ParseMesh(md5test::Write("spaced.md5mesh", meshText).c_str(), &subs), S_OK) << capture.log;
    ASSERT_EQ(LoadText("spaced.md5anim", animText, &anim, &meta.vBoneNames), S_OK) << capture.log;
    EXPECT_EQ(capture.log, "");
    ASSERT_EQ(meta.vBoneNames.count, count);
    ASSERT_EQ(anim.vAnimBones.count, count);
    for (size_t j = 0; j < count; ++j) {
        EXPECT_STREQ(meta.vBoneNames[(u32)j].c_str(), names[j].stored) << names[j].written;
        EXPECT_EQ(meta.vBones[(u32)j].nParent, (i32)j - 1) << names[j].written;
        EXPECT_EQ(anim.vAnimBones[(u32)(count - 1 - j)].nBone, (i32)j) << names[j].written;
    }
}

TEST(MD5Anim, RelativeNameShowsTheSearchPathEntryAsSource) {
    Vector<String> saved = Paths;
    Paths.count = 0;
    Paths.Add(String(md5test::DataDir().c_str()));
    zvtools::MD5Anim a = md5test::SampleAnim(2);
    std::string text = Replace(zvtools::WriteMD5Anim(a), "frame 1 {", "frame 2 {");
    md5test::Write("relative.md5anim", text);
    Vector<String> names = SampleNames();
    ModelMD5Meta::Animation anim;
    LogCapture capture;
    EXPECT_EQ(ModelMD5Meta::LoadAnimation("relative.md5anim", &anim, &names), E_FAIL);
    std::string expected = md5test::SyntaxEntry(kScope, "frame 2 {\n", "Invalid frame ID");
    ASSERT_TRUE(capture.Has(expected)) << capture.log;
    size_t at = capture.log.find(expected) + expected.size() + 8;  // past the time of day
    EXPECT_EQ(capture.log.substr(at),
              md5test::Position(md5test::DataDir() + "relative.md5anim", LineOf(text, "frame 2 {")));
    Paths = saved;
}

struct BadAnim {
    const char* name;
    const char* from;
    const char* to;
    const char* shownLine;  // the line the entry shows
    const char* text;       // the syntax error
};

class MD5AnimSyntax : public testing::TestWithParam<BadAnim> {};

TEST_P(MD5AnimSyntax, FailsWithItsEntry) {
    const BadAnim& bad = GetParam();
    std::string text = Replace(zvtools::WriteMD5Anim(md5test::SampleAnim(2)), bad.from, bad.to);
    Vector<String> names = SampleNames();
    ModelMD5Meta::Animation anim;
    LogCapture capture;
    std::string path = md5test::Write(std::string(bad.name) + ".md5anim", text);
    EXPECT_EQ(ModelMD5Meta::LoadAnimation(path.c_str(), &anim, &names), E_FAIL);
    std::string entry = md5test::SyntaxEntry(kScope, bad.shownLine, bad.text);
    EXPECT_TRUE(capture.Has(entry)) << capture.log;
    EXPECT_TRUE(capture.Has(md5test::Position(path, LineOf(text, bad.to)))) << capture.log;
    EXPECT_FALSE(capture.Has("Error while loading"));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, MD5AnimSyntax,
    testing::Values(
        BadAnim{"magic", "MD5Version 10", "MD5Versio 10", "MD5Versio 10\n",
                "Cannot find Magic Token \"MD5Version\" !!!"},
        BadAnim{"noframes", "numFrames 2", "numFrames 0", "numFrames 0\n", "No Frame in the animation file"},
        BadAnim{"negframes", "numFrames 2", "numFrames -4", "numFrames -4\n", "No Frame in the animation file"},
        BadAnim{"hugeframes", "numFrames 2", "numFrames 2000000000", "numFrames 2000000000\n",
                "Count too big for the size of the file"},
        BadAnim{"nojoints", "numJoints 3", "numJoints 0", "numJoints 0\n", "No Bones in the animation file"},
        BadAnim{"hugejoints", "numJoints 3", "numJoints 99999999", "numJoints 99999999\n",
                "Count too big for the size of the file"},
        BadAnim{"zerorate", "frameRate 24", "frameRate 0", "frameRate 0\n",
                "FrameRate == 0.0f in the animation file"},
        BadAnim{"norate", "frameRate 24", "frameRat 24", "frameRat 24\n", "FrameRate == 0.0f in the animation file"},
        BadAnim{"negrate", "frameRate 24", "frameRate -24", "frameRate -24\n",
                "FrameRate must be a finite number above 0"},
        BadAnim{"nanrate", "frameRate 24", "frameRate nan", "frameRate nan\n",
                "FrameRate must be a finite number above 0"},
        BadAnim{"infrate", "frameRate 24", "frameRate inf", "frameRate inf\n",
                "FrameRate must be a finite number above 0"},
        BadAnim{"nocomponents", "numAnimatedComponents 5", "numAnimatedComponents 0",
                "numAnimatedComponents 0\n", "No AnimatedComponents in the animation file"},
        BadAnim{"toomanycomponents", "numAnimatedComponents 5", "numAnimatedComponents 19",
                "numAnimatedComponents 19\n", "More AnimatedComponents than 6 per bone"},
        BadAnim{"hierarchy", "hierarchy {", "hierarchi {", "hierarchi {\n",
                "Cannot find Token \"hierarchy\" !!!"},
        BadAnim{"flags", "\"spine\"\t0 56 2", "\"spine\"\t0 64 2", "\t\"spine\"\t0 64 2\t// origin\n",
                "Assertion failed"},
        BadAnim{"negflags", "\"spine\"\t0 56 2", "\"spine\"\t0 -1 2", "\t\"spine\"\t0 -1 2\t// origin\n",
                "Assertion failed"},
        BadAnim{"start", "\"spine\"\t0 56 2", "\"spine\"\t0 56 3", "\t\"spine\"\t0 56 3\t// origin\n",
                "The components of the bone pass numAnimatedComponents"},
        BadAnim{"negstart", "\"spine\"\t0 56 2", "\"spine\"\t0 56 -1", "\t\"spine\"\t0 56 -1\t// origin\n",
                "The components of the bone pass numAnimatedComponents"},
        BadAnim{"bounds", "bounds {", "bound {", "bound {\n", "Cannot find Token \"bounds\" !!!"},
        BadAnim{"baseframe", "baseframe {", "base {", "base {\n", "Cannot find Token \"baseframe\" !!!"},
        BadAnim{"frametoken", "frame 1 {", "frames 1 {", "frames 1 {\n", "Cannot find Token \"frame\" !!!"},
        BadAnim{"frameid", "frame 1 {", "frame 2 {", "frame 2 {\n", "Invalid frame ID"},
        BadAnim{"fewkeys", "\t12.5 13.5 14.5\n", "\t12.5 13.5\n", "\t12.5 13.5\n",
                "Number of Components read don't match with bone needs"},
        BadAnim{"morekeys", "\t12.5 13.5 14.5\n", "\t12.5 13.5 14.5 15.5\n", "\t12.5 13.5 14.5 15.5\n",
                "Number of Components read don't match with bone needs"}),
    [](const testing::TestParamInfo<BadAnim>& info) { return std::string(info.param.name); });

TEST(MD5Anim, ComponentsPastTheDeclaredCountAreRefused) {
    // Five components declared per frame; the spine also gets position bits,
    // so its frame lines carry more values than the frame holds.
    zvtools::MD5Anim a = md5test::SampleAnim(1);
    a.joints[1].flags = 63;
    a.joints[1].startIndex = 0;
    a.frames[0].resize(6);
    a.numAnimatedComponentsOverride = 6;
    std::string text = zvtools::WriteMD5Anim(a);
    Vector<String> names = SampleNames();
    ModelMD5Meta::Animation anim;
    LogCapture capture;
    EXPECT_EQ(LoadText("overflow.md5anim", text, &anim, &names), E_FAIL);
    EXPECT_TRUE(capture.Has("; Error : Assertion failed\"")) << capture.log;
}

TEST(MD5Anim, Version11WarnsAndLoads) {
    std::string text = Replace(zvtools::WriteMD5Anim(md5test::SampleAnim(2)), "MD5Version 10", "MD5Version 11");
    Vector<String> names = SampleNames();
    ModelMD5Meta::Animation anim;
    LogCapture capture;
    std::string path = md5test::Write("v11.md5anim", text);
    EXPECT_EQ(ModelMD5Meta::LoadAnimation(path.c_str(), &anim, &names), S_OK);
    EXPECT_TRUE(capture.Has(md5test::SyntaxEntry(kScope, "MD5Version 11\n", "MD5Version != 10; Try to load...")))
        << capture.log;
    EXPECT_TRUE(capture.Has(md5test::Position(path, 1)));
    EXPECT_EQ(anim.vFrames.count, 2u);
}

TEST(MD5Anim, PrematureEndsNameWhatWasBeingRead) {
    const std::string full = zvtools::WriteMD5Anim(md5test::SampleAnim(2));
    struct Cut {
        const char* before;  // the file is cut just before this text
        const char* what;
    };
    const Cut cuts[] = {{"\t\"spine\"", "bone"},
                        {"\t( -2 ", "bound"},
                        {"\t( 1 2.5", "BaseFrame Keys"},
                        {"frame 1 {", "frame"},
                        {"\t12.5 13.5", "Keys"}};
    Vector<String> names = SampleNames();
    for (const Cut& cut : cuts) {
        size_t at = full.find(cut.before);
        ASSERT_NE(at, std::string::npos) << cut.before;
        std::string path = md5test::Write("cut.md5anim", full.substr(0, at));
        ModelMD5Meta::Animation anim;
        LogCapture capture;
        EXPECT_EQ(ModelMD5Meta::LoadAnimation(path.c_str(), &anim, &names), E_FAIL) << cut.what;
        EXPECT_TRUE(capture.Has("; Error while reading " + std::string(cut.what) +
                                "\nUnexpected EndOfFile; The file is probably corrupted\"\nAt "))
            << capture.log;
        EXPECT_TRUE(capture.Has("Msg : 'Error while loading " + path + "'")) << capture.log;
    }
}

TEST(MD5Anim, MissingFileIsReportedAsSubfunctionFailure) {
    ModelMD5Meta::Animation anim;
    LogCapture capture;
    std::string path = md5test::DataDir() + "nowhere.md5anim";
    EXPECT_EQ(ModelMD5Meta::LoadAnimation(path.c_str(), &anim, nullptr), ZVE_SUBFUNCTION);
    EXPECT_TRUE(capture.Has("Msg : '" + path + " cannot be opened'")) << capture.log;
    EXPECT_EQ(ModelMD5Meta::LoadAnimation(path.c_str(), nullptr, nullptr), ZVE_SUBFUNCTION);
}

// Lines of any length are read whole: a long commandline and long lines of
// white space change nothing of what is read, and an entry after them names
// the line of the file where the fault is.
TEST(MD5Anim, LongLinesAreReadWholeAndCountedOnce) {
    zvtools::MD5Anim a = md5test::SampleAnim(3);
    Vector<String> names = SampleNames();
    ModelMD5Meta::Animation plain;
    ASSERT_EQ(LoadText("plain.md5anim", zvtools::WriteMD5Anim(a), &plain, &names), S_OK);

    a.commandline = std::string(6000, 'c');
    std::string text = zvtools::WriteMD5Anim(a);
    text = Replace(text, "frame 1", std::string(3000, ' ') + "\r\n\t" + std::string(2047, ' ') + "frame 1");
    ModelMD5Meta::Animation anim;
    {
        LogCapture capture;
        ASSERT_EQ(LoadText("longlines.md5anim", text, &anim, &names), S_OK) << capture.log.substr(0, 400);
        EXPECT_EQ(capture.log, "");
    }
    ASSERT_EQ(anim.vFrames.count, plain.vFrames.count);
    for (u32 f = 0; f < anim.vFrames.count; ++f) {
        ASSERT_EQ(anim.vFrames[f].count, plain.vFrames[f].count);
        for (u32 k = 0; k < anim.vFrames[f].count; ++k) EXPECT_EQ(anim.vFrames[f][k], plain.vFrames[f][k]);
    }

    const std::string faulty = Replace(text, "frame 2", "frame 5");
    const std::string path = md5test::Write("longfault.md5anim", faulty);
    ModelMD5Meta::Animation refused;
    LogCapture capture;
    EXPECT_EQ(ModelMD5Meta::LoadAnimation(path.c_str(), &refused, &names), E_FAIL);
    EXPECT_TRUE(capture.Has(md5test::SyntaxEntry(kScope, "frame 5 {\n", "Invalid frame ID"))) << capture.log;
    EXPECT_TRUE(capture.Has(md5test::Position(path, LineOf(faulty, "frame 5")))) << capture.log;
}

// A joint name keeps the limit of a word, 2047 characters with its closing
// quote: one more is refused with an entry at its line that does not quote
// it.
TEST(MD5Anim, JointNamesLongerThanAWordAreRefusedAtTheirLine) {
    const std::string spaced = std::string(1500, 'a') + " " + std::string(1500, 'b');
    for (const std::string& name : {std::string(2046, 'n'), std::string(2047, 'n'), std::string(3000, 'n'), spaced}) {
        zvtools::MD5Anim a = md5test::SampleAnim(1);
        a.joints[1].name = name;
        const std::string text = zvtools::WriteMD5Anim(a);
        const std::string path = md5test::Write("longname.md5anim", text);
        Vector<String> names = SampleNames();
        names[1] = (name + "\"").c_str();
        ModelMD5Meta::Animation anim;
        LogCapture capture;
        const HRESULT hr = ModelMD5Meta::LoadAnimation(path.c_str(), &anim, &names);
        if (name.size() < 2047) {
            EXPECT_EQ(hr, S_OK) << capture.log.substr(0, 300);
            EXPECT_EQ(anim.vAnimBones[1].nBone, 1);
            continue;
        }
        EXPECT_EQ(hr, E_FAIL);
        const unsigned line = LineOf(text, name.substr(0, 20));
        EXPECT_TRUE(capture.Has("[ModelMD5Meta::LoadAnimation()] Warning : \"The joint name on line " +
                                std::to_string(line) + " of " + path +
                                " is longer than the reader takes (2047 characters at most)\"\nAt "))
            << capture.log.substr(0, 300);
        EXPECT_TRUE(capture.Has(md5test::Position(path, line)));
        EXPECT_TRUE(capture.Has("Msg : 'Error while loading " + path + "'"));
        EXPECT_FALSE(capture.Has("strBuffer=")) << capture.log.substr(0, 300);
    }
}

// Every prefix of a sound file, and every single-byte corruption of it, is
// read without a crash (the sanitizer build checks the memory accesses) and
// is either refused or loaded with records of the declared sizes.
TEST(MD5Anim, TruncatedAndCorruptedFilesNeverBreakTheReader) {
    const std::string full = zvtools::WriteMD5Anim(md5test::SampleAnim(2));
    Vector<String> names = SampleNames();
    LogCapture capture;
    const char replacements[] = {'9', '-', ' ', '\n', '"', 'x', '\0'};
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        std::string path = md5test::Write("fuzz.md5anim", full.substr(0, cut));
        ModelMD5Meta::Animation anim;
        HRESULT hr = ModelMD5Meta::LoadAnimation(path.c_str(), &anim, &names);
        if (hr >= 0) {
            EXPECT_EQ(anim.vBounds.count, 2 * anim.vFrames.count);
            EXPECT_EQ(anim.vBasePos.count, anim.vAnimBones.count);
        }
        for (char c : replacements) {
            if (cut == full.size()) break;
            std::string changed = full;
            changed[cut] = c;
            md5test::Write("fuzz.md5anim", changed);
            ModelMD5Meta::Animation other;
            hr = ModelMD5Meta::LoadAnimation(path.c_str(), &other, &names);
            if (hr >= 0) {
                for (u32 j = 0; j < other.vAnimBones.count; ++j) {
                    const ModelMD5Meta::Animation::AnimBone& b = other.vAnimBones[j];
                    u32 bits = 0;
                    for (u32 k = 0; k < 6; ++k) bits += (b.nFlags >> k) & 1u;
                    ASSERT_LE(b.nStartIndex + bits, other.vFrames[0].count);
                    ASSERT_LT(b.nBone, 3);
                }
                ASSERT_TRUE(std::isfinite(other.fFrameRate) && other.fFrameRate > 0.0f);
            }
        }
    }
}

}  // namespace
