// ESC commands: the command table, ESC &, ESC D, ESC J with the folding of feeds into the page image,
// the ESC P directives and ESC i.
#include "rig.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kqtest {
namespace {

constexpr int ESC = 0x1B;

// `n` parameter bytes that the pump would take for command prefixes if the handler left them behind.
Bytes Params(int n) {
    static const BYTE kBytes[] = {0x1B, 0x1D, 0x1C, 0x10, 0x00, 0x0A, 0x1B, 0x40};
    return Bytes(kBytes, kBytes + n);
}

// GS v 0 without its GS, as the GS handler reads it.
Bytes RasterBody(int width, int rows, const Bytes& data) {
    return Concat({B({0x76, 0x30, 0x00, width & 0xFF, width >> 8, rows & 0xFF, rows >> 8}), data});
}

// The ESC commands written whole as read, with their parameter counts.
struct FixedCommand {
    BYTE code;
    int parameters;
};
constexpr FixedCommand kFixed[] = {
    {0x0C, 0}, {0x20, 1}, {0x21, 1}, {0x24, 2}, {0x25, 1}, {0x2D, 1}, {0x32, 0},
    {0x33, 1}, {0x3D, 1}, {0x3F, 1}, {0x40, 0}, {0x45, 1}, {0x47, 1}, {0x4A, 1},
    {0x4C, 0}, {0x4D, 1}, {0x52, 1}, {0x53, 0}, {0x54, 1}, {0x56, 1}, {0x57, 8},
    {0x5C, 2}, {0x61, 1}, {0x63, 2}, {0x64, 1}, {0x70, 3}, {0x74, 1}, {0x7B, 1},
};
// Second bytes with handling of their own.
constexpr BYTE kSpecial[] = {0x26, 0x44, 0x50, 0x69};

class EscTest : public ProcessorTest {
  protected:
    void TearDown() override {
        EndHandlerJob();
        ProcessorTest::TearDown();
    }
    // A handler job on `rest`, the bytes after a prefix; faults and counters cleared.
    kqprint::ProcessorJob& Start(const Bytes& rest, int verticalDpi = 203) {
        EndHandlerJob();
        job_ = StartHandlerJob(rest, verticalDpi);
        if (!job_) {
            throw std::runtime_error("no handler job");
        }
        control::ClearFaults();
        control::ResetCounters();
        return *job_;
    }
    BOOL Esc() { return kqprint::HandleEscSequence(*job_, Reader()); }
    BOOL Gs() { return kqprint::HandleGsSequence(*job_, Reader()); }
    // Runs a whole job once with fresh recordings.
    BOOL Print(const Bytes& job, const std::u16string& parameters = u"COPIES=1;") {
        control::ClearWrites();
        control::ResetCounters();
        return PrintJob(job, parameters);
    }

