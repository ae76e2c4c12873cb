// The receipt preview: small constructed streams drawn with a font of known glyphs, pixel by pixel.
#include "barcode.h"
#include "preview.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <algorithm>
#include <memory>
#include <span>
#include <set>
#include <string>
#include <vector>

namespace preview {
namespace {

using Stream = std::vector<uint8_t>;

Stream Bytes(std::initializer_list<int> bytes) {
    Stream s;
    for (const int b : bytes) {
        s.push_back(static_cast<uint8_t>(b));
    }
    return s;
}

Stream operator+(Stream a, const Stream& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Stream Text(const std::string& text) {
    return Stream(text.begin(), text.end());
}

// A solid block the size of the font's cell, so that every character's extent is exact.
Glyph Solid(int width, int height) {
    return Glyph{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height, 1)};
}

Fonts TestFonts(bool withHangul = true) {
    Fonts fonts;
    for (const char c : std::string("AHX")) {
        fonts.a.Add(static_cast<uint8_t>(c), Solid(12, 24));
        fonts.b.Add(static_cast<uint8_t>(c), Solid(8, 16));
    }
    if (withHangul) {
        fonts.unifont.Add(U'\uAC00', Solid(16, 16)); // 가
    }
    return fonts;
}

struct Box {
    int left = -1, top = -1, right = -1, bottom = -1; // inclusive; -1 when nothing has the ink
    int width() const { return left < 0 ? 0 : right - left + 1; }
    int height() const { return top < 0 ? 0 : bottom - top + 1; }
};

Box Extent(const Picture& p, uint8_t ink, int fromRow = 0, int toRow = -1) {
    Box b;
    const int end = toRow < 0 ? p.height : std::min(toRow, p.height);
    for (int y = fromRow; y < end; ++y) {
        for (int x = 0; x < p.width; ++x) {
            if (p.At(x, y) != ink) {
                continue;
            }
            if (b.left < 0) {
                b = {x, y, x, y};
            }
            b.left = std::min(b.left, x);
            b.right = std::max(b.right, x);
            b.top = std::min(b.top, y);
            b.bottom = std::max(b.bottom, y);
        }
    }
    return b;
}

// GS v 0 of one row-major image.
Stream Raster(int widthBytes, int rows, const Stream& data) {
    return Bytes({0x1D, 'v', '0', 0, widthBytes & 0xFF, widthBytes >> 8, rows & 0xFF, rows >> 8}) + data;
}

TEST(PreviewTest, ImageLandsAtItsPlaceAlignedAndBelowTheFeed) {
    // 16 × 3 dots: a checker of bytes, so that a swapped or shifted byte shows.
    const Stream data = Bytes({0xF0, 0x0F, 0x0F, 0xF0, 0xAA, 0x55});
    const Stream job = Bytes({0x1B, 'J', 18, 0x1B, 'a', 1}) + Raster(2, 3, data);
    const Preview out = Render(job, TestFonts());
    ASSERT_EQ(out.picture.width, 576);
    EXPECT_TRUE(out.warnings.empty());
    // ESC J 18 is 18/180 inch: 20 dots at 203 dpi (20.3); centred: (576 - 16) / 2.
    const int left = 280, top = 20;
    ASSERT_EQ(out.picture.height, top + 3);
    for (int y = 0; y < out.picture.height; ++y) {
        for (int x = 0; x < out.picture.width; ++x) {
            const bool inside = y >= top && x >= left && x < left + 16;
            const int dx = x - left, row = y - top;
            const bool want = inside && (data[row * 2 + dx / 8] & (0x80 >> (dx % 8)));
            ASSERT_EQ(out.picture.At(x, y), want ? kDot : kPaper) << "at " << x << "," << y;
        }
    }
}

TEST(PreviewTest, FeedsMoveByTheirUnitsAtThePrintersResolution) {
    const Stream mark = Raster(1, 1, Bytes({0x80}));
    struct Case {
        Stream before;
        int dpi;
        int row; // where the one-dot image lands
    };
    Stream inch; // 180 feeds of one unit: their fractions add up to exactly one inch
    for (int i = 0; i < 180; ++i) {
        inch = inch + Bytes({0x1B, 'J', 1});
    }
    const Case cases[] = {
        {Bytes({0x1B, 'J', 0}), 203, 0},
        {Bytes({0x1B, 'J', 1}), 203, 1},
        {Bytes({0x1B, 'J', 255}), 203, 287}, // 287.6
        {Bytes({0x1B, 'J', 255}), 180, 255},
        {inch, 203, 203},
        {Bytes({0x1B, 'd', 2}), 203, 67},                 // two lines of the default 1/6 inch: 67.7
        {Bytes({0x1B, '3', 90, 0x1B, 'd', 1}), 203, 101}, // 90/180 inch
        // a line taller than the spacing moves the paper by its own height
        {Bytes({0x1B, '3', 10}) + Text("H\n"), 203, 24},
        {Bytes({0x1B, '3', 10, 0x1D, '!', 0x01}) + Text("H\n"), 203, 48},
    };
    for (const Case& c : cases) {
        const Preview out = Render(c.before + mark, TestFonts(), {576, c.dpi});
        const Box dot = Extent(out.picture, kDot, c.row > 0 && c.before.back() == '\n' ? c.row : 0);
        EXPECT_EQ(dot.top, c.row) << "dpi " << c.dpi << ", stream of " << c.before.size() << " bytes";
    }
}

TEST(PreviewTest, CharacterSizesAndFontsScaleTheCell) {
    struct Case {
        Stream mode;
        int width, height;
    };
    const Case cases[] = {
        {{}, 12, 24},
        {Bytes({0x1B, '!', 0x20}), 24, 24}, // double width
        {Bytes({0x1B, '!', 0x10}), 12, 48}, // double height
        {Bytes({0x1D, '!', 0x10}), 24, 24}, // GS ! width 2
        {Bytes({0x1D, '!', 0x72}), 96, 72}, // width 8, height 3
        {Bytes({0x1B, 'M', 1}), 8, 16},     // font B: an 8 × 16 face in a 9 × 17 cell
        {Bytes({0x1B, '!', 0x21}), 16, 16}, // font B, double width
    };
    for (const Case& c : cases) {
        const Preview out = Render(c.mode + Text("H\n"), TestFonts());
        const Box box = Extent(out.picture, kDot);
        EXPECT_EQ(box.width(), c.width) << "mode of " << c.mode.size() << " bytes";
        EXPECT_EQ(box.height(), c.height);
        EXPECT_EQ(box.left, 0);
    }
    // Two characters: the second starts one cell plus the right-side spacing further on.
    const Preview spaced = Render(Bytes({0x1B, ' ', 3, 0x1B, '!', 0x20}) + Text("HH"), TestFonts());
    EXPECT_EQ(spaced.picture.At(2 * 15 - 1, 10), kPaper); // the doubled spacing after the first
    EXPECT_EQ(spaced.picture.At(2 * 15, 10), kDot);
}

TEST(PreviewTest, LinesAlignAndWrapAtThePrintArea) {
    // 50 characters of 12 dots do not fit 576: the 49th starts the next line.
    const Preview wrapped = Render(Text(std::string(50, 'H') + "\n"), TestFonts());
    EXPECT_EQ(Extent(wrapped.picture, kDot, 0, 24).width(), 48 * 12);
    EXPECT_EQ(Extent(wrapped.picture, kDot, 24).width(), 2 * 12);
    const Preview right = Render(Bytes({0x1B, 'a', 2}) + Text("HH\n"), TestFonts(), {384, 203});
    EXPECT_EQ(Extent(right.picture, kDot).left, 384 - 24);
    const Preview margin = Render(Bytes({0x1D, 'L', 40, 0, 0x1B, '$', 10, 0}) + Text("H\n"), TestFonts());
    EXPECT_EQ(Extent(margin.picture, kDot).left, 50);
}

TEST(PreviewTest, UpsideDownTurnsTheLineHalfAround) {
    // A glyph with only its top left dot set: turned, the line's bottom right dot.
    Fonts fonts = TestFonts();
    Glyph corner{12, 24, std::vector<uint8_t>(12 * 24, 0)};
    corner.dots[0] = 1;
    fonts.a.Add(U'A', corner);
    const Preview upright = Render(Text("AH\n"), fonts);
    const Preview turned = Render(Bytes({0x1B, '{', 1}) + Text("AH\n"), fonts);
    EXPECT_EQ(upright.picture.At(0, 0), kDot);
    EXPECT_EQ(turned.picture.At(0, 0), kDot) << "the H, now at the left";
    EXPECT_EQ(turned.picture.At(12, 0), kPaper);
    EXPECT_EQ(turned.picture.At(23, 23), kDot);
    EXPECT_EQ(Extent(turned.picture, kDot, 0, 24).width(), 24);
}

TEST(PreviewTest, CutsAreDashedRedLinesWithTheirLabel) {
    const Stream job = Text("H\n") + Bytes({0x1D, 'V', 0x42, 0}) + Text("H\n") + Bytes({0x1D, 'V', 0x00});
    Fonts fonts = TestFonts();
    for (const char c : std::string("partialcut ")) {
        fonts.b.Add(static_cast<uint8_t>(c), Solid(8, 16));
    }
    const Preview out = Render(job, fonts);
    EXPECT_TRUE(out.warnings.empty()) << out.warnings.front();
    // After the first line (24 dots, fed 1/6 inch = 33 dots) and a gap of 4.
    const int first = 33 + 4;
    int dashes = 0;
    for (int x = 0; x < 576; ++x) {
        dashes += out.picture.At(x, first) == kMark && (x == 0 || out.picture.At(x - 1, first) != kMark);
        EXPECT_EQ(out.picture.At(x, first), out.picture.At(x, first + 1)) << x;
    }
    EXPECT_EQ(dashes, 48);
    EXPECT_EQ(out.picture.At(0, first - 1), kPaper);
    // The labels: "partial cut" is longer than "cut".
    const Box firstLabel = Extent(out.picture, kMark, first + 2, first + 22);
    const Box secondLabel = Extent(out.picture, kMark, out.picture.height - 21, out.picture.height);
    EXPECT_EQ(firstLabel.width(), 11 * 9 - 1);
    EXPECT_EQ(secondLabel.width(), 3 * 9 - 1);
    // GS V 'A' takes no second byte on this printer: the "H" after it is text.
    const Preview a = Render(Bytes({0x1D, 'V', 'A'}) + Text("H"), fonts);
    EXPECT_EQ(Extent(a.picture, kDot).width(), 12);
}

TEST(PreviewTest, WhatItCannotShowIsSkippedByLengthAndNamedOnce) {
    // GS ( with a payload of printable bytes, twice; an unknown ESC code; page mode.
    const Stream extended = Bytes({0x1D, '(', 'k', 4, 0, 'H', 'H', 'H', 'H'});
    const Stream job = extended + extended + Bytes({0x1B, 0x7F}) + Bytes({0x1B, 'L'}) + Text("X\n");
    const Preview out = Render(job, TestFonts());
    EXPECT_EQ(Extent(out.picture, kDot).width(), 12); // only the X
    const std::vector<std::string> want = {
        "not shown: GS ( (extended function) (2 times)",
        "unknown command ESC 0x7f: skipped",
        "not shown: ESC L (page mode)",
    };
    EXPECT_EQ(out.warnings, want);
}

TEST(PreviewTest, AStreamCutShortDrawsWhatCameBefore) {
    const Stream job = Text("HH\n") + Bytes({0x1D, 'v', '0', 0, 10, 0, 10, 0, 0xFF, 0xFF});
    const Preview out = Render(job, TestFonts());
    EXPECT_EQ(Extent(out.picture, kDot).width(), 24);
    ASSERT_EQ(out.warnings.size(), 1u);
    EXPECT_EQ(out.warnings[0],
              "the stream ends inside GS v 0 (raster bit image) at byte 3: drawn up to there");
}

TEST(PreviewTest, KoreanTextIsDrawnWhereTheJobSelectsIt) {
    const Stream ga = Bytes({0xB0, 0xA1}); // 가 in code page 949
    // ESC R 13 (Korea): one 24-dot character from Unifont's 16 dots.
    const Preview korean = Render(Bytes({0x1B, 'R', 13}) + ga + Text("\n"), TestFonts());
    EXPECT_TRUE(korean.warnings.empty());
    EXPECT_EQ(Extent(korean.picture, kDot).width(), 24);
    EXPECT_EQ(Extent(korean.picture, kDot).height(), 24);
    EXPECT_EQ(Extent(korean.picture, kMark).width(), 0);
    // Without a Hangul font: a red box and a warning that says so.
    const Preview missing = Render(Bytes({0x1C, '&'}) + ga + Text("\n"), TestFonts(false));
    EXPECT_EQ(Extent(missing.picture, kDot).width(), 0);
    EXPECT_EQ(Extent(missing.picture, kMark).width(), 22);
    ASSERT_EQ(missing.warnings.size(), 1u);
    EXPECT_NE(missing.warnings[0].find("Korean text is not rendered"), std::string::npos);
    // Not selected: two single-byte characters of code table 0, which the test font lacks.
    const Preview single = Render(ga + Text("\n"), TestFonts());
    EXPECT_EQ(Extent(single.picture, kMark).width(), 12 + 10);
}

TEST(PreviewTest, BarcodesAreDrawnOrRefusedAsThePrinterWould) {
    struct Case {
        int system;
        std::string data;
        int modules; // the width of the bars in modules; 0 when the barcode is not drawn
        std::string text;
    };
    const Case cases[] = {
        {2, "590123412345", 95, "5901234123457"},     // EAN13, check digit computed
        {67, "5901234123450", 95, "5901234123457"},   // a wrong check digit is replaced
        {0, "03600029145", 95, "036000291452"},       // UPC-A
        {3, "9638507", 67, "96385074"},               // EAN8
        {73, "{BR-000451", 11 * 10 + 13, "R-000451"}, // start, 8 data, check, stop
        {73, "{C123456", 11 * 5 + 13, "123456"},      // three digit pairs
        {73, "{BA{C1234", 11 * 6 + 13, "A1234"},      // a switch to set C
        {4, "AB", 0, "*AB*"},                         // CODE39: width in half modules, below
        {5, "1234", 0, "1234"},                       // ITF
        {2, "59012341234A", -1, ""},
        {5, "123", -1, ""},
        {73, "R-000451", -1, ""},
        {73, "{BR-0\n", -1, ""},
        {1, "01234565", -1, ""}, // UPC-E is not drawn
        {9, "1", -1, ""},
    };
    for (const Case& c : cases) {
        std::string why;
        const auto bars = EncodeBarcode(static_cast<uint8_t>(c.system), c.data, &why);
        if (c.modules < 0) {
            EXPECT_FALSE(bars) << c.system << " " << c.data;
            EXPECT_FALSE(why.empty());
            continue;
        }
        ASSERT_TRUE(bars) << c.system << " " << c.data << ": " << why;
        EXPECT_EQ(bars->text, c.text);
        EXPECT_EQ(bars->widths.size() % 2, 1u) << "bars at both ends";
        int width = 0;
        for (const int w : bars->widths) {
            width += w;
        }
        if (c.modules > 0) {
            EXPECT_EQ(width, c.modules) << c.data;
        }
    }
    // CODE39 "*AB*": four characters of 6 narrow and 3 wide elements and three gaps, in half modules.
    std::string why;
    EXPECT_EQ(EncodeBarcode(4, "AB", &why)->widths.size(), 4u * 9 + 3);

    // Drawn: GS h 50, GS w 2, HRI below in font A, centred.
    Fonts fonts = TestFonts();
    for (const char c : std::string("0123456789")) {
        fonts.a.Add(static_cast<uint8_t>(c), Solid(12, 24));
    }
    const Stream job =
        Bytes({0x1D, 'h', 50, 0x1D, 'w', 2, 0x1D, 'H', 2, 0x1D, 'k', 2}) + Text("590123412345") + Bytes({0});
    const Preview out = Render(job, fonts);
    EXPECT_TRUE(out.warnings.empty());
    const Box bars = Extent(out.picture, kDot, 0, 50);
    EXPECT_EQ(bars.left, 0);
    EXPECT_EQ(bars.width(), 95 * 2);
    EXPECT_EQ(bars.height(), 50);
    const Box hri = Extent(out.picture, kDot, 50);
    EXPECT_EQ(hri.top, 50);
    EXPECT_EQ(hri.width(), 13 * 12);
    EXPECT_EQ(hri.left, (95 * 2 - 13 * 12) / 2);
}

// Rules of the symbologies that any typo in a pattern table breaks.
TEST(PreviewTest, BarcodePatternsKeepTheirSymbologysRules) {
    std::string why;
    auto modules = [](const Bars& bars, size_t from, size_t count) {
        std::string out;
        for (size_t i = from; i < from + count; ++i) {
            out += std::string(static_cast<size_t>(bars.widths[i]), i % 2 == 0 ? '1' : '0');
        }
        return out;
    };
    // EAN-8 of one digit repeated: the left half's codes (odd parity) are the complements of the right's.
    for (char d = '0'; d <= '9'; ++d) {
        const auto bars = EncodeBarcode(3, std::string(7, d), &why);
        ASSERT_TRUE(bars);
        std::string all = modules(*bars, 0, bars->widths.size());
        ASSERT_EQ(all.size(), 67u);
        for (int i = 0; i < 3; ++i) {
            const std::string left = all.substr(3 + 7 * i, 7), right = all.substr(36 + 7 * i, 7);
            EXPECT_EQ(std::count(left.begin(), left.end(), '1') % 2, 1) << d;
            for (int k = 0; k < 7; ++k) {
                EXPECT_NE(left[k], right[k]) << d << " " << k;
            }
        }
    }
    // EAN-13: digits 2 to 7 take the odd (L) or even (G) parity that the first digit says.
    const char* parity[] = {"oooooo", "ooeoee", "ooeeoe", "ooeeeo", "oeooee",
                            "oeeooe", "oeeeoo", "oeoeoe", "oeoeeo", "oeeoeo"};
    for (char d = '0'; d <= '9'; ++d) {
        const auto bars = EncodeBarcode(2, std::string(1, d) + "12345678901", &why);
        ASSERT_TRUE(bars);
        const std::string all = modules(*bars, 0, bars->widths.size());
        for (int i = 0; i < 6; ++i) {
            const std::string code = all.substr(3 + 7 * i, 7);
            EXPECT_EQ(std::count(code.begin(), code.end(), '1') % 2 == 1 ? 'o' : 'e', parity[d - '0'][i])
                << d;
        }
    }
    // CODE128 set B: every symbol is 11 modules, its bars an even number of them.
    for (int c = 0x20; c < 0x80; ++c) {
        const auto bars = EncodeBarcode(73, std::string("{B") + static_cast<char>(c), &why);
        ASSERT_TRUE(bars) << c;
        for (size_t symbol = 0; symbol < 3; ++symbol) {
            int sum = 0, barSum = 0;
            for (size_t k = 0; k < 6; ++k) {
                sum += bars->widths[symbol * 6 + k];
                barSum += k % 2 == 0 ? bars->widths[symbol * 6 + k] : 0;
            }
            EXPECT_EQ(sum, 11) << c;
            EXPECT_EQ(barSum % 2, 0) << c;
        }
    }
    // CODE39: three of nine elements wide, and no two characters alike.
    std::set<std::vector<int>> seen;
    for (const char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%")) {
        const auto bars = EncodeBarcode(4, std::string(1, c), &why);
        ASSERT_TRUE(bars) << c;
        const std::vector<int> one(bars->widths.begin() + 10, bars->widths.begin() + 19);
        EXPECT_EQ(std::count(one.begin(), one.end(), 5), 3) << c;
        EXPECT_TRUE(seen.insert(one).second) << c;
    }
    // ITF: two of five wide, in the bars for the first digit of a pair and in the spaces for the second.
    for (char d = '0'; d <= '9'; ++d) {
        const auto bars = EncodeBarcode(5, std::string(1, d) + d, &why);
        ASSERT_TRUE(bars);
        int wideBars = 0, wideSpaces = 0;
        for (size_t k = 4; k < 14; ++k) {
            (k % 2 == 0 ? wideBars : wideSpaces) += bars->widths[k] == 5;
        }
        EXPECT_EQ(wideBars, 2) << d;
        EXPECT_EQ(wideSpaces, 2) << d;
    }
}

// Pieces of a stream as a line brings them: every `size` bytes.
std::vector<Preview> WriteInPieces(Renderer& renderer, const Stream& stream, size_t size) {
    std::vector<Preview> receipts;
    for (size_t at = 0; at < stream.size(); at += size) {
        const size_t n = std::min(size, stream.size() - at);
        for (Preview& p : renderer.Write(std::span(stream).subspan(at, n))) {
            receipts.push_back(std::move(p));
        }
    }
    return receipts;
}

TEST(PreviewTest, AStreamInPiecesDrawsAsTheWholeStream) {
    const Stream ga = Bytes({0xB0, 0xA1}); // 가 in code page 949
    const Stream cases[] = {
        // Korean pairs and a raster image, then a command cut short at the end.
        Bytes({0x1B, 'R', 13}) + ga + Text("H") + ga + Text("\\\n") + Raster(2, 2, Bytes({0xF0, 0x0F, 0xAA, 0x55})) +
            Bytes({0x1D, 'v', '0', 0, 10, 0}),
        // A barcode whose data runs to its NUL, feeds, a cut with its feed, and a command it cannot show.
        Bytes({0x1D, 'H', 2, 0x1D, 'k', 2}) + Text("590123412345") + Bytes({0, 0x1B, 'J', 7, 0x1D, 'V', 'B', 9}) +
            Bytes({0x1B, 'L'}) + Text("X\n"),
    };
    const Fonts fonts = TestFonts();
    for (const Stream& stream : cases) {
        const Preview whole = Render(stream, fonts);
        ASSERT_FALSE(whole.warnings.empty());
        for (const size_t size : {1, 2, 5}) {
            SCOPED_TRACE(testing::Message() << "pieces of " << size);
            Renderer renderer(fonts);
            EXPECT_TRUE(WriteInPieces(renderer, stream, size).empty()) << "one picture: none at the cuts";
            const Preview pieces = renderer.Finish();
            EXPECT_EQ(pieces.warnings, whole.warnings);
            EXPECT_EQ(pieces.picture.height, whole.picture.height);
            EXPECT_TRUE(pieces.picture.dots == whole.picture.dots);
        }
    }
}

TEST(PreviewTest, OnePictureAReceiptEndsEachAtItsCut) {
    // 90 feeds of 1/180 inch before the first cut and after it: 101.5 dots each at 203 dpi, which only
    // add up to the whole picture's 203 when the half dot goes on into the second receipt.
    Stream half;
    for (int i = 0; i < 90; ++i) {
        half = half + Bytes({0x1B, 'J', 1});
    }
    const Stream first = half + Bytes({0x1D, 'V', 0});
    // The second ends under a double-height line that it cuts through: the line's foot starts the third.
    const Stream second =
        Bytes({0x1B, 0x7F}) + half + Raster(1, 1, Bytes({0x80})) + Bytes({0x1B, '!', 0x10}) + Text("H") +
        Bytes({0x1B, 'i'});
    const Stream third = Bytes({0x1B, 'a', 2}) + Text("X");
    const Stream job = first + second + third;
    const Fonts fonts = TestFonts();
    const Preview whole = Render(job, fonts);

    Renderer renderer(fonts, {}, Renderer::Pictures::OnePerReceipt);
    // The first cut's command arrives in two pieces: the receipt ends with the piece that completes it.
    EXPECT_TRUE(renderer.Write(std::span(first).first(first.size() - 1)).empty());
    std::vector<Preview> receipts = renderer.Write(std::span(first).last(1));
    ASSERT_EQ(receipts.size(), 1u);
    std::vector<Preview> more = renderer.Write(second + third);
    ASSERT_EQ(more.size(), 1u);
    receipts.push_back(std::move(more[0]));
    receipts.push_back(renderer.Finish());

    // Each receipt ends below its cut's mark, and its warnings are its own.
    EXPECT_EQ(receipts[0].picture.height, 101 + 4 + 2 + 17 + 4);
    EXPECT_EQ(Extent(receipts[0].picture, kMark).top, 101 + 4);
    EXPECT_TRUE(receipts[0].warnings.empty());
    EXPECT_EQ(receipts[1].warnings, std::vector<std::string>{"unknown command ESC 0x7f: skipped"});
    EXPECT_EQ(Extent(receipts[1].picture, kDot).top, 102) << "the half dot carried over";
    EXPECT_EQ(Extent(receipts[2].picture, kDot, 0, 1).left, 0) << "the line's foot";
    // One below the other, they are the whole stream's picture.
    Picture stacked{whole.picture.width, 0, {}};
    for (const Preview& r : receipts) {
        EXPECT_EQ(r.picture.width, whole.picture.width);
        stacked.height += r.picture.height;
        stacked.dots.insert(stacked.dots.end(), r.picture.dots.begin(), r.picture.dots.end());
    }
    EXPECT_EQ(stacked.height, whole.picture.height);
    EXPECT_TRUE(stacked.dots == whole.picture.dots);
}

TEST(PreviewTest, ACommandTooLongToKeepIsSkippedAndWhatFollowsIsDrawn) {
    // an image that says it is far longer than the preview keeps, and barcode data that runs on past it,
    // each followed by a line of text; fed in pieces as a line brings them
    const size_t longer = preview::kLongestCommand + 1000;
    Stream image = Bytes({0x1D, 'v', '0', 0, 0xE8, 0x03}) + Bytes({0x00, 0x42}); // 1000 x 16,896 bytes
    image.resize(8 + 1000u * 0x4200, 0x55);
    Stream barcode = Bytes({0x1D, 'k', 4});
    barcode.resize(3 + longer, 'A');
    barcode.push_back(0);
    const Fonts fonts = TestFonts();
    for (const Stream& command : {image, barcode}) {
        const Stream stream = command + Text("X\n");
        ASSERT_GT(command.size(), preview::kLongestCommand);
        Renderer renderer(fonts);
        WriteInPieces(renderer, stream, 1 << 16);
        const Preview p = renderer.Finish();
        ASSERT_EQ(p.warnings.size(), 1u);
        EXPECT_NE(p.warnings[0].find("longer than the preview keeps"), std::string::npos) << p.warnings[0];
        const Box x = Extent(p.picture, kDot);
        EXPECT_EQ(x.width(), 12) << "the X after it, and nothing of the command";
        EXPECT_EQ(x.height(), 24);
    }
}

TEST(PreviewTest, PngHoldsThePictureDotForDot) {
    const Preview out = Render(Text("HX\n") + Bytes({0x1D, 'V', 1}), TestFonts());
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), std::fclose);
    ASSERT_TRUE(file);
    std::string error;
    ASSERT_TRUE(WritePng(out.picture, file.get(), &error)) << error;
    std::rewind(file.get());
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_stdio(&image, file.get()));
    EXPECT_EQ(static_cast<int>(image.width), out.picture.width);
    EXPECT_EQ(static_cast<int>(image.height), out.picture.height);
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    const uint8_t colours[3][3] = {{255, 255, 255}, {0, 0, 0}, {220, 0, 0}};
    for (size_t i = 0; i < out.picture.dots.size(); ++i) {
        const uint8_t* want = colours[out.picture.dots[i]];
        ASSERT_TRUE(rgb[3 * i] == want[0] && rgb[3 * i + 1] == want[1] && rgb[3 * i + 2] == want[2]) << i;
    }
    Picture empty;
    EXPECT_FALSE(WritePng(empty, file.get(), &error));
}

TEST(PreviewTest, TheSystemFontsLoad) {
    const Fonts fonts = Fonts::Load();
    EXPECT_TRUE(fonts.missing.empty()) << fonts.missing.front();
    ASSERT_NE(fonts.a.Find(U'A'), nullptr);
    EXPECT_EQ(fonts.a.Find(U'A')->width, 12);
    EXPECT_EQ(fonts.a.Find(U'A')->height, 24);
    ASSERT_NE(fonts.b.Find(U'A'), nullptr);
    EXPECT_EQ(fonts.b.Find(U'A')->height, 16);
    ASSERT_NE(fonts.unifont.Find(U'\uD55C'), nullptr); // 한
    EXPECT_EQ(fonts.unifont.Find(U'\uD55C')->width, 16);
    // A missing file is named, not fatal.
    FontFiles files;
    files.fontA = "/nonexistent/font.psf.gz";
    const Fonts partial = Fonts::Load(files);
    ASSERT_EQ(partial.missing.size(), 1u);
    EXPECT_NE(partial.missing[0].find("/nonexistent/font.psf.gz"), std::string::npos);
    EXPECT_TRUE(partial.a.empty());
}

} // namespace
} // namespace preview
