// Every supported image variant written by our encoders decodes back to the
// expected pixels: exactly for lossless formats, nearly for JPEG.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "d3dx_support.h"
#include "zvimage.h"
#include "zvimagewriters.h"

using zvtest::DecodesTo;
using zvtest::Picture;
using zvtools::BmpOptions;
using zvtools::JpegOptions;
using zvtools::PngOptions;
using zvtools::TgaOptions;

namespace {

// The 5-bit quantisation of 15/16-bit formats, expanded back by bit copying.
uint8_t Five(uint8_t v) { return (uint8_t)(((v >> 3) << 3) | (v >> 5)); }
// A channel stored in n bits by the bit-field writer (rounded) and read back.
uint8_t Field(uint8_t v, int n) {
    const int maxValue = (1 << n) - 1;
    const int q = (v * maxValue + 127) / 255;
    return (uint8_t)((q * 255 + maxValue / 2) / maxValue);
}

Picture Quantise555(const Picture& p, bool alphaBit) {
    return zvtest::Map(p, [alphaBit](uint8_t& b, uint8_t& g, uint8_t& r, uint8_t& a) {
        b = Five(b);
        g = Five(g);
        r = Five(r);
        a = alphaBit ? (a >= 128 ? 255 : 0) : 255;
    });
}

Picture GreyOf(const Picture& p, bool keepAlpha) {
    return zvtest::Map(p, [keepAlpha](uint8_t& b, uint8_t& g, uint8_t& r, uint8_t& a) {
        b = r = g;
        if (!keepAlpha) a = 255;
    });
}

bool HasAlpha(const std::vector<uint8_t>& bytes) {
    ZVImage image;
    std::string error;
    return zvtest::Decode(bytes, &image, &error) && image.hasAlpha;
}

// ---------------------------------------------------------------- TGA

// (bits, rle, topDown)
class TgaTrueColour : public ::testing::TestWithParam<std::tuple<int, bool, bool>> {};

TEST_P(TgaTrueColour, RoundTrips) {
    const int bits = std::get<0>(GetParam());
    TgaOptions o;
    o.bits = bits;
    o.rle = std::get<1>(GetParam());
    o.topDown = std::get<2>(GetParam());
    // Odd sizes and repeated pixels so RLE uses both packet kinds.
    Picture p = zvtest::MakeGradient(37, 23);
    for (int x = 0; x < 20; ++x) std::copy(p.At(0, 5), p.At(0, 5) + 4, p.At(x, 5));
    const std::vector<uint8_t> bytes = zvtools::EncodeTGA(p.width, p.height, p.pixels.data(), o);
    Picture expected = bits == 32 ? p : bits == 24 ? zvtest::Opaque(p) : Quantise555(p, bits == 16);
    EXPECT_TRUE(DecodesTo(bytes, expected));
    EXPECT_EQ(HasAlpha(bytes), bits == 32 || bits == 16);
}

INSTANTIATE_TEST_SUITE_P(AllDepths, TgaTrueColour,
                         ::testing::Combine(::testing::Values(15, 16, 24, 32), ::testing::Bool(),
                                            ::testing::Bool()));

TEST(TgaImage, GreyAndGreyWithAlphaPlainAndRunLength) {
    const Picture p = zvtest::MakeGrey(19, 11);
    for (bool rle : {false, true}) {
        TgaOptions o;
        o.kind = TgaOptions::Grey;
        o.rle = rle;
        o.bits = 8;
        std::vector<uint8_t> bytes = zvtools::EncodeTGA(p.width, p.height, p.pixels.data(), o);
        ASSERT_GE(bytes.size(), 18u);
        EXPECT_EQ(bytes[2], rle ? 11 : 3);
        EXPECT_TRUE(DecodesTo(bytes, GreyOf(p, false)));
        EXPECT_FALSE(HasAlpha(bytes));
        o.bits = 16;
        bytes = zvtools::EncodeTGA(p.width, p.height, p.pixels.data(), o);
        EXPECT_TRUE(DecodesTo(bytes, GreyOf(p, true)));
        EXPECT_TRUE(HasAlpha(bytes));
    }
}

TEST(TgaImage, ColourMappedWithEveryEntrySizeAndIndexSize) {
    const Picture p = zvtest::MakeFewColours(29, 17, 12, true);
    for (int mapBits : {15, 16, 24, 32})
        for (int indexBits : {8, 16})
            for (bool rle : {false, true}) {
                SCOPED_TRACE("map " + std::to_string(mapBits) + " index " + std::to_string(indexBits) +
                             (rle ? " rle" : ""));
                TgaOptions o;
                o.kind = TgaOptions::ColourMapped;
                o.bits = indexBits;
                o.mapBits = mapBits;
                o.mapFirst = 3;  // indices do not start at 0
                o.rle = rle;
                const std::vector<uint8_t> bytes = zvtools::EncodeTGA(p.width, p.height, p.pixels.data(), o);
                ASSERT_GE(bytes.size(), 18u);
                EXPECT_EQ(bytes[2], rle ? 9 : 1);
                const Picture expected = mapBits == 32   ? p
                                         : mapBits == 24 ? zvtest::Opaque(p)
                                                         : Quantise555(p, mapBits == 16);
                EXPECT_TRUE(DecodesTo(bytes, expected));
                EXPECT_EQ(HasAlpha(bytes), mapBits == 32 || mapBits == 16);
            }
}

TEST(TgaImage, RightToLeftColumnsAndImageIdAreHonoured) {
    const Picture p = zvtest::MakeGradient(13, 9);
    for (bool topDown : {false, true}) {
        TgaOptions o;
        o.rightToLeft = true;
        o.topDown = topDown;
        o.id = "an image id the reader must skip";
        EXPECT_TRUE(DecodesTo(zvtools::EncodeTGA(p.width, p.height, p.pixels.data(), o), p));
    }
}

TEST(TgaImage, RunLengthPacketsMayCrossRows) {
    // Long single-colour stretches make packets that span row ends.
    const Picture p = zvtest::MakeFewColours(10, 12, 2);
    for (int bits : {24, 32}) {
        TgaOptions o;
        o.bits = bits;
        o.rle = true;
        o.rleAcrossRows = true;
        const std::vector<uint8_t> bytes = zvtools::EncodeTGA(p.width, p.height, p.pixels.data(), o);
        EXPECT_TRUE(DecodesTo(bytes, p));
        // The packets really are fewer than rows times two.
        EXPECT_LT(bytes.size(), 18u + (size_t)p.width * p.height * bits / 8);
    }
}

// 32-bit pixels keep their alpha bytes, and the image has alpha, unless the
// descriptor declares no alpha bits and every alpha byte is zero: some
// writers leave the fourth byte unused, and such an image is opaque, not
// invisible.
TEST(TgaImage, ThirtyTwoBitAlphaIsKeptUnlessUndeclaredAndAllZero) {
    struct Case {
        const char* name;
        int attributeBits;
        bool rle;
        uint8_t alphaIn[6], alphaOut[6];  // 3 x 2 pixels, top row first
        bool hasAlpha;
    };
    const Case cases[] = {
        {"no alpha bits, every alpha zero", 0, false, {0, 0, 0, 0, 0, 0}, {255, 255, 255, 255, 255, 255}, false},
        {"no alpha bits, every alpha zero, run-length", 0, true, {0, 0, 0, 0, 0, 0}, {255, 255, 255, 255, 255, 255},
         false},
        {"8 alpha bits, every alpha zero", 8, false, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, true},
        {"no alpha bits, alpha varied, run-length", 0, true, {0, 128, 255, 7, 0, 200}, {0, 128, 255, 7, 0, 200}, true},
        // Bottom-up: the bottom row is stored first.
        {"no alpha bits, one translucent pixel in the bottom row", 0, false, {0, 0, 0, 0, 0, 9}, {0, 0, 0, 0, 0, 9},
         true},
    };
    const uint8_t colours[6][3] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {15, 25, 35}, {45, 55, 65}, {75, 85, 95}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture in{3, 2, {}}, expected{3, 2, {}};
        for (int i = 0; i < 6; ++i) {
            in.pixels.insert(in.pixels.end(), {colours[i][0], colours[i][1], colours[i][2], c.alphaIn[i]});
            expected.pixels.insert(expected.pixels.end(), {colours[i][0], colours[i][1], colours[i][2], c.alphaOut[i]});
        }
        TgaOptions o;
        o.attributeBits = c.attributeBits;
        o.rle = c.rle;
        const std::vector<uint8_t> bytes = zvtools::EncodeTGA(in.width, in.height, in.pixels.data(), o);
        ASSERT_GE(bytes.size(), 18u);
        ASSERT_EQ(bytes[17] & 15, c.attributeBits);
        EXPECT_TRUE(DecodesTo(bytes, expected));
        EXPECT_EQ(HasAlpha(bytes), c.hasAlpha);
    }
}

