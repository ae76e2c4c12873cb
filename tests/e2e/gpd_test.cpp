// The minidriver description of the NT media names the printer commands that applications' pages become:
// Unidrv's bytes for a page, worked out from the GPD as Microsoft documents its entries (unidrv.h), must be
// commands that the print processor takes and acts on as meant, and must print the page as it was drawn.
#include "harness.h"
#include "model.h"
#include "unidrv.h"

#include <fstream>

namespace e2e {
namespace {

unidrv::Gpd ReadGpd() {
    const Bytes file = ReadFile(SourceDir() + "/media/NT/KQT50.GPD");
    return unidrv::Gpd::Parse(std::string(file.begin(), file.end()));
}

constexpr int kWidthBytes = 72; // 576 dots

unidrv::Page Rows(unidrv::Page page, int rows, uint8_t fill) {
    page.insert(page.end(), static_cast<size_t>(rows), Bytes(kWidthBytes, fill));
    return page;
}

// For each row of a picture: how many of its dots are black.
std::optional<std::vector<int>> BlackPerRow(const std::string& path) {
    const auto image = ReadRgbPng(path);
    if (!image) {
        return std::nullopt;
    }
    std::vector<int> rows(static_cast<size_t>(image->height));
    const std::vector<uint8_t>& rgb = image->rgb;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rows[i / 3 / static_cast<size_t>(image->width)] += rgb[i] == 0 && rgb[i + 1] == 0 && rgb[i + 2] == 0;
    }
    return rows;
}

class GpdTest : public KqspoolTest {
  protected:
    void Write(const std::string& name, const Bytes& job) {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(job.data()), static_cast<std::streamsize>(job.size()));
    }
};

TEST_F(GpdTest, PositionsAreWholeDotsAndLengthsAreInMasterUnits) {
    const unidrv::Gpd gpd = ReadGpd();
    const long perDot[2] = {gpd.Number("MasterUnits", 0) / gpd.Number("DPI", 0),
                            gpd.Number("MasterUnits", 1) / gpd.Number("DPI", 1)};
    ASSERT_GT(perDot[0], 0);
    ASSERT_GT(perDot[1], 0);
    for (const char* name : {"PrintableOrigin", "PrintableArea", "CursorOrigin"}) {
        for (int axis = 0; axis < 2; ++axis) {
            EXPECT_EQ(gpd.Number(name, axis, -1) % perDot[axis], 0) << name << " " << axis;
        }
    }
    // the longest ESC J, 255/180 inch
    EXPECT_EQ(gpd.Number("MaxLineSpacing"), 255 * gpd.Number("MasterUnits", 1) / gpd.Number("YMoveUnit"));
    // a paper size of the printer's own has a selection command, empty or not
    EXPECT_EQ(gpd.commands.count("CmdSelect"), 1u);
}

TEST_F(GpdTest, EveryCommandItSendsIsOneThePrintProcessorActsOn) {
    const unidrv::Gpd gpd = ReadGpd();
    // Two pages, each two bands of 24 rows with 30 blank rows between them.
    unidrv::Page page = Rows(Rows(Rows({}, 24, 0x80), 30, 0), 24, 0x01);
    const unidrv::Job job = unidrv::Print(gpd, {page, page});
    ASSERT_EQ(job.error, "");
    for (size_t at = 0; at < job.bytes.size();) {
        const escpos::Item item = escpos::Kqt50Next(job.bytes, at);
        ASSERT_TRUE(item.kind == escpos::Kind::Command) << escpos::Describe(job.bytes, item);
        at = item.end();
    }
    const Expected out = ExpectedOutput(job.bytes, 203, 1);
    ASSERT_EQ(out.error, "");
    EXPECT_EQ(out.bandsPerPage, (std::vector<int>{2, 2}));
    const Bytes all = Join(out.writes);
    ASSERT_GE(all.size(), 5u);
    const Bytes tail(all.end() - 5, all.end());
    EXPECT_EQ(Hex(tail), Hex({0x1D, 'V', 0xFF, 0x1B, '2'})) << "cut, then the default line spacing";

    // The print processor itself agrees.
    Write("page.prn", job.bytes);
    const RunResult run = Kqspool({"print", "--out", Path("out.prn"), Path("page.prn")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(Path("out.prn")) == all, true);
}

// A tall image (more rows than one block holds), 100 mm of white, a short image: on paper the white is
// 100 mm to a dot and the tall image has every row.
TEST_F(GpdTest, ATallImageAndAHundredMillimetreGapPrintAsDrawn) {
    constexpr int kTall = 1000, kMarker = 24;
    constexpr int kGap = 799; // 100 mm in whole rows of 1/203 inch
    const unidrv::Page page = Rows(Rows(Rows({}, kTall, 0xFF), kGap, 0), kMarker, 0xFF);
    const unidrv::Job job = unidrv::Print(ReadGpd(), {page});
    ASSERT_EQ(job.error, "");
    Write("page.prn", job.bytes);
    const RunResult run = Kqspool({"print", "--out", Path("out.prn"), "--preview", Path("page.png"), Path("page.prn")});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto rows = BlackPerRow(Path("page.png"));
    ASSERT_TRUE(rows);
    // runs of all-black and of white rows, from the top
    std::vector<std::pair<bool, int>> runs;
    for (const int black : *rows) {
        const bool full = black == kWidthBytes * 8;
        ASSERT_TRUE(full || black == 0) << "a row partly printed";
        if (runs.empty() || runs.back().first != full) {
            runs.emplace_back(full, 0);
        }
        ++runs.back().second;
    }
    if (!runs.empty() && !runs.front().first) {
        runs.erase(runs.begin()); // paper before the first image
    }
    ASSERT_GE(runs.size(), 3u);
    EXPECT_EQ(runs[0], std::make_pair(true, kTall)) << "the tall image";
    EXPECT_FALSE(runs[1].first);
    // ESC J moves by 1/180 inch: the gap can come out a dot short
    EXPECT_NEAR(runs[1].second, kGap, 1) << "the gap, in rows of 1/203 inch";
    EXPECT_EQ(runs[2], std::make_pair(true, kMarker)) << "the image below the gap";
}

} // namespace
} // namespace e2e