    kqprint::ProcessorJob* job_ = nullptr;
};

TEST_F(EscTest, FixedLengthCommandsPassWholeInOneWrite) {
    for (const FixedCommand& c : kFixed) {
        SCOPED_TRACE(testing::Message() << "ESC 0x" << std::hex << int(c.code));
        const Bytes command = Concat({B({ESC, c.code}), Params(c.parameters)});
        EXPECT_TRUE(Print(Concat({command, B("z")})));
        EXPECT_EQ(HexWrites(), HexOf({command, B("z")}));
        // prefix, second byte, the parameters in one read, "z", the end of the job
        EXPECT_EQ(control::CallCount(control::Op::ReadPrinter), c.parameters > 0 ? 5u : 4u);
    }
}

TEST_F(EscTest, ParametersCutShortByTheEndOfTheJobSendNothing) {
    for (const Bytes& rest : {B({0x21}), B({0x24, 1}), B({0x57, 1, 2, 3}), B({0x70, 0, 25})}) {
        SCOPED_TRACE(Hex(rest));
        Start(rest);
        EXPECT_FALSE(Esc());
        EXPECT_TRUE(WriteChunks().empty());
    }
}

TEST_F(EscTest, UnlistedSecondBytesAreRefusedAfterOneByte) {
    std::set<BYTE> listed(std::begin(kSpecial), std::end(kSpecial));
    for (const FixedCommand& c : kFixed) {
        listed.insert(c.code);
    }
    Bytes rest;
    for (int b = 0; b < 256; ++b) {
        if (!listed.count(static_cast<BYTE>(b))) {
            rest.push_back(static_cast<BYTE>(b));
        }
    }
    ASSERT_EQ(rest.size(), 256u - 32u);
    Start(Concat({rest, B("Z")}));
    for (BYTE b : rest) {
        EXPECT_FALSE(Esc()) << "ESC 0x" << std::hex << int(b);
    }
    EXPECT_TRUE(WriteChunks().empty());
    EXPECT_EQ(Unread(), B("Z")); // each took its second byte and nothing more
}

TEST_F(EscTest, UnlistedSecondByteEndsThePass) {
    for (int second : {0x2A, 0x10, 0x1B, 0x1C, 0x1D, 0x5A}) {
        SCOPED_TRACE(second);
        EXPECT_TRUE(Print(Concat({B("ab"), B({ESC, second}), B("cd"), B({ESC, 0x40})})));
        EXPECT_EQ(HexWrites(), HexOf({B("ab")}));
    }
}

TEST_F(EscTest, JobEndingRightAfterEsc) {
    Start({});
    EXPECT_FALSE(Esc());
    EXPECT_TRUE(WriteChunks().empty());

    EXPECT_TRUE(Print(Concat({B("AB"), B({ESC})})));
    EXPECT_EQ(HexWrites(), HexOf({B("AB")}));
}

TEST_F(EscTest, UserDefinedCharacters) {
    const Bytes d6 = Pattern(6, 0x1B), d2 = Pattern(2, 0x1D);
    struct Case {
        const char* name;
        Bytes rest; // after ESC; "Z" follows the commands that succeed
        bool ok;
        std::vector<Bytes> writes;
    };
    const Bytes hdr1 = B({ESC, 0x26, 3, 0x41, 0x41});
    const Case cases[] = {
        {"c2 below c1", B({0x26, 3, 0x42, 0x41}), true, {B({ESC, 0x26, 3, 0x42, 0x41})}},
        {"c1 == c2", Concat({B({0x26, 3, 0x41, 0x41, 2}), d6}), true, {hdr1, B({2}), d6}},
        {"width 0, then width 1",
         Concat({B({0x26, 2, 0x41, 0x42, 0, 1}), d2}),
         true,
         {B({ESC, 0x26, 2, 0x41, 0x42}), B({0}), B({1}), d2}},
        {"three characters",
         Concat({B({0x26, 2, 0x20, 0x22, 1}), d2, B({0}), B({3}), Pattern(6, 9)}),
         true,
         {B({ESC, 0x26, 2, 0x20, 0x22}), B({1}), d2, B({0}), B({3}), Pattern(6, 9)}},
        {"data cut short", Concat({B({0x26, 3, 0x41, 0x41, 4}), Pattern(5)}), false, {hdr1}},
        {"second character missing",
         Concat({B({0x26, 1, 0x41, 0x42, 2}), d2}),
         false,
         {B({ESC, 0x26, 1, 0x41, 0x42}), B({2}), d2}},
        {"header cut short", B({0x26, 3, 0x41}), false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start(c.ok ? Concat({c.rest, B("Z")}) : c.rest);
        EXPECT_EQ(Esc(), c.ok ? TRUE : FALSE);
        EXPECT_EQ(HexWrites(), HexOf(c.writes));
        if (c.ok) {
            EXPECT_EQ(Unread(), B("Z"));
        }
    }
}

TEST_F(EscTest, TabPositions) {
    Bytes full(511), over(512);
    for (size_t i = 0; i < over.size(); ++i) {
        over[i] = static_cast<BYTE>(i % 255 + 1);
    }
    std::copy(over.begin(), over.begin() + 511, full.begin());
    full.push_back(0); // 512 bytes with the NUL: just fits

    Start(B({0x44, 0, 'Z'}));
    EXPECT_TRUE(Esc());
    EXPECT_EQ(HexWrites(), HexOf({B({ESC, 0x44}), B({0})}));
    EXPECT_EQ(Unread(), B("Z"));

    Start(B({0x44, 8, 16, 24, 0, 'Z'}));
    EXPECT_TRUE(Esc());
    EXPECT_EQ(HexWrites(), HexOf({B({ESC, 0x44}), B({8, 16, 24, 0})}));
    EXPECT_EQ(Unread(), B("Z"));

    Start(Concat({B({0x44}), full, B("Z")}));
    EXPECT_TRUE(Esc());
    EXPECT_EQ(HexWrites(), HexOf({B({ESC, 0x44}), full}));
    EXPECT_EQ(Unread(), B("Z"));

    // No NUL within the buffer: refused, and nothing beyond the buffer was read.
    Start(Concat({B({0x44}), over, B({0, 'Z'})}));
    EXPECT_FALSE(Esc());
    EXPECT_TRUE(WriteChunks().empty());
    EXPECT_EQ(Unread(), B({0, 'Z'}));

    Start(B({0x44, 8, 16}));
    EXPECT_FALSE(Esc());
    EXPECT_TRUE(WriteChunks().empty());
}

TEST_F(EscTest, FeedAfterImageBandIsFoldedIntoThePage) {
    struct Case {
        int dpi;
        int feed;
        int blankRows;   // blank band appended
        int writtenFeed; // ESC J n sent after the page image; -1: nothing written
    };
    const Case cases[] = {
        {180, 24, 0, -1},  // the band's own height uses the feed up
        {180, 10, 0, -1},  // shorter than the band
        {180, 60, 36, -1}, // 36 units at 180 dpi
        {203, 60, 40, -1}, // 203 * 36 / 180 = 40.6, truncated
        {100, 25, 0, 1},   // 100 * 1 / 180 = 0 rows: the feed goes to the printer
    };
    const int width = 3, rows = 24;
    const Bytes data = Pattern(width * rows, 0x1B);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpi << " dpi, ESC J " << c.feed);
        kqprint::ProcessorJob& job = Start(Concat({RasterBody(width, rows, data), B({0x4A, c.feed})}), c.dpi);
        ASSERT_TRUE(Gs());
        EXPECT_EQ(job.PendingBandRows, rows);
        EXPECT_EQ(job.PendingBandWidth, width);
        EXPECT_TRUE(Esc());
        EXPECT_EQ(job.PendingBandRows, 0);
        EXPECT_EQ(job.PendingBandWidth, 0);
        if (c.writtenFeed < 0) {
            EXPECT_TRUE(WriteChunks().empty());
            EXPECT_EQ(job.Bands.BandTotalRows, rows + c.blankRows);
            EXPECT_EQ(job.Bands.BandMaxWidth, width);
            ASSERT_NE(job.Bands.BandHead, nullptr);
            const kqprint::RasterBand* blank = job.Bands.BandHead->Next;
            if (c.blankRows == 0) {
                EXPECT_EQ(blank, nullptr);
            } else {
                ASSERT_NE(blank, nullptr);
                EXPECT_EQ(blank, job.Bands.BandTail);
                EXPECT_EQ(blank->Width, width);
                EXPECT_EQ(blank->Rows, c.blankRows);
                const size_t size = size_t(blank->Width) * size_t(blank->Rows);
                EXPECT_EQ(Bytes(blank->Data, blank->Data + size), Bytes(size, 0));
            }
        } else {
            const Bytes image = Concat({B({0x1D, 0x76, 0x30, 0, width, 0, rows, 0}), data});
            EXPECT_EQ(HexWrites(), HexOf({image, B({ESC, 0x4A, c.writtenFeed})}));
            EXPECT_EQ(job.Bands.BandHead, nullptr);
        }
    }
}

