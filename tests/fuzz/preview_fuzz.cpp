// Fuzzes the receipt preview: any stream, paper width and resolution drawn with the system's fonts. The
// picture must keep its shape and inks, and everything else is AddressSanitizer's and UBSan's to judge.
#include "preview.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const preview::Fonts fonts = preview::Fonts::Load();
    if (size < 2) {
        return 0;
    }
    // The first two bytes choose the paper (8 to 1031 dots) and the resolution (1 to 1024 dpi).
    // Pictures are kept short: the limit's own path is then taken often, and runs stay fast.
    const preview::Options options{8 + (data[0] | (data[1] & 3) << 8), 1 + ((data[1] >> 2) * 16), 4096};
    const preview::Preview out = preview::Render(std::span(data + 2, size - 2), fonts, options);
    const preview::Picture& p = out.picture;
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
    return 0;
}
