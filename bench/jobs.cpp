#include "jobs.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace kqbench {
namespace {

constexpr uint8_t DLE = 0x10;
constexpr uint8_t ESC = 0x1B;
constexpr uint8_t FS = 0x1C;
constexpr uint8_t GS = 0x1D;
constexpr uint8_t LF = 0x0A;
constexpr uint8_t CR = 0x0D;
constexpr int64_t kMaxImageRows = 0xFFFF;
constexpr size_t kBatch = 256;

// What the processor holds between commands, as far as its writes depend on it.
struct Model {
    Expected out;
    size_t plainPending = 0; // bytes in the 256-byte batch
    int64_t pendingBandRows = 0;
    int64_t pendingBandWidth = 0;
    bool pageOpen = false; // the band list holds bands
    int64_t pageRows = 0;
    int64_t pageWidth = 0;
    bool cutAtEnd = false;
};

// Builds a job and, alongside, the writes KQPRINT must make of it.
class Builder {
  public:
    Builder(size_t size, int dpi) : size_(size), dpi_(dpi) { bytes_.reserve(size); }

    size_t Left() const { return size_ - bytes_.size(); }
    bool Over() const { return bytes_.size() > size_; }

    struct Mark {
        size_t length;
        Model model;
    };
    Mark Save() const { return {bytes_.size(), m_}; }
    void Restore(const Mark& mark) {
        bytes_.resize(mark.length);
        m_ = mark.model;
    }

    // Plain bytes (never a command prefix): batched by 256.
    void Plain(std::string_view text) {
        for (char c : text) {
            bytes_.push_back(static_cast<uint8_t>(c));
            if (++m_.plainPending == kBatch) {
                Write(kBatch);
                m_.plainPending = 0;
            }
        }
    }
    void Line(std::string_view text) {
        Plain(text);
        Plain("\n");
    }

    // A command that the processor passes on whole in one write.
    void Command(std::initializer_list<uint8_t> command) {
        Prefix();
        bytes_.insert(bytes_.end(), command);
        Write(command.size());
    }

    // GS v 0: stored as a band of the page, nothing written.
    void Band(int width, int rows, uint32_t seed) {
        Prefix();
        const uint8_t header[] = {GS,
                                  0x76,
                                  0x30,
                                  0x00,
                                  uint8_t(width % 256),
                                  uint8_t(width / 256),
                                  uint8_t(rows % 256),
                                  uint8_t(rows / 256)};
        bytes_.insert(bytes_.end(), header, header + sizeof(header));
        const size_t at = bytes_.size();
        bytes_.resize(at + size_t(width) * size_t(rows));
        Fill(bytes_.data() + at, size_t(width) * size_t(rows), seed);
        AddBand(width, rows);
        m_.pendingBandRows = rows;
        m_.pendingBandWidth = width;
        m_.out.bands++;
    }

    // ESC J n: after an image, folded into blank rows of the page; otherwise it ends the page and feeds.
    void Feed(uint8_t n) {
        Prefix();
        bytes_.insert(bytes_.end(), {ESC, 0x4A, n});
        int64_t feed = n;
        if (m_.pendingBandRows > 0) {
            feed = std::max<int64_t>(0, n - m_.pendingBandRows);
            const int64_t rows = int64_t{dpi_} * feed / 180;
            const int64_t width = m_.pendingBandWidth;
            m_.pendingBandRows = 0;
            m_.pendingBandWidth = 0;
            if (width * rows > 0) {
                AddBand(width, rows);
                feed = 0;
            }
        }
        if (feed == 0) {
            return;
        }
        FlushPage();
        Write(3);
    }

    // ESC P e 0: the page image, then ESC J 238.
    void EndPage() {
        Prefix();
        bytes_.insert(bytes_.end(), {ESC, 0x50, 'e', 0});
        FlushPage();
        Write(3);
    }
    // ESC P g 2: cut at the end of the document.
    void CutRequest() {
        Prefix();
        bytes_.insert(bytes_.end(), {ESC, 0x50, 'g', 0x02});
        m_.cutAtEnd = true;
    }
    // ESC P e 1: the cut when asked for, then ESC 2.
    void EndDocument() {
        Prefix();
        bytes_.insert(bytes_.end(), {ESC, 0x50, 'e', 1});
        if (m_.cutAtEnd) {
            Write(3);
        }
        Write(2);
    }
    // ESC i: sent as the cut GS V 1, one write of three bytes.
    void PartialCut() {
        Prefix();
        bytes_.insert(bytes_.end(), {ESC, 0x69});
        Write(3);
    }
    // ESC P r n and ESC P b x y: directives that the processor takes and drops.
    void Silent4() {
        Prefix();
        bytes_.insert(bytes_.end(), {ESC, 0x50, 'r', 0});
    }
    void Silent5() {
        Prefix();
        bytes_.insert(bytes_.end(), {ESC, 0x50, 'b', 0, 0});
    }