TEST_F(EscTest, FeedWithoutPendingBand) {
    const Bytes data = Pattern(3 * 24, 1);
    kqprint::ProcessorJob& job = Start(
        Concat({RasterBody(3, 24, data), B({0x4A, 24}), B({0x4A, 0}), B({0x4A, 30}), B({0x4A, 5})}), 180);
    ASSERT_TRUE(Gs());
    ASSERT_TRUE(Esc()); // folded: the band is no longer pending
    EXPECT_TRUE(Esc()); // ESC J 0: nothing to feed, the page is kept
    EXPECT_TRUE(WriteChunks().empty());
    ASSERT_NE(job.Bands.BandHead, nullptr);

    EXPECT_TRUE(Esc()); // ESC J 30: the page first, then the feed
    EXPECT_EQ(HexWrites(),
              HexOf({Concat({B({0x1D, 0x76, 0x30, 0, 3, 0, 24, 0}), data}), B({ESC, 0x4A, 30})}));
    EXPECT_EQ(job.Bands.BandHead, nullptr);
    EXPECT_EQ(job.Bands.BandTotalRows, 0);
    EXPECT_EQ(job.Bands.BandMaxWidth, 0);

    control::ClearWrites();
    EXPECT_TRUE(Esc()); // an empty page sends no image
    EXPECT_EQ(HexWrites(), HexOf({B({ESC, 0x4A, 5})}));
}

