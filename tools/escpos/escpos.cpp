#include "escpos.h"

#include "hex.h"

#include <algorithm>

namespace escpos {
namespace {

constexpr uint8_t DLE = 0x10, ESC = 0x1B, FS = 0x1C, GS = 0x1D;

bool IsPrefix(uint8_t b) {
    return b == DLE || b == ESC || b == FS || b == GS;
}

// How a command's length follows from its bytes.
enum class Shape : uint8_t {
    Fixed,     // `params` bytes follow the second byte
    ToNul,     // bytes up to and including a NUL (ESC D)
    UserChars, // ESC & y c1 c2, then per character c1..c2 a width x and x*y bytes
    BitImage,  // ESC * m nL nH, then n columns of 1 (m 0, 1) or 3 (m 32, 33) bytes
    Directive, // ESC P s: s = b takes 2 bytes, e g r take 1 (private, for the print processor)
    FsImages,  // FS q n, then n times xL xH yL yH and x*y*8 bytes
    GsImage,   // GS * x y, then x*y*8 bytes
    Block16,   // GS ( fn pL pH / FS ( fn pL pH, then pL + 256 pH bytes
    Block32,   // GS 8 fn p1 p2 p3 p4, then a 32-bit count of bytes
    Cut,       // GS V m, and n when m is 65, 66, 97, 98, 103 or 104; m 255 is the KQT-50's document-end cut
    Barcode,   // GS k m: m 0-6 data up to NUL; m 65-73 n and n bytes
    Raster,    // GS v 0 m xL xH yL yH, then x*y bytes
    Status,    // DLE DC4 fn: fn 1, 2 take 2 bytes, fn 7 takes 1, fn 8 takes 7
};

struct CommandDef {
    uint8_t prefix;
    uint8_t code;
    uint8_t params;
    Shape shape;
    const char* name;
    const char* meaning;
};

// clang-format off
constexpr CommandDef kCommands[] = {
    {DLE, 0x04, 1, Shape::Fixed, "DLE EOT", "real-time status transmission"},
    {DLE, 0x05, 1, Shape::Fixed, "DLE ENQ", "real-time request to the printer"},
    {DLE, 0x14, 0, Shape::Status, "DLE DC4", "real-time command"},

    {ESC, 0x0C, 0, Shape::Fixed, "ESC FF", "print data in page mode"},
    {ESC, ' ', 1, Shape::Fixed, "ESC SP", "right-side character spacing"},
    {ESC, '!', 1, Shape::Fixed, "ESC !", "print mode"},
    {ESC, '$', 2, Shape::Fixed, "ESC $", "absolute print position"},
    {ESC, '%', 1, Shape::Fixed, "ESC %", "user-defined character set on or off"},
    {ESC, '&', 0, Shape::UserChars, "ESC &", "define user-defined characters"},
    {ESC, '*', 0, Shape::BitImage, "ESC *", "bit image"},
    {ESC, '-', 1, Shape::Fixed, "ESC -", "underline mode"},
    {ESC, '2', 0, Shape::Fixed, "ESC 2", "default line spacing"},
    {ESC, '3', 1, Shape::Fixed, "ESC 3", "line spacing"},
    {ESC, '<', 0, Shape::Fixed, "ESC <", "return home"},
    {ESC, '=', 1, Shape::Fixed, "ESC =", "select peripheral device"},
    {ESC, '?', 1, Shape::Fixed, "ESC ?", "cancel user-defined characters"},
    {ESC, '@', 0, Shape::Fixed, "ESC @", "initialize printer"},
    {ESC, 'D', 0, Shape::ToNul, "ESC D", "horizontal tab positions"},
    {ESC, 'E', 1, Shape::Fixed, "ESC E", "emphasized mode"},
    {ESC, 'G', 1, Shape::Fixed, "ESC G", "double-strike mode"},
    {ESC, 'J', 1, Shape::Fixed, "ESC J", "print and feed paper"},
    {ESC, 'K', 1, Shape::Fixed, "ESC K", "print and reverse feed"},
    {ESC, 'L', 0, Shape::Fixed, "ESC L", "page mode"},
    {ESC, 'M', 1, Shape::Fixed, "ESC M", "character font"},
    {ESC, 'P', 0, Shape::Directive, "ESC P", "print processor directive"},
    {ESC, 'R', 1, Shape::Fixed, "ESC R", "international character set"},
    {ESC, 'S', 0, Shape::Fixed, "ESC S", "standard mode"},
    {ESC, 'T', 1, Shape::Fixed, "ESC T", "print direction in page mode"},
    {ESC, 'U', 1, Shape::Fixed, "ESC U", "unidirectional printing"},
    {ESC, 'V', 1, Shape::Fixed, "ESC V", "90-degree rotation"},
    {ESC, 'W', 8, Shape::Fixed, "ESC W", "print area in page mode"},
    {ESC, '\\', 2, Shape::Fixed, "ESC \\", "relative print position"},
    {ESC, 'a', 1, Shape::Fixed, "ESC a", "justification"},
    {ESC, 'c', 2, Shape::Fixed, "ESC c", "paper sensor and panel button settings"},
    {ESC, 'd', 1, Shape::Fixed, "ESC d", "print and feed lines"},
    {ESC, 'e', 1, Shape::Fixed, "ESC e", "print and reverse feed lines"},
    {ESC, 'i', 0, Shape::Fixed, "ESC i", "partial cut"},
    {ESC, 'm', 0, Shape::Fixed, "ESC m", "partial cut, one point left"},
    {ESC, 'p', 3, Shape::Fixed, "ESC p", "drawer kick-out pulse"},
    {ESC, 'r', 1, Shape::Fixed, "ESC r", "print color"},
    {ESC, 't', 1, Shape::Fixed, "ESC t", "character code table"},
    {ESC, 'u', 1, Shape::Fixed, "ESC u", "transmit peripheral device status"},
    {ESC, 'v', 0, Shape::Fixed, "ESC v", "transmit paper sensor status"},
    {ESC, '{', 1, Shape::Fixed, "ESC {", "upside-down printing"},

    {FS, '!', 1, Shape::Fixed, "FS !", "print mode for Kanji characters"},
    {FS, '&', 0, Shape::Fixed, "FS &", "select Kanji character mode"},
    {FS, '(', 0, Shape::Block16, "FS (", "extended function"},
    {FS, '-', 1, Shape::Fixed, "FS -", "underline for Kanji characters"},
    {FS, '.', 0, Shape::Fixed, "FS .", "cancel Kanji character mode"},
    {FS, 'C', 1, Shape::Fixed, "FS C", "Kanji character code system"},
    {FS, 'S', 2, Shape::Fixed, "FS S", "Kanji character spacing"},
    {FS, 'W', 1, Shape::Fixed, "FS W", "quadruple-size Kanji characters"},
    {FS, 'p', 2, Shape::Fixed, "FS p", "print NV bit image"},
    {FS, 'q', 0, Shape::FsImages, "FS q", "define NV bit images"},

    {GS, '!', 1, Shape::Fixed, "GS !", "character size"},
    {GS, '$', 2, Shape::Fixed, "GS $", "absolute vertical position in page mode"},
    {GS, '(', 0, Shape::Block16, "GS (", "extended function"},
    {GS, '*', 0, Shape::GsImage, "GS *", "define downloaded bit image"},
    {GS, '/', 1, Shape::Fixed, "GS /", "print downloaded bit image"},
    {GS, '8', 0, Shape::Block32, "GS 8", "extended function"},
    {GS, ':', 0, Shape::Fixed, "GS :", "start or end macro definition"},
    {GS, 'B', 1, Shape::Fixed, "GS B", "white/black reverse printing"},
    {GS, 'H', 1, Shape::Fixed, "GS H", "HRI character position"},
    {GS, 'I', 1, Shape::Fixed, "GS I", "transmit printer ID"},
    {GS, 'L', 2, Shape::Fixed, "GS L", "left margin"},
    {GS, 'P', 2, Shape::Fixed, "GS P", "motion units"},
    {GS, 'T', 1, Shape::Fixed, "GS T", "print position to the beginning of the line"},
    {GS, 'V', 0, Shape::Cut, "GS V", "cut paper"},
    {GS, 'W', 2, Shape::Fixed, "GS W", "print area width"},
    {GS, '\\', 2, Shape::Fixed, "GS \\", "relative vertical position in page mode"},
    {GS, '^', 3, Shape::Fixed, "GS ^", "execute macro"},
    {GS, 'a', 1, Shape::Fixed, "GS a", "automatic status back"},
    {GS, 'b', 1, Shape::Fixed, "GS b", "smoothing"},
    {GS, 'f', 1, Shape::Fixed, "GS f", "HRI character font"},
    {GS, 'h', 1, Shape::Fixed, "GS h", "barcode height"},
    {GS, 'k', 0, Shape::Barcode, "GS k", "print barcode"},
    {GS, 'r', 1, Shape::Fixed, "GS r", "transmit status"},
    {GS, 'v', 0, Shape::Raster, "GS v", "raster bit image"},
    {GS, 'w', 1, Shape::Fixed, "GS w", "barcode width"},
};
// clang-format on

const CommandDef* Find(uint8_t prefix, uint8_t code) {
    for (const CommandDef& s : kCommands) {
        if (s.prefix == prefix && s.code == code) {
            return &s;
        }
    }
    return nullptr;
}

const char* PrefixName(uint8_t b) {
    switch (b) {
    case DLE:
        return "DLE";
    case ESC:
        return "ESC";
    case FS:
        return "FS";
    default:
        return "GS";
    }
}

// The bytes of one command from its prefix on; reads past the end are noted, not made.
class Cursor {
  public:
    Cursor(View s, size_t at) : s_(s), at_(at) {}
    uint64_t operator[](uint64_t i) {
        if (at_ + i >= s_.size()) {
            short_ = true;
            return 0;
        }
        return s_[at_ + i];
    }
    uint64_t Word(uint64_t i) { return (*this)[i] + 256 * (*this)[i + 1]; }
    // Offset of the first NUL at or after `from`, relative to the command.
    std::optional<uint64_t> FindNul(uint64_t from) {
        for (uint64_t i = from; at_ + i < s_.size(); ++i) {
            if (s_[at_ + i] == 0) {
                return i;
            }
        }
        short_ = true;
        return std::nullopt;
    }
    bool Short(uint64_t size) const { return short_ || at_ + size > s_.size(); }
    // A byte that decides the command's length lay beyond the end.
    bool HeaderShort() const { return short_; }

