// Damaged, truncated and hostile image files fail cleanly: false, an error
// text, an empty image, no crash and no allocation sized by a lying header.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "d3dx_support.h"
#include "zvimage.h"
#include "zvimagewriters.h"

// The largest single operator new request, so the tests can see that a
// small file claiming a huge image is refused before its pixels are allocated.
static std::atomic<size_t> gLargestAllocation{0};

static void* TrackedAlloc(size_t size) {
    size_t seen = gLargestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !gLargestAllocation.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void* operator new(size_t size) { return TrackedAlloc(size); }
void* operator new[](size_t size) { return TrackedAlloc(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return TrackedAlloc(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return TrackedAlloc(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using zvtest::Picture;

const size_t kSmallAllocation = 16u << 20;

// Decoding must fail with a message and leave the image empty.
::testing::AssertionResult FailsCleanly(const std::vector<uint8_t>& bytes, std::string* errorOut = nullptr) {
    ZVImage image;
    image.width = 3;
    image.height = 3;
    image.pixels.assign(36, 7);
    std::string error;
    const bool ok = ZVImageLoadMemory(bytes.data(), bytes.size(), &image, &error);
    if (errorOut) *errorOut = error;
    if (ok) return ::testing::AssertionFailure() << "decoding succeeded (" << image.width << "x" << image.height << ")";
    if (error.empty()) return ::testing::AssertionFailure() << "no error text";
    if (image.width != 0 || image.height != 0 || !image.pixels.empty())
        return ::testing::AssertionFailure() << "the image was not left empty";
    return ::testing::AssertionSuccess() << error;
}

// Fails cleanly without any allocation near the size the header claims.
::testing::AssertionResult RefusedCheaply(const std::vector<uint8_t>& bytes, const char* expectedText = nullptr) {
    gLargestAllocation = 0;
    std::string error;
    ::testing::AssertionResult r = FailsCleanly(bytes, &error);
    if (!r) return r;
    if (gLargestAllocation > kSmallAllocation)
        return ::testing::AssertionFailure() << "allocated " << gLargestAllocation << " bytes before failing: " << error;
    if (expectedText && error.find(expectedText) == std::string::npos)
        return ::testing::AssertionFailure() << "error \"" << error << "\" lacks \"" << expectedText << "\"";
    return ::testing::AssertionSuccess();
}

std::vector<uint8_t> Cut(const std::vector<uint8_t>& bytes, size_t length) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + (std::ptrdiff_t)length);
}

std::vector<uint8_t> TgaHeader(unsigned type, unsigned w, unsigned h, unsigned bits, unsigned descriptor = 0,
                               unsigned mapType = 0, unsigned mapLength = 0, unsigned mapBits = 0) {
    return {0,
            (uint8_t)mapType,
            (uint8_t)type,
            0,
            0,
            (uint8_t)mapLength,
            (uint8_t)(mapLength >> 8),
            (uint8_t)mapBits,
            0,
            0,
            0,
            0,
            (uint8_t)w,
            (uint8_t)(w >> 8),
            (uint8_t)h,
            (uint8_t)(h >> 8),
            (uint8_t)bits,
            (uint8_t)descriptor};
}

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = (uint8_t)(x >> (8 * i));
}
void PutBE32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = (uint8_t)(x >> (24 - 8 * i));
}

// Sets the IHDR size of a PNG and mends the chunk's CRC.
std::vector<uint8_t> PngWithSize(std::vector<uint8_t> png, uint32_t w, uint32_t h) {
    PutBE32(png, 16, w);
    PutBE32(png, 20, h);
    PutBE32(png, 29, (uint32_t)crc32(0, png.data() + 12, 17));
    return png;
}

// Sets the frame size in a JPEG's SOF marker.
std::vector<uint8_t> JpegWithSize(std::vector<uint8_t> jpeg, unsigned w, unsigned h) {
    for (size_t i = 2; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = (uint8_t)(h >> 8);
            jpeg[i + 6] = (uint8_t)h;
            jpeg[i + 7] = (uint8_t)(w >> 8);
            jpeg[i + 8] = (uint8_t)w;
            break;
        }
    return jpeg;
}

struct Sample {
    std::string name;
    std::vector<uint8_t> bytes;
    size_t tolerantTail;  // trailing bytes whose loss still leaves a whole picture
};

std::vector<Sample> Samples() {
    const Picture g = zvtest::MakeGradient(13, 9);
    const Picture few = zvtest::MakeFewColours(13, 9, 6);
    std::vector<Sample> s;
    zvtools::TgaOptions tga;
    s.push_back({"tga32", zvtools::EncodeTGA(g.width, g.height, g.pixels.data(), tga), 0});
    tga.rle = true;
    s.push_back({"tga32rle", zvtools::EncodeTGA(g.width, g.height, g.pixels.data(), tga), 0});
    tga.kind = zvtools::TgaOptions::ColourMapped;
    tga.bits = 8;
    s.push_back({"tgamapped", zvtools::EncodeTGA(few.width, few.height, few.pixels.data(), tga), 0});
    zvtools::BmpOptions bmp;
    // The reader does not insist on the padding after the last row.
    s.push_back({"bmp24", zvtools::EncodeBMP(g.width, g.height, g.pixels.data(), bmp), 1});
    bmp.bits = 8;
    s.push_back({"bmp8", zvtools::EncodeBMP(few.width, few.height, few.pixels.data(), bmp), 3});
    bmp.compression = zvtools::BmpOptions::RLE;
    s.push_back({"bmprle8", zvtools::EncodeBMP(few.width, few.height, few.pixels.data(), bmp), 2});
    bmp.bits = 4;
    s.push_back({"bmprle4", zvtools::EncodeBMP(few.width, few.height, few.pixels.data(), bmp), 2});
    // PNG: the end chunk, the last data chunk's CRC and zlib's checksum.
    s.push_back({"png", zvtools::EncodePNG(g.width, g.height, g.pixels.data()), 12 + 4 + 4});
    zvtools::PngOptions png;
    png.interlaced = true;
    png.kind = zvtools::PngOptions::Palette;
    s.push_back({"pngpalette", zvtools::EncodePNG(few.width, few.height, few.pixels.data(), png), 12 + 4 + 4});
    s.push_back({"jpeg", zvtools::EncodeJPEG(g.width, g.height, g.pixels.data()), 2});
    zvtools::JpegOptions jpeg;
    jpeg.progressive = true;
    s.push_back({"jpegprogressive", zvtools::EncodeJPEG(g.width, g.height, g.pixels.data(), jpeg), 2});
    return s;
}

TEST(ImageMalformed, EmptyAndUnknownData) {
    EXPECT_TRUE(FailsCleanly({}));
    EXPECT_TRUE(FailsCleanly({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', ' ', 't', 'h', 'i', 's', ' ', 'i', 's'}));
    ZVImage image;
    std::string error;
    EXPECT_FALSE(ZVImageLoadMemory(nullptr, 10, &image, &error));
    EXPECT_FALSE(error.empty());
    const std::vector<uint8_t> tga = zvtools::EncodeTGA(1, 1, std::vector<uint8_t>(4, 9).data());
    EXPECT_FALSE(ZVImageLoadMemory(tga.data(), tga.size(), nullptr, &error));
    // The error text is optional.
    EXPECT_FALSE(ZVImageLoadMemory(tga.data(), 5, &image, nullptr));
}

TEST(ImageMalformed, EveryTruncationFailsCleanly) {
    for (const Sample& sample : Samples()) {
        SCOPED_TRACE(sample.name);
        ASSERT_GT(sample.bytes.size(), 30u);
        {
            ZVImage whole;
            std::string error;
            ASSERT_TRUE(zvtest::Decode(sample.bytes, &whole, &error)) << error;
        }
        for (size_t length = 0; length < sample.bytes.size(); ++length) {
            const std::vector<uint8_t> part = Cut(sample.bytes, length);
            if (length + sample.tolerantTail < sample.bytes.size()) {
                EXPECT_TRUE(FailsCleanly(part)) << "cut at " << length << " of " << sample.bytes.size();
            } else {
                // Near the end a whole picture may still come out; if so, a whole one.
                ZVImage image;
                std::string error;
                if (zvtest::Decode(part, &image, &error)) {
                    EXPECT_EQ(image.pixels.size(), (size_t)image.width * image.height * 4);
                } else {
                    EXPECT_FALSE(error.empty());
                }
            }
        }
    }
}

TEST(ImageMalformed, TruncationIsNamedInTheError) {
    const Picture g = zvtest::MakeGradient(8, 8);
    std::string error;
    const std::vector<uint8_t> tga = zvtools::EncodeTGA(8, 8, g.pixels.data());
    ASSERT_TRUE(FailsCleanly(Cut(tga, tga.size() - 1), &error));
    EXPECT_NE(error.find("TGA"), std::string::npos) << error;
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    const std::vector<uint8_t> bmp = zvtools::EncodeBMP(8, 8, g.pixels.data());
    ASSERT_TRUE(FailsCleanly(Cut(bmp, bmp.size() - 1), &error));
    EXPECT_NE(error.find("BMP: file truncated"), std::string::npos) << error;
    const std::vector<uint8_t> png = zvtools::EncodePNG(8, 8, g.pixels.data());
    ASSERT_TRUE(FailsCleanly(Cut(png, 40), &error));
    EXPECT_EQ(error.rfind("PNG: ", 0), 0u) << error;
    const std::vector<uint8_t> jpeg = zvtools::EncodeJPEG(8, 8, g.pixels.data());
    ASSERT_TRUE(FailsCleanly(Cut(jpeg, jpeg.size() / 2), &error));
    EXPECT_EQ(error, "JPEG: file truncated");
}

TEST(ImageMalformed, ZeroDimensionsAreRefused) {
    std::vector<uint8_t> tga = TgaHeader(2, 0, 4, 32);
    tga.resize(200, 0);
    EXPECT_TRUE(RefusedCheaply(tga, "no pixels"));
    tga = TgaHeader(2, 4, 0, 24);
    tga.resize(200, 0);
    EXPECT_TRUE(RefusedCheaply(tga, "no pixels"));

    const Picture g = zvtest::MakeGradient(4, 4);
    std::vector<uint8_t> bmp = zvtools::EncodeBMP(4, 4, g.pixels.data());
    Put32(bmp, 18, 0);
    EXPECT_TRUE(RefusedCheaply(bmp, "no pixels"));
    bmp = zvtools::EncodeBMP(4, 4, g.pixels.data());
    Put32(bmp, 22, 0);
    EXPECT_TRUE(RefusedCheaply(bmp, "no pixels"));
    bmp = zvtools::EncodeBMP(4, 4, g.pixels.data());
    Put32(bmp, 18, 0xFFFFFFFCu);  // width -4
    EXPECT_TRUE(RefusedCheaply(bmp, "no pixels"));

    const std::vector<uint8_t> png = zvtools::EncodePNG(4, 4, g.pixels.data());
    EXPECT_TRUE(RefusedCheaply(PngWithSize(png, 0, 4)));
    EXPECT_TRUE(RefusedCheaply(PngWithSize(png, 4, 0)));
    const std::vector<uint8_t> jpeg = zvtools::EncodeJPEG(4, 4, g.pixels.data());
    EXPECT_TRUE(RefusedCheaply(JpegWithSize(jpeg, 0, 4)));
    EXPECT_TRUE(RefusedCheaply(JpegWithSize(jpeg, 4, 0)));
}

TEST(ImageMalformed, HugeClaimsFromSmallFilesAllocateNothingLarge) {
    // Beyond the per-side limit.
    std::vector<uint8_t> tga = TgaHeader(2, 65535, 65535, 32);
    tga.resize(4096, 1);
    EXPECT_TRUE(RefusedCheaply(tga, "too large"));
    // Within the limit but far more than the data holds.
    tga = TgaHeader(2, 16384, 16384, 32);
    tga.resize(4096, 1);
    EXPECT_TRUE(RefusedCheaply(tga, "truncated"));
    tga = TgaHeader(10, 16384, 16384, 32);
    tga.resize(4096, 0xFF);  // runs of 128 pixels each
    EXPECT_TRUE(RefusedCheaply(tga, "truncated"));
    tga = TgaHeader(9, 16384, 16384, 8, 0, 1, 2, 24);
    tga.resize(4096, 0xFF);
    EXPECT_TRUE(RefusedCheaply(tga, "truncated"));

    const Picture g = zvtest::MakeGradient(4, 4);
    const std::vector<uint8_t> bmp = zvtools::EncodeBMP(4, 4, g.pixels.data());
    std::vector<uint8_t> big = bmp;
    Put32(big, 18, 16384);
    Put32(big, 22, 16384);
    EXPECT_TRUE(RefusedCheaply(big, "truncated"));
    Put32(big, 22, 0x80000000u);  // the most negative height
    EXPECT_TRUE(RefusedCheaply(big, "too large"));
    Put32(big, 18, 0x7FFFFFFFu);
    Put32(big, 22, 1);
    EXPECT_TRUE(RefusedCheaply(big, "too large"));
    zvtools::BmpOptions rleOptions;
    rleOptions.bits = 8;
    rleOptions.compression = zvtools::BmpOptions::RLE;
    std::vector<uint8_t> rle = zvtools::EncodeBMP(4, 4, g.pixels.data(), rleOptions);
    Put32(rle, 18, 16384);
    Put32(rle, 22, 16384);
    EXPECT_TRUE(RefusedCheaply(rle, "too large"));

    const std::vector<uint8_t> png = zvtools::EncodePNG(4, 4, g.pixels.data());
    EXPECT_TRUE(RefusedCheaply(PngWithSize(png, 16384, 16384), "PNG: "));
    EXPECT_TRUE(RefusedCheaply(PngWithSize(png, 20000, 20), "PNG: "));
    EXPECT_TRUE(RefusedCheaply(PngWithSize(png, 0x7FFFFFFFu, 0x7FFFFFFFu), "PNG: "));
    // Chunks beside the image that claim far more than the file holds.
    for (const char* type : {"sPLT", "tEXt", "zTXt", "iCCP", "zvPr"})
        EXPECT_TRUE(RefusedCheaply(zvtools::AddPNGChunk(png, {type[0], type[1], type[2], type[3], 0}, {'s', 0, 8}, 0x73737373),
                                   "PNG: "))
            << type;
    const std::vector<uint8_t> jpeg = zvtools::EncodeJPEG(4, 4, g.pixels.data());
    EXPECT_TRUE(RefusedCheaply(JpegWithSize(jpeg, 16384, 16384), "too large"));
    EXPECT_TRUE(RefusedCheaply(JpegWithSize(jpeg, 65000, 65000), "JPEG: "));
}

TEST(ImageMalformed, BadFieldsAreReported) {
    // A colour index beyond the colour map.
    std::vector<uint8_t> tga = TgaHeader(1, 2, 1, 8, 0, 1, 2, 24);
    tga.insert(tga.end(), {1, 2, 3, 4, 5, 6, 1, 7});
    std::string error;
    EXPECT_TRUE(FailsCleanly(tga, &error));
    EXPECT_NE(error.find("colour index 7"), std::string::npos) << error;
    // Unknown image type, impossible pixel size, colour map type 2: not a TGA.
    for (const std::vector<uint8_t>& h : {TgaHeader(4, 2, 2, 24), TgaHeader(2, 2, 2, 12), TgaHeader(2, 2, 2, 24, 0, 2)}) {
        std::vector<uint8_t> f = h;
        f.resize(100, 0);
        EXPECT_TRUE(FailsCleanly(f, &error));
        EXPECT_NE(error.find("unknown image format"), std::string::npos) << error;
    }

    const Picture g = zvtest::MakeGradient(4, 4);
    const std::vector<uint8_t> bmp = zvtools::EncodeBMP(4, 4, g.pixels.data());
    struct Patch {
        size_t at;
        uint32_t value;
        const char* text;
    };
    const Patch patches[] = {
        {28, 7, "pixel size"},              // 7 bits per pixel (the planes field stays)
        {30, 4, "compression 4"},           // embedded JPEG
        {30, 1, "RLE8"},                    // RLE8 on a 24-bit image
        {14, 20, "header size 20"},         // unknown header
        {10, 0xFFFFFF00u, "no pixel data"}, // pixel data beyond the file
        {14, 0x10000000u, "header size"},
    };
    for (const Patch& p : patches) {
        std::vector<uint8_t> f = bmp;
        Put32(f, p.at, p.value);
        EXPECT_TRUE(FailsCleanly(f, &error));
        EXPECT_NE(error.find(p.text), std::string::npos) << error;
    }
    // A run-length image cannot be top-down.
    zvtools::BmpOptions rleOptions;
    rleOptions.bits = 8;
    rleOptions.compression = zvtools::BmpOptions::RLE;
    std::vector<uint8_t> rle = zvtools::EncodeBMP(4, 4, g.pixels.data(), rleOptions);
    Put32(rle, 22, (uint32_t)-4);
    EXPECT_TRUE(FailsCleanly(rle, &error));
    EXPECT_NE(error.find("top-down"), std::string::npos) << error;
    // A colour count beyond the pixel size is cut to 2^bits entries and to
    // the room before the pixels; a palette running past the end of the file
    // is refused.
    zvtools::BmpOptions paletted;
    paletted.bits = 8;
    std::vector<uint8_t> pal = zvtools::EncodeBMP(4, 4, g.pixels.data(), paletted);
    Put32(pal, 46, 0xFFFFFFFFu);
    ZVImage image;
    EXPECT_TRUE(zvtest::Decode(pal, &image, &error)) << error;
    EXPECT_TRUE(zvtest::SamePixels(image, zvtest::Opaque(g)));
    Put32(pal, 10, 0x10000);
    pal.resize(14 + 40 + 100);
    EXPECT_TRUE(FailsCleanly(pal, &error));
    EXPECT_NE(error.find("palette"), std::string::npos) << error;

    // A damaged PNG header checksum and garbage after the JPEG start.
    std::vector<uint8_t> png = zvtools::EncodePNG(4, 4, g.pixels.data());
    png[30] ^= 0x55;
    EXPECT_TRUE(FailsCleanly(png, &error));
    EXPECT_EQ(error.rfind("PNG: ", 0), 0u);
    std::vector<uint8_t> jpeg = zvtools::EncodeJPEG(4, 4, g.pixels.data());
    for (size_t i = 3; i < jpeg.size(); ++i) jpeg[i] = (uint8_t)(i * 31);
    EXPECT_TRUE(FailsCleanly(jpeg, &error));
    EXPECT_EQ(error.rfind("JPEG: ", 0), 0u);
}

TEST(ImageMalformed, RandomDamageNeverBreaksTheDecoder) {
    std::mt19937 random(20261209u);
    int failures = 0, successes = 0;
    for (const Sample& sample : Samples()) {
        SCOPED_TRACE(sample.name);
        for (int round = 0; round < 300; ++round) {
            std::vector<uint8_t> damaged = sample.bytes;
            const int changes = 1 + (int)(random() % 6);
            for (int i = 0; i < changes; ++i) {
                // Headers are where lies hurt most: damage them more often.
                const size_t at = (random() % 2) ? random() % 64 : random() % damaged.size();
                if (at < damaged.size()) damaged[at] = (uint8_t)random();
            }
            if (random() % 4 == 0) damaged.resize(random() % damaged.size());
            gLargestAllocation = 0;
            ZVImage image;
            std::string error;
            if (zvtest::Decode(damaged, &image, &error)) {
                ++successes;
                ASSERT_GT(image.width, 0);
                ASSERT_GT(image.height, 0);
                ASSERT_EQ(image.pixels.size(), (size_t)image.width * image.height * 4);
            } else {
                ++failures;
                ASSERT_FALSE(error.empty());
                ASSERT_TRUE(image.pixels.empty());
            }
            // The pictures are small: nothing may allocate for a lying header.
            ASSERT_LE(gLargestAllocation.load(), kSmallAllocation) << error;
        }
    }
    EXPECT_GT(failures, 0);
    EXPECT_GT(successes, 0);
}

TEST(ImageMalformed, FilesThatCannotBeReadAreNamed) {
    ZVImage image;
    std::string error;
    EXPECT_FALSE(ZVImageLoadFile("no_such_image.tga", &image, &error));
    EXPECT_NE(error.find("no_such_image.tga"), std::string::npos) << error;
    EXPECT_FALSE(ZVImageLoadFile(".", &image, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(ZVImageLoadFile("", &image, &error));
    EXPECT_FALSE(ZVImageLoadFile(nullptr, &image, &error));
    ASSERT_TRUE(zvtools::WriteBytes("garbage.bmp", {'B', 'M', 1, 2, 3}));
    EXPECT_FALSE(ZVImageLoadFile("garbage.bmp", &image, &error));
    EXPECT_NE(error.find("garbage.bmp"), std::string::npos) << error;
    EXPECT_NE(error.find("BMP"), std::string::npos) << error;
    ASSERT_TRUE(zvtools::WriteBytes("empty.tga", {}));
    EXPECT_FALSE(ZVImageLoadFile("empty.tga", &image, &error));
    EXPECT_NE(error.find("empty"), std::string::npos) << error;
}

}  // namespace
