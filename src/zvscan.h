// ScanText: reads one line of text with a fixed scan format, exactly as the
// C library's sscanf reads it (glibc, C locale), but several times faster:
// numbers are converted with std::from_chars instead of going through the
// stream machinery of the C library.
//
// The format holds the directives the model readers use:
// - a white-space character: skips any run of white space, none included;
// - "%d": a decimal int (optional sign; like strtol, then cut to an int);
// - "%f": a float (optional sign, decimal or hexadecimal, "inf",
//   "infinity", "nan"; a partial number such as "1e" or "0x1p" gives the
//   value of its longest valid beginning);
// - "%s", "%<width>s": a word (text up to the next white space, at most
//   width characters, NUL-terminated);
// - any other character: must match the next character of the text.
// Scanning stops at the first mismatch.  The result is the number of
// conversions stored, or -1 (EOF) when the text ended before the first
// conversion, as sscanf returns; targets past the last conversion are left
// as they were.
#pragma once

#include "zvbase.h"

struct ScanTarget {
    enum Kind : u8 { Int, Float, Word };
    ScanTarget(int* value) : kind(Int), pointer(value) {}
    ScanTarget(float* value) : kind(Float), pointer(value) {}
    ScanTarget(char* word) : kind(Word), pointer(word) {}
    Kind kind;
    void* pointer;
};

// The conversions of the format take the targets in order; a conversion of
// another kind than its target, or one without a target, ends the scan.
// length is the text's length when the caller knows it (the text is still
// NUL-terminated at text[length]), else kScanUnknownLength.
const u32 kScanUnknownLength = 0xFFFFFFFFu;
int ScanText(const char* text, u32 length, const char* format, const ScanTarget* targets, u32 numTargets);

template <class... T>
int ScanText(const char* text, const char* format, T*... targets) {
    const ScanTarget list[] = {ScanTarget(targets)...};
    return ScanText(text, kScanUnknownLength, format, list, (u32)sizeof...(T));
}

// The same on a text of known length.
template <class... T>
int ScanLine(const char* text, u32 length, const char* format, T*... targets) {
    const ScanTarget list[] = {ScanTarget(targets)...};
    return ScanText(text, length, format, list, (u32)sizeof...(T));
}
