// Image writers for tests and generated content: TGA, BMP, PNG and JPEG in
// the variants the engine's image reader has to handle.
//
// Every encoder takes pixels as 4 bytes B, G, R, A per pixel, top row first
// (the layout of ZVImage), and returns the file's bytes, or an empty vector
// when the options cannot represent the image (too many colours for a
// palette, a bit depth the format lacks, ...).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvtools {

struct TgaOptions {
    enum Kind { TrueColour, Grey, ColourMapped };
    Kind kind = TrueColour;
    // TrueColour: 15, 16, 24 or 32.  Grey: 8, or 16 for grey + alpha.
    // ColourMapped: the index size, 8 or 16.
    int bits = 32;
    int mapBits = 24;        // ColourMapped: colour map entries of 15, 16, 24 or 32 bits
    int mapFirst = 0;        // ColourMapped: index of the first colour map entry
    bool rle = false;        // run-length encoded (image types 9, 10, 11)
    bool rleAcrossRows = false;  // let packets run on into the next row
    bool topDown = false;    // origin at the top (descriptor bit 5)
    bool rightToLeft = false;  // columns stored right to left (descriptor bit 4)
    int attributeBits = -1;  // alpha bits in the descriptor; -1: 8 for 32 bits, 1 for 16 bits, else 0
    std::string id;          // image id field
};
std::vector<uint8_t> EncodeTGA(int width, int height, const uint8_t* bgra, const TgaOptions& options = TgaOptions());

struct BmpOptions {
    enum Compression { RGB, RLE, BitFields };
    int bits = 24;           // 1, 4, 8 (paletted), 16, 24 or 32
    Compression compression = RGB;  // RLE: RLE8 for 8 bits, RLE4 for 4 bits
    bool topDown = false;
    int headerSize = 40;     // 12 (OS/2), 40, 108 (V4) or 124 (V5)
    // BitFields: red, green, blue, alpha masks; all zero gives 5-6-5 for 16
    // bits and 8-8-8-8 for 32 bits.  With a 40-byte header only the first
    // three are written.
    uint32_t masks[4] = {0, 0, 0, 0};
};
std::vector<uint8_t> EncodeBMP(int width, int height, const uint8_t* bgra, const BmpOptions& options = BmpOptions());

struct PngOptions {
    enum Kind { Grey, GreyAlpha, Palette, RGB, RGBA };
    Kind kind = RGBA;
    int depth = 8;            // bits per sample, as PNG allows for the kind
    bool interlaced = false;  // Adam7
    bool paletteAlpha = false;  // Palette: a tRNS chunk with each colour's alpha
};
std::vector<uint8_t> EncodePNG(int width, int height, const uint8_t* bgra, const PngOptions& options = PngOptions());
// The PNG with one more chunk right after its header, CRC included.  The
// length field says declaredLength where given (a lying file), else the
// data's size.
std::vector<uint8_t> AddPNGChunk(std::vector<uint8_t> png, const char (&type)[5], const std::vector<uint8_t>& data,
                                 int64_t declaredLength = -1);

struct JpegOptions {
    bool grey = false;
    // Four-component CMYK in Adobe's inverted form (255 = no ink), written
    // without black: the samples are R, G, B and 255.
    bool cmyk = false;
    int quality = 90;
    bool progressive = false;
};
std::vector<uint8_t> EncodeJPEG(int width, int height, const uint8_t* bgra, const JpegOptions& options = JpegOptions());

// Writes bytes to a file (created or truncated); false on failure.
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Encodes and writes in one step; false when encoding or writing fails.
bool WriteTGA(const std::string& path, int width, int height, const uint8_t* bgra,
              const TgaOptions& options = TgaOptions());

}  // namespace zvtools
