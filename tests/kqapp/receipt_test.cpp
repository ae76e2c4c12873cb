// Raster lines to the print processor's input: bands of the printed width, the blank paper at the top and
// bottom of a page left out, the dither chosen, and the directives that end pages and the job.
#include "receipt.h"

#include "escpos.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace kqapp {
namespace {

using Bytes = std::vector<uint8_t>;

// What a converter sent: each call of the sink, as it came.
struct Sent {
    std::vector<Bytes> calls;
    ByteSink Sink() {
        return [this](const uint8_t* b, size_t n) {
            calls.emplace_back(b, b + n);
            return true;
        };
    }
    Bytes All() const {
        Bytes out;
        for (const Bytes& c : calls) {
            out.insert(out.end(), c.begin(), c.end());
        }
        return out;
    }
    // The bands sent, read back as images.
    std::vector<escpos::Bitmap> Bands() const {
        std::vector<escpos::Bitmap> bands;
        for (const Bytes& c : calls) {
            const escpos::Item item = escpos::Next(c, 0);
            EXPECT_EQ(item.size, c.size()) << "one band per call";
            if (auto image = escpos::ReadRaster(c, item)) {
                bands.push_back(*image);
            }
        }
        return bands;
    }
};

PageFormat Format(int width, int height, Dither dither = Dither::Threshold) {
    PageFormat f;
    f.width = width;
    f.height = height;
    f.printableDots = 576;
    f.dither = dither;
    return f;
}

// A line of white with black pixels at the given places.
Bytes Line(int width, std::initializer_list<int> black = {}) {
    Bytes line(size_t(width), 255);
    for (int x : black) {
        line[size_t(x)] = 0;
    }
    return line;
}

bool Dot(const escpos::Bitmap& band, int row, int x) {
    return (band.data[size_t(row) * size_t(band.width) + size_t(x / 8)] >> (7 - x % 8)) & 1;
}

TEST(PageConverterTest, BlankPaperAboveTheFirstMarkAndBelowTheLastIsLeftOutBetweenMarksKept) {
    Sent sent;
    PageConverter page(Format(576, 100), sent.Sink());
    for (int y = 0; y < 100; ++y) {
        // marks on rows 10 and 30 only
        const Bytes line = (y == 10 || y == 30) ? Line(576, {0, 575}) : Line(576);
        ASSERT_TRUE(page.Line(line.data()));
    }
    ASSERT_TRUE(page.Finish());
    EXPECT_TRUE(page.marked());
    EXPECT_EQ(page.rowsIn(), 100);
    EXPECT_EQ(page.rowsOut(), 21) << "rows 10 to 30";
    const std::vector<escpos::Bitmap> bands = sent.Bands();
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0].width, 72);
    EXPECT_EQ(bands[0].rows, 21);
    EXPECT_TRUE(Dot(bands[0], 0, 0) && Dot(bands[0], 0, 575));
    EXPECT_TRUE(Dot(bands[0], 20, 0) && Dot(bands[0], 20, 575));
    EXPECT_EQ(std::count(bands[0].data.begin() + 72, bands[0].data.end() - 72, 0), 19 * 72)
        << "the rows between the marks are blank";
}

TEST(PageConverterTest, APageWithoutMarksSendsNothing) {
    Sent sent;
    PageConverter page(Format(576, 50), sent.Sink());
    const Bytes white = Line(576);
    for (int y = 0; y < 50; ++y) {
        ASSERT_TRUE(page.Line(white.data()));
    }
    ASSERT_TRUE(page.Finish());
    EXPECT_FALSE(page.marked());
    EXPECT_TRUE(sent.calls.empty());
}

TEST(PageConverterTest, BandsHoldAtMostABandOfRowsAndTogetherTheWholePage) {
    Sent sent;
    const int rows = 2 * kBandRows + 88;
    PageConverter page(Format(576, rows), sent.Sink());
    for (int y = 0; y < rows; ++y) {
        const Bytes line = Line(576, {y % 576});
        ASSERT_TRUE(page.Line(line.data()));
    }
    ASSERT_TRUE(page.Finish());
    const std::vector<escpos::Bitmap> bands = sent.Bands();
    ASSERT_EQ(bands.size(), 3u);
    EXPECT_EQ(bands[0].rows, kBandRows);
    EXPECT_EQ(bands[1].rows, kBandRows);
    EXPECT_EQ(bands[2].rows, 88);
    // the diagonal runs on across the bands: row y has its dot at y
    EXPECT_TRUE(Dot(bands[1], 0, kBandRows));
    EXPECT_TRUE(Dot(bands[2], 87, (2 * kBandRows + 87) % 576));
}

