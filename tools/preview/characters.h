// A character drawn into its cell as the printer prints it: the glyph of font A or B (its bold face when
// bold) or of Unifont, underlined, reversed and magnified as the print modes say; a red box for a
// character that no font has.
#pragma once

#include "canvas.h"
#include "fonts.h"
#include "warnings.h"

namespace preview {

// The print modes of characters.
struct Style {
    bool fontB = false;
    bool bold = false;
    bool doubleStrike = false;
    int underline = 0; // dots
    bool reverse = false;
    bool upsideDown = false;
    int xMag = 1;
    int yMag = 1;
};

// The cell of `c` (0: none to draw), with `charSpacing` dots right of the glyph, magnified; its place in
// the line is the layout's. `wide`: a double-byte (Korean) character.
Cell CharacterCell(char32_t c, bool wide, const Style& style, int charSpacing, const Fonts& fonts,
                   Warnings& warnings);

} // namespace preview
