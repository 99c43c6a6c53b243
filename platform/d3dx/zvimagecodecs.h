// Shared pieces of the image decoders: size limits, little-endian reads and
// the per-format entry points used by ZVImageLoadMemory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zvimage.h"

namespace zvimage {

// Largest width or height accepted from any file.
constexpr int64_t kMaxDimension = 16384;

inline uint16_t ReadU16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t ReadU32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline int32_t ReadI32(const uint8_t* p) { return (int32_t)ReadU32(p); }

// Sets *error (when given) and returns false.
bool Fail(std::string* error, const std::string& text);

// Refuses zero, negative and oversized dimensions with a message naming the format.
bool CheckDimensions(const char* format, int64_t width, int64_t height, std::string* error);

// Sizes out->pixels for width x height BGRA pixels.
void Allocate(ZVImage* out, int width, int height);

bool LooksLikeTGA(const uint8_t* data, size_t size);

bool DecodeTGA(const uint8_t* data, size_t size, ZVImage* out, std::string* error);
bool DecodeBMP(const uint8_t* data, size_t size, ZVImage* out, std::string* error);
bool DecodePNG(const uint8_t* data, size_t size, ZVImage* out, std::string* error);
bool DecodeJPEG(const uint8_t* data, size_t size, ZVImage* out, std::string* error);

}  // namespace zvimage
