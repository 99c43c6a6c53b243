// Image writers: TGA and BMP by hand, PNG on libpng, JPEG on libjpeg.
#include "zvimagewriters.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace zvtools {

namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back((uint8_t)x);
    v.push_back((uint8_t)(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}
void Set32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = (uint8_t)(x >> (8 * i));
}

inline uint32_t Pixel(const uint8_t* bgra, size_t i) {
    const uint8_t* p = bgra + i * 4;
    return p[0] | (p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// Distinct colours of the image in first-seen order, or false when there are
// more than maxColours.  index receives each pixel's palette index.
bool BuildPalette(size_t count, const uint8_t* bgra, bool withAlpha, size_t maxColours,
                  std::vector<uint32_t>* palette, std::vector<uint32_t>* index) {
    std::map<uint32_t, uint32_t> seen;
    palette->clear();
    index->resize(count);
    const uint32_t keep = withAlpha ? 0xFFFFFFFFu : 0x00FFFFFFu;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t c = Pixel(bgra, i) & keep;
        auto it = seen.find(c);
        if (it == seen.end()) {
            if (palette->size() >= maxColours) return false;
            it = seen.emplace(c, (uint32_t)palette->size()).first;
            palette->push_back(c);
        }
        (*index)[i] = it->second;
    }
    return true;
}

// A 5-5-5 word with the top bit set from alpha.
inline uint32_t To16(uint32_t c) {
    const uint32_t b = (c & 0xFF) >> 3, g = ((c >> 8) & 0xFF) >> 3, r = ((c >> 16) & 0xFF) >> 3;
    return b | (g << 5) | (r << 10) | ((c >> 31) << 15);
}

void PutTgaValue(std::vector<uint8_t>& out, uint32_t c, int bits) {
    switch (bits) {
    case 8: out.push_back((uint8_t)c); break;
    case 15:
    case 16: Put16(out, bits == 15 ? (To16(c) & 0x7FFF) : To16(c)); break;
    case 24:
        out.push_back((uint8_t)c);
        out.push_back((uint8_t)(c >> 8));
        out.push_back((uint8_t)(c >> 16));
        break;
    default: Put32(out, c); break;
    }
}

}  // namespace

