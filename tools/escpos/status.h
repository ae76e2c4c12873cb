// The printer's status bytes: what the replies to the real-time status request DLE EOT n (n 1 to 4) and to
// the status request GS r n say, bit by bit, as the ESC/POS command reference defines them. One table
// serves both sides: the virtual printer makes its replies with it, kqspool reads them with it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace escpos {

// What the printer's sensors, switches and error detectors say.
struct Conditions {
    bool drawerHigh = false;    // drawer kick-out connector pin 3 reads high
    bool offlineSwitch = false; // put off line by hand (no cause of its own in the replies)
    bool coverOpen = false;
    bool feeding = false;          // paper is being fed by the feed button
    bool paperNearEnd = false;     // roll paper near-end sensor
    bool paperOut = false;         // roll paper end sensor: no paper, printing stopped
    bool recoverableError = false; // e.g. a jam: ends with DLE ENQ once its cause is gone
    bool cutterError = false;      // the autocutter: ends with DLE ENQ once its cause is gone
    bool unrecoverableError = false;
    bool autoRecoverableError = false; // e.g. the head too hot: ends by itself

    bool Error() const {
        return recoverableError || cutterError || unrecoverableError || autoRecoverableError;
    }
    // Off line: the printer takes no more data for printing (real-time requests still work).
    bool Offline() const { return offlineSwitch || coverOpen || feeding || paperOut || Error(); }
    bool operator==(const Conditions&) const = default;
};

// The real-time status requests DLE EOT n the printer answers: n 1 printer, 2 off-line cause, 3 error cause,
// 4 roll paper sensor.
inline constexpr int kFirstRealTimeStatus = 1;
inline constexpr int kLastRealTimeStatus = 4;

// The reply to DLE EOT n (n 1 to 4): bit 1 and bit 4 always on, bits 0 and 7 always off.
uint8_t RealTimeStatus(int n, const Conditions& c);
// The reply to GS r n: n 1 or 49 the paper sensors, n 2 or 50 the drawer kick-out connector; none for
// another n. Bit 4 is always off, which tells it from a DLE EOT reply.
std::optional<uint8_t> TransmittedStatus(int n, const Conditions& c);
// A byte whose fixed bits are those of a DLE EOT reply. XON (0x11) and XOFF (0x13) never are.
bool IsRealTimeStatus(uint8_t b);

// The conditions that the replies to DLE EOT 1, 2, 3 and 4, in this order, say. The off-line switch is
// what is off line without a cause the replies name.
Conditions ReadRealTimeStatus(const std::array<uint8_t, 4>& replies);

// The conditions in words, most pressing first: "error: autocutter", "cover open", "paper out", "off line",
// "paper near end", "drawer pin 3 high"; "ready" when the printer prints and nothing is to be said.
std::vector<std::string> Describe(const Conditions& c);

} // namespace escpos
