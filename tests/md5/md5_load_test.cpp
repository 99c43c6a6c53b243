// The whole load: a mesh file alone or one model of a .def list with its
// animations, the choice of the model, and the base rotation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "md5_support.h"
#include "search_path_support.h"
#include "zvfuzz_samples.h"

namespace {

using md5test::FakeGraphics;
using md5test::LogCapture;

class MD5Load : public testing::Test {
protected:
    void SetUp() override {
        mkdir((dir + "def").c_str(), 0755);
        md5test::Write("def/imp.md5mesh", zvtools::WriteMD5Mesh(md5test::SampleMesh()));
        md5test::Write("def/two.md5mesh", zvtools::WriteMD5Mesh(md5test::SampleMesh(true)));
        md5test::Write("def/walk.md5anim", zvtools::WriteMD5Anim(md5test::SampleAnim(2)));
        md5test::Write("def/run.md5anim", zvtools::WriteMD5Anim(md5test::SampleAnim(5)));
        md5test::Write("def/broken.md5anim", "MD5Version 10\ncommandline \"\"\nnumFrames 0\n");
        md5test::Write("monsters.def",
                       "// the monsters of the demo\n"
                       "model first\n"
                       "{\n"
                       "\tanim walk \"def/walk.md5anim\"\n"
                       "}\n"
                       "model imp\n"
                       "{\n"
                       "\tanim early \"def/walk.md5anim\"\n"
                       "\tmesh \"def/imp.md5mesh\"\n"
                       "\tmesh \"def/two.md5mesh\"\n"
                       "\tanim walk \"def/walk.md5anim\"\n"
                       "\tanim broken \"def/broken.md5anim\"\n"
                       "\tanim\n"
                       "\tanim run \"def/run.md5anim\"\n"
                       "}\n"
                       "model hollow\n"
                       "model second { mesh \"def/two.md5mesh\" }\n");
    }
    std::string dir = md5test::DataDir();
    zvtest::SearchPathOnly searchPath{dir};
};

TEST_F(MD5Load, NamedModelOfADefFileWithItsAnimations) {
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    ASSERT_EQ(meta.Load("monsters.def?imp", &graphics), S_OK) << capture.log;
    EXPECT_STREQ(meta.strFile.c_str(), "monsters.def?imp");
    EXPECT_EQ(meta.vBones.count, 3u);
    EXPECT_EQ(meta.vSubMeshes.count, 1u);  // imp.md5mesh, not the second mesh line
    ASSERT_EQ(meta.vAnimations.count, 2u);
    ASSERT_EQ(meta.vAnimationNames.count, 2u);
    EXPECT_STREQ(meta.vAnimationNames[0].c_str(), "walk");
    EXPECT_STREQ(meta.vAnimationNames[1].c_str(), "run");
    EXPECT_EQ(meta.vAnimations[0].vFrames.count, 2u);
    EXPECT_EQ(meta.vAnimations[1].vFrames.count, 5u);
    EXPECT_EQ(meta.vAnimations[1].vAnimBones[1].nBone, 1);

    EXPECT_TRUE(capture.Has("\n[ModelMD5Meta::Load()] Warning : \"You MUST put mesh file BEFORE any animation; "
                            "Ignore the animation early\"\nAt "));
    EXPECT_TRUE(capture.Has("\n[ModelMD5Meta::Load()] Warning : \"Many meshes in the .def file, only take the "
                            "first\"\nAt "));
    EXPECT_TRUE(capture.Has("; Error : No Frame in the animation file\""));
    EXPECT_TRUE(capture.Has("[ModelMD5Meta::Load()]     2 animation(s); Using the file : " + dir +
                            "monsters.def?imp\n"))
        << capture.log;
}

TEST_F(MD5Load, WithoutANameTheFirstModelWithAMeshIsTaken) {
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    ASSERT_EQ(meta.Load("monsters.def", &graphics), S_OK);
    EXPECT_STREQ(meta.strFile.c_str(), "monsters.def");
    EXPECT_EQ(meta.vAnimations.count, 2u);
    EXPECT_TRUE(capture.Has("    2 animation(s); Using the file : " + dir + "monsters.def?imp\n"));

    ModelMD5Meta second;
    ASSERT_EQ(second.Load("monsters.def?second", &graphics), S_OK);
    EXPECT_EQ(second.vSubMeshes.count, 2u);
    EXPECT_EQ(second.vAnimations.count, 0u);
}

TEST_F(MD5Load, ModelsThatCannotBeUsedAreNamed) {
    struct Case {
        const char* command;
        std::string message;
    };
    const Case cases[] = {
        {"monsters.def?ghost",
         "Model 'ghost' in the file 'monsters.def' can not be found. Verify that the file is a correct .def MD5 file "
         "and that it contains the asked model"},
        {"monsters.def?hollow",
         "Model 'hollow' in the file 'monsters.def' is empty. Verify that this part of the file is followed by a '{' "
         "and the description of the model"},
        {"monsters.def?first", "Model 'first' in the file 'monsters.def' don't contains a mesh (and its full path)"},
        {"empty.def",
         "There is no 'model' Token (with a 'mesh'+'full file paths' tokens after it) in the file 'empty.def'. "
         "Verify that the file is a correct .def MD5 file and that it contains at least one correct 'model'"}};
    md5test::Write("empty.def", "model\n{\n mesh \"def/imp.md5mesh\"\n}\n");
    for (const Case& c : cases) {
        FakeGraphics graphics;
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.Load(c.command, &graphics), E_FAIL) << c.command;
        EXPECT_EQ(capture.log, "[ModelMD5Meta::Load()] " + c.message + "\n");
        EXPECT_TRUE(graphics.ibs.empty());
    }
}

