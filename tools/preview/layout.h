// Line layout: the printer's line buffer and print position. Characters wait in the line until it is
// printed (a line feed, a feed, a full line, an image, a cut); the line is then aligned in the print area
// and painted, and the paper moves on. The position down the paper is kept in 1/180 dot, so that feeds in
// the printer's 1/180-inch units add up without drift at any resolution.
#pragma once

#include "barcode.h"
#include "canvas.h"
#include "characters.h"
#include "escpos.h"
#include "fonts.h"
#include "warnings.h"

#include <cstdint>
#include <vector>

namespace preview {

inline constexpr int kUnitsPerInch = 180; // the printer's feeds and line spacing
inline constexpr int kDefaultSpacing = 30; // 1/6 inch

// The modes that lines are laid out and printed with.
struct Format {
    Style style;
    int align = 0; // 0 left, 1 centre, 2 right
    int spacing = kDefaultSpacing; // line spacing, in 1/180 inch
    int charSpacing = 0;           // dots right of each character
    int leftMargin = 0;
    int areaWidth = -1;      // -1: to the paper's right edge
    std::vector<int> tabs;   // in dots, as ESC D set them (none: HT does nothing)
    bool customTabs = false; // before any ESC D: a tab every 8 characters of font A
};

// How barcodes are printed: bar height and module in dots, where the human-readable line goes (bit 0
// above, bit 1 below) and in which font.
struct BarcodeLook {
    int height = 162;
    int module = 3;
    int hriPosition = 0;
    bool hriFontB = false;
};

class Layout {
  public:
    Layout(Canvas& canvas, const Fonts& fonts, int dpi, Warnings& warnings);

    Format& format() { return format_; }
    // ESC @: the modes as at power-on and the line buffer emptied; the paper stays where it is.
    void Reset();
    // The print area's width in dots, and one character's width with its spacing in the current modes.
    int AreaWidth() const;
    int CharWidth() const;

    // Into the line buffer: one character (0: none to draw; a full line is printed first), a tab, the
    // position in the line (ignored outside the print area).
    void Character(char32_t c, bool wide);
    void Tab();
    // ESC D: tab stops at these character columns of the current modes.
    void SetTabs(const std::vector<int>& columns);
    void MoveTo(int x);
    void MoveBy(int dx);

    // Prints the line where the paper is; it does not move.
    void PrintLine();
    // Prints the line and moves the paper below it (before an image or a barcode).
    void FinishLine();
    // LF: prints the line and moves the paper by the line spacing, or by the line's height when higher.
    void LineFeed();
    // ESC J: prints the line and moves the paper by `units` 1/180 inch, or by the line's height when higher.
    void PrintAndFeed(int units);
    // ESC d: prints the line and moves the paper by `lines` line spacings.
    void PrintAndFeedLines(int lines);
    // An image at the print position, aligned as text is, cut at the print area; the paper moves below it.
    void Image(const escpos::Bitmap& image, int xMag, int yMag);
    // Bars that fit the print area, aligned, with their human-readable line; the paper moves below them.
    void Barcode(const Bars& bars, const BarcodeLook& look);
    // Prints the line, feeds `units` 1/180 inch and marks the cut.
    void Cut(bool partial, int units);

    // The end of the stream: the line printed, the paper down to the position.
    void Finish();
    // The whole rows above the print position; the position moves up by them, its part of a dot kept.
    int TakeRows();
    // The whole rows above the print position.
    int Position() const { return Row(); }

  private:
    int Row() const;
    void Feed(int64_t units);
    void FeedDots(int64_t dots);
    int AreaLeft() const;
    int AlignOffset(int width) const;
    // Paints the line buffer at the print position and empties it; the line's height.
    int PaintLine();
    void HriLine(const std::string& text, int barLeft, int barWidth, bool fontB);

    Canvas& canvas_;
    const Fonts& fonts_;
    const int dpi_;
    Warnings& warnings_;
    Format format_;
    int64_t y_ = 0; // the print position in 1/180 dot: dots × 180, and feed units × dpi
    int x_ = 0;     // in the line, from the print area's left end
    std::vector<Cell> cells_;
};

} // namespace preview
