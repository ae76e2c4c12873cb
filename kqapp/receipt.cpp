#include "receipt.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kqapp {
namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t GS = 0x1D;
constexpr int kHeaderBytes = 8; // GS v 0 m xL xH yL yH
// A line wider than this is not a receipt: PWG raster allows it, the paper does not.
constexpr int kMaxLineWidth = 1 << 16;

} // namespace

std::optional<std::string> CheckPage(const PageFormat& format) {
    if (format.width <= 0 || format.height <= 0) {
        return "the page has no pixels (" + std::to_string(format.width) + " x " + std::to_string(format.height) +
               ")";
    }
    if (format.width > kMaxLineWidth) {
        return "the page is " + std::to_string(format.width) + " pixels wide; the printer takes lines of up to " +
               std::to_string(kMaxLineWidth);
    }
    if (format.printableDots <= 0 || format.printableDots % 8 != 0 || format.printableDots > 65535 * 8) {
        return "the print head's width of " + std::to_string(format.printableDots) + " dots is not whole bytes";
    }
    if (format.height > format.maxRows) {
        return "the page is " + std::to_string(format.height) + " rows long; the printer takes pages of up to " +
               std::to_string(format.maxRows) + " rows";
    }
    return std::nullopt;
}

PageConverter::PageConverter(const PageFormat& format, ByteSink sink)
    : format_(format), sink_(std::move(sink)), bytesPerRow_(format.printableDots / 8),
      // the head's dots lie in the middle of the line; a narrower line is centred under the head
      offset_((format.width - format.printableDots) / 2), row_(size_t(format.printableDots / 8)),
      light_(size_t(format.printableDots)) {
    band_.reserve(kHeaderBytes + size_t(bytesPerRow_) * kBandRows);
    band_.resize(kHeaderBytes);
    if (format_.dither != Dither::Threshold) {
        carry_[0].assign(size_t(format.printableDots) + 2, 0);
        carry_[1].assign(size_t(format.printableDots) + 2, 0);
    }
}

void PageConverter::DitherRow(const uint8_t* pixels, uint8_t* out) {
    const int dots = format_.printableDots;
    // the printed part of the line as lightness; what lies beyond the line is paper
    const int from = std::max(0, -offset_);
    const int to = std::min(dots, format_.width - offset_);
    std::fill(light_.begin(), light_.end(), uint8_t{255});
    if (to > from) {
        if (format_.inkIsHigh) {
            for (int x = from; x < to; ++x) {
                light_[size_t(x)] = uint8_t(255 - pixels[x + offset_]);
            }
        } else {
            std::memcpy(light_.data() + from, pixels + from + offset_, size_t(to - from));
        }
    }
    std::memset(out, 0, size_t(bytesPerRow_));
    bool tones = format_.dither == Dither::Diffusion;
    if (format_.dither == Dither::ByContent) {
        int mid = 0; // neither near white nor near black: 48 to 207
        for (const uint8_t v : light_) {
            mid += uint8_t(v - 48) < 160;
        }
        tones = double(mid) >= kToneShare * double(light_.size());
    }
    if (tones) {
        Diffuse(out);
        return;
    }
    Threshold(out);
    if (!carry_[0].empty()) {
        std::fill(carry_[0].begin(), carry_[0].end(), 0); // the next tones start afresh
    }
}

void PageConverter::Threshold(uint8_t* out) const {
    // eight pixels a byte, the leftmost in the high bit: a dark pixel (below half, its top bit clear) is a
    // dot. The eight top bits of a little-endian word are gathered into one byte by one multiplication.
    const uint8_t* light = light_.data();
    for (int i = 0; i < bytesPerRow_; ++i, light += 8) {
        uint64_t word = 0;
        std::memcpy(&word, light, sizeof(word));
        if constexpr (std::endian::native == std::endian::little) {
            const uint64_t dark = (~word & 0x8080808080808080u) >> 7;
            out[i] = uint8_t((dark * 0x8040201008040201u) >> 56);
        } else {
            unsigned byte = 0;
            for (int k = 0; k < 8; ++k) {
                byte = (byte << 1) | unsigned(light[k] < 128);
            }
            out[i] = uint8_t(byte);
        }
    }
}

