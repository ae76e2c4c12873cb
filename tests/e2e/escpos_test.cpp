// The decoder the end-to-end tests judge by: command lengths, truncated and unknown commands, images.
#include "escpos.h"

#include <gtest/gtest.h>

namespace {

using escpos::Bitmap;
using escpos::Bytes;
using escpos::Kind;

struct LengthCase {
    Bytes stream; // one command, then "AB" so that the end shows
    std::string name;
    size_t size;
};

TEST(Escpos, CommandLengths) {
    const std::vector<LengthCase> cases = {
        {{0x10, 0x04, 0x01}, "DLE EOT", 3},
        {{0x10, 0x14, 0x01, 0x00, 0x05}, "DLE DC4", 5},
        {{0x1B, '@'}, "ESC @", 2},
        {{0x1B, 'W', 1, 2, 3, 4, 5, 6, 7, 8}, "ESC W", 10},
        {{0x1B, 'D', 8, 16, 0x1B, 0}, "ESC D", 6},
        // ESC & y=2 c1='A' c2='B': widths 1 and 0
        {{0x1B, '&', 2, 'A', 'B', 1, 0x1B, 0x1D, 0}, "ESC &", 9},
        {{0x1B, '&', 2, 'B', 'A'}, "ESC &", 5},
        {{0x1B, '*', 33, 2, 0, 1, 2, 3, 4, 5, 6}, "ESC *", 11},
        {{0x1B, 'P', 'e', 0}, "ESC P e", 4},
        {{0x1B, 'P', 'b', 1, 2}, "ESC P b", 5},
        // FS q with two images of 1x1 (8 bytes each)
        {Bytes{0x1C, 'q', 2, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x1D, 1, 0, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8},
         "FS q", 27},
        {{0x1D, '*', 1, 1, 0, 1, 2, 3, 4, 5, 6, 7}, "GS *", 12},
        {{0x1D, '(', 'k', 3, 0, 49, 67, 3}, "GS (", 8},
        {{0x1D, 'V', 1}, "GS V", 3},
        {{0x1D, 'V', 'A', 3}, "GS V", 4},
        {{0x1D, 'k', 4, '1', '2', 0}, "GS k", 6},
        {{0x1D, 'k', 73, 3, '1', 0x0D, 0}, "GS k", 7},
        {{0x1D, 'v', '0', 0, 2, 0, 2, 0, 0x10, 0x1B, 0x1C, 0x1D}, "GS v 0", 12},
    };
    for (const LengthCase& c : cases) {
        Bytes stream = c.stream;
        stream.push_back('A');
        stream.push_back('B');
        const std::vector<escpos::Item> items = escpos::Decode(stream);
        SCOPED_TRACE(c.name);
        ASSERT_EQ(items.size(), 2u) << escpos::Describe(stream, items[0]);
        EXPECT_EQ(items[0].kind, Kind::Command);
        EXPECT_EQ(items[0].name, c.name);
        EXPECT_EQ(items[0].size, c.size);
        EXPECT_EQ(items[1].kind, Kind::Text);
        EXPECT_EQ(items[1].size, 2u);
    }
}

// The printer reads what its print processor sends by ESC/POS lengths, but GS V as the processor does.
TEST(Escpos, ThePrinterReadsGsVAsItsProcessorAndTheRestAsEscPos) {
    const std::vector<LengthCase> cases = {
        {{0x1D, 'V', 'A', 3}, "GS V", 3},
        {{0x1D, 'V', 'B', 3}, "GS V", 4},
        {{0x1D, 'V', 0xFF}, "GS V", 3},
        {{0x1D, 'k', 73, 3, '1', 0x0D, 0}, "GS k", 7}, // by its count, not to the CR
        {{0x10, 0x14, 0x01, 0x00, 0x05}, "DLE DC4", 5},
        {{0x1C, '&'}, "FS &", 2}, // not a command of the processor's
    };
    for (const LengthCase& c : cases) {
        const escpos::Item item = escpos::Kqt50PrinterNext(c.stream, 0);
        SCOPED_TRACE(escpos::Describe(c.stream, item));
        EXPECT_EQ(item.kind, Kind::Command);
        EXPECT_EQ(item.name, c.name);
        EXPECT_EQ(item.size, c.size);
    }
    const Bytes cut = {0x1D, 'V', 'B'};
    EXPECT_EQ(escpos::Kqt50PrinterNext(cut, 0).kind, Kind::Truncated);
}

TEST(Escpos, CutShortUnknownAndMalformedCommandsAreReported) {
    const struct {
        Bytes stream;
        Kind kind;
        size_t size;
    } cases[] = {
        {{0x1B}, Kind::Truncated, 1},
        {{0x1B, '!'}, Kind::Truncated, 2},
        {{0x1B, 'D', 1, 2}, Kind::Truncated, 4},
        {{0x1D, 'v', '0', 0, 2, 0, 2, 0, 1, 2, 3}, Kind::Truncated, 11},
        {{0x1D, 'k', 73, 5, '1'}, Kind::Truncated, 5},
        {{0x1B, 0x1B, '@'}, Kind::Unknown, 2},
        {{0x1C, 'x', 'A'}, Kind::Unknown, 2},
        {{0x1B, 'P', 'x', 'A'}, Kind::Malformed, 3},
        {{0x1D, 'k', 7, 'A'}, Kind::Malformed, 3},
        {{0x1D, 'v', '1', 'A'}, Kind::Malformed, 3},
    };
    for (const auto& c : cases) {
        const escpos::Item item = escpos::Next(c.stream, 0);
        SCOPED_TRACE(escpos::Describe(c.stream, item));
        EXPECT_EQ(item.kind, c.kind);
        EXPECT_EQ(item.size, c.size);
        EXPECT_FALSE(escpos::AllWhole(escpos::Decode(c.stream)));
    }
}

TEST(Escpos, RasterImagesStackedAndPadded) {
    const Bitmap wide{2, 2, {0xFF, 0x01, 0x80, 0x1B}};
    const Bitmap narrow{1, 1, {0xAA}};
    Bytes stream = escpos::EncodeRaster(wide);
    stream.push_back('x');
    const Bytes second = escpos::EncodeRaster(narrow);
    stream.insert(stream.end(), second.begin(), second.end());

    EXPECT_EQ(escpos::CountRasterImages(stream), 2u);
    const Bitmap page = escpos::StackRasterImages(stream);
    EXPECT_EQ(page, (Bitmap{2, 3, {0xFF, 0x01, 0x80, 0x1B, 0xAA, 0x00}}));
    EXPECT_EQ(escpos::ToText(narrow), "#.#.#.#.\n");
    // An image cut short is not counted.
    stream.pop_back();
    EXPECT_EQ(escpos::CountRasterImages(stream), 1u);
}

} // namespace
