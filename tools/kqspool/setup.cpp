#include "setup.h"

#include "register_9x.h"

#include <windows.h>
#include <winspool.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace kqspool {
namespace {

std::string ErrorText(const char* what, DWORD error) {
    return std::string(what) + " failed, error " + std::to_string(error);
}

std::string LastErrorText(const char* what) {
    return ErrorText(what, GetLastError());
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

// Registers driver, monitor, print processor and printer as the installer does on Windows 98/ME. Without
// the monitor's library the monitor cannot be registered, and the printer prints without it.
bool InstallPrinter(bool withMonitor, std::string* error) {
    kqkit::Register9x(kPrinterName, kPortName, [&](kqkit::Step9x step, const kqkit::SpoolerCall& call) {
        switch (step) {
        case kqkit::Step9x::Driver:
            if (!call.ok) {
                *error = ErrorText("AddPrinterDriverA", call.error);
            }
            return call.ok;
        case kqkit::Step9x::Monitor:
            if (withMonitor && !call.ok && call.error != ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
                *error = ErrorText("AddMonitorA", call.error);
                return false;
            }
            return true;
        case kqkit::Step9x::PrintProcessor:
            return true; // not looked at: one left by an earlier set-up is there already
        case kqkit::Step9x::Printer:
            if (!call.ok) {
                *error = ErrorText("AddPrinterA", call.error);
            }
            return call.ok;
        }
        return false;
    });
    return error->empty();
}

// Replaces the library `file` wherever the machine keeps a copy of it: the print processor directories of
// the environments and the system directory.
bool RefreshInstalled(const std::string& built, const char* file, std::string* error) {
    std::vector<std::string> dirs{SystemDirectory()};
    for (const char* env : {kqkit::kEnvironment9x, kqkit::kEnvironmentNtX86, kqkit::kEnvironmentX64}) {
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

bool PrinterInstalled() {
    HANDLE h = nullptr;
    Text name(kPrinterName);
    if (!OpenPrinterA(name.get(), &h, nullptr)) {
        return false;
    }
    ClosePrinter(h);
    return true;
}

SetupResult EnsurePrinter(const std::string& libDir) {
    SetupResult result;
    const std::string processorLib = libDir + "/libkqprint.so";
    const std::string monitorLib = libDir + "/libkqmon.so";
    if (!Exists(processorLib)) {
        result.error = "the print processor library is not at " + processorLib + " (build the project first)";
        return result;
    }
    if (PrinterInstalled()) {
        result.ok = RefreshInstalled(processorLib, kqkit::kProcessorFile, &result.error) &&
                    (!Exists(monitorLib) || RefreshInstalled(monitorLib, kqkit::kMonitorFile, &result.error));
        return result;
    }
    char dir[MAX_PATH];
    DWORD needed = 0;
    Text env(kqkit::kEnvironment9x);
    if (!GetPrintProcessorDirectoryA(nullptr, env.get(), 1, reinterpret_cast<LPBYTE>(dir), sizeof(dir),
                                     &needed)) {
        result.error = LastErrorText("GetPrintProcessorDirectoryA");
        return result;
    }
    // The setup media would copy these; here they come from the build.
    if (!CopyFileA(processorLib.c_str(), (std::string(dir) + "\\" + kqkit::kProcessorFile).c_str(), FALSE)) {
        result.error = LastErrorText("copying the print processor");
        return result;
    }
    const bool withMonitor = Exists(monitorLib);
    if (withMonitor &&
        !CopyFileA(monitorLib.c_str(), (SystemDirectory() + "\\" + kqkit::kMonitorFile).c_str(), FALSE)) {
        result.error = LastErrorText("copying the language monitor");
        return result;
    }
    result.ok = InstallPrinter(withMonitor, &result.error);
    return result;
}

} // namespace kqspool
