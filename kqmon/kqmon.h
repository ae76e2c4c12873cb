// KQMON: the KQT-50 language monitor. It forwards every port operation to the port monitor below it and
// keeps a copy of each document's bytes in a capture file. What programs and tests that load the monitor,
// or look at its file, need of it.
#pragma once

namespace kqmon {

// Where every document's bytes are copied; one file for all ports.
constexpr char kCapturePath[] = "c:\\kqt50mon.dat";

// The monitor's two initialisations: the Windows 98/ME spooler calls the first (8-bit names, a 13-entry
// table), the spoolers of Windows 2000 and later the second (UTF-16 names, a MONITOR2).
constexpr char kEntry9x[] = "InitializeMonitorEx";
constexpr char kEntryNt[] = "InitializePrintMonitor2";

} // namespace kqmon