    // GS k m d... NUL: the first form, written whole.
    void Barcode(uint8_t m, std::string_view data) {
        Prefix();
        bytes_.insert(bytes_.end(), {GS, 0x6B, m});
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        bytes_.push_back(0);
        Write(3 + data.size() + 1);
    }
    // GS k m n d... CR: the second form, its length byte set to the data read; the CR goes with it.
    void Barcode2(uint8_t m, std::string_view data) {
        Prefix();
        bytes_.insert(bytes_.end(), {GS, 0x6B, m, uint8_t(data.size())});
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        bytes_.push_back(CR);
        Write(4 + data.size() + 1);
    }

    Job Finish() {
        if (m_.plainPending > 0) {
            Write(m_.plainPending);
            m_.plainPending = 0;
        }
        return Job{std::move(bytes_), m_.out};
    }

  private:
    void Write(uint64_t n) {
        m_.out.writes++;
        m_.out.bytesOut += n;
    }
    // A command prefix: the batch goes out first.
    void Prefix() {
        if (m_.plainPending > 0) {
            Write(m_.plainPending);
            m_.plainPending = 0;
        }
    }
    void AddBand(int64_t width, int64_t rows) {
        m_.pageOpen = true;
        m_.pageRows += rows;
        m_.pageWidth = std::max(m_.pageWidth, width);
    }
    void FlushPage() {
        if (!m_.pageOpen) {
            return;
        }
        int64_t left = m_.pageRows;
        do {
            const int64_t rows = std::min(left, kMaxImageRows);
            const uint64_t image = uint64_t(m_.pageWidth) * uint64_t(rows) + 8;
            Write(image);
            m_.out.pageImages++;
            m_.out.largestImage = std::max(m_.out.largestImage, image);
            left -= rows;
        } while (left > 0);
        m_.pageOpen = false;
        m_.pageRows = 0;
        m_.pageWidth = 0;
    }
    // Dots that look like an image: runs of set and clear bytes, every byte value somewhere.
    static void Fill(uint8_t* p, size_t n, uint32_t seed) {
        uint32_t x = seed * 2654435761u + 12345u;
        for (size_t i = 0; i < n; ++i) {
            x = x * 1103515245u + 12345u;
            p[i] = static_cast<uint8_t>(x >> 23);
        }
    }

