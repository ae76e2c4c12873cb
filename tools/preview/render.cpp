#include "barcode.h"
#include "preview.h"

#include "escpos.h"
#include "hex.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

namespace preview {
namespace {

constexpr int kUnitsPerInch = 180;  // the printer's feeds and line spacing
constexpr int kDefaultSpacing = 30; // 1/6 inch

using escpos::Thousands;

// Converts text of one code page to Unicode.
class Decoder {
  public:
    explicit Decoder(const char* codepage) : cd_(iconv_open("UTF-32LE", codepage)) {}
    ~Decoder() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // The one character that `bytes` encode; none when they encode no character.
    std::optional<char32_t> Char(const uint8_t* bytes, size_t count) {
        if (!ok()) {
            return std::nullopt;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char in[4];
        std::memcpy(in, bytes, std::min<size_t>(count, sizeof(in)));
        uint8_t out[8];
        char* ip = in;
        char* op = reinterpret_cast<char*>(out);
        size_t il = count, ol = sizeof(out);
        if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0 || ol != 4) {
            return std::nullopt;
        }
        return out[0] | out[1] << 8 | out[2] << 16 | static_cast<char32_t>(out[3]) << 24;
    }

  private:
    iconv_t cd_;
};

// The character code tables of ESC t that the system's converter knows.
const char* CodeTable(int n) {
    switch (n) {
    case 0:
        return "CP437";
    case 2:
        return "CP850";
    case 3:
        return "CP860";
    case 4:
        return "CP863";
    case 5:
        return "CP865";
    case 16:
        return "CP1252";
    case 17:
        return "CP866";
    case 18:
        return "CP852";
    case 19:
        return "CP858";
    default:
        return nullptr;
    }
}

// A drawn character or picture waiting in the line buffer.
struct Cell {
    int x = 0; // from the left end of the print area
    int width = 0;
    int height = 0;
    std::vector<uint8_t> dots; // inks
};

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

struct State {
    Style style;
    int align = 0; // 0 left, 1 centre, 2 right
    int spacing = kDefaultSpacing;
    int charSpacing = 0;
    int leftMargin = 0;
    int areaWidth = -1;      // -1: to the paper's right edge
    std::vector<int> tabs;   // in dots, as ESC D set them (none: HT does nothing)
    bool customTabs = false; // before any ESC D: a tab every 8 characters of font A
    bool korean = false;     // code page 949 double-byte text: after FS & or ESC R 13 (Korea)
    bool won = false;        // ESC R 13 also puts the won sign in place of the backslash
    int codeTable = 0;
    int barHeight = 162;
    int barModule = 3;
    int hriPosition = 0;
    bool hriFontB = false;
};

class Renderer {
  public:
    Renderer(std::span<const uint8_t> stream, const Fonts& fonts, const Options& options)
        : s_(stream), fonts_(fonts), opt_(options), korean_("CP949") {
        picture_.width = std::max(options.paperWidth, 8);
        opt_.maxRows = std::max(options.maxRows, 1);
    }

    Preview Run() {
        for (size_t at = 0; at < s_.size();) {
            const escpos::Item item = NextItem(at);
            Handle(item);
            at = item.end();
        }
        PrintLine(false);
        Grow(Y());
        Preview out;
        out.picture = std::move(picture_);
        if (out.picture.height == 0) {
            out.picture.height = 1;
            out.picture.dots.assign(static_cast<size_t>(out.picture.width), kPaper);
        }
        for (const std::string& key : order_) {
            const int n = counts_[key];
            out.warnings.push_back(n > 1 ? key + " (" + std::to_string(n) + " times)" : key);
        }
        return out;
    }

  private:
    // The item at `at`, read as the KQT-50 reads it where that differs from other ESC/POS printers:
    // GS V takes a second byte only after 'B'.
    escpos::Item NextItem(size_t at) {
        escpos::Item item = escpos::Next(s_, at);
        if (item.name == "GS V" && at + 2 < s_.size() && s_[at + 2] != 0x42) {
            item.kind = escpos::Kind::Command;
            item.size = 3;
            item.expected = 0;
        }
        return item;
    }

    void Warn(const std::string& key) {
        if (counts_[key]++ == 0) {
            order_.push_back(key);
        }
    }

