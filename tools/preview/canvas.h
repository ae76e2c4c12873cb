// Painting: the picture of the paper, grown downwards as things are printed on it up to the longest
// picture drawn, and the inks of lines, images, bars and cut marks put on it at the places the layout
// gives, in whole dots.
#pragma once

#include "escpos.h"
#include "fonts.h"
#include "preview.h"
#include "warnings.h"

#include <string>
#include <vector>

namespace preview {

// A block of inks in a line: a character's cell.
struct Cell {
    int x = 0; // from the left end of the line
    int width = 0;
    int height = 0;
    std::vector<uint8_t> dots; // inks, row after row from the top
};

// Rows a cut mark takes: its dashed line, its label and a gap.
inline constexpr int kCutMarkRows = 2 + 17 + 4;

class Canvas {
  public:
    Canvas(int width, int maxRows, Warnings& warnings);

    int width() const { return picture_.width; }
    int height() const { return picture_.height; }
    int maxRows() const { return maxRows_; }

    // Makes the picture at least `rows` high; false when that would pass the longest picture drawn (a
    // warning says so once).
    bool Grow(int rows);

    // A line of cells in a box `width` × `height` at `left`, `top`: each cell stands on the box's bottom;
    // upside down, the box is turned half around.
    void PaintLine(const std::vector<Cell>& cells, int left, int top, int width, int height, bool upsideDown);
    // `image` with each dot `xMag` × `yMag`, its top left corner at `left`, `top`, nothing from `right` on.
    void PaintImage(const escpos::Bitmap& image, int left, int top, int xMag, int yMag, int right);
    // Bars and spaces in turn, `widths` dots each, from `left`, `height` high.
    void PaintBars(const std::vector<int>& widths, int left, int top, int height);
    // A dashed line across the paper at `top` and `label` under it at the right, in the preview's own ink.
    void PaintCutMark(int top, const std::string& label, const Fonts& fonts);

    // The first `rows` rows (paper where nothing was printed) as a finished picture of at least one row;
    // the rows below them move up to the top.
    Picture Take(int rows);

  private:
    void Dot(int x, int y, uint8_t ink);

    Picture picture_;
    int maxRows_;
    Warnings& warnings_;
};

} // namespace preview
