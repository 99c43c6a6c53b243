// Helpers for the image tests: generated pictures, decoding of encoded bytes
// and pixel comparison with a tolerance.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "zvimage.h"

namespace zvtest {

// BGRA pixels, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    uint8_t* At(int x, int y) { return pixels.data() + ((size_t)y * width + x) * 4; }
    const uint8_t* At(int x, int y) const { return pixels.data() + ((size_t)y * width + x) * 4; }
};

// Every pixel different and every row and column distinguishable: any
// mix-up of row order, column order or channel order shows.
inline Picture MakeGradient(int width, int height, bool withAlpha = true) {
    Picture p{width, height, std::vector<uint8_t>((size_t)width * height * 4)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* q = p.At(x, y);
            q[0] = (uint8_t)(x * 7 + y * 3);           // blue
            q[1] = (uint8_t)(x * 13 + 40);             // green
            q[2] = (uint8_t)(y * 11 + 90);             // red
            q[3] = withAlpha ? (uint8_t)(255 - ((x + y * 5) & 0xFF)) : 255;
        }
    return p;
}

// A picture of `colours` distinct colours laid out in stripes and runs, so
// that run-length encoders meet both runs and literal stretches.
inline Picture MakeFewColours(int width, int height, int colours, bool withAlpha = false) {
    Picture p{width, height, std::vector<uint8_t>((size_t)width * height * 4)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int c = ((x < width / 2 ? x / 3 : x) + y) % colours;
            uint8_t* q = p.At(x, y);
            q[0] = (uint8_t)(c * 37 + 5);
            q[1] = (uint8_t)(c * 91 + 17);
            q[2] = (uint8_t)(255 - c * 23);
            q[3] = withAlpha ? (uint8_t)(c * 60 % 256) : 255;
        }
    return p;
}

// A picture whose blue, green and red are equal (grey), alpha varied.
inline Picture MakeGrey(int width, int height) {
    Picture p{width, height, std::vector<uint8_t>((size_t)width * height * 4)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* q = p.At(x, y);
            q[0] = q[1] = q[2] = (uint8_t)(x * 17 + y * 29);
            q[3] = (uint8_t)(x * 50 + y * 3);
        }
    return p;
}

// Applies f(b, g, r, a) to every pixel of a copy.
template <class F>
Picture Map(const Picture& in, F f) {
    Picture out = in;
    for (size_t i = 0; i < out.pixels.size(); i += 4)
        f(out.pixels[i], out.pixels[i + 1], out.pixels[i + 2], out.pixels[i + 3]);
    return out;
}

inline Picture Opaque(const Picture& in) {
    return Map(in, [](uint8_t&, uint8_t&, uint8_t&, uint8_t& a) { a = 255; });
}

inline bool Decode(const std::vector<uint8_t>& bytes, ZVImage* image, std::string* error) {
    return ZVImageLoadMemory(bytes.data(), bytes.size(), image, error);
}

// Same size and every channel within tolerance of the expected picture.
inline ::testing::AssertionResult SamePixels(const ZVImage& image, const Picture& expected, int tolerance = 0) {
    if (image.width != expected.width || image.height != expected.height)
        return ::testing::AssertionFailure() << "size " << image.width << "x" << image.height << ", expected "
                                             << expected.width << "x" << expected.height;
    if (image.pixels.size() != expected.pixels.size())
        return ::testing::AssertionFailure() << "pixel buffer of " << image.pixels.size() << " bytes";
    for (size_t i = 0; i < expected.pixels.size(); ++i) {
        if (std::abs((int)image.pixels[i] - (int)expected.pixels[i]) > tolerance) {
            const size_t pixel = i / 4;
            return ::testing::AssertionFailure()
                   << "pixel (" << pixel % expected.width << ", " << pixel / expected.width << ") channel "
                   << i % 4 << ": " << (int)image.pixels[i] << ", expected " << (int)expected.pixels[i];
        }
    }
    return ::testing::AssertionSuccess();
}

// Decodes and compares in one step.
inline ::testing::AssertionResult DecodesTo(const std::vector<uint8_t>& bytes, const Picture& expected,
                                            int tolerance = 0) {
    if (bytes.empty()) return ::testing::AssertionFailure() << "the encoder produced nothing";
    ZVImage image;
    std::string error;
    if (!Decode(bytes, &image, &error)) return ::testing::AssertionFailure() << "decoding failed: " << error;
    return SamePixels(image, expected, tolerance);
}

}  // namespace zvtest