namespace {

// One row of Floyd and Steinberg's diffusion in the direction `step`. `here` holds the error this row
// inherits, `next` gets what the next row inherits (every cell written); both have a guard cell at each
// end. A pixel passes 7/16 of its error on along the row and 3/16, 5/16 and 1/16 to the three below it
// (behind, under, ahead), each share truncated on its own; the row's error is carried in registers.
template <int step>
void DiffuseRow(const uint8_t* light, int dots, const int* here, int* next, uint8_t* out) {
    int ahead = 0;      // 7/16 of the error of the pixel before
    int under = 0;      // next row, under the pixel before: its 5/16 and the 1/16 of the one before it
    int farAhead = 0;   // next row, under this pixel: 1/16 of the pixel before's error
    const int first = step > 0 ? 0 : dots - 1;
    for (int i = 0; i < dots; ++i) {
        const int x = first + step * i;
        const int c = x + 1; // guard cell at each end
        const int value = light[x] + here[c] + ahead;
        int err = value;
        if (value < 128) {
            out[x >> 3] |= uint8_t(0x80 >> (x & 7));
        } else {
            err = value - 255;
        }
        if (i > 0) {
            next[c - step] = under + err * 3 / 16;
        }
        under = farAhead + err * 5 / 16;
        farAhead = err / 16;
        ahead = err * 7 / 16;
    }
    next[first + step * (dots - 1) + 1] = under;
}

} // namespace

void PageConverter::Diffuse(uint8_t* out) {
    // the direction turns each row so that no drift builds up to one side
    const int dots = format_.printableDots;
    std::vector<int>& here = carry_[0];
    std::vector<int>& next = carry_[1];
    if (leftToRight_) {
        DiffuseRow<1>(light_.data(), dots, here.data(), next.data(), out);
    } else {
        DiffuseRow<-1>(light_.data(), dots, here.data(), next.data(), out);
    }
    std::swap(here, next);
    leftToRight_ = !leftToRight_;
}

bool PageConverter::Line(const uint8_t* pixels) {
    if (failed_) {
        return false;
    }
    if (rowsIn_ >= format_.height) {
        return true; // the page said how long it is; lines beyond that are not on it
    }
    ++rowsIn_;
    DitherRow(pixels, row_.data());
    return AppendRow(row_.data());
}

bool PageConverter::AppendRow(const uint8_t* row) {
    const bool blank = std::all_of(row, row + bytesPerRow_, [](uint8_t b) { return b == 0; });
    if (blank) {
        if (marked_) {
            ++blankRun_; // kept only if a mark follows
        }
        return true;
    }
    for (; blankRun_ > 0; --blankRun_) {
        band_.insert(band_.end(), size_t(bytesPerRow_), uint8_t{0});
        if (++bandRows_ == kBandRows && !FlushBand()) {
            return false;
        }
    }
    marked_ = true;
    band_.insert(band_.end(), row, row + bytesPerRow_);
    if (++bandRows_ == kBandRows) {
        return FlushBand();
    }
    return true;
}

bool PageConverter::FlushBand() {
    if (bandRows_ == 0) {
        return true;
    }
    const uint8_t header[kHeaderBytes] = {GS,
                                          'v',
                                          '0',
                                          0,
                                          uint8_t(bytesPerRow_ & 0xFF),
                                          uint8_t(bytesPerRow_ >> 8),
                                          uint8_t(bandRows_ & 0xFF),
                                          uint8_t(bandRows_ >> 8)};
    std::memcpy(band_.data(), header, kHeaderBytes);
    const bool sent = sink_(band_.data(), band_.size());
    rowsOut_ += bandRows_;
    bandRows_ = 0;
    band_.resize(kHeaderBytes);
    if (!sent) {
        failed_ = true;
        why_ = "the print processor's document did not take a band";
    }
    return sent;
}

bool PageConverter::Finish() {
    blankRun_ = 0; // white paper after the last mark is not printed
    return !failed_ && FlushBand();
}

const std::vector<uint8_t>& ReceiptJob::ResetBytes() {
    static const std::vector<uint8_t> bytes{ESC, '@'};
    return bytes;
}

const std::vector<uint8_t>& ReceiptJob::EndPageBytes() {
    static const std::vector<uint8_t> bytes{ESC, 'P', 'e', 0};
    return bytes;
}

const std::vector<uint8_t>& ReceiptJob::CutBytes() {
    static const std::vector<uint8_t> bytes{ESC, 'P', 'g', 2};
    return bytes;
}

const std::vector<uint8_t>& ReceiptJob::EndDocumentBytes() {
    static const std::vector<uint8_t> bytes{ESC, 'P', 'e', 1};
    return bytes;
}

bool ReceiptJob::Start() {
    return Send(ResetBytes());
}

bool ReceiptJob::EndPage() {
    if (!Send(EndPageBytes())) {
        return false;
    }
    // a cut after every page: the processor cuts at the end of a document that asked for it
    return cut_ != CutAfter::Page || (Send(CutBytes()) && Send(EndDocumentBytes()));
}

bool ReceiptJob::End() {
    switch (cut_) {
    case CutAfter::Job:
        return Send(CutBytes()) && Send(EndDocumentBytes());
    case CutAfter::None:
        return Send(EndDocumentBytes());
    case CutAfter::Page:
        return true; // every page ended its own document
    }
    return false;
}

} // namespace kqapp
