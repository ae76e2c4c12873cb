// The printer's end of a pseudo-terminal: the sender opens the other end (its path) as it opens a serial
// port. A pseudo-terminal has no rate and no modem lines: the printer takes the bytes at the rate its line
// settings give, and holds the sender off by stopping the other end's output (as a stop character does),
// which is what its busy line does to a sender that watches it.
#pragma once

#include "fd.h"
#include "line.h"

#include <optional>
#include <string>

namespace vkqt50 {

// What the sender has set on its end. A pseudo-terminal keeps the rate and the stop bits a sender sets,
// but not its data bits and parity: it always has eight without parity.
struct SenderSettings {
    unsigned rate = 0;
    bool twoStopBits = false;
    bool xonXoff = false;  // it stops sending at XOFF and goes on at XON
    bool hardware = false; // it stops sending while the printer is busy (RTS/CTS)
    bool operator==(const SenderSettings&) const = default;
    // Its characters are read as they are sent: the same rate and stop bits as the printer's.
    bool Matches(const LineSettings& printer) const {
        return rate == printer.rate && twoStopBits == (printer.stopHalves > 2);
    }
    // "9600 bit/s, 1 stop bit, XON/XOFF"
    std::string Text() const;
};

class Pty {
  public:
    // A new pseudo-terminal, raw, with `line` set on it (so that a sender that sets nothing matches the
    // printer); none, with `error`, when one cannot be had.
    static std::optional<Pty> Open(const LineSettings& line, std::string* error);

    int master() const { return master_.get(); }
    const std::string& path() const { return path_; }
    // The settings on the sender's end now.
    SenderSettings Sender() const;
    // Stops or restarts the sender's output.
    bool Hold(bool stop);

  private:
    Pty() = default;

    Fd master_;
    Fd slave_; // kept open, so that the line stays up between senders
    std::string path_;
};

} // namespace vkqt50
