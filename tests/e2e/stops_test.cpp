// A copy pass that the print processor ends early: where it stopped and why, as kqspool's warnings, its
// exit status and `kqspool check` tell it; what reached the port is what the job holds before that place.
#include "harness.h"
#include "model.h"
#include "stops.h"

#include <filesystem>
#include <fstream>

namespace e2e {
namespace {

using kqspool::ExplainPass;
using kqspool::PassRead;
using kqspool::PassStop;
using kqspool::Thousands;

Bytes Prefix(const Bytes& job, size_t n) {
    return Bytes(job.begin(), job.begin() + static_cast<ptrdiff_t>(n));
}

// The first GS v 0 image of the bundled receipt.
escpos::Item FirstImage(const Bytes& job) {
    for (const escpos::Item& item : escpos::Decode(job)) {
        if (item.name == "GS v 0") {
            return item;
        }
    }
    return {};
}

class StopsTest : public KqspoolTest {};

TEST_F(StopsTest, PrintedInPartSaysWhereAndWhyAndSendsWhatCameBefore) {
    const std::string clients = SourceDir() + "/tests/clients/as-made/";
    const Bytes receipt = ReadFile(SourceDir() + "/samples/receipt.prn");
    const escpos::Item image = FirstImage(receipt);
    ASSERT_EQ(image.name, "GS v 0");
    const size_t imageData = image.size - 8;
    {
        std::ofstream cut(Path("cut.prn"), std::ios::binary);
        cut.write(reinterpret_cast<const char*>(receipt.data()),
                  static_cast<std::streamsize>(image.offset + 8 + 100));
    }
    struct Case {
        std::string job;
        unsigned copies;
        size_t stop; // where the printer's part ends; the job's size when it prints whole
        std::string where;
    };
    const Case cases[] = {
        {clients + "rpe-as-made.prn", 2, 2,
         "copies 1 to 2 of 2: stopped at byte 2 of 20,080: FS . (cancel Kanji character mode) is not a "
         "KQT-50 "
         "command; the printer never got 20,078 byte(s)"},
        {clients + "ntp-as-made.prn", 1, 3663,
         "copy 1 of 1: stopped at byte 3,663 of 3,718: GS k (print barcode) is refused: its data reaches ESC "
         "P at "
         "byte 3695 before a NUL, CR or FF ends it, and barcode data may not hold that command; the printer "
         "never "
         "got 55 byte(s)"},
        {Path("cut.prn"), 1, image.offset,
         "copy 1 of 1: stopped at byte " + Thousands(image.offset) + " of " + Thousands(image.offset + 108) +
             ": the job ends inside GS v 0 (image data: 100 of " + Thousands(imageData) +
             " bytes); the printer never got 108 byte(s)"},
        {SourceDir() + "/samples/receipt.prn", 3, receipt.size(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.job);
        const Bytes job = ReadFile(c.job);
        const RunResult run =
            Kqspool({"print", "--copies", std::to_string(c.copies), "--out", Path("out.prn"), c.job});
        if (c.where.empty()) {
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
        } else {
            EXPECT_EQ(run.status, 3) << run.err;
            EXPECT_EQ(run.err.rfind("kqspool: warning: " + c.job + ", " + c.where + "\n", 0), 0u) << run.err;
            const std::optional<Summary> summary = ParseSummary(run.err);
            ASSERT_TRUE(summary) << run.err;
            EXPECT_NE(run.err.find("1 of 1 job(s) printed (1 in part)"), std::string::npos) << run.err;
        }
        const Bytes want = Join(ExpectedOutput(Prefix(job, c.stop), 203, c.copies).writes);
        EXPECT_EQ(Hex(ReadFile(Path("out.prn")), 256), Hex(want, 256));
    }
}

// check prints on a scratch machine: the user's machine folder stays empty, and each job gets its report.
TEST_F(StopsTest, CheckReportsEachJobAndLeavesTheMachineAlone) {
    const std::string clients = SourceDir() + "/tests/clients/as-made/";
    const std::string receipt = SourceDir() + "/samples/receipt.prn";
    const RunResult run = Kqspool({"check", clients + "rpe-as-made.prn", receipt});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(Dir() + "/root")) << "check changed the user's machine";
    const e2e::Expected model = ExpectedOutput(ReadFile(receipt), 203, 1);
    ASSERT_EQ(model.images.size(), 1u);
    const std::string size =
        std::to_string(model.images[0].width * 8) + "x" + std::to_string(model.images[0].rows);
    const std::string report = clients +
                               "rpe-as-made.prn: 20,080 bytes, 2 accepted, 20,078 never sent\n"
                               "  copy 1 of 1 stops at byte 2: FS . (cancel Kanji character mode) is not "
                               "a KQT-50 command\n"
                               "  page images: none\n"
                               "  the printer would get 2 bytes in 1 writes\n" +
                               receipt + ": " + Thousands(ReadFile(receipt).size()) +
                               " bytes, all accepted\n" + "  page images: 1: " + size + " dots\n";
    EXPECT_EQ(run.out.rfind(report, 0), 0u) << run.out;
}

// How a pass's end reads, from what the spooler saw of it.
TEST(ExplainPassTest, EachWayAPassEnds) {
    struct Case {
        const char* what;
        Bytes job;
        PassRead read;
        PassStop want;
    };
    const Bytes text = {'a', 'b', 'c', 0x1B, '@', 'd', 'e', 'f'};
    Bytes longTabs = {0x1B, 'D'};
    longTabs.resize(2 + 600, 8);
    const Case cases[] = {
        {"read to its end", text, {8, true}, {true, 0, 0, ""}},
        {"a cancel that came after the last byte", text, {8, true, true}, {true, 0, 0, ""}},
        {"not an ESC/POS command",
         {'a', 0x1B, 0x7F, 'b'},
         {3, false},
         {false, 1, 3, "ESC 0x7f is not a command"}},
        {"a directive the processor does not define",
         {0x1B, 'P', 'x', 'y'},
         {3, false},
         {false, 0, 4,
          "ESC P x (print processor directive) with 0x78 is not a form of it that the KQT-50 takes"}},
        {"a tab list longer than the processor's buffer",
         longTabs,
         {514, false},
         {false, 0, 602,
          "ESC D (horizontal tab positions) is refused: its list does not end (NUL) within the print "
          "processor's 512-byte buffer"}},
        {"the job ends inside a feed",
         {'a', 0x1B, 'J'},
         {3, true},
         {false, 1, 2, "the job ends inside ESC J (print and feed paper): 2 of 3 bytes"}},
        {"cancelled inside text: the byte read with the cancel is not printed",
         text,
         {3, false, true},
         {false, 2, 6, "cancelled"}},
        {"cancelled after the last byte, before the end was read",
         text,
         {8, false, true},
         {false, 7, 1, "cancelled"}},
        {"the port refused a command",
         text,
         {5, false, false, true},
         {false, 3, 5,
          "the port did not take what the print processor wrote for ESC @ (initialize printer)"}},
        {"stopped for a reason the job does not show",
         text,
         {2, false},
         {false, 0, 8, "the print processor stopped inside text"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PassStop got = ExplainPass(c.job, c.read);
        EXPECT_EQ(got.whole, c.want.whole);
        EXPECT_EQ(got.offset, c.want.offset);
        EXPECT_EQ(got.notSent, c.want.notSent);
        EXPECT_EQ(got.reason, c.want.reason);
    }
}

} // namespace
} // namespace e2e