// Gives a true-colour file a colour map it does not use, declared in the
// header and stored after the image id, where a reader must skip it.
std::vector<uint8_t> WithUnusedColourMap(std::vector<uint8_t> file, unsigned first, unsigned length,
                                         unsigned entryBits) {
    file[1] = 1;
    file[3] = (uint8_t)first;
    file[4] = (uint8_t)(first >> 8);
    file[5] = (uint8_t)length;
    file[6] = (uint8_t)(length >> 8);
    file[7] = (uint8_t)entryBits;
    std::vector<uint8_t> map((size_t)length * ((entryBits + 7) / 8));
    for (size_t i = 0; i < map.size(); ++i) map[i] = (uint8_t)(i * 29 + 0xA5);
    file.insert(file.begin() + 18 + file[0], map.begin(), map.end());
    return file;
}

TEST(TgaImage, TrueColourImagesSkipAColourMapTheyDoNotUse) {
    struct Case {
        const char* name;
        int bits;
        bool rle;
        unsigned first, length, entryBits;
        const char* id;
    };
    const Case cases[] = {
        {"24 bits, 5 entries of 24 bits", 24, false, 0, 5, 24, ""},
        {"32 bits run-length, 3 entries of 32 bits from index 7", 32, true, 7, 3, 32, ""},
        {"16 bits, 256 entries of 15 bits after an image id", 16, false, 0, 256, 15, "an id"},
        {"24 bits run-length, one entry of 16 bits from index 2", 24, true, 2, 1, 16, ""},
    };
    Picture p = zvtest::MakeGradient(11, 7);
    for (int x = 0; x < 6; ++x) std::copy(p.At(0, 3), p.At(0, 3) + 4, p.At(x, 3));  // a run for the RLE packets
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TgaOptions o;
        o.bits = c.bits;
        o.rle = c.rle;
        o.id = c.id;
        const std::vector<uint8_t> bytes = WithUnusedColourMap(
            zvtools::EncodeTGA(p.width, p.height, p.pixels.data(), o), c.first, c.length, c.entryBits);
        ASSERT_EQ(bytes[2], c.rle ? 10 : 2);
        const Picture expected = c.bits == 32 ? p : c.bits == 24 ? zvtest::Opaque(p) : Quantise555(p, true);
        EXPECT_TRUE(DecodesTo(bytes, expected));
        EXPECT_EQ(HasAlpha(bytes), c.bits != 24);
    }
}

