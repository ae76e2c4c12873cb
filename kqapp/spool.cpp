#include "spool.h"

#include "setup.h"

#include "kqwin/tool_control.h"

#include <winspool.h>

#include <algorithm>
#include <optional>

namespace kqapp {
namespace {

namespace control = kqwin::control;

// The stand-in's spooler serves its one printer's port one document at a time.
std::mutex& SpoolerLock() {
    static std::mutex lock;
    return lock;
}

std::u16string Wide(const std::string& s) {
    std::u16string out;
    for (unsigned char c : s) {
        out.push_back(c < 0x80 ? char16_t(c) : u'?'); // document names are for people; the spooler wants UTF-16
    }
    return out;
}

} // namespace

bool PrepareMachine(const std::string& root, const std::string& libDir, std::string* error) {
    std::lock_guard lock(SpoolerLock());
    control::ResetMachine(root);
    const kqspool::SetupResult setup = kqspool::EnsurePrinter(libDir);
    if (!setup.ok) {
        *error = setup.error;
        return false;
    }
    if (!control::SetPrinterResolution(kqspool::kPrinterName, 203)) {
        *error = "cannot set the printer's resolution";
        return false;
    }
    return true;
}

SpoolDocument::SpoolDocument(const std::string& name, unsigned copies, PortDevice device)
    : lock_(SpoolerLock()) {
    // The port's bytes go to this document's device until the next document takes the port.
    control::PortSink sink;
    sink.write = [device](const BYTE* bytes, DWORD count, DWORD* sent) -> BOOL {
        if (device.write(bytes, count)) {
            *sent = count;
            return TRUE;
        }
        *sent = 0;
        if (device.cancelled && device.cancelled()) {
            control::CancelRunningJob(); // the processor stops at its next byte
        }
        return FALSE;
    };
    sink.read = [device](BYTE* buffer, DWORD size, DWORD* got) -> BOOL {
        *got = device.read ? DWORD(device.read(buffer, size)) : 0;
        return TRUE;
    };
    sink.endDoc = device.flush;
    control::SetPortSink(kqspool::kPortName, std::move(sink));

    std::u16string printer = Wide(kqspool::kPrinterName);
    DEVMODEW devmode{};
    devmode.dmSize = sizeof(devmode);
    devmode.dmFields = DM_COPIES;
    devmode.dmCopies = short(std::clamp(copies, 1u, 9999u));
    PRINTER_DEFAULTSW defaults{nullptr, &devmode, PRINTER_ACCESS_USE};
    if (!OpenPrinterW(printer.data(), &printer_, &defaults)) {
        printer_ = nullptr;
        error_ = "cannot open the printer \"" + std::string(kqspool::kPrinterName) + "\", error " +
                 std::to_string(GetLastError());
        return;
    }
    std::u16string document = Wide(name.empty() ? "job" : name);
    std::u16string datatype = u"RAW";
    DOC_INFO_1W info{document.data(), nullptr, datatype.data()};
    jobId_ = StartDocPrinterW(printer_, 1, reinterpret_cast<LPBYTE>(&info));
    if (jobId_ == 0) {
        error_ = "the spooler did not start the document, error " + std::to_string(GetLastError());
    }
}

SpoolDocument::~SpoolDocument() {
    if (printer_) {
        ClosePrinter(printer_); // a document never ended is no job
    }
}

bool SpoolDocument::Write(const uint8_t* bytes, size_t count) {
    if (!ok()) {
        return false;
    }
    while (count > 0) {
        const DWORD chunk = DWORD(std::min<size_t>(count, size_t{1} << 20));
        DWORD written = 0;
        if (!WritePrinter(printer_, const_cast<uint8_t*>(bytes), chunk, &written) || written != chunk) {
            error_ = "the spooler did not take the document, error " + std::to_string(GetLastError());
            return false;
        }
        spooled_ += chunk;
        bytes += chunk;
        count -= chunk;
    }
    return true;
}

Despooled SpoolDocument::End() {
    Despooled d;
    d.bytesIn = spooled_;
    if (!ok()) {
        d.error = error_;
        return d;
    }
    const bool ended = EndDocPrinter(printer_) != FALSE;
    const DWORD endError = GetLastError();
    ClosePrinter(printer_);
    printer_ = nullptr;
    const std::optional<control::JobOutcome> outcome = control::LastJobOutcome();
    if (!ended || !outcome || outcome->jobId != jobId_) {
        d.error = "the spooler did not print the document, error " + std::to_string(endError);
        return d;
    }
    d.cancelled = outcome->cancelled;
    d.bytesToPort = outcome->bytesToPort;
    for (const control::JobOutcome::PassRead& read : outcome->passReads) {
        d.passes.push_back({read.position, read.reachedEnd, outcome->cancelled, outcome->portFailed});
    }
    d.printed = outcome->processorLoaded && outcome->opened && outcome->printed && !outcome->portFailed;
    if (!d.printed) {
        d.error = outcome->error.empty() ? "the printer did not take every byte" : outcome->error;
    }
    return d;
}

} // namespace kqapp
