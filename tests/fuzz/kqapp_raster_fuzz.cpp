// Fuzzes the printer application's raster step: a raster stream as a client sends it (PWG, Apple or CUPS
// raster, read by libcups as PAPPL reads it), each page checked and turned into the print processor's
// input. Whatever the stream (cut short, lying about its size, huge), a page is refused with a reason or
// converted into whole GS v 0 bands of the head's width, never more than a band at a time, ended by the
// processor's directives; the output must read as whole KQT-50 commands.
//
// Input: one byte of options (bits 0-1 the dither: threshold, diffusion, by content; bit 2 the 58 mm head;
// bit 3 device black), then the raster stream.
#include "printjob.h"
#include "receipt.h"

#include "escpos.h"

#include <cups/raster.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "kqapp_raster_fuzz: %s\n", what);
    std::abort();
}

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

ssize_t Read(void* ctx, unsigned char* buffer, size_t bytes) {
    auto* r = static_cast<Reader*>(ctx);
    const size_t n = std::min(bytes, r->size - r->at);
    std::memcpy(buffer, r->data + r->at, n);
    r->at += n;
    return ssize_t(n);
}

// Lines read from one page at most, so that one input stays quick; the converter's cost does not grow
// with the line's width, the decompression's does.
constexpr unsigned kMaxLines = 2048;
constexpr size_t kMaxLineBytes = 1 << 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t options = data[0];
    const kqapp::Dither dither = (options & 3) == 0   ? kqapp::Dither::Threshold
                                 : (options & 3) == 1 ? kqapp::Dither::Diffusion
                                                      : kqapp::Dither::ByContent;
    const int head = (options & 4) ? 384 : 576;
    Reader reader{data + 1, size - 1};
    cups_raster_t* ras = cupsRasterOpenIO(Read, &reader, CUPS_RASTER_READ);
    if (!ras) {
        return 0;
    }
    std::vector<uint8_t> out; // the print processor's input
    auto sink = [&](const uint8_t* b, size_t n) {
        if (n < 8 || b[0] != 0x1D || b[1] != 'v' || b[2] != '0' || b[3] != 0) {
            Fail("a band is not a GS v 0 image");
        }
        const size_t width = b[4] | size_t(b[5]) << 8;
        const size_t rows = b[6] | size_t(b[7]) << 8;
        if (width != size_t(head / 8) || rows == 0 || rows > size_t(kqapp::kBandRows) || n != 8 + width * rows) {
            Fail("a band of the wrong size");
        }
        out.insert(out.end(), b, b + n);
        return true;
    };
    auto directives = [&](const uint8_t* b, size_t n) {
        out.insert(out.end(), b, b + n);
        return true;
    };
    kqapp::ReceiptJob job(kqapp::CutAfter::Job, directives);
    job.Start();
    cups_page_header2_t header;
    std::vector<uint8_t> line;
    int pages = 0;
    while (pages < 8 && cupsRasterReadHeader2(ras, &header)) {
        ++pages;
        // what PAPPL refuses before the driver sees the page (the colour order read as the number it is)
        unsigned order = 0;
        std::memcpy(&order, &header.cupsColorOrder, sizeof(order));
        if (header.cupsWidth == 0 || header.cupsHeight == 0 ||
            (header.cupsBitsPerColor != 1 && header.cupsBitsPerColor != 8) || order != unsigned(CUPS_ORDER_CHUNKED) ||
            header.cupsBytesPerLine != (header.cupsWidth * header.cupsBitsPerPixel + 7) / 8 ||
            header.cupsBytesPerLine > kMaxLineBytes || header.cupsBitsPerPixel != 8) {
            break;
        }
        kqapp::PageFormat format = kqapp::FormatOf(header, head, 4096, dither);
        format.inkIsHigh = format.inkIsHigh != bool(options & 8);
        if (const auto why = kqapp::CheckPage(format)) {
            if (why->empty()) {
                Fail("a page refused without a reason");
            }
            break;
        }
        kqapp::PageConverter page(format, sink);
        line.assign(header.cupsBytesPerLine, 0);
        const unsigned lines = std::min(header.cupsHeight, kMaxLines);
        for (unsigned y = 0; y < lines; ++y) {
            if (!cupsRasterReadPixels(ras, line.data(), header.cupsBytesPerLine)) {
                break; // cut short: the page ends where the stream does
            }
            if (!page.Line(line.data())) {
                Fail("the converter refused a line its sink would take");
            }
        }
        if (!page.Finish()) {
            Fail("the page did not finish");
        }
        if (page.rowsOut() > page.rowsIn() || (page.marked() && page.rowsOut() == 0)) {
            Fail("rows out of nothing");
        }
        if (page.marked()) {
            job.EndPage();
        }
        if (lines < header.cupsHeight) {
            break;
        }
    }
    job.End();
    cupsRasterClose(ras);
    for (size_t at = 0; at < out.size();) {
        const escpos::Item item = escpos::Kqt50Next(out, at);
        if (item.kind != escpos::Kind::Command) {
            Fail("the output does not read as whole KQT-50 commands");
        }
        at = item.end();
    }
    return 0;
}