// ---------------------------------------------------------------- BMP

// (bits, topDown)
class BmpPlain : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(BmpPlain, RoundTrips) {
    const int bits = std::get<0>(GetParam());
    BmpOptions o;
    o.bits = bits;
    o.topDown = std::get<1>(GetParam());
    const bool paletted = bits <= 8;
    // Widths that need row padding and partial bytes.
    for (int width : {1, 5, 7, 33}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const Picture p = paletted ? zvtest::MakeFewColours(width, 6, bits == 1 ? 2 : bits == 4 ? 16 : 200)
                                   : zvtest::MakeGradient(width, 6);
        const std::vector<uint8_t> bytes = zvtools::EncodeBMP(p.width, p.height, p.pixels.data(), o);
        const Picture expected = bits == 16 ? zvtest::Map(p,
                                                          [](uint8_t& b, uint8_t& g, uint8_t& r, uint8_t& a) {
                                                              b = Field(b, 5);
                                                              g = Field(g, 5);
                                                              r = Field(r, 5);
                                                              a = 255;
                                                          })
                                            : zvtest::Opaque(p);
        EXPECT_TRUE(DecodesTo(bytes, expected));
        EXPECT_FALSE(HasAlpha(bytes));
    }
}

INSTANTIATE_TEST_SUITE_P(AllDepths, BmpPlain,
                         ::testing::Combine(::testing::Values(1, 4, 8, 16, 24, 32), ::testing::Bool()));

