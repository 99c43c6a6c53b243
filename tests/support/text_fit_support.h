// Checks that the 2D texts a program queued on its font stay inside the
// window, measured with the font's own extent function.
#pragma once

#include <gtest/gtest.h>

#include "font.h"

namespace textfit {

// Every queued 2D text (written left to right, as the programs write) must
// end left of the right edge and above the bottom edge; returns how many
// texts were measured.
inline u32 ExpectQueuedTextsFit(Font* font, u32 width, u32 height) {
    for (u32 i = 0; i < font->vText2D.count; ++i) {
        const Font::Text2D& text = font->vText2D.data[i];
        float w = 0.0f, h = 0.0f;
        EXPECT_EQ(font->GetExtendText2D(text.strText, text.nSize, text.fDirX, text.fDirY, &w, &h), S_OK);
        EXPECT_EQ(text.fDirY, 0.0f);
        EXPECT_LE(text.nX + w, (float)width) << "runs off the right edge: \"" << text.strText.c_str() << "\"";
        EXPECT_LE(text.nY + h, (float)height) << "runs off the bottom: \"" << text.strText.c_str() << "\"";
    }
    return font->vText2D.count;
}

// The lines of the texts queued so far, joined, to see what was queued.
inline std::string QueuedTexts(Font* font) {
    std::string all;
    for (u32 i = 0; i < font->vText2D.count; ++i) all += std::string(font->vText2D.data[i].strText.c_str()) + "\n";
    return all;
}

}  // namespace textfit
