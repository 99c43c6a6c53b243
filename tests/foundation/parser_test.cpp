// Parser: lines, tokens, comments, quotes and blocks, and files that are
// empty, deeply nested or end in the middle of something.
#include <gtest/gtest.h>

#include <string>

#include "foundation_support.h"
#include "zvstuff.h"

namespace {

// "(a,b[(k,1)])" per line, lines joined by ' '.
std::string Render(const Vector<Parser::Line>& lines) {
    std::string out;
    for (u32 i = 0; i < lines.count; ++i) {
        if (i) out += ' ';
        out += '(';
        for (u32 t = 0; t < lines.data[i].Tokens.count; ++t) {
            if (t) out += ',';
            out += lines.data[i].Tokens.data[t].c_str();
        }
        if (lines.data[i].InnerLines.count) out += "[" + Render(lines.data[i].InnerLines) + "]";
        out += ')';
    }
    return out;
}

struct Parsed {
    i32 result;
    std::string tree;
};

Parsed ParseText(const std::string& text, bool keep = false, Vector<Parser::Line>* keepLines = nullptr) {
    std::string path = zvtest::ExeDir() + "parser_input.txt";
    zvtest::WriteFile(path, text);
    File file;
    EXPECT_EQ(file.Open(path.c_str(), "rb"), S_OK);
    Parser parser;
    parser.SetSeparators(nullptr, 0, nullptr, 0);
    Vector<Parser::Line> lines;
    i32 result = parser.Parse(&file, &lines, keep);
    Parsed p{result, Render(lines)};
    if (keepLines) *keepLines = lines;
    return p;
}

TEST(Parser, LinesAndTokens) {
    EXPECT_EQ(ParseText("").tree, "");
    EXPECT_EQ(ParseText("").result, 1);
    EXPECT_EQ(ParseText("a b\n\n\nc").tree, "(a,b) (c)");
    EXPECT_EQ(ParseText("a b\r\n\r\nc\r\n").tree, "(a,b) (c)");
    EXPECT_EQ(ParseText("x = (1, 2)").tree, "(x,1,2)");
    EXPECT_EQ(ParseText("  \t ;;\n").tree, "");
}

TEST(Parser, Quotes) {
    EXPECT_EQ(ParseText("name \"two words\"").tree, "(name,two words)");
    EXPECT_EQ(ParseText("ab\"cd\"ef").tree, "(abcdef)");
    EXPECT_EQ(ParseText("a \"\" b").tree, "(a,b)");
    EXPECT_EQ(ParseText("q \"{x} // y\"").tree, "(q,{x} // y)");
    // Unterminated: the quote ends at the line end.
    EXPECT_EQ(ParseText("a \"b c\nd").tree, "(a,b c) (d)");
    EXPECT_EQ(ParseText("a \"b c").tree, "(a,b c)");
}

TEST(Parser, Comments) {
    EXPECT_EQ(ParseText("path data/maps // comment").tree, "(path,data/maps)");
    EXPECT_EQ(ParseText("// only a comment\nx").tree, "(x)");
    EXPECT_EQ(ParseText("a/*x*/b").tree, "(a,b)");
    EXPECT_EQ(ParseText("a /* unterminated").tree, "(a)");
    EXPECT_EQ(ParseText("a/**/b").tree, "(a,b)");
    EXPECT_EQ(ParseText("/* x */ a").tree, "(a)");
    EXPECT_EQ(ParseText("a /*/ still comment */ b").tree, "(a,b)");
    EXPECT_EQ(ParseText("a /* x\n y */ b").tree, "(a,b)");
}

TEST(Parser, SlashesThatAreNoComment) {
    EXPECT_EQ(ParseText("a/b").tree, "(a/b)");
    // The last byte is a slash: there is nothing after it to make a comment.
    EXPECT_EQ(ParseText("a/").tree, "(a/)");
    EXPECT_EQ(ParseText("/").tree, "(/)");
    EXPECT_EQ(ParseText("x //").tree, "(x)");
}

TEST(Parser, Blocks) {
    Parsed p = ParseText("cmd\n{\n k 1\n}\nnext");
    EXPECT_EQ(p.tree, "(cmd[(k,1)]) (next)");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(ParseText("cmd {k 1}").tree, "(cmd[(k,1)])");
    EXPECT_EQ(ParseText("cmd\n{ a }\n{ b }").tree, "(cmd[(a)]) ([(b)])");
    EXPECT_EQ(ParseText("model \"scene one.3ds\"\nmodel monster.cfg\n{\nposition 10 0 20 90\n}").tree,
              "(model,scene one.3ds) (model,monster.cfg[(position,10,0,20,90)])");
    EXPECT_EQ(ParseText("a { b { c } d }").tree, "(a[(b[(c)]) (d)])");
}

TEST(Parser, BracesAtTheEdges) {
    Parsed stray = ParseText("a\n}\nb");
    EXPECT_EQ(stray.result, 0);
    EXPECT_EQ(stray.tree, "(a)");
    Parsed open = ParseText("x{");
    EXPECT_EQ(open.result, 1);
    EXPECT_EQ(open.tree, "(x)");
    Parsed closed = ParseText("x { y }");
    EXPECT_EQ(closed.result, 1);
    EXPECT_EQ(closed.tree, "(x[(y)])");
    EXPECT_EQ(ParseText("x {").tree, "(x)");
    EXPECT_EQ(ParseText("{").tree, "");
    EXPECT_EQ(ParseText("{ x }").tree, "([(x)])");
    EXPECT_EQ(ParseText("}").tree, "");
    EXPECT_EQ(ParseText("x{}").tree, "(x)");
    // Unbalanced: the block runs to the end of the file.
    EXPECT_EQ(ParseText("a {\n b\n c").tree, "(a[(b) (c)])");
}

TEST(Parser, DeepNestingIsCapped) {
    // One hundred thousand '{': no stack overflow, and the file is read to its end.
    Parsed deep = ParseText(std::string(100000, '{') + "x");
    EXPECT_EQ(deep.result, 1);
    // Deep but balanced: the innermost word is still there, braces beyond the
    // deepest level read as separators.
    std::string text = "top";
    for (int i = 0; i < 300; ++i) text += "{a" + std::to_string(i) + " ";
    for (int i = 0; i < 300; ++i) text += "}";
    text += "\nlast";
    Vector<Parser::Line> lines;
    Parsed p = ParseText(text, false, &lines);
    EXPECT_EQ(p.result, 1);
    ASSERT_EQ(lines.count, 2u);
    EXPECT_STREQ(lines.data[1].Tokens.data[0].c_str(), "last");
    // Walk down to the deepest level and find the words that were flattened there.
    const Vector<Parser::Line>* level = &lines.data[0].InnerLines;
    u32 depth = 1;
    while (level->count && level->data[level->count - 1].InnerLines.count) {
        level = &level->data[level->count - 1].InnerLines;
        ++depth;
    }
    EXPECT_EQ(depth, Parser::MaxDepth - 1);
    std::string deepest = Render(*level);
    EXPECT_NE(deepest.find("a299"), std::string::npos) << deepest;
}

TEST(Parser, LongTokensAndLongFiles) {
    std::string word(3000, 'w');
    Parsed p = ParseText("k " + word + "\n");
    EXPECT_EQ(p.tree, "(k," + word + ")");
    std::string quoted = "q \"" + std::string(5000, ' ') + "\"";
    Vector<Parser::Line> lines;
    ParseText(quoted, false, &lines);
    ASSERT_EQ(lines.count, 1u);
    EXPECT_EQ(lines.data[0].Tokens.data[1].length, 5000u);
    std::string many;
    for (int i = 0; i < 20000; ++i) many += "line " + std::to_string(i) + "\n";
    Vector<Parser::Line> big;
    ParseText(many, false, &big);
    ASSERT_EQ(big.count, 20000u);
    EXPECT_STREQ(big.data[19999].Tokens.data[1].c_str(), "19999");
}

TEST(Parser, KeepSeparators) {
    EXPECT_EQ(ParseText("x=1", true).tree, "(x,=,1)");
    EXPECT_EQ(ParseText("a{b}", true).tree, "(a,{[(b) (})])");
}

TEST(Parser, NoFile) {
    File file;
    Parser parser;
    parser.SetSeparators(nullptr, 0, nullptr, 0);
    Vector<Parser::Line> lines;
    lines.Add(Parser::Line());
    EXPECT_EQ(parser.Parse(&file, &lines, false), -1);
    EXPECT_EQ(lines.count, 1u);
}

TEST(Parser, CustomSeparators) {
    std::string path = zvtest::ExeDir() + "parser_custom.txt";
    zvtest::WriteFile(path, "a|b c;d");
    File file;
    ASSERT_EQ(file.Open(path.c_str(), "rb"), S_OK);
    Parser parser;
    parser.SetSeparators(";", 1, "|", 1);
    EXPECT_TRUE(parser.IsTokenSeparator('|'));
    EXPECT_FALSE(parser.IsTokenSeparator(' '));
    EXPECT_TRUE(parser.IsLineSeparator(';'));
    Vector<Parser::Line> lines;
    EXPECT_EQ(parser.Parse(&file, &lines, false), 1);
    EXPECT_EQ(Render(lines), "(a,b c) (d)");
}

TEST(Parser, IsEmptyLooksIntoInnerLines) {
    Parser parser;
    Parser::Line line;
    EXPECT_TRUE(parser.IsEmpty(line));
    line.Tokens.Add("");
    Parser::Line inner;
    inner.Tokens.Add("");
    line.InnerLines.Add(inner);
    EXPECT_TRUE(parser.IsEmpty(line));
    line.InnerLines.data[0].Tokens.data[0] = "x";
    EXPECT_FALSE(parser.IsEmpty(line));
}

TEST(Parser, LinesCopyDeeply) {
    Vector<Parser::Line> lines;
    ParseText("a { b { c } }", false, &lines);
    Parser::Line copy = lines.data[0];
    copy.InnerLines.data[0].InnerLines.data[0].Tokens.data[0] = "changed";
    EXPECT_EQ(Render(lines), "(a[(b[(c)])])");
}

TEST(Parser, Dump) {
    Vector<Parser::Line> lines;
    ParseText("a b\n{ c }", false, &lines);
    Parser parser;
    testing::internal::CaptureStdout();
    parser.Dump(lines, "");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "<a> <b> $T2-In1$\n   <c> $T1-In0$\n");
}

}  // namespace