TEST_F(EscTest, PrivateDirectives) {
    struct Case {
        const char* name;
        Bytes rest; // after ESC
        DWORD flagsBefore;
        bool ok;
        std::vector<Bytes> writes;
        DWORD flagsAfter;
    };
    const DWORD cut = kqprint::kCutAtEnd;
    const Case cases[] = {
        {"b", B({0x50, 'b', 1, 2, 'Z'}), 0, true, {}, 0},
        {"b cut short", B({0x50, 'b', 1}), 0, false, {}, 0},
        {"end of page, empty list", B({0x50, 'e', 0, 'Z'}), 0, true, {B({ESC, 0x4A, 0xEE})}, 0},
        {"end of document", B({0x50, 'e', 1, 'Z'}), 0, true, {B({ESC, 0x32})}, 0},
        {"end of document, cut",
         B({0x50, 'e', 1, 'Z'}),
         cut,
         true,
         {B({0x1D, 0x56, 0xFF}), B({ESC, 0x32})},
         cut},
        {"e 2", B({0x50, 'e', 2, 'Z'}), cut, true, {}, cut},
        {"e cut short", B({0x50, 'e'}), 0, false, {}, 0},
        {"g 2", B({0x50, 'g', 2, 'Z'}), 0, true, {}, cut},
        {"g 18", B({0x50, 'g', 18, 'Z'}), 0, true, {}, cut},
        {"g 3", B({0x50, 'g', 3, 'Z'}), 0, true, {}, 0},
        {"g 3 keeps the request", B({0x50, 'g', 3, 'Z'}), cut, true, {}, cut},
        {"g 0 keeps the request", B({0x50, 'g', 0, 'Z'}), cut, true, {}, cut},
        {"r", B({0x50, 'r', 7, 'Z'}), 0, true, {}, 0},
        {"unknown sub-code", B({0x50, 'x', 'Z'}), 0, false, {}, 0},
        {"no sub-code", B({0x50}), 0, false, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kqprint::ProcessorJob& job = Start(c.rest);
        job.PassFlags = c.flagsBefore;
        EXPECT_EQ(Esc(), c.ok ? TRUE : FALSE);
        EXPECT_EQ(HexWrites(), HexOf(c.writes));
        EXPECT_EQ(job.PassFlags, c.flagsAfter);
        if (c.rest.back() == 'Z') {
            EXPECT_EQ(Unread(), B("Z"));
        }
    }
}

TEST_F(EscTest, EndOfDocumentIgnoresAFailedCut) {
    kqprint::ProcessorJob& job = Start(B({0x50, 'e', 1}));
    job.PassFlags = kqprint::kCutAtEnd;
    control::InjectFault({control::Op::WritePrinter, 1});
    EXPECT_TRUE(Esc());
    const std::vector<control::WriteRecord> writes = control::Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].bytes, B({0x1D, 0x56, 0xFF}));
    EXPECT_FALSE(writes[0].result);
    EXPECT_EQ(writes[1].bytes, B({ESC, 0x32}));

    // The closing ESC 2 is what counts.
    Start(B({0x50, 'e', 1}));
    control::InjectFault({control::Op::WritePrinter, 1});
    EXPECT_FALSE(Esc());
}

TEST_F(EscTest, DirectivesInAJob) {
    // Only the cut request of the same pass, made before the end of the document, cuts.
    struct Case {
        const char* name;
        Bytes job;
        std::vector<Bytes> writes;
    };
    const Bytes endDoc = B({ESC, 0x50, 'e', 1});
    const Case cases[] = {
        {"g 18 then end",
         Concat({B({ESC, 0x50, 'g', 0x12}), B("A"), endDoc}),
         {B("A"), B({0x1D, 0x56, 0xFF}), B({ESC, 0x32})}},
        {"g 3 then end", Concat({B({ESC, 0x50, 'g', 3}), B("A"), endDoc}), {B("A"), B({ESC, 0x32})}},
        {"end then g 2", Concat({endDoc, B({ESC, 0x50, 'g', 2}), B("A")}), {B({ESC, 0x32}), B("A")}},
        {"b and r dropped",
         Concat({B({ESC, 0x50, 'b', 0x1B, 0x1D}), B({ESC, 0x50, 'r', 0x1C}), B("A")}),
         {B("A")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(Print(c.job));
        EXPECT_EQ(HexWrites(), HexOf(c.writes));
    }
}

TEST_F(EscTest, PartialCutBecomesGsV1) {
    Start(B({0x69, 'Z'}));
    EXPECT_TRUE(Esc());
    EXPECT_EQ(HexWrites(), HexOf({B({0x1D, 0x56, 0x01})}));
    EXPECT_EQ(Unread(), B("Z"));

    EXPECT_TRUE(Print(B({'A', ESC, 0x69, 'B'})));
    EXPECT_EQ(HexWrites(), HexOf({B("A"), B({0x1D, 0x56, 0x01}), B("B")}));
}

} // namespace
} // namespace kqtest
