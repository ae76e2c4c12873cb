#include "port.h"

#include "machine.h"
#include "setup.h"

#include <winspool.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace kqspool {
namespace {

// The first message after so many seconds without data, then one every so many more.
constexpr unsigned kFirstSay = 2;
constexpr unsigned kSayEvery = 5;

// The serial configuration calls take the port's name without its colon.
std::string SerialName(const std::string& port) {
    return !port.empty() && port.back() == ':' ? port.substr(0, port.size() - 1) : port;
}

} // namespace

bool StoreLineSettings(const std::string& port, const vkqt50::LineSettings& line) {
    const std::string name = SerialName(port);
    std::vector<BYTE> buffer(1024);
    DWORD size = static_cast<DWORD>(buffer.size());
    bool ok = GetDefaultCommConfigA(name.c_str(), reinterpret_cast<COMMCONFIG*>(buffer.data()), &size);
    if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && size >= sizeof(COMMCONFIG)) {
        buffer.resize(size);
        ok = GetDefaultCommConfigA(name.c_str(), reinterpret_cast<COMMCONFIG*>(buffer.data()), &size);
    }
    if (!ok || size < sizeof(COMMCONFIG)) {
        std::fprintf(stderr, "kqspool: %s has no serial line settings, error %u\n", port.c_str(),
                     GetLastError());
        return false;
    }
    DCB& dcb = reinterpret_cast<COMMCONFIG*>(buffer.data())->dcb;
    dcb.BaudRate = line.rate;
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    dcb.Parity = static_cast<BYTE>(line.parity); // NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY
    dcb.StopBits = static_cast<BYTE>(line.stopHalves == 2   ? ONESTOPBIT
                                     : line.stopHalves == 3 ? ONE5STOPBITS
                                                            : TWOSTOPBITS);
    // the four flow-control bits, as the installer's serial settings set them
    dcb.fOutX = dcb.fInX = line.flow == vkqt50::Flow::XonXoff;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = line.flow == vkqt50::Flow::Hardware;
    if (!SetDefaultCommConfigA(name.c_str(), reinterpret_cast<COMMCONFIG*>(buffer.data()), size)) {
        std::fprintf(stderr, "kqspool: cannot store the line settings of %s, error %u\n", port.c_str(),
                     GetLastError());
        return false;
    }
    return true;
}

StallWatch::StallWatch(std::optional<unsigned> timeout, std::function<bool()> interrupted)
    : timeout_(timeout), interrupted_(std::move(interrupted)) {
    control::SetPortStallHandler([this](const std::string& port, DWORD ms) { return Stalled(port, ms); });
}

StallWatch::~StallWatch() {
    control::SetPortStallHandler(nullptr);
}

void StallWatch::SetJob(const std::string& job) {
    job_ = job;
}

bool StallWatch::TakeGaveUp(unsigned* seconds) {
    *seconds = gaveUpAfter_;
    return gaveUp_.exchange(false);
}

bool StallWatch::Stalled(const std::string& port, DWORD ms) {
    const unsigned seconds = ms / 1000;
    if (seconds < said_) {
        said_ = 0; // a new wait
    }
    if (gaveUp_ || (interrupted_ && interrupted_())) {
        return false; // given up on the job already (the cancel is the interrupt watch's to report)
    }
    if (timeout_ && seconds >= *timeout_) {
        gaveUpAfter_ = seconds;
        gaveUp_ = true;
        control::CancelRunningJob(); // the copies still to come would only wait as long again
        return false;
    }
    if (seconds >= kFirstSay && (said_ == 0 || seconds >= said_ + kSayEvery)) {
        said_ = seconds;
        const std::string limit =
            timeout_ ? "gives up after " + std::to_string(*timeout_) + " s" : std::string("Ctrl-C cancels");
        std::fprintf(
            stderr,
            "kqspool: %s: the printer on %s has taken no data for %u s: waiting (out of paper, cover "
            "open or off line?); %s\n",
            job_.c_str(), port.c_str(), seconds, limit.c_str());
    }
    return true;
}

StatusReplies AskStatus(unsigned wait) {
    StatusReplies out;
    std::u16string name;
    for (const char c : std::string(kPortName) + ", Port") {
        name += static_cast<char16_t>(c);
    }
    HANDLE h = nullptr;
    if (!OpenPrinterW(name.data(), &h, nullptr)) {
        std::fprintf(stderr, "kqspool: status: cannot open %s, error %u\n", kPortName, GetLastError());
        return out;
    }
    std::u16string doc = u"status";
    std::u16string datatype = u"RAW";
    DOC_INFO_1W info{doc.data(), nullptr, datatype.data()};
    if (!StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&info))) {
        std::fprintf(stderr, "kqspool: status: cannot open the printer's port %s, error %u\n", kPortName,
                     GetLastError());
        ClosePrinter(h);
        return out;
    }
    out.portOpened = true;
    BYTE request[3 * 4];
    for (int n = 1; n <= 4; ++n) {
        request[3 * (n - 1)] = 0x10; // DLE EOT n
        request[3 * (n - 1) + 1] = 0x04;
        request[3 * (n - 1) + 2] = static_cast<BYTE>(n);
    }
    DWORD written = 0;
    if (WritePrinter(h, request, sizeof(request), &written) && written == sizeof(request)) {
        // the replies, as they come; XON, XOFF and what else the printer says are not replies
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait);
        while (out.answered < 4 && std::chrono::steady_clock::now() < deadline) {
            BYTE buffer[64];
            DWORD read = 0;
            if (!ReadPrinter(h, buffer, sizeof(buffer), &read)) {
                std::fprintf(stderr, "kqspool: status: the port cannot be read, error %u\n", GetLastError());
                break;
            }
            for (DWORD i = 0; i < read && out.answered < 4; ++i) {
                if (escpos::IsRealTimeStatus(buffer[i])) {
                    out.bytes[out.answered++] = buffer[i];
                }
            }
        }
    } else {
        std::fprintf(stderr, "kqspool: status: the printer did not take the request, error %u\n",
                     GetLastError());
    }
    EndDocPrinter(h);
    ClosePrinter(h);
    return out;
}

int StatusExit(const escpos::Conditions& c) {
    if (c.Error()) {
        return kStatusError;
    }
    if (c.coverOpen) {
        return kStatusCoverOpen;
    }
    if (c.paperOut) {
        return kStatusPaperOut;
    }
    if (c.Offline()) {
        return kStatusOffline;
    }
    return c.paperNearEnd ? kStatusNearEnd : kAllPrinted;
}

} // namespace kqspool
