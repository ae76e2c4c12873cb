#include "interpreter.h"

#include "barcode.h"
#include "hex.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace preview {
namespace {

using escpos::Kind;

// Status, drawer, sensors, smoothing and the like: nothing to draw.
bool IsSilent(const std::string& n) {
    static const char* const kSilent[] = {"DLE EOT", "DLE ENQ", "DLE DC4", "ESC =",  "ESC ?",
                                          "ESC c",   "ESC p",   "ESC u",   "ESC v",  "ESC S",
                                          "ESC U",   "GS I",    "GS a",    "GS b",   "GS r",
                                          "ESC P b", "ESC P e", "ESC P g", "ESC P r"};
    return std::find_if(std::begin(kSilent), std::end(kSilent), [&](const char* s) { return n == s; }) !=
           std::end(kSilent);
}

int Magnified(bool doubled) {
    return doubled ? 2 : 1;
}

} // namespace

Interpreter::Interpreter(Layout& layout, Warnings& warnings, std::function<void()> atCut)
    : layout_(layout), warnings_(warnings), atCut_(std::move(atCut)) {}

void Interpreter::Write(escpos::View bytes) {
    bytes = Skip(bytes);
    if (bytes.empty()) {
        return;
    }
    if (pending_.empty()) {
        const size_t used = Read(bytes, false);
        pending_.assign(bytes.begin() + static_cast<ptrdiff_t>(used), bytes.end());
        consumed_ += used;
    } else if (!MayEnd(bytes)) {
        // the waiting command cannot end yet: no need to read it again from its start
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    } else {
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        const size_t used = Read(pending_, false);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(used));
        consumed_ += used;
    }
    if (pending_.size() > kLongestCommand || wait_.size > kLongestCommand) {
        DropLongCommand();
    }
}

bool Interpreter::MayEnd(escpos::View bytes) const {
    if (wait_.nul) {
        return std::find(bytes.begin(), bytes.end(), uint8_t{0}) != bytes.end();
    }
    return pending_.size() + bytes.size() >= wait_.size;
}

void Interpreter::TooLong(const std::string& name, uint64_t at) {
    warnings_.Add("not shown: " + escpos::Named(name) + " at byte " + escpos::Thousands(at) +
                  ", longer than the preview keeps (" + escpos::Thousands(kLongestCommand) + " bytes)");
}

void Interpreter::DropLongCommand() {
    TooLong(escpos::Kqt50PrinterNext(pending_, 0).name, consumed_);
    if (wait_.size > pending_.size()) {
        skip_ = wait_.size - pending_.size();
    } else {
        skipToNul_ = wait_.nul;
    }
    consumed_ += pending_.size();
    pending_.clear();
    wait_ = {};
}

escpos::View Interpreter::Skip(escpos::View bytes) {
    if (skip_ > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(skip_, bytes.size()));
        skip_ -= n;
        consumed_ += n;
        bytes = bytes.subspan(n);
    }
    if (skipToNul_ && !bytes.empty()) {
        const auto nul = std::find(bytes.begin(), bytes.end(), uint8_t{0});
        skipToNul_ = nul == bytes.end();
        const size_t n = static_cast<size_t>(nul - bytes.begin()) + (skipToNul_ ? 0 : 1);
        consumed_ += n;
        bytes = bytes.subspan(n);
    }
    return bytes;
}

void Interpreter::Finish() {
    consumed_ += Read(pending_, true);
    pending_.clear();
    wait_ = {};
}

size_t Interpreter::Read(escpos::View stream, bool end) {
    size_t at = 0;
    wait_ = {};
    while (at < stream.size()) {
        const escpos::Item item = escpos::Kqt50PrinterNext(stream, at);
        if (item.kind == Kind::Text) {
            at = Text(stream, item.offset, item.end(), !end && item.end() == stream.size());
            if (at < item.end()) {
                break;
            }
            continue;
        }
        if (item.kind == Kind::Truncated && !end) {
            // the rest of the command is still to come: its size, when its bytes have said it, or its NUL
            const bool toNul =
                item.name == "ESC D" || (item.name == "GS k" && item.size > 2 && stream[at + 2] <= 6);
            wait_ = {item.expected, item.expected == 0 && toNul};
            break;
        }
        Handle(stream, item);
        at = item.end();
        if (cut_) {
            cut_ = false;
            if (atCut_) {
                atCut_();
            }
        }
    }
    return at;
}

