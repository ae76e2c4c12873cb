// The status bytes against the ESC/POS command reference's bit tables for DLE EOT n and GS r n: each state
// of the printer, and the replies read back into the same state.
#include "status.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using escpos::Conditions;

// The reference's bits, written out here rather than taken from the code under test.
// DLE EOT 1 (printer): 1 and 4 fixed on; 2 drawer kick-out connector pin 3 high; 3 off line; 5 waiting for
// on-line recovery; 6 paper being fed by the feed button.
// DLE EOT 2 (off-line cause): 2 cover open; 3 feed button; 5 printing stopped by paper end; 6 error.
// DLE EOT 3 (error cause): 2 recoverable error; 3 autocutter error; 5 unrecoverable; 6 automatically
// recoverable.
// DLE EOT 4 (roll paper sensor): 2 and 3 near end; 5 and 6 paper end.
struct Row {
    const char* state;
    Conditions c;
    std::array<uint8_t, 4> replies;
    std::vector<std::string> words;
};

Conditions With(void (*set)(Conditions&)) {
    Conditions c;
    set(c);
    return c;
}

const Row kRows[] = {
    {"ready", {}, {0x12, 0x12, 0x12, 0x12}, {"ready"}},
    {"drawer open",
     With([](Conditions& c) { c.drawerHigh = true; }),
     {0x16, 0x12, 0x12, 0x12},
     {"ready", "drawer pin 3 high"}},
    {"put off line",
     With([](Conditions& c) { c.offlineSwitch = true; }),
     {0x1A, 0x12, 0x12, 0x12},
     {"off line"}},
    {"cover open",
     With([](Conditions& c) { c.coverOpen = true; }),
     {0x1A, 0x16, 0x12, 0x12},
     {"cover open", "off line"}},
    {"paper fed by the button",
     With([](Conditions& c) { c.feeding = true; }),
     {0x5A, 0x1A, 0x12, 0x12},
     {"paper being fed", "off line"}},
    {"paper near end",
     With([](Conditions& c) { c.paperNearEnd = true; }),
     {0x12, 0x12, 0x12, 0x1E},
     {"paper near end"}},
    {"paper out",
     With([](Conditions& c) { c.paperOut = true; }),
     {0x1A, 0x32, 0x12, 0x7E},
     {"paper out", "off line"}},
    {"recoverable error",
     With([](Conditions& c) { c.recoverableError = true; }),
     {0x3A, 0x52, 0x16, 0x12},
     {"error: recoverable", "off line"}},
    {"autocutter error",
     With([](Conditions& c) { c.cutterError = true; }),
     {0x3A, 0x52, 0x1A, 0x12},
     {"error: autocutter", "off line"}},
    {"unrecoverable error",
     With([](Conditions& c) { c.unrecoverableError = true; }),
     {0x1A, 0x52, 0x32, 0x12},
     {"error: unrecoverable", "off line"}},
    {"head too hot",
     With([](Conditions& c) { c.autoRecoverableError = true; }),
     {0x1A, 0x52, 0x52, 0x12},
     {"error: automatically recoverable (head too hot)", "off line"}},
    {"cover open, paper out, drawer open",
     With([](Conditions& c) { c.coverOpen = c.paperOut = c.drawerHigh = true; }),
     {0x1E, 0x36, 0x12, 0x7E},
     {"cover open", "paper out", "off line", "drawer pin 3 high"}},
};

TEST(StatusTest, RepliesHaveTheReferencesBitsForEachState) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.state);
        for (int n = 1; n <= 4; ++n) {
            EXPECT_EQ(escpos::RealTimeStatus(n, row.c), row.replies[n - 1]) << "DLE EOT " << n;
            EXPECT_TRUE(escpos::IsRealTimeStatus(row.replies[n - 1]));
        }
        EXPECT_EQ(escpos::ReadRealTimeStatus(row.replies), row.c) << "read back";
        EXPECT_EQ(escpos::Describe(row.c), row.words);
    }
}

TEST(StatusTest, NoReplyCanBeTakenForFlowControlOrAnotherReply) {
    // XON and XOFF arrive among the replies on a line with XON/XOFF flow control; GS r replies have bit 4 off
    EXPECT_FALSE(escpos::IsRealTimeStatus(0x11));
    EXPECT_FALSE(escpos::IsRealTimeStatus(0x13));
    for (const Row& row : kRows) {
        for (const int n : {1, 2}) {
            EXPECT_FALSE(escpos::IsRealTimeStatus(*escpos::TransmittedStatus(n, row.c))) << row.state;
        }
    }
}

TEST(StatusTest, TransmittedStatusHasThePaperAndDrawerBits) {
    // GS r 1 (49): bits 0 and 1 near end, 2 and 3 paper end; GS r 2 (50): bit 0 drawer pin 3 high
    struct Case {
        int n;
        Conditions c;
        std::optional<uint8_t> reply;
    } const cases[] = {
        {1, {}, 0x00},
        {49, With([](Conditions& c) { c.paperNearEnd = true; }), 0x03},
        {1, With([](Conditions& c) { c.paperOut = true; }), 0x0F},
        {2, {}, 0x00},
        {50, With([](Conditions& c) { c.drawerHigh = true; }), 0x01},
        {3, {}, std::nullopt},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(escpos::TransmittedStatus(k.n, k.c), k.reply) << "GS r " << k.n;
    }
}

TEST(StatusTest, AnErrorTheErrorReplyDoesNotNameIsStillAnError) {
    // a printer whose DLE EOT 3 has no bit for its error still says "error occurred" in DLE EOT 2
    const Conditions c = escpos::ReadRealTimeStatus({0x1A, 0x52, 0x12, 0x12});
    EXPECT_TRUE(c.Error());
    EXPECT_TRUE(c.Offline());
    EXPECT_FALSE(c.offlineSwitch);
}

} // namespace
