// FS and GS commands: the command tables, FS q and GS * image definitions, GS V, GS k barcode cleaning and
// the GS v 0 raster images that are stored instead of written.
#include "rig.h"

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kqtest {
namespace {

constexpr int ESC = 0x1B;
constexpr int FS = 0x1C;
constexpr int GS = 0x1D;

// `n` parameter bytes that the pump would take for command prefixes if the handler left them behind.
Bytes Params(int n) {
    static const BYTE kBytes[] = {0x1B, 0x1D, 0x1C, 0x10};
    return Bytes(kBytes, kBytes + n);
}

// Barcode data of `n` digits.
Bytes Digits(size_t n) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<BYTE>('0' + i % 10);
    }
    return out;
}

struct FixedCommand {
    int prefix;
    BYTE code;
    int parameters;
};
// The FS and GS commands written whole as read, with their parameter counts.
constexpr FixedCommand kFixed[] = {
    {FS, 0x70, 2}, {GS, 0x21, 1}, {GS, 0x24, 2}, {GS, 0x2F, 1}, {GS, 0x3A, 0}, {GS, 0x42, 1}, {GS, 0x48, 1},
    {GS, 0x49, 1}, {GS, 0x4C, 2}, {GS, 0x50, 2}, {GS, 0x56, 1}, {GS, 0x57, 2}, {GS, 0x5C, 2}, {GS, 0x5E, 3},
    {GS, 0x61, 1}, {GS, 0x62, 1}, {GS, 0x66, 1}, {GS, 0x68, 1}, {GS, 0x72, 1}, {GS, 0x77, 1},
};

class FsGsTest : public ProcessorTest {
  protected:
    void TearDown() override {
        EndHandlerJob();
        ProcessorTest::TearDown();
    }
    kqprint::ProcessorJob& Start(const Bytes& rest) {
        EndHandlerJob();
        job_ = StartHandlerJob(rest);
        if (!job_) {
            throw std::runtime_error("no handler job");
        }
        control::ClearFaults();
        control::ResetCounters();
        return *job_;
    }
    BOOL Fs() { return kqprint::HandleFsSequence(*job_, Reader()); }
    BOOL Gs() { return kqprint::HandleGsSequence(*job_, Reader()); }
    BOOL Print(const Bytes& job) {
        control::ClearWrites();
        control::ResetCounters();
        return PrintJob(job);
    }

    // Runs the FS or GS handler on `rest` ("Z" appended when it should succeed) and checks its result, its
    // writes and, on success, that it left the "Z" unread.
    void Check(int prefix, const Bytes& rest, bool ok, const std::vector<Bytes>& writes) {
        Start(ok ? Concat({rest, B("Z")}) : rest);
        EXPECT_EQ(prefix == FS ? Fs() : Gs(), ok ? TRUE : FALSE);
        EXPECT_EQ(HexWrites(), HexOf(writes));
        if (ok) {
            EXPECT_EQ(Unread(), B("Z"));
        }
    }

    kqprint::ProcessorJob* job_ = nullptr;
};

TEST_F(FsGsTest, FixedLengthCommandsPassWholeInOneWrite) {
    for (const FixedCommand& c : kFixed) {
        SCOPED_TRACE(testing::Message() << std::hex << c.prefix << " " << int(c.code));
        const Bytes command = Concat({B({c.prefix, c.code}), Params(c.parameters)});
        EXPECT_TRUE(Print(Concat({command, B("z")})));
        EXPECT_EQ(HexWrites(), HexOf({command, B("z")}));
        EXPECT_EQ(control::CallCount(control::Op::ReadPrinter), c.parameters > 0 ? 5u : 4u);
    }
}

TEST_F(FsGsTest, UnlistedSecondBytesAreRefusedAfterOneByte) {
    const std::set<BYTE> gsSpecial = {0x2A, 0x6B, 0x76};
    for (int prefix : {FS, GS}) {
        SCOPED_TRACE(prefix);
        std::set<BYTE> listed = prefix == FS ? std::set<BYTE>{0x71} : gsSpecial;
        for (const FixedCommand& c : kFixed) {
            if (c.prefix == prefix) {
                listed.insert(c.code);
            }
        }
        Bytes rest;
        for (int b = 0; b < 256; ++b) {
            if (!listed.count(static_cast<BYTE>(b))) {
                rest.push_back(static_cast<BYTE>(b));
            }
        }
        EXPECT_EQ(rest.size(), prefix == FS ? 254u : 234u);
        Start(Concat({rest, B("Z")}));
        for (BYTE b : rest) {
            EXPECT_FALSE(prefix == FS ? Fs() : Gs()) << std::hex << int(b);
        }
        EXPECT_TRUE(WriteChunks().empty());
        EXPECT_EQ(Unread(), B("Z"));
    }
}