std::vector<uint8_t> EncodeTGA(int width, int height, const uint8_t* bgra, const TgaOptions& o) {
    std::vector<uint8_t> out;
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535 || o.id.size() > 255) return out;
    const size_t w = (size_t)width, h = (size_t)height, count = w * h;

    // The values as written to the file (palette indices, grey or colours),
    // in file order, and the size of one value.
    std::vector<uint32_t> values(count);
    std::vector<uint32_t> palette;
    int valueBits = o.bits;
    unsigned type = 2;
    if (o.kind == TgaOptions::ColourMapped) {
        type = 1;
        if (o.bits != 8 && o.bits != 16) return {};
        std::vector<uint32_t> index;
        const size_t maxColours = (o.bits == 8 ? 256u : 65536u) - (size_t)o.mapFirst;
        if (!BuildPalette(count, bgra, o.mapBits == 32 || o.mapBits == 16, maxColours, &palette, &index)) return {};
        for (size_t i = 0; i < count; ++i) values[i] = index[i] + (uint32_t)o.mapFirst;
    } else if (o.kind == TgaOptions::Grey) {
        type = 3;
        if (o.bits != 8 && o.bits != 16) return {};
        for (size_t i = 0; i < count; ++i) {
            const uint32_t c = Pixel(bgra, i);
            values[i] = ((c >> 8) & 0xFF) | (o.bits == 16 ? ((c >> 24) << 8) : 0u);
        }
        valueBits = o.bits == 16 ? 15 : 8;  // two bytes, written as a plain 16-bit word below
    } else {
        if (o.bits != 15 && o.bits != 16 && o.bits != 24 && o.bits != 32) return {};
        for (size_t i = 0; i < count; ++i) values[i] = Pixel(bgra, i);
    }
    // Reorder into file order.
    std::vector<uint32_t> ordered(count);
    for (size_t fy = 0; fy < h; ++fy) {
        const size_t y = o.topDown ? fy : h - 1 - fy;
        for (size_t fx = 0; fx < w; ++fx) {
            const size_t x = o.rightToLeft ? w - 1 - fx : fx;
            ordered[fy * w + fx] = values[y * w + x];
        }
    }

    const int attribute = o.attributeBits >= 0 ? o.attributeBits
                          : (o.kind == TgaOptions::TrueColour && o.bits == 32) ? 8
                          : (o.kind == TgaOptions::TrueColour && o.bits == 16) ? 1
                          : (o.kind == TgaOptions::ColourMapped && o.mapBits == 32) ? 8
                          : (o.kind == TgaOptions::ColourMapped && o.mapBits == 16) ? 1
                          : (o.kind == TgaOptions::Grey && o.bits == 16) ? 8 : 0;
    out.push_back((uint8_t)o.id.size());
    out.push_back(type == 1 ? 1 : 0);
    out.push_back((uint8_t)(type + (o.rle ? 8 : 0)));
    Put16(out, type == 1 ? (uint32_t)o.mapFirst : 0);
    Put16(out, type == 1 ? (uint32_t)palette.size() : 0);
    out.push_back(type == 1 ? (uint8_t)o.mapBits : 0);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, (uint32_t)w);
    Put16(out, (uint32_t)h);
    out.push_back((uint8_t)o.bits);
    out.push_back((uint8_t)((attribute & 15) | (o.rightToLeft ? 0x10 : 0) | (o.topDown ? 0x20 : 0)));
    out.insert(out.end(), o.id.begin(), o.id.end());
    for (uint32_t c : palette) PutTgaValue(out, c, o.mapBits);

    auto put = [&](uint32_t v) {
        if (type == 3 && o.bits == 16)
            Put16(out, v);
        else if (type == 1)
            (o.bits == 8) ? out.push_back((uint8_t)v) : Put16(out, v);
        else
            PutTgaValue(out, v, valueBits);
    };
    if (!o.rle) {
        for (uint32_t v : ordered) put(v);
        return out;
    }
    // Run-length packets: runs of 2 or more equal values, raw packets otherwise.
    const size_t span = o.rleAcrossRows ? count : w;
    for (size_t start = 0; start < count; start += span) {
        const size_t end = start + span;
        size_t i = start;
        while (i < end) {
            size_t run = 1;
            while (i + run < end && run < 128 && ordered[i + run] == ordered[i]) ++run;
            if (run >= 2) {
                out.push_back((uint8_t)(0x80 | (run - 1)));
                put(ordered[i]);
                i += run;
                continue;
            }
            size_t raw = 1;
            while (i + raw < end && raw < 128 && !(i + raw + 1 < end && ordered[i + raw] == ordered[i + raw + 1]))
                ++raw;
            out.push_back((uint8_t)(raw - 1));
            for (size_t k = 0; k < raw; ++k) put(ordered[i + k]);
            i += raw;
        }
    }
    return out;
}

namespace {

struct MaskChannel {
    uint32_t mask = 0;
    unsigned shift = 0, bits = 0;
    explicit MaskChannel(uint32_t m) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1u)) ++shift;
        for (uint32_t v = m >> shift; v; v >>= 1) ++bits;
    }
    uint32_t Encode(uint32_t value8) const {
        if (!mask) return 0;
        const uint64_t maxValue = (bits >= 32) ? 0xFFFFFFFFull : ((1ull << bits) - 1);
        return (uint32_t)(((value8 * maxValue + 127) / 255) << shift) & mask;
    }
};

