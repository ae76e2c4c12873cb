#include "barcode.h"

#include "hex.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace preview {
namespace {

bool AllDigits(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Modules as '1' (bar) and '0' (space), turned into element widths.
void AppendModules(Bars& bars, const char* modules) {
    for (const char* p = modules; *p; ++p) {
        const bool bar = *p == '1';
        const bool barTurn = bars.widths.size() % 2 == 0;
        if (bars.widths.empty() || bar == barTurn) {
            bars.widths.push_back(1);
        } else {
            ++bars.widths.back();
        }
    }
}

int CheckDigit(const std::string& digits) {
    // Weights 3 and 1 from the rightmost data digit leftwards.
    int sum = 0;
    for (size_t i = 0; i < digits.size(); ++i) {
        const int d = digits[digits.size() - 1 - i] - '0';
        sum += i % 2 == 0 ? 3 * d : d;
    }
    return (10 - sum % 10) % 10;
}

constexpr const char* kEanL[] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                                 "0110001", "0101111", "0111011", "0110111", "0001011"};
constexpr const char* kEanG[] = {"0100111", "0110011", "0011011", "0100001", "0011101",
                                 "0111001", "0000101", "0010001", "0001001", "0010111"};
constexpr const char* kEanR[] = {"1110010", "1100110", "1101100", "1000010", "1011100",
                                 "1001110", "1010000", "1000100", "1001000", "1110100"};
// Which of digits 2 to 7 of an EAN-13 take the G set, by the first digit.
constexpr const char* kEanParity[] = {"LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
                                      "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL"};

// EAN-13 and EAN-8 from their data digits without the check digit (a given check digit is recomputed).
std::optional<Bars> Ean(std::string digits, size_t length, std::string* why) {
    if (!AllDigits(digits) || (digits.size() != length - 1 && digits.size() != length)) {
        *why = "needs " + std::to_string(length - 1) + " or " + std::to_string(length) + " digits";
        return std::nullopt;
    }
    digits.resize(length - 1);
    digits += static_cast<char>('0' + CheckDigit(digits));
    Bars bars;
    AppendModules(bars, "101");
    const size_t half = length == 13 ? 7 : 4;
    const size_t first = length == 13 ? 1 : 0;
    for (size_t i = first; i < length; ++i) {
        if (i == half) {
            AppendModules(bars, "01010");
        }
        const int d = digits[i] - '0';
        if (i >= half) {
            AppendModules(bars, kEanR[d]);
        } else if (length == 13 && kEanParity[digits[0] - '0'][i - 1] == 'G') {
            AppendModules(bars, kEanG[d]);
        } else {
            AppendModules(bars, kEanL[d]);
        }
    }
    AppendModules(bars, "101");
    bars.text = digits;
    return bars;
}

// CODE39: nine elements a character, three of them wide.
constexpr char kCode39Chars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%*";
constexpr const char* kCode39[] = {
    "nnnwwnwnn", "wnnwnnnnw", "nnwwnnnnw", "wnwwnnnnn", "nnnwwnnnw", "wnnwwnnnn", "nnwwwnnnn", "nnnwnnwnw",
    "wnnwnnwnn", "nnwwnnwnn", "wnnnnwnnw", "nnwnnwnnw", "wnwnnwnnn", "nnnnwwnnw", "wnnnwwnnn", "nnwnwwnnn",
    "nnnnnwwnw", "wnnnnwwnn", "nnwnnwwnn", "nnnnwwwnn", "wnnnnnnww", "nnwnnnnww", "wnwnnnnwn", "nnnnwnnww",
    "wnnnwnnwn", "nnwnwnnwn", "nnnnnnwww", "wnnnnnwwn", "nnwnnnwwn", "nnnnwnwwn", "wwnnnnnnw", "nwwnnnnnw",
    "wwwnnnnnn", "nwnnwnnnw", "wwnnwnnnn", "nwwnwnnnn", "nwnnnnwnw", "wwnnnnwnn", "nwwnnnwnn", "nwnwnwnnn",
    "nwnwnnnwn", "nwnnnwnwn", "nnnwnwnwn", "nwnnwnwnn"};
static_assert(std::size(kCode39) == sizeof(kCode39Chars) - 1);

constexpr int kNarrow = 2, kWide = 5; // half modules

void AppendElements(Bars& bars, const char* elements) {
    for (const char* p = elements; *p; ++p) {
        bars.widths.push_back(*p == 'w' ? kWide : kNarrow);
    }
}

std::optional<Bars> Code39(const std::string& data, std::string* why) {
    std::string text = data;
    // Start and stop characters may come with the data; the printer adds them otherwise.
    if (text.size() >= 2 && text.front() == '*' && text.back() == '*') {
        text = text.substr(1, text.size() - 2);
    }
    if (text.empty() || text.find('*') != std::string::npos) {
        *why = text.empty() ? "has no data" : "holds '*' inside its data";
        return std::nullopt;
    }
    Bars bars;
    bars.halfModules = true;
    for (const char c : "*" + text + "*") {
        const char* at = c ? std::strchr(kCode39Chars, c) : nullptr;
        if (!at) {
            *why = "cannot hold the character '" + std::string(1, c) + "'";
            return std::nullopt;
        }
        if (!bars.widths.empty()) {
            bars.widths.push_back(kNarrow); // the gap between characters
        }
        AppendElements(bars, kCode39[at - kCode39Chars]);
    }
    bars.text = "*" + text + "*";
    return bars;
}

// ITF: digits in pairs, the first of a pair in the bars, the second in the spaces.
constexpr const char* kItf[] = {"nnwwn", "wnnnw", "nwnnw", "wwnnn", "nnwnw",
                                "wnwnn", "nwwnn", "nnnww", "wnnwn", "nwnwn"};

std::optional<Bars> Itf(const std::string& data, std::string* why) {
    if (data.empty() || data.size() % 2 != 0 || !AllDigits(data)) {
        *why = "needs an even number of digits";
        return std::nullopt;
    }
    Bars bars;
    bars.halfModules = true;
    AppendElements(bars, "nnnn");
    for (size_t i = 0; i < data.size(); i += 2) {
        const char* a = kItf[data[i] - '0'];
        const char* b = kItf[data[i + 1] - '0'];
        for (int k = 0; k < 5; ++k) {
            bars.widths.push_back(a[k] == 'w' ? kWide : kNarrow);
            bars.widths.push_back(b[k] == 'w' ? kWide : kNarrow);
        }
    }
    AppendElements(bars, "wnn");
    bars.text = data;
    return bars;
}

// CODE128 symbol values 0 to 106: bar, space, bar, space, bar, space widths (the stop has a seventh).
constexpr const char* kCode128[] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212", "221213",
    "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221", "223211", "221132",
    "221231", "213212", "223112", "312131", "311222", "321122", "321221", "312212", "322112", "322211",
    "212123", "212321", "232121", "111323", "131123", "131321", "112313", "132113", "132311", "211313",
    "231113", "231311", "112133", "112331", "132131", "113123", "113321", "133121", "313121", "211331",
    "231131", "213113", "213311", "213131", "311123", "311321", "331121", "312113", "312311", "332111",
    "314111", "221411", "431111", "111224", "111422", "121124", "121421", "141122", "141221", "112214",
    "112412", "122114", "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111",
    "111242", "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311", "113141",
    "114131", "311141", "411131", "211412", "211214", "211232", "2331112"};
