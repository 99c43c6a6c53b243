// JPEG decoder on libjpeg: grey, YCbCr/RGB and CMYK/YCCK images become BGRA.
//
// libjpeg reports errors through error_exit, which longjmps into
// DecodeGuarded.  The frames it can skip (libjpeg's, the source callbacks,
// DecodeSteps) hold only plain data; C++ objects live in JpegState.
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>

#include "zvimagecodecs.h"

namespace zvimage {

namespace {

struct JpegState {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errorManager;
    jpeg_source_mgr source;
    jmp_buf jump;
    bool created = false;
    const uint8_t* data = nullptr;
    size_t size = 0;
    ZVImage* out = nullptr;
    char message[JMSG_LENGTH_MAX + 32] = {};
};

// cinfo is the first member, so the decoder's pointer leads back to the state.
JpegState* StateOf(j_common_ptr cinfo) { return reinterpret_cast<JpegState*>(cinfo); }
JpegState* StateOf(j_decompress_ptr cinfo) { return reinterpret_cast<JpegState*>(cinfo); }

void OnErrorExit(j_common_ptr cinfo) {
    JpegState* st = StateOf(cinfo);
    char text[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, text);
    std::snprintf(st->message, sizeof(st->message), "%s", text);
    std::longjmp(st->jump, 1);
}

// Warnings (corrupt but decodable data) are not printed.
void OnMessage(j_common_ptr, int) {}

void InitSource(j_decompress_ptr) {}

// All data was handed over at once; being asked for more means the file ends
// before the image does.
boolean FillInput(j_decompress_ptr cinfo) {
    JpegState* st = StateOf(cinfo);
    std::snprintf(st->message, sizeof(st->message), "file truncated");
    std::longjmp(st->jump, 1);
}

void SkipInput(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    if ((size_t)count > src->bytes_in_buffer) {
        src->next_input_byte += src->bytes_in_buffer;
        src->bytes_in_buffer = 0;
        FillInput(cinfo);
        return;
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= (size_t)count;
}

void TermSource(j_decompress_ptr) {}

void DecodeSteps(JpegState* st) {
    j_decompress_ptr cinfo = &st->cinfo;
    jpeg_create_decompress(cinfo);
    st->created = true;
    st->source.init_source = InitSource;
    st->source.fill_input_buffer = FillInput;
    st->source.skip_input_data = SkipInput;
    st->source.resync_to_restart = jpeg_resync_to_restart;
    st->source.term_source = TermSource;
    st->source.next_input_byte = st->data;
    st->source.bytes_in_buffer = st->size;
    cinfo->src = &st->source;

    jpeg_read_header(cinfo, TRUE);
    const uint64_t width = cinfo->image_width, height = cinfo->image_height;
    if (width == 0 || height == 0 || width > (uint64_t)kMaxDimension || height > (uint64_t)kMaxDimension) {
        std::snprintf(st->message, sizeof(st->message), "image size %llu x %llu out of range",
                      (unsigned long long)width, (unsigned long long)height);
        std::longjmp(st->jump, 1);
    }
    // Entropy-coded data needs at least a fraction of a bit per 8x8 block,
    // so a short file cannot hold a huge image: refuse before allocating.
    if (width * height > (uint64_t)st->size * 2048u + 65536u) {
        std::snprintf(st->message, sizeof(st->message), "image too large for its data (truncated?)");
        std::longjmp(st->jump, 1);
    }

    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_width != width || cinfo->output_height != height || cinfo->output_components != 4) {
        std::snprintf(st->message, sizeof(st->message), "unexpected output layout");
        std::longjmp(st->jump, 1);
    }

    Allocate(st->out, (int)width, (int)height);
    st->out->hasAlpha = false;
    // Adobe writes CMYK inverted (255 = no ink).
    const bool inverted = cinfo->saw_Adobe_marker != 0;
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = st->out->pixels.data() + (size_t)cinfo->output_scanline * (size_t)width * 4;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
            std::snprintf(st->message, sizeof(st->message), "file truncated");
            std::longjmp(st->jump, 1);
        }
        if (cmyk) {
            uint8_t* p = row;
            for (uint64_t x = 0; x < width; ++x, p += 4) {
                unsigned c = p[0], m = p[1], y = p[2], k = p[3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    y = 255 - y;
                    k = 255 - k;
                }
                p[0] = (uint8_t)((y * k + 127) / 255);
                p[1] = (uint8_t)((m * k + 127) / 255);
                p[2] = (uint8_t)((c * k + 127) / 255);
                p[3] = 255;
            }
        }
    }
}

bool DecodeGuarded(JpegState* st) {
    if (setjmp(st->jump)) return false;
    DecodeSteps(st);
    return true;
}

}  // namespace

bool DecodeJPEG(const uint8_t* data, size_t size, ZVImage* out, std::string* error) {
    JpegState st;
    std::memset(&st.cinfo, 0, sizeof(st.cinfo));
    st.data = data;
    st.size = size;
    st.out = out;
    st.cinfo.err = jpeg_std_error(&st.errorManager);
    st.errorManager.error_exit = OnErrorExit;
    st.errorManager.emit_message = OnMessage;
    const bool ok = DecodeGuarded(&st);
    if (st.created) jpeg_destroy_decompress(&st.cinfo);
    if (!ok) return Fail(error, std::string("JPEG: ") + st.message);
    return true;
}

}  // namespace zvimage