TEST(BmpImage, BitFieldsSixteenBit565AndCustomMasks) {
    const Picture p = zvtest::MakeGradient(11, 7);
    BmpOptions o;
    o.bits = 16;
    o.compression = BmpOptions::BitFields;
    const Picture expected565 = zvtest::Map(p, [](uint8_t& b, uint8_t& g, uint8_t& r, uint8_t& a) {
        b = Field(b, 5);
        g = Field(g, 6);
        r = Field(r, 5);
        a = 255;
    });
    EXPECT_TRUE(DecodesTo(zvtools::EncodeBMP(p.width, p.height, p.pixels.data(), o), expected565));

    // A 4-4-4-4 layout with alpha in a V4 header.
    o.headerSize = 108;
    o.masks[0] = 0x0F00;
    o.masks[1] = 0x00F0;
    o.masks[2] = 0x000F;
    o.masks[3] = 0xF000;
    const std::vector<uint8_t> bytes = zvtools::EncodeBMP(p.width, p.height, p.pixels.data(), o);
    const Picture expected4444 = zvtest::Map(p, [](uint8_t& b, uint8_t& g, uint8_t& r, uint8_t& a) {
        b = Field(b, 4);
        g = Field(g, 4);
        r = Field(r, 4);
        a = Field(a, 4);
    });
    EXPECT_TRUE(DecodesTo(bytes, expected4444));
    EXPECT_TRUE(HasAlpha(bytes));
}

TEST(BmpImage, ThirtyTwoBitBitFieldsCarryAlpha) {
    const Picture p = zvtest::MakeGradient(9, 5);
    for (int header : {108, 124}) {
        for (bool topDown : {false, true}) {
            BmpOptions o;
            o.bits = 32;
            o.compression = BmpOptions::BitFields;
            o.headerSize = header;
            o.topDown = topDown;
            const std::vector<uint8_t> bytes = zvtools::EncodeBMP(p.width, p.height, p.pixels.data(), o);
            EXPECT_TRUE(DecodesTo(bytes, p));
            EXPECT_TRUE(HasAlpha(bytes));
        }
    }
    // Swapped channel masks (R and B exchanged) are honoured.
    BmpOptions o;
    o.bits = 32;
    o.compression = BmpOptions::BitFields;
    o.masks[0] = 0x000000FF;
    o.masks[1] = 0x0000FF00;
    o.masks[2] = 0x00FF0000;
    EXPECT_TRUE(DecodesTo(zvtools::EncodeBMP(p.width, p.height, p.pixels.data(), o), zvtest::Opaque(p)));
}

TEST(BmpImage, OldOs2HeaderWithThreeBytePalette) {
    const Picture p = zvtest::MakeFewColours(14, 6, 40);
    BmpOptions o;
    o.bits = 8;
    o.headerSize = 12;
    EXPECT_TRUE(DecodesTo(zvtools::EncodeBMP(p.width, p.height, p.pixels.data(), o), p));
    o.bits = 24;
    const Picture g = zvtest::MakeGradient(6, 4);
    EXPECT_TRUE(DecodesTo(zvtools::EncodeBMP(g.width, g.height, g.pixels.data(), o), zvtest::Opaque(g)));
}

TEST(BmpImage, RunLengthEightAndFourBit) {
    for (int bits : {4, 8}) {
        for (int width : {1, 2, 5, 31}) {
            SCOPED_TRACE("bits " + std::to_string(bits) + " width " + std::to_string(width));
            const Picture p = zvtest::MakeFewColours(width, 9, bits == 4 ? 16 : 50);
            BmpOptions o;
            o.bits = bits;
            o.compression = BmpOptions::RLE;
            const std::vector<uint8_t> bytes = zvtools::EncodeBMP(p.width, p.height, p.pixels.data(), o);
            ASSERT_GE(bytes.size(), 34u);
            EXPECT_EQ(bytes[30], bits == 8 ? 1 : 2);
            EXPECT_TRUE(DecodesTo(bytes, p));
        }
    }
}

// A hand-made RLE8 file: 4 x 3 pixels, palette colour 0 black, 1 red, 2 green.
std::vector<uint8_t> HandMadeRle8(const std::vector<uint8_t>& codes) {
    std::vector<uint8_t> f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const uint8_t info[40] = {40, 0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0, 1, 0, 8, 0, 1, 0, 0, 0};
    f.insert(f.end(), info, info + 40);
    f[14 + 32] = 3;  // colours used
    const uint8_t palette[12] = {0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0};
    f.insert(f.end(), palette, palette + 12);
    f[10] = (uint8_t)f.size();
    f.insert(f.end(), codes.begin(), codes.end());
    f[2] = (uint8_t)f.size();
    return f;
}

