// A serial line's settings as a COM port has them: rate, data bits, parity, stop bits, flow control; written
// "9600,8,n,1,none" on command lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vkqt50 {

enum class Parity { None, Odd, Even, Mark, Space };
enum class Flow { None, XonXoff, Hardware };

struct LineSettings {
    unsigned rate = 9600; // bits per second
    int dataBits = 8;     // 5 to 8
    Parity parity = Parity::None;
    int stopHalves = 2; // stop bits in halves: 2 one, 3 one and a half, 4 two
    Flow flow = Flow::None;

    // Bits on the line for one character, in halves: start bit, data, parity, stop.
    int BitHalves() const { return 2 * (1 + dataBits + (parity == Parity::None ? 0 : 1)) + stopHalves; }
    // How long the line takes to carry one character.
    uint64_t CharNanoseconds() const { return BitHalves() * 500'000'000ull / rate; }
    bool operator==(const LineSettings&) const = default;
    // "9600 8N1, XON/XOFF"
    std::string Text() const;
};

// "RATE[,DATA[,PARITY[,STOP[,FLOW]]]]": parity n, o, e, m or s; stop 1, 1.5 or 2; flow none, xon (XON/XOFF)
// or hardware (RTS/CTS); what is left out is 8, n, 1, none. None, with `error` set, for a text it cannot
// read.
std::optional<LineSettings> ParseLine(std::string_view text, std::string* error);

} // namespace vkqt50
