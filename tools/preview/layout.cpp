#include "layout.h"

#include <algorithm>

namespace preview {

Layout::Layout(Canvas& canvas, const Fonts& fonts, int dpi, Warnings& warnings)
    : canvas_(canvas), fonts_(fonts), dpi_(dpi), warnings_(warnings) {}

void Layout::Reset() {
    format_ = Format{};
    cells_.clear();
    x_ = 0;
}

// ---- the print area

int Layout::AreaLeft() const {
    return std::min(format_.leftMargin, canvas_.width());
}

int Layout::AreaWidth() const {
    const int room = canvas_.width() - AreaLeft();
    return format_.areaWidth < 0 ? room : std::min(format_.areaWidth, room);
}

int Layout::AlignOffset(int width) const {
    const int room = AreaWidth() - width;
    return room <= 0 ? 0 : format_.align == 1 ? room / 2 : format_.align == 2 ? room : 0;
}

int Layout::CharWidth() const {
    return ((format_.style.fontB ? 9 : 12) + format_.charSpacing) * format_.style.xMag;
}

// ---- the line buffer

void Layout::MoveTo(int x) {
    if (x >= 0 && x <= AreaWidth()) {
        x_ = x;
    }
}

void Layout::MoveBy(int dx) {
    MoveTo(x_ + dx);
}

void Layout::SetTabs(const std::vector<int>& columns) {
    format_.tabs.clear();
    format_.customTabs = true;
    for (const int column : columns) {
        format_.tabs.push_back(column * CharWidth());
    }
}

void Layout::Tab() {
    if (!format_.customTabs) {
        const int step = 8 * 12;
        MoveTo((x_ / step + 1) * step);
        return;
    }
    for (const int t : format_.tabs) {
        if (t > x_) {
            MoveTo(t);
            return;
        }
    }
}

void Layout::Character(char32_t c, bool wide) {
    Cell cell = CharacterCell(c, wide, format_.style, format_.charSpacing, fonts_, warnings_);
    cell.x = x_;
    if (x_ > 0 && x_ + cell.width > AreaWidth()) {
        LineFeed(); // the line is full: it prints, and the character starts the next
        cell.x = 0;
    }
    x_ = cell.x + cell.width;
    cells_.push_back(std::move(cell));
}

// ---- the paper

int Layout::Row() const {
    return static_cast<int>(std::min<int64_t>(y_ / kUnitsPerInch, canvas_.maxRows()));
}

void Layout::Feed(int64_t units) {
    y_ += units * dpi_;
}

void Layout::FeedDots(int64_t dots) {
    y_ += dots * kUnitsPerInch;
}

int Layout::PaintLine() {
    if (cells_.empty()) {
        x_ = 0;
        return 0;
    }
    int height = 0, width = 0;
    for (const Cell& c : cells_) {
        height = std::max(height, c.height);
        width = std::max(width, c.x + c.width);
    }
    canvas_.PaintLine(cells_, AreaLeft() + AlignOffset(width), Row(), width, height, format_.style.upsideDown);
    cells_.clear();
    x_ = 0;
    return height;
}

void Layout::PrintLine() {
    PaintLine();
}

void Layout::FinishLine() {
    FeedDots(PaintLine());
}

void Layout::LineFeed() {
    PrintAndFeed(format_.spacing);
}

void Layout::PrintAndFeed(int units) {
    // a feed shorter than the line just printed still moves past it
    const int height = PaintLine();
    y_ += std::max(static_cast<int64_t>(units) * dpi_, static_cast<int64_t>(height) * kUnitsPerInch);
}

void Layout::PrintAndFeedLines(int lines) {
    if (lines == 0) {
        FinishLine();
        return;
    }
    LineFeed();
    Feed(static_cast<int64_t>(format_.spacing) * (lines - 1));
}

void Layout::Image(const escpos::Bitmap& image, int xMag, int yMag) {
    FinishLine();
    const int width = image.width * 8 * xMag;
    const int height = image.rows * yMag;
    if (width > AreaWidth()) {
        warnings_.Add("an image " + escpos::Thousands(width) + " dots wide is cut to the print area of " +
                      escpos::Thousands(AreaWidth()) + " dots");
    }
    canvas_.PaintImage(image, AreaLeft() + AlignOffset(width), Row(), xMag, yMag, AreaLeft() + AreaWidth());
    FeedDots(height);
}

void Layout::Barcode(const Bars& bars, const BarcodeLook& look) {
    std::vector<int> widths;
    int width = 0;
    for (const int w : bars.widths) {
        widths.push_back(bars.Dots(w, look.module));
        width += widths.back();
    }
    const int left = AreaLeft() + AlignOffset(width);
    if (look.hriPosition & 1) {
        HriLine(bars.text, left, width, look.hriFontB);
    }
    canvas_.PaintBars(widths, left, Row(), look.height);
    FeedDots(look.height);
    if (look.hriPosition & 2) {
        HriLine(bars.text, left, width, look.hriFontB);
    }
}

// The human-readable line of a barcode, centred on the bars.
void Layout::HriLine(const std::string& text, int barLeft, int barWidth, bool fontB) {
    const Format saved = format_;
    format_.style = Style{};
    format_.style.fontB = fontB;
    format_.charSpacing = 0;
    format_.align = 0;
    format_.areaWidth = -1;
    const int textWidth = static_cast<int>(text.size()) * CharWidth();
    format_.leftMargin = barLeft + std::max(0, (barWidth - textWidth) / 2);
    for (const char c : text) {
        Character(static_cast<uint8_t>(c), false);
    }
    FinishLine();
    format_ = saved;
}

void Layout::Cut(bool partial, int units) {
    PaintLine();
    Feed(units);
    // a dashed line across the paper a little below the print, and its label
    FeedDots(4);
    canvas_.PaintCutMark(Row(), partial ? "partial cut" : "cut", fonts_);
    FeedDots(kCutMarkRows);
}

void Layout::Finish() {
    PaintLine();
    canvas_.Grow(Row());
}

int Layout::TakeRows() {
    const int64_t rows = y_ / kUnitsPerInch;
    y_ -= rows * kUnitsPerInch;
    return static_cast<int>(std::min<int64_t>(rows, canvas_.maxRows()));
}

} // namespace preview
