// Sets up the KQT-50 printer on the simulated machine the way the installer does on Windows 98/ME, unless
// it is there already (set up by an earlier run, or installed by KqtSetup).
#pragma once

#include "kit_names.h"

#include <string>

namespace kqspool {

using kqkit::kPrinterName;
inline constexpr char kPortName[] = "COM1:";
// The language monitor as kqspool's reports name it: by the kit's monitor, KQMON, whatever name the
// spooler registers it under.
inline constexpr char kMonitorName[] = "KQMON";

struct SetupResult {
    bool ok = false;
    std::string error;
};

// Whether the machine has the printer.
bool PrinterInstalled();

// A machine without the printer gets the kit's libraries from `libDir` and the registrations of driver,
// monitor, print processor and printer. On a machine that has it, only the library files already in place
// are replaced by the ones in `libDir` (so that a rebuilt library is used): nothing is added.
SetupResult EnsurePrinter(const std::string& libDir);

} // namespace kqspool
