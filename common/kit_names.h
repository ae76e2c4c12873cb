// The names by which the spooler, the INF files and the installer know the kit's parts. The deliverables
// never call each other: these names are all that crosses between them.
#pragma once

namespace kqkit {

// The printer, and its driver (the model): the installer's string IDS_PRINTER_NAME holds the same text.
inline constexpr char kPrinterName[] = "KQT-50 Receipt";
// The word in the name of every printer of the model.
inline constexpr char kModelWord[] = "KQT-50";

inline constexpr char kProcessorName[] = "KQPRINT";
inline constexpr char kProcessorFile[] = "KQPRINT.DLL";

// The language monitor, under the name that the INF files register and the remove sequence deletes.
inline constexpr char kMonitorName[] = "ZIDERIVAR";
inline constexpr char kMonitorFile[] = "KQMON.DLL";

// The only datatype of the printer and its print processor.
inline constexpr char kDatatype[] = "RAW";

// The spooler's environments: Windows 98/ME, the 32-bit NT family, and 64-bit Windows.
inline constexpr char kEnvironment9x[] = "Windows 4.0";
inline constexpr char kEnvironmentNtX86[] = "Windows NT x86";
inline constexpr char kEnvironmentX64[] = "Windows x64";

// The 64-bit installer, beside the 32-bit KqtSetup.exe in the kit folder: the one that installs the kit on
// 64-bit Windows.
inline constexpr char kSetup64File[] = "KqtSetup64.exe";

} // namespace kqkit