    std::string Named(const std::string& name) {
        const std::string meaning = escpos::Meaning(name);
        return meaning.empty() ? name : name + " (" + meaning + ")";
    }

    void NotShown(const escpos::Item& item) { Warn("not shown: " + Named(item.name)); }

    uint8_t P(const escpos::Item& item, size_t i) const { return s_[item.offset + i]; }

    void Handle(const escpos::Item& item) {
        switch (item.kind) {
        case escpos::Kind::Text:
            Text(item.offset, item.end());
            return;
        case escpos::Kind::Command:
            Command(item);
            return;
        case escpos::Kind::Truncated:
            Warn("the stream ends inside " + Named(item.name) + " at byte " + Thousands(item.offset) +
                 ": drawn up to there");
            return;
        case escpos::Kind::Unknown:
            Warn("unknown command " + item.name + " " + kqkit::HexByte(P(item, 1)) + ": skipped");
            return;
        case escpos::Kind::Malformed:
        case escpos::Kind::Refused:
            Warn(Named(item.name) + " with " + kqkit::HexByte(P(item, item.size - 1)) +
                 ": not a form it has: skipped");
            return;
        }
    }

    void Command(const escpos::Item& item) {
        const std::string& n = item.name;
        const uint8_t a = item.size > 2 ? P(item, 2) : 0;
        Style& st = state_.style;
        if (n == "ESC @") {
            state_ = State{};
            cells_.clear();
            x_ = 0;
        } else if (n == "ESC !") {
            st.fontB = a & 1;
            st.bold = a & 8;
            st.yMag = a & 16 ? 2 : 1;
            st.xMag = a & 32 ? 2 : 1;
            st.underline = a & 128 ? 1 : 0;
        } else if (n == "GS !") {
            st.xMag = (a >> 4 & 7) + 1;
            st.yMag = (a & 7) + 1;
        } else if (n == "ESC E") {
            st.bold = a & 1;
        } else if (n == "ESC G") {
            st.doubleStrike = a & 1;
        } else if (n == "ESC -") {
            st.underline = a == 1 || a == '1' ? 1 : a == 2 || a == '2' ? 2 : 0;
        } else if (n == "ESC M") {
            st.fontB = a == 1 || a == '1';
        } else if (n == "GS B") {
            st.reverse = a & 1;
        } else if (n == "ESC {") {
            st.upsideDown = a & 1;
        } else if (n == "ESC SP") {
            state_.charSpacing = a;
        } else if (n == "ESC 2") {
            state_.spacing = kDefaultSpacing;
        } else if (n == "ESC 3") {
            state_.spacing = a;
        } else if (n == "ESC a") {
            state_.align = a % 48 <= 2 ? a % 48 : state_.align;
        } else if (n == "ESC $") {
            MoveTo(a + 256 * P(item, 3));
        } else if (n == "ESC \\") {
            MoveTo(x_ + static_cast<int16_t>(a + 256 * P(item, 3)));
        } else if (n == "GS L") {
            state_.leftMargin = a + 256 * P(item, 3);
        } else if (n == "GS W") {
            state_.areaWidth = a + 256 * P(item, 3);
        } else if (n == "ESC D") {
            SetTabs(item);
        } else if (n == "ESC J") {
            // a feed shorter than the line just printed still moves past it
            int height = 0;
            PrintLine(false, &height);
            y_ += std::max(static_cast<int64_t>(a) * opt_.dpi, static_cast<int64_t>(height) * kUnitsPerInch);
        } else if (n == "ESC d") {
            if (a == 0) {
                PrintLine(true);
            } else {
                LineFeed();
                Feed(static_cast<int64_t>(state_.spacing) * opt_.dpi * (a - 1));
            }
        } else if (n == "ESC t") {
            state_.codeTable = a;
        } else if (n == "FS &") {
            state_.korean = true;
        } else if (n == "FS .") {
            state_.korean = false;
        } else if (n == "GS h") {
            state_.barHeight = a > 0 ? a : state_.barHeight;
        } else if (n == "GS w") {
            state_.barModule = a >= 1 && a <= 6 ? a : state_.barModule;
        } else if (n == "GS H") {
            state_.hriPosition = a % 48 <= 3 ? a % 48 : state_.hriPosition;
        } else if (n == "GS f") {
            state_.hriFontB = a == 1 || a == '1';
        } else if (n == "GS k") {
            Barcode(item);
        } else if (n == "GS v 0") {
            if (const auto image = escpos::ReadRaster(s_, item)) {
                Image(*image, P(item, 3) & 1 ? 2 : 1, P(item, 3) & 2 ? 2 : 1);
            }
        } else if (n == "GS *") {
            downloaded_ = ColumnImage(item.offset + 4, a, P(item, 3));
        } else if (n == "GS /") {
            if (downloaded_) {
                Image(*downloaded_, a & 1 ? 2 : 1, a & 2 ? 2 : 1);
            } else {
                Warn("GS / prints a downloaded image that the stream does not define: not shown");
            }
        } else if (n == "FS q") {
            DefineNvImages(item);
        } else if (n == "FS p") {
            if (a >= 1 && a <= nvImages_.size()) {
                const uint8_t m = P(item, 3);
                Image(nvImages_[a - 1], m & 1 ? 2 : 1, m & 2 ? 2 : 1);
            } else {
                Warn("FS p prints an NV image that the stream does not define: not shown");
            }
        } else if (n == "GS V") {
            Cut(item);
        } else if (n == "ESC i" || n == "ESC m") {
            PrintLine(false);
            CutMark(true);
        } else if (n == "ESC R") {
            state_.korean = state_.won = a == 13;
            if (a != 0 && a != 13) {
                Warn("ESC R (international character set) " + std::to_string(a) + ": drawn with the USA set");
            }
        } else if (n == "ESC %" || n == "ESC V" || n == "ESC r") {
            if (a & 1) {
                NotShown(item);
            }
        } else if (IsSilent(n)) {
            // status, drawer, sensors, smoothing and the like: nothing to draw
        } else {
            NotShown(item);
        }
    }