static_assert(std::size(kCode128) == 107);

// Epson-style CODE128 data: "{A", "{B" or "{C" first, then characters of that set; "{A", "{B", "{C" switch
// set, "{S" shifts one character between A and B, "{1" to "{4" are FNC1 to FNC4, "{{" is "{".
std::optional<Bars> Code128(const std::string& data, std::string* why) {
    if (data.size() < 2 || data[0] != '{' || data[1] < 'A' || data[1] > 'C') {
        *why = "does not start with a code set ({A, {B or {C)";
        return std::nullopt;
    }
    std::vector<int> values;
    std::string text;
    char set = data[1];
    values.push_back(103 + (set - 'A'));
    bool shift = false;
    for (size_t i = 2; i < data.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(data[i]);
        if (c == '{' && i + 1 < data.size() && data[i + 1] != '{') {
            const char f = data[++i];
            if (f >= 'A' && f <= 'C') {
                if (f != set) {
                    values.push_back(f == 'A' ? 101 : f == 'B' ? 100 : 99);
                    set = f;
                }
            } else if (f == 'S' && set != 'C') {
                values.push_back(98);
                shift = true;
            } else if (f == '1') {
                values.push_back(102);
            } else if (f == '2' && set != 'C') {
                values.push_back(97);
            } else if (f == '3' && set != 'C') {
                values.push_back(96);
            } else if (f == '4' && set != 'C') {
                values.push_back(set == 'A' ? 101 : 100);
            } else {
                *why = "holds the unknown code \"{" + std::string(1, f) + "\"";
                return std::nullopt;
            }
            continue;
        }
        if (c == '{') {
            ++i; // "{{"
        }
        const char active = shift ? (set == 'A' ? 'B' : 'A') : set;
        shift = false;
        if (active == 'C') {
            if (i + 1 >= data.size() || !AllDigits(data.substr(i, 2))) {
                *why = "has code set C data that is not pairs of digits";
                return std::nullopt;
            }
            values.push_back((data[i] - '0') * 10 + data[i + 1] - '0');
            text += data.substr(i++, 2);
        } else if (active == 'A' && c < 0x60) {
            values.push_back(c < 0x20 ? c + 64 : c - 32);
            text += c < 0x20 ? ' ' : static_cast<char>(c);
        } else if (active == 'B' && c >= 0x20 && c < 0x80) {
            values.push_back(c - 32);
            text += static_cast<char>(c);
        } else {
            *why = "holds the byte " + kqkit::HexByte(c) + ", which code set " +
                   std::string(1, active) + " does not have";
            return std::nullopt;
        }
    }
    int check = values[0];
    for (size_t i = 1; i < values.size(); ++i) {
        check = (check + values[i] * static_cast<int>(i)) % 103;
    }
    values.push_back(check);
    values.push_back(106);
    Bars bars;
    for (const int v : values) {
        for (const char* w = kCode128[v]; *w; ++w) {
            bars.widths.push_back(*w - '0');
        }
    }
    bars.text = text;
    return bars;
}

} // namespace

std::string BarcodeName(uint8_t m) {
    static const char* const kNames[] = {"UPC-A", "UPC-E",   "EAN13",  "EAN8",   "CODE39",
                                         "ITF",   "CODABAR", "CODE93", "CODE128"};
    if (m <= 6) {
        return kNames[m];
    }
    if (m >= 65 && m <= 73) {
        return kNames[m - 65];
    }
    return {};
}

std::optional<Bars> EncodeBarcode(uint8_t m, const std::string& data, std::string* why) {
    const std::string name = BarcodeName(m);
    if (name == "UPC-A") {
        auto bars = Ean("0" + data, 13, why);
        if (bars) {
            bars->text.erase(0, 1);
        }
        return bars;
    }
    if (name == "EAN13") {
        return Ean(data, 13, why);
    }
    if (name == "EAN8") {
        return Ean(data, 8, why);
    }
    if (name == "CODE39") {
        return Code39(data, why);
    }
    if (name == "ITF") {
        return Itf(data, why);
    }
    if (name == "CODE128") {
        return Code128(data, why);
    }
    *why = name.empty() ? "is no barcode system" : "is not drawn by the preview";
    return std::nullopt;
}

} // namespace preview