// RLE8 / RLE4 rows: runs of equal indices, absolute runs (3 or more) otherwise.
void EncodeRunLengthRow(std::vector<uint8_t>& out, const uint32_t* idx, size_t w, bool four) {
    size_t i = 0;
    while (i < w) {
        size_t run = 1;
        while (i + run < w && run < 255 && idx[i + run] == idx[i]) ++run;
        if (run >= 3 || w - i < 3) {
            out.push_back((uint8_t)run);
            out.push_back(four ? (uint8_t)((idx[i] << 4) | idx[i]) : (uint8_t)idx[i]);
            i += run;
            continue;
        }
        size_t lit = 1;
        while (i + lit < w && lit < 255 && !(i + lit + 2 < w && idx[i + lit] == idx[i + lit + 1] &&
                                             idx[i + lit] == idx[i + lit + 2]))
            ++lit;
        if (lit < 3) {
            for (size_t k = 0; k < lit; ++k) {
                out.push_back(1);
                out.push_back(four ? (uint8_t)(idx[i + k] << 4) : (uint8_t)idx[i + k]);
            }
            i += lit;
            continue;
        }
        out.push_back(0);
        out.push_back((uint8_t)lit);
        size_t bytes = 0;
        if (four) {
            for (size_t k = 0; k < lit; k += 2, ++bytes)
                out.push_back((uint8_t)((idx[i + k] << 4) | (k + 1 < lit ? idx[i + k + 1] : 0)));
        } else {
            for (size_t k = 0; k < lit; ++k, ++bytes) out.push_back((uint8_t)idx[i + k]);
        }
        if (bytes & 1) out.push_back(0);
        i += lit;
    }
    out.push_back(0);
    out.push_back(0);
}

}  // namespace