    static bool IsSilent(const std::string& n) {
        static const char* const kSilent[] = {"DLE EOT", "DLE ENQ", "DLE DC4", "ESC =",  "ESC ?",
                                              "ESC c",   "ESC p",   "ESC u",   "ESC v",  "ESC S",
                                              "ESC U",   "GS I",    "GS a",    "GS b",   "GS r",
                                              "ESC P b", "ESC P e", "ESC P g", "ESC P r"};
        return std::find_if(std::begin(kSilent), std::end(kSilent), [&](const char* s) { return n == s; }) !=
               std::end(kSilent);
    }

    // ---- paper

    int Y() const { return static_cast<int>(std::min<int64_t>(y_ / kUnitsPerInch, opt_.maxRows)); }
    void Feed(int64_t units) { y_ += units; }
    void FeedDots(int64_t dots) { y_ += dots * kUnitsPerInch; }

    // Makes the picture at least `rows` high; false when that would pass the longest receipt drawn.
    bool Grow(int rows) {
        if (rows > opt_.maxRows) {
            Warn("the receipt is longer than " + Thousands(opt_.maxRows) + " dots: the preview stops there");
            rows = opt_.maxRows;
        }
        if (rows > picture_.height) {
            picture_.height = rows;
            picture_.dots.resize(static_cast<size_t>(rows) * picture_.width, kPaper);
        }
        return rows < opt_.maxRows;
    }

    void Dot(int x, int y, uint8_t ink) {
        if (x >= 0 && x < picture_.width && y >= 0 && y < picture_.height) {
            picture_.dots[static_cast<size_t>(y) * picture_.width + x] = ink;
        }
    }

    int AreaLeft() const { return std::min(state_.leftMargin, picture_.width); }
    int AreaWidth() const {
        const int room = picture_.width - AreaLeft();
        return state_.areaWidth < 0 ? room : std::min(state_.areaWidth, room);
    }
    int AlignOffset(int width) const {
        const int room = AreaWidth() - width;
        return room <= 0 ? 0 : state_.align == 1 ? room / 2 : state_.align == 2 ? room : 0;
    }

    // ---- text

    void MoveTo(int x) {
        if (x >= 0 && x <= AreaWidth()) {
            x_ = x;
        }
    }

    int CharWidth() const { return ((state_.style.fontB ? 9 : 12) + state_.charSpacing) * state_.style.xMag; }

