// The band list itself: appending, totals, the row limit, releasing and flushing an empty list.
#include "kqprint.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

namespace {

using kqprint::BandList;
using kqprint::RasterBand;

// A band with a malloc'd block of width x rows bytes (none when that is 0); its Next is left dirty on
// purpose, since appending must set it.
RasterBand* NewBand(LONG width, LONG rows) {
    auto* band = static_cast<RasterBand*>(std::malloc(sizeof(RasterBand)));
    band->Width = width;
    band->Rows = rows;
    const size_t bytes = size_t(width) * size_t(rows);
    band->Data = bytes ? static_cast<BYTE*>(std::calloc(bytes, 1)) : nullptr;
    band->Next = band; // not a valid link
    return band;
}

TEST(BandListTest, AppendKeepsOrderAndTotals) {
    BandList list;
    RasterBand* a = NewBand(48, 24);
    RasterBand* b = NewBand(72, 36);
    RasterBand* c = NewBand(10, 5);
    ASSERT_TRUE(kqprint::AppendBand(list, a));
    EXPECT_EQ(list.BandHead, a);
    EXPECT_EQ(list.BandTail, a);
    EXPECT_EQ(a->Next, nullptr);
    EXPECT_EQ(list.BandMaxWidth, 48);
    EXPECT_EQ(list.BandTotalRows, 24);

    ASSERT_TRUE(kqprint::AppendBand(list, b));
    ASSERT_TRUE(kqprint::AppendBand(list, c));
    EXPECT_EQ(list.BandHead, a);
    EXPECT_EQ(a->Next, b);
    EXPECT_EQ(b->Next, c);
    EXPECT_EQ(c->Next, nullptr);
    EXPECT_EQ(list.BandTail, c);
    EXPECT_EQ(list.BandMaxWidth, 72); // a narrower band later does not lower it
    EXPECT_EQ(list.BandTotalRows, 65);
    kqprint::FreeBandList(list.BandHead);
}

TEST(BandListTest, RowsArePassedNoFurtherThanInt32) {
    BandList list;
    ASSERT_TRUE(kqprint::AppendBand(list, NewBand(0, INT_MAX - 10)));
    RasterBand* over = NewBand(4, 11);
    EXPECT_FALSE(kqprint::AppendBand(list, over));
    EXPECT_EQ(list.BandTotalRows, INT_MAX - 10);
    EXPECT_EQ(list.BandMaxWidth, 0);
    EXPECT_EQ(list.BandHead->Next, nullptr);
    EXPECT_EQ(list.BandTail, list.BandHead);
    std::free(over->Data); // refused: still the caller's
    std::free(over);
    RasterBand* exact = NewBand(4, 10);
    EXPECT_TRUE(kqprint::AppendBand(list, exact));
    EXPECT_EQ(list.BandTotalRows, INT_MAX);
    EXPECT_EQ(list.BandTail, exact);
    kqprint::FreeBandList(list.BandHead);
}

TEST(BandListTest, EmptyListIsLeftAlone) {
    kqprint::FreeBandList(nullptr);
    BandList list;
    EXPECT_TRUE(kqprint::FlushBandList(list, nullptr));
    EXPECT_EQ(list.BandHead, nullptr);
    EXPECT_EQ(list.BandMaxWidth, 0);
    EXPECT_EQ(list.BandTotalRows, 0);
}

TEST(BandListTest, FlushEmptiesTheListWhateverTheWriteDid) {
    // No printer: the page image's write fails, which is not looked at.
    BandList list;
    ASSERT_TRUE(kqprint::AppendBand(list, NewBand(3, 4)));
    ASSERT_TRUE(kqprint::AppendBand(list, NewBand(0, 2)));
    EXPECT_TRUE(kqprint::FlushBandList(list, nullptr));
    EXPECT_EQ(list.BandHead, nullptr);
    EXPECT_EQ(list.BandTail, nullptr);
    EXPECT_EQ(list.BandMaxWidth, 0);
    EXPECT_EQ(list.BandTotalRows, 0);
}

} // namespace