struct Placement {
    const char* what;
    int width;        // pixels of the line
    int blackPixel;   // a black pixel of the line
    int expectedDot;  // where it is printed; -1: not printed
};

class PlacementTest : public ::testing::TestWithParam<Placement> {};

TEST_P(PlacementTest, TheHeadPrintsTheMiddleOfTheLine) {
    const Placement& p = GetParam();
    Sent sent;
    PageConverter page(Format(p.width, 3), sent.Sink());
    const Bytes marked = Line(p.width, {p.blackPixel});
    const Bytes edge = Line(p.width, {p.width / 2}); // rows above and below keep the middle row on the page
    ASSERT_TRUE(page.Line(edge.data()));
    ASSERT_TRUE(page.Line(marked.data()));
    ASSERT_TRUE(page.Line(edge.data()));
    ASSERT_TRUE(page.Finish());
    const std::vector<escpos::Bitmap> bands = sent.Bands();
    ASSERT_EQ(bands.size(), 1u);
    ASSERT_EQ(bands[0].rows, 3);
    int found = -1;
    for (int x = 0; x < 576; ++x) {
        if (Dot(bands[0], 1, x)) {
            found = x;
        }
    }
    EXPECT_EQ(found, p.expectedDot) << p.what;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PlacementTest,
    ::testing::Values(Placement{"as wide as the head", 576, 0, 0},
                      Placement{"80 mm of paper at 203 dpi: 31 pixels of margin on the left", 639, 31, 0},
                      Placement{"80 mm, the last printed pixel", 639, 31 + 575, 575},
                      Placement{"80 mm, in the left margin", 639, 30, -1},
                      Placement{"narrower than the head: centred", 500, 0, 38},
                      Placement{"much wider: its middle", 1200, 312, 0}));

TEST(PageConverterTest, DeviceBlackCountsInkUp) {
    Sent sent;
    PageFormat f = Format(576, 1);
    f.inkIsHigh = true;
    PageConverter page(f, sent.Sink());
    Bytes line(576, 0); // no ink
    line[5] = 255;      // full ink
    ASSERT_TRUE(page.Line(line.data()));
    ASSERT_TRUE(page.Finish());
    const std::vector<escpos::Bitmap> bands = sent.Bands();
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0].data[0], 0x04) << "dot 5 alone";
}

// The share of dots a flat grey gets.
double Coverage(Dither dither, uint8_t grey, int rows = 64) {
    Sent sent;
    PageConverter page(Format(576, rows, dither), sent.Sink());
    const Bytes line(576, grey);
    for (int y = 0; y < rows; ++y) {
        page.Line(line.data());
    }
    page.Finish();
    size_t dots = 0;
    for (const escpos::Bitmap& band : sent.Bands()) {
        for (uint8_t b : band.data) {
            dots += size_t(__builtin_popcount(b));
        }
    }
    return double(dots) / (576.0 * rows);
}

TEST(PageConverterTest, AThresholdMakesGreyBlackOrWhiteDiffusionKeepsItsTone) {
    EXPECT_EQ(Coverage(Dither::Threshold, 200), 0.0);
    EXPECT_EQ(Coverage(Dither::Threshold, 100), 1.0);
    for (const uint8_t grey : {32, 64, 128, 191, 224}) {
        const double ink = 1.0 - grey / 255.0;
        EXPECT_NEAR(Coverage(Dither::Diffusion, grey), ink, 0.02) << "grey " << int(grey);
    }
}

