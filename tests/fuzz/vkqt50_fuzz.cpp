// Fuzzes the virtual printer's model: any bytes off the line, in any pieces, mixed with paper, cover,
// off-line, error and drawer changes, on any receive buffer and flow control. Every byte must be accounted
// for (printed, waiting, lost to a full buffer or cleared by DLE ENQ 2), the buffer must keep its size, the
// replies must be status bytes or flow control, with XOFF and XON in turn, and the pictures must keep the
// paper's width. Everything else is AddressSanitizer's and UBSan's to judge.
#include "printer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "vkqt50_fuzz: %s\n", what);
    std::abort();
}

struct Sink final : vkqt50::Events {
    void Note(std::string_view) override {}
    void Receipt(int, const preview::Preview& r) override {
        if (r.picture.width != width || r.picture.height < 1 ||
            r.picture.dots.size() != static_cast<size_t>(r.picture.width) * r.picture.height) {
            Fail("a picture out of shape");
        }
    }
    int width = 0;
};

void CheckReplies(const std::vector<uint8_t>& replies, bool* busy) {
    for (const uint8_t b : replies) {
        if (b == vkqt50::kXoff || b == vkqt50::kXon) {
            if ((b == vkqt50::kXoff) == *busy) {
                Fail("XOFF and XON not in turn");
            }
            *busy = b == vkqt50::kXoff;
        } else if (!escpos::IsRealTimeStatus(b) && b > 0x0F) {
            Fail("a reply that is no status byte");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const preview::Fonts fonts = preview::Fonts::Load();
    if (size < 3) {
        return 0;
    }
    vkqt50::PrinterConfig config;
    config.bufferSize = 32 + data[0] * 4;
    config.flow = static_cast<vkqt50::Flow>(data[1] % 3);
    config.paperMm = data[1] & 0x80 ? 5 + data[2] % 64 : 0;
    config.nearEndMm = data[1] & 0x40 ? 2 : 0;
    config.picture = preview::Options{64 + (data[2] & 0x3F) * 8, 203, 2048};
    Sink sink;
    sink.width = config.picture.paperWidth;
    vkqt50::Printer printer(fonts, config, sink);
    bool xoff = false;
    // after the header: an operation byte, then its bytes
    for (size_t at = 3; at < size;) {
        const uint8_t op = data[at++];
        const size_t n = std::min<size_t>(size - at, (op >> 3) + 1);
        switch (op & 7) {
        case 0:
        case 1:
        case 2:
            printer.Receive(std::span<const uint8_t>(data + at, n));
            at += n;
            break;
        case 3:
            at += printer.AnswerLeadingRequests(std::span<const uint8_t>(data + at, n));
            break;
        case 4:
            printer.Print();
            break;
        case 5:
            switch (op >> 3 & 7) {
            case 0:
                printer.LoadPaper(op >> 6 ? std::optional<double>(op >> 6) : std::nullopt);
                break;
            case 1:
                printer.RunOutOfPaper();
                break;
            case 2:
                printer.SetCover(op & 0x40);
                break;
            case 3:
                printer.SetOffline(op & 0x40);
                break;
            case 4:
                printer.SetNearEnd(op & 0x40);
                break;
            case 5:
                printer.SetDrawer(op & 0x40);
                break;
            default:
                printer.ClearErrors();
                break;
            }
            break;
        default:
            printer.SetError(static_cast<vkqt50::ErrorKind>(op >> 3 & 3), op & 0x20);
            break;
        }
        CheckReplies(printer.TakeReplies(), &xoff);
        const vkqt50::Stats& s = printer.stats();
        if (printer.Buffered() > config.bufferSize) {
            Fail("the receive buffer outgrew its size");
        }
        if (s.received - s.lost - s.discarded != s.printed + printer.Buffered()) {
            Fail("a byte unaccounted for");
        }
        if (config.flow == vkqt50::Flow::XonXoff && xoff != printer.Busy()) {
            Fail("busy without XOFF, or XOFF without being busy");
        }
    }
    printer.Print();
    printer.Finish();
    return 0;
}
