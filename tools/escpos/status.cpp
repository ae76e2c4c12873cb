#include "status.h"

namespace escpos {
namespace {

// Bits 1 and 4 are on, 0 and 7 off, in every DLE EOT reply; so no reply is XON, XOFF or a GS r reply.
constexpr uint8_t kFixedOn = 0x12;
constexpr uint8_t kFixedMask = 0x93;

uint8_t Bit(bool on, uint8_t value) {
    return on ? value : 0;
}

// DLE EOT 1
constexpr uint8_t kDrawerHigh = 0x04, kOffline = 0x08, kWaitingRecovery = 0x20, kFeedButton = 0x40;
// DLE EOT 2
constexpr uint8_t kCoverOpen = 0x04, kFeeding = 0x08, kPaperEndStop = 0x20, kErrorOccurred = 0x40;
// DLE EOT 3
constexpr uint8_t kRecoverable = 0x04, kCutter = 0x08, kUnrecoverable = 0x20, kAutoRecoverable = 0x40;
// DLE EOT 4: two bits each, for printers with two sensors of a kind
constexpr uint8_t kNearEnd = 0x0C, kPaperEnd = 0x60;

} // namespace

uint8_t RealTimeStatus(int n, const Conditions& c) {
    switch (n) {
    case 1:
        return kFixedOn | Bit(c.drawerHigh, kDrawerHigh) | Bit(c.Offline(), kOffline) |
               Bit(c.recoverableError || c.cutterError, kWaitingRecovery) | Bit(c.feeding, kFeedButton);
    case 2:
        return kFixedOn | Bit(c.coverOpen, kCoverOpen) | Bit(c.feeding, kFeeding) |
               Bit(c.paperOut, kPaperEndStop) | Bit(c.Error(), kErrorOccurred);
    case 3:
        return kFixedOn | Bit(c.recoverableError, kRecoverable) | Bit(c.cutterError, kCutter) |
               Bit(c.unrecoverableError, kUnrecoverable) | Bit(c.autoRecoverableError, kAutoRecoverable);
    case 4:
        return kFixedOn | Bit(c.paperNearEnd || c.paperOut, kNearEnd) | Bit(c.paperOut, kPaperEnd);
    default:
        return kFixedOn;
    }
}

std::optional<uint8_t> TransmittedStatus(int n, const Conditions& c) {
    if (n == 1 || n == 49) {
        return static_cast<uint8_t>(Bit(c.paperNearEnd || c.paperOut, 0x03) | Bit(c.paperOut, 0x0C));
    }
    if (n == 2 || n == 50) {
        return Bit(c.drawerHigh, 0x01);
    }
    return std::nullopt;
}

bool IsRealTimeStatus(uint8_t b) {
    return (b & kFixedMask) == kFixedOn;
}

Conditions ReadRealTimeStatus(const std::array<uint8_t, 4>& r) {
    Conditions c;
    c.drawerHigh = r[0] & kDrawerHigh;
    c.coverOpen = r[1] & kCoverOpen;
    c.feeding = (r[1] & kFeeding) || (r[0] & kFeedButton);
    c.paperOut = (r[1] & kPaperEndStop) || (r[3] & kPaperEnd);
    c.paperNearEnd = (r[3] & kNearEnd) && !c.paperOut;
    c.recoverableError = r[2] & kRecoverable;
    c.cutterError = r[2] & kCutter;
    c.unrecoverableError = r[2] & kUnrecoverable;
    c.autoRecoverableError = r[2] & kAutoRecoverable;
    // an error the error reply does not name is an error all the same
    if ((r[1] & kErrorOccurred) && !c.Error()) {
        c.recoverableError = true;
    }
    c.offlineSwitch = (r[0] & kOffline) && !c.Offline();
    return c;
}

std::vector<std::string> Describe(const Conditions& c) {
    std::vector<std::string> out;
    if (c.unrecoverableError) {
        out.push_back("error: unrecoverable");
    }
    if (c.cutterError) {
        out.push_back("error: autocutter");
    }
    if (c.recoverableError) {
        out.push_back("error: recoverable");
    }
    if (c.autoRecoverableError) {
        out.push_back("error: automatically recoverable (head too hot)");
    }
    if (c.coverOpen) {
        out.push_back("cover open");
    }
    if (c.paperOut) {
        out.push_back("paper out");
    }
    if (c.feeding) {
        out.push_back("paper being fed");
    }
    if (c.Offline()) {
        out.push_back("off line");
    }
    if (c.paperNearEnd && !c.paperOut) {
        out.push_back("paper near end");
    }
    if (out.empty()) {
        out.push_back("ready");
    }
    if (c.drawerHigh) {
        out.push_back("drawer pin 3 high");
    }
    return out;
}

} // namespace escpos
