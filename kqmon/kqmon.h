// KQMON: the KQT-50 language monitor. It forwards every port operation to the port monitor below it and
// keeps a copy of each document's bytes in a capture file.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "winsplp_ansi.h"

namespace kqmon {

// One open port; the monitor's port handle is its address.
struct PortContext {
    HANDLE lowerPort;   // the port monitor's handle, written by its OpenPort
    MONITORA lower;     // the port monitor's table, copied at port open
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

// Where every document's bytes are copied; one file for all ports.
constexpr char kCapturePath[] = "c:\\kqt50mon.dat";

// Opens the capture file for a new document, emptied; INVALID_HANDLE_VALUE when it cannot be had safely.
HANDLE OpenCaptureFile(DWORD* error);

} // namespace kqmon

extern "C" {
BOOL WINAPI InitializeMonitorEx(LPSTR registryRoot, MONITORA* table);
BOOL WINAPI DllEntryPoint(HINSTANCE module, DWORD reason, LPVOID reserved);
BOOL WINAPI KQMonOpenPortEx(LPSTR portName, LPSTR printerName, PHANDLE port, MONITORA* lower);
BOOL WINAPI KQMonStartDocPort(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
BOOL WINAPI KQMonWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
BOOL WINAPI KQMonReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read);
BOOL WINAPI KQMonEndDocPort(HANDLE port);
BOOL WINAPI KQMonClosePort(HANDLE port);
}