  private:
    View s_;
    size_t at_;
    bool short_ = false;
};

// Length of the command at `at`, or 0 when its selector byte is not defined (the name then says which).
uint64_t Measure(const CommandDef& command, Cursor& c, std::string& name) {
    switch (command.shape) {
    case Shape::Fixed:
        return 2 + command.params;
    case Shape::ToNul: {
        const auto nul = c.FindNul(2);
        return nul ? *nul + 1 : 2;
    }
    case Shape::UserChars: {
        const uint64_t y = c[2], first = c[3], last = c[4];
        uint64_t size = 5;
        for (uint64_t ch = first; ch <= last && !c.Short(size); ++ch) {
            size += 1 + c[size] * y;
        }
        return size;
    }
    case Shape::BitImage: {
        const uint64_t m = c[2], n = c.Word(3);
        if (m == 0 || m == 1) {
            return 5 + n;
        }
        if (m == 32 || m == 33) {
            return 5 + 3 * n;
        }
        return 0;
    }
    case Shape::Directive: {
        const uint64_t sub = c[2];
        if (c.Short(3)) {
            return 3;
        }
        name += ' ';
        name += static_cast<char>(sub);
        if (sub == 'b') {
            return 5;
        }
        if (sub == 'e' || sub == 'g' || sub == 'r') {
            return 4;
        }
        return 0;
    }
    case Shape::FsImages: {
        const uint64_t n = c[2];
        uint64_t size = 3;
        for (uint64_t i = 0; i < n && !c.Short(size); ++i) {
            size += 4 + c.Word(size) * c.Word(size + 2) * 8;
        }
        return size;
    }
    case Shape::GsImage:
        return 4 + c[2] * c[3] * 8;
    case Shape::Block16:
        return 5 + c.Word(3);
    case Shape::Block32:
        return 7 + (c.Word(3) | c.Word(5) << 16);
    case Shape::Cut: {
        const uint64_t m = c[2];
        if (m == 0 || m == 1 || m == 48 || m == 49 || m == 255) {
            return 3;
        }
        if (m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104) {
            return 4;
        }
        return 0;
    }
    case Shape::Barcode: {
        const uint64_t m = c[2];
        if (m <= 6) {
            const auto nul = c.FindNul(3);
            return nul ? *nul + 1 : 3;
        }
        if (m >= 65 && m <= 73) {
            return 4 + c[3];
        }
        return 0;
    }
    case Shape::Raster: {
        const uint64_t fn = c[2];
        if (c.Short(3)) {
            return 3;
        }
        name += ' ';
        name += static_cast<char>(fn);
        if (fn != '0') {
            return 0;
        }
        return 8 + c.Word(4) * c.Word(6);
    }
    case Shape::Status: {
        const uint64_t fn = c[2];
        if (fn == 1 || fn == 2) {
            return 5;
        }
        if (fn == 7) {
            return 4;
        }
        if (fn == 8) {
            return 10;
        }
        return 0;
    }
    }
    return 0;
}

} // namespace

Item Next(View stream, size_t at) {
    Item item;
    item.offset = at;
    if (!IsPrefix(stream[at])) {
        size_t end = at;
        while (end < stream.size() && !IsPrefix(stream[end])) {
            ++end;
        }
        item.kind = Kind::Text;
        item.size = end - at;
        return item;
    }
    const size_t left = stream.size() - at;
    item.name = PrefixName(stream[at]);
    if (left < 2) {
        item.kind = Kind::Truncated;
        item.size = left;
        return item;
    }
    const CommandDef* command = Find(stream[at], stream[at + 1]);
    if (!command) {
        item.kind = Kind::Unknown;
        item.size = 2;
        return item;
    }
    item.name = command->name;
    Cursor cursor(stream, at);
    const uint64_t size = Measure(*command, cursor, item.name);
    if (cursor.Short(size == 0 ? 3 : size)) {
        item.kind = Kind::Truncated;
        item.size = left;
        item.expected = cursor.HeaderShort() || size == 0 ? 0 : static_cast<size_t>(size);
    } else if (size == 0) {
        item.kind = Kind::Malformed;
        item.size = 3;
    } else {
        item.kind = Kind::Command;
        item.size = static_cast<size_t>(size);
    }
    return item;
}

std::vector<Item> Decode(View stream) {
    std::vector<Item> items;
    for (size_t at = 0; at < stream.size();) {
        items.push_back(Next(stream, at));
        at = items.back().end();
    }
    return items;
}

bool AllWhole(const std::vector<Item>& items) {
    return std::all_of(items.begin(), items.end(),
                       [](const Item& i) { return i.kind == Kind::Text || i.kind == Kind::Command; });
}

std::string Describe(View stream, const Item& item) {
    static const char* const kKinds[] = {"text", "", "truncated ", "unknown ", "malformed ", "refused "};
    std::string out = kKinds[static_cast<int>(item.kind)];
    out += item.kind == Kind::Text ? "" : item.name;
    out += " @" + std::to_string(item.offset) + " [" + std::to_string(item.size) + "] ";
    const size_t shown = std::min<size_t>(item.size, 24);
    kqkit::AppendHex(out, stream.subspan(item.offset, shown));
    if (shown < item.size) {
        out += "...";
    }
    return out;
}

std::string Thousands(uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

std::string Meaning(const std::string& name) {
    // "ESC P e" and "GS v 0" are named after their selector byte; the table names the command itself
    const size_t first = name.find(' ');
    const size_t second = first == std::string::npos ? first : name.find(' ', first + 1);
    const std::string base = name.substr(0, second);
    for (const CommandDef& c : kCommands) {
        if (base == c.name) {
            return c.meaning;
        }
    }
    return {};
}

std::string Named(const std::string& name) {
    const std::string meaning = Meaning(name);
    return meaning.empty() ? name : name + " (" + meaning + ")";
}

namespace {

// How the KQT-50's print processor reads a command of its set after the prefix and code.
enum class Kq : uint8_t {
    Fixed,     // `params` bytes
    UserChars, // ESC &: as ESC/POS
    TabList,   // ESC D: up to a NUL, at most 512 bytes with it
    Directive, // ESC P s: b takes 2 more bytes, e g r take 1, any other s is refused
    FsImages,  // FS q n: n images of xL xH yL yH and x*y*8 bytes, each under 4 GB
    GsImage,   // GS * x y: x*y*8 bytes
    Cut,       // GS V m: one more byte only after 'B'
    Barcode,   // GS k m: data to NUL, CR or FF (after a count byte for m 0x41-0x49)
    Raster,    // GS v fn m xL xH yL yH: x*y bytes
};

struct Kqt50Def {
    uint8_t prefix;
    uint8_t code;
    uint8_t params;
    Kq shape;
};

// clang-format off
constexpr Kqt50Def kKqt50[] = {
    {ESC, 0x0C, 0, Kq::Fixed}, {ESC, ' ', 1, Kq::Fixed}, {ESC, '!', 1, Kq::Fixed}, {ESC, '$', 2, Kq::Fixed},
    {ESC, '%', 1, Kq::Fixed}, {ESC, '&', 0, Kq::UserChars}, {ESC, '-', 1, Kq::Fixed}, {ESC, '2', 0, Kq::Fixed},
    {ESC, '3', 1, Kq::Fixed}, {ESC, '=', 1, Kq::Fixed}, {ESC, '?', 1, Kq::Fixed}, {ESC, '@', 0, Kq::Fixed},
    {ESC, 'D', 0, Kq::TabList}, {ESC, 'E', 1, Kq::Fixed}, {ESC, 'G', 1, Kq::Fixed}, {ESC, 'J', 1, Kq::Fixed},
    {ESC, 'L', 0, Kq::Fixed}, {ESC, 'M', 1, Kq::Fixed}, {ESC, 'P', 1, Kq::Directive}, {ESC, 'R', 1, Kq::Fixed},
    {ESC, 'S', 0, Kq::Fixed}, {ESC, 'T', 1, Kq::Fixed}, {ESC, 'V', 1, Kq::Fixed}, {ESC, 'W', 8, Kq::Fixed},
    {ESC, '\\', 2, Kq::Fixed}, {ESC, 'a', 1, Kq::Fixed}, {ESC, 'c', 2, Kq::Fixed}, {ESC, 'd', 1, Kq::Fixed},
    {ESC, 'i', 0, Kq::Fixed}, {ESC, 'p', 3, Kq::Fixed}, {ESC, 't', 1, Kq::Fixed}, {ESC, '{', 1, Kq::Fixed},

    {FS, 'p', 2, Kq::Fixed}, {FS, 'q', 1, Kq::FsImages},

    {GS, '!', 1, Kq::Fixed}, {GS, '$', 2, Kq::Fixed}, {GS, '*', 2, Kq::GsImage}, {GS, '/', 1, Kq::Fixed},
    {GS, ':', 0, Kq::Fixed}, {GS, 'B', 1, Kq::Fixed}, {GS, 'H', 1, Kq::Fixed}, {GS, 'I', 1, Kq::Fixed},
    {GS, 'L', 2, Kq::Fixed}, {GS, 'P', 2, Kq::Fixed}, {GS, 'V', 1, Kq::Cut}, {GS, 'W', 2, Kq::Fixed},
    {GS, '\\', 2, Kq::Fixed}, {GS, '^', 3, Kq::Fixed}, {GS, 'a', 1, Kq::Fixed}, {GS, 'b', 1, Kq::Fixed},
    {GS, 'f', 1, Kq::Fixed}, {GS, 'h', 1, Kq::Fixed}, {GS, 'k', 1, Kq::Barcode}, {GS, 'r', 1, Kq::Fixed},
    {GS, 'v', 6, Kq::Raster}, {GS, 'w', 1, Kq::Fixed},
};
// clang-format on

constexpr size_t kProcessorBuffer = 512;

// Reads a command as the processor does, byte by byte from its prefix, noting where the job ran out.
class KqReader {
  public:
    KqReader(View s, size_t at) : s_(s), at_(at) {}
    // The byte at `i` from the prefix; none past the end (the item is then truncated).
    std::optional<uint8_t> Byte(uint64_t i) {
        if (at_ + i >= s_.size()) {
            return std::nullopt;
        }
        return s_[at_ + i];
    }
    bool Has(uint64_t size) const { return at_ + size <= s_.size(); }

  private:
    View s_;
    size_t at_;
};

Item Truncated(Item item, size_t left, uint64_t expected = 0) {
    item.kind = Kind::Truncated;
    item.size = left;
    item.expected = static_cast<size_t>(expected);
    return item;
}

Item Ended(Item item, Kind kind, uint64_t size, std::string note = {}) {
    item.kind = kind;
    item.size = static_cast<size_t>(size);
    item.note = std::move(note);
    return item;
}

// GS k data as the processor takes it, from `size` on; the item ends after the terminator.
Item KqBarcode(Item item, KqReader& r, uint64_t size, size_t left, bool counted) {
    uint64_t stored = counted ? 4 : 3;
    uint64_t count = 0;
    for (;;) {
        const auto c = r.Byte(size++);
        if (!c) {
            return Truncated(item, left);
        }
        if (*c == ESC) {
            const auto sub = r.Byte(size++);
            if (!sub) {
                return Truncated(item, left);
            }
            const uint64_t skip = *sub == '$' ? 2 : (*sub == '-' || *sub == 'E' || *sub == 'J') ? 1 : 0;
            if (skip == 0) {
                return Ended(
                    item, Kind::Refused, size,
                    "its data reaches ESC " + std::string(1, static_cast<char>(*sub)) + " at byte " +
                        std::to_string(item.offset + size - 2) +
                        " before a NUL, CR or FF ends it, and barcode data may not hold that command");
            }
            if (!r.Has(size + skip)) {
                return Truncated(item, left);
            }
            size += skip;
            continue;
        }
        const bool ends = *c == 0 || *c == 0x0D || *c == 0x0C;
        stored += (!counted && *c != 0 && ends) ? 2 : 1; // a CR or FF is stored after a supplied NUL
        if (stored > kProcessorBuffer) {
            return Ended(
                item, Kind::Refused, size,
                "its data does not end (NUL, CR or FF) within the print processor's 512-byte buffer");
        }
        count += counted && *c != 0x0D && *c != 0x0C;
        if (ends) {
            break;
        }
    }
    if (counted && count > 255) {
        return Ended(item, Kind::Refused, size, "its data holds more than the 255 bytes its count can say");
    }
    return Ended(item, Kind::Command, size);
}

} // namespace

Item Kqt50Next(View stream, size_t at) {
    if (!IsPrefix(stream[at])) {
        return Next(stream, at); // text: the same for every reader
    }
    const size_t left = stream.size() - at;
    Item item;
    item.offset = at;
    item.name = PrefixName(stream[at]);
    if (left < 2) {
        return Truncated(item, left);
    }
    const uint8_t prefix = stream[at];
    const uint8_t code = stream[at + 1];
    if (const CommandDef* known = Find(prefix, code)) {
        item.name = known->name;
    }
    if (prefix == DLE) {
        return left < 3 ? Truncated(item, left, 3) : Ended(item, Kind::Command, 3);
    }
    const Kqt50Def* def = nullptr;
    for (const Kqt50Def& d : kKqt50) {
        if (d.prefix == prefix && d.code == code) {
            def = &d;
        }
    }
    if (!def) {
        return Ended(item, Kind::Unknown, 2);
    }
    KqReader r(stream, at);
    uint64_t size = 2 + uint64_t{def->params};
    if (!r.Has(size)) {
        return Truncated(item, left, size);
    }
    auto word = [&](uint64_t i) { return uint64_t{*r.Byte(i)} + 256 * uint64_t{*r.Byte(i + 1)}; };
    switch (def->shape) {
    case Kq::Fixed:
        break;
    case Kq::UserChars: {
        if (!r.Has(5)) {
            return Truncated(item, left);
        }
        const uint64_t y = *r.Byte(2);
        size = 5;
        for (int c = *r.Byte(3); c <= *r.Byte(4); ++c) {
            const auto x = r.Byte(size);
            if (!x) {
                return Truncated(item, left);
            }
            size += 1 + uint64_t{*x} * y;
        }
        break;
    }
    case Kq::TabList:
        for (;;) {
            if (size - 2 == kProcessorBuffer) {
                return Ended(item, Kind::Refused, size,
                             "its list does not end (NUL) within the print processor's 512-byte buffer");
            }
            const auto b = r.Byte(size++);
            if (!b) {
                return Truncated(item, left);
            }
            if (*b == 0) {
                break;
            }
        }
        break;
    case Kq::Directive: {
        const uint8_t sub = *r.Byte(2);
        item.name += ' ';
        item.name += static_cast<char>(sub);
        if (sub == 'b') {
            size += 2;
        } else if (sub == 'e' || sub == 'g' || sub == 'r') {
            size += 1;
        } else {
            return Ended(item, Kind::Malformed, size);
        }
        break;
    }
    case Kq::FsImages: {
        const unsigned images = *r.Byte(2);
        for (unsigned i = 0; i < images; ++i) {
            if (!r.Has(size + 4)) {
                return Truncated(item, left);
            }
            const uint64_t bytes = word(size) * word(size + 2) * 8;
            if (bytes > 0xFFFFFFFFu) {
                return Ended(item, Kind::Refused, size + 4, "an image of it holds 4 GB or more");
            }
            size += 4 + bytes;
        }
        break;
    }
    case Kq::GsImage:
        size += uint64_t{*r.Byte(2)} * *r.Byte(3) * 8;
        break;
    case Kq::Cut:
        size += *r.Byte(2) == 'B' ? 1 : 0;
        break;
    case Kq::Barcode: {
        const uint8_t m = *r.Byte(2);
        if (m <= 6) {
            return KqBarcode(item, r, size, left, false);
        }
        if (m >= 0x41 && m <= 0x49) {
            return r.Has(4) ? KqBarcode(item, r, 4, left, true) : Truncated(item, left);
        }
        return Ended(item, Kind::Malformed, size);
    }
    case Kq::Raster:
        item.name += ' ';
        item.name += static_cast<char>(*r.Byte(2));
        size += word(4) * word(6);
        break;
    }
    return r.Has(size) ? Ended(item, Kind::Command, size) : Truncated(item, left, size);
}

Item Kqt50PrinterNext(View stream, size_t at) {
    Item item = Next(stream, at);
    return item.name == "GS V" ? Kqt50Next(stream, at) : item;
}

Bitmap Bitmap::Blank(int width, int rows) {
    return Bitmap{width, rows, Bytes(static_cast<size_t>(width) * static_cast<size_t>(rows), 0)};
}

std::optional<Bitmap> ReadRaster(View stream, const Item& item) {
    if (item.kind != Kind::Command || item.name != "GS v 0") {
        return std::nullopt;
    }
    const uint8_t* p = stream.data() + item.offset;
    Bitmap image;
    image.width = p[4] + 256 * p[5];
    image.rows = p[6] + 256 * p[7];
    image.data.assign(p + 8, p + item.size);
    return image;
}

std::vector<Bitmap> RasterImages(View stream) {
    std::vector<Bitmap> images;
    for (size_t at = 0; at < stream.size();) {
        const Item item = Next(stream, at);
        if (auto image = ReadRaster(stream, item)) {
            images.push_back(std::move(*image));
        }
        at = item.end();
    }
    return images;
}

size_t CountRasterImages(View stream) {
    size_t count = 0;
    for (size_t at = 0; at < stream.size();) {
        const Item item = Next(stream, at);
        count += item.kind == Kind::Command && item.name == "GS v 0";
        at = item.end();
    }
    return count;
}

Bitmap Stack(const std::vector<Bitmap>& images) {
    Bitmap out;
    for (const Bitmap& image : images) {
        out.width = std::max(out.width, image.width);
        out.rows += image.rows;
    }
    out.data.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.rows), 0);
    size_t row = 0;
    for (const Bitmap& image : images) {
        for (int r = 0; r < image.rows; ++r, ++row) {
            const auto from = image.data.begin() + static_cast<ptrdiff_t>(size_t(r) * size_t(image.width));
            std::copy(from, from + image.width, out.data.begin() + static_cast<ptrdiff_t>(row * out.width));
        }
    }
    return out;
}

Bytes EncodeRaster(const Bitmap& image) {
    const uint8_t header[] = {GS,
                              'v',
                              '0',
                              0,
                              static_cast<uint8_t>(image.width & 0xFF),
                              static_cast<uint8_t>(image.width >> 8 & 0xFF),
                              static_cast<uint8_t>(image.rows & 0xFF),
                              static_cast<uint8_t>(image.rows >> 8 & 0xFF)};
    Bytes out(sizeof(header) + image.data.size());
    std::copy(std::begin(header), std::end(header), out.begin());
    std::copy(image.data.begin(), image.data.end(), out.begin() + sizeof(header));
    return out;
}

std::string ToText(const Bitmap& image, int maxRows) {
    std::string out;
    for (int r = 0; r < std::min(image.rows, maxRows); ++r) {
        for (int x = 0; x < image.width; ++x) {
            const uint8_t b = image.data[size_t(r) * size_t(image.width) + size_t(x)];
            for (int bit = 7; bit >= 0; --bit) {
                out += (b >> bit & 1) ? '#' : '.';
            }
        }
        out += '\n';
    }
    if (image.rows > maxRows) {
        out += "... " + std::to_string(image.rows - maxRows) + " more rows\n";
    }
    return out;
}

} // namespace escpos
