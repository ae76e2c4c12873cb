#include "setup.h"

#include <windows.h>
#include <winspool.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace kqspool {
namespace {

std::string LastErrorText(const char* what) {
    return std::string(what) + " failed, error " + std::to_string(GetLastError());
}

bool Exists(const std::string& hostPath) {
    return access(hostPath.c_str(), R_OK) == 0;
}

// A writable copy of a constant string, for the 8-bit spooler calls that take LPSTR.
struct Text {
    explicit Text(const std::string& s) : bytes(s.begin(), s.end()) { bytes.push_back('\0'); }
    LPSTR get() { return bytes.data(); }
    std::vector<char> bytes;
};

std::string SystemDirectory() {
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, sizeof(system));
    return system;
}

bool PrinterInstalled() {
    HANDLE h = nullptr;
    Text name(kPrinterName);
    if (!OpenPrinterA(name.get(), &h, nullptr)) {
        return false;
    }
    ClosePrinter(h);
    return true;
}

bool InstallPrinter(bool withMonitor, std::string* error) {
    Text printer(kPrinterName);
    Text env(kEnvironment);
    Text system("C:\\WINDOWS\\SYSTEM32\\kqt50.drv");
    Text help("UNIDRV.HLP");
    std::vector<char> deps;
    for (const char* f : {"UNIDRV.DLL", "UNIDRV.HLP", "ICONLIB.DLL"}) {
        deps.insert(deps.end(), f, f + std::string(f).size() + 1);
    }
    deps.push_back('\0');
    Text monitor(kMonitorName);
    Text raw("RAW");
    DRIVER_INFO_3A driver{0x570,        printer.get(), env.get(),   system.get(),  system.get(),
                          system.get(), help.get(),    deps.data(), monitor.get(), raw.get()};
    if (!AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver))) {
        *error = LastErrorText("AddPrinterDriverA");
        return false;
    }
    if (withMonitor) {
        Text dll(kMonitorFile);
        MONITOR_INFO_2A info{monitor.get(), env.get(), dll.get()};
        if (!AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)) &&
            GetLastError() != ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
            *error = LastErrorText("AddMonitorA");
            return false;
        }
    }
    Text file(kProcessorFile);
    Text processor(kProcessorName);
    AddPrintProcessorA(nullptr, env.get(), file.get(), processor.get());
    Text port(kPortName);
    PRINTER_INFO_2A info{};
    info.pPrinterName = printer.get();
    info.pPortName = port.get();
    info.pDriverName = printer.get();
    info.pPrintProcessor = processor.get();
    info.pDatatype = raw.get();
    info.Attributes = PRINTER_ATTRIBUTE_ENABLE_BIDI | PRINTER_ATTRIBUTE_RAW_ONLY;
    HANDLE h = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!h) {
        *error = LastErrorText("AddPrinterA");
        return false;
    }
    ClosePrinter(h);
    return true;
}

// Replaces the library `file` wherever the machine keeps a copy of it: the print processor directories of
// both environments and the system directory.
bool RefreshInstalled(const std::string& built, const char* file, std::string* error) {
    std::vector<std::string> dirs{SystemDirectory()};
    for (const char* env : {"Windows 4.0", "Windows NT x86"}) {
        char dir[MAX_PATH];
        DWORD needed = 0;
        Text name(env);
        if (GetPrintProcessorDirectoryA(nullptr, name.get(), 1, reinterpret_cast<LPBYTE>(dir), sizeof(dir),
                                        &needed)) {
            dirs.emplace_back(dir);
        }
    }
    for (const std::string& dir : dirs) {
        const std::string target = dir + "\\" + file;
        if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
            !CopyFileA(built.c_str(), target.c_str(), FALSE)) {
            *error = LastErrorText(("replacing " + target).c_str());
            return false;
        }
    }
    return true;
}

} // namespace

SetupResult EnsurePrinter(const std::string& libDir) {
    SetupResult result;
    const std::string processorLib = libDir + "/libkqprint.so";
    const std::string monitorLib = libDir + "/libkqmon.so";
    if (!Exists(processorLib)) {
        result.error = "the print processor library is not at " + processorLib + " (build the project first)";
        return result;
    }
    if (PrinterInstalled()) {
        result.ok = RefreshInstalled(processorLib, kProcessorFile, &result.error) &&
                    (!Exists(monitorLib) || RefreshInstalled(monitorLib, kMonitorFile, &result.error));
        return result;
    }
    char dir[MAX_PATH];
    DWORD needed = 0;
    Text env(kEnvironment);
    if (!GetPrintProcessorDirectoryA(nullptr, env.get(), 1, reinterpret_cast<LPBYTE>(dir), sizeof(dir),
                                     &needed)) {
        result.error = LastErrorText("GetPrintProcessorDirectoryA");
        return result;
    }
    // The setup media would copy these; here they come from the build.
    if (!CopyFileA(processorLib.c_str(), (std::string(dir) + "\\" + kProcessorFile).c_str(), FALSE)) {
        result.error = LastErrorText("copying the print processor");
        return result;
    }
    const bool withMonitor = Exists(monitorLib);
    if (withMonitor &&
        !CopyFileA(monitorLib.c_str(), (SystemDirectory() + "\\" + kMonitorFile).c_str(), FALSE)) {
        result.error = LastErrorText("copying the language monitor");
        return result;
    }
    result.ok = InstallPrinter(withMonitor, &result.error);
    return result;
}

} // namespace kqspool