TEST(BmpImage, RunLengthDeltaAbsoluteAndClippedRuns) {
    // Bottom row: run of 2 red, absolute green red green (cut at the row end),
    // end of line; middle row: delta right 1 and up 1 lands on the top row at
    // x = 1: run of 9 green cut at the row end; end of bitmap.
    const std::vector<uint8_t> file =
        HandMadeRle8({2, 1, 0, 3, 2, 1, 2, 0, 0, 0, 0, 2, 1, 1, 9, 2, 0, 1});
    ZVImage image;
    std::string error;
    ASSERT_TRUE(zvtest::Decode(file, &image, &error)) << error;
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 3);
    auto colour = [&](int x, int y) {
        const uint8_t* p = &image.pixels[((size_t)y * 4 + x) * 4];
        return (p[2] == 255 ? 1 : 0) + (p[1] == 255 ? 2 : 0);  // 1 red, 2 green, 0 black
    };
    const int expected[3][4] = {{0, 2, 2, 2}, {0, 0, 0, 0}, {1, 1, 2, 1}};  // top row first
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(colour(x, y), expected[y][x]) << x << "," << y;
}

// ---------------------------------------------------------------- PNG

struct PngCase {
    PngOptions::Kind kind;
    int depth;
    bool interlaced;
    bool paletteAlpha;
};

class PngRoundTrip : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngRoundTrip, DecodesToBGRA) {
    const PngCase c = GetParam();
    PngOptions o;
    o.kind = c.kind;
    o.depth = c.depth;
    o.interlaced = c.interlaced;
    o.paletteAlpha = c.paletteAlpha;
    Picture p, expected;
    bool alpha = false;
    switch (c.kind) {
    case PngOptions::Grey: {
        p = zvtest::MakeGrey(21, 13);
        const int levels = (1 << (c.depth < 8 ? c.depth : 8)) - 1;
        expected = zvtest::Map(p, [&](uint8_t& b, uint8_t& g, uint8_t& r, uint8_t& a) {
            g = (uint8_t)((g >> (8 - (c.depth < 8 ? c.depth : 8))) * 255 / levels);
            b = r = g;
            a = 255;
        });
        break;
    }
    case PngOptions::GreyAlpha:
        p = zvtest::MakeGrey(21, 13);
        expected = GreyOf(p, true);
        alpha = true;
        break;
    case PngOptions::Palette:
        p = zvtest::MakeFewColours(21, 13, 1 << (c.depth < 4 ? c.depth : 4), true);
        expected = c.paletteAlpha ? p : zvtest::Opaque(p);
        alpha = c.paletteAlpha;
        break;
    case PngOptions::RGB:
        p = zvtest::MakeGradient(21, 13);
        expected = zvtest::Opaque(p);
        break;
    default:
        p = zvtest::MakeGradient(21, 13);
        expected = p;
        alpha = true;
        break;
    }
    const std::vector<uint8_t> bytes = zvtools::EncodePNG(p.width, p.height, p.pixels.data(), o);
    EXPECT_TRUE(DecodesTo(bytes, expected));
    EXPECT_EQ(HasAlpha(bytes), alpha);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, PngRoundTrip,
    ::testing::Values(PngCase{PngOptions::RGBA, 8, false, false}, PngCase{PngOptions::RGBA, 16, false, false},
                      PngCase{PngOptions::RGBA, 8, true, false}, PngCase{PngOptions::RGB, 8, false, false},
                      PngCase{PngOptions::RGB, 16, true, false}, PngCase{PngOptions::Grey, 1, false, false},
                      PngCase{PngOptions::Grey, 2, false, false}, PngCase{PngOptions::Grey, 4, true, false},
                      PngCase{PngOptions::Grey, 8, false, false}, PngCase{PngOptions::Grey, 16, false, false},
                      PngCase{PngOptions::GreyAlpha, 8, false, false},
                      PngCase{PngOptions::GreyAlpha, 16, false, false},
                      PngCase{PngOptions::Palette, 1, false, false}, PngCase{PngOptions::Palette, 2, false, true},
                      PngCase{PngOptions::Palette, 4, false, false}, PngCase{PngOptions::Palette, 8, true, true}));

