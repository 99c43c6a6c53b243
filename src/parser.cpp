// Parser: brace-structured text files into lines and tokens.
#include "parser.h"

#include <cstdio>
#include <cstring>

namespace {

const char kDefaultLineSeparators[] = "\n\r";
const char kDefaultTokenSeparators[] = " \t()=:;,";

const int kEnd = -1;  // look-ahead value once the end of the file is reached

// The file is read one byte per call; the standard library buffers it.
inline int ReadByte(FILE* f) {
    int c = std::getc(f);
    return c == EOF ? kEnd : c;
}

// Arrays that the parser fills one element at a time grow geometrically, so
// that long files do not reallocate (and move every line) at each line.
template <typename T>
HRESULT Append(Vector<T>* v, const T& value) {
    if (v->count == v->capacity) {
        u32 room = v->capacity < 4 ? 4 : v->capacity * 2;
        if (v->Reserve(room, false) < 0) return E_OUTOFMEMORY;
    }
    return v->Add(value);
}

void StartToken(Parser::Line* line) {
    String token;
    token.Reserve(3);
    Append(&line->Tokens, token);
}

void StartLine(Vector<Parser::Line>* lines) {
    if (Append(lines, Parser::Line()) < 0) return;
    StartToken(&lines->data[lines->count - 1]);
}

// Appends a character to a token, growing its buffer geometrically.
void AppendChar(String* token, char c) {
    if (token->length + 2 > token->capacity) token->Reserve(token->capacity < 8 ? 8 : token->capacity * 2);
    *token += c;
}

bool HasTokens(const Parser::Line& line) { return line.Tokens.count > 0; }

String& LastToken(Parser::Line& line) { return line.Tokens.data[line.Tokens.count - 1]; }

void RemoveTrailingEmptyToken(Parser::Line& line) {
    if (HasTokens(line) && LastToken(line).length == 0) line.Tokens.Remove(line.Tokens.count - 1);
}

}  // namespace

Parser::Parser() : nLineSeparators(0), nTokenSeparators(0), depth_(0) {
    std::memset(lineSeparators, 0, sizeof(lineSeparators));
    std::memset(tokenSeparators, 0, sizeof(tokenSeparators));
}

Parser::~Parser() {}

bool Parser::IsLineSeparator(u8 c) {
    for (u32 i = 0; i < nLineSeparators; ++i)
        if ((u8)lineSeparators[i] == c) return true;
    return false;
}

bool Parser::IsTokenSeparator(u8 c) {
    for (u32 i = 0; i < nTokenSeparators; ++i)
        if ((u8)tokenSeparators[i] == c) return true;
    return false;
}

bool Parser::IsEmpty(const Line& line) {
    for (u32 i = 0; i < line.Tokens.count; ++i)
        if (line.Tokens.data[i].length != 0) return false;
    for (u32 i = 0; i < line.InnerLines.count; ++i)
        if (!IsEmpty(line.InnerLines.data[i])) return false;
    return true;
}

void Parser::SetSeparators(const char* lineSeps, u8 nLine, const char* tokenSeps, u8 nToken) {
    if (!lineSeps) {
        lineSeps = kDefaultLineSeparators;
        nLine = 2;
    }
    if (!tokenSeps) {
        tokenSeps = kDefaultTokenSeparators;
        nToken = 8;
    }
    std::memcpy(lineSeparators, lineSeps, nLine);
    nLineSeparators = nLine;
    std::memcpy(tokenSeparators, tokenSeps, nToken);
    nTokenSeparators = nToken;
}

void Parser::Dump(const Vector<Line>& lines, String indent) {
    for (u32 i = 0; i < lines.count; ++i) {
        const Line& line = lines.data[i];
        std::fputs(indent.c_str(), stdout);
        for (u32 t = 0; t < line.Tokens.count; ++t) {
            std::fputs("<", stdout);
            std::fputs(line.Tokens.data[t].c_str(), stdout);
            std::fputs("> ", stdout);
        }
        std::printf("$T%u-In%u$\n", line.Tokens.count, line.InnerLines.count);
        std::fflush(stdout);
        Dump(line.InnerLines, indent + "   ");
    }
}

i32 Parser::Parse(File* file, Vector<Line>* lines, bool keepSeparators) {
    if (!file || !file->handle || !lines) return -1;
    ++depth_;
    i32 result = ParseLevel(file, lines, keepSeparators, depth_);
    --depth_;
    return result;
}

