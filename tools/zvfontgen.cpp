// zvfontgen: rasterises a monospaced TrueType font into the engine's font
// image, a square TGA holding a 16 x 16 grid of character cells.
//
//   zvfontgen <font.ttf> <out.tga> [cell pixels, default 32]
//
// Character code k (an unsigned byte) sits in column k % 16, row k / 16.
// Bytes are taken as Latin-1 (0x20-0x7E and 0xA0-0xFF are drawn; the control
// codes stay empty).  The font draws only the left 0.0425 / 0.0625 = 68 % of
// each cell's width, stretched to a square on screen, so every glyph is laid
// out inside that part: centred on its advance, the advance centred in the
// part, with one clear pixel on every side of the cell so that linear
// filtering does not pick up the neighbours.  The pixels are white with the
// glyph coverage in alpha.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "zvimagewriters.h"

namespace {

// The used part of a cell, as the font samples it.
int GlyphAreaWidth(int cell) { return (int)std::floor(cell * 0.0425 / 0.0625); }

bool Drawable(unsigned code) { return (code >= 0x20 && code <= 0x7E) || code >= 0xA0; }

struct Layout {
    int pixelSize;  // FreeType pixel size (em)
    int baseline;   // baseline row inside the cell
};

// The largest pixel size whose line (ascender to descender) fits the cell
// height and whose advance fits the glyph area, each less a one-pixel margin.
bool ChooseLayout(FT_Face face, int cell, Layout* out) {
    const int area = GlyphAreaWidth(cell);
    for (int size = cell; size >= 4; --size) {
        if (FT_Set_Pixel_Sizes(face, 0, (FT_UInt)size)) return false;
        const int ascender = (int)((face->size->metrics.ascender + 63) >> 6);
        const int descender = (int)((-face->size->metrics.descender + 63) >> 6);
        const int advance = (int)((face->size->metrics.max_advance + 63) >> 6);
        if (ascender + descender <= cell - 2 && advance <= area - 2) {
            out->pixelSize = size;
            out->baseline = 1 + ascender + (cell - 2 - ascender - descender) / 2;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <font.ttf> <out.tga> [cell pixels]\n", argv[0]);
        return 2;
    }
    const int cell = argc > 3 ? std::atoi(argv[3]) : 32;
    if (cell < 8 || cell > 256) {
        std::fprintf(stderr, "zvfontgen: cell size must lie in [8, 256]\n");
        return 2;
    }
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    if (FT_Init_FreeType(&library)) {
        std::fprintf(stderr, "zvfontgen: FreeType could not start\n");
        return 1;
    }
    if (FT_New_Face(library, argv[1], 0, &face)) {
        std::fprintf(stderr, "zvfontgen: cannot open font %s\n", argv[1]);
        FT_Done_FreeType(library);
        return 1;
    }
    Layout layout;
    if (!ChooseLayout(face, cell, &layout)) {
        std::fprintf(stderr, "zvfontgen: no pixel size fits a %d-pixel cell\n", cell);
        FT_Done_Face(face);
        FT_Done_FreeType(library);
        return 1;
    }
    FT_Set_Pixel_Sizes(face, 0, (FT_UInt)layout.pixelSize);

    const int side = cell * 16;
    const int area = GlyphAreaWidth(cell);
    // White everywhere; alpha 0 outside the glyphs.
    std::vector<uint8_t> bgra((size_t)side * side * 4, 0);
    for (size_t i = 0; i < bgra.size(); i += 4) bgra[i] = bgra[i + 1] = bgra[i + 2] = 255;

    int drawn = 0;
    for (unsigned code = 0; code < 256; ++code) {
        if (!Drawable(code)) continue;
        // Latin-1: the byte is the Unicode code point.
        const FT_UInt index = FT_Get_Char_Index(face, code);
        if (index == 0) continue;
        if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL))
            continue;
        const FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        const int advance = (int)((slot->advance.x + 32) >> 6);
        const int penX = 1 + (area - 2 - advance) / 2;
        const int left = penX + slot->bitmap_left;
        const int top = layout.baseline - slot->bitmap_top;
        const int cellX = (int)(code % 16) * cell, cellY = (int)(code / 16) * cell;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            const int y = top + (int)row;
            if (y < 1 || y >= cell - 1) continue;
            for (unsigned col = 0; col < bitmap.width; ++col) {
                const int x = left + (int)col;
                if (x < 1 || x >= area - 1) continue;
                const uint8_t coverage = bitmap.buffer[(std::ptrdiff_t)row * bitmap.pitch + (std::ptrdiff_t)col];
                bgra[((size_t)(cellY + y) * side + (cellX + x)) * 4 + 3] = coverage;
            }
        }
        ++drawn;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);

    if (!zvtools::WriteTGA(argv[2], side, side, bgra.data())) {
        std::fprintf(stderr, "zvfontgen: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("zvfontgen: %d glyphs, %d-pixel cells, pixel size %d -> %s\n", drawn, cell, layout.pixelSize,
                argv[2]);
    return 0;
}
