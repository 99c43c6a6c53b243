// Parser: any bytes as a brace-structured text, with and without the
// separators kept in the tokens.
#include "parser.h"
#include "zvfuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String path(zvfuzz::WriteFile("input.txt", data, size).c_str());
    for (bool keep : {false, true}) {
        File file;
        if (file.Open(path, "rb") < 0) return 0;
        Parser parser;
        parser.SetSeparators(nullptr, 0, nullptr, 0);
        Vector<Parser::Line> lines;
        parser.Parse(&file, &lines, keep);
        for (u32 i = 0; i < lines.count; ++i) parser.IsEmpty(lines.data[i]);
    }
    return 0;
}
