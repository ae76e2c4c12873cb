// Pictures: the limits that refuse a picture from its header, and the resolution its pHYs chunk gives.
#include "image.h"

#include <gtest/gtest.h>

#include <vector>

namespace kqapp {
namespace {

TEST(ImageLimits, RefusesWhatIsOverAnyOfThem) {
    constexpr size_t kBytes = 64u << 20;
    const struct {
        int width, height, depth;
        bool over;
    } cases[] = {
        {8192, 8192, 1, false},      // 64 MiB of grey: at the limit
        {8192, 8192, 3, true},       // the same in colour is three times that
        {8193, 10, 1, true},         // one column too many
        {576, 32768, 3, false},      // a strip as long as the longest page
        {576, 32769, 1, true},       // one line too many
        {30000, 30000, 1, true},     // 900 million pixels
        {65536, 65536, 3, true},     // more bytes than 32 bits count
        {0, 100, 1, false},          // no pixels: for the reader to refuse
    };
    for (const auto& c : cases) {
        const auto why = OverImageLimits(c.width, c.height, c.depth, kBytes, 8192, 32768);
        EXPECT_EQ(why.has_value(), c.over) << c.width << " x " << c.height << " x " << c.depth;
        if (why) {
            EXPECT_NE(why->find(std::to_string(c.width) + " x " + std::to_string(c.height)), std::string::npos) << *why;
        }
    }
}

std::vector<uint8_t> Chunk(const char* type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> c{uint8_t(data.size() >> 24), uint8_t(data.size() >> 16), uint8_t(data.size() >> 8),
                           uint8_t(data.size())};
    for (int i = 0; i < 4; ++i) {
        c.push_back(uint8_t(type[i]));
    }
    c.insert(c.end(), data.begin(), data.end());
    c.insert(c.end(), 4, 0); // the CRC is not checked here
    return c;
}

std::vector<uint8_t> Png(std::initializer_list<std::vector<uint8_t>> chunks) {
    std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const auto& c : chunks) {
        png.insert(png.end(), c.begin(), c.end());
    }
    return png;
}

std::vector<uint8_t> Phys(uint32_t x, uint32_t y, uint8_t unit) {
    return Chunk("pHYs", {uint8_t(x >> 24), uint8_t(x >> 16), uint8_t(x >> 8), uint8_t(x), uint8_t(y >> 24),
                          uint8_t(y >> 16), uint8_t(y >> 8), uint8_t(y), unit});
}

TEST(ImageResolution, FromThePhysChunkBeforeTheData) {
    const auto ihdr = Chunk("IHDR", std::vector<uint8_t>(13, 1));
    const auto idat = Chunk("IDAT", {1, 2, 3});
    const struct {
        const char* what;
        std::vector<uint8_t> png;
        int ppi;
    } cases[] = {
        {"203 dpi in metres", Png({ihdr, Phys(7992, 7992, 1), idat}), 203},
        {"300 dpi", Png({ihdr, Phys(11811, 11811, 1), idat}), 300},
        {"no unit: an aspect ratio only", Png({ihdr, Phys(7992, 7992, 0), idat}), 0},
        {"pixels not square", Png({ihdr, Phys(7992, 3996, 1), idat}), 0},
        {"after the data: not read", Png({ihdr, idat, Phys(7992, 7992, 1)}), 0},
        {"none", Png({ihdr, idat}), 0},
        {"a chunk longer than the file", Png({Chunk("IHDR", {}), {0x7F, 0xFF, 0xFF, 0xFF, 't', 'E', 'X', 't'}}), 0},
        {"a pHYs of the wrong length", Png({ihdr, Chunk("pHYs", {0, 0, 31, 56, 1}), idat}), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PngPixelsPerInch(c.png.data(), c.png.size()), c.ppi) << c.what;
    }
    // cut anywhere, it reads nothing beyond its end (the sanitizer build would say)
    const auto whole = Png({ihdr, Phys(7992, 7992, 1), idat});
    for (size_t n = 0; n < whole.size(); ++n) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(n));
        EXPECT_LE(PngPixelsPerInch(cut.data(), cut.size()), 203);
    }
}

} // namespace
} // namespace kqapp
