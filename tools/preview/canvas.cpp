#include "canvas.h"

#include <algorithm>

namespace preview {

Canvas::Canvas(int width, int maxRows, Warnings& warnings) : maxRows_(maxRows), warnings_(warnings) {
    picture_.width = width;
}

bool Canvas::Grow(int rows) {
    if (rows > maxRows_) {
        warnings_.Add("the receipt is longer than " + escpos::Thousands(maxRows_) +
                      " dots: the preview stops there");
        rows = maxRows_;
    }
    if (rows > picture_.height) {
        picture_.height = rows;
        picture_.dots.resize(static_cast<size_t>(rows) * picture_.width, kPaper);
    }
    return rows < maxRows_;
}

void Canvas::Dot(int x, int y, uint8_t ink) {
    if (x >= 0 && x < picture_.width && y >= 0 && y < picture_.height) {
        picture_.dots[static_cast<size_t>(y) * picture_.width + x] = ink;
    }
}

void Canvas::PaintLine(const std::vector<Cell>& cells, int left, int top, int width, int height,
                       bool upsideDown) {
    if (!Grow(top + height)) {
        return;
    }
    for (const Cell& c : cells) {
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const uint8_t ink = c.dots[static_cast<size_t>(y) * c.width + x];
                if (ink == kPaper) {
                    continue;
                }
                int px = c.x + x, py = height - c.height + y;
                if (upsideDown) {
                    px = width - 1 - px;
                    py = height - 1 - py;
                }
                Dot(left + px, top + py, ink);
            }
        }
    }
}

void Canvas::PaintImage(const escpos::Bitmap& image, int left, int top, int xMag, int yMag, int right) {
    const int width = image.width * 8 * xMag;
    const int height = image.rows * yMag;
    if (width <= 0 || !Grow(top + height)) {
        return;
    }
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = &image.data[static_cast<size_t>(y / yMag) * image.width];
        for (int x = 0; x < width && left + x < right; ++x) {
            const int dot = x / xMag;
            if (row[dot / 8] & (0x80 >> (dot % 8))) {
                Dot(left + x, top + y, kDot);
            }
        }
    }
}

void Canvas::PaintBars(const std::vector<int>& widths, int left, int top, int height) {
    if (!Grow(top + height)) {
        return;
    }
    int x = left;
    for (size_t i = 0; i < widths.size(); ++i) {
        if (i % 2 == 0) {
            for (int y = 0; y < height; ++y) {
                for (int dx = 0; dx < widths[i]; ++dx) {
                    Dot(x + dx, top + y, kDot);
                }
            }
        }
        x += widths[i];
    }
}

void Canvas::PaintCutMark(int top, const std::string& label, const Fonts& fonts) {
    if (!Grow(top + kCutMarkRows)) {
        return;
    }
    for (int x = 0; x < picture_.width; ++x) {
        if (x % 12 < 8) {
            Dot(x, top, kMark);
            Dot(x, top + 1, kMark);
        }
    }
    int x = picture_.width - static_cast<int>(label.size()) * 9 - 4;
    for (const char c : label) {
        if (const Glyph* g = fonts.b.empty() ? fonts.unifont.Find(c) : fonts.b.Find(c)) {
            for (int y = 0; y < std::min(g->height, 16); ++y) {
                for (int gx = 0; gx < std::min(g->width, 8); ++gx) {
                    if (g->At(gx, y)) {
                        Dot(x + gx, top + 3 + y, kMark);
                    }
                }
            }
        }
        x += 9;
    }
}

Picture Canvas::Take(int rows) {
    rows = std::clamp(rows, 0, maxRows_);
    Grow(rows);
    Picture out;
    out.width = picture_.width;
    out.height = std::max(rows, 1);
    const auto end = picture_.dots.begin() + static_cast<ptrdiff_t>(rows) * picture_.width;
    out.dots.assign(picture_.dots.begin(), end);
    out.dots.resize(static_cast<size_t>(out.height) * out.width, kPaper);
    picture_.dots.erase(picture_.dots.begin(), end);
    picture_.height -= rows;
    return out;
}

} // namespace preview
