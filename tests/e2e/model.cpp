#include "model.h"

#include <algorithm>
#include <set>

namespace e2e {
namespace {

using escpos::Bitmap;
using escpos::Bytes;
using escpos::Item;
using escpos::Kind;

constexpr uint8_t ESC = 0x1B, FS = 0x1C, GS = 0x1D, DLE = 0x10, CR = 0x0D, FF = 0x0C;

// Commands that the print processor passes on as they are, one write each.
const std::set<std::string> kPassedOn = {
    "ESC FF", "ESC SP", "ESC !", "ESC $", "ESC %", "ESC -", "ESC 2",   "ESC 3",   "ESC =", "ESC ?",
    "ESC @",  "ESC E",  "ESC G", "ESC L", "ESC M", "ESC R", "ESC S",   "ESC T",   "ESC V", "ESC W",
    "ESC \\", "ESC a",  "ESC c", "ESC d", "ESC p", "ESC t", "ESC {",   "FS p",    "GS !",  "GS $",
    "GS /",   "GS :",   "GS B",  "GS H",  "GS I",  "GS L",  "GS P",    "GS W",    "GS \\", "GS ^",
    "GS a",   "GS b",   "GS f",  "GS h",  "GS r",  "GS w",  "DLE EOT", "DLE ENQ",
};

bool IsPrefix(uint8_t b) {
    return b == DLE || b == ESC || b == FS || b == GS;
}

class Pass {
  public:
    Pass(const Bytes& job, int dpi, Expected& out) : job_(job), dpi_(dpi), out_(out) {}

    // One copy pass; false when the job leaves the model (out_.error says why).
    bool Run() {
        Bytes text;
        for (size_t at = 0; at < job_.size();) {
            if (!IsPrefix(job_[at])) {
                text.push_back(job_[at++]);
                if (text.size() == 256) {
                    Write(std::move(text));
                    text.clear();
                }
                continue;
            }
            if (!text.empty()) {
                Write(std::move(text));
                text.clear();
            }
            const Item item = escpos::Next(job_, at);
            if (item.kind != Kind::Command) {
                return Fail("not a whole command: " + escpos::Describe(job_, item));
            }
            const size_t next = Command(item);
            if (next == 0) {
                return false;
            }
            at = next;
        }
        if (!text.empty()) {
            Write(std::move(text));
        }
        return true;
    }

  private:
    Bytes Slice(size_t from, size_t to) const {
        return Bytes(job_.begin() + static_cast<ptrdiff_t>(from), job_.begin() + static_cast<ptrdiff_t>(to));
    }
    void Write(Bytes bytes) { out_.writes.push_back(std::move(bytes)); }
    bool Fail(const std::string& why) {
        out_.error = why;
        return false;
    }
    size_t Stop(const std::string& why) {
        Fail(why);
        return 0;
    }

    void FlushPage() {
        if (bands_.empty()) {
            return;
        }
        Bitmap image = escpos::Stack(bands_);
        bands_.clear();
        Write(escpos::EncodeRaster(image));
        out_.images.push_back(std::move(image));
        pageImages_++;
    }