TEST(PngImage, ChunksThatDoNotMakeThePixelsAreSkipped) {
    // What other programs put beside the image: texts, colour data, a
    // suggested palette, private chunks, some of them damaged.  None of it
    // changes the picture, and none of it stops the image from loading.
    const Picture p = zvtest::MakeGradient(9, 7);
    const std::vector<uint8_t> plain = zvtools::EncodePNG(p.width, p.height, p.pixels.data());
    const std::vector<uint8_t> junk(5000, 0xA5);
    struct Case {
        const char* what;
        char type[5];
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        {"a text", "tEXt", {'T', 'i', 't', 'l', 'e', 0, 'b', 'o', 'x'}},
        {"a compressed text that does not inflate", "zTXt", {'C', 0, 0, 1, 2, 3, 4}},
        {"a colour profile that does not inflate", "iCCP", {'p', 0, 0, 9, 9, 9}},
        {"a colour profile of a wrong size", "iCCP", {'p', 0, 0, 0x78, 0x9C, 3, 0, 0, 0, 0, 1}},
        {"a suggested palette", "sPLT", {'s', 0, 8, 1, 2, 3, 4, 0, 9, 5, 6, 7, 8, 0, 1}},
        {"a suggested palette of a wrong size", "sPLT", {'s', 0, 8, 1, 2}},
        {"a gamma of zero", "gAMA", {0, 0, 0, 0}},
        {"a private chunk", "zvPr", junk},
        {"a histogram without a palette", "hIST", {0, 1, 0, 2}},
        {"a time stamp with a month 13", "tIME", {7, 0xE9, 13, 40, 25, 61, 61}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(DecodesTo(zvtools::AddPNGChunk(plain, c.type, c.data), p));
    }
    // An ancillary chunk whose checksum is wrong is dropped as well.
    std::vector<uint8_t> damaged = zvtools::AddPNGChunk(plain, "tEXt", {'a', 0, 'b'});
    damaged[33 + 8 + 3] ^= 0xFF;
    EXPECT_TRUE(DecodesTo(damaged, p));
    // A critical chunk this decoder does not know still refuses the file.
    const std::vector<uint8_t> critical = zvtools::AddPNGChunk(plain, "ZVPR", {1});
    ZVImage image;
    std::string error;
    EXPECT_FALSE(ZVImageLoadMemory(critical.data(), critical.size(), &image, &error));
    EXPECT_EQ(error.rfind("PNG: ", 0), 0u) << error;
}

// ---------------------------------------------------------------- JPEG

TEST(JpegImage, ColourAndGreyDecodeClosely) {
    // Smooth content: JPEG keeps it within a few levels.
    Picture p{32, 24, std::vector<uint8_t>(32 * 24 * 4)};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            uint8_t* q = p.At(x, y);
            q[0] = (uint8_t)(40 + x * 4);
            q[1] = (uint8_t)(60 + y * 5);
            q[2] = (uint8_t)(200 - x * 2 - y);
            q[3] = 255;
        }
    for (bool progressive : {false, true}) {
        JpegOptions o;
        o.quality = 95;
        o.progressive = progressive;
        const std::vector<uint8_t> bytes = zvtools::EncodeJPEG(p.width, p.height, p.pixels.data(), o);
        EXPECT_TRUE(DecodesTo(bytes, p, 10));
        EXPECT_FALSE(HasAlpha(bytes));
        o.grey = true;
        EXPECT_TRUE(DecodesTo(zvtools::EncodeJPEG(p.width, p.height, p.pixels.data(), o), GreyOf(p, false), 6));
    }
    // Adobe-style inverted CMYK becomes RGB.
    JpegOptions cmyk;
    cmyk.cmyk = true;
    cmyk.quality = 95;
    const std::vector<uint8_t> bytes = zvtools::EncodeJPEG(p.width, p.height, p.pixels.data(), cmyk);
    EXPECT_TRUE(DecodesTo(bytes, p, 10));
}

// ---------------------------------------------------------------- all

