// KQMON.DLL in Wine's own spooler: added, listed, driven as far as Wine drives a language monitor, deleted.
//
//   wine_monitor_test <KQMON.DLL>
//
// Copies the DLL into the system directory and adds it with AddMonitorW as "ZIDERIVAR" for "Windows x64";
// EnumMonitorsW must list it; a RAW job is printed to a printer whose driver names the monitor, with
// bidirectional mode on; DeleteMonitorW removes it and EnumMonitorsW no longer lists it. The monitor's
// trace lines (its debugger output, seen here as the DBG_PRINTEXCEPTION_C that OutputDebugStringA raises)
// say which of its entries Wine called; each step prints one line on standard output. Exit status 0 when
// Wine drove the monitor as it is known to: initialisation through InitializePrintMonitor2 at AddMonitorW,
// Shutdown at DeleteMonitorW, and no port operation of the language monitor while printing (Wine sends a
// job straight to the port monitor of the printer's port and leaves the driver's monitor out).
// Wine's spooler runs inside this process.
#include <windows.h>
#include <winspool.h>

#include "wine_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const wchar_t kMonitorName[] = L"ZIDERIVAR";
const wchar_t kMonitorFile[] = L"KQMON.DLL";
const wchar_t kEnvironment[] = L"Windows x64";
const wchar_t kPrinterName[] = L"KQT-50 Monitor Test";
const wchar_t kDriverName[] = L"KQT-50 Monitor Test Driver";
const wchar_t kPort[] = L"C:\\kqmon-wine.out";
const wchar_t kCapture[] = L"C:\\kqt50mon.dat";

// The monitor's trace lines, in order, as its OutputDebugStringA raises them.
std::vector<std::string>& Trace() {
    static std::vector<std::string> lines;
    return lines;
}

LONG CALLBACK CollectDebugOutput(PEXCEPTION_POINTERS e) {
    const EXCEPTION_RECORD* r = e->ExceptionRecord;
    if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2 && r->ExceptionInformation[1]) {
        const char* text = reinterpret_cast<const char*>(r->ExceptionInformation[1]);
        const size_t length = std::min<size_t>(r->ExceptionInformation[0], 4096);
        Trace().emplace_back(text, strnlen(text, length));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// The trace lines since the last call, joined for one line of output.
std::string TakeTrace() {
    std::string joined;
    for (std::string line : Trace()) {
        line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
        joined += (joined.empty() ? "" : " | ") + line;
    }
    Trace().clear();
    return joined.empty() ? "(none)" : joined;
}

bool failed = false;

void Step(const char* what, bool ok, const std::string& trace) {
    std::printf("%s %s; monitor trace: %s\n", ok ? "ok:" : "FAIL:", what, trace.c_str());
    std::fflush(stdout);
    failed = failed || !ok;
}

using kqwine::Text;

// Whether EnumMonitorsW lists the monitor with its DLL.
bool Listed() {
    DWORD needed = 0;
    DWORD count = 0;
    EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + sizeof(MONITOR_INFO_2W));
    if (!EnumMonitorsW(nullptr, 2, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count)) {
        return false;
    }
    const auto* info = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (info[i].pName && lstrcmpiW(info[i].pName, kMonitorName) == 0) {
            return info[i].pDLLName && lstrcmpiW(info[i].pDLLName, kMonitorFile) == 0;
        }
    }
    return false;
}

bool CopyToSystem(const std::wstring& dll) {
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    return n > 0 && n < MAX_PATH && CopyFileW(dll.c_str(), (std::wstring(system) + L"\\" + kMonitorFile).c_str(), FALSE);
}

bool AddPrinterWithMonitor() {
    if (!kqwine::AddWineDriver(kDriverName, kMonitorName)) {
        return false;
    }
    Text name(kDriverName);
    Text raw(L"RAW");
    Text printer(kPrinterName);
    Text port(kPort);
    Text processor(L"winprint");
    PRINTER_INFO_2W info{};
    info.pPrinterName = printer.get();
    info.pPortName = port.get();
    info.pDriverName = name.get();
    info.pPrintProcessor = processor.get();
    info.pDatatype = raw.get();
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_ENABLE_BIDI;
    const HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!h) {
        return false;
    }
    ClosePrinter(h);
    return true;
}

