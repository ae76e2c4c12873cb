// The monitor's one implementation of its port operations, which both spoolers' entry layers call: the
// 98/ME spooler's (entry_9x.cpp, 8-bit names) and the NT spoolers' (entry_nt.cpp, UTF-16 names).
#pragma once

#include <windows.h>
#include <winspool.h>

#include "kqmon.h"

namespace kqmon {

// A port or printer name as the spooler passed it: 8-bit from the 98/ME spooler, UTF-16 from the NT
// spoolers.
struct SpoolerName {
    bool isWide = false;
    LPSTR ansi = nullptr;
    LPWSTR wide = nullptr;

    bool Empty() const { return isWide ? !wide || !*wide : !ansi || !*ansi; }
};
inline SpoolerName AnsiName(LPSTR name) { return {false, name, nullptr}; }
inline SpoolerName WideName(LPWSTR name) { return {true, nullptr, name}; }

// The port monitor's operations on an open port. StartDocPort comes in the form of the spooler that
// opened the port; the other form stays null.
struct PortMonitorOps {
    BOOL(WINAPI* startDocA)(HANDLE, LPSTR, DWORD, DWORD, LPBYTE) = nullptr;
    BOOL(WINAPI* startDocW)(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) = nullptr;
    BOOL(WINAPI* write)(HANDLE, LPBYTE, DWORD, LPDWORD) = nullptr;
    BOOL(WINAPI* read)(HANDLE, LPBYTE, DWORD, LPDWORD) = nullptr;
    BOOL(WINAPI* endDoc)(HANDLE) = nullptr;
    BOOL(WINAPI* close)(HANDLE) = nullptr;
};

// The port monitor below as the spooler handed it over at port open: its OpenPort in the form of its table
// (the NT table's takes the port monitor's instance handle first), and its per-port operations.
struct PortMonitor {
    BOOL(WINAPI* openA)(LPSTR, PHANDLE) = nullptr;
    BOOL(WINAPI* open2)(HANDLE, LPWSTR, PHANDLE) = nullptr;
    HANDLE instance = nullptr;
    PortMonitorOps ops;
};

// One open port; the monitor's port handle is its address.
struct PortContext {
    HANDLE lowerPort;   // the port monitor's handle, written by its OpenPort
    PortMonitorOps lower; // the port monitor's operations, copied at port open
    HANDLE printer;     // the document's printer, open from document start to document end
    DWORD jobId;
    HANDLE capture;     // the document's capture file; none when it could not be had
    char signature[4];  // "KQMP" while the port is open: tells a port handle from anything else
};

constexpr char kPortSignature[4] = {'K', 'Q', 'M', 'P'};
constexpr int kTraceProgress = 1;
constexpr int kTraceError = 3;

// Formats a trace line and hands it to the debugger output; the level travels with it, unfiltered.
int DebugTrace(int level, LPCSTR format, ...);

// A name as a trace line shows it: 8-bit as the spooler passed it, or converted from UTF-16 to the
// machine's code page (its first 255 characters). Leaves the last error as it was.
class TraceName {
  public:
    explicit TraceName(const SpoolerName& name);
    TraceName(const TraceName&) = delete;
    TraceName& operator=(const TraceName&) = delete;
    LPCSTR c_str() const { return text_; }

  private:
    char buffer_[512];
    LPCSTR text_;
};

// Opens the port through the port monitor below (none: the spooler handed over no usable table).
BOOL OpenPort(const SpoolerName& portName, const PortMonitor* below, PHANDLE port);
// Starts a document on an open port, with the printer opened by the name's own form.
BOOL StartDoc(HANDLE port, const SpoolerName& printerName, DWORD jobId, DWORD level, LPBYTE docInfo);

// Opens the capture file for a new document, emptied; INVALID_HANDLE_VALUE when it cannot be had safely.
HANDLE OpenCaptureFile(DWORD* error);

} // namespace kqmon

// The operations whose arguments carry no names: the same in both spoolers' tables.
extern "C" {
BOOL WINAPI DllEntryPoint(HINSTANCE module, DWORD reason, LPVOID reserved);
BOOL WINAPI KQMonWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
BOOL WINAPI KQMonReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read);
BOOL WINAPI KQMonEndDocPort(HANDLE port);
BOOL WINAPI KQMonClosePort(HANDLE port);
}

namespace kqmon {

// Puts the nameless operations into a spooler's table (MONITORA or MONITOR2).
template <class Table> void FillNamelessOperations(Table& table) {
    table.pfnWritePort = KQMonWritePort;
    table.pfnReadPort = KQMonReadPort;
    table.pfnEndDocPort = KQMonEndDocPort;
    table.pfnClosePort = KQMonClosePort;
}

// Takes the nameless operations from the port monitor's table, in either form.
template <class Table> void TakeNamelessOperations(const Table& table, PortMonitorOps* ops) {
    ops->write = table.pfnWritePort;
    ops->read = table.pfnReadPort;
    ops->endDoc = table.pfnEndDocPort;
    ops->close = table.pfnClosePort;
}

} // namespace kqmon
