// Image files for textures and screenshots: TGA, BMP, PNG and JPEG are read,
// BMP is written.  Pixels are kept top row first, four bytes per pixel in the
// order B, G, R, A (the memory order of a Direct3D A8R8G8B8 surface).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ZVImage {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;          // the file carried an alpha channel
    std::vector<uint8_t> pixels;    // width * height * 4 bytes, BGRA, top row first
};

// Decodes a file by its content (not its extension).  On failure returns false
// and says why in *error (when given); *out is left empty.
bool ZVImageLoadFile(const char* path, ZVImage* out, std::string* error);
bool ZVImageLoadMemory(const void* data, size_t size, ZVImage* out, std::string* error);

// Writes a 24-bit uncompressed BMP (alpha dropped).  Returns false on an I/O error.
bool ZVImageSaveBMP(const char* path, const ZVImage& image, std::string* error);
