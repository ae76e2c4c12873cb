#include "characters.h"

#include <algorithm>

namespace preview {
namespace {

// A glyph of the console font (its bold face first when bold) or of Unifont, for font A or B.
const Glyph* FindGlyph(char32_t c, bool wide, const Style& st, const Fonts& fonts, bool* fromUnifont,
                       bool* fromBold) {
    *fromUnifont = *fromBold = false;
    if (!wide) {
        if (st.bold) {
            if (const Glyph* g = (st.fontB ? fonts.bBold : fonts.aBold).Find(c)) {
                *fromBold = true;
                return g;
            }
        }
        if (const Glyph* g = (st.fontB ? fonts.b : fonts.a).Find(c)) {
            return g;
        }
    }
    *fromUnifont = true;
    return fonts.unifont.Find(c);
}

std::string FontProblem(const Fonts& fonts) {
    return fonts.missing.empty() ? "none given" : fonts.missing.back();
}

} // namespace

Cell CharacterCell(char32_t c, bool wide, const Style& st, int charSpacing, const Fonts& fonts,
                   Warnings& warnings) {
    const int cellW = wide ? (st.fontB ? 16 : 24) : (st.fontB ? 9 : 12);
    const int cellH = st.fontB ? 17 : 24;
    bool unifont = false, boldFace = false;
    const Glyph* g = c ? FindGlyph(c, wide, st, fonts, &unifont, &boldFace) : nullptr;
    if (!g) {
        warnings.Add(wide ? (fonts.unifont.empty() ? "Korean text is not rendered (no Hangul font: " +
                                                         FontProblem(fonts) + "): drawn as red boxes"
                                                   : "Korean characters that code page 949 or the font lacks "
                                                     "are drawn as red boxes")
                          : "characters the fonts lack are drawn as red boxes");
    }
    // The glyph in its cell, unscaled.
    Cell base{0, cellW + charSpacing, cellH, {}};
    base.dots.assign(static_cast<size_t>(base.width) * cellH, kPaper);
    auto put = [&](int x, int y, uint8_t ink) {
        if (x >= 0 && x < base.width && y >= 0 && y < cellH) {
            base.dots[static_cast<size_t>(y) * base.width + x] = ink;
        }
    };
    if (g) {
        // Unifont's 16-dot glyphs grow by half for font A's 24 dots; font B takes them as they are.
        const bool scale = unifont && !st.fontB;
        const int w = scale ? g->width * 3 / 2 : std::min(g->width, cellW);
        const int h = scale ? g->height * 3 / 2 : std::min(g->height, cellH);
        const int top = cellH - h;
        const bool embolden = st.doubleStrike || (st.bold && !boldFace);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool on = scale ? g->At(x * 2 / 3, y * 2 / 3) : g->At(x, y);
                if (on) {
                    put(x, top + y, kDot);
                    if (embolden) {
                        put(x + 1, top + y, kDot);
                    }
                }
            }
        }
    } else {
        for (int x = 1; x < cellW - 1; ++x) {
            put(x, 1, kMark);
            put(x, cellH - 2, kMark);
        }
        for (int y = 1; y < cellH - 1; ++y) {
            put(1, y, kMark);
            put(cellW - 2, y, kMark);
        }
    }
    for (int y = cellH - st.underline; y < cellH; ++y) {
        for (int x = 0; x < base.width; ++x) {
            put(x, y, kDot);
        }
    }
    if (st.reverse) {
        for (uint8_t& d : base.dots) {
            d = d == kPaper ? uint8_t{kDot} : d == kDot ? uint8_t{kPaper} : d;
        }
    }
    // Magnified.
    Cell cell{0, base.width * st.xMag, cellH * st.yMag, {}};
    cell.dots.resize(static_cast<size_t>(cell.width) * cell.height);
    for (int y = 0; y < cell.height; ++y) {
        for (int x = 0; x < cell.width; ++x) {
            cell.dots[static_cast<size_t>(y) * cell.width + x] =
                base.dots[static_cast<size_t>(y / st.yMag) * base.width + x / st.xMag];
        }
    }
    return cell;
}

} // namespace preview
