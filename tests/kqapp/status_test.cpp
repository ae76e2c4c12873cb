// The printer's answers to DLE EOT and its automatic status back, read from what it sends, and their IPP
// printer-state-reasons.
#include "status.h"

#include <gtest/gtest.h>

#include <vector>

namespace kqapp {
namespace {

using Bytes = std::vector<uint8_t>;

// The four answers of a printer to DLE EOT 1..4: the fixed bits 0xx1xx10 and the bits that say.
Bytes Answers(uint8_t printer, uint8_t offline, uint8_t error, uint8_t paper) {
    return {uint8_t(0x12 | printer), uint8_t(0x12 | offline), uint8_t(0x12 | error), uint8_t(0x12 | paper)};
}

// Automatic status back: four bytes, the first 0xx1xx00, the others with bits 4 and 7 clear.
Bytes AutoStatusBack(uint8_t first, uint8_t second, uint8_t third) {
    return {uint8_t(0x10 | first), second, third, 0x00};
}

PrinterStatus Read(const Bytes& bytes, bool asked = true) {
    StatusReader reader;
    if (asked) {
        reader.Asked();
    }
    reader.Feed(bytes.data(), bytes.size());
    return reader.status();
}

struct Case {
    const char* what;
    Bytes bytes;
    pappl_preason_t reasons;
    int paperLevel;
};

class StatusReasonsTest : public ::testing::TestWithParam<Case> {};

TEST_P(StatusReasonsTest, TheReportsBitsAreThePrintersStateReasons) {
    const Case& c = GetParam();
    const PrinterStatus status = Read(c.bytes);
    EXPECT_EQ(ReasonsOf(status, true), c.reasons) << c.what;
    EXPECT_EQ(PaperLevel(status), c.paperLevel) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Reports, StatusReasonsTest,
    ::testing::Values(
        Case{"ready", Answers(0, 0, 0, 0), PAPPL_PREASON_NONE, 100},
        Case{"off line, no cause given", Answers(0x08, 0, 0, 0), PAPPL_PREASON_OFFLINE, 100},
        Case{"paper out: off line, stopped for paper end, end sensor", Answers(0x08, 0x20, 0, 0x60),
             PAPPL_PREASON_MEDIA_EMPTY, 0},
        Case{"paper near its end", Answers(0, 0, 0, 0x0C), PAPPL_PREASON_MEDIA_LOW, 10},
        Case{"one near-end bit alone is not near end", Answers(0, 0, 0, 0x04), PAPPL_PREASON_NONE, 100},
        Case{"cover open", Answers(0x08, 0x04, 0, 0), PAPPL_PREASON_COVER_OPEN, 100},
        Case{"cutter error", Answers(0x08, 0x40, 0x08, 0), PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_OTHER, 100},
        Case{"unrecoverable error", Answers(0x08, 0x40, 0x20, 0), PAPPL_PREASON_OTHER, 100},
        Case{"ASB: ready", AutoStatusBack(0, 0, 0), PAPPL_PREASON_NONE, 100},
        Case{"ASB: paper out, off line", AutoStatusBack(0x08, 0, 0x0C), PAPPL_PREASON_MEDIA_EMPTY, 0},
        Case{"ASB: near end", AutoStatusBack(0, 0, 0x03), PAPPL_PREASON_MEDIA_LOW, 10},
        Case{"ASB: cover open", AutoStatusBack(0x28, 0, 0), PAPPL_PREASON_COVER_OPEN, 100},
        Case{"ASB: autocutter error", AutoStatusBack(0x08, 0x08, 0), PAPPL_PREASON_MEDIA_JAM, 100},
        Case{"ASB: automatically recoverable error", AutoStatusBack(0x08, 0x40, 0), PAPPL_PREASON_OTHER, 100}));

TEST(StatusReaderTest, AutomaticStatusBackAndAnswersInterleavedAreToldApart) {
    StatusReader reader;
    reader.Asked();
    Bytes stream = {0x12};                                    // answer to DLE EOT 1: on line
    const Bytes asb = AutoStatusBack(0x08, 0, 0x0C);         // paper out, sent unasked
    stream.insert(stream.end(), asb.begin(), asb.end());
    stream.insert(stream.end(), {0x32, 0x12, 0x7E});         // answers 2, 3, 4: paper end stop, -, paper out
    reader.Feed(stream.data(), stream.size());
    EXPECT_TRUE(reader.Answered());
    EXPECT_TRUE(reader.status().paperOut);
    EXPECT_EQ(ReasonsOf(reader.status(), true), PAPPL_PREASON_MEDIA_EMPTY);
}

TEST(StatusReaderTest, ReportsCutAcrossReadsAndNoiseAreReadWhole) {
    StatusReader reader;
    const Bytes asb = AutoStatusBack(0x20, 0, 0); // cover open
    const Bytes noise = {0xFF, 0x81, 0x00};       // fit neither form
    EXPECT_FALSE(reader.Feed(noise.data(), noise.size()));
    EXPECT_FALSE(reader.Feed(asb.data(), 2)) << "half a report changes nothing";
    EXPECT_TRUE(reader.Feed(asb.data() + 2, 2));
    EXPECT_TRUE(reader.status().coverOpen);
    EXPECT_TRUE(reader.Heard());
    // a report cut short by another begins again with it
    const Bytes broken = {0x10, 0x00, 0x10, 0x00, 0x00, 0x00};
    reader.Feed(broken.data(), broken.size());
    EXPECT_FALSE(reader.status().coverOpen);
}

TEST(StatusReaderTest, AnswersNobodyAskedForAreIgnored) {
    StatusReader reader;
    const Bytes answer = {0x1A}; // off line, as an answer to DLE EOT 1
    EXPECT_FALSE(reader.Feed(answer.data(), answer.size()));
    EXPECT_FALSE(reader.Heard());
    reader.Asked();
    reader.ForgetAsked();
    EXPECT_TRUE(reader.Answered());
    EXPECT_FALSE(reader.Feed(answer.data(), answer.size()));
}

TEST(StatusReaderTest, AJobsOwnRequestsHaveTheirAnswersBeforeOurs) {
    // The job asks DLE EOT 1 itself (even inside an image's data, as the printer finds it there), then a
    // DLE ENQ whose byte is not a request; the application's four come last. The printer, out of paper,
    // answers them all in order once it takes the job's bytes again.
    StatusReader reader;
    Bytes job = {0x1B, '@', 0x10, 0x04, 0x01, 0x1D, 'v', '0', 0x00, 0x01, 0x00, 0x02, 0x00, 0x10, 0x04};
    const Bytes rest = {0x02, 0x10, 0x05, 0x10, 0x04, 0x09};
    reader.Sent(job.data(), job.size()); // a request cut across writes
    reader.Sent(rest.data(), rest.size());
    reader.Sent(StatusRequest().data(), StatusRequest().size());
    Bytes stream = {0x1A, 0x32}; // the job's: off line, then paper out
    const Bytes ours = Answers(0, 0, 0, 0);
    stream.insert(stream.end(), ours.begin(), ours.end());
    reader.Feed(stream.data(), stream.size() - 1);
    EXPECT_FALSE(reader.Answered());
    reader.Feed(stream.data() + stream.size() - 1, 1);
    EXPECT_TRUE(reader.Answered());
    EXPECT_FALSE(reader.status().Stopped()) << "the last answers are the printer's now";
}

TEST(StatusReaderTest, APrinterThatDoesNotAnswerIsOffLine) {
    EXPECT_EQ(ReasonsOf(PrinterStatus{}, false), PAPPL_PREASON_OFFLINE);
    EXPECT_EQ(StoppedBecause(PrinterStatus{}), "");
    PrinterStatus out;
    out.paperOut = true;
    out.offline = true;
    EXPECT_TRUE(out.Stopped());
    EXPECT_EQ(StoppedBecause(out), "paper out: load paper to go on");
}

TEST(StatusRequestTest, AsksTheFourStatusesAndSwitchesAutomaticStatusBack) {
    EXPECT_EQ(StatusRequest(), (Bytes{0x10, 0x04, 1, 0x10, 0x04, 2, 0x10, 0x04, 3, 0x10, 0x04, 4}));
    EXPECT_EQ(AutoStatusOn(), (Bytes{0x1D, 'a', 0x0E}));
    EXPECT_EQ(AutoStatusOff(), (Bytes{0x1D, 'a', 0}));
}

} // namespace
} // namespace kqapp