TEST_F(FsGsTest, UnlistedSecondByteEndsThePass) {
    for (const Bytes& command : {B({FS, '&'}), B({FS, '.'}), B({GS, '('}), B({GS, GS}), B({FS, ESC})}) {
        SCOPED_TRACE(Hex(command));
        EXPECT_TRUE(Print(Concat({B("ab"), command, B("cd")})));
        EXPECT_EQ(HexWrites(), HexOf({B("ab")}));
    }
}

TEST_F(FsGsTest, NvImages) {
    const Bytes d48 = Pattern(48, 0x1B), d8 = Pattern(8, 0x1C), d16 = Pattern(16, 0x1D);
    struct Case {
        const char* name;
        Bytes rest; // after FS
        bool ok;
        std::vector<Bytes> writes;
    };
    const Case cases[] = {
        {"no image", B({'q', 0}), true, {B({FS, 'q', 0})}},
        {"2 x 3", Concat({B({'q', 1, 2, 0, 3, 0}), d48}), true, {B({FS, 'q', 1}), B({2, 0, 3, 0}), d48}},
        {"three images",
         Concat({B({'q', 3, 1, 0, 1, 0}), d8, B({0, 0, 5, 0}), B({2, 0, 1, 0}), d16}),
         true,
         {B({FS, 'q', 3}), B({1, 0, 1, 0}), d8, B({0, 0, 5, 0}), B({2, 0, 1, 0}), d16}},
        // The data of the refused images is never read, so nothing may follow their header here.
        {"65535 x 65535 refused before its header",
         Concat({B({'q', 2, 1, 0, 1, 0}), d8, B({0xFF, 0xFF, 0xFF, 0xFF})}),
         false,
         {B({FS, 'q', 2}), B({1, 0, 1, 0}), d8}},
        {"x * y * 8 = 2^32 refused", B({'q', 1, 0x00, 0x80, 0x00, 0x40}), false, {B({FS, 'q', 1})}},
        {"data cut short", Concat({B({'q', 1, 2, 0, 3, 0}), Pattern(47)}), false, {B({FS, 'q', 1})}},
        {"second image missing",
         Concat({B({'q', 2, 1, 0, 1, 0}), d8}),
         false,
         {B({FS, 'q', 2}), B({1, 0, 1, 0}), d8}},
        {"header cut short", B({'q', 1, 2, 0, 3}), false, {B({FS, 'q', 1})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Check(FS, c.rest, c.ok, c.writes);
    }
}

TEST_F(FsGsTest, DownloadedImage) {
    const Bytes big = Pattern(255 * 255 * 8, 0x1D);
    Check(GS, Concat({B({'*', 2, 3}), Pattern(48, 0x1B)}), true, {B({GS, '*', 2, 3}), Pattern(48, 0x1B)});
    Check(GS, B({'*', 0, 5}), true, {B({GS, '*', 0, 5})});
    Check(GS, Concat({B({'*', 255, 255}), big}), true, {B({GS, '*', 255, 255}), big});
    Check(GS, Concat({B({'*', 2, 3}), Pattern(47)}), false, {}); // nothing of the image
    Check(GS, B({'*', 2}), false, {});
}

TEST_F(FsGsTest, Cut) {
    struct Case {
        Bytes rest;
        unsigned reads; // second byte, m, and n in a read of its own
    };
    const Case cases[] = {
        {B({'V', 0x41}), 2}, {B({'V', 0x42, 7}), 3}, {B({'V', 0x42, 0x1B}), 3},
        {B({'V', 0x00}), 2}, {B({'V', 0x31}), 2},    {B({'V', 0x66}), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.rest));
        Check(GS, c.rest, true, {Concat({B({GS}), c.rest})});
        Start(c.rest);
        EXPECT_TRUE(Gs());
        EXPECT_EQ(control::CallCount(control::Op::ReadPrinter), c.reads);
    }
    Check(GS, B({'V', 0x42}), false, {});
    Check(GS, B({'V'}), false, {});

    // The byte after GS V 0x41 goes back to the pump.
    EXPECT_TRUE(Print(B({GS, 'V', 0x41, 'Z', ESC, '@'})));
    EXPECT_EQ(HexWrites(), HexOf({B({GS, 'V', 0x41}), B("Z"), B({ESC, '@'})}));
}

TEST_F(FsGsTest, Barcode) {
    struct Case {
        const char* name;
        Bytes rest;    // after GS
        Bytes written; // empty: refused with nothing written
    };
    const Case cases[] = {
        {"NUL", B({'k', 4, '1', '2', '3', 0}), B({GS, 'k', 4, '1', '2', '3', 0})},
        {"CR", B({'k', 4, '1', '2', '3', 0x0D}), B({GS, 'k', 4, '1', '2', '3', 0, 0x0D})},
        {"FF", B({'k', 0, '1', 0x0C}), B({GS, 'k', 0, '1', 0, 0x0C})},
        {"LF does not end", B({'k', 6, '1', 0x0A, '2', 0}), B({GS, 'k', 6, '1', 0x0A, '2', 0})},
        {"second form, CR", B({'k', 0x49, 9, '1', '2', '3', 0x0D}),
         B({GS, 'k', 0x49, 3, '1', '2', '3', 0x0D})},
        {"second form, NUL", B({'k', 0x49, 1, '1', '2', '3', 0}), B({GS, 'k', 0x49, 4, '1', '2', '3', 0})},
        {"second form, FF", B({'k', 0x41, 0, '1', 0x0C}), B({GS, 'k', 0x41, 1, '1', 0x0C})},
        {"ESC E dropped", B({'k', 4, '1', ESC, 'E', 1, '2', 0}), B({GS, 'k', 4, '1', '2', 0})},
        {"ESC $, ESC -, ESC J dropped",
         B({'k', 4, ESC, '$', 0x1B, 0x0D, '1', ESC, '-', 0, '2', ESC, 'J', 0x0D, '3', 0}),
         B({GS, 'k', 4, '1', '2', '3', 0})},
        {"second form, ESC E dropped uncounted", B({'k', 0x45, 9, '1', ESC, 'E', 0, '2', 0x0D}),
         B({GS, 'k', 0x45, 2, '1', '2', 0x0D})},
        {"ESC @ inside", B({'k', 4, '1', ESC, '@', '2', 0}), {}},
        {"second form, ESC a inside", B({'k', 0x49, 3, '1', ESC, 'a', 1, 0}), {}},
        {"ESC $ cut short", B({'k', 4, '1', ESC, '$', 0}), {}},
        {"data cut short", B({'k', 4, '1', '2', '3'}), {}},
        {"second form, no length", B({'k', 0x49}), {}},
        {"m = 7", B({'k', 7, '1', 0}), {}},
        {"m = 0x40", B({'k', 0x40, 3, '1', 0}), {}},
        {"m = 0x4A", B({'k', 0x4A, 3, '1', 0}), {}},
        {"m = 0xFF", B({'k', 0xFF, 3, '1', 0}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool ok = !c.written.empty();
        Check(GS, c.rest, ok, ok ? std::vector<Bytes>{c.written} : std::vector<Bytes>{});
    }
}

TEST_F(FsGsTest, BarcodeDataBounds) {
    const Bytes drops = [] {
        Bytes out;
        for (int i = 0; i < 100; ++i) {
            out.insert(out.end(), {ESC, 'E', 1});
        }
        return out;
    }();
    struct Case {
        const char* name;
        BYTE m;
        Bytes data;     // after m (and the length byte of the second form)
        Bytes stored;   // empty: refused
        int lengthByte; // second form
    };
    const Case cases[] = {
        // 512-byte buffer: GS k m and 509 bytes.
        {"508 + NUL fills the buffer", 4, Concat({Digits(508), B({0})}), Concat({Digits(508), B({0})}), 0},
        {"509 + NUL", 4, Concat({Digits(509), B({0})}), {}, 0},
        {"507 + CR fills the buffer", 4, Concat({Digits(507), B({0x0D})}),
         Concat({Digits(507), B({0, 0x0D})}), 0},
        {"508 + CR", 4, Concat({Digits(508), B({0x0D})}), {}, 0},
        {"dropped bytes take no room", 4, Concat({Digits(300), drops, Digits(208), B({0})}),
         Concat({Digits(300), Digits(208), B({0})}), 0},
        {"count 255", 0x49, Concat({Digits(254), B({0})}), Concat({Digits(254), B({0})}), 255},
        {"count 256", 0x49, Concat({Digits(255), B({0})}), {}, 0},
        {"count 255 and CR", 0x49, Concat({Digits(255), B({0x0D})}), Concat({Digits(255), B({0x0D})}), 255},
        {"count 300", 0x49, Concat({Digits(300), B({0x0D})}), {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool second = c.m >= 0x41;
        const Bytes head = second ? B({'k', c.m, 0}) : B({'k', c.m});
        const bool ok = !c.stored.empty();
        const Bytes written = Concat({B({GS, 'k', c.m}), second ? B({c.lengthByte}) : Bytes{}, c.stored});
        Check(GS, Concat({head, c.data}), ok, ok ? std::vector<Bytes>{written} : std::vector<Bytes>{});
    }
}

TEST_F(FsGsTest, RasterImageIsStoredNotWritten) {
    const Bytes data = Pattern(72 * 24, 0x1D);
    kqprint::ProcessorJob& job = Start(Concat({B({'v', '0', 0, 72, 0, 24, 0}), data, B("Z")}));
    EXPECT_TRUE(Gs());
    EXPECT_TRUE(WriteChunks().empty());
    EXPECT_EQ(Unread(), B("Z"));
    const kqprint::RasterBand* band = job.Bands.BandHead;
    ASSERT_NE(band, nullptr);
    EXPECT_EQ(band->Next, nullptr);
    ASSERT_EQ(band->Width, 72);
    ASSERT_EQ(band->Rows, 24);
    EXPECT_EQ(Bytes(band->Data, band->Data + data.size()), data);
    EXPECT_EQ(job.Bands.BandMaxWidth, 72);
    EXPECT_EQ(job.Bands.BandTotalRows, 24);
    EXPECT_EQ(job.PendingBandRows, 24);
    EXPECT_EQ(job.PendingBandWidth, 72);
}

TEST_F(FsGsTest, EmptyRasterImagesAreStored) {
    for (auto [w, h] : {std::pair{0, 24}, std::pair{72, 0}, std::pair{0, 0}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        kqprint::ProcessorJob& job = Start(B({'v', '0', 0, w, 0, h, 0, 'Z'}));
        EXPECT_TRUE(Gs());
        EXPECT_TRUE(WriteChunks().empty());
        EXPECT_EQ(Unread(), B("Z")); // no data read
        ASSERT_NE(job.Bands.BandHead, nullptr);
        EXPECT_EQ(job.Bands.BandHead->Width, w);
        EXPECT_EQ(job.Bands.BandHead->Rows, h);
        EXPECT_EQ(job.Bands.BandTotalRows, h);
        EXPECT_EQ(job.PendingBandRows, h);
    }
}

TEST_F(FsGsTest, RasterImageCutShortStoresNothing) {
    for (const Bytes& rest : {Concat({B({'v', '0', 0, 3, 0, 2, 0}), Pattern(5)}), B({'v', '0', 0, 3, 0})}) {
        SCOPED_TRACE(Hex(rest));
        kqprint::ProcessorJob& job = Start(rest);
        EXPECT_FALSE(Gs());
        EXPECT_TRUE(WriteChunks().empty());
        EXPECT_EQ(job.Bands.BandHead, nullptr);
        EXPECT_EQ(job.Bands.BandTotalRows, 0);
        EXPECT_EQ(job.PendingBandRows, 0);
    }
}

TEST_F(FsGsTest, ShortReadsOfImageData) {
    // Reads: the second byte, the parameters, then the data. A raster image is gathered over several
    // reads; an image definition is copied in one read or not at all.
    const Bytes data = Pattern(3 * 4, 0x1B);
    kqprint::ProcessorJob& job = Start(Concat({B({'v', '0', 0, 3, 0, 4, 0}), data}));
    control::InjectFault({control::Op::ReadPrinter, 3, control::FaultKind::Short, 5});
    EXPECT_TRUE(Gs());
    ASSERT_NE(job.Bands.BandHead, nullptr);
    EXPECT_EQ(Bytes(job.Bands.BandHead->Data, job.Bands.BandHead->Data + data.size()), data);

    Start(Concat({B({'*', 2, 3}), Pattern(48)}));
    control::InjectFault({control::Op::ReadPrinter, 3, control::FaultKind::Short, 5});
    EXPECT_FALSE(Gs());
    EXPECT_TRUE(WriteChunks().empty());

    Start(Concat({B({'*', 2, 3}), Pattern(48)}));
    control::SetAllocationLimit(47);
    EXPECT_FALSE(Gs());
    control::SetAllocationLimit(std::nullopt);
    EXPECT_TRUE(WriteChunks().empty());
}

TEST_F(FsGsTest, RasterDataIsTakenByCountNotByContent) {
    // Image bytes that look like commands, even like another GS v 0 header, are image bytes; the mode
    // byte is not carried over into the page image.
    const Bytes data =
        Concat({B({ESC, 'J', 9, GS, 'v', '0', 0, 1, 0, 1, 0, FS, 'q', 0x10}), Pattern(10, 0x1B)});
    ASSERT_EQ(data.size(), 24u);
    const Bytes job = Concat({B({GS, 'v', '0', 3, 4, 0, 6, 0}), data, B({ESC, 'P', 'e', 0}), B("A")});
    EXPECT_TRUE(Print(job));
    EXPECT_EQ(HexWrites(),
              HexOf({Concat({B({GS, 'v', '0', 0, 4, 0, 6, 0}), data}), B({ESC, 'J', 0xEE}), B("A")}));
}

} // namespace
} // namespace kqtest
