// FitLinesToWidth: lines cut at the window's right edge, in the font's cells.
#include <gtest/gtest.h>

#include "font.h"

namespace {

std::string Fit(const char* text, u32 size, u32 x, u32 right) {
    return FitLinesToWidth(text, size, x, right).c_str();
}

TEST(FontFit, LinesThatFitAreKept) {
    // (75 - 5) / 14 = 5 whole cells.
    EXPECT_EQ(Fit("abcde", 14, 5, 75), "abcde");
    EXPECT_EQ(Fit("ab\n\ncde\n", 14, 5, 75), "ab\n\ncde\n");
    EXPECT_EQ(Fit("", 14, 5, 75), "");
}

TEST(FontFit, LongerLinesEndInDots) {
    EXPECT_EQ(Fit("abcdef", 14, 5, 75), "ab...");
    EXPECT_EQ(Fit("abcdefgh\nxy\n0123456789", 14, 5, 75), "ab...\nxy\n01...");
    // Room for fewer than three cells: the line is cut without dots.
    EXPECT_EQ(Fit("abcdef", 10, 0, 29), "ab");
    EXPECT_EQ(Fit("abcdef\nz", 10, 30, 20), "\n");
    EXPECT_EQ(Fit("abc", 0, 0, 800), "");
}

}  // namespace