TEST(PageConverterTest, ByContentDiffusesRowsOfTonesAndThresholdsBlackAndWhite) {
    // a row of tones, and a row of text-like marks whose anti-aliased edges are a few grey dots
    Bytes tones(576, 96);
    Bytes text(576, 255);
    for (int x = 0; x < 576; ++x) {
        const int phase = x % 12;
        text[size_t(x)] = phase < 5 ? 0 : phase == 5 ? 128 : 255;
    }
    auto convert = [](Dither dither, const Bytes& row) {
        Sent sent;
        PageConverter page(Format(576, 1, dither), sent.Sink());
        page.Line(row.data());
        page.Finish();
        return sent.All();
    };
    EXPECT_EQ(convert(Dither::ByContent, text), convert(Dither::Threshold, text));
    EXPECT_EQ(convert(Dither::ByContent, tones), convert(Dither::Diffusion, tones));
    EXPECT_NE(convert(Dither::Threshold, tones), convert(Dither::Diffusion, tones));
}

TEST(PageConverterTest, LinesBeyondThePagesLengthAreNotOnIt) {
    Sent sent;
    PageConverter page(Format(576, 3), sent.Sink());
    const Bytes black(576, 0);
    for (int y = 0; y < 10; ++y) {
        ASSERT_TRUE(page.Line(black.data()));
    }
    ASSERT_TRUE(page.Finish());
    EXPECT_EQ(page.rowsIn(), 3);
    EXPECT_EQ(page.rowsOut(), 3);
}

TEST(PageConverterTest, ASinkThatFailsEndsThePage) {
    int calls = 0;
    PageConverter page(Format(576, 2 * kBandRows), [&](const uint8_t*, size_t) {
        ++calls;
        return false;
    });
    const Bytes black(576, 0);
    bool ok = true;
    int y = 0;
    for (; y < 2 * kBandRows && ok; ++y) {
        ok = page.Line(black.data());
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(y, kBandRows) << "the first full band fails";
    EXPECT_FALSE(page.Line(black.data())) << "nothing more is taken";
    EXPECT_FALSE(page.Finish());
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(page.error().empty());
}

TEST(CheckPageTest, RefusesWhatIsNotAReceiptPage) {
    struct Case {
        int width, height, dots, maxRows;
        bool ok;
    };
    for (const Case& c : {Case{576, 100, 576, 1000, true}, Case{0, 100, 576, 1000, false},
                          Case{576, 0, 576, 1000, false}, Case{576, 1001, 576, 1000, false},
                          Case{1 << 20, 10, 576, 1000, false}, Case{576, 10, 570, 1000, false},
                          Case{639, 1000, 384, 1000, true}}) {
        PageFormat f;
        f.width = c.width;
        f.height = c.height;
        f.printableDots = c.dots;
        f.maxRows = c.maxRows;
        EXPECT_EQ(!CheckPage(f).has_value(), c.ok) << c.width << "x" << c.height << " on " << c.dots;
    }
}

TEST(ReceiptJobTest, DirectivesEndPagesAndCutWhereAsked) {
    auto run = [](CutAfter cut) {
        Sent sent;
        ReceiptJob job(cut, sent.Sink());
        EXPECT_TRUE(job.Start());
        EXPECT_TRUE(job.EndPage());
        EXPECT_TRUE(job.EndPage());
        EXPECT_TRUE(job.End());
        return sent.All();
    };
    const Bytes reset{0x1B, '@'};
    const Bytes endPage{0x1B, 'P', 'e', 0};
    const Bytes cut{0x1B, 'P', 'g', 2};
    const Bytes endDoc{0x1B, 'P', 'e', 1};
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) {
            out.insert(out.end(), p.begin(), p.end());
        }
        return out;
    };
    EXPECT_EQ(run(CutAfter::Job), cat({reset, endPage, endPage, cut, endDoc}));
    EXPECT_EQ(run(CutAfter::Page), cat({reset, endPage, cut, endDoc, endPage, cut, endDoc}));
    EXPECT_EQ(run(CutAfter::None), cat({reset, endPage, endPage, endDoc}));
    // the stream is whole ESC/POS as the KQT-50's print processor reads it
    const Bytes stream = run(CutAfter::Page);
    for (size_t at = 0; at < stream.size();) {
        const escpos::Item item = escpos::Kqt50Next(stream, at);
        EXPECT_EQ(item.kind, escpos::Kind::Command) << item.name;
        at = item.end();
    }
}

} // namespace
} // namespace kqapp