bool PrintJob(const char* bytes) {
    Text name(kPrinterName);
    HANDLE h = nullptr;
    if (!OpenPrinterW(name.get(), &h, nullptr)) {
        return false;
    }
    Text doc(L"monitor test");
    Text raw(L"RAW");
    DOC_INFO_1W info{doc.get(), nullptr, raw.get()};
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(std::strlen(bytes));
    const bool ok = StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&info)) &&
                    WritePrinter(h, const_cast<char*>(bytes), size, &written) && written == size &&
                    EndDocPrinter(h);
    ClosePrinter(h);
    return ok;
}

std::string FileText(const wchar_t* path) {
    const HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return "(no file)";
    }
    char buffer[4096];
    DWORD got = 0;
    const BOOL ok = ReadFile(f, buffer, sizeof(buffer), &got, nullptr);
    CloseHandle(f);
    return ok ? std::string(buffer, got) : "(unreadable)";
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wine_monitor_test <KQMON.DLL>\n");
        return 2;
    }
    AddVectoredExceptionHandler(1, CollectDebugOutput);
    DeleteFileW(kPort);
    DeleteFileW(kCapture);
    if (!CopyToSystem(argv[1])) {
        std::fprintf(stderr, "wine_monitor_test: copying the DLL into the system directory failed, error %lu\n",
                     GetLastError());
        return 1;
    }

    Text name(kMonitorName);
    Text environment(kEnvironment);
    Text file(kMonitorFile);
    MONITOR_INFO_2W monitor{name.get(), environment.get(), file.get()};
    SetLastError(0);
    const BOOL added = AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor));
    const DWORD addError = GetLastError();
    const std::string addTrace = TakeTrace();
    Step(("AddMonitorW, error " + std::to_string(added ? 0 : addError)).c_str(), added, addTrace);
    Step("Wine initialised the monitor through InitializePrintMonitor2 at AddMonitorW",
         addTrace.find("InitializePrintMonitor()") != std::string::npos, addTrace);
    Step("EnumMonitorsW lists ZIDERIVAR with KQMON.DLL", Listed(), TakeTrace());

    DWORD needed = 0;
    DWORD count = 0;
    EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> ports(needed + 64);
    Step("EnumPortsW with the monitor loaded (it has no EnumPorts)",
         EnumPortsW(nullptr, 1, ports.data(), static_cast<DWORD>(ports.size()), &needed, &count) != FALSE,
         TakeTrace());

    const bool printerAdded = AddPrinterWithMonitor();
    Step("a printer whose driver names the monitor, bidirectional", printerAdded, TakeTrace());
    if (printerAdded) {
        const char job[] = "\x1b@receipt through the monitor\n";
        const bool printed = PrintJob(job);
        const std::string printTrace = TakeTrace();
        Step("the job reached the port", printed && FileText(kPort) == job, printTrace);
        // Known Wine limitation: the driver's language monitor is not in the job's path.
        Step("Wine left the language monitor out of the job (no port operation, no capture)",
             printTrace == "(none)" && FileText(kCapture) == "(no file)", printTrace);
        Text printer(kPrinterName);
        HANDLE h = nullptr;
        PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (OpenPrinterW(printer.get(), &h, &all)) {
            DeletePrinter(h);
            ClosePrinter(h);
        }
    }

    SetLastError(0);
    const BOOL deleted = DeleteMonitorW(nullptr, environment.get(), name.get());
    const DWORD deleteError = GetLastError();
    const std::string deleteTrace = TakeTrace();
    Step(("DeleteMonitorW, error " + std::to_string(deleted ? 0 : deleteError)).c_str(), deleted, deleteTrace);
    Step("Wine shut the monitor's instance down at DeleteMonitorW",
         deleteTrace.find("KQMonShutdown()") != std::string::npos, deleteTrace);
    Step("EnumMonitorsW no longer lists it", !Listed(), TakeTrace());
    return failed ? 1 : 0;
}