    void SetTabs(const escpos::Item& item) {
        state_.tabs.clear();
        state_.customTabs = true;
        int last = 0;
        for (size_t i = 2; i + 1 < item.size; ++i) {
            const int column = P(item, i);
            if (column <= last) {
                break;
            }
            state_.tabs.push_back(column * CharWidth());
            last = column;
        }
    }

    void Tab() {
        if (!state_.customTabs) {
            const int step = 8 * 12;
            MoveTo((x_ / step + 1) * step);
            return;
        }
        for (const int t : state_.tabs) {
            if (t > x_) {
                MoveTo(t);
                return;
            }
        }
    }

    void Text(size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            const uint8_t b = s_[i];
            if (b == '\n') {
                LineFeed();
            } else if (b == '\t') {
                Tab();
            } else if (b == '\f') {
                LineFeed();
            } else if (b < 0x20 || b == 0x7F) {
                // CR and other control bytes print nothing
            } else if (b < 0x80) {
                Character(b == '\\' && state_.won ? U'\u20A9' : b, false);
            } else if (state_.korean && b >= 0x81 && b <= 0xFE && i + 1 < to && s_[i + 1] >= 0x41 &&
                       s_[i + 1] <= 0xFE) {
                const std::optional<char32_t> c = korean_.Char(&s_[i], 2);
                ++i;
                Character(c.value_or(0), true);
            } else {
                const char* table = CodeTable(state_.codeTable);
                if (!table) {
                    Warn("ESC t (character code table) " + std::to_string(state_.codeTable) +
                         " is not known to the preview: its characters are drawn as red boxes");
                    Character(0, false);
                    continue;
                }
                if (!table_ || tableNumber_ != state_.codeTable) {
                    table_ = std::make_unique<Decoder>(table);
                    tableNumber_ = state_.codeTable;
                }
                Character(table_->Char(&b, 1).value_or(0), false);
            }
        }
    }

    // A glyph of the console font (its bold face first when bold) or of Unifont, for font A or B.
    const Glyph* FindGlyph(char32_t c, bool wide, bool* fromUnifont, bool* fromBold) const {
        const Style& st = state_.style;
        *fromUnifont = *fromBold = false;
        if (!wide) {
            if (st.bold) {
                if (const Glyph* g = (st.fontB ? fonts_.bBold : fonts_.aBold).Find(c)) {
                    *fromBold = true;
                    return g;
                }
            }
            if (const Glyph* g = (st.fontB ? fonts_.b : fonts_.a).Find(c)) {
                return g;
            }
        }
        *fromUnifont = true;
        return fonts_.unifont.Find(c);
    }

    // One character into the line buffer. `wide`: a double-byte (Korean) character. c 0: none to draw.
    void Character(char32_t c, bool wide) {
        const Style& st = state_.style;
        const int cellW = wide ? (st.fontB ? 16 : 24) : (st.fontB ? 9 : 12);
        const int cellH = st.fontB ? 17 : 24;
        bool unifont = false, boldFace = false;
        const Glyph* g = c ? FindGlyph(c, wide, &unifont, &boldFace) : nullptr;
        if (!g) {
            Warn(wide ? (fonts_.unifont.empty() ? "Korean text is not rendered (no Hangul font: " +
                                                      FontProblem() + "): drawn as red boxes"
                                                : "Korean characters that code page 949 or the font lacks "
                                                  "are drawn as red boxes")
                      : "characters the fonts lack are drawn as red boxes");
        }
        // The glyph in its cell, unscaled.
        Cell base{0, cellW + state_.charSpacing, cellH, {}};
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
        Cell cell{x_, base.width * st.xMag, cellH * st.yMag, {}};
        cell.dots.resize(static_cast<size_t>(cell.width) * cell.height);
        for (int y = 0; y < cell.height; ++y) {
            for (int x = 0; x < cell.width; ++x) {
                cell.dots[static_cast<size_t>(y) * cell.width + x] =
                    base.dots[static_cast<size_t>(y / st.yMag) * base.width + x / st.xMag];
            }
        }
        if (x_ > 0 && x_ + cell.width > AreaWidth()) {
            LineFeed(); // the line is full: it prints, and the character starts the next
            cell.x = 0;
        }
        x_ = cell.x + cell.width;
        cells_.push_back(std::move(cell));
    }

    std::string FontProblem() const { return fonts_.missing.empty() ? "none given" : fonts_.missing.back(); }

