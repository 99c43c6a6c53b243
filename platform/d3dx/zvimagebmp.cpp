// Windows/OS2 bitmap decoder: 1/4/8-bit paletted (plain, RLE4, RLE8),
// 16-bit (5-5-5 or bit fields), 24-bit and 32-bit (plain or bit fields),
// bottom-up or top-down.
#include <cstring>
#include <vector>

#include "zvimagecodecs.h"

namespace zvimage {

namespace {

enum : uint32_t { kRGB = 0, kRLE8 = 1, kRLE4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

// One colour channel of a bit-field pixel: (pixel & mask) >> shift gives a
// value of `bits` bits, scaled to 0..255 through a table or a shift.
struct Channel {
    uint32_t mask = 0;
    unsigned shift = 0;
    unsigned bits = 0;
    uint8_t table[256];

    void Init(uint32_t m) {
        mask = m;
        shift = 0;
        bits = 0;
        if (!m) return;
        while (!((m >> shift) & 1u)) ++shift;
        uint32_t v = m >> shift;
        while (v) {
            ++bits;
            v >>= 1;
        }
        if (bits <= 8) {
            const uint32_t maxValue = (1u << bits) - 1u;
            for (uint32_t i = 0; i < 256; ++i) {
                const uint32_t c = i > maxValue ? maxValue : i;
                table[i] = (uint8_t)((c * 255u + maxValue / 2u) / maxValue);
            }
        }
    }
    inline uint8_t Get(uint32_t pixel, uint8_t missing) const {
        if (!mask) return missing;
        const uint32_t v = (pixel & mask) >> shift;
        return bits <= 8 ? table[v & 0xFF] : (uint8_t)(v >> (bits - 8));
    }
};

struct BmpInfo {
    uint32_t headerSize = 0;
    int64_t width = 0, height = 0;
    unsigned bits = 0;
    uint32_t compression = kRGB;
    uint32_t coloursUsed = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    size_t paletteOffset = 0;
    size_t paletteEntryBytes = 4;
};

bool ParseInfo(const uint8_t* d, size_t size, BmpInfo* info, std::string* error) {
    if (size < 18) return Fail(error, "BMP: file too short for its header");
    info->headerSize = ReadU32(d + 14);
    const uint32_t hs = info->headerSize;
    if (hs == 12) {
        if (size < 14 + 12) return Fail(error, "BMP: file truncated (header)");
        info->width = ReadU16(d + 18);
        info->height = (int16_t)ReadU16(d + 20);
        info->bits = ReadU16(d + 24);
        info->paletteEntryBytes = 3;
        info->paletteOffset = 14 + 12;
        return true;
    }
    if (hs != 40 && hs != 52 && hs != 56 && hs != 64 && hs != 108 && hs != 124)
        return Fail(error, "BMP: unsupported header size " + std::to_string(hs));
    if (size - 14 < hs) return Fail(error, "BMP: file truncated (header)");
    info->width = ReadI32(d + 18);
    info->height = ReadI32(d + 22);
    info->bits = ReadU16(d + 28);
    info->compression = ReadU32(d + 30);
    info->coloursUsed = ReadU32(d + 46);
    info->paletteOffset = 14 + (size_t)hs;
    // In the OS/2 2.x header, compression 3 is Huffman coding, not bit fields.
    if (hs == 64 && info->compression == kBitFields) info->compression = 0xFFFFFFFFu;
    if (info->compression == kBitFields || info->compression == kAlphaBitFields) {
        const unsigned count = info->compression == kAlphaBitFields ? 4 : 3;
        if (hs == 40) {
            // The masks follow the header, before the palette.
            if (size - info->paletteOffset < count * 4u) return Fail(error, "BMP: file truncated (bit fields)");
            for (unsigned i = 0; i < count; ++i) info->masks[i] = ReadU32(d + info->paletteOffset + i * 4);
            info->paletteOffset += count * 4u;
        } else {
            for (unsigned i = 0; i < 3; ++i) info->masks[i] = ReadU32(d + 54 + i * 4);
            if (hs >= 56) info->masks[3] = ReadU32(d + 66);
        }
    }
    return true;
}

// Fills a 256-entry BGRA palette; entries the file does not give are opaque
// black.  The palette holds the colours-used count of entries (all 2^bits
// when 0), but never more than fit between the headers and the pixels.
bool ReadPalette(const uint8_t* d, size_t size, const BmpInfo& info, size_t pixelOffset, uint32_t* palette,
                 std::string* error) {
    for (int i = 0; i < 256; ++i) palette[i] = 0xFF000000u;
    const uint32_t full = 1u << info.bits;
    uint32_t count = (info.coloursUsed == 0 || info.coloursUsed > full) ? full : info.coloursUsed;
    if (pixelOffset > info.paletteOffset) {
        const size_t room = (pixelOffset - info.paletteOffset) / info.paletteEntryBytes;
        if (room < count) count = (uint32_t)room;
    }
    const size_t bytes = (size_t)count * info.paletteEntryBytes;
    if (info.paletteOffset > size || size - info.paletteOffset < bytes)
        return Fail(error, "BMP: file truncated (palette)");
    const uint8_t* e = d + info.paletteOffset;
    for (uint32_t i = 0; i < count; ++i, e += info.paletteEntryBytes)
        palette[i] = e[0] | (e[1] << 8) | ((uint32_t)e[2] << 16) | 0xFF000000u;
    return true;
}

inline void PutBGRA(uint8_t* dst, uint32_t c) {
    dst[0] = (uint8_t)c;
    dst[1] = (uint8_t)(c >> 8);
    dst[2] = (uint8_t)(c >> 16);
    dst[3] = (uint8_t)(c >> 24);
}

// Run-length encoded 4- and 8-bit images (always bottom-up).  Pixels the
// runs leave out keep palette colour 0; runs past the row end are cut off.
bool DecodeRunLength(const uint8_t* src, size_t avail, bool four, const uint32_t* palette, ZVImage* out,
                     std::string* error) {
    const size_t width = (size_t)out->width, height = (size_t)out->height;
    for (size_t i = 0, n = width * height; i < n; ++i) PutBGRA(&out->pixels[i * 4], palette[0]);
    size_t pos = 0, x = 0, y = 0;
    for (;;) {
        if (y >= height) return true;
        if (avail - pos < 2) return Fail(error, "BMP: file truncated (run-length data)");
        const unsigned a = src[pos], b = src[pos + 1];
        pos += 2;
        uint8_t* row = out->pixels.data() + (height - 1 - y) * width * 4;
        if (a > 0) {
            const size_t end = x + a < width ? x + a : width;
            if (four) {
                const uint32_t c0 = palette[b >> 4], c1 = palette[b & 15];
                for (size_t i = 0; x + i < end; ++i) PutBGRA(row + (x + i) * 4, (i & 1) ? c1 : c0);
            } else {
                const uint32_t c = palette[b];
                for (size_t i = x; i < end; ++i) PutBGRA(row + i * 4, c);
            }
            x += a;
        } else if (b == 0) {
            x = 0;
            ++y;
        } else if (b == 1) {
            return true;
        } else if (b == 2) {
            if (avail - pos < 2) return Fail(error, "BMP: file truncated (run-length data)");
            x += src[pos];
            y += src[pos + 1];
            pos += 2;
        } else {
            const size_t bytes = four ? (b + 1u) / 2u : b;
            const size_t padded = (bytes + 1u) & ~size_t(1);
            if (avail - pos < bytes) return Fail(error, "BMP: file truncated (run-length data)");
            const uint8_t* s = src + pos;
            for (size_t i = 0; i < b && x + i < width; ++i) {
                const unsigned index = four ? ((i & 1) ? (s[i >> 1] & 15) : (s[i >> 1] >> 4)) : s[i];
                PutBGRA(row + (x + i) * 4, palette[index]);
            }
            x += b;
            pos += padded < avail - pos ? padded : avail - pos;
        }
    }
}

}  // namespace

bool DecodeBMP(const uint8_t* d, size_t size, ZVImage* out, std::string* error) {
    BmpInfo info;
    if (!ParseInfo(d, size, &info, error)) return false;
    const bool topDown = info.height < 0;
    const int64_t height = topDown ? -info.height : info.height;
    if (!CheckDimensions("BMP", info.width, height, error)) return false;

    const unsigned bits = info.bits;
    const uint32_t comp = info.compression;
    const bool paletted = bits == 1 || bits == 4 || bits == 8;
    if (!paletted && bits != 16 && bits != 24 && bits != 32)
        return Fail(error, "BMP: unsupported pixel size of " + std::to_string(bits) + " bits");
    const bool rle = comp == kRLE8 || comp == kRLE4;
    if (comp == kRLE8 && bits != 8) return Fail(error, "BMP: RLE8 compression needs 8 bits per pixel");
    if (comp == kRLE4 && bits != 4) return Fail(error, "BMP: RLE4 compression needs 4 bits per pixel");
    if ((comp == kBitFields || comp == kAlphaBitFields) && bits != 16 && bits != 32)
        return Fail(error, "BMP: bit fields need 16 or 32 bits per pixel");
    if (comp != kRGB && !rle && comp != kBitFields && comp != kAlphaBitFields)
        return Fail(error, "BMP: unsupported compression " + std::to_string(comp));
    if (rle && topDown) return Fail(error, "BMP: a run-length encoded image cannot be top-down");

    const size_t offset = ReadU32(d + 10);
    uint32_t palette[256];
    if (paletted && !ReadPalette(d, size, info, offset, palette, error)) return false;

    if (offset >= size) return Fail(error, "BMP: file truncated (no pixel data)");
    const uint8_t* src = d + offset;
    const size_t avail = size - offset;
    const size_t width = (size_t)info.width, rows = (size_t)height;

    if (rle) {
        // A two-byte code gives at most 255 pixels, which bounds the size a
        // short file can claim.  (Files that skip most of their pixels with
        // end-of-line and delta codes can exceed this; they are refused.)
        if ((uint64_t)width * rows > (uint64_t)avail * 128u + width)
            return Fail(error, "BMP: image too large for its run-length data");
        Allocate(out, (int)width, (int)rows);
        return DecodeRunLength(src, avail, comp == kRLE4, palette, out, error);
    }

    const size_t stride = ((width * bits + 31) / 32) * 4;
    const size_t lastRow = (width * bits + 7) / 8;
    if (avail < lastRow || (avail - lastRow) / stride < rows - 1)
        return Fail(error, "BMP: file truncated (pixel data)");

    Channel ch[4];
    if (bits == 16 || bits == 32) {
        uint32_t masks[4] = {info.masks[0], info.masks[1], info.masks[2], info.masks[3]};
        if (comp == kRGB) {
            if (bits == 16) {
                masks[0] = 0x7C00;
                masks[1] = 0x03E0;
                masks[2] = 0x001F;
            } else {
                masks[0] = 0x00FF0000;
                masks[1] = 0x0000FF00;
                masks[2] = 0x000000FF;
            }
            masks[3] = 0;
        }
        if (bits == 16)
            for (uint32_t& m : masks) m &= 0xFFFFu;
        for (int i = 0; i < 4; ++i) ch[i].Init(masks[i]);
    }
    const bool plain32 = bits == 32 && ch[0].mask == 0x00FF0000u && ch[1].mask == 0x0000FF00u &&
                         ch[2].mask == 0x000000FFu && (ch[3].mask == 0 || ch[3].mask == 0xFF000000u);

    Allocate(out, (int)width, (int)rows);
    out->hasAlpha = (bits == 16 || bits == 32) && ch[3].mask != 0;
    for (size_t row = 0; row < rows; ++row) {
        const uint8_t* s = src + row * stride;
        uint8_t* p = out->pixels.data() + (topDown ? row : rows - 1 - row) * width * 4;
        switch (bits) {
        case 1:
            for (size_t x = 0; x < width; ++x, p += 4)
                PutBGRA(p, palette[(s[x >> 3] >> (7 - (x & 7))) & 1]);
            break;
        case 4:
            for (size_t x = 0; x < width; ++x, p += 4)
                PutBGRA(p, palette[(x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4)]);
            break;
        case 8:
            for (size_t x = 0; x < width; ++x, p += 4) PutBGRA(p, palette[s[x]]);
            break;
        case 24:
            for (size_t x = 0; x < width; ++x, p += 4, s += 3) {
                p[0] = s[0];
                p[1] = s[1];
                p[2] = s[2];
                p[3] = 255;
            }
            break;
        case 32:
            if (plain32) {
                std::memcpy(p, s, width * 4);
                if (!ch[3].mask)
                    for (size_t x = 0; x < width; ++x) p[x * 4 + 3] = 255;
                break;
            }
            for (size_t x = 0; x < width; ++x, p += 4, s += 4) {
                const uint32_t v = ReadU32(s);
                p[0] = ch[2].Get(v, 0);
                p[1] = ch[1].Get(v, 0);
                p[2] = ch[0].Get(v, 0);
                p[3] = ch[3].Get(v, 255);
            }
            break;
        default:  // 16
            for (size_t x = 0; x < width; ++x, p += 4, s += 2) {
                const uint32_t v = ReadU16(s);
                p[0] = ch[2].Get(v, 0);
                p[1] = ch[1].Get(v, 0);
                p[2] = ch[0].Get(v, 0);
                p[3] = ch[3].Get(v, 255);
            }
            break;
        }
    }
    return true;
}

}  // namespace zvimage
