// Bytes as lowercase hex, two digits a byte: write traces, messages that name a byte, test failures.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kqkit {

// Appends two lowercase hex digits for each byte of `bytes` to `out`.
inline void AppendHex(std::string& out, std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out.reserve(out.size() + 2 * bytes.size());
    for (const uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
}

// "1b4018": every byte of `bytes`; callers that show only a part cut the span and say so themselves.
inline std::string Hex(std::span<const uint8_t> bytes) {
    std::string out;
    AppendHex(out, bytes);
    return out;
}

// "0x1b": one byte as a message names it.
inline std::string HexByte(uint8_t b) {
    std::string out = "0x";
    AppendHex(out, std::span(&b, 1));
    return out;
}

} // namespace kqkit