TEST_F(MD5Load, WrittenDefListsChooseTheirModel) {
    std::vector<zvtools::MD5DefModel> models(2);
    models[0].name = "small";
    models[0].mesh = dir + "def/imp.md5mesh";  // absolute, quoted across the ':' and '/' of any path
    models[1].name = "big";
    models[1].mesh = "def/two.md5mesh";
    models[1].anims = {{"walk", "def/walk.md5anim"}, {"run", "def/run.md5anim"}};
    md5test::Write("written.def", zvtools::WriteMD5Def(models));
    FakeGraphics graphics;
    ModelMD5Meta big, small;
    ASSERT_EQ(big.Load("written.def?big", &graphics), S_OK);
    EXPECT_EQ(big.vSubMeshes.count, 2u);
    EXPECT_EQ(big.vAnimationNames.count, 2u);
    ASSERT_EQ(small.Load("written.def?small", &graphics), S_OK);
    EXPECT_EQ(small.vSubMeshes.count, 1u);
    EXPECT_EQ(small.vAnimations.count, 0u);
}

TEST_F(MD5Load, AMeshFileAloneAndTheStartingWorld) {
    FakeGraphics graphics;
    ModelMD5Meta meta;
    LogCapture capture;
    ASSERT_EQ(meta.Load("def/imp.md5mesh", &graphics), S_OK);
    EXPECT_STREQ(meta.strFile.c_str(), "def/imp.md5mesh");
    EXPECT_TRUE(capture.Has("[ModelMD5Meta::Load()]     0 animation(s); Using the file : def/imp.md5mesh\n"));
    // The model is built in the engine's axes: a file point (x, y, z) is the
    // engine's (y, z, -x), and new instances start unmoved.
    Matrix identity;
    identity.SetIdentity();
    for (int i = 0; i < 16; ++i) EXPECT_EQ((&meta.matWorld._11)[i], (&identity._11)[i]) << i;
    const Vector3 p = ModelMD5Meta::ToEngineAxes(Vector3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(p, Vector3(2.0f, 3.0f, -1.0f));
}

TEST_F(MD5Load, FailuresAreReported) {
    FakeGraphics graphics;
    {
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.Load("monsters.def?imp", nullptr), ZVE_SUBFUNCTION);
        EXPECT_TRUE(capture.Has("Msg : 'Invalid Call/Param'"));
    }
    {
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.Load("nothing.def", &graphics), ZVE_SUBFUNCTION);
        EXPECT_TRUE(capture.Has("[ModelMD5Meta::Load()] Error : \"Called function return E_FAIL (0x80004005), Msg : "
                                "'-'\""));
    }
    {
        // The mesh's failure is the load's result; the summary is still written.
        md5test::Write("badmesh.def", "model m\n{\n mesh \"def/missing.md5mesh\"\n anim walk \"def/walk.md5anim\"\n}\n");
        ModelMD5Meta meta;
        LogCapture capture;
        EXPECT_EQ(meta.Load("badmesh.def", &graphics), ZVE_SUBFUNCTION);
        EXPECT_TRUE(capture.Has("def/missing.md5mesh cannot be opened"));
        EXPECT_TRUE(capture.Has("    0 animation(s); Using the file : " + dir + "badmesh.def?m\n"));
        EXPECT_STREQ(meta.strFile.c_str(), "badmesh.def");
    }
}

