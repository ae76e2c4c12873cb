// Sets up the KQT-50 printer on the simulated machine the way the installer does on Windows 98/ME.
#pragma once

#include <string>

namespace kqspool {

inline constexpr char kPrinterName[] = "KQT-50 Receipt";
inline constexpr char kPortName[] = "COM1:";
inline constexpr char kProcessorName[] = "KQPRINT";
inline constexpr char kProcessorFile[] = "KQPRINT.DLL";
inline constexpr char kMonitorName[] = "KQMON";
inline constexpr char kMonitorFile[] = "KQMON.DLL";
inline constexpr char kEnvironment[] = "Windows 4.0";

struct SetupResult {
    bool ok = false;
    bool monitorInstalled = false;
    std::string error;
};

// Copies the kit's libraries from `libDir` into the machine (every time, so a rebuilt library is used)
// and registers driver, monitor, print processor and printer where they are missing.
SetupResult EnsurePrinter(const std::string& libDir);

} // namespace kqspool
