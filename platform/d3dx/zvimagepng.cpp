// PNG decoder on libpng: every colour type and bit depth becomes 8-bit BGRA.
//
// libpng reports errors by longjmp.  The jump lands in DecodeGuarded, and
// everything it can skip (libpng's frames, ReadData, DecodeSteps) holds only
// plain data; the C++ objects live in PngState, owned by the caller.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "zvimagecodecs.h"

namespace zvimage {

namespace {

struct PngState {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    png_structp png = nullptr;
    png_infop info = nullptr;
    ZVImage* out = nullptr;
    std::vector<png_bytep> rows;
    char message[200] = {};
};

void OnError(png_structp png, png_const_charp text) {
    PngState* st = static_cast<PngState*>(png_get_error_ptr(png));
    std::snprintf(st->message, sizeof(st->message), "%s", text ? text : "unknown error");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// libpng's blocks come from operator new, as the decoder's own do, so that
// one accounting covers all the memory a decode takes.
png_voidp PngAllocate(png_structp, png_alloc_size_t size) { return ::operator new(size, std::nothrow); }
void PngRelease(png_structp, png_voidp block) { ::operator delete(block); }

void ReadData(png_structp png, png_bytep dst, png_size_t length) {
    PngState* st = static_cast<PngState*>(png_get_io_ptr(png));
    if (length > st->size - st->pos) png_error(png, "file truncated");
    std::memcpy(dst, st->data + st->pos, length);
    st->pos += length;
}

void DecodeSteps(PngState* st) {
    png_structp png = st->png;
    png_infop info = st->info;
    png_set_read_fn(png, st, ReadData);
    png_set_user_limits(png, (png_uint_32)kMaxDimension, (png_uint_32)kMaxDimension);
    // Only the header, palette, transparency and image data make the pixels.
    // Every other chunk (text, colour profiles, suggested palettes, private
    // chunks) is skipped unread: libpng would otherwise allocate what such a
    // chunk declares, up to 2 GB for a short file that lies about its length.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension)
        png_error(png, "image size out of range");

    // Deflate expands by at most about 1032:1, so a short file cannot hold
    // a huge image: refuse before allocating for it.
    const uint64_t rawBytes = (uint64_t)height * (1 + ((uint64_t)width * png_get_channels(png, info) * depth + 7) / 8);
    if (rawBytes > (uint64_t)st->size * 1100u + 4096u) png_error(png, "image too large for its data (truncated?)");

    const bool tRNS = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (tRNS) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_scale_16(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    const bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || tRNS;
    if (!alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != (size_t)width * 4) png_error(png, "unexpected row layout");

    Allocate(st->out, (int)width, (int)height);
    st->out->hasAlpha = alpha;
    st->rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) st->rows[y] = st->out->pixels.data() + (size_t)y * width * 4;
    png_read_image(png, st->rows.data());
    // Chunks after the image data are not needed: a file cut off after its
    // last image data is still a complete picture.
}

bool DecodeGuarded(PngState* st) {
    if (setjmp(png_jmpbuf(st->png))) return false;
    DecodeSteps(st);
    return true;
}

}  // namespace

bool DecodePNG(const uint8_t* data, size_t size, ZVImage* out, std::string* error) {
    PngState st;
    st.data = data;
    st.size = size;
    st.out = out;
    st.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &st, OnError, OnWarning, nullptr, PngAllocate, PngRelease);
    if (!st.png) return Fail(error, "PNG: cannot create the decoder");
    st.info = png_create_info_struct(st.png);
    bool ok = false;
    if (!st.info) {
        std::snprintf(st.message, sizeof(st.message), "cannot create the decoder");
    } else {
        ok = DecodeGuarded(&st);
    }
    png_destroy_read_struct(&st.png, st.info ? &st.info : nullptr, nullptr);
    if (!ok) return Fail(error, std::string("PNG: ") + st.message);
    return true;
}

}  // namespace zvimage