std::vector<uint8_t> EncodeBMP(int width, int height, const uint8_t* bgra, const BmpOptions& o) {
    if (width <= 0 || height <= 0) return {};
    const size_t w = (size_t)width, h = (size_t)height, count = w * h;
    const int bits = o.bits;
    const bool paletted = bits == 1 || bits == 4 || bits == 8;
    if (!paletted && bits != 16 && bits != 24 && bits != 32) return {};
    const bool core = o.headerSize == 12;
    if (o.headerSize != 12 && o.headerSize != 40 && o.headerSize != 108 && o.headerSize != 124) return {};
    if (o.compression == BmpOptions::RLE && (bits != 4 && bits != 8)) return {};
    if (o.compression == BmpOptions::BitFields && (bits != 16 && bits != 32)) return {};
    if (core && (o.compression != BmpOptions::RGB || w > 65535 || h > 32767 || o.topDown)) return {};

    std::vector<uint32_t> palette, index;
    if (paletted && !BuildPalette(count, bgra, false, (size_t)1 << bits, &palette, &index)) return {};

    uint32_t masks[4] = {o.masks[0], o.masks[1], o.masks[2], o.masks[3]};
    if (o.compression == BmpOptions::BitFields && !masks[0] && !masks[1] && !masks[2] && !masks[3]) {
        if (bits == 16) {
            masks[0] = 0xF800;
            masks[1] = 0x07E0;
            masks[2] = 0x001F;
        } else {
            masks[0] = 0x00FF0000;
            masks[1] = 0x0000FF00;
            masks[2] = 0x000000FF;
            masks[3] = 0xFF000000;
        }
    }
    if (o.compression == BmpOptions::BitFields && o.headerSize == 40) masks[3] = 0;
    if (bits == 16 && o.compression == BmpOptions::RGB) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
        masks[3] = 0;
    }
    const MaskChannel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);

    // Pixel rows in file order.
    std::vector<uint8_t> pixels;
    const size_t stride = ((w * bits + 31) / 32) * 4;
    for (size_t fy = 0; fy < h; ++fy) {
        const size_t y = o.topDown ? fy : h - 1 - fy;
        if (o.compression == BmpOptions::RLE) {
            EncodeRunLengthRow(pixels, index.data() + y * w, w, bits == 4);
            continue;
        }
        std::vector<uint8_t> row(stride, 0);
        for (size_t x = 0; x < w; ++x) {
            const uint32_t c = Pixel(bgra, y * w + x);
            switch (bits) {
            case 1: row[x >> 3] |= (uint8_t)(index[y * w + x] << (7 - (x & 7))); break;
            case 4: row[x >> 1] |= (uint8_t)(index[y * w + x] << ((x & 1) ? 0 : 4)); break;
            case 8: row[x] = (uint8_t)index[y * w + x]; break;
            case 24:
                row[x * 3] = (uint8_t)c;
                row[x * 3 + 1] = (uint8_t)(c >> 8);
                row[x * 3 + 2] = (uint8_t)(c >> 16);
                break;
            default: {
                uint32_t v;
                if (bits == 32 && o.compression == BmpOptions::RGB) {
                    v = c & 0x00FFFFFFu;  // the fourth byte is unused and left 0
                } else {
                    v = red.Encode((c >> 16) & 0xFF) | green.Encode((c >> 8) & 0xFF) | blue.Encode(c & 0xFF) |
                        alpha.Encode(c >> 24);
                }
                for (int k = 0; k < bits / 8; ++k) row[x * (bits / 8) + k] = (uint8_t)(v >> (8 * k));
                break;
            }
            }
        }
        pixels.insert(pixels.end(), row.begin(), row.end());
    }
    if (o.compression == BmpOptions::RLE) {
        pixels.push_back(0);
        pixels.push_back(1);
    }

    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 0);  // file size, set below
    Put32(out, 0);
    Put32(out, 0);  // pixel offset, set below
    Put32(out, (uint32_t)o.headerSize);
    if (core) {
        Put16(out, (uint32_t)w);
        Put16(out, (uint32_t)h);
        Put16(out, 1);
        Put16(out, (uint32_t)bits);
    } else {
        const uint32_t compression = o.compression == BmpOptions::RLE ? (bits == 8 ? 1u : 2u)
                                     : o.compression == BmpOptions::BitFields ? 3u : 0u;
        Put32(out, (uint32_t)w);
        Put32(out, o.topDown ? (uint32_t)(-(int32_t)h) : (uint32_t)h);
        Put16(out, 1);
        Put16(out, (uint32_t)bits);
        Put32(out, compression);
        Put32(out, (uint32_t)pixels.size());
        Put32(out, 2835);
        Put32(out, 2835);
        Put32(out, (uint32_t)palette.size());
        Put32(out, 0);
        if (o.headerSize > 40) {
            for (uint32_t m : masks) Put32(out, o.compression == BmpOptions::BitFields ? m : 0u);
            Put32(out, 0x73524742);  // 'sRGB'
            out.resize(14 + (size_t)o.headerSize, 0);
        } else if (o.compression == BmpOptions::BitFields) {
            for (int i = 0; i < 3; ++i) Put32(out, masks[i]);
        }
    }
    // The old OS/2 header has no colour count: its palette is always full.
    if (core && paletted) palette.resize((size_t)1 << bits, 0);
    for (uint32_t c : palette) {
        out.push_back((uint8_t)c);
        out.push_back((uint8_t)(c >> 8));
        out.push_back((uint8_t)(c >> 16));
        if (!core) out.push_back(0);
    }
    Set32(out, 10, (uint32_t)out.size());
    out.insert(out.end(), pixels.begin(), pixels.end());
    Set32(out, 2, (uint32_t)out.size());
    return out;
}

