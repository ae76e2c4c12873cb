// The Windows 98/ME spooler's way in: InitializeMonitorEx fills its 13-entry table, and the port monitor's
// table arrives at port open in the same form; port and printer names are 8-bit strings.
#include "monitor.h"

#include "winsplp_ansi.h"

using namespace kqmon;

extern "C" {

BOOL WINAPI KQMonOpenPortEx(LPSTR portName, LPSTR, PHANDLE port, MONITORA* lower) {
    PortMonitor below;
    if (lower) {
        below.openA = lower->pfnOpenPort;
        below.ops.startDocA = lower->pfnStartDocPort;
        TakeNamelessOperations(*lower, &below.ops);
    }
    return OpenPort(AnsiName(portName), lower ? &below : nullptr, port);
}

BOOL WINAPI KQMonStartDocPort(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    return StartDoc(port, AnsiName(printerName), jobId, level, docInfo);
}

BOOL WINAPI InitializeMonitorEx(LPSTR registryRoot, MONITORA* table) {
    DebugTrace(kTraceProgress, "InitializePrintMonitor(%s)\n", registryRoot ? registryRoot : "");
    if (!registryRoot || !*registryRoot || !table) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MONITORA filled{};
    filled.pfnOpenPortEx = KQMonOpenPortEx;
    filled.pfnStartDocPort = KQMonStartDocPort;
    FillNamelessOperations(filled);
    *table = filled;
    return TRUE;
}

} // extern "C"
