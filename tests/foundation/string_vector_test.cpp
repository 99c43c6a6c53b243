// String and Vector<T>: exact growth, assignment rules, searches, numbers,
// self-referencing appends and deep copies.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "zvstuff.h"

// Under AddressSanitizer a failed allocation must come back as null, as it
// does in a normal build, so that the out-of-memory paths can be tested.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

TEST(String, EmptyStringsHaveNoBuffer) {
    String s;
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(s.capacity, 0u);
    EXPECT_STREQ(s.c_str(), "");
    s = "";
    EXPECT_EQ(s.data, nullptr);
    String n(static_cast<const char*>(nullptr));
    EXPECT_EQ(n.data, nullptr);
    EXPECT_TRUE(n == static_cast<const char*>(nullptr));
    EXPECT_TRUE(n == "");
    EXPECT_STREQ(s.floatFormat, "%.6f");
}

TEST(String, AssignmentKeepsOrReplacesTheBuffer) {
    String s("hello");
    EXPECT_EQ(s.capacity, 6u);
    const char* buffer = s.data;
    s = "";
    EXPECT_EQ(s.data, buffer);
    EXPECT_EQ(s.capacity, 6u);
    EXPECT_EQ(s.length, 0u);
    EXPECT_STREQ(s.c_str(), "");
    s = "abc";
    EXPECT_EQ(s.data, buffer);  // shorter: same buffer
    EXPECT_EQ(s.capacity, 6u);
    s = "longer text";
    EXPECT_EQ(s.capacity, 12u);  // exactly length + 1
    EXPECT_STREQ(s.c_str(), "longer text");
    String copy(s);
    EXPECT_EQ(copy.capacity, 12u);
    EXPECT_NE(copy.data, s.data);
    const String& self = s;
    s = self;  // self-assignment keeps the text
    EXPECT_STREQ(s.c_str(), "longer text");
}

TEST(String, AppendingGrowsExactly) {
    String s("abc");
    s += "de";
    EXPECT_STREQ(s.c_str(), "abcde");
    EXPECT_EQ(s.capacity, 6u);
    s += static_cast<const char*>(nullptr);
    s += "";
    s += '\0';
    EXPECT_EQ(s.length, 5u);
    s += 'f';
    EXPECT_STREQ(s.c_str(), "abcdef");
    EXPECT_EQ(s.capacity, 7u);
    String t = String("x") + "y";
    EXPECT_STREQ(t.c_str(), "xy");
    EXPECT_STREQ(("<" + t + String(">")).c_str(), "<xy>");
}

TEST(String, SelfAppendDoublesTheText) {
    String s("abc");
    s += s;
    EXPECT_STREQ(s.c_str(), "abcabc");
    s += s.c_str();
    EXPECT_STREQ(s.c_str(), "abcabcabcabc");
    EXPECT_EQ(s.length, 12u);
    // A part of itself, with and without room to spare.
    String u("hello");
    u.Reserve(64);
    u += u.c_str() + 3;
    EXPECT_STREQ(u.c_str(), "hellolo");
}

TEST(String, Numbers) {
    String s("x=");
    s += 0.25;
    EXPECT_STREQ(s.c_str(), "x=0.250000");
    String i;
    i += -42;
    i += ' ';
    i += 4000000000u;
    EXPECT_STREQ(i.c_str(), "-42 4000000000");
    String v;
    v += Vector3(1, 2, 3);
    EXPECT_STREQ(v.c_str(), "{1.000000, 2.000000, 3.000000}");
    String big;
    big += 1e300;  // 301 digits before the point: still fits
    EXPECT_EQ(big.length, 308u);
}

TEST(String, CopiesCarryTheDefaultFloatFormat) {
    String s("a");
    std::snprintf(s.floatFormat, sizeof(s.floatFormat), "%%.1f");
    String copy(s);
    EXPECT_STREQ(copy.floatFormat, "%.6f");
    String assigned;
    assigned = s;
    EXPECT_STREQ(assigned.floatFormat, "%.6f");
}

TEST(String, ReadingNumbers) {
    EXPECT_EQ(String("12abc").ToInt(), 12);
    EXPECT_EQ(String("abc").ToInt(), 0);
    EXPECT_EQ(String().ToInt(), 0);
    EXPECT_EQ(String("  -7").ToInt(), -7);
    EXPECT_FLOAT_EQ(String("2.5").ToFloat(), 2.5f);
    EXPECT_FLOAT_EQ(String("x").ToFloat(), 0.0f);
}