    // Prints the line buffer at the print position. True when it held anything; the position then moves
    // down by the line's height when `advance`.
    bool PrintLine(bool advance, int* height = nullptr) {
        if (cells_.empty()) {
            x_ = 0;
            if (height) {
                *height = 0;
            }
            return false;
        }
        int lineH = 0, lineW = 0;
        for (const Cell& c : cells_) {
            lineH = std::max(lineH, c.height);
            lineW = std::max(lineW, c.x + c.width);
        }
        const int left = AreaLeft() + AlignOffset(lineW);
        const int top = Y();
        if (Grow(top + lineH)) {
            for (const Cell& c : cells_) {
                for (int y = 0; y < c.height; ++y) {
                    for (int x = 0; x < c.width; ++x) {
                        const uint8_t ink = c.dots[static_cast<size_t>(y) * c.width + x];
                        if (ink == kPaper) {
                            continue;
                        }
                        int px = c.x + x, py = lineH - c.height + y;
                        if (state_.style.upsideDown) {
                            px = lineW - 1 - px;
                            py = lineH - 1 - py;
                        }
                        Dot(left + px, top + py, ink);
                    }
                }
            }
        }
        cells_.clear();
        x_ = 0;
        if (advance) {
            FeedDots(lineH);
        }
        if (height) {
            *height = lineH;
        }
        return true;
    }

    // LF: prints the line and moves down by the line spacing, or by the line's height when it is higher.
    void LineFeed() {
        int height = 0;
        PrintLine(false, &height);
        const int64_t spacing = static_cast<int64_t>(state_.spacing) * opt_.dpi;
        y_ += std::max(spacing, static_cast<int64_t>(height) * kUnitsPerInch);
    }

    // ---- pictures

