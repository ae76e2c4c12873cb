// Fuzzes the receipt preview: any stream, paper width and resolution drawn with the system's fonts. The
// picture must keep its shape and inks; the stream fed in pieces, one picture a receipt, must give the
// same picture once the receipts are stacked (and the same warnings when it has no cut). Everything else
// is AddressSanitizer's and UBSan's to judge.
#include "preview.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "preview_fuzz: %s\n", what);
    std::abort();
}

void CheckShape(const preview::Picture& p, const preview::Options& options) {
    if (p.width != options.paperWidth || p.height < 1 || p.height > options.maxRows ||
        p.dots.size() != static_cast<size_t>(p.width) * p.height) {
        std::fprintf(stderr, "preview_fuzz: a picture of %d x %d with %zu dots\n", p.width, p.height,
                     p.dots.size());
        std::abort();
    }
    for (const uint8_t d : p.dots) {
        if (d > preview::kMark) {
            std::fprintf(stderr, "preview_fuzz: ink %d\n", d);
            std::abort();
        }
    }
}

bool ReachedTheLimit(const std::vector<std::string>& warnings) {
    return std::any_of(warnings.begin(), warnings.end(),
                       [](const std::string& w) { return w.find("longer than") != std::string::npos; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const preview::Fonts fonts = preview::Fonts::Load();
    if (size < 2) {
        return 0;
    }
    // The first two bytes choose the paper (8 to 1031 dots) and the resolution (1 to 1024 dpi), and the
    // pieces the stream is fed in (1 to 16 bytes). Pictures are kept short: the limit's own path is then
    // taken often, and runs stay fast.
    const preview::Options options{8 + (data[0] | (data[1] & 3) << 8), 1 + ((data[1] >> 2) * 16), 4096};
    const size_t piece = 1 + (data[0] & 15);
    const std::span<const uint8_t> stream(data + 2, size - 2);
    const preview::Preview out = preview::Render(stream, fonts, options);
    CheckShape(out.picture, options);

    // The same stream in pieces, one picture a receipt.
    preview::Renderer renderer(fonts, options, preview::Renderer::Pictures::OnePerReceipt);
    std::vector<preview::Preview> receipts;
    for (size_t at = 0; at < stream.size(); at += piece) {
        for (preview::Preview& r : renderer.Write(stream.subspan(at, std::min(piece, stream.size() - at)))) {
            receipts.push_back(std::move(r));
        }
    }
    receipts.push_back(renderer.Finish());
    if (receipts.size() == 1 && receipts[0].warnings != out.warnings) {
        Fail("the stream in pieces gives other warnings");
    }
    std::vector<uint8_t> stacked;
    // A picture that reached the limit stops there; stacked receipts may go on.
    bool limit = ReachedTheLimit(out.warnings) || out.picture.height == options.maxRows;
    for (const preview::Preview& r : receipts) {
        CheckShape(r.picture, options);
        stacked.insert(stacked.end(), r.picture.dots.begin(), r.picture.dots.end());
        limit = limit || ReachedTheLimit(r.warnings);
    }
    // The last picture is one row of paper when nothing came after the last cut.
    const size_t paperRow = static_cast<size_t>(options.paperWidth);
    if (receipts.size() > 1 && receipts.back().picture.height == 1 &&
        stacked.size() == out.picture.dots.size() + paperRow) {
        stacked.resize(out.picture.dots.size());
    }
    if (!limit && stacked != out.picture.dots) {
        Fail("the stream in pieces, its receipts stacked, is not the whole stream's picture");
    }
    return 0;
}