// Every number in range reads exactly as scanf's "%d" and "%f" read it, to
// the bit; only the flag tells it was in range.
TEST(String, NumbersInRangeReadAsScanfReadsThem) {
    const char* const texts[] = {"0",     "-0",    "12abc", "  -7",    " +7",   "2147483647", "-2147483648",
                                 "2.5",   ".5",    "5.",    "1e",      "1e+",   "12e-",       "0x1p3",
                                 "0x1.8p1", "0x",  "inf",   "-infinity", "1e-40", "1e-50",    "3.4028235e38",
                                 "-3.4028235e38", "1.5e3.2", "1,5",   "e5",    "-",          "",
                                 "abc",   "\t9",  "007",   "1e38",    "-1e-45", "nan"};
    for (const char* text : texts) {
        int expectedInt = 0;
        if (std::sscanf(text, "%d", &expectedInt) != 1) expectedInt = 0;
        float expectedFloat = 0.0f;
        if (std::sscanf(text, "%f", &expectedFloat) != 1) expectedFloat = 0.0f;
        bool intOut = true, floatOut = true;
        EXPECT_EQ(String(text).ToInt(&intOut), expectedInt) << text;
        const float value = String(text).ToFloat(&floatOut);
        if (std::isnan(expectedFloat))
            EXPECT_TRUE(std::isnan(value)) << text;
        else
            EXPECT_EQ(std::memcmp(&value, &expectedFloat, sizeof value), 0) << text << " " << value;
        EXPECT_FALSE(intOut) << text;
        EXPECT_FALSE(floatOut) << text;
    }
}

TEST(String, NumbersOutOfRangeSaturate) {
    bool out = false;
    EXPECT_EQ(String("99999999999").ToInt(&out), 2147483647);
    EXPECT_TRUE(out);
    EXPECT_EQ(String("-99999999999").ToInt(&out), -2147483647 - 1);
    EXPECT_TRUE(out);
    EXPECT_EQ(String("2147483648").ToInt(&out), 2147483647);
    EXPECT_TRUE(out);
    EXPECT_EQ(String("-2147483649").ToInt(&out), -2147483647 - 1);
    EXPECT_TRUE(out);
    EXPECT_EQ(String("99999999999999999999999999").ToInt(), 2147483647);
    EXPECT_EQ(String("1e39").ToFloat(&out), FLT_MAX);
    EXPECT_TRUE(out);
    EXPECT_EQ(String("-1e39").ToFloat(&out), -FLT_MAX);
    EXPECT_TRUE(out);
    EXPECT_EQ(String("3.4028236e38").ToFloat(), FLT_MAX);
    EXPECT_EQ(String("-1e99999").ToFloat(), -FLT_MAX);
}

TEST(String, Searches) {
    String text("a/b\\c");
    String set("\\/");
    EXPECT_EQ(text.FindFirstOf(set, 0), 1u);
    EXPECT_EQ(text.FindFirstOf(set, 4), 0xFFFFFFFFu);
    EXPECT_EQ(text.FindFirstOf(set, 99), 0xFFFFFFFFu);
    EXPECT_EQ(text.FindFirstOf("", 0), 0xFFFFFFFFu);
    EXPECT_EQ(text.FindLastOf(set, 100), 3);
    EXPECT_EQ(text.FindLastOf(set, 2), 1);
    EXPECT_EQ(text.FindLastOf(set, 0), -1);
    EXPECT_EQ(text.FindLastOf("", 4), -1);
    EXPECT_EQ(String().FindLastOf(set, 4), -1);
    EXPECT_EQ(String("   x").FindFirstNotOf(" ", 0), 3u);
    EXPECT_EQ(String("   ").FindFirstNotOf(" ", 0), 0xFFFFFFFFu);
}

TEST(String, SubStringLowerAndEquality) {
    String hello("hello");
    EXPECT_STREQ(hello.SubString(2, 100).c_str(), "llo");
    EXPECT_EQ(hello.SubString(3, 3).length, 0u);
    EXPECT_EQ(hello.SubString(4, 2).length, 0u);
    String mixed("AbC-Z9");
    mixed.ToLower();
    EXPECT_STREQ(mixed.c_str(), "abc-z9");
    EXPECT_TRUE(String("Model") == "Model");
    EXPECT_FALSE(String("Model") == "model");
    EXPECT_FALSE(String("Mode") == String("Model"));
    EXPECT_TRUE(String() == String(""));
}

TEST(String, Reserve) {
    String s("ab");
    EXPECT_EQ(s.Reserve(2), S_FALSE);
    EXPECT_EQ(s.Reserve(10), S_OK);
    EXPECT_EQ(s.capacity, 10u);
    EXPECT_STREQ(s.c_str(), "ab");
    String e;
    EXPECT_EQ(e.Reserve(3), S_OK);
    EXPECT_STREQ(e.c_str(), "");
    EXPECT_EQ(e.length, 0u);
}