TEST(MD5Meta, ReferenceCountingAndEmptyMeta) {
    ModelMD5Meta* meta = new ModelMD5Meta;
    EXPECT_STREQ(meta->strFile.c_str(), "NO_FILE");
    EXPECT_EQ(meta->nRef, 1u);
    EXPECT_EQ(meta->pIB, nullptr);
    EXPECT_EQ(meta->AddRef(), 2u);
    EXPECT_EQ(meta->Release(), 1u);
    EXPECT_EQ(meta->Release(), 0u);
}

// The line rule read from a file with getline: whole physical lines, each
// up to its first NUL byte, lines shorter than 4 characters or of white
// space alone skipped (but the last one of the file).
bool GetlineReadLine(FILE* file, std::string* line, u32* lineCounter) {
    char* buffer = nullptr;
    size_t capacity = 0;
    bool more = true;
    do {
        line->clear();
        ++*lineCounter;
        if (getline(&buffer, &capacity, file) < 0) {
            more = false;
            break;
        }
        *line = buffer;  // up to the first NUL
    } while ((line->size() < 4 || line->find_first_not_of(" \t\n\v\f\r") == std::string::npos) &&
             !std::feof(file));
    std::free(buffer);
    line->erase(0, std::min(line->size(), line->find_first_not_of("\r\n")));
    return more;
}

// Every line LineReader hands out of text, with its counter and result.
std::vector<std::string> LinesOf(const std::string& text) {
    ModelMD5Meta::LineReader reader(text.data(), text.size());
    std::vector<std::string> lines;
    for (int guard = 0; guard < 100000; ++guard) {
        const bool more = reader.Next();
        EXPECT_EQ(std::strlen(reader.Text()), reader.Length());
        lines.push_back(std::string(more ? "+" : "-") + std::to_string(reader.lineCounter) + ":" + reader.Text());
        if (!more) break;
    }
    return lines;
}

// The same, as the getline reading of the file gives them.
std::vector<std::string> GetlineLinesOf(const std::string& text) {
    FILE* f = std::fopen(md5test::Write("getline.txt", text).c_str(), "rb");
    EXPECT_NE(f, nullptr);
    std::vector<std::string> lines;
    std::string line;
    u32 counter = 0;
    for (int guard = 0; f && guard < 100000; ++guard) {
        const bool more = GetlineReadLine(f, &line, &counter);
        lines.push_back(std::string(more ? "+" : "-") + std::to_string(counter) + ":" + line);
        if (!more) break;
    }
    if (f) std::fclose(f);
    return lines;
}

TEST(MD5Lines, ShortLinesAreSkippedAndCounted) {
    const std::string text = "\n{\n}\nab\n\r\nfirst line\r\n\n\nab";
    ModelMD5Meta::LineReader reader(text.data(), text.size());
    EXPECT_TRUE(reader.Next());
    EXPECT_STREQ(reader.Text(), "first line\r\n");
    EXPECT_EQ(reader.lineCounter, 6u);
    reader.Next();
    EXPECT_STREQ(reader.Text(), "ab");  // the last line, short as it is
    EXPECT_EQ(reader.lineCounter, 9u);
    EXPECT_FALSE(reader.Next());
    EXPECT_STREQ(reader.Text(), "");
    EXPECT_EQ(reader.lineCounter, 10u);

    // Lines of white space alone are skipped however long they are, but
    // the last line of the file.
    const std::string blank = "  \r\n\t\t\t\t\n \t \v\f\r\n" + std::string(3000, ' ') + "\nnext\r\n    ";
    ModelMD5Meta::LineReader blanks(blank.data(), blank.size());
    EXPECT_TRUE(blanks.Next());
    EXPECT_STREQ(blanks.Text(), "next\r\n");
    EXPECT_EQ(blanks.lineCounter, 5u);  // the long blank line counts once
    blanks.Next();
    EXPECT_STREQ(blanks.Text(), "    ");
    EXPECT_EQ(blanks.lineCounter, 6u);

}