namespace {

struct PngWriteState {
    std::vector<uint8_t>* out = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<png_bytep> rows;
    std::vector<uint8_t> samples;
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
};

void PngWriteData(png_structp png, png_bytep data, png_size_t length) {
    auto* st = static_cast<PngWriteState*>(png_get_io_ptr(png));
    st->out->insert(st->out->end(), data, data + length);
}
void PngFlush(png_structp) {}
void PngWriteError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWriteWarning(png_structp, png_const_charp) {}

bool PngWriteGuarded(PngWriteState* st, int width, int height, int depth, int colourType, bool interlaced) {
    if (setjmp(png_jmpbuf(st->png))) return false;
    png_set_write_fn(st->png, st, PngWriteData, PngFlush);
    png_set_IHDR(st->png, st->info, (png_uint_32)width, (png_uint_32)height, depth, colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!st->palette.empty()) png_set_PLTE(st->png, st->info, st->palette.data(), (int)st->palette.size());
    if (!st->paletteAlpha.empty())
        png_set_tRNS(st->png, st->info, st->paletteAlpha.data(), (int)st->paletteAlpha.size(), nullptr);
    png_write_info(st->png, st->info);
    png_write_image(st->png, st->rows.data());
    png_write_end(st->png, st->info);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodePNG(int width, int height, const uint8_t* bgra, const PngOptions& o) {
    if (width <= 0 || height <= 0) return {};
    const size_t w = (size_t)width, h = (size_t)height, count = w * h;
    const int d = o.depth;
    int colourType = 0, channels = 1;
    switch (o.kind) {
    case PngOptions::Grey:
        colourType = PNG_COLOR_TYPE_GRAY;
        if (d != 1 && d != 2 && d != 4 && d != 8 && d != 16) return {};
        break;
    case PngOptions::GreyAlpha:
        colourType = PNG_COLOR_TYPE_GRAY_ALPHA;
        channels = 2;
        if (d != 8 && d != 16) return {};
        break;
    case PngOptions::Palette:
        colourType = PNG_COLOR_TYPE_PALETTE;
        if (d != 1 && d != 2 && d != 4 && d != 8) return {};
        break;
    case PngOptions::RGB:
        colourType = PNG_COLOR_TYPE_RGB;
        channels = 3;
        if (d != 8 && d != 16) return {};
        break;
    default:
        colourType = PNG_COLOR_TYPE_RGB_ALPHA;
        channels = 4;
        if (d != 8 && d != 16) return {};
        break;
    }

    PngWriteState st;
    std::vector<uint32_t> index;
    if (o.kind == PngOptions::Palette) {
        std::vector<uint32_t> colours;
        if (!BuildPalette(count, bgra, o.paletteAlpha, (size_t)1 << d, &colours, &index)) return {};
        for (uint32_t c : colours) {
            st.palette.push_back(png_color{(png_byte)(c >> 16), (png_byte)(c >> 8), (png_byte)c});
            if (o.paletteAlpha) st.paletteAlpha.push_back((png_byte)(c >> 24));
        }
    }

    // Samples packed as PNG stores them, big-endian and MSB-first.
    const size_t rowBytes = (w * channels * d + 7) / 8;
    st.samples.assign(rowBytes * h, 0);
    for (size_t y = 0; y < h; ++y) {
        uint8_t* row = st.samples.data() + y * rowBytes;
        size_t bitPos = 0;
        for (size_t x = 0; x < w; ++x) {
            const uint32_t c = Pixel(bgra, y * w + x);
            uint32_t s[4];
            switch (o.kind) {
            case PngOptions::Grey: s[0] = (c >> 8) & 0xFF; break;
            case PngOptions::GreyAlpha:
                s[0] = (c >> 8) & 0xFF;
                s[1] = c >> 24;
                break;
            case PngOptions::Palette: s[0] = index[y * w + x]; break;
            default:
                s[0] = (c >> 16) & 0xFF;
                s[1] = (c >> 8) & 0xFF;
                s[2] = c & 0xFF;
                s[3] = c >> 24;
                break;
            }
            for (int k = 0; k < channels; ++k) {
                uint32_t v = s[k];
                if (o.kind != PngOptions::Palette) v = d == 16 ? v * 257u : v >> (8 - (d < 8 ? d : 8));
                if (d == 16) {
                    row[bitPos / 8] = (uint8_t)(v >> 8);
                    row[bitPos / 8 + 1] = (uint8_t)v;
                } else {
                    row[bitPos / 8] |= (uint8_t)(v << (8 - d - (bitPos % 8)));
                }
                bitPos += (size_t)d;
            }
        }
    }
    st.rows.resize(h);
    for (size_t y = 0; y < h; ++y) st.rows[y] = st.samples.data() + y * rowBytes;

    std::vector<uint8_t> out;
    st.out = &out;
    st.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngWriteError, PngWriteWarning);
    if (!st.png) return {};
    st.info = png_create_info_struct(st.png);
    const bool ok = st.info && PngWriteGuarded(&st, width, height, d, colourType, o.interlaced);
    png_destroy_write_struct(&st.png, st.info ? &st.info : nullptr);
    if (!ok) out.clear();
    return out;
}

std::vector<uint8_t> AddPNGChunk(std::vector<uint8_t> png, const char (&type)[5], const std::vector<uint8_t>& data,
                                 int64_t declaredLength) {
    const size_t afterHeader = 8 + 12 + 13;  // signature, then IHDR with its 13 bytes of data
    if (png.size() < afterHeader) return png;
    const uint32_t length = declaredLength >= 0 ? (uint32_t)declaredLength : (uint32_t)data.size();
    std::vector<uint8_t> chunk;
    for (int i = 0; i < 4; ++i) chunk.push_back((uint8_t)(length >> (24 - 8 * i)));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uint32_t crc = (uint32_t)crc32(0, chunk.data() + 4, (uInt)(chunk.size() - 4));
    for (int i = 0; i < 4; ++i) chunk.push_back((uint8_t)(crc >> (24 - 8 * i)));
    png.insert(png.begin() + (std::ptrdiff_t)afterHeader, chunk.begin(), chunk.end());
    return png;
}

namespace {

struct JpegWriteState {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    jmp_buf jump;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    bool created = false;
};

void JpegWriteError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegWriteState*>(cinfo)->jump, 1);
}