TEST(Vector, ReserveAndCount) {
    Vector<int> v;
    EXPECT_EQ(v.Reserve(5, true), S_OK);
    EXPECT_EQ(v.count, 5u);
    EXPECT_EQ(v.capacity, 5u);
    EXPECT_EQ(v.Reserve(3, true), S_FALSE);
    EXPECT_EQ(v.count, 5u);
    Vector<int> w;
    w.Reserve(4, false);
    EXPECT_EQ(w.Reserve(4, false), S_FALSE);
    EXPECT_EQ(w.count, 0u);
    EXPECT_EQ(w.capacity, 4u);
}

TEST(Vector, AddGrowsByOne) {
    Vector<String> v;
    v.Add("a");
    v.Add("b");
    v.Add("c");
    EXPECT_EQ(v.count, 3u);
    EXPECT_EQ(v.capacity, 3u);
    EXPECT_STREQ(v.data[2].c_str(), "c");
}

TEST(Vector, AddOfOwnElementSurvivesTheMove) {
    Vector<String> v;
    v.Add("first");
    v.Add("second");
    v.Add(v.data[0]);  // the array moves while the value is read
    v.Add(v.data[2]);
    ASSERT_EQ(v.count, 4u);
    EXPECT_STREQ(v.data[2].c_str(), "first");
    EXPECT_STREQ(v.data[3].c_str(), "first");
    Vector<Vector3> p;
    p.Add(Vector3(1, 2, 3));
    p.Add(p.data[0]);
    EXPECT_EQ(p.data[1], Vector3(1, 2, 3));
}

TEST(Vector, Remove) {
    Vector<String> v;
    v.Add("a");
    v.Add("b");
    v.Add("c");
    EXPECT_EQ(v.Remove(3), E_INVALIDARG);
    EXPECT_EQ(v.count, 3u);
    EXPECT_EQ(v.Remove(0), S_OK);
    ASSERT_EQ(v.count, 2u);
    EXPECT_STREQ(v.data[0].c_str(), "b");
    EXPECT_STREQ(v.data[1].c_str(), "c");
    EXPECT_STREQ(v.data[2].c_str(), "c");  // the slot past the end keeps its value
}

TEST(Vector, RemovePointerValue) {
    int a = 0, b = 0;
    Vector<int*> v;
    EXPECT_EQ(v.Remove(&a), E_FAIL);
    v.Add(&a);
    v.Add(&b);
    v.Add(&a);
    EXPECT_EQ(v.Remove(&a), S_OK);
    ASSERT_EQ(v.count, 2u);
    EXPECT_EQ(v.data[0], &b);
    EXPECT_EQ(v.data[1], &a);
    int c = 0;
    EXPECT_EQ(v.Remove(&c), E_FAIL);
}

TEST(Vector, AssignmentDoesNotShrink) {
    Vector<int> big, small;
    for (int i = 0; i < 5; ++i) big.Add(i);
    small.Add(7);
    small.Add(8);
    big = small;
    EXPECT_EQ(big.count, 2u);
    EXPECT_EQ(big.capacity, 5u);
    EXPECT_EQ(big.data[0], 7);
    EXPECT_EQ(big.data[2], 2);
    const Vector<int>& self = big;
    big = self;  // self-assignment keeps the elements
    EXPECT_EQ(big.count, 2u);
}

TEST(Vector, NestedVectorsCopyDeeply) {
    Vector<Vector<String>> outer;
    Vector<String> inner;
    inner.Add("x");
    outer.Add(inner);
    outer.Add(inner);
    Vector<Vector<String>> copy(outer);
    copy.data[0].data[0] = "changed";
    EXPECT_STREQ(outer.data[0].data[0].c_str(), "x");
    EXPECT_NE(copy.data[1].data, outer.data[1].data);
    Vector<Vector<String>> assigned;
    assigned = outer;
    assigned.data[1].Add("y");
    EXPECT_EQ(outer.data[1].count, 1u);
}

struct Page {
    char bytes[4096];
};

TEST(Vector, UnallocatableSizeLeavesTheVectorAsItWas) {
    Vector<Page> v;
    Page p;
    p.bytes[0] = 'k';
    v.Add(p);
    // Sixteen terabytes: the allocation fails, without throwing.
    EXPECT_EQ(v.Reserve(0xFFFFFFF0u, true), E_OUTOFMEMORY);
    EXPECT_EQ(v.count, 1u);
    EXPECT_EQ(v.capacity, 1u);
    EXPECT_EQ(v.data[0].bytes[0], 'k');

    Vector<Page> huge;
    huge.count = 0xFFFFFFF0u;  // a source whose copy cannot be allocated
    Vector<Page> target;
    target.Add(p);
    target = huge;
    huge.count = 0;
    EXPECT_EQ(target.count, 1u);
    EXPECT_EQ(target.data[0].bytes[0], 'k');
}

}  // namespace
