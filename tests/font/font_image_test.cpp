// The generated font image: a square 16 x 16 grid of cells, white with the
// glyph coverage in alpha, each glyph inside the part of its cell the font
// samples, the codes taken as Latin-1.
#include <gtest/gtest.h>

#include <string>

#include "zvimage.h"

#ifndef ZV_FONT_IMAGE
#error "ZV_FONT_IMAGE must name the generated lucida_console.tga"
#endif

namespace {

class FontImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        image = new ZVImage();
        std::string error;
        loaded = ZVImageLoadFile(ZV_FONT_IMAGE, image, &error);
        if (!loaded) std::fprintf(stderr, "cannot load %s: %s\n", ZV_FONT_IMAGE, error.c_str());
    }
    static void TearDownTestSuite() {
        delete image;
        image = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(loaded); }

    static int Cell() { return image->width / 16; }
    static const uint8_t* Pixel(int x, int y) { return &image->pixels[((size_t)y * image->width + x) * 4]; }
    // Sum of the alpha of code's cell over the columns [x0, x1) of the cell.
    static long Coverage(unsigned code, int x0, int x1) {
        const int c = Cell();
        const int cx = (int)(code % 16) * c, cy = (int)(code / 16) * c;
        long sum = 0;
        for (int y = 0; y < c; ++y)
            for (int x = x0; x < x1; ++x) sum += Pixel(cx + x, cy + y)[3];
        return sum;
    }
    // The columns of a cell the font draws: the left 0.0425 of 0.0625.
    static int GlyphColumns() { return (int)(Cell() * 0.0425 / 0.0625); }

    static ZVImage* image;
    static bool loaded;
};

ZVImage* FontImageTest::image = nullptr;
bool FontImageTest::loaded = false;

TEST_F(FontImageTest, IsASquareGridOfSixteenBySixteenWhiteCells) {
    EXPECT_EQ(image->width, image->height);
    EXPECT_EQ(image->width % 16, 0);
    EXPECT_GE(Cell(), 16);
    EXPECT_TRUE(image->hasAlpha);
    for (size_t i = 0; i < image->pixels.size(); i += 4) {
        if (image->pixels[i + 3] == 0) continue;
        ASSERT_EQ(image->pixels[i], 255);
        ASSERT_EQ(image->pixels[i + 1], 255);
        ASSERT_EQ(image->pixels[i + 2], 255);
    }
}

TEST_F(FontImageTest, PrintableCodesHaveCoverageInsideTheSampledPart) {
    const int c = Cell(), g = GlyphColumns();
    for (unsigned code = 0x21; code < 0x7F; ++code) {
        EXPECT_GT(Coverage(code, 0, g), 1000) << "code " << code;
        // Nothing beyond the sampled part, so that neighbours never bleed in.
        EXPECT_EQ(Coverage(code, g, c), 0) << "code " << code;
    }
    for (unsigned code = 0xA1; code < 0x100; ++code) {
        if (code == 0xAD) continue;  // the soft hyphen may be drawn empty
        EXPECT_GT(Coverage(code, 0, g), 0) << "code " << code;
        EXPECT_EQ(Coverage(code, g, c), 0) << "code " << code;
    }
}

TEST_F(FontImageTest, BlanksAndControlCodesAreEmpty) {
    const int c = Cell();
    for (unsigned code : {0u, 9u, 10u, 13u, 0x1Fu, 0x20u, 0x7Fu, 0x80u, 0x9Fu, 0xA0u})
        EXPECT_EQ(Coverage(code, 0, c), 0) << "code " << code;
    // The cells' borders stay clear, so that linear filtering at a cell's
    // edge does not pick up the neighbouring row or column.
    for (unsigned code = 0; code < 256; ++code) {
        const int cx = (int)(code % 16) * c, cy = (int)(code / 16) * c;
        for (int i = 0; i < c; ++i) {
            ASSERT_EQ(Pixel(cx + i, cy)[3], 0) << "code " << code;
            ASSERT_EQ(Pixel(cx + i, cy + c - 1)[3], 0) << "code " << code;
            ASSERT_EQ(Pixel(cx, cy + i)[3], 0) << "code " << code;
        }
    }
}

TEST_F(FontImageTest, GlyphsSitWhereTheirShapesSay) {
    const int c = Cell(), g = GlyphColumns();
    // The degree sign (0xB0, Latin-1) sits in the upper half of its cell.
    long upper = 0, lower = 0;
    const int cx = (0xB0 % 16) * c, cy = (0xB0 / 16) * c;
    for (int y = 0; y < c; ++y)
        for (int x = 0; x < g; ++x) (y < c / 2 ? upper : lower) += Pixel(cx + x, cy + y)[3];
    EXPECT_GT(upper, 0);
    EXPECT_EQ(lower, 0);
    // '_' lies at the bottom, '^' at the top; '|' is centred on the sampled part.
    auto rowsOf = [&](unsigned code, int* first, int* last) {
        *first = c;
        *last = -1;
        const int x0 = (int)(code % 16) * c, y0 = (int)(code / 16) * c;
        for (int y = 0; y < c; ++y)
            for (int x = 0; x < g; ++x)
                if (Pixel(x0 + x, y0 + y)[3] > 128) {
                    if (y < *first) *first = y;
                    *last = y;
                }
    };
    int first, last;
    rowsOf('_', &first, &last);
    EXPECT_GT(first, c * 2 / 3);
    rowsOf('^', &first, &last);
    EXPECT_LT(last, c / 2);
    double weighted = 0, total = 0;
    for (int x = 0; x < g; ++x) {
        const long column = Coverage('|', x, x + 1);
        weighted += (x + 0.5) * column;
        total += column;
    }
    ASSERT_GT(total, 0);
    EXPECT_NEAR(weighted / total, g / 2.0, 2.0);
}

}  // namespace