TEST(ImageFiles, OnePixelImagesOfEveryFormat) {
    Picture p{1, 1, {10, 200, 30, 128}};
    TgaOptions tga;
    EXPECT_TRUE(DecodesTo(zvtools::EncodeTGA(1, 1, p.pixels.data(), tga), p));
    tga.rle = true;
    EXPECT_TRUE(DecodesTo(zvtools::EncodeTGA(1, 1, p.pixels.data(), tga), p));
    BmpOptions bmp;
    EXPECT_TRUE(DecodesTo(zvtools::EncodeBMP(1, 1, p.pixels.data(), bmp), zvtest::Opaque(p)));
    bmp.bits = 1;
    EXPECT_TRUE(DecodesTo(zvtools::EncodeBMP(1, 1, p.pixels.data(), bmp), zvtest::Opaque(p)));
    bmp.bits = 8;
    bmp.compression = BmpOptions::RLE;
    EXPECT_TRUE(DecodesTo(zvtools::EncodeBMP(1, 1, p.pixels.data(), bmp), zvtest::Opaque(p)));
    EXPECT_TRUE(DecodesTo(zvtools::EncodePNG(1, 1, p.pixels.data()), p));
    EXPECT_TRUE(DecodesTo(zvtools::EncodeJPEG(1, 1, p.pixels.data()), zvtest::Opaque(p), 8));
}

TEST(ImageFiles, FormatIsRecognisedByContentNotName) {
    const std::string dir = "image_files/";
    std::remove((dir + "really_a_tga.png").c_str());
    ::mkdir(dir.c_str(), 0755);
    const Picture p = zvtest::MakeGradient(6, 5);
    ASSERT_TRUE(zvtools::WriteTGA(dir + "really_a_tga.png", p.width, p.height, p.pixels.data()));
    ASSERT_TRUE(zvtools::WriteBytes(dir + "really_a_png.tga", zvtools::EncodePNG(p.width, p.height, p.pixels.data())));
    ZVImage image;
    std::string error;
    ASSERT_TRUE(ZVImageLoadFile((dir + "really_a_tga.png").c_str(), &image, &error)) << error;
    EXPECT_TRUE(zvtest::SamePixels(image, p));
    ASSERT_TRUE(ZVImageLoadFile((dir + "really_a_png.tga").c_str(), &image, &error)) << error;
    EXPECT_TRUE(zvtest::SamePixels(image, p));
}

TEST(ImageFiles, SavedBmpReloadsWithoutAlphaInBothRowOrders) {
    for (int width : {1, 3, 4, 45}) {
        const Picture p = zvtest::MakeGradient(width, 7);
        ZVImage image;
        image.width = p.width;
        image.height = p.height;
        image.pixels = p.pixels;
        const std::string path = "saved_" + std::to_string(width) + ".bmp";
        std::string error;
        ASSERT_TRUE(ZVImageSaveBMP(path.c_str(), image, &error)) << error;
        ZVImage back;
        ASSERT_TRUE(ZVImageLoadFile(path.c_str(), &back, &error)) << error;
        EXPECT_TRUE(zvtest::SamePixels(back, zvtest::Opaque(p)));
        EXPECT_FALSE(back.hasAlpha);
    }
    // The file is a plain 24-bit bottom-up bitmap.
    FILE* f = std::fopen("saved_3.bmp", "rb");
    ASSERT_NE(f, nullptr);
    uint8_t header[54] = {};
    ASSERT_EQ(std::fread(header, 1, 54, f), 54u);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    EXPECT_EQ(header[28], 24);
    EXPECT_EQ(header[22], 7);  // positive height
    EXPECT_EQ(header[30], 0);  // BI_RGB
    EXPECT_EQ(size, 54 + 12 * 7);  // rows of 9 bytes padded to 12
}

TEST(ImageFiles, SaveBmpRefusesBadImagesAndUnwritablePaths) {
    ZVImage image;
    std::string error;
    EXPECT_FALSE(ZVImageSaveBMP("empty.bmp", image, &error));
    EXPECT_FALSE(error.empty());
    image.width = 4;
    image.height = 4;
    image.pixels.resize(4 * 4 * 4 - 1);  // one byte short
    error.clear();
    EXPECT_FALSE(ZVImageSaveBMP("short.bmp", image, &error));
    EXPECT_FALSE(error.empty());
    image.pixels.resize(4 * 4 * 4);
    error.clear();
    EXPECT_FALSE(ZVImageSaveBMP("no_such_directory/shot.bmp", image, &error));
    EXPECT_NE(error.find("no_such_directory/shot.bmp"), std::string::npos) << error;
    EXPECT_FALSE(ZVImageSaveBMP("", image, &error));
}

}  // namespace
