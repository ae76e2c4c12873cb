// The band list of a page and its page image, as whole jobs make them: merging, blank bands, flushing,
// copy passes and pages taller than one GS v 0 image.
#include "rig.h"

#include <string>
#include <vector>

namespace kqtest {
namespace {

constexpr int ESC = 0x1B;
constexpr int GS = 0x1D;

const Bytes kEndOfPage = B({ESC, 'P', 'e', 0});
const Bytes kEndOfPageFeed = B({ESC, 'J', 0xEE});

Bytes Raster(int width, int rows, const Bytes& data) {
    return Concat({B({GS, 'v', '0', 0, width & 0xFF, width >> 8, rows & 0xFF, rows >> 8}), data});
}

// A command without its prefix byte.
Bytes Body(const Bytes& command) {
    return Bytes(command.begin() + 1, command.end());
}

// Rows of `width` bytes, each row of `data` (of `bandWidth` bytes a row) padded with zeros on the right.
Bytes Padded(const Bytes& data, int bandWidth, int width) {
    Bytes out;
    for (size_t at = 0; at < data.size(); at += bandWidth) {
        out.insert(out.end(), data.begin() + at, data.begin() + at + bandWidth);
        out.insert(out.end(), width - bandWidth, 0);
    }
    return out;
}

class BandsTest : public ProcessorTest {
  protected:
    void TearDown() override {
        EndHandlerJob();
        ProcessorTest::TearDown();
    }
    BOOL Print(const Bytes& job, const std::u16string& parameters = u"COPIES=1;") {
        control::ClearWrites();
        return PrintJob(job, parameters);
    }
};

TEST_F(BandsTest, BandsOfWidths48And72Merge) {
    const Bytes narrow = Pattern(48 * 2, 0x1B), wide = Pattern(72 * 3, 0x1D);
    EXPECT_TRUE(Print(Concat({Raster(48, 2, narrow), Raster(72, 3, wide), kEndOfPage})));
    const std::vector<Bytes> writes = WriteChunks();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(Hex(Bytes(writes[0].begin(), writes[0].begin() + 8)), Hex(B({GS, 'v', '0', 0, 0x48, 0, 5, 0})));
    EXPECT_TRUE(writes[0] == Concat({B({GS, 'v', '0', 0, 72, 0, 5, 0}), Padded(narrow, 48, 72), wide}))
        << Hex(writes[0]);
    EXPECT_EQ(writes[1], kEndOfPageFeed);
}

TEST_F(BandsTest, SingleBandGoesOutUnchanged) {
    const Bytes data = Pattern(72 * 24, 0x10);
    EXPECT_TRUE(Print(Concat({Raster(72, 24, data), kEndOfPage})));
    EXPECT_EQ(HexOf(WriteChunks()),
              HexOf({Concat({B({GS, 'v', '0', 0, 72, 0, 24, 0}), data}), kEndOfPageFeed}));
}

TEST_F(BandsTest, FeedBetweenImagesBecomesBlankRows) {
    control::SetPrinterResolution(kPrinter, 180);
    const Bytes top = Pattern(3 * 24, 1), bottom = Pattern(3 * 24, 2);
    EXPECT_TRUE(Print(Concat({Raster(3, 24, top), B({ESC, 'J', 60}), Raster(3, 24, bottom), kEndOfPage})));
    const Bytes image = Concat({B({GS, 'v', '0', 0, 3, 0, 84, 0}), top, Bytes(3 * 36, 0), bottom});
    EXPECT_EQ(HexOf(WriteChunks()), HexOf({image, kEndOfPageFeed}));
}

// An image of no width holds rows all the same: they stay rows of the page, blank.
TEST_F(BandsTest, ImageWithoutWidthKeepsItsRows) {
    const Bytes data = B({0xAA, 0xBB});
    EXPECT_TRUE(Print(Concat({Raster(0, 3, {}), Raster(2, 1, data), kEndOfPage})));
    EXPECT_EQ(HexOf(WriteChunks()),
              HexOf({Concat({B({GS, 'v', '0', 0, 2, 0, 4, 0}), Bytes(6, 0), data}), kEndOfPageFeed}));
    EXPECT_TRUE(Print(Concat({Raster(0, 3, {}), kEndOfPage})));
    EXPECT_EQ(HexOf(WriteChunks()), HexOf({B({GS, 'v', '0', 0, 0, 0, 3, 0}), kEndOfPageFeed}));
}

TEST_F(BandsTest, FlushOfAnEmptyListWritesNothing) {
    kqprint::ProcessorJob* job = StartHandlerJob({});
    ASSERT_NE(job, nullptr);
    EXPECT_TRUE(kqprint::FlushBandList(job->Bands, job->PrinterHandle.get()));
    EXPECT_TRUE(WriteChunks().empty());
    EXPECT_EQ(job->Bands.BandHead, nullptr);

    EXPECT_TRUE(Print(Concat({B("A"), kEndOfPage, kEndOfPage})));
    EXPECT_EQ(HexOf(WriteChunks()), HexOf({B("A"), kEndOfPageFeed, kEndOfPageFeed}));
}

TEST_F(BandsTest, BandAfterAFlushStartsANewList) {
    // The bytes after each prefix, as the handlers read them.
    const Bytes first = Pattern(5 * 2, 3), second = Pattern(3 * 4, 4);
    const Bytes rest =
        Concat({Body(Raster(5, 2, first)), B({'P', 'e', 0}), Body(Raster(3, 4, second)), B({'P', 'e', 0})});
    kqprint::ProcessorJob* job = StartHandlerJob(rest);
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(kqprint::HandleGsSequence(*job, Reader()));
    ASSERT_TRUE(kqprint::HandleEscSequence(*job, Reader()));
    EXPECT_EQ(job->Bands.BandHead, nullptr);
    EXPECT_EQ(job->Bands.BandMaxWidth, 0);
    EXPECT_EQ(job->Bands.BandTotalRows, 0);

    ASSERT_TRUE(kqprint::HandleGsSequence(*job, Reader()));
    ASSERT_NE(job->Bands.BandHead, nullptr);
    EXPECT_EQ(job->Bands.BandHead, job->Bands.BandTail);
    EXPECT_EQ(job->Bands.BandHead->Next, nullptr);
    EXPECT_EQ(job->Bands.BandMaxWidth, 3);
    EXPECT_EQ(job->Bands.BandTotalRows, 4);

    control::ClearWrites();
    ASSERT_TRUE(kqprint::HandleEscSequence(*job, Reader()));
    EXPECT_EQ(HexOf(WriteChunks()), HexOf({Raster(3, 4, second), kEndOfPageFeed}));
}

TEST_F(BandsTest, CopyPassesStartWithAnEmptyPage) {
    // Each pass reads the same job; what one pass leaves behind must not show in the next.
    const Bytes band = Raster(2, 24, Pattern(48, 7));
    const Bytes endDoc = B({ESC, 'P', 'e', 1});
    struct Case {
        const char* name;
        Bytes job;
        std::vector<Bytes> writes;
    };
    const Case cases[] = {
        {"band left at the end of a pass", Concat({kEndOfPage, band}), {kEndOfPageFeed, kEndOfPageFeed}},
        {"band pending at the end of a pass",
         Concat({B({ESC, 'J', 10}), band}),
         {B({ESC, 'J', 10}), B({ESC, 'J', 10})}},
        {"cut requested after the end of the document",
         Concat({endDoc, B({ESC, 'P', 'g', 2})}),
         {B({ESC, '2'}), B({ESC, '2'})}},
        {"cut requested in every pass",
         Concat({B({ESC, 'P', 'g', 2}), endDoc}),
         {B({GS, 'V', 0xFF}), B({ESC, '2'}), B({GS, 'V', 0xFF}), B({ESC, '2'})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(Print(c.job, u"COPIES=2;"));
        EXPECT_EQ(HexOf(WriteChunks()), HexOf(c.writes));
    }
}

TEST_F(BandsTest, PageTallerThanOneImageIsSplit) {
    // 100 + 65535 + 65535 rows of one byte: images of 65535, 65535 and 100 rows, each cut across a band.
    const Bytes a = Pattern(100, 1), b = Pattern(65535, 2), c = Pattern(65535, 3);
    EXPECT_TRUE(Print(Concat({Raster(1, 100, a), Raster(1, 65535, b), Raster(1, 65535, c), kEndOfPage})));
    const std::vector<Bytes> writes = WriteChunks();
    ASSERT_EQ(writes.size(), 4u);
    const int rows[] = {65535, 65535, 100};
    Bytes joined;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(writes[i].size(), 8u + rows[i]);
        EXPECT_EQ(Hex(Bytes(writes[i].begin(), writes[i].begin() + 8)),
                  Hex(B({GS, 'v', '0', 0, 1, 0, rows[i] & 0xFF, rows[i] >> 8})));
        joined.insert(joined.end(), writes[i].begin() + 8, writes[i].end());
    }
    EXPECT_TRUE(joined == Concat({a, b, c})) << "the images' rows differ from the stacked bands";
    EXPECT_EQ(writes[3], kEndOfPageFeed);
}

} // namespace
} // namespace kqtest