i32 Parser::ParseLevel(File* file, Vector<Line>* lines, bool keep, u32 depth) {
    FILE* f = file->handle;
    // Braces met beyond the deepest level read as token separators; this
    // counts the ones opened there so that their closing braces match them.
    u32 flattened = 0;

    int ahead = ReadByte(f);
    StartLine(lines);

    while (ahead != kEnd) {
        const int ch = ahead;
        ahead = ReadByte(f);
        if (lines->count == 0) {
            StartLine(lines);
            if (lines->count == 0) break;  // out of memory
        }
        Line* current = &lines->data[lines->count - 1];

        if ((ch == '{' || ch == '}') && depth >= MaxDepth && (ch == '{' || flattened > 0)) {
            if (ch == '{')
                ++flattened;
            else
                --flattened;
            if (!HasTokens(*current) || LastToken(*current).length != 0) StartToken(current);
            continue;
        }

        if (ch == '{') {
            if (ahead != kEnd) std::ungetc(ahead, f);
            if (IsEmpty(*current)) lines->Remove(lines->count - 1);
            if (lines->count > 0) RemoveTrailingEmptyToken(lines->data[lines->count - 1]);
            if (lines->count == 0 || lines->data[lines->count - 1].InnerLines.count > 0) {
                if (Append(lines, Line()) < 0) break;
            }
            Line* owner = &lines->data[lines->count - 1];
            if (keep) {
                StartToken(owner);
                LastToken(*owner) += "{";
            }
            // The nested call fills owner->InnerLines only: *lines does not move.
            Parse(file, &owner->InnerLines, keep);
            if (!IsEmpty(lines->data[lines->count - 1])) StartLine(lines);
            ahead = ReadByte(f);
            continue;
        }

        if (ch == '}') {
            RemoveTrailingEmptyToken(*current);
            if (!keep) {
                if (IsEmpty(*current)) lines->Remove(lines->count - 1);
            } else {
                if (!IsEmpty(*current)) StartLine(lines);
                Line* last = &lines->data[lines->count - 1];
                if (!HasTokens(*last) || LastToken(*last).length != 0) StartToken(last);
                LastToken(*last) += "}";
            }
            if (ahead != kEnd) std::ungetc(ahead, f);
            return 0;
        }

        if (IsLineSeparator((u8)ch)) {
            if (!keep) {
                RemoveTrailingEmptyToken(*current);
            } else if (ch != '\n' && ch != '\r' && ch != ' ' && ch != '\t') {
                if (!HasTokens(*current) || LastToken(*current).length != 0) StartToken(current);
                LastToken(*current) += (char)ch;
            }
            if (!IsEmpty(*current)) StartLine(lines);
            continue;
        }

        if (IsTokenSeparator((u8)ch)) {
            if (!HasTokens(*current) || LastToken(*current).length != 0) {
                StartToken(current);
                if (keep && ch != '\n' && ch != '\r' && ch != ' ' && ch != '\t') {
                    LastToken(*current) += (char)ch;
                    StartToken(current);
                }
            }
            continue;
        }

        if (ch == '/' && ahead == '/') {
            while (ahead != kEnd && !IsLineSeparator((u8)ahead)) ahead = ReadByte(f);
            continue;
        }

        if (ch == '/' && ahead == '*') {
            // The '*' is consumed; the comment ends at the first "*/" after it.
            int previous = ReadByte(f);
            int c = previous;
            while (c != kEnd) {
                c = ReadByte(f);
                if (previous == '*' && c == '/') break;
                previous = c;
            }
            ahead = (c == kEnd) ? kEnd : ReadByte(f);
            if (HasTokens(*current) && LastToken(*current).length != 0) StartToken(current);
            continue;
        }

        if (ch == '"') {
            if (!HasTokens(*current)) StartToken(current);
            String& token = LastToken(*current);
            while (ahead != '"' && ahead != kEnd && !IsLineSeparator((u8)ahead)) {
                AppendChar(&token, (char)ahead);
                ahead = ReadByte(f);
            }
            if (ahead != kEnd && !IsLineSeparator((u8)ahead)) ahead = ReadByte(f);
            continue;
        }

        if (!HasTokens(*current)) StartToken(current);
        AppendChar(&LastToken(*current), (char)ch);
    }

    if (lines->count > 0 && IsEmpty(lines->data[lines->count - 1])) lines->Remove(lines->count - 1);
    if (lines->count > 0) RemoveTrailingEmptyToken(lines->data[lines->count - 1]);
    return 1;
}
