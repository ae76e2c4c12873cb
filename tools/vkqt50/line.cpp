#include "line.h"

#include <charconv>
#include <vector>

namespace vkqt50 {
namespace {

std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> out;
    for (;;) {
        const size_t comma = text.find(',');
        out.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos) {
            return out;
        }
        text.remove_prefix(comma + 1);
    }
}

bool Number(std::string_view text, unsigned* value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

} // namespace

std::string LineSettings::Text() const {
    static const char kParity[] = {'N', 'O', 'E', 'M', 'S'};
    std::string out =
        std::to_string(rate) + " " + std::to_string(dataBits) + kParity[static_cast<int>(parity)];
    out += stopHalves == 3 ? "1.5" : std::to_string(stopHalves / 2);
    out += flow == Flow::XonXoff    ? ", XON/XOFF"
           : flow == Flow::Hardware ? ", hardware flow control"
                                    : ", no flow control";
    return out;
}

std::optional<LineSettings> ParseLine(std::string_view text, std::string* error) {
    const std::vector<std::string_view> f = Fields(text);
    LineSettings s;
    unsigned n = 0;
    if (f.size() > 5) {
        *error = "line settings are RATE,DATA,PARITY,STOP,FLOW";
        return std::nullopt;
    }
    if (!Number(f[0], &n) || n < 50 || n > 4'000'000) {
        *error = "the rate must be a number of bits per second from 50 to 4000000";
        return std::nullopt;
    }
    s.rate = n;
    if (f.size() > 1) {
        if (!Number(f[1], &n) || n < 5 || n > 8) {
            *error = "data bits must be 5, 6, 7 or 8";
            return std::nullopt;
        }
        s.dataBits = static_cast<int>(n);
    }
    if (f.size() > 2) {
        static const std::string_view kParity[] = {"n", "o", "e", "m", "s"};
        bool found = false;
        for (int i = 0; i < 5; ++i) {
            if (f[2] == kParity[i] || (f[2].size() == 1 && f[2][0] == kParity[i][0] - 'a' + 'A')) {
                s.parity = static_cast<Parity>(i);
                found = true;
            }
        }
        if (!found) {
            *error = "parity must be n, o, e, m or s (none, odd, even, mark, space)";
            return std::nullopt;
        }
    }
    if (f.size() > 3) {
        if (f[3] == "1") {
            s.stopHalves = 2;
        } else if (f[3] == "1.5") {
            s.stopHalves = 3;
        } else if (f[3] == "2") {
            s.stopHalves = 4;
        } else {
            *error = "stop bits must be 1, 1.5 or 2";
            return std::nullopt;
        }
    }
    if (f.size() > 4) {
        if (f[4] == "none") {
            s.flow = Flow::None;
        } else if (f[4] == "xon" || f[4] == "xonxoff") {
            s.flow = Flow::XonXoff;
        } else if (f[4] == "hardware" || f[4] == "rtscts") {
            s.flow = Flow::Hardware;
        } else {
            *error = "flow control must be none, xon or hardware";
            return std::nullopt;
        }
    }
    return s;
}

} // namespace vkqt50