    // Handles the command at `item`; gives the offset after what the processor took, 0 on failure.
    size_t Command(const Item& item) {
        const uint8_t* p = job_.data() + item.offset;
        const std::string& name = item.name;
        if (kPassedOn.count(name)) {
            Write(Slice(item.offset, item.end()));
        } else if (name == "GS V") {
            // The processor reads a second parameter only after mode 'B'.
            const size_t size = p[2] == 'B' ? 4 : 3;
            Write(Slice(item.offset, item.offset + size));
            return item.offset + size;
        } else if (name == "ESC i") {
            Write({GS, 'V', 1});
        } else if (name == "ESC D") {
            if (item.size > 512) {
                return Stop("tab list beyond the processor's buffer");
            }
            Write(Slice(item.offset, item.offset + 2));
            Write(Slice(item.offset + 2, item.end()));
        } else if (name == "ESC J") {
            Feed(p[2]);
        } else if (name == "GS v 0") {
            Bitmap band = *escpos::ReadRaster(job_, item);
            pageBands_++;
            pendingRows_ = band.rows;
            pendingWidth_ = band.width;
            bands_.push_back(std::move(band));
        } else if (name == "GS k") {
            return Barcode(item.offset);
        } else if (name == "ESC P b" || name == "ESC P r") {
            // consumed, nothing sent
        } else if (name == "ESC P g") {
            cut_ = cut_ || p[3] == 2 || p[3] == 18;
        } else if (name == "ESC P e") {
            if (p[3] == 0) {
                FlushPage();
                Write({ESC, 'J', 238});
                out_.imagesPerPage.push_back(pageImages_);
                out_.bandsPerPage.push_back(pageBands_);
                pageImages_ = pageBands_ = 0;
            } else if (p[3] == 1) {
                if (cut_) {
                    Write({GS, 'V', 255});
                }
                Write({ESC, '2'});
            }
        } else {
            return Stop("the model does not cover " + escpos::Describe(job_, item));
        }
        return item.end();
    }

    void Feed(int n) {
        if (pendingRows_ > 0) {
            const int feed = std::max(0, n - pendingRows_);
            const int rows = dpi_ * feed / 180;
            const int width = pendingWidth_;
            pendingRows_ = pendingWidth_ = 0;
            n = feed;
            if (width * rows > 0) {
                bands_.push_back(Bitmap::Blank(width, rows));
                n = 0;
            }
        }
        if (n == 0) {
            return;
        }
        FlushPage();
        Write({ESC, 'J', static_cast<uint8_t>(n)});
    }

    // GS k as the processor cleans it: embedded ESC $, ESC -, ESC E and ESC J dropped; the first form
    // ended by NUL (a CR or FF that ended it follows the NUL); the second form's length byte replaced
    // by the count of data bytes up to and including NUL, CR or FF, of which CR and FF are not counted.
    size_t Barcode(size_t at) {
        const uint8_t m = job_[at + 2];
        const bool counted = m >= 0x41 && m <= 0x49;
        if (m > 6 && !counted) {
            return Stop("barcode mode the processor refuses");
        }
        size_t pos = at + 3 + (counted ? 1 : 0);
        Bytes data;
        unsigned count = 0;
        for (;;) {
            if (pos >= job_.size()) {
                return Stop("job ends inside barcode data");
            }
            const uint8_t c = job_[pos++];
            if (c == ESC) {
                const uint8_t sub = pos < job_.size() ? job_[pos] : 0;
                if (sub == '$') {
                    pos += 3;
                } else if (sub == '-' || sub == 'E' || sub == 'J') {
                    pos += 2;
                } else {
                    return Stop("barcode data holds an ESC sequence the processor refuses");
                }
                continue;
            }
            if (!counted && (c == CR || c == FF)) {
                data.push_back(0);
                data.push_back(c);
                break;
            }
            data.push_back(c);
            count += counted && c != CR && c != FF;
            if (c == 0 || c == CR || c == FF) {
                break;
            }
        }
        if (data.size() + 4 > 512 || count > 255) {
            return Stop("barcode data beyond the processor's buffer");
        }
        Bytes out{GS, 'k', m};
        if (counted) {
            out.push_back(static_cast<uint8_t>(count));
        }
        out.insert(out.end(), data.begin(), data.end());
        Write(std::move(out));
        return pos;
    }

    const Bytes& job_;
    const int dpi_;
    Expected& out_;
    std::vector<Bitmap> bands_;
    int pendingRows_ = 0;
    int pendingWidth_ = 0;
    bool cut_ = false;
    int pageImages_ = 0;
    int pageBands_ = 0;
};

} // namespace

Expected ExpectedOutput(const Bytes& job, int dpi, unsigned copies) {
    Expected out;
    for (unsigned i = 0; i < copies; ++i) {
        if (!Pass(job, dpi, out).Run()) {
            break;
        }
    }
    return out;
}

} // namespace e2e
