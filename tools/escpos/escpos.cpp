#include "escpos.h"

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
};

// clang-format off
constexpr CommandDef kCommands[] = {
    {DLE, 0x04, 1, Shape::Fixed, "DLE EOT"},
    {DLE, 0x05, 1, Shape::Fixed, "DLE ENQ"},
    {DLE, 0x14, 0, Shape::Status, "DLE DC4"},

    {ESC, 0x0C, 0, Shape::Fixed, "ESC FF"},
    {ESC, ' ', 1, Shape::Fixed, "ESC SP"},
    {ESC, '!', 1, Shape::Fixed, "ESC !"},
    {ESC, '$', 2, Shape::Fixed, "ESC $"},
    {ESC, '%', 1, Shape::Fixed, "ESC %"},
    {ESC, '&', 0, Shape::UserChars, "ESC &"},
    {ESC, '*', 0, Shape::BitImage, "ESC *"},
    {ESC, '-', 1, Shape::Fixed, "ESC -"},
    {ESC, '2', 0, Shape::Fixed, "ESC 2"},
    {ESC, '3', 1, Shape::Fixed, "ESC 3"},
    {ESC, '<', 0, Shape::Fixed, "ESC <"},
    {ESC, '=', 1, Shape::Fixed, "ESC ="},
    {ESC, '?', 1, Shape::Fixed, "ESC ?"},
    {ESC, '@', 0, Shape::Fixed, "ESC @"},
    {ESC, 'D', 0, Shape::ToNul, "ESC D"},
    {ESC, 'E', 1, Shape::Fixed, "ESC E"},
    {ESC, 'G', 1, Shape::Fixed, "ESC G"},
    {ESC, 'J', 1, Shape::Fixed, "ESC J"},
    {ESC, 'K', 1, Shape::Fixed, "ESC K"},
    {ESC, 'L', 0, Shape::Fixed, "ESC L"},
    {ESC, 'M', 1, Shape::Fixed, "ESC M"},
    {ESC, 'P', 0, Shape::Directive, "ESC P"},
    {ESC, 'R', 1, Shape::Fixed, "ESC R"},
    {ESC, 'S', 0, Shape::Fixed, "ESC S"},
    {ESC, 'T', 1, Shape::Fixed, "ESC T"},
    {ESC, 'U', 1, Shape::Fixed, "ESC U"},
    {ESC, 'V', 1, Shape::Fixed, "ESC V"},
    {ESC, 'W', 8, Shape::Fixed, "ESC W"},
    {ESC, '\\', 2, Shape::Fixed, "ESC \\"},
    {ESC, 'a', 1, Shape::Fixed, "ESC a"},
    {ESC, 'c', 2, Shape::Fixed, "ESC c"},
    {ESC, 'd', 1, Shape::Fixed, "ESC d"},
    {ESC, 'e', 1, Shape::Fixed, "ESC e"},
    {ESC, 'i', 0, Shape::Fixed, "ESC i"},
    {ESC, 'm', 0, Shape::Fixed, "ESC m"},
    {ESC, 'p', 3, Shape::Fixed, "ESC p"},
    {ESC, 'r', 1, Shape::Fixed, "ESC r"},
    {ESC, 't', 1, Shape::Fixed, "ESC t"},
    {ESC, 'u', 1, Shape::Fixed, "ESC u"},
    {ESC, 'v', 0, Shape::Fixed, "ESC v"},
    {ESC, '{', 1, Shape::Fixed, "ESC {"},

    {FS, '!', 1, Shape::Fixed, "FS !"},
    {FS, '&', 0, Shape::Fixed, "FS &"},
    {FS, '(', 0, Shape::Block16, "FS ("},
    {FS, '-', 1, Shape::Fixed, "FS -"},
    {FS, '.', 0, Shape::Fixed, "FS ."},
    {FS, 'C', 1, Shape::Fixed, "FS C"},
    {FS, 'S', 2, Shape::Fixed, "FS S"},
    {FS, 'W', 1, Shape::Fixed, "FS W"},
    {FS, 'p', 2, Shape::Fixed, "FS p"},
    {FS, 'q', 0, Shape::FsImages, "FS q"},

    {GS, '!', 1, Shape::Fixed, "GS !"},
    {GS, '$', 2, Shape::Fixed, "GS $"},
    {GS, '(', 0, Shape::Block16, "GS ("},
    {GS, '*', 0, Shape::GsImage, "GS *"},
    {GS, '/', 1, Shape::Fixed, "GS /"},
    {GS, '8', 0, Shape::Block32, "GS 8"},
    {GS, ':', 0, Shape::Fixed, "GS :"},
    {GS, 'B', 1, Shape::Fixed, "GS B"},
    {GS, 'H', 1, Shape::Fixed, "GS H"},
    {GS, 'I', 1, Shape::Fixed, "GS I"},
    {GS, 'L', 2, Shape::Fixed, "GS L"},
    {GS, 'P', 2, Shape::Fixed, "GS P"},
    {GS, 'T', 1, Shape::Fixed, "GS T"},
    {GS, 'V', 0, Shape::Cut, "GS V"},
    {GS, 'W', 2, Shape::Fixed, "GS W"},
    {GS, '\\', 2, Shape::Fixed, "GS \\"},
    {GS, '^', 3, Shape::Fixed, "GS ^"},
    {GS, 'a', 1, Shape::Fixed, "GS a"},
    {GS, 'b', 1, Shape::Fixed, "GS b"},
    {GS, 'f', 1, Shape::Fixed, "GS f"},
    {GS, 'h', 1, Shape::Fixed, "GS h"},
    {GS, 'k', 0, Shape::Barcode, "GS k"},
    {GS, 'r', 1, Shape::Fixed, "GS r"},
    {GS, 'v', 0, Shape::Raster, "GS v"},
    {GS, 'w', 1, Shape::Fixed, "GS w"},
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
    static const char kHex[] = "0123456789abcdef";
    static const char* const kKinds[] = {"text", "", "truncated ", "unknown ", "malformed "};
    std::string out = kKinds[static_cast<int>(item.kind)];
    out += item.kind == Kind::Text ? "" : item.name;
    out += " @" + std::to_string(item.offset) + " [" + std::to_string(item.size) + "] ";
    const size_t shown = std::min<size_t>(item.size, 24);
    for (size_t i = 0; i < shown; ++i) {
        const uint8_t b = stream[item.offset + i];
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    }
    if (shown < item.size) {
        out += "...";
    }
    return out;
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
