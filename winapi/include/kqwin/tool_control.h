// Control of the stand-in Windows for tools (kqspool, kqapp) and tests alike: which simulated machine runs and
// which Windows it plays, where its ports' bytes go (or the program that serves a port), a printer's
// resolution, what the last job did, and watching or cancelling a job.
// Nothing here breaks the machine on purpose: faults and recordings are in test_control.h, for tests only.
// Product code never includes this header.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kqwin::control {

// Points a fresh simulated machine at a folder: registry, spooler registrations and files live below it.
// Clears every fault, hook, recording and spooled job of the previous machine.
KQWIN_API void ResetMachine(const std::string& root);
// The folder of the current machine (KQT50_ROOT, or a per-user default, until ResetMachine is called).
KQWIN_API std::string MachineRoot();
// Host path of a Windows path on this machine ("c:\\x.dat" -> "<root>/c/x.dat").
KQWIN_API std::string HostPath(const std::string& windowsPath);

// Where the local port monitor sends a port's bytes: a host path, "-" for standard output, or
// socket://HOST:PORT for a printer on a raw TCP port. A host path that is a terminal (a serial device, a
// pseudo-terminal) gets a COM port's stored line settings (GetDefaultCommConfigA) at each document's start,
// and what the printer sends back is read with ReadPrinter on the port. The targets are the string values,
// one per port name, of this key below HKEY_LOCAL_MACHINE.
inline constexpr char kPortTargetKey[] = "SOFTWARE\\KQT50 Stand-in\\Ports";
KQWIN_API void SetPortTarget(const std::string& port, const std::string& hostPath);
KQWIN_API std::string PortTarget(const std::string& port);

// A port that the program serves itself, in place of the port's file or device: the local port monitor hands
// the port's bytes to `write` and takes what the printer says back (ReadPort) from `read`. Both are called on
// the thread that prints the document; either may wait for the device.
struct PortSink {
    // Sends up to `count` bytes and sets `*sent` to how many went; FALSE when the device failed.
    std::function<BOOL(const BYTE* bytes, DWORD count, DWORD* sent)> write;
    // Gives up to `size` bytes that the device sent and sets `*got` (0: nothing to say); FALSE on failure.
    std::function<BOOL(BYTE* buffer, DWORD size, DWORD* got)> read;
    // The port's document ends (EndDocPort): a sink that holds bytes back sends them now. May be empty.
    std::function<void()> endDoc;
};
// Serves `port` with `sink` until the machine is reset; a sink without `write` gives the port back.
KQWIN_API void SetPortSink(const std::string& port, PortSink sink);

// The Windows the machine runs, as GetVersionExA reports it to every program on the machine (default:
// VER_PLATFORM_WIN32_NT 5.1, Windows XP; 5.0 is Windows 2000). 4.10 and 4.90 on VER_PLATFORM_WIN32_WINDOWS
// are Windows 98 and ME. The spooler plays the platform: where it keeps its files, and how it calls a
// language monitor. PROCESSOR_ARCHITECTURE_AMD64 makes it 64-bit Windows: its spooler's environment is
// "Windows x64" and loads only x64 modules, and a program whose file is a 32-bit image runs there under
// WOW64 (IsWow64Process). Windows 98 and ME are x86 whatever is asked.
KQWIN_API void SetWindowsVersion(DWORD platformId, DWORD major, DWORD minor,
                                 WORD architecture = PROCESSOR_ARCHITECTURE_INTEL);

// A printer's vertical resolution in dots per inch, as CreateDC reports it to the print processor.
KQWIN_API bool SetPrinterResolution(const std::string& printer, int verticalDpi);

// Streams each print processor write to a callback instead of keeping it (for traces of long jobs).
KQWIN_API void SetWriteObserver(std::function<void(const BYTE* bytes, DWORD count, DWORD accepted)> observer);
// While a port's device takes no data (a printer out of paper, off line, holding the sender off), the local
// port monitor waits, and calls `handler` about once a second with the port's name and the milliseconds it
// has waited; `handler` returns false to give up (the write fails with ERROR_TIMEOUT). Without a handler
// it waits for as long as it takes. Null removes the handler.
KQWIN_API void SetPortStallHandler(std::function<bool(const std::string& port, DWORD stalled)> handler);
// Also echo debugger output to standard error (also on when KQT50_DEBUG is set).
KQWIN_API void EchoDebugOutput(bool on);

// What happened to the last job that the spooler ran.
struct JobOutcome {
    DWORD jobId = 0;
    bool processorLoaded = false; // DLL found, exports resolved, datatype accepted
    bool opened = false;          // OpenPrintProcessor gave a handle
    BOOL printed = FALSE;         // PrintDocumentOnPrintProcessor's result
    DWORD printError = 0;         // last error after a failed print
    BOOL closed = FALSE;          // ClosePrintProcessor's result
    uint64_t bytesIn = 0;         // bytes spooled
    uint64_t bytesOffered = 0;    // bytes the print processor wrote
    uint64_t bytesToPort = 0;     // bytes the port took
    uint64_t writes = 0;          // WritePrinter calls of the print processor
    bool portFailed = false;      // a port operation failed or took part of a write
    bool viaMonitor = false;      // output went through a language monitor
    std::string monitorEntry;     // through which initialisation the spooler called it (InitializeMonitorEx,
                                  // InitializePrintMonitor2)
    std::string error;            // what went wrong, for people
    // Each time the print processor opened the job for reading (once per copy pass), in order: how far it
    // had read when it closed the job again, and whether a read asked for more than was left.
    struct PassRead {
        uint64_t position = 0;
        bool reachedEnd = false;
    };
    std::vector<PassRead> passReads;
    bool cancelled = false; // a cancel was sent to the print processor while it printed the job
};
KQWIN_API std::optional<JobOutcome> LastJobOutcome();
// Sends a cancel to the print processor of the job that the spooler runs now, as the spooler does when a
// user deletes a printing job (ControlPrintProcessor with JOB_CONTROL_CANCEL), from any thread. False when
// no job is running.
KQWIN_API bool CancelRunningJob();

} // namespace kqwin::control