// A line of any length is one line, counted once: a long line of text, a
// long blank line, and a line that begins with more white space than the
// old 2047-byte reads took, each followed by the next line.
TEST(MD5Lines, LongLinesAreWholeAndCountedOnce) {
    struct Case {
        std::string first;     // the long line, without its line end
        const char* end;       // its line end
        bool skipped;          // blank: the next line is the first handed out
    };
    const Case cases[] = {
        {std::string(6000, 'x'), "\n", false},
        {"commandline \"" + std::string(2600, 'o') + "\"", "\r\n", false},
        {std::string(3000, ' '), "\n", true},
        {std::string(2047, ' ') + "abc", "\n", false},
        {std::string(2046, 'x'), "\r\n", false},  // once ended right at the buffer's end
        {std::string(2047, 'x'), "\r\n", false},
        {std::string(4095, '\t'), "\r\n", true},
    };
    for (const Case& c : cases) {
        const std::string text = c.first + c.end + "next line\n";
        ModelMD5Meta::LineReader reader(text.data(), text.size());
        EXPECT_TRUE(reader.Next());
        if (!c.skipped) {
            EXPECT_EQ(std::string(reader.Text()), c.first + c.end) << c.first.size();
            EXPECT_EQ(reader.Length(), c.first.size() + std::strlen(c.end));
            EXPECT_EQ(reader.lineCounter, 1u);
            EXPECT_TRUE(reader.Next());
        }
        EXPECT_STREQ(reader.Text(), "next line\n") << c.first.size();
        EXPECT_EQ(reader.lineCounter, 2u) << c.first.size();
        EXPECT_FALSE(reader.Next());
    }
    // The last line of the file, long and without a line end.
    const std::string last = "abc\n" + std::string(5000, 'z');
    ModelMD5Meta::LineReader atTheEnd(last.data(), last.size());
    atTheEnd.Next();
    atTheEnd.Next();
    EXPECT_EQ(atTheEnd.Length(), 5000u);
    EXPECT_EQ(atTheEnd.lineCounter, 2u);
}

// Reading the file in memory hands out the lines of a getline reading:
// short lines at the end or before it, NUL bytes, CR alone, long lines
// ending right at the end of the file, no line end at all.
TEST(MD5Lines, InMemoryReadingGivesTheLinesOfGetlineReading) {
    const size_t piece = 2047;
    std::vector<std::string> texts = {
        "", "a", "abc", "abcd", "\n", "\n\n\n", "ab\n", "abcd\n", "\r\r\r\rx", "\r\nab\r\n", "ab\ncd",
        std::string("a\0bcdef\n\0\0\0\0\nxyz", 16), std::string("\0", 1), std::string(piece, 'p'),
        std::string(piece - 1, 'p'), std::string(piece + 1, 'p'), std::string(piece, 'p') + "\n",
        std::string(piece - 1, 'p') + "\n", std::string(2 * piece, 'q') + "ab", std::string(piece, 'r') + "abc\n",
        std::string("\0", 1) + std::string(piece - 1, 's'), "MD5Version 10\r\ncommandline \"\"\r\n\r\n}\r\n"};
    std::mt19937 rng(7);
    const char alphabet[] = {'a', 'b', '\n', '\r', '\0', '{', ' ', '\t'};
    for (int t = 0; t < 300; ++t) {
        std::string text;
        const size_t n = rng() % (t < 250 ? 40 : 5000);
        for (size_t i = 0; i < n; ++i) text += alphabet[rng() % (t < 250 ? sizeof(alphabet) : 3)];
        texts.push_back(text);
    }
    for (const zvfuzz::SeedFile& seed : zvfuzz::MD5Seeds()) texts.push_back(seed.text);
    for (const std::string& text : texts)
        EXPECT_EQ(LinesOf(text), GetlineLinesOf(text)) << "text of " << text.size() << " bytes";
}

}  // namespace
