// The kit registered with the spooler as Windows 98/ME needs it once the Chicago INF has copied the files:
// the driver, the language monitor, the print processor and the printer, through the spooler's own 8-bit
// calls. The installer's Windows 98/ME path and kqspool both set a printer up this way; each decides for
// itself what a failed step means.
#pragma once

#include "kit_names.h"

#include <windows.h>
#include <winspool.h>

#include <string>

namespace kqkit {

// One spooler call: whether it succeeded, and the thread's last error right after it.
struct SpoolerCall {
    bool ok = false;
    DWORD error = 0;
};

// The steps of the registration, in the order they run.
enum class Step9x { Driver, Monitor, PrintProcessor, Printer };

struct Registered9x {
    Step9x last; // the step that ran last
    SpoolerCall call;
};

namespace register9x {

// The 8-bit spooler calls take LPSTR, and only read it.
inline LPSTR In(LPCSTR text) {
    return const_cast<LPSTR>(text);
}

inline SpoolerCall Call(BOOL ok) {
    const DWORD error = GetLastError();
    return {ok != FALSE, error};
}

// Each name ended by a zero byte, and one more after the last (the literal's own).
inline constexpr char kDependentFiles[] = "UNIDRV.DLL\0UNIDRV.HLP\0ICONLIB.DLL\0";
inline constexpr char kHelpFile[] = "UNIDRV.HLP";

} // namespace register9x

// Registers on the local spooler, for "Windows 4.0", one step after the other:
//  - Driver: the driver `printerName` at level 3: version 0x570; the system directory's "kqt50.drv" as
//    driver, data and configuration file; help file "UNIDRV.HLP"; dependent files "UNIDRV.DLL",
//    "UNIDRV.HLP", "ICONLIB.DLL"; the kit's monitor; datatype RAW.
//  - Monitor: the kit's monitor from KQMON.DLL, at level 2.
//  - PrintProcessor: KQPRINT from KQPRINT.DLL.
//  - Printer: the printer `printerName` on `port` at level 2, with the driver `printerName`, the print
//    processor KQPRINT, datatype RAW and bidirectional mode (0x800); its handle is closed at once.
// The driver names the monitor by the name the monitor is registered under, so that the spooler sends the
// printer's jobs through it. After each step `goOn(step, call)` says whether the next one runs.
template <typename GoOn> Registered9x Register9x(LPCSTR printerName, LPCSTR port, GoOn&& goOn) {
    using register9x::In;

    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string driverPath = std::string(system) + "\\kqt50.drv";
    DRIVER_INFO_3A driver = {};
    driver.cVersion = 0x570;
    driver.pName = In(printerName);
    driver.pEnvironment = In(kEnvironment9x);
    driver.pDriverPath = In(driverPath.c_str());
    driver.pDataFile = driver.pDriverPath;
    driver.pConfigFile = driver.pDriverPath;
    driver.pHelpFile = In(register9x::kHelpFile);
    driver.pDependentFiles = In(register9x::kDependentFiles);
    driver.pMonitorName = In(kMonitorName);
    driver.pDefaultDataType = In(kDatatype);
    Registered9x step{Step9x::Driver,
                      register9x::Call(AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)))};
    if (!goOn(step.last, step.call)) {
        return step;
    }

    MONITOR_INFO_2A monitor = {In(kMonitorName), In(kEnvironment9x), In(kMonitorFile)};
    step = {Step9x::Monitor, register9x::Call(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor)))};
    if (!goOn(step.last, step.call)) {
        return step;
    }

    step = {Step9x::PrintProcessor,
            register9x::Call(
                AddPrintProcessorA(nullptr, In(kEnvironment9x), In(kProcessorFile), In(kProcessorName)))};
    if (!goOn(step.last, step.call)) {
        return step;
    }

    PRINTER_INFO_2A printer = {};
    printer.pPrinterName = In(printerName);
    printer.pPortName = In(port);
    printer.pDriverName = In(printerName);
    printer.pPrintProcessor = In(kProcessorName);
    printer.pDatatype = In(kDatatype);
    printer.Attributes = PRINTER_ATTRIBUTE_ENABLE_BIDI;
    const HANDLE added = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&printer));
    step = {Step9x::Printer, register9x::Call(added != nullptr)};
    if (added) {
        ClosePrinter(added);
    }
    goOn(step.last, step.call);
    return step;
}

} // namespace kqkit
