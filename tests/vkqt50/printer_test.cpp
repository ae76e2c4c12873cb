// The virtual printer's model: real-time requests at the receive stage, the busy printer and its receive
// buffer, paper that runs out and is loaded, errors and their recovery, and its control commands.
#include "control.h"
#include "printer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_view_literals; // "...\x00..."sv keeps its NULs
using Bytes = std::vector<uint8_t>;
using vkqt50::Printer;
using vkqt50::PrinterConfig;

const preview::Fonts& TheFonts() {
    static const preview::Fonts fonts = preview::Fonts::Load();
    return fonts;
}

struct Recorder final : vkqt50::Events {
    void Note(std::string_view line) override { notes.emplace_back(line); }
    void Receipt(int, const preview::Preview& r) override { receipts.push_back(r); }
    std::vector<std::string> notes;
    std::vector<preview::Preview> receipts;
};

Bytes B(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// `n` lines of text, then a full cut.
Bytes Receipt(int lines) {
    Bytes out = B("\x1b@");
    for (int i = 0; i < lines; ++i) {
        out = out + B("line " + std::to_string(i) + " of the receipt\n");
    }
    return out + B("\x1dV\x00"sv);
}

class PrinterTest : public ::testing::Test {
  protected:
    Printer& Make(PrinterConfig config = {}) {
        printer_ = std::make_unique<Printer>(TheFonts(), config, events_);
        return *printer_;
    }
    Recorder events_;
    std::unique_ptr<Printer> printer_;
};

TEST_F(PrinterTest, RealTimeRequestsAreAnsweredAsTheyArriveEvenOffLineAndInsideData) {
    Printer& p = Make();
    // a request cut across two deliveries is answered once its last byte is in
    p.Receive(B("ab\x10\x04"));
    EXPECT_TRUE(p.TakeReplies().empty());
    p.Receive(B("\x01"));
    EXPECT_EQ(p.TakeReplies(), Bytes{0x12});
    // off line, the receive stage still answers; the printer prints nothing
    p.SetCover(true);
    p.Receive(B("\x10\x04\x02"
                "cd\x10\x04\x01"));
    p.Print();
    EXPECT_EQ(p.TakeReplies(), (Bytes{0x16, 0x1A}));
    EXPECT_EQ(p.stats().printed, 0u);
    // as the KQT-50 does, a request's bytes inside an image's data are a request too; DLE EOT 5 is none
    const Bytes image = B(std::string("\x1dv0\x00\x03\x00\x01\x00", 8)) + Bytes{0x10, 0x04, 0x04};
    p.Receive(image + B("\x10\x04\x05"));
    EXPECT_EQ(p.TakeReplies(), Bytes{0x12});
    EXPECT_EQ(p.stats().requests, 4u);
}

TEST_F(PrinterTest, ABusyPrinterAsksForXoffAndXonAndLosesWhatFindsItFull) {
    PrinterConfig config;
    config.bufferSize = 256; // busy with 64 bytes free, ready again with 128
    config.flow = vkqt50::Flow::XonXoff;
    Printer& p = Make(config);
    p.SetOffline(true);
    p.Receive(Bytes(180, 'a'));
    EXPECT_FALSE(p.Busy());
    p.Receive(Bytes(12, 'b'));
    EXPECT_TRUE(p.Busy());
    EXPECT_EQ(p.TakeReplies(), Bytes{vkqt50::kXoff});
    p.Receive(Bytes(100, 'c')); // a sender that did not hold off
    EXPECT_EQ(p.stats().lost, 36u);
    EXPECT_EQ(p.Buffered(), 256u);
    p.SetOffline(false);
    p.Print();
    EXPECT_FALSE(p.Busy());
    EXPECT_EQ(p.TakeReplies(), Bytes{vkqt50::kXon});
    EXPECT_EQ(p.stats().printed, 256u);
    EXPECT_EQ(p.stats().received, 292u);
}

TEST_F(PrinterTest, HardwareFlowControlIsBusyWithoutSendingAByte) {
    PrinterConfig config;
    config.bufferSize = 64;
    config.flow = vkqt50::Flow::Hardware;
    Printer& p = Make(config);
    p.SetOffline(true);
    p.Receive(Bytes(60, 'a'));
    EXPECT_TRUE(p.Busy());
    EXPECT_TRUE(p.TakeReplies().empty());
}

TEST_F(PrinterTest, PaperRunsOutAfterItsLengthAndTheReceiptGoesOnOnTheNextRoll) {
    PrinterConfig config;
    config.bufferSize = 1 << 16;
    config.paperMm = 20; // about five lines of text
    Printer& p = Make(config);
    const Bytes job = Receipt(40);
    p.Receive(job);
    p.Print();
    ASSERT_TRUE(p.conditions().paperOut);
    EXPECT_GE(p.PaperUsedMm(), 20.0);
    EXPECT_LT(p.PaperUsedMm(), 30.0) << "it stops close to the roll's end";
    EXPECT_GT(p.Buffered(), job.size() / 2) << "the rest waits in the buffer";
    p.Receive(B("\x10\x04\x04"));
    EXPECT_EQ(p.TakeReplies(), Bytes{0x7E});
    p.LoadPaper(0.0);
    p.Print();
    EXPECT_FALSE(p.conditions().paperOut);
    EXPECT_EQ(p.Buffered(), 0u);
    p.Finish();
    // one receipt across two rolls, drawn as the whole stream is; nothing after the cut makes no picture
    ASSERT_EQ(events_.receipts.size(), 1u);
    const preview::Preview whole = preview::Render(job, TheFonts());
    EXPECT_EQ(events_.receipts[0].picture.height, whole.picture.height);
    EXPECT_TRUE(events_.receipts[0].picture.dots == whole.picture.dots);
}

TEST_F(PrinterTest, TheNearEndSensorSeesTheEndComing) {
    PrinterConfig config;
    config.bufferSize = 1 << 16;
    config.paperMm = 40;
    config.nearEndMm = 25;
    Printer& p = Make(config);
    p.Receive(Receipt(6));
    p.Print();
    EXPECT_TRUE(p.conditions().paperNearEnd);
    EXPECT_FALSE(p.conditions().paperOut);
}

TEST_F(PrinterTest, DleEnqEndsAnErrorThatWaitsForIt) {
    Printer& p = Make();
    p.SetError(vkqt50::ErrorKind::Cutter, true);
    p.Receive(B("abc\x10\x05\x01"));
    EXPECT_FALSE(p.conditions().Error()) << "ENQ 1: printing goes on from where it was";
    p.Print();
    EXPECT_EQ(p.stats().printed, 6u);
    p.SetError(vkqt50::ErrorKind::Recoverable, true);
    p.Receive(B("def\x10\x05\x02"));
    EXPECT_FALSE(p.conditions().Error());
    EXPECT_EQ(p.stats().discarded, 6u) << "ENQ 2: the buffer is cleared, the request with it";
    EXPECT_EQ(p.Buffered(), 0u);
    // an error that is not recoverable stays
    p.SetError(vkqt50::ErrorKind::Unrecoverable, true);
    p.Receive(B("\x10\x05\x01"));
    EXPECT_TRUE(p.conditions().unrecoverableError);
}

TEST_F(PrinterTest, CommandsInTheDataAreCarriedOutAsTheyArePrinted) {
    Printer& p = Make();
    p.SetOffline(true);
    p.Receive(B("\x1dr\x02\x1bp\x00\x19\xfa\x1dr\x02"sv));
    EXPECT_TRUE(p.TakeReplies().empty()) << "GS r waits its turn in the buffer";
    p.SetOffline(false);
    p.Print();
    EXPECT_EQ(p.TakeReplies(), (Bytes{0x00, 0x01})) << "ESC p opened the drawer between the two";
    EXPECT_TRUE(p.conditions().drawerHigh);
}

TEST_F(PrinterTest, ControlCommandsChangeTheStateAndSayIt) {
    Printer& p = Make();
    struct Case {
        const char* command;
        const char* reply;
    } const cases[] = {
        {"paper-out", "ok paper out, off line"},
        {"status", "ok 1a 32 12 7e paper out, off line"},
        {"load", "ok ready"},
        {"near-end on", "ok paper near end"},
        {"near-end off", "ok ready"},
        {"cover open", "ok cover open, off line"},
        {"cover close", "ok ready"},
        {"offline", "ok off line"},
        {"online", "ok ready"},
        {"error overheat", "ok error: automatically recoverable (head too hot), off line"},
        {"error overheat off", "ok ready"},
        {"error unrecoverable", "ok error: unrecoverable, off line"},
        {"clear", "ok ready"},
        {"drawer open", "ok ready, drawer pin 3 high"},
        {"load -3", "error load takes a length in millimetres from 0 to 10000000"},
        {"error jam", "error unknown error kind 'jam': recoverable, cutter, unrecoverable or overheat"},
        {"cover", "error unknown command 'cover'"},
        {"", "error empty command"},
    };
    for (const Case& c : cases) {
        const vkqt50::ControlResult r = vkqt50::Execute(p, c.command);
        EXPECT_EQ(r.reply, c.reply) << c.command;
        EXPECT_FALSE(r.quit);
    }
    EXPECT_TRUE(vkqt50::Execute(p, "quit").quit);
    EXPECT_EQ(
        vkqt50::Execute(p, "stats", " garbled=0").reply,
        "ok received=0 lost=0 discarded=0 printed=0 buffered=0 requests=0 receipts=0 paper-mm=0.0 garbled=0");
}

} // namespace
