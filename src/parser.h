// Parser: reads a brace-structured text file into a tree of lines and
// tokens.  Lines end at line separators, tokens at token separators; "//"
// and "/* */" are comments; double quotes keep separators inside a token;
// a block in '{' '}' belongs to the line before it as its InnerLines.
//
//   Parser parser;
//   parser.SetSeparators(nullptr, 0, nullptr, 0);   // defaults
//   Vector<Parser::Line> lines;
//   parser.Parse(&file, &lines, false);
#pragma once

#include "zvfile.h"
#include "zvstring.h"
#include "zvvector.h"

class Parser {
public:
    struct Line {
        Vector<String> Tokens;
        Vector<Line> InnerLines;
        // Copies are deep (the vectors copy their elements); InnerLines is
        // destroyed before Tokens.
    };

    // Blocks nested deeper than this are read as text of the enclosing block
    // level: braces beyond it are skipped so that no input can exhaust the stack.
    static const u32 MaxDepth = 256;

    Parser();
    virtual ~Parser();

    // Appends the lines of file to *lines.  1 at the end of the file, 0 when
    // a '}' ended this level, -1 when file holds no open stream.
    virtual i32 Parse(File* file, Vector<Line>* lines, bool keepSeparators);
    virtual bool IsLineSeparator(u8 c);
    virtual bool IsTokenSeparator(u8 c);
    // True when every token is empty and every inner line is empty.
    virtual bool IsEmpty(const Line& line);
    // A null table selects the default ("\n\r"; " \t()=:;,"), ignoring its count.
    virtual void SetSeparators(const char* lineSeparators, u8 nLine, const char* tokenSeparators,
                               u8 nToken);
    // Prints the tree to standard output.
    virtual void Dump(const Vector<Line>& lines, String indent);

    char lineSeparators[256];
    char tokenSeparators[256];
    u8 nLineSeparators;
    u8 nTokenSeparators;

private:
    i32 ParseLevel(File* file, Vector<Line>* lines, bool keepSeparators, u32 depth);
    u32 depth_;
};