    // A picture at the print position, aligned as text is, and the position below it.
    void Image(const escpos::Bitmap& image, int xMag, int yMag) {
        PrintLine(true);
        const int width = image.width * 8 * xMag;
        const int height = image.rows * yMag;
        if (width > AreaWidth()) {
            Warn("an image " + Thousands(width) + " dots wide is cut to the print area of " +
                 Thousands(AreaWidth()) + " dots");
        }
        const int left = AreaLeft() + AlignOffset(width);
        const int top = Y();
        const int right = AreaLeft() + AreaWidth();
        if (width > 0 && Grow(top + height)) {
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
        FeedDots(height);
    }

    // An image of `x` × 8 columns of `y` bytes each (the top dot in the high bit), as FS q and GS * send.
    std::optional<escpos::Bitmap> ColumnImage(size_t at, int x, int y) const {
        const size_t size = static_cast<size_t>(x) * y * 8;
        if (at + size > s_.size()) {
            return std::nullopt;
        }
        escpos::Bitmap image = escpos::Bitmap::Blank(x, y * 8);
        for (int col = 0; col < x * 8; ++col) {
            for (int row = 0; row < y * 8; ++row) {
                if (s_[at + static_cast<size_t>(col) * y + row / 8] & (0x80 >> (row % 8))) {
                    image.data[static_cast<size_t>(row) * x + col / 8] |=
                        static_cast<uint8_t>(0x80 >> (col % 8));
                }
            }
        }
        return image;
    }

    void DefineNvImages(const escpos::Item& item) {
        nvImages_.clear();
        size_t at = item.offset + 3;
        for (int i = 0; i < P(item, 2) && at + 4 <= item.end(); ++i) {
            const int x = s_[at] + 256 * s_[at + 1];
            const int y = s_[at + 2] + 256 * s_[at + 3];
            if (x > 1023 || y > 288) {
                Warn("FS q defines an NV image larger than the printer keeps: not shown");
                return;
            }
            const auto image = ColumnImage(at + 4, x, y);
            if (!image) {
                return;
            }
            nvImages_.push_back(*image);
            at += 4 + static_cast<size_t>(x) * y * 8;
        }
    }

    // ---- barcodes

    void Barcode(const escpos::Item& item) {
        const uint8_t m = P(item, 2);
        const bool counted = m >= 65;
        const size_t first = counted ? 4 : 3;
        std::string data(reinterpret_cast<const char*>(&s_[item.offset + first]), item.size - first);
        while (!data.empty() && data.back() == '\0') {
            data.pop_back(); // the first form's end byte; a count the print processor made includes it
        }
        PrintLine(true);
        std::string why;
        const std::optional<Bars> bars = EncodeBarcode(m, data, &why);
        const std::string name = "GS k " + (BarcodeName(m).empty() ? std::to_string(m) : BarcodeName(m));
        if (!bars) {
            Warn(name + " " + why + ": not drawn");
            return;
        }
        // An element's width in dots: CODE39 and ITF count in half modules.
        const auto dots = [&](int w) {
            return bars->halfModules ? w * state_.barModule / 2 : w * state_.barModule;
        };
        int width = 0;
        for (const int w : bars->widths) {
            width += dots(w);
        }
        if (width > AreaWidth()) {
            Warn(name + " is " + Thousands(width) +
                 " dots wide, more than the print area: the printer "
                 "does not print it");
            return;
        }
        const bool above = state_.hriPosition & 1, below = state_.hriPosition & 2;
        const int left = AreaLeft() + AlignOffset(width);
        if (above) {
            HriLine(bars->text, left, width);
        }
        const int top = Y();
        if (Grow(top + state_.barHeight)) {
            int x = left;
            for (size_t i = 0; i < bars->widths.size(); ++i) {
                const int w = dots(bars->widths[i]);
                if (i % 2 == 0) {
                    for (int y = 0; y < state_.barHeight; ++y) {
                        for (int dx = 0; dx < w; ++dx) {
                            Dot(x + dx, top + y, kDot);
                        }
                    }
                }
                x += w;
            }
        }
        FeedDots(state_.barHeight);
        if (below) {
            HriLine(bars->text, left, width);
        }
    }

    // The human-readable line of a barcode, centred on the bars, in the font GS f chose.
    void HriLine(const std::string& text, int barLeft, int barWidth) {
        const State saved = state_;
        state_.style = Style{};
        state_.style.fontB = state_.hriFontB;
        state_.charSpacing = 0;
        state_.align = 0;
        state_.areaWidth = -1;
        const int textWidth = static_cast<int>(text.size()) * CharWidth();
        state_.leftMargin = barLeft + std::max(0, (barWidth - textWidth) / 2);
        for (const char c : text) {
            Character(static_cast<uint8_t>(c), false);
        }
        PrintLine(true);
        state_ = saved;
    }

    // ---- cuts

    void Cut(const escpos::Item& item) {
        const uint8_t m = item.size > 2 ? P(item, 2) : 0;
        PrintLine(false);
        if (m == 66 && item.size > 3) {
            Feed(static_cast<int64_t>(P(item, 3)) * opt_.dpi);
        }
        CutMark(m == 1 || m == 49 || m == 66 || m == 98 || m == 104);
    }

    // A dashed red line across the paper where it is cut, and its label under it at the right.
    void CutMark(bool partial) {
        FeedDots(4);
        const int top = Y();
        const std::string label = partial ? "partial cut" : "cut";
        if (Grow(top + 2 + 17 + 4)) {
            for (int x = 0; x < picture_.width; ++x) {
                if (x % 12 < 8) {
                    Dot(x, top, kMark);
                    Dot(x, top + 1, kMark);
                }
            }
            int x = picture_.width - static_cast<int>(label.size()) * 9 - 4;
            for (const char c : label) {
                if (const Glyph* g = fonts_.b.empty() ? fonts_.unifont.Find(c) : fonts_.b.Find(c)) {
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
        FeedDots(2 + 17 + 4);
    }

    std::span<const uint8_t> s_;
    const Fonts& fonts_;
    Options opt_;
    State state_;
    Picture picture_;
    int64_t y_ = 0; // the print position in 1/180 dot: dots × 180, and feed units × dpi
    int x_ = 0;     // in the line, from the print area's left end
    std::vector<Cell> cells_;
    Decoder korean_;
    std::unique_ptr<Decoder> table_;
    int tableNumber_ = -1;
    std::optional<escpos::Bitmap> downloaded_;
    std::vector<escpos::Bitmap> nvImages_;
    std::map<std::string, int> counts_;
    std::vector<std::string> order_;
};

} // namespace

Preview Render(std::span<const uint8_t> stream, const Fonts& fonts, const Options& options) {
    return Renderer(stream, fonts, options).Run();
}

} // namespace preview
