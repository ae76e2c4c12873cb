// The language monitor's port operations, one implementation for both spoolers: port open and document
// start take the name in the form their entry layer was given; writes, reads, document end and port close
// carry no names and are the tables' entries themselves.
#include "monitor.h"

#include "last_error.h"
#include "readable_memory.h"

#include <cstdarg>
#include <cstring>

namespace kqmon {
namespace {

// The port record behind a handle, or none (last error 6) for anything that is not an open port.
PortContext* ValidatePort(HANDLE port) {
    if (!port || reinterpret_cast<uintptr_t>(port) % alignof(PortContext) != 0 ||
        !kqkit::IsReadable(port, sizeof(PortContext))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto* ctx = static_cast<PortContext*>(port);
    char signature[sizeof(kPortSignature)];
    std::memcpy(signature, ctx->signature, sizeof(signature));
    if (std::memcmp(signature, kPortSignature, sizeof(signature)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return ctx;
}

bool HasCapture(const PortContext& ctx) { return ctx.capture && ctx.capture != INVALID_HANDLE_VALUE; }

// Ends what a document left open: its printer handle and its capture file.
void CloseDocument(PortContext& ctx) {
    kqkit::LastErrorKeeper keep;
    if (ctx.printer) {
        ClosePrinter(ctx.printer);
        ctx.printer = nullptr;
    }
    if (HasCapture(ctx)) {
        CloseHandle(ctx.capture);
    }
    ctx.capture = nullptr;
}

void FreePort(PortContext* ctx) {
    std::memset(ctx->signature, 0, sizeof(ctx->signature));
    GlobalFree(ctx);
}

// What a port open needs of the port monitor: a way to open the port and every operation but EndDocPort.
bool Usable(const PortMonitor* below) {
    return below && (below->openA || below->open2) && (below->ops.startDocA || below->ops.startDocW) &&
           below->ops.write && below->ops.read && below->ops.close;
}

BOOL OpenBelow(const PortMonitor& below, const SpoolerName& name, PHANDLE lowerPort) {
    return below.openA ? below.openA(name.ansi, lowerPort) : below.open2(below.instance, name.wide, lowerPort);
}

} // namespace

int DebugTrace(int level, LPCSTR format, ...) {
    (void)level; // every line is written, whatever its level
    kqkit::LastErrorKeeper keep;
    char text[4096];
    va_list args;
    va_start(args, format);
    wvsprintfA(text, format, args);
    va_end(args);
    OutputDebugStringA(text);
    return 1;
}

TraceName::TraceName(const SpoolerName& name) : buffer_{}, text_(buffer_) {
    if (!name.isWide) {
        text_ = name.ansi ? name.ansi : "";
        return;
    }
    if (!name.wide) {
        return;
    }
    kqkit::LastErrorKeeper keep;
    // a code page takes at most two bytes for a UTF-16 unit: 255 of them and the end fit the buffer
    const int length = lstrlenW(name.wide);
    const int converted = WideCharToMultiByte(CP_ACP, 0, name.wide, length < 255 ? length : 255, buffer_,
                                              sizeof(buffer_) - 1, nullptr, nullptr);
    buffer_[converted > 0 ? converted : 0] = '\0';
}

BOOL OpenPort(const SpoolerName& portName, const PortMonitor* below, PHANDLE port) {
    DebugTrace(kTraceProgress, "KQMonOpenPortEx()\n");
    if (!Usable(below)) {
        DebugTrace(kTraceError, "Kqmon: Invalid port monitors passed to OpenPortEx\n");
        SetLastError(ERROR_INVALID_PRINT_MONITOR);
        DebugTrace(kTraceProgress, "KQMonOpenPortEx() ok?%d\n", 0);
        return FALSE;
    }
    if (!port) {
        SetLastError(ERROR_INVALID_PARAMETER);
        DebugTrace(kTraceProgress, "KQMonOpenPortEx() ok?%d\n", 0);
        return FALSE;
    }
    auto* ctx = static_cast<PortContext*>(GlobalAlloc(GPTR, sizeof(PortContext)));
    if (!ctx) {
        DebugTrace(kTraceError, "Kqmon: no mem\n");
        return FALSE;
    }
    const BOOL result = OpenBelow(*below, portName, &ctx->lowerPort);
    if (!result) {
        DebugTrace(kTraceError, "kqmon: OpenPort %s : Failed\n", TraceName(portName).c_str());
    } else {
        std::memcpy(ctx->signature, kPortSignature, sizeof(kPortSignature));
        *port = ctx;
        ctx->lower = below->ops;
    }
    DebugTrace(kTraceProgress, "KQMonOpenPortEx() ok?%d\n", result ? 1 : 0);
    if (!result) {
        kqkit::LastErrorKeeper keep;
        FreePort(ctx);
    }
    return result;
}

BOOL StartDoc(HANDLE port, const SpoolerName& printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    DebugTrace(kTraceProgress, "KQMonStartDocPort(level:%d)\n", static_cast<int>(level));
    if (!port || !docInfo || printerName.Empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PortContext* ctx = ValidatePort(port);
    if (!ctx) {
        return FALSE;
    }
    // a port takes its documents from the spooler that opened it, in that spooler's form of names
    const bool wide = printerName.isWide;
    if (wide ? !ctx->lower.startDocW : !ctx->lower.startDocA) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    CloseDocument(*ctx); // a document that never ended leaves nothing behind
    BOOL result = FALSE;
    const BOOL opened = wide ? OpenPrinterW(printerName.wide, &ctx->printer, nullptr)
                             : OpenPrinterA(printerName.ansi, &ctx->printer, nullptr);
    if (!opened) {
        const DWORD error = GetLastError();
        ctx->printer = nullptr;
        DebugTrace(kTraceError, "kqmon: OpenPrinter failed for %s last error %d\n", TraceName(printerName).c_str(),
                   static_cast<int>(error));
    } else {
        ctx->jobId = jobId;
        result = wide ? ctx->lower.startDocW(ctx->lowerPort, printerName.wide, jobId, level, docInfo)
                      : ctx->lower.startDocA(ctx->lowerPort, printerName.ansi, jobId, level, docInfo);
        if (result) {
            DWORD error = 0;
            ctx->capture = OpenCaptureFile(&error);
            if (ctx->capture == INVALID_HANDLE_VALUE) {
                DebugTrace(kTraceError, "kqmon: capture skipped for job %d, error %d\n", static_cast<int>(jobId),
                           static_cast<int>(error));
            }
        } else {
            CloseDocument(*ctx); // the document did not start: its printer handle goes now
        }
    }
    DebugTrace(kTraceProgress, "KQMonStartDocPort() ok?%d\n", result ? 1 : 0);
    return result;
}

} // namespace kqmon

using namespace kqmon;

extern "C" {

BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) { return TRUE; }

BOOL WINAPI KQMonWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
    DebugTrace(kTraceProgress, "KQMonWritePort() %d bytes\n", static_cast<int>(count));
    PortContext* ctx = ValidatePort(port);
    if (!ctx) {
        return FALSE;
    }
    if (HasCapture(*ctx) && buffer && count) {
        kqkit::LastErrorKeeper keep; // the copy never changes what the port reports
        DWORD copied = 0;
        WriteFile(ctx->capture, buffer, count, &copied, nullptr);
    }
    return ctx->lower.write(ctx->lowerPort, buffer, count, written);
}

BOOL WINAPI KQMonReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
    DebugTrace(kTraceProgress, "KQMonReadPort()\n");
    PortContext* ctx = ValidatePort(port);
    if (!ctx) {
        return FALSE;
    }
    return ctx->lower.read(ctx->lowerPort, buffer, size, read);
}

BOOL WINAPI KQMonEndDocPort(HANDLE port) {
    DebugTrace(kTraceProgress, "KQMonEndDocPort() \n");
    PortContext* ctx = ValidatePort(port);
    if (!ctx) {
        return FALSE;
    }
    if (ctx->lower.endDoc) { // a port monitor may have none
        ctx->lower.endDoc(ctx->lowerPort);
    }
    CloseDocument(*ctx);
    return TRUE;
}

BOOL WINAPI KQMonClosePort(HANDLE port) {
    DebugTrace(kTraceProgress, "KQMonClosePort()\n");
    PortContext* ctx = ValidatePort(port);
    if (!ctx) {
        return FALSE;
    }
    if (ctx->lower.close) {
        ctx->lower.close(ctx->lowerPort);
    }
    CloseDocument(*ctx); // a port closed inside a document leaks nothing
    FreePort(ctx);
    return TRUE;
}

} // extern "C"