size_t Interpreter::Text(escpos::View s, size_t from, size_t to, bool more) {
    for (size_t i = from; i < to; ++i) {
        const uint8_t b = s[i];
        const bool lead = modes_.korean && b >= 0x81 && b <= 0xFE;
        if (b == '\n') {
            layout_.LineFeed();
        } else if (b == '\t') {
            layout_.Tab();
        } else if (b == '\f') {
            layout_.LineFeed();
        } else if (b < 0x20 || b == 0x7F) {
            // CR and other control bytes print nothing
        } else if (b < 0x80) {
            layout_.Character(b == '\\' && modes_.won ? U'\u20A9' : b, false);
        } else if (lead && i + 1 == to && more) {
            return i; // its second byte is still to come
        } else if (lead && i + 1 < to && s[i + 1] >= 0x41 && s[i + 1] <= 0xFE) {
            const std::optional<char32_t> c = korean_.Char(&s[i], 2);
            ++i;
            layout_.Character(c.value_or(0), true);
        } else {
            const char* table = CodeTableName(modes_.codeTable);
            if (!table) {
                warnings_.Add("ESC t (character code table) " + std::to_string(modes_.codeTable) +
                              " is not known to the preview: its characters are drawn as red boxes");
                layout_.Character(0, false);
                continue;
            }
            if (!table_ || tableNumber_ != modes_.codeTable) {
                table_ = std::make_unique<CodePage>(table);
                tableNumber_ = modes_.codeTable;
            }
            layout_.Character(table_->Char(&b, 1).value_or(0), false);
        }
    }
    return to;
}

void Interpreter::Handle(escpos::View stream, const escpos::Item& item) {
    switch (item.kind) {
    case Kind::Text:
        Text(stream, item.offset, item.end(), false);
        return;
    case Kind::Command:
        if (item.size > kLongestCommand) {
            TooLong(item.name, consumed_ + item.offset); // as when it comes in pieces
            return;
        }
        Command(stream, item);
        if (seen_) {
            seen_(item, stream.subspan(item.offset, item.size));
        }
        return;
    case Kind::Truncated:
        warnings_.Add("the stream ends inside " + escpos::Named(item.name) + " at byte " +
                      escpos::Thousands(consumed_ + item.offset) + ": drawn up to there");
        return;
    case Kind::Unknown:
        warnings_.Add("unknown command " + item.name + " " + kqkit::HexByte(stream[item.offset + 1]) +
                      ": skipped");
        return;
    case Kind::Malformed:
    case Kind::Refused:
        warnings_.Add(escpos::Named(item.name) + " with " + kqkit::HexByte(stream[item.end() - 1]) +
                      ": not a form it has: skipped");
        return;
    }
}

void Interpreter::NotShown(const escpos::Item& item) {
    warnings_.Add("not shown: " + escpos::Named(item.name));
}

void Interpreter::Command(escpos::View stream, const escpos::Item& item) {
    const escpos::View c = stream.subspan(item.offset, item.size);
    const std::string& n = item.name;
    const uint8_t a = c.size() > 2 ? c[2] : 0;
    Format& format = layout_.format();
    Style& st = format.style;
    if (n == "ESC @") {
        modes_ = Modes{};
        layout_.Reset();
    } else if (n == "ESC !") {
        st.fontB = a & 1;
        st.bold = a & 8;
        st.yMag = a & 16 ? 2 : 1;
        st.xMag = a & 32 ? 2 : 1;
        st.underline = a & 128 ? 1 : 0;
    } else if (n == "GS !") {
        st.xMag = (a >> 4 & 7) + 1;
        st.yMag = (a & 7) + 1;
    } else if (n == "ESC E") {
        st.bold = a & 1;
    } else if (n == "ESC G") {
        st.doubleStrike = a & 1;
    } else if (n == "ESC -") {
        st.underline = a == 1 || a == '1' ? 1 : a == 2 || a == '2' ? 2 : 0;
    } else if (n == "ESC M") {
        st.fontB = a == 1 || a == '1';
    } else if (n == "GS B") {
        st.reverse = a & 1;
    } else if (n == "ESC {") {
        st.upsideDown = a & 1;
    } else if (n == "ESC SP") {
        format.charSpacing = a;
    } else if (n == "ESC 2") {
        format.spacing = kDefaultSpacing;
    } else if (n == "ESC 3") {
        format.spacing = a;
    } else if (n == "ESC a") {
        format.align = a % 48 <= 2 ? a % 48 : format.align;
    } else if (n == "ESC $") {
        layout_.MoveTo(a + 256 * c[3]);
    } else if (n == "ESC \\") {
        layout_.MoveBy(static_cast<int16_t>(a + 256 * c[3]));
    } else if (n == "GS L") {
        format.leftMargin = a + 256 * c[3];
    } else if (n == "GS W") {
        format.areaWidth = a + 256 * c[3];
    } else if (n == "ESC D") {
        // columns before the NUL, as long as each is past the one before
        std::vector<int> columns;
        int last = 0;
        for (size_t i = 2; i + 1 < c.size() && c[i] > last; ++i) {
            columns.push_back(c[i]);
            last = c[i];
        }
        layout_.SetTabs(columns);
    } else if (n == "ESC J") {
        layout_.PrintAndFeed(a);
    } else if (n == "ESC d") {
        layout_.PrintAndFeedLines(a);
    } else if (n == "ESC t") {
        modes_.codeTable = a;
    } else if (n == "FS &") {
        modes_.korean = true;
    } else if (n == "FS .") {
        modes_.korean = false;
    } else if (n == "GS h") {
        modes_.barcode.height = a > 0 ? a : modes_.barcode.height;
    } else if (n == "GS w") {
        modes_.barcode.module = a >= 1 && a <= 6 ? a : modes_.barcode.module;
    } else if (n == "GS H") {
        modes_.barcode.hriPosition = a % 48 <= 3 ? a % 48 : modes_.barcode.hriPosition;
    } else if (n == "GS f") {
        modes_.barcode.hriFontB = a == 1 || a == '1';
    } else if (n == "GS k") {
        Barcode(c);
    } else if (n == "GS v 0") {
        if (const auto image = escpos::ReadRaster(stream, item)) {
            layout_.Image(*image, Magnified(c[3] & 1), Magnified(c[3] & 2));
        }
    } else if (n == "GS *") {
        downloaded_ = ColumnImage(c.subspan(4), a, c[3]);
    } else if (n == "GS /") {
        if (downloaded_) {
            layout_.Image(*downloaded_, Magnified(a & 1), Magnified(a & 2));
        } else {
            warnings_.Add("GS / prints a downloaded image that the stream does not define: not shown");
        }
    } else if (n == "FS q") {
        DefineNvImages(c);
    } else if (n == "FS p") {
        if (a >= 1 && a <= nvImages_.size()) {
            layout_.Image(nvImages_[a - 1], Magnified(c[3] & 1), Magnified(c[3] & 2));
        } else {
            warnings_.Add("FS p prints an NV image that the stream does not define: not shown");
        }
    } else if (n == "GS V") {
        const bool partial = a == 1 || a == 49 || a == 66 || a == 98 || a == 104;
        layout_.Cut(partial, a == 66 && c.size() > 3 ? c[3] : 0);
        cut_ = true;
    } else if (n == "ESC i" || n == "ESC m") {
        layout_.Cut(true, 0);
        cut_ = true;
    } else if (n == "ESC R") {
        modes_.korean = modes_.won = a == 13;
        if (a != 0 && a != 13) {
            warnings_.Add("ESC R (international character set) " + std::to_string(a) +
                          ": drawn with the USA set");
        }
    } else if (n == "ESC %" || n == "ESC V" || n == "ESC r") {
        if (a & 1) {
            NotShown(item);
        }
    } else if (!IsSilent(n)) {
        NotShown(item);
    }
}