bool JpegWriteGuarded(JpegWriteState* st, int width, int height, const uint8_t* samples, const JpegOptions& o) {
    if (setjmp(st->jump)) return false;
    jpeg_create_compress(&st->cinfo);
    st->created = true;
    jpeg_mem_dest(&st->cinfo, &st->buffer, &st->size);
    st->cinfo.image_width = (JDIMENSION)width;
    st->cinfo.image_height = (JDIMENSION)height;
    st->cinfo.input_components = o.grey ? 1 : o.cmyk ? 4 : 3;
    st->cinfo.in_color_space = o.grey ? JCS_GRAYSCALE : o.cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&st->cinfo);
    jpeg_set_quality(&st->cinfo, o.quality, TRUE);
    if (o.progressive) jpeg_simple_progression(&st->cinfo);
    jpeg_start_compress(&st->cinfo, TRUE);
    const size_t rowBytes = (size_t)width * (o.grey ? 1 : o.cmyk ? 4 : 3);
    while (st->cinfo.next_scanline < st->cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(samples) + st->cinfo.next_scanline * rowBytes;
        jpeg_write_scanlines(&st->cinfo, &row, 1);
    }
    jpeg_finish_compress(&st->cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeJPEG(int width, int height, const uint8_t* bgra, const JpegOptions& o) {
    if (width <= 0 || height <= 0 || width > 65500 || height > 65500) return {};
    const size_t count = (size_t)width * (size_t)height;
    std::vector<uint8_t> samples;
    samples.reserve(count * 4);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = bgra + i * 4;
        if (o.grey) {
            samples.push_back(p[1]);
        } else {
            samples.push_back(p[2]);
            samples.push_back(p[1]);
            samples.push_back(p[0]);
            if (o.cmyk) samples.push_back(255);
        }
    }
    JpegWriteState st;
    std::memset(&st.cinfo, 0, sizeof(st.cinfo));
    st.cinfo.err = jpeg_std_error(&st.err);
    st.err.error_exit = JpegWriteError;
    const bool ok = JpegWriteGuarded(&st, width, height, samples.data(), o);
    std::vector<uint8_t> out;
    if (ok && st.buffer) out.assign(st.buffer, st.buffer + st.size);
    if (st.created) jpeg_destroy_compress(&st.cinfo);
    std::free(st.buffer);
    return out;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

bool WriteTGA(const std::string& path, int width, int height, const uint8_t* bgra, const TgaOptions& options) {
    const std::vector<uint8_t> bytes = EncodeTGA(width, height, bgra, options);
    return !bytes.empty() && WriteBytes(path, bytes);
}

}  // namespace zvtools
