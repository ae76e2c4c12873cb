// The way in of the spoolers of Windows 2000 and later: InitializePrintMonitor2 makes a monitor instance
// whose MONITOR2 the spooler keeps, and the port monitor's MONITOR2 and instance arrive at port open;
// port and printer names are UTF-16.
#include "monitor.h"

#include "readable_memory.h"

#include <winsplp.h>

#include <cstddef>
#include <cstring>

namespace kqmon {
namespace {

// One monitor instance; its handle is the record's address. A spooler (one per cluster node) makes one
// for itself and ends it with Shutdown.
struct MonitorInstance {
    MONITOR2 table;
    char signature[4]; // "KQMI" while the instance lives
};
constexpr char kInstanceSignature[4] = {'K', 'Q', 'M', 'I'};

// The table as Windows XP has it; the build asks for that Windows' headers.
static_assert(sizeof(MONITOR2) == offsetof(MONITOR2, pfnSendRecvBidiDataFromPort) + sizeof(void*),
              "MONITOR2 ends where Windows XP's does");

// The table grew after Windows 2000, whose spooler takes only the size it knows. The version comes from
// GetVersionExA: VerifyVersionInfo is not in the kernel of Windows 98/ME, where this DLL must load too.
DWORD TableSize() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    const bool windows2000 = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                             version.dwMajorVersion == 5 && version.dwMinorVersion == 0;
    return windows2000 ? MONITOR2_SIZE_WIN2K : sizeof(MONITOR2);
}

// Whether a port monitor's table reaches as far as the entries a port open takes from it.
bool CoversPortOperations(const MONITOR2& table) {
    return table.cbSize >= offsetof(MONITOR2, pfnClosePort) + sizeof(table.pfnClosePort);
}

MonitorInstance* ValidateInstance(HANDLE monitor) {
    if (!monitor || reinterpret_cast<uintptr_t>(monitor) % alignof(MonitorInstance) != 0 ||
        !kqkit::IsReadable(monitor, sizeof(MonitorInstance))) {
        return nullptr;
    }
    auto* instance = static_cast<MonitorInstance*>(monitor);
    char signature[sizeof(kInstanceSignature)];
    std::memcpy(signature, instance->signature, sizeof(signature));
    return std::memcmp(signature, kInstanceSignature, sizeof(signature)) == 0 ? instance : nullptr;
}

} // namespace
} // namespace kqmon

using namespace kqmon;

extern "C" {

// The monitor's own instance handle comes first; the monitor keeps nothing per instance that a port needs.
BOOL WINAPI KQMonOpenPortExW(HANDLE, HANDLE portMonitor, LPWSTR portName, LPWSTR, PHANDLE port,
                             MONITOR2* lower) {
    PortMonitor below;
    const bool usable = lower && CoversPortOperations(*lower);
    if (usable) {
        below.open2 = lower->pfnOpenPort;
        below.instance = portMonitor;
        below.ops.startDocW = lower->pfnStartDocPort;
        TakeNamelessOperations(*lower, &below.ops);
    }
    return OpenPort(WideName(portName), usable ? &below : nullptr, port);
}

BOOL WINAPI KQMonStartDocPortW(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    return StartDoc(port, WideName(printerName), jobId, level, docInfo);
}

VOID WINAPI KQMonShutdown(HANDLE monitor) {
    DebugTrace(kTraceProgress, "KQMonShutdown()\n");
    if (MonitorInstance* instance = ValidateInstance(monitor)) {
        std::memset(instance->signature, 0, sizeof(instance->signature));
        GlobalFree(instance);
    }
}

LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
    // the spooler hands over its registry root as a key, not as a name
    DebugTrace(kTraceProgress, "InitializePrintMonitor(%s)\n", "");
    if (!init || !monitor || init->cbSize < offsetof(MONITORINIT, pMonitorReg) || !init->hckRegistryRoot) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* instance = static_cast<MonitorInstance*>(GlobalAlloc(GPTR, sizeof(MonitorInstance)));
    if (!instance) {
        DebugTrace(kTraceError, "Kqmon: no mem\n");
        return nullptr;
    }
    MONITOR2& table = instance->table;
    table.cbSize = TableSize();
    table.pfnOpenPortEx = KQMonOpenPortExW;
    table.pfnStartDocPort = KQMonStartDocPortW;
    FillNamelessOperations(table);
    table.pfnShutdown = KQMonShutdown;
    std::memcpy(instance->signature, kInstanceSignature, sizeof(kInstanceSignature));
    *monitor = instance;
    return &table;
}

} // extern "C"
