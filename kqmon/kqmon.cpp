// The language monitor's entry points and port operations.
#include "kqmon.h"

#include "last_error.h"
#include "readable_memory.h"

#include <cstdarg>
#include <cstring>

namespace kqmon {
namespace {

LPCSTR TextOrEmpty(LPCSTR s) { return s ? s : ""; }

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

} // namespace kqmon

using namespace kqmon;

extern "C" {

BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) { return TRUE; }

BOOL WINAPI InitializeMonitorEx(LPSTR registryRoot, MONITORA* table) {
    DebugTrace(kTraceProgress, "InitializePrintMonitor(%s)\n", TextOrEmpty(registryRoot));
    if (!registryRoot || !*registryRoot || !table) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MONITORA filled{};
    filled.pfnOpenPortEx = KQMonOpenPortEx;
    filled.pfnStartDocPort = KQMonStartDocPort;
    filled.pfnWritePort = KQMonWritePort;
    filled.pfnReadPort = KQMonReadPort;
    filled.pfnEndDocPort = KQMonEndDocPort;
    filled.pfnClosePort = KQMonClosePort;
    *table = filled;
    return TRUE;
}

BOOL WINAPI KQMonOpenPortEx(LPSTR portName, LPSTR, PHANDLE port, MONITORA* lower) {
    DebugTrace(kTraceProgress, "KQMonOpenPortEx()\n");
    if (!lower || !lower->pfnOpenPort || !lower->pfnStartDocPort || !lower->pfnWritePort || !lower->pfnReadPort ||
        !lower->pfnClosePort) {
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
    BOOL result = lower->pfnOpenPort(portName, &ctx->lowerPort);
    if (!result) {
        DebugTrace(kTraceError, "kqmon: OpenPort %s : Failed\n", TextOrEmpty(portName));
    } else {
        std::memcpy(ctx->signature, kPortSignature, sizeof(kPortSignature));
        *port = ctx;
        ctx->lower = *lower;
    }
    DebugTrace(kTraceProgress, "KQMonOpenPortEx() ok?%d\n", result ? 1 : 0);
    if (!result) {
        kqkit::LastErrorKeeper keep;
        FreePort(ctx);
    }
    return result;
}

BOOL WINAPI KQMonStartDocPort(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    DebugTrace(kTraceProgress, "KQMonStartDocPort(level:%d)\n", static_cast<int>(level));
    if (!port || !docInfo || !printerName || !*printerName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PortContext* ctx = ValidatePort(port);
    if (!ctx) {
        return FALSE;
    }
    CloseDocument(*ctx); // a document that never ended leaves nothing behind
    BOOL result = FALSE;
    if (!OpenPrinterA(printerName, &ctx->printer, nullptr)) {
        const DWORD error = GetLastError();
        ctx->printer = nullptr;
        DebugTrace(kTraceError, "kqmon: OpenPrinter failed for %s last error %d\n", printerName,
                   static_cast<int>(error));
    } else {
        ctx->jobId = jobId;
        result = ctx->lower.pfnStartDocPort(ctx->lowerPort, printerName, jobId, level, docInfo);
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
    return ctx->lower.pfnWritePort(ctx->lowerPort, buffer, count, written);
}

BOOL WINAPI KQMonReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
    DebugTrace(kTraceProgress, "KQMonReadPort()\n");
    PortContext* ctx = ValidatePort(port);
    if (!ctx) {
        return FALSE;
    }
    return ctx->lower.pfnReadPort(ctx->lowerPort, buffer, size, read);
}

BOOL WINAPI KQMonEndDocPort(HANDLE port) {
    DebugTrace(kTraceProgress, "KQMonEndDocPort() \n");
    PortContext* ctx = ValidatePort(port);
    if (!ctx) {
        return FALSE;
    }
    if (ctx->lower.pfnEndDocPort) { // a port monitor may have none
        ctx->lower.pfnEndDocPort(ctx->lowerPort);
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
    if (ctx->lower.pfnClosePort) {
        ctx->lower.pfnClosePort(ctx->lowerPort);
    }
    CloseDocument(*ctx); // a port closed inside a document leaks nothing
    FreePort(ctx);
    return TRUE;
}

} // extern "C"