void Interpreter::Barcode(escpos::View c) {
    const uint8_t m = c[2];
    const size_t first = m >= 65 ? 4 : 3; // the second form has a count byte before its data
    std::string data(c.begin() + static_cast<ptrdiff_t>(first), c.end());
    while (!data.empty() && data.back() == '\0') {
        data.pop_back(); // the first form's end byte; a count the print processor made includes it
    }
    layout_.FinishLine();
    std::string why;
    const std::optional<Bars> bars = EncodeBarcode(m, data, &why);
    const std::string name = "GS k " + (BarcodeName(m).empty() ? std::to_string(m) : BarcodeName(m));
    if (!bars) {
        warnings_.Add(name + " " + why + ": not drawn");
        return;
    }
    const int width = bars->Width(modes_.barcode.module);
    if (width > layout_.AreaWidth()) {
        warnings_.Add(name + " is " + escpos::Thousands(width) +
                      " dots wide, more than the print area: the printer does not print it");
        return;
    }
    layout_.Barcode(*bars, modes_.barcode);
}

// An image of `x` × 8 columns of `y` bytes each (the top dot in the high bit), as FS q and GS * send.
std::optional<escpos::Bitmap> Interpreter::ColumnImage(escpos::View data, int x, int y) const {
    const size_t size = static_cast<size_t>(x) * y * 8;
    if (size > data.size()) {
        return std::nullopt;
    }
    escpos::Bitmap image = escpos::Bitmap::Blank(x, y * 8);
    for (int col = 0; col < x * 8; ++col) {
        for (int row = 0; row < y * 8; ++row) {
            if (data[static_cast<size_t>(col) * y + row / 8] & (0x80 >> (row % 8))) {
                image.data[static_cast<size_t>(row) * x + col / 8] |= static_cast<uint8_t>(0x80 >> (col % 8));
            }
        }
    }
    return image;
}

void Interpreter::DefineNvImages(escpos::View c) {
    nvImages_.clear();
    size_t at = 3;
    for (int i = 0; i < c[2] && at + 4 <= c.size(); ++i) {
        const int x = c[at] + 256 * c[at + 1];
        const int y = c[at + 2] + 256 * c[at + 3];
        if (x > 1023 || y > 288) {
            warnings_.Add("FS q defines an NV image larger than the printer keeps: not shown");
            return;
        }
        const auto image = ColumnImage(c.subspan(at + 4), x, y);
        if (!image) {
            return;
        }
        nvImages_.push_back(*image);
        at += 4 + static_cast<size_t>(x) * y * 8;
    }
}

} // namespace preview
