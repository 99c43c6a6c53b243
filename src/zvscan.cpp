// ScanText: sscanf's reading of "%d", "%f" and "%s" formats, on from_chars.
//
// The C library first collects the characters that may belong to a number
// (a rule of its own, which can take more than the number: "1e" or "0x1p"),
// consumes them, and then converts their longest valid beginning.  The
// collection rules below follow the C library's step by step, because what
// a conversion consumes decides where the rest of the format goes on.
#include "zvscan.h"

#include <locale.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

namespace {

inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsHexDigit(char c) { return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }
inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c | 0x20) : c; }

// True when the text at p begins with word (lower case), in any case.
bool StartsWithWord(const char* p, const char* word) {
    for (; *word; ++p, ++word)
        if (Lower(*p) != *word) return false;
    return true;
}

// "%d": false on a mismatch (no digit).  *in moves past what was consumed.
bool ScanInt(const char** in, const char* end, int* out) {
    const char* start = *in;
    const bool negative = *start == '-';
    const char* digits = (negative || *start == '+') ? start + 1 : start;
    if (!IsDigit(*digits)) {
        *in = digits;
        return false;
    }
    // Read as a long, saturated like strtol, then cut to an int as the C
    // library stores it.
    long value = 0;
    const std::from_chars_result r = std::from_chars(negative ? start : digits, end, value);
    if (r.ec == std::errc::result_out_of_range) value = negative ? LONG_MIN : LONG_MAX;
    *in = r.ptr;
    *out = (int)value;
    return true;
}

// The rare conversions from_chars refuses (results out of its range, which
// strtof rounds to zero, a denormal or infinity): the C library's own.
float StrtofC(const char* first, const char* last) {
    static locale_t c = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    const std::string number(first, last);
    return c ? strtof_l(number.c_str(), nullptr, c) : std::strtof(number.c_str(), nullptr);
}

// "%f": false on a mismatch.  *in moves past what was consumed.
bool ScanFloat(const char** in, const char* end, float* out) {
    const char* const start = *in;
    const char* p = start;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
        if (*p == '\0') {
            *in = p;
            return false;
        }
    }
    const char* const body = p;
    float value = 0.0f;

    // The common case, a decimal number: the C library collects exactly
    // what from_chars reads, unless an 'e' follows (an exponent without
    // digits, "1e", which it consumes as well).
    if ((IsDigit(*p) && !(p[0] == '0' && Lower(p[1]) == 'x')) || (*p == '.' && IsDigit(p[1]))) {
        const std::from_chars_result r = std::from_chars(body, end, value, std::chars_format::general);
        if (r.ec == std::errc() && Lower(*r.ptr) != 'e') {
            *in = r.ptr;
            *out = negative ? -value : value;
            return true;
        }
    }
    if (Lower(*p) == 'n') {
        // "nan" (whatever follows is left to the format).
        if (!StartsWithWord(p, "nan")) {
            *in = p;
            return false;
        }
        *in = p + 3;
        value = std::numeric_limits<float>::quiet_NaN();
        *out = negative ? -value : value;
        return true;
    }
    if (Lower(*p) == 'i') {
        // "inf", or "infinity" once an 'i' follows the "inf".
        if (!StartsWithWord(p, "inf")) {
            *in = p;
            return false;
        }
        p += 3;
        if (Lower(*p) == 'i') {
            if (!StartsWithWord(p, "inity")) {
                *in = p;
                return false;
            }
            p += 5;
        }
        *in = p;
        value = std::numeric_limits<float>::infinity();
        *out = negative ? -value : value;
        return true;
    }

    // Digits, one '.', an exponent with its sign: what the C library collects.
    bool hex = false, gotDigit = false, gotDot = false, gotExponent = false;
    if (*p == '0') {
        ++p;
        if (Lower(*p) == 'x') {
            hex = true;
            ++p;
        } else {
            gotDigit = true;
        }
    }
    const char exponent = hex ? 'p' : 'e';
    for (;; ++p) {
        const char c = *p;
        if (IsDigit(c) || (hex && !gotExponent && IsHexDigit(c))) {
            gotDigit = true;
        } else if (gotExponent && Lower(p[-1]) == exponent && (c == '-' || c == '+')) {
            // the exponent's sign
        } else if (gotDigit && !gotExponent && Lower(c) == exponent) {
            gotExponent = gotDot = true;
        } else if (!gotDot && c == '.') {
            gotDot = true;
        } else {
            break;
        }
    }
    *in = p;
    if (p == body || (hex && p == body + 2)) return false;  // nothing, or "0x" alone

    // The longest valid beginning of what was collected.
    std::from_chars_result r;
    if (hex) {
        r = std::from_chars(body + 2, p, value, std::chars_format::hex);
        // Without a valid hexadecimal part ("0x."), the number is the "0".
        if (r.ec == std::errc::invalid_argument) value = 0.0f, r.ec = std::errc();
    } else {
        r = std::from_chars(body, p, value, std::chars_format::general);
        if (r.ec == std::errc::invalid_argument) return false;  // "." alone
    }
    if (r.ec == std::errc::result_out_of_range) {
        *out = StrtofC(start, p);
        return true;
    }
    *out = negative ? -value : value;
    return true;
}

// "%<width>s": the word up to the next white space (at most width
// characters when width is not 0).
void ScanWord(const char** in, char* out, u32 width) {
    const char* p = *in;
    const char* end = p;
    while (*end && !IsSpace(*end) && (width == 0 || (u32)(end - p) < width)) ++end;
    std::memcpy(out, p, (size_t)(end - p));
    out[end - p] = '\0';
    *in = end;
}

}  // namespace

int ScanText(const char* text, u32 length, const char* format, const ScanTarget* targets, u32 numTargets) {
    if (!text || !format) return -1;
    const char* in = text;
    const char* const end = text + (length == kScanUnknownLength ? std::strlen(text) : length);
    int done = 0;
    u32 next = 0;
    const int endOfText = -1;  // the EOF result: the text ended before a conversion
    for (const char* f = format; *f;) {
        const char fc = *f;
        if (IsSpace(fc)) {
            while (IsSpace(*in)) ++in;
            ++f;
            continue;
        }
        if (fc != '%') {
            if (*in == '\0') return done > 0 ? done : endOfText;
            if (*in != fc) return done;
            ++in;
            ++f;
            continue;
        }

        // A conversion: its width, its letter, then its text after any white space.
        ++f;
        u32 width = 0;
        while (IsDigit(*f)) width = width * 10 + (u32)(*f++ - '0');
        const char conversion = *f++;
        while (IsSpace(*in)) ++in;
        if (*in == '\0') return done > 0 ? done : endOfText;
        if (next >= numTargets) return done;
        const ScanTarget& target = targets[next];
        switch (conversion) {
            case 'd':
                if (target.kind != ScanTarget::Int || width != 0) return done;
                if (!ScanInt(&in, end, static_cast<int*>(target.pointer))) return done;
                break;
            case 'f':
                if (target.kind != ScanTarget::Float || width != 0) return done;
                if (!ScanFloat(&in, end, static_cast<float*>(target.pointer))) return done;
                break;
            case 's':
                if (target.kind != ScanTarget::Word) return done;
                ScanWord(&in, static_cast<char*>(target.pointer), width);
                break;
            default:
                return done;  // not a conversion this scanner knows
        }
        ++next;
        ++done;
    }
    return done;
}
