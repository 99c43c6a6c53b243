// String: the engine's text type.  An owning, growable, NUL-terminated 8-bit
// string that grows to exactly the size it needs.  Numbers appended with
// += are printed into the text (floating-point ones with floatFormat).
//
// The fields are read directly: data may be null (no buffer yet), so use
// c_str() for the text; length excludes the NUL; capacity counts it.
#pragma once

#include <initializer_list>

#include "zvbase.h"

struct Vector3;

class String {
public:
    String();
    String(const String& other);
    String(String&& other) noexcept;
    String(const char* text);  // null or "" gives an empty string without buffer
    virtual ~String();

    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    String& operator=(const char* text);  // null reads as ""

    String& operator+=(const String& other);
    String& operator+=(const char* text);  // null or "" appends nothing
    String& operator+=(char c);            // '\0' appends nothing
    String& operator+=(double value);      // printed with floatFormat ("%.6f")
    String& operator+=(int value);         // "%d"
    String& operator+=(unsigned int value);  // "%u"
    String& operator+=(long value);           // "%ld"
    String& operator+=(unsigned long value);  // "%lu"
    String& operator+=(Vector3 v);         // "{x, y, z}", components with floatFormat

    String operator+(const String& other) const;
    String operator+(const char* text) const;

    bool operator==(const String& other) const;  // byte-wise, case-sensitive
    bool operator==(const char* text) const;     // null reads as ""
    bool operator!=(const String& other) const { return !(*this == other); }
    bool operator!=(const char* text) const { return !(*this == text); }

    // The text; "" when there is no buffer.  Never null.
    const char* c_str() const { return data ? data : ""; }
    bool IsEmpty() const { return length == 0; }

    // The number at the start of the text, read as scanf's "%d" and "%f"
    // read it (leading blanks, a sign, decimal digits; for floats also
    // exponents, hexadecimal, inf and nan); 0 when nothing can be read.  A
    // number beyond the type's range saturates (INT_MIN or INT_MAX, -FLT_MAX
    // or FLT_MAX) and sets *outOfRange; too small a float reads as the
    // nearest float, as scanf reads it.
    int ToInt(bool* outOfRange = nullptr) const;
    float ToFloat(bool* outOfRange = nullptr) const;

    // Searches return 0xFFFFFFFF (FindFirst*) or -1 (FindLastOf) when nothing matches.
    u32 FindFirstOf(const String& set, u32 start) const;
    u32 FindFirstNotOf(const String& set, u32 start) const;
    i32 FindLastOf(const String& set, i32 start) const;
    // Characters [start, end), end clamped to length; "" when start >= end.
    String SubString(u32 start, u32 end) const;
    String& ToLower();  // ASCII 'A'..'Z' only, in place

    // Makes the buffer at least n bytes: S_FALSE when it already is, S_OK after
    // growing (exactly n), E_OUTOFMEMORY with the string unchanged.
    HRESULT Reserve(u32 n);

    static const u32 npos = 0xFFFFFFFFu;

    char* data;
    u32 capacity;
    u32 length;
    char floatFormat[8];

private:
    void Append(const char* text, u32 n);
    void Assign(const char* text, u32 n);
};

String operator+(const char* text, const String& s);

// Camera vectors in a message: each label followed by its vector, the
// components printed with "%g" so that huge, tiny and non-finite values read
// as they are ("eye {1e+20, 10, -400}").  The camera messages of the font and
// of the scene file are built with it.
struct LabelledVector {
    const char* label;
    const Vector3& vector;
};
String CameraVectorsText(std::initializer_list<LabelledVector> vectors);