    size_t size_;
    int dpi_;
    std::vector<uint8_t> bytes_;
    Model m_;
};

constexpr std::string_view kItems[] = {
    "Americano (L)                     4,500", "Cafe latte                        5,000",
    "Blueberry muffin                  3,800", "Sparkling water 500ml             2,000",
    "Croissant, butter                 3,200", "Green tea latte (ICE)             5,500",
    "Cheese cake slice                 6,800", "Drip bag coffee x10              12,000",
};

// Plain text up to exactly `n` more bytes: whole item lines, then part of one.
void PlainFill(Builder& b, size_t n) {
    size_t line = 0;
    while (n > 0) {
        std::string text(kItems[line++ % std::size(kItems)]);
        text += '\n';
        const size_t take = std::min(n, text.size());
        b.Plain(std::string_view(text).substr(0, take));
        n -= take;
    }
}

// Tries an item; when it does not fit, takes it back and says so.
template <class Item> bool Try(Builder& b, size_t reserve, Item item) {
    const Builder::Mark mark = b.Save();
    item();
    if (b.Over() || b.Left() < reserve) {
        b.Restore(mark);
        return false;
    }
    return true;
}

// Text lines with short style commands: bold, centred, double size, feeds, underline.
Job TextJob(size_t size, int dpi) {
    Builder b(size, dpi);
    for (size_t i = 0;; ++i) {
        const bool fits = Try(b, 0, [&] {
            const std::string_view text = kItems[i % std::size(kItems)];
            if (i % 8 == 3) {
                b.Command({ESC, 0x61, 1});
            }
            if (i % 16 == 7) {
                b.Command({GS, 0x21, 0x11});
            }
            if (i % 4 == 0) {
                b.Command({ESC, 0x45, 1});
            }
            if (i % 64 == 63) {
                b.Command({ESC, 0x2D, 1});
            }
            b.Line(text);
            if (i % 4 == 0) {
                b.Command({ESC, 0x45, 0});
            }
            if (i % 16 == 7) {
                b.Command({GS, 0x21, 0x00});
            }
            if (i % 8 == 3) {
                b.Command({ESC, 0x61, 0});
            }
            if (i % 64 == 63) {
                b.Command({ESC, 0x2D, 0});
            }
            if (i % 32 == 31) {
                b.Command({ESC, 0x64, 2});
            }
        });
        if (!fits) {
            break;
        }
    }
    PlainFill(b, b.Left());
    return b.Finish();
}

// Receipts: a logo of 72-byte bands, header, items, total, two barcodes, a signature of narrower bands
// with feeds that become blank rows, the end of the page, a cut. The document asks for a cut at its end.
Job ReceiptJob(size_t size, int dpi) {
    Builder b(size, dpi);
    constexpr size_t kClosing = 8; // ESC P e 0, ESC P e 1
    uint32_t seed = 1;
    Try(b, kClosing, [&] { b.Command({ESC, 0x40}); });
    Try(b, kClosing, [&] { b.CutRequest(); });
    bool more = true;
    auto item = [&](auto f) {
        if (more) {
            more = Try(b, kClosing, f);
        }
    };
    while (more) {
        item([&] { b.Command({ESC, 0x61, 1}); });
        for (int band = 0; band < 12; ++band) {
            item([&] {
                b.Band(72, 8, seed++);
                b.Feed(8);
            });
        }
        item([&] { b.Feed(20); }); // the logo goes out as one image
        item([&] {
            b.Command({GS, 0x21, 0x11});
            b.Line("KQT COFFEE");
            b.Command({GS, 0x21, 0x00});
            b.Command({ESC, 0x61, 0});
            b.Line("2026-11-01 12:34:56       No. 0042");
        });
        for (int i = 0; i < 10; ++i) {
            item([&] { b.Line(kItems[size_t(i) % std::size(kItems)]); });
        }
        item([&] {
            b.Command({ESC, 0x45, 1});
            b.Line("TOTAL                            51,300");
            b.Command({ESC, 0x45, 0});
        });
        item([&] {
            b.Command({ESC, 0x61, 1});
            b.Command({GS, 0x68, 80});
            b.Command({GS, 0x77, 2});
            b.Command({GS, 0x48, 2});
            b.Barcode(4, "*KQ-0042*");
            b.Line("");
        });
        item([&] {
            b.Barcode2(0x49, "{B2026110100042");
            b.Line("");
        });
        item([&] { b.Line("Thank you!"); });
        for (int band = 0; band < 6; ++band) {
            item([&] {
                b.Band(48, 16, seed++);
                b.Feed(20); // 4 units past the band: blank rows
            });
        }
        item([&] { b.EndPage(); });
        item([&] {
            b.Command({ESC, 0x64, 3});
            b.PartialCut();
        });
    }
    PlainFill(b, b.Left() - kClosing);
    b.EndPage();
    b.EndDocument();
    return b.Finish();
}

// Raster only: pages of 100 bands of 72 bytes by 24 rows, each followed by its feed (every tenth feeds
// further, which becomes blank rows), each page ended by the end-of-page directive.
Job RasterJob(size_t size, int dpi) {
    Builder b(size, dpi);
    constexpr size_t kClosing = 4; // ESC P e 0
    uint32_t seed = 1;
    bool more = true;
    while (more) {
        for (int band = 0; band < 100 && more; ++band) {
            more = Try(b, kClosing, [&] {
                b.Band(72, 24, seed++);
                b.Feed(band % 10 == 9 ? 48 : 24);
            });
        }
        if (more) {
            more = Try(b, kClosing, [&] { b.EndPage(); });
        }
    }
    // The rest: one more band of whole rows, then directives that the processor drops.
    size_t left = b.Left() - kClosing;
    if (left >= 8 + 72 + 12) {
        const size_t rows = (left - 8 - 12) / 72;
        b.Band(72, static_cast<int>(rows), seed++);
        left = b.Left() - kClosing;
    }
    while (left >= 12 || left == 4 || left == 5 || left == 8 || left == 9 || left == 10) {
        if (left % 4 == 0) {
            b.Silent4();
        } else {
            b.Silent5();
        }
        left = b.Left() - kClosing;
    }
    // fewer than 12 bytes that fours and fives do not make: plain line feeds
    std::string feeds(left, '\n');
    b.Plain(feeds);
    b.EndPage();
    return b.Finish();
}

} // namespace

const char* ShapeName(Shape shape) {
    switch (shape) {
    case Shape::Text:
        return "text";
    case Shape::Receipt:
        return "receipt";
    case Shape::Raster:
        return "raster";
    }
    return "?";
}

Job MakeJob(Shape shape, size_t size, int verticalDpi) {
    switch (shape) {
    case Shape::Text:
        return TextJob(size, verticalDpi);
    case Shape::Receipt:
        return ReceiptJob(size, verticalDpi);
    case Shape::Raster:
        return RasterJob(size, verticalDpi);
    }
    return {};
}

Expected BareExpected(size_t size) {
    Expected e;
    e.writes = (size + kBatch - 1) / kBatch;
    e.bytesOut = size;
    return e;
}

} // namespace kqbench
