// KQMON: the KQT-50 language monitor. It forwards every port operation to the port monitor below it and
// keeps a copy of each document's bytes in a capture file.
#pragma once

#include <windows.h>
#include <winspool.h>

namespace kqmon {

struct MonitorTable;

// The spooler's table of port functions, as monitors exchange it: 13 entries, 8-bit names. The system
// headers have only the wide-name table of later spoolers, so it is defined here, and the stand-in spooler
// takes it from here too.
struct MonitorTable {
    BOOL(WINAPI* pfnEnumPorts)(LPSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned);
    BOOL(WINAPI* pfnOpenPort)(LPSTR name, PHANDLE port);
    BOOL(WINAPI* pfnOpenPortEx)(LPSTR portName, LPSTR printerName, PHANDLE port, MonitorTable* lower);
    BOOL(WINAPI* pfnStartDocPort)(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
    BOOL(WINAPI* pfnWritePort)(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
    BOOL(WINAPI* pfnReadPort)(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read);
    BOOL(WINAPI* pfnEndDocPort)(HANDLE port);
    BOOL(WINAPI* pfnClosePort)(HANDLE port);
    BOOL(WINAPI* pfnAddPort)(LPSTR name, HWND window, LPSTR monitorName);
    BOOL(WINAPI* pfnAddPortEx)(LPSTR name, DWORD level, LPBYTE buffer, LPSTR monitorName);
    BOOL(WINAPI* pfnConfigurePort)(LPSTR name, HWND window, LPSTR portName);
    BOOL(WINAPI* pfnDeletePort)(LPSTR name, HWND window, LPSTR portName);
    BOOL(WINAPI* pfnGetPrinterDataFromPort)(HANDLE port, DWORD control, LPWSTR valueName, LPWSTR inBuffer,
                                            DWORD inSize, LPWSTR outBuffer, DWORD outSize, LPDWORD returned);
};
constexpr size_t kMonitorTableEntries = 13;
static_assert(sizeof(MonitorTable) == kMonitorTableEntries * sizeof(void*), "13 entries");

// One open port; the monitor's port handle is its address.
struct PortContext {
    HANDLE lowerPort;   // the port monitor's handle, written by its OpenPort
    MonitorTable lower; // the port monitor's table, copied at port open
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
BOOL WINAPI InitializeMonitorEx(LPSTR registryRoot, kqmon::MonitorTable* table);
BOOL WINAPI DllEntryPoint(HINSTANCE module, DWORD reason, LPVOID reserved);
BOOL WINAPI KQMonOpenPortEx(LPSTR portName, LPSTR printerName, PHANDLE port, kqmon::MonitorTable* lower);
BOOL WINAPI KQMonStartDocPort(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
BOOL WINAPI KQMonWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
BOOL WINAPI KQMonReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read);
BOOL WINAPI KQMonEndDocPort(HANDLE port);
BOOL WINAPI KQMonClosePort(HANDLE port);
}
