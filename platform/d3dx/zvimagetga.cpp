// Truevision TGA decoder: colour-mapped (1), true-colour (2) and grey (3)
// images, plain or run-length encoded (9, 10, 11), 8/15/16/24/32 bits per
// pixel, either row order and either column order.
#include <cstring>
#include <vector>

#include "zvimagecodecs.h"

namespace zvimage {

namespace {

struct TgaHeader {
    unsigned idLength, colourMapType, imageType;
    unsigned mapFirst, mapLength, mapBits;
    unsigned width, height, bits, descriptor;
};

TgaHeader ParseHeader(const uint8_t* d) {
    TgaHeader h;
    h.idLength = d[0];
    h.colourMapType = d[1];
    h.imageType = d[2];
    h.mapFirst = ReadU16(d + 3);
    h.mapLength = ReadU16(d + 5);
    h.mapBits = d[7];
    h.width = ReadU16(d + 12);
    h.height = ReadU16(d + 14);
    h.bits = d[16];
    h.descriptor = d[17];
    return h;
}

bool ValidPixelBits(unsigned baseType, unsigned bits) {
    switch (baseType) {
    case 1: return bits == 8 || bits == 16;
    case 2: return bits == 15 || bits == 16 || bits == 24 || bits == 32;
    case 3: return bits == 8 || bits == 16;
    default: return false;
    }
}

bool ValidMapBits(unsigned bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }

inline uint8_t Expand5(unsigned v) { return (uint8_t)((v << 3) | (v >> 2)); }

// A 15/16-bit pixel (A1 R5 G5 B5, little-endian) as a BGRA word.
inline uint32_t From16(unsigned v, bool useAlpha) {
    const uint32_t b = Expand5(v & 31), g = Expand5((v >> 5) & 31), r = Expand5((v >> 10) & 31);
    const uint32_t a = (!useAlpha || (v & 0x8000)) ? 255u : 0u;
    return b | (g << 8) | (r << 16) | (a << 24);
}

inline void PutBGRA(uint8_t* dst, uint32_t c) {
    dst[0] = (uint8_t)c;
    dst[1] = (uint8_t)(c >> 8);
    dst[2] = (uint8_t)(c >> 16);
    dst[3] = (uint8_t)(c >> 24);
}

// Expands run-length packets into raw file pixels.  Packets may cross rows;
// a packet running past the last pixel is cut off there.
bool DecodeRLE(const uint8_t* src, size_t avail, size_t pixelBytes, size_t pixelCount, uint8_t* raw,
               std::string* error) {
    size_t pos = 0, done = 0;
    while (done < pixelCount) {
        if (pos >= avail) return Fail(error, "TGA: file truncated (run-length data)");
        const unsigned packet = src[pos++];
        const size_t count = (packet & 0x7F) + 1u;
        const size_t take = count < pixelCount - done ? count : pixelCount - done;
        uint8_t* dst = raw + done * pixelBytes;
        if (packet & 0x80) {
            if (avail - pos < pixelBytes) return Fail(error, "TGA: file truncated (run-length data)");
            const uint8_t* value = src + pos;
            pos += pixelBytes;
            if (pixelBytes == 1) {
                std::memset(dst, value[0], take);
            } else {
                for (size_t i = 0; i < take; ++i, dst += pixelBytes) std::memcpy(dst, value, pixelBytes);
            }
        } else {
            const size_t bytes = count * pixelBytes;
            if (avail - pos < bytes) return Fail(error, "TGA: file truncated (run-length data)");
            std::memcpy(dst, src + pos, take * pixelBytes);
            pos += bytes;
        }
        done += take;
    }
    return true;
}

// Refuses, by the header alone, an image the decoder cannot read.
bool CheckHeader(const TgaHeader& h, std::string* error) {
    const unsigned base = h.imageType & 7;
    if ((h.imageType & ~8u) != base || base < 1 || base > 3)
        return Fail(error, "TGA: unsupported image type " + std::to_string(h.imageType));
    if (h.colourMapType > 1) return Fail(error, "TGA: invalid colour map type " + std::to_string(h.colourMapType));
    if (base == 1 && h.colourMapType != 1) return Fail(error, "TGA: colour-mapped image without a colour map");
    if (!ValidPixelBits(base, h.bits))
        return Fail(error, "TGA: unsupported pixel size of " + std::to_string(h.bits) + " bits");
    return CheckDimensions("TGA", h.width, h.height, error);
}

// The colour map of a colour-mapped image, as BGRA words: colour index
// first names colours[0].
struct Palette {
    std::vector<uint32_t> colours;
    size_t first = 0;
    bool alpha = false;  // its entries carry alpha
};

// One row of the conversion: width file pixels of pixelBytes bytes each,
// read at src, become width BGRA pixels written at dst.
struct Row {
    const uint8_t* src;
    uint8_t* dst;
    size_t width;
    size_t pixelBytes;
};

// Reads the colour map at *pos into palette when the image uses it (another
// image's map is skipped) and moves *pos past it.
bool ReadColourMap(const uint8_t* d, size_t size, const TgaHeader& h, size_t* pos, Palette* palette,
                   std::string* error) {
    if (h.colourMapType != 1) return true;
    if (!ValidMapBits(h.mapBits))
        return Fail(error, "TGA: unsupported colour map entry size of " + std::to_string(h.mapBits) + " bits");
    const size_t entryBytes = (h.mapBits + 7) / 8;
    const size_t mapBytes = (size_t)h.mapLength * entryBytes;
    if (size - *pos < mapBytes) return Fail(error, "TGA: file truncated (colour map)");
    if ((h.imageType & 7) == 1) {
        if (h.mapLength == 0) return Fail(error, "TGA: empty colour map");
        palette->colours.resize(h.mapLength);
        palette->first = h.mapFirst;
        const uint8_t* e = d + *pos;
        const bool alpha16 = h.mapBits == 16 && (h.descriptor & 15) > 0;
        for (unsigned i = 0; i < h.mapLength; ++i, e += entryBytes) {
            switch (entryBytes) {
            case 2: palette->colours[i] = From16(ReadU16(e), alpha16); break;
            case 3: palette->colours[i] = e[0] | (e[1] << 8) | ((uint32_t)e[2] << 16) | 0xFF000000u; break;
            default: palette->colours[i] = ReadU32(e); break;
            }
        }
        palette->alpha = h.mapBits == 32 || alpha16;
    }
    *pos += mapBytes;
    return true;
}

// The file pixels in file order, from the avail bytes at src: in place, or
// expanded from runs into expanded.
bool FilePixels(const uint8_t* src, size_t avail, const TgaHeader& h, std::vector<uint8_t>* expanded,
                const uint8_t** raw, std::string* error) {
    const size_t pixelBytes = (h.bits + 7) / 8;
    const size_t pixelCount = (size_t)h.width * h.height;
    if (!(h.imageType & 8)) {
        if (avail / pixelBytes < pixelCount) return Fail(error, "TGA: file truncated (pixel data)");
        *raw = src;
        return true;
    }
    // Each packet of at most 128 pixels takes at least 1 + pixelBytes bytes.
    const size_t minPackets = (pixelCount + 127) / 128;
    if (avail / (1 + pixelBytes) < minPackets) return Fail(error, "TGA: file truncated (run-length data)");
    expanded->resize(pixelCount * pixelBytes);
    if (!DecodeRLE(src, avail, pixelBytes, pixelCount, expanded->data(), error)) return false;
    *raw = expanded->data();
    return true;
}

// A row of colour indices (1 or 2 bytes each) looked up in the palette;
// an index outside it is refused.
bool MapRow(const Row& row, const Palette& palette, std::string* error) {
    const uint8_t* s = row.src;
    uint8_t* p = row.dst;
    const size_t width = row.width, pixelBytes = row.pixelBytes, first = palette.first;
    const uint32_t* map = palette.colours.data();
    const size_t count = palette.colours.size();
    for (size_t x = 0; x < width; ++x, p += 4, s += pixelBytes) {
        const size_t index = pixelBytes == 1 ? s[0] : ReadU16(s);
        if (index < first || index - first >= count)
            return Fail(error, "TGA: colour index " + std::to_string(index) + " outside the colour map");
        PutBGRA(p, map[index - first]);
    }
    return true;
}

// A row of grey pixels: a level, or a level and an alpha byte.
void GreyRow(const Row& row) {
    const uint8_t* s = row.src;
    uint8_t* p = row.dst;
    const size_t width = row.width, pixelBytes = row.pixelBytes;
    if (pixelBytes == 1) {
        for (size_t x = 0; x < width; ++x, p += 4, ++s) {
            p[0] = p[1] = p[2] = s[0];
            p[3] = 255;
        }
    } else {
        for (size_t x = 0; x < width; ++x, p += 4, s += 2) {
            p[0] = p[1] = p[2] = s[0];
            p[3] = s[1];
        }
    }
}

// A row of true-colour pixels; gives the OR of the alpha bytes of 32-bit
// pixels (0 for the other sizes).
uint8_t TrueColourRow(const Row& row, bool alpha16) {
    const uint8_t* s = row.src;
    uint8_t* p = row.dst;
    const size_t width = row.width, pixelBytes = row.pixelBytes;
    uint8_t alphaSeen = 0;
    if (pixelBytes == 4) {
        std::memcpy(p, s, width * 4);
        for (size_t x = 0; x < width; ++x) alphaSeen |= p[x * 4 + 3];
    } else if (pixelBytes == 3) {
        for (size_t x = 0; x < width; ++x, p += 4, s += 3) {
            p[0] = s[0];
            p[1] = s[1];
            p[2] = s[2];
            p[3] = 255;
        }
    } else {
        for (size_t x = 0; x < width; ++x, p += 4, s += 2) PutBGRA(p, From16(ReadU16(s), alpha16));
    }
    return alphaSeen;
}

void MirrorRow(uint8_t* dst, size_t width) {
    for (size_t a = 0, b = width - 1; a < b; ++a, --b) {
        uint8_t t[4];
        std::memcpy(t, dst + a * 4, 4);
        std::memcpy(dst + a * 4, dst + b * 4, 4);
        std::memcpy(dst + b * 4, t, 4);
    }
}

// Converts the file pixels into out's BGRA rows, top row first; gives the
// OR of the alpha bytes of 32-bit pixels in *alphaSeen.
bool ConvertPixels(const uint8_t* raw, const TgaHeader& h, const Palette& palette, ZVImage* out,
                   uint8_t* alphaSeen, std::string* error) {
    const unsigned base = h.imageType & 7;
    const size_t width = h.width, height = h.height;
    const size_t pixelBytes = (h.bits + 7) / 8;
    const size_t srcStride = width * pixelBytes;
    const bool alpha16 = h.bits == 16 && (h.descriptor & 15) > 0;
    const bool rightToLeft = (h.descriptor & 0x10) != 0;
    const bool topDown = (h.descriptor & 0x20) != 0;
    uint8_t alpha = 0;
    // The rows in file order, each into its place in the image.
    Row row = {raw, nullptr, width, pixelBytes};
    for (size_t stored = 0; stored < height; ++stored, row.src += srcStride) {
        row.dst = out->pixels.data() + (topDown ? stored : height - 1 - stored) * width * 4;
        if (base == 1) {
            if (!MapRow(row, palette, error)) return false;
        } else if (base == 3) {
            GreyRow(row);
        } else {
            alpha |= TrueColourRow(row, alpha16);
        }
        if (rightToLeft) MirrorRow(row.dst, width);
    }
    *alphaSeen = alpha;
    return true;
}

// Whether the decoded image has alpha.
void SetAlpha(const TgaHeader& h, const Palette& palette, uint8_t alphaSeen, ZVImage* out) {
    const unsigned base = h.imageType & 7;
    const size_t pixelBytes = (h.bits + 7) / 8;
    const unsigned attributeBits = h.descriptor & 15;
    if (base == 1) {
        out->hasAlpha = palette.alpha;
    } else if (base == 3) {
        out->hasAlpha = pixelBytes == 2;
    } else if (pixelBytes == 4) {
        // Some writers store 32-bit pixels with no alpha declared and the
        // fourth byte left at zero: such an image is opaque, not invisible.
        if (attributeBits == 0 && alphaSeen == 0) {
            for (size_t i = 3; i < out->pixels.size(); i += 4) out->pixels[i] = 255;
            out->hasAlpha = false;
        } else {
            out->hasAlpha = true;
        }
    } else {
        out->hasAlpha = h.bits == 16 && attributeBits > 0;
    }
}

}  // namespace

bool LooksLikeTGA(const uint8_t* data, size_t size) {
    if (size < 18) return false;
    const TgaHeader h = ParseHeader(data);
    if (h.colourMapType > 1) return false;
    const unsigned base = h.imageType & 7;
    if ((h.imageType & ~8u) != base || base < 1 || base > 3) return false;
    if (!ValidPixelBits(base, h.bits)) return false;
    if (h.colourMapType == 1 && !ValidMapBits(h.mapBits)) return false;
    if (base == 1 && h.colourMapType != 1) return false;
    return true;
}

bool DecodeTGA(const uint8_t* d, size_t size, ZVImage* out, std::string* error) {
    if (size < 18) return Fail(error, "TGA: file too short for its header");
    const TgaHeader h = ParseHeader(d);
    if (!CheckHeader(h, error)) return false;
    size_t pos = 18 + (size_t)h.idLength;
    if (pos > size) return Fail(error, "TGA: file truncated (image id)");
    Palette palette;
    if (!ReadColourMap(d, size, h, &pos, &palette, error)) return false;
    std::vector<uint8_t> expanded;
    const uint8_t* raw = nullptr;
    if (!FilePixels(d + pos, size - pos, h, &expanded, &raw, error)) return false;
    Allocate(out, (int)h.width, (int)h.height);
    uint8_t alphaSeen = 0;
    if (!ConvertPixels(raw, h, palette, out, &alphaSeen, error)) return false;
    SetAlpha(h, palette, alphaSeen, out);
    return true;
}

}  // namespace zvimage
